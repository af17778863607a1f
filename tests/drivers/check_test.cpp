// The check program against a real Khronos loader (the installed one, or the one LD_LIBRARY_PATH
// names), Mesa's CPU driver and real layers: the test layers (test_layer.cpp), each put in by a
// manifest this test writes, explicit ones through VK_LAYER_PATH (in the table's order) and
// implicit ones in temporary XDG folders, one folder each, in the order the loader reads them.
// VK_LAYER_PATH leaves out the installed explicit layers: not every machine's are loadable
// (Debian's arm64 Mesa lists VK_LAYER_INTEL_nullhw, whose library it does not ship). Rows with a
// script run against the stand-in loader instead, which the script tells what to answer. One
// table of cases; the lines of the installed implicit layers are left out of what is compared,
// but for the case in which nothing dies, where the check must list exactly what the listing
// program lists, each loading.
//
// Options (after GoogleTest's own):
//   --program=PATH      the check program
//   --listing=PATH      the listing program
//   --layers=DIR        the folder with the test layers, test_layer_BEHAVIOUR.so
//   --stand-in=DIR      the folder with the stand-in loader
//   --launcher="WORDS"  run the programs through this command (qemu)

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "program_runner.h"

namespace {

std::string program;
std::string listing;
std::string layers;
std::string standIn;
std::vector<std::string> launcher;

struct Case {
  const char* name;
  std::string script;                       // the stand-in loader's, or none: the real loader
  std::vector<std::string> implicitLayers;  // behaviours of the test layer, implicit
  std::vector<std::string> explicitLayers;  // and explicit ("missing": a manifest, no library);
                                            // BEHAVIOUR:NAME names the layer other than its
                                            // behaviour
  std::vector<std::pair<std::string, std::string>> environment;
  std::vector<std::string> arguments;
  std::string out;  // the test layers' lines and all from the plain instance on
  std::string err;
  int status;
  StandardOutput output = StandardOutput::kCaptured;
};

void PrintTo(const Case& param, std::ostream* os) { *os << param.name; }

const std::string kDies = "dies: signal 11 (SIGSEGV)";
const std::string kRefuses = "fails: -3 (VK_ERROR_INITIALIZATION_FAILED)";

// The lines that turn off the test layers of those names, in this order.
std::string TurnOff(const std::vector<std::string>& names) {
  std::string sh;
  std::string cmd;
  std::string powerShell;
  for (const std::string& name : names) {
    const std::string full = "VK_LAYER_MORVANTIQUELL_" + name;
    const std::string comma = cmd.empty() ? "" : ",";
    cmd += comma + full;
    for (const char c : full) {
      sh += c == '\'' ? std::string("'\\''") : std::string(1, c);
      powerShell += c == '\'' ? std::string("''") : std::string(1, c);
    }
    sh += ",";
    powerShell += ",";
  }
  sh.pop_back();
  powerShell.pop_back();
  return "(turn it off, sh)\texport VK_LOADER_LAYERS_DISABLE='" + sh + "'\n" +
         "(turn it off, cmd)\tset \"VK_LOADER_LAYERS_DISABLE=" + cmd + "\"\n" +
         "(turn it off, PowerShell)\t$env:VK_LOADER_LAYERS_DISABLE = '" + powerShell + "'\n";
}

std::string Line(const std::string& name, const std::string& verdict) {
  return "VK_LAYER_MORVANTIQUELL_" + name + "\t" + verdict + "\n";
}

const std::vector<Case>& Cases() {
  const std::string usage = "Try 'morvantiquell-check --help' for more information.\n";
  const std::string overADay =
      "morvantiquell-check: invalid time limit '86401': give a number of seconds above 0, at "
      "most 86400\n" +
      usage;
  const std::string cannot =
      "loader 1.3.233 cannot turn layers off: VK_LOADER_LAYERS_DISABLE "
      "came in loader 1.3.234, so no layer is named for the plain instance\n";
  const std::string ignores =
      "loader 1.3.234 ignores VK_LOADER_LAYERS_DISABLE here (a Windows "
      "loader does in an elevated process), so no layer is named for the "
      "plain instance\n";
  const std::string trial = "== morvantiquell-check --trial=";
  // clang-format off
  static const std::vector<Case> cases = {
    // name, stand-in script, implicit layers, explicit layers, environment, arguments,
    //     expected standard output (the test layers' lines on), standard error, exit status
    {"EachVerdict", "", {}, {"passes", "prints", "refuses", "missing", "dies", "exits"}, {}, {},
        Line("passes", "loads") + Line("prints", "loads") +
        Line("refuses", kRefuses) + Line("missing", "fails: -6 (VK_ERROR_LAYER_NOT_PRESENT)") +
        Line("dies", kDies) + Line("exits", "dies: exit status 3") + "(plain instance)\tloads\n",
        "", 1},
    {"ALayerThatExitsWithStatusZero", "", {}, {"exits"}, {{"TEST_LAYER_EXIT_STATUS", "0"}}, {},
        Line("exits", "dies: exit status 0") + "(plain instance)\tloads\n", "", 1},
    {"TwoImplicitLayersThatDieDifferently", "", {"dies", "aborts"}, {"passes"}, {}, {},
        Line("dies", kDies) + Line("aborts", "dies: signal 6 (SIGABRT)") + Line("passes", "loads") +
        "(plain instance)\t" + kDies + "\n" + TurnOff({"dies", "aborts"}), "", 1},
    {"TwoImplicitLayersThatRefuse", "", {"refuses", "refuses:refuses'too"}, {}, {}, {},
        Line("refuses", kRefuses) + Line("refuses'too", kRefuses) +
        "(plain instance)\t" + kRefuses + "\n" + TurnOff({"refuses", "refuses'too"}), "", 1},
    // The layer the user turns off stays off, and in the line that turns the culprit off.
    {"ACulpritBesideAnInnocentImplicitLayer", "", {"passes", "dies", "aborts"}, {},
        {{"VK_LOADER_LAYERS_DISABLE", "VK_LAYER_MORVANTIQUELL_aborts"}}, {},
        Line("passes", "loads") + Line("dies", kDies) + "(plain instance)\t" + kDies + "\n" +
        TurnOff({"aborts", "dies"}), "", 1},
    // (A row with a layer that hangs waits out its time limit; its other trials must each end
    // within it. The process test shows how a time limit ends a trial.)
    {"AHangingImplicitLayerIsNamed", "", {"hangs"}, {}, {}, {"--timeout=6"},
        Line("hangs", "no answer within 6 s") + "(plain instance)\tno answer within 6 s\n" +
        TurnOff({"hangs"}), "", 1},
    {"NothingDies", "", {"passes"}, {}, {}, {},
        Line("passes", "loads") + "(plain instance)\tloads\n", "", 0},
    {"NoDriver", "", {"passes"}, {}, {{"VK_DRIVER_FILES", "/nonexistent.json"}}, {},
        "", "vkCreateInstance failed with error code '-9'\n", 1},
    // A layer that VK_INSTANCE_LAYERS turns on is on in every trial: it is not cleared.
    {"AnExplicitLayerThatTheEnvironmentTurnsOn", "", {}, {"dies"},
        {{"VK_INSTANCE_LAYERS", "VK_LAYER_MORVANTIQUELL_dies"}}, {}, "",
        "no Vulkan instance survives with every implicit layer turned off, but VK_INSTANCE_LAYERS "
        "turns layers on that cannot be turned off so: " + kDies + "\n", 1},
    {"VerdictsThatCannotBeWritten", "", {}, {"passes"}, {}, {},
        "", "failed to write the verdicts to standard output\n", 1, StandardOutput::kDevFull},
    // Standard output takes nothing until the second layer's trial has started: the lines before
    // are lost (C's streams drop what a write refused), the rest go through.
    {"AFailureToWriteThatClears", "", {}, {"passes", "hangs"}, {}, {"--timeout", "3"},
        Line("hangs", "no answer within 3 s") +
        "(plain instance)\tloads\n", "failed to write the verdicts to standard output\n", 1,
        StandardOutput::kFullPipe},
    // The stand-in loader: the loader's version decides whether layers can be turned off.
    {"APlainInstanceRefusedByALoaderBefore1_3_234", "version=1.3.233;create=-3", {}, {}, {}, {},
        "(plain instance)\t" + kRefuses + "\n", cannot, 1},
    {"ALoaderFrom1_3_234ThatIgnoresTheVariable", "version=1.3.234;create=-3;"
        "layers=VK_LAYER_MORVANTIQUELL_a", {}, {}, {}, {},
        Line("a", "unknown: as the plain instance, " + kRefuses) +
        "(plain instance)\t" + kRefuses + "\n", ignores, 1},
    {"ANameListedTwiceIsTriedOnce", "layers=VK_LAYER_MORVANTIQUELL_a,VK_LAYER_MORVANTIQUELL_a",
        {}, {}, {}, {"--verbose"},
        Line("a", "loads") + Line("a", "loads") + "(plain instance)\tloads\n",
        trial + "names\n" + trial + "instance\n" + trial +
        "instance --layer=564b5f4c415945525f4d4f5256414e54495155454c4c5f61\n", 0},
    {"ZeroTimeLimit", "", {}, {}, {}, {"--timeout", "0"},
        "", "morvantiquell-check: invalid time limit '0': give a number of seconds above 0, at "
            "most 86400\n" + usage, 2},
    {"TimeLimitOverADay", "", {}, {}, {}, {"--timeout=86401"}, "", overADay, 2},
    {"TimeLimitMissing", "", {}, {}, {}, {"--timeout"},
        "", "morvantiquell-check: option '--timeout' requires an argument\n" + usage, 2},
    {"UnknownOption", "", {}, {}, {}, {"--all"},
        "", "morvantiquell-check: unrecognized option '--all'\n" + usage, 2},
  };
  // clang-format on
  return cases;
}

void WriteFile(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream file(path);
  file << text;
}

// A manifest for the layer LAYER (BEHAVIOUR or BEHAVIOUR:NAME) in the folder.
void WriteManifest(const std::string& folder, const std::string& layer, bool implicit) {
  const std::string behaviour = layer.substr(0, layer.find(':'));
  const std::string name = layer.substr(layer.find(':') + 1);
  const std::string library =
      behaviour == "missing" ? folder + "/absent.so" : layers + "/test_layer_" + behaviour + ".so";
  WriteFile(
      folder + "/" + behaviour + ".json",
      "{\"file_format_version\":\"1.0.0\",\"layer\":{\"name\":\"VK_LAYER_MORVANTIQUELL_" + name +
          "\",\"type\":\"GLOBAL\",\"library_path\":\"" + library +
          "\",\"api_version\":\"1.0.0\",\"implementation_version\":\"1\","
          "\"description\":\"test layer\"" +
          (implicit ? ",\"disable_environment\":{\"MORVANTIQUELL_TEST_LAYER_OFF\":\"1\"}" : "") +
          "}}");
}

// A process that is gone, or only waits to be reaped.
bool Gone(const std::string& pid) {
  std::ifstream stat("/proc/" + pid + "/stat");
  std::string line;
  return !std::getline(stat, line) || line.find(") Z ") != std::string::npos;
}

std::string OurLinesAndAfter(const std::string& out) {
  std::istringstream lines(out);
  std::string kept;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("VK_LAYER_MORVANTIQUELL_", 0) == 0 || line.rfind('(', 0) == 0) {
      kept += line + "\n";
    }
  }
  return kept;
}

