#include "JournalUnit.h"

#include "FileChangeNotifierUnit.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <iterator>
#include <pwd.h>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <systemd/sd-id128.h>
#include <systemd/sd-journal.h>
#include <unistd.h>
#include <utility>

namespace ornavel {
namespace {

// As often as the library looks at journals on file systems that raise no notification.
constexpr std::uint64_t RemoteRecheckMicroseconds = 2000000;
// How soon a set of files the library refused is tried again.
constexpr std::uint64_t ReopenRetryMicroseconds = 10000;

// What is watched in a folder: files that come, go, are renamed, change rights or grow, and the
// folder itself going.
constexpr std::uint32_t FolderEvents = IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                                       IN_ATTRIB | IN_MODIFY | IN_DELETE_SELF | IN_MOVE_SELF |
                                       IN_ONLYDIR;
// The events after which the files are listed again; a file that grows is read on by the reader.
constexpr std::uint32_t NameEvents =
    IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ATTRIB;

constexpr std::string_view MachineGroupsHint =
    "members of the groups systemd-journal and adm may read it";

// Raises for a negative answer of the library.
int Check(int result, const char* what) {
  if (result < 0)
    throw EJournalError(what, std::strerror(-result));
  return result;
}

std::uint64_t MonotonicMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000U +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000U;
}

// The names the library reads: NAME.journal, and NAME.journal~ for one found damaged.
bool IsJournalName(std::string_view name) {
  return name.ends_with(".journal") || name.ends_with(".journal~");
}

// journald's names of a user's journal: user-UID.journal and its archives user-UID@….journal.
std::optional<uid_t> UserOfName(std::string_view name) {
  if (!IsJournalName(name) || !name.starts_with("user-"))
    return std::nullopt;
  name.remove_prefix(5);
  uid_t user = 0;
  const auto [end, failure] = std::from_chars(name.data(), name.data() + name.size(), user);
  const std::string_view rest(end, static_cast<std::size_t>(name.data() + name.size() - end));
  if (failure != std::errc() || end == name.data() ||
      (rest != ".journal" && rest != ".journal~" && !rest.starts_with('@')))
    return std::nullopt;
  return user;
}

bool IsSystemName(std::string_view name) {
  return name == "system.journal" || name == "system.journal~" ||
         (name.starts_with("system@") && IsJournalName(name));
}

// journald keeps each machine's journals in a folder named by its ID.
bool IsMachineFolderName(std::string_view name) {
  return name.size() == 32 && name.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// The folder's entries, sorted; none when it cannot be listed, error telling why.
std::vector<std::string> ListFolder(const std::string& folder, int* error = nullptr) {
  std::vector<std::string> names;
  DIR* listing = ::opendir(folder.c_str());
  if (error != nullptr)
    *error = listing == nullptr ? errno : 0;
  if (listing == nullptr)
    return names;
  while (const dirent* entry = ::readdir(listing)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      names.emplace_back(entry->d_name);
  }
  ::closedir(listing);
  std::ranges::sort(names);
  return names;
}

// A folder of the user's choice, and the machines' folders in it, as journald lays them out.
std::vector<std::string> FoldersOf(const std::string& folder) {
  std::vector<std::string> folders{folder};
  for (const std::string& name : ListFolder(folder)) {
    struct stat status {};
    if (IsMachineFolderName(name) && ::stat((folder + "/" + name).c_str(), &status) == 0 &&
        S_ISDIR(status.st_mode))
      folders.push_back(folder + "/" + name);
  }
  return folders;
}

// The folders sd_journal_open reads for the local machine.
std::vector<std::string> MachineFolders() {
  sd_id128_t machine{};
  char text[SD_ID128_STRING_MAX];
  if (sd_id128_get_machine(&machine) < 0)
    return {"/var/log/journal", "/run/log/journal"};
  sd_id128_to_string(machine, text);
  return {std::string("/var/log/journal/") + text, std::string("/run/log/journal/") + text};
}

// A reader over open files. On success the library has taken their descriptors and closes them
// with the reader, so it is given copies; on failure it has taken none.
int OpenFiles(sd_journal** journal, const std::vector<int>& files) {
  std::vector<TFileDescriptor> copies;
  std::vector<int> descriptors;
  for (const int file : files) {
    copies.emplace_back(::fcntl(file, F_DUPFD_CLOEXEC, 0));
    if (!copies.back().Valid())
      return -errno;
    descriptors.push_back(copies.back().Get());
  }
  const int result = sd_journal_open_files_fd(journal, descriptors.data(),
                                              static_cast<unsigned>(descriptors.size()), 0);
  if (result >= 0) {
    for (TFileDescriptor& copy : copies)
      copy.Release();
  }
  return result;
}

// Answers 0, or the library's error for a file it cannot read as a journal.
int TryReading(int file) {
  sd_journal* journal = nullptr;
  const int result = OpenFiles(&journal, {file});
  if (result >= 0)
    sd_journal_close(journal);
  return result;
}

// Who may read what this user may not, by its owner and group.
std::string ReadersHint(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0)
    return std::strerror(errno);
  std::vector<char> buffer(16384);
  if (status.st_mode & S_IRGRP) {
    group entry{};
    group* found = nullptr;
    if (getgrgid_r(status.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
      return std::string("members of the group ") + found->gr_name + " may read it";
    return "members of its group " + std::to_string(status.st_gid) + " may read it";
  }
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(status.st_uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
    return std::string("only its owner ") + found->pw_name + " may read it";
  return "only its owner " + std::to_string(status.st_uid) + " may read it";
}

// An entry's place among those of several files.
struct TPlace {
  std::string_view SeqnumId;
  std::uint64_t Seqnum = 0;
  std::string_view BootId;
  std::uint64_t Monotonic = 0;
  std::uint64_t Realtime = 0;
  std::uint64_t XorHash = 0;
};

// Library cursors read "s=SEQNUM_ID;i=SEQNUM;b=BOOT_ID;m=MONOTONIC;t=REALTIME;x=XOR_HASH", the
// numbers in hexadecimal.
std::optional<TPlace> ParsePlace(std::string_view cursor) {
  TPlace place;
  int found = 0;
  while (!cursor.empty()) {
    const std::string_view field = cursor.substr(0, cursor.find(';'));
    cursor.remove_prefix(std::min(cursor.size(), field.size() + 1));
    if (field.size() < 2 || field[1] != '=')
      return std::nullopt;
    const std::string_view value = field.substr(2);
    std::uint64_t* number = nullptr;
    switch (field[0]) {
    case 's':
      place.SeqnumId = value;
      break;
    case 'b':
      place.BootId = value;
      break;
    case 'i':
      number = &place.Seqnum;
      break;
    case 'm':
      number = &place.Monotonic;
      break;
    case 't':
      number = &place.Realtime;
      break;
    case 'x':
      number = &place.XorHash;
      break;
    default:
      continue;
    }
    if (number &&
        std::from_chars(value.data(), value.data() + value.size(), *number, 16).ec != std::errc())
      return std::nullopt;
    ++found;
  }
  if (found != 6)
    return std::nullopt;
  return place;
}

// Whether an entry comes after another in the order the library gives the entries of several
// files in: by sequence number within one writer's files, by monotonic time within one boot,
// else by wall-clock time; the hash of the contents decides between entries stamped alike.
bool Follows(const TPlace& entry, const TPlace& other) {
  if (entry.SeqnumId == other.SeqnumId && entry.Seqnum != other.Seqnum)
    return entry.Seqnum > other.Seqnum;
  if (entry.BootId == other.BootId && entry.Monotonic != other.Monotonic)
    return entry.Monotonic > other.Monotonic;
  if (entry.Realtime != other.Realtime)
    return entry.Realtime > other.Realtime;
  return entry.XorHash > other.XorHash;
}

struct TCloseReader {
  void operator()(sd_journal* journal) const noexcept { sd_journal_close(journal); }
};
using TReader = std::unique_ptr<sd_journal, TCloseReader>;

bool IsDeleted(const TFileDescriptor& file) {
  struct stat status {};
  return ::fstat(file.Get(), &status) != 0 || status.st_nlink == 0;
}

// The writer's name of a file: up to "@" for its archives, else up to ".journal", in its folder.
std::string GroupOf(std::string_view path) {
  const std::size_t name = path.rfind('/') + 1;
  const std::size_t at = path.find('@', name);
  return std::string(path.substr(0, at != std::string_view::npos ? at : path.rfind(".journal")));
}

// A group at its end is looked at again when no other has an entry, and after this many entries,
// so that a flood into one file holds up none of the others for long.
constexpr std::size_t LookEvery = 64;

} // namespace

struct TJournal::TGroup {
  struct TOpenFile {
    dev_t Device;
    ino_t Inode;
    TFileDescriptor File;
  };

  std::string Name;
  std::vector<TOpenFile> Files; // none on the machine, where the library opens them
  TReader Reader;
  // Where a reader opened anew over changed files goes on: after the last entry given, or at the
  // entry read ahead; where the last seek went when none was read.
  std::optional<std::string> ResumeCursor;
  bool ResumeAtCursor = false;
  std::optional<std::uint64_t> SoughtRealtime;
  std::optional<std::uint64_t> Ahead; // the time stamp of the entry read ahead, not yet given
  bool AtEnd = false;

  void Reset() {
    ResumeCursor.reset();
    SoughtRealtime.reset();
    Ahead.reset();
    AtEnd = false;
  }

  // Lets go of its deleted files and takes the added ones, with a new reader placed where the last
  // one was. Answers false, the group left as it was, while the library refuses the new set: a
  // file that journal-remote is archiving can be caught half changed.
  bool Reopen(std::vector<TOpenFile>& added) {
    std::vector<TOpenFile> files;
    std::vector<int> descriptors;
    for (const TOpenFile& file : Files) {
      if (!IsDeleted(file.File))
        descriptors.push_back(file.File.Get());
    }
    for (const TOpenFile& file : added)
      descriptors.push_back(file.File.Get());
    TReader reader;
    if (!descriptors.empty()) {
      sd_journal* journal = nullptr;
      if (OpenFiles(&journal, descriptors) < 0)
        return false;
      reader.reset(journal);
      // Every message whole, however long.
      Check(sd_journal_set_data_threshold(journal, 0), "cannot lift the size limit");
    }
    if (!ResumeCursor && Reader) {
      char* cursor = nullptr;
      if (sd_journal_get_cursor(Reader.get(), &cursor) >= 0) {
        ResumeCursor = cursor;
        ResumeAtCursor = Ahead.has_value();
        std::free(cursor);
      }
    }
    for (TOpenFile& file : Files) {
      if (std::ranges::find(descriptors, file.File.Get()) != descriptors.end())
        files.push_back(std::move(file));
    }
    std::ranges::move(added, std::back_inserter(files));
    added.clear();
    Files = std::move(files);
    Reader = std::move(reader);
    Ahead.reset();
    AtEnd = false;
    if (!Reader)
      return true;
    if (ResumeCursor)
      Check(sd_journal_seek_cursor(Reader.get(), ResumeCursor->c_str()),
            "cannot find an entry again");
    else if (SoughtRealtime)
      Check(sd_journal_seek_realtime_usec(Reader.get(), *SoughtRealtime),
            "cannot find a time in the journal");
    return true;
  }

  // Places the reader before its last recent entries, answering how many it will give first.
  std::size_t SeekEnd(std::size_t recent) {
    Reset();
    Check(sd_journal_seek_tail(Reader.get()), "cannot go to the journal's end");
    // On the entry before the first one wanted, so that the next is that one; a journal with no
    // more entries than wanted starts at its head instead, or its first entries would be passed
    // over.
    const auto back = static_cast<std::uint64_t>(recent) + 1;
    const auto went = static_cast<std::uint64_t>(
        Check(sd_journal_previous_skip(Reader.get(), back), "cannot go to the journal's end"));
    if (went == back)
      return recent;
    Check(sd_journal_seek_head(Reader.get()), "cannot go to the journal's start");
    return went;
  }

  void SeekRealtime(std::uint64_t microseconds) {
    Reset();
    SoughtRealtime = microseconds;
    Check(sd_journal_seek_realtime_usec(Reader.get(), microseconds),
          "cannot find a time in the journal");
  }

  // Reads the next entry ahead; false at the end.
  bool ReadAhead() {
    sd_journal* reader = Reader.get();
    while (Check(sd_journal_next(reader), "cannot read the journal") > 0) {
      if (ResumeCursor && !PassedResumeCursor())
        continue;
      ResumeCursor.reset();
      SoughtRealtime.reset();
      std::uint64_t realtime = 0;
      Check(sd_journal_get_realtime_usec(reader, &realtime), "cannot read the journal");
      Ahead = realtime;
      AtEnd = false;
      return true;
    }
    AtEnd = true;
    return false;
  }

  // A reader placed by a cursor gives first the entry of each file that is at or after the
  // cursor's place by that file's own measure, and may so give again entries of other files
  // stamped like the cursor's. Those given before it are passed over here.
  bool PassedResumeCursor() const {
    if (sd_journal_test_cursor(Reader.get(), ResumeCursor->c_str()) > 0)
      return ResumeAtCursor;
    char* text = nullptr;
    Check(sd_journal_get_cursor(Reader.get(), &text), "cannot read the journal");
    const std::unique_ptr<char, decltype(&std::free)> cursor(text, &std::free);
    const auto place = ParsePlace(cursor.get());
    const auto resume = ParsePlace(*ResumeCursor);
    return !place || !resume || Follows(*place, *resume);
  }
};

TJournal::TJournal(TJournalScope scope, const std::string& folder)
    : FScope(scope), FFolder(folder), FUser(::getuid()) {
  if (FFolder.empty()) {
    sd_journal* journal = nullptr;
    // Only the machine's own journals: a folder of collected ones is named by the user.
    Check(sd_journal_open(&journal, SD_JOURNAL_LOCAL_ONLY |
                                        (scope == TJournalScope::System ? SD_JOURNAL_SYSTEM
                                                                        : SD_JOURNAL_CURRENT_USER)),
          "cannot open the journal");
    auto group = std::make_unique<TGroup>();
    group->Reader.reset(journal);
    Check(sd_journal_set_data_threshold(journal, 0), "cannot lift the size limit");
    // Taken at once: without it, files added later, a rotation's new file among them, are never
    // seen.
    FDescriptor = Check(sd_journal_get_fd(journal), "cannot watch the journal");
    FGroups.push_back(std::move(group));
    return;
  }
  // Watched before it is listed, so that no file made meanwhile is missed.
  FWatch = TFileDescriptor(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!FWatch.Valid())
    throw EJournalError("cannot watch the journal", std::strerror(errno));
  const int watch = ::inotify_add_watch(FWatch.Get(), FFolder.c_str(), FolderEvents);
  if (watch < 0)
    throw EJournalError("cannot open the journal", FFolder + ": " + std::strerror(errno));
  FWatchedFolders[watch] = FFolder;
  FRemote = FolderIsRemote(FFolder);
  Rescan();
}

TJournal::~TJournal() = default;
TJournal::TJournal(TJournal&& other) noexcept = default;
TJournal& TJournal::operator=(TJournal&& other) noexcept = default;

bool TJournal::HasFiles() const {
  if (!FFolder.empty())
    return !FGroups.empty();
  // The files' total size: the has-files queries of the library know only /run and /var.
  std::uint64_t bytes = 0;
  return sd_journal_get_usage(FGroups[0]->Reader.get(), &bytes) >= 0 && bytes > 0;
}

std::optional<std::uint64_t> TJournal::Deadline() const {
  if (!FFolder.empty()) {
    std::optional<std::uint64_t> deadline = FReopenAt;
    if (FRemote)
      deadline = std::min(deadline.value_or(UINT64_MAX), FLookedAt + RemoteRecheckMicroseconds);
    return deadline;
  }
  std::uint64_t deadline = 0;
  Check(sd_journal_get_timeout(FGroups[0]->Reader.get(), &deadline), "cannot watch the journal");
  if (deadline == UINT64_MAX)
    return std::nullopt;
  return deadline;
}

bool TJournal::Process() {
  if (FFolder.empty())
    return Check(sd_journal_process(FGroups[0]->Reader.get()),
                 "cannot take the journal's changes in") == SD_JOURNAL_INVALIDATE;
  const bool relist = DrainWatch();
  const std::uint64_t now = MonotonicMicroseconds();
  if (relist || (FReopenAt && now >= *FReopenAt) ||
      (FRemote && now >= FLookedAt + RemoteRecheckMicroseconds))
    return Rescan();
  return false;
}

bool TJournal::Wanted(std::string_view name) const {
  if (!IsJournalName(name))
    return false;
  const auto user = UserOfName(name);
  if (FFolder.empty())
    return FScope == TJournalScope::System ? IsSystemName(name) : user == FUser;
  return FScope == TJournalScope::System ? !user : user == FUser;
}

// The wanted files of the folder and of its machines' folders, whose watches are added here.
std::vector<std::string> TJournal::ListFiles() {
  std::vector<std::string> paths;
  for (const std::string& folder : FoldersOf(FFolder)) {
    if (folder != FFolder) {
      const int watch = ::inotify_add_watch(FWatch.Get(), folder.c_str(), FolderEvents);
      if (watch >= 0)
        FWatchedFolders[watch] = folder;
    }
    for (const std::string& name : ListFolder(folder)) {
      if (Wanted(name))
        paths.push_back(folder + "/" + name);
    }
  }
  return paths;
}

// Answers whether the files are to be listed again.
bool TJournal::DrainWatch() {
  alignas(inotify_event) char buffer[8192];
  bool relist = false;
  for (;;) {
    const ssize_t size = ::read(FWatch.Get(), buffer, sizeof buffer);
    if (size < 0 && errno == EINTR)
      continue;
    if (size < 0 && errno == EAGAIN)
      return relist;
    if (size <= 0)
      throw EJournalError("cannot watch the journal", std::strerror(size < 0 ? errno : EIO));
    for (ssize_t at = 0; at < size;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_IGNORED)
        FWatchedFolders.erase(event->wd);
      // Lost events, or a folder that went.
      if (event->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
        relist = true;
        continue;
      }
      const auto folder = FWatchedFolders.find(event->wd);
      if (event->len == 0 || folder == FWatchedFolders.end())
        continue;
      const std::string_view name(event->name);
      if (event->mask & IN_ISDIR)
        relist = relist || (folder->second == FFolder && IsMachineFolderName(name));
      else if (Wanted(name) &&
               ((event->mask & NameEvents) ||
                (!FNotYetOpened.empty() &&
                 FNotYetOpened.contains(folder->second + "/" + std::string(name))))) {
        if (!(event->mask & (IN_DELETE | IN_MOVED_FROM)))
          FNamed.insert(folder->second + "/" + std::string(name));
        relist = true;
      }
    }
  }
}

// Opens the files that are new and lets go of those deleted; answers whether they changed. A
// listing made while a file is renamed may show it under neither name: a file stays open until it
// is deleted, renamed or not, and the names the watch gave are looked at besides the listing. A
// group new to the folder is read from its start: its writer began after the reader.
bool TJournal::Rescan() {
  FLookedAt = MonotonicMicroseconds();
  FReopenAt.reset();
  std::vector<std::string> paths = ListFiles();
  paths.insert(paths.end(), FNamed.begin(), FNamed.end());
  FNamed.clear();
  std::set<std::pair<dev_t, ino_t>> open;
  // The groups whose files changed, with the files added and their paths.
  std::map<TGroup*, std::vector<TGroup::TOpenFile>> changed;
  std::map<TGroup*, std::vector<std::string>> addedPaths;
  for (const auto& group : FGroups) {
    for (const TGroup::TOpenFile& file : group->Files) {
      if (IsDeleted(file.File))
        changed[group.get()];
      else
        open.emplace(file.Device, file.Inode);
    }
  }
  std::set<std::string> notYetOpened;
  for (const std::string& path : paths) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || open.contains({status.st_dev, status.st_ino}))
      continue; // gone meanwhile, or open already, under this name or another
    // Non-blocking, so that a FIFO under the name cannot hold the thread up. A file that is still
    // being made is tried again when it is written to.
    TFileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!file.Valid() || ::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        TryReading(file.Get()) < 0) {
      notYetOpened.insert(path);
      continue;
    }
    if (!open.emplace(status.st_dev, status.st_ino).second)
      continue;
    const std::string name = GroupOf(path);
    auto group = std::ranges::find_if(FGroups, [&](const auto& one) { return one->Name == name; });
    if (group == FGroups.end()) {
      FGroups.push_back(std::make_unique<TGroup>());
      FGroups.back()->Name = name;
      group = FGroups.end() - 1;
    }
    changed[group->get()].push_back({status.st_dev, status.st_ino, std::move(file)});
    addedPaths[group->get()].push_back(path);
  }
  bool reopened = false;
  for (auto& [group, added] : changed) {
    if (group->Reopen(added)) {
      reopened = true;
      if (FCurrent == group)
        FCurrent = nullptr;
      continue;
    }
    // Tried again soon, and when they are written to.
    notYetOpened.insert(addedPaths[group].begin(), addedPaths[group].end());
    FReopenAt = FLookedAt + ReopenRetryMicroseconds;
  }
  FNotYetOpened = std::move(notYetOpened);
  std::erase_if(FGroups, [](const auto& group) { return group->Files.empty(); });
  std::ranges::sort(FGroups,
                    [](const auto& one, const auto& other) { return one->Name < other->Name; });
  return reopened;
}

