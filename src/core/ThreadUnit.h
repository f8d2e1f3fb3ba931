#pragma once

#include "EventUnit.h"
#include "SourceKindUnit.h"
#include "UserInterfaceThreadUnit.h"
#include "WakeEventUnit.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <poll.h>
#include <span>
#include <thread>
#include <type_traits>

namespace ornavel {

class TLog;

// A thread object with a cooperative terminate flag. Threads are shared objects made with
// Create; a thread holds itself while its body runs only when it frees itself on termination,
// otherwise its owners keep it, and dropping the last reference to a running thread terminates
// it and waits for it first. A thread object is never freed under its own running body.
class TThread : public std::enable_shared_from_this<TThread> {
public:
  using TNotifyEvent = std::function<void(TThread& sender)>;

  template <class T, class... A>
  static std::shared_ptr<T> Create(bool createSuspended, A&&... args) {
    static_assert(std::is_base_of_v<TThread, T>);
    std::shared_ptr<T> thread(std::make_unique<T>(std::forward<A>(args)...).release(), TDeleter{});
    thread->FMadeByCreate = true;
    if (!createSuspended)
      thread->Resume();
    return thread;
  }

  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Starts a thread made suspended; does nothing once it has started.
  void Resume();
  // Sets the terminate flag and lets a body that sleeps on something else wake up to see it.
  void Terminate();
  bool Terminated() const { return FTerminated; }
  // Blocks until the thread has finished; returns at once for a thread that never started. On
  // the user-interface thread, hand-offs keep being served meanwhile.
  void WaitFor();
  bool Started() const;
  bool Finished() const { return FFinished; }
  // Signalled when the thread has finished; stays valid after the thread object is gone.
  std::shared_ptr<TEvent> Handle() const { return FHandle; }

  // Runs on the user-interface thread after the body has returned and before the thread counts
  // as finished.
  void SetOnTerminate(TNotifyEvent handler);
  // Only before the thread starts: whether it keeps itself alive until its end.
  void SetFreeOnTerminate(bool value);
  bool FreeOnTerminate() const;
  // The failure that ended the body, if any.
  std::exception_ptr FatalException() const;

  // Runs work on the user-interface thread and waits for it; its failure is raised here.
  static void Synchronize(const std::function<void()>& work) { RunOnUserInterfaceThread(work); }

protected:
  TThread() = default;
  virtual void Execute() = 0;
  // Called on the terminating thread right after the flag is set; it must not block.
  virtual void TerminateRequested() {}

private:
  struct TDeleter {
    void operator()(TThread* thread) const { thread->Dispose(); }
  };

  void ThreadMain(std::shared_ptr<TThread> keepAlive);
  void DeliverTerminationNotice();
  void Dispose();
  bool IsOwnThread() const;

  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  std::atomic<bool> FBodyReturned{false};
  bool FMadeByCreate = false;
  const std::shared_ptr<TEvent> FHandle = std::make_shared<TEvent>();

  mutable std::mutex FLock; // guards the members below
  bool FStarted = false;
  bool FFreeOnTerminate = false;
  bool FFunctionEnded = false;
  bool FFreeWhenEnded = false;
  TNotifyEvent FOnTerminate;
  std::exception_ptr FFatalException;
  std::thread FThread;
  std::thread::id FThreadId;
};

// A thread that posts lines of one kind of source to the log it is given; the rules tell the
// kinds apart by it. Its body sleeps in WaitForWork between passes.
class TSourceThread : public TThread {
public:
  using TClock = std::chrono::steady_clock;

  virtual TMonitorType MonitorType() const = 0;

protected:
  explicit TSourceThread(TLog& log) : FLog(log) {}
  TLog& Log() const { return FLog; }
  // Signalled from any thread to end a wait early: a watched file changed, say.
  TWakeEvent& WakeEvent() { return FWake; }
  // Sleeps until one of descriptors is ready, the wake event is signalled or deadline passes, and
  // clears the wake event; answers false once the thread is asked to stop.
  bool WaitForWork(TClock::time_point deadline, std::span<pollfd> descriptors = {});
  void TerminateRequested() final { FWake.Signal(); }

private:
  TLog& FLog;
  TWakeEvent FWake;
};

} // namespace ornavel
