#pragma once

#include <string>
#include <string_view>

namespace ornavel {

// Runs Ornavel without a window until SIGINT or SIGTERM; every kept line goes to standard output.
int RunConsole();

// A line as the console shows it: control characters other than tab as \xNN.
std::string ConsoleText(std::string_view text);

} // namespace ornavel
