#include "TestSupport.h"
#include "core/FileDescriptorUnit.h"
#include "core/FormatUnit.h"
#include "core/LogUnit.h"
#include "sources/FileMonitorUnit.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <iterator>
#include <ostream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

using namespace std::chrono_literals;
using test::Patience;

using test::Append;
using test::OpenToAppend;
using test::Write;

using Lines = std::vector<std::string>;

// Whether this process holds a descriptor of a deleted file of that name.
bool HoldsDeleted(const std::string& path) {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    if (std::filesystem::read_symlink(entry.path(), ignored) == path + " (deleted)")
      return true;
  }
  return false;
}

// One followed file, empty at first, in a folder of its own, and the central log emptied.
class FileMonitor : public testing::Test {
protected:
  FileMonitor() {
    test::WriteFile(Name, "");
    test::SourceLog().Clear();
  }
  ~FileMonitor() override { test::SourceLog().SetOnLogItem(nullptr); }

  // Notification off makes the monitor poll.
  std::shared_ptr<TFileMonitorThread> Follow(bool notification = true) {
    auto monitor = TThread::Create<TFileMonitorThread>(true, test::SourceLog());
    monitor->SetFileName(Name);
    monitor->SetChangeNotification(notification);
    monitor->Resume();
    return monitor;
  }

  static Lines Posted() {
    Lines lines;
    for (std::size_t i = 0; i < test::SourceLog().Count(); ++i)
      lines.push_back(test::SourceLog().GetItem(i).Text);
    return lines;
  }

  // The lines once there are at least count of them, or all there are when Patience runs out.
  // Long lists differ somewhere in the middle: the lines missing and those too many are named.
  static void ExpectLines(const Lines& posted, const Lines& expected) {
    if (posted == expected)
      return;
    Lines missing, extra, sortedPosted = posted, sortedExpected = expected;
    std::ranges::sort(sortedPosted);
    std::ranges::sort(sortedExpected);
    std::ranges::set_difference(sortedExpected, sortedPosted, std::back_inserter(missing));
    std::ranges::set_difference(sortedPosted, sortedExpected, std::back_inserter(extra));
    ADD_FAILURE() << posted.size() << " lines instead of " << expected.size() << "; missing "
                  << testing::PrintToString(missing) << "; too many "
                  << testing::PrintToString(extra);
  }

  static Lines PostedOnceThereAre(std::size_t count) {
    Eventually([&] { return test::SourceLog().Count() >= count; });
    return Posted();
  }

  // Answers whether done() came to hold within patience.
  static bool Eventually(const std::function<bool()>& done,
                         std::chrono::steady_clock::duration patience = Patience) {
    const auto giveUp = std::chrono::steady_clock::now() + patience;
    while (!done() && std::chrono::steady_clock::now() < giveUp)
      std::this_thread::sleep_for(1ms);
    return done();
  }

  // That nothing is posted cannot be waited for: this gives the monitor passes enough to get it
  // wrong before the test looks.
  static void LetPassesRun() { std::this_thread::sleep_for(100ms); }

  test::TTemporaryFolder Folder;
  const std::string Name = Folder.File("app.log");
};

// Behaviour that must not depend on how the monitor wakes: by notification (true) or polling.
class FileMonitorWaking : public FileMonitor, public testing::WithParamInterface<bool> {};

struct TSplitCase {
  std::string Text;
  Lines Expected;
};

void PrintTo(const TSplitCase& split, std::ostream* out) {
  *out << testing::PrintToString(split.Text);
}

class FileMonitorSplitting : public FileMonitor, public testing::WithParamInterface<TSplitCase> {};

// Each case is appended at once and ends with "end", which tells that the monitor is through.
TEST_P(FileMonitorSplitting, PostsTrimmedNonEmptyLinesInFileOrder) {
  const auto monitor = Follow();
  Append(Name, GetParam().Text + "end\n");
  Lines expected = GetParam().Expected;
  expected.push_back("end");
  EXPECT_EQ(PostedOnceThereAre(expected.size()), expected);
}

