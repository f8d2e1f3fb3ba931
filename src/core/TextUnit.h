#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ornavel {

// A text form that cannot be read; the message names the offending text or type.
class EConvertError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Removes leading and trailing bytes with codes up to 32 (blanks and control characters).
std::string_view Trim(std::string_view text);

// At most limit bytes of text, cut in front of a UTF-8 character it would split (a character has
// at most three continuation bytes).
std::string_view Utf8Prefix(std::string_view text, std::size_t limit);

// Compares ASCII letters without regard to case.
bool SameText(std::string_view a, std::string_view b);

// Reads a signed 32-bit integer: leading blanks, an optional sign, then decimal digits or
// hexadecimal ones after $, x, X, 0x or 0X. Hexadecimal numbers may use all 32 bits ($FF000008 is
// negative). Anything else, an empty number or an overflow gives no value.
std::optional<std::int32_t> TryStrToInt(std::string_view text);

// Reads a stored boolean: True, False, yes, no, on or off in any letter case, or a number (zero
// is false, any other number true). Anything else fails with
// "Could not convert variant of type (OleStr) into type (Boolean)", and what is accepted.
bool TextToBool(std::string_view text);
// The same, with no value for anything else.
std::optional<bool> TryTextToBool(std::string_view text);

} // namespace ornavel
