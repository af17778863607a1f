// morvantiquell-check: for each Vulkan instance layer the loader lists, whether it loads; and
// where no Vulkan instance survives, which layer kills it and how to turn that layer off.
//
// Every trial runs in a child process, this program started again with an internal argument, so
// that a layer that crashes or hangs costs that trial and not the check. Its standard output
// carries the verdicts only; what the children, the layers and a crash handler write stays out
// of it.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "process.h"
#include "trial.h"

namespace {

constexpr const char* kUsage =
    "Usage: morvantiquell-check [--timeout SECONDS] [--verbose]\n"
    "Tries each Vulkan instance layer the loader lists, each in a process of its own, and\n"
    "prints one line per layer: its name, a tab and whether it loads, fails (with the\n"
    "VkResult), dies (with the signal or exception) or gives no answer in time. Then the plain\n"
    "instance, as every Vulkan program makes it, and where a layer kills that, the setting\n"
    "that turns the layer off.\n"
    "\n"
    "  --timeout SECONDS  how long one trial may take (default 10)\n"
    "  --verbose          also pass on what each trial writes to standard error (the loader's\n"
    "                     and the layers' messages, a crash handler's backtrace)\n"
    "  --help             print this and exit\n"
    "  --version          print the version and exit\n"
    "\n"
    "Exit status: 0 when every layer loads and the plain instance is created, 1 when not\n"
    "(or the check failed: one line on standard error says why), 2 for a usage error.\n";

constexpr const char* kDisableVariable = "VK_LOADER_LAYERS_DISABLE";
// The first loader that reads that variable.
constexpr std::uint32_t kFirstDisablingLoader = VK_MAKE_API_VERSION(0, 1, 3, 234);

// ---- A trial, in the child.
//
// A child's answer is a run of fields, each ended by a NUL, the first naming what it holds:
//   names VERSION NAME...  the layers the loader lists, and its version
//   result CODE            what vkCreateInstance returned
//   kept                   the layer to be turned off is still listed: the loader ignores that
//   report LINE            the trial failed, as the line says
// Its arguments: --trial=names or --trial=instance, then --layer=HEX to enable a layer and
// --disable=HEX to turn one off, the names in hexadecimal, which no system's quoting changes.

void WriteField(std::FILE* channel, const std::string& field) {
  std::fwrite(field.c_str(), 1, field.size() + 1, channel);
}

void ReportToChannel(void* context, const char* message) {
  auto* channel = static_cast<std::FILE*>(context);
  WriteField(channel, "report");
  WriteField(channel, message);
}

std::string Hex(const std::string& text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    hex += kDigits[byte >> 4U];
    hex += kDigits[byte & 0xFU];
  }
  return hex;
}

std::string Unhex(const std::string& hex) {
  std::string text;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    const char byte[] = {hex[i], hex[i + 1], '\0'};
    text += static_cast<char>(std::strtol(byte, nullptr, 16));
  }
  return text;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

int Trial(const std::vector<std::string>& arguments) {
  std::FILE* channel = platform::TakeTrialChannel();
  if (channel == nullptr) {
    return EXIT_FAILURE;
  }
  const loader::Reporter reporter{ReportToChannel, channel};
  std::string layer;
  std::string disabled;
  for (const std::string& argument : arguments) {
    if (StartsWith(argument, "--layer=")) {
      layer = Unhex(argument.substr(8));
    } else if (StartsWith(argument, "--disable=")) {
      disabled = Unhex(argument.substr(10));
    }
  }
  if (!disabled.empty()) {
    platform::SetEnvironment(kDisableVariable, disabled.c_str());
  }
  const bool names = arguments.front() == "--trial=names";
  trial::LayerNames listed{};
  VkResult result = VK_SUCCESS;
  if ((names || !disabled.empty()) && !trial::ReadLayerNames(&listed, reporter)) {
    // The report is the answer.
  } else if (names) {
    WriteField(channel, "names");
    WriteField(channel, std::to_string(listed.loaderVersion));
    for (const std::string& name : listed.names) {
      WriteField(channel, name);
    }
  } else if (!disabled.empty() &&
             std::find(listed.names.begin(), listed.names.end(), disabled) != listed.names.end()) {
    WriteField(channel, "kept");
  } else if (trial::TryInstance(layer.empty() ? nullptr : layer.c_str(), &result, reporter)) {
    WriteField(channel, "result");
    WriteField(channel, std::to_string(static_cast<int>(result)));
  }
  return std::fclose(channel) == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}

