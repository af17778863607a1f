#include "process.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// Appends a block to a growing answer; false, with the answer dropped, when memory runs out (the
// caller then reads no answer).
bool Append(ChildResult* result, const char* block, std::size_t size) {
  char* grown = static_cast<char*>(std::realloc(result->answer, result->answerSize + size));
  if (grown == nullptr) {
    std::free(result->answer);
    result->answer = nullptr;
    result->answerSize = 0;
    return false;
  }
  std::memcpy(grown + result->answerSize, block, size);
  result->answer = grown;
  result->answerSize += size;
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

// A temporary file that the child inherits, and that goes when its last handle closes.
HANDLE CreateChannel() {
  wchar_t folder[MAX_PATH + 1];
  wchar_t path[MAX_PATH + 1];
  if (GetTempPathW(MAX_PATH + 1, folder) == 0 || GetTempFileNameW(folder, L"mvq", 0, path) == 0) {
    return INVALID_HANDLE_VALUE;
  }
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  return CreateFileW(path, GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherited,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

void ReadAll(HANDLE channel, ChildResult* result) {
  SetFilePointer(channel, 0, nullptr, FILE_BEGIN);
  char block[4096];
  DWORD size = 0;
  while (ReadFile(channel, block, sizeof block, &size, nullptr) && size > 0 &&
         Append(result, block, size)) {
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

}  // namespace

void PrepareToStartChildren() { SetErrorMode(kQuietErrorMode); }

ChildResult RunThisProgram(int count, char** arguments, double seconds, bool showErrors) {
  ChildResult result{ChildEnd::kNotStarted, 0, nullptr, 0};
  wchar_t* commandLine = CommandLine(count, arguments);
  // The answer goes to a temporary file, read when the child has ended: it may be longer than a
  // pipe holds, and a child that stops writing half-way must not stop this process.
  HANDLE channel = CreateChannel();
  if (commandLine == nullptr || channel == INVALID_HANDLE_VALUE) {
    result.code = GetLastError();
    std::free(commandLine);
    if (channel != INVALID_HANDLE_VALUE) {
      CloseHandle(channel);
    }
    return result;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = Inheritable(nullptr);
  startup.hStdOutput = channel;
  startup.hStdError = Inheritable(showErrors ? GetStdHandle(STD_ERROR_HANDLE) : nullptr);

  // The child runs in a job of its own, which ends with everything in it when its last handle
  // closes: after the trial, and when this process ends, however it ends.
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job != nullptr) {
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }
  PROCESS_INFORMATION process{};
  if (CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                     nullptr, &startup, &process)) {
    const bool inJob = job != nullptr && AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    const double milliseconds = std::ceil(seconds * 1000);
    const DWORD limit = milliseconds < INFINITE ? static_cast<DWORD>(milliseconds) : INFINITE - 1;
    if (WaitForSingleObject(process.hProcess, limit) == WAIT_TIMEOUT) {
      if (!inJob || !TerminateJobObject(job, 1)) {
        TerminateProcess(process.hProcess, 1);
      }
      WaitForSingleObject(process.hProcess, INFINITE);
      result.end = ChildEnd::kTimedOut;
    } else {
      DWORD code = 0;
      GetExitCodeProcess(process.hProcess, &code);
      result.code = code;
      result.end = IsException(code) ? ChildEnd::kDied : ChildEnd::kExited;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    ReadAll(channel, &result);
  } else {
    result.code = GetLastError();
  }
  if (job != nullptr) {
    CloseHandle(job);
  }
  CloseHandle(startup.hStdInput);
  CloseHandle(channel);
  CloseHandle(startup.hStdError);
  std::free(commandLine);
  return result;
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
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <ctime>

namespace platform {
namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

double Now() {
  std::timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + (static_cast<double>(now.tv_nsec) / 1e9);
}

// Waits until the child has ended, without reaping it, so that its process group stays its own
// until the rest of the group is ended too. False when `seconds` pass first, or when an ending
// signal arrives, which `ending` then holds. The signals waited for are blocked, and taken here.
bool WaitForEnd(pid_t child, double seconds, const sigset_t& waited, int* ending) {
  const double deadline = Now() + seconds;
  for (;;) {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == child) {
      return true;
    }
    const double left = deadline - Now();
    if (left <= 0) {
      return false;
    }
    const double whole = std::floor(left);
    const std::timespec wait{static_cast<std::time_t>(whole),
                             static_cast<long>((left - whole) * 1e9)};
    const int received = sigtimedwait(&waited, nullptr, &wait);
    if (received > 0 && received != SIGCHLD) {
      *ending = received;
      return false;
    }
  }
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

// Sends SIGKILL to every child of this process; whether it has any.
bool KillChildren() {
  DIR* processes = opendir("/proc");
  if (processes == nullptr) {
    return false;
  }
  const pid_t self = getpid();
  bool any = false;
  while (const dirent* entry = readdir(processes)) {
    if (entry->d_name[0] >= '1' && entry->d_name[0] <= '9' && ParentOf(entry->d_name) == self) {
      kill(static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10)), SIGKILL);
      any = true;
    }
  }
  closedir(processes);
  return any;
}

// Ends and reaps every child this process has once a trial's own child is reaped: what the
// trial left running, in its group or out of it (setsid), came to this process, its subreaper,
// when its parent ended. A process ended here may leave children of its own, which come here
// when it ends: so again, until none is left. Never waits for a child it has not sent SIGKILL,
// and gives up on one that does not end within seconds (it hangs in the system).
void EndLeftovers() {
  sigset_t childSignal;
  sigemptyset(&childSignal);
  sigaddset(&childSignal, SIGCHLD);
  for (const double deadline = Now() + 10; Now() < deadline;) {
    const bool any = KillChildren();
    pid_t reaped = 0;
    while ((reaped = waitpid(-1, nullptr, WNOHANG)) > 0) {
    }
    if (reaped < 0 || !any) {
      return;
    }
    const std::timespec wait{0, 10000000};
    sigtimedwait(&childSignal, nullptr, &wait);
  }
}

void ReadAll(std::FILE* channel, ChildResult* result) {
  if (std::fseek(channel, 0, SEEK_SET) != 0) {
    return;
  }
  char block[4096];
  // A short block is the last: the stream is at its end (or failed), and is read no further.
  for (std::size_t size = sizeof block; size == sizeof block;) {
    size = std::fread(block, 1, sizeof block, channel);
    if (size > 0 && !Append(result, block, size)) {
      return;
    }
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

ChildResult RunThisProgram(int count, char** arguments, double seconds, bool showErrors) {
  ChildResult result{ChildEnd::kNotStarted, 0, nullptr, 0};
  // The program's own file, with the arguments after it.
  char self[] = "/proc/self/exe";
  char* argv[16] = {self};
  if (count < 0 || count >= static_cast<int>(sizeof argv / sizeof argv[0]) - 1) {
    result.code = E2BIG;
    return result;
  }
  for (int i = 0; i < count; ++i) {
    argv[i + 1] = arguments[i];
  }

  // The answer goes to a temporary file, read when the child has ended: it may be longer than a
  // pipe holds, and a child that stops writing half-way must not stop this process. A pipe that
  // closes when the program starts carries the error number where it cannot start.
  std::FILE* channel = std::tmpfile();
  const int nowhere = open("/dev/null", O_RDWR | O_CLOEXEC);
  int started[2] = {-1, -1};
  if (channel == nullptr || nowhere < 0 || pipe2(started, O_CLOEXEC) != 0) {
    result.code = static_cast<unsigned long>(errno);
    if (channel != nullptr) {
      std::fclose(channel);
    }
    if (nowhere >= 0) {
      close(nowhere);
    }
    return result;
  }
  // The signals that end this process are taken while a child runs, so that the child and all it
  // started are ended first.
  sigset_t waited;
  sigset_t previous;
  sigemptyset(&waited);
  sigaddset(&waited, SIGCHLD);
  for (const int signal : kEndingSignals) {
    sigaddset(&waited, signal);
  }
  sigprocmask(SIG_BLOCK, &waited, &previous);
  std::fflush(nullptr);
  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child == 0) {
    // A process group of its own, which a time limit ends whole; and the child ends with this
    // process, should this one end first.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) {
      _exit(EXIT_FAILURE);
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    dup2(nowhere, STDIN_FILENO);
    dup2(fileno(channel), STDOUT_FILENO);
    if (!showErrors) {
      dup2(nowhere, STDERR_FILENO);
    }
    execv(argv[0], argv);
    const int error = errno;
    (void)!write(started[1], &error, sizeof error);
    _exit(EXIT_FAILURE);
  }
  close(started[1]);
  int error = 0;
  if (child < 0) {
    result.code = static_cast<unsigned long>(errno);
  } else if (read(started[0], &error, sizeof error) == sizeof error) {
    waitpid(child, nullptr, 0);
    result.code = static_cast<unsigned long>(error);
  } else {
    setpgid(child, child);  // (also here, so that it is so before the group is ended)
    int ending = 0;
    const bool ended = WaitForEnd(child, seconds, waited, &ending);
    kill(-child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    EndLeftovers();
    if (ending != 0) {
      EndBy(ending);
    }
    if (!ended) {
      result.end = ChildEnd::kTimedOut;
    } else if (WIFSIGNALED(status)) {
      result.end = ChildEnd::kDied;
      result.code = static_cast<unsigned long>(WTERMSIG(status));
    } else {
      result.end = ChildEnd::kExited;
      result.code = static_cast<unsigned long>(WEXITSTATUS(status));
    }
    ReadAll(channel, &result);
  }
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  close(started[0]);
  close(nowhere);
  std::fclose(channel);
  return result;
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
