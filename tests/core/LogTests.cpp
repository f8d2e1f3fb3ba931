#include "TestSupport.h"
#include "core/LogUnit.h"

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

struct TNotification {
  TLogLevel Level;
  std::string Text;
};

// Stands in for the rules: leaves the program's own lines alone, drops lines that hold "drop",
// colours those that hold "error" red (its decision), alerts for those that hold "alarm", reports a
// fault for those that hold "fault", and drops those from the source named "muted".
class TFakeFilter final : public TLogFilter {
public:
  bool ProcessItem(TLogItem& item, std::vector<std::string>& faults) const override {
    if (!item.MonitorType)
      return true;
    if (item.Text.find("error") != std::string::npos) {
      item.Color = clRed;
      item.Decision = "kept by rule 1 'Errors'";
    }
    static const std::string alarms = "Alarms";
    if (item.Text.find("alarm") != std::string::npos)
      item.Alert = &alarms;
    if (item.Text.find("fault") != std::string::npos)
      faults.push_back("Rule Broken switched off: " + item.Text);
    return item.Text.find("drop") == std::string::npos && item.SourceName != "muted";
  }
};

// A log over a stand-in for the rules, recording every notification.
class Log : public testing::Test {
protected:
  Log() {
    Subject.SetOnLogItem([this](TLogLevel level, std::string_view text) {
      std::lock_guard lock(NotifiedLock);
      Notified.push_back({level, std::string(text)});
    });
  }

  std::vector<std::string> NotifiedTexts() {
    std::lock_guard lock(NotifiedLock);
    std::vector<std::string> texts;
    for (const auto& notification : Notified)
      texts.push_back(notification.Text);
    return texts;
  }

  TFakeFilter Filter;
  TLog Subject{&Filter};
  std::mutex NotifiedLock;
  std::vector<TNotification> Notified;
  std::shared_ptr<TSourceThread> File = test::MakeSourceOf(mtFile);
};

TEST_F(Log, StoresALineWithoutSourceAndNotifiesIt) {
  const TDateTime before = Now();
  Subject.Add(nullptr, TLogLevel::Warning, "Event already exists");
  const TDateTime after = Now();
  ASSERT_EQ(Subject.Count(), 1u);
  const TLogItem item = Subject.GetItem(0);
  EXPECT_EQ(item.Text, "Event already exists");
  EXPECT_EQ(item.Level, TLogLevel::Warning);
  EXPECT_EQ(item.Source, nullptr);
  EXPECT_EQ(item.MonitorType, std::nullopt);
  EXPECT_EQ(item.Color, clWindowText);
  EXPECT_GE(item.Time, before);
  EXPECT_LE(item.Time, after);
  ASSERT_EQ(Notified.size(), 1u);
  EXPECT_EQ(Notified[0].Level, TLogLevel::Warning);
  EXPECT_EQ(Notified[0].Text, "Event already exists");
}

TEST_F(Log, StoresEmptyTextsAndAnyLevelUnchanged) {
  Subject.AddLine(File.get(), "");
  Subject.Add(nullptr, TLogLevel::LoadFailure, "bad file");
  Subject.Add(nullptr, TLogLevel::Debug, "debug");
  Subject.Add(nullptr, static_cast<TLogLevel>(200), "odd level");
  ASSERT_EQ(Subject.Count(), 4u);
  EXPECT_EQ(Subject.GetItem(0).Text, "");
  EXPECT_EQ(Subject.GetItem(0).Source, File.get());
  EXPECT_EQ(Subject.GetItem(0).MonitorType, mtFile); // the rules know a line's kind by it
  EXPECT_EQ(Subject.GetItem(1).Level, TLogLevel::LoadFailure);
  EXPECT_EQ(Subject.GetItem(2).Level, TLogLevel::Debug);
  EXPECT_EQ(static_cast<int>(Subject.GetItem(3).Level), 200);
}

