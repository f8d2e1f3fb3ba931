#include "TextUnit.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

namespace ornavel {
namespace {

bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::optional<int> DigitValue(char c, unsigned base) {
  const auto lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower >= '0' && lower <= '9')
    return lower - '0';
  if (base == 16 && lower >= 'a' && lower <= 'f')
    return lower - 'a' + 10;
  return std::nullopt;
}

// Takes a hexadecimal prefix off the front of the digits and answers whether there was one.
bool TakeHexPrefix(std::string_view& digits) {
  for (std::string_view prefix : {"$", "0x", "0X", "x", "X"}) {
    if (digits.starts_with(prefix)) {
      digits.remove_prefix(prefix.size());
      return true;
    }
  }
  return false;
}

// A decimal number with an optional fraction and exponent, nothing around it but leading blanks.
std::optional<double> TryStrToFloat(std::string_view text) {
  while (!text.empty() && text.front() == ' ')
    text.remove_prefix(1);
  const bool shaped = !text.empty() && std::ranges::all_of(text, [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '+' || c == '-' ||
           c == 'e' || c == 'E';
  });
  if (!shaped)
    return std::nullopt;
  const std::string copy(text);
  char* end = nullptr;
  const double value = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size())
    return std::nullopt;
  return value;
}

} // namespace

std::string_view Trim(std::string_view text) {
  const auto first = std::find_if_not(text.begin(), text.end(), IsBlankOrControl);
  const auto last =
      std::find_if_not(text.rbegin(), std::make_reverse_iterator(first), IsBlankOrControl);
  return std::string_view(first, last.base());
}

std::string_view Utf8Prefix(std::string_view text, std::size_t limit) {
  std::size_t length = std::min(limit, text.size());
  for (int step = 0; step < 3 && length < text.size() && length > 0 &&
                     (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80;
       ++step)
    --length;
  return text.substr(0, length);
}

bool SameText(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

std::optional<std::int32_t> TryStrToInt(std::string_view text) {
  while (!text.empty() && text.front() == ' ')
    text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  const unsigned base = TakeHexPrefix(text) ? 16 : 10;
  if (text.empty())
    return std::nullopt;
  // Decimal numbers keep to the signed range; hexadecimal ones may fill all 32 bits.
  const std::uint64_t limit =
      base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  std::uint64_t value = 0;
  for (char c : text) {
    const auto digit = DigitValue(c, base);
    if (!digit)
      return std::nullopt;
    value = value * base + static_cast<unsigned>(*digit);
    if (value > limit)
      return std::nullopt;
  }
  const auto bits = static_cast<std::uint32_t>(negative ? 0 - value : value);
  return static_cast<std::int32_t>(bits);
}

std::optional<bool> TryTextToBool(std::string_view text) {
  for (std::string_view word : {"True", "yes", "on"}) {
    if (SameText(text, word))
      return true;
  }
  for (std::string_view word : {"False", "no", "off"}) {
    if (SameText(text, word))
      return false;
  }
  if (const auto number = TryStrToInt(text))
    return *number != 0;
  if (const auto number = TryStrToFloat(text))
    return *number != 0;
  return std::nullopt;
}

bool TextToBool(std::string_view text) {
  if (const auto value = TryTextToBool(text))
    return *value;
  throw EConvertError(
      "Could not convert variant of type (OleStr) into type (Boolean): a yes or no is True or "
      "False, yes or no, on or off, or a number");
}

} // namespace ornavel
