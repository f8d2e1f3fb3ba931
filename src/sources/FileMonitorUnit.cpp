#include "FileMonitorUnit.h"

#include "core/FormatUnit.h"
#include "core/LogUnit.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <system_error>
#include <time.h>
#include <unistd.h>

namespace ornavel {
namespace {

// Big reads work a burst off in few system calls; a quiet file, as most followed files are, needs
// no more than a small buffer, which grows when a read fills it and shrinks when the file rests.
constexpr std::size_t ReadSize = 64 * 1024;
constexpr std::size_t QuietReadSize = 4 * 1024 - 64;
// Each read takes these bytes before the position again, so that a rewrite costs no extra call
// to notice. A rewrite that leaves them as they were looks like an append.
constexpr std::size_t FingerprintSize = 64;
// Longer lines go out in pieces of this size, so that no line can hold the file up.
constexpr std::size_t MaxLineSize = 1024 * 1024;
constexpr int PollingIntervalMs = 1;
// A file made in a folder that is not there yet is new, so read from its start: the wait for the
// folder costs no line.
constexpr int MissingFolderPollMs = 250;
// Notifications report every change made through this machine's kernel; on a local file system
// the safety net only bounds the cost of one that went amiss (a write through a mapping, say).
constexpr int LocalSafetyNetMs = 10000;
// A writer that reserves space fills its zeros soon after.
constexpr auto ZeroPatience = std::chrono::seconds(1);
// A daemon writes on into its rotated log until it reopens its log, often seconds later.
constexpr auto DrainIdle = std::chrono::seconds(5);
constexpr auto DrainAtMost = std::chrono::seconds(60);
// Each holds a descriptor and a watch; a rotation storm lets the oldest go early.
constexpr std::size_t MaxDrained = 8;
// Time stamps come from a coarse clock: a change within its tick of the one before may leave
// them as they were. Stamps this old when looked at show any later change.
constexpr auto StampTick = std::chrono::milliseconds(50);

// Unlinking changes the link count, which is reported as IN_ATTRIB while the file is held open.
constexpr std::uint32_t FileEvents = IN_MODIFY | IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF;
constexpr std::uint32_t FolderEvents = IN_CREATE | IN_MOVED_TO | IN_ONLYDIR;

[[noreturn]] void RaiseSystemError(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

struct stat StatusOf(const TFileDescriptor& file) {
  struct stat status {};
  if (::fstat(file.Get(), &status) != 0)
    RaiseSystemError("Cannot read the file's status");
  return status;
}

bool SameFile(const struct stat& one, const struct stat& other) {
  return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

// Answers an invalid descriptor, errno telling why, when the file cannot be opened for reading.
// Holding it open keeps nobody from writing, renaming or deleting it.
TFileDescriptor OpenForReading(const std::string& fileName, struct stat& status) {
  // Non-blocking, so that a FIFO under the name cannot hold the thread up.
  TFileDescriptor file(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (file.Valid()) {
    status = StatusOf(file);
    if (S_ISDIR(status.st_mode)) {
      file.Reset();
      errno = EISDIR;
    }
  }
  return file;
}

std::string FolderOf(const std::string& fileName) {
  const std::string folder = std::filesystem::path(fileName).parent_path().string();
  return folder.empty() ? "." : folder;
}

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::string_view Trimmed(std::string_view line) {
  while (!line.empty() && IsBlank(line.front()))
    line.remove_prefix(1);
  while (!line.empty() && IsBlank(line.back()))
    line.remove_suffix(1);
  return line;
}

// Two plain searches: find_first_of looks each byte up in the set, some ten times slower.
std::size_t FindLineEnd(std::string_view text) {
  const std::size_t feed = text.find('\n');
  const std::size_t back = text.substr(0, feed).find('\r');
  return back != std::string_view::npos ? back : feed;
}

bool SameTime(const timespec& one, const timespec& other) {
  return one.tv_sec == other.tv_sec && one.tv_nsec == other.tv_nsec;
}

bool Settled(const timespec& stamp) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const auto age = std::chrono::seconds(now.tv_sec - stamp.tv_sec) +
                   std::chrono::nanoseconds(now.tv_nsec - stamp.tv_nsec);
  return age > StampTick;
}

// Keeps the last FingerprintSize bytes of before and then bytes.
void Remember(std::string& before, std::string_view bytes) {
  if (bytes.size() >= FingerprintSize) {
    before.assign(bytes.substr(bytes.size() - FingerprintSize));
    return;
  }
  before.append(bytes);
  if (before.size() > FingerprintSize)
    before.erase(0, before.size() - FingerprintSize);
}

// Answers the bytes read, retrying when interrupted.
std::size_t ReadAt(const TFileDescriptor& file, char* buffer, std::size_t size,
                   std::uint64_t offset) {
  for (;;) {
    const ssize_t count = ::pread(file.Get(), buffer, size, static_cast<off_t>(offset));
    if (count >= 0)
      return static_cast<std::size_t>(count);
    // Read at offsets and followed by its length, a file is what can be followed: a pipe has
    // neither, and what one reader takes from it is gone for the others.
    if (errno == ESPIPE)
      throw std::runtime_error("it is a named pipe, which is not followed (only files are)");
    if (errno != EINTR)
      RaiseSystemError("Cannot read the file");
  }
}

// Where the last count lines that end before end begin, walking back a block at a time; the
// bytes after the last line end are an unfinished line, and blank lines do not count.
std::uint64_t StartOfRecentLines(const TFileDescriptor& file, std::uint64_t end,
                                 std::size_t count) {
  std::vector<char> block(16 * 1024);
  bool finished = false; // whether a line end has been met: the bytes before it are lines
  bool text = false;     // whether the line being walked through holds text
  std::size_t lines = 0;
  for (std::uint64_t at = end; at > 0;) {
    const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), at));
    at -= size;
    if (ReadAt(file, block.data(), size, at) != size)
      return at + size; // shrunk meanwhile: what is left is read as appended
    for (std::size_t index = size; index-- > 0;) {
      const char c = block[index];
      if (c == '\n' || c == '\r') {
        lines += text ? 1 : 0;
        if (lines == count)
          return at + index + 1;
        finished = true;
        text = false;
      } else if (finished && !IsBlank(c)) {
        text = true;
      }
    }
  }
  return 0;
}

} // namespace

