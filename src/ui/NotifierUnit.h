#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>

class QDBusPendingCallWatcher;

namespace ornavel {

// One notification to show.
struct TNotice {
  std::string Summary;    // the alerting rule's name
  std::string Text;       // the line as it came: raw bytes, maybe not UTF-8, maybe markup
  std::size_t More = 0;   // alerts of the same rule not shown on their own since the last notice
  bool Critical = false;  // urgency critical instead of normal
  std::uint64_t Line = 0; // the log's number of the line, handed back when the user clicks it
};

// Shows notices through org.freedesktop.Notifications on the session bus (or on the bus at a
// given address). Calls never wait for the server, so a stuck one cannot hold up the window.
class TDesktopNotifier : public QObject {
  Q_OBJECT

public:
  explicit TDesktopNotifier(QObject* parent = nullptr, const QString& busAddress = {});
  ~TDesktopNotifier() override;
  TDesktopNotifier(const TDesktopNotifier&) = delete;
  TDesktopNotifier& operator=(const TDesktopNotifier&) = delete;

  // Why notices cannot be shown, empty when they can; found out on construction.
  QString Unavailable() const { return FUnavailable; }
  // Sends the notice without waiting for the server; does nothing when unavailable.
  void Notify(const TNotice& notice);

signals:
  // The user clicked a notice: its line.
  void Activated(std::uint64_t line);
  // A Notify call failed, with the bus's message; once per failure.
  void Failed(const QString& reason);

private slots:
  // Connected by name: QtDBus delivers bus signals to slots only.
  void OnActionInvoked(uint id, const QString& actionKey);
  void OnNotificationClosed(uint id, uint reason);

private:
  void OnReply(QDBusPendingCallWatcher* watcher, std::uint64_t line);
  bool ServiceReachable() const;

  QString FConnectionName; // our own connection's, when given an address; else the session bus
  QDBusConnection FBus;
  QString FUnavailable;
  // The server's ids of the notices shown, with their lines; oldest first, bounded.
  std::deque<std::pair<uint, std::uint64_t>> FShown;
};

} // namespace ornavel
