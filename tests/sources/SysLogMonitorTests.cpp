#include "TestSupport.h"
#include "config/ConfigUnit.h"
#include "core/LogUnit.h"
#include "rules/RulesUnit.h"
#include "sources/SysLogMonitorUnit.h"
#include "sources/UdpReceiverUnit.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

using namespace std::chrono_literals;
using test::Patience;

constexpr const char* Peer = "192.0.2.7";

struct TExpectedItem {
  std::string Text;
  TLogLevel Level;
  bool FromMonitor;
};

TExpectedItem Line(std::string text) {
  return {std::move(text), TLogLevel::Notice, true};
}

TExpectedItem BadData() {
  return {std::string("Got bad data from ") + Peer, TLogLevel::Exception, false};
}

std::vector<TLogItem> LogItems() {
  std::vector<TLogItem> items;
  for (std::size_t i = 0; i < test::SourceLog().Count(); ++i)
    items.push_back(test::SourceLog().GetItem(i));
  return items;
}

std::vector<std::string> LogTexts() {
  std::vector<std::string> texts;
  for (const TLogItem& item : LogItems())
    texts.push_back(item.Text);
  return texts;
}

class SysLog : public testing::Test {
protected:
  void SetUp() override {
    GetConfig().SetIncludePeerIP(false);
    test::SourceLog().Clear();
  }
  void TearDown() override {
    test::SourceLog().SetOnLogItem(nullptr);
    // Written now, so that nothing is left to write at program end, when the folder is gone.
    GetConfig().Save();
  }

  void ExpectItems(const std::vector<TExpectedItem>& expected) {
    const std::vector<TLogItem> items = LogItems();
    ASSERT_EQ(items.size(), expected.size()) << testing::PrintToString(LogTexts());
    for (std::size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(items[i].Text, expected[i].Text) << "item " << i;
      EXPECT_EQ(items[i].Level, expected[i].Level) << "item " << i;
      EXPECT_EQ(items[i].Source, expected[i].FromMonitor ? Monitor.get() : nullptr) << "item " << i;
    }
  }

  TEventLoop Loop; // outlives the monitor, whose end may hand its notice over
  std::shared_ptr<TSysLogMonitorThread> Monitor =
      TThread::Create<TSysLogMonitorThread>(true, test::SourceLog(), GetConfig());
};

struct TDatagramCase {
  std::string Datagram;
  std::vector<TExpectedItem> Items;
};

class SysLogDatagram : public SysLog, public testing::WithParamInterface<TDatagramCase> {};

TEST_P(SysLogDatagram, BecomesTheseItems) {
  Monitor->DatagramReceived(GetParam().Datagram, Peer);
  ExpectItems(GetParam().Items);
}

