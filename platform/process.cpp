#include "process.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace platform {
namespace {

struct Named {
  unsigned long code;
  const char* name;
};

template <std::size_t size>
const char* Find(const Named (&table)[size], unsigned long code) {
  for (const Named& entry : table) {
    if (entry.code == code) {
      return entry.name;
    }
  }
  return nullptr;
}

// Appends a block to a growing text; false, with the text dropped, when memory runs out (the
// caller then reads none).
bool Append(char** text, std::size_t* size, const char* block, std::size_t blockSize) {
  char* grown = static_cast<char*>(std::realloc(*text, *size + blockSize));
  if (grown == nullptr) {
    std::free(*text);
    *text = nullptr;
    *size = 0;
    return false;
  }
  std::memcpy(grown + *size, block, blockSize);
  *text = grown;
  *size += blockSize;
  return true;
}

}  // namespace
}  // namespace platform

#ifdef _WIN32

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cmath>
#include <cwchar>

namespace platform {

struct Child {
  HANDLE process;
  HANDLE job;          // null where the child could not be put in one
  HANDLE channel;      // its answer
  HANDLE errors;       // its standard error, or INVALID_HANDLE_VALUE where not kept
  ULONGLONG deadline;  // on GetTickCount64's clock
};

namespace {

// A crash ends the trial's process with its exception code, as it would end unhandled, but
// without Windows Error Reporting's dialog or, under Wine, its debugger's backtrace.
LONG WINAPI EndWithExceptionCode(EXCEPTION_POINTERS* exception) {
  TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

constexpr Named kExceptions[] = {
    {0xC0000005UL, "EXCEPTION_ACCESS_VIOLATION"},
    {0xC00000FDUL, "EXCEPTION_STACK_OVERFLOW"},
    {0xC000001DUL, "EXCEPTION_ILLEGAL_INSTRUCTION"},
    {0xC0000096UL, "EXCEPTION_PRIV_INSTRUCTION"},
    {0xC0000094UL, "EXCEPTION_INT_DIVIDE_BY_ZERO"},
    {0xC000008EUL, "EXCEPTION_FLT_DIVIDE_BY_ZERO"},
    {0xC0000006UL, "EXCEPTION_IN_PAGE_ERROR"},
    {0x80000003UL, "EXCEPTION_BREAKPOINT"},
    {0x80000002UL, "EXCEPTION_DATATYPE_MISALIGNMENT"},
    {0xC0000409UL, "STATUS_STACK_BUFFER_OVERRUN"},
    {0xC0000374UL, "STATUS_HEAP_CORRUPTION"},
    {0xC0000135UL, "STATUS_DLL_NOT_FOUND"},
    {0xC0000142UL, "STATUS_DLL_INIT_FAILED"},
    {0xE06D7363UL, "a C++ exception"},
};

// An exception ends a process with its code, one that the exceptions above or the system's error
// severity (the top two bits, for a code of the system's and not a program's own) mark; anything
// else is an exit status, exit(-1) included.
bool IsException(unsigned long code) {
  return Find(kExceptions, code) != nullptr || (code & 0xE0000000UL) == 0xC0000000UL;
}

constexpr UINT kQuietErrorMode =
    SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;

// A handle the child inherits: a copy of one of ours, or else the null device.
HANDLE Inheritable(HANDLE handle) {
  HANDLE copy = nullptr;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                       DUPLICATE_SAME_ACCESS)) {
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    copy = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherited, OPEN_EXISTING, 0, nullptr);
  }
  return copy;
}

