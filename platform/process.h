#ifndef MORVANTIQUELL_PLATFORM_PROCESS_H
#define MORVANTIQUELL_PLATFORM_PROCESS_H

// Child processes for the check program: each trial runs in a child of its own, so that a layer
// that crashes or hangs costs that trial and nothing else. Starting one, waiting for it with a
// time limit and reading how it ended are the same calls on every system. Like the rest of the
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
};

// Readies this process to start children: Windows shows no error dialog for a crashing child
// (which inherits the setting); on Linux the system reaps no child before it is waited for, and
// this process inherits what a child leaves running (a subreaper), so as to end it.
void PrepareToStartChildren();

// Starts this program again with the `count` arguments, waits at most `seconds` for it and hands
// back how it ended and what it answered (the caller frees the answer). When it has ended, or
// overrun, it is ended together with everything it started, also what left its process group;
// and a child ends when this process does. Its standard error goes to ours where `showErrors`,
// else nowhere; its standard input is empty. The arguments may hold no space or quote.
//
// On Linux an interrupt, SIGTERM or SIGHUP that arrives meanwhile ends the child and all it
// started, and then this process, by that signal (it does not return).
ChildResult RunThisProgram(int count, char** arguments, double seconds, bool showErrors);

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