void TFileMonitorThread::SetFileName(const std::string& fileName) {
  FFileName = fileName;
  TOpenFile file;
  file.Descriptor = OpenForReading(fileName, file.Opened);
  if (!file.Descriptor.Valid()) {
    // Often the log of a program that has not run yet: it is followed once it is made.
    if (errno == ENOENT || errno == ENOTDIR) {
      Log().AddFmt(nullptr, TLogLevel::Warning, "File %s not found!", fileName);
      return;
    }
    RaiseSystemError(Format("Cannot open file %s", fileName));
  }
  file.Position = static_cast<std::uint64_t>(file.Opened.st_size);
  file.Before.resize(std::min<std::uint64_t>(file.Position, FingerprintSize));
  const std::uint64_t from = file.Position - file.Before.size();
  if (!file.Before.empty() &&
      ::pread(file.Descriptor.Get(), file.Before.data(), file.Before.size(),
              static_cast<off_t>(from)) != static_cast<ssize_t>(file.Before.size()))
    RaiseSystemError(Format("Cannot read file %s", fileName));
  file.Changed = file.Opened.st_ctim;
  file.ChangedSettled = Settled(file.Changed);
  FFile = std::move(file);
}

void TFileMonitorThread::ReadFromStart() {
  FFile.Position = 0;
  FFile.Before.clear();
}

