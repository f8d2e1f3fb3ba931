#include "FindUnit.h"

#include "HiddenLinesUnit.h"
#include "core/LogUnit.h"
#include "rules/PatternUnit.h"
#include "rules/RuleTextUnit.h"

#include <algorithm>

namespace ornavel {
namespace {

// Rows read under one lock: long enough to be quick, short enough not to hold up a posting thread.
constexpr std::size_t RowsPerRead = 4096;

// Plain text as a caseless expression of its own characters (Unicode case folding included).
std::string LiteralPattern(const std::string& text) {
  return "(*UTF)(?i)" + LiteralRegExp(text);
}

} // namespace

TLogFinder::TLogFinder(const TLog& log) : FLog(log) {}

TLogFinder::~TLogFinder() = default;

std::string TLogFinder::Seek(const std::string& text, bool regularExpression) {
  FMatches.clear();
  FSearched = 0;
  FPattern.reset();
  if (text.empty())
    return {};
  auto pattern = std::make_unique<TPattern>(regularExpression ? text : LiteralPattern(text));
  if (!pattern->Valid())
    return pattern->CompileError();
  FPattern = std::move(pattern);
  Update();
  return {};
}

void TLogFinder::Update() {
  const TLog::TExtent extent = FLog.Extent();
  // Lines the log no longer holds (removed at its cap, or cleared) are found no more.
  FMatches.erase(FMatches.begin(),
                 std::lower_bound(FMatches.begin(), FMatches.end(), extent.First));
  if (FPattern)
    SearchFrom(std::max<std::uint64_t>(FSearched, extent.First), extent.First + extent.Count);
}

void TLogFinder::SearchAgain() {
  FMatches.clear();
  FSearched = 0;
  Update();
}

void TLogFinder::SearchFrom(std::uint64_t first, std::uint64_t end) {
  for (std::uint64_t from = first; from < end; from += RowsPerRead) {
    FLog.ReadTexts(from, std::min<std::uint64_t>(from + RowsPerRead, end),
                   [this](std::uint64_t line, std::string_view text) {
                     if (FHidden != nullptr && FHidden->Contains(line))
                       return;
                     bool found = false;
                     try {
                       found = FPattern->Search(text);
                     } catch (const EPatternError&) {
                       // A line that exhausts the engine's limits is not a match.
                     }
                     if (found)
                       FMatches.push_back(line);
                   });
  }
  FSearched = std::max(FSearched, end);
}

bool TLogFinder::Matches(std::size_t row) const {
  return std::binary_search(FMatches.begin(), FMatches.end(), row);
}

std::optional<std::size_t> TLogFinder::Next(std::size_t row, bool forwards) const {
  if (FMatches.empty())
    return std::nullopt;
  if (forwards) {
    const auto after = std::upper_bound(FMatches.begin(), FMatches.end(), row);
    return after == FMatches.end() ? FMatches.front() : *after;
  }
  const auto before = std::lower_bound(FMatches.begin(), FMatches.end(), row);
  return before == FMatches.begin() ? FMatches.back() : *std::prev(before);
}

std::optional<std::size_t> TLogFinder::LastUpTo(std::size_t row) const {
  if (FMatches.empty())
    return std::nullopt;
  const auto after = std::upper_bound(FMatches.begin(), FMatches.end(), row);
  return after == FMatches.begin() ? FMatches.back() : *std::prev(after);
}

std::size_t TLogFinder::Ordinal(std::size_t row) const {
  return static_cast<std::size_t>(std::lower_bound(FMatches.begin(), FMatches.end(), row) -
                                  FMatches.begin()) +
         1;
}

} // namespace ornavel
