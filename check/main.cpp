// morvantiquell-check: for each Vulkan instance layer the loader lists, whether it loads; and
// where no Vulkan instance survives, which layer kills it and how to turn that layer off.
//
// Every trial runs in a child process, this program started again with an internal argument, so
// that a layer that crashes or hangs costs that trial and not the check. Its standard output
// carries the verdicts only; what the children, the layers and a crash handler write stays out
// of it. Like the listing program it uses C's streams and the C heap, and so needs nothing of
// the C++ runtime: the release files run on every C library since glibc 2.17.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
constexpr std::size_t kNameSize = sizeof(VkLayerProperties::layerName);

bool StartsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// A name field's text: up to its terminator, and never past its 256 bytes.
std::size_t NameLength(const char* name) {
  const void* end = std::memchr(name, '\0', kNameSize);
  return end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - name)
                        : kNameSize;
}

// ---- A trial, in the child.
//
// A child's answer is a run of fields, each ended by a NUL, the first naming what it holds:
//   names VERSION NAME...  the layers the loader lists, and its version
//   result CODE            what vkCreateInstance returned
//   kept                   the layer to be turned off is still listed: the loader ignores that
//   report LINE            the trial failed, as the line says
// Its arguments: --trial=names or --trial=instance, then --layer=HEX to enable a layer and
// --disable=HEX to turn one off, the names in hexadecimal, which no system's quoting changes.

void WriteField(std::FILE* channel, const char* field, std::size_t size) {
  std::fwrite(field, 1, size, channel);
  std::fputc('\0', channel);
}

void WriteField(std::FILE* channel, const char* field) {
  WriteField(channel, field, std::strlen(field));
}

void ReportToChannel(void* context, const char* message) {
  auto* channel = static_cast<std::FILE*>(context);
  WriteField(channel, "report");
  WriteField(channel, message);
}

// Hexadecimal pairs back to bytes, into a block of kNameSize bytes (the rest zero).
void Unhex(const char* hex, char* name) {
  std::memset(name, 0, kNameSize + 1);
  for (std::size_t i = 0; i < kNameSize && hex[2 * i] != '\0' && hex[(2 * i) + 1] != '\0'; ++i) {
    const char pair[] = {hex[2 * i], hex[(2 * i) + 1], '\0'};
    name[i] = static_cast<char>(std::strtol(pair, nullptr, 16));
  }
}

int Trial(int count, char** arguments) {
  std::FILE* channel = platform::TakeTrialChannel();
  if (channel == nullptr) {
    return EXIT_FAILURE;
  }
  const loader::Reporter reporter{ReportToChannel, channel};
  char layer[kNameSize + 1] = "";
  char disabled[kNameSize + 1] = "";
  for (int i = 1; i < count; ++i) {
    if (StartsWith(arguments[i], "--layer=")) {
      Unhex(arguments[i] + std::strlen("--layer="), layer);
    } else if (StartsWith(arguments[i], "--disable=")) {
      Unhex(arguments[i] + std::strlen("--disable="), disabled);
    }
  }
  if (disabled[0] != '\0') {
    platform::SetEnvironment(kDisableVariable, disabled);
  }
  const bool names = std::strcmp(arguments[0], "--trial=names") == 0;
  trial::LayerNames listed{};
  VkResult result = VK_SUCCESS;
  if ((names || disabled[0] != '\0') && !trial::ReadLayerNames(&listed, reporter)) {
    // The report is the answer.
  } else if (names) {
    char version[16];
    std::snprintf(version, sizeof version, "%lu", static_cast<unsigned long>(listed.loaderVersion));
    WriteField(channel, "names");
    WriteField(channel, version);
    for (std::uint32_t i = 0; i < listed.count; ++i) {
      WriteField(channel, listed.layers[i].layerName, NameLength(listed.layers[i].layerName));
    }
  } else if (std::any_of(listed.layers, listed.layers + listed.count,
                         [&](const VkLayerProperties& properties) {
                           return std::strncmp(properties.layerName, disabled, kNameSize) == 0;
                         })) {
    WriteField(channel, "kept");
  } else if (trial::TryInstance(layer[0] != '\0' ? layer : nullptr, &result, reporter)) {
    char code[16];
    std::snprintf(code, sizeof code, "%d", static_cast<int>(result));
    WriteField(channel, "result");
    WriteField(channel, code);
  }
  std::free(listed.layers);
  return std::fclose(channel) == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}

