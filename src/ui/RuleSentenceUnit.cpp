#include "RuleSentenceUnit.h"

#include "core/FormatUnit.h"
#include "rules/PatternUnit.h"
#include "rules/RuleTextUnit.h"
#include "rules/RulesUnit.h"

namespace ornavel {
namespace {

constexpr std::string_view BreakTag = "<br>";
constexpr std::string_view LinkOpen = "<link param=";
constexpr std::string_view LinkClose = "</link>";

std::string NamePiece(const TRule& rule) {
  if (rule.Name().empty())
    return "Rule: <link param=name>Unnamed</link>";
  return Format("Rule: <link param=name>%s</link>", rule.Name());
}

// "files, syslog, eventlog or OutputDebugString" for all four, built the way one would by hand:
// the list with commas, then the last comma turned into " or".
std::string MonitorTypesText(TMonitorTypes types) {
  std::string text;
  for (const TSourceKind& kind : SourceKinds) {
    if (types.Contains(kind.Type)) {
      text += kind.SentenceText;
      text += ", ";
    }
  }
  if (text.empty())
    return "[click here to select monitor types]";
  text.resize(text.size() - 2);
  const auto comma = text.rfind(',');
  if (comma != std::string::npos) {
    text.erase(comma, 1);
    text.insert(text.rfind(' '), " or");
  }
  return text;
}

std::string ColorPiece(const TRule& rule) {
  std::string color = ColorToString(rule.Color());
  if (color.starts_with("cl"))
    color.erase(0, 2);
  return Format(" in color <link param=color>%s</link> and <link param=alert>%s</link>", color,
                rule.Alert() ? "alert me" : "don't alert me");
}

} // namespace

std::string RuleSentence(const TRule& rule) {
  std::string text = NamePiece(rule);
  text += rule.Active() ? " (<link param=active>active</link>)"
                        : " (<link param=active>inactive</link>)";
  text += "<br><br>";
  text += Format("If a line originating from <link param=monitortypes>%s</link>",
                 MonitorTypesText(rule.MonitorTypes()));
  text += rule.Source().empty()
              ? std::string(", <link param=source>from any source</link>,")
              : Format(", <link param=source>from sources like %s</link>,", rule.Source());
  const std::string pattern =
      rule.RegExp().empty() ? "[click here to change text]" : PercentEncode(rule.RegExp());
  text += Format(" contains <link param=regexp>%s</link>,", pattern);
  text += Format(" then <link param=logline>%s</link>", rule.LogLine() ? "log it" : "don't log it");
  text += rule.LogLine() ? ColorPiece(rule) : ".";
  return text;
}

std::optional<std::string> PatternProblem(const std::string& pattern) {
  if (pattern.empty())
    return std::nullopt;
  const TPattern compiled(pattern);
  if (compiled.Valid())
    return std::nullopt;
  try {
    compiled.Search({}); // an invalid pattern raises its compile message
  } catch (const EPatternError& failure) {
    return failure.what();
  }
  return std::nullopt;
}

std::vector<TMarkupPiece> ParseMarkup(std::string_view markup) {
  std::vector<TMarkupPiece> pieces;
  auto addText = [&](std::string_view text) {
    if (text.empty())
      return;
    if (pieces.empty() || pieces.back().Kind != TMarkupPiece::TKind::Text)
      pieces.push_back({});
    pieces.back().Text += text;
  };
  std::size_t at = 0;
  while (at < markup.size()) {
    const std::string_view rest = markup.substr(at);
    if (rest.starts_with(BreakTag)) {
      pieces.push_back({TMarkupPiece::TKind::Break, {}, {}});
      at += BreakTag.size();
      continue;
    }
    if (rest.starts_with(LinkOpen)) {
      const auto paramEnd = rest.find('>');
      const auto close = rest.find(LinkClose);
      if (paramEnd != std::string_view::npos && close != std::string_view::npos &&
          paramEnd < close) {
        pieces.push_back({TMarkupPiece::TKind::Link,
                          std::string(rest.substr(paramEnd + 1, close - paramEnd - 1)),
                          std::string(rest.substr(LinkOpen.size(), paramEnd - LinkOpen.size()))});
        at += close + LinkClose.size();
        continue;
      }
    }
    const auto next = rest.find('<', 1);
    const std::size_t length = next == std::string_view::npos ? rest.size() : next;
    addText(rest.substr(0, length));
    at += length;
  }
  return pieces;
}

} // namespace ornavel
