#pragma once

namespace ornavel {

// Runs Ornavel with its window until the window is closed, Exit is chosen, or SIGINT or
// SIGTERM arrives.
int RunWindow(int argc, char** argv);

} // namespace ornavel
