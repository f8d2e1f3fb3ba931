#include "ChildProcessUnit.h"
#include "TestSupport.h"

#include <csignal>
#include <filesystem>
#include <string>
#include <thread>

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

TEST_F(FrontEnd, WithoutADisplayItSaysSoAndRunsInTheConsole) {
  Start({"DISPLAY=", "WAYLAND_DISPLAY="});
  EXPECT_TRUE(Program->WaitForOutput(
      [](const std::string& output, const std::string& errors) {
        return errors.find("No display") != std::string::npos &&
               output.find("\tMonitoring syslog\n") != std::string::npos;
      },
      test::Patience))
      << Program->Errors();
  ASSERT_TRUE(WaitUntilListening());
  Program->Signal(SIGTERM);
  EXPECT_EQ(Program->Wait(test::Patience), 0);
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