// Posted here, on the caller's thread, so that the files' recent lines come in the files' order
// and before any new line.
void TFileMonitorThread::SetRecentLines(std::size_t count) {
  if (count == 0 || !FFile.Descriptor.Valid())
    return;
  FFile.Position = StartOfRecentLines(FFile.Descriptor, FFile.Position, count);
  FFile.Before.clear();
  FitBuffer(QuietReadSize);
  ReadAppended(FFile, StatusOf(FFile.Descriptor));
}

void TFileMonitorThread::Execute() {
  try {
    FitBuffer(QuietReadSize);
    StartNotification();
    if (!Terminated()) {
      do
        Pass();
      while (WaitForChange());
    }
  } catch (const std::exception& failure) {
    ReportStop(failure.what());
  } catch (...) {
    ReportStop("unknown failure");
  }
  StopNotification();
}

// Otherwise the window would go on saying the file is followed.
void TFileMonitorThread::ReportStop(const char* reason) noexcept {
  try {
    Log().AddFmt(nullptr, TLogLevel::Warning, "Stopped following %s: %s", FFileName, reason);
  } catch (...) {
    // The report failed too: nothing more can be done.
  }
}

// Without notifications (inotify unavailable, or the system's limit of watches reached) the
// monitor polls.
void TFileMonitorThread::StartNotification() {
  if (!FChangeNotification)
    return;
  FNotifier = TFileChangeNotifier::Shared();
  if (FNotifier)
    WatchFolder();
  if (FFile.Descriptor.Valid())
    WatchFile(FFile);
  ChooseSafetyNet();
}

// The folder tells when a new file takes the name. One that is not there yet is looked for now
// and then. The watch is made anew whenever the folder may have been made again (a folder made
// again, even with the old one's inode number, is another folder); watching the same one again is
// cheap.
void TFileMonitorThread::WatchFolder() {
  const std::string folder = FolderOf(FFileName);
  std::error_code ignored; // an unreadable folder counts as missing
  FFolderMissing = !std::filesystem::is_directory(folder, ignored);
  if (FFolderMissing) {
    FFolderWatch.Reset();
    return;
  }
  TFileWatch previous = std::move(FFolderWatch);
  FFolderWatch = FNotifier->Watch(folder, FolderEvents, WakeEvent());
  if (!FFolderWatch.Valid())
    StopNotification();
}

void TFileMonitorThread::ChooseSafetyNet() {
  const bool remote = FolderIsRemote(FolderOf(FFileName)) || FileIsRemote(FFile.Descriptor.Get());
  FSafetyNetMs = remote ? RemoteSafetyNetMs : LocalSafetyNetMs;
}

void TFileMonitorThread::WatchFile(TOpenFile& file) {
  if (!FNotifier)
    return;
  // Through the descriptor, so that the watch is on the file being read even when the name has
  // moved on since it was opened.
  const std::string path = "/proc/self/fd/" + std::to_string(file.Descriptor.Get());
  file.Watch = FNotifier->Watch(path, FileEvents, WakeEvent());
  if (!file.Watch.Valid())
    StopNotification();
}

void TFileMonitorThread::StopNotification() {
  FFile.Watch.Reset();
  for (TOpenFile& file : FDrained)
    file.Watch.Reset();
  FFolderWatch.Reset();
  FNotifier.reset();
}

// While the file keeps growing the monitor looks again after a millisecond instead of waiting to
// be told: a writer that appends line by line then does not pay for waking it at every write, and
// it reads bigger pieces. Awaited zeros and drained files wake it by themselves, as no change may
// come.
bool TFileMonitorThread::WaitForChange() {
  const bool notified = FNotifier && !FFileGrowing;
  int timeoutMs = notified ? FSafetyNetMs : PollingIntervalMs;
  if (notified && FFolderMissing)
    timeoutMs = MissingFolderPollMs;
  auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
  if (const auto next = NextDeadline())
    deadline = std::min(deadline, *next);
  if (!FFileGrowing)
    FitBuffer(QuietReadSize);
  // Which change it was does not matter: every pass looks at the name and the files afresh.
  return WaitForWork(deadline);
}

