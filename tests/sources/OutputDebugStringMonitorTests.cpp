#include "ChildProcessUnit.h"
#include "TestSupport.h"
#include "config/ConfigUnit.h"
#include "core/FormatUnit.h"
#include "core/LogUnit.h"
#include "sources/OutputDebugStringMonitorThreadUnit.h"
#include "writer/DebugProtocolUnit.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

using namespace std::chrono_literals;
using test::Patience;
using test::TChildProcess;

std::string UniqueSuffix() {
  static std::atomic<int> next{0};
  return "-ornavel-test-" + std::to_string(::getpid()) + "-" + std::to_string(next++);
}

std::string ShmPath(const std::string& name) {
  return "/dev/shm" + name;
}

std::string SemaphorePath(const std::string& name) {
  return "/dev/shm/sem." + name.substr(1);
}

// The buffer object's inode when it has its full size; 0 otherwise.
ino_t ReadyBuffer(const std::string& name) {
  struct stat status {};
  return ::stat(ShmPath(name).c_str(), &status) == 0 && status.st_size == ORNAVEL_DEBUG_BUFFER_SIZE
             ? status.st_ino
             : 0;
}

std::string WithPid(const char* text) {
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "($%08X) ", static_cast<unsigned>(::getpid()));
  return prefix + std::string(text);
}

// Every reader runs on objects with names of its test's own.
class DebugOutput : public testing::Test {
protected:
  void SetUp() override {
    GetConfig().SetIncludePID(false);
    test::SourceLog().Clear();
  }
  void TearDown() override {
    for (const auto& reader : Readers)
      Stop(reader);
    GetConfig().Save();
  }

  // Starts a reader and returns once it has joined: one that is alone makes a buffer of its own
  // (objects left by a dead reader are replaced), a later one warns.
  std::shared_ptr<TOutputDebugStringMonitorThread> StartReader() {
    const std::size_t warned = Warnings().size();
    const ino_t before = ReadyBuffer(Names.Buffer);
    const bool alone = Live == 0;
    auto reader = TThread::Create<TOutputDebugStringMonitorThread>(false, test::SourceLog(),
                                                                   GetConfig(), Names);
    Readers.push_back(reader);
    ++Live;
    EXPECT_TRUE(WaitUntil([&] {
      const ino_t now = ReadyBuffer(Names.Buffer);
      return alone ? now != 0 && now != before : Warnings().size() > warned;
    }));
    return reader;
  }

  void Stop(const std::shared_ptr<TOutputDebugStringMonitorThread>& reader) {
    if (reader->Finished())
      return;
    reader->Terminate();
    reader->WaitFor();
    --Live;
  }

  bool WaitUntil(const std::function<bool()>& done) { return test::ServeUntil(Loop, done); }

  // Runs the command with these arguments and answers its exit status.
  int Send(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), ORNAVEL_DEBUG_BINARY);
    TChildProcess writer(arguments, {"ORNAVEL_DEBUG_SUFFIX=" + Suffix});
    return writer.Wait(Patience);
  }

  // The readers' lines, in the order posted.
  static std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < test::SourceLog().Count(); ++i) {
      const TLogItem item = test::SourceLog().GetItem(i);
      if (item.Source != nullptr)
        lines.push_back(item.Text);
    }
    return lines;
  }

  static std::vector<std::string> Warnings() {
    std::vector<std::string> warnings;
    for (std::size_t i = 0; i < test::SourceLog().Count(); ++i) {
      const TLogItem item = test::SourceLog().GetItem(i);
      if (item.Source == nullptr)
        warnings.push_back(item.Text +
                           (item.Level == TLogLevel::Warning ? "" : " (not a warning)"));
    }
    return warnings;
  }

  bool WaitForLines(std::size_t count) {
    return WaitUntil([&] { return Lines().size() >= count; });
  }

  bool ObjectsExist() const {
    return std::filesystem::exists(ShmPath(Names.Buffer)) ||
           std::filesystem::exists(SemaphorePath(Names.BufferReady)) ||
           std::filesystem::exists(SemaphorePath(Names.DataReady));
  }

  TEventLoop Loop; // outlives the readers, whose end may hand its notice over
  const std::string Suffix = UniqueSuffix();
  const TDebugObjectNames Names = TDebugObjectNames::WithSuffix(Suffix);
  std::vector<std::shared_ptr<TOutputDebugStringMonitorThread>> Readers;
  int Live = 0;
};

