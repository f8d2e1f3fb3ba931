#pragma once

#include "core/EventUnit.h"
#include "core/ThreadUnit.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace ornavel {

class TUdpReceiver;
enum class TDropReason;

// Receives syslog datagrams over UDP on the given port of every local IPv4 address and posts
// each message line as "facility.severity - message". Its lines carry the thread itself as their
// source, which gives them the monitor type mtSyslog.
class TSysLogMonitorThread : public TSourceThread {
public:
  explicit TSysLogMonitorThread(int port = 514);
  ~TSysLogMonitorThread() override;

  TMonitorType MonitorType() const final { return mtSyslog; }

  // Runs on the receiving thread for every datagram received.
  void DatagramReceived(std::string_view datagram, const std::string& peerAddress);
  // Replaces a leading "<priority>" of a trimmed line by "facility.severity - " and keeps the
  // priority; a line with no usable priority part continues the kept one instead. Answers false
  // when there is neither. Fails when the priority is not a number, forgetting the kept one.
  static bool ParsePriority(std::string& line, std::optional<std::uint32_t>& priority);

protected:
  void Execute() override;
  void TerminateRequested() override;

private:
  void HandlePiece(std::string_view piece, const std::string& peerAddress,
                   std::optional<std::uint32_t>& priority);
  void ReportDrops(TDropReason reason, std::uint64_t count);
  bool StartReceiving();

  const int FPort;
  TEvent FTerminateRequested;
  std::unique_ptr<TUdpReceiver> FReceiver;
};

} // namespace ornavel