std::optional<TFileMonitorThread::TClock::time_point> TFileMonitorThread::NextDeadline() const {
  std::optional<TClock::time_point> next;
  const auto keep = [&](TClock::time_point deadline) {
    if (!next || deadline < *next)
      next = deadline;
  };
  if (FFile.ZeroAwaited)
    keep(FFile.ZeroDeadline);
  for (const TOpenFile& file : FDrained) {
    keep(std::min(file.LastGrowth + DrainIdle, file.DrainedSince + DrainAtMost));
    if (file.ZeroAwaited)
      keep(file.ZeroDeadline);
  }
  return next;
}

// Follows the file by its name. As long as the name leads to the open file, which is the usual
// case, a pass costs one stat of the name, which tells the file's length too.
void TFileMonitorThread::Pass() {
  FFileGrowing = false;
  DrainRotated();
  struct stat named {};
  bool nameTaken = ::stat(FFileName.c_str(), &named) == 0;
  // While the name is free its folder may go and be made again at any time.
  if (!nameTaken && FNotifier) {
    WatchFolder();
    nameTaken = ::stat(FFileName.c_str(), &named) == 0; // made before the watch, unnoticed
  }
  if (FFile.Descriptor.Valid() && nameTaken && SameFile(named, FFile.Opened)) {
    ReadAppended(FFile, named);
    return;
  }
  if (FFile.Descriptor.Valid()) {
    const struct stat open = StatusOf(FFile.Descriptor);
    // A file renamed away is read on while the name is free, as its writer may go on appending
    // until it makes the new one; a deleted one is let go at once, so that its space is freed.
    if (!nameTaken && open.st_nlink > 0) {
      ReadAppended(FFile, open);
      return;
    }
    if (open.st_nlink > 0) {
      ReadAppended(FFile, open);
      StartDraining();
    } else {
      LeaveFile(FFile, open);
    }
  }
  if (nameTaken)
    OpenNamedFile();
}

// Files rotated away are read on until idle for a while; deleted ones are let go at once.
void TFileMonitorThread::DrainRotated() {
  const auto now = TClock::now();
  for (auto file = FDrained.begin(); file != FDrained.end();) {
    const struct stat status = StatusOf(file->Descriptor);
    if (status.st_nlink == 0 || now >= file->LastGrowth + DrainIdle ||
        now >= file->DrainedSince + DrainAtMost) {
      LeaveFile(*file, status);
      file = FDrained.erase(file);
      continue;
    }
    if (ReadAppended(*file, status))
      file->LastGrowth = now;
    ++file;
  }
}

void TFileMonitorThread::StartDraining() {
  FFile.DrainedSince = FFile.LastGrowth = TClock::now();
  FDrained.push_back(std::move(FFile));
  FFile = TOpenFile();
  if (FDrained.size() > MaxDrained) {
    LeaveFile(FDrained.front(), StatusOf(FDrained.front().Descriptor));
    FDrained.erase(FDrained.begin());
  }
}

// Reads what is left, zeros and all, and posts the unfinished last line: nothing will complete it.
void TFileMonitorThread::LeaveFile(TOpenFile& file, const struct stat& status) {
  ReadAppended(file, status, true);
  PostLine(file.Unfinished);
  PostGathered();
  file = TOpenFile();
}

// A new file is read from its start. One that cannot be opened yet (rotation may make it before
// it gives it its owner and mode) is tried again at the next pass. One renamed back is read on
// where it was.
void TFileMonitorThread::OpenNamedFile() {
  TOpenFile file;
  file.Descriptor = OpenForReading(FFileName, file.Opened);
  if (!file.Descriptor.Valid())
    return;
  const auto back = std::ranges::find_if(
      FDrained, [&](const TOpenFile& drained) { return SameFile(drained.Opened, file.Opened); });
  if (back != FDrained.end()) {
    FFile = std::move(*back);
    FDrained.erase(back);
  } else {
    // Its folder may have been made again too, without the name ever being seen free.
    if (FNotifier)
      WatchFolder();
    FFile = std::move(file);
    WatchFile(FFile);
  }
  ChooseSafetyNet();
  // Its length is taken again once it is watched: a write between opening and watching raised
  // no event, so only this finds it.
  ReadAppended(FFile, StatusOf(FFile.Descriptor));
}

