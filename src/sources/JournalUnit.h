#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct sd_journal;

namespace ornavel {

// A failure of the journal library, carrying the system's reason.
class EJournalError : public std::runtime_error {
public:
  EJournalError(const std::string& what, std::string reason)
      : std::runtime_error(what + ": " + reason), FReason(std::move(reason)) {}
  const std::string& Reason() const { return FReason; }

private:
  std::string FReason;
};

// Whose entries a journal holds: the machine's, or the user's running this program.
enum class TJournalScope { System, CurrentUser };

// Owns one sd_journal handle over the local journals of one scope, or over those of that scope in
// a folder. Its descriptor is taken at once: without it, files added later, a rotation's new
// file among them, are never seen.
class TJournal {
public:
  TJournal(TJournalScope scope, const std::string& folder);
  ~TJournal();
  TJournal(TJournal&& other) noexcept;
  TJournal& operator=(TJournal&& other) noexcept;
  TJournal(const TJournal&) = delete;
  TJournal& operator=(const TJournal&) = delete;

  // Whether any journal file could be opened: one that may not be read is left out silently.
  bool HasFiles() const;
  // The descriptor that becomes readable when the journal changes.
  int Descriptor() const { return FDescriptor; }
  // The latest moment (CLOCK_MONOTONIC, µs) to look again without a notification; none when the
  // notification can be trusted.
  std::optional<std::uint64_t> Deadline() const;
  // Takes the pending notifications in, so that new files are opened; answers whether files were
  // added or removed.
  bool Process();

  // Places the reader so that the next entry is the first one written after now, or the first of
  // the last recent ones.
  void SeekEnd(std::size_t recent = 0);
  // Places the reader so that the next entry is the first one stamped at or after the moment.
  void SeekRealtime(std::uint64_t microseconds);
  // Steps to the next entry; false at the end.
  bool Next();
  // The current entry's fields of the given names, without "NAME=", in their order; none for a
  // field the entry does not have. Copies: the library reuses its buffers at the next read.
  std::vector<std::optional<std::string>> Fields(const std::vector<std::string_view>& names) const;

private:
  sd_journal* FJournal = nullptr;
  int FDescriptor = -1;
};

} // namespace ornavel
