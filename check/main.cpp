// morvantiquell-check: for each Vulkan instance layer the loader lists, whether it loads; and
// where no Vulkan instance survives, which layers kill it and how to turn them off.
//
// Every trial runs in a child process (trial.h), so that a layer that crashes or hangs costs that
// trial and not the check. Its standard output carries the verdicts only; what the children, the
// layers and a crash handler write stays out of it. Like the listing program it uses C's streams
// and the C heap, and so needs nothing of the C++ runtime: the release files run on every C
// library since glibc 2.17.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "manifests.h"
#include "process.h"
#include "trial.h"

namespace {

constexpr const char* kUsage =
    "Usage: morvantiquell-check [--timeout SECONDS] [--jobs N] [--verbose]\n"
    "Tries each Vulkan instance layer the loader lists, each in a process of its own, and\n"
    "prints one line per layer: its name, a tab and whether it loads, fails (with the\n"
    "VkResult), dies (with the signal or exception) or gives no answer in time. Then the plain\n"
    "instance, as every Vulkan program makes it, and where layers kill that, the setting\n"
    "that turns them off. Then where each layer comes from (its manifest and library), which\n"
    "implicit layers are on, and each manifest found that the loader does not list, and why.\n"
    "\n"
    "  --timeout SECONDS  how long one trial may take (default 10)\n"
    "  --jobs N           how many trials may run at once, 1 to 64 (default: as many as\n"
    "                     there are processors); the output is the same\n"
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

// The implicit layers' own switches ("disable_environment"), where the loader cannot turn layers
// off by name: each trial sets those of the layers it turns off.
struct Switches {
  const manifests::Found* found;
  const bool* listed;   // for each found layer: listed, implicit and with a switch
  const bool* userSet;  // for each found layer: its switch was set before the check started
  const bool* on;       // for each found layer: an implicit one on in the user's environment
  bool used;            // trials turn layers off with these, not by name
};

struct Pool;

struct Settings {
  double seconds;
  const char* secondsText;
  bool verbose;
  const char* disabled;  // what the user's own environment turns off, or null
  Switches* switches;
  std::size_t jobs;  // how many trials run at once
  Pool* pool;
};

// A trial the check asks for: queued until a process is free for it, run, and then read.
struct Trial {
  bool instance;         // the instance, or else the names
  const char* layer;     // enabled, or null
  const char* disabled;  // turned off, or null
  char* held;            // what the trial holds `disabled` in, from malloc, or null
  enum State { kNone, kQueued, kRunning, kEnded } state;
  platform::ChildResult child;  // kEnded: how it ended
  Trial* next;                  // kQueued: the one queued after it
};

// The trials queued, in order, and those running, each in the place of its child.
struct Pool {
  Trial* first;
  Trial* last;
  platform::Child* children[platform::kMostChildren];
  Trial* running[platform::kMostChildren];
};

// How a trial ended: what happened and its code, printed by PrintVerdict alone.
struct Verdict {
  enum Kind { kLoads, kFails, kEnded, kTimedOut } kind;
  platform::ChildEnd end;  // kEnded: how the child ended
  long long code;          // kFails: the VkResult; kEnded: the signal, exception or exit status
};

bool Loads(const Verdict& verdict) { return verdict.kind == Verdict::kLoads; }

bool Same(const Verdict& a, const Verdict& b) {
  return a.kind == b.kind && a.end == b.end && a.code == b.code;
}

const char* ResultName(long long code) {
  struct Named {
    long long code;
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

// "loads", "fails: -6 (VK_ERROR_LAYER_NOT_PRESENT)", "dies: signal 11 (SIGSEGV)", "dies: exit
// status 3", "no answer within 10 s".
void PrintVerdict(std::FILE* stream, const Settings& settings, const Verdict& verdict) {
  const char* name = ResultName(verdict.code);
  char end[96];
  switch (verdict.kind) {
    case Verdict::kLoads:
      std::fputs("loads", stream);
      break;
    case Verdict::kFails:
      std::fprintf(stream, "fails: %lld%s%s%s", verdict.code, name != nullptr ? " (" : "",
                   name != nullptr ? name : "", name != nullptr ? ")" : "");
      break;
    case Verdict::kEnded:
      platform::DescribeEnd(verdict.end, static_cast<unsigned long>(verdict.code), end, sizeof end);
      std::fprintf(stream, "dies: %s", end);
      break;
    case Verdict::kTimedOut:
      std::fprintf(stream, "no answer within %s s", settings.secondsText);
      break;
  }
}

bool InList(const char* name, const char* list) {
  const std::size_t length = std::strlen(name);
  for (const char* at = list; at != nullptr; at = std::strchr(at, ',')) {
    at += *at == ',' ? 1 : 0;
    if (std::strncmp(at, name, length) == 0 && (at[length] == ',' || at[length] == '\0')) {
      return true;
    }
  }
  return false;
}

// The implicit layers of `names` (or all, for ~implicit~) turned off by their own switches, and
// every other switch as the user left it.
void TurnOffBySwitch(const Switches& switches, const char* names) {
  const manifests::Found& found = *switches.found;
  for (std::size_t i = 0; i < found.count; ++i) {
    if (switches.listed[i] && !switches.userSet[i]) {
      platform::SetEnvironment(found.layers[i].disableVariable, nullptr);
    }
  }
  for (std::size_t i = 0; names != nullptr && i < found.count; ++i) {
    const manifests::Layer& layer = found.layers[i];
    if (switches.listed[i] &&
        (std::strcmp(names, "~implicit~") == 0 || InList(layer.name, names))) {
      platform::SetEnvironment(layer.disableVariable, layer.disableValue);
    }
  }
}

// What the loader is to turn off in the trials from here on: the user's own list, and then
// `names` (null for none).
void TurnOff(const Settings& settings, const char* names) {
  if (settings.switches->used) {
    TurnOffBySwitch(*settings.switches, names);
    names = nullptr;
  }
  if (names == nullptr || settings.disabled == nullptr) {
    platform::SetEnvironment(kDisableVariable, names != nullptr ? names : settings.disabled);
    return;
  }
  const std::size_t size = std::strlen(settings.disabled) + std::strlen(names) + 2;
  char* both = static_cast<char*>(std::malloc(size));
  if (both != nullptr) {
    std::snprintf(both, size, "%s,%s", settings.disabled, names);
  }
  platform::SetEnvironment(kDisableVariable, both != nullptr ? both : names);
  std::free(both);
}

// Queues a trial: of the instance (else of the names) with `layer` enabled and `disabled`
// turned off. It takes `held`, where `disabled` points into it.
void Queue(const Settings& settings, Trial* trial, bool instance, const char* layer,
           const char* disabled, char* held = nullptr) {
  *trial = Trial{instance, layer, disabled, held, Trial::kQueued, {}, nullptr};
  Pool& pool = *settings.pool;
  (pool.last != nullptr ? pool.last->next : pool.first) = trial;
  pool.last = trial;
}

// Starts the queued trials in their order, while a place is free. A child sees the environment
// as it is when it starts: what the loader is to turn off is set for each just before.
void StartQueued(const Settings& settings) {
  Pool& pool = *settings.pool;
  for (std::size_t place = 0; place < settings.jobs && pool.first != nullptr;) {
    if (pool.running[place] != nullptr) {
      ++place;
      continue;
    }
    Trial* trial = pool.first;
    pool.first = trial->next;
    pool.last = pool.first != nullptr ? pool.last : nullptr;
    trial::Arguments arguments{};
    trial::MakeArguments(trial->instance, trial->layer, &arguments);
    TurnOff(settings, trial->disabled);
    pool.children[place] = platform::StartThisProgram(
        arguments.count, arguments.values, settings.seconds, settings.verbose, &trial->child);
    trial->state = pool.children[place] != nullptr ? Trial::kRunning : Trial::kEnded;
    pool.running[place] = pool.children[place] != nullptr ? trial : nullptr;
  }
}

// Waits until the trial has ended, starting the queued ones as places come free.
void Await(const Settings& settings, Trial* trial) {
  Pool& pool = *settings.pool;
  for (StartQueued(settings); trial->state != Trial::kEnded; StartQueued(settings)) {
    platform::ChildResult child{};
    const std::size_t place = platform::WaitForChild(pool.children, settings.jobs, &child);
    pool.running[place]->child = child;
    pool.running[place]->state = Trial::kEnded;
    pool.running[place] = nullptr;
  }
}

// A trial no longer needed: taken off the queue, or ended where it runs, and all it holds freed.
void Drop(const Settings& settings, Trial* trial) {
  Pool& pool = *settings.pool;
  if (trial->state == Trial::kQueued) {
    Trial* before = nullptr;
    for (Trial* at = pool.first; at != trial; at = at->next) {
      before = at;
    }
    (before != nullptr ? before->next : pool.first) = trial->next;
    pool.last = pool.last == trial ? before : pool.last;
  }
  for (std::size_t place = 0; place < settings.jobs; ++place) {
    if (pool.running[place] == trial) {
      platform::EndChild(pool.children, settings.jobs, place);
      pool.running[place] = nullptr;
    }
  }
  if (trial->state == Trial::kEnded) {
    std::free(trial->child.answer);
    std::free(trial->child.errors);
  }
  std::free(trial->held);
  *trial = Trial{};
}

// Reads a trial's answer, once it has ended; where it gave none, how it ended is `*ended`. With
// --verbose, first what it wrote to standard error, after a line that names it. False, after a
// line on standard error, where it could not be started, it reports a failure (the loader broke
// since the names were read), or memory runs out.
bool ReadTrial(const Settings& settings, Trial* trial, trial::Answer* answer, Verdict* ended) {
  Await(settings, trial);
  const platform::ChildResult child = trial->child;
  if (settings.verbose) {
    trial::Arguments arguments{};
    trial::MakeArguments(trial->instance, trial->layer, &arguments);
    std::fflush(stdout);
    std::fprintf(stderr, "== morvantiquell-check");
    for (int i = 0; i < arguments.count; ++i) {
      std::fprintf(stderr, " %s", arguments.values[i]);
    }
    if (trial->disabled != nullptr) {
      std::fprintf(stderr, " (%s=%s)",
                   settings.switches->used ? "turned off by their own switches" : kDisableVariable,
                   trial->disabled);
    }
    std::fputc('\n', stderr);
    if (child.errors != nullptr) {
      std::fwrite(child.errors, 1, child.errorsSize, stderr);
    }
    std::fflush(stderr);
  }
  std::free(child.errors);
  std::free(trial->held);
  *trial = Trial{};
  if (child.end == platform::ChildEnd::kTimedOut) {
    *ended = Verdict{Verdict::kTimedOut, child.end, 0};
  } else {
    *ended = Verdict{Verdict::kEnded, child.end, static_cast<long long>(child.code)};
  }
  // An answer counts only from a child that ended by itself with status 0: one that exits
  // without answering (a layer that calls exit) has not answered.
  const bool answered = child.end == platform::ChildEnd::kExited && child.code == 0;
  if (!trial::ReadAnswer(answered ? child.answer : nullptr, answered ? child.answerSize : 0,
                         answer)) {
    std::fputs("failed to allocate memory for a trial's answer\n", stderr);
    return false;
  }
  if (!answered) {
    std::free(child.answer);
  }
  if (child.end == platform::ChildEnd::kNotStarted) {
    char error[128];
    platform::DescribeError(child.code, error, sizeof error);
    std::fprintf(stderr, "failed to start a trial: %s\n", error);
    return false;
  }
  if (answer->kind == trial::Answer::kReport) {
    std::fprintf(stderr, "%s\n", answer->line);
    trial::FreeAnswer(answer);
    return false;
  }
  return true;
}

// The verdict of an instance trial. False after a line on standard error.
bool InstanceVerdict(const Settings& settings, Trial* trial, Verdict* verdict) {
  trial::Answer answer{};
  if (!ReadTrial(settings, trial, &answer, verdict)) {
    return false;
  }
  if (answer.kind == trial::Answer::kResult) {
    *verdict = Verdict{answer.result == VK_SUCCESS ? Verdict::kLoads : Verdict::kFails,
                       platform::ChildEnd::kExited, static_cast<long long>(answer.result)};
  }
  trial::FreeAnswer(&answer);
  return true;
}

// The layers the loader lists in a names trial, and its version. False after a line on standard
// error.
bool ReadNames(const Settings& settings, Trial* trial, trial::Answer* names) {
  Verdict ended{};
  if (!ReadTrial(settings, trial, names, &ended)) {
    return false;
  }
  if (names->kind != trial::Answer::kNames) {
    trial::FreeAnswer(names);
    std::fputs("listing the layers: ", stderr);
    PrintVerdict(stderr, settings, ended);
    std::fputc('\n', stderr);
    return false;
  }
  return true;
}

bool Listed(const char* name, const char* const* names, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (std::strcmp(names[i], name) == 0) {
      return true;
    }
  }
  return false;
}

// The layers of `names` that `chosen` marks, comma-separated, from malloc; null where none is,
// or where memory runs out (`*failed`).
char* Join(const char* const* names, const bool* chosen, std::size_t count, bool* failed) {
  std::size_t size = 1;
  for (std::size_t i = 0; i < count; ++i) {
    size += chosen[i] ? std::strlen(names[i]) + 1 : 0;
  }
  char* joined = size > 1 ? static_cast<char*>(std::malloc(size)) : nullptr;
  *failed = size > 1 && joined == nullptr;
  std::size_t at = 0;
  for (std::size_t i = 0; joined != nullptr && i < count; ++i) {
    if (chosen[i]) {
      const std::size_t length = std::strlen(names[i]);
      std::memcpy(joined + at, names[i], length);
      at += length;
      joined[at++] = ',';
    }
  }
  if (joined != nullptr) {
    joined[at - 1] = '\0';
  }
  return joined;
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

// The setting that turns the culprits off (after what the user already turns off), for sh, cmd
// and PowerShell, each quoted for its shell.
void PrintTurnOff(const Settings& settings, const char* culprits) {
  const char* before = settings.disabled != nullptr ? settings.disabled : "";
  const char* comma = settings.disabled != nullptr ? "," : "";
  std::printf("(turn it off, sh)\texport %s='", kDisableVariable);
  PrintWithQuotes(before, "'\\''");
  std::fputs(comma, stdout);
  PrintWithQuotes(culprits, "'\\''");
  std::printf("'\n(turn it off, cmd)\tset \"%s=%s%s%s\"\n", kDisableVariable, before, comma,
              culprits);
  std::printf("(turn it off, PowerShell)\t$env:%s = '", kDisableVariable);
  PrintWithQuotes(before, "''");
  std::fputs(comma, stdout);
  PrintWithQuotes(culprits, "''");
  std::puts("'");
}

// The layers listed, each name once, and what the search found.
struct Layers {
  const char* const* names;  // in the loader's order, a name the loader lists twice once
  std::size_t count;
  bool* culprit;    // for each name: turning it off is needed for the plain instance to live
  bool canTurnOff;  // the loader turns layers off where the check asks it to
  std::uint32_t loaderVersion;
  const std::size_t* source;  // for each name: its layer among the manifests found, or their count
};

// The manifest layer of name `i` where it can be turned off by its own switch, else null.
const manifests::Layer* Switchable(const Settings& settings, const Layers& layers, std::size_t i) {
  const Switches& switches = *settings.switches;
  const std::size_t at = layers.source[i];
  return at < switches.found->count && switches.listed[at] ? &switches.found->layers[at] : nullptr;
}

// Where the loader cannot turn layers off by name: the implicit layers that are on, to be turned
// off by their own switches. False, after a line on standard error, where none has one.
bool UseSwitches(const Settings& settings, Layers* layers, const char* why) {
  std::size_t switchable = 0;
  for (std::size_t i = 0; i < layers->count; ++i) {
    const manifests::Layer* layer = Switchable(settings, *layers, i);
    layers->culprit[i] = layer != nullptr && settings.switches->on[layers->source[i]];
    switchable += layer != nullptr ? 1 : 0;
  }
  if (switchable == 0) {
    PrintVersion(layers->loaderVersion);
    std::fprintf(stderr, "%s, so no layer is named for the plain instance\n", why);
    layers->canTurnOff = false;
    return false;
  }
  settings.switches->used = true;
  return true;
}

// The search itself, from `implicit` layers marked culprits, and the instance with every
// implicit layer turned off, queued.
bool SearchCulprits(const Settings& settings, const Verdict& plain, Layers* layers,
                    std::size_t implicit, Trial* implicitOff) {
  Verdict verdict = plain;
  if (implicit == 0) {
    Drop(settings, implicitOff);
  } else if (!InstanceVerdict(settings, implicitOff, &verdict)) {
    return false;
  }
  if (!Loads(verdict)) {
    // The layers these name are on in every trial, whatever is turned off.
    const char* forced = nullptr;
    for (const char* variable : {"VK_INSTANCE_LAYERS", "VK_LOADER_LAYERS_ENABLE"}) {
      const char* value = std::getenv(variable);
      forced = forced == nullptr && value != nullptr && *value != '\0' ? variable : forced;
    }
    if (verdict.kind == Verdict::kFails && forced == nullptr && !settings.switches->used) {
      // Not a layer's doing: no driver, say. The listing program says the same.
      std::fprintf(stderr, "vkCreateInstance failed with error code '%lld'\n", verdict.code);
      return false;
    }
    if (forced != nullptr) {
      std::fprintf(stderr,
                   "no Vulkan instance survives with every implicit layer turned off, but %s "
                   "turns layers on that cannot be turned off so: ",
                   forced);
    } else if (settings.switches->used) {
      // A layer whose manifest the check did not find has no switch it knows: not "no layer".
      std::fputs(
          "no Vulkan instance survives with the implicit layers turned off by their own "
          "switches, so none of them is to blame: ",
          stderr);
    } else {
      std::fputs(
          "no Vulkan instance survives with every implicit layer turned off, so no layer "
          "is to blame: ",
          stderr);
    }
    PrintVerdict(stderr, settings, verdict);
    std::fputc('\n', stderr);
    return false;
  }
  // Each in turn back on: where the instance still survives, it is not needed. The last one left
  // is needed without a trial: with it back on, nothing is turned off, as in the plain instance.
  for (std::size_t i = 0; i < layers->count; ++i) {
    if (!layers->culprit[i] || --implicit == 0) {
      continue;
    }
    layers->culprit[i] = false;
    bool failed = false;
    char* rest = Join(layers->names, layers->culprit, layers->count, &failed);
    Trial trial{};
    if (!failed) {
      Queue(settings, &trial, true, nullptr, rest, rest);
    }
    if (failed || !InstanceVerdict(settings, &trial, &verdict)) {
      if (failed) {
        std::fputs("failed to allocate memory for the layers to turn off\n", stderr);
      }
      return false;
    }
    layers->culprit[i] = !Loads(verdict);
    implicit += layers->culprit[i] ? 1 : 0;
  }
  return true;
}

// Where the plain instance does not survive: whether layers are to blame at all (the plain
// instance with every implicit layer turned off), and if so, a smallest set of them whose removal
// lets it survive, each member needed. False after a line on standard error: not a layer's doing,
// or the check failed. Where the loader cannot turn layers off by name (before 1.3.234, or where
// it ignores the variable), the layers' own switches turn them off.
bool FindCulpritsFrom(const Settings& settings, const Verdict& plain, Layers* layers,
                      Trial* everyOff, Trial* implicitNames, Trial* implicitOff) {
  trial::Answer left{};
  bool byName = layers->loaderVersion >= kFirstDisablingLoader;
  if (!byName) {
    if (!UseSwitches(settings, layers,
                     " cannot turn layers off: VK_LOADER_LAYERS_DISABLE came in loader 1.3.234")) {
      return true;
    }
  } else {
    if (!ReadNames(settings, everyOff, &left)) {
      return false;
    }
    byName = left.count == 0;
    trial::FreeAnswer(&left);
    if (!byName && !UseSwitches(settings, layers,
                                " ignores VK_LOADER_LAYERS_DISABLE here (a Windows loader does in "
                                "an elevated process)")) {
      return true;
    }
  }
  std::size_t implicit = 0;
  if (byName) {
    // The implicit layers are those the loader no longer lists with them turned off; they are all
    // culprits until shown otherwise.
    if (!ReadNames(settings, implicitNames, &left)) {
      return false;
    }
    for (std::size_t i = 0; i < layers->count; ++i) {
      layers->culprit[i] = !Listed(layers->names[i], left.names, left.count);
    }
    trial::FreeAnswer(&left);
  } else {
    // The implicit layers turned off by their own switches, instead of by name.
    Drop(settings, implicitOff);
    Queue(settings, implicitOff, true, nullptr, "~implicit~");
  }
  // Layers that share a switch go on and off together: the first of them stands for the rest.
  auto* leader = static_cast<std::size_t*>(std::calloc(layers->count + 1, sizeof(std::size_t)));
  if (leader == nullptr) {
    std::fputs("failed to allocate memory for the layers to turn off\n", stderr);
    return false;
  }
  for (std::size_t i = 0; i < layers->count; ++i) {
    leader[i] = i;
    for (std::size_t j = 0; !byName && layers->culprit[i] && j < i; ++j) {
      if (layers->culprit[j] && leader[j] == j &&
          std::strcmp(Switchable(settings, *layers, i)->disableVariable,
                      Switchable(settings, *layers, j)->disableVariable) == 0) {
        leader[i] = j;
      }
    }
    layers->culprit[i] = layers->culprit[i] && leader[i] == i;
    implicit += layers->culprit[i] ? 1 : 0;
  }
  const bool found = SearchCulprits(settings, plain, layers, implicit, implicitOff);
  for (std::size_t i = 0; i < layers->count; ++i) {
    layers->culprit[i] = layers->culprit[leader[i]];
  }
  std::free(leader);
  return found;
}

// Where the loader can turn layers off by name, what it lists with every layer turned off, and
// with the implicit ones turned off, and the instance with those are asked for at once; then the
// search. The trials it did not need are dropped.
bool FindCulprits(const Settings& settings, const Verdict& plain, Layers* layers) {
  Trial trials[3] = {};
  if (layers->loaderVersion >= kFirstDisablingLoader) {
    Queue(settings, &trials[0], false, nullptr, "~all~");
    Queue(settings, &trials[1], false, nullptr, "~implicit~");
    Queue(settings, &trials[2], true, nullptr, "~implicit~");
  }
  const bool found = FindCulpritsFrom(settings, plain, layers, &trials[0], &trials[1], &trials[2]);
  for (Trial& trial : trials) {
    Drop(settings, &trial);
  }
  return found;
}

// The culprits' own switches, from their manifests, for sh, cmd and PowerShell, each variable
// once: where the loader cannot turn layers off by name, the only way to.
void PrintOwnSwitches(const Settings& settings, const Layers& layers) {
  const char* const shells[] = {"sh", "cmd", "PowerShell"};
  for (const char* shell : shells) {
    bool first = true;
    for (std::size_t i = 0; i < layers.count; ++i) {
      const manifests::Layer* layer = layers.culprit[i] ? Switchable(settings, layers, i) : nullptr;
      bool again = false;
      for (std::size_t j = 0; layer != nullptr && j < i; ++j) {
        const manifests::Layer* before =
            layers.culprit[j] ? Switchable(settings, layers, j) : nullptr;
        again = again || (before != nullptr &&
                          std::strcmp(before->disableVariable, layer->disableVariable) == 0);
      }
      if (layer == nullptr || again) {
        continue;
      }
      if (first) {
        std::printf("(own switch, %s)\t%s", shell, shell[0] == 's' ? "export" : "");
      }
      if (shell[0] == 's') {
        std::printf(" %s='", layer->disableVariable);
        PrintWithQuotes(layer->disableValue, "'\\''");
        std::putchar('\'');
      } else if (shell[0] == 'c') {
        std::printf("%sset \"%s=%s\"", first ? "" : " & ", layer->disableVariable,
                    layer->disableValue);
      } else {
        std::printf("%s$env:%s = '", first ? "" : "; ", layer->disableVariable);
        PrintWithQuotes(layer->disableValue, "''");
        std::putchar('\'');
      }
      first = false;
    }
    if (!first) {
      std::putchar('\n');
    }
  }
}

void PrintUnlisted(const manifests::Layer& layer) {
  std::printf("(not listed)\t%s\t%s\t%s\n", layer.file, layer.name != nullptr ? layer.name : "",
              layer.why);
}

// Where each listed layer comes from, whether each implicit one is on here and what turns it on
// and off, and each manifest the loader does not list, with why.
void PrintSources(const Switches& switches, const trial::Answer& listed,
                  const std::size_t* source) {
  const manifests::Found& found = *switches.found;
  for (std::size_t i = 0; i < listed.count; ++i) {
    if (source[i] == found.count) {
      std::printf("(manifest)\t%s\tnone found where this loader looks\n", listed.names[i]);
      continue;
    }
    const manifests::Layer& layer = found.layers[source[i]];
    std::printf("(manifest)\t%s\t%s\t%s\n", layer.name, layer.file,
                layer.library != nullptr ? layer.library : "");
    if (layer.implicit) {
      std::printf("(implicit)\t%s\t%s\t", layer.name, switches.on[source[i]] ? "on" : "off");
      if (layer.enableVariable != nullptr) {
        std::printf("on only where %s=%s; ", layer.enableVariable, layer.enableValue);
      }
      std::printf("off where %s is set\n", layer.disableVariable);
    }
  }
  for (std::size_t i = 0; i < found.count; ++i) {
    if (!found.layers[i].listed) {
      PrintUnlisted(found.layers[i]);
    }
  }
}

// Each layer enabled on its own, with the culprits turned off (but itself), so that its line is
// its own verdict; then the plain instance's (queued), and the setting that turns the culprits
// off. A name the loader lists twice is tried once. The layers' trials are queued beside the
// plain instance's, with nothing turned off: where it survives, as it mostly does, there are no
// culprits, and they are the trials wanted. Each line is printed as soon as it and every line
// before it are known.
int Judge(const Settings& settings, const trial::Answer& listed, const std::size_t* source,
          Trial* plainTrial) {
  Layers layers{nullptr, 0, nullptr, true, listed.loaderVersion, nullptr};
  auto* names = static_cast<const char**>(std::calloc(listed.count + 1, sizeof(char*)));
  auto* unique = static_cast<std::size_t*>(std::calloc(listed.count + 1, sizeof(std::size_t)));
  auto* sources = static_cast<std::size_t*>(std::calloc(listed.count + 1, sizeof(std::size_t)));
  layers.culprit = static_cast<bool*>(std::calloc(listed.count + 1, sizeof(bool)));
  auto* verdicts = static_cast<Verdict*>(std::calloc(listed.count + 1, sizeof(Verdict)));
  auto* trials = static_cast<Trial*>(std::calloc(listed.count + 1, sizeof(Trial)));
  bool judged = names != nullptr && unique != nullptr && sources != nullptr &&
                layers.culprit != nullptr && verdicts != nullptr && trials != nullptr;
  if (!judged) {
    std::fputs("failed to allocate memory for the verdicts\n", stderr);
  }
  // Each listed name's place among the names once each.
  for (std::size_t i = 0; judged && i < listed.count; ++i) {
    std::size_t at = 0;
    while (at < layers.count && std::strcmp(names[at], listed.names[i]) != 0) {
      ++at;
    }
    if (at == layers.count) {
      names[at] = listed.names[i];
      sources[at] = source[i];
      ++layers.count;
    }
    unique[i] = at;
  }
  layers.names = names;
  layers.source = sources;
  for (std::size_t at = 0; judged && at < layers.count; ++at) {
    Queue(settings, &trials[at], true, names[at], nullptr);
  }
  Verdict plain{};
  judged = judged && InstanceVerdict(settings, plainTrial, &plain);
  if (judged && !Loads(plain)) {
    for (std::size_t at = 0; at < layers.count; ++at) {
      Drop(settings, &trials[at]);
    }
    judged = FindCulprits(settings, plain, &layers);
  }
  char* culprits = nullptr;
  bool failed = false;
  if (judged) {
    culprits = Join(layers.names, layers.culprit, layers.count, &failed);
    judged = !failed;
  }
  // Where the plain instance does not survive, each layer tried again, with the other culprits
  // turned off; but the one culprit: on its own, with nothing else turned off, it is the plain
  // instance.
  std::size_t culpritCount = 0;
  for (std::size_t at = 0; at < layers.count; ++at) {
    culpritCount += layers.culprit[at] ? 1 : 0;
  }
  const bool one = culpritCount == 1;
  for (std::size_t at = 0; judged && !Loads(plain) && at < layers.count; ++at) {
    if (!(one && layers.culprit[at])) {
      const bool was = layers.culprit[at];
      layers.culprit[at] = false;
      char* others = Join(layers.names, layers.culprit, layers.count, &failed);
      layers.culprit[at] = was;
      judged = !failed;
      if (judged) {
        Queue(settings, &trials[at], true, names[at], others, others);
      }
    }
  }
  bool allLoad = Loads(plain);
  for (std::size_t i = 0; judged && i < listed.count; ++i) {
    const std::size_t at = unique[i];
    if (one && layers.culprit[at]) {
      verdicts[at] = plain;
    } else if (!Listed(listed.names[i], listed.names, i) &&
               !InstanceVerdict(settings, &trials[at], &verdicts[at])) {
      judged = false;
      break;
    }
    const Verdict& verdict = verdicts[at];
    std::printf("%s\t", listed.names[i]);
    if (!layers.canTurnOff && Same(verdict, plain)) {
      // It ends as the plain instance does, which it takes part in: its own verdict is unknown.
      std::fputs("unknown: as the plain instance, ", stdout);
    }
    PrintVerdict(stdout, settings, verdict);
    std::putchar('\n');
    std::fflush(stdout);
    allLoad = allLoad && Loads(verdict);
  }
  if (judged) {
    std::fputs("(plain instance)\t", stdout);
    PrintVerdict(stdout, settings, plain);
    std::putchar('\n');
    if (culprits != nullptr && !settings.switches->used) {
      PrintTurnOff(settings, culprits);
    }
    if (culprits != nullptr) {
      PrintOwnSwitches(settings, layers);
    }
    PrintSources(*settings.switches, listed, source);
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
      std::fputs("failed to write the verdicts to standard output\n", stderr);
      judged = false;
    }
  } else if (failed) {
    std::fputs("failed to allocate memory for the layers to turn off\n", stderr);
  }
  for (std::size_t at = 0; trials != nullptr && at < layers.count; ++at) {
    Drop(settings, &trials[at]);
  }
  std::free(trials);
  std::free(culprits);
  std::free(unique);
  std::free(sources);
  std::free(static_cast<void*>(names));
  std::free(layers.culprit);
  std::free(verdicts);
  return judged && allLoad ? EXIT_SUCCESS : EXIT_FAILURE;
}

int Check(Settings settings) {
  platform::PrepareToStartChildren();
  trial::Answer names{};
  manifests::Found found{};
  Switches switches{&found, nullptr, nullptr, nullptr, false};
  settings.switches = &switches;
  Pool pool{};
  settings.pool = &pool;
  // The names and the plain instance at once: neither waits for the other.
  Trial namesTrial{};
  Trial plainTrial{};
  Queue(settings, &namesTrial, false, nullptr, nullptr);
  Queue(settings, &plainTrial, true, nullptr, nullptr);
  if (!ReadNames(settings, &namesTrial, &names)) {
    Drop(settings, &plainTrial);
    // Where the loader cannot list layers, a manifest it could not read may be why (one
    // truncated file fails a loader of 1.3.239): those, as the newest loader finds them.
    manifests::Read(UINT32_MAX, &found);
    for (std::size_t i = 0; i < found.count; ++i) {
      if (found.layers[i].unread) {
        PrintUnlisted(found.layers[i]);
      }
    }
    std::fflush(stdout);
    manifests::Free(&found);
    return EXIT_FAILURE;
  }
  manifests::Read(names.loaderVersion, &found);
  std::size_t* source = manifests::Match(names.names, names.count, &found);
  auto* listed = static_cast<bool*>(std::calloc(found.count + 1, sizeof(bool)));
  auto* userSet = static_cast<bool*>(std::calloc(found.count + 1, sizeof(bool)));
  auto* on = static_cast<bool*>(std::calloc(found.count + 1, sizeof(bool)));
  int status = EXIT_FAILURE;
  if (found.outOfMemory || source == nullptr || listed == nullptr || userSet == nullptr ||
      on == nullptr) {
    std::fputs("failed to allocate memory for the layer manifests\n", stderr);
  } else {
    for (std::size_t i = 0; i < found.count; ++i) {
      const manifests::Layer& layer = found.layers[i];
      listed[i] = layer.listed && layer.implicit && layer.disableVariable != nullptr;
      userSet[i] = listed[i] && std::getenv(layer.disableVariable) != nullptr;
      on[i] = layer.implicit && manifests::IsOn(layer);
    }
    switches.listed = listed;
    switches.userSet = userSet;
    switches.on = on;
    status = Judge(settings, names, source, &plainTrial);
  }
  Drop(settings, &plainTrial);
  std::free(source);
  std::free(listed);
  std::free(userSet);
  std::free(on);
  manifests::Free(&found);
  trial::FreeAnswer(&names);
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
  if (argc > 1 && trial::IsTrial(argv[1])) {
    return trial::Run(argc - 1, argv + 1);
  }
  const char* disabled = std::getenv(kDisableVariable);
  Settings settings{};
  settings.seconds = 10;
  settings.secondsText = "10";
  settings.disabled = disabled != nullptr && *disabled != '\0' ? disabled : nullptr;
  // As many trials at once as there are processors to run them.
  settings.jobs = platform::CountProcessors();
  settings.jobs = settings.jobs < platform::kMostChildren ? settings.jobs : platform::kMostChildren;
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
    } else if (std::strcmp(argument, "--timeout") == 0 ||
               std::strncmp(argument, "--timeout=", 10) == 0) {
      if (std::strcmp(argument, "--timeout") == 0 && i + 1 == argc) {
        return UsageError("option", argument, " requires an argument");
      }
      settings.secondsText = std::strcmp(argument, "--timeout") == 0 ? argv[++i] : argument + 10;
      char* rest = nullptr;
      settings.seconds = std::strtod(settings.secondsText, &rest);
      // At most a day: a longer limit is a typing error.
      if (*settings.secondsText == '\0' || *rest != '\0' || !(settings.seconds > 0) ||
          settings.seconds > 86400) {
        return UsageError("invalid time limit", settings.secondsText,
                          ": give a number of seconds above 0, at most 86400");
      }
    } else if (std::strcmp(argument, "--jobs") == 0 || std::strncmp(argument, "--jobs=", 7) == 0) {
      if (std::strcmp(argument, "--jobs") == 0 && i + 1 == argc) {
        return UsageError("option", argument, " requires an argument");
      }
      const char* text = std::strcmp(argument, "--jobs") == 0 ? argv[++i] : argument + 7;
      char* rest = nullptr;
      const long jobs = std::strtol(text, &rest, 10);
      if (*text < '0' || *text > '9' || *rest != '\0' || jobs < 1 ||
          jobs > static_cast<long>(platform::kMostChildren)) {
        return UsageError("invalid number of jobs", text, ": give a whole number from 1 to 64");
      }
      settings.jobs = static_cast<std::size_t>(jobs);
    } else {
      return UsageError("unrecognized option", argument, "");
    }
  }
  return Check(settings);
}
