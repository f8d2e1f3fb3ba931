#pragma once

#include "AppBarGeometryUnit.h"

#include <functional>
#include <memory>
#include <optional>

class QRect;
class QWidget;

namespace ornavel {

// The desktop's service for bars: reserving a strip of the screen, one auto-hiding bar per edge,
// and the news that the free space changed. Rectangles are in device pixels.
class TAppBarShell {
public:
  virtual ~TAppBarShell() = default;

  // Whether a bar can dock at all; where it cannot, every dock request answers floating.
  virtual bool CanDock() = 0;
  // Whether the program places the window, keeps it above others and makes it translucent; under
  // a Wayland compositor it does not, and the window moves only by the compositor's own move.
  virtual bool OwnsPlacement() = 0;
  // The work area without this bar's own strip, nor those of the bars that docked beside it.
  virtual TBarRect FreeArea() = 0;
  // Reserves r on the edge (a floating or unknown edge, or an empty r, reserves nothing) and makes
  // the window a desktop bar or an ordinary window accordingly.
  virtual void Reserve(TAppBarEdge edge, TBarRect r) = 0;
  // Claims the edge's auto-hide place; false when another bar holds it.
  virtual bool ClaimAutoHide(TAppBarEdge edge) = 0;
  virtual void ReleaseAutoHide(TAppBarEdge edge) = 0;
  // The first edge, in the desktop's order, whose auto-hide place this bar holds.
  virtual TAppBarEdge RegisteredAutoHideEdge() = 0;
  // Whether the window has an entry in the task bar.
  virtual void ShowTaskEntry(bool shown) = 0;
  // Whether the window stays above ordinary windows. Told to a shown window, and again each time
  // it is shown, since the window manager forgets the states of a window it unmaps.
  virtual void KeepAbove(bool above) = 0;
  // Returns once the window manager has let go of the hidden window, or has not within a moment:
  // a window shown again before that may stay unmapped, with the manager's unmapping after the
  // showing.
  virtual void AwaitWithdrawn() = 0;
  // Whether a mouse button is held, wherever the pointer is and whoever grabbed it.
  virtual bool ButtonHeld() = 0;
  // Asks for the keyboard as the user's own act (a click at that server time, or 0 for now):
  // some window managers give a desktop bar the keyboard only when asked so.
  virtual void TakeFocus(unsigned long userTime) = 0;
};

// What the desktop tells the bar on its own.
struct TAppBarShellEvents {
  std::function<void()> PosChanged;                 // the free space changed
  std::function<void(bool open)> FullScreenChanged; // a full-screen window became active or not
  // The user moved the window by the window manager's frame, which holds the keyboard meanwhile.
  std::function<void()> WindowManagerMoved;
};

// The desktop's service for the window: docking on X11 where the window manager reserves
// strips, floating only elsewhere (Wayland, offscreen, a window manager without strips).
// A rectangle of logical pixels in device pixels, each edge rounded.
TBarRect DeviceRect(const QRect& logical, double ratio);
// A rectangle of device pixels in logical pixels, its corner and its size rounded.
QRect LogicalRect(const TBarRect& device, double ratio);

std::unique_ptr<TAppBarShell> MakeAppBarShell(QWidget& window, TAppBarShellEvents events);
using TAppBarShellFactory =
    std::function<std::unique_ptr<TAppBarShell>(QWidget& window, TAppBarShellEvents events)>;
// Where the bar only floats; where the program does not own placement, the window system moves
// the window and decides its stacking and opacity.
std::unique_ptr<TAppBarShell> MakeFloatingShell(QWidget& window, bool ownsPlacement);

} // namespace ornavel
