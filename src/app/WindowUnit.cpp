#include "WindowUnit.h"

#include "ShutdownSignalsUnit.h"
#include "config/ConfigUnit.h"
#include "core/FileDescriptorUnit.h"
#include "core/LogUnit.h"
#include "core/UserInterfaceThreadUnit.h"
#include "driver/MonitoringDriverUnit.h"
#include "sources/SourcesUnit.h"
#include "ui/DialogsUnit.h"
#include "ui/MainFormUnit.h"
#include "ui/QtUserInterfaceThreadUnit.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QPointer>
#include <cstdlib>
#include <sys/socket.h>
#include <sys/un.h>
#include <xcb/xcb.h>

namespace ornavel {
namespace {

bool PlatformPluginInstalled(const QString& pattern) {
  const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                       QStringLiteral("/platforms"));
  return !platforms.entryList({pattern}, QDir::Files).isEmpty();
}

bool XServerAnswers(const std::string& display) {
  xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
  const bool answers = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return answers;
}

// The compositor's socket: the display's name under XDG_RUNTIME_DIR, or a path of its own.
bool WaylandDisplayAnswers(const std::string& display) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string path =
      display.starts_with('/') ? display : std::string(runtime ? runtime : "") + "/" + display;
  sockaddr_un address{};
  if (path.size() >= sizeof(address.sun_path) || (!display.starts_with('/') && runtime == nullptr))
    return false;
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, path.size());
  const TFileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  return socket.Get() >= 0 &&
         ::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

} // namespace

TDisplayProbe InstalledDisplayProbe(const TSessionDisplays& session) {
  return {[display = session.XDisplay] {
            return PlatformPluginInstalled(QStringLiteral("libqxcb.so*")) &&
                   XServerAnswers(display);
          },
          [display = session.WaylandDisplay] {
            return PlatformPluginInstalled(QStringLiteral("libqwayland-*.so*")) &&
                   !display.empty() && WaylandDisplayAnswers(display);
          }};
}

int RunWindow(const char* program, const std::string& platform,
              const std::vector<std::string>& extraFiles) {
  // Qt reads no more of the command line than this: the file names are not its options.
  std::string name = program, option = "-platform", chosen = platform;
  std::vector<char*> arguments{name.data()};
  if (!chosen.empty())
    arguments.insert(arguments.end(), {option.data(), chosen.data()});
  int argc = static_cast<int>(arguments.size());
  char** argv = arguments.data();
  QPointer<TMainForm> form; // read on the user-interface thread only
  // A signal closes the window as the user would, so the sources stop in order.
  TShutdownSignals shutdownSignals([&form] {
    PostToUserInterfaceThread([&form] {
      if (form)
        form->close();
      else
        QCoreApplication::quit();
    });
  });
  QApplication application(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Ornavel"));
  QApplication::setApplicationName(QStringLiteral("Ornavel"));
  TQtUserInterfaceThread uiThread;
  uiThread.SetErrorHandler([](const std::string& message) {
    Dialogs().ShowError(nullptr, QString::fromStdString(message));
  });
  int result = 0;
  {
    TMainForm mainForm(MakeSourceFactory(GetLog(), GetConfig()), extraFiles);
    form = &mainForm;
    mainForm.show();
    result = QApplication::exec();
    form = nullptr;
  }
  TMonitoringDriver::DestroySingleObjects();
  return result;
}

} // namespace ornavel
