#include "TestSupport.h"
#include "ui/QtUserInterfaceThreadUnit.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

using namespace std::chrono_literals;

TDeadline In(std::chrono::milliseconds span) {
  return std::chrono::steady_clock::now() + span;
}

TEST(QtUserInterfaceThread, RunsHandOffsFromOtherThreadsInOrderWhileServing) {
  TQtUserInterfaceThread uiThread;
  std::vector<int> order;
  std::atomic<bool> finished{false};
  std::string failure;
  std::thread source([&] {
    for (int i = 0; i < 100; ++i)
      PostToUserInterfaceThread([&order, i] { order.push_back(i); });
    RunOnUserInterfaceThread([&] { order.push_back(100); });
    try {
      RunOnUserInterfaceThread([] { throw std::runtime_error("refused"); });
    } catch (const std::runtime_error& raised) {
      failure = raised.what();
    }
    finished = true;
    WakeUserInterfaceThread();
  });
  EXPECT_TRUE(uiThread.ServeUntil([&] { return finished.load(); }, In(test::Patience)));
  source.join();
  ASSERT_EQ(order.size(), 101U);
  for (int i = 0; i <= 100; ++i)
    EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
  EXPECT_EQ(failure, "refused");
}

// A box opened by one piece of work runs a loop of its own; what is handed over meanwhile must
// still run, or a source waiting for it would hang until the box is closed.
TEST(QtUserInterfaceThread, WorkQueuedBehindWaitingWorkRunsInTheNestedLoop) {
  TQtUserInterfaceThread uiThread;
  std::atomic<bool> secondRan{false};
  bool nestedSawSecond = false;
  bool firstDone = false;
  PostToUserInterfaceThread([&] {
    nestedSawSecond = uiThread.ServeUntil([&] { return secondRan.load(); }, In(test::Patience));
    firstDone = true;
  });
  PostToUserInterfaceThread([&] { secondRan = true; });
  EXPECT_TRUE(uiThread.ServeUntil([&] { return firstDone; }, In(test::Patience)));
  EXPECT_TRUE(nestedSawSecond);
}

TEST(QtUserInterfaceThread, ServeUntilEndsAtItsDeadlineOrWhenWokenForItsCondition) {
  TQtUserInterfaceThread uiThread;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(uiThread.ServeUntil([] { return false; }, In(20ms)));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 20ms);

  // Set without any hand-off once the loop waits for events: only the wake makes it look again,
  // long before its deadline.
  std::atomic<bool> flag{false};
  test::TQuietEvent waiting;
  const auto connection =
      QObject::connect(QAbstractEventDispatcher::instance(),
                       &QAbstractEventDispatcher::aboutToBlock, [&] { waiting.Set(); });
  std::thread setter([&] {
    if (!waiting.WaitFor())
      return;
    flag = true;
    WakeUserInterfaceThread();
  });
  const auto deadline = In(test::Patience);
  EXPECT_TRUE(uiThread.ServeUntil([&] { return flag.load(); }, deadline));
  EXPECT_TRUE(std::chrono::steady_clock::now() < *deadline)
      << "the deadline, not the wake, ended it";
  setter.join();
  QObject::disconnect(connection);
}

TEST(QtUserInterfaceThread, FailuresOfPostedWorkGoToTheHandlerAndTheLoopGoesOn) {
  TQtUserInterfaceThread uiThread;
  std::vector<std::string> reported;
  uiThread.SetErrorHandler([&](const std::string& message) { reported.push_back(message); });
  bool after = false;
  PostToUserInterfaceThread([] { throw std::runtime_error("broken"); });
  PostToUserInterfaceThread([&] { after = true; });
  EXPECT_TRUE(uiThread.ServeUntil([&] { return after; }, In(test::Patience)));
  EXPECT_EQ(reported, std::vector<std::string>{"broken"});
}

TEST(QtUserInterfaceThread, HandOffsFailInsteadOfHangingOnceTheThreadIsGone) {
  auto uiThread = std::make_unique<TQtUserInterfaceThread>();
  std::atomic<bool> ran{false};
  std::string failure;
  std::thread source;
  {
    test::TPostWatcher watcher(*uiThread);
    source = std::thread([&] {
      try {
        RunOnUserInterfaceThread([&] { ran = true; });
      } catch (const std::runtime_error& raised) {
        failure = raised.what();
      }
    });
    // The hand-off is queued but never served; dropping the thread must release the source.
    EXPECT_TRUE(watcher.WaitForPost());
  }
  uiThread.reset();
  source.join();
  EXPECT_FALSE(ran);
  EXPECT_FALSE(failure.empty());
  EXPECT_FALSE(PostToUserInterfaceThread([] {}));
}

} // namespace
} // namespace ornavel
