#include "JournalWriterUnit.h"
#include "TestSupport.h"
#include "core/FormatUnit.h"
#include "core/LogUnit.h"
#include "sources/EventLogMonitorUnit.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

using namespace std::chrono_literals;
using test::TJournalEntry;
using test::TJournalWriter;

constexpr TJournalScope System = TJournalScope::System;
constexpr TJournalScope User = TJournalScope::CurrentUser;

std::string SystemLine(const std::string& text) {
  return "(System) " + text + " ";
}

class EventLog : public testing::Test {
protected:
  void SetUp() override {
    if (::access(test::JournalRemote, X_OK) != 0)
      GTEST_SKIP() << test::JournalRemote << " is missing (Debian package systemd-journal-remote)";
    test::SourceLog().Clear();
  }
  void TearDown() override {
    if (Monitor) {
      Monitor->Terminate();
      Monitor->WaitFor();
    }
    test::SourceLog().SetOnLogItem(nullptr);
  }

  TJournalWriter& Writer(TJournalScope scope, const std::string& folder = {}) {
    auto& writer = scope == System ? SystemWriter : UserWriter;
    if (!writer)
      writer = std::make_unique<TJournalWriter>(folder.empty() ? Folder.Path() : folder, scope);
    return *writer;
  }

  void Start(const std::string& folder = {}, std::size_t recentEntries = 0) {
    Monitor = TThread::Create<TEventLogMonitorThread>(
        false, test::SourceLog(), folder.empty() ? Folder.Path() : folder, recentEntries);
  }

  // Lines of the monitor, probes left out, and of nobody (the monitor's warnings).
  std::vector<std::string> Lines(bool fromMonitor = true) const {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < test::SourceLog().Count(); ++i) {
      const TLogItem item = test::SourceLog().GetItem(i);
      if ((item.Source == Monitor.get()) == fromMonitor &&
          item.Text.find("probe") == std::string::npos)
        lines.push_back(item.Text);
    }
    return lines;
  }

  bool Shows(const std::string& text) const {
    for (std::size_t i = 0; i < test::SourceLog().Count(); ++i) {
      if (test::SourceLog().GetItem(i).Text == text)
        return true;
    }
    return false;
  }

  bool WaitUntil(const std::function<bool()>& done) { return test::ServeUntil(Loop, done); }

  bool WaitForLines(std::size_t count) {
    return WaitUntil([&] { return Lines().size() >= count; });
  }

  // Writes probes into a log until one is shown: entries written before the monitor has reached
  // the log's end are rightly passed over.
  void WaitUntilFollowing(TJournalScope scope) {
    WaitUntilFollowing(scope, [&](const TJournalEntry& probe) { Writer(scope).WriteOne(probe); });
  }
  void WaitUntilFollowing(TJournalScope scope,
                          const std::function<void(const TJournalEntry&)>& write) {
    const std::string name = scope == System ? "System" : "User";
    for (int attempt = 0; attempt < 1000; ++attempt) {
      const std::string probe = "probe " + std::to_string(attempt);
      write(TJournalEntry(probe));
      const auto shown = std::chrono::steady_clock::now() + 50ms;
      const std::string line = "(" + name + ") ornavel-test: " + probe + " ";
      if (Loop.ServeUntil([&] { return Shows(line); }, shown) || Shows(line))
        return;
    }
    FAIL() << "the " << name << " journal is never followed";
  }

  // The names of the folder's journal files that systemd-journal-remote made: remote-HOST.journal
  // and their archives remote-HOST@….journal.
  std::vector<std::string> RemoteFiles(bool archived) const {
    std::vector<std::string> names;
    for (const auto& file : std::filesystem::directory_iterator(Folder.Path())) {
      const std::string name = file.path().filename().string();
      if (name.starts_with("remote-") && name.ends_with(".journal") &&
          (name.find('@') != std::string::npos) == archived)
        names.push_back(name);
    }
    return names;
  }

  TEventLoop Loop; // outlives the monitor, whose end may hand its notice over
  test::TTemporaryFolder Folder;
  std::unique_ptr<TJournalWriter> SystemWriter;
  std::unique_ptr<TJournalWriter> UserWriter;
  std::shared_ptr<TEventLogMonitorThread> Monitor;
};

