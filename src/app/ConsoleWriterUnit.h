#pragma once

#include "core/FileDescriptorUnit.h"
#include "core/LogUnit.h"
#include "core/ServiceThreadUnit.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>

namespace ornavel {

// Prints the log's items in store order, each once, on a thread of its own: the time in the
// date format, a tab, the source's name and a tab when asked for, the text. Whatever has been
// stored when it looks is written in one go, so a single line appears at once and a flood goes out
// in large blocks; a reader that stops reading holds up this thread alone, never the sources. Lines
// the log has removed meanwhile are skipped.
class TConsoleWriter {
public:
  TConsoleWriter(TLog& log, int descriptor, bool colored, bool withSource = false);
  // Drops what is still unprinted.
  ~TConsoleWriter();
  TConsoleWriter(const TConsoleWriter&) = delete;
  TConsoleWriter& operator=(const TConsoleWriter&) = delete;

  // Starts printing, from the log's oldest line, in this date format.
  void Start(std::string dateFormat);
  // There are new lines; from any thread, at any rate.
  void Wake();
  // An alert: the terminal's bell after the lines stored, at most once a second, and only where
  // the output is a terminal, never into a pipe or a file. From any thread.
  void Ring();
  // Prints what is stored for at most grace, then ends; the rest is dropped.
  void Finish(std::chrono::milliseconds grace);

private:
  void Run();
  // Prints the lines stored; false when it had to give up.
  bool PrintStored(std::uint64_t& next);
  void Append(std::string& out, const TLogItemView& item);
  bool WriteAll(std::string_view bytes);
  ssize_t WriteSome(std::string_view bytes);
  bool WaitWritable();

  // How the output is written. Pipes, sockets and terminals block a writer whose reader has
  // stopped, files do not. A pipe is written through a descriptor of its own that does not
  // block, and a socket with sends that do not block, so that both take large blocks and the
  // writer can still stop at any time; other outputs that may block take at most PIPE_BUF bytes
  // at a time, after a poll.
  enum class TWay { File, OwnPipe, Socket, Bounded };
  static TWay WayFor(int descriptor, TFileDescriptor& ownPipe);

  TLog& FLog;
  const int FDescriptor;
  const bool FColored;
  const bool FWithSource;
  const bool FBell;
  std::atomic<std::chrono::steady_clock::rep> FLastRing{0};
  std::atomic<bool> FRingPending{false};
  TFileDescriptor FOwnPipe;
  const TWay FWay;
  std::string FDateFormat;
  TDateTime FShownTimeOf = -1; // the time FShownTime was made for
  long long FShownMillisecond = -1;
  std::string FShownTime;
  std::optional<TColor> FColorShown; // the colour FColorText is for
  std::string FColorText;
  std::atomic<bool> FPending{false};
  std::chrono::steady_clock::time_point FGiveUp{};
  std::mutex FLock;
  std::condition_variable FWoken;
  TServiceThread FThread; // asked to stop, it prints what is stored until FGiveUp
};

} // namespace ornavel
