#include "WindowPlatformUnit.h"

#include <cstdlib>

namespace ornavel {
namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

constexpr const char* NoWaylandPlugin =
    "Qt's Wayland platform plugin is not installed (Debian package qt6-wayland)";

} // namespace

TSessionDisplays SessionDisplays() {
  return {Variable("DISPLAY"), Variable("WAYLAND_DISPLAY"), Variable("QT_QPA_PLATFORM")};
}

TWindowPlatform ChooseWindowPlatform(const TSessionDisplays& session, const TDisplayProbe& probe) {
  const bool x = !session.XDisplay.empty();
  const bool wayland = !session.WaylandDisplay.empty();
  if (!session.UserPlatform.empty()) {
    // Qt aborts where the chosen platform cannot be had; for the two of a desktop we say why.
    if (session.UserPlatform.starts_with("wayland") && !probe.WaylandUsable())
      return {{}, std::string(NoWaylandPlugin) + ", or the Wayland display does not answer"};
    if (session.UserPlatform.starts_with("xcb") && !(x && probe.XUsable()))
      return {{},
              "The chosen platform " + session.UserPlatform +
                  " is X11, and no X server answers on DISPLAY"};
    return {session.UserPlatform, {}};
  }
  if (x && probe.XUsable())
    return {"xcb", {}};
  if (wayland && probe.WaylandUsable())
    return {"wayland", {}};
  if (x && wayland)
    return {{},
            "Neither the X server " + session.XDisplay + " nor the Wayland display " +
                session.WaylandDisplay + " can be used (" + NoWaylandPlugin + "?)"};
  if (x)
    return {{}, "The X server " + session.XDisplay + " does not answer"};
  if (wayland)
    return {{},
            "The Wayland display " + session.WaylandDisplay +
                " cannot be used, and there is no X server (DISPLAY): " + NoWaylandPlugin +
                ", or the display does not answer"};
  return {{}, "No display (neither DISPLAY nor WAYLAND_DISPLAY is set)"};
}

} // namespace ornavel
