#include "RuleTextUnit.h"

#include "core/FormatUnit.h"
#include "core/TextUnit.h"

#include <array>
#include <cctype>
#include <utility>

namespace ornavel {
namespace {

struct TColorName {
  TColor Color;
  std::string_view Name;
};

constexpr std::array<TColorName, 52> ColorNames{{
    {clBlack, "clBlack"},
    {clMaroon, "clMaroon"},
    {clGreen, "clGreen"},
    {clOlive, "clOlive"},
    {clNavy, "clNavy"},
    {clPurple, "clPurple"},
    {clTeal, "clTeal"},
    {clGray, "clGray"},
    {clSilver, "clSilver"},
    {clRed, "clRed"},
    {clLime, "clLime"},
    {clYellow, "clYellow"},
    {clBlue, "clBlue"},
    {clFuchsia, "clFuchsia"},
    {clAqua, "clAqua"},
    {clWhite, "clWhite"},
    {clMoneyGreen, "clMoneyGreen"},
    {clSkyBlue, "clSkyBlue"},
    {clCream, "clCream"},
    {clMedGray, "clMedGray"},
    {clActiveBorder, "clActiveBorder"},
    {clActiveCaption, "clActiveCaption"},
    {clAppWorkSpace, "clAppWorkSpace"},
    {clBackground, "clBackground"},
    {clBtnFace, "clBtnFace"},
    {clBtnHighlight, "clBtnHighlight"},
    {clBtnShadow, "clBtnShadow"},
    {clBtnText, "clBtnText"},
    {clCaptionText, "clCaptionText"},
    {clDefault, "clDefault"},
    {clGradientActiveCaption, "clGradientActiveCaption"},
    {clGradientInactiveCaption, "clGradientInactiveCaption"},
    {clGrayText, "clGrayText"},
    {clHighlight, "clHighlight"},
    {clHighlightText, "clHighlightText"},
    {clHotLight, "clHotLight"},
    {clInactiveBorder, "clInactiveBorder"},
    {clInactiveCaption, "clInactiveCaption"},
    {clInactiveCaptionText, "clInactiveCaptionText"},
    {clInfoBk, "clInfoBk"},
    {clInfoText, "clInfoText"},
    {clMenu, "clMenu"},
    {clMenuBar, "clMenuBar"},
    {clMenuHighlight, "clMenuHighlight"},
    {clMenuText, "clMenuText"},
    {clNone, "clNone"},
    {clScrollBar, "clScrollBar"},
    {cl3DDkShadow, "cl3DDkShadow"},
    {cl3DLight, "cl3DLight"},
    {clWindow, "clWindow"},
    {clWindowFrame, "clWindowFrame"},
    {clWindowText, "clWindowText"},
}};

bool IsMonitorTypeBreak(char c) {
  return c == ' ' || c == ',' || c == ']';
}

std::optional<unsigned> HexValue(std::string_view digits) {
  if (digits.empty())
    return std::nullopt;
  unsigned value = 0;
  for (char digit : digits) {
    const auto code = static_cast<unsigned char>(digit);
    if (!std::isxdigit(code))
      return std::nullopt;
    value = value * 16 +
            static_cast<unsigned>(std::isdigit(code) ? code - '0' : std::tolower(code) - 'a' + 10);
  }
  return value;
}

TMonitorType MonitorTypeFromName(std::string_view word) {
  for (const TSourceKind& kind : SourceKinds) {
    if (SameText(word, kind.RulesText))
      return kind.Type;
  }
  throw EConvertError(Format("Invalid property element: %s", word));
}

} // namespace

std::string MonitorTypesToString(TMonitorTypes types) {
  std::string text;
  for (const TSourceKind& kind : SourceKinds) {
    if (!types.Contains(kind.Type))
      continue;
    if (!text.empty())
      text += ',';
    text += kind.RulesText;
  }
  return text;
}

TMonitorTypes StringToMonitorTypes(std::string_view text) {
  while (!text.empty() && text.front() == ' ')
    text.remove_prefix(1);
  if (!text.empty() && text.front() == '[')
    text.remove_prefix(1);
  TMonitorTypes types;
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (IsMonitorTypeBreak(text[pos])) {
      ++pos;
      continue;
    }
    std::size_t end = pos;
    while (end < text.size() && !IsMonitorTypeBreak(text[end]))
      ++end;
    types.Include(MonitorTypeFromName(text.substr(pos, end - pos)));
    pos = end;
  }
  return types;
}

std::optional<std::string_view> ColorName(TColor color) {
  for (const auto& entry : ColorNames) {
    if (entry.Color == color)
      return entry.Name;
  }
  return std::nullopt;
}

std::optional<TColor> ColorFromName(std::string_view name) {
  for (const auto& entry : ColorNames) {
    if (SameText(entry.Name, name))
      return entry.Color;
  }
  return std::nullopt;
}

std::string ColorToString(TColor color) {
  if (const auto name = ColorName(color))
    return std::string(*name);
  return Format("$%.8x", static_cast<std::uint32_t>(color));
}

TColor StringToColor(std::string_view text) {
  if (const auto named = ColorFromName(text))
    return *named;
  if (const auto number = TryStrToInt(text))
    return *number;
  throw EConvertError(Format("'%s' is not a valid integer value", text));
}

std::string PercentEncode(std::string_view pattern) {
  constexpr std::string_view Escaped = " #%*+<>[]";
  std::string text;
  text.reserve(pattern.size());
  for (char c : pattern) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 32 || code > 127 || Escaped.find(c) != std::string_view::npos)
      text += Format("%%%.2x", code);
    else
      text += c;
  }
  return text;
}

std::string PercentDecode(std::string_view text) {
  std::string pattern;
  pattern.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    if (text[pos] != '%') {
      pattern += text[pos++];
      continue;
    }
    // A % typed by hand, without two hex digits after it, stands for itself.
    const std::string_view digits = text.substr(pos + 1, 2);
    const auto code = digits.size() == 2 ? HexValue(digits) : std::nullopt;
    if (code) {
      pattern += static_cast<char>(*code);
      pos += 3;
    } else {
      pattern += text[pos++];
    }
  }
  return pattern;
}

std::string LiteralRegExp(std::string_view text) {
  std::string pattern;
  pattern.reserve(text.size() + text.size() / 4);
  for (const char character : text) {
    const auto byte = static_cast<unsigned char>(character);
    if (byte < 0x20 || byte == 0x7f) {
      pattern += Format("\\x%.2x", byte);
      continue;
    }
    if (byte < 0x80 && byte != ' ' && !std::isalnum(byte))
      pattern += '\\';
    pattern += character;
  }
  return pattern;
}

std::string LiteralGlob(std::string_view name) {
  std::string pattern;
  for (const char character : name) {
    if (std::string_view("*?[\\").find(character) != std::string_view::npos)
      pattern += '\\';
    pattern += character;
  }
  return pattern;
}

} // namespace ornavel
