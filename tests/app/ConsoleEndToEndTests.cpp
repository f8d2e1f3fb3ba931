#include "ChildProcessUnit.h"
#include "JournalWriterUnit.h"
#include "TestSupport.h"
#include "core/FileDescriptorUnit.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

using namespace std::chrono_literals;
using test::TChildProcess;

class TSyslogSender {
public:
  explicit TSyslogSender(int port) : FSocket(::socket(AF_INET, SOCK_DGRAM, 0)) {
    FAddress.sin_family = AF_INET;
    FAddress.sin_port = htons(static_cast<std::uint16_t>(port));
    FAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }

  void Send(const std::string& datagram) const {
    ::sendto(FSocket.Get(), datagram.data(), datagram.size(), 0,
             reinterpret_cast<const sockaddr*>(&FAddress), sizeof FAddress);
  }

private:
  TFileDescriptor FSocket;
  sockaddr_in FAddress{};
};

using test::Append;

// Runs `ornavel --console` with its own settings folder holding the given settings and rules.
class ConsoleEndToEnd : public testing::Test {
protected:
  void Configure(const std::vector<std::string>& files, int syslogPort) {
    std::string config = "<?xml version=\"1.0\"?>\r\n<Config>\r\n  <MonitorFilenames>\r\n";
    for (const std::string& file : files)
      config += "    <Filename>" + file + "</Filename>\r\n";
    config += "  </MonitorFilenames>\r\n";
    if (syslogPort != 0) {
      config += "  <MonitorSyslog value=\"True\"/>\r\n  <IncludePeerIP value=\"False\"/>\r\n";
      config += "  <SyslogPort value=\"" + std::to_string(syslogPort) + "\"/>\r\n";
    }
    config += "</Config>\r\n";
    test::WriteFile(SettingsFolder(), config);
  }

  void UseRules(const std::string& rules) {
    test::WriteFile(Settings.File("Ornavel/Rules.xml"),
                    "<?xml version=\"1.0\"?>\r\n<Rules>\r\n" + rules + "</Rules>\r\n");
  }

  std::string SettingsFolder() {
    std::filesystem::create_directories(Settings.File("Ornavel"));
    return Settings.File("Ornavel/Config.xml");
  }

  void Start(const std::vector<std::string>& files = {}, bool readOutput = true) {
    std::vector<std::string> arguments{ORNAVEL_BINARY, "--console"};
    arguments.insert(arguments.end(), files.begin(), files.end());
    Program = std::make_unique<TChildProcess>(
        arguments, std::vector<std::string>{"XDG_CONFIG_HOME=" + Settings.Path()}, false,
        readOutput);
  }

  // Follows a file with standard output on a pipe nobody reads, and writes to the file until
  // lines wait in the pipe, then far more than it holds; answers the lines written.
  std::vector<std::string> BlockOutput() {
    const std::string log = Logs.File("app.log");
    test::WriteFile(log, "");
    Configure({log}, 0);
    Start({}, false);
    std::vector<std::string> written;
    const auto burst = [&](int lines) {
      std::string text;
      for (int line = 0; line < lines; ++line) {
        written.push_back("blocked line " + std::to_string(written.size()) + std::string(80, '.'));
        text += written.back() + "\n";
      }
      Append(log, text);
    };
    const auto giveUp = std::chrono::steady_clock::now() + test::Patience;
    while (Program->UnreadOutputBytes() < 32768 && std::chrono::steady_clock::now() < giveUp) {
      burst(10);
      std::this_thread::sleep_for(1ms);
    }
    EXPECT_GE(Program->UnreadOutputBytes(), 32768u);
    burst(10000); // a megabyte, where a pipe holds 64 KiB
    return written;
  }

  // The texts printed so far, without their times.
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const std::string& line : Program->OutputLines()) {
      const std::size_t tab = line.find('\t');
      texts.push_back(tab == std::string::npos ? line : line.substr(tab + 1));
    }
    return texts;
  }

  bool Shows(const std::string& text) const {
    const auto texts = Texts();
    return std::ranges::find(texts, text) != texts.end();
  }

  bool WaitFor(const std::string& text) {
    return Program->WaitForOutput(
        [&](const std::string& output, const std::string&) {
          return output.find("\t" + text + "\n") != std::string::npos;
        },
        test::Patience);
  }

  // Sends probes until one comes out: datagrams sent before the listener is bound are lost,
  // and a file is followed from its end only once its monitor has started, some time after
  // the line that announces it.
  void Probe(const std::function<void()>& send, const std::string& shown) {
    for (int attempt = 0; attempt < 2000 && !Shows(shown); ++attempt) {
      send();
      Program->WaitForOutput(
          [&](const std::string& output, const std::string&) {
            return output.find("\t" + shown + "\n") != std::string::npos;
          },
          10ms);
    }
    ASSERT_TRUE(Shows(shown)) << Program->Errors();
  }

  void WaitUntilListening(const TSyslogSender& sender) {
    Probe([&] { sender.Send("<13>probe"); }, "user.notice - probe");
  }

  void WaitUntilFollowing(const std::string& path) {
    Probe([&] { Append(path, "probe\n"); }, "probe");
  }

  int Stop() {
    Program->Signal(SIGTERM);
    return Program->Wait(test::Patience);
  }

  test::TTemporaryFolder Settings;
  test::TTemporaryFolder Logs;
  std::unique_ptr<TChildProcess> Program;
};

