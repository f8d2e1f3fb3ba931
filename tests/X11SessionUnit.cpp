#include "X11SessionUnit.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <xcb/xcb.h>

namespace ornavel::test {
namespace {

using namespace std::chrono_literals;

struct TFree {
  void operator()(void* reply) const { std::free(reply); }
};
template <class T>
using TReply = std::unique_ptr<T, TFree>;

// Stops a helper program politely, then for good.
void Stop(std::unique_ptr<TChildProcess>& program) {
  if (!program)
    return;
  program->Signal(SIGTERM);
  program->Wait(5s);
  program.reset();
}

// The command, run so that it is killed when the test's process ends without stopping it.
std::vector<std::string> TiedToThisProcess(std::vector<std::string> command) {
  static const std::string tie = FindOnPath("setpriv");
  if (!tie.empty())
    command.insert(command.begin(), {tie, "--pdeathsig", "KILL", "--"});
  return command;
}

// The window managers the session can run, each as its desktop starts it; xfwm4 and the
// compositors need a session bus, and GTK's accessibility bus would outlive it. kwin_x11 runs
// without one: on a bus it waits for KDE's global shortcuts service, which does not start. A
// Wayland compositor starts XWayland itself, with one monitor or more side by side, and runs a
// command that writes the environment its clients get: the display and the cookie a client needs.
struct TWindowManager {
  std::vector<std::string> Command;
  bool NeedsBus = false;
  bool Compositor = false;
  // KWin publishes the work area only once a client asks for a strip.
  bool PublishesWorkArea = true;
};
// KWin's top-left corner shows all windows, taking a press that comes at once after the pointer
// reaches a bar docked there, as a synthetic drag's does.
void WithoutKWinHotCorner(const std::string& runtime) {
  std::filesystem::create_directories(runtime + "/config");
  WriteFile(runtime + "/config/kwinrc",
            "[Effect-overview]\nBorderActivate=9\n\n[Effect-windowview]\nBorderActivateAll=9\n\n"
            "[ElectricBorders]\nTopLeft=None\n");
}

TWindowManager WindowManager(const std::string& name, int monitors, const std::string& runtime) {
  if (name.starts_with("kwin"))
    WithoutKWinHotCorner(runtime);
  const std::string size =
      std::to_string(TX11Session::ScreenWidth) + "x" + std::to_string(TX11Session::ScreenHeight);
  if (name == "xfwm4")
    return {{"xfwm4", "--sm-client-disable"}, true};
  if (name == "icewm")
    return {{"icewm"}};
  if (name == "kwin_x11")
    return {{"kwin_x11", "--replace"}, false, false, false};
  if (name == "kwin_wayland") {
    // A copy without the file capability the installed binary carries, which a process that may
    // gain no privileges cannot run; KWin takes its own platform only under its own name.
    const std::string installed = FindOnPath("kwin_wayland");
    const std::string copy = runtime + "/kwin_wayland";
    if (installed.empty())
      return {{"kwin_wayland"}};
    std::filesystem::copy_file(installed, copy);
    return {{copy, "--virtual", "--output-count", std::to_string(monitors), "--width",
             std::to_string(TX11Session::ScreenWidth), "--height",
             std::to_string(TX11Session::ScreenHeight), "--xwayland", "--socket", "ornavel-test",
             "--", FindOnPath("printenv")},
            true,
            true,
            false};
  }
  if (name == "mutter") {
    std::vector<std::string> command{"mutter", "--headless", "--wayland", "--wayland-display",
                                     "ornavel-test"};
    for (int monitor = 0; monitor < monitors; ++monitor)
      command.insert(command.end(), {"--virtual-monitor", size});
    // mutter ends with its command.
    command.insert(command.end(), {"--", "/bin/sh", "-c",
                                   "printenv; exec setpriv --pdeathsig KILL -- "
                                   "sleep infinity"});
    return {command, true, true};
  }
  return {{"openbox", "--sm-disable"}};
}

} // namespace

int TX11Session::Monitors() {
  const char* chosen = std::getenv("ORNAVEL_X11_MONITORS");
  return chosen != nullptr && std::atoi(chosen) > 1 ? std::atoi(chosen) : 1;
}

std::string TX11Session::WindowManagerName() {
  const char* chosen = std::getenv("ORNAVEL_WINDOW_MANAGER");
  return chosen != nullptr && *chosen != '\0' ? chosen : "openbox";
}

void PrintTo(const TFrameGeometry& geometry, std::ostream* out) {
  *out << "frame at (" << geometry.Left << "," << geometry.Top << "), inside " << geometry.Width
       << " x " << geometry.Height;
}

void TX11Session::TDisconnect::operator()(xcb_connection_t* connection) const {
  xcb_disconnect(connection);
}

TX11Session::TX11Session() = default;

TX11Session::~TX11Session() {
  Stop();
}

void TX11Session::Stop() {
  FConnection.reset();
  test::Stop(FWindowManager);
  test::Stop(FBus);
  test::Stop(FServer);
}

void TX11Session::SetUp() {
  const std::string failure = Start();
  if (!failure.empty()) {
    Stop();
    GTEST_SKIP() << "No X server with a window manager for this test: " << failure;
  }
}

// The reason when the session cannot start, or nothing.
std::string TX11Session::Start() {
  const std::string manager = WindowManagerName();
  TWindowManager command = WindowManager(manager, Monitors(), FRuntime.Path());
  if (!command.Command[0].starts_with('/'))
    command.Command[0] = FindOnPath(command.Command[0]);
  const std::string bus = command.NeedsBus ? FindOnPath("dbus-daemon") : std::string();
  if (command.Command[0].empty() || (command.NeedsBus && bus.empty()))
    return manager + " is not installed";
  if (Monitors() > 1 && !command.Compositor)
    return "several monitors need a Wayland compositor (kwin_wayland, mutter)";
  FXdotool = FindOnPath("xdotool");
  if (FXdotool.empty())
    return "xdotool is not installed";
  std::vector<std::string> environment{"XDG_RUNTIME_DIR=" + FRuntime.Path(),
                                       "XDG_CONFIG_HOME=" + FRuntime.File("config")};
  if (!command.Compositor) {
    if (const std::string failure = StartServer(); !failure.empty())
      return failure;
    environment.push_back("DISPLAY=" + FDisplay);
  }
  // Without a display of its own, so that no service it starts outlives it on our display.
  if (command.NeedsBus) {
    FBus = std::make_unique<TChildProcess>(
        TiedToThisProcess({bus, "--session", "--nofork", "--print-address=1"}),
        std::vector<std::string>{"DISPLAY="});
    const std::optional<std::string> address = FirstLine(*FBus);
    if (!address)
      return "dbus-daemon did not start: " + FBus->Errors();
    environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + *address);
    environment.emplace_back("NO_AT_BRIDGE=1");
  }
  if (command.Compositor) {
    if (const std::string failure = StartCompositor(command.Command, environment); !failure.empty())
      return failure;
  } else {
    FWindowManager =
        std::make_unique<TChildProcess>(TiedToThisProcess(command.Command), environment);
  }
  // The window manager is ready once it has published the work area and its support for struts
  // (xfwm4 does the second about 0.2 s after the first).
  const auto ready = [&] {
    const std::vector<std::uint32_t> supported = Property(FRoot, "_NET_SUPPORTED");
    return (!command.PublishesWorkArea || Property(FRoot, "_NET_WORKAREA").size() >= 4) &&
           std::ranges::find(supported, Atom("_NET_WM_STRUT_PARTIAL")) != supported.end();
  };
  if (!WaitUntil([&] { return ready() || !FWindowManager->Running(); }) || !ready())
    return manager + " did not start: " + FWindowManager->Errors();
  FStartingWorkArea = CurrentWorkArea();
  return {};
}

