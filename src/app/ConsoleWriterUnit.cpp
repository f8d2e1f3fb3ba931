#include "ConsoleWriterUnit.h"

#include "ConsoleUnit.h"
#include "core/DateTimeUnit.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ornavel {
namespace {

constexpr const char* ResetColor = "\x1b[0m";
constexpr std::size_t BatchLines = 1024;
constexpr auto FloodGap = std::chrono::milliseconds(2);
constexpr auto GatherTime = std::chrono::milliseconds(1);
constexpr auto BellGap = std::chrono::seconds(1);

} // namespace

TConsoleWriter::TConsoleWriter(TLog& log, int descriptor, bool colored, bool withSource)
    : FLog(log), FDescriptor(descriptor), FColored(colored), FWithSource(withSource),
      FBell(::isatty(descriptor) == 1), FWay(WayFor(descriptor, FOwnPipe)) {}

// Opening the pipe again gives a description of its own, whose O_NONBLOCK nobody else sees:
// setting it on the one standard output shares would surprise the shell and other programs.
TConsoleWriter::TWay TConsoleWriter::WayFor(int descriptor, TFileDescriptor& ownPipe) {
  struct stat status {};
  if (::fstat(descriptor, &status) != 0)
    return TWay::Bounded;
  if (S_ISREG(status.st_mode) || S_ISBLK(status.st_mode))
    return TWay::File;
  if (S_ISSOCK(status.st_mode))
    return TWay::Socket;
  if (S_ISFIFO(status.st_mode)) {
    const std::string path = "/proc/self/fd/" + std::to_string(descriptor);
    ownPipe = TFileDescriptor(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat opened {};
    if (ownPipe.Valid() && ::fstat(ownPipe.Get(), &opened) == 0 && opened.st_ino == status.st_ino &&
        opened.st_dev == status.st_dev)
      return TWay::OwnPipe;
    ownPipe.Reset();
  }
  return TWay::Bounded;
}

TConsoleWriter::~TConsoleWriter() {
  Finish(std::chrono::milliseconds(0));
}

void TConsoleWriter::Start(std::string dateFormat) {
  FDateFormat = std::move(dateFormat);
  FThread.Start([this] { Run(); },
                [this] {
                  const std::lock_guard lock(FLock);
                  FWoken.notify_one();
                });
}

void TConsoleWriter::Wake() {
  // A flood calls this for every line: reading costs less than exchanging, and a pending pass
  // that has not begun yet will see the line, as the log's lock orders its store before that.
  if (FPending.load() || FPending.exchange(true))
    return; // the writer has yet to look, and will see this line then
  { const std::lock_guard lock(FLock); }
  FWoken.notify_one();
}

void TConsoleWriter::Ring() {
  if (!FBell)
    return;
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  auto last = FLastRing.load();
  if (last != 0 && now - std::chrono::steady_clock::duration(last) < BellGap)
    return;
  if (!FLastRing.compare_exchange_strong(last, now.count()))
    return; // another alert rings this one
  FRingPending = true;
  Wake(); // a pass not begun yet rings after its lines
}

void TConsoleWriter::Finish(std::chrono::milliseconds grace) {
  {
    const std::lock_guard lock(FLock);
    FGiveUp = std::chrono::steady_clock::now() + grace;
  }
  FThread.Stop();
}

void TConsoleWriter::Run() {
  std::uint64_t next = 0;
  auto lastWoken = std::chrono::steady_clock::time_point();
  for (;;) {
    FPending.exchange(false);
    if (!PrintStored(next) || (FRingPending.exchange(false) && !WriteAll("\a")) ||
        FThread.StopRequested())
      return;
    std::unique_lock lock(FLock);
    FWoken.wait(lock, [this] { return FPending.load() || FThread.StopRequested(); });
    // Woken again right after the last time: a flood, whose lines gather a moment so that they
    // go out in blocks rather than with a wake-up and a write each.
    const auto now = std::chrono::steady_clock::now();
    if (now - lastWoken < FloodGap)
      FWoken.wait_for(lock, GatherTime, [this] { return FThread.StopRequested(); });
    lastWoken = now;
  }
}

bool TConsoleWriter::PrintStored(std::uint64_t& next) {
  std::string out;
  for (;;) {
    out.clear();
    // Formatted in place under the log's lock, which costs less than copying each line out.
    const std::size_t count = FLog.ReadItems(next, BatchLines, TLog::TReadTurn::InTurn,
                                             [&](const TLogItemView& item) { Append(out, item); });
    if (count == 0)
      return true;
    next += count;
    if (!WriteAll(out))
      return false;
  }
}

void TConsoleWriter::Append(std::string& out, const TLogItemView& item) {
  // Lines read at one moment share their time, and the time is shown to the millisecond at most.
  if (item.Time != FShownTimeOf) {
    FShownTimeOf = item.Time;
    const long long millisecond = std::llround(item.Time * 86400000.0);
    if (millisecond != FShownMillisecond) {
      FShownMillisecond = millisecond;
      FShownTime = FormatDateTime(FDateFormat, item.Time);
    }
  }
  out += FShownTime;
  out += '\t';
  if (FWithSource) {
    // The text, last, may hold tabs; the source may not, so that the fields stay apart.
    const std::size_t start = out.size();
    AppendConsoleText(out, item.SourceName);
    for (std::size_t tab = out.find('\t', start); tab != std::string::npos;
         tab = out.find('\t', tab))
      out.replace(tab, 1, "\\x09");
    out += '\t';
  }
  if (!FColored) {
    AppendConsoleText(out, item.Text);
    out += '\n';
    return;
  }
  const TColor shown = ShownConsoleColor(item.Level, item.Color);
  if (FColorShown != shown) {
    FColorShown = shown;
    FColorText = ConsoleColor(shown);
  }
  out += FColorText;
  AppendConsoleText(out, item.Text);
  if (!FColorText.empty())
    out += ResetColor;
  out += '\n';
}

bool TConsoleWriter::WriteAll(std::string_view bytes) {
  while (!bytes.empty()) {
    if (FWay == TWay::Bounded && !WaitWritable())
      return false;
    const ssize_t written = WriteSome(bytes);
    if (written < 0) {
      if (errno == EINTR || (FWay == TWay::Bounded && errno == EAGAIN))
        continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        if (!WaitWritable())
          return false;
        continue;
      }
      return false; // nowhere to print to: the sources go on all the same
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

ssize_t TConsoleWriter::WriteSome(std::string_view bytes) {
  switch (FWay) {
  case TWay::File:
    return ::write(FDescriptor, bytes.data(), bytes.size());
  case TWay::OwnPipe:
    return ::write(FOwnPipe.Get(), bytes.data(), bytes.size());
  case TWay::Socket:
    return ::send(FDescriptor, bytes.data(), bytes.size(), MSG_DONTWAIT);
  case TWay::Bounded:
    // After poll, a write of at most PIPE_BUF bytes to a pipe never blocks.
    return ::write(FDescriptor, bytes.data(), std::min<std::size_t>(bytes.size(), PIPE_BUF));
  }
  return -1;
}

// Waits until the output takes bytes; false when finishing and the time to print is up.
bool TConsoleWriter::WaitWritable() {
  for (;;) {
    pollfd watched[2] = {{FDescriptor, POLLOUT, 0}, {FThread.StopDescriptor(), POLLIN, 0}};
    int timeout = -1;
    nfds_t count = 2;
    if (FThread.StopRequested()) {
      if (std::chrono::steady_clock::now() >= FGiveUp)
        return false;
      timeout = PollTimeoutMs(FGiveUp);
      count = 1;
    }
    const int ready = ::poll(watched, count, timeout);
    if (ready < 0 && errno != EINTR)
      return false;
    if (ready > 0 && watched[0].revents != 0)
      return true;
  }
}

} // namespace ornavel