// ---- The check, in the parent.

struct Settings {
  double seconds = 10;
  std::string secondsText = "10";
  bool verbose = false;
};

// A trial's end: its answer's fields, or where it gave none, how it ended as a verdict ("dies:
// signal 11 (SIGSEGV)", "no answer within 10 s").
struct TrialEnd {
  std::vector<std::string> answer;
  std::string verdict;
};

// Runs one trial in a child; false, after a line on standard error, where none can be started.
bool RunTrial(const Settings& settings, const std::vector<std::string>& arguments, TrialEnd* end) {
  if (settings.verbose) {
    std::fflush(stdout);
    std::fprintf(stderr, "== morvantiquell-check");
    for (const std::string& argument : arguments) {
      std::fprintf(stderr, " %s", argument.c_str());
    }
    std::fprintf(stderr, "\n");
    std::fflush(stderr);
  }
  const platform::ChildResult child =
      platform::RunThisProgram(arguments, settings.seconds, settings.verbose, Trial);
  end->answer.clear();
  end->verdict.clear();
  switch (child.end) {
    case platform::ChildEnd::kNotStarted:
      std::fprintf(stderr, "failed to start a trial: %s\n",
                   platform::DescribeError(child.code).c_str());
      return false;
    case platform::ChildEnd::kTimedOut:
      end->verdict = "no answer within " + settings.secondsText + " s";
      return true;
    case platform::ChildEnd::kDied:
      end->verdict = "dies: " + platform::DescribeDeath(child.code);
      return true;
    case platform::ChildEnd::kExited:
      break;
  }
  for (std::size_t start = 0; start < child.answer.size();) {
    const std::size_t stop = child.answer.find('\0', start);
    if (stop == std::string::npos) {
      break;
    }
    end->answer.push_back(child.answer.substr(start, stop - start));
    start = stop + 1;
  }
  if (child.code != 0 || end->answer.empty()) {
    // It ended by itself without answering (a layer that calls exit, say).
    end->answer.clear();
    end->verdict = "dies: exit status " + std::to_string(child.code);
  }
  return true;
}

const char* ResultName(long code) {
  struct Named {
    long code;
    const char* name;
  };
  static const Named kResults[] = {
      {VK_NOT_READY, "VK_NOT_READY"},
      {VK_TIMEOUT, "VK_TIMEOUT"},
      {VK_INCOMPLETE, "VK_INCOMPLETE"},
      {VK_ERROR_OUT_OF_HOST_MEMORY, "VK_ERROR_OUT_OF_HOST_MEMORY"},
      {VK_ERROR_OUT_OF_DEVICE_MEMORY, "VK_ERROR_OUT_OF_DEVICE_MEMORY"},
      {VK_ERROR_INITIALIZATION_FAILED, "VK_ERROR_INITIALIZATION_FAILED"},
      {VK_ERROR_DEVICE_LOST, "VK_ERROR_DEVICE_LOST"},
      {VK_ERROR_LAYER_NOT_PRESENT, "VK_ERROR_LAYER_NOT_PRESENT"},
      {VK_ERROR_EXTENSION_NOT_PRESENT, "VK_ERROR_EXTENSION_NOT_PRESENT"},
      {VK_ERROR_FEATURE_NOT_PRESENT, "VK_ERROR_FEATURE_NOT_PRESENT"},
      {VK_ERROR_INCOMPATIBLE_DRIVER, "VK_ERROR_INCOMPATIBLE_DRIVER"},
      {VK_ERROR_TOO_MANY_OBJECTS, "VK_ERROR_TOO_MANY_OBJECTS"},
      {VK_ERROR_UNKNOWN, "VK_ERROR_UNKNOWN"},
  };
  for (const Named& result : kResults) {
    if (result.code == code) {
      return result.name;
    }
  }
  return nullptr;
}

