#include "LogUnit.h"

#include "SingleInstanceUnit.h"
#include "ThreadUnit.h"

#include <algorithm>
#include <condition_variable>
#include <stdexcept>
#include <thread>

namespace ornavel {
namespace {

// Where the last post to leave a closing log tells its destructor. It lies outside every log,
// since the log may be gone as soon as that post has left it.
std::mutex gDrainLock;
std::condition_variable gDrained;

} // namespace

// Counts a post in progress so that destruction can wait for it, and tells whether the post
// may go ahead at all.
class TLog::TPostGuard {
public:
  explicit TPostGuard(TLog& log) : FLog(log) {
    FAdmitted = (FLog.FPosts.fetch_add(1) & ClosingFlag) == 0;
  }
  ~TPostGuard() {
    // The post's last touch of the log: from here on its destructor may free it.
    if (FLog.FPosts.fetch_sub(1) == (ClosingFlag | 1)) {
      { const std::lock_guard lock(gDrainLock); }
      gDrained.notify_all();
    }
  }
  TPostGuard(const TPostGuard&) = delete;
  TPostGuard& operator=(const TPostGuard&) = delete;

  bool Admitted() const { return FAdmitted; }

private:
  TLog& FLog;
  bool FAdmitted = false;
};

// Sources post far more often than the window reads; a reader announces itself so that
// posters step aside and it never starves behind them.
class TLog::TReadLock {
public:
  explicit TReadLock(const TLog& log) : FLog(log) {
    FLog.FReadersWaiting.fetch_add(1);
    FLog.FLock.lock();
    FLog.FReadersWaiting.fetch_sub(1);
  }
  ~TReadLock() { FLog.FLock.unlock(); }
  TReadLock(const TReadLock&) = delete;
  TReadLock& operator=(const TReadLock&) = delete;

private:
  const TLog& FLog;
};

class TLog::TWriteLock {
public:
  explicit TWriteLock(TLog& log) : FLog(log) {
    while (FLog.FReadersWaiting.load(std::memory_order_relaxed) != 0)
      std::this_thread::yield();
    FLog.FLock.lock();
  }
  ~TWriteLock() { FLog.FLock.unlock(); }
  TWriteLock(const TWriteLock&) = delete;
  TWriteLock& operator=(const TWriteLock&) = delete;

private:
  TLog& FLog;
};

TLog::TLog(const TLogFilter* filter) : FFilter(filter) {}

TLog::~TLog() {
  FPosts.fetch_or(ClosingFlag);
  std::unique_lock lock(gDrainLock);
  gDrained.wait(lock, [this] { return FPosts.load() == ClosingFlag; });
}

void TLog::Add(const TSourceThread* source, TLogLevel level, std::string text) {
  TPostGuard guard(*this);
  if (!guard.Admitted())
    return;
  std::optional<TMonitorType> type;
  if (source != nullptr)
    type = source->MonitorType();
  TLogItem item{Now(), level, source, type, clWindowText, std::move(text)};
  std::vector<std::string> faults;
  const TLogFilter* filter = FFilter;
  const bool keep = filter == nullptr || filter->ProcessItem(item, faults);
  if (keep) {
    std::shared_ptr<const TLogItemEvent> handler;
    // Copied before the lock, which is held as briefly as possible.
    const std::string notified = item.Text;
    {
      const TWriteLock lock(*this);
      if (Closing())
        return;
      handler = FOnLogItem;
      FItems.push_back(std::move(item));
      FCount.store(FItems.size(), std::memory_order_release);
    }
    if (handler && !Closing())
      (*handler)(level, notified);
  }
  // Reports of rules switched off by this evaluation, made now that it holds nothing.
  for (auto& fault : faults)
    Add(nullptr, TLogLevel::Warning, std::move(fault));
}

std::size_t TLog::Count() const {
  return FCount.load(std::memory_order_acquire);
}

TLogItem TLog::GetItem(std::size_t index) const {
  const TReadLock lock(*this);
  if (index >= FItems.size())
    throw std::out_of_range(Format("List index out of bounds (%u)", index));
  return FItems[index];
}

void TLog::ReadTexts(std::size_t first, std::size_t last,
                     const std::function<void(std::size_t, std::string_view)>& read) const {
  const TReadLock lock(*this);
  for (std::size_t index = first; index < std::min(last, FItems.size()); ++index)
    read(index, FItems[index].Text);
}

void TLog::Clear() {
  std::deque<TLogItem> cleared; // freed after the lock is released
  const TWriteLock lock(*this);
  cleared.swap(FItems);
  FCount.store(0, std::memory_order_release);
}

void TLog::SetOnLogItem(TLogItemEvent handler) {
  auto shared = handler ? std::make_shared<const TLogItemEvent>(std::move(handler)) : nullptr;
  std::lock_guard lock(FLock);
  FOnLogItem = std::move(shared);
}

namespace {

TSingleInstance<TLog>& LogInstance() {
  static TSingleInstance<TLog> instance("central log");
  return instance;
}

} // namespace

TLog& GetLog() {
  return LogInstance().Get([] { return std::make_unique<TLog>(); });
}

void DestroyLog() {
  LogInstance().Destroy();
}

} // namespace ornavel