// ---- The check, in the parent.

struct Settings {
  double seconds;
  const char* secondsText;
  bool verbose;
};

// A verdict, as printed: "loads", "fails: -6 (VK_ERROR_LAYER_NOT_PRESENT)", "dies: signal 11
// (SIGSEGV)", "no answer within 10 s"; and "kept" from a trial whose loader ignored the layer to
// be turned off.
struct Verdict {
  char text[128];
};

bool Loads(const Verdict& verdict) { return std::strcmp(verdict.text, "loads") == 0; }

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

// A trial's answer, split at its NULs: each field points into the text. Both from malloc.
struct Answer {
  char* text;
  const char** fields;
  std::size_t count;
};

void FreeAnswer(Answer* answer) {
  std::free(static_cast<void*>(answer->fields));
  std::free(answer->text);
  *answer = Answer{};
}

// Runs one trial in a child, and gives its answer, or where it gave none, how it ended as a
// verdict. False, after a line on standard error, where no child can be started.
bool RunTrial(const Settings& settings, int count, char** arguments, Answer* answer,
              Verdict* ended) {
  if (settings.verbose) {
    std::fflush(stdout);
    std::fprintf(stderr, "== morvantiquell-check");
    for (int i = 0; i < count; ++i) {
      std::fprintf(stderr, " %s", arguments[i]);
    }
    std::fprintf(stderr, "\n");
    std::fflush(stderr);
  }
  const platform::ChildResult child =
      platform::RunThisProgram(count, arguments, settings.seconds, settings.verbose, Trial);
  *answer = Answer{child.answer, nullptr, 0};
  ended->text[0] = '\0';
  switch (child.end) {
    case platform::ChildEnd::kNotStarted:
      platform::DescribeError(child.code, ended->text, sizeof ended->text);
      std::fprintf(stderr, "failed to start a trial: %s\n", ended->text);
      return false;
    case platform::ChildEnd::kTimedOut:
      std::snprintf(ended->text, sizeof ended->text, "no answer within %s s", settings.secondsText);
      return true;
    case platform::ChildEnd::kDied:
      std::snprintf(ended->text, sizeof ended->text, "dies: ");
      platform::DescribeDeath(child.code, ended->text + 6, sizeof ended->text - 6);
      return true;
    case platform::ChildEnd::kExited:
      break;
  }
  const auto fields =
      static_cast<std::size_t>(std::count(child.answer, child.answer + child.answerSize, '\0'));
  answer->fields = static_cast<const char**>(std::malloc((fields + 1) * sizeof(const char*)));
  if (answer->fields == nullptr) {
    std::fputs("failed to allocate memory for a trial's answer\n", stderr);
    return false;
  }
  for (std::size_t at = 0; answer->count < fields; ++answer->count) {
    answer->fields[answer->count] = child.answer + at;
    at += std::strlen(child.answer + at) + 1;
  }
  if (child.code != 0 || answer->count == 0) {
    // It ended by itself without answering (a layer that calls exit, say).
    answer->count = 0;
    std::snprintf(ended->text, sizeof ended->text, "dies: exit status %lu", child.code);
  }
  return true;
}

// A name as the child's argument: the prefix, then each byte in hexadecimal.
void HexArgument(const char* prefix, const char* name, char* argument) {
  char* at = argument + std::sprintf(argument, "%s", prefix);
  for (const char* c = name; *c != '\0'; ++c) {
    at += std::sprintf(at, "%02x", static_cast<unsigned>(static_cast<unsigned char>(*c)));
  }
}

