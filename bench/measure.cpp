// Runs commands in turn, round after round, and reports the median wall time and peak memory of
// each, and the medians of the per-round ratios of the first command to each of the others, which
// hold when the machine's speed drifts during the run.
//
//   measure ROUNDS NAME_A COMMAND_A... -- NAME_B COMMAND_B... [-- NAME_C COMMAND_C...]
//
// Every command writes its output to /dev/null. One warm-up round runs first and is not counted;
// each round starts with a different command, so that none always runs on a warmer machine.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Sample {
  double seconds;
  double peakMiB;
};

bool RunOnce(std::vector<char*>& command, Sample* sample) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null < 0 || dup2(null, STDOUT_FILENO) < 0) {
      _exit(126);
    }
    execvp(command[0], command.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child) {
    return false;
  }
  const auto end = std::chrono::steady_clock::now();
  sample->seconds = std::chrono::duration<double>(end - start).count();
  sample->peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s exited with status %d\n", command[0],
                 WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return false;
  }
  return true;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

struct Command {
  std::string name;
  std::vector<char*> words;
  std::vector<Sample> samples;
};

int main(int argc, char** argv) {
  std::vector<Command> commands(1);
  for (int i = 2; i < argc; ++i) {
    if (std::string(argv[i]) == "--") {
      commands.emplace_back();
    } else if (commands.back().name.empty()) {
      commands.back().name = argv[i];
    } else {
      commands.back().words.push_back(argv[i]);
    }
  }
  const long rounds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 0;
  const bool complete = std::all_of(commands.begin(), commands.end(),
                                    [](const Command& command) { return !command.words.empty(); });
  if (rounds < 1 || commands.size() < 2 || !complete) {
    std::fprintf(stderr,
                 "usage: measure ROUNDS NAME_A COMMAND_A... -- NAME_B COMMAND_B... [-- ...]\n");
    return 2;
  }
  for (Command& command : commands) {
    command.words.push_back(nullptr);
  }

  const std::size_t count = commands.size();
  for (long round = -1; round < rounds; ++round) {
    for (std::size_t turn = 0; turn < count; ++turn) {
      Command& command = commands[(static_cast<std::size_t>(round + 1) + turn) % count];
      Sample sample{};
      if (!RunOnce(command.words, &sample)) {
        return 1;
      }
      if (round >= 0) {
        command.samples.push_back(sample);
      }
    }
  }

  using Field = double Sample::*;  // seconds or peakMiB
  const auto median = [](const Command& command, Field field) {
    std::vector<double> values;
    values.reserve(command.samples.size());
    for (const Sample& sample : command.samples) {
      values.push_back(sample.*field);
    }
    return Median(values);
  };
  const auto medianRatio = [](const Command& a, const Command& b, Field field) {
    std::vector<double> ratios;
    ratios.reserve(a.samples.size());
    for (std::size_t i = 0; i < a.samples.size(); ++i) {
      ratios.push_back(a.samples[i].*field / b.samples[i].*field);
    }
    return Median(ratios);
  };
  for (const Command& command : commands) {
    std::printf("  %-28s %9.2f ms %9.1f MiB\n", command.name.c_str(),
                median(command, &Sample::seconds) * 1e3, median(command, &Sample::peakMiB));
  }
  const Command& subject = commands.front();
  for (std::size_t i = 1; i < count; ++i) {
    const std::string name = subject.name + " / " + commands[i].name;
    std::printf("  %-28s %9.3f    %9.3f      (medians of %ld per-round ratios)\n", name.c_str(),
                medianRatio(subject, commands[i], &Sample::seconds),
                medianRatio(subject, commands[i], &Sample::peakMiB), rounds);
  }
  return 0;
}
