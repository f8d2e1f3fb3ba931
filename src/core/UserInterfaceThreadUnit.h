#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace ornavel {

using TDeadline = std::optional<std::chrono::steady_clock::time_point>;

// The thread that owns the windows. Other threads hand work over to it; while it waits for
// them, it keeps serving what they hand over, so that neither side waits for the other forever.
class TUserInterfaceThread {
public:
  virtual ~TUserInterfaceThread() = default;

  virtual bool IsCurrentThread() const = 0;
  // Queues work to run on the user-interface thread, in order; callable from any thread.
  virtual void Post(std::function<void()> work) = 0;
  // On the user-interface thread: runs queued work until done() holds or the deadline passes,
  // and answers done(). done() is looked at again after every piece of work and every Wake.
  virtual bool ServeUntil(const std::function<bool()>& done, TDeadline deadline = {}) = 0;
  // Makes a running ServeUntil look at its condition again; callable from any thread.
  virtual void Wake() = 0;
};

// Makes thread the process's user-interface thread. An implementation installs itself for its
// lifetime; uninstalling waits until no other thread is using it, and leaves a thread installed
// since then in place.
void InstallUserInterfaceThread(TUserInterfaceThread* thread);
void UninstallUserInterfaceThread(TUserInterfaceThread* thread);

bool OnUserInterfaceThread();
void WakeUserInterfaceThread();
// Queues work for the user-interface thread without waiting for it; answers false, dropping
// the work, when there is no user-interface thread.
bool PostToUserInterfaceThread(std::function<void()> work);

// Runs work on the user-interface thread and waits until it has run; a failure of work is
// raised again here. On the user-interface thread itself, work runs at once. Fails when there is
// no user-interface thread, or when it stops before the work has run.
void RunOnUserInterfaceThread(const std::function<void()>& work);

// Waits until done() holds, serving hand-offs when called on the user-interface thread;
// otherwise it waits on wait(), which returns when done() may have changed.
bool WaitServing(const std::function<bool()>& done, const std::function<bool(TDeadline)>& wait,
                 TDeadline deadline);

// A plain event loop for console mode and tests. It is the user-interface thread of the thread
// that creates it, from creation to destruction.
class TEventLoop final : public TUserInterfaceThread {
public:
  using TErrorHandler = std::function<void(const std::string& message)>;

  TEventLoop();
  ~TEventLoop() override;
  TEventLoop(const TEventLoop&) = delete;
  TEventLoop& operator=(const TEventLoop&) = delete;

  // Serves until Quit; failures of posted work go to the error handler (standard error by
  // default) and the loop goes on.
  void Run();
  void Quit();
  void SetErrorHandler(TErrorHandler handler);

  bool IsCurrentThread() const override;
  void Post(std::function<void()> work) override;
  bool ServeUntil(const std::function<bool()>& done, TDeadline deadline = {}) override;
  void Wake() override;

private:
  void RunSafely(const std::function<void()>& work);

  const std::thread::id FOwner;
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<std::function<void()>> FQueue;
  unsigned long long FWakeups = 0;
  std::atomic<bool> FQuit{false};
  TErrorHandler FErrorHandler;
};

} // namespace ornavel
