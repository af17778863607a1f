// The check program against a real Khronos loader (the installed one, or the one LD_LIBRARY_PATH
// names), Mesa's CPU driver and real layers: the test layers (test_layer.cpp), each put in by a
// manifest this test writes, explicit ones through VK_LAYER_PATH (in the table's order) and
// implicit ones in a temporary XDG_DATA_HOME. VK_LAYER_PATH leaves out the installed explicit
// layers: not every machine's are loadable (Debian's arm64 Mesa lists VK_LAYER_INTEL_nullhw,
// whose library it does not ship). One table of cases; the lines of
// the installed implicit layers are left out of what is compared, but for the case in which
// nothing dies, where the check must list exactly what the listing program lists, each loading.
//
// Options (after GoogleTest's own):
//   --program=PATH      the check program
//   --listing=PATH      the listing program
//   --layers=DIR        the folder with the test layers, test_layer_BEHAVIOUR.so
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
std::vector<std::string> launcher;

struct Case {
  const char* name;
  std::vector<std::string> implicitLayers;  // behaviours of the test layer, implicit
  std::vector<std::string> explicitLayers;  // and explicit ("missing": a manifest, no library)
  std::vector<std::string> arguments;
  std::string out;  // the test layers' lines and all from the plain instance on
  std::string err;
  int status;
};

void PrintTo(const Case& param, std::ostream* os) { *os << param.name; }

const std::string kDies = "dies: signal 11 (SIGSEGV)";
const std::string kTurnOff =
    "(turn it off, sh)\texport VK_LOADER_LAYERS_DISABLE='VK_LAYER_MORVANTIQUELL_%'\n"
    "(turn it off, cmd)\tset \"VK_LOADER_LAYERS_DISABLE=VK_LAYER_MORVANTIQUELL_%\"\n"
    "(turn it off, PowerShell)\t$env:VK_LOADER_LAYERS_DISABLE = 'VK_LAYER_MORVANTIQUELL_%'\n";

std::string TurnOff(const std::string& behaviour) {
  std::string lines = kTurnOff;
  for (std::size_t at = 0; (at = lines.find('%', at)) != std::string::npos;) {
    lines.replace(at, 1, behaviour);
  }
  return lines;
}

const std::vector<Case>& Cases() {
  const std::string usage = "Try 'morvantiquell-check --help' for more information.\n";
  // clang-format off
  static const std::vector<Case> cases = {
    // name, implicit layers, explicit layers, arguments,
    //     expected standard output (the test layers' lines on), standard error, exit status
    {"EachVerdict", {}, {"passes", "refuses", "missing", "dies"}, {},
        "VK_LAYER_MORVANTIQUELL_passes\tloads\n"
        "VK_LAYER_MORVANTIQUELL_refuses\tfails: -3 (VK_ERROR_INITIALIZATION_FAILED)\n"
        "VK_LAYER_MORVANTIQUELL_missing\tfails: -6 (VK_ERROR_LAYER_NOT_PRESENT)\n"
        "VK_LAYER_MORVANTIQUELL_dies\t" + kDies + "\n"
        "(plain instance)\tloads\n", "", 1},
    // (Rows with a layer that hangs wait out their time limit: they have few other trials, which
    // must each end within it.)
    {"AHangingExplicitLayer", {}, {"hangs"}, {"--timeout", "6"},
        "VK_LAYER_MORVANTIQUELL_hangs\tno answer within 6 s\n"
        "(plain instance)\tloads\n", "", 1},
    {"ADyingImplicitLayerIsNamed", {"dies"}, {"passes"}, {},
        "VK_LAYER_MORVANTIQUELL_dies\t" + kDies + "\n"
        "VK_LAYER_MORVANTIQUELL_passes\tloads\n"
        "(plain instance)\t" + kDies + "\n" + TurnOff("dies"), "", 1},
    {"ARefusingImplicitLayerIsNamed", {"refuses"}, {}, {},
        "VK_LAYER_MORVANTIQUELL_refuses\tfails: -3 (VK_ERROR_INITIALIZATION_FAILED)\n"
        "(plain instance)\tfails: -3 (VK_ERROR_INITIALIZATION_FAILED)\n" + TurnOff("refuses"),
        "", 1},
    {"AHangingImplicitLayerIsNamed", {"hangs"}, {}, {"--timeout=6"},
        "VK_LAYER_MORVANTIQUELL_hangs\tno answer within 6 s\n"
        "(plain instance)\tno answer within 6 s\n" + TurnOff("hangs"), "", 1},
    {"NothingDies", {"passes"}, {}, {},
        "VK_LAYER_MORVANTIQUELL_passes\tloads\n"
        "(plain instance)\tloads\n", "", 0},
    {"ZeroTimeLimit", {}, {}, {"--timeout", "0"},
        "", "morvantiquell-check: invalid time limit '0': give a number of seconds above 0, at "
            "most 86400\n" + usage, 2},
    {"TimeLimitMissing", {}, {}, {"--timeout"},
        "", "morvantiquell-check: option '--timeout' requires an argument\n" + usage, 2},
    {"UnknownOption", {}, {}, {"--all"},
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

void WriteManifest(const std::string& folder, const std::string& behaviour, bool implicit) {
  const std::string library =
      behaviour == "missing" ? folder + "/absent.so" : layers + "/test_layer_" + behaviour + ".so";
  WriteFile(
      folder + "/" + behaviour + ".json",
      "{\"file_format_version\":\"1.0.0\",\"layer\":{\"name\":\"VK_LAYER_MORVANTIQUELL_" +
          behaviour + "\",\"type\":\"GLOBAL\",\"library_path\":\"" + library +
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
  for (const std::string& behaviour : testCase.explicitLayers) {
    WriteManifest(folder + "/" + behaviour, behaviour, false);
    added += (added.empty() ? "" : ":") + folder + "/" + behaviour;
  }
  for (const std::string& behaviour : testCase.implicitLayers) {
    WriteManifest(folder + "/data/vulkan/implicit_layer.d", behaviour, true);
  }
  ProgramRun run;
  run.command = launcher;
  run.command.push_back(program);
  run.command.insert(run.command.end(), testCase.arguments.begin(), testCase.arguments.end());
  run.environment = {{"VK_LAYER_PATH", added.empty() ? folder + "/none" : added},
                     {"XDG_DATA_HOME", folder + "/data"},
                     {"TEST_LAYER_PIDS", folder + "/pids"}};
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
                    {"--launcher", &launcherWords}})) {
    return 2;
  }
  launcher = SplitWords(launcherWords);
  return RUN_ALL_TESTS();
}
