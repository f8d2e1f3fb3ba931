#include "QtUserInterfaceThreadUnit.h"

#include "core/WakeEventUnit.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <exception>
#include <iostream>
#include <stdexcept>

namespace ornavel {

// Receives the wake-up event that asks for the next piece of queued work. The event is made on
// the posting thread under the queue's lock and handed over by Qt's own locks, which
// ThreadSanitizer cannot see; taking the queue's lock before looking at it makes the hand-over
// visible.
class TQtUserInterfaceThread::TDrainTarget final : public QObject {
public:
  explicit TDrainTarget(TQtUserInterfaceThread& owner) : FOwner(owner) {}

  static QEvent::Type DrainEvent() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }

  bool event(QEvent* event) override {
    std::unique_lock lock(FOwner.FLock);
    const bool drain = event->type() == DrainEvent();
    lock.unlock();
    if (!drain)
      return QObject::event(event);
    FOwner.RunQueued();
    return true;
  }

private:
  TQtUserInterfaceThread& FOwner;
};

TQtUserInterfaceThread::TQtUserInterfaceThread()
    : FContext(std::make_unique<TDrainTarget>(*this)),
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
  // The target belongs to this thread, so the event is served there; once the target is gone,
  // Qt drops the event and our queue goes with us. Qt owns the event from here.
  QCoreApplication::postEvent(FContext.get(), new QEvent(TDrainTarget::DrainEvent()));
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
    deadlineTimer.setSingleShot(true);
    deadlineTimer.setTimerType(Qt::PreciseTimer);
    deadlineTimer.start(PollTimeoutMs(*deadline));
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