// A temporary file, which goes when its last handle closes. This process's handle is not
// inherited: a child inherits a copy made for it alone (Inheritable), so that no child holds
// another's files.
HANDLE CreateChannel() {
  wchar_t folder[MAX_PATH + 1];
  wchar_t path[MAX_PATH + 1];
  if (GetTempPathW(MAX_PATH + 1, folder) == 0 || GetTempFileNameW(folder, L"mvq", 0, path) == 0) {
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileW(path, GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

void ReadAll(HANDLE file, char** text, std::size_t* size) {
  if (file == INVALID_HANDLE_VALUE) {
    return;
  }
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  char block[4096];
  DWORD read = 0;
  while (ReadFile(file, block, sizeof block, &read, nullptr) && read > 0 &&
         Append(text, size, block, read)) {
  }
}

// The command line that starts this program again with the arguments: its path quoted, then the
// arguments. Null when it cannot be made; the caller frees it.
wchar_t* CommandLine(int count, char** arguments) {
  wchar_t self[32768];
  const DWORD length = GetModuleFileNameW(nullptr, self, sizeof self / sizeof self[0]);
  std::size_t size = length + 3;
  for (int i = 0; i < count; ++i) {
    size += std::strlen(arguments[i]) + 1;
  }
  auto* line = static_cast<wchar_t*>(std::malloc(size * sizeof(wchar_t)));
  if (length == 0 || length == sizeof self / sizeof self[0] || line == nullptr) {
    std::free(line);
    return nullptr;
  }
  wchar_t* end = line;
  *end++ = L'"';
  end = std::wmemcpy(end, self, length) + length;
  *end++ = L'"';
  for (int i = 0; i < count; ++i) {
    *end++ = L' ';
    for (const char* c = arguments[i]; *c != '\0'; ++c) {
      *end++ = static_cast<wchar_t>(static_cast<unsigned char>(*c));
    }
  }
  *end = L'\0';
  return line;
}

void Close(HANDLE handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
  }
}

// Ends a child, with its job, and waits until it has ended.
void EndJob(const Child& child) {
  if (child.job == nullptr || !TerminateJobObject(child.job, 1)) {
    TerminateProcess(child.process, 1);
  }
  WaitForSingleObject(child.process, INFINITE);
}

// Closing the job ends everything left in it.
void Release(Child* child) {
  Close(child->process);
  Close(child->job);
  Close(child->channel);
  Close(child->errors);
  std::free(child);
}

}  // namespace

void PrepareToStartChildren() { SetErrorMode(kQuietErrorMode); }

Child* StartThisProgram(int count, char** arguments, double seconds, bool keepErrors,
                        ChildResult* notStarted) {
  *notStarted = ChildResult{ChildEnd::kNotStarted, 0, nullptr, 0, nullptr, 0};
  auto* child = static_cast<Child*>(std::calloc(1, sizeof(Child)));
  wchar_t* commandLine = CommandLine(count, arguments);
  // The answer goes to a temporary file, read when the child has ended: it may be longer than a
  // pipe holds, and a child that stops writing half-way must not stop this process. So do its
  // errors, where kept.
  HANDLE channel = CreateChannel();
  HANDLE errors = keepErrors ? CreateChannel() : INVALID_HANDLE_VALUE;
  if (child == nullptr || commandLine == nullptr || channel == INVALID_HANDLE_VALUE ||
      (keepErrors && errors == INVALID_HANDLE_VALUE)) {
    notStarted->code = child == nullptr ? ERROR_NOT_ENOUGH_MEMORY : GetLastError();
    std::free(commandLine);
    Close(channel);
    Close(errors);
    std::free(child);
    return nullptr;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = Inheritable(nullptr);
  startup.hStdOutput = Inheritable(channel);
  startup.hStdError = Inheritable(keepErrors ? errors : nullptr);

  // The child runs in a job of its own, which ends with everything in it when its last handle
  // closes: after the trial, and when this process ends, however it ends.
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job != nullptr) {
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }
  PROCESS_INFORMATION process{};
  const bool started = CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE,
                                      CREATE_SUSPENDED, nullptr, nullptr, &startup, &process);
  notStarted->code = started ? 0 : GetLastError();
  Close(startup.hStdInput);
  Close(startup.hStdOutput);
  Close(startup.hStdError);
  std::free(commandLine);
  const double milliseconds = std::ceil(seconds * 1000);
  *child = Child{started ? process.hProcess : nullptr, job, channel, errors,
                 GetTickCount64() + static_cast<ULONGLONG>(milliseconds)};
  if (!started) {
    Release(child);
    return nullptr;
  }
  if (job != nullptr && !AssignProcessToJobObject(job, process.hProcess)) {
    Close(job);
    child->job = nullptr;
  }
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  return child;
}

