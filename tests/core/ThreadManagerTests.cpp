#include "TestSupport.h"
#include "core/LogUnit.h"
#include "core/ThreadManagerUnit.h"

#include <atomic>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

using test::MakeThread;
using test::RunUntilTerminated;
using test::ServeUntil;
using test::TLambdaThread;

// A manager with a user-interface loop on the test's thread, stopped at the end of the test.
class ThreadManager : public testing::Test {
protected:
  void SetUp() override {
    Manager = TThread::Create<TThreadManager>(false);
    Manager->SetOnAllStopped([this](TThread& sender) {
      EXPECT_EQ(&sender, Manager.get());
      EXPECT_TRUE(OnUserInterfaceThread());
      ++Callbacks;
      RegisteredAtCallback = Manager->ThreadCount();
      AllFinishedAtCallback = true;
      for (const auto& source : Sources)
        AllFinishedAtCallback = AllFinishedAtCallback && source->Finished();
    });
  }

  void TearDown() override {
    Manager->Terminate();
    Manager->WaitFor();
  }

  std::shared_ptr<TLambdaThread> StartSource(std::function<void(TLambdaThread&)> body) {
    auto source = MakeThread(std::move(body));
    Manager->AddThread(source);
    source->Resume();
    Sources.push_back(source);
    return source;
  }

  void RestartAndWaitForCallback() {
    const int before = Callbacks;
    Manager->RequestRestart();
    ASSERT_TRUE(ServeUntil(Loop, [&] { return Callbacks > before; }));
  }

  TEventLoop Loop;
  std::shared_ptr<TThreadManager> Manager;
  std::vector<std::shared_ptr<TLambdaThread>> Sources;
  int Callbacks = 0;
  std::size_t RegisteredAtCallback = 99;
  bool AllFinishedAtCallback = false;
};

TEST_F(ThreadManager, RestartWithNoSourcesCallsBackAtOnce) {
  RestartAndWaitForCallback();
  EXPECT_EQ(Callbacks, 1);
  EXPECT_EQ(RegisteredAtCallback, 0u);
}

TEST_F(ThreadManager, RestartCallsBackOnlyWhenEverySourceHasFinishedAndLeft) {
  for (int i = 0; i < 3; ++i) {
    // Sources that take a while to notice the request.
    StartSource([](TLambdaThread& self) {
      RunUntilTerminated(self);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    });
  }
  EXPECT_EQ(Manager->ThreadCount(), 3u);
  RestartAndWaitForCallback();
  EXPECT_TRUE(AllFinishedAtCallback);
  EXPECT_EQ(RegisteredAtCallback, 0u);
}

TEST_F(ThreadManager, StopsMoreThanSixtyFourSources) {
  for (int i = 0; i < 100; ++i)
    StartSource(RunUntilTerminated);
  RestartAndWaitForCallback();
  EXPECT_TRUE(AllFinishedAtCallback);
  EXPECT_EQ(RegisteredAtCallback, 0u);
}

TEST_F(ThreadManager, TwoQuickRequestsGiveOneStopAndOneCallback) {
  std::atomic<bool> stopping{false};
  std::atomic<bool> release{false};
  StartSource([&](TLambdaThread& self) {
    RunUntilTerminated(self);
    stopping = true;
    while (!release)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  Manager->RequestRestart();
  ASSERT_TRUE(ServeUntil(Loop, [&] { return stopping.load(); }));
  Manager->RequestRestart(); // while the first stop waits
  release = true;
  ASSERT_TRUE(ServeUntil(Loop, [&] { return Callbacks == 1; }));
  // A second stop would call back within milliseconds; give it ample time to show itself.
  Loop.ServeUntil([&] { return Callbacks > 1; },
                  std::chrono::steady_clock::now() + std::chrono::milliseconds(200));
  EXPECT_EQ(Callbacks, 1);
}

TEST_F(ThreadManager, RegisteringTwiceLeavesOneEntry) {
  auto source = MakeThread(RunUntilTerminated);
  Manager->AddThread(source);
  Manager->AddThread(source);
  EXPECT_EQ(Manager->ThreadCount(), 1u);
  EXPECT_FALSE(source->FreeOnTerminate());
  source->Resume();
  Sources.push_back(source);
  RestartAndWaitForCallback();
  EXPECT_EQ(RegisteredAtCallback, 0u);
}

TEST_F(ThreadManager, SourceThatEndsByItselfLeavesTheRegistry) {
  auto quitter = StartSource([](TLambdaThread&) {});
  ASSERT_TRUE(ServeUntil(Loop, [&] { return Manager->ThreadCount() == 0; }));
  EXPECT_TRUE(ServeUntil(Loop, [&] { return quitter->Finished(); }));
  RestartAndWaitForCallback();
}

TEST_F(ThreadManager, TerminatingStopsEverySourceWithoutCallback) {
  for (int i = 0; i < 5; ++i)
    StartSource(RunUntilTerminated);
  Manager->Terminate();
  Manager->WaitFor(); // serves the sources' termination notices meanwhile
  for (const auto& source : Sources)
    EXPECT_TRUE(source->Finished());
  EXPECT_EQ(Manager->ThreadCount(), 0u);
  EXPECT_EQ(Callbacks, 0);
}

TEST_F(ThreadManager, FailedRestartIsReportedAndLaterRestartsAreServed) {
  TLog& log = GetLog();
  const std::size_t before = log.Count();
  int attempts = 0;
  std::shared_ptr<TLambdaThread> started;
  Manager->SetOnAllStopped([&](TThread&) {
    ++attempts;
    started = MakeThread(RunUntilTerminated);
    Manager->AddThread(started);
    started->Resume();
    if (attempts == 1)
      throw std::runtime_error("File /var/log/missing not found!");
    // Asked for once the sources are stopped (the settings dialog's OK can come then): served too.
    if (attempts == 2)
      Manager->RequestRestart();
  });
  Manager->RequestRestart();
  ASSERT_TRUE(ServeUntil(Loop, [&] { return log.Count() > before; }));
  const TLogItem report = log.GetItem(before);
  EXPECT_EQ(report.Text, "File /var/log/missing not found!");
  EXPECT_EQ(report.Level, TLogLevel::Exception);
  EXPECT_EQ(report.Source, nullptr);
  auto firstStarted = started;
  EXPECT_FALSE(firstStarted->Finished()); // the source that did start keeps running

  Manager->RequestRestart();
  ASSERT_TRUE(ServeUntil(Loop, [&] { return attempts == 3; }));
  EXPECT_TRUE(firstStarted->Finished());
  Sources.push_back(started);
}

TEST(ThreadManagerSingle, OnlyOneManagerIsAllowed) {
  TEventLoop loop;
  auto first = TThread::Create<TThreadManager>(true);
  try {
    TThread::Create<TThreadManager>(true);
    FAIL() << "a second manager was made";
  } catch (const std::logic_error& error) {
    EXPECT_STREQ(error.what(), "Only one thread manager allowed");
  }
  EXPECT_EQ(&GetThreadManager(), first.get()); // the accessor never makes a second one
}

TEST(ThreadManagerSingle, AccessorMakesOneRunningManager) {
  TEventLoop loop;
  TThreadManager& manager = GetThreadManager();
  EXPECT_EQ(&GetThreadManager(), &manager);
  EXPECT_TRUE(manager.Started());
  manager.Terminate();
  manager.WaitFor();
}

} // namespace
} // namespace ornavel
