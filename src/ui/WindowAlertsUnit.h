#pragma once

#include "core/AlertLimiterUnit.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

class QTimer;

namespace ornavel {

class TAppBar;
class TDesktopNotifier;
class TLog;

// What the window does with an alert besides notifying: brings the row into view, or shows the
// window with the row current when the user clicks a notification.
class TAlertedWindow {
public:
  virtual ~TAlertedWindow() = default;
  virtual void AlertRowInView(std::uint64_t line) = 0;
  virtual void AlertRowWanted(std::uint64_t line) = 0;
};

// Tells the user of alerts while the window may be out of sight: a desktop notification, the
// auto-hidden bar peeking out, or the window manager's attention for a floating window. Alerts
// come from the log on any thread and at any rate; each rule tells at most once an interval.
class TWindowAlerts : public QObject {
public:
  static constexpr std::chrono::seconds Interval{5};
  static constexpr std::chrono::seconds PeekTime{5};

  // Notifications go to the session bus, or to the bus at busAddress.
  TWindowAlerts(TAppBar& bar, TAlertedWindow& window, TLog& log, QString busAddress = {});
  ~TWindowAlerts() override;
  TWindowAlerts(const TWindowAlerts&) = delete;
  TWindowAlerts& operator=(const TWindowAlerts&) = delete;

  // Made with the first notice.
  TDesktopNotifier* Notifier() const { return FNotifier.get(); }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  // Shared with the log's handler, which may run once more while the window goes.
  struct TShared {
    explicit TShared(std::chrono::steady_clock::duration interval) : Limiter(interval) {}
    std::atomic<TWindowAlerts*> Owner{nullptr};
    TAlertLimiter Limiter;
    std::atomic<bool> FlushQueued{false};
  };

  static void Offer(const std::shared_ptr<TShared>& shared, const TLogAlert& alert);
  void Tell(const TAlertNotice& notice);
  void Notify(const TAlertNotice& notice);
  // The first reason notifications do not work goes to the log; later ones would only repeat it.
  void WarnOnce(const QString& reason);
  void ScheduleFlush();
  void AskForAttention();
  void Flush();

  TAppBar& FBar;
  TAlertedWindow& FWindow;
  TLog& FLog;
  const QString FBusAddress;
  std::shared_ptr<TShared> FShared;
  std::unique_ptr<TDesktopNotifier> FNotifier;
  QTimer* FFlushTimer = nullptr;
  bool FWarned = false;
  // Since an alert found the floating window active, until it asked for attention.
  QElapsedTimer FAlertWhileActive;
  static constexpr std::chrono::milliseconds LateDeactivation{1000};
};

} // namespace ornavel
