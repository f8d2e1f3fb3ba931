#include "AlertLimiterUnit.h"

#include "LogUnit.h"
#include "TextUnit.h"

#include <algorithm>

namespace ornavel {

std::optional<TAlertNotice> TAlertLimiter::Offer(const TLogAlert& alert, TClock::time_point now) {
  std::lock_guard lock(FLock);
  auto rule = FRules.find(alert.Rule);
  const bool first = rule == FRules.end();
  if (first)
    rule = FRules.emplace(std::string(alert.Rule), TRuleState{}).first;
  TRuleState& state = rule->second;
  // Counted alerts not yet told are folded into this notice.
  const std::size_t more = state.Waiting ? state.Waiting->More + 1 : 0;
  if (!first && now - state.Told < FInterval) {
    if (!state.Waiting)
      state.Waiting = TAlertNotice{rule->first, {}, 0, 0, 0};
    state.Waiting->Text.assign(Utf8Prefix(alert.Text, NoticeTextLimit));
    state.Waiting->Color = alert.Color;
    state.Waiting->Line = alert.Line;
    state.Waiting->More = more;
    return std::nullopt;
  }
  state.Told = now;
  state.Waiting.reset();
  return TAlertNotice{rule->first, std::string(Utf8Prefix(alert.Text, NoticeTextLimit)),
                      alert.Color, alert.Line, more};
}

std::vector<TAlertNotice> TAlertLimiter::TakeDue(TClock::time_point now) {
  std::lock_guard lock(FLock);
  std::vector<TAlertNotice> due;
  for (auto& [name, state] : FRules) {
    if (state.Waiting && now - state.Told >= FInterval) {
      due.push_back(std::move(*state.Waiting));
      state.Waiting.reset();
      state.Told = now;
    }
  }
  return due;
}

std::optional<TAlertLimiter::TClock::time_point> TAlertLimiter::NextDue() const {
  std::lock_guard lock(FLock);
  std::optional<TClock::time_point> next;
  for (const auto& [name, state] : FRules) {
    if (state.Waiting)
      next = std::min(next.value_or(TClock::time_point::max()), state.Told + FInterval);
  }
  return next;
}

} // namespace ornavel
