#pragma once

#include "core/ColorUnit.h"
#include "core/MonitorTypeUnit.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ornavel {

// A text form that cannot be read; the message names the offending text.
class EConvertError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// "mtFile,mtSyslog": the members present in ordinal order, comma-separated; empty set, empty text.
std::string MonitorTypesToString(TMonitorTypes types);
// Skips leading spaces and one "[", splits at spaces, commas and "]" and reads each word as a
// member name, ignoring case. Fails with "Invalid property element: %s".
TMonitorTypes StringToMonitorTypes(std::string_view text);
std::string_view MonitorTypeName(TMonitorType type);

// The colour's name ("clRed") if it has one, else "$" and eight upper-case hex digits.
std::string ColorToString(TColor color);
// A name (any case) or an integer, decimal or hexadecimal after "$". Fails with
// "'%s' is not a valid integer value".
TColor StringToColor(std::string_view text);
std::optional<std::string_view> ColorName(TColor color);
std::optional<TColor> ColorFromName(std::string_view name);

} // namespace ornavel