// Reads on without pausing up to the end of the file or an awaited zero byte, and answers whether
// it took any. Each read begins with the bytes before the position again: when they are not
// what was read there before, the file was rewritten in place, and all it holds is new.
bool TFileMonitorThread::ReadAppended(TOpenFile& file, const struct stat& status, bool lettingGo) {
  const auto length = static_cast<std::uint64_t>(status.st_size);
  if (length < file.Position)
    StartOver(file);
  // Nothing new, unless rewritten to the same length, which only its change time tells.
  if (length == file.Position && file.ChangedSettled && SameTime(status.st_ctim, file.Changed))
    return false;
  file.Changed = status.st_ctim;
  file.ChangedSettled = Settled(file.Changed);
  if (file.ZeroAwaited && TClock::now() >= file.ZeroDeadline) {
    file.ZerosPassableBelow = std::max(file.ZerosPassableBelow, file.ZeroHorizon);
    file.ZeroAwaited = false;
  }
  bool took = false;
  while (!Terminated()) {
    const std::uint64_t from = file.Position - file.Before.size();
    const std::size_t count = ReadAt(file.Descriptor, FBuffer.data(), FBuffer.size(), from);
    const std::string_view read(FBuffer.data(), count);
    if (read.substr(0, file.Before.size()) != file.Before) {
      StartOver(file);
      continue;
    }
    const std::uint64_t position = file.Position;
    const TTaken taken = TakeBytes(file, read.substr(file.Before.size()), length, lettingGo);
    took = took || file.Position != position;
    const bool filled = count == FBuffer.size();
    if (filled)
      FitBuffer(ReadSize); // the lines read are posted: nothing points into the buffer
    if (taken == TTaken::Stopped || (taken == TTaken::All && !filled))
      break;
  }
  if (file.ZeroAwaited && file.ZeroAt != file.Position)
    file.ZeroAwaited = false; // overwritten, and read
  FFileGrowing = FFileGrowing || took;
  return took;
}

// Takes text up to a zero byte. Zeros that have had their second, or of a file being let go, are
// passed where other bytes follow them; others are awaited.
TFileMonitorThread::TTaken TFileMonitorThread::TakeBytes(TOpenFile& file, std::string_view bytes,
                                                         std::uint64_t length, bool lettingGo) {
  while (!bytes.empty()) {
    const std::string_view text = bytes.substr(0, bytes.find('\0'));
    TakeText(file, text);
    Remember(file.Before, text);
    file.Position += text.size();
    bytes.remove_prefix(text.size());
    if (bytes.empty())
      break;
    if (!lettingGo && file.Position >= file.ZerosPassableBelow) {
      AwaitZero(file, std::max(length, file.Position + bytes.size()));
      return TTaken::Stopped;
    }
    const std::size_t run = std::min(bytes.find_first_not_of('\0'), bytes.size());
    if (run == bytes.size()) {
      // The zeros may go on past this read.
      const auto end = EndOfZeros(file, file.Position + run);
      if (!end)
        return TTaken::Stopped; // nothing follows them: space reserved, still to be filled
      file.Before.clear();      // as for the run below
      file.Position = *end;
      return TTaken::Passed;
    }
    // Passed zeros may still be filled in: the fingerprint starts again after them, so that
    // a late fill is not taken for a rewrite that would post the lines again.
    file.Before.clear();
    file.Position += run;
    bytes.remove_prefix(run);
  }
  return TTaken::All;
}

