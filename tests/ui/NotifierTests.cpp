#include "ChildProcessUnit.h"
#include "FakeDialogsUnit.h"
#include "TestSupport.h"
#include "core/LogUnit.h"
#include "driver/MonitoringDriverUnit.h"
#include "rules/RulesUnit.h"
#include "ui/MainFormUnit.h"
#include "ui/NotifierUnit.h"
#include "ui/QtUserInterfaceThreadUnit.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QObject>
#include <QStringList>
#include <QTest>
#include <QVariantMap>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

const QString ServiceName = QStringLiteral("org.freedesktop.Notifications");
constexpr int PatienceMs = std::chrono::milliseconds(test::Patience).count();

// A message bus of the test's own, never the user's. It knows no service files, so nothing is
// started on it behind the test's back.
class TPrivateBus {
public:
  TPrivateBus() : FDaemon(Arguments(FFolder), {}) {
    if (!FDaemon.WaitForOutput(
            [](const std::string& output, const std::string&) {
              return output.find('\n') != std::string::npos;
            },
            test::Patience))
      throw std::runtime_error("dbus-daemon did not start: " + FDaemon.Errors());
    FAddress = QString::fromStdString(FDaemon.OutputLines().front());
  }

  const QString& Address() const { return FAddress; }
  std::string Folder() const { return FFolder.Path(); }

private:
  static std::vector<std::string> Arguments(const test::TTemporaryFolder& folder) {
    const std::string config = folder.File("bus.conf");
    test::WriteFile(config,
                    "<busconfig><type>session</type><listen>unix:path=" + folder.File("bus") +
                        "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                        "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                        "<allow own=\"*\"/></policy></busconfig>");
    return {test::RequireOnPath("dbus-daemon"), "--config-file=" + config, "--nofork",
            "--print-address=1"};
  }

  test::TTemporaryFolder FFolder;
  test::TChildProcess FDaemon;
  QString FAddress;
};

struct TCall {
  QString AppName;
  uint ReplacesId;
  QString Icon;
  QString Summary;
  QString Body;
  QStringList Actions;
  QVariantMap Hints;
  int Timeout;
};

// Stands in for the desktop's notification server: records the calls, and clicks when told.
class TFakeNotifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
  static constexpr uint FirstId = 7;

  explicit TFakeNotifications(const QString& address)
      : FBus(QDBusConnection::connectToBus(address, ConnectionName)) {
    if (!FBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                             QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals) ||
        !FBus.registerService(ServiceName))
      throw std::runtime_error("cannot serve notifications: " +
                               FBus.lastError().message().toStdString());
  }
  ~TFakeNotifications() override { QDBusConnection::disconnectFromBus(ConnectionName); }

  void Leave() { FBus.unregisterService(ServiceName); }

  std::vector<TCall> Calls;

public slots:
  uint Notify(const QString& appName, uint replacesId, const QString& icon, const QString& summary,
              const QString& body, const QStringList& actions, const QVariantMap& hints,
              int timeout) {
    Calls.push_back({appName, replacesId, icon, summary, body, actions, hints, timeout});
    return FirstId + static_cast<uint>(Calls.size()) - 1;
  }

signals:
  void ActionInvoked(uint id, const QString& actionKey);
  void NotificationClosed(uint id, uint reason);

private:
  static inline const QString ConnectionName = QStringLiteral("fake-notifications");
  QDBusConnection FBus;
};

