#include "rules/CandidateFinderUnit.h"
#include "rules/PatternUnit.h"
#include "rules/RequiredTextUnit.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

struct TReadingCase {
  const char* Name;
  std::string Pattern;
  const char* Required; // the texts joined by " or "; nullptr: none
  bool Caseless;
  bool Whole;
  // A text the engine matches, chosen so that a wrong reading would skip it.
  std::string Subject;
};

class RequiredTextReading : public testing::TestWithParam<TReadingCase> {};

TEST_P(RequiredTextReading, GivesTextEveryMatchHolds) {
  const TReadingCase& row = GetParam();
  const std::vector<TRequiredText> texts = RequiredTexts(row.Pattern);
  std::string joined;
  for (const TRequiredText& text : texts) {
    joined += (joined.empty() ? "" : " or ") + text.Text;
    EXPECT_EQ(text.Caseless, row.Caseless) << text.Text;
    EXPECT_EQ(text.Whole, row.Whole) << text.Text;
  }
  EXPECT_EQ(joined, row.Required == nullptr ? "" : row.Required);
  const TPattern pattern(row.Pattern);
  ASSERT_TRUE(pattern.Valid()) << pattern.CompileError();
  EXPECT_TRUE(pattern.Search(row.Subject));
}

INSTANTIATE_TEST_SUITE_P(
    RequiredText, RequiredTextReading,
    testing::Values(
        TReadingCase{"PlainWord", "error", "error", false, true, "no error here"},
        TReadingCase{"LeadingCaseless", "(?i)Warning", "warning", true, true, "a WARNING"},
        TReadingCase{"EscapedPunctuation", "1\\.5\\ x", "1.5 x", false, true, "v1.5 x"},
        TReadingCase{"EscapeLetterEndsRun", "disks\\sfull", "disks", false, false, "disks\tfull"},
        TReadingCase{"OptionalAtomLeavesRun", "colou?r", "colo", false, false, "color"},
        TReadingCase{"LazyRepeatLeavesRun", "ab+?cde", "cde", false, false, "abbbcde"},
        TReadingCase{"PossessiveRepeatLeavesRun", "x*+yz", "yz", false, false, "yz"},
        TReadingCase{"CountedRepeatLeavesRun", "timeout{2}s", "timeou", false, false, "timeoutts"},
        // Engines differ on whether spaces may stand in a count: the text fits either reading.
        TReadingCase{"CountWithSpaces", "x{ 1 }cd", "cd", false, false, "x{ 1 }cd or xcd"},
        TReadingCase{"CountAfterEscape", "\\d{3}ms$", "ms", false, false, "took 312ms"},
        TReadingCase{"BraceNotACount", "a{b}cd", "cd", false, false, "a{b}cd"},
        TReadingCase{"ClassLeftOut", "user=[a-z]+ id", "user=", false, false, "user=bob id"},
        TReadingCase{"ClassWithBracketFirstAndEscaped", "x[]\\]]yyy", "yyy", false, false, "x]yyy"},
        TReadingCase{"ControlEscapeInClass", "x[\\c]\\]]yyy", "yyy", false, false, "x]yyy"},
        TReadingCase{"PosixClass", "[[:alpha:]]zz", "zz", false, false, "azz"},
        // Not a POSIX class where "[:" meets another "[:" or a "]" first: the class ends earlier.
        TReadingCase{"BracketColonWithoutName", "[[:[:]|ab]cd", nullptr, false, false, "["},
        TReadingCase{"GroupLeftOut", "connection (reset|refused)", "connection ", false, false,
                     "connection refused"},
        TReadingCase{"NestedGroupWithComment", "(a(b)c(?#()d)tail", "tail", false, false,
                     "abcdtail"},
        TReadingCase{"CommentIsNotThere", "abc(?#note)de", "abcde", false, true, "abcde"},
        TReadingCase{"RepeatAfterComment", "abc(?#note)?de", "ab", false, false, "abde"},
        TReadingCase{"ScopedOptionsStayInGroup", "(?i:disk) Error", " Error", false, false,
                     "DISK Error"},
        TReadingCase{"AlternationInGroupOnly", "(warn|error) disk", " disk", false, false,
                     "error disk"},
        TReadingCase{"AnchorsAndEscapes", "^\\[\\d{4}-", "[", false, false, "[2024-03"},
        TReadingCase{"HexEscapeWithBraces", "\\x{41}BCD", "BCD", false, false, "ABCD"},
        TReadingCase{"HexEscapeTwoDigits", "\\x41BCD", "BCD", false, false, "ABCD"},
        TReadingCase{"PropertyEscapes", "\\p{Lu}xyz\\pLuvw", "xyz", false, false, "Axyzbuvw"},
        TReadingCase{"ControlEscape", "\\c{abcd", "abcd", false, false,
                     "\x3b"
                     "abcd"},
        TReadingCase{"BackReferences", "(?<n>a)\\g{-1}\\k<n>?\\1bcd", "bcd", false, false,
                     "aaabcd"},
        TReadingCase{"OctalEscape", "\\101bcd", "bcd", false, false, "Abcd"},
        TReadingCase{"Alternation", "warn|error", "warn or error", false, false, "an error"},
        TReadingCase{"AlternativeWithoutText", "warn|\\d+", nullptr, false, false, "7"},
        TReadingCase{"EmptyAlternative", "warn|", nullptr, false, false, "x"},
        TReadingCase{"GroupWhenLonger", "\\b(fail|error)\\b", "fail or error", false, false,
                     "an error"},
        TReadingCase{"CaselessGroup", "(?i)\\[(?:warn|error)\\]", "warn or error", true, false,
                     "[ERROR]"},
        TReadingCase{"OptionsInGroupCarryOn", "x((?i)ab|cd)y", "ab or cd", true, false, "xCDy"},
        TReadingCase{"NestedGroups", "(x(ab|cd)y|zzz)", "ab or cd or zzz", false, false, "xcdy"},
        TReadingCase{"OptionalGroupLeftOut", "(abc|def)?x", "x", false, false, "x"},
        TReadingCase{"RepeatAfterCommentLeavesGroup", "(abc|def)(?#c)*x", "x", false, false, "x"},
        TReadingCase{"LookaheadLeftOut", "(?=abc)\\w+", nullptr, false, false, "abc"},
        TReadingCase{"OptionsMidwayInGroup", "(a(?i)bc|de)", nullptr, false, false, "aBC"},
        TReadingCase{"OptionsSwitchedMidway", "disk(?i)full", nullptr, false, false, "diskFULL"},
        TReadingCase{"ExtendedGroup", "(?x: a b )cd", nullptr, false, false, "abcd"},
        TReadingCase{"Verb", "(*UTF)abc", nullptr, false, false, "abc"},
        // A callout's text may hold parentheses: "(?C#)(ab#)" is one callout, matching nothing.
        TReadingCase{"CalloutWithText", "(?C#)(ab#)", nullptr, false, false, "x"},
        TReadingCase{"Quoting", "\\Qa.b\\E", nullptr, false, false, "a.b"},
        TReadingCase{"BeyondAscii", "r\xC3\xA9t", nullptr, false, false, "r\xC3\xA9t"},
        TReadingCase{"NothingPlain", "\\d+", nullptr, false, false, "7"},
        TReadingCase{"Empty", "", nullptr, false, false, "anything"}),
    [](const auto& info) { return std::string(info.param.Name); });