INSTANTIATE_TEST_SUITE_P(
    SysLog, SysLogDatagram,
    testing::Values(
        // The tables' ends, and integers beyond them wrapping round.
        TDatagramCase{"<0>x", {Line("kern.emerg - x")}},
        TDatagramCase{"<191>x", {Line("local7.debug - x")}},
        TDatagramCase{"<999>x", {Line("local12.debug - x")}},
        TDatagramCase{"<-1>x", {Line("local15.debug - x")}},
        // The integer's forms.
        TDatagramCase{"<$1F>x", {Line("daemon.debug - x")}},
        TDatagramCase{"<x1f>x", {Line("daemon.debug - x")}},
        TDatagramCase{"< 13>x", {Line("user.notice - x")}},
        TDatagramCase{"<+13>x", {Line("user.notice - x")}},
        TDatagramCase{"<<13>x", {Line("user.notice - x")}},
        // Trimming around and after the priority.
        TDatagramCase{"<13>", {Line("user.notice - ")}},
        TDatagramCase{"  <14>   spaced   ", {Line("user.info - spaced")}},
        TDatagramCase{std::string("\0\t<14>\tx\x7f\0", 10), {Line("user.info - x\x7f")}},
        TDatagramCase{"<13>\xC3\xA9t\xC3\xA9", {Line("user.notice - \xC3\xA9t\xC3\xA9")}},
        TDatagramCase{"<13>x<14>y", {Line("user.notice - x<14>y")}},
        // Line ends split a datagram; empty pieces are skipped.
        TDatagramCase{"<13>a\n<14>b\r\n", {Line("user.notice - a"), Line("user.info - b")}},
        TDatagramCase{"<13>a\r<14>b\n\n\r<15>c",
                      {Line("user.notice - a"), Line("user.info - b"), Line("user.debug - c")}},
        TDatagramCase{" \r\n \n\r\t", {}}, TDatagramCase{"", {}},
        // A piece without a usable priority part continues the last piece that had one.
        TDatagramCase{"<11>app: boom\r\n  at a.b(C.java:1)\r\n \r\n\tat c.d(E.java:2)\r\n",
                      {Line("user.err - app: boom"), Line("user.err - at a.b(C.java:1)"),
                       Line("user.err - at c.d(E.java:2)")}},
        TDatagramCase{"<13>a\rb\n<14>c\nd",
                      {Line("user.notice - a"), Line("user.notice - b"), Line("user.info - c"),
                       Line("user.info - d")}},
        TDatagramCase{
            "<13>a\n<>b\n<1000>c",
            {Line("user.notice - a"), Line("user.notice - <>b"), Line("user.notice - <1000>c")}},
        TDatagramCase{"x\n<13>y\nz", {Line("user.notice - y"), Line("user.notice - z")}},
        // No usable priority part and nothing to continue: dropped without a word.
        TDatagramCase{"<1000>x", {}}, TDatagramCase{"hello", {}}, TDatagramCase{"<>x", {}},
        TDatagramCase{"<13", {}}, TDatagramCase{"x<13>y", {}}, TDatagramCase{"<1><>x", {}},
        TDatagramCase{"hello\n  world", {}},
        // A priority that is not an integer is bad data; the other lines still count.
        TDatagramCase{"<ab>x", {BadData()}}, TDatagramCase{"<->x", {BadData()}},
        TDatagramCase{"<$>x", {BadData()}}, TDatagramCase{"<1 2>x", {BadData()}},
        TDatagramCase{"<1>2>x", {BadData()}},
        // Bad data again within a second is counted, not posted.
        TDatagramCase{"<ab>x\n<13>y\n<cd>z", {BadData(), Line("user.notice - y")}},
        // What follows bad data has no known priority, not that of an earlier piece.
        TDatagramCase{"<13>a\n<ab>x\n  at y", {Line("user.notice - a"), BadData()}}),
    [](const auto& info) { return test::CaseName(info.index, info.param.Datagram); });

TEST_F(SysLog, SenderAddressPrefixFollowsTheSettingAndTakesTheLineLiterally) {
  GetConfig().SetIncludePeerIP(true);
  Monitor->DatagramReceived("<13>disk 100% full %s\n%d more", Peer);
  GetConfig().SetIncludePeerIP(false);
  Monitor->DatagramReceived("<13>disk 100% full %s", Peer);
  ExpectItems({Line("(192.0.2.7) user.notice - disk 100% full %s"),
               Line("(192.0.2.7) user.notice - %d more"), Line("user.notice - disk 100% full %s")});
  EXPECT_EQ(test::SourceLog().GetItem(0).MonitorType, mtSyslog);
}

// A line's source is the host its message names, or else the address it came from.
TEST_F(SysLog, TheSourceIsTheHostTheMessageNamesOrElseTheSender) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"<13>Dec 10 02:39:04 vm root: disk full\n  at line 2", "vm"},
      {"<13>Dec  9 02:39:04 10.0.0.7 app[12]: x", "10.0.0.7"},
      {"<13>Dec 10 02:39:04 root: no host", Peer},
      {"<13>Dec 10 02:39:04 app[12]: no host", Peer},
      {"<165>1 2026-12-10T02:39:04Z web01 app 12 ID47 - message", "web01"},
      {"<165>1 2026-12-10T02:39:04Z - app - - - nil host", Peer},
      {"<13>Dec 10 02:39:04 h\x1bst x", Peer},
      {"<13>no time stamp", Peer}};
  std::vector<std::string> expected;
  for (const auto& [datagram, source] : cases) {
    Monitor->DatagramReceived(datagram, Peer);
    expected.insert(expected.end(), std::ranges::count(datagram, '\n') + 1, source);
  }
  std::vector<std::string> sources;
  for (const TLogItem& item : LogItems())
    sources.push_back(item.SourceName);
  EXPECT_EQ(sources, expected);
}