INSTANTIATE_TEST_SUITE_P(FileMonitor, FileMonitorSplitting,
                         testing::Values(TSplitCase{"one\r\ntwo\r\n", {"one", "two"}},
                                         TSplitCase{"one\rtwo\r", {"one", "two"}},
                                         TSplitCase{"a\n\rb\r\n\r\n\nc\r", {"a", "b", "c"}},
                                         TSplitCase{"  \t \n\n \x01\x1f\r\n", {}},
                                         TSplitCase{"  lead\n trail \t\n\tin  ner \x7f\n",
                                                    {"lead", "trail", "in  ner \x7f"}},
                                         TSplitCase{"\xff\xe9 \xa0\n", {"\xff\xe9 \xa0"}}),
                         [](const auto& info) {
                           return test::CaseName(info.index, info.param.Text);
                         });

struct TZeroCase {
  std::string Name;
  std::string Written;
  // Made under another name and renamed into place, so that it is read from its start.
  bool NewFile = false;
  // After PostedBeforeOverwrite lines are posted and Pause has passed, Overwrite goes at At.
  std::chrono::milliseconds Pause{};
  std::string Overwrite;
  off_t At = 0;
  Lines Expected;
  std::size_t PostedBeforeOverwrite = 1;
};

void PrintTo(const TZeroCase& zeroCase, std::ostream* out) {
  *out << zeroCase.Name;
}

class FileMonitorZeros : public FileMonitor, public testing::WithParamInterface<TZeroCase> {};

// A zero byte is awaited about a second, as a writer that reserves space fills it later; zeros
// still there then with bytes behind them are not text. Lines must come well within the 10 s
// safety net, so that the monitor has to wake by itself once the second is over.
TEST_P(FileMonitorZeros, ZerosAreAwaitedASecondThenDroppedWhenBytesFollow) {
  const TZeroCase& zeros = GetParam();
  const auto monitor = Follow();
  if (zeros.NewFile) {
    test::WriteFile(Name + ".new", zeros.Written);
    std::filesystem::rename(Name + ".new", Name);
  } else {
    Append(Name, zeros.Written);
  }
  if (!zeros.Overwrite.empty()) {
    ASSERT_EQ(PostedOnceThereAre(zeros.PostedBeforeOverwrite).size(), zeros.PostedBeforeOverwrite);
    std::this_thread::sleep_for(zeros.Pause);
    const TFileDescriptor file(::open(Name.c_str(), O_WRONLY | O_CLOEXEC));
    const auto size = static_cast<ssize_t>(zeros.Overwrite.size());
    ASSERT_EQ(::pwrite(file.Get(), zeros.Overwrite.data(), zeros.Overwrite.size(), zeros.At), size);
  }
  Eventually([&] { return test::SourceLog().Count() >= zeros.Expected.size(); }, 5s);
  EXPECT_EQ(Posted(), zeros.Expected);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    FileMonitor, FileMonitorZeros,
    testing::Values(
        TZeroCase{"InsideALine", "a \0 b\nnext\n"s, false, {}, "", 0, {"a  b", "next"}},
        // As copytruncate leaves it behind a writer that did not open for appending.
        TZeroCase{
            "WhereReadingStarts", "\0\0\0\0two\n\0\0three\n"s, true, {}, "", 0, {"two", "three"}},
        TZeroCase{"OverwrittenWithinTheSecond",
                  "one\nt\0hidden\n"s,
                  false,
                  100ms,
                  "wo\n",
                  5,
                  {"one", "two", "dden"}},
        // Filled too late to be read: what follows them is not read twice for it.
        TZeroCase{"FilledAfterTheyWerePassed",
                  "one\n\0\0\0two\n"s,
                  false,
                  {},
                  "newtwo\nend\n",
                  4,
                  {"one", "two", "end"},
                  2},
        // Nothing follows these zeros: they are reserved space, awaited for good.
        TZeroCase{"AtTheEnd", "one\n\0\0\0\0\0\0\0\0"s, false, 1500ms, "two\n", 4, {"one", "two"}}),
    [](const auto& info) { return info.param.Name; });

struct TRewriteCase {
  std::string Name;
  // The one line of the new content.
  std::string Line;
};

void PrintTo(const TRewriteCase& rewrite, std::ostream* out) {
  *out << rewrite.Name;
}