// The texts of the lines in the order printed, keeping only those the test looks for.
std::vector<std::string> Only(const std::vector<std::string>& texts, const std::string& prefix) {
  std::vector<std::string> chosen;
  std::ranges::copy_if(texts, std::back_inserter(chosen), [&](const std::string& text) {
    return text.find(prefix) != std::string::npos;
  });
  return chosen;
}

// Long lists differ somewhere in the middle; say where, as the failure message would cut it off.
void ExpectSameLines(const std::vector<std::string>& actual,
                     const std::vector<std::string>& expected) {
  const auto [left, right] = std::ranges::mismatch(actual, expected);
  if (left == actual.end() && right == expected.end())
    return;
  ADD_FAILURE() << actual.size() << " lines instead of " << expected.size()
                << "; the first difference is at line " << (left - actual.begin()) << ": \""
                << (left == actual.end() ? "(none)" : *left) << "\" instead of \""
                << (right == expected.end() ? "(none)" : *right) << "\"";
}

TEST_F(ConsoleEndToEnd, FilesAndSyslogComeOutInOrderThroughTheRules) {
  const std::string a = Logs.File("a.log"), b = Logs.File("b.log");
  test::WriteFile(a, "written before the start\n");
  test::WriteFile(b, "");
  const int port = test::FreeUdpPort();
  Configure({a, b}, port);
  UseRules(
      R"(  <Rule name="Drop secrets" color="clWindowText" regexp="secret" active="True" logline="False" monitortypes="mtFile,mtSyslog"/>)"
      "\r\n");
  Start();
  TSyslogSender sender(port);
  WaitUntilListening(sender);

  std::vector<std::string> expected;
  for (int round = 0; round < 3; ++round) {
    std::string burst;
    for (int line = 0; line < 50; ++line) {
      const std::string text = "step " + std::to_string(round) + " a" + std::to_string(line);
      burst += text + "\n";
      expected.push_back(text);
    }
    Append(a, burst + "step secret from a\n");
    ASSERT_TRUE(WaitFor(expected.back()));
    Append(b, "  step " + std::to_string(round) + " b  \r\n\n");
    expected.push_back("step " + std::to_string(round) + " b");
    ASSERT_TRUE(WaitFor(expected.back()));
    sender.Send("<13>step secret by syslog");
    sender.Send("<14>step " + std::to_string(round) + " syslog\n<11>step " + std::to_string(round) +
                " second line");
    expected.push_back("user.info - step " + std::to_string(round) + " syslog");
    expected.push_back("user.err - step " + std::to_string(round) + " second line");
    ASSERT_TRUE(WaitFor(expected.back()));
  }
  EXPECT_EQ(Stop(), 0);
  const auto texts = Texts();
  const std::vector<std::string> head(texts.begin(), texts.begin() + 4);
  EXPECT_EQ(head, (std::vector<std::string>{"Starting up..", "Monitoring " + a, "Monitoring " + b,
                                            "Monitoring syslog"}));
  ExpectSameLines(Only(texts, "step "), expected);
  EXPECT_FALSE(Shows("written before the start"));
  EXPECT_EQ(Program->Errors(), "");
}

