#include "TestSupport.h"
#include "app/ConsoleUnit.h"
#include "app/ConsoleWriterUnit.h"
#include "core/FormatUnit.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

// What a network sender puts into a line must never reach the terminal as a control sequence.
TEST(Console, ControlCharactersAreShownNotSent) {
  EXPECT_EQ(ConsoleText("plain\ttab"), "plain\ttab");
  EXPECT_EQ(ConsoleText("\x1b[2Jwiped"), "\\x1B[2Jwiped");
  EXPECT_EQ(ConsoleText(std::string("nul\0bell\a", 9)), "nul\\x00bell\\x07");
  EXPECT_EQ(ConsoleText("del\x7f"), "del\\x7F");
  EXPECT_EQ(ConsoleText("caf\xc3\xa9"), "caf\xc3\xa9"); // UTF-8 passes as it is
}

// C1 controls drive 8-bit terminals and UTF-8 ones alike: encoded (U+0080 to U+009F) or raw.
TEST(Console, C1ControlsEncodedOrRawAreShownNotSent) {
  EXPECT_EQ(ConsoleText("osc\xc2\x9d"
                        "0;title\xc2\x9c"),
            "osc\\xC2\\x9D0;title\\xC2\\x9C");
  EXPECT_EQ(ConsoleText("raw\x9b"
                        "2J"),
            "raw\\x9B2J");
  EXPECT_EQ(ConsoleText("\xc2\xa0nbsp \xe2\x82\xac \xf0\x9f\x98\x80"),
            "\xc2\xa0nbsp \xe2\x82\xac \xf0\x9f\x98\x80"); // U+00A0, U+20AC, U+1F600
  EXPECT_EQ(ConsoleText("cut \xe2\x82"), "cut \xe2\\x82"); // a broken sequence: its C1 byte
  EXPECT_EQ(ConsoleText("latin1 caf\xe9"), "latin1 caf\xe9");
  // Runs of printable text are taken sixteen or eight bytes at a time: a control at any place
  // of a run, and the edges of the printable range.
  for (std::size_t at = 0; at < 40; ++at) {
    std::string line(40, 'a');
    line[at] = '\x9b';
    EXPECT_EQ(ConsoleText(line), std::string(at, 'a') + "\\x9B" + std::string(39 - at, 'a'));
    line[at] = '\x1f';
    EXPECT_EQ(ConsoleText(line), std::string(at, 'a') + "\\x1F" + std::string(39 - at, 'a'));
    line[at] = '\x7f';
    EXPECT_EQ(ConsoleText(line), std::string(at, 'a') + "\\x7F" + std::string(39 - at, 'a'));
    line[at] = '~';
    EXPECT_EQ(ConsoleText(line), line);
    line[at] = ' ';
    EXPECT_EQ(ConsoleText(line), line);
  }
}

TEST(Console, ColoursFollowTheWindowsPainting) {
  TLogItem item;
  const auto ConsoleColor = [](const TLogItem& item) {
    return ornavel::ConsoleColor(ShownConsoleColor(item.Level, item.Color));
  };
  EXPECT_EQ(ConsoleColor(item), ""); // window text: the terminal's own colour
  item.Color = 0x00336699;
  EXPECT_EQ(ConsoleColor(item), "\x1b[1;38;2;153;102;51m");
  item.Color = SystemColor(13);
  EXPECT_EQ(ConsoleColor(item), "");
  item.Level = TLogLevel::Warning;
  EXPECT_EQ(ConsoleColor(item), "\x1b[1;38;2;255;0;0m");
  item.Color = clWindowText;
  item.Level = TLogLevel::Exception;
  EXPECT_EQ(ConsoleColor(item), "\x1b[1;38;2;255;0;0m");
  item.Level = TLogLevel::LoadFailure;
  EXPECT_EQ(ConsoleColor(item), "\x1b[1;38;2;255;0;0m");
  item.Level = TLogLevel::Debug;
  EXPECT_EQ(ConsoleColor(item), "");
}

