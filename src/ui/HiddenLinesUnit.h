#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace ornavel {

class TLog;
class TLogFilter;

// Held lines that the window does not show, by the log's numbers: those a rule added by "hide
// lines like this" would have dropped. Rows count the shown lines from the first one held.
class THiddenLines {
public:
  std::size_t Count() const { return FLines.size(); }
  bool Contains(std::uint64_t line) const;
  // lines ascending, none of them hidden yet.
  void Hide(const std::vector<std::uint64_t>& lines);
  void Show(const std::vector<std::uint64_t>& lines);
  // Forgets the lines before first, gone from the log, and answers how many there were.
  std::size_t ForgetBefore(std::uint64_t first);
  // The line a row shows, rows counted from the line first on.
  std::uint64_t LineOfRow(std::uint64_t first, std::size_t row) const;
  // The row that shows line, none for a hidden one.
  std::optional<std::size_t> RowOfLine(std::uint64_t first, std::uint64_t line) const;

private:
  std::vector<std::uint64_t> FLines; // ascending
};

// The held lines, not hidden already, that filter would not keep, each judged as if it came now;
// the program's own lines are always kept.
std::vector<std::uint64_t> LinesDroppedBy(const TLog& log, const TLogFilter& filter,
                                          const THiddenLines& hidden);

} // namespace ornavel
