#include "ChildProcessUnit.h"
#include "TestSupport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

using namespace std::chrono_literals;
using test::TChildProcess;

// Whether some program has bound the UDP port: a socket of ours can no longer take it.
bool Taken(int port) {
  const TFileDescriptor probe(::socket(AF_INET, SOCK_DGRAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return ::bind(probe.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
         errno == EADDRINUSE;
}

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
    while (!Taken(Port) && std::chrono::steady_clock::now() < giveUp)
      std::this_thread::sleep_for(5ms);
    return Taken(Port);
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
  EXPECT_FALSE(Taken(Port));
  EXPECT_NE(test::ReadFile(Settings.File("Ornavel/Ornavel.conf")).find("[FormSettings]"),
            std::string::npos);
  EXPECT_EQ(Program->Output(), "");
}

} // namespace
} // namespace ornavel
