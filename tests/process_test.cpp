// The calls that run the check's trials (platform/process.h), on Linux: how a child's end reads,
// its answer, and that nothing a trial started outlives it, whether it ends, overruns, or the
// caller is ended meanwhile. The children are this test program started again with --child=WHAT.

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "process.h"

namespace {

constexpr std::size_t kBigAnswer = 100000;  // more than a pipe holds

// Starts a process that sleeps, in this process group or (`leave`) out of it (setsid) with one
// more below it; once they are all there, adds the ids of this process and those to the file.
void StartSleepers(const char* file, bool leave) {
  int ready[2] = {-1, -1};
  (void)!pipe(ready);
  if (fork() == 0) {
    const pid_t below = leave && setsid() > 0 ? fork() : 1;
    if (below > 0) {
      std::FILE* ids = std::fopen(file, "a");
      std::fprintf(ids, "%ld %ld ", static_cast<long>(getppid()), static_cast<long>(getpid()));
      std::fprintf(ids, "%ld\n", leave ? static_cast<long>(below) : 0L);
      std::fclose(ids);
      (void)!write(ready[1], "", 1);
    }
    for (;;) {
      pause();
    }
  }
  char byte = 0;
  (void)!read(ready[0], &byte, 1);
}

// What a child does: WHAT [FILE].
int Child(const std::string& what, const char* file) {
  if (what == "answers") {
    std::FILE* channel = platform::TakeTrialChannel();
    std::puts("what a layer prints, which is no answer");
    for (std::size_t i = 0; i < kBigAnswer; ++i) {
      std::fputc('a' + static_cast<int>(i % 26), channel);
    }
    return std::fclose(channel) == 0 ? 0 : 1;
  }
  if (what == "exits") {
    return 3;
  }
  if (what == "group" || what == "escapes" || what == "hangs") {
    StartSleepers(file, what == "escapes");
  }
  while (what == "hangs") {
    pause();
  }
  return 0;
}

std::vector<long> Ids(const std::string& file) {
  std::ifstream ids(file);
  std::vector<long> read;
  for (long id = 0; ids >> id;) {
    if (id != 0) {
      read.push_back(id);
    }
  }
  return read;
}

// A process that is gone, or only waits to be reaped.
bool Gone(long pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  return !std::getline(stat, line) || line.find(") Z ") != std::string::npos;
}

platform::ChildResult RunChild(std::vector<std::string> arguments, double seconds = 20) {
  std::vector<char*> pointers;
  for (std::string& argument : arguments) {
    pointers.push_back(argument.data());
  }
  return platform::RunThisProgram(static_cast<int>(pointers.size()), pointers.data(), seconds,
                                  false);
}

std::string Temporary() {
  char name[] = "/tmp/process_test.XXXXXX";
  close(mkstemp(name));
  return name;
}

struct End {
  const char* child;
  double seconds;
  platform::ChildEnd end;
  unsigned long code;
  const char* description;
};

TEST(RunThisProgram, HandsBackHowTheChildEndedAndAllItAnswered) {
  const End ends[] = {
      {"answers", 20, platform::ChildEnd::kExited, 0, "exit status 0"},
      {"silent", 20, platform::ChildEnd::kExited, 0, "exit status 0"},
      {"exits", 20, platform::ChildEnd::kExited, 3, "exit status 3"},
      {"hangs", 0.5, platform::ChildEnd::kTimedOut, 0, nullptr},
  };
  for (const End& expected : ends) {
    const std::string ids = Temporary();
    const platform::ChildResult result =
        RunChild({std::string("--child=") + expected.child, ids}, expected.seconds);
    EXPECT_EQ(result.end, expected.end) << expected.child;
    EXPECT_EQ(result.code, expected.code) << expected.child;
    if (expected.description != nullptr) {
      char text[64];
      platform::DescribeEnd(result.end, result.code, text, sizeof text);
      EXPECT_STREQ(text, expected.description);
    }
    const std::size_t size = std::strcmp(expected.child, "answers") == 0 ? kBigAnswer : 0;
    ASSERT_EQ(result.answerSize, size) << expected.child;
    for (std::size_t i = 0; i < size; ++i) {
      ASSERT_EQ(result.answer[i], 'a' + static_cast<int>(i % 26)) << "at " << i;
    }
    std::free(result.answer);
    std::remove(ids.c_str());
  }
}

// Whether this process inherits what its children leave running: Linux allows it, qemu-user 7.2
// does not (EINVAL), and then what leaves a trial's group outlives it, and what the trial leaves
// in its group is reaped by another process.
bool Inherits() {
  int subreaper = 0;
  return prctl(PR_GET_CHILD_SUBREAPER, &subreaper) == 0 && subreaper != 0;
}

TEST(RunThisProgram, EndsAllATrialStartedWhenItEnds) {
  // In its group, out of it (setsid, and a process below that), and at a time limit.
  for (const char* child : {"group", "escapes", "hangs"}) {
    if (!Inherits() && std::strcmp(child, "escapes") == 0) {
      std::printf("not tried here: a process that leaves the trial's group (no subreaper)\n");
      continue;
    }
    const std::string ids = Temporary();
    const platform::ChildResult result = RunChild({std::string("--child=") + child, ids}, 2);
    std::free(result.answer);
    ASSERT_FALSE(Ids(ids).empty()) << child;
    for (const long id : Ids(ids)) {
      EXPECT_TRUE(Inherits() ? kill(static_cast<pid_t>(id), 0) == -1 && errno == ESRCH : Gone(id))
          << child << ": process " << id << " is left, or not reaped";
    }
    std::remove(ids.c_str());
  }
}

// A caller that runs a trial that hangs, ended by a signal once the trial has started a process:
// the caller ends by that signal, and the trial and what it started with it; but for SIGKILL,
// which no process can take, where only the trial ends (its parent-death signal), and what it
// started is left to whoever inherits it.
TEST(RunThisProgram, ASignalToTheCallerEndsTheTrial) {
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
    const std::string file = Temporary();
    const pid_t caller = fork();
    if (caller == 0) {
      for (const int ending : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(ending, SIG_DFL);  // (not ignored, as a shell may start a test)
      }
      platform::PrepareToStartChildren();
      std::free(RunChild({"--child=hangs", file}, 60).answer);
      _exit(0);
    }
    for (int i = 0; i < 1000 && Ids(file).size() < 2; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(caller, signal);
    int status = 0;
    waitpid(caller, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
    const std::vector<long> ids = Ids(file);
    ASSERT_EQ(ids.size(), 2U);
    for (int i = 0; i < 500 && !Gone(ids[0]); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(Gone(ids[0])) << "signal " << signal << ": the trial outlived its caller";
    EXPECT_TRUE(signal == SIGKILL || Gone(ids[1]))
        << "signal " << signal << ": a process it started";
    if (signal == SIGKILL) {
      kill(static_cast<pid_t>(ids[1]), SIGKILL);
    }
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    std::remove(file.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strncmp(argv[1], "--child=", 8) == 0) {
    return Child(argv[1] + 8, argc > 2 ? argv[2] : nullptr);
  }
  platform::PrepareToStartChildren();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