TEST(DropCounter, ReportsGrowthOfTheKernelCountAtOnceThenAtMostOncePerInterval) {
  TDropCounter counter(1s);
  const auto start = TDropCounter::TClock::now();
  EXPECT_FALSE(counter.NextDue());
  EXPECT_FALSE(counter.TakeDue(start));
  counter.Observe(5);
  EXPECT_EQ(counter.TakeDue(start), 5u);
  counter.Observe(3); // queued before the count of 5 was seen
  EXPECT_FALSE(counter.NextDue());
  counter.Observe(9);
  counter.Observe(12);
  EXPECT_EQ(counter.NextDue(), start + 1s);
  EXPECT_FALSE(counter.TakeDue(start + 999ms));
  EXPECT_EQ(counter.TakeDue(start + 1s), 7u);
  EXPECT_FALSE(counter.TakeDue(start + 5s));
}

using TReport = std::pair<std::string, std::uint64_t>;

class BadDataReports : public testing::Test {
protected:
  void Count(const std::string& sender, TBadDataReports::TClock::duration at) {
    Reports.Count(sender, Start + at, Report);
  }
  std::optional<TBadDataReports::TClock::time_point>
  ReportDue(TBadDataReports::TClock::duration at) {
    return Reports.ReportDue(Start + at, Report);
  }

  TBadDataReports Reports{1s};
  std::vector<TReport> Reported;
  const TBadDataReports::TReport Report = [this](const std::string& sender, std::uint64_t count) {
    Reported.emplace_back(sender, count);
  };
  const TBadDataReports::TClock::time_point Start = TBadDataReports::TClock::now();
};

TEST_F(BadDataReports, EachSendersFirstComesAtOnceThenCountsAtMostOncePerInterval) {
  for (int i = 0; i < 1000; ++i)
    Count("a", 0s);
  Count("b", 10ms);
  Count("b", 20ms);
  EXPECT_EQ(Reported, (std::vector<TReport>{{"a", 1}, {"b", 1}}));
  EXPECT_EQ(ReportDue(999ms), Start + 1s);
  EXPECT_EQ(ReportDue(1s), Start + 1010ms);
  EXPECT_EQ(ReportDue(1010ms), std::nullopt);
  EXPECT_EQ(Reported, (std::vector<TReport>{{"a", 1}, {"b", 1}, {"a", 999}, {"b", 1}}));
  Count("a", 2s); // a second after its last report: at once again
  EXPECT_EQ(Reported.back(), (TReport{"a", 1}));
}

TEST_F(BadDataReports, ForgedSendersBeyondAFewHundredShareOneCount) {
  for (int i = 0; i < 1000; ++i)
    Count(Format("10.0.%d.%d", i / 256, i % 256), 0s);
  ASSERT_EQ(Reported.size(), 257u);
  EXPECT_EQ(Reported.back(), (TReport{"other senders", 1}));
  ReportDue(1s);
  EXPECT_EQ(Reported.back(), (TReport{"other senders", 743}));
  Count("10.1.0.0", 3s); // senders that have fallen quiet make room
  EXPECT_EQ(Reported.back(), (TReport{"10.1.0.0", 1}));
}

TEST(DropCounter, FollowsTheKernelCountAcrossItsWrapAround) {
  TDropCounter counter(0s);
  const auto now = TDropCounter::TClock::now();
  for (std::uint32_t count : {0x70000000u, 0xE0000000u, 0xFFFFFFF0u})
    counter.Observe(count);
  EXPECT_EQ(counter.TakeDue(now), 0xFFFFFFF0u);
  counter.Observe(0x10);
  EXPECT_EQ(counter.TakeDue(now), 0x20u);
}

