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
#include <utility>
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

platform::Child* StartChild(std::vector<std::string> arguments, double seconds) {
  std::vector<char*> pointers;
  for (std::string& argument : arguments) {
    pointers.push_back(argument.data());
  }
  platform::ChildResult notStarted{};
  return platform::StartThisProgram(static_cast<int>(pointers.size()), pointers.data(), seconds,
                                    false, &notStarted);
}

platform::ChildResult RunChild(std::vector<std::string> arguments, double seconds = 20) {
  platform::Child* child = StartChild(std::move(arguments), seconds);
  platform::ChildResult result{};
  EXPECT_EQ(platform::WaitForChild(&child, 1, &result), 0U);
  return result;
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

TEST(Children, HandBackHowTheyEndedAndAllTheyAnswered) {
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

TEST(Children, EndAllATrialStartedWhenItEnds) {
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

// Children side by side: each ends by its own time limit, and the first to end is handed back
// first; what one leaves behind when it ends is ended then (out of its group, where this process
// inherits it), and what a running one started is left to it; the one ended before it ends goes
// with all it started.
TEST(Children, RunSideBySide) {
  const std::string hanging = Temporary();
  const std::string ended = Temporary();
  const std::string dropped = Temporary();
  platform::Child* children[3] = {
      StartChild({"--child=hangs", hanging}, 3),
      StartChild({Inherits() ? "--child=escapes" : "--child=group", ended}, 20),
      StartChild({"--child=hangs", dropped}, 20)};
  for (int i = 0; i < 1000 && (Ids(hanging).size() < 2 || Ids(dropped).size() < 2); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  platform::ChildResult result{};
  ASSERT_EQ(platform::WaitForChild(children, 3, &result), 1U);
  EXPECT_EQ(result.end, platform::ChildEnd::kExited);
  EXPECT_EQ(children[1], nullptr);
  for (const long id : Ids(dropped)) {
    EXPECT_FALSE(Gone(id)) << "process " << id << " of a running child";
  }
  platform::EndChild(children, 3, 2);
  EXPECT_EQ(children[2], nullptr);
  ASSERT_EQ(platform::WaitForChild(children, 3, &result), 0U);
  EXPECT_EQ(result.end, platform::ChildEnd::kTimedOut);
  for (const std::string& file : {hanging, ended, dropped}) {
    for (const long id : Ids(file)) {
      EXPECT_TRUE(Gone(id)) << file << ": process " << id << " is left";
    }
    std::remove(file.c_str());
  }
}

// A caller that runs two trials that hang, ended by a signal once each has started a process: the
// caller ends by that signal, and the trials and what they started with it; but for SIGKILL,
// which no process can take, where only the trials end (their parent-death signal), and what
// they started is left to whoever inherits it.
TEST(Children, ASignalToTheCallerEndsTheTrial) {
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
    const std::string file = Temporary();
    const pid_t caller = fork();
    if (caller == 0) {
      for (const int ending : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(ending, SIG_DFL);  // (not ignored, as a shell may start a test)
      }
      platform::PrepareToStartChildren();
      platform::Child* children[2] = {StartChild({"--child=hangs", file}, 60),
                                      StartChild({"--child=hangs", file}, 60)};
      platform::ChildResult result{};
      platform::WaitForChild(children, 2, &result);
      _exit(0);
    }
    for (int i = 0; i < 1000 && Ids(file).size() < 4; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(caller, signal);
    int status = 0;
    waitpid(caller, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
    // Each trial's id, then the one of the process it started.
    const std::vector<long> ids = Ids(file);
    ASSERT_EQ(ids.size(), 4U);
    for (std::size_t trial = 0; trial < ids.size(); trial += 2) {
      for (int i = 0; i < 500 && !Gone(ids[trial]); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      EXPECT_TRUE(Gone(ids[trial])) << "signal " << signal << ": a trial outlived its caller";
      EXPECT_TRUE(signal == SIGKILL || Gone(ids[trial + 1]))
          << "signal " << signal << ": a process a trial started";
      if (signal == SIGKILL) {
        kill(static_cast<pid_t>(ids[trial + 1]), SIGKILL);
      }
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
