// The program end to end against the stand-in loader: one table of cases, each with what the
// program must write on each stream, its exit status and the loader calls it makes.
//
// Options (after GoogleTest's own):
//   --program=PATH           the program under test, found through the library search path
//   --program-beside-loader=NAME
//                            instead: the program is NAME in each loader folder (Windows)
//   --stand-in=DIR           folder holding the scripted stand-in loader
//   --without-entry=DIR      folder holding a stand-in that lacks vkGetInstanceProcAddr
//   --not-a-library=DIR      folder holding a file of the loader's name that is no library
//   --lazily-bound=DIR       folder holding a stand-in that calls a function nothing defines,
//                            bound only when called (not on Windows, which binds at load)
//   --launcher="WORDS"       run the program through this command (valgrind, Wine)
//   --crlf                   the program ends its lines with CR LF (a Windows text stream)

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "program_runner.h"

namespace {

struct Settings {
  std::string program;
  std::string programBesideLoader;
  bool crlf = false;
  std::string standIn;
  std::string withoutEntry;
  std::string notALibrary;
  std::string lazilyBound;
  std::vector<std::string> launcher;
};

Settings settings;

// The folder of the loader a case runs against: one of the settings' folders.
using Loader = std::string Settings::*;

struct Case {
  const char* name;
  Loader loader;
  std::string script;
  std::vector<std::string> arguments;
  StandardOutput output;
  std::string out;
  std::string err;
  int status;
  std::string calls;  // the loader calls received, in order
};

// Cases print as their names.
void PrintTo(const Case& param, std::ostream* os) { *os << param.name; }

constexpr Loader kStandIn = &Settings::standIn;
constexpr StandardOutput kCaptured = StandardOutput::kCaptured;
const std::string kListing = "resolve create resolve enumerate enumerate resolve destroy";
const std::string kEmptyListing = "resolve create resolve enumerate resolve destroy";
const std::string kWriteFailed = "failed to write the layer list to standard output\n";

// The names the stand-in's generate=N gives, one per line.
std::string GeneratedNames(int count) {
  std::string names;
  for (int i = 0; i < count; ++i) {
    names += "VK_LAYER_STAND_IN_" + std::to_string(i) + "\n";
  }
  return names;
}

const std::vector<Case>& Cases() {
  // clang-format off
  static const std::vector<Case> cases = {
    // name, loader, stand-in script, arguments, standard output,
    //     expected standard output, standard error, exit status, loader calls
    {"LoaderMissing", &Settings::notALibrary, "", {}, kCaptured,
        "", "failed to load \"vulkan-1.dll\" library\n", 1, ""},
    {"LoaderWithUnboundSymbols", &Settings::lazilyBound, "", {}, kCaptured,
        "", "failed to load \"vulkan-1.dll\" library\n", 1, ""},
    {"EntryPointMissing", &Settings::withoutEntry, "", {}, kCaptured,
        "", "failed to load \"vkGetInstanceProcAddr\" function from \"vulkan-1.dll\" library\n", 1,
        ""},
    {"CreateUnresolved", kStandIn, "hide=vkCreateInstance", {}, kCaptured,
        "", "failed to load \"vkCreateInstance\" function from \"vkGetInstanceProcAddr\"\n", 1,
        "resolve"},
    {"CreateRefusedWithoutDriver", kStandIn, "create=-9", {}, kCaptured,
        "", "vkCreateInstance failed with error code '-9'\n", 1, "resolve create"},
    {"CreateNotReadyIsAFailure", kStandIn, "create=1", {}, kCaptured,
        "", "vkCreateInstance failed with error code '1'\n", 1, "resolve create"},
    {"CreateFailsAfterWritingAnInstance", kStandIn, "create=-3;instance-on-failure", {}, kCaptured,
        "", "vkCreateInstance failed with error code '-3'\n", 1, "resolve create"},
    {"CreateGivesNullInstance", kStandIn, "null-instance", {}, kCaptured,
        "", "vkCreateInstance succeed but returned instance is VK_NULL_HANDLE\n", 1,
        "resolve create"},
    {"EnumerateUnresolved", kStandIn, "hide=vkEnumerateInstanceLayerProperties", {}, kCaptured,
        "", "failed to load \"vkEnumerateInstanceLayerProperties\" function from "
            "\"vkGetInstanceProcAddr\"\n", 1,
        "resolve create resolve resolve destroy"},
    {"CountingCallFails", kStandIn, "count-result=-1", {}, kCaptured,
        "", "vkEnumerateInstanceLayerProperties failed with error code '-1'\n", 1, kEmptyListing},
    {"CountingCallIncomplete", kStandIn, "layers=A;count-result=5", {}, kCaptured,
        "", "vkEnumerateInstanceLayerProperties failed with error code '5'\n", 1, kEmptyListing},
    {"CountingCallTimeout", kStandIn, "layers=A;count-result=2", {}, kCaptured,
        "", "vkEnumerateInstanceLayerProperties failed with error code '2'\n", 1, kEmptyListing},
    {"FillingCallFails", kStandIn, "layers=A;fill-result=-2", {}, kCaptured,
        "", "vkEnumerateInstanceLayerProperties failed with error code '-2'\n", 1, kListing},
    {"FillingCallIncomplete", kStandIn, "layers=A,B;fill-result=5", {}, kCaptured,
        "", "vkEnumerateInstanceLayerProperties failed with error code '5'\n", 1, kListing},
    {"DestroyUnresolvedAfterListing", kStandIn, "layers=A@3;hide=vkDestroyInstance", {}, kCaptured,
        "A\n", "failed to load \"vkDestroyInstance\" function from \"vkGetInstanceProcAddr\"\n", 0,
        "resolve create resolve enumerate enumerate resolve"},
    {"DiagnosticReachesItsStreamFirst", kStandIn, "layers=A@3;hide=vkDestroyInstance", {},
        StandardOutput::kIntoError,
        "", "failed to load \"vkDestroyInstance\" function from \"vkGetInstanceProcAddr\"\nA\n", 0,
        "resolve create resolve enumerate enumerate resolve"},
    {"DestroyUnresolvedAfterFailureStaysQuiet", kStandIn, "count-result=-3;hide=vkDestroyInstance",
        {}, kCaptured,
        "", "vkEnumerateInstanceLayerProperties failed with error code '-3'\n", 1,
        "resolve create resolve enumerate resolve"},
    {"NoLayers", kStandIn, "", {}, kCaptured,
        "", "", 0, kEmptyListing},
    {"SeveralLayersInLoaderOrder", kStandIn, "layers=VK_LAYER_C@1,VK_LAYER_A@2,VK_LAYER_B", {},
        kCaptured, "VK_LAYER_C\nVK_LAYER_A\nVK_LAYER_B\n", "", 0, kListing},
    {"ListingOfManyOutputBlocks", kStandIn, "generate=10000", {}, kCaptured,
        GeneratedNames(10000), "", 0, kListing},
    {"EmptyName", kStandIn, "layers=A,,B", {}, kCaptured,
        "A\n\nB\n", "", 0, kListing},
    {"LongestName", kStandIn, "layers=x*255", {}, kCaptured,
        std::string(255, 'x') + "\n", "", 0, kListing},
    {"UnterminatedNameStopsAtItsBlock", kStandIn, "layers=y*256,z", {}, kCaptured,
        std::string(256, 'y') + "\nz\n", "", 0, kListing},
    {"FillingCallWritesFewer", kStandIn, "layers=A,B,C;fill-writes=1", {}, kCaptured,
        "A\n\n\n", "", 0, kListing},
    {"ArgumentsIgnored", kStandIn, "layers=A,B", {"--help", "-v", "extra"}, kCaptured,
        "A\nB\n", "", 0, kListing},
    {"OutputIsFull", kStandIn, "layers=A,B", {}, StandardOutput::kDevFull,
        "", kWriteFailed, 1, kListing},
    {"OutputFillsUpMidway", kStandIn, "generate=5000", {}, StandardOutput::kDevFull,
        "", kWriteFailed, 1, kListing},
    {"OutputIsClosed", kStandIn, "layers=A,B", {}, StandardOutput::kClosed,
        "", kWriteFailed, 1, kListing},
    {"AbsurdCount", kStandIn, "count=0xFFFFFFFF", {}, kCaptured,
        "", "failed to allocate memory for 4294967295 instance layers\n", 1, kEmptyListing},
  };
  // clang-format on
  return cases;
}

// The first word of each recorded call, shortened.
std::string CallNames(const std::string& log) {
  std::istringstream lines(log);
  std::string calls;
  for (std::string line; std::getline(lines, line);) {
    const std::string command = line.substr(0, line.find(' '));
    const char* shortName = command == "vkGetInstanceProcAddr"                ? "resolve"
                            : command == "vkCreateInstance"                   ? "create"
                            : command == "vkEnumerateInstanceLayerProperties" ? "enumerate"
                            : command == "vkDestroyInstance"                  ? "destroy"
                                                                              : "unknown";
    calls += (calls.empty() ? "" : " ") + std::string(shortName);
  }
  return calls;
}

struct Outcome {
  ProgramResult result;
  std::string log;
};

Outcome RunCase(const Case& testCase) {
  const std::string folder = MakeTemporaryFolder();
  const std::string logPath = folder + "/calls.log";
  const std::string& loaderFolder = settings.*testCase.loader;
  ProgramRun run;
  run.command = settings.launcher;
  run.environment = {{"STAND_IN_LOADER_SCRIPT", testCase.script + ";log=" + logPath}};
  if (settings.programBesideLoader.empty()) {
    run.command.push_back(settings.program);
    run.environment.emplace_back("LD_LIBRARY_PATH", loaderFolder);
  } else {
    run.command.push_back(loaderFolder + "/" + settings.programBesideLoader);
  }
  run.command.insert(run.command.end(), testCase.arguments.begin(), testCase.arguments.end());
  run.output = testCase.output;
  Outcome outcome{RunProgram(run), ReadFile(logPath)};
  std::remove(logPath.c_str());
  std::remove(folder.c_str());
  return outcome;
}

// The text as the program writes it: a Windows text stream ends each line with CR LF.
std::string AsWritten(const std::string& text) {
  if (!settings.crlf) {
    return text;
  }
  std::string written;
  for (const char c : text) {
    written += c == '\n' ? "\r\n" : std::string(1, c);
  }
  return written;
}

// Long texts are compared by where they first differ: GoogleTest's diff of them would not end.
void ExpectText(const std::string& actual, const std::string& expected) {
  if (expected.size() < 4096) {
    EXPECT_EQ(actual, expected);
    return;
  }
  const auto difference =
      std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  EXPECT_TRUE(actual == expected) << actual.size() << " bytes instead of " << expected.size()
                                  << ", first different at byte "
                                  << (difference.first - actual.begin());
}

class ConsoleListing : public testing::TestWithParam<Case> {};

TEST_P(ConsoleListing, WritesAndExitsAsTabled) {
  const Case& testCase = GetParam();
  if ((settings.*testCase.loader).empty()) {
    GTEST_SKIP() << "no such loader on this system";
  }
  const Outcome outcome = RunCase(testCase);
  ExpectText(outcome.result.out, AsWritten(testCase.out));
  EXPECT_EQ(outcome.result.err, AsWritten(testCase.err));
  EXPECT_EQ(outcome.result.status, testCase.status);
  EXPECT_EQ(CallNames(outcome.log), testCase.calls);
}

INSTANTIATE_TEST_SUITE_P(Table, ConsoleListing, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<Case>& param) {
                           return param.param.name;
                         });

