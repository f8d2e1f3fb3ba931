#include "rules/PatternUnit.h"

#include <string>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

struct TMatchCase {
  const char* Name;
  std::string Pattern;
  std::string Text;
  bool Matches;
};

class PatternMatching : public testing::TestWithParam<TMatchCase> {};

TEST_P(PatternMatching, FollowsTheDefaultOptions) {
  const TPattern pattern(GetParam().Pattern);
  ASSERT_TRUE(pattern.Valid());
  EXPECT_EQ(pattern.Search(GetParam().Text), GetParam().Matches)
      << "/" << GetParam().Pattern << "/ on \"" << GetParam().Text << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Pattern, PatternMatching,
    testing::Values(TMatchCase{"Unanchored", "error", "disk error 7", true},
                    TMatchCase{"CaseSensitive", "error", "Disk Error", false},
                    TMatchCase{"InlineCaseless", "(?i)error", "Disk Error", true},
                    TMatchCase{"InlineGroupScoped", "(?i:disk) Error", "DISK Error", true},
                    TMatchCase{"InlineGroupEndsAtGroup", "(?i:disk) error", "disk ERROR", false},
                    TMatchCase{"DotMatchesLineFeed", "a.b", "a\nb", true},
                    TMatchCase{"DotMatchesCarriageReturn", "a.b", "a\rb", true},
                    TMatchCase{"InlineNoDotAll", "(?-s)a.b", "a\nb", false},
                    TMatchCase{"CaretOnlyAtStart", "^b", "a\nb", false},
                    TMatchCase{"DollarOnlyAtEnd", "a$", "a\nb", false},
                    TMatchCase{"DollarNotBeforeFinalNewline", "a$", "a\n", false},
                    TMatchCase{"DollarAtVeryEnd", "a$", "xa", true},
                    TMatchCase{"InlineMultiline", "(?m)^b$", "a\nb\nc", true},
                    TMatchCase{"WhiteSpaceIsLiteral", "disk full", "diskfull", false},
                    TMatchCase{"WhiteSpaceMatches", "disk full", "the disk full now", true},
                    TMatchCase{"InlineExtended", "(?x) disk \\  full", "disk full", true},
                    TMatchCase{"DotKeepsItsMeaning", "1.5", "125", true},
                    TMatchCase{"EscapedDot", "1\\.5", "125", false},
                    TMatchCase{"BarIsAlternation", "warn|error", "an error", true},
                    TMatchCase{"PlusIsRepetition", "a+b", "caaab", true},
                    TMatchCase{"BytesAboveAscii", "\xC3\xA9t\xC3\xA9", "r\xC3\xA9t\xC3\xA9", true},
                    TMatchCase{"TextWithZeroByte", "b", std::string("a\0b", 3), true},
                    TMatchCase{"EmptyText", "x", "", false},
                    TMatchCase{"Utf8ModeOnValidText", "(*UTF)^.$", "\xC3\xA9", true}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Pattern, PatternThatDoesNotCompileFailsEverySearchWithTheEngineMessage) {
  const TPattern pattern("[unclosed");
  EXPECT_FALSE(pattern.Valid());
  try {
    pattern.Search("anything");
    FAIL() << "searched";
  } catch (const EPatternError& error) {
    EXPECT_STREQ(error.what(), "missing terminating ] for character class at offset 9");
  }
}

TEST(Pattern, CatastrophicBacktrackingHitsTheMatchLimit) {
  const TPattern pattern("(a+)+$");
  try {
    pattern.Search(std::string(4096, 'a') + "b");
    FAIL() << "search completed";
  } catch (const EPatternError& error) {
    EXPECT_STREQ(error.what(), "match limit exceeded");
  }
  EXPECT_TRUE(pattern.Search("aaa")); // the pattern itself still works
}

// A Latin-1 line is not the pattern's fault: it matches where it can and the pattern works on.
TEST(Pattern, InvalidUtf8UnderUtfModeSimplyDoesNotMatchThere) {
  const TPattern pattern("(*UTF)caf.$");
  EXPECT_FALSE(pattern.Search("caf\xE9"));
  EXPECT_FALSE(pattern.Search("\xFF\xFE"));
  EXPECT_TRUE(pattern.Search("\xFF caf\xC3\xA9"));
  EXPECT_TRUE(pattern.Search("caf\xC3\xA9"));
  EXPECT_TRUE(TPattern("x").Search("\xFF\xFEx")); // without UTF, bytes are bytes
}

TEST(Pattern, PatternWithZeroByteCompilesWhole) {
  const TPattern pattern(std::string("a\0b", 3));
  EXPECT_TRUE(pattern.Search(std::string("xa\0b", 4)));
  EXPECT_FALSE(pattern.Search("a"));
}

} // namespace
} // namespace ornavel