TEST_F(ConsoleEndToEnd, WithSourceALineNamesWhereItCameFromBetweenItsTimeAndItsText) {
  const std::string a = Logs.File("a.log");
  test::WriteFile(a, "");
  const int port = test::FreeUdpPort();
  Configure({a}, port);
  Start({"--source"});
  TSyslogSender sender(port);
  const std::string fromSyslog = "user.notice - Dec 10 02:39:04 web01 app: from syslog";
  // Until the listener is bound, which the lines before cannot show with a field more.
  for (int attempt = 0; attempt < 2000 && Program->Output().find(fromSyslog) == std::string::npos;
       ++attempt) {
    sender.Send("<13>Dec 10 02:39:04 web01 app: from syslog");
    Program->WaitForOutput(
        [&](const std::string& output, const std::string&) {
          return output.find(fromSyslog) != std::string::npos;
        },
        10ms);
  }
  Append(a, "from the file\twith a tab\n");
  ASSERT_TRUE(WaitFor("from the file\twith a tab"));
  EXPECT_EQ(Stop(), 0);
  std::vector<std::string> fields;
  for (const std::string& line : Program->OutputLines()) {
    const std::size_t time = line.find('\t'), source = line.find('\t', time + 1);
    const std::string text = line.substr(source + 1);
    const std::string field = line.substr(time + 1, source - time - 1) + "|" + text;
    if ((text.starts_with("Starting") || text.starts_with("from the") || text == fromSyslog) &&
        std::ranges::find(fields, field) == fields.end())
      fields.push_back(field);
  }
  EXPECT_EQ(fields, (std::vector<std::string>{"|Starting up..", "web01|" + fromSyslog,
                                              a + "|from the file\twith a tab"}));
}

TEST_F(ConsoleEndToEnd, JournalEntriesComeOutThroughTheRules) {
  if (::access(test::JournalRemote, X_OK) != 0)
    GTEST_SKIP() << test::JournalRemote << " is missing (Debian package systemd-journal-remote)";
  test::TJournalWriter system(Logs.Path(), TJournalScope::System);
  test::TJournalWriter user(Logs.Path(), TJournalScope::CurrentUser);
  system.WriteOne(test::TJournalEntry("written before the start"));
  test::WriteFile(SettingsFolder(), "<?xml version=\"1.0\"?>\r\n<Config>\r\n"
                                    "  <MonitorEventLog value=\"True\"/>\r\n"
                                    "  <JournalDirectory value=\"" +
                                        Logs.Path() + "\"/>\r\n</Config>\r\n");
  UseRules(
      R"(  <Rule name="Drop secrets" color="clWindowText" regexp="secret" active="True" logline="False" monitortypes="mtEventLog"/>)"
      "\r\n");
  Start();
  Probe([&] { system.WriteOne(test::TJournalEntry("probe")); }, "(System) ornavel-test: probe ");
  system.Write({{"disk almost full", "smartd"}, {"a secret"}, {"probe after"}});
  // Two writers are two processes: the User entry is written once System's are shown, so that
  // the order they come out in is known.
  ASSERT_TRUE(WaitFor("(System) ornavel-test: probe after "));
  user.WriteOne(test::TJournalEntry("session opened", std::nullopt, "login"));
  ASSERT_TRUE(WaitFor("(User) login: session opened ")) << testing::PrintToString(Texts());
  EXPECT_EQ(Stop(), 0);
  const auto texts = Texts();
  ASSERT_GE(texts.size(), 2U);
  EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 2),
            (std::vector<std::string>{"Starting up..", "Monitoring event log"}));
  std::vector<std::string> entries;
  std::ranges::copy_if(texts, std::back_inserter(entries), [](const std::string& text) {
    return text.starts_with("(") && text.find("probe") == std::string::npos;
  });
  EXPECT_EQ(entries, (std::vector<std::string>{"(System) smartd: disk almost full ",
                                               "(User) login: session opened "}));
  EXPECT_EQ(Program->Errors(), "");
}

// A listed file that is not there yet is waited for, its folder too: the files and sources
// after it run, and once it appears every line written to it is shown once.
TEST_F(ConsoleEndToEnd, AMissingFileIsWaitedForWhileTheSourcesAfterItRun) {
  const std::string a = Logs.File("a.log"), missing = Logs.File("later/missing.log"),
                    c = Logs.File("c.log");
  test::WriteFile(a, "");
  test::WriteFile(c, "");
  const int port = test::FreeUdpPort();
  Configure({a, missing, c}, port);
  Start();
  ASSERT_TRUE(WaitFor("File " + missing + " not found!"));
  const TSyslogSender sender(port);
  WaitUntilListening(sender);
  WaitUntilFollowing(c);
  std::filesystem::create_directories(Logs.File("later"));
  Append(missing, "later 1\nlater 2\n");
  ASSERT_TRUE(WaitFor("later 2"));
  Append(missing, "later 3\n");
  ASSERT_TRUE(WaitFor("later 3"));
  EXPECT_EQ(Stop(), 0);
  EXPECT_EQ(Only(Texts(), "later "), (std::vector<std::string>{"later 1", "later 2", "later 3"}));
  EXPECT_EQ(Program->Errors(), "");
}