TEST_F(EventLog, PostsOnlyEntriesWrittenAfterTheStartInOrder) {
  Writer(User);
  Writer(System).Write({{"old 1"}, {"old 2"}});
  ASSERT_TRUE(test::WaitForEntries(Folder.Path(), System, 2));
  Start();
  WaitUntilFollowing(System);
  Writer(System).Write({{"one"}, {"two"}, {"three"}});
  ASSERT_TRUE(WaitForLines(3));
  EXPECT_EQ(Lines(), (std::vector<std::string>{SystemLine("ornavel-test: one"),
                                               SystemLine("ornavel-test: two"),
                                               SystemLine("ornavel-test: three")}));
  EXPECT_TRUE(Lines(false).empty());
}

// Asked for recent entries, each log gives that many of its last ones first, or all it has.
TEST_F(EventLog, PostsTheRecentEntriesFirstWhenAsked) {
  Writer(System).Write({{"old 1"}, {"old 2"}, {"old 3"}});
  Writer(User).Write({{"mine"}});
  ASSERT_TRUE(test::WaitForEntries(Folder.Path(), System, 3));
  ASSERT_TRUE(test::WaitForEntries(Folder.Path(), User, 1));
  Start({}, 2);
  ASSERT_TRUE(WaitForLines(3));
  Writer(System).Write({{"new"}});
  ASSERT_TRUE(WaitForLines(4));
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         SystemLine("ornavel-test: old 2"), SystemLine("ornavel-test: old 3"),
                         "(User) ornavel-test: mine ", SystemLine("ornavel-test: new")}));
}

TEST_F(EventLog, GivesTheIdentifierOrTheCommandAndTheWholeMessage) {
  Writer(User);
  Writer(System);
  Start();
  WaitUntilFollowing(System);
  const std::string longMessage(200000, 'x');
  Writer(System).Write({{"by identifier", "ident", "command"},
                        {"by command", std::nullopt, "command"},
                        {"by nobody", std::nullopt, std::nullopt},
                        {"empty identifier", "", "command"},
                        {std::string("two\nlines\0cut off", 17), "ident"},
                        {longMessage, "long"}});
  ASSERT_TRUE(WaitForLines(6));
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         SystemLine("ident: by identifier"), SystemLine("command: by command"),
                         SystemLine("by nobody"), SystemLine("command: empty identifier"),
                         SystemLine("ident: two\nlines"), SystemLine("long: " + longMessage)}));
  std::vector<std::string> sources;
  for (std::size_t i = 0; i < test::SourceLog().Count(); ++i) {
    const TLogItem item = test::SourceLog().GetItem(i);
    if (item.Source == Monitor.get() && item.Text.find("probe") == std::string::npos)
      sources.push_back(item.SourceName);
  }
  EXPECT_EQ(sources,
            (std::vector<std::string>{"ident", "command", "", "command", "ident", "long"}));
}

// Holds the monitor's thread inside its post of a probe to System, while entries are written to
// User first, then to System: the rest of that pass gives System's, then User's.
TEST_F(EventLog, GivesSystemBeforeUserWithinAPass) {
  Writer(User);
  Writer(System);
  Start();
  WaitUntilFollowing(User);
  std::mutex lock;
  std::condition_variable changed;
  bool held = false;
  bool released = false;
  test::SourceLog().SetOnLogItem([&](TLogLevel, std::string_view text) {
    if (text.find("hold") == std::string::npos)
      return;
    std::unique_lock guard(lock);
    held = true;
    changed.notify_all();
    changed.wait(guard, [&] { return released; });
  });
  Writer(System).WriteOne(TJournalEntry("hold"));
  {
    std::unique_lock guard(lock);
    ASSERT_TRUE(changed.wait_for(guard, test::Patience, [&] { return held; }));
  }
  Writer(User).WriteOne(TJournalEntry("user"));
  Writer(System).WriteOne(TJournalEntry("system"));
  const bool written = test::WaitForEntries(Folder.Path(), User, 1) &&
                       test::WaitForEntries(Folder.Path(), System, 2);
  {
    std::lock_guard guard(lock);
    released = true;
    changed.notify_all();
  }
  ASSERT_TRUE(written);
  ASSERT_TRUE(WaitForLines(3));
  EXPECT_EQ(Lines(), (std::vector<std::string>{SystemLine("ornavel-test: hold"),
                                               SystemLine("ornavel-test: system"),
                                               "(User) ornavel-test: user "}));
}