// Xvfb, on a display it picks itself.
std::string TX11Session::StartServer() {
  const std::string server = FindOnPath("Xvfb");
  if (server.empty())
    return "Xvfb is not installed (Debian package xvfb)";
  // The server writes the display's number on standard output.
  FServer = std::make_unique<TChildProcess>(
      TiedToThisProcess({server, "-displayfd", "1", "-nolisten", "tcp", "-screen", "0",
                         std::to_string(ScreenWidth) + "x" + std::to_string(ScreenHeight) + "x24"}),
      std::vector<std::string>{});
  const std::optional<std::string> display = FirstLine(*FServer);
  if (!display)
    return "Xvfb did not start: " + FServer->Errors();
  FDisplay = ":" + *display;
  if (!Connect())
    return "cannot connect to Xvfb on " + FDisplay;
  return {};
}

// The compositor, whose command writes its clients' environment among the compositor's own output.
// Our clients inherit the cookie.
std::vector<std::string> TX11Session::SessionEnvironment() const {
  return {"DISPLAY=" + FDisplay, "WAYLAND_DISPLAY=" + FWaylandDisplay,
          "XDG_RUNTIME_DIR=" + FRuntime.Path(),
          FWaylandDisplay.empty() ? "XDG_SESSION_TYPE=x11" : "XDG_SESSION_TYPE=wayland"};
}

