#include "TestSupport.h"
#include "core/ThreadUnit.h"
#include "core/UserInterfaceThreadUnit.h"
#include "core/WakeEventUnit.h"

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

using test::MakeThread;
using test::RunUntilTerminated;
using test::TLambdaThread;

TEST(Thread, RunsWhenMadeRunningOrWhenResumed) {
  TEventLoop loop;
  std::atomic<int> runs{0};
  auto running = MakeThread([&](TLambdaThread&) { ++runs; }, false);
  running->WaitFor();
  EXPECT_EQ(runs, 1);

  auto suspended = MakeThread([&](TLambdaThread&) { ++runs; });
  EXPECT_FALSE(suspended->Started());
  suspended->WaitFor(); // nothing to wait for yet
  EXPECT_EQ(runs, 1);
  suspended->Resume();
  suspended->Resume(); // a second resume does not start it twice
  suspended->WaitFor();
  EXPECT_EQ(runs, 2);
  EXPECT_TRUE(suspended->Finished());
}

TEST(Thread, BodyEndsWhenTerminated) {
  TEventLoop loop;
  auto thread = MakeThread(RunUntilTerminated, false);
  EXPECT_FALSE(thread->Finished());
  thread->Terminate();
  thread->WaitFor();
  EXPECT_TRUE(thread->Finished());
  EXPECT_TRUE(thread->Handle()->IsSet());
}

TEST(Thread, TerminationNoticeRunsOnTheUserInterfaceThreadAfterTheBodyBeforeFinished) {
  TEventLoop loop;
  std::atomic<bool> bodyDone{false};
  bool noticeOnUserInterfaceThread = false;
  bool bodyDoneAtNotice = false;
  bool finishedAtNotice = true;
  auto thread = MakeThread([&](TLambdaThread&) { bodyDone = true; });
  thread->SetOnTerminate([&](TThread& sender) {
    noticeOnUserInterfaceThread = OnUserInterfaceThread();
    bodyDoneAtNotice = bodyDone;
    finishedAtNotice = sender.Finished();
  });
  thread->Resume();
  thread->WaitFor();
  EXPECT_TRUE(noticeOnUserInterfaceThread);
  EXPECT_TRUE(bodyDoneAtNotice);
  EXPECT_FALSE(finishedAtNotice);
}

TEST(Thread, HandOffRunsOnTheUserInterfaceThreadAndRaisesItsFailureInTheThread) {
  TEventLoop loop;
  std::vector<bool> onUserInterfaceThread;
  std::string failure;
  auto thread = MakeThread([&](TLambdaThread&) {
    for (int i = 0; i < 3; ++i)
      TThread::Synchronize([&] { onUserInterfaceThread.push_back(OnUserInterfaceThread()); });
    try {
      TThread::Synchronize([] { throw std::runtime_error("handler failed"); });
    } catch (const std::runtime_error& error) {
      failure = error.what();
    }
  });
  thread->Resume();
  thread->WaitFor(); // must keep serving the hand-offs, or this never returns
  EXPECT_EQ(onUserInterfaceThread, std::vector<bool>(3, true));
  EXPECT_EQ(failure, "handler failed");
}

TEST(Thread, FailureOfTheBodyEndsItQuietly) {
  TEventLoop loop;
  bool noticed = false;
  auto thread = MakeThread([](TLambdaThread&) { throw std::runtime_error("file vanished"); });
  thread->SetOnTerminate([&](TThread&) { noticed = true; });
  thread->Resume();
  thread->WaitFor();
  EXPECT_TRUE(noticed);
  ASSERT_TRUE(thread->FatalException());
  EXPECT_THROW(std::rethrow_exception(thread->FatalException()), std::runtime_error);
}

