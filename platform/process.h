#ifndef MORVANTIQUELL_PLATFORM_PROCESS_H
#define MORVANTIQUELL_PLATFORM_PROCESS_H

// Child processes for the check program: each trial runs in a child of its own, so that a layer
// that crashes or hangs costs that trial and nothing else. Starting one, waiting for it with a
// time limit and reading how it ended are the same calls on every system.

#include <cstdio>
#include <string>
#include <vector>

namespace platform {

// How a child ended. Each end is a value the caller reads, not an error path.
enum class ChildEnd {
  kExited,      // it returned or called exit: code is its exit status
  kDied,        // a signal ended it (code: the signal's number), or an exception (code: its code)
  kTimedOut,    // it overran its time limit, and it and all it started were ended
  kNotStarted,  // it could not be started: code is the system's error number
};

struct ChildResult {
  ChildEnd end = ChildEnd::kNotStarted;
  unsigned long code = 0;
  std::string answer;  // all it wrote to its channel (TakeTrialChannel)
};

// Readies this process to start children: Windows shows no error dialog for a crashing child
// (which inherits the setting), and a child that outlives us here is ended when we end.
void PrepareToStartChildren();

// Starts this program again with `arguments`, waits at most `seconds` for it and hands back how
// it ended and what it answered. A child that overruns is ended together with everything it
// started, and so is anything it leaves behind when it ends. Its standard error goes to ours
// where `showErrors`, else nowhere; its standard input is empty. Where the system cannot start
// the program's own file again (on Linux under an emulator such as qemu-user without
// binfmt_misc), the child is a copy of this process that calls `trial` with the arguments.
ChildResult RunThisProgram(const std::vector<std::string>& arguments, double seconds,
                           bool showErrors, int (*trial)(const std::vector<std::string>&));

// What a child died of, as a person reads it: "signal 11 (SIGSEGV)" on Linux, "exception
// 0xC0000005 (EXCEPTION_ACCESS_VIOLATION)" on Windows.
std::string DescribeDeath(unsigned long code);

// The system's words for an error number, as ChildResult gives one.
std::string DescribeError(unsigned long code);

// In a child: the stream its answer goes to, which the parent reads. From here on the child's
// standard output goes to its standard error, so that nothing a layer prints mixes into the
// answer; and on Windows a crash ends the child with its exception code, without a dialog or a
// debugger.
std::FILE* TakeTrialChannel();

// Sets a variable of this process's environment, which the libraries it loads from then on see.
void SetEnvironment(const char* name, const char* value);

}  // namespace platform

#endif