class TUdpSender {
public:
  explicit TUdpSender(int port) : FSocket(::socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(FSocket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      throw std::runtime_error("cannot address the listener");
  }

  // Answers whether the datagram left; a listener not there yet may refuse the previous one.
  bool Send(std::string_view datagram) {
    return ::send(FSocket.Get(), datagram.data(), datagram.size(), 0) ==
           static_cast<ssize_t>(datagram.size());
  }

private:
  TFileDescriptor FSocket;
};

// The kernel's count of datagrams dropped at the socket bound to 0.0.0.0:port.
std::uint64_t KernelDropCount(int port) {
  std::ifstream table("/proc/net/udp");
  std::string line;
  std::getline(table, line); // headings
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, "00000000:%04X", port);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, field;
    fields >> slot >> local;
    if (local != wanted)
      continue;
    while (fields >> field) { // to the last one
    }
    return std::stoull(field);
  }
  throw std::runtime_error("no socket on the port");
}

class SysLogListening : public SysLog {
protected:
  // Starts the monitor and returns once it is seen to receive, with the log cleared. A port
  // found free may be taken before the listener binds it (by another test, or by a sender's own
  // socket, which the system binds to a free port too): then another port is tried.
  void StartListening() {
    for (int attempt = 0; attempt < 5; ++attempt) {
      Port = test::FreeUdpPort();
      Monitor = TThread::Create<TSysLogMonitorThread>(true, test::SourceLog(), GetConfig(), Port);
      Monitor->Resume();
      if (Answers())
        break;
      ASSERT_TRUE(PortWasTaken()) << "the listener never answered: "
                                  << testing::PrintToString(LogTexts());
      Monitor->Terminate();
      Monitor->WaitFor();
      test::SourceLog().Clear();
    }
    ASSERT_FALSE(PortWasTaken()) << testing::PrintToString(LogTexts());
    test::SourceLog().Clear();
  }

  // Sends probes until one is posted; false when none is, or the port could not be bound.
  bool Answers() {
    TUdpSender sender(Port);
    for (int probe = 1; probe < 1000 && !PortWasTaken(); ++probe) {
      const std::string text = "probe " + std::to_string(probe);
      // A refused send is the port-unreachable answer to an earlier probe, reported now.
      if (!sender.Send("<13>" + text))
        continue;
      // Earlier probes were received before this one, or lost before the socket was bound.
      const auto heard = [&] {
        return test::SourceLog().Count() > 0 && LogTexts().back().ends_with(text);
      };
      if (Loop.ServeUntil(heard, std::chrono::steady_clock::now() + 50ms))
        return true;
    }
    return false;
  }

  static bool PortWasTaken() {
    const auto texts = LogTexts();
    return std::ranges::any_of(texts, [](const std::string& text) {
      return text.starts_with("Unable to listen for syslog on UDP port");
    });
  }

  bool WaitUntil(const std::function<bool()>& done) { return test::ServeUntil(Loop, done); }

  // Lines posted and datagrams reported lost or too long, which must add up to what was sent.
  struct TAccount {
    std::uint64_t Posted = 0;
    std::uint64_t Lost = 0;
    std::uint64_t TooLong = 0;
    std::size_t Reports = 0;
  };

  static TAccount Account() {
    TAccount account;
    for (const TLogItem& item : LogItems()) {
      if (item.Source != nullptr) {
        ++account.Posted;
        continue;
      }
      const std::uint64_t count = std::stoull(item.Text);
      const bool tooLong = item.Text.ends_with("bytes");
      EXPECT_EQ(item.Text, Format(tooLong ? "%d syslog datagrams dropped: longer than 4096 bytes"
                                          : "%d syslog datagrams lost: receive buffer full",
                                  count));
      EXPECT_EQ(item.Level, TLogLevel::Warning);
      (tooLong ? account.TooLong : account.Lost) += count;
      ++account.Reports;
    }
    return account;
  }

  int Port = 0;
};

