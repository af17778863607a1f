#ifndef MORVANTIQUELL_TESTS_PROGRAM_RUNNER_H
#define MORVANTIQUELL_TESTS_PROGRAM_RUNNER_H

#include <string>
#include <utility>
#include <vector>

// Where the child's standard output goes: kIntoError shares the standard-error file, so that the
// order of what reached each stream shows.
enum class StandardOutput { kCaptured, kIntoError, kDevFull, kClosed };

struct ProgramRun {
  std::vector<std::string> command;  // launcher words, program, arguments
  std::vector<std::pair<std::string, std::string>> environment;  // set on top of ours
  StandardOutput output = StandardOutput::kCaptured;
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

// Takes the value of OPTION=VALUE into `value`; false when the argument is not that option.
bool TakeOption(const std::string& argument, const char* option, std::string* value);

#endif
