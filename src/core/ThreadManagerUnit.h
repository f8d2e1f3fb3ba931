#pragma once

#include "ThreadUnit.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace ornavel {

// Owns the running source threads as a group: stops them all and waits for them, on a restart
// request (then calls OnAllStopped on the user-interface thread) or when it is terminated itself
// (then without a call back). There is one per process.
class TThreadManager : public TThread {
public:
  // Fails with "Only one thread manager allowed" while another manager exists.
  TThreadManager();
  ~TThreadManager() override;

  // Registers a thread before it is resumed; registering it again leaves one entry.
  void AddThread(std::shared_ptr<TThread> thread);
  // Reached through the thread's termination notice, on the user-interface thread.
  void RemoveThread(TThread& thread);
  std::size_t ThreadCount() const;

  // Served at once; a request made while a stop is under way is served by that stop.
  void RequestRestart();
  void SetOnAllStopped(TNotifyEvent handler);

  // The manager that exists now, if any.
  static TThreadManager* Instance() { return FInstance; }

protected:
  void Execute() override;
  void TerminateRequested() override;

private:
  // Answers false once the manager is terminated.
  bool WaitForRestartRequest();
  void Restart();
  void StopAll();
  void ReportFailure(const char* message) const;

  static std::atomic<TThreadManager*> FInstance;

  mutable std::mutex FRegistryLock;
  std::vector<std::shared_ptr<TThread>> FRegistry;
  mutable std::mutex FHandlerLock;
  TNotifyEvent FOnAllStopped;
  std::mutex FWorkLock; // guards FRestartRequested
  std::condition_variable FWorkArrived;
  bool FRestartRequested = false;
};

// The single thread manager, made running on first use.
TThreadManager& GetThreadManager();

} // namespace ornavel