// What an instance trial says: "loads", "fails: -6 (VK_ERROR_LAYER_NOT_PRESENT)", a death, or
// "kept" where the loader ignored the layer to be turned off. False after a line on standard
// error (a trial that cannot be started, or a loader that broke since the names were read).
bool InstanceVerdict(const Settings& settings, const std::string& layer,
                     const std::string& disabled, std::string* verdict) {
  std::vector<std::string> arguments = {"--trial=instance"};
  if (!layer.empty()) {
    arguments.push_back("--layer=" + Hex(layer));
  }
  if (!disabled.empty()) {
    arguments.push_back("--disable=" + Hex(disabled));
  }
  TrialEnd end;
  if (!RunTrial(settings, arguments, &end)) {
    return false;
  }
  if (end.answer.empty()) {
    *verdict = end.verdict;
  } else if (end.answer[0] == "result" && end.answer.size() == 2) {
    const long code = std::strtol(end.answer[1].c_str(), nullptr, 10);
    *verdict = code == VK_SUCCESS ? "loads" : "fails: " + end.answer[1];
    if (const char* name = code != VK_SUCCESS ? ResultName(code) : nullptr) {
      *verdict += std::string(" (") + name + ")";
    }
  } else if (end.answer[0] == "kept") {
    *verdict = "kept";
  } else {
    std::fprintf(stderr, "%s\n", end.answer.size() > 1 ? end.answer[1].c_str() : "");
    return false;
  }
  return true;
}

std::string VersionText(std::uint32_t version) {
  return std::to_string(VK_API_VERSION_MAJOR(version)) + "." +
         std::to_string(VK_API_VERSION_MINOR(version)) + "." +
         std::to_string(VK_API_VERSION_PATCH(version));
}

// The settings that turn the layer off, for sh, cmd and PowerShell, each quoted for its shell.
void PrintTurnOff(const std::string& layer) {
  std::string sh;
  std::string powerShell;
  for (const char c : layer) {
    sh += c == '\'' ? std::string("'\\''") : std::string(1, c);
    powerShell += c == '\'' ? std::string("''") : std::string(1, c);
  }
  std::printf("(turn it off, sh)\texport %s='%s'\n", kDisableVariable, sh.c_str());
  std::printf("(turn it off, cmd)\tset \"%s=%s\"\n", kDisableVariable, layer.c_str());
  std::printf("(turn it off, PowerShell)\t$env:%s = '%s'\n", kDisableVariable, powerShell.c_str());
}