class Check : public testing::TestWithParam<Case> {};

TEST_P(Check, PrintsAndExitsAsTabled) {
  const Case& testCase = GetParam();
  const std::string folder = MakeTemporaryFolder();
  // A folder for each explicit layer, so that the loader lists them in the table's order.
  std::string added;
  for (const std::string& layer : testCase.explicitLayers) {
    WriteManifest(folder + "/" + layer, layer, false);
    added += (added.empty() ? "" : ":") + folder + "/" + layer;
  }
  // The folders of implicit layers, in the order the loader reads them.
  const std::vector<std::string> implicitFolders = {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS",
                                                    "XDG_DATA_HOME"};
  for (std::size_t i = 0; i < testCase.implicitLayers.size(); ++i) {
    WriteManifest(folder + "/" + implicitFolders.at(i) + "/vulkan/implicit_layer.d",
                  testCase.implicitLayers[i], true);
  }
  ProgramRun run;
  run.command = launcher;
  run.command.push_back(program);
  run.command.insert(run.command.end(), testCase.arguments.begin(), testCase.arguments.end());
  run.environment = {{"VK_LAYER_PATH", added.empty() ? folder + "/none" : added},
                     {"TEST_LAYER_PIDS", folder + "/pids"}};
  for (const std::string& variable : implicitFolders) {
    run.environment.emplace_back(variable, folder + "/" + variable);
  }
  if (!testCase.script.empty()) {
    run.environment.emplace_back("LD_LIBRARY_PATH", standIn);
    run.environment.emplace_back("STAND_IN_LOADER_SCRIPT", testCase.script);
  }
  run.environment.insert(run.environment.end(), testCase.environment.begin(),
                         testCase.environment.end());
  run.output = testCase.output;
  run.emptiedOnce = folder + "/pids";
  const ProgramResult result = RunProgram(run);

  EXPECT_EQ(OurLinesAndAfter(result.out), testCase.out) << result.out;
  EXPECT_EQ(result.err, testCase.err);
  EXPECT_EQ(result.status, testCase.status);
  // Every process a hanging layer started, in every trial, has been ended.
  std::ifstream pids(folder + "/pids");
  for (std::string pid; pids >> pid;) {
    EXPECT_TRUE(Gone(pid)) << "process " << pid << " outlived the check";
  }
  // Where nothing dies, the check lists the names the listing program lists.
  if (testCase.status == 0) {
    run.command.resize(launcher.size());
    run.command.push_back(listing);
    std::istringstream lines(result.out);
    std::string names;
    for (std::string line; std::getline(lines, line) && line.rfind('(', 0) != 0;) {
      names += line.substr(0, line.find('\t')) + "\n";
    }
    EXPECT_EQ(names, RunProgram(run).out);
  }
  std::filesystem::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(Table, Check, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<Case>& param) {
                           return param.param.name;
                         });

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  std::string launcherWords;
  if (!TakeOptions(argc, argv,
                   {{"--program", &program},
                    {"--listing", &listing},
                    {"--layers", &layers},
                    {"--stand-in", &standIn},
                    {"--launcher", &launcherWords}})) {
    return 2;
  }
  launcher = SplitWords(launcherWords);
  return RUN_ALL_TESTS();
}
