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

// The entry a child runs, with the arguments it was started with (argv[0] is not among them).
using TrialEntry = int (*)(int count, char** arguments);

// Readies this process to start children: Windows shows no error dialog for a crashing child
// (which inherits the setting), and the system reaps no child before it is waited for.
void PrepareToStartChildren();

// Starts this program again with the `count` arguments, waits at most `seconds` for it and hands
// back how it ended and what it answered (the caller frees the answer). A child that overruns is
// ended together with everything it started, and so is anything it leaves behind when it ends;
// and a child ends when this process does. Its standard error goes to ours where `showErrors`,
// else nowhere; its standard input is empty. The arguments may hold no space or quote. Where the
// system cannot start the program's own file again (Linux under an emulator such as qemu-user
// without binfmt_misc), the child is a copy of this process that calls `trial` instead.
ChildResult RunThisProgram(int count, char** arguments, double seconds, bool showErrors,
                           TrialEntry trial);

// What a child died of, as a person reads it: "signal 11 (SIGSEGV)" on Linux, "exception
// 0xC0000005 (EXCEPTION_ACCESS_VIOLATION)" on Windows.
void DescribeDeath(unsigned long code, char* text, std::size_t size);

// The system's words for an error number, as ChildResult gives one.
void DescribeError(unsigned long code, char* text, std::size_t size);

// In a child: the stream its answer goes to, which the parent reads. From here on the child's
// standard output goes to its standard error, so that nothing a layer prints mixes into the
// answer; and on Windows a crash ends the child with its exception code, without a dialog or a
// debugger.
std::FILE* TakeTrialChannel();

// Sets a variable of this process's environment, which the libraries it loads from then on see.
void SetEnvironment(const char* name, const char* value);

}  // namespace platform

#endif