// What keeps a source from starting, or a rules file from being read, is printed when it happens
// and again at the end, which comes with status 1, so that a script can tell.
TEST_F(ConsoleEndToEnd, WhatCouldNotStartEndsWithStatusOneAndItsReason) {
  const int port = test::FreeUdpPort();
  TFileDescriptor holder(::socket(AF_INET, SOCK_DGRAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(holder.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  Configure({}, port);
  Start();
  const std::string taken =
      "Unable to listen for syslog on UDP port " + std::to_string(port) + ": ";
  ASSERT_TRUE(Program->WaitForOutput(
      [&](const std::string& output, const std::string&) {
        return output.find(taken) != std::string::npos;
      },
      test::Patience));
  EXPECT_EQ(Stop(), 1);
  EXPECT_EQ(
      Program->Errors().find("Ending with status 1, as not everything could start:\n  " + taken),
      0u)
      << Program->Errors();

  Configure({}, 0);
  test::WriteFile(Settings.File("Ornavel/Rules.xml"), "<Rules><Rule name=");
  Start();
  ASSERT_TRUE(WaitFor("Starting up.."));
  EXPECT_EQ(Stop(), 1);
  EXPECT_NE(Program->Errors().find("\n  " + Settings.File("Ornavel/Rules.xml") + ", line 1: "),
            std::string::npos)
      << Program->Errors();
}

// A pattern on the command line follows the files that match, with -n their recent lines first in
// the files' order, and a file that appears later from its start.
TEST_F(ConsoleEndToEnd, APatternFollowsItsFilesWithTheirRecentLines) {
  test::WriteFile(Logs.File("a.log"), "a old\na last\n");
  test::WriteFile(Logs.File("b.log"), "b last\n");
  test::WriteFile(Logs.File("c.txt"), "c last\n");
  Configure({}, 0);
  Start({"-n", "1", Logs.Path() + "/*.log"});
  ASSERT_TRUE(WaitFor("b last"));
  Append(Logs.File("new.log"), "new first\n");
  ASSERT_TRUE(WaitFor("new first"));
  EXPECT_EQ(Stop(), 0);
  EXPECT_EQ(Texts(),
            (std::vector<std::string>{"Starting up..", "Monitoring " + Logs.Path() + "/*.log",
                                      "Monitoring " + Logs.File("a.log"), "a last",
                                      "Monitoring " + Logs.File("b.log"), "b last",
                                      "Monitoring " + Logs.File("new.log"), "new first"}));
}

// Files named on the command line join the listed ones for this run, each followed once.
TEST_F(ConsoleEndToEnd, FilesOnTheCommandLineAreFollowedAfterTheListedOnes) {
  const std::string listed = Logs.File("listed.log"), extra = Logs.File("extra.log"),
                    missing = Logs.File("missing.log");
  test::WriteFile(listed, "");
  test::WriteFile(extra, "");
  Configure({listed}, 0);
  const std::string config = test::ReadFile(SettingsFolder());
  Start({Logs.Path() + "/sub/../extra.log", listed, missing});
  ASSERT_TRUE(WaitFor("File " + missing + " not found!"));
  WaitUntilFollowing(extra);
  Probe([&] { Append(listed, "probe listed\n"); }, "probe listed");
  Append(listed, "from listed\n");
  Append(extra, "from extra\n");
  ASSERT_TRUE(WaitFor("from listed"));
  ASSERT_TRUE(WaitFor("from extra"));
  EXPECT_EQ(Stop(), 0);
  EXPECT_EQ(Program->Errors(), "");
  const auto texts = Texts();
  EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 4),
            (std::vector<std::string>{"Starting up..", "Monitoring " + listed,
                                      "Monitoring " + extra, "Monitoring " + missing}));
  EXPECT_EQ(std::ranges::count(texts, "from listed"), 1) << "a file given twice is followed once";
  EXPECT_EQ(test::ReadFile(SettingsFolder()), config) << "the settings keep their own files";
}

// A logging program that rotates its own file while it writes: first by renaming it away and
// starting a new one, later by cutting it back to nothing once what it wrote has been shown.
TEST_F(ConsoleEndToEnd, RotationByRenameAndByTruncationLosesAndDoublesNothing) {
  const std::string log = Logs.File("app.log");
  test::WriteFile(log, "");
  Configure({log}, 0);
  Start();
  WaitUntilFollowing(log);
  constexpr int Lines = 3000;
  std::vector<std::string> expected;
  for (int line = 0; line < Lines; ++line) {
    if (line == Lines / 3) {
      ASSERT_EQ(std::rename(log.c_str(), (log + ".1").c_str()), 0);
    }
    if (line == 2 * Lines / 3) {
      ASSERT_TRUE(WaitFor(expected.back()));
      ASSERT_EQ(::truncate(log.c_str(), 0), 0);
    }
    expected.push_back("entry " + std::to_string(line));
    Append(log, expected.back() + "\n");
    if (line % 100 == 0)
      std::this_thread::sleep_for(1ms); // a writer that runs alongside, not all at once
  }
  ASSERT_TRUE(WaitFor(expected.back())) << Program->Output();
  EXPECT_EQ(Stop(), 0);
  ExpectSameLines(Only(Texts(), "entry "), expected);
}

TEST_F(ConsoleEndToEnd, SigtermWhileSourcesPostEndsCleanly) {
  const std::string log = Logs.File("busy.log");
  test::WriteFile(log, "");
  const int port = test::FreeUdpPort();
  Configure({log}, port);
  Start();
  TSyslogSender sender(port);
  WaitUntilListening(sender);
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int line = 0; !stop; ++line) {
      Append(log, "busy file " + std::to_string(line) + "\n");
      sender.Send("<13>busy syslog " + std::to_string(line));
    }
  });
  ASSERT_TRUE(WaitFor("busy file 1000"));
  const int status = Stop();
  stop = true;
  writer.join();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Program->Errors(), "");
}

