#include "ChildProcessUnit.h"
#include "TestSupport.h"

#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

using namespace std::chrono_literals;
using test::TChildProcess;

class FrontEnd : public testing::Test {
protected:
  // Settings that start the syslog listener, so that a test can see when the sources run.
  FrontEnd() : Port(test::FreeUdpPort()) {
    std::filesystem::create_directories(Settings.File("Ornavel"));
    test::WriteFile(Settings.File("Ornavel/Config.xml"),
                    "<?xml version=\"1.0\"?>\r\n<Config><MonitorSyslog value=\"True\"/>"
                    "<SyslogPort value=\"" +
                        std::to_string(Port) + "\"/></Config>\r\n");
  }

  void Start(const std::vector<std::string>& environment) {
    std::vector<std::string> all = environment;
    all.push_back("XDG_CONFIG_HOME=" + Settings.Path());
    Program = std::make_unique<TChildProcess>(std::vector<std::string>{ORNAVEL_BINARY}, all);
  }

  bool WaitUntilListening() {
    const auto giveUp = std::chrono::steady_clock::now() + test::Patience;
    while (!test::UdpPortTaken(Port) && std::chrono::steady_clock::now() < giveUp)
      std::this_thread::sleep_for(5ms);
    return test::UdpPortTaken(Port);
  }

  test::TTemporaryFolder Settings;
  const int Port;
  std::unique_ptr<TChildProcess> Program;
};

// Where no display can be used, Qt would abort: the program says why and goes on in the console.
// A display that is set but has no server counts as none.
TEST_F(FrontEnd, WithoutAUsableDisplayItSaysWhyAndRunsInTheConsole) {
  int dead = 1000; // far above the displays that servers started with -displayfd take
  while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(dead)) ||
         std::filesystem::exists("/tmp/.X" + std::to_string(dead) + "-lock"))
    ++dead;
  const std::string display = ":" + std::to_string(dead);
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{"DISPLAY=", "WAYLAND_DISPLAY="}, "No display"},
      {{"DISPLAY=" + display, "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="},
       "The X server " + display + " does not answer"},
      {{"DISPLAY=", "WAYLAND_DISPLAY=ornavel-no-such-display", "QT_QPA_PLATFORM="},
       "The Wayland display ornavel-no-such-display cannot be used"}};
  for (const auto& [environment, reason] : cases) {
    Start(environment);
    EXPECT_TRUE(Program->WaitForOutput(
        [&reason](const std::string& output, const std::string& errors) {
          return errors.find(reason) != std::string::npos &&
                 output.find("\tMonitoring syslog\n") != std::string::npos;
        },
        test::Patience))
        << Program->Errors();
    ASSERT_TRUE(WaitUntilListening());
    Program->Signal(SIGTERM);
    EXPECT_EQ(Program->Wait(test::Patience), 0) << reason;
  }
}

// SIGTERM closes the window as the user would: the sources stop, the placement is saved, and
// the program ends normally.
TEST_F(FrontEnd, TheWindowClosesInOrderOnSigterm) {
  Start({"DISPLAY=:99", "QT_QPA_PLATFORM=offscreen"});
  ASSERT_TRUE(WaitUntilListening()) << Program->Errors();
  Program->Signal(SIGTERM);
  EXPECT_EQ(Program->Wait(test::Patience), 0) << Program->Errors();
  EXPECT_FALSE(test::UdpPortTaken(Port));
  EXPECT_NE(test::ReadFile(Settings.File("Ornavel/Ornavel.conf")).find("[FormSettings]"),
            std::string::npos);
  EXPECT_EQ(Program->Output(), "");
}

} // namespace
} // namespace ornavel