std::size_t WaitForChild(Child** children, std::size_t count, ChildResult* result) {
  for (;;) {
    HANDLE processes[kMostChildren];
    std::size_t places[kMostChildren];
    DWORD waited = 0;
    const ULONGLONG now = GetTickCount64();
    ULONGLONG next = now + 86400000;
    std::size_t overrun = count;
    for (std::size_t i = 0; i < count && waited < kMostChildren; ++i) {
      if (children[i] != nullptr) {
        overrun = overrun == count && now >= children[i]->deadline ? i : overrun;
        next = children[i]->deadline < next ? children[i]->deadline : next;
        processes[waited] = children[i]->process;
        places[waited++] = i;
      }
    }
    std::size_t which = overrun;
    if (overrun == count) {
      const DWORD got = WaitForMultipleObjects(waited, processes, FALSE,
                                               static_cast<DWORD>(next > now ? next - now : 0));
      if (got >= WAIT_OBJECT_0 + waited) {
        if (got == WAIT_FAILED) {
          Sleep(10);
        }
        continue;  // a time limit is reached: found above
      }
      which = places[got - WAIT_OBJECT_0];
    }
    Child* child = children[which];
    *result = ChildResult{ChildEnd::kTimedOut, 0, nullptr, 0, nullptr, 0};
    if (overrun == count) {
      DWORD code = 0;
      GetExitCodeProcess(child->process, &code);
      result->code = code;
      result->end = IsException(code) ? ChildEnd::kDied : ChildEnd::kExited;
    }
    EndJob(*child);
    ReadAll(child->channel, &result->answer, &result->answerSize);
    ReadAll(child->errors, &result->errors, &result->errorsSize);
    Release(child);
    children[which] = nullptr;
    return which;
  }
}

void EndChild(Child** children, std::size_t /*count*/, std::size_t which) {
  EndJob(*children[which]);
  Release(children[which]);
  children[which] = nullptr;
}

std::size_t CountProcessors() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  std::size_t count = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
    for (; process != 0; process &= process - 1) {
      ++count;
    }
  }
  return count > 0 ? count : 1;
}

void DescribeEnd(ChildEnd end, unsigned long code, char* text, std::size_t size) {
  if (end != ChildEnd::kDied) {
    // As a signed number, as exit(-1) was called.
    std::snprintf(text, size, "exit status %ld", static_cast<long>(static_cast<LONG>(code)));
    return;
  }
  const char* name = Find(kExceptions, code);
  std::snprintf(text, size, "exception 0x%08lX%s%s%s", code, name != nullptr ? " (" : "",
                name != nullptr ? name : "", name != nullptr ? ")" : "");
}

void DescribeError(unsigned long code, char* text, std::size_t size) {
  DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(code), 0, text, static_cast<DWORD>(size), nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) {
    text[--length] = '\0';
  }
  if (length == 0) {
    std::snprintf(text, size, "error %lu", code);
  }
}

std::FILE* TakeTrialChannel() {
  SetErrorMode(kQuietErrorMode);
  SetUnhandledExceptionFilter(EndWithExceptionCode);
  std::fflush(stdout);
  const int channel = _dup(_fileno(stdout));
  _dup2(_fileno(stderr), _fileno(stdout));
  SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
  if (channel < 0) {
    return nullptr;
  }
  _setmode(channel, _O_BINARY);
  return _fdopen(channel, "wb");
}

void SetEnvironment(const char* name, const char* value) { SetEnvironmentVariableA(name, value); }

}  // namespace platform

#else

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <ctime>

