// How many 100-byte syslog datagrams a second the listener takes over loopback without losing
// one, held for a fixed time, and what it loses at twice that rate; the same for rsyslog (imudp
// with two threads, batches of 128 and an 8 MiB buffer, writing every message to a file) and for a
// bare recvmmsg loop that only counts, the floor of what any listener can do on the machine.
// "console" is the real `ornavel --console`, its standard output read as it comes, every
// datagram printed, with --rules generated rules (those of the rules benchmark, each keeping what
// it matches) when asked. --busy-core keeps one core busy meanwhile with a CPU-bound process of the
// benchmark's own, as a build or a browser does on a user's machine.
// Also the handler's cost per datagram, without the network.
//
// Run: build/release/bench/syslog_bench [--duration=10] [--start-rate=50000]
//      [--max-rate=2000000] [--precision=0.05] [--targets=ornavel,console,rsyslog,bare]
//      [--rules=0] [--busy-core]
// A smoke run: --duration=0.5 --start-rate=20000 --max-rate=40000 --precision=1
// rsyslog is left out when rsyslogd is not installed.
#include "BenchRulesUnit.h"
#include "TestSupport.h"
#include "config/ConfigUnit.h"
#include "core/LogUnit.h"
#include "core/UserInterfaceThreadUnit.h"
#include "sources/SysLogMonitorUnit.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <benchmark/benchmark.h>

extern char** environ;

namespace ornavel {
namespace {

using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t DatagramSize = 100;
constexpr unsigned SendBatch = 64;

struct TSettings {
  double Seconds = 10;
  double StartRate = 50000;
  double MaxRate = 2000000;
  // The search stops when the first lossy rate is within this fraction of the last clean one.
  double Precision = 0.05;
  std::string Targets = "ornavel,console,rsyslog,bare";
  bool BusyCore = false;
  std::size_t Rules = 0; // generated rules the console target runs with, all keeping their lines
};

TSettings Settings;

double Elapsed(TClock::time_point since) {
  return std::chrono::duration<double>(TClock::now() - since).count();
}

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

// Sends numbered syslog datagrams of DatagramSize bytes to one loopback port, paced to a rate.
class TPacedSender {
public:
  explicit TPacedSender(int port)
      : FSocket(::socket(AF_INET, SOCK_DGRAM, 0)), FAddress(LoopbackAddress(port)),
        FTexts(SendBatch, std::string(DatagramSize, 'x')), FVectors(SendBatch),
        FMessages(SendBatch) {
    if (FSocket < 0)
      Fail("socket");
    for (unsigned i = 0; i < SendBatch; ++i) {
      FVectors[i] = {FTexts[i].data(), DatagramSize};
      // Not connected: a refusal while the listener starts must not fail later sends.
      FMessages[i].msg_hdr.msg_name = &FAddress;
      FMessages[i].msg_hdr.msg_namelen = sizeof FAddress;
      FMessages[i].msg_hdr.msg_iov = &FVectors[i];
      FMessages[i].msg_hdr.msg_iovlen = 1;
    }
  }
  ~TPacedSender() { ::close(FSocket); }
  TPacedSender(const TPacedSender&) = delete;
  TPacedSender& operator=(const TPacedSender&) = delete;

  struct TResult {
    std::uint64_t Sent = 0;
    double Seconds = 0;
  };

  // Sends rate * seconds datagrams spread evenly over the time; a sender that falls behind
  // sends as fast as it can, and gives up at twice the time.
  TResult Run(double rate, double seconds) {
    const auto total = static_cast<std::uint64_t>(rate * seconds);
    const auto start = TClock::now();
    std::uint64_t sent = 0;
    while (sent < total && Elapsed(start) < 2 * seconds) {
      const auto due = std::min(total, static_cast<std::uint64_t>(rate * Elapsed(start)));
      if (due <= sent) {
        std::this_thread::sleep_for(50us);
        continue;
      }
      sent += Send(static_cast<unsigned>(std::min<std::uint64_t>(due - sent, SendBatch)));
    }
    return {sent, Elapsed(start)};
  }