std::string Upper(std::string text) {
  std::ranges::transform(text, text.begin(),
                         [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

bool NaiveContains(std::string text, const std::string& needle, bool caseless) {
  if (caseless) {
    std::ranges::transform(text, text.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  }
  return text.find(needle) != std::string::npos;
}

// Every length around the blocks the search works in, every place, both cases, and texts full
// of near misses: the first or the last byte alone, and bytes that differ from a letter only in
// the case bit.
TEST(RequiredText, ContainsAgreesWithAPlainSearchEverywhere) {
  const std::string needles[] = {"q", "qz", "err", "w@r[n"};
  const std::string fillers[] = {"x", "q", "z.q", "W`R{N"};
  for (const std::string& needle : needles) {
    for (const bool caseless : {false, true}) {
      const TRequiredText required{needle, caseless, false};
      for (const std::string& filler : fillers) {
        for (std::size_t length = 0; length <= 80; ++length) {
          std::string text;
          while (text.size() < length)
            text += filler;
          text.resize(length);
          ASSERT_EQ(ContainsRequired(text, required), NaiveContains(text, needle, caseless))
              << needle << " in " << text;
          for (std::size_t at = 0; at + needle.size() <= length; ++at) {
            std::string placed = text;
            placed.replace(at, needle.size(), caseless ? Upper(needle) : needle);
            ASSERT_EQ(ContainsRequired(placed, required), NaiveContains(placed, needle, caseless))
                << needle << " in " << placed;
          }
        }
      }
    }
  }
}

// A line is searched in pieces at once, or sixteen places at a time: a text must be found wherever
// it lies, across the pieces' and blocks' boundaries too, in lines of every length, both ways,
// and no other item may become a candidate, not even for a text whose first bytes are there.
TEST(CandidateFinder, FindsEachTextWhereverItLiesAndNothingElse) {
  const std::vector<std::vector<TRequiredText>> items{
      {{"needle-of-16byte"}}, {{"KEY", true}, {"other"}}, {{"zq"}}, {}, {{"nowhere"}}};
  const std::vector<std::span<const TRequiredText>> spans(items.begin(), items.end());
  const std::vector<std::pair<std::string, std::optional<std::size_t>>> placed{
      {"needle-of-16byte", 0},  {"kEy", 1}, {"zq", 2},
      {"needle-of-16bytE", {}}, {"zQ", {}}, {"nowher", {}}};
  std::vector<std::uint64_t> candidates;
  for (const auto way : {TCandidateFinder::TWay::Fastest, TCandidateFinder::TWay::Automaton}) {
    const TCandidateFinder finder(spans, way);
    for (std::size_t length = 0; length <= 200; ++length) {
      for (const auto& [text, item] : placed) {
        for (std::size_t at = 0; at + text.size() <= length; ++at) {
          std::string line(length, '.');
          line.replace(at, text.size(), text);
          finder.Find(line, candidates);
          ASSERT_EQ(candidates[0], (item ? std::uint64_t{1} << *item : 0) | (std::uint64_t{1} << 3))
              << "\"" << text << "\" at " << at << " of " << length;
        }
      }
    }
  }
}

} // namespace
} // namespace ornavel
