#ifndef MORVANTIQUELL_PLATFORM_PROCESS_H
#define MORVANTIQUELL_PLATFORM_PROCESS_H

// Child processes for the check program: each trial runs in a child of its own, so that a layer
// that crashes or hangs costs that trial and nothing else, and several run at once. Starting
// one, waiting for the first to end or overrun its time limit and reading how it ended are the
// same calls on every system. Like the rest of the
// programs, this needs nothing of the C++ runtime: only the C library and the system.

#include <cstddef>
#include <cstdio>

namespace platform {

// How a child ended. Each end is a value the caller reads, not an error path.
enum class ChildEnd {
  kExited,      // it returned or called exit: code is its exit status
  kDied,        // a signal ended it (code: the signal's number), or an exception (code: its code)
  kTimedOut,    // it overran its time limit, and it and all it started were ended
  kNotStarted,  // it could not be started: code is the system's error number
};

struct ChildResult {
  ChildEnd end;
  unsigned long code;
  char* answer;  // all it wrote to its channel (TakeTrialChannel), from malloc; null if nothing
  std::size_t answerSize;
  char* errors;  // all it wrote to standard error, where kept (StartThisProgram); from malloc
  std::size_t errorsSize;
};

// A child started and not yet ended.
struct Child;

// The most children WaitForChild waits for at once.
constexpr std::size_t kMostChildren = 64;

// Readies this process to start children: Windows shows no error dialog for a crashing child
// (which inherits the setting); on Linux the system reaps no child before it is waited for, and
// this process inherits what a child leaves running (a subreaper), so as to end it.
void PrepareToStartChildren();

// Starts this program again with the `count` arguments, to end within `seconds`; null where it
// cannot be started, and then `*notStarted` says why. The child sees this process's environment
// as it is now. Its standard error is kept for its result where `keepErrors`, else goes nowhere;
// its standard input is empty. The arguments may hold no space or quote. Several may run at once.
Child* StartThisProgram(int count, char** arguments, double seconds, bool keepErrors,
                        ChildResult* notStarted);

// Waits until one of the `count` children (at most kMostChildren; every child started and not
// yet ended, null places skipped, at least one not null) ends or overruns its time limit, and
// hands back its place and how it ended and what it answered (the caller frees both texts); its
// place becomes null. It is ended together with everything it started, also what left its
// process group; and a child ends when this process does.
//
// On Linux an interrupt, SIGTERM or SIGHUP that arrives while children run ends them all and all
// they started, and then this process, by that signal (it does not return).
std::size_t WaitForChild(Child** children, std::size_t count, ChildResult* result);

// Ends the child at place `which` of the `count` children (as WaitForChild's) before it ends by
// itself, with everything it started, and frees it; its place becomes null.
void EndChild(Child** children, std::size_t count, std::size_t which);

// How many processors this process may run on, at least 1.
std::size_t CountProcessors();

// How a child ended, as a person reads it: "signal 11 (SIGSEGV)" on Linux, "exception
// 0xC0000005 (EXCEPTION_ACCESS_VIOLATION)" on Windows, for kDied; "exit status 3" for kExited.
void DescribeEnd(ChildEnd end, unsigned long code, char* text, std::size_t size);

// The system's words for an error number, as ChildResult gives one.
void DescribeError(unsigned long code, char* text, std::size_t size);

// In a child: the stream its answer goes to, which the parent reads. From here on the child's
// standard output goes to its standard error, so that nothing a layer prints mixes into the
// answer; and on Windows a crash ends the child with its exception code, without a dialog or a
// debugger.
std::FILE* TakeTrialChannel();

// Sets a variable of this process's environment, or removes it where `value` is null. The
// libraries it loads from then on, and the children it starts, see it.
void SetEnvironment(const char* name, const char* value);

}  // namespace platform

#endif
