#pragma once

#include "ChildProcessUnit.h"
#include "TestSupport.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

struct xcb_connection_t;

namespace ornavel::test {

// Where a framed top-level window sits: the frame's top-left corner on the screen, and the size
// of the window inside the frame.
struct TFrameGeometry {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  bool operator==(const TFrameGeometry&) const = default;
};
void PrintTo(const TFrameGeometry& geometry, std::ostream* out);

// A test on a real X server (Xvfb, 1280 x 1024) with a real window manager, both started for the
// test on a free display: openbox, or the one ORNAVEL_WINDOW_MANAGER names (xfwm4, icewm,
// kwin_x11; or kwin_wayland or mutter, each with its own XWayland in place of Xvfb). The test is
// skipped, saying why, when either cannot start. The window manager is stopped first, then
// the server, however the test ends. A fixture that overrides SetUp calls this one first and
// returns when IsSkipped().
class TX11Session : public testing::Test {
public:
  static constexpr int ScreenWidth = 1280;
  static constexpr int ScreenHeight = 1024;

protected:
  TX11Session();
  ~TX11Session() override;
  void SetUp() override;

  // ":N", for a client's DISPLAY.
  const std::string& Display() const { return FDisplay; }
  // The environment of a program in this session as a user's login sets it: the X display and,
  // under a compositor, its Wayland display and runtime folder.
  std::vector<std::string> SessionEnvironment() const;
  bool UnderCompositor() const { return !FWaylandDisplay.empty(); }
  static std::string WindowManagerName();
  // Monitors side by side, each of the screen's size, the left one primary: ORNAVEL_X11_MONITORS,
  // 1 unless set; more than one need a Wayland compositor.
  static int Monitors();
  // The work area as the window manager first published it, without our windows: the screen
  // less the window manager's own panels.
  const TFrameGeometry& StartingWorkArea() const { return FStartingWorkArea; }
  // The whole screen while the window manager has published none.
  TFrameGeometry CurrentWorkArea();

  // The top-level window of the process once the window manager has framed and shown it, or
  // 0 when none comes within the test's patience.
  std::uint32_t WaitForWindow(int pid);
  // Nothing while the window is not framed by the window manager.
  std::optional<TFrameGeometry> Frame(std::uint32_t window);
  // The window's own rectangle on the screen, frame left out, while it is shown.
  std::optional<TFrameGeometry> Inside(std::uint32_t window);
  std::uint32_t Root() const { return FRoot; }
  std::uint32_t Atom(const std::string& name);
  // The 32-bit values of a window's property (_NET_WORKAREA of Root(), for example); none when
  // it is missing or holds other data.
  std::vector<std::uint32_t> Property(std::uint32_t window, const std::string& property);
  // Whether the window's _NET_WM_STATE lists the state, such as "_NET_WM_STATE_ABOVE".
  bool HasState(std::uint32_t window, const std::string& state);
  // The window's _NET_WM_WINDOW_OPACITY as a fraction; 1 (opaque) when it has none.
  double Opacity(std::uint32_t window);
  // The window that has the keyboard: the window manager may count a window active before,
  // or without, giving it the keyboard.
  std::uint32_t InputFocus();
  // Whether one of the process's override-redirect windows (its popup menu) is shown.
  bool PopupShown(int pid);
  // The colour shown on the screen at a point, as 0xRRGGBB.
  std::uint32_t PixelAt(int x, int y);

  // Requests to the window manager, as a pager or the user's own commands send them.
  void MoveFrameTo(std::uint32_t window, int left, int top);
  void ResizeTo(std::uint32_t window, int width, int height);
  void CloseByWindowManager(std::uint32_t window);
  void Maximise(std::uint32_t window);
  // The window that owns the selection, 0 when none does.
  std::uint32_t SelectionOwner(const std::string& selection);

  // Runs xdotool with these arguments on the session's display (mouse and keys, as the user's).
  void Xdotool(const std::vector<std::string>& arguments);

  // Waits until done() holds, looking every few milliseconds; answers done's last answer.
  static bool WaitUntil(const std::function<bool()>& done,
                        std::chrono::milliseconds timeout = Patience);

private:
  std::string Start();
  std::string StartServer();
  std::string StartCompositor(const std::vector<std::string>& compositor,
                              const std::vector<std::string>& environment);
  bool Connect();
  std::optional<std::string> FirstLine(TChildProcess& helper);
  void SendToRoot(std::uint32_t window, const std::string& message,
                  const std::vector<std::uint32_t>& data);
  void Stop();

  struct TDisconnect {
    void operator()(xcb_connection_t* connection) const;
  };

  // The session's XDG_RUNTIME_DIR and configuration, and where a compositor's copy lives.
  test::TTemporaryFolder FRuntime;
  std::string FXdotool;
  std::string FDisplay;
  std::string FWaylandDisplay;
  // Declared in the order of starting, so that the connection ends first, then the window manager,
  // its session bus and the server.
  std::unique_ptr<TChildProcess> FServer;
  std::unique_ptr<TChildProcess> FBus;
  std::unique_ptr<TChildProcess> FWindowManager;
  std::unique_ptr<xcb_connection_t, TDisconnect> FConnection;
  std::uint32_t FRoot = 0;
  TFrameGeometry FStartingWorkArea;
};

} // namespace ornavel::test
