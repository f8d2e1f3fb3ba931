#include "ThreadManagerUnit.h"

#include "LogUnit.h"

#include <algorithm>
#include <stdexcept>

namespace ornavel {

std::atomic<TThreadManager*> TThreadManager::FInstance{nullptr};

TThreadManager::TThreadManager() {
  TThreadManager* none = nullptr;
  if (!FInstance.compare_exchange_strong(none, this))
    throw std::logic_error("Only one thread manager allowed");
}

TThreadManager::~TThreadManager() {
  // Threads registered after the final stop are stopped here, without reaching back into a
  // manager that is going away.
  std::vector<std::shared_ptr<TThread>> remaining;
  {
    std::lock_guard lock(FRegistryLock);
    remaining.swap(FRegistry);
  }
  for (const auto& thread : remaining)
    thread->SetOnTerminate(nullptr);
  remaining.clear();
  FInstance = nullptr;
}

void TThreadManager::AddThread(std::shared_ptr<TThread> thread) {
  std::lock_guard lock(FRegistryLock);
  thread->SetOnTerminate([this](TThread& finished) { RemoveThread(finished); });
  try {
    thread->SetFreeOnTerminate(false);
  } catch (const std::logic_error&) {
    // Already running and holding itself; the registry's reference keeps it valid all the same.
  }
  if (std::ranges::find(FRegistry, thread) == FRegistry.end())
    FRegistry.push_back(std::move(thread));
}

void TThreadManager::RemoveThread(TThread& thread) {
  std::shared_ptr<TThread> removed; // released after the lock: it may be the last reference
  std::lock_guard lock(FRegistryLock);
  const auto found =
      std::ranges::find_if(FRegistry, [&](const auto& entry) { return entry.get() == &thread; });
  if (found != FRegistry.end()) {
    removed = std::move(*found);
    FRegistry.erase(found);
  }
}

std::size_t TThreadManager::ThreadCount() const {
  std::lock_guard lock(FRegistryLock);
  return FRegistry.size();
}

void TThreadManager::SetOnAllStopped(TNotifyEvent handler) {
  std::lock_guard lock(FHandlerLock);
  FOnAllStopped = std::move(handler);
}

void TThreadManager::RequestRestart() {
  std::lock_guard lock(FWorkLock);
  FRestartRequested = true;
  FWorkArrived.notify_one();
}

// The flag is set before this runs; taking the lock to notify means the body either sees it
// before it waits or is waiting already.
void TThreadManager::TerminateRequested() {
  std::lock_guard lock(FWorkLock);
  FWorkArrived.notify_one();
}

void TThreadManager::Execute() {
  while (WaitForRestartRequest())
    Restart();
  StopAll();
}

bool TThreadManager::WaitForRestartRequest() {
  std::unique_lock lock(FWorkLock);
  FWorkArrived.wait(lock, [this] { return FRestartRequested || Terminated(); });
  return !Terminated();
}

void TThreadManager::Restart() {
  try {
    StopAll();
  } catch (const std::exception& failure) {
    // The sources that did start keep running, and later requests are still served.
    ReportFailure(failure.what());
  } catch (...) {
    ReportFailure("Restarting the sources failed");
  }
}

void TThreadManager::StopAll() {
  std::vector<std::shared_ptr<TEvent>> handles;
  {
    std::lock_guard lock(FRegistryLock);
    for (const auto& thread : FRegistry) {
      if (thread->Started())
        handles.push_back(thread->Handle());
      thread->Terminate();
    }
  }
  for (const auto& handle : handles)
    handle->WaitFor();
  if (Terminated())
    return;
  // Cleared once the sources have stopped, before they start again: a request made while they
  // were stopping asks for no second stop, and one made from now on is served by another round.
  {
    std::lock_guard lock(FWorkLock);
    FRestartRequested = false;
  }
  TNotifyEvent handler;
  {
    std::lock_guard lock(FHandlerLock);
    handler = FOnAllStopped;
  }
  if (handler)
    Synchronize([&] { handler(*this); });
}

void TThreadManager::ReportFailure(const char* message) const {
  try {
    GetLog().Add(nullptr, TLogLevel::Exception, message);
  } catch (...) {
    // The log is gone at the very end of the program; nothing is left to tell.
  }
}

TThreadManager& GetThreadManager() {
  static std::mutex lock;
  static std::shared_ptr<TThreadManager> owned;
  std::lock_guard guard(lock);
  if (TThreadManager* existing = TThreadManager::Instance())
    return *existing;
  owned = TThread::Create<TThreadManager>(false);
  return *owned;
}

} // namespace ornavel