// A System journal without entries at the start gives its first entries, all of them; the User
// journal tells when the monitor has passed System once.
TEST_F(EventLog, FollowsAJournalEmptyAtTheStartFromItsFirstEntry) {
  Writer(User);
  Writer(System);
  Start();
  WaitUntilFollowing(User);
  Writer(System).Write({{"first"}, {"second"}});
  ASSERT_TRUE(WaitForLines(2));
  EXPECT_EQ(Lines(), (std::vector<std::string>{SystemLine("ornavel-test: first"),
                                               SystemLine("ornavel-test: second")}));
  EXPECT_TRUE(Lines(false).empty());
}

TEST_F(EventLog, ReportsAJournalWithoutFilesOnceAndFollowsItsFileWhenItAppears) {
  Writer(User);
  Start();
  WaitUntilFollowing(User);
  EXPECT_EQ(Lines(false), std::vector<std::string>{
                              "The System journal cannot be read: there is no journal file in " +
                              Folder.Path() + " (*.journal other than user-*.journal)"});
  Writer(System).Write({{"first"}, {"second"}});
  ASSERT_TRUE(WaitForLines(2));
  EXPECT_EQ(Lines(), (std::vector<std::string>{SystemLine("ornavel-test: first"),
                                               SystemLine("ornavel-test: second")}));
  EXPECT_EQ(Lines(false).size(), 1U);
}

// Root reads any folder: a file where the folder should be stands in for one this user may not
// read. Both logs report it once; once the folder is there, they are opened again and followed.
TEST_F(EventLog, ReportsAnUnreadableFolderOnceAndFollowsItWhenItBecomesReadable) {
  const std::string folder = Folder.File("journal");
  test::WriteFile(folder, "");
  Start(folder);
  const std::vector<std::string> reports{
      "The System journal cannot be read: " + folder + ": Not a directory",
      "The User journal cannot be read: " + folder + ": Not a directory"};
  ASSERT_TRUE(WaitUntil([&] { return Lines(false).size() >= 2; }));
  std::filesystem::remove(folder);
  std::filesystem::create_directory(folder);
  Writer(User, folder);
  Writer(System, folder).WriteOne(TJournalEntry("after"));
  ASSERT_TRUE(WaitForLines(1));
  EXPECT_EQ(Lines(), std::vector<std::string>{SystemLine("ornavel-test: after")});
  EXPECT_EQ(Lines(false), reports);
}

// A folder removed with its files and made again is not seen by the reader that watched it.
TEST_F(EventLog, FollowsAFolderRemovedAndMadeAgain) {
  const std::string folder = Folder.File("journal");
  std::filesystem::create_directory(folder);
  Writer(User, folder);
  Writer(System, folder);
  Start(folder);
  WaitUntilFollowing(System);
  SystemWriter.reset();
  UserWriter.reset();
  std::filesystem::remove_all(folder);
  ASSERT_TRUE(WaitUntil([&] { return Lines(false).size() >= 2; }));
  std::filesystem::create_directory(folder);
  Writer(User, folder);
  Writer(System, folder).WriteOne(TJournalEntry("back"));
  ASSERT_TRUE(WaitForLines(1));
  EXPECT_EQ(Lines(), std::vector<std::string>{SystemLine("ornavel-test: back")});
  EXPECT_EQ(Lines(false).size(), 2U);
}