std::string TX11Session::StartCompositor(const std::vector<std::string>& compositor,
                                         const std::vector<std::string>& environment) {
  std::vector<std::string> withoutX = environment;
  withoutX.insert(withoutX.end(), {"DISPLAY=", "WAYLAND_DISPLAY="});
  FWindowManager = std::make_unique<TChildProcess>(TiedToThisProcess(compositor), withoutX);
  const auto value = [this](const std::string& name) {
    for (const std::string& line : FWindowManager->OutputLines())
      if (line.starts_with(name + "="))
        return line.substr(name.size() + 1);
    return std::string();
  };
  WaitUntil([&] { return !value("DISPLAY").empty() || !FWindowManager->Running(); });
  FDisplay = value("DISPLAY");
  if (FDisplay.empty())
    return "the compositor told no display: " + FWindowManager->Errors();
  FWaylandDisplay = value("WAYLAND_DISPLAY");
  if (const std::string cookie = value("XAUTHORITY"); !cookie.empty())
    setenv("XAUTHORITY", cookie.c_str(), 1);
  if (!Connect())
    return "cannot connect to XWayland on " + FDisplay;
  return {};
}

bool TX11Session::Connect() {
  FConnection.reset(xcb_connect(FDisplay.c_str(), nullptr));
  if (xcb_connection_has_error(FConnection.get()) != 0)
    return false;
  FRoot = xcb_setup_roots_iterator(xcb_get_setup(FConnection.get())).data->root;
  return true;
}

// The first line a helper writes on standard output (a display, a bus address), or nothing when
// it ends or keeps silent first.
std::optional<std::string> TX11Session::FirstLine(TChildProcess& helper) {
  const bool silent = !WaitUntil(
      [&] { return helper.Output().find('\n') != std::string::npos || !helper.Running(); });
  const std::vector<std::string> lines = helper.OutputLines();
  if (silent || lines.empty())
    return std::nullopt;
  return lines.front();
}

TFrameGeometry TX11Session::CurrentWorkArea() {
  const std::vector<std::uint32_t> area = Property(FRoot, "_NET_WORKAREA");
  if (area.size() < 4)
    return {0, 0, ScreenWidth * Monitors(), ScreenHeight};
  return {static_cast<int>(area[0]), static_cast<int>(area[1]), static_cast<int>(area[2]),
          static_cast<int>(area[3])};
}

bool TX11Session::WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto giveUp = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < giveUp) {
    if (done())
      return true;
    std::this_thread::sleep_for(5ms);
  }
  return done();
}

std::uint32_t TX11Session::Atom(const std::string& name) {
  const TReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
      FConnection.get(),
      xcb_intern_atom(FConnection.get(), 0, static_cast<std::uint16_t>(name.size()), name.data()),
      nullptr));
  return reply ? reply->atom : std::uint32_t{XCB_ATOM_NONE};
}

std::vector<std::uint32_t> TX11Session::Property(std::uint32_t window,
                                                 const std::string& property) {
  const TReply<xcb_get_property_reply_t> reply(
      xcb_get_property_reply(FConnection.get(),
                             xcb_get_property(FConnection.get(), 0, window, Atom(property),
                                              XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
                             nullptr));
  if (!reply || reply->format != 32)
    return {};
  const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
  return {values, values + xcb_get_property_value_length(reply.get()) / 4};
}

bool TX11Session::HasState(std::uint32_t window, const std::string& state) {
  const std::vector<std::uint32_t> states = Property(window, "_NET_WM_STATE");
  return std::find(states.begin(), states.end(), Atom(state)) != states.end();
}

double TX11Session::Opacity(std::uint32_t window) {
  const std::vector<std::uint32_t> opacity = Property(window, "_NET_WM_WINDOW_OPACITY");
  return opacity.size() == 1 ? opacity[0] / 4294967295.0 : 1.0;
}

std::uint32_t TX11Session::WaitForWindow(int pid) {
  std::uint32_t found = 0;
  WaitUntil([&] {
    for (std::uint32_t window : Property(FRoot, "_NET_CLIENT_LIST")) {
      const std::vector<std::uint32_t> owner = Property(window, "_NET_WM_PID");
      if (owner.size() == 1 && static_cast<int>(owner[0]) == pid && Frame(window))
        found = window;
    }
    return found != 0;
  });
  return found;
}

std::optional<TFrameGeometry> TX11Session::Frame(std::uint32_t window) {
  std::optional<TFrameGeometry> frame = Inside(window);
  std::vector<std::uint32_t> extents = Property(window, "_NET_FRAME_EXTENTS");
  // A dock has no frame: KWin gives it no extents, mutter leaves those of its frame before.
  const std::vector<std::uint32_t> types = Property(window, "_NET_WM_WINDOW_TYPE");
  if (std::ranges::find(types, Atom("_NET_WM_WINDOW_TYPE_DOCK")) != types.end())
    extents.assign(4, 0);
  if (!frame || extents.size() != 4)
    return std::nullopt;
  // The extents are left, right, top, bottom.
  frame->Left -= static_cast<int>(extents[0]);
  frame->Top -= static_cast<int>(extents[2]);
  return frame;
}

// Some window managers give a window without a frame (a dock) no frame extents at all.
std::optional<TFrameGeometry> TX11Session::Inside(std::uint32_t window) {
  xcb_connection_t* connection = FConnection.get();
  const TReply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
      connection, xcb_get_window_attributes(connection, window), nullptr));
  const TReply<xcb_get_geometry_reply_t> geometry(
      xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr));
  const TReply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(
      connection, xcb_translate_coordinates(connection, window, FRoot, 0, 0), nullptr));
  if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE || !geometry || !origin)
    return std::nullopt;
  return TFrameGeometry{origin->dst_x, origin->dst_y, geometry->width, geometry->height};
}