TJournalAbsence TJournal::Absence() const {
  const std::vector<std::string> folders = FFolder.empty() ? MachineFolders() : FoldersOf(FFolder);
  std::optional<std::string> unreadable;
  std::optional<std::string> unusable;
  for (const std::string& folder : folders) {
    int error = 0;
    const std::vector<std::string> names = ListFolder(folder, &error);
    if (error == EACCES)
      unreadable = unreadable.value_or(folder);
    else if (error != 0 && folder == FFolder)
      return {TJournalAbsence::TKind::NoFile, folder + ": " + std::strerror(error)};
    for (const std::string& name : names) {
      if (!Wanted(name))
        continue;
      const std::string path = folder + "/" + name;
      TFileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
      if (!file.Valid() && (errno == EACCES || errno == EPERM)) {
        unreadable = unreadable.value_or(path);
      } else if (!unusable) {
        const int failure = file.Valid() ? -TryReading(file.Get()) : errno;
        if (failure > 0)
          unusable = path + " cannot be read: " + std::strerror(failure);
      }
    }
  }
  if (unreadable)
    return {TJournalAbsence::TKind::Unreadable,
            "this user may not read " + *unreadable + " (" +
                (FFolder.empty() ? std::string(MachineGroupsHint) : ReadersHint(*unreadable)) +
                ")"};
  if (unusable)
    return {TJournalAbsence::TKind::Unusable, *unusable};
  std::string places = FFolder.empty() ? folders[0] + " or " + folders[1] : FFolder;
  std::string names = FScope == TJournalScope::CurrentUser
                          ? "user-" + std::to_string(FUser) + "*.journal"
                      : FFolder.empty() ? "system*.journal"
                                        : "*.journal other than user-*.journal";
  return {TJournalAbsence::TKind::NoFile,
          "there is no journal file in " + places + " (" + names + ")"};
}

