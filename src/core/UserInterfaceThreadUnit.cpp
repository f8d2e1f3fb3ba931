#include "UserInterfaceThreadUnit.h"

#include <exception>
#include <iostream>
#include <memory>
#include <shared_mutex>
#include <stdexcept>

namespace ornavel {
namespace {

// Readers use the installed thread; uninstalling takes the lock exclusively and so waits for
// them to finish with it.
std::shared_mutex gInstallLock;
TUserInterfaceThread* gInstalled = nullptr;

// The outcome of one synchronous hand-off, shared by the waiting thread and the queued work.
struct THandOff {
  std::mutex Lock;
  std::condition_variable Done;
  bool Finished = false;
  std::exception_ptr Failure;

  void Finish(std::exception_ptr failure) {
    {
      std::lock_guard lock(Lock);
      Finished = true;
      Failure = std::move(failure);
    }
    Done.notify_all();
  }
};

// Finishes the hand-off as failed if the queued work is thrown away without having run.
struct THandOffGuard {
  explicit THandOffGuard(std::shared_ptr<THandOff> handOff) : HandOff(std::move(handOff)) {}
  THandOffGuard(const THandOffGuard&) = delete;
  THandOffGuard& operator=(const THandOffGuard&) = delete;

  std::shared_ptr<THandOff> HandOff;
  bool Ran = false;

  ~THandOffGuard() {
    if (Ran)
      return;
    // Made in a statement of its own, so that the temporary error (which shares its message
    // with the one handed over) is gone before the waiting thread can see the failure.
    auto failure = std::make_exception_ptr(
        std::runtime_error("The user-interface thread stopped before the work could run"));
    HandOff->Finish(std::move(failure));
  }
};

} // namespace

void InstallUserInterfaceThread(TUserInterfaceThread* thread) {
  std::unique_lock lock(gInstallLock);
  gInstalled = thread;
}

void UninstallUserInterfaceThread(TUserInterfaceThread* thread) {
  std::unique_lock lock(gInstallLock);
  if (gInstalled == thread)
    gInstalled = nullptr;
}

bool OnUserInterfaceThread() {
  std::shared_lock lock(gInstallLock);
  return gInstalled != nullptr && gInstalled->IsCurrentThread();
}

void WakeUserInterfaceThread() {
  std::shared_lock lock(gInstallLock);
  if (gInstalled != nullptr)
    gInstalled->Wake();
}

bool PostToUserInterfaceThread(std::function<void()> work) {
  std::shared_lock lock(gInstallLock);
  if (gInstalled == nullptr)
    return false;
  gInstalled->Post(std::move(work));
  return true;
}

void RunOnUserInterfaceThread(const std::function<void()>& work) {
  if (OnUserInterfaceThread()) {
    work();
    return;
  }
  auto handOff = std::make_shared<THandOff>();
  {
    std::shared_lock lock(gInstallLock);
    if (gInstalled == nullptr)
      throw std::runtime_error("There is no user-interface thread to hand the work to");
    auto guard = std::make_shared<THandOffGuard>(handOff);
    // work stays alive: this thread waits below until the queued call has run or been dropped.
    gInstalled->Post([guard, &work] {
      guard->Ran = true;
      std::exception_ptr failure;
      try {
        work();
      } catch (...) {
        failure = std::current_exception();
      }
      // Handed over whole, after the catch has let go of it: the waiting thread owns it alone.
      guard->HandOff->Finish(std::move(failure));
    });
  }
  std::exception_ptr failure;
  {
    std::unique_lock lock(handOff->Lock);
    handOff->Done.wait(lock, [&] { return handOff->Finished; });
    // Taken out, so that only this thread holds the failure from now on.
    failure = std::move(handOff->Failure);
  }
  if (failure)
    std::rethrow_exception(failure);
}

bool WaitServing(const std::function<bool()>& done, const std::function<bool(TDeadline)>& wait,
                 TDeadline deadline) {
  {
    std::shared_lock lock(gInstallLock);
    if (gInstalled != nullptr && gInstalled->IsCurrentThread()) {
      TUserInterfaceThread* thread = gInstalled;
      lock.unlock();
      return thread->ServeUntil(done, deadline);
    }
  }
  return wait(deadline);
}

TEventLoop::TEventLoop() : FOwner(std::this_thread::get_id()) {
  InstallUserInterfaceThread(this);
}

TEventLoop::~TEventLoop() {
  UninstallUserInterfaceThread(this);
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard lock(FLock);
    dropped.swap(FQueue);
  }
}

void TEventLoop::Run() {
  ServeUntil([this] { return FQuit.load(); });
  FQuit = false;
}

void TEventLoop::Quit() {
  FQuit = true;
  Wake();
}

void TEventLoop::SetErrorHandler(TErrorHandler handler) {
  std::lock_guard lock(FLock);
  FErrorHandler = std::move(handler);
}

bool TEventLoop::IsCurrentThread() const {
  return std::this_thread::get_id() == FOwner;
}

void TEventLoop::Post(std::function<void()> work) {
  {
    std::lock_guard lock(FLock);
    FQueue.push_back(std::move(work));
  }
  FChanged.notify_all();
}

void TEventLoop::Wake() {
  {
    std::lock_guard lock(FLock);
    ++FWakeups;
  }
  FChanged.notify_all();
}

bool TEventLoop::ServeUntil(const std::function<bool()>& done, TDeadline deadline) {
  if (!IsCurrentThread())
    throw std::logic_error("Only the user-interface thread can serve its event loop");
  for (;;) {
    std::unique_lock lock(FLock);
    // Taken before done() is asked, so a Wake between the two is not lost.
    const auto wakeups = FWakeups;
    lock.unlock();
    if (done())
      return true;
    lock.lock();
    const auto changed = [&] { return !FQueue.empty() || FWakeups != wakeups; };
    if (deadline) {
      if (!FChanged.wait_until(lock, *deadline, changed)) {
        lock.unlock();
        return done();
      }
    } else {
      FChanged.wait(lock, changed);
    }
    if (FQueue.empty())
      continue;
    auto work = std::move(FQueue.front());
    FQueue.pop_front();
    lock.unlock();
    RunSafely(work);
  }
}

void TEventLoop::RunSafely(const std::function<void()>& work) {
  std::string failure;
  try {
    work();
    return;
  } catch (const std::exception& error) {
    failure = error.what();
  } catch (...) {
    failure = "Unknown failure";
  }
  TErrorHandler handler;
  {
    std::lock_guard lock(FLock);
    handler = FErrorHandler;
  }
  if (handler)
    handler(failure);
  else
    std::cerr << "Ornavel: " << failure << std::endl;
}

} // namespace ornavel