int Check(const Settings& settings) {
  platform::PrepareToStartChildren();

  TrialEnd end;
  if (!RunTrial(settings, {"--trial=names"}, &end)) {
    return EXIT_FAILURE;
  }
  if (end.answer.empty()) {
    std::fprintf(stderr, "listing the layers: %s\n", end.verdict.c_str());
    return EXIT_FAILURE;
  }
  if (end.answer[0] != "names" || end.answer.size() < 2) {
    std::fprintf(stderr, "%s\n", end.answer.size() > 1 ? end.answer[1].c_str() : "");
    return EXIT_FAILURE;
  }
  const auto loaderVersion =
      static_cast<std::uint32_t>(std::strtoul(end.answer[1].c_str(), nullptr, 10));
  const std::vector<std::string> names(end.answer.begin() + 2, end.answer.end());

  // The plain instance, and where it does not survive, the layer whose removal lets it.
  std::string plain;
  if (!InstanceVerdict(settings, "", "", &plain)) {
    return EXIT_FAILURE;
  }
  std::string culprit;
  if (plain != "loads" && loaderVersion < kFirstDisablingLoader) {
    std::fprintf(stderr,
                 "loader %s cannot turn one layer off: %s came in loader 1.3.234, so no layer "
                 "is named for the plain instance\n",
                 VersionText(loaderVersion).c_str(), kDisableVariable);
  } else if (plain != "loads") {
    for (const std::string& name : names) {
      std::string without;
      if (!InstanceVerdict(settings, "", name, &without)) {
        return EXIT_FAILURE;
      }
      if (without == "kept") {
        std::fprintf(stderr,
                     "loader %s ignores %s here (a Windows loader does in an elevated process), "
                     "so no layer is named for the plain instance\n",
                     VersionText(loaderVersion).c_str(), kDisableVariable);
        break;
      }
      if (without == "loads") {
        culprit = name;
        break;
      }
    }
  }
  if (culprit.empty() && StartsWith(plain, "fails: ")) {
    // Not a layer's doing: no driver, say. The listing program says the same.
    std::fprintf(stderr, "vkCreateInstance failed with error code '%ld'\n",
                 std::strtol(plain.c_str() + 7, nullptr, 10));
    return EXIT_FAILURE;
  }

  // Each layer on its own: with the one that kills the plain instance turned off, so that it
  // does not kill them all; that one's own verdict is the plain instance's.
  // A name the loader lists twice is tried once.
  bool allLoad = plain == "loads";
  std::map<std::string, std::string> judged;
  if (!culprit.empty()) {
    judged[culprit] = plain;
  }
  for (const std::string& name : names) {
    std::string& verdict = judged[name];
    if (verdict.empty() && !InstanceVerdict(settings, name, culprit, &verdict)) {
      return EXIT_FAILURE;
    }
    allLoad = allLoad && verdict == "loads";
    std::printf("%s\t%s\n", name.c_str(), verdict.c_str());
    std::fflush(stdout);
  }
  std::printf("(plain instance)\t%s\n", plain.c_str());
  if (!culprit.empty()) {
    PrintTurnOff(culprit);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fputs("failed to write the verdicts to standard output\n", stderr);
    return EXIT_FAILURE;
  }
  return allLoad ? EXIT_SUCCESS : EXIT_FAILURE;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr,
               "morvantiquell-check: %s\nTry 'morvantiquell-check --help' for more information.\n",
               message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (!arguments.empty() && StartsWith(arguments[0], "--trial=")) {
    return Trial(arguments);
  }
  Settings settings;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--help") {
      std::fputs(kUsage, stdout);
      return EXIT_SUCCESS;
    }
    if (argument == "--version") {
      std::puts("morvantiquell-check " MORVANTIQUELL_VERSION);
      return EXIT_SUCCESS;
    }
    if (argument == "--verbose") {
      settings.verbose = true;
    } else if (argument == "--timeout" || StartsWith(argument, "--timeout=")) {
      if (argument == "--timeout" && i + 1 == arguments.size()) {
        return UsageError("option '--timeout' requires an argument");
      }
      settings.secondsText = argument == "--timeout" ? arguments[++i] : argument.substr(10);
      char* rest = nullptr;
      settings.seconds = std::strtod(settings.secondsText.c_str(), &rest);
      // At most a day: a longer limit is a typing error.
      if (settings.secondsText.empty() || *rest != '\0' || !(settings.seconds > 0) ||
          settings.seconds > 86400) {
        return UsageError("invalid time limit '" + settings.secondsText +
                          "': give a number of seconds above 0, at most 86400");
      }
    } else {
      return UsageError("unrecognized option '" + argument + "'");
    }
  }
  return Check(settings);
}