class FileMonitorRewriting : public FileMonitor,
                             public testing::WithParamInterface<TRewriteCase> {};

// As a shell's > redirect does, while the monitor is held posting the first line, so that when it
// looks again the new content is as long as the old, or longer.
TEST_P(FileMonitorRewriting, AFileRewrittenInPlaceIsReadAgainFromItsStart) {
  test::TQuietEvent held, release;
  test::SourceLog().SetOnLogItem([&](TLogLevel, std::string_view text) {
    if (text == "first") {
      held.Set();
      release.WaitFor();
    }
  });
  const auto monitor = Follow();
  Append(Name, "first\n");
  ASSERT_TRUE(held.WaitFor());
  test::WriteFile(Name, GetParam().Line + "\n");
  release.Set();
  EXPECT_EQ(PostedOnceThereAre(2), (Lines{"first", GetParam().Line}));
}

INSTANTIATE_TEST_SUITE_P(FileMonitor, FileMonitorRewriting,
                         testing::Values(TRewriteCase{"Longer", "rewritten"},
                                         TRewriteCase{"AsLong", "again"}),
                         [](const auto& info) { return info.param.Name; });

// The start is the end of the file, even inside a line.
TEST_P(FileMonitorWaking, PostsOnlyCompleteLinesAppendedAfterTheStart) {
  test::WriteFile(Name, "old line\nhalf a li");
  const auto monitor = Follow(GetParam());
  Append(Name, "ne \nabc");
  EXPECT_EQ(PostedOnceThereAre(1), Lines{"ne"});
  LetPassesRun();
  EXPECT_EQ(test::SourceLog().Count(), 1u);
  Append(Name, "def\n");
  EXPECT_EQ(PostedOnceThereAre(2), (Lines{"ne", "abcdef"}));
  EXPECT_EQ(test::SourceLog().GetItem(1).SourceName, Name);
}

TEST_P(FileMonitorWaking, CarriageReturnEndsALineOnceEvenWhenItsLineFeedComesInALaterRead) {
  const auto monitor = Follow(GetParam());
  Append(Name, "one\r");
  EXPECT_EQ(PostedOnceThereAre(1), Lines{"one"});
  Append(Name, "\ntwo\r");
  EXPECT_EQ(PostedOnceThereAre(2), (Lines{"one", "two"}));
  LetPassesRun();
  Append(Name, "three\r\n");
  EXPECT_EQ(PostedOnceThereAre(3), (Lines{"one", "two", "three"}));
}

// Ten thousand bytes are one read; a megabyte is many, with lines across their borders.
TEST_P(FileMonitorWaking, ABurstComesOutWholeInOrderAndOnce) {
  const auto monitor = Follow(GetParam());
  Lines expected;
  for (const std::size_t bytes : {10000u, 1000000u}) {
    std::string burst;
    for (int i = 0; burst.size() < bytes; ++i) {
      expected.push_back(Format("line %d:%s", i, std::string(i % 97, 'x')));
      burst += expected.back() + "\n";
    }
    Append(Name, burst);
    EXPECT_EQ(PostedOnceThereAre(expected.size()), expected);
  }
}

TEST_P(FileMonitorWaking, ATruncatedFileIsReadAgainFromItsStart) {
  test::WriteFile(Name, std::string(1000, '.') + "\n");
  const auto monitor = Follow(GetParam());
  Append(Name, "before\nunfinished");
  EXPECT_EQ(PostedOnceThereAre(1), Lines{"before"});
  test::WriteFile(Name, "after\n");
  EXPECT_EQ(PostedOnceThereAre(2), (Lines{"before", "after"}));
}

