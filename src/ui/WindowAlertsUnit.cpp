#include "WindowAlertsUnit.h"

#include "AppBarUnit.h"
#include "NotifierUnit.h"
#include "PaletteUnit.h"
#include "core/LogUnit.h"
#include "core/UserInterfaceThreadUnit.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>

namespace ornavel {

TWindowAlerts::TWindowAlerts(TAppBar& bar, TAlertedWindow& window, TLog& log, QString busAddress)
    : FBar(bar), FWindow(window), FLog(log), FBusAddress(std::move(busAddress)),
      FShared(std::make_shared<TShared>(Interval)) {
  FShared->Owner = this;
  FFlushTimer = new QTimer(this);
  FFlushTimer->setSingleShot(true);
  connect(FFlushTimer, &QTimer::timeout, this, [this] { Flush(); });
  FBar.installEventFilter(this);
  FLog.SetOnAlert([shared = FShared](const TLogAlert& alert) { Offer(shared, alert); });
}

TWindowAlerts::~TWindowAlerts() {
  FShared->Owner = nullptr;
  FLog.SetOnAlert({});
}

// On the posting thread: the limiter decides there, so that a flood of alerts hands the window's
// thread one notice per rule and interval, and one request to tell the counted ones later.
void TWindowAlerts::Offer(const std::shared_ptr<TShared>& shared, const TLogAlert& alert) {
  std::optional<TAlertNotice> notice =
      shared->Limiter.Offer(alert, std::chrono::steady_clock::now());
  if (notice) {
    PostToUserInterfaceThread([shared, notice = std::move(*notice)] {
      if (TWindowAlerts* owner = shared->Owner.load())
        owner->Tell(notice);
    });
  } else if (!shared->FlushQueued.exchange(true)) {
    PostToUserInterfaceThread([shared] {
      if (TWindowAlerts* owner = shared->Owner.load())
        owner->ScheduleFlush();
    });
  }
}

void TWindowAlerts::ScheduleFlush() {
  const auto due = FShared->Limiter.NextDue();
  if (!due) {
    FShared->FlushQueued = false;
    return;
  }
  const auto wait =
      std::chrono::ceil<std::chrono::milliseconds>(*due - std::chrono::steady_clock::now());
  FFlushTimer->start(std::max(wait, std::chrono::milliseconds(0)));
}

// Cleared before taking, so that an alert counted meanwhile asks for the next flush itself.
void TWindowAlerts::Flush() {
  FShared->FlushQueued = false;
  for (const TAlertNotice& notice : FShared->Limiter.TakeDue(std::chrono::steady_clock::now()))
    Tell(notice);
  if (FShared->Limiter.NextDue() && !FShared->FlushQueued.exchange(true))
    ScheduleFlush();
}

void TWindowAlerts::Tell(const TAlertNotice& notice) {
  Notify(notice);
  if (FBar.AutoHiding()) {
    FWindow.AlertRowInView(notice.Line);
    FBar.Peek(PeekTime, ToQColor(notice.Color, &FBar));
  } else if (FBar.Edge() == TAppBarEdge::abeFloat) {
    FAlertWhileActive.start();
    AskForAttention();
  }
}

// The toolkit tells a window it has lost the keyboard a moment after the window manager gave it
// to another: an alert in between asks for attention once the window knows.
bool TWindowAlerts::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ActivationChange && FAlertWhileActive.isValid() &&
      FAlertWhileActive.elapsed() < LateDeactivation.count())
    AskForAttention();
  return QObject::eventFilter(watched, event);
}

void TWindowAlerts::AskForAttention() {
  if (FBar.isMinimized() || !FBar.isActiveWindow()) {
    FAlertWhileActive.invalidate();
    QApplication::alert(&FBar);
  }
}

void TWindowAlerts::Notify(const TAlertNotice& notice) {
  if (!FNotifier) {
    FNotifier = std::make_unique<TDesktopNotifier>(nullptr, FBusAddress);
    if (!FNotifier->Unavailable().isEmpty())
      WarnOnce(FNotifier->Unavailable());
    connect(FNotifier.get(), &TDesktopNotifier::Activated, this,
            [this](std::uint64_t line) { FWindow.AlertRowWanted(line); });
    connect(FNotifier.get(), &TDesktopNotifier::Failed, this,
            [this](const QString& reason) { WarnOnce(reason); });
  }
  FNotifier->Notify({notice.Rule, notice.Text, notice.More,
                     notice.Color == clRed || notice.Color == clMaroon, notice.Line});
}

void TWindowAlerts::WarnOnce(const QString& reason) {
  if (FWarned)
    return;
  FWarned = true;
  FLog.Add(nullptr, TLogLevel::Warning,
           "Desktop notifications are unavailable: " + reason.toStdString() +
               ". Alerts still show in the window.");
}

} // namespace ornavel
