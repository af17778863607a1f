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

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
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
  std::string out;  // the test layers' lines and all from the plain instance on, but for
  std::string err;  // the lines of where layers come from
  int status;
  StandardOutput output = StandardOutput::kCaptured;
  // Manifests written as they stand, in a folder VK_LAYER_PATH names (PATH, CONTENT), and the
  // lines of where layers come from that name this test's folder ($T; $L the test layers'), where
  // they are compared.
  std::vector<std::pair<std::string, std::string>> files = {};
  std::string sources = {};
};

void PrintTo(const Case& param, std::ostream* os) { *os << param.name; }

const std::string kDies = "dies: signal 11 (SIGSEGV)";
const std::string kRefuses = "fails: -3 (VK_ERROR_INITIALIZATION_FAILED)";

// The switch of the implicit test layer of that name (its manifest's "disable_environment").
std::string Switch(const std::string& name) {
  std::string variable = "MORVANTIQUELL_OFF_" + name;
  for (char& c : variable) {
    c = std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
  }
  return variable;
}

// The lines that turn the layers off by their own switches.
std::string OwnSwitches(const std::vector<std::string>& names) {
  std::string sh = "(own switch, sh)\texport";
  std::string cmd = "(own switch, cmd)\t";
  std::string powerShell = "(own switch, PowerShell)\t";
  for (const std::string& name : names) {
    const bool first = &name == &names.front();
    sh += " " + Switch(name) + "='1'";
    cmd += (first ? "" : " & ") + ("set \"" + Switch(name) + "=1\"");
    powerShell += (first ? "" : "; ") + ("$env:" + Switch(name) + " = '1'");
  }
  return sh + "\n" + cmd + "\n" + powerShell + "\n";
}

// The lines that turn off the test layers of those names, in this order, by the loader's variable
// and by the switches of those of `own` (by default the same).
std::string TurnOff(const std::vector<std::string>& names, std::vector<std::string> own = {}) {
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
         "(turn it off, PowerShell)\t$env:VK_LOADER_LAYERS_DISABLE = '" + powerShell + "'\n" +
         OwnSwitches(own.empty() ? names : own);
}

