#pragma once

#include <array>
#include <concepts>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ornavel {

// A format whose directives do not fit its arguments.
class EFormatError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

template <class T>
concept FormatInteger = std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, char>;

// One argument of Format: text or an integer, remembering its width for %u and %x.
class TFormatArg {
public:
  enum class TKind { Text, Signed, Unsigned };

  TFormatArg(std::string_view text) : FKind(TKind::Text), FText(text) {}
  TFormatArg(const std::string& text) : TFormatArg(std::string_view(text)) {}
  TFormatArg(const char* text) : TFormatArg(std::string_view(text ? text : "")) {}
  template <FormatInteger T>
  TFormatArg(T value)
      : FKind(std::signed_integral<T> ? TKind::Signed : TKind::Unsigned),
        FValue(static_cast<std::uint64_t>(value)), FBits(sizeof(T) * 8) {}

  TKind Kind() const { return FKind; }
  std::string_view Text() const { return FText; }
  std::int64_t Signed() const { return static_cast<std::int64_t>(FValue); }
  // The value as its own width's unsigned number, as %u and %x show it.
  std::uint64_t Unsigned() const { return FBits >= 64 ? FValue : FValue & ((1ULL << FBits) - 1); }

private:
  TKind FKind;
  std::string_view FText;
  std::uint64_t FValue = 0;
  unsigned FBits = 0;
};

// printf-like formatting with %s, %d, %u, %x (upper-case hex) and %%, each optionally with a
// '-' flag, a width and a precision. Inserted text is copied as is, never read as a format.
// A directive without an argument, an argument without a directive or a directive of the wrong
// kind raises EFormatError.
std::string FormatArgs(std::string_view format, std::span<const TFormatArg> args);

template <class... A>
std::string Format(std::string_view format, const A&... args) {
  const std::array<TFormatArg, sizeof...(A)> list{TFormatArg(args)...};
  return FormatArgs(format, list);
}

} // namespace ornavel