TEST_F(Log, TheFilterDropsLinesOrGivesThemTheirColour) {
  Subject.AddLine(File.get(), "drop this heartbeat");
  EXPECT_EQ(Subject.Count(), 0u);
  EXPECT_TRUE(Notified.empty());
  Subject.AddLine(File.get(), "disk error");
  Subject.AddLine(File.get(), "disk ok");
  EXPECT_EQ(Subject.GetItem(0).Color, clRed);
  EXPECT_EQ(Subject.GetItem(0).Decision, "kept by rule 1 'Errors'");
  EXPECT_EQ(Subject.GetItem(1).Color, clWindowText);
  EXPECT_EQ(Subject.GetItem(1).Decision, "");
  std::vector<std::string> alerts;
  Subject.SetOnAlert([&](const TLogAlert& alert) {
    alerts.push_back(Format("%s: %s (%d) %u", alert.Rule, alert.Text, alert.Line, alert.Color));
  });
  Subject.AddLine(File.get(), "drop the alarm");
  Subject.AddLine(File.get(), "alarm and error");
  EXPECT_EQ(alerts, std::vector<std::string>{"Alarms: alarm and error (2) 255"});
  TLog unfiltered;
  unfiltered.AddLine(File.get(), "drop this heartbeat");
  EXPECT_EQ(unfiltered.Count(), 1u);
}

TEST_F(Log, LinesPostedTogetherPassTheFilterOneByOneAndKeepTheirOrder) {
  const std::vector<std::string_view> lines{"disk error", "drop me", "fault here", "", "last"};
  Subject.AddLines(File.get(), lines);
  ASSERT_EQ(Subject.Count(), 5u);
  const std::vector<std::string> expected{"disk error", "fault here", "", "last",
                                          "Rule Broken switched off: fault here"};
  EXPECT_EQ(NotifiedTexts(), expected);
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(Subject.GetItem(i).Text, expected[i]);
  EXPECT_EQ(Subject.GetItem(0).Color, clRed);
  EXPECT_EQ(Subject.GetItem(1).Color, clWindowText);
  EXPECT_EQ(Subject.GetItem(3).Source, File.get());
  EXPECT_EQ(Subject.GetItem(3).MonitorType, mtFile);
  EXPECT_EQ(Subject.GetItem(4).Source, nullptr);
  EXPECT_EQ(Subject.GetItem(3).Time, Subject.GetItem(0).Time); // read at one moment
}

TEST_F(Log, EachLineKeepsTheNameOfItsSourceWhichTheFilterSeesToo) {
  Subject.AddLine(File.get(), "a", "/var/log/a.log");
  const std::vector<std::string_view> lines{"b", "c", "d"};
  const std::vector<std::string_view> names{"nginx", "muted", "sshd"};
  Subject.AddLines(File.get(), lines, names);
  Subject.AddLines(File.get(), lines, "/var/log/a.log");
  Subject.Add(nullptr, TLogLevel::Warning, "own");
  EXPECT_THROW(Subject.AddLines(File.get(), lines, std::span(names).first(2)), std::logic_error);
  std::vector<TLogItem> items(8);
  std::uint64_t from = 0;
  items.resize(Subject.CopyItems(from, items));
  std::vector<std::string> read;
  for (const TLogItem& item : items)
    read.push_back(item.Text + "@" + item.SourceName);
  EXPECT_EQ(read,
            (std::vector<std::string>{"a@/var/log/a.log", "b@nginx", "d@sshd", "b@/var/log/a.log",
                                      "c@/var/log/a.log", "d@/var/log/a.log", "own@"}));
}

// Names are held once each; beyond the most a line can tell apart, the later ones share one.
TEST(LogSourceNames, PastTheMostNamesTheLaterOnesShareOne) {
  TLog log;
  const auto source = test::MakeSourceOf(mtSyslog);
  constexpr int Names = 65537;
  for (int i = 0; i < Names; ++i)
    log.AddLine(source.get(), "x", std::to_string(i));
  log.AddLine(source.get(), "x", "0");
  EXPECT_EQ(log.GetItem(65533).SourceName, "65533");
  EXPECT_EQ(log.GetItem(65534).SourceName, "other sources");
  EXPECT_EQ(log.GetItem(Names - 1).SourceName, "other sources");
  EXPECT_EQ(log.GetItem(Names).SourceName, "0");
}

// Copies run over chunk boundaries and past lines removed at the cap, whichever goes first.
TEST_F(Log, CopiesRunOverChunksInOrder) {
  Subject.SetMaxLines(MinMaxLines);
  for (int i = 0; i < 1500; ++i)
    Subject.AddLine(nullptr, std::to_string(i));
  std::vector<TLogItem> batch(300);
  for (const auto turn : {TLog::TReadTurn::BeforePosters, TLog::TReadTurn::InTurn}) {
    std::uint64_t from = 0;
    ASSERT_EQ(Subject.CopyItems(from, batch, turn), 300u);
    EXPECT_EQ(from, Subject.Extent().First);
    for (std::size_t i = 0; i < batch.size(); ++i)
      ASSERT_EQ(batch[i].Text, std::to_string(from + i));
    from = 1400;
    ASSERT_EQ(Subject.CopyItems(from, batch, turn), 100u);
    EXPECT_EQ(batch[99].Text, "1499");
  }
}