namespace platform {

struct Child {
  pid_t pid;
  double deadline;     // on the monotonic clock, in seconds
  std::FILE* channel;  // its answer
  std::FILE* errors;   // its standard error, or null where not kept
};

namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// While children run, the signals that end this process are blocked, and taken where
// WaitForChild waits, so that the children and all they started are ended first: the mask to
// go back to when the last child has ended, and how many run.
struct Blocked {
  sigset_t before;
  std::size_t children;
} blocked{};

sigset_t WaitedSignals() {
  sigset_t waited;
  sigemptyset(&waited);
  sigaddset(&waited, SIGCHLD);
  for (const int signal : kEndingSignals) {
    sigaddset(&waited, signal);
  }
  return waited;
}

double Now() {
  std::timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + (static_cast<double>(now.tv_nsec) / 1e9);
}

// The parent of a process, from /proc; 0 where it cannot be read.
pid_t ParentOf(const char* pid) {
  char path[300];
  std::snprintf(path, sizeof path, "/proc/%.255s/stat", pid);
  std::FILE* stat = std::fopen(path, "re");
  if (stat == nullptr) {
    return 0;
  }
  // "PID (NAME) STATE PARENT ...", where the name may hold anything, parentheses too.
  char line[512];
  const bool read = std::fgets(line, sizeof line, stat) != nullptr;
  std::fclose(stat);
  const char* end = read ? std::strrchr(line, ')') : nullptr;
  return end != nullptr && end[1] == ' ' && end[2] != '\0'
             ? static_cast<pid_t>(std::strtol(end + 3, nullptr, 10))
             : 0;
}

// Sends SIGKILL to every child of this process but the `count` children, and reaps those that
// have ended; whether there was any.
bool KillChildren(Child* const* children, std::size_t count) {
  DIR* processes = opendir("/proc");
  if (processes == nullptr) {
    return false;
  }
  const pid_t self = getpid();
  bool any = false;
  while (const dirent* entry = readdir(processes)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9' || ParentOf(entry->d_name) != self) {
      continue;
    }
    const auto pid = static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10));
    bool running = false;
    for (std::size_t i = 0; i < count; ++i) {
      running = running || (children[i] != nullptr && children[i]->pid == pid);
    }
    if (!running) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, WNOHANG);
      any = true;
    }
  }
  closedir(processes);
  return any;
}

// Ends and reaps every child this process has but the running ones, once a child is reaped: what
// an ended child left running, in its group or out of it (setsid), came to this process, its
// subreaper, when the child ended. (While a child runs, it is the subreaper of all it starts, so
// that nothing of a running child's comes here.) A process ended here may leave children of its
// own, which come here when it ends: so again, until none is left. Gives up on one that does not
// end within seconds (it hangs in the system).
void EndLeftovers(Child* const* children, std::size_t count) {
  sigset_t childSignal;
  sigemptyset(&childSignal);
  sigaddset(&childSignal, SIGCHLD);
  for (const double deadline = Now() + 10; Now() < deadline;) {
    if (!KillChildren(children, count)) {
      return;
    }
    const std::timespec wait{0, 10000000};
    sigtimedwait(&childSignal, nullptr, &wait);
  }
}

void ReadAll(std::FILE* file, char** text, std::size_t* size) {
  if (file == nullptr || std::fseek(file, 0, SEEK_SET) != 0) {
    return;
  }
  char block[4096];
  // A short block is the last: the stream is at its end (or failed), and is read no further.
  for (std::size_t read = sizeof block; read == sizeof block;) {
    read = std::fread(block, 1, sizeof block, file);
    if (read > 0 && !Append(text, size, block, read)) {
      return;
    }
  }
}

// Ends a child's process group, and reaps the child; its wait status.
int EndGroup(const Child& child) {
  kill(-child.pid, SIGKILL);
  int status = 0;
  waitpid(child.pid, &status, 0);
  return status;
}

// Closes what a child's record holds, and frees it; after the last child, the ending signals
// are taken as before.
void Release(Child* child) {
  std::fclose(child->channel);
  if (child->errors != nullptr) {
    std::fclose(child->errors);
  }
  std::free(child);
  if (--blocked.children == 0) {
    sigprocmask(SIG_SETMASK, &blocked.before, nullptr);
  }
}