  void SendOne(const std::string& text) {
    ::sendto(FSocket, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&FAddress),
             sizeof FAddress);
  }

private:
  unsigned Send(unsigned count) {
    for (unsigned i = 0; i < count; ++i)
      Number(FTexts[i], FSequence++);
    const int sent = ::sendmmsg(FSocket, FMessages.data(), count, 0);
    return sent > 0 ? static_cast<unsigned>(sent) : 0;
  }

  // Distinct texts, so that no receiver can fold repeats.
  static void Number(std::string& text, std::uint64_t sequence) {
    char head[DatagramSize + 1];
    const int length = std::snprintf(head, sizeof head,
                                     "<13>Oct 11 22:14:15 benchhost bench[4242]: message %010llu ",
                                     static_cast<unsigned long long>(sequence));
    text.replace(0, static_cast<std::size_t>(length), head, static_cast<std::size_t>(length));
  }

  int FSocket;
  sockaddr_in FAddress;
  std::vector<std::string> FTexts;
  std::vector<iovec> FVectors;
  std::vector<mmsghdr> FMessages;
  std::uint64_t FSequence = 0;
};

// Something that receives syslog datagrams on a loopback port and counts what it kept.
class TReceiverUnderTest {
public:
  virtual ~TReceiverUnderTest() = default;
  virtual void Start(int port) = 0;
  virtual std::uint64_t Stored() = 0;
  // Losses the receiver itself reported, where it reports them.
  virtual std::optional<std::uint64_t> ReportedLost() { return std::nullopt; }
};

using TReceiverMaker = std::function<std::unique_ptr<TReceiverUnderTest>()>;

class TOrnavelReceiver final : public TReceiverUnderTest {
public:
  ~TOrnavelReceiver() override {
    if (FMonitor) {
      FMonitor->Terminate();
      FMonitor->WaitFor();
    }
    GetLog().Clear();
  }
  void Start(int port) override {
    GetLog().Clear();
    FMonitor = TThread::Create<TSysLogMonitorThread>(false, GetLog(), GetConfig(), port);
  }
  // Lines from the listener, counted by number: the log holds only its most recent million;
  // its loss reports, the only others, as far as they were looked at.
  std::uint64_t Stored() override {
    const TLog::TExtent extent = GetLog().Extent();
    return extent.First + extent.Count - FReports;
  }
  std::optional<std::uint64_t> ReportedLost() override {
    ScanReports();
    return FLost;
  }

private:
  // By number, as Stored counts.
  void ScanReports() {
    const TLog::TExtent extent = GetLog().Extent();
    for (FScanned = std::max(FScanned, extent.First); FScanned < extent.First + extent.Count;
         ++FScanned) {
      const std::optional<TLogItem> item = GetLog().FindItem(FScanned);
      if (item && item->Source == nullptr) {
        FLost += std::strtoull(item->Text.c_str(), nullptr, 10);
        ++FReports;
      }
    }
  }