std::string Line(const std::string& name, const std::string& verdict) {
  return "VK_LAYER_MORVANTIQUELL_" + name + "\t" + verdict + "\n";
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// A manifest of one layer, VK_LAYER_MORVANTIQUELL_NAME, with the test layer that loads; FIELDS
// adds to the layer's, or replaces them where it starts with a brace.
std::string Manifest(const std::string& name, const std::string& fields = "") {
  const std::string layer = "{\"name\":\"VK_LAYER_MORVANTIQUELL_" + name +
                            "\",\"type\":\"GLOBAL\",\"library_path\":\"$L/test_layer_passes.so\","
                            "\"api_version\":\"1.0.0\",\"implementation_version\":\"1\","
                            "\"description\":\"test layer\"" +
                            fields + "}";
  return "{\"file_format_version\":\"1.0.0\",\"layer\":" +
         (fields.rfind('{', 0) == 0 ? fields : layer) + "}";
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
  const std::string other = sizeof(void*) == 8 ? "32" : "64";
  const std::string onDemand =
      Manifest("overlay",
               ",\"enable_environment\":{\"MORVANTIQUELL_OVERLAY\":\"1\"},"
               "\"disable_environment\":{\"MORVANTIQUELL_NO_OVERLAY\":\"1\"}");
  const std::string onDemandSource =
      "(implicit)\tVK_LAYER_MORVANTIQUELL_overlay\t%s\ton only where MORVANTIQUELL_OVERLAY=1; off "
      "where MORVANTIQUELL_NO_OVERLAY is set\n"
      "(manifest)\tVK_LAYER_MORVANTIQUELL_overlay\t$T/XDG_DATA_HOME/vulkan/implicit_layer.d/o.json"
      "\t$L/test_layer_passes.so\n";
  const std::string unlisted = "(not listed)\t$T/files/";
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
        TurnOff({"aborts", "dies"}, {"dies"}), "", 1},
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
    // are lost (C's streams drop what a write refused), the rest go through. (One trial at a
    // time, so that the first layer's line is written before the second's trial starts.)
    {"AFailureToWriteThatClears", "", {}, {"passes", "hangs"}, {}, {"--timeout", "3", "--jobs=1"},
        Line("hangs", "no answer within 3 s") +
        "(plain instance)\tloads\n", "failed to write the verdicts to standard output\n", 1,
        StandardOutput::kFullPipe},
    // Where each layer comes from; what turns an implicit one on and off, and whether it is on.
    {"WhereEachLayerComesFrom", "", {"passes"}, {"prints"}, {}, {},
        Line("passes", "loads") + Line("prints", "loads") + "(plain instance)\tloads\n", "", 0,
        StandardOutput::kCaptured, {},
        "(implicit)\tVK_LAYER_MORVANTIQUELL_passes\ton\toff where MORVANTIQUELL_OFF_passes is set\n"
        "(manifest)\tVK_LAYER_MORVANTIQUELL_passes\t$T/XDG_CONFIG_HOME/vulkan/implicit_layer.d/"
        "passes.json\t$L/test_layer_passes.so\n"
        "(manifest)\tVK_LAYER_MORVANTIQUELL_prints\t$T/prints/prints.json\t$L/test_layer_prints.so\n"},
    {"AnImplicitLayerOnOnlyWhereItsVariableIsSet", "", {}, {}, {}, {},
        Line("overlay", "loads") + "(plain instance)\tloads\n", "", 0, StandardOutput::kCaptured,
        {{"XDG_DATA_HOME/vulkan/implicit_layer.d/o.json", onDemand}}, Replace(onDemandSource, "%s", "off")},
    {"AnImplicitLayerWithItsVariableSet", "", {}, {}, {{"MORVANTIQUELL_OVERLAY", "1"}}, {},
        Line("overlay", "loads") + "(plain instance)\tloads\n", "", 0, StandardOutput::kCaptured,
        {{"XDG_DATA_HOME/vulkan/implicit_layer.d/o.json", onDemand}}, Replace(onDemandSource, "%s", "on")},
    // Each manifest the loader does not list, and why; one in a folder with spaces and non-ASCII
    // letters in its name, which it lists.
    {"ManifestsTheLoaderDoesNotList", "", {}, {}, {{"VK_LOADER_LAYERS_DISABLE", "*_turned_off"}}, {},
        Line("listed", "loads") + "(plain instance)\tloads\n", "", 0, StandardOutput::kCaptured,
        {{"files/arch.json", Manifest("arch", ",\"library_arch\":\"" + other + "\"")},
         {"files/device.json", Manifest("", "{\"name\":\"VK_LAYER_MORVANTIQUELL_device\","
             "\"type\":\"DEVICE\",\"library_path\":\"x.so\",\"api_version\":\"1.0.0\","
             "\"implementation_version\":\"1\",\"description\":\"test layer\"}")},
         {"files/no-library.json", Manifest("", "{\"name\":\"VK_LAYER_MORVANTIQUELL_no_library\","
             "\"type\":\"GLOBAL\",\"api_version\":\"1.0.0\",\"implementation_version\":\"1\","
             "\"description\":\"test layer\"}")},
         {"files/no-layer.json", "{\"file_format_version\":\"1.0.0\"}"},
         {"files/deep.json", std::string(20000, '[') + std::string(20000, ']')},
         {"files/no-version.json", "{\"layer\":{}}"},
         {"files/off.json", Manifest("turned_off")},
         {"sp\xc3\xa4" "ce d/listed.json", Manifest("listed")}},
        "(manifest)\tVK_LAYER_MORVANTIQUELL_listed\t$T/sp\xc3\xa4" "ce d/listed.json\t"
        "$L/test_layer_passes.so\n" +
        unlisted + "arch.json\tVK_LAYER_MORVANTIQUELL_arch\tbuilt for " + other +
        "-bit programs (library_arch \"" + other + "\"); this loader is " +
        std::to_string(sizeof(void*) * 8) + "-bit\n" +
        unlisted + "deep.json\t\tJSON nested 20000 levels deep, where a loader's parser may run "
        "out of stack (Debian 12's, 1.3.239, does at 200000)\n" +
        unlisted + "device.json\tVK_LAYER_MORVANTIQUELL_device\tits type is \"DEVICE\"; the loader "
        "lists INSTANCE and GLOBAL layers\n" +
        unlisted + "no-layer.json\t\tno \"layer\" or \"layers\" in it\n" +
        unlisted + "no-library.json\tVK_LAYER_MORVANTIQUELL_no_library\tthe layer has no "
        "\"library_path\", which the loader needs\n" +
        unlisted + "no-version.json\t\tno \"file_format_version\" string, which the loader needs\n" +
        unlisted + "off.json\tVK_LAYER_MORVANTIQUELL_turned_off\tturned off by "
        "VK_LOADER_LAYERS_DISABLE=*_turned_off\n"},
    // The stand-in loader: the loader's version decides whether layers can be turned off.
    {"APlainInstanceRefusedByALoaderBefore1_3_234", "version=1.3.233;create=-3", {}, {}, {}, {},
        "(plain instance)\t" + kRefuses + "\n", cannot, 1},
    // There the implicit layers' own switches turn them off, and name the culprit.
    {"AnImplicitLayerThatKillsALoaderBefore1_3_234", "version=1.3.233;create=-3;"
        "create-unless=MORVANTIQUELL_OFF_b;layers=VK_LAYER_MORVANTIQUELL_a,VK_LAYER_MORVANTIQUELL_b",
        {"passes:a", "passes:b"}, {}, {}, {},
        Line("a", "loads") + Line("b", kRefuses) + "(plain instance)\t" + kRefuses + "\n" +
        OwnSwitches({"b"}), "", 1, StandardOutput::kCaptured, {},
        // On as the user left them, not as the last trial did.
        "(implicit)\tVK_LAYER_MORVANTIQUELL_a\ton\toff where MORVANTIQUELL_OFF_a is set\n"
        "(implicit)\tVK_LAYER_MORVANTIQUELL_b\ton\toff where MORVANTIQUELL_OFF_b is set\n"
        "(manifest)\tVK_LAYER_MORVANTIQUELL_a\t$T/XDG_CONFIG_HOME/vulkan/implicit_layer.d/"
        "passes.json\t$L/test_layer_passes.so\n"
        "(manifest)\tVK_LAYER_MORVANTIQUELL_b\t$T/XDG_CONFIG_DIRS/vulkan/implicit_layer.d/"
        "passes.json\t$L/test_layer_passes.so\n"},
    {"NoImplicitLayerKillsALoaderBefore1_3_234", "version=1.3.233;create=-3;"
        "layers=VK_LAYER_MORVANTIQUELL_a", {"passes:a"}, {}, {}, {}, "",
        "no Vulkan instance survives with the implicit layers turned off by their own switches, so "
        "none of them is to blame: " + kRefuses + "\n", 1},
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
    {"JobsOutOfRange", "", {}, {}, {}, {"--jobs", "65"}, "", "morvantiquell-check: invalid number "
        "of jobs '65': give a whole number from 1 to 64\n" + usage, 2},
    {"JobsNotAWholeNumber", "", {}, {}, {}, {"--jobs=0x2"}, "", "morvantiquell-check: invalid "
        "number of jobs '0x2': give a whole number from 1 to 64\n" + usage, 2},
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
  WriteFile(folder + "/" + behaviour + ".json",
            "{\"file_format_version\":\"1.0.0\",\"layer\":{\"name\":\"VK_LAYER_MORVANTIQUELL_" +
                name + "\",\"type\":\"GLOBAL\",\"library_path\":\"" + library +
                "\",\"api_version\":\"1.0.0\",\"implementation_version\":\"1\","
                "\"description\":\"test layer\"" +
                (implicit ? ",\"disable_environment\":{\"" + Switch(name) + "\":\"1\"}" : "") +
                "}}");
}