// Ends this process by the signal, as it would have ended had the signal not been waited for.
[[noreturn]] void EndBy(int signal) {
  std::signal(signal, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
  _exit(128 + signal);
}

}  // namespace

void PrepareToStartChildren() {
  // Inherited as ignored, SIGCHLD would make the system reap the children before they are waited
  // for.
  std::signal(SIGCHLD, SIG_DFL);
  prctl(PR_SET_CHILD_SUBREAPER, 1);
}

Child* StartThisProgram(int count, char** arguments, double seconds, bool keepErrors,
                        ChildResult* notStarted) {
  *notStarted = ChildResult{ChildEnd::kNotStarted, 0, nullptr, 0, nullptr, 0};
  // The program's own file, with the arguments after it.
  char self[] = "/proc/self/exe";
  char* argv[16] = {self};
  if (count < 0 || count >= static_cast<int>(sizeof argv / sizeof argv[0]) - 1) {
    notStarted->code = E2BIG;
    return nullptr;
  }
  for (int i = 0; i < count; ++i) {
    argv[i + 1] = arguments[i];
  }

  // The answer goes to a temporary file, read when the child has ended: it may be longer than a
  // pipe holds, and a child that stops writing half-way must not stop this process. So do its
  // errors, where kept. A pipe that closes when the program starts carries the error number
  // where it cannot start. None of them is left open in the children started after it.
  auto* child = static_cast<Child*>(std::calloc(1, sizeof(Child)));
  std::FILE* channel = std::tmpfile();
  std::FILE* errors = keepErrors ? std::tmpfile() : nullptr;
  const int nowhere = open("/dev/null", O_RDWR | O_CLOEXEC);
  int started[2] = {-1, -1};
  if (child == nullptr || channel == nullptr || (keepErrors && errors == nullptr) || nowhere < 0 ||
      pipe2(started, O_CLOEXEC) != 0) {
    notStarted->code = child == nullptr ? ENOMEM : static_cast<unsigned long>(errno);
    for (std::FILE* file : {channel, errors}) {
      if (file != nullptr) {
        std::fclose(file);
      }
    }
    if (nowhere >= 0) {
      close(nowhere);
    }
    std::free(child);
    return nullptr;
  }
  for (std::FILE* file : {channel, errors}) {
    if (file != nullptr) {
      ioctl(fileno(file), FIOCLEX);  // (fcntl would ask for glibc 2.28 on i386)
    }
  }
  const sigset_t waited = WaitedSignals();
  sigset_t before;
  sigprocmask(SIG_BLOCK, &waited, &before);
  if (blocked.children++ == 0) {
    blocked.before = before;
  }
  std::fflush(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    // A process group of its own, which a time limit ends whole; the subreaper of all it starts;
    // and it ends with this process, should this one end first.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) {
      _exit(EXIT_FAILURE);
    }
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    sigprocmask(SIG_SETMASK, &blocked.before, nullptr);
    dup2(nowhere, STDIN_FILENO);
    dup2(fileno(channel), STDOUT_FILENO);
    dup2(errors != nullptr ? fileno(errors) : nowhere, STDERR_FILENO);
    execv(argv[0], argv);
    const int error = errno;
    (void)!write(started[1], &error, sizeof error);
    _exit(EXIT_FAILURE);
  }
  close(started[1]);
  int error = 0;
  if (pid < 0) {
    notStarted->code = static_cast<unsigned long>(errno);
  } else if (read(started[0], &error, sizeof error) == sizeof error) {
    waitpid(pid, nullptr, 0);
    notStarted->code = static_cast<unsigned long>(error);
  } else {
    setpgid(pid, pid);  // (also here, so that it is so before the group is ended)
    *child = Child{pid, Now() + seconds, channel, errors};
  }
  close(started[0]);
  close(nowhere);
  if (child->pid == 0) {
    *child = Child{0, 0, channel, errors};
    Release(child);
    return nullptr;
  }
  return child;
}