TEST(ConsoleListingCalls, PassTheTabledValuesAndResolveThroughTheInstance) {
  const Case listing{"", kStandIn, "layers=A,B", {}, StandardOutput::kCaptured, "", "", 0, ""};
  const std::string expected =
      "vkGetInstanceProcAddr instance=null name=\"vkCreateInstance\"\n"
      "vkCreateInstance sType=1 pNext=null flags=0 layers=0/null extensions=0/null allocator=null "
      "application.sType=0 application.pNext=null name=\"Morvantiquell\" version=4194304 "
      "engine=\"NoEngine\" engineVersion=4194304 api=4194304\n"
      "vkGetInstanceProcAddr instance=created name=\"vkEnumerateInstanceLayerProperties\"\n"
      "vkEnumerateInstanceLayerProperties count=0 properties=null\n"
      "vkEnumerateInstanceLayerProperties count=2 properties=zeroed\n"
      "vkGetInstanceProcAddr instance=created name=\"vkDestroyInstance\"\n"
      "vkDestroyInstance instance=created allocator=null\n";
  EXPECT_EQ(RunCase(listing).log, expected);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  std::string launcher;
  std::string crlf;
  if (!TakeOptions(argc, argv,
                   {{"--crlf", &crlf},
                    {"--program", &settings.program},
                    {"--program-beside-loader", &settings.programBesideLoader},
                    {"--stand-in", &settings.standIn},
                    {"--without-entry", &settings.withoutEntry},
                    {"--not-a-library", &settings.notALibrary},
                    {"--lazily-bound", &settings.lazilyBound},
                    {"--launcher", &launcher}})) {
    return 2;
  }
  settings.crlf = !crlf.empty();
  settings.launcher = SplitWords(launcher);
  return RUN_ALL_TESTS();
}