bool Contains(const std::vector<std::uint64_t>& lines, std::uint64_t line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The notifier learns a notice's id from the reply to its call, which the test cannot watch, so
// the service clicks until a click is taken. Bus signals arrive in order: once it is taken, every
// earlier click has been handled too.
bool ClickUntilTaken(TFakeNotifications& service, uint id, std::uint64_t line,
                     const std::vector<std::uint64_t>& activated) {
  return QTest::qWaitFor(
      [&] {
        if (Contains(activated, line))
          return true;
        emit service.ActionInvoked(id, QStringLiteral("default"));
        return false;
      },
      PatienceMs);
}

TEST(Notifier, ShowsLinesAsPlainTextAndReportsClicksOnThem) {
  TPrivateBus bus;
  TFakeNotifications service(bus.Address());
  TDesktopNotifier notifier(nullptr, bus.Address());
  ASSERT_EQ(notifier.Unavailable().toStdString(), "");
  std::vector<std::uint64_t> activated;
  QObject::connect(&notifier, &TDesktopNotifier::Activated,
                   [&](std::uint64_t line) { activated.push_back(line); });

  notifier.Notify(
      {"disk rule", "<b>bold</b> & <a href=\"x\">link</a>\x1b[0m\r\xff\tend", 0, false, 41});
  notifier.Notify({"flood", std::string(299, 'x') + "&cut off here", 9999, true, 42});
  notifier.Notify({"third", "third", 0, false, 43});
  ASSERT_TRUE(QTest::qWaitFor([&] { return service.Calls.size() == 3; }, PatienceMs));

  const TCall& plain = service.Calls[0];
  EXPECT_EQ(plain.AppName.toStdString(), "Ornavel");
  EXPECT_EQ(plain.ReplacesId, 0U);
  EXPECT_EQ(plain.Icon.toStdString(), "ornavel");
  EXPECT_EQ(plain.Summary.toStdString(), "disk rule");
  EXPECT_EQ(
      plain.Body.toStdString(),
      "&lt;b&gt;bold&lt;/b&gt; &amp; &lt;a href=&quot;x&quot;&gt;link&lt;/a&gt; [0m \uFFFD\tend");
  EXPECT_EQ(plain.Actions.join(',').toStdString(), "default,Show");
  EXPECT_EQ(plain.Hints.value("urgency").metaType().id(), QMetaType::UChar);
  EXPECT_EQ(plain.Hints.value("urgency").toInt(), 1);
  EXPECT_EQ(plain.Hints.value("desktop-entry").toString().toStdString(), "ornavel");
  EXPECT_EQ(plain.Timeout, -1);

  const TCall& flood = service.Calls[1];
  EXPECT_EQ(flood.Hints.value("urgency").toInt(), 2);
  EXPECT_EQ(flood.Body.toStdString(), std::string(299, 'x') + "&amp;\u2026\nand 9999 more")
      << "cut before escaping, so an escape is never cut in two";

  // Learned in this order, only clicks on the flood's notice can still be on their way.
  constexpr uint PlainId = TFakeNotifications::FirstId;
  ASSERT_TRUE(ClickUntilTaken(service, PlainId, 41, activated));
  ASSERT_TRUE(ClickUntilTaken(service, PlainId + 2, 43, activated));
  ASSERT_TRUE(ClickUntilTaken(service, PlainId + 1, 42, activated));
  activated.clear();
  emit service.ActionInvoked(PlainId, QStringLiteral("Show"));
  emit service.NotificationClosed(PlainId, 2);
  emit service.ActionInvoked(PlainId, QStringLiteral("default"));
  emit service.ActionInvoked(PlainId + 100, QStringLiteral("default"));
  emit service.ActionInvoked(PlainId + 2, QStringLiteral("default"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Contains(activated, 43); }, PatienceMs));
  EXPECT_TRUE(std::all_of(activated.begin(), activated.end(), [](std::uint64_t line) {
    return line == 42 || line == 43;
  })) << "another key, a closed notice and an unknown one are no clicks";
}

TEST(Notifier, WithoutServiceOrBusShowsNothingAndSaysWhy) {
  TPrivateBus bus;
  TDesktopNotifier early(nullptr, bus.Address());
  EXPECT_EQ(early.Unavailable().toStdString(), "no notification service on the session bus");
  std::vector<QString> failures;
  QObject::connect(&early, &TDesktopNotifier::Failed,
                   [&](const QString& reason) { failures.push_back(reason); });

  // Sent by a notifier that checked before the service came, it would reach it now.
  TFakeNotifications service(bus.Address());
  early.Notify({"early", "early", 0, false, 1});
  TDesktopNotifier notifier(nullptr, bus.Address());
  ASSERT_EQ(notifier.Unavailable().toStdString(), "");
  notifier.Notify({"late", "late", 0, false, 2});
  ASSERT_TRUE(QTest::qWaitFor([&] { return !service.Calls.empty(); }, PatienceMs));
  EXPECT_EQ(service.Calls.front().Summary.toStdString(), "late");

  QObject::connect(&notifier, &TDesktopNotifier::Failed,
                   [&](const QString& reason) { failures.push_back(reason); });
  service.Leave();
  notifier.Notify({"gone", "gone", 0, false, 3});
  ASSERT_TRUE(QTest::qWaitFor([&] { return !failures.empty(); }, PatienceMs));
  EXPECT_TRUE(failures.front().contains(ServiceName)) << failures.front().toStdString();
  EXPECT_EQ(service.Calls.size(), 1U);

  TDesktopNotifier unreachable(nullptr,
                               "unix:path=" + QString::fromStdString(bus.Folder()) + "/nothing");
  EXPECT_TRUE(unreachable.Unavailable().startsWith("no session bus: ") &&
              unreachable.Unavailable().size() > 16)
      << unreachable.Unavailable().toStdString();
}