// systemd-journal-remote rotates a host's file while entries pour in: remote-HOST.journal is
// renamed remote-HOST@….journal and a new one made, as journald does. Every entry comes once, in
// order. ORNAVEL_JOURNAL_ROTATIONS asks for more rotations than the one of an ordinary run (the
// README gives a long run).
TEST_F(EventLog, LosesAndDoublesNothingWhenAJournalRotatesDuringAFlood) {
  const char* asked = std::getenv("ORNAVEL_JOURNAL_ROTATIONS");
  const int rotations = asked != nullptr ? std::max(1, std::atoi(asked)) : 1;
  const int perFile = rotations > 1 ? 500 : 5000;
  test::SourceLog().SetMaxLines(
      std::max<std::size_t>(1000000, static_cast<std::size_t>(rotations + 2) * perFile));
  test::TJournalCollector collector(Folder.Path());
  test::TJournalCollector::TSender host(collector, "127.0.0.1");
  Writer(User);
  host.WriteOne(TJournalEntry("before the start")); // makes the host's file
  ASSERT_TRUE(test::WaitForEntries(Folder.Path(), System, 1));
  Start();
  WaitUntilFollowing(System, [&](const TJournalEntry& probe) { host.WriteOne(probe); });
  std::vector<std::string> expected;
  // The first entry of a flood after the first fills the file, which rotates at the next.
  auto flood = [&](int from) {
    for (int i = from; i < from + perFile; i += 100) {
      std::vector<TJournalEntry> batch;
      for (int j = i; j < i + 100; ++j) {
        batch.emplace_back("entry " + std::to_string(j));
        expected.push_back(SystemLine("ornavel-test: entry " + std::to_string(j)));
      }
      batch.front().FillsTheFile = i == from && from > 0;
      host.Write(batch);
    }
  };
  // The monitor's lines, read on from where the last look ended: a long run posts millions.
  std::vector<std::string> lines;
  bool probed = false;
  std::uint64_t next = 0;
  std::vector<TLogItem> items(4096);
  const auto look = [&] {
    for (std::size_t count; (count = test::SourceLog().CopyItems(next, items)) > 0; next += count) {
      for (std::size_t i = 0; i < count; ++i) {
        if (items[i].Source != Monitor.get())
          continue;
        if (items[i].Text.find("probe") == std::string::npos)
          lines.push_back(items[i].Text);
        probed = probed || items[i].Text == SystemLine("ornavel-test: probe last");
      }
    }
  };
  flood(0);
  for (int rotation = 1; rotation <= rotations; ++rotation) {
    // The monitor is reading the file when it goes.
    ASSERT_TRUE(WaitUntil([&] {
      look();
      return lines.size() > expected.size() - perFile;
    })) << "rotation "
        << rotation << " lines " << lines.size() << " expected " << expected.size() << " files "
        << testing::PrintToString(RemoteFiles(true)) << testing::PrintToString(RemoteFiles(false))
        << " last " << (lines.empty() ? "" : lines.back());
    // As journald's vacuuming does, the oldest archives go, read to their end, so that a long run
    // fits on disk. Their names order them: the writer's sequence number comes after "@".
    std::vector<std::string> archives = RemoteFiles(true);
    std::ranges::sort(archives);
    for (std::size_t i = 0; i + 1 < archives.size(); ++i)
      std::filesystem::remove(Folder.File(archives[i]));
    flood(rotation * perFile);
  }
  host.WriteOne(TJournalEntry("probe last")); // a double would come before it
  ASSERT_TRUE(WaitUntil([&] {
    look();
    return probed;
  }));
  const auto [shown, wanted] = std::ranges::mismatch(lines, expected);
  EXPECT_EQ(lines.size(), expected.size());
  EXPECT_TRUE(shown == lines.end() && wanted == expected.end())
      << "first difference at line " << (shown - lines.begin()) << ": "
      << (shown == lines.end() ? "(none)" : *shown) << " instead of "
      << (wanted == expected.end() ? "(none)" : *wanted);
  EXPECT_FALSE(RemoteFiles(true).empty()) << "the file was not rotated";
  EXPECT_TRUE(Lines(false).empty()) << testing::PrintToString(Lines(false));
}

