#include "QtUserInterfaceThreadUnit.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <exception>
#include <iostream>
#include <stdexcept>

namespace ornavel {

TQtUserInterfaceThread::TQtUserInterfaceThread()
    : FContext(std::make_unique<QObject>()),
      FDispatcher(QAbstractEventDispatcher::instance(QThread::currentThread())) {
  if (QCoreApplication::instance() == nullptr || FDispatcher == nullptr)
    throw std::logic_error("The Qt user-interface thread needs the application first");
  InstallUserInterfaceThread(this);
}

TQtUserInterfaceThread::~TQtUserInterfaceThread() {
  UninstallUserInterfaceThread(this);
  std::deque<std::function<void()>> dropped;
  std::lock_guard lock(FLock);
  dropped.swap(FQueue);
}

void TQtUserInterfaceThread::SetErrorHandler(TErrorHandler handler) {
  std::lock_guard lock(FLock);
  FErrorHandler = std::move(handler);
}

bool TQtUserInterfaceThread::IsCurrentThread() const {
  return FContext->thread() == QThread::currentThread();
}

void TQtUserInterfaceThread::Post(std::function<void()> work) {
  std::lock_guard lock(FLock);
  FQueue.push_back(std::move(work));
  RequestDrain();
}

void TQtUserInterfaceThread::RequestDrain() {
  if (FDrainRequested)
    return;
  FDrainRequested = true;
  // The context object belongs to this thread, so the call is queued to it; once the context is
  // gone, Qt drops the call and our queue goes with us.
  QMetaObject::invokeMethod(
      FContext.get(), [this] { RunQueued(); }, Qt::QueuedConnection);
}

// One piece of work per call, with the next call already queued: work that opens a box or
// waits runs a loop of its own, which must go on serving what comes after it.
void TQtUserInterfaceThread::RunQueued() {
  std::function<void()> work;
  {
    std::lock_guard lock(FLock);
    FDrainRequested = false;
    if (FQueue.empty())
      return;
    work = std::move(FQueue.front());
    FQueue.pop_front();
    if (!FQueue.empty())
      RequestDrain();
  }
  try {
    work();
  } catch (const std::exception& failure) {
    Report(failure.what());
  } catch (...) {
    Report("Unknown failure");
  }
}

void TQtUserInterfaceThread::Report(const std::string& message) {
  TErrorHandler handler;
  {
    std::lock_guard lock(FLock);
    handler = FErrorHandler;
  }
  if (handler)
    handler(message);
  else
    std::cerr << "Ornavel: " << message << "\n";
}

bool TQtUserInterfaceThread::ServeUntil(const std::function<bool()>& done, TDeadline deadline) {
  QTimer deadlineTimer;
  if (deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
    deadlineTimer.setSingleShot(true);
    deadlineTimer.setTimerType(Qt::PreciseTimer);
    deadlineTimer.start(std::max<std::chrono::milliseconds>(left, std::chrono::milliseconds(0)));
  }
  while (!done()) {
    if (deadline && std::chrono::steady_clock::now() >= *deadline)
      return done();
    RunQueued();
    if (done())
      break;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents |
                                    QEventLoop::ExcludeUserInputEvents);
  }
  return true;
}

void TQtUserInterfaceThread::Wake() {
  FDispatcher->wakeUp();
}

} // namespace ornavel
