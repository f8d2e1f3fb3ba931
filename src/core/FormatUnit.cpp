#include "FormatUnit.h"

#include <cctype>
#include <optional>

namespace ornavel {
namespace {

struct TDirective {
  bool LeftJustify = false;
  std::size_t Width = 0;
  std::optional<std::size_t> Precision;
  char Type = 0;
};

class TFormatter {
public:
  TFormatter(std::string_view format, std::span<const TFormatArg> args)
      : FFormat(format), FArgs(args) {}

  std::string Run() {
    while (FPos < FFormat.size()) {
      const auto percent = FFormat.find('%', FPos);
      FOut.append(FFormat.substr(FPos, percent - FPos));
      if (percent == std::string_view::npos)
        break;
      FPos = percent + 1;
      if (FPos < FFormat.size() && FFormat[FPos] == '%') {
        FOut += '%';
        ++FPos;
        continue;
      }
      Append(ParseDirective());
    }
    if (FNextArg != FArgs.size())
      throw EFormatError("Too many arguments for format '" + std::string(FFormat) + "'");
    return std::move(FOut);
  }

private:
  [[noreturn]] void Invalid() const {
    throw EFormatError("Format '" + std::string(FFormat) +
                       "' invalid or incompatible with argument");
  }

  std::size_t ParseNumber() {
    std::size_t value = 0;
    while (FPos < FFormat.size() && std::isdigit(static_cast<unsigned char>(FFormat[FPos]))) {
      value = value * 10 + static_cast<std::size_t>(FFormat[FPos++] - '0');
      if (value > 4096)
        Invalid();
    }
    return value;
  }

  TDirective ParseDirective() {
    TDirective directive;
    if (FPos < FFormat.size() && FFormat[FPos] == '-') {
      directive.LeftJustify = true;
      ++FPos;
    }
    directive.Width = ParseNumber();
    if (FPos < FFormat.size() && FFormat[FPos] == '.') {
      ++FPos;
      directive.Precision = ParseNumber();
    }
    if (FPos >= FFormat.size())
      Invalid();
    directive.Type = static_cast<char>(std::tolower(static_cast<unsigned char>(FFormat[FPos++])));
    return directive;
  }

  const TFormatArg& NextArg() {
    if (FNextArg >= FArgs.size())
      throw EFormatError("No argument for format '" + std::string(FFormat) + "'");
    return FArgs[FNextArg++];
  }

  std::string Convert(const TDirective& directive, const TFormatArg& arg) const {
    using TKind = TFormatArg::TKind;
    switch (directive.Type) {
    case 's': {
      if (arg.Kind() != TKind::Text)
        Invalid();
      const auto text = arg.Text();
      return std::string(text.substr(0, directive.Precision.value_or(text.size())));
    }
    case 'd':
      if (arg.Kind() == TKind::Text)
        Invalid();
      if (arg.Kind() == TKind::Unsigned)
        return Digits(std::to_string(arg.Unsigned()), directive);
      if (arg.Signed() < 0) {
        std::string negative(1, '-');
        negative += Digits(std::to_string(0 - static_cast<std::uint64_t>(arg.Signed())), directive);
        return negative;
      }
      return Digits(std::to_string(arg.Signed()), directive);
    case 'u':
      if (arg.Kind() == TKind::Text)
        Invalid();
      return Digits(std::to_string(arg.Unsigned()), directive);
    case 'x':
      if (arg.Kind() == TKind::Text)
        Invalid();
      return Digits(Hex(arg.Unsigned()), directive);
    default:
      Invalid();
    }
  }

  // The precision of an integer directive is its least number of digits.
  static std::string Digits(std::string digits, const TDirective& directive) {
    const auto least = directive.Precision.value_or(0);
    if (digits.size() < least)
      digits.insert(0, least - digits.size(), '0');
    return digits;
  }

  static std::string Hex(std::uint64_t value) {
    std::string digits;
    do {
      digits.insert(digits.begin(), "0123456789ABCDEF"[value & 0xF]);
      value >>= 4;
    } while (value != 0);
    return digits;
  }

  void Append(const TDirective& directive) {
    const std::string text = Convert(directive, NextArg());
    const auto padding = directive.Width > text.size() ? directive.Width - text.size() : 0;
    if (!directive.LeftJustify)
      FOut.append(padding, ' ');
    FOut += text;
    if (directive.LeftJustify)
      FOut.append(padding, ' ');
  }

  std::string_view FFormat;
  std::span<const TFormatArg> FArgs;
  std::size_t FPos = 0;
  std::size_t FNextArg = 0;
  std::string FOut;
};

} // namespace

std::string FormatArgs(std::string_view format, std::span<const TFormatArg> args) {
  return TFormatter(format, args).Run();
}

} // namespace ornavel
