#pragma once

#include "core/FileDescriptorUnit.h"
#include "core/ServiceThreadUnit.h"
#include "core/WakeEventUnit.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ornavel {

class TFileChangeNotifier;

// Whether changes to what is there may come from other machines, which raise no notification at
// all: network and FUSE file systems, and one that cannot be told (only some wake-ups are at
// stake).
bool FolderIsRemote(const std::string& folder);
// The same for an open file, which may be elsewhere than its folder through a link; false for no
// file.
bool FileIsRemote(int descriptor);

// One watch of a file or folder; it ends with the object.
class TFileWatch {
public:
  TFileWatch() = default;
  TFileWatch(std::shared_ptr<TFileChangeNotifier> notifier, int watch, TWakeEvent& wake)
      : FNotifier(std::move(notifier)), FWatch(watch), FWake(&wake) {}
  ~TFileWatch() { Reset(); }
  TFileWatch(TFileWatch&& other) noexcept { *this = std::move(other); }
  TFileWatch& operator=(TFileWatch&& other) noexcept;
  TFileWatch(const TFileWatch&) = delete;
  TFileWatch& operator=(const TFileWatch&) = delete;

  bool Valid() const { return FNotifier != nullptr; }
  void Reset() noexcept;

private:
  std::shared_ptr<TFileChangeNotifier> FNotifier;
  int FWatch = -1;
  TWakeEvent* FWake = nullptr;
};

// One inotify instance for every file monitor of the process: the system grants each user only a
// few instances (128 by default), while it grants watches by the thousand. A thread of its own
// reads the events and wakes the monitors that watch what changed.
class TFileChangeNotifier : public std::enable_shared_from_this<TFileChangeNotifier> {
public:
  // The process's notifier, made while some monitor holds it; none when inotify cannot be had.
  static std::shared_ptr<TFileChangeNotifier> Shared();

  TFileChangeNotifier();
  TFileChangeNotifier(const TFileChangeNotifier&) = delete;
  TFileChangeNotifier& operator=(const TFileChangeNotifier&) = delete;

  // Signals wake at every change of path's kinds events while the answer lives; the answer is
  // not valid when path cannot be watched. Several monitors may watch the same file.
  TFileWatch Watch(const std::string& path, std::uint32_t events, TWakeEvent& wake);

private:
  friend class TFileWatch;
  // Afterwards wake is not touched any more.
  void Unwatch(int watch, TWakeEvent& wake) noexcept;
  void Run();
  void Dispatch(const char* events, std::size_t size);
  void WakeLocked(int watch);
  void WakeAllLocked();

  TFileDescriptor FNotify;
  std::mutex FLock; // guards FWatchers
  std::map<int, std::vector<TWakeEvent*>> FWatchers;
  TServiceThread FThread;
};

} // namespace ornavel