  std::shared_ptr<TSysLogMonitorThread> FMonitor;
  std::uint64_t FScanned = 0;
  std::uint64_t FReports = 0;
  std::uint64_t FLost = 0;
};

// What a receiver can do at best on this machine: batches taken and counted, nothing else.
class TBareReceiver final : public TReceiverUnderTest {
public:
  ~TBareReceiver() override {
    FStopping = true;
    if (FThread.joinable())
      FThread.join();
    if (FSocket >= 0)
      ::close(FSocket);
  }
  void Start(int port) override {
    FSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    const int size = 8 << 20;
    if (::setsockopt(FSocket, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
      ::setsockopt(FSocket, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    const sockaddr_in address = LoopbackAddress(port);
    if (::bind(FSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
      Fail("bind");
    FThread = std::thread([this] { Run(); });
  }
  std::uint64_t Stored() override { return FCount; }

private:
  void Run() {
    std::vector<char> data(SendBatch * 4096);
    std::vector<iovec> vectors(SendBatch);
    std::vector<mmsghdr> messages(SendBatch);
    for (unsigned i = 0; i < SendBatch; ++i) {
      vectors[i] = {data.data() + i * 4096, 4096};
      messages[i].msg_hdr.msg_iov = &vectors[i];
      messages[i].msg_hdr.msg_iovlen = 1;
    }
    while (!FStopping) {
      pollfd wait{FSocket, POLLIN, 0};
      if (::poll(&wait, 1, 100) <= 0)
        continue;
      int count = 0;
      while ((count = ::recvmmsg(FSocket, messages.data(), SendBatch, MSG_DONTWAIT, nullptr)) > 0)
        FCount += static_cast<unsigned>(count);
    }
  }

  int FSocket = -1;
  std::atomic<bool> FStopping{false};
  std::atomic<std::uint64_t> FCount{0};
  std::thread FThread;
};

// The real `ornavel --console` with a settings folder of its own; its standard output is read
// as fast as it comes and the printed datagrams counted, as a terminal or a script would take it.
class TConsoleReceiver final : public TReceiverUnderTest {
public:
  TConsoleReceiver() {
    FFolder = (std::filesystem::temp_directory_path() / "ornavel-console-XXXXXX").string();
    if (mkdtemp(FFolder.data()) == nullptr)
      Fail("mkdtemp");
  }
  ~TConsoleReceiver() override {
    if (FProcess > 0) {
      ::kill(FProcess, SIGTERM);
      int status = 0;
      ::waitpid(FProcess, &status, 0);
    }
    if (FReader.joinable())
      FReader.join();
    std::error_code ignored;
    std::filesystem::remove_all(FFolder, ignored);
  }

  void Start(int port) override {
    std::filesystem::create_directories(FFolder + "/Ornavel");
    std::ofstream(FFolder + "/Ornavel/Config.xml")
        << "<?xml version=\"1.0\"?>\r\n<Config>\r\n  <MonitorSyslog value=\"True\"/>\r\n"
        << "  <IncludePeerIP value=\"False\"/>\r\n  <SyslogPort value=\"" << port
        << "\"/>\r\n</Config>\r\n";
    WriteRules();
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
      Fail("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    std::vector<std::string> environment{"XDG_CONFIG_HOME=" + FFolder};
    for (char** entry = environ; *entry != nullptr; ++entry) {
      if (!std::string_view(*entry).starts_with("XDG_CONFIG_HOME="))
        environment.emplace_back(*entry);
    }
    std::vector<char*> environmentPointers;
    for (std::string& entry : environment)
      environmentPointers.push_back(entry.data());
    environmentPointers.push_back(nullptr);
    std::string program = ORNAVEL_BINARY, option = "--console";
    char* argv[] = {program.data(), option.data(), nullptr};
    const int failure = posix_spawn(&FProcess, program.c_str(), &actions, nullptr, argv,
                                    environmentPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (failure != 0)
      throw std::runtime_error(std::string("cannot start ornavel: ") + std::strerror(failure));
    FReader = std::thread([this, descriptor = ends[0]] { Read(descriptor); });
  }

  // Each rule keeps what it matches, so that every datagram sent is a line printed, yet each is
  // evaluated as in a list a user wrote.
  void WriteRules() const {
    std::ofstream(FFolder + "/Ornavel/Rules.xml")
        << "<?xml version=\"1.0\"?>\r\n<Rules>\r\n</Rules>\r\n";
    TRules rules;
    rules.Open(FFolder + "/Ornavel");
    FillRules(rules, BenchRuleList(Settings.Rules));
    for (std::size_t i = 0; i < rules.Count(); ++i) {
      rules.GetRule(i).SetMonitorTypes({mtSyslog});
      rules.GetRule(i).SetLogLine(true);
    }
    rules.Save();
  }

  std::uint64_t Stored() override { return FStored; }
  std::optional<std::uint64_t> ReportedLost() override { return FLost.load(); }

private:
  void Read(int descriptor) {
    std::vector<char> buffer(1 << 16);
    std::string partial;
    for (;;) {
      const ssize_t count = ::read(descriptor, buffer.data(), buffer.size());
      if (count <= 0)
        break;
      partial.append(buffer.data(), static_cast<std::size_t>(count));
      std::size_t start = 0;
      for (std::size_t end; (end = partial.find('\n', start)) != std::string::npos; start = end + 1)
        Count(std::string_view(partial).substr(start, end - start));
      partial.erase(0, start);
    }
    ::close(descriptor);
  }

  // A datagram's line, or a report of datagrams the program lost ("12 syslog datagrams
  // dropped: ...").
  void Count(std::string_view line) {
    const std::size_t tab = line.find('\t');
    const std::string_view text = line.substr(tab == std::string_view::npos ? 0 : tab + 1);
    if (text.starts_with("user.notice - "))
      ++FStored;
    else if (text.find("syslog datagrams dropped") != std::string_view::npos)
      FLost += std::strtoull(std::string(text).c_str(), nullptr, 10);
  }

  std::string FFolder;
  pid_t FProcess = -1;
  std::thread FReader;
  std::atomic<std::uint64_t> FStored{0};
  std::atomic<std::uint64_t> FLost{0};
};

// A CPU-bound process of the benchmark's own on another core, for as long as it lives.
class TBusyCore {
public:
  TBusyCore() {
    FProcess = ::fork();
    if (FProcess == 0) {
      std::uint64_t spin = 0;
      for (;;)
        benchmark::DoNotOptimize(++spin);
    }
    if (FProcess < 0)
      Fail("fork");
  }
  ~TBusyCore() {
    ::kill(FProcess, SIGKILL);
    int status = 0;
    ::waitpid(FProcess, &status, 0);
  }
  TBusyCore(const TBusyCore&) = delete;
  TBusyCore& operator=(const TBusyCore&) = delete;

private:
  pid_t FProcess = -1;
};

std::optional<std::string> FindRsyslogd() {
  for (const char* candidate : {"/usr/sbin/rsyslogd", "/sbin/rsyslogd", "/usr/bin/rsyslogd"}) {
    if (::access(candidate, X_OK) == 0)
      return candidate;
  }
  return std::nullopt;
}

// rsyslogd in the foreground with a configuration of its own in a temporary folder.
class TRsyslogReceiver final : public TReceiverUnderTest {
public:
  explicit TRsyslogReceiver(std::string program) : FProgram(std::move(program)) {
    FFolder = (std::filesystem::temp_directory_path() / "ornavel-rsyslog-XXXXXX").string();
    if (mkdtemp(FFolder.data()) == nullptr)
      Fail("mkdtemp");
  }
  ~TRsyslogReceiver() override {
    if (FProcess > 0) {
      ::kill(FProcess, SIGTERM);
      int status = 0;
      ::waitpid(FProcess, &status, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(FFolder, ignored);
  }

  void Start(int port) override {
    const std::string config = FFolder + "/rsyslog.conf";
    // Its own messages go to the default ruleset, which has no action: the file counts
    // datagrams only.
    std::ofstream(config) << "global(workDirectory=\"" << FFolder << "\")\n"
                          << "module(load=\"imudp\" threads=\"2\" batchSize=\"128\")\n"
                          << "ruleset(name=\"udp\") {\n"
                          << "  action(type=\"omfile\" file=\"" << Output() << "\")\n"
                          << "}\n"
                          << "input(type=\"imudp\" address=\"127.0.0.1\" port=\"" << port
                          << "\" rcvbufSize=\"8m\" ruleset=\"udp\")\n";
    const std::string pidFile = FFolder + "/rsyslogd.pid";
    const std::string console = FFolder + "/rsyslogd.out";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, console.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<std::string> arguments = {FProgram, "-n", "-f", config, "-i", pidFile};
    std::vector<char*> argv;
    for (std::string& argument : arguments)
      argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int failure =
        posix_spawn(&FProcess, FProgram.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failure != 0)
      throw std::runtime_error(std::string("cannot start rsyslogd: ") + std::strerror(failure));
  }

  std::uint64_t Stored() override {
    std::ifstream file(Output(), std::ios::binary);
    file.seekg(static_cast<std::streamoff>(FRead));
    char buffer[1 << 16];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
      const auto got = static_cast<std::size_t>(file.gcount());
      FLines += static_cast<std::uint64_t>(std::count(buffer, buffer + got, '\n'));
      FRead += got;
    }
    return FLines;
  }

private:
  std::string Output() const { return FFolder + "/messages"; }

  std::string FProgram;
  std::string FFolder;
  pid_t FProcess = -1;
  std::size_t FRead = 0;
  std::uint64_t FLines = 0;
};

// Waits until the count stops growing for a while or reaches target.
std::uint64_t Settle(TReceiverUnderTest& receiver, std::uint64_t target,
                     TClock::duration quiet = 1500ms) {
  std::uint64_t last = receiver.Stored();
  auto changed = TClock::now();
  const auto giveUp = TClock::now() + 60s;
  while (last < target && TClock::now() - changed < quiet && TClock::now() < giveUp) {
    std::this_thread::sleep_for(20ms);
    const std::uint64_t now = receiver.Stored();
    if (now != last) {
      last = now;
      changed = TClock::now();
    }
  }
  return last;
}

struct TProbe {
  double Rate = 0;
  std::uint64_t Sent = 0;
  double SendSeconds = 0;
  std::uint64_t Stored = 0;
  std::optional<std::uint64_t> ReportedLost;

  std::uint64_t Lost() const { return Sent > Stored ? Sent - Stored : 0; }
  double Achieved() const { return SendSeconds > 0 ? static_cast<double>(Sent) / SendSeconds : 0; }
  // Losses count at whatever rate the sender reached; a clean probe below the rate asked for
  // proves nothing about that rate.
  enum class TVerdict { Clean, Lossy, SenderLimited };
  bool SenderKeptUp() const { return Achieved() >= 0.97 * Rate; }
  TVerdict Verdict() const {
    if (Lost() > 0)
      return TVerdict::Lossy;
    return SenderKeptUp() ? TVerdict::Clean : TVerdict::SenderLimited;
  }
};

TProbe RunProbe(const std::string& name, const TReceiverMaker& make, double rate) {
  const int port = test::FreeUdpPort();
  std::unique_ptr<TReceiverUnderTest> receiver = make();
  receiver->Start(port);
  TPacedSender sender(port);
  // Ready once it has stored a first datagram.
  const auto giveUp = TClock::now() + 20s;
  while (receiver->Stored() == 0) {
    if (TClock::now() > giveUp)
      throw std::runtime_error(name + " never received anything");
    sender.SendOne("<13>ready");
    std::this_thread::sleep_for(20ms);
  }
  const std::uint64_t before = Settle(*receiver, UINT64_MAX, 300ms);
  TProbe probe;
  probe.Rate = rate;
  const TPacedSender::TResult sent = sender.Run(rate, Settings.Seconds);
  probe.Sent = sent.Sent;
  probe.SendSeconds = sent.Seconds;
  probe.Stored = Settle(*receiver, before + probe.Sent) - before;
  if (receiver->ReportedLost()) {
    // Reports of losses follow within about a second of the last one.
    const auto reportBy = TClock::now() + 2500ms;
    while (probe.Stored + *receiver->ReportedLost() < probe.Sent && TClock::now() < reportBy)
      std::this_thread::sleep_for(20ms);
    probe.ReportedLost = receiver->ReportedLost();
    probe.Stored = receiver->Stored() - before;
  }
  std::fprintf(
      stderr,
      "  %-8s asked %8.0f/s  sent %9llu (%8.0f/s)  stored %9llu  lost %9llu (%5.2f%%)%s%s\n",
      name.c_str(), rate, static_cast<unsigned long long>(probe.Sent), probe.Achieved(),
      static_cast<unsigned long long>(probe.Stored), static_cast<unsigned long long>(probe.Lost()),
      probe.Sent ? 100.0 * static_cast<double>(probe.Lost()) / static_cast<double>(probe.Sent)
                 : 0.0,
      probe.ReportedLost ? (" reported lost " + std::to_string(*probe.ReportedLost)).c_str() : "",
      probe.SenderKeptUp() ? "" : "  [sender fell behind]");
  return probe;
}

double RoundRate(double rate) {
  return std::max(1000.0, std::round(rate / 1000) * 1000);
}

struct TSearchResult {
  // The highest rate asked for that was sent in full and kept in full.
  double LossFree = 0;
  // The highest rate the sender reached in a probe without loss, asked for or not.
  double CleanAchieved = 0;
  // The search ended before any loss: the receiver may well do more.
  bool LowerBound = false;
};

// Doubles the rate until a probe loses datagrams, then halves the gap between the last clean
// rate and the first lossy one until it is narrow enough.
class TRateSearch {
public:
  TRateSearch(std::string name, TReceiverMaker make)
      : FName(std::move(name)), FMake(std::move(make)) {}

  TSearchResult Run() {
    double lossy = 0;
    for (double rate = RoundRate(Settings.StartRate); lossy == 0; rate *= 2) {
      if (rate > Settings.MaxRate)
        return Stop("no loss up to --max-rate");
      switch (Probe(rate)) {
      case TVerdict::Clean:
        FResult.LossFree = rate;
        break;
      case TVerdict::Lossy:
        lossy = rate;
        break;
      case TVerdict::SenderLimited:
        return Stop("the sender cannot go faster");
      }
    }
    double& clean = FResult.LossFree;
    while (lossy - clean > Settings.Precision * std::max(clean, 1000.0)) {
      const double rate = RoundRate((clean + lossy) / 2);
      if (rate <= clean || rate >= lossy)
        break;
      const TVerdict verdict = Probe(rate);
      if (verdict == TVerdict::SenderLimited)
        return Stop("the sender cannot go faster");
      (verdict == TVerdict::Clean ? clean : lossy) = rate;
    }
    return FResult;
  }

private:
  using TVerdict = TProbe::TVerdict;

  TVerdict Probe(double rate) {
    const TProbe probe = RunProbe(FName, FMake, rate);
    if (probe.Lost() == 0)
      FResult.CleanAchieved = std::max(FResult.CleanAchieved, probe.Achieved());
    return probe.Verdict();
  }

  TSearchResult Stop(const char* why) {
    std::fprintf(stderr, "  %s: %s, the figure is a lower bound\n", FName.c_str(), why);
    FResult.LowerBound = true;
    return FResult;
  }

  const std::string FName;
  const TReceiverMaker FMake;
  TSearchResult FResult;
};

void LossFreeRate(benchmark::State& state, const std::string& name, const TReceiverMaker& make) {
  for (auto _ : state) {
    std::fprintf(stderr, "%s: %.1f s per rate\n", name.c_str(), Settings.Seconds);
    const TSearchResult found = TRateSearch(name, make).Run();
    state.counters["lossfree_per_s"] = found.LossFree;
    state.counters["clean_sent_per_s"] = found.CleanAchieved;
    state.counters["lower_bound"] = found.LowerBound ? 1 : 0;
    if (found.LossFree > 0) {
      const TProbe twice = RunProbe(name, make, 2 * found.LossFree);
      state.counters["at2x_sent_per_s"] = twice.Achieved();
      state.counters["at2x_lost"] = static_cast<double>(twice.Lost());
      state.counters["at2x_lost_pct"] =
          twice.Sent ? 100.0 * static_cast<double>(twice.Lost()) / static_cast<double>(twice.Sent)
                     : 0;
    }
  }
}

// The handler alone: split, parse, prefix with the sender, post to the log (no rules).
void BM_DatagramReceived(benchmark::State& state) {
  auto monitor = TThread::Create<TSysLogMonitorThread>(true, GetLog(), GetConfig());
  std::string datagram(DatagramSize, 'x');
  const std::string head = "<13>Oct 11 22:14:15 benchhost bench[4242]: message 0000000001 ";
  datagram.replace(0, head.size(), head);
  const std::string peer = "127.0.0.1";
  std::uint64_t posted = 0;
  for (auto _ : state) {
    monitor->DatagramReceived(datagram, peer);
    if (++posted % 100000 == 0)
      GetLog().Clear();
  }
  GetLog().Clear();
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_DatagramReceived);

bool TakeFlag(const std::string& argument, const char* name, std::string& value) {
  const std::string prefix = std::string("--") + name + "=";
  if (!argument.starts_with(prefix))
    return false;
  value = argument.substr(prefix.size());
  return true;
}

// Reads this program's own flags; answers false on one it does not know.
bool ReadSettings(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string value;
    const std::string argument = argv[i];
    if (TakeFlag(argument, "duration", value))
      Settings.Seconds = std::stod(value);
    else if (TakeFlag(argument, "start-rate", value))
      Settings.StartRate = std::stod(value);
    else if (TakeFlag(argument, "max-rate", value))
      Settings.MaxRate = std::stod(value);
    else if (TakeFlag(argument, "precision", value))
      Settings.Precision = std::stod(value);
    else if (TakeFlag(argument, "targets", value))
      Settings.Targets = value;
    else if (TakeFlag(argument, "rules", value))
      Settings.Rules = std::stoul(value);
    else if (argument == "--busy-core")
      Settings.BusyCore = true;
    else {
      std::fprintf(stderr, "unknown argument %s\n", argv[i]);
      return false;
    }
  }
  return true;
}

bool Wanted(const std::string& target) {
  return ("," + Settings.Targets + ",").find("," + target + ",") != std::string::npos;
}

void RegisterLossFreeRates() {
  const auto add = [](const std::string& name, TReceiverMaker make) {
    benchmark::RegisterBenchmark(
        ("LossFreeRate/" + name).c_str(),
        [name, make](benchmark::State& state) { LossFreeRate(state, name, make); })
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
  };
  if (Wanted("ornavel"))
    add("ornavel", [] { return std::make_unique<TOrnavelReceiver>(); });
  if (Wanted("console"))
    add("console", [] { return std::make_unique<TConsoleReceiver>(); });
  if (Wanted("rsyslog")) {
    if (const auto program = FindRsyslogd())
      add("rsyslog", [program] { return std::make_unique<TRsyslogReceiver>(*program); });
    else
      std::fprintf(stderr, "rsyslogd is not installed: rsyslog left out\n");
  }
  if (Wanted("bare"))
    add("bare", [] { return std::make_unique<TBareReceiver>(); });
}

// The log and its rules come from a folder of the benchmark's own, not the user's.
std::string MakeConfigHome() {
  std::string folder = (std::filesystem::temp_directory_path() / "ornavel-bench-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr)
    Fail("mkdtemp");
  setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
  return folder;
}

} // namespace
} // namespace ornavel

int main(int argc, char** argv) {
  using namespace ornavel;
  benchmark::Initialize(&argc, argv);
  if (!ReadSettings(argc, argv))
    return 2;
  const std::string home = MakeConfigHome();
  int result = 0;
  {
    TEventLoop loop; // this thread waits for the listeners as the user-interface thread would
    RegisterLossFreeRates();
    std::optional<TBusyCore> busy;
    if (Settings.BusyCore) {
      std::fprintf(stderr, "one core kept busy by a process of the benchmark's own\n");
      busy.emplace();
    }
    try {
      benchmark::RunSpecifiedBenchmarks();
    } catch (const std::exception& failure) {
      std::fprintf(stderr, "%s\n", failure.what());
      result = 1;
    }
    benchmark::Shutdown();
  }
  std::error_code ignored;
  std::filesystem::remove_all(home, ignored);
  return result;
}
