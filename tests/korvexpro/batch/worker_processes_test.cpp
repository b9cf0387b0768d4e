// Worker processes of a batch: answers in the order asked, a process that ends, the wake that tells
// the batch a process runs out of requests, and no fork beside other threads.

#include "batch/worker_processes.h"

#include <poll.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Kvx::WorkerProcesses;

std::vector<pid_t> ChildProcesses() {
  std::ifstream in("/proc/self/task/" + std::to_string(::getpid()) + "/children");
  std::vector<pid_t> pids;
  for (pid_t pid = 0; in >> pid;) pids.push_back(pid);
  return pids;
}

// Answers "<request> from <pid>"; the request "end" ends the process at once, as a crash would.
std::string Answer(std::string_view request) {
  if (request == "end") ::_exit(3);
  return std::string(request) + " from " + std::to_string(::getpid());
}

// True when `fd` becomes readable within `ms` milliseconds.
bool Readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) == 1 && (p.revents & POLLIN) != 0;
}

class WorkerProcessesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Kvx::SingleThreaded()) GTEST_SKIP() << "this test process runs other threads: it forks no processes";
  }
};

TEST_F(WorkerProcessesTest, EachProcessAnswersInTheOrderAsked) {
  WorkerProcesses processes(2, Answer);
  ASSERT_EQ(processes.Count(), 2);
  for (int i = 0; i < 2; ++i) {
    for (int r = 0; r < 50; ++r) ASSERT_TRUE(processes.Send(i, "r" + std::to_string(r)));
  }
  std::vector<std::string> pids;
  for (int i = 0; i < 2; ++i) {
    for (int r = 0; r < 50; ++r) {
      const std::optional<std::string> answer = processes.Receive(i);
      ASSERT_TRUE(answer);
      const std::string prefix = "r" + std::to_string(r) + " from ";
      ASSERT_EQ(answer->substr(0, prefix.size()), prefix);
      if (r == 0) pids.push_back(answer->substr(prefix.size()));
    }
  }
  // Two processes, neither of them this one.
  EXPECT_NE(pids[0], pids[1]);
  EXPECT_NE(pids[0], std::to_string(::getpid()));
}

TEST_F(WorkerProcessesTest, AProcessThatEndsAnswersNothingMoreAndTheOtherGoesOn) {
  WorkerProcesses processes(2, Answer);
  ASSERT_EQ(processes.Count(), 2);
  ASSERT_TRUE(processes.Send(0, "before"));
  ASSERT_TRUE(processes.Send(0, "end"));
  EXPECT_TRUE(processes.Receive(0));
  EXPECT_FALSE(processes.Receive(0));
  // Its channel hung up: a send fails sooner or later (the first may still be taken in).
  bool refused = false;
  for (int r = 0; r < 100 && !refused; ++r) refused = !processes.Send(0, "after");
  EXPECT_TRUE(refused);
  ASSERT_TRUE(processes.Send(1, "still"));
  const std::optional<std::string> answer = processes.Receive(1);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->substr(0, 11), "still from ");
}

// A process wakes the batch when it has answered everything it was sent (and when one request is
// left), not for every answer.
TEST_F(WorkerProcessesTest, TheWakeComesWhenAProcessRunsOutOfRequests) {
  WorkerProcesses processes(1, [](std::string_view request) { return std::string(request); });
  ASSERT_EQ(processes.Count(), 1);
  EXPECT_FALSE(Readable(processes.WakeDescriptor(), 0));
  ASSERT_TRUE(processes.Send(0, "one"));
  EXPECT_TRUE(Readable(processes.WakeDescriptor(), 5000));
  processes.TakeWakes();
  EXPECT_FALSE(Readable(processes.WakeDescriptor(), 0));
  EXPECT_EQ(processes.Receive(0), "one");
  EXPECT_FALSE(Kvx::BytesWaiting(processes.Socket(0)));
}

TEST_F(WorkerProcessesTest, EveryProcessIsWaitedForWhenTheyGo) {
  {
    WorkerProcesses processes(3, Answer);
    ASSERT_EQ(processes.Count(), 3);
    EXPECT_EQ(ChildProcesses().size(), 3u);
    ASSERT_TRUE(processes.Send(2, "busy"));
  }
  EXPECT_TRUE(ChildProcesses().empty());
}

// A fork copies only the thread that forks, with whatever locks the others hold: beside another
// thread no process starts, and the batch uses threads.
TEST(WorkerProcessesBesideThreads, NoneStart) {
  std::promise<void> release;
  std::thread other([gate = release.get_future()]() mutable { gate.wait(); });
  EXPECT_FALSE(Kvx::SingleThreaded());
  {
    WorkerProcesses processes(2, Answer);
    EXPECT_EQ(processes.Count(), 0);
  }
  release.set_value();
  other.join();
}

}  // namespace
