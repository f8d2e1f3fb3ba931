#include "app/ConsoleUnit.h"

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
  // Runs of printable text are taken eight bytes at a time: a control at any place of a run.
  for (std::size_t at = 0; at < 20; ++at) {
    std::string line(20, 'a');
    line[at] = '\x9b';
    EXPECT_EQ(ConsoleText(line), std::string(at, 'a') + "\\x9B" + std::string(19 - at, 'a'));
    line[at] = '~';
    EXPECT_EQ(ConsoleText(line), line);
  }
}

TEST(Console, ColoursFollowTheWindowsPainting) {
  TLogItem item;
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
  EXPECT_EQ(ConsoleColor(item), "");
}

} // namespace
} // namespace ornavel