void TJournal::SeekEnd(std::size_t recent) {
  FCurrent = nullptr;
  std::size_t given = 0;
  for (const auto& group : FGroups)
    given += group->SeekEnd(recent);
  // Each group gives its last ones: those beyond the wanted many are the earliest of them.
  for (std::size_t extra = given > recent ? given - recent : 0; extra > 0 && Next(); --extra) {
  }
}

void TJournal::SeekRealtime(std::uint64_t microseconds) {
  FCurrent = nullptr;
  for (const auto& group : FGroups)
    group->SeekRealtime(microseconds);
}

bool TJournal::Next() {
  FCurrent = nullptr;
  const bool everyGroup = ++FGivenSinceLook >= LookEvery;
  TGroup* earliest = ReadAhead(everyGroup);
  if (!earliest && !everyGroup)
    earliest = ReadAhead(true);
  if (!earliest || everyGroup)
    FGivenSinceLook = 0;
  if (!earliest)
    return false;
  earliest->Ahead.reset();
  FCurrent = earliest;
  return true;
}

// Reads an entry ahead in each group that has none, in those at their end too when asked; answers
// the group whose entry ahead is stamped first.
TJournal::TGroup* TJournal::ReadAhead(bool atEndToo) {
  TGroup* earliest = nullptr;
  for (const auto& group : FGroups) {
    if (!group->Ahead && (atEndToo || !group->AtEnd))
      group->ReadAhead();
    if (group->Ahead && (!earliest || *group->Ahead < *earliest->Ahead))
      earliest = group.get();
  }
  return earliest;
}

// One look at every field of the entry, however many are asked for.
std::vector<std::optional<std::string>>
TJournal::Fields(const std::vector<std::string_view>& names) const {
  std::vector<std::optional<std::string>> values(names.size());
  const void* data = nullptr;
  std::size_t length = 0;
  sd_journal* reader = FCurrent->Reader.get();
  sd_journal_restart_data(reader);
  int result = 0;
  while ((result = sd_journal_enumerate_data(reader, &data, &length)) > 0) {
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
