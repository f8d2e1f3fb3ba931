#pragma once

#include <functional>
#include <string>

namespace ornavel {

// What the session offers the window, read from the environment before Qt starts.
struct TSessionDisplays {
  std::string XDisplay;       // DISPLAY
  std::string WaylandDisplay; // WAYLAND_DISPLAY
  std::string UserPlatform;   // QT_QPA_PLATFORM or -platform: the user's own choice
};

// Whether the session's display can be had: its Qt plugin is installed and its server answers.
struct TDisplayProbe {
  std::function<bool()> XUsable;
  std::function<bool()> WaylandUsable;
};

// The platform the window runs on, or why there can be no window.
struct TWindowPlatform {
  std::string Platform; // given to Qt
  std::string Problem;  // when not empty, there is no window: the reason, for the console
};

// X11 wherever there is an X server, XWayland in a Wayland session included, since only there
// can the window stay on top, turn translucent and dock; native Wayland where there is none.
TWindowPlatform ChooseWindowPlatform(const TSessionDisplays& session, const TDisplayProbe& probe);

TSessionDisplays SessionDisplays();

} // namespace ornavel
