#include "program_runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

ProgramResult RunProgram(const ProgramRun& run) {
  const std::string folder = MakeTemporaryFolder();
  const std::string outPath = folder + "/out";
  const std::string errPath = folder + "/err";

  std::vector<std::string> arguments = run.command;
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);

  int full[2] = {-1, -1};
  if (run.output == StandardOutput::kFullPipe && pipe(full) == 0) {
    fcntl(full[1], F_SETFL, O_NONBLOCK);
    fcntl(full[0], F_SETFL, O_NONBLOCK);
    for (char block[4096] = {}; write(full[1], block, sizeof block) > 0;) {
    }
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    // A child that cannot set up its streams exits with 126, which no case expects.
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (err < 0 || dup2(err, STDERR_FILENO) < 0) {
      _exit(126);
    }
    if (run.output == StandardOutput::kClosed) {
      close(STDOUT_FILENO);
    } else if (run.output == StandardOutput::kIntoError) {
      dup2(err, STDOUT_FILENO);
    } else if (run.output == StandardOutput::kFullPipe) {
      dup2(full[1], STDOUT_FILENO);
    } else {
      const char* target = run.output == StandardOutput::kDevFull ? "/dev/full" : outPath.c_str();
      const int out = open(target, O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (out < 0 || dup2(out, STDOUT_FILENO) < 0) {
        _exit(126);
      }
    }
    // This process runs one thread, so the child may change its own environment before exec.
    for (const auto& [name, value] : run.environment) {
      setenv(name.c_str(), value.c_str(), 1);
    }
    execvp(argv[0], argv.data());
    std::perror(argv[0]);
    _exit(127);
  }

  ProgramResult result;
  int status = 0;
  if (full[1] >= 0) {
    close(full[1]);
    // Emptied once the file exists (what it held then is not the child's: it could write
    // nothing), then read until the child has ended.
    bool emptied = false;
    char block[4096];
    for (pid_t ended = 0; ended == 0;) {
      ended = waitpid(child, &status, WNOHANG);
      if (!emptied && access(run.emptiedOnce.c_str(), F_OK) == 0) {
        while (read(full[0], block, sizeof block) > 0) {
        }
        emptied = true;
      }
      for (ssize_t size = 0; emptied && (size = read(full[0], block, sizeof block)) > 0;) {
        result.out.append(block, static_cast<std::size_t>(size));
      }
      usleep(10000);
    }
    close(full[0]);
  } else {
    waitpid(child, &status, 0);
    result.out = ReadFile(outPath);
  }
  if (child > 0 && WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  }
  result.err = ReadFile(errPath);
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  rmdir(folder.c_str());
  return result;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string MakeTemporaryFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/morvantiquell-XXXXXX";
  return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

std::vector<std::string> SplitWords(const std::string& text) {
  std::istringstream stream(text);
  return {std::istream_iterator<std::string>(stream), std::istream_iterator<std::string>()};
}

bool TakeOptions(int argc, char** argv, const std::map<std::string, std::string*>& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const std::size_t equals = argument.find('=');
    const auto option = options.find(argument.substr(0, equals));
    if (option == options.end()) {
      std::fprintf(stderr, "unknown option: %s\n", argv[i]);
      return false;
    }
    *option->second = equals == std::string::npos ? "on" : argument.substr(equals + 1);
  }
  return true;
}
