#include "HiddenLinesUnit.h"

#include "core/LogUnit.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace ornavel {

bool THiddenLines::Contains(std::uint64_t line) const {
  return std::binary_search(FLines.begin(), FLines.end(), line);
}

void THiddenLines::Hide(const std::vector<std::uint64_t>& lines) {
  const auto middle = static_cast<std::ptrdiff_t>(FLines.size());
  FLines.insert(FLines.end(), lines.begin(), lines.end());
  std::inplace_merge(FLines.begin(), FLines.begin() + middle, FLines.end());
}

void THiddenLines::Show(const std::vector<std::uint64_t>& lines) {
  std::vector<std::uint64_t> kept;
  kept.reserve(FLines.size());
  std::set_difference(FLines.begin(), FLines.end(), lines.begin(), lines.end(),
                      std::back_inserter(kept));
  FLines = std::move(kept);
}

std::size_t THiddenLines::ForgetBefore(std::uint64_t first) {
  const auto gone = std::lower_bound(FLines.begin(), FLines.end(), first);
  const auto count = static_cast<std::size_t>(gone - FLines.begin());
  FLines.erase(FLines.begin(), gone);
  return count;
}

// Before the j-th hidden line come hidden[j] - first - j shown rows; the row's line comes after
// every hidden line with no more shown rows before it than the row's number.
std::uint64_t THiddenLines::LineOfRow(std::uint64_t first, std::size_t row) const {
  std::size_t low = 0, high = FLines.size();
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    if (FLines[middle] - first - middle <= row)
      low = middle + 1;
    else
      high = middle;
  }
  return first + row + low;
}

std::optional<std::size_t> THiddenLines::RowOfLine(std::uint64_t first, std::uint64_t line) const {
  const auto at = std::lower_bound(FLines.begin(), FLines.end(), line);
  if (line < first || (at != FLines.end() && *at == line))
    return std::nullopt;
  return static_cast<std::size_t>(line - first) - static_cast<std::size_t>(at - FLines.begin());
}

std::vector<std::uint64_t> LinesDroppedBy(const TLog& log, const TLogFilter& filter,
                                          const THiddenLines& hidden) {
  std::vector<std::uint64_t> dropped;
  std::vector<TLogItem> batch(4096);
  std::vector<std::string> faults;
  std::uint64_t next = 0;
  for (std::size_t count; (count = log.CopyItems(next, batch)) > 0; next += count) {
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint64_t line = next + i;
      if (batch[i].MonitorType && !hidden.Contains(line) && !filter.ProcessItem(batch[i], faults))
        dropped.push_back(line);
    }
  }
  return dropped;
}

} // namespace ornavel
