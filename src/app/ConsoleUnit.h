#pragma once

#include "core/LogUnit.h"

#include <string>
#include <string_view>
#include <vector>

namespace ornavel {

// Runs Ornavel without a window until SIGINT or SIGTERM; every kept line goes to standard output.
// extraFiles are followed besides the listed ones, for this run only.
int RunConsole(const std::vector<std::string>& extraFiles = {}, bool withSource = false);

// A line as the console shows it: control characters other than tab as \xNN, so that a network
// sender can never drive the terminal.
std::string ConsoleText(std::string_view text);
// The same, appended to shown.
void AppendConsoleText(std::string& shown, std::string_view text);

// The colour an item of that level and colour is drawn in, as the window draws it: red for
// warnings and exceptions.
constexpr TColor ShownConsoleColor(TLogLevel level, TColor color) {
  return IsAlarming(level) ? clRed : color;
}
// That colour as a terminal escape sequence (bold), or nothing for the terminal's own text colour.
std::string ConsoleColor(TColor shown);

} // namespace ornavel
