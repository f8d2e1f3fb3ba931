#pragma once

#include "core/UserInterfaceThreadUnit.h"

#include <QObject>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QAbstractEventDispatcher;

namespace ornavel {

// The Qt application's thread as the process's user-interface thread. Work handed over waits in
// a queue of our own, so that what a source hands over is ordered by our locks, not Qt's; Qt
// only gets one wake-up call per batch.
class TQtUserInterfaceThread final : public TUserInterfaceThread {
public:
  using TErrorHandler = std::function<void(const std::string& message)>;

  // Needs the QApplication; made on its thread.
  TQtUserInterfaceThread();
  ~TQtUserInterfaceThread() override;
  TQtUserInterfaceThread(const TQtUserInterfaceThread&) = delete;
  TQtUserInterfaceThread& operator=(const TQtUserInterfaceThread&) = delete;

  // Failures of posted work go here (standard error by default); the loop goes on.
  void SetErrorHandler(TErrorHandler handler);

  bool IsCurrentThread() const override;
  void Post(std::function<void()> work) override;
  // Serves our queue and Qt's events, but leaves the user's input for later, so that a wait
  // for the sources is never re-entered from a menu.
  bool ServeUntil(const std::function<bool()>& done, TDeadline deadline = {}) override;
  void Wake() override;

private:
  void RequestDrain(); // under FLock
  void RunQueued();
  void Report(const std::string& message);

  class TDrainTarget;
  std::unique_ptr<TDrainTarget> FContext;
  QAbstractEventDispatcher* FDispatcher;
  std::mutex FLock;
  std::deque<std::function<void()>> FQueue;
  bool FDrainRequested = false;
  TErrorHandler FErrorHandler;
};

} // namespace ornavel
