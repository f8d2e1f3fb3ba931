#pragma once

#include "core/FileDescriptorUnit.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <poll.h>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ornavel {

// The socket could not be made or bound; Reason() is the system's text for the cause.
class ESocketError : public std::runtime_error {
public:
  ESocketError(const std::string& message, std::string reason)
      : std::runtime_error(message), FReason(std::move(reason)) {}
  const std::string& Reason() const { return FReason; }

private:
  std::string FReason;
};

// Turns counts of dropped datagrams into reports of how many were lost since the last report, at
// most one per interval. The counts are the kernel's cumulative count for a socket, or drops
// counted as they happen.
class TDropCounter {
public:
  using TClock = std::chrono::steady_clock;

  explicit TDropCounter(TClock::duration interval = std::chrono::seconds(1))
      : FInterval(interval) {}

  // The count as one datagram or query carried it. Datagrams carry the count of the moment they
  // were queued, so a count older than one already seen changes nothing.
  void Observe(std::uint32_t cumulative);
  void Add(std::uint64_t count) { FPending += count; }
  // The losses not reported yet, when there are some and the interval has passed.
  std::optional<std::uint64_t> TakeDue(TClock::time_point now);
  // When the pending losses may be reported; none when nothing is pending.
  std::optional<TClock::time_point> NextDue() const;
  // Nothing pending, and the next loss would be reported at once.
  bool Quiet(TClock::time_point now) const;

private:
  TClock::duration FInterval;
  std::uint32_t FCumulative = 0; // a new socket starts at zero
  std::uint64_t FPending = 0;
  std::optional<TClock::time_point> FLastReport;
};

struct TUdpReceiverOptions {
  int Port = 514;
  // A longer datagram is dropped whole.
  std::size_t DatagramSize = 4096;
  // Room in the kernel for bursts while the handler is busy.
  int SocketBufferSize = 8 << 20;
  // Datagrams taken per system call.
  unsigned BatchSize = 64;
};

enum class TDropReason {
  BufferFull, // by the kernel, its queue for the socket being full
  TooLong,    // longer than the options' DatagramSize
};

// One IPv4 UDP socket bound to every local address, read by Run, which hands each datagram, with
// its sender's dotted address, to the handler, one at a time and in arrival order. Datagrams
// dropped before that are counted by reason and reported to a second handler. A third handler, if
// given, is called after every wake and answers when it wants to be called again (for reports of
// its own that are due later).
class TUdpReceiver {
public:
  using TClock = TDropCounter::TClock;
  using TDatagramHandler =
      std::function<void(std::string_view datagram, const std::string& peerAddress)>;
  using TDropHandler = std::function<void(TDropReason reason, std::uint64_t count)>;
  using TTickHandler = std::function<std::optional<TClock::time_point>(TClock::time_point now)>;
  // Sleeps until a descriptor is ready or the deadline passes; answers false to stop.
  using TWait = std::function<bool(TClock::time_point deadline, std::span<pollfd> descriptors)>;

  TUdpReceiver(TUdpReceiverOptions options, TDatagramHandler onDatagram, TDropHandler onDrops,
               TTickHandler onTick = {});
  ~TUdpReceiver();
  TUdpReceiver(const TUdpReceiver&) = delete;
  TUdpReceiver& operator=(const TUdpReceiver&) = delete;

  // Makes and binds the socket; ESocketError when it cannot be made or bound.
  void Open();
  // Receives until wait answers false, then closes the socket.
  void Run(const TWait& wait);
  // Frees the port without receiving, for a receiver stopped before it ran.
  void Close();

private:
  class TReceiveBatch;
  class TPeerText;

  struct TDrops {
    TDropCounter BufferFull;
    TDropCounter TooLong;
    std::optional<TClock::time_point> NextTick; // asked for by the tick handler
    std::optional<TClock::time_point> NextDue() const;
  };

  bool WaitForDatagrams(const TWait& wait, TDrops& drops, bool& stop);
  bool ReceiveBatch(TReceiveBatch& batch, TPeerText& peer, TDrops& drops);
  void Deliver(const TReceiveBatch& batch, unsigned index, TPeerText& peer);
  void ReportDue(TDrops& drops);
  void Tick(TDrops& drops);
  void Report(TDropReason reason, std::optional<std::uint64_t> count);
  std::optional<std::uint32_t> QueryDropCount() const;

  const TUdpReceiverOptions FOptions;
  const TDatagramHandler FOnDatagram;
  const TDropHandler FOnDrops;
  const TTickHandler FOnTick;
  TFileDescriptor FSocket;
};

} // namespace ornavel