// The window tells an alerting rule's first line at once and the rest of a flood as one notice
// when the interval ends; a click on that notice shows the window with its row current.
TEST(WindowAlerts, AFloodIsToldTwiceAndAClickMakesTheRowCurrent) {
  TPrivateBus bus;
  TFakeNotifications service(bus.Address());
  setenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().toUtf8().constData(), 1);
  const std::string folder = std::string(std::getenv("XDG_CONFIG_HOME")) + "/Ornavel";
  std::filesystem::create_directories(folder);
  test::WriteFile(folder + "/Rules.xml",
                  R"(<Rules><Rule name="Disk" color="clRed" regexp="disk" active="True" )"
                  R"(logline="True" monitortypes="mtFile" alert="True"/></Rules>)");
  auto previous = ReplaceDialogs(std::make_unique<test::TFakeDialogs>());
  {
    TQtUserInterfaceThread uiThread;
    TMainForm form({});
    form.show();
    const auto source = test::MakeSourceOf(TMonitorType::mtFile);
    for (int i = 0; i < 100; ++i)
      GetLog().AddLine(source.get(), "disk " + std::to_string(i));
    GetLog().AddLine(source.get(), "all fine");
    ASSERT_TRUE(QTest::qWaitFor([&] { return service.Calls.size() == 2; }, PatienceMs));
    EXPECT_EQ(service.Calls[0].Summary.toStdString(), "Disk");
    EXPECT_EQ(service.Calls[0].Body.toStdString(), "disk 0");
    EXPECT_EQ(service.Calls[0].Hints.value("urgency").toInt(), 2) << "red is critical";
    EXPECT_EQ(service.Calls[1].Body.toStdString(), "disk 99\nand 98 more");
    const auto current = [&] {
      return form.LogListGetText(form.LogList()->CurrentRow(), MessageColumn).toStdString();
    };
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
          if (current() == "disk 99")
            return true;
          emit service.ActionInvoked(TFakeNotifications::FirstId + 1, QStringLiteral("default"));
          return false;
        },
        PatienceMs));
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(service.Calls.size(), 2U);
  }
  TMonitoringDriver::DestroySingleObjects();
  ReplaceDialogs(std::move(previous));
  std::filesystem::remove(folder + "/Rules.xml");
}

class TStillWindow final : public TAlertedWindow {
public:
  void AlertRowInView(std::uint64_t) override {}
  void AlertRowWanted(std::uint64_t) override {}
};

// Without a notification service the log says so once, whatever alerts follow.
TEST(WindowAlerts, WithoutAServiceTheLogSaysSoOnce) {
  TPrivateBus bus;
  TRules rules;
  for (const char* name : {"disk", "net"}) {
    auto rule = std::make_unique<TRule>();
    rule->SetName(name);
    rule->SetRegExp(name);
    rule->SetActive(true);
    rule->SetAlert(true);
    rules.Add(std::move(rule));
  }
  TLog log(&rules);
  TQtUserInterfaceThread uiThread;
  TAppBar bar;
  TStillWindow window;
  const TWindowAlerts alerts(bar, window, log, bus.Address());
  const auto source = test::MakeSourceOf(TMonitorType::mtFile);
  bool served = false;
  for (const char* line : {"disk full", "net down", "disk gone"})
    log.AddLine(source.get(), line);
  // Handed over after the alerts' own work, so run after it.
  PostToUserInterfaceThread([&] { served = true; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return served; }, PatienceMs));
  std::vector<std::string> warnings;
  for (std::size_t i = 0; i < log.Count(); ++i) {
    if (log.GetItem(i).Level == TLogLevel::Warning)
      warnings.push_back(log.GetItem(i).Text);
  }
  EXPECT_EQ(warnings, std::vector<std::string>{"Desktop notifications are unavailable: no "
                                               "notification service on the session bus. Alerts "
                                               "still show in the window."});
}

} // namespace
} // namespace ornavel

#include "NotifierTests.moc"
