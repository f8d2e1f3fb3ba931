#pragma once

#include "UdpReceiverUnit.h"
#include "core/ThreadUnit.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace ornavel {

class TMainConfig;

// Counts bad data per sender, so that no sender can flood the log with reports of it: a sender's
// first is reported at once, further ones as a count at most once per interval. Senders beyond a
// few hundred at once (addresses a flood may forge) share one count.
class TBadDataReports {
public:
  using TClock = TDropCounter::TClock;
  using TReport = std::function<void(const std::string& sender, std::uint64_t count)>;

  explicit TBadDataReports(TClock::duration interval = std::chrono::seconds(1))
      : FInterval(interval) {}

  // Counts one piece of bad data, reporting it at once when it is due.
  void Count(const std::string& sender, TClock::time_point now, const TReport& report);
  // Reports the counts that are due; answers when the next one will be.
  std::optional<TClock::time_point> ReportDue(TClock::time_point now, const TReport& report);

private:
  TDropCounter& CounterOf(const std::string& sender, TClock::time_point now);
  void Plan(const TDropCounter& counter);

  TClock::duration FInterval;
  std::unordered_map<std::string, TDropCounter> FSenders;
  std::optional<TClock::time_point> FNextDue;
};

// Receives syslog datagrams over UDP on the given port of every local IPv4 address and posts
// each message line as "facility.severity - message". Its lines carry the thread itself as their
// source, which gives them the monitor type mtSyslog.
class TSysLogMonitorThread : public TSourceThread {
public:
  // The setting IncludePeerIP is read for every line.
  TSysLogMonitorThread(TLog& log, const TMainConfig& config, int port = 514);

  TMonitorType MonitorType() const final { return mtSyslog; }

  // Runs on the monitor's thread for every datagram received.
  void DatagramReceived(std::string_view datagram, const std::string& peerAddress);
  // Runs on the monitor's thread: reports the counts of bad data that are due, and answers when
  // the next will be.
  std::optional<TBadDataReports::TClock::time_point>
  ReportBadData(TBadDataReports::TClock::time_point now);
  // Replaces a leading "<priority>" of a trimmed line by "facility.severity - " and keeps the
  // priority; a line with no usable priority part continues the kept one instead. Answers false
  // when there is neither. Fails when the priority is not a number, forgetting the kept one.
  static bool ParsePriority(std::string& line, std::optional<std::uint32_t>& priority);

protected:
  void Execute() override;

private:
  void HandlePiece(std::string_view piece, const std::string& peerAddress, std::string_view source,
                   std::optional<std::uint32_t>& priority);
  void ReportDrops(TDropReason reason, std::uint64_t count);
  bool StartReceiving();
  void PostBadData(const std::string& sender, std::uint64_t count);

  const TMainConfig& FConfig;
  const int FPort;
  TBadDataReports FBadData; // used on the monitor's thread only
  TUdpReceiver FReceiver;
  std::string FOpenFailure; // why the port could not be had, told once the thread runs
};

} // namespace ornavel
