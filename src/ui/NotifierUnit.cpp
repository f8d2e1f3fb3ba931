#include "NotifierUnit.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>
#include <algorithm>
#include <atomic>

namespace ornavel {
namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");

// The name the desktop knows the program and its icon by.
const QString DesktopName = QStringLiteral("ornavel");

// A bubble holds a few lines at best; the whole line is in the window.
constexpr qsizetype MaxBodyCharacters = 300;

// Enough for every notice still on screen; a flood forgets the oldest.
constexpr std::size_t MaxShown = 256;

constexpr uchar NormalUrgency = 1;
constexpr uchar CriticalUrgency = 2;

QString Decode(const std::string& bytes) {
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// The line as plain text. Servers may read markup in the body, and the line may come from anyone
// on the network, so nothing in it may be taken as markup.
QString Body(const TNotice& notice) {
  QString text = Decode(notice.Text);
  for (QChar& c : text) {
    if (c.category() == QChar::Other_Control && c != u'\t')
      c = u' ';
  }
  if (text.size() > MaxBodyCharacters) {
    qsizetype cut = MaxBodyCharacters;
    if (text.at(cut - 1).isHighSurrogate())
      --cut;
    text = text.left(cut) + QChar(0x2026);
  }
  QString body = text.toHtmlEscaped();
  if (notice.More > 0)
    body += QStringLiteral("\nand %1 more").arg(notice.More);
  return body;
}

QString NewConnectionName() {
  static std::atomic<unsigned> count{0};
  return QStringLiteral("ornavel-notifier-%1").arg(++count);
}

} // namespace

TDesktopNotifier::TDesktopNotifier(QObject* parent, const QString& busAddress)
    : QObject(parent), FConnectionName(busAddress.isEmpty() ? QString() : NewConnectionName()),
      FBus(busAddress.isEmpty() ? QDBusConnection::sessionBus()
                                : QDBusConnection::connectToBus(busAddress, FConnectionName)) {
  if (!FBus.isConnected()) {
    const QString reason = FBus.lastError().message();
    FUnavailable = QStringLiteral("no session bus: ") +
                   (reason.isEmpty() ? QStringLiteral("cannot connect") : reason);
    return;
  }
  if (!ServiceReachable()) {
    FUnavailable = QStringLiteral("no notification service on the session bus");
    return;
  }
  FBus.connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this,
               SLOT(OnActionInvoked(uint, QString)));
  FBus.connect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this,
               SLOT(OnNotificationClosed(uint, uint)));
}

// The bus's own thread would otherwise let go of the signal hooks while this object goes away.
TDesktopNotifier::~TDesktopNotifier() {
  if (FUnavailable.isEmpty()) {
    FBus.disconnect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this,
                    SLOT(OnActionInvoked(uint, QString)));
    FBus.disconnect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this,
                    SLOT(OnNotificationClosed(uint, uint)));
  }
  if (!FConnectionName.isEmpty())
    QDBusConnection::disconnectFromBus(FConnectionName);
}

// Asks the bus, not the notification server, so this does not wait on a stuck server.
bool TDesktopNotifier::ServiceReachable() const {
  const QDBusConnectionInterface* bus = FBus.interface();
  if (bus == nullptr)
    return false;
  if (bus->isServiceRegistered(Service).value())
    return true;
  const QDBusReply<QStringList> activatable = bus->activatableServiceNames();
  return activatable.isValid() && activatable.value().contains(Service);
}

void TDesktopNotifier::Notify(const TNotice& notice) {
  if (!FUnavailable.isEmpty())
    return;
  if (!FBus.isConnected()) {
    // The bus went away: no reply would ever come.
    const QString reason = FBus.lastError().message();
    QMetaObject::invokeMethod(
        this,
        [this, reason = reason.isEmpty() ? QStringLiteral("the session bus went away") : reason] {
          emit Failed(reason);
        },
        Qt::QueuedConnection);
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, "Notify");
  const QVariantMap hints{
      {QStringLiteral("urgency"),
       QVariant::fromValue<uchar>(notice.Critical ? CriticalUrgency : NormalUrgency)},
      {QStringLiteral("desktop-entry"), DesktopName}};
  call << QStringLiteral("Ornavel") << 0U << DesktopName << Decode(notice.Summary) << Body(notice)
       << QStringList{QStringLiteral("default"), QStringLiteral("Show")} << hints << -1;
  auto* watcher = new QDBusPendingCallWatcher(FBus.asyncCall(call), this);
  connect(
      watcher, &QDBusPendingCallWatcher::finished, this,
      [this, line = notice.Line](QDBusPendingCallWatcher* finished) { OnReply(finished, line); });
}

void TDesktopNotifier::OnReply(QDBusPendingCallWatcher* watcher, std::uint64_t line) {
  watcher->deleteLater();
  const QDBusPendingReply<uint> reply = *watcher;
  if (reply.isError()) {
    emit Failed(reply.error().message());
    return;
  }
  const uint id = reply.value();
  // A server may hand out an id again once its notice is gone.
  std::erase_if(FShown, [id](const auto& shown) { return shown.first == id; });
  FShown.emplace_back(id, line);
  if (FShown.size() > MaxShown)
    FShown.pop_front();
}

void TDesktopNotifier::OnActionInvoked(uint id, const QString& actionKey) {
  if (actionKey != u"default")
    return;
  const auto shown = std::find_if(FShown.begin(), FShown.end(),
                                  [id](const auto& entry) { return entry.first == id; });
  if (shown != FShown.end())
    emit Activated(shown->second);
}

void TDesktopNotifier::OnNotificationClosed(uint id, uint /*reason*/) {
  std::erase_if(FShown, [id](const auto& shown) { return shown.first == id; });
}

} // namespace ornavel
