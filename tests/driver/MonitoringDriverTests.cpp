#include "TestSupport.h"
#include "config/ConfigUnit.h"
#include "core/LogUnit.h"
#include "core/ThreadManagerUnit.h"
#include "driver/MonitoringDriverUnit.h"

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

using test::ServeUntil;

// Stands in for a real source: posts that it runs, then keeps posting or handing work to the
// user-interface thread until it is told to terminate.
class TFakeSource final : public TSourceThread {
public:
  TFakeSource(TMonitorType type, std::string name, bool busy)
      : TSourceThread(GetLog()), FType(type), FName(std::move(name)), FBusy(busy) {}

  TMonitorType MonitorType() const override { return FType; }
  const std::string& Name() const { return FName; }
  bool Running() const { return FRunning; }

protected:
  void Execute() override {
    GetLog().AddLine(this, FName + " runs");
    FRunning = true;
    while (!Terminated()) {
      if (FBusy) {
        GetLog().AddLine(this, FName + " busy");
        Synchronize([] {});
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
  }

private:
  const TMonitorType FType;
  const std::string FName;
  const bool FBusy;
  std::atomic<bool> FRunning{false};
};

class MonitoringDriver : public testing::Test {
protected:
  void TearDown() override {
    Driver.StopMonitoring();
    TMonitoringDriver::DestroySingleObjects();
  }

  // Files and syslog; the other kinds have no maker, as in this build.
  TSourceFactory Factory() {
    TSourceFactory factory;
    factory.SetMaker(mtFile, [this](const std::string& name) {
      if (name.starts_with("missing"))
        throw std::runtime_error(Format("File %s not found!", name));
      return Make(mtFile, name);
    });
    factory.SetMaker(mtSyslog, [this](const std::string&) { return Make(mtSyslog, "syslog"); });
    return factory;
  }

  std::shared_ptr<TSourceThread> Make(TMonitorType type, const std::string& name) {
    auto source = TThread::Create<TFakeSource>(true, type, name, Busy);
    std::lock_guard lock(SourcesLock);
    Sources.push_back(source);
    return source;
  }

  void Configure(const std::vector<std::string>& files, bool syslog, bool unavailable = false) {
    TMainConfig& config = GetConfig();
    for (const std::string& file : files)
      config.MonitorFilenames().Add(file);
    config.SetMonitorSyslog(syslog);
    config.SetMonitorEventLog(unavailable);
    config.SetOutputDebugString(unavailable);
  }

  // The driver's own lines, in log order.
  static std::vector<std::string> DriverLines() {
    std::vector<std::string> lines;
    for (std::size_t index = 0; index < GetLog().Count(); ++index) {
      const TLogItem item = GetLog().GetItem(index);
      if (item.Source == nullptr)
        lines.push_back(item.Text);
    }
    return lines;
  }

  std::vector<std::shared_ptr<TFakeSource>> SourcesNow() {
    std::lock_guard lock(SourcesLock);
    return Sources;
  }

  bool AllRunning(std::size_t count) {
    const auto sources = SourcesNow();
    if (sources.size() != count)
      return false;
    for (const auto& source : sources) {
      if (!source->Running())
        return false;
    }
    return true;
  }

  TEventLoop Loop;
  bool Busy = false;
  TMonitoringDriver Driver{Factory()};
  std::mutex SourcesLock;
  std::vector<std::shared_ptr<TFakeSource>> Sources;
};

TEST_F(MonitoringDriver, NothingConfiguredLeavesTheFirstLineAlone) {
  Driver.StartUp(nullptr);
  EXPECT_EQ(DriverLines(), std::vector<std::string>{"Starting up.."});
  EXPECT_EQ(GetThreadManager().ThreadCount(), 0u);
}

TEST_F(MonitoringDriver, TheLogHoldsAtMostMaxLinesFromTheSettings) {
  GetConfig().WriteValue("MaxLines", std::string("1000"));
  Driver.StartUp(nullptr);
  for (int line = 0; line < 2000; ++line)
    GetLog().AddLine(nullptr, "line");
  EXPECT_LE(GetLog().Count(), 1000u);
  EXPECT_GT(GetLog().Count(), 900u);
}

TEST_F(MonitoringDriver, AnnouncesAndStartsEachSourceInSettingsOrder) {
  Configure({"/logs/a", "/logs/b"}, true, true);
  std::mutex notifiedLock; // sources notify from their own threads
  std::vector<std::string> notified;
  Driver.StartUp([&](TLogLevel, std::string_view text) {
    std::lock_guard lock(notifiedLock);
    notified.emplace_back(text);
  });
  // Switches of kinds this build lacks start nothing, but say so.
  const std::vector<std::string> expected{"Starting up..",
                                          "Monitoring /logs/a",
                                          "Monitoring /logs/b",
                                          "Monitoring syslog",
                                          "Event log is not available in this build",
                                          "OutputDebugString is not available in this build"};
  EXPECT_EQ(DriverLines(), expected);
  for (std::size_t index = 0; index < GetLog().Count(); ++index) {
    const TLogItem item = GetLog().GetItem(index);
    EXPECT_EQ(item.Level, item.Text.find("not available") == std::string::npos
                              ? TLogLevel::Notice
                              : TLogLevel::Warning);
  }
  ASSERT_TRUE(ServeUntil(Loop, [&] { return AllRunning(3); }));
  const auto sources = SourcesNow();
  EXPECT_EQ(sources[0]->Name(), "/logs/a");
  EXPECT_EQ(sources[1]->Name(), "/logs/b");
  EXPECT_EQ(sources[2]->Name(), "syslog");
  EXPECT_EQ(GetThreadManager().ThreadCount(), 3u);
  std::lock_guard lock(notifiedLock);
  ASSERT_FALSE(notified.empty());
  EXPECT_EQ(notified.front(), "Starting up..");
}

TEST_F(MonitoringDriver, MissingFileEndsTheStartButTheSourcesBeforeItRun) {
  Configure({"/logs/a", "missing-b", "/logs/c"}, true, true);
  try {
    Driver.StartUp(nullptr);
    FAIL() << "a missing file must fail the start";
  } catch (const std::runtime_error& failure) {
    EXPECT_STREQ(failure.what(), "File missing-b not found!");
  }
  const std::vector<std::string> expected{"Starting up..", "Monitoring /logs/a",
                                          "Monitoring missing-b"};
  EXPECT_EQ(DriverLines(), expected);
  ASSERT_TRUE(ServeUntil(Loop, [&] { return AllRunning(1); }));
  EXPECT_EQ(GetThreadManager().ThreadCount(), 1u);
}

TEST_F(MonitoringDriver, RestartStopsEverySourceThenStartsTheNewSettings) {
  Configure({"/logs/a"}, false);
  Driver.StartUp(nullptr);
  ASSERT_TRUE(ServeUntil(Loop, [&] { return AllRunning(1); }));
  const auto first = SourcesNow().front();

  GetConfig().MonitorFilenames().Add("/logs/b");
  Driver.RestartMonitoring();
  ASSERT_TRUE(ServeUntil(Loop, [&] { return AllRunning(3); }));
  EXPECT_TRUE(first->Finished());
  const std::vector<std::string> expected{"Starting up..", "Monitoring /logs/a",
                                          "Monitoring /logs/a", "Monitoring /logs/b"};
  EXPECT_EQ(DriverLines(), expected);
  EXPECT_TRUE(ServeUntil(Loop, [&] { return GetThreadManager().ThreadCount() == 2; }));
}

TEST_F(MonitoringDriver, FailedRestartIsReportedAndTheSourcesBeforeItRun) {
  Driver.StartUp(nullptr);
  Configure({"/logs/a", "missing-b"}, false);
  Driver.RestartMonitoring();
  ASSERT_TRUE(ServeUntil(Loop, [&] {
    const auto lines = DriverLines();
    return !lines.empty() && lines.back() == "File missing-b not found!";
  }));
  for (std::size_t index = 0; index < GetLog().Count(); ++index) {
    const TLogItem item = GetLog().GetItem(index);
    if (item.Text == "File missing-b not found!") {
      EXPECT_EQ(item.Level, TLogLevel::Exception);
    }
  }
  EXPECT_TRUE(ServeUntil(Loop, [&] { return AllRunning(1); }));
}

// Sources that keep posting and keep handing work to this thread must all end, with this thread
// serving them, before the log may go; nothing is stored after that.
TEST_F(MonitoringDriver, StopWaitsForBusySourcesWhileServingTheirHandOffs) {
  Busy = true;
  Configure({"/logs/a", "/logs/b"}, true);
  Driver.StartUp(nullptr);
  ASSERT_TRUE(ServeUntil(Loop, [&] { return AllRunning(3); }));
  Driver.StopMonitoring();
  for (const auto& source : SourcesNow())
    EXPECT_TRUE(source->Finished()) << source->Name();
  const std::size_t stored = GetLog().Count();
  Loop.ServeUntil([] { return false; },
                  std::chrono::steady_clock::now() + std::chrono::milliseconds(20));
  EXPECT_EQ(GetLog().Count(), stored);
}

} // namespace
} // namespace ornavel
