#pragma once

#include "WindowPlatformUnit.h"

#include <string>
#include <vector>

namespace ornavel {

// Runs Ornavel with its window on Qt's platform plugin of that name (empty: Qt's own choice)
// until the window is closed, Exit is chosen, or SIGINT or SIGTERM arrives.
// extraFiles are followed besides the listed ones, for this run only.
int RunWindow(const char* program, const std::string& platform,
              const std::vector<std::string>& extraFiles = {});

// Whether X11 and Wayland can be had here: Qt's plugin installed and the server answering, since
// Qt aborts the program where either fails.
TDisplayProbe InstalledDisplayProbe(const TSessionDisplays& session);

} // namespace ornavel