// Standard output that nobody reads holds up the printing alone: the first signal ends the
// program in order, and promptly.
class ConsoleBlockedOutput : public ConsoleEndToEnd, public testing::WithParamInterface<int> {};

TEST_P(ConsoleBlockedOutput, TheFirstSignalEndsTheProgramWithinTwoSeconds) {
  BlockOutput();
  Program->Signal(GetParam());
  EXPECT_EQ(Program->Wait(2s), 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, ConsoleBlockedOutput, testing::Values(SIGINT, SIGTERM));

TEST_F(ConsoleEndToEnd, ASecondSignalEndsTheProgramAtOnce) {
  BlockOutput();
  Program->Signal(SIGTERM);
  Program->Signal(SIGINT);
  // Both are pending at once; whichever is taken second ends the program.
  const int status = Program->Wait(test::Patience);
  EXPECT_TRUE(status == 128 + SIGINT || status == 128 + SIGTERM) << status;
}

// Reading the rules may take long (a huge file, a slow mount; here a pipe that never ends), and
// a signal meanwhile ends the program at once.
TEST_F(ConsoleEndToEnd, ASignalWhileTheRulesAreReadEndsTheProgram) {
  Configure({}, 0);
  const std::string rules = Settings.File("Ornavel/Rules.xml");
  ASSERT_EQ(::mkfifo(rules.c_str(), 0600), 0);
  Start();
  // The pipe opens for writing once the program has opened it to read the rules.
  TFileDescriptor writer;
  const auto giveUp = std::chrono::steady_clock::now() + test::Patience;
  while (!writer.Valid() && std::chrono::steady_clock::now() < giveUp) {
    writer = TFileDescriptor(::open(rules.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (!writer.Valid())
      Program->WaitForOutput([](const std::string&, const std::string&) { return false; }, 1ms);
  }
  ASSERT_TRUE(writer.Valid());
  const std::string start = "<?xml version=\"1.0\"?>\r\n<Rules>\r\n";
  ASSERT_EQ(::write(writer.Get(), start.data(), start.size()), static_cast<ssize_t>(start.size()));
  Program->Signal(SIGTERM);
  EXPECT_EQ(Program->Wait(test::Patience), 128 + SIGTERM);
  EXPECT_EQ(Program->Output(), "");
}

TEST_F(ConsoleEndToEnd, PrintingResumesWhereItStoppedWhenTheReaderReadsAgain) {
  std::vector<std::string> expected = BlockOutput();
  std::string more;
  for (int line = 0; line < 500; ++line) {
    expected.push_back("while blocked " + std::to_string(line));
    more += expected.back() + "\n";
  }
  Append(Logs.File("app.log"), more);
  Program->ReadOutput();
  ASSERT_TRUE(WaitFor(expected.back()));
  EXPECT_EQ(Stop(), 0);
  // Lines written before the file was followed are not shown; every one after them is, once.
  const auto shown = Only(Texts(), "blocked line ");
  ASSERT_FALSE(shown.empty());
  const auto first = std::ranges::find(expected, shown.front());
  ExpectSameLines(shown, Only(std::vector<std::string>(first, expected.end()), "blocked line "));
  ExpectSameLines(Only(Texts(), "while blocked"), Only(expected, "while blocked"));
}

} // namespace
} // namespace ornavel
