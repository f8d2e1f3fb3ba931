#pragma once

#include "core/FileDescriptorUnit.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/types.h>
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

// Why a journal has no file to read, found by looking at its folders when asked.
struct TJournalAbsence {
  enum class TKind {
    NoFile,     // none of the names looked for is there
    Unreadable, // one is there that this user may not read
    Unusable    // one is there that is not (yet) a journal the library can read
  };
  TKind Kind;
  std::string Reason; // says what is missing or in the way, naming folders and files
};

// The machine's journals of one scope, or the journal files of a folder of the user's choice. On
// the machine the library finds the files, System being journald's system*.journal and User the
// user's user-UID*.journal. In a folder User is the same, while System is every other journal
// file but other users' (systemd-journal-remote's remote-HOST.journal, or any name it was given):
// the library cannot leave some names out, so this class opens the files itself. A watch of the
// folder tells of files that come, go or are renamed; a rotated file stays open and is read to
// its end, and a new one is added.
// Each writer's files (a file and the archives rotated out of it, named alike up to "@") have a
// reader of their own, and their entries are merged here by time stamp. The library's own merge
// passes over an entry of another writer that is stamped before the last entry it gave: a host
// whose clock is behind another's would lose all its entries while the other writes.
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
  // Whether files that appear later are read without opening the journal again: on the machine a
  // journal folder made afterwards is not.
  bool SeesNewFiles() const { return FWatch.Valid(); }
  // The descriptor that becomes readable when the journal changes.
  int Descriptor() const { return FWatch.Valid() ? FWatch.Get() : FDescriptor; }
  // The latest moment (CLOCK_MONOTONIC, µs) to look again without a notification; none when the
  // notification can be trusted.
  std::optional<std::uint64_t> Deadline() const;
  // Takes the pending notifications in, so that new files are opened; answers whether files were
  // added or removed.
  bool Process();
  // Why there are no files, looked at now: costs a look at the folders.
  TJournalAbsence Absence() const;

  // Places the reader so that the next entry is the first one written after now, or the first of
  // the last recent ones. Files that appear afterwards are read from their start.
  void SeekEnd(std::size_t recent = 0);
  // Places the reader so that the next entry is the first one stamped at or after the moment.
  void SeekRealtime(std::uint64_t microseconds);
  // Steps to the next entry; false at the end.
  bool Next();
  // The current entry's fields of the given names, without "NAME=", in their order; none for a
  // field the entry does not have. Copies: the library reuses its buffers at the next read.
  std::vector<std::optional<std::string>> Fields(const std::vector<std::string_view>& names) const;

private:
  struct TGroup;

  bool Wanted(std::string_view name) const;
  std::vector<std::string> ListFiles();
  bool DrainWatch();
  bool Rescan();
  TGroup* ReadAhead(bool atEndToo);

  TJournalScope FScope;
  std::string FFolder; // empty for the machine's journals
  uid_t FUser;
  std::vector<std::unique_ptr<TGroup>> FGroups; // by name; on the machine one, the library's
  TGroup* FCurrent = nullptr;                   // whose entry was given last
  std::size_t FGivenSinceLook = 0;
  int FDescriptor = -1; // the library's, on the machine

  TFileDescriptor FWatch;
  std::map<int, std::string> FWatchedFolders; // by watch: the folder and its machines' folders
  std::set<std::string> FNotYetOpened;        // paths wanted that could not be opened
  std::set<std::string> FNamed;               // paths the watch told of since the last look
  bool FRemote = false; // on a file system whose changes raise no notification
  std::uint64_t FLookedAt = 0;
  std::optional<std::uint64_t> FReopenAt; // when to try again files the library refused
};

} // namespace ornavel