TEST_F(Log, ClearEmptiesTheStoreAndIndicesStartAgain) {
  Subject.AddLine(nullptr, "one");
  Subject.AddLine(nullptr, "two");
  Subject.Clear();
  EXPECT_EQ(Subject.Count(), 0u);
  Subject.AddLine(nullptr, "three");
  EXPECT_EQ(Subject.GetItem(0).Text, "three");
}

// The cap: the oldest lines go in chunks, the count never passes the cap, the newest stay in
// order, and numbering goes on over removals and Clear.
class LogCap : public testing::TestWithParam<std::size_t> {};

TEST_P(LogCap, KeepsTheNewestLinesAndNeverMoreThanTheCap) {
  const std::size_t cap = GetParam();
  TLog log;
  log.AddLine(nullptr, "under the default cap");
  log.SetMaxLines(cap);
  const std::size_t posted = cap * 3 + 17; // after line 0
  std::size_t lowest = cap;
  for (std::size_t i = 1; i <= posted; ++i) {
    log.AddLine(nullptr, std::string(i % 300, 'x') + std::to_string(i));
    ASSERT_LE(log.Count(), cap);
    if (i >= cap)
      lowest = std::min(lowest, log.Count());
  }
  EXPECT_GE(lowest, cap - cap / 8); // removed in chunks, not all at once
  const TLog::TExtent extent = log.Extent();
  EXPECT_EQ(extent.First + extent.Count, posted + 1);
  for (std::size_t i = 0; i < extent.Count; ++i) {
    const std::uint64_t number = extent.First + i;
    ASSERT_EQ(log.GetItem(i).Text, std::string(number % 300, 'x') + std::to_string(number));
  }
  EXPECT_FALSE(log.FindItem(extent.First - 1));
  EXPECT_EQ(log.FindItem(extent.First + extent.Count - 1)->Text,
            log.GetItem(extent.Count - 1).Text);
  log.Clear();
  EXPECT_EQ(log.Extent().First, posted + 1);
  log.AddLine(nullptr, "after");
  EXPECT_EQ(log.FindItem(posted + 1)->Text, "after");
}

INSTANTIATE_TEST_SUITE_P(Caps, LogCap, testing::Values(std::size_t{1000}, std::size_t{5000}));

TEST_F(Log, ItemsAreCopiedWholeOrAsAPrefixThatKeepsCharactersWhole) {
  Subject.AddLine(File.get(), std::string(5000, 'a') + "\xc3\xa9 end");
  EXPECT_EQ(Subject.FindItem(0)->Text.size(), 5006u);
  EXPECT_EQ(Subject.FindItem(0, 5001)->Text, std::string(5000, 'a'));
  EXPECT_EQ(Subject.FindItem(0, 5002)->Text, std::string(5000, 'a') + "\xc3\xa9");
  EXPECT_EQ(Subject.FindItem(0, 5002)->MonitorType, mtFile);
  std::vector<TLogItem> batch(4);
  Subject.AddLine(nullptr, "second");
  std::uint64_t from = 0;
  ASSERT_EQ(Subject.CopyItems(from, batch), 2u);
  EXPECT_EQ(batch[1].Text, "second");
  EXPECT_EQ(batch[0].Source, File.get());
}

TEST_F(Log, GetItemReturnsACopyAndChecksTheIndex) {
  Subject.AddLine(nullptr, "original");
  TLogItem copy = Subject.GetItem(0);
  copy.Text = "changed";
  copy.Color = clRed;
  EXPECT_EQ(Subject.GetItem(0).Text, "original");
  EXPECT_EQ(Subject.GetItem(0).Color, clWindowText);
  EXPECT_THROW(Subject.GetItem(1), std::out_of_range);
}

