#include "OutputDebugStringMonitorThreadUnit.h"

#include "config/ConfigUnit.h"
#include "core/LogUnit.h"
#include "writer/DebugProtocolUnit.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <optional>
#include <thread>
#include <utility>

namespace ornavel {
namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

// How long a buffer may stay taken without data before a reader gives it back, when the
// process that took it cannot be told dead.
constexpr auto StuckPatience = 1s;
// How long a reader that just took a message looks for the next before it sleeps.
constexpr auto BusySpin = 20us;

std::uint32_t WriterPid(const unsigned char* buffer) {
  std::uint32_t pid = 0;
  for (int i = 3; i >= 0; --i)
    pid = (pid << 8) | buffer[i];
  return pid;
}

bool ProcessGone(std::uint32_t pid) {
  return pid != 0 && pid <= INT_MAX && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// "name[pid]" with the process's name as the system has it, read when its message arrives;
// "pid N" for a process gone by then.
std::string ProcessName(std::uint32_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  if (!std::getline(comm, name) || name.empty())
    return Format("pid %u", pid);
  return Format("%s[%u]", name, pid);
}

std::timespec MonotonicIn(std::chrono::nanoseconds delay) {
  std::timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const auto total =
      std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec) + delay;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(total);
  return {static_cast<std::time_t>(seconds.count()), static_cast<long>((total - seconds).count())};
}

// Tells when a writer took the buffer and will not give it back: it died, or no reader has taken
// a message for a second while the buffer stayed taken.
class TBufferWatch {
public:
  bool HolderGaveUp(const TDebugObjects& objects) {
    if (objects.BufferReady().Value() != 0) {
      FWatching = false;
      return false;
    }
    if (ProcessGone(WriterPid(objects.Buffer())))
      return Reset();
    const std::timespec progress = objects.LastProgress();
    const auto now = TClock::now();
    if (!FWatching || progress.tv_sec != FProgress.tv_sec ||
        progress.tv_nsec != FProgress.tv_nsec) {
      FWatching = true;
      FSince = now;
      FProgress = progress;
      return false;
    }
    return now - FSince >= StuckPatience ? Reset() : false;
  }

  void Progressed() { FWatching = false; }

private:
  bool Reset() {
    FWatching = false;
    return true;
  }

  bool FWatching = false;
  TClock::time_point FSince;
  std::timespec FProgress{};
};

// A writer that sends much is looked up once a second, not at every message; a process id taken
// by another program meanwhile shows the old name for that second at most.
class TWriterNames {
public:
  const std::string& NameOf(std::uint32_t pid) {
    const auto now = TClock::now();
    if (pid != FPid || now - FRead >= 1s) {
      FPid = pid;
      FRead = now;
      FName = ProcessName(pid);
    }
    return FName;
  }

private:
  std::uint32_t FPid = 0;
  TClock::time_point FRead;
  std::string FName;
};

} // namespace

TOutputDebugStringMonitorThread::TOutputDebugStringMonitorThread(TLog& log,
                                                                 const TMainConfig& config,
                                                                 TDebugObjectNames names)
    : TSourceThread(log), FConfig(config), FNames(std::move(names)) {}

std::string TOutputDebugStringMonitorThread::BuildLine(const unsigned char* buffer,
                                                       bool includePid) {
  std::string line;
  if (includePid) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "($%08X) ", WriterPid(buffer));
    line = prefix;
  }
  const char* text = reinterpret_cast<const char*>(buffer + ORNAVEL_DEBUG_TEXT_OFFSET);
  line.append(text, ::strnlen(text, ORNAVEL_DEBUG_BUFFER_SIZE - ORNAVEL_DEBUG_TEXT_OFFSET));
  std::erase_if(line, [](char c) { return c == '\r' || c == '\n'; });
  return line;
}

void TOutputDebugStringMonitorThread::Execute() {
  std::optional<TDebugObjects> objects;
  try {
    objects.emplace(FNames);
  } catch (const EDebugSetupError& error) {
    Log().AddFailure(error.Level(), error.what());
    return;
  }
  if (objects->Shared())
    Log().Add(nullptr, TLogLevel::Warning, "Event already exists");
  Serve(*objects);
}

// The buffer is handed to the next writer only after a message was copied out of it, or when its
// holder gave up: handing it over while a writer fills it would let another overwrite that
// message. So a reader that joins others does not hand it over (a writer may hold it), and a
// fresh buffer is made free. The line is built and posted while the next writer fills the buffer,
// also when the reader is told to end meanwhile: the writer was told it was delivered.
void TOutputDebugStringMonitorThread::Serve(TDebugObjects& objects) {
  TBufferWatch watch;
  TWriterNames writers;
  std::array<unsigned char, ORNAVEL_DEBUG_BUFFER_SIZE> message;
  bool handOver = false;
  bool busy = false;
  // On a single processor the writer cannot run while the reader spins.
  const bool spin = std::thread::hardware_concurrency() > 1;
  // Not WaitForWork: a semaphore cannot be polled, so the wait is timed to see a stop request.
  while (!Terminated()) {
    if (std::exchange(handOver, false))
      objects.BufferReady().PostIfZero();
    const int waited = busy && objects.DataReady().SpinFor(BusySpin)
                           ? 0
                           : objects.DataReady().WaitUntil(MonotonicIn(100ms));
    busy = spin && waited == 0;
    if (waited == 0) {
      // A writer that posted more than once must not wake a reader for a message not there.
      objects.DataReady().Drain();
      // Each message was cleared of its writer's id: a post that came after the drain finds
      // none, and the buffer stays with whoever holds it now.
      if (WriterPid(objects.Buffer()) == 0)
        continue;
      std::memcpy(message.data(), objects.Buffer(), message.size());
      std::memset(objects.Buffer(), 0, ORNAVEL_DEBUG_TEXT_OFFSET); // the next writer's id goes here
      objects.MarkProgress();
      watch.Progressed();
      objects.BufferReady().PostIfZero();
      Log().AddLine(this, BuildLine(message.data(), FConfig.IncludePID()),
                    writers.NameOf(WriterPid(message.data())));
    } else if (waited == ETIMEDOUT) {
      handOver = watch.HolderGaveUp(objects);
    } else if (waited != EINTR) {
      Log().Add(nullptr, TLogLevel::Exception, "Wait failed");
      break;
    }
  }
}

} // namespace ornavel