TEST_F(SysLogListening, PostsEveryDatagramInArrivalOrderWithTheSenderAddress) {
  ASSERT_NO_FATAL_FAILURE(StartListening());
  GetConfig().SetIncludePeerIP(true);
  TUdpSender sender(Port);
  std::vector<TExpectedItem> expected;
  for (int i = 0; i < 500; ++i) {
    sender.Send("<13>n " + std::to_string(i));
    expected.push_back(Line("(127.0.0.1) user.notice - n " + std::to_string(i)));
  }
  ASSERT_TRUE(WaitUntil([&] { return test::SourceLog().Count() >= expected.size(); }));
  ExpectItems(expected);
}

TEST_F(SysLogListening, DatagramOver4096BytesIsDroppedWholeCountedAndTheNextOneHandled) {
  ASSERT_NO_FATAL_FAILURE(StartListening());
  TUdpSender sender(Port);
  const std::string fits = "<13>" + std::string(4092, 'a');
  sender.Send(fits);
  sender.Send("<14>" + std::string(4093, 'b'));
  sender.Send("<15>" + std::string(4996, 'c'));
  sender.Send("<13>next");
  // The second drop may be reported a second after the first; a truncated piece of either would
  // be posted before "next".
  ASSERT_TRUE(WaitUntil([] {
    const TAccount account = Account();
    return account.Posted >= 2 && account.TooLong >= 2;
  }));
  std::vector<std::string> lines;
  for (const TLogItem& item : LogItems()) {
    if (item.Source == Monitor.get())
      lines.push_back(item.Text);
  }
  EXPECT_EQ(lines,
            (std::vector<std::string>{"user.notice - " + fits.substr(4), "user.notice - next"}));
  EXPECT_EQ(Account().TooLong, 2u);
}

// How many pieces of bad data from the loopback sender the log's lines report.
std::uint64_t BadDataCounted() {
  const std::string first = "Got bad data from 127.0.0.1";
  std::uint64_t counted = 0;
  for (const std::string& text : LogTexts()) {
    std::uint64_t count = 0;
    if (text == first)
      count = 1;
    else if (text.starts_with(first + " ") && text.ends_with(" more times"))
      count = std::stoull(text.substr(first.size() + 1));
    EXPECT_GT(count, 0u) << text;
    counted += count;
  }
  return counted;
}

// A sender of bad data cannot push the user's lines out of the log: after its first report, its
// bad data is counted, and the count reported at most once a second and once it stops.
TEST_F(SysLogListening, AFloodOfBadDataGivesAReportASecond) {
  ASSERT_NO_FATAL_FAILURE(StartListening());
  const auto start = std::chrono::steady_clock::now();
  TUdpSender sender(Port);
  constexpr std::uint64_t Sent = 2000;
  for (std::uint64_t i = 0; i < Sent; ++i)
    ASSERT_TRUE(sender.Send("<zz>x"));
  ASSERT_TRUE(WaitUntil([&] { return BadDataCounted() >= Sent; }));
  EXPECT_EQ(BadDataCounted(), Sent);
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
  EXPECT_LE(LogTexts().size(), static_cast<std::size_t>(2 + seconds.count()))
      << testing::PrintToString(LogTexts());
}

