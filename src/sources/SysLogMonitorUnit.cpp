#include "SysLogMonitorUnit.h"

#include "UdpReceiverUnit.h"
#include "config/ConfigUnit.h"
#include "core/FormatUnit.h"
#include "core/LogUnit.h"
#include "core/TextUnit.h"

#include <algorithm>
#include <array>
#include <utility>

namespace ornavel {
namespace {

constexpr std::array<std::string_view, 32> FacilityNames{
    "kern",   "user",   "mail",     "daemon",  "auth",    "syslog",  "lpr",      "news",
    "uucp",   "cron",   "authpriv", "ftp",     "mark",    "system",  "internal", "other",
    "local0", "local1", "local2",   "local3",  "local4",  "local5",  "local6",   "local7",
    "local8", "local9", "local10",  "local11", "local12", "local13", "local14",  "local15"};

constexpr std::array<std::string_view, 8> SeverityNames{"emerg",   "alert",  "crit", "err",
                                                        "warning", "notice", "info", "debug"};

// Only this many leading characters may hold the brackets of the priority.
constexpr std::size_t PriorityWindow = 5;

// Senders of bad data counted apart; the rest share the count of OtherSenders.
constexpr std::size_t MostSendersApart = 256;
constexpr const char* OtherSenders = "other senders";

bool IsLineEnd(char c) {
  return c == '\n' || c == '\r';
}

// The priority of a trimmed line's leading "<priority>", leaving the trimmed rest in the line;
// none, leaving the line alone, when it has no usable priority part.
std::optional<std::uint32_t> TakePriority(std::string_view& line) {
  if (line.empty() || line.front() != '<')
    return std::nullopt;
  const std::string_view window = line.substr(0, PriorityWindow);
  const std::size_t open = window.rfind('<');
  const std::size_t close = window.rfind('>');
  if (close == std::string_view::npos || close < open + 2)
    return std::nullopt;
  const std::string_view priorityText = window.substr(open + 1, close - open - 1);
  const auto priority = TryStrToInt(priorityText);
  if (!priority)
    throw EConvertError(Format("'%s' is not a valid integer value", priorityText));
  line = Trim(line.substr(close + 1));
  // Any integer names an entry: taken unsigned, facility and severity wrap around the tables.
  return static_cast<std::uint32_t>(*priority);
}

// Whether a word can be a host's name or address, so that a sender cannot put just anything
// where the window shows where a line came from.
bool IsHostName(std::string_view word) {
  return !word.empty() && word.size() <= 255 && word.back() != ':' &&
         std::ranges::all_of(word, [](char c) {
           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '.' || c == '-' || c == '_' || c == ':';
         });
}

std::string_view TakeWord(std::string_view& text) {
  const std::size_t end = std::min(text.find(' '), text.size());
  const std::string_view word = text.substr(0, end);
  text.remove_prefix(std::min(end + 1, text.size()));
  return word;
}

// The host a message names after its priority: the HOSTNAME of RFC 5424, or the word after the
// time stamp of RFC 3164 unless it is the tag ("app:", "app[12]:"), which senders that leave the
// host out put there; empty when it names none.
std::string_view HostOf(std::string_view message) {
  if (message.starts_with("1 ")) {
    message.remove_prefix(2);
    TakeWord(message); // the time stamp
  } else if (message.size() > 16 && message[3] == ' ' && message[6] == ' ' && message[9] == ':' &&
             message[12] == ':' && message[15] == ' ') {
    message.remove_prefix(16);
  } else {
    return {};
  }
  const std::string_view host = TakeWord(message);
  return IsHostName(host) && host != "-" ? host : std::string_view();
}

// Its first line's host, or the address it came from. The host comes within the first few hundred
// bytes, after the priority and the time stamp, so only they are looked at.
std::string_view SourceOf(std::string_view datagram, const std::string& peerAddress) {
  const std::string_view head = datagram.substr(0, 320);
  const std::string_view first =
      Trim(head.substr(0, std::ranges::find_if(head, IsLineEnd) - head.begin()));
  const std::size_t close = first.substr(0, PriorityWindow).find('>');
  const std::string_view host = first.starts_with('<') && close != std::string_view::npos
                                    ? HostOf(Trim(first.substr(close + 1)))
                                    : std::string_view();
  return host.empty() ? std::string_view(peerAddress) : host;
}

} // namespace

void TBadDataReports::Count(const std::string& sender, TClock::time_point now,
                            const TReport& report) {
  TDropCounter& counter = CounterOf(sender, now);
  counter.Add(1);
  if (const auto due = counter.TakeDue(now))
    report(FSenders.contains(sender) ? sender : OtherSenders, *due);
  else
    Plan(counter);
}

// A sender's own counter, or the shared one when too many are counted apart and none of them
// has fallen quiet.
TDropCounter& TBadDataReports::CounterOf(const std::string& sender, TClock::time_point now) {
  if (const auto found = FSenders.find(sender); found != FSenders.end())
    return found->second;
  if (FSenders.size() >= MostSendersApart)
    std::erase_if(FSenders, [&](const auto& entry) { return entry.second.Quiet(now); });
  const bool apart = FSenders.size() < MostSendersApart;
  return FSenders.try_emplace(apart ? sender : OtherSenders, FInterval).first->second;
}

void TBadDataReports::Plan(const TDropCounter& counter) {
  const auto due = counter.NextDue();
  if (due && (!FNextDue || *due < *FNextDue))
    FNextDue = due;
}

std::optional<TBadDataReports::TClock::time_point>
TBadDataReports::ReportDue(TClock::time_point now, const TReport& report) {
  if (!FNextDue || now < *FNextDue)
    return FNextDue;
  FNextDue.reset();
  for (auto& [sender, counter] : FSenders) {
    if (const auto due = counter.TakeDue(now))
      report(sender, *due);
    Plan(counter);
  }
  return FNextDue;
}

TSysLogMonitorThread::TSysLogMonitorThread(TLog& log, const TMainConfig& config, int port)
    : TSourceThread(log), FConfig(config), FPort(port),
      FReceiver(
          TUdpReceiverOptions{.Port = port, .DatagramSize = 4096},
          [this](std::string_view datagram, const std::string& peerAddress) {
            DatagramReceived(datagram, peerAddress);
          },
          [this](TDropReason reason, std::uint64_t count) { ReportDrops(reason, count); },
          [this](TBadDataReports::TClock::time_point now) { return ReportBadData(now); }) {
  // Bound at once, before the source is announced: a datagram sent as soon as the announcement
  // shows is queued for the thread, not lost.
  try {
    FReceiver.Open();
  } catch (const ESocketError& error) {
    FOpenFailure = Format("Unable to listen for syslog on UDP port %d: %s", FPort, error.Reason());
  }
}

void TSysLogMonitorThread::PostBadData(const std::string& sender, std::uint64_t count) {
  if (count == 1)
    Log().AddFmt(nullptr, TLogLevel::Exception, "Got bad data from %s", sender);
  else
    Log().AddFmt(nullptr, TLogLevel::Exception, "Got bad data from %s %d more times", sender,
                 count);
}

void TSysLogMonitorThread::DatagramReceived(std::string_view datagram,
                                            const std::string& peerAddress) {
  if (datagram.empty())
    return;
  // Lines of one message (a stack trace, say) share the priority and host of its first line.
  std::optional<std::uint32_t> priority;
  const std::string_view source = SourceOf(datagram, peerAddress);
  std::size_t start = 0;
  for (std::size_t i = 0; i < datagram.size(); ++i) {
    if (IsLineEnd(datagram[i])) {
      HandlePiece(datagram.substr(start, i - start), peerAddress, source, priority);
      start = i + 1;
    }
  }
  HandlePiece(datagram.substr(start), peerAddress, source, priority);
}

void TSysLogMonitorThread::HandlePiece(std::string_view piece, const std::string& peerAddress,
                                       std::string_view source,
                                       std::optional<std::uint32_t>& priority) {
  const std::string_view trimmed = Trim(piece);
  if (trimmed.empty())
    return;
  try {
    std::string line(trimmed);
    if (!ParsePriority(line, priority))
      return;
    // The line is appended, not formatted: a percent sign in it is an ordinary character.
    std::string text = FConfig.IncludePeerIP() ? Format("(%s) ", peerAddress) + line : line;
    Log().AddLine(this, std::move(text), source);
  } catch (...) {
    FBadData.Count(
        peerAddress, TBadDataReports::TClock::now(),
        [this](const std::string& sender, std::uint64_t count) { PostBadData(sender, count); });
  }
}

std::optional<TBadDataReports::TClock::time_point>
TSysLogMonitorThread::ReportBadData(TBadDataReports::TClock::time_point now) {
  return FBadData.ReportDue(
      now, [this](const std::string& sender, std::uint64_t count) { PostBadData(sender, count); });
}

bool TSysLogMonitorThread::ParsePriority(std::string& line,
                                         std::optional<std::uint32_t>& priority) {
  std::string_view rest = line;
  // Cleared first: what follows a priority that cannot be read continues nothing.
  const std::optional<std::uint32_t> previous = std::exchange(priority, std::nullopt);
  priority = TakePriority(rest);
  if (!priority)
    priority = previous;
  if (!priority)
    return false;
  line = Format("%s.%s - %s", FacilityNames[(*priority >> 3) % FacilityNames.size()],
                SeverityNames[*priority % SeverityNames.size()], rest);
  return true;
}

void TSysLogMonitorThread::ReportDrops(TDropReason reason, std::uint64_t count) {
  // The size is the DatagramSize the receiver was given.
  Log().AddFmt(nullptr, TLogLevel::Warning,
               reason == TDropReason::TooLong
                   ? "%d syslog datagrams dropped: longer than 4096 bytes"
                   : "%d syslog datagrams lost: receive buffer full",
               count);
}

// Answers false, after saying so in the log, when the port could not be had.
bool TSysLogMonitorThread::StartReceiving() {
  if (FOpenFailure.empty())
    return true;
  Log().AddFailure(TLogLevel::Warning, FOpenFailure);
  return false;
}

void TSysLogMonitorThread::Execute() {
  if (Terminated() || !StartReceiving()) {
    FReceiver.Close(); // a restart binds the port again while this object may live on
    return;
  }
  FReceiver.Run([this](TUdpReceiver::TClock::time_point deadline, std::span<pollfd> descriptors) {
    return WaitForWork(deadline, descriptors);
  });
}

} // namespace ornavel