std::size_t WaitForChild(Child** children, std::size_t count, ChildResult* result) {
  const sigset_t waited = WaitedSignals();
  for (;;) {
    // Without reaping a child that has ended, so that its process group stays its own until
    // the rest of the group is ended too.
    const double now = Now();
    double next = now + 86400;
    for (std::size_t i = 0; i < count; ++i) {
      Child* child = children[i];
      if (child == nullptr) {
        continue;
      }
      siginfo_t info{};
      const bool ended =
          waitid(P_PID, static_cast<id_t>(child->pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
          info.si_pid == child->pid;
      if (!ended && now < child->deadline) {
        next = child->deadline < next ? child->deadline : next;
        continue;
      }
      const int status = EndGroup(*child);
      EndLeftovers(children, count);
      *result = ChildResult{ChildEnd::kTimedOut, 0, nullptr, 0, nullptr, 0};
      if (ended && WIFSIGNALED(status)) {
        result->end = ChildEnd::kDied;
        result->code = static_cast<unsigned long>(WTERMSIG(status));
      } else if (ended) {
        result->end = ChildEnd::kExited;
        result->code = static_cast<unsigned long>(WEXITSTATUS(status));
      }
      ReadAll(child->channel, &result->answer, &result->answerSize);
      ReadAll(child->errors, &result->errors, &result->errorsSize);
      Release(child);
      children[i] = nullptr;
      return i;
    }
    const double left = next - now;
    const double whole = std::floor(left);
    const std::timespec wait{static_cast<std::time_t>(whole),
                             static_cast<long>((left - whole) * 1e9)};
    const int received = sigtimedwait(&waited, nullptr, &wait);
    if (received > 0 && received != SIGCHLD) {
      for (std::size_t i = 0; i < count; ++i) {
        if (children[i] != nullptr) {
          EndGroup(*children[i]);
        }
      }
      EndLeftovers(nullptr, 0);
      EndBy(received);
    }
  }
}

void EndChild(Child** children, std::size_t count, std::size_t which) {
  EndGroup(*children[which]);
  EndLeftovers(children, count);
  Release(children[which]);
  children[which] = nullptr;
}

std::size_t CountProcessors() {
  cpu_set_t processors;
  CPU_ZERO(&processors);
  if (sched_getaffinity(0, sizeof processors, &processors) == 0 && CPU_COUNT(&processors) > 0) {
    return static_cast<std::size_t>(CPU_COUNT(&processors));
  }
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<std::size_t>(online) : 1;
}

void DescribeEnd(ChildEnd end, unsigned long code, char* text, std::size_t size) {
  static const Named kSignals[] = {
      {SIGSEGV, "SIGSEGV"}, {SIGBUS, "SIGBUS"},   {SIGILL, "SIGILL"},   {SIGFPE, "SIGFPE"},
      {SIGABRT, "SIGABRT"}, {SIGTRAP, "SIGTRAP"}, {SIGSYS, "SIGSYS"},   {SIGKILL, "SIGKILL"},
      {SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"},   {SIGQUIT, "SIGQUIT"}, {SIGPIPE, "SIGPIPE"},
      {SIGHUP, "SIGHUP"},   {SIGXCPU, "SIGXCPU"}, {SIGXFSZ, "SIGXFSZ"},
  };
  if (end != ChildEnd::kDied) {
    std::snprintf(text, size, "exit status %lu", code);
    return;
  }
  const char* name = Find(kSignals, code);
  std::snprintf(text, size, "signal %lu%s%s%s", code, name != nullptr ? " (" : "",
                name != nullptr ? name : "", name != nullptr ? ")" : "");
}

void DescribeError(unsigned long code, char* text, std::size_t size) {
  std::snprintf(text, size, "%s", std::strerror(static_cast<int>(code)));
}

std::FILE* TakeTrialChannel() {
  std::fflush(stdout);
  const int channel = dup(STDOUT_FILENO);
  dup2(STDERR_FILENO, STDOUT_FILENO);
  return channel < 0 ? nullptr : fdopen(channel, "wb");
}

void SetEnvironment(const char* name, const char* value) {
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

}  // namespace platform

#endif
