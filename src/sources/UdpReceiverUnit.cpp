#include "UdpReceiverUnit.h"

#include "core/FormatUnit.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <utility>
#include <vector>

namespace ornavel {
namespace {

using TClock = TDropCounter::TClock;

// Long enough to cost nothing while idle; it also paces the query for losses nobody carried.
constexpr auto IdleWait = std::chrono::seconds(1);

[[noreturn]] void RaiseSocketError(const char* step, int port, int error) {
  throw ESocketError(
      Format("Cannot %s the UDP socket for port %d: %s", step, port, std::strerror(error)),
      std::strerror(error));
}

void SetOption(int socket, int option, int value) {
  ::setsockopt(socket, SOL_SOCKET, option, &value, sizeof value);
}

// Beyond the system's limit only with privilege; without it, as much as the limit allows.
void EnlargeReceiveBuffer(int socket, int size) {
  if (::setsockopt(socket, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
    SetOption(socket, SO_RCVBUF, size);
}

// Until pending losses may be reported, if that comes before the idle wait ends.
TClock::time_point WaitDeadline(std::optional<TClock::time_point> due) {
  const auto idleEnd = TClock::now() + IdleWait;
  return due ? std::min(*due, idleEnd) : idleEnd;
}

} // namespace

void TDropCounter::Observe(std::uint32_t cumulative) {
  // The kernel's counter wraps; two observations are never 2^31 drops apart.
  const auto delta = static_cast<std::int32_t>(cumulative - FCumulative);
  if (delta <= 0)
    return;
  FCumulative = cumulative;
  FPending += static_cast<std::uint64_t>(delta);
}

std::optional<std::uint64_t> TDropCounter::TakeDue(TClock::time_point now) {
  if (FPending == 0 || (FLastReport && now - *FLastReport < FInterval))
    return std::nullopt;
  FLastReport = now;
  return std::exchange(FPending, 0);
}

std::optional<TClock::time_point> TDropCounter::NextDue() const {
  if (FPending == 0)
    return std::nullopt;
  return FLastReport ? *FLastReport + FInterval : TClock::time_point::min();
}

bool TDropCounter::Quiet(TClock::time_point now) const {
  return FPending == 0 && (!FLastReport || now - *FLastReport >= FInterval);
}

std::optional<TClock::time_point> TUdpReceiver::TDrops::NextDue() const {
  std::optional<TClock::time_point> earliest;
  for (const auto& due : {BufferFull.NextDue(), TooLong.NextDue(), NextTick}) {
    if (due && (!earliest || *due < *earliest))
      earliest = due;
  }
  return earliest;
}

// The buffers of one recvmmsg call: per slot one datagram, its sender and its drop count.
class TUdpReceiver::TReceiveBatch {
public:
  TReceiveBatch(unsigned slots, std::size_t datagramSize)
      : FDatagramSize(datagramSize), FData(slots * datagramSize), FSenders(slots), FControls(slots),
        FVectors(slots), FMessages(slots) {
    for (unsigned i = 0; i < slots; ++i) {
      FVectors[i] = {FData.data() + i * datagramSize, datagramSize};
      msghdr& header = FMessages[i].msg_hdr;
      header.msg_name = &FSenders[i];
      header.msg_iov = &FVectors[i];
      header.msg_iovlen = 1;
      header.msg_control = &FControls[i];
    }
  }

  unsigned Slots() const { return static_cast<unsigned>(FMessages.size()); }

  // Takes what is queued, up to one datagram per slot, without waiting; -1 with errno set when
  // nothing could be taken.
  int Receive(int socket) {
    for (mmsghdr& message : FMessages) {
      message.msg_hdr.msg_namelen = sizeof(sockaddr_in);
      message.msg_hdr.msg_controllen = sizeof(TControl);
      message.msg_hdr.msg_flags = 0;
    }
    return ::recvmmsg(socket, FMessages.data(), Slots(), MSG_DONTWAIT, nullptr);
  }

  std::string_view Datagram(unsigned index) const {
    return {FData.data() + index * FDatagramSize, FMessages[index].msg_len};
  }
  bool Truncated(unsigned index) const {
    return (FMessages[index].msg_hdr.msg_flags & MSG_TRUNC) != 0;
  }
  const sockaddr_in& Sender(unsigned index) const { return FSenders[index]; }

  std::optional<std::uint32_t> DropCount(unsigned index) const {
    // The header is const-correct in C but not in glibc's C++ macros.
    auto& header = const_cast<msghdr&>(FMessages[index].msg_hdr);
    for (cmsghdr* control = CMSG_FIRSTHDR(&header); control != nullptr;
         control = CMSG_NXTHDR(&header, control)) {
      if (control->cmsg_level == SOL_SOCKET && control->cmsg_type == SO_RXQ_OVFL) {
        std::uint32_t count = 0;
        std::memcpy(&count, CMSG_DATA(control), sizeof count);
        return count;
      }
    }
    return std::nullopt;
  }

private:
  union TControl {
    cmsghdr Align;
    char Bytes[CMSG_SPACE(sizeof(std::uint32_t))];
  };

  const std::size_t FDatagramSize;
  std::vector<char> FData;
  std::vector<sockaddr_in> FSenders;
  std::vector<TControl> FControls;
  std::vector<iovec> FVectors;
  std::vector<mmsghdr> FMessages;
};

// Most traffic comes from few senders: the text of the last address is kept.
class TUdpReceiver::TPeerText {
public:
  const std::string& Of(const sockaddr_in& sender) {
    if (!FValid || sender.sin_addr.s_addr != FAddress) {
      char text[INET_ADDRSTRLEN] = {};
      ::inet_ntop(AF_INET, &sender.sin_addr, text, sizeof text);
      FText = text;
      FAddress = sender.sin_addr.s_addr;
      FValid = true;
    }
    return FText;
  }

private:
  bool FValid = false;
  in_addr_t FAddress = 0;
  std::string FText;
};

TUdpReceiver::TUdpReceiver(TUdpReceiverOptions options, TDatagramHandler onDatagram,
                           TDropHandler onDrops, TTickHandler onTick)
    : FOptions(options), FOnDatagram(std::move(onDatagram)), FOnDrops(std::move(onDrops)),
      FOnTick(std::move(onTick)) {}

TUdpReceiver::~TUdpReceiver() = default;

void TUdpReceiver::Open() {
  TFileDescriptor socket(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!socket.Valid())
    RaiseSocketError("make", FOptions.Port, errno);
  EnlargeReceiveBuffer(socket.Get(), FOptions.SocketBufferSize);
  SetOption(socket.Get(), SO_RXQ_OVFL, 1);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<std::uint16_t>(FOptions.Port));
  if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    RaiseSocketError("bind", FOptions.Port, errno);
  FSocket = std::move(socket);
}

void TUdpReceiver::Close() {
  FSocket.Reset();
}

void TUdpReceiver::Run(const TWait& wait) {
  TReceiveBatch batch(FOptions.BatchSize, FOptions.DatagramSize);
  TPeerText peer;
  TDrops drops;
  bool moreQueued = false;
  bool stop = false;
  while (!stop) {
    // A full batch suggests more is waiting: take it after only a look for a stop request, so
    // that a flood cannot keep the receiver from stopping.
    if (moreQueued)
      stop = !wait(TClock::now(), {});
    if (!stop && (moreQueued || WaitForDatagrams(wait, drops, stop)))
      moreQueued = ReceiveBatch(batch, peer, drops);
    ReportDue(drops);
    Tick(drops);
  }
  FSocket.Reset();
}

// Answers whether datagrams are waiting; on a quiet socket, picks up the losses that no
// datagram will carry because none arrived after them.
bool TUdpReceiver::WaitForDatagrams(const TWait& wait, TDrops& drops, bool& stop) {
  pollfd socket{FSocket.Get(), POLLIN, 0};
  stop = !wait(WaitDeadline(drops.NextDue()), {&socket, 1});
  if (!stop && socket.revents == 0) {
    if (const auto count = QueryDropCount())
      drops.BufferFull.Observe(*count);
  }
  return !stop && socket.revents != 0;
}

// Answers whether the batch was filled.
bool TUdpReceiver::ReceiveBatch(TReceiveBatch& batch, TPeerText& peer, TDrops& drops) {
  const int count = batch.Receive(FSocket.Get());
  if (count < 0) {
    // Collects a pending socket error, so that poll does not report it again and again.
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(FSocket.Get(), SOL_SOCKET, SO_ERROR, &error, &length);
    return false;
  }
  for (unsigned i = 0; i < static_cast<unsigned>(count); ++i) {
    if (const auto dropped = batch.DropCount(i))
      drops.BufferFull.Observe(*dropped);
    if (batch.Truncated(i))
      drops.TooLong.Add(1);
    else
      Deliver(batch, i, peer);
  }
  return static_cast<unsigned>(count) == batch.Slots();
}

void TUdpReceiver::Deliver(const TReceiveBatch& batch, unsigned index, TPeerText& peer) {
  try {
    FOnDatagram(batch.Datagram(index), peer.Of(batch.Sender(index)));
  } catch (...) {
    // A handler that fails loses its datagram, not the listener.
  }
}

void TUdpReceiver::ReportDue(TDrops& drops) {
  const auto now = TClock::now();
  Report(TDropReason::BufferFull, drops.BufferFull.TakeDue(now));
  Report(TDropReason::TooLong, drops.TooLong.TakeDue(now));
}

void TUdpReceiver::Tick(TDrops& drops) {
  if (!FOnTick)
    return;
  try {
    drops.NextTick = FOnTick(TClock::now());
  } catch (...) {
    drops.NextTick.reset(); // as with reports: lost, and the listener goes on
  }
}

void TUdpReceiver::Report(TDropReason reason, std::optional<std::uint64_t> count) {
  if (!count || !FOnDrops)
    return;
  try {
    FOnDrops(reason, *count);
  } catch (...) {
    // As with datagrams: the report is lost, the listener goes on.
  }
}

std::optional<std::uint32_t> TUdpReceiver::QueryDropCount() const {
  std::uint32_t memory[SK_MEMINFO_VARS] = {};
  socklen_t length = sizeof memory;
  if (::getsockopt(FSocket.Get(), SOL_SOCKET, SO_MEMINFO, memory, &length) != 0 ||
      length <= SK_MEMINFO_DROPS * sizeof(std::uint32_t))
    return std::nullopt;
  return memory[SK_MEMINFO_DROPS];
}

} // namespace ornavel