// Pipes and sockets are written in large blocks that never block the writer: every line still
// arrives, in order, however much is waiting, and a reader that stops never keeps it from ending.
enum class TOutput { Pipe, Socket };
class ConsoleWriterOutput : public testing::TestWithParam<TOutput> {};

std::string LineText(int number) {
  return Format("line %d ", number) + std::string(90, '.');
}

// What arrives until the text ends with tail, or the patience is up.
std::string ReadUntil(int descriptor, const std::string& tail) {
  std::string read;
  const auto giveUp = std::chrono::steady_clock::now() + test::Patience;
  while (!read.ends_with(tail) && std::chrono::steady_clock::now() < giveUp) {
    pollfd readable{descriptor, POLLIN, 0};
    if (::poll(&readable, 1, 100) <= 0)
      continue;
    char buffer[65536];
    const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
    if (count <= 0)
      break;
    read.append(buffer, static_cast<std::size_t>(count));
  }
  return read;
}

TEST_P(ConsoleWriterOutput, EveryLineArrivesInOrderAndAStoppedReaderDoesNotHoldTheEnd) {
  int ends[2];
  ASSERT_EQ(GetParam() == TOutput::Pipe
                ? ::pipe2(ends, O_CLOEXEC)
                : ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends),
            0);
  const TFileDescriptor reader(ends[0]), output(ends[1]);
  TLog log;
  TConsoleWriter writer(log, output.Get(), false);
  constexpr int Lines = 5000; // half a megabyte, far more than the output holds at once
  for (int i = 0; i < Lines; ++i)
    log.AddLine(nullptr, LineText(i));
  writer.Start("hh:nn");
  const std::string read = ReadUntil(reader.Get(), LineText(Lines - 1) + "\n");
  std::size_t start = 0;
  for (int i = 0; i < Lines; ++i) {
    const std::size_t end = read.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "line " << i;
    const std::string line = read.substr(start, end - start);
    ASSERT_EQ(line.substr(line.find('\t') + 1), LineText(i));
    start = end + 1;
  }
  EXPECT_EQ(start, read.size());
  for (int i = 0; i < Lines; ++i)
    log.AddLine(nullptr, LineText(i));
  writer.Wake();
  writer.Finish(std::chrono::milliseconds(50)); // returns, though nobody reads
}

// An alert rings a terminal's bell after its line, once a second at most; a pipe hears none.
TEST(ConsoleWriter, AlertsRingATerminalsBellOnlyAndAtMostOnceASecond) {
  int controller = -1, terminal = -1;
  termios raw{};
  ::cfmakeraw(&raw); // lines as written, without a carriage return added
  ASSERT_EQ(::openpty(&controller, &terminal, nullptr, &raw, nullptr), 0);
  const TFileDescriptor ownController(controller), ownTerminal(terminal);
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  const TFileDescriptor reader(ends[0]), output(ends[1]);
  TLog log;
  TConsoleWriter onTerminal(log, terminal, false), onPipe(log, output.Get(), false);
  onTerminal.Start("hh:nn");
  onPipe.Start("hh:nn");
  log.AddLine(nullptr, "disk failed");
  for (TConsoleWriter* writer : {&onTerminal, &onPipe}) {
    writer->Ring();
    writer->Ring();
  }
  std::string shown = ReadUntil(controller, "\a");
  EXPECT_NE(shown.find("disk failed\n\a"), std::string::npos) << shown;
  log.AddLine(nullptr, "the end");
  onTerminal.Wake();
  onPipe.Wake();
  shown += ReadUntil(controller, "the end\n");
  EXPECT_EQ(std::count(shown.begin(), shown.end(), '\a'), 1) << shown;
  const std::string piped = ReadUntil(reader.Get(), "the end\n");
  EXPECT_EQ(piped.find('\a'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Console, ConsoleWriterOutput,
                         testing::Values(TOutput::Pipe, TOutput::Socket), [](const auto& info) {
                           return std::string(info.param == TOutput::Pipe ? "Pipe" : "Socket");
                         });

} // namespace
} // namespace ornavel
