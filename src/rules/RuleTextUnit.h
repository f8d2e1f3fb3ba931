#pragma once

#include "core/ColorUnit.h"
#include "core/SourceKindUnit.h"
#include "core/TextUnit.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ornavel {

// "mtFile,mtSyslog": the members present in ordinal order, comma-separated; empty set, empty text.
std::string MonitorTypesToString(TMonitorTypes types);
// Skips leading spaces and one "[", splits at spaces, commas and "]" and reads each word as a
// member name, ignoring case. Fails with "Invalid property element: %s".
TMonitorTypes StringToMonitorTypes(std::string_view text);

// The colour's name ("clRed") if it has one, else "$" and eight upper-case hex digits.
std::string ColorToString(TColor color);
// A name (any case) or an integer, decimal or hexadecimal after "$". Fails with
// "'%s' is not a valid integer value".
TColor StringToColor(std::string_view text);
std::optional<std::string_view> ColorName(TColor color);
std::optional<TColor> ColorFromName(std::string_view name);

// The pattern as the rules file holds it: bytes below 32 or from 128 on, and the characters
// space # % * + < > [ ] as "%" and two upper-case hex digits, everything else as it is.
std::string PercentEncode(std::string_view pattern);
// A "%" and two hex digits give one byte; every other character, a "%" without two hex digits
// after it among them, is copied.
std::string PercentDecode(std::string_view text);

// A regular expression that finds text as it stands: ASCII punctuation escaped, control
// characters as \xNN, other bytes as they are.
std::string LiteralRegExp(std::string_view text);
// A shell pattern that matches name alone: * ? [ and \ escaped.
std::string LiteralGlob(std::string_view name);

} // namespace ornavel
