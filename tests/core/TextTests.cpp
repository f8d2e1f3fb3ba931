#include "TestSupport.h"
#include "core/TextUnit.h"

#include <optional>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

TEST(Trim, RemovesBlanksAndControlCharactersAtBothEndsOnly) {
  EXPECT_EQ(Trim("  \t spaced   out \r\n"), "spaced   out");
  EXPECT_EQ(Trim(std::string_view("\0x\x1f", 3)), "x");
  EXPECT_EQ(Trim(" \t\r\n "), "");
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(Trim("\xC3\xA9t\xC3\xA9"), "\xC3\xA9t\xC3\xA9"); // bytes above 127 stay
}

TEST(SameText, IgnoresAsciiCaseOnly) {
  EXPECT_TRUE(SameText("mtFile", "MTFILE"));
  EXPECT_FALSE(SameText("mtFile", "mtFil"));
  EXPECT_FALSE(SameText("\xC3\xA9", "\xC3\x89"));
}

TEST(TextToBool, ReadsTheWordsPeopleWriteInAnyCaseAndNumbers) {
  for (const char* yes : {"True", "TRUE", "yes", "On", "1", "2", "-1", "0.5"})
    EXPECT_EQ(TryTextToBool(yes), true) << yes;
  for (const char* no : {"false", "No", "OFF", "0", "0.0"})
    EXPECT_EQ(TryTextToBool(no), false) << no;
  for (const char* neither : {"", "maybe", "yes!", "y", " true"}) {
    EXPECT_EQ(TryTextToBool(neither), std::nullopt) << neither;
    EXPECT_THROW(TextToBool(neither), EConvertError);
  }
}

struct TIntCase {
  const char* Text;
  std::optional<std::int32_t> Value;
};

class StrToInt : public testing::TestWithParam<TIntCase> {};

TEST_P(StrToInt, ReadsLikeTheFramework) {
  EXPECT_EQ(TryStrToInt(GetParam().Text), GetParam().Value) << '"' << GetParam().Text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Text, StrToInt,
    testing::Values(TIntCase{"13", 13}, TIntCase{"  13", 13}, TIntCase{"+7", 7}, TIntCase{"-1", -1},
                    TIntCase{"$1F", 31}, TIntCase{"x1f", 31}, TIntCase{"X1F", 31},
                    TIntCase{"0x10", 16}, TIntCase{"0X10", 16}, TIntCase{"-$10", -16},
                    TIntCase{"2147483647", 2147483647}, TIntCase{"-2147483648", -2147483647 - 1},
                    TIntCase{"$FF000008", static_cast<std::int32_t>(0xFF000008)},
                    TIntCase{"$FFFFFFFF", -1}, TIntCase{"2147483648", std::nullopt},
                    TIntCase{"$100000000", std::nullopt}, TIntCase{"", std::nullopt},
                    TIntCase{"-", std::nullopt}, TIntCase{"$", std::nullopt},
                    TIntCase{"ab", std::nullopt}, TIntCase{"12 ", std::nullopt},
                    TIntCase{"1.5", std::nullopt}, TIntCase{"$G1", std::nullopt},
                    TIntCase{"99999999999999999999", std::nullopt}),
    [](const auto& info) { return test::CaseName(info.index, info.param.Text); });

} // namespace
} // namespace ornavel
