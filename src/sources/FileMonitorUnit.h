#pragma once

#include "core/FileDescriptorUnit.h"
#include "core/ThreadUnit.h"
#include "sources/FileChangeNotifierUnit.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace ornavel {

// Follows one text file that other programs append to and posts every complete line added after
// SetFileName. Its lines carry the thread itself as their source, which gives them the monitor
// type mtFile.
//
// Every CR or LF ends a line; lines are trimmed of bytes up to 32 and skipped when empty. The
// file is followed by name: when it is rotated away (renamed or deleted and made again), the
// rest of the old file is read first, then the new one from its start; while no file of that
// name exists the monitor waits for one. A file renamed away is drained on beside the new one
// until it has been idle a few seconds; a file that is let go posts its unfinished last line as a
// line of its own. A file that is not there at the start is waited for in the same way, its
// folder too. A file that shrinks or is rewritten in place is read again from its start.
// Zero bytes are not text: a zero is awaited about a second, as a writer that reserves space
// fills it in later; zeros still there then with other bytes behind them are passed over.
//
// A failure ends the monitor with one warning, "Stopped following %s: %s".
class TFileMonitorThread : public TSourceThread {
public:
  explicit TFileMonitorThread(TLog& log) : TSourceThread(log) {}

  TMonitorType MonitorType() const final { return mtFile; }

  // Before the thread is resumed: only what is appended from now on is posted. A file that does
  // not exist is reported with the warning "File %s not found!" and followed once it is made;
  // one that cannot be read fails.
  void SetFileName(const std::string& fileName);
  // After SetFileName, before the thread is resumed: all the file holds is posted first, as for a
  // file that is new.
  void ReadFromStart();
  // After SetFileName, before the thread is resumed: posts the last count lines now, as lines
  // are shown (blank ones skipped); an unfinished last line waits for its end as any.
  void SetRecentLines(std::size_t count);
  // Before the thread is resumed. Off, the monitor looks at the file about every millisecond
  // instead of waiting for the system's change notifications, as it does by itself when those
  // cannot be had.
  void SetChangeNotification(bool enabled) { FChangeNotification = enabled; }

protected:
  void Execute() override;

private:
  // A file being read: the one under the name, or one rotated away that is drained.
  struct TOpenFile {
    TFileDescriptor Descriptor;
    // As it was opened: its device and inode tell it from a file that has taken its name since.
    struct stat Opened {};
    TFileWatch Watch;
    // Offset of the next byte to read; the bytes before it are consumed or in Unfinished.
    std::uint64_t Position = 0;
    // The start of a line whose end has not been read yet, without zero bytes.
    std::string Unfinished;
    // The last bytes before Position as they were read: a file rewritten in place shows other
    // bytes there.
    std::string Before;
    // The status change time when Before was last compared, and whether it was old enough then
    // for every later change to show in it.
    timespec Changed{};
    bool ChangedSettled = false;
    // A zero byte at ZeroAt is awaited until ZeroDeadline; ZeroHorizon is the file's length when
    // it was met.
    bool ZeroAwaited = false;
    std::uint64_t ZeroAt = 0;
    TClock::time_point ZeroDeadline;
    std::uint64_t ZeroHorizon = 0;
    // Zeros below this offset have had their second: where other bytes follow, they are passed.
    std::uint64_t ZerosPassableBelow = 0;
    // Once rotated away.
    TClock::time_point DrainedSince;
    TClock::time_point LastGrowth;
  };

  void FitBuffer(std::size_t readSize);
  void StartNotification();
  void WatchFolder();
  void WatchFile(TOpenFile& file);
  void ChooseSafetyNet();
  bool WaitForChange();
  std::optional<TClock::time_point> NextDeadline() const;
  void StopNotification();
  void ReportStop(const char* reason) noexcept;

  void Pass();
  void DrainRotated();
  void StartDraining();
  void LeaveFile(TOpenFile& file, const struct stat& status);
  void OpenNamedFile();
  bool ReadAppended(TOpenFile& file, const struct stat& status, bool lettingGo = false);
  // How far TakeBytes went: through the bytes, to a zero where it stopped, or past the bytes
  // over zeros, so that reading goes on from there.
  enum class TTaken { All, Stopped, Passed };
  TTaken TakeBytes(TOpenFile& file, std::string_view bytes, std::uint64_t length, bool lettingGo);
  std::optional<std::uint64_t> EndOfZeros(const TOpenFile& file, std::uint64_t from);
  void AwaitZero(TOpenFile& file, std::uint64_t horizon);
  static void StartOver(TOpenFile& file);
  void TakeText(TOpenFile& file, std::string_view text);
  void KeepUnfinished(TOpenFile& file, std::string_view text);
  // Lines are gathered and posted a read at a time, under one lock of the log.
  void PostLine(std::string_view line);
  void PostGathered();

  std::string FFileName;
  TOpenFile FFile;
  // Rotated away, oldest first.
  std::vector<TOpenFile> FDrained;
  std::vector<char> FBuffer;
  // The lines gathered since the last post: those read whole stay in FBuffer, which is not read
  // into again before they are posted; the others are copied to FGathered, found by offset.
  struct TGatheredLine {
    const char* Read; // none when the line is in FGathered
    std::size_t Offset;
    std::size_t Size;
  };
  std::string FGathered;
  std::vector<TGatheredLine> FGatheredPlaces;
  std::vector<std::string_view> FGatheredLines;

  bool FChangeNotification = true;
  // None while polling. The watches go before the wake-up they signal.
  std::shared_ptr<TFileChangeNotifier> FNotifier;
  TFileWatch FFolderWatch;
  bool FFolderMissing = false;
  // On network and FUSE file systems other machines' changes raise no notification at all.
  static constexpr int RemoteSafetyNetMs = 500;
  // How long a notified monitor waits at most, by where the file is.
  int FSafetyNetMs = RemoteSafetyNetMs;
  // Whether the last pass found new text.
  bool FFileGrowing = false;
};

} // namespace ornavel
