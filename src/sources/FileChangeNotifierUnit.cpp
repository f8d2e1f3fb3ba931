#include "FileChangeNotifierUnit.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <linux/magic.h>
#include <poll.h>
#include <stdexcept>
#include <sys/inotify.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <utility>

namespace ornavel {

namespace {

// By their magic numbers; GFS2's and Lustre's are not in <linux/magic.h>.
constexpr std::uint32_t RemoteFileSystems[] = {
    NFS_SUPER_MAGIC,   SMB_SUPER_MAGIC,       CIFS_SUPER_MAGIC, SMB2_SUPER_MAGIC, FUSE_SUPER_MAGIC,
    V9FS_MAGIC,        CEPH_SUPER_MAGIC,      AFS_SUPER_MAGIC,  AFS_FS_MAGIC,     CODA_SUPER_MAGIC,
    OCFS2_SUPER_MAGIC, 0x01161970 /* GFS2 */, 0x0BD00BD0 /* Lustre */};

bool IsRemote(int statusResult, const struct statfs& status) {
  return statusResult != 0 ||
         std::ranges::find(RemoteFileSystems, static_cast<std::uint32_t>(status.f_type)) !=
             std::end(RemoteFileSystems);
}

} // namespace

bool FolderIsRemote(const std::string& folder) {
  struct statfs status {};
  return IsRemote(::statfs(folder.c_str(), &status), status);
}

bool FileIsRemote(int descriptor) {
  struct statfs status {};
  return descriptor >= 0 && IsRemote(::fstatfs(descriptor, &status), status);
}

TFileWatch& TFileWatch::operator=(TFileWatch&& other) noexcept {
  if (this != &other) {
    Reset();
    FNotifier = std::move(other.FNotifier);
    FWatch = std::exchange(other.FWatch, -1);
    FWake = std::exchange(other.FWake, nullptr);
  }
  return *this;
}

void TFileWatch::Reset() noexcept {
  if (FNotifier)
    FNotifier->Unwatch(FWatch, *FWake);
  FNotifier.reset();
  FWatch = -1;
  FWake = nullptr;
}

std::shared_ptr<TFileChangeNotifier> TFileChangeNotifier::Shared() {
  static std::mutex lock;
  static std::weak_ptr<TFileChangeNotifier> shared;
  std::lock_guard guard(lock);
  std::shared_ptr<TFileChangeNotifier> notifier = shared.lock();
  if (notifier)
    return notifier;
  try {
    notifier = std::make_shared<TFileChangeNotifier>();
  } catch (const std::exception&) {
    return nullptr; // the monitors poll instead
  }
  shared = notifier;
  return notifier;
}

TFileChangeNotifier::TFileChangeNotifier() : FNotify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
  if (!FNotify.Valid())
    throw std::runtime_error(std::string("inotify: ") + std::strerror(errno));
  FThread.Start([this] { Run(); });
}

TFileWatch TFileChangeNotifier::Watch(const std::string& path, std::uint32_t events,
                                      TWakeEvent& wake) {
  std::lock_guard lock(FLock);
  // The same file or folder gives the same watch; adding to its kinds keeps every watcher's.
  const int watch = ::inotify_add_watch(FNotify.Get(), path.c_str(), events | IN_MASK_ADD);
  if (watch < 0)
    return {};
  FWatchers[watch].push_back(&wake);
  return TFileWatch(shared_from_this(), watch, wake);
}

void TFileChangeNotifier::Unwatch(int watch, TWakeEvent& wake) noexcept {
  std::lock_guard lock(FLock);
  const auto found = FWatchers.find(watch);
  if (found == FWatchers.end())
    return;
  std::vector<TWakeEvent*>& watchers = found->second;
  const auto mine = std::ranges::find(watchers, &wake);
  if (mine != watchers.end())
    watchers.erase(mine);
  if (watchers.empty()) {
    // Fails harmlessly when the system has dropped the watch already (its file was deleted).
    ::inotify_rm_watch(FNotify.Get(), watch);
    FWatchers.erase(found);
  }
}

// After waking the monitors it pauses a millisecond, the time a growing file's monitor takes
// to look again anyway: a writer's changes meanwhile merge into one event in the system, instead
// of costing a wake-up each.
void TFileChangeNotifier::Run() {
  alignas(inotify_event) char events[16 * 1024];
  pollfd waits[] = {{FThread.StopDescriptor(), POLLIN, 0}, {FNotify.Get(), POLLIN, 0}};
  while ((waits[0].revents & POLLIN) == 0) {
    if (::poll(waits, 2, -1) < 0 && errno != EINTR)
      return;
    bool dispatched = false;
    ssize_t size = 0;
    while ((size = ::read(FNotify.Get(), events, sizeof events)) > 0) {
      Dispatch(events, static_cast<std::size_t>(size));
      dispatched = true;
    }
    if (dispatched)
      ::poll(waits, 1, 1);
  }
}

// Which change it was does not matter to a monitor: woken, it looks at its file afresh.
void TFileChangeNotifier::Dispatch(const char* events, std::size_t size) {
  std::lock_guard lock(FLock);
  for (std::size_t offset = 0; offset + sizeof(inotify_event) <= size;) {
    inotify_event event{};
    std::memcpy(&event, events + offset, sizeof event);
    // The queue overflowed: events were lost, of any watch.
    if ((event.mask & IN_Q_OVERFLOW) != 0)
      WakeAllLocked();
    else
      WakeLocked(event.wd);
    offset += sizeof(inotify_event) + event.len;
  }
}

void TFileChangeNotifier::WakeLocked(int watch) {
  const auto found = FWatchers.find(watch);
  if (found == FWatchers.end())
    return;
  for (TWakeEvent* wake : found->second)
    wake->Signal();
}

void TFileChangeNotifier::WakeAllLocked() {
  for (const auto& [watch, watchers] : FWatchers) {
    for (TWakeEvent* wake : watchers)
      wake->Signal();
  }
}

} // namespace ornavel