TEST_F(SysLogListening, PortThatCannotBeBoundIsReportedAndEndsTheListener) {
  const int port = test::FreeUdpPort();
  TFileDescriptor holder(::socket(AF_INET, SOCK_DGRAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  ASSERT_EQ(::bind(holder.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  Monitor = TThread::Create<TSysLogMonitorThread>(false, test::SourceLog(), GetConfig(), port);
  Monitor->WaitFor(); // ends by itself
  EXPECT_FALSE(Monitor->FatalException());
  const std::vector<TLogItem> items = LogItems();
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].Text, Format("Unable to listen for syslog on UDP port %d: %s", port,
                                  std::strerror(EADDRINUSE)));
  EXPECT_EQ(items[0].Level, TLogLevel::Warning);
  EXPECT_EQ(items[0].Source, nullptr);
}

TEST_F(SysLogListening, TerminatingWhileDatagramsArriveEndsPromptlyAndPostsNothingAfter) {
  ASSERT_NO_FATAL_FAILURE(StartListening());
  std::atomic<bool> sending{true};
  std::thread flood([&, sender = TUdpSender(Port)]() mutable {
    while (sending)
      sender.Send("<13>flood");
  });
  std::size_t countAtEnd = 0;
  Monitor->SetOnTerminate([&](TThread&) { countAtEnd = test::SourceLog().Count(); });
  const bool flowing = WaitUntil([] { return test::SourceLog().Count() >= 100; });
  const auto start = std::chrono::steady_clock::now();
  Monitor->Terminate();
  Monitor->WaitFor();
  const auto took = std::chrono::steady_clock::now() - start;
  std::this_thread::sleep_for(200ms); // the sender goes on meanwhile
  const std::size_t countLater = test::SourceLog().Count();
  sending = false;
  flood.join();
  EXPECT_TRUE(flowing);
  EXPECT_LT(took, 3s); // a second at most, with room for a loaded machine
  EXPECT_EQ(countLater, countAtEnd);
}

// Blocks the receiving thread in the log's notification until opened.
struct TGate {
  std::mutex Lock;
  std::condition_variable Changed;
  bool Open = false;
  std::atomic<bool> Entered{false};
};

class SysLogLosses : public SysLogListening {
protected:
  // Holds the receiver up on a first datagram and sends until the kernel drops some, and
  // a batch more; answers how many datagrams were sent.
  int OverflowReceiveBuffer(TUdpSender& sender) {
    auto gate = std::make_shared<TGate>();
    test::SourceLog().SetOnLogItem([gate](TLogLevel, std::string_view) {
      gate->Entered = true;
      std::unique_lock lock(gate->Lock);
      gate->Changed.wait(lock, [&] { return gate->Open; });
    });
    int sent = sender.Send("<13>first") ? 1 : 0;
    EXPECT_TRUE(WaitUntil([&] { return gate->Entered.load(); }));
    const auto sendBurst = [&] {
      for (int i = 0; i < 5000; ++i)
        sent += sender.Send("<13>burst") ? 1 : 0;
    };
    do
      sendBurst();
    while (KernelDropCount(Port) == 0);
    sendBurst();
    test::SourceLog().SetOnLogItem(nullptr);
    {
      std::lock_guard lock(gate->Lock);
      gate->Open = true;
    }
    gate->Changed.notify_all();
    return sent;
  }

  void ExpectEveryDatagramAccountedFor(int sent) {
    const bool balanced = WaitUntil([&] {
      const TAccount account = Account();
      return account.Posted + account.Lost >= static_cast<std::uint64_t>(sent);
    });
    const TAccount account = Account();
    EXPECT_TRUE(balanced);
    EXPECT_EQ(account.Posted + account.Lost, static_cast<std::uint64_t>(sent));
    EXPECT_GT(account.Lost, 0u);
    EXPECT_EQ(account.Lost, KernelDropCount(Port));
  }
};

TEST_F(SysLogLosses, AreReportedOnceTrafficStops) {
  ASSERT_NO_FATAL_FAILURE(StartListening());
  TUdpSender sender(Port);
  const int sent = OverflowReceiveBuffer(sender);
  ExpectEveryDatagramAccountedFor(sent);
}

TEST_F(SysLogLosses, AreReportedWhileTrafficGoesOn) {
  ASSERT_NO_FATAL_FAILURE(StartListening());
  TUdpSender sender(Port);
  int sent = OverflowReceiveBuffer(sender);
  // The receiver never waits long enough to ask the socket, so the report must come from the
  // count that the datagrams queued after the losses carry.
  bool reported = false;
  for (auto giveUp = std::chrono::steady_clock::now() + Patience;
       !reported && std::chrono::steady_clock::now() < giveUp;) {
    sent += sender.Send("<13>trickle") ? 1 : 0;
    std::this_thread::sleep_for(10ms);
    reported = Account().Reports > 0;
  }
  EXPECT_TRUE(reported);
  ExpectEveryDatagramAccountedFor(sent);
}

} // namespace
} // namespace ornavel