// What the instance trial with `layer` enabled and `disabled` turned off (either may be null)
// says. False after a line on standard error (no child could be started, or the loader broke
// since the names were read).
bool InstanceVerdict(const Settings& settings, const char* layer, const char* disabled,
                     Verdict* verdict) {
  char trial[] = "--trial=instance";
  char enable[16 + (2 * kNameSize)];
  char disable[16 + (2 * kNameSize)];
  char* arguments[3] = {trial};
  int count = 1;
  if (layer != nullptr) {
    HexArgument("--layer=", layer, enable);
    arguments[count++] = enable;
  }
  if (disabled != nullptr) {
    HexArgument("--disable=", disabled, disable);
    arguments[count++] = disable;
  }
  Answer answer{};
  bool given = RunTrial(settings, count, arguments, &answer, verdict);
  if (!given || answer.count == 0) {
    // How it ended is the verdict.
  } else if (std::strcmp(answer.fields[0], "result") == 0 && answer.count == 2) {
    const long code = std::strtol(answer.fields[1], nullptr, 10);
    const char* name = ResultName(code);
    if (code == VK_SUCCESS) {
      std::snprintf(verdict->text, sizeof verdict->text, "loads");
    } else {
      std::snprintf(verdict->text, sizeof verdict->text, "fails: %ld%s%s%s", code,
                    name != nullptr ? " (" : "", name != nullptr ? name : "",
                    name != nullptr ? ")" : "");
    }
  } else if (std::strcmp(answer.fields[0], "kept") == 0) {
    std::snprintf(verdict->text, sizeof verdict->text, "kept");
  } else {
    std::fprintf(stderr, "%s\n", answer.count > 1 ? answer.fields[1] : answer.fields[0]);
    given = false;
  }
  FreeAnswer(&answer);
  return given;
}

// The layers the loader lists, in an answer whose fields from the third on are their names,
// and the loader's version. False after a line on standard error.
bool ReadNames(const Settings& settings, Answer* names, std::uint32_t* loaderVersion) {
  char trial[] = "--trial=names";
  char* arguments[] = {trial};
  Verdict ended{};
  if (!RunTrial(settings, 1, arguments, names, &ended)) {
    return false;
  }
  if (names->count == 0) {
    std::fprintf(stderr, "listing the layers: %s\n", ended.text);
    return false;
  }
  if (std::strcmp(names->fields[0], "names") != 0 || names->count < 2) {
    std::fprintf(stderr, "%s\n", names->count > 1 ? names->fields[1] : names->fields[0]);
    return false;
  }
  *loaderVersion = static_cast<std::uint32_t>(std::strtoul(names->fields[1], nullptr, 10));
  return true;
}

void PrintVersion(std::uint32_t version) {
  std::fprintf(stderr, "loader %u.%u.%u", VK_API_VERSION_MAJOR(version),
               VK_API_VERSION_MINOR(version), VK_API_VERSION_PATCH(version));
}

void PrintWithQuotes(const char* text, const char* quote) {
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == '\'') {
      std::fputs(quote, stdout);
    } else {
      std::putchar(*c);
    }
  }
}

// The settings that turn the layer off, for sh, cmd and PowerShell, each quoted for its shell.
void PrintTurnOff(const char* layer) {
  std::printf("(turn it off, sh)\texport %s='", kDisableVariable);
  PrintWithQuotes(layer, "'\\''");
  std::printf("'\n(turn it off, cmd)\tset \"%s=%s\"\n", kDisableVariable, layer);
  std::printf("(turn it off, PowerShell)\t$env:%s = '", kDisableVariable);
  PrintWithQuotes(layer, "''");
  std::puts("'");
}

// The plain instance, and where it does not survive, the layer whose removal lets it, which is
// null where none does. False after a line on standard error.
bool FindCulprit(const Settings& settings, std::uint32_t loaderVersion, const char* const* layers,
                 std::size_t count, Verdict* plain, const char** culprit) {
  *culprit = nullptr;
  if (!InstanceVerdict(settings, nullptr, nullptr, plain)) {
    return false;
  }
  if (!Loads(*plain) && loaderVersion < kFirstDisablingLoader) {
    PrintVersion(loaderVersion);
    std::fprintf(stderr,
                 " cannot turn one layer off: %s came in loader 1.3.234, so no layer is named for "
                 "the plain instance\n",
                 kDisableVariable);
    return true;
  }
  for (std::size_t i = 0; i < count && !Loads(*plain) && *culprit == nullptr; ++i) {
    Verdict without{};
    if (!InstanceVerdict(settings, nullptr, layers[i], &without)) {
      return false;
    }
    if (std::strcmp(without.text, "kept") == 0) {
      PrintVersion(loaderVersion);
      std::fprintf(stderr,
                   " ignores %s here (a Windows loader does in an elevated process), so no layer "
                   "is named for the plain instance\n",
                   kDisableVariable);
      break;
    }
    if (Loads(without)) {
      *culprit = layers[i];
    }
  }
  return true;
}