TEST_F(DebugOutput, MessagesOfARealWriterBecomeLinesWithItsProcessIdWhenAskedFor) {
  GetConfig().SetIncludePID(true);
  StartReader();
  const std::string longest(4091, 'x');
  ASSERT_EQ(Send({"--pid", "3900", "hello\r\n", "a\r\nb\n", "", longest, std::string(5000, 'y')}),
            0);
  ASSERT_TRUE(WaitForLines(5));
  GetConfig().SetIncludePID(false); // read for every message
  ASSERT_EQ(Send({"--pid", "3900", "hello\r\n"}), 0);
  ASSERT_TRUE(WaitForLines(6));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"($00000F3C) hello", "($00000F3C) ab",
                                               "($00000F3C) ", "($00000F3C) " + longest,
                                               "($00000F3C) " + std::string(4091, 'y'), "hello"}));
  EXPECT_EQ(test::SourceLog().GetItem(1).MonitorType, mtDebugString);
  EXPECT_EQ(Warnings(), std::vector<std::string>{});
}

// The objects as a writer that keeps to no rules sees them.
class TRawWriter {
public:
  explicit TRawWriter(const TDebugObjectNames& names)
      : FBuffer(::shm_open(names.Buffer.c_str(), O_RDWR, 0)),
        FBufferReady(::sem_open(names.BufferReady.c_str(), 0)),
        FDataReady(::sem_open(names.DataReady.c_str(), 0)),
        FView(::mmap(nullptr, ORNAVEL_DEBUG_BUFFER_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED,
                     FBuffer.Get(), 0),
              ORNAVEL_DEBUG_BUFFER_SIZE) {}

  bool TakeBuffer() const {
    std::timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += 5;
    return FBufferReady.WaitUntil(deadline) == 0;
  }
  unsigned char* View() const { return FView.Bytes(); }
  void PostData() const { ::sem_post(FDataReady.Get()); }
  void PostBuffer() const { ::sem_post(FBufferReady.Get()); }

private:
  TFileDescriptor FBuffer;
  TNamedSemaphore FBufferReady;
  TNamedSemaphore FDataReady;
  TMapping FView;
};

TEST_F(DebugOutput, BufferFilledWithoutNulIsReadToItsEndAndRepeatedPostsWakeNobody) {
  GetConfig().SetIncludePID(true);
  StartReader();
  {
    const TRawWriter hostile(Names);
    ASSERT_TRUE(hostile.TakeBuffer());
    std::memset(hostile.View(), 'z', ORNAVEL_DEBUG_BUFFER_SIZE);
    for (int post = 0; post < 3; ++post)
      hostile.PostData();
    ASSERT_TRUE(WaitForLines(1));
    hostile.PostData(); // surely after the message was taken
  }
  ASSERT_EQ(Send({"next"}), 0);
  ASSERT_TRUE(WaitForLines(2));
  // The command sends its caller's process id: this test's, whose name the line's source gives.
  EXPECT_EQ(Lines(),
            (std::vector<std::string>{"($7A7A7A7A) " + std::string(4092, 'z'), WithPid("next")}));
  std::string name;
  std::getline(std::ifstream("/proc/self/comm"), name);
  EXPECT_EQ(test::SourceLog().GetItem(1).SourceName, Format("%s[%d]", name, ::getpid()));
}

TEST_F(DebugOutput, TerminatingAnIdleReaderEndsItPromptlyAndRemovesTheObjects) {
  const auto reader = StartReader();
  const auto start = std::chrono::steady_clock::now();
  Stop(reader);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, 1s); // 100 ms by design, with room for a loaded machine
  EXPECT_FALSE(ObjectsExist());
  EXPECT_EQ(Send({"nobody listens"}), 1);
}

TEST_F(DebugOutput, SecondReaderWarnsAndEachMessageReachesExactlyOneReader) {
  const auto first = StartReader();
  StartReader();
  EXPECT_EQ(Warnings(), std::vector<std::string>{"Event already exists"});
  std::vector<std::string> messages;
  for (int i = 0; i < 300; ++i)
    messages.push_back(Format("m%d", i));
  ASSERT_EQ(Send(messages), 0);
  ASSERT_TRUE(WaitForLines(messages.size()));
  Stop(first); // the objects stay for the other reader
  ASSERT_EQ(Send({"after the first left"}), 0);
  messages.push_back("after the first left");
  ASSERT_TRUE(WaitForLines(messages.size()));
  std::vector<std::string> lines = Lines();
  std::ranges::sort(lines);
  std::ranges::sort(messages);
  EXPECT_EQ(lines, messages);
}

// A reader that joins while a writer holds the buffer must leave it with that writer: handing it
// to the next one would let that one overwrite the message being written.
TEST_F(DebugOutput, AJoiningReaderLeavesATakenBufferWithItsWriter) {
  TChildProcess first({DEBUG_PEER_BINARY, "reader", Suffix}, {});
  ASSERT_TRUE(
      first.WaitForOutput([](const auto& out, const auto&) { return out == "ready\n"; }, Patience));
  ++Live; // the peer's
  const TRawWriter writer(Names);
  ASSERT_TRUE(writer.TakeBuffer());
  Stop(StartReader()); // it has joined and served
  const TNamedSemaphore bufferReady(::sem_open(Names.BufferReady.c_str(), 0));
  EXPECT_EQ(bufferReady.Value(), 0);
}