bool TX11Session::PopupShown(int pid) {
  xcb_connection_t* connection = FConnection.get();
  const TReply<xcb_query_tree_reply_t> tree(
      xcb_query_tree_reply(connection, xcb_query_tree(connection, FRoot), nullptr));
  if (!tree)
    return false;
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
    const TReply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, children[i]), nullptr));
    const std::vector<std::uint32_t> owner = Property(children[i], "_NET_WM_PID");
    if (attributes && attributes->override_redirect != 0 &&
        attributes->map_state == XCB_MAP_STATE_VIEWABLE && owner.size() == 1 &&
        static_cast<int>(owner[0]) == pid)
      return true;
  }
  return false;
}

void TX11Session::SendToRoot(std::uint32_t window, const std::string& message,
                             const std::vector<std::uint32_t>& data) {
  xcb_client_message_event_t event{};
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = window;
  event.type = Atom(message);
  for (std::size_t i = 0; i < data.size() && i < 5; ++i)
    event.data.data32[i] = data[i];
  xcb_send_event(FConnection.get(), 0, FRoot,
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&event));
  xcb_flush(FConnection.get());
}

// _NET_MOVERESIZE_WINDOW: north-west gravity places the frame's corner; the flags say which of
// x, y, width and height are given; source 2 is the user.
void TX11Session::MoveFrameTo(std::uint32_t window, int left, int top) {
  SendToRoot(window, "_NET_MOVERESIZE_WINDOW",
             {XCB_GRAVITY_NORTH_WEST | 1U << 8 | 1U << 9 | 2U << 12,
              static_cast<std::uint32_t>(left), static_cast<std::uint32_t>(top), 0, 0});
}

void TX11Session::ResizeTo(std::uint32_t window, int width, int height) {
  SendToRoot(window, "_NET_MOVERESIZE_WINDOW",
             {XCB_GRAVITY_NORTH_WEST | 1U << 10 | 1U << 11 | 2U << 12, 0, 0,
              static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)});
}

void TX11Session::CloseByWindowManager(std::uint32_t window) {
  SendToRoot(window, "_NET_CLOSE_WINDOW", {XCB_CURRENT_TIME, 2});
}

void TX11Session::Maximise(std::uint32_t window) {
  SendToRoot(window, "_NET_WM_STATE",
             {1, Atom("_NET_WM_STATE_MAXIMIZED_VERT"), Atom("_NET_WM_STATE_MAXIMIZED_HORZ"), 2});
}

std::uint32_t TX11Session::SelectionOwner(const std::string& selection) {
  xcb_connection_t* connection = FConnection.get();
  const TReply<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
      connection, xcb_get_selection_owner(connection, Atom(selection)), nullptr));
  return reply ? reply->owner : 0;
}

std::uint32_t TX11Session::PixelAt(int x, int y) {
  xcb_connection_t* connection = FConnection.get();
  const TReply<xcb_get_image_reply_t> reply(xcb_get_image_reply(
      connection,
      xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, FRoot, static_cast<std::int16_t>(x),
                    static_cast<std::int16_t>(y), 1, 1, ~0U),
      nullptr));
  if (!reply || xcb_get_image_data_length(reply.get()) < 4)
    return 0;
  const std::uint8_t* bgrx = xcb_get_image_data(reply.get());
  return (std::uint32_t{bgrx[2]} << 16) | (std::uint32_t{bgrx[1]} << 8) | bgrx[0];
}

std::uint32_t TX11Session::InputFocus() {
  xcb_connection_t* connection = FConnection.get();
  const TReply<xcb_get_input_focus_reply_t> reply(
      xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
  return reply ? reply->focus : 0;
}

void TX11Session::Xdotool(const std::vector<std::string>& arguments) {
  std::vector<std::string> command{FXdotool};
  command.insert(command.end(), arguments.begin(), arguments.end());
  TChildProcess tool(command, {"DISPLAY=" + FDisplay});
  const int status = tool.Wait(Patience);
  if (status != 0)
    throw std::runtime_error("xdotool failed (" + std::to_string(status) + "): " + tool.Errors());
}

} // namespace ornavel::test
