#include "WindowUnit.h"

#include "ShutdownSignalsUnit.h"
#include "core/UserInterfaceThreadUnit.h"
#include "driver/MonitoringDriverUnit.h"
#include "sources/SourcesUnit.h"
#include "ui/DialogsUnit.h"
#include "ui/MainFormUnit.h"
#include "ui/QtUserInterfaceThreadUnit.h"

#include <QApplication>
#include <QPointer>

namespace ornavel {

int RunWindow(int argc, char** argv, const std::vector<std::string>& extraFiles) {
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
    TMainForm mainForm(MakeSourceFactory(), extraFiles);
    form = &mainForm;
    mainForm.show();
    result = QApplication::exec();
    form = nullptr;
  }
  TMonitoringDriver::DestroySingleObjects();
  return result;
}

} // namespace ornavel