// Real writers flood the readers while readers join and leave: every message that a writer was
// told was delivered reaches one reader, once.
TEST_F(DebugOutput, ReadersJoiningAndLeavingDuringAFloodLoseNothing) {
  StartReader();
  constexpr int Writers = 4;
  constexpr int PerWriter = 2500;
  std::vector<std::string> sent;
  std::vector<std::unique_ptr<TChildProcess>> writers;
  for (int w = 0; w < Writers; ++w) {
    std::vector<std::string> arguments{ORNAVEL_DEBUG_BINARY};
    for (int m = 0; m < PerWriter; ++m) {
      sent.push_back(Format("w%d m%d", w, m));
      arguments.push_back(sent.back());
    }
    writers.push_back(std::make_unique<TChildProcess>(
        arguments, std::vector<std::string>{"ORNAVEL_DEBUG_SUFFIX=" + Suffix}));
  }
  // Each step once that many lines have come, while the writers go on.
  const std::size_t total = sent.size();
  const auto after = [&](std::size_t lines) {
    return WaitUntil([&] { return test::SourceLog().Count() >= lines; });
  };
  ASSERT_TRUE(after(total / 10));
  const auto second = StartReader();
  ASSERT_TRUE(after(2 * total / 10));
  const auto third = StartReader();
  ASSERT_TRUE(after(3 * total / 10));
  Stop(second);
  ASSERT_TRUE(after(4 * total / 10));
  StartReader();
  ASSERT_TRUE(after(5 * total / 10));
  Stop(third);
  for (const auto& writer : writers)
    EXPECT_EQ(writer->Wait(Patience), 0) << writer->Errors();
  WaitForLines(total);
  std::vector<std::string> lines = Lines();
  std::ranges::sort(lines);
  std::ranges::sort(sent);
  std::vector<std::string> lost, doubled;
  std::ranges::set_difference(sent, lines, std::back_inserter(lost));
  std::ranges::set_difference(lines, sent, std::back_inserter(doubled));
  EXPECT_EQ(lost, std::vector<std::string>{});
  EXPECT_EQ(doubled, std::vector<std::string>{});
}

class DebugOutputReaders : public DebugOutput,
                           public testing::WithParamInterface<std::array<int, 3>> {};

TEST_P(DebugOutputReaders, WritersAreServedWhileOneIsLeftAndTheLastRemovesTheObjects) {
  for (int i = 0; i < 3; ++i)
    StartReader();
  EXPECT_EQ(Warnings(), std::vector<std::string>(2, "Event already exists"));
  for (std::size_t stopped = 0; stopped < 3; ++stopped) {
    Stop(Readers[static_cast<std::size_t>(GetParam()[stopped])]);
    if (stopped == 2)
      break;
    const std::string message = "after " + std::to_string(stopped + 1) + " left";
    ASSERT_EQ(Send({message}), 0);
    ASSERT_TRUE(WaitUntil([&] { return !Lines().empty() && Lines().back() == message; }));
  }
  EXPECT_FALSE(ObjectsExist());
  EXPECT_EQ(Send({"nobody listens"}), 1);
}

INSTANTIATE_TEST_SUITE_P(EveryOrder, DebugOutputReaders,
                         testing::Values(std::array{0, 1, 2}, std::array{0, 2, 1},
                                         std::array{1, 0, 2}, std::array{1, 2, 0},
                                         std::array{2, 0, 1}, std::array{2, 1, 0}));

TEST_F(DebugOutput, ObjectsOfAKilledReaderAreReplacedWithoutAWarningOrTheirCounts) {
  {
    TChildProcess killed({DEBUG_PEER_BINARY, "reader", Suffix}, {});
    ASSERT_TRUE(killed.WaitForOutput([](const auto& out, const auto&) { return out == "ready\n"; },
                                     Patience));
    killed.Signal(SIGKILL);
    killed.Wait(Patience);
  }
  ASSERT_TRUE(ObjectsExist());
  EXPECT_EQ(Send({"nobody reads"}), 1); // not written into objects nobody reads
  {
    // Counts a dead reader may leave: the buffer free twice over, and a message that is not there.
    const TRawWriter leftovers(Names);
    leftovers.PostBuffer();
    leftovers.PostData();
  }
  StartReader();
  ASSERT_EQ(Send({"one", "two", "three"}), 0);
  ASSERT_TRUE(WaitForLines(3));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(Warnings(), std::vector<std::string>{});
}

