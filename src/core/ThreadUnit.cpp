#include "ThreadUnit.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace ornavel {
namespace {

// Threads whose objects were freed on the threads themselves, in their last steps. Each is joined
// by the next one parked, or at program end, so that no thread outlives the program's statics.
class TFinishingThreads {
public:
  ~TFinishingThreads() { JoinAll(); }

  void Park(std::thread thread) {
    std::lock_guard lock(FLock);
    JoinAllLocked();
    FThreads.push_back(std::move(thread));
  }

  void JoinAll() {
    std::lock_guard lock(FLock);
    JoinAllLocked();
  }

  static TFinishingThreads& Instance() {
    static TFinishingThreads instance;
    return instance;
  }

private:
  void JoinAllLocked() {
    for (auto& thread : FThreads)
      thread.join();
    FThreads.clear();
  }

  std::mutex FLock;
  std::vector<std::thread> FThreads;
};

} // namespace

TThread::~TThread() {
  // By now the thread function has ended, or is ending on this very thread (see Dispose).
  if (FThread.joinable()) {
    if (FThread.get_id() == std::this_thread::get_id())
      TFinishingThreads::Instance().Park(std::move(FThread));
    else
      FThread.join();
  }
}

void TThread::Resume() {
  std::lock_guard lock(FLock);
  if (FStarted)
    return;
  if (!FMadeByCreate)
    throw std::logic_error("A thread must be made with TThread::Create to run");
  std::shared_ptr<TThread> keepAlive = FFreeOnTerminate ? shared_from_this() : nullptr;
  FThread = std::thread(
      [this, keepAlive = std::move(keepAlive)]() mutable { ThreadMain(std::move(keepAlive)); });
  FThreadId = FThread.get_id();
  FStarted = true;
}

void TThread::Terminate() {
  FTerminated = true;
  TerminateRequested();
}

void TThread::WaitFor() {
  if (IsOwnThread())
    throw std::logic_error("A thread cannot wait for itself");
  if (Started())
    FHandle->WaitFor();
}

bool TThread::Started() const {
  std::lock_guard lock(FLock);
  return FStarted;
}

void TThread::SetOnTerminate(TNotifyEvent handler) {
  std::lock_guard lock(FLock);
  FOnTerminate = std::move(handler);
}

void TThread::SetFreeOnTerminate(bool value) {
  std::lock_guard lock(FLock);
  if (FStarted && value != FFreeOnTerminate)
    throw std::logic_error("FreeOnTerminate cannot change once the thread has started");
  FFreeOnTerminate = value;
}

bool TThread::FreeOnTerminate() const {
  std::lock_guard lock(FLock);
  return FFreeOnTerminate;
}

std::exception_ptr TThread::FatalException() const {
  std::lock_guard lock(FLock);
  return FFatalException;
}

bool TThread::IsOwnThread() const {
  std::lock_guard lock(FLock);
  return FStarted && FThreadId == std::this_thread::get_id();
}

void TThread::ThreadMain(std::shared_ptr<TThread> keepAlive) {
  try {
    Execute();
  } catch (...) {
    std::lock_guard lock(FLock);
    FFatalException = std::current_exception();
  }
  FBodyReturned = true;
  DeliverTerminationNotice();
  FFinished = true;
  const std::shared_ptr<TEvent> handle = FHandle;
  bool freeNow = false;
  {
    std::lock_guard lock(FLock);
    FFunctionEnded = true;
    freeNow = FFreeWhenEnded;
  }
  // From here on another thread may free this object, unless its last owner left that to us.
  if (freeNow) {
    std::unique_ptr<TThread> owned(this);
  }
  keepAlive.reset();
  handle->Set();
}

void TThread::DeliverTerminationNotice() {
  TNotifyEvent handler;
  {
    std::lock_guard lock(FLock);
    handler = FOnTerminate;
  }
  if (!handler)
    return;
  try {
    Synchronize([&] { handler(*this); });
  } catch (...) {
    std::lock_guard lock(FLock);
    if (!FFatalException)
      FFatalException = std::current_exception();
  }
}

void TThread::Dispose() {
  std::unique_lock lock(FLock);
  if (FStarted && !FFunctionEnded) {
    // On its own thread, or once the body has returned (the last reference may go inside the
    // termination notice, which the thread is waiting for), the thread function frees it.
    if (FThreadId == std::this_thread::get_id() || FBodyReturned) {
      FFreeWhenEnded = true;
      return;
    }
    lock.unlock();
    Terminate();
    FHandle->WaitFor();
  } else {
    lock.unlock();
  }
  std::unique_ptr<TThread> owned(this);
}

bool TSourceThread::WaitForWork(TClock::time_point deadline, std::span<pollfd> descriptors) {
  std::vector<pollfd> watched{{FWake.Descriptor(), POLLIN, 0}};
  watched.insert(watched.end(), descriptors.begin(), descriptors.end());
  if (!Terminated() && ::poll(watched.data(), watched.size(), PollTimeoutMs(deadline)) < 0 &&
      errno != EINTR)
    throw std::system_error(errno, std::generic_category(), "Cannot wait");
  FWake.Clear();
  for (std::size_t i = 0; i < descriptors.size(); ++i)
    descriptors[i].revents = watched[i + 1].revents;
  return !Terminated();
}

} // namespace ornavel
