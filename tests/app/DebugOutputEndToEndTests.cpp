#include "ChildProcessUnit.h"
#include "TestSupport.h"
#include "config/ConfigUnit.h"
#include "core/LogUnit.h"
#include "sources/OutputDebugStringMonitorThreadUnit.h"
#include "writer/DebugWriterUnit.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

using namespace std::chrono_literals;
using test::Patience;
using test::TChildProcess;

const std::string Suffix = "-ornavel-test-" + std::to_string(::getpid());

std::string WithPid(const std::string& text) {
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "($%08X) ", static_cast<unsigned>(::getpid()));
  return prefix + text;
}

struct TCommandCase {
  std::vector<std::string> Arguments;
  int Status;
  std::string Errors;
};

class DebugCommandWithoutReader : public testing::TestWithParam<TCommandCase> {};

TEST_P(DebugCommandWithoutReader, AnswersWithItsExitStatus) {
  std::vector<std::string> arguments{ORNAVEL_DEBUG_BINARY};
  arguments.insert(arguments.end(), GetParam().Arguments.begin(), GetParam().Arguments.end());
  TChildProcess command(arguments, {"ORNAVEL_DEBUG_SUFFIX=" + Suffix});
  EXPECT_EQ(command.Wait(Patience), GetParam().Status);
  const std::string& expected = GetParam().Errors;
  command.WaitForOutput([&](const std::string&,
                            const std::string& errors) { return errors.size() >= expected.size(); },
                        Patience);
  EXPECT_EQ(command.Errors().substr(0, expected.size()), expected);
}

const std::string NotDelivered =
    "ornavel-debug: message not delivered: no Ornavel is reading debug output\n";

INSTANTIATE_TEST_SUITE_P(
    DebugCommand, DebugCommandWithoutReader,
    testing::Values(TCommandCase{{"--pid"}, 2, "Usage: ornavel-debug"},
                    TCommandCase{{"--pid", "12x", "m"}, 2, "Usage: ornavel-debug"},
                    TCommandCase{{"--pid", "4294967296", "m"}, 2, "Usage: ornavel-debug"},
                    TCommandCase{{"--bogus", "m"}, 2, "Usage: ornavel-debug"},
                    TCommandCase{{"--help"}, 0, ""},
                    // No reader: each reason once, then the count.
                    TCommandCase{{"a", "b"},
                                 1,
                                 NotDelivered + "ornavel-debug: 2 of 2 messages not delivered\n"},
                    TCommandCase{{"--pid=7", "--", "--not-an-option"}, 1, NotDelivered}),
    [](const auto& info) {
      std::string text;
      for (const std::string& argument : info.param.Arguments)
        text += argument + "_";
      return test::CaseName(info.index, text);
    });

class DebugCommand : public testing::Test {
protected:
  void SetUp() override {
    GetLog().Clear();
    // Set up once the buffer has its size.
    ASSERT_TRUE(test::ServeUntil(Loop, [] {
      std::error_code ignored;
      return std::filesystem::file_size("/dev/shm/DBWIN_BUFFER" + Suffix, ignored) == 4096;
    }));
  }
  void TearDown() override {
    Reader->Terminate();
    Reader->WaitFor();
  }

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < GetLog().Count(); ++i)
      lines.push_back(GetLog().GetItem(i).Text);
    return lines;
  }

  TEventLoop Loop;
  std::shared_ptr<TOutputDebugStringMonitorThread> Reader =
      TThread::Create<TOutputDebugStringMonitorThread>(false, GetLog(), GetConfig(),
                                                       TDebugObjectNames::WithSuffix(Suffix));
};

TEST_F(DebugCommand, SendsEachLineOfItsInputWithTheGivenProcessId) {
  // Lines are taken as they come, the last one even without its line end.
  TChildProcess command({ORNAVEL_DEBUG_BINARY, "--pid", "3900"}, {"ORNAVEL_DEBUG_SUFFIX=" + Suffix},
                        true);
  command.Input("make: *** [all] Error 1\r\n\nlast without end");
  command.CloseInput();
  ASSERT_TRUE(test::ServeUntil(Loop, [&] { return Lines().size() >= 3; })) << command.Errors();
  EXPECT_EQ(command.Wait(Patience), 0);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"($00000F3C) make: *** [all] Error 1",
                                               "($00000F3C) ", "($00000F3C) last without end"}));
}

// The machine's own object names: with a lock in CTest, as a real reader may be running.
class DebugConsoleEndToEnd : public testing::Test {
protected:
  void SetUp() override {
    std::filesystem::create_directories(Settings.File("Ornavel"));
    test::WriteFile(
        Settings.File("Ornavel/Config.xml"),
        "<?xml version=\"1.0\"?>\r\n<Config>\r\n  <OutputDebugString value=\"True\"/>\r\n"
        "  <IncludePID value=\"True\"/>\r\n</Config>\r\n");
  }

  bool Shown(const std::string& text) const {
    return Program->WaitForOutput(
        [&](const std::string& output, const std::string&) {
          return output.find("\t" + text + "\n") != std::string::npos;
        },
        Patience);
  }

  test::TTemporaryFolder Settings;
  std::unique_ptr<TChildProcess> Program;
};

TEST_F(DebugConsoleEndToEnd, ShowsWhatTheCommandAndTheCallSend) {
  Program = std::make_unique<TChildProcess>(
      std::vector<std::string>{ORNAVEL_BINARY, "--console"},
      std::vector<std::string>{"XDG_CONFIG_HOME=" + Settings.Path()});
  ASSERT_TRUE(Shown("Monitoring OutputDebugString"));
  // The objects are made a moment after the announcement.
  int sent = -ENOENT;
  for (int attempt = 0; attempt < 2000 && sent == -ENOENT; ++attempt) {
    sent = ornavel_debug_output("from the C call");
    if (sent == -ENOENT)
      Program->WaitForOutput([](const std::string&, const std::string&) { return false; }, 5ms);
  }
  ASSERT_EQ(sent, 0);
  EXPECT_TRUE(Shown(WithPid("from the C call")));
  TChildProcess command({ORNAVEL_DEBUG_BINARY, "hello"}, {});
  EXPECT_EQ(command.Wait(Patience), 0) << command.Errors();
  EXPECT_TRUE(Shown(WithPid("hello")));
  Program->Signal(SIGTERM);
  EXPECT_EQ(Program->Wait(Patience), 0);
  EXPECT_EQ(Program->Errors(), "");
}

} // namespace
} // namespace ornavel