// The offset of the first byte from on that is not zero; none when zeros run to the end. Holes,
// as a writer going on at its offset in a truncated file leaves, are skipped without reading.
std::optional<std::uint64_t> TFileMonitorThread::EndOfZeros(const TOpenFile& file,
                                                            std::uint64_t from) {
  for (;;) {
    const off_t data = ::lseek(file.Descriptor.Get(), static_cast<off_t>(from), SEEK_DATA);
    if (data < 0 && errno == ENXIO)
      return std::nullopt;
    if (data >= 0)
      from = static_cast<std::uint64_t>(data);
    const std::size_t count = ReadAt(file.Descriptor, FBuffer.data(), FBuffer.size(), from);
    if (count == 0)
      return std::nullopt;
    const std::size_t text = std::string_view(FBuffer.data(), count).find_first_not_of('\0');
    if (text != std::string_view::npos)
      return from + text;
    from += count;
  }
}

void TFileMonitorThread::AwaitZero(TOpenFile& file, std::uint64_t horizon) {
  if (file.ZeroAwaited && file.ZeroAt == file.Position)
    return;
  file.ZeroAwaited = true;
  file.ZeroAt = file.Position;
  file.ZeroDeadline = TClock::now() + ZeroPatience;
  file.ZeroHorizon = horizon;
}

void TFileMonitorThread::FitBuffer(std::size_t readSize) {
  if (FBuffer.size() == FingerprintSize + readSize)
    return;
  FBuffer.resize(FingerprintSize + readSize);
  FBuffer.shrink_to_fit();
}

// A file that has shrunk was truncated, or copied away and emptied: all it holds is new.
void TFileMonitorThread::StartOver(TOpenFile& file) {
  file.Position = 0;
  file.Unfinished.clear();
  file.Before.clear();
  file.ZeroAwaited = false;
  file.ZerosPassableBelow = 0;
}

// Every CR or LF ends a line, so CR LF ends a line and an empty one, which is skipped; that
// holds when the pair is split between two reads too.
void TFileMonitorThread::TakeText(TOpenFile& file, std::string_view text) {
  for (std::size_t end = FindLineEnd(text); end != std::string_view::npos;
       end = FindLineEnd(text)) {
    if (file.Unfinished.empty()) {
      PostLine(text.substr(0, end));
    } else {
      KeepUnfinished(file, text.substr(0, end));
      PostLine(file.Unfinished);
      file.Unfinished.clear();
    }
    text.remove_prefix(end + 1);
  }
  KeepUnfinished(file, text);
  PostGathered();
}

void TFileMonitorThread::KeepUnfinished(TOpenFile& file, std::string_view text) {
  file.Unfinished.append(text);
  while (file.Unfinished.size() >= MaxLineSize) {
    PostLine(std::string_view(file.Unfinished).substr(0, MaxLineSize));
    file.Unfinished.erase(0, MaxLineSize);
  }
}

void TFileMonitorThread::PostLine(std::string_view line) {
  const std::string_view text = Trimmed(line);
  if (text.empty())
    return;
  const std::less_equal<const char*> notAfter; // defined for any two pointers
  if (notAfter(FBuffer.data(), text.data()) &&
      notAfter(text.data() + text.size(), FBuffer.data() + FBuffer.size())) {
    FGatheredPlaces.push_back({text.data(), 0, text.size()});
    return;
  }
  FGatheredPlaces.push_back({nullptr, FGathered.size(), text.size()});
  FGathered.append(text);
}

void TFileMonitorThread::PostGathered() {
  if (FGatheredPlaces.empty())
    return;
  FGatheredLines.clear();
  for (const TGatheredLine& line : FGatheredPlaces)
    FGatheredLines.emplace_back(line.Read ? line.Read : FGathered.data() + line.Offset, line.Size);
  FGatheredPlaces.clear();
  Log().AddLines(this, FGatheredLines, FFileName);
  FGathered.clear();
  // A long line must not keep its size for the rest of the run.
  if (FGathered.capacity() > 4 * ReadSize)
    FGathered.shrink_to_fit();
}

} // namespace ornavel