// A process that is gone, or only waits to be reaped.
bool Gone(const std::string& pid) {
  std::ifstream stat("/proc/" + pid + "/stat");
  std::string line;
  return !std::getline(stat, line) || line.find(") Z ") != std::string::npos;
}

bool IsSource(const std::string& line) {
  return line.rfind("(manifest)\t", 0) == 0 || line.rfind("(implicit)\t", 0) == 0 ||
         line.rfind("(not listed)\t", 0) == 0;
}

std::string OurLinesAndAfter(const std::string& out) {
  std::istringstream lines(out);
  std::string kept;
  for (std::string line; std::getline(lines, line);) {
    if ((line.rfind("VK_LAYER_MORVANTIQUELL_", 0) == 0 || line.rfind('(', 0) == 0) &&
        !IsSource(line)) {
      kept += line + "\n";
    }
  }
  return kept;
}

// The lines of where layers come from that name the folder, written with $T for it, sorted.
std::string OurSources(const std::string& out, const std::string& folder) {
  std::istringstream lines(out);
  std::vector<std::string> kept;
  for (std::string line; std::getline(lines, line);) {
    if (IsSource(line) && (line.find(folder) != std::string::npos ||
                           line.find("VK_LAYER_MORVANTIQUELL_") != std::string::npos)) {
      kept.push_back(Replace(Replace(line, layers, "$L"), folder, "$T") + "\n");
    }
  }
  // In the order of the loader, which lists a folder in the order the file system keeps it.
  std::sort(kept.begin(), kept.end());
  std::string text;
  for (const std::string& line : kept) {
    text += line;
  }
  return text;
}

