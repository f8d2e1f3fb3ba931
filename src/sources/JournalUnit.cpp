#include "JournalUnit.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <systemd/sd-journal.h>
#include <utility>

namespace ornavel {
namespace {

// Raises for a negative answer of the library.
int Check(int result, const char* what) {
  if (result < 0)
    throw EJournalError(what, std::strerror(-result));
  return result;
}

sd_journal* Open(TJournalScope scope, const std::string& folder) {
  const int flags = scope == TJournalScope::System ? SD_JOURNAL_SYSTEM : SD_JOURNAL_CURRENT_USER;
  sd_journal* journal = nullptr;
  // Only the machine's own journals: a folder of collected ones is named by the user.
  Check(folder.empty() ? sd_journal_open(&journal, flags | SD_JOURNAL_LOCAL_ONLY)
                       : sd_journal_open_directory(&journal, folder.c_str(), flags),
        "cannot open the journal");
  return journal;
}

} // namespace

TJournal::TJournal(TJournalScope scope, const std::string& folder) : FJournal(Open(scope, folder)) {
  try {
    // Every message whole, however long.
    Check(sd_journal_set_data_threshold(FJournal, 0), "cannot lift the size limit");
    FDescriptor = Check(sd_journal_get_fd(FJournal), "cannot watch the journal");
  } catch (...) {
    sd_journal_close(FJournal);
    throw;
  }
}

TJournal::~TJournal() {
  if (FJournal != nullptr)
    sd_journal_close(FJournal);
}

TJournal::TJournal(TJournal&& other) noexcept
    : FJournal(std::exchange(other.FJournal, nullptr)),
      FDescriptor(std::exchange(other.FDescriptor, -1)) {}

TJournal& TJournal::operator=(TJournal&& other) noexcept {
  if (this != &other) {
    if (FJournal != nullptr)
      sd_journal_close(FJournal);
    FJournal = std::exchange(other.FJournal, nullptr);
    FDescriptor = std::exchange(other.FDescriptor, -1);
  }
  return *this;
}

// The files' total size: the has-files queries of the library know only /run and /var.
bool TJournal::HasFiles() const {
  std::uint64_t bytes = 0;
  return sd_journal_get_usage(FJournal, &bytes) >= 0 && bytes > 0;
}

std::optional<std::uint64_t> TJournal::Deadline() const {
  std::uint64_t deadline = 0;
  Check(sd_journal_get_timeout(FJournal, &deadline), "cannot watch the journal");
  if (deadline == UINT64_MAX)
    return std::nullopt;
  return deadline;
}

bool TJournal::Process() {
  return Check(sd_journal_process(FJournal), "cannot take the journal's changes in") ==
         SD_JOURNAL_INVALIDATE;
}

void TJournal::SeekEnd(std::size_t recent) {
  Check(sd_journal_seek_tail(FJournal), "cannot go to the journal's end");
  // On the entry before the first one wanted, so that the next is that one; a journal with no
  // more entries than wanted starts at its head instead, or its first entries would be passed
  // over.
  const auto back = static_cast<std::uint64_t>(recent) + 1;
  if (static_cast<std::uint64_t>(
          Check(sd_journal_previous_skip(FJournal, back), "cannot go to the journal's end")) < back)
    Check(sd_journal_seek_head(FJournal), "cannot go to the journal's start");
}

void TJournal::SeekRealtime(std::uint64_t microseconds) {
  Check(sd_journal_seek_realtime_usec(FJournal, microseconds), "cannot find a time in the journal");
}

bool TJournal::Next() {
  return Check(sd_journal_next(FJournal), "cannot read the journal") > 0;
}

// One look at every field of the entry, however many are asked for.
std::vector<std::optional<std::string>>
TJournal::Fields(const std::vector<std::string_view>& names) const {
  std::vector<std::optional<std::string>> values(names.size());
  const void* data = nullptr;
  std::size_t length = 0;
  sd_journal_restart_data(FJournal);
  int result = 0;
  while ((result = sd_journal_enumerate_data(FJournal, &data, &length)) > 0) {
    const std::string_view field(static_cast<const char*>(data), length);
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (!values[i] && field.size() > names[i].size() && field[names[i].size()] == '=' &&
          field.starts_with(names[i]))
        values[i] = std::string(field.substr(names[i].size() + 1));
    }
  }
  Check(result, "cannot read an entry of the journal");
  return values;
}

} // namespace ornavel
