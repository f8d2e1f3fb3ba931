#pragma once

#include "ColorUnit.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ornavel {

struct TLogAlert;

// What one or more alerts of a rule tell the user: the newest line, and how many came before it
// since the rule last told anything.
struct TAlertNotice {
  std::string Rule;
  std::string Text; // at most NoticeTextLimit bytes of the line
  TColor Color = 0;
  std::uint64_t Line = 0;
  std::size_t More = 0;
};

inline constexpr std::size_t NoticeTextLimit = 1024;

// At most one notice per rule per interval, however many alerts come: an alert within the
// interval of its rule's last notice is counted, and the newest of those is told when the
// interval ends. Memory stays one notice per rule. Any thread may offer.
class TAlertLimiter {
public:
  using TClock = std::chrono::steady_clock;

  explicit TAlertLimiter(TClock::duration interval) : FInterval(interval) {}

  // The notice to give now, if the alert's rule may give one.
  std::optional<TAlertNotice> Offer(const TLogAlert& alert, TClock::time_point now);
  // The notices of the counted alerts whose interval has ended by now.
  std::vector<TAlertNotice> TakeDue(TClock::time_point now);
  // When the first counted alert falls due, if one waits.
  std::optional<TClock::time_point> NextDue() const;

private:
  struct TRuleState {
    TClock::time_point Told;
    std::optional<TAlertNotice> Waiting;
  };

  const TClock::duration FInterval;
  mutable std::mutex FLock;
  std::map<std::string, TRuleState, std::less<>> FRules;
};

} // namespace ornavel