TEST(Thread, FreeOnTerminateKeepsTheThreadUntilItEndsThenFreesIt) {
  TEventLoop loop;
  std::atomic<bool> release{false};
  auto thread = MakeThread([&](TLambdaThread&) {
    while (!release)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  thread->SetFreeOnTerminate(true);
  thread->Resume();
  const std::weak_ptr<TLambdaThread> observer = thread;
  const auto handle = thread->Handle();
  thread.reset();
  EXPECT_FALSE(observer.expired());
  EXPECT_FALSE(handle->IsSet());
  release = true;
  handle->WaitFor();
  EXPECT_TRUE(observer.expired());
}

TEST(Thread, DroppingTheLastReferenceToARunningThreadTerminatesAndWaitsForIt) {
  TEventLoop loop;
  auto bodyEnded = std::make_shared<std::atomic<bool>>(false);
  auto thread = MakeThread([bodyEnded](TLambdaThread& self) {
    RunUntilTerminated(self);
    *bodyEnded = true;
  });
  thread->Resume();
  thread.reset();
  EXPECT_TRUE(*bodyEnded);
}

TEST(Thread, LastReferenceDroppedInItsOwnTerminationNoticeFreesItWithoutDeadlock) {
  TEventLoop loop;
  auto thread = MakeThread([](TLambdaThread&) {});
  const std::weak_ptr<TLambdaThread> observer = thread;
  const auto handle = thread->Handle();
  std::shared_ptr<TLambdaThread> holder = std::move(thread);
  holder->SetOnTerminate([&holder](TThread&) { holder.reset(); });
  holder->Resume();
  handle->WaitFor();
  EXPECT_TRUE(observer.expired());
}

TEST(Thread, FreeOnTerminateIsFixedOnceRunning) {
  TEventLoop loop;
  auto thread = MakeThread(RunUntilTerminated, false);
  EXPECT_THROW(thread->SetFreeOnTerminate(true), std::logic_error);
  EXPECT_NO_THROW(thread->SetFreeOnTerminate(false));
  thread->Terminate();
  thread->WaitFor();
}

TEST(Thread, OnlyThreadsMadeByCreateRun) {
  TLambdaThread loose([](TLambdaThread&) {});
  EXPECT_THROW(loose.Resume(), std::logic_error);
}

TEST(UserInterfaceThread, HandOffWithoutAUserInterfaceThreadFails) {
  std::string failure;
  std::thread worker([&] {
    try {
      RunOnUserInterfaceThread([] {});
    } catch (const std::runtime_error& error) {
      failure = error.what();
    }
  });
  worker.join();
  EXPECT_FALSE(failure.empty());
}

TEST(UserInterfaceThread, PendingHandOffFailsWhenTheLoopGoesAway) {
  std::atomic<bool> failed{false};
  std::atomic<bool> ran{false};
  std::thread worker;
  {
    TEventLoop loop;
    test::TPostWatcher watcher(loop);
    worker = std::thread([&] {
      try {
        RunOnUserInterfaceThread([&] { ran = true; });
      } catch (const std::runtime_error&) {
        failed = true;
      }
    });
    // Queued while the loop stands: a worker that found no loop at all would fail the same way.
    EXPECT_TRUE(watcher.WaitForPost());
  }
  worker.join();
  EXPECT_TRUE(failed);
  EXPECT_FALSE(ran);
}

TEST(EventLoop, ReportsFailuresOfPostedWorkAndGoesOn) {
  TEventLoop loop;
  std::vector<std::string> reported;
  loop.SetErrorHandler([&](const std::string& message) { reported.push_back(message); });
  bool later = false;
  loop.Post([] { throw std::runtime_error("File x not found!"); });
  loop.Post([&] { later = true; });
  loop.Post([&] { loop.Quit(); });
  loop.Run();
  EXPECT_EQ(reported, std::vector<std::string>{"File x not found!"});
  EXPECT_TRUE(later);
}

TEST(EventLoop, TimedWaitOnTheUserInterfaceThreadStillServes) {
  TEventLoop loop;
  TEvent served;
  std::thread poster([&] { RunOnUserInterfaceThread([&] { served.Set(); }); });
  EXPECT_TRUE(served.WaitFor(test::Patience));
  poster.join();
}

// A wait never ends before its deadline: part of a millisecond counts as a whole one.
TEST(PollTimeout, NeverEndsBeforeTheDeadlineAndStaysWithinZeroAndTheCap) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(100'500);
  const int waited = PollTimeoutMs(deadline);
  EXPECT_GE(std::chrono::steady_clock::now() + std::chrono::milliseconds(waited), deadline);
  EXPECT_EQ(PollTimeoutMs(deadline - std::chrono::seconds(1)), 0);
  EXPECT_EQ(PollTimeoutMs(deadline + std::chrono::hours(1), 250), 250);
}

} // namespace
} // namespace ornavel