// Each layer on its own, with the one that kills the plain instance turned off, so that it does
// not kill them all; that one's own verdict is the plain instance's. A name the loader lists
// twice is tried once. Prints each layer's line as it is known, then the plain instance's.
int Judge(const Settings& settings, std::uint32_t loaderVersion, const char* const* layers,
          std::size_t count) {
  Verdict plain{};
  const char* culprit = nullptr;
  if (!FindCulprit(settings, loaderVersion, layers, count, &plain, &culprit)) {
    return EXIT_FAILURE;
  }
  if (culprit == nullptr && StartsWith(plain.text, "fails: ")) {
    // Not a layer's doing: no driver, say. The listing program says the same.
    std::fprintf(stderr, "vkCreateInstance failed with error code '%ld'\n",
                 std::strtol(plain.text + std::strlen("fails: "), nullptr, 10));
    return EXIT_FAILURE;
  }
  auto* verdicts = static_cast<Verdict*>(std::calloc(count + 1, sizeof(Verdict)));
  if (verdicts == nullptr) {
    std::fputs("failed to allocate memory for the verdicts\n", stderr);
    return EXIT_FAILURE;
  }
  bool allLoad = Loads(plain);
  for (std::size_t i = 0; i < count; ++i) {
    const auto same = [&](const char* name) { return std::strcmp(name, layers[i]) == 0; };
    const auto first = static_cast<std::size_t>(std::find_if(layers, layers + i, same) - layers);
    if (culprit != nullptr && same(culprit)) {
      verdicts[i] = plain;
    } else if (first < i) {
      verdicts[i] = verdicts[first];
    } else if (!InstanceVerdict(settings, layers[i], culprit, &verdicts[i])) {
      std::free(verdicts);
      return EXIT_FAILURE;
    }
    allLoad = allLoad && Loads(verdicts[i]);
    std::printf("%s\t%s\n", layers[i], verdicts[i].text);
    std::fflush(stdout);
  }
  std::free(verdicts);
  std::printf("(plain instance)\t%s\n", plain.text);
  if (culprit != nullptr) {
    PrintTurnOff(culprit);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fputs("failed to write the verdicts to standard output\n", stderr);
    return EXIT_FAILURE;
  }
  return allLoad ? EXIT_SUCCESS : EXIT_FAILURE;
}

int Check(const Settings& settings) {
  platform::PrepareToStartChildren();
  Answer names{};
  std::uint32_t loaderVersion = 0;
  const int status = ReadNames(settings, &names, &loaderVersion)
                         ? Judge(settings, loaderVersion, names.fields + 2, names.count - 2)
                         : EXIT_FAILURE;
  FreeAnswer(&names);
  return status;
}

// A usage error: what, the argument it is about in quotes, and why.
int UsageError(const char* what, const char* argument, const char* why) {
  std::fprintf(stderr,
               "morvantiquell-check: %s '%s'%s\nTry 'morvantiquell-check --help' for more "
               "information.\n",
               what, argument, why);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && StartsWith(argv[1], "--trial=")) {
    return Trial(argc - 1, argv + 1);
  }
  Settings settings{10, "10", false};
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (std::strcmp(argument, "--help") == 0) {
      std::fputs(kUsage, stdout);
      return EXIT_SUCCESS;
    }
    if (std::strcmp(argument, "--version") == 0) {
      std::puts("morvantiquell-check " MORVANTIQUELL_VERSION);
      return EXIT_SUCCESS;
    }
    if (std::strcmp(argument, "--verbose") == 0) {
      settings.verbose = true;
    } else if (std::strcmp(argument, "--timeout") == 0 || StartsWith(argument, "--timeout=")) {
      if (std::strcmp(argument, "--timeout") == 0 && i + 1 == argc) {
        return UsageError("option", argument, " requires an argument");
      }
      settings.secondsText = std::strcmp(argument, "--timeout") == 0
                                 ? argv[++i]
                                 : argument + std::strlen("--timeout=");
      char* rest = nullptr;
      settings.seconds = std::strtod(settings.secondsText, &rest);
      // At most a day: a longer limit is a typing error.
      if (*settings.secondsText == '\0' || *rest != '\0' || !(settings.seconds > 0) ||
          settings.seconds > 86400) {
        return UsageError("invalid time limit", settings.secondsText,
                          ": give a number of seconds above 0, at most 86400");
      }
    } else {
      return UsageError("unrecognized option", argument, "");
    }
  }
  return Check(settings);
}
