#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ornavel {

class THiddenLines;
class TLog;
class TPattern;

// Which lines of the log hold what the user seeks: plain text without regard to case, or a
// regular expression as the rules write them. Kept up to date as lines arrive and go; the log is
// read in short ranges, so the sources are never held up for long. Lines are named by the log's
// numbers, which the window turns into rows.
class TLogFinder {
public:
  explicit TLogFinder(const TLog& log);
  ~TLogFinder();
  TLogFinder(const TLogFinder&) = delete;
  TLogFinder& operator=(const TLogFinder&) = delete;

  // Seeks text from now on and searches the whole log again. Answers the engine's message when
  // text is not a valid expression (nothing is found then), empty otherwise; empty text finds
  // nothing.
  std::string Seek(const std::string& text, bool regularExpression);
  // Searches the lines that arrived since, and forgets those that went.
  void Update();
  // Lines the window hides are never found; after they change, SearchAgain.
  void SetHidden(const THiddenLines* hidden) { FHidden = hidden; }
  void SearchAgain();

  // The matching rows, in order.
  const std::vector<std::size_t>& Matches() const { return FMatches; }
  bool Matches(std::size_t row) const;
  // The first matching row after row (or before it, going backwards), wrapping at the ends; row
  // itself comes last. Nothing when no row matches.
  std::optional<std::size_t> Next(std::size_t row, bool forwards) const;
  // The last matching row at or before row, else the last match.
  std::optional<std::size_t> LastUpTo(std::size_t row) const;
  // The place of a matching row among the matches, from 1.
  std::size_t Ordinal(std::size_t row) const;

private:
  void SearchFrom(std::uint64_t first, std::uint64_t end);

  const TLog& FLog;
  const THiddenLines* FHidden = nullptr;
  std::unique_ptr<TPattern> FPattern;
  std::vector<std::size_t> FMatches;
  std::uint64_t FSearched = 0; // the lines before this number have been searched
};

} // namespace ornavel
