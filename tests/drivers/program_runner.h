#ifndef MORVANTIQUELL_TESTS_PROGRAM_RUNNER_H
#define MORVANTIQUELL_TESTS_PROGRAM_RUNNER_H

#include <map>
#include <string>
#include <utility>
#include <vector>

// Where the child's standard output goes: kIntoError shares the standard-error file, so that the
// order of what reached each stream shows; kFullPipe is a pipe that takes nothing (it is full, and
// does not block) until the file `emptiedOnce` names exists, when it is emptied and then read as
// kCaptured is: a failure to write that clears.
enum class StandardOutput { kCaptured, kIntoError, kDevFull, kClosed, kFullPipe };

struct ProgramRun {
  std::vector<std::string> command;  // launcher words, program, arguments
  std::vector<std::pair<std::string, std::string>> environment;  // set on top of ours
  StandardOutput output = StandardOutput::kCaptured;
  std::string emptiedOnce;
};

struct ProgramResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or -1 when the child did not exit normally
};

// Runs the command to completion and collects what it wrote.
ProgramResult RunProgram(const ProgramRun& run);

// The whole content of a file, or an empty string when it cannot be read.
std::string ReadFile(const std::string& path);

// A fresh, empty folder for one test.
std::string MakeTemporaryFolder();

// Splits on whitespace: a command line kept in one string.
std::vector<std::string> SplitWords(const std::string& text);

// Reads a driver's arguments: each NAME=VALUE, or NAME alone (value "on"), with NAME one of
// `options`, whose value it takes. False, having said which, at the first that is none of them.
bool TakeOptions(int argc, char** argv, const std::map<std::string, std::string*>& options);

#endif