TEST_F(Log, FormattedPostsInsertTextLiterally) {
  Subject.AddLineFmt(nullptr, "Monitoring %s", "/tmp/100%s.log");
  Subject.AddFmt(nullptr, TLogLevel::Exception, "Got bad data from %s", "192.0.2.7");
  EXPECT_EQ(Subject.GetItem(0).Text, "Monitoring /tmp/100%s.log");
  EXPECT_EQ(Subject.GetItem(0).Level, TLogLevel::Notice);
  EXPECT_EQ(Subject.GetItem(1).Level, TLogLevel::Exception);
  EXPECT_THROW(Subject.AddLineFmt(nullptr, "Monitoring %d", "not a number"), EFormatError);
  EXPECT_EQ(Subject.Count(), 2u);
}

TEST_F(Log, ManyThreadsPostingAtOnceStoreAndNotifyEveryItemExactlyOnce) {
  constexpr int Threads = 8;
  constexpr int Posts = 500;
  std::vector<std::thread> posters;
  for (int t = 0; t < Threads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < Posts; ++i) {
        Subject.AddLine(File.get(), Format("%d:%d", t, i));
        Subject.AddLine(File.get(), "drop me");
        if (i % 50 == 0)
          Subject.Count();
      }
    });
  }
  for (auto& poster : posters)
    poster.join();
  ASSERT_EQ(Subject.Count(), static_cast<std::size_t>(Threads * Posts));
  const auto texts = NotifiedTexts();
  EXPECT_EQ(texts.size(), static_cast<std::size_t>(Threads * Posts));
  EXPECT_EQ(std::set<std::string>(texts.begin(), texts.end()).size(), texts.size());
  // Each poster's own lines are stored in the order it posted them.
  std::map<int, int> lastSeen;
  for (std::size_t i = 0; i < Subject.Count(); ++i) {
    const std::string text = Subject.GetItem(i).Text;
    const int thread = std::stoi(text.substr(0, text.find(':')));
    const int index = std::stoi(text.substr(text.find(':') + 1));
    const auto previous = lastSeen.find(thread);
    if (previous != lastSeen.end()) {
      EXPECT_LT(previous->second, index);
    }
    lastSeen[thread] = index;
  }
}

TEST_F(Log, FaultsOfTheFilterArePostedAfterTheLineAsWarningsWithoutSource) {
  Subject.AddLine(File.get(), "fault in an error line");
  ASSERT_EQ(Subject.Count(), 2u);
  EXPECT_EQ(Subject.GetItem(0).Text, "fault in an error line");
  EXPECT_EQ(Subject.GetItem(0).Color, clRed);
  const TLogItem warning = Subject.GetItem(1);
  EXPECT_EQ(warning.Level, TLogLevel::Warning);
  EXPECT_EQ(warning.Source, nullptr);
  EXPECT_EQ(warning.Text, "Rule Broken switched off: fault in an error line");
  ASSERT_EQ(Notified.size(), 2u);
  EXPECT_EQ(Notified[1].Level, TLogLevel::Warning);
}

TEST_F(Log, AddDoesNothingOnceDestructionHasBegun) {
  auto log = std::make_unique<TLog>(&Filter);
  std::atomic<bool> firstInHandler{false};
  std::atomic<bool> releaseFirst{false};
  std::atomic<int> notifications{0};
  log->SetOnLogItem([&](TLogLevel, std::string_view text) {
    ++notifications;
    if (text == "first") {
      firstInHandler = true;
      while (!releaseFirst)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  TLog* dying = log.get();
  std::thread first([&] { dying->AddLine(nullptr, "first"); });
  while (!firstInHandler)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // Destruction begins while the first post is still in its notification, and waits for it.
  std::thread destroyer([&] { log.reset(); });
  while (!dying->Closing())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  dying->AddLine(nullptr, "too late");
  dying->AddLine(File.get(), "too late");
  releaseFirst = true;
  first.join();
  destroyer.join();
  EXPECT_EQ(notifications, 1);
}

// A post that leaves while destruction begins: the destructor may free the log the moment the
// post lets it go on, so the post must touch nothing of the log afterwards. ThreadSanitizer
// reports a later touch as a race with the free in most rounds.
TEST(LogDestruction, APostLeavingAsDestructionBeginsNeverTouchesTheFreedLog) {
  for (int round = 0; round < 200; ++round) {
    auto log = std::make_unique<TLog>();
    std::atomic<bool> stored{false};
    log->SetOnLogItem([&](TLogLevel, std::string_view) { stored = true; });
    TLog* raw = log.get();
    std::thread poster([raw] { raw->AddLine(nullptr, "leaving"); });
    while (!stored)
      std::this_thread::yield();
    log.reset();
    poster.join();
  }
}

} // namespace
} // namespace ornavel
