#pragma once

#include <string>
#include <vector>

namespace ornavel {

// Runs Ornavel with its window until the window is closed, Exit is chosen, or SIGINT or
// SIGTERM arrives.
// extraFiles are followed besides the listed ones, for this run only.
int RunWindow(int argc, char** argv, const std::vector<std::string>& extraFiles = {});

} // namespace ornavel