TEST_F(DebugOutput, ReaderKilledBesideAnotherLeavesItServing) {
  StartReader();
  TChildProcess killed({DEBUG_PEER_BINARY, "reader", Suffix}, {});
  ASSERT_TRUE(killed.WaitForOutput([](const auto& out, const auto&) { return out == "ready\n"; },
                                   Patience));
  killed.Signal(SIGKILL);
  killed.Wait(Patience);
  ASSERT_EQ(Send({"still served"}), 0);
  ASSERT_TRUE(WaitForLines(1));
  EXPECT_EQ(Lines(), std::vector<std::string>{"still served"});
}

// A writer that took the buffer and never gave it back, alive or dead.
class DebugOutputHolder : public DebugOutput, public testing::WithParamInterface<bool> {};

TEST_P(DebugOutputHolder, BufferIsGivenBackAtOnceWhenItDiedAndAfterASecondWhenItLives) {
  const bool dies = GetParam();
  StartReader();
  TChildProcess holder({DEBUG_PEER_BINARY, "hold", Suffix}, {});
  ASSERT_TRUE(holder.WaitForOutput([](const auto& out, const auto&) { return out == "ready\n"; },
                                   Patience));
  if (dies) {
    holder.Signal(SIGKILL);
    holder.Wait(Patience);
  }
  const auto start = std::chrono::steady_clock::now();
  // The writer's patience of 2 s covers both.
  ASSERT_EQ(Send({"after the holder"}), 0);
  const auto took = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(WaitForLines(1));
  EXPECT_EQ(Lines(), std::vector<std::string>{"after the holder"});
  // A live holder is not robbed before about a second.
  if (!dies) {
    EXPECT_GE(took, 900ms);
  }
}

INSTANTIATE_TEST_SUITE_P(DebugOutput, DebugOutputHolder, testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Dead" : "Alive"; });

TEST_F(DebugOutput, WriterKeepingItsObjectsFollowsARestartedReader) {
  const auto reader = StartReader();
  TChildProcess writer({ORNAVEL_DEBUG_BINARY}, {"ORNAVEL_DEBUG_SUFFIX=" + Suffix}, true);
  writer.Input("before\n");
  ASSERT_TRUE(WaitForLines(1));
  Stop(reader);
  StartReader();
  writer.Input("after\n");
  ASSERT_TRUE(WaitForLines(2)) << writer.Errors();
  writer.CloseInput();
  EXPECT_EQ(writer.Wait(Patience), 0);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"before", "after"}));
}

class DebugOutputUmask : public DebugOutput, public testing::WithParamInterface<mode_t> {};

TEST_P(DebugOutputUmask, ObjectsAreTheOwnersAloneWhateverTheUmask) {
  const mode_t previous = ::umask(GetParam());
  StartReader();
  ::umask(previous);
  for (const std::string& path :
       {ShmPath(Names.Buffer), SemaphorePath(Names.BufferReady), SemaphorePath(Names.DataReady)}) {
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0) << path;
    EXPECT_EQ(status.st_mode & 07777, 0600u) << path;
  }
}

INSTANTIATE_TEST_SUITE_P(DebugOutput, DebugOutputUmask, testing::Values(0, 0277));

// While it lives, no file of the process may grow beyond 1 KiB: the semaphores fit, the buffer
// does not.
class TSmallFilesOnly {
public:
  TSmallFilesOnly() {
    std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &FPrevious);
    rlimit small = FPrevious;
    small.rlim_cur = 1024;
    ::setrlimit(RLIMIT_FSIZE, &small);
  }
  ~TSmallFilesOnly() { ::setrlimit(RLIMIT_FSIZE, &FPrevious); }
  TSmallFilesOnly(const TSmallFilesOnly&) = delete;
  TSmallFilesOnly& operator=(const TSmallFilesOnly&) = delete;

private:
  rlimit FPrevious{};
};

TEST_F(DebugOutput, BufferThatCannotBeReservedFailsTheSetUpAndLeavesNothing) {
  const TSmallFilesOnly limit;
  const auto reader = TThread::Create<TOutputDebugStringMonitorThread>(false, test::SourceLog(),
                                                                       GetConfig(), Names);
  reader->WaitFor(); // ends by itself
  ASSERT_EQ(test::SourceLog().Count(), 1u);
  const TLogItem item = test::SourceLog().GetItem(0);
  EXPECT_EQ(item.Text,
            std::string("Unable to create file mapping object: ") + std::strerror(EFBIG));
  EXPECT_EQ(item.Level, TLogLevel::Warning);
  EXPECT_EQ(item.Source, nullptr);
  EXPECT_FALSE(ObjectsExist());
}

} // namespace
} // namespace ornavel