// The run of the check on a case's layers, their manifests written in the folder.
ProgramRun Prepare(const Case& testCase, const std::string& folder) {
  // A folder for each explicit layer, so that the loader lists them in the table's order.
  std::string added;
  for (const std::string& layer : testCase.explicitLayers) {
    const std::string place = folder + "/" + Replace(layer, ":", "-");
    WriteManifest(place, layer, false);
    added += (added.empty() ? "" : ":") + place;
  }
  // The folders of implicit layers, in the order the loader reads them.
  const std::vector<std::string> implicitFolders = {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS",
                                                    "XDG_DATA_HOME"};
  for (std::size_t i = 0; i < testCase.implicitLayers.size(); ++i) {
    WriteManifest(folder + "/" + implicitFolders.at(i) + "/vulkan/implicit_layer.d",
                  testCase.implicitLayers[i], true);
  }
  // Files outside the XDG folders are explicit layers, their folders read in the table's order.
  for (const auto& [path, content] : testCase.files) {
    WriteFile(folder + "/" + path, Replace(content, "$L", layers));
    const std::string parent = folder + "/" + path.substr(0, path.find('/'));
    if (path.rfind("XDG_", 0) != 0 &&
        (":" + added + ":").find(":" + parent + ":") == std::string::npos) {
      added += (added.empty() ? "" : ":") + parent;
    }
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
  return run;
}

// Each row runs with the trials one at a time (--jobs=1), and as many at once as there are
// processors: the same text.
class Check : public testing::TestWithParam<std::tuple<Case, bool>> {};

TEST_P(Check, PrintsAndExitsAsTabled) {
  Case testCase = std::get<0>(GetParam());
  if (std::get<1>(GetParam())) {
    testCase.arguments.insert(testCase.arguments.begin(), "--jobs=1");
  }
  const std::string folder = MakeTemporaryFolder();
  ProgramRun run = Prepare(testCase, folder);
  const ProgramResult result = RunProgram(run);

  EXPECT_EQ(OurLinesAndAfter(result.out), testCase.out) << result.out;
  if (!testCase.sources.empty()) {
    EXPECT_EQ(OurSources(result.out, folder), testCase.sources) << result.out;
  }
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

INSTANTIATE_TEST_SUITE_P(Table, Check,
                         testing::Combine(testing::ValuesIn(Cases()), testing::Bool()),
                         [](const testing::TestParamInfo<std::tuple<Case, bool>>& param) {
                           return std::string(std::get<0>(param.param).name) +
                                  (std::get<1>(param.param) ? "_OneAtATime" : "");
                         });

// Two explicit layers that hang, tried side by side: their time limits are waited out together,
// where one after the other they take two limits and more. (On the ratio, so that a loaded
// machine has room: the trials before them take a fraction of a limit.)
TEST(SideBySide, TwoHangingLayersCostOneTimeLimit) {
  const double limit = 4;
  const Case twoHangs{"TwoHangingLayers",
                      "",
                      {},
                      {"hangs", "hangs:hangs2"},
                      {},
                      {"--jobs=2", "--timeout=4"},
                      "",
                      "",
                      1};
  const std::string folder = MakeTemporaryFolder();
  const auto start = std::chrono::steady_clock::now();
  const ProgramResult result = RunProgram(Prepare(twoHangs, folder));
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(OurLinesAndAfter(result.out), Line("hangs", "no answer within 4 s") +
                                              Line("hangs2", "no answer within 4 s") +
                                              "(plain instance)\tloads\n");
  EXPECT_LT(took.count() / limit, 1.9) << "took " << took.count() << " s";
  std::filesystem::remove_all(folder);
}

// Agreement with the loader, whichever it is: the check finds the manifest of every layer the
// loader lists, and gives every manifest it finds and the loader does not list a reason it knows.
// The manifests are the installed ones and the user's, of each kind, a loader settings file
// (read from loader 1.4 on), and then a truncated one (which fails Debian 12's loader).
TEST(Agreement, EveryLayerHasItsManifestAndEveryOtherManifestItsReason) {
  const std::string folder = MakeTemporaryFolder();
  const std::string data = folder + "/data/vulkan/";
  const std::string explicitFolder = data + "explicit_layer.d/";
  const std::string own = sizeof(void*) == 8 ? "64" : "32";
  const std::string other = sizeof(void*) == 8 ? "32" : "64";
  const std::vector<std::pair<std::string, std::string>> files = {
      {explicitFolder + "one.json", Manifest("one")},
      {explicitFolder + "twice-a.json", Manifest("twice")},
      {explicitFolder + "twice-b.json", Manifest("twice")},
      {explicitFolder + "own.json", Manifest("own", ",\"library_arch\":\"" + own + "\"")},
      {explicitFolder + "other.json", Manifest("other", ",\"library_arch\":\"" + other + "\"")},
      {explicitFolder + "off.json", Manifest("off")},
      {explicitFolder + "long.json", Manifest(std::string(300, 'x'))},
      {data + "implicit_layer.d/on-demand.json",
       Manifest("on_demand",
                ",\"enable_environment\":{\"MORVANTIQUELL_ON\":\"1\"},"
                "\"disable_environment\":{\"MORVANTIQUELL_NO\":\"1\"}")},
      {folder + "/own/settings-on.json", Manifest("settings_on")},
      {folder + "/own/settings-off.json", Manifest("settings_off")},
      {data + "loader_settings.d/vk_loader_settings.json",
       "{\"file_format_version\":\"1.0.1\",\"settings\":{\"layers\":["
       "{\"control\":\"on\",\"name\":\"VK_LAYER_MORVANTIQUELL_settings_on\",\"path\":\"" +
           folder +
           "/own/settings-on.json\",\"treat_as_implicit_manifest\":false},"
           "{\"control\":\"off\",\"name\":\"VK_LAYER_MORVANTIQUELL_settings_off\",\"path\":\"" +
           folder +
           "/own/settings-off.json\",\"treat_as_implicit_manifest\":false},"
           "{\"control\":\"unordered_layer_location\"}]}}"},
  };
  for (const auto& [path, content] : files) {
    WriteFile(path, Replace(content, "$L", layers));
  }
  ProgramRun run;
  run.command = launcher;
  run.command.push_back(program);
  run.environment = {{"HOME", folder + "/home"},
                     {"XDG_CONFIG_HOME", folder + "/config"},
                     {"XDG_DATA_HOME", folder + "/data"},
                     {"VK_LOADER_LAYERS_DISABLE", "VK_LAYER_MORVANTIQUELL_off"}};
  const ProgramResult result = RunProgram(run);
  EXPECT_EQ(result.out.find("none found where this loader looks"), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find("a reason the check does not know"), std::string::npos) << result.out;
  // Each file: where the loader lists its layer, its manifest line; else its line and reason.
  const auto reason = [&](const std::string& file) {
    const std::string start = "(not listed)\t" + file + "\t";
    const std::size_t at = result.out.find(start);
    return at == std::string::npos
               ? std::string("listed")
               : result.out.substr(at + start.size(),
                                   result.out.find('\n', at) - at - start.size());
  };
  for (const auto& [path, content] : files) {
    if (path.find("loader_settings.d") == std::string::npos &&
        path.find("/own/") == std::string::npos) {
      const bool listed = result.out.find("\t" + path + "\t") != std::string::npos;
      EXPECT_TRUE(listed) << path << " is nowhere in:\n" << result.out;
    }
  }
  // A loader that reads the settings file (from 1.4) lists one of its layers and not the other.
  if (result.out.find("VK_LAYER_MORVANTIQUELL_settings_on\t") != std::string::npos) {
    EXPECT_EQ(reason(folder + "/own/settings-on.json"), "listed");
    EXPECT_EQ(reason(folder + "/own/settings-off.json"),
              "VK_LAYER_MORVANTIQUELL_settings_off\tturned off by the loader settings file " +
                  data + "loader_settings.d/vk_loader_settings.json");
  } else {
    EXPECT_EQ(result.out.find(folder + "/own/"), std::string::npos) << result.out;
  }
  EXPECT_EQ(reason(explicitFolder + "own.json"), "listed");
  EXPECT_EQ(reason(explicitFolder + "off.json"),
            "VK_LAYER_MORVANTIQUELL_off\tturned off by "
            "VK_LOADER_LAYERS_DISABLE=VK_LAYER_MORVANTIQUELL_off");
  EXPECT_EQ(reason(explicitFolder + "other.json").find("\tbuilt for " + other + "-bit programs"),
            std::string("VK_LAYER_MORVANTIQUELL_other").size());
  // The loader lists both files of one name (1.3.239), or takes the first it reads.
  const std::string a = reason(explicitFolder + "twice-a.json");
  const std::string b = reason(explicitFolder + "twice-b.json");
  const std::string taken =
      "VK_LAYER_MORVANTIQUELL_twice\tthe loader takes a layer of this name from ";
  EXPECT_TRUE((a == "listed" && b == "listed") ||
              (a == "listed" && b == taken + explicitFolder + "twice-a.json") ||
              (b == "listed" && a == taken + explicitFolder + "twice-b.json"))
      << a << "\n"
      << b;

  // A truncated manifest: the loader lists nothing (Debian 12's fails) or passes over the file.
  WriteFile(explicitFolder + "truncated.json", Manifest("truncated").substr(0, 40));
  const ProgramResult truncated = RunProgram(run);
  EXPECT_NE(truncated.out.find("(not listed)\t" + explicitFolder +
                               "truncated.json\t\tnot JSON at byte 40: "),
            std::string::npos)
      << truncated.out;
  if (!truncated.err.empty()) {
    EXPECT_EQ(truncated.err, "vkEnumerateInstanceLayerProperties failed with error code '-1'\n");
    EXPECT_EQ(truncated.status, 1);
  }
  std::filesystem::remove_all(folder);
}

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
