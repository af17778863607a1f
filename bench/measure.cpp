// Runs two commands alternately and reports the median wall time and peak memory of each, and
// the median of the per-pair ratios of the first to the second, which holds when the machine's
// speed drifts during the run.
//
//   measure PAIRS NAME_A COMMAND_A... -- NAME_B COMMAND_B...
//
// Both commands write their output to /dev/null. One warm-up pair runs first and is not counted.

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
    dup2(null, STDOUT_FILENO);
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

int main(int argc, char** argv) {
  std::vector<char*> a;
  std::vector<char*> b;
  std::vector<char*>* current = &a;
  for (int i = 2; i < argc; ++i) {
    if (std::string(argv[i]) == "--") {
      current = &b;
    } else {
      current->push_back(argv[i]);
    }
  }
  const long pairs = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 0;
  if (pairs < 1 || a.size() < 2 || b.size() < 2) {
    std::fprintf(stderr, "usage: measure PAIRS NAME_A COMMAND_A... -- NAME_B COMMAND_B...\n");
    return 2;
  }
  const std::string nameA = a.front();
  const std::string nameB = b.front();
  a.erase(a.begin());
  b.erase(b.begin());
  a.push_back(nullptr);
  b.push_back(nullptr);

  std::vector<double> timeA;
  std::vector<double> timeB;
  std::vector<double> memoryA;
  std::vector<double> memoryB;
  std::vector<double> timeRatio;
  std::vector<double> memoryRatio;
  for (long pair = -1; pair < pairs; ++pair) {
    Sample sampleA{};
    Sample sampleB{};
    // Alternate which goes first, so that neither always runs on a warmer machine.
    const bool aFirst = pair % 2 == 0;
    if (!(aFirst ? RunOnce(a, &sampleA) && RunOnce(b, &sampleB)
                 : RunOnce(b, &sampleB) && RunOnce(a, &sampleA))) {
      return 1;
    }
    if (pair < 0) {
      continue;
    }
    timeA.push_back(sampleA.seconds);
    timeB.push_back(sampleB.seconds);
    memoryA.push_back(sampleA.peakMiB);
    memoryB.push_back(sampleB.peakMiB);
    timeRatio.push_back(sampleA.seconds / sampleB.seconds);
    memoryRatio.push_back(sampleA.peakMiB / sampleB.peakMiB);
  }
  std::printf("  %-14s %9.2f ms %9.1f MiB\n", nameA.c_str(), Median(timeA) * 1e3, Median(memoryA));
  std::printf("  %-14s %9.2f ms %9.1f MiB\n", nameB.c_str(), Median(timeB) * 1e3, Median(memoryB));
  std::printf("  %-14s %9.3f    %9.3f      (median of %ld per-pair ratios)\n", "ratio",
              Median(timeRatio), Median(memoryRatio), pairs);
  return 0;
}