// A folder that systemd-journal-remote fills, as the README suggests for JournalDirectory: its
// files from two sending hosts (--split-mode=host) and one named with --output belong to the
// System log, their entries by time however they are spread; the user's journal stays User. An
// entry stamped before one already shown, by a host whose clock is behind, comes too: the
// library's own merge of the files would pass over it.
TEST_F(EventLog, ReadsEveryJournalOfACollectorsFolderAsSystem) {
  test::TJournalCollector collector(Folder.Path());
  test::TJournalCollector::TSender one(collector, "127.0.0.1");
  test::TJournalCollector::TSender two(collector, "127.0.0.2");
  TJournalWriter named(Folder.File("remote.journal"));
  Writer(User).WriteOne(TJournalEntry("mine"));
  one.WriteOne(TJournalEntry("old 1"));
  two.WriteOne(TJournalEntry("old 2"));
  named.WriteOne(TJournalEntry("old 3"));
  one.WriteOne(TJournalEntry("old 4"));
  ASSERT_TRUE(test::WaitForEntries(Folder.Path(), System, 4));
  ASSERT_TRUE(test::WaitForEntries(Folder.Path(), User, 1));
  Start({}, 3);
  ASSERT_TRUE(WaitForLines(4));
  // Each written once the one before is shown, so that the order they come in is known.
  std::size_t count = 4;
  for (const auto& write : std::vector<std::function<void(const TJournalEntry&)>>{
           [&](TJournalEntry entry) {
             entry.ClockBehind = 1min;
             two.WriteOne(entry);
           },
           [&](const TJournalEntry& entry) { named.WriteOne(entry); },
           [&](const TJournalEntry& entry) { one.WriteOne(entry); }}) {
    write(TJournalEntry("new " + std::to_string(count - 3)));
    ASSERT_TRUE(WaitForLines(++count));
  }
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         SystemLine("ornavel-test: old 2"), SystemLine("ornavel-test: old 3"),
                         SystemLine("ornavel-test: old 4"), "(User) ornavel-test: mine ",
                         SystemLine("ornavel-test: new 1"), SystemLine("ornavel-test: new 2"),
                         SystemLine("ornavel-test: new 3")}));
  EXPECT_TRUE(Lines(false).empty());
  EXPECT_EQ(RemoteFiles(false).size(), 2U) << "one file per sending host";
}

// A folder of collected journals holds no journal of the user's: that is no trouble to report.
TEST_F(EventLog, SaysNothingOfAFolderWithoutTheUsersJournal) {
  Writer(System);
  Start();
  WaitUntilFollowing(System);
  Monitor->Terminate();
  Monitor->WaitFor(); // its first pass, User's turn in it included, is over
  EXPECT_TRUE(Lines(false).empty());
}

// journald keeps no journal of root's own: root's entries are in the system journal, and root is
// not told at every start that it has none.
TEST_F(EventLog, FollowsNoUserJournalOfRootOnTheMachine) {
  if (::getuid() != 0)
    GTEST_SKIP() << "for root";
  if (TJournal(System, {}).HasFiles())
    GTEST_SKIP() << "the machine's System journal has files: no warning ends the first pass";
  Monitor = TThread::Create<TEventLogMonitorThread>(false, test::SourceLog(), std::string(), 0);
  ASSERT_TRUE(WaitUntil([&] { return !Lines(false).empty(); }));
  Monitor->Terminate();
  Monitor->WaitFor();
  const std::vector<std::string> reports = Lines(false);
  ASSERT_EQ(reports.size(), 1U) << testing::PrintToString(reports);
  EXPECT_TRUE(reports[0].starts_with(
      "The System journal cannot be read: there is no journal file in /var/log/journal"))
      << reports[0];
  EXPECT_TRUE(reports[0].ends_with(" (system*.journal)")) << reports[0];
}

// A file this user may not read is named, and who may read it; nothing is said of the groups
// that may read the machine's journals. Root reads every file: it runs as nobody meanwhile.
TEST_F(EventLog, NamesAJournalFileThisUserMayNotRead) {
  const std::string file = Folder.File("remote.journal");
  TJournalWriter(file).WriteOne(TJournalEntry("hidden"));
  ::chmod(Folder.Path().c_str(), 0755);
  ::chmod(file.c_str(), 0);
  struct TAsNobody {
    bool Switched = ::geteuid() == 0 && ::seteuid(65534) == 0;
    ~TAsNobody() {
      if (Switched)
        (void)::seteuid(0);
    }
  } nobody;
  if (::geteuid() == 0)
    GTEST_SKIP() << "root cannot become nobody here";
  Start();
  ASSERT_TRUE(WaitUntil([&] { return !Lines(false).empty(); }));
  Monitor->Terminate();
  Monitor->WaitFor();
  const std::vector<std::string> reports = Lines(false);
  ASSERT_EQ(reports.size(), 1U) << testing::PrintToString(reports);
  EXPECT_TRUE(reports[0].starts_with("The System journal cannot be read: this user may not read " +
                                     file + " (only its owner "))
      << reports[0];
}

TEST_F(EventLog, EndsAtOnceWhenTerminated) {
  Writer(User);
  Writer(System);
  Start();
  WaitUntilFollowing(User);
  const auto asked = std::chrono::steady_clock::now();
  Monitor->Terminate();
  Monitor->WaitFor();
  // Woken at once by design; the margin is for a loaded machine, far below the 2 s of a retry.
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
  Monitor.reset();
}

} // namespace
} // namespace ornavel