// A writer that renames its file away, goes on writing into it for a while, then makes a new
// one, as log rotation does.
TEST_P(FileMonitorWaking, RotationByRenameLosesAndDoublesNoLine) {
  const auto monitor = Follow(GetParam());
  Lines expected;
  std::thread writer([&] {
    TFileDescriptor file = OpenToAppend(Name);
    for (int i = 0; i < 3000; ++i) {
      expected.push_back(Format("line %d", i));
      Write(file, expected.back() + "\n");
      if (i % 1000 == 999) {
        // Rotated once the monitor has read from this file, as a log lives long enough for that:
        // on a starved machine, one written and renamed away before the monitor's first look
        // at the name was never seen at all, as with any follower by name.
        Eventually([&] { return test::SourceLog().Count() > expected.size() - 1000; });
        std::filesystem::rename(Name, Name + "." + std::to_string(i));
        std::this_thread::sleep_for(20ms); // the monitor sees the name free meanwhile
        Write(file, "after rename\n");
        expected.push_back("after rename");
        file = OpenToAppend(Name);
      }
      if (i % 50 == 0)
        std::this_thread::sleep_for(1ms);
    }
  });
  writer.join();
  ExpectLines(PostedOnceThereAre(expected.size()), expected);
}

// Its unfinished last line is posted as a line of its own: nothing can complete it any more.
TEST_P(FileMonitorWaking, ADeletedFileIsAwaitedSilentlyAndItsSuccessorReadFromItsStart) {
  const auto monitor = Follow(GetParam());
  Append(Name, "last words\nunfinished");
  std::filesystem::remove(Name);
  EXPECT_EQ(PostedOnceThereAre(2), (Lines{"last words", "unfinished"}));
  EXPECT_TRUE(Eventually([&] { return !HoldsDeleted(Name); })) << "its space would not be freed";
  LetPassesRun();
  EXPECT_EQ(test::SourceLog().Count(), 2u);
  EXPECT_FALSE(monitor->Finished());
  test::WriteFile(Name, "first\nsecond\n");
  EXPECT_EQ(PostedOnceThereAre(4), (Lines{"last words", "unfinished", "first", "second"}));
}

// A daemon goes on writing into its renamed log until it reopens it, often seconds after the
// new file has appeared.
TEST_P(FileMonitorWaking, ARotatedAwayFileIsDrainedAfterItsSuccessorAppears) {
  const TFileDescriptor daemon = OpenToAppend(Name);
  const auto monitor = Follow(GetParam());
  Write(daemon, "before\n");
  std::filesystem::rename(Name, Name + ".1");
  Append(Name, "new file\n");
  EXPECT_EQ(PostedOnceThereAre(2), (Lines{"before", "new file"}));
  Write(daemon, "late\nunfinished");
  EXPECT_EQ(PostedOnceThereAre(4), (Lines{"before", "new file", "late", "unfinished"}));
}

TEST_P(FileMonitorWaking, TerminateEndsTheBodyWhileTheFileIsAwaited) {
  const auto monitor = Follow(GetParam());
  Append(Name, "line\n");
  ASSERT_EQ(PostedOnceThereAre(1).size(), 1u);
  std::filesystem::remove(Name);
  LetPassesRun();
  monitor->Terminate();
  EXPECT_TRUE(monitor->Handle()->WaitFor(Patience));
}

INSTANTIATE_TEST_SUITE_P(FileMonitor, FileMonitorWaking, testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Notified" : "Polling"; });

TEST_F(FileMonitor, LinesLongerThanAMebibyteArePostedInPiecesOfThatSize) {
  const auto monitor = Follow();
  constexpr std::size_t Mebibyte = 1 << 20;
  Append(Name, std::string(200000, 'a') + "\n" + std::string(Mebibyte + 100, 'b') + "\nafter\n");
  const Lines lines = PostedOnceThereAre(4);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], std::string(200000, 'a'));
  EXPECT_EQ(lines[1], std::string(Mebibyte, 'b'));
  EXPECT_EQ(lines[2], std::string(100, 'b'));
  EXPECT_EQ(lines[3], "after");
}

// A sparse file: a 32-bit position would land inside the hole of zeros and stay there.
TEST_F(FileMonitor, FollowsAFileBeyondFourGibibytes) {
  std::filesystem::resize_file(Name, (5ULL << 30) + 3);
  Append(Name, "\n");
  const auto monitor = Follow();
  Append(Name, "far out\n");
  EXPECT_EQ(PostedOnceThereAre(1), Lines{"far out"});
}

