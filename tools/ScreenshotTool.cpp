// Takes a picture of the window following a file and syslog with a few coloured rules, for the
// README: ornavel_screenshot <picture.png> [<rules-tab.png> [<find-bar.png> [<filter.png>]]]; the
// second picture is the settings dialog's Rules tab with the first rule selected, the third the
// window finding "error", the fourth the window showing only the rows with "error" (Ctrl+L). Run
// it under xvfb-run to see the real platform.
#include "config/ConfigUnit.h"
#include "core/LogUnit.h"
#include "driver/MonitoringDriverUnit.h"
#include "sources/SourcesUnit.h"
#include "ui/FindBarUnit.h"
#include "ui/MainFormUnit.h"
#include "ui/QtUserInterfaceThreadUnit.h"
#include "ui/SettingsFormUnit.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>
#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace ornavel;
namespace fs = std::filesystem;

constexpr int SyslogPort = 5514;

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

void Configure(const fs::path& folder, const fs::path& logFile) {
  fs::create_directories(folder / "Ornavel");
  WriteText(folder / "Ornavel/Config.xml",
            "<?xml version=\"1.0\"?>\r\n<Config>\r\n  <MonitorFilenames>\r\n    <Filename>" +
                logFile.string() +
                "</Filename>\r\n  </MonitorFilenames>\r\n  <MonitorSyslog value=\"True\"/>\r\n"
                "  <SyslogPort value=\"" +
                std::to_string(SyslogPort) + "\"/>\r\n</Config>\r\n");
  WriteText(folder / "Ornavel/Rules.xml",
            "<?xml version=\"1.0\"?>\r\n<Rules>\r\n"
            "  <Rule name=\"Errors\" color=\"clRed\" regexp=\"error\" active=\"True\" "
            "logline=\"True\" monitortypes=\"mtFile,mtSyslog\"/>\r\n"
            "  <Rule name=\"Logins\" color=\"clGreen\" regexp=\"session opened\" active=\"True\" "
            "logline=\"True\" monitortypes=\"mtFile,mtSyslog\"/>\r\n"
            "  <Rule name=\"Backups\" color=\"clBlue\" regexp=\"backup\" active=\"True\" "
            "logline=\"True\" monitortypes=\"mtFile,mtSyslog\"/>\r\n"
            "  <Rule name=\"Noise\" color=\"clWindowText\" regexp=\"heartbeat\" active=\"True\" "
            "logline=\"False\" monitortypes=\"mtFile,mtSyslog\"/>\r\n</Rules>\r\n");
}

void SendSyslog(const std::vector<std::string>& messages) {
  const int socket = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(SyslogPort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (const std::string& message : messages)
    ::sendto(socket, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&address),
             sizeof address);
  ::close(socket);
}

void Serve(TQtUserInterfaceThread& uiThread, std::chrono::milliseconds span) {
  uiThread.ServeUntil([] { return false; }, std::chrono::steady_clock::now() + span);
}

bool SavePicture(QWidget& widget, const char* picture) {
  if (widget.grab().save(QString::fromLocal8Bit(picture)))
    return true;
  std::cerr << "Cannot write " << picture << "\n";
  return false;
}

bool TakeRulesTab(TQtUserInterfaceThread& uiThread, TMainForm& form, const char* picture) {
  TSettingsForm settings(&form);
  settings.findChild<QTabWidget*>("SettingsPageControl")->setCurrentIndex(2);
  settings.findChild<QListWidget*>("RulesCheckListBox")->setCurrentRow(0);
  settings.show();
  Serve(uiThread, std::chrono::milliseconds(200));
  return SavePicture(settings, picture);
}

bool TakeFindBar(TQtUserInterfaceThread& uiThread, TMainForm& form, const char* picture) {
  form.FindActionExecute();
  form.FindBar()->findChild<QLineEdit*>()->setText(QStringLiteral("error"));
  Serve(uiThread, std::chrono::milliseconds(200));
  return SavePicture(form, picture);
}

bool TakeFilter(TQtUserInterfaceThread& uiThread, TMainForm& form, const char* picture) {
  form.FilterActionExecute();
  Serve(uiThread, std::chrono::milliseconds(200));
  return SavePicture(form, picture);
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 5) {
    std::cerr << "Usage: ornavel_screenshot <picture.png> [<rules-tab.png> [<find-bar.png> "
                 "[<filter.png>]]]\n";
    return 2;
  }
  const fs::path folder =
      fs::temp_directory_path() / ("ornavel-screenshot-" + std::to_string(getpid()));
  const fs::path logFile = folder / "app.log";
  fs::create_directories(folder);
  WriteText(logFile, "");
  Configure(folder, logFile);
  setenv("XDG_CONFIG_HOME", folder.c_str(), 1);

  int result = 0;
  {
    QApplication application(argc, argv);
    TQtUserInterfaceThread uiThread;
    TMainForm form(MakeSourceFactory(GetLog(), GetConfig()));
    form.show();
    Serve(uiThread, std::chrono::milliseconds(300));
    std::ofstream log(logFile, std::ios::app);
    log << "web: GET /index.html 200\nbackup: nightly backup finished, 2.1 GB\n"
        << "web: heartbeat\ndb: error: connection refused by 10.0.0.7\n"
        << std::flush;
    Serve(uiThread, std::chrono::milliseconds(100));
    SendSyslog({"<86>sshd[812]: session opened for user ada", "<30>cron[77]: heartbeat",
                "<27>kernel: I/O error on /dev/sdb1", "<14>app[301]: cache warmed in 42 ms"});
    Serve(uiThread, std::chrono::milliseconds(300));
    GetLog().Add(nullptr, TLogLevel::Warning, "Got bad data from 10.0.0.9");
    Serve(uiThread, std::chrono::milliseconds(200));
    if (!SavePicture(form, argv[1]))
      result = 1;
    if (argc >= 3 && !TakeRulesTab(uiThread, form, argv[2]))
      result = 1;
    if (argc >= 4 && !TakeFindBar(uiThread, form, argv[3]))
      result = 1;
    if (argc == 5 && !TakeFilter(uiThread, form, argv[4]))
      result = 1;
    form.close();
  }
  TMonitoringDriver::DestroySingleObjects();
  fs::remove_all(folder);
  return result;
}
