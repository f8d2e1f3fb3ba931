#include "ui/HiddenLinesUnit.h"

#include <random>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

// Rows and lines map both ways as a walk over every line would map them, as lines are hidden,
// shown again and lost at the log's start.
TEST(HiddenLines, RowsAndLinesMapBothWaysAsAWalkOverTheLinesWould) {
  std::mt19937 random(7);
  THiddenLines hidden;
  std::vector<bool> isHidden(400, false);
  std::uint64_t first = 100;
  for (int round = 0; round < 30; ++round) {
    std::vector<std::uint64_t> hide, show;
    for (std::uint64_t line = first; line < 500; ++line) {
      if (random() % 5 == 0)
        (isHidden[line - 100] ? show : hide).push_back(line);
    }
    (round % 3 == 2 ? hidden.Show(show) : hidden.Hide(hide));
    for (const std::uint64_t line : round % 3 == 2 ? show : hide)
      isHidden[line - 100] = round % 3 != 2;
    const std::uint64_t newFirst = first + random() % 10;
    std::size_t lost = 0;
    for (std::uint64_t line = first; line < newFirst; ++line)
      lost += isHidden[line - 100];
    EXPECT_EQ(hidden.ForgetBefore(newFirst), lost);
    first = newFirst;

    std::size_t row = 0;
    for (std::uint64_t line = first; line < 500; ++line) {
      if (isHidden[line - 100]) {
        EXPECT_FALSE(hidden.RowOfLine(first, line)) << line;
        continue;
      }
      EXPECT_EQ(hidden.RowOfLine(first, line), row) << line;
      EXPECT_EQ(hidden.LineOfRow(first, row), line) << row;
      ++row;
    }
    EXPECT_EQ(row + hidden.Count(), 500 - first);
  }
}

} // namespace
} // namespace ornavel