TEST_F(FileMonitor, TheSameFileFollowedTwicePostsEveryLineOncePerMonitor) {
  const auto first = Follow();
  const auto second = Follow();
  Append(Name, "a\nb\n");
  ASSERT_EQ(PostedOnceThereAre(4).size(), 4u);
  for (const auto& monitor : {first, second}) {
    Lines own;
    for (std::size_t i = 0; i < test::SourceLog().Count(); ++i) {
      if (test::SourceLog().GetItem(i).Source == monitor.get())
        own.push_back(test::SourceLog().GetItem(i).Text);
    }
    EXPECT_EQ(own, (Lines{"a", "b"}));
  }
}

// Every post fails here, the warning's too (after it is stored): the body ends all the same.
TEST_F(FileMonitor, AFailureEndsTheBodyWithAWarningNamingTheFileAndTheReason) {
  test::SourceLog().SetOnLogItem(
      [](TLogLevel, std::string_view) { throw std::runtime_error("no"); });
  const auto monitor = Follow();
  Append(Name, "one\ntwo\n");
  EXPECT_TRUE(monitor->Handle()->WaitFor(Patience));
  // Lines read together are stored together, before the first notification.
  ASSERT_EQ(Posted(), (Lines{"one", "two", "Stopped following " + Name + ": no"}));
  EXPECT_EQ(test::SourceLog().GetItem(2).Level, TLogLevel::Warning);
  EXPECT_EQ(test::SourceLog().GetItem(2).Source, nullptr);
}

TEST_F(FileMonitor, SetFileNameFailsForAFileThatCannotBeReadNamingIt) {
  const auto monitor = TThread::Create<TFileMonitorThread>(true, test::SourceLog());
  const auto failure = [&](const std::string& name) -> std::string {
    try {
      monitor->SetFileName(name);
    } catch (const std::exception& error) {
      return error.what();
    }
    return "no failure";
  };
  EXPECT_EQ(failure(Folder.Path()), "Cannot open file " + Folder.Path() + ": Is a directory");
  if (geteuid() != 0) {
    std::filesystem::permissions(Name, std::filesystem::perms::none);
    EXPECT_EQ(failure(Name), "Cannot open file " + Name + ": Permission denied");
  }
}

// A file that is not there, nor its folder, is said to be missing and followed once it appears:
// it is new, so from its start. So again when its folder goes and comes back.
TEST_F(FileMonitor, AMissingFileIsFollowedOnceItAndItsFolderAppear) {
  const std::string folder = Folder.File("later"), name = folder + "/app.log";
  const auto monitor = TThread::Create<TFileMonitorThread>(true, test::SourceLog());
  monitor->SetFileName(name);
  monitor->Resume();
  ASSERT_EQ(Posted(), Lines{"File " + name + " not found!"});
  EXPECT_EQ(test::SourceLog().GetItem(0).Level, TLogLevel::Warning);
  std::filesystem::create_directories(folder);
  Append(name, "one\n");
  ExpectLines(PostedOnceThereAre(2), {"File " + name + " not found!", "one"});
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  Append(name, "two\n");
  ExpectLines(PostedOnceThereAre(3), {"File " + name + " not found!", "one", "two"});
}

// The last lines as they are shown, blank ones not counted, come before what is appended; a last
// line without its end waits for it as any.
TEST_F(FileMonitor, RecentLinesComeFirstAsTheyAreShown) {
  const std::string longLine(20000, 'x'); // beyond a block of the walk back
  const std::vector<std::tuple<std::string, std::size_t, Lines>> cases{
      {"a\nb\n\n  \nc\r\nd", 2, {"b", "c", "d more"}},
      {"one\ntwo\n", 10, {"one", "two", "more"}},
      {"a\n" + longLine + "\nz\n", 2, {longLine, "z", "more"}},
      {"a\nb\n", 0, {"more"}}};
  for (const auto& [text, count, expected] : cases) {
    test::SourceLog().Clear();
    test::WriteFile(Name, text);
    const auto monitor = TThread::Create<TFileMonitorThread>(true, test::SourceLog());
    monitor->SetFileName(Name);
    monitor->SetRecentLines(count);
    monitor->Resume();
    Append(Name, " more\n");
    ExpectLines(PostedOnceThereAre(expected.size()), expected);
  }
}

} // namespace
} // namespace ornavel
