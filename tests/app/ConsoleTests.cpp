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
