#include "AppBarShellUnit.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>
#include <xcb/xcb.h>

namespace ornavel {
namespace {

// Where the desktop cannot reserve strips: the bar floats.
class TFloatingShell : public TAppBarShell {
public:
  TFloatingShell(QWidget& window, bool ownsPlacement)
      : FWindow(window), FOwnsPlacement(ownsPlacement) {}
  bool CanDock() override { return false; }
  bool OwnsPlacement() override { return FOwnsPlacement; }
  TBarRect FreeArea() override {
    const QScreen* screen = FWindow.screen();
    if (screen == nullptr)
      return {};
    return DeviceRect(screen->availableGeometry(), screen->devicePixelRatio());
  }
  void Reserve(TAppBarEdge, TBarRect) override {}
  bool ClaimAutoHide(TAppBarEdge) override { return false; }
  void ReleaseAutoHide(TAppBarEdge) override {}
  TAppBarEdge RegisteredAutoHideEdge() override { return TAppBarEdge::abeUnknown; }
  void ShowTaskEntry(bool) override {}
  // Qt's window flag is all there is here.
  void KeepAbove(bool above) override {
    Qt::WindowFlags flags = FWindow.windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, above);
    FWindow.overrideWindowFlags(flags);
    if (QWindow* window = FWindow.windowHandle())
      window->setFlag(Qt::WindowStaysOnTopHint, above);
  }

  void AwaitWithdrawn() override {}
  bool ButtonHeld() override { return false; }
  void TakeFocus(unsigned long) override { FWindow.activateWindow(); }

private:
  QWidget& FWindow;
  bool FOwnsPlacement;
};

// Marks a bar of ours: one that docks beside the bars listed before it.
constexpr const char* StackingBar = "_ORNAVEL_STACKING_BAR";
// Touched on the root window whenever a bar of ours changes its strip.
constexpr const char* BarsMoved = "_ORNAVEL_BARS_MOVED";

struct TFree {
  void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using TReply = std::unique_ptr<T, TFree>;

// The values of _NET_WM_STRUT_PARTIAL, the first four of which are _NET_WM_STRUT.
using TStruts = std::array<std::uint32_t, 12>;
enum TStrutIndex { StrutLeft, StrutRight, StrutTop, StrutBottom };

// The strut that reserves r on the edge of a screen of that size.
TStruts StrutsFor(TAppBarEdge edge, TBarRect r, int screenWidth, int screenHeight) {
  TStruts struts{};
  if (!IsDocked(edge) || r.Width() <= 0 || r.Height() <= 0)
    return struts;
  const auto value = [](int v) { return static_cast<std::uint32_t>(std::max(v, 0)); };
  switch (edge) {
  case TAppBarEdge::abeLeft:
    struts = {value(r.Right), 0, 0, 0, value(r.Top), value(r.Bottom - 1)};
    break;
  case TAppBarEdge::abeRight:
    struts = {0, value(screenWidth - r.Left), 0, 0, 0, 0, value(r.Top), value(r.Bottom - 1)};
    break;
  case TAppBarEdge::abeTop:
    struts = {0, 0, value(r.Bottom), 0, 0, 0, 0, 0, value(r.Left), value(r.Right - 1)};
    break;
  default:
    struts = {
        0, 0, 0, value(screenHeight - r.Top), 0, 0, 0, 0, 0, 0, value(r.Left), value(r.Right - 1)};
    break;
  }
  return struts;
}

class TX11Shell : public TAppBarShell, private QAbstractNativeEventFilter {
public:
  TX11Shell(QWidget& window, xcb_connection_t* connection, TAppBarShellEvents events)
      : FWindow(window), FConnection(connection), FEvents(std::move(events)) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    FRoot = xcb_setup_roots_iterator(setup).data->root;
    ReadRootSize();
    qApp->installNativeEventFilter(this);
    for (QScreen* screen : QGuiApplication::screens())
      WatchScreen(screen);
    QObject::connect(qApp, &QGuiApplication::screenAdded, &window, [this](QScreen* screen) {
      WatchScreen(screen);
      TellPosChanged();
    });
    QObject::connect(qApp, &QGuiApplication::screenRemoved, &window, [this] { TellPosChanged(); });
  }
  ~TX11Shell() override { qApp->removeNativeEventFilter(this); }

  // Asked again while the answer is no: a window manager that is still starting, or replaced,
  // says so later.
  bool CanDock() override {
    if (!FCanDock)
      FCanDock = Supports("_NET_WM_STRUT_PARTIAL") || Supports("_NET_WM_STRUT");
    return FCanDock;
  }

  bool OwnsPlacement() override { return true; }

  // Made from the others' strips rather than the work area, which holds our own strip and those
  // of the bars that docked beside ours. The window manager's own panels, which no listed window
  // need reserve, are learnt from the work area while we reserve nothing.
  TBarRect FreeArea() override {
    const std::vector<TOtherStrip> others = OtherStrips();
    if (FStruts == TStruts{})
      FPanels = UnexplainedWidths(WorkArea(), others, FScreenWidth, FScreenHeight);
    FOuter = OuterWidths(others);
    return FreeAreaBeside(FOuter, FPanels, FScreenWidth, FScreenHeight);
  }

  void Reserve(TAppBarEdge edge, TBarRect r) override {
    const TStruts struts = StrutsFor(edge, r, FScreenWidth, FScreenHeight);
    if (struts == FStruts || !CanDock())
      return;
    FStruts = struts;
    // Zeros rather than a deleted property: some window managers ignore the deletion.
    const xcb_window_t window = Window();
    xcb_change_property(FConnection, XCB_PROP_MODE_REPLACE, window, Atom("_NET_WM_STRUT_PARTIAL"),
                        XCB_ATOM_CARDINAL, 32, 12, struts.data());
    xcb_change_property(FConnection, XCB_PROP_MODE_REPLACE, window, Atom("_NET_WM_STRUT"),
                        XCB_ATOM_CARDINAL, 32, 4, struts.data());
    const std::uint32_t stacks = 1;
    xcb_change_property(FConnection, XCB_PROP_MODE_REPLACE, window, Atom(StackingBar),
                        XCB_ATOM_CARDINAL, 32, 1, &stacks);
    // The other bars hear of it by the root window, since the work area need not change: an outer
    // bar's strip that shrinks or grows within an inner one's leaves it as it was.
    xcb_change_property(FConnection, XCB_PROP_MODE_APPEND, FRoot, Atom(BarsMoved),
                        XCB_ATOM_CARDINAL, 32, 0, nullptr);
    xcb_flush(FConnection);
  }

  bool ClaimAutoHide(TAppBarEdge edge) override {
    if (!CanDock() || !IsDocked(edge))
      return false;
    const xcb_window_t window = Window();
    const xcb_window_t owner = SelectionOwner(edge);
    if (owner != XCB_NONE && owner != window)
      return false;
    // A selection, because X releases it when its owner's window or connection goes.
    xcb_set_selection_owner(FConnection, window, AutoHideAtom(edge), XCB_CURRENT_TIME);
    return SelectionOwner(edge) == window;
  }

  void ReleaseAutoHide(TAppBarEdge edge) override {
    if (IsDocked(edge) && SelectionOwner(edge) == Window()) {
      xcb_set_selection_owner(FConnection, XCB_NONE, AutoHideAtom(edge), XCB_CURRENT_TIME);
      xcb_flush(FConnection);
    }
  }

  TAppBarEdge RegisteredAutoHideEdge() override {
    if (!CanDock() || FWindow.windowHandle() == nullptr)
      return TAppBarEdge::abeUnknown;
    for (int e = 0; e < 4; ++e) {
      const auto edge = static_cast<TAppBarEdge>(e);
      if (SelectionOwner(edge) == Window())
        return edge;
    }
    return TAppBarEdge::abeUnknown;
  }

  void ShowTaskEntry(bool shown) override { ChangeState("_NET_WM_STATE_SKIP_TASKBAR", !shown); }

  // Not by Qt's window flag, whose change makes a new native window without the dock's type and
  // strut.
  void KeepAbove(bool above) override { ChangeState("_NET_WM_STATE_ABOVE", above); }

  bool ButtonHeld() override {
    TReply<xcb_query_pointer_reply_t> pointer(
        xcb_query_pointer_reply(FConnection, xcb_query_pointer(FConnection, FRoot), nullptr));
    constexpr std::uint16_t Buttons = XCB_BUTTON_MASK_1 | XCB_BUTTON_MASK_2 | XCB_BUTTON_MASK_3;
    return pointer && (pointer->mask & Buttons) != 0;
  }

  // The window manager marks the window withdrawn (state 0) or drops WM_STATE, as the
  // conventions for clients ask a client to wait for before mapping the window again. There is
  // no event of our own to wait on without taking Qt's, so the property is looked at.
  void AwaitWithdrawn() override {
    constexpr auto Patience = std::chrono::milliseconds(500);
    const auto giveUp = std::chrono::steady_clock::now() + Patience;
    while (std::chrono::steady_clock::now() < giveUp) {
      const std::vector<std::uint32_t> state = Property(Window(), "WM_STATE");
      if (state.empty() || state[0] == 0)
        return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  // As a pager asks (source 2): KWin gives a dock the keyboard only then, and refuses an
  // application's own request or a focus it took itself.
  void TakeFocus(unsigned long userTime) override {
    if (!Supports("_NET_ACTIVE_WINDOW")) {
      FWindow.activateWindow();
      return;
    }
    const std::vector<std::uint32_t> active = Property(FRoot, "_NET_ACTIVE_WINDOW");
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = Window();
    message.type = Atom("_NET_ACTIVE_WINDOW");
    message.data.data32[0] = 2;
    message.data.data32[1] = static_cast<std::uint32_t>(userTime);
    message.data.data32[2] = active.empty() ? XCB_NONE : active[0];
    SendToRoot(message);
  }

private:
  // Monitors come and go, and the free space changes with them.
  void WatchScreen(QScreen* screen) {
    QObject::connect(screen, &QScreen::geometryChanged, &FWindow, [this] { TellPosChanged(); });
    QObject::connect(screen, &QScreen::availableGeometryChanged, &FWindow,
                     [this] { TellPosChanged(); });
  }

  void TellPosChanged() {
    ReadRootSize();
    if (FEvents.PosChanged)
      FEvents.PosChanged();
  }

  // The root window spans every monitor and grows and shrinks with them; struts are reserved
  // from its edges.
  void ReadRootSize() {
    TReply<xcb_get_geometry_reply_t> root(
        xcb_get_geometry_reply(FConnection, xcb_get_geometry(FConnection, FRoot), nullptr));
    if (root) {
      FScreenWidth = root->width;
      FScreenHeight = root->height;
    }
  }

  // A client message, since the window manager owns _NET_WM_STATE of a mapped window; it reads
  // the message after the map request that precedes it.
  void ChangeState(const std::string& state, bool add) {
    if (FWindow.windowHandle() == nullptr || !FWindow.isVisible())
      return;
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = Window();
    message.type = Atom("_NET_WM_STATE");
    message.data.data32[0] = add ? 1 : 0;
    message.data.data32[1] = Atom(state);
    message.data.data32[3] = 1; // from an application
    SendToRoot(message);
  }

  void SendToRoot(const xcb_client_message_event_t& message) {
    xcb_send_event(FConnection, 0, FRoot,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(FConnection);
  }

  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    if (type != "xcb_generic_event_t")
      return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    switch (event->response_type & 0x7f) {
    case XCB_PROPERTY_NOTIFY: {
      const auto* notify = static_cast<const xcb_property_notify_event_t*>(message);
      if (notify->window != FRoot)
        break;
      if (notify->atom == Atom("_NET_ACTIVE_WINDOW") ||
          notify->atom == Atom("_NET_CLIENT_LIST_STACKING"))
        CheckFullScreen();
      // A bar came, went or moved: it may have been one that ours docks beside.
      if (notify->atom == Atom("_NET_CLIENT_LIST") || notify->atom == Atom(BarsMoved))
        QMetaObject::invokeMethod(
            &FWindow, [this] { CheckOuterStrips(); }, Qt::QueuedConnection);
      break;
    }
    case XCB_FOCUS_IN:
    case XCB_FOCUS_OUT: {
      const auto* focus = static_cast<const xcb_focus_in_event_t*>(message);
      if (focus->event == FWindow.internalWinId())
        FocusChanged(focus->mode);
      break;
    }
    default:
      break;
    }
    return false;
  }

  // The window manager's move loop holds the keyboard. The place at the grab's start, where the
  // window had the focus then, or else the place the window knows (some managers tell the window
  // of its new place only after giving the keyboard back) is compared with the place at the end:
  // a move without a change of size is the user's.
  void FocusChanged(std::uint8_t mode) {
    if (!FEvents.WindowManagerMoved)
      return;
    if (mode == XCB_NOTIFY_MODE_GRAB) {
      FPlaceAtGrab = Place();
      return;
    }
    if (mode != XCB_NOTIFY_MODE_UNGRAB)
      return;
    const auto place = Place();
    const TBarRect before =
        FPlaceAtGrab.value_or(DeviceRect(FWindow.geometry(), FWindow.devicePixelRatioF()));
    FPlaceAtGrab.reset();
    if (place && (place->Left != before.Left || place->Top != before.Top) &&
        place->Width() == before.Width() && place->Height() == before.Height())
      FEvents.WindowManagerMoved();
  }

  std::optional<TBarRect> Place() {
    const xcb_window_t window = Window();
    TReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(FConnection, xcb_get_geometry(FConnection, window), nullptr));
    TReply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(
        FConnection, xcb_translate_coordinates(FConnection, window, FRoot, 0, 0), nullptr));
    if (!geometry || !origin)
      return std::nullopt;
    return TBarRect{origin->dst_x, origin->dst_y, origin->dst_x + geometry->width,
                    origin->dst_y + geometry->height};
  }

  void CheckOuterStrips() {
    if (FStruts == TStruts{})
      return;
    const TEdgeWidths outer = OuterWidths(OtherStrips());
    if (outer != FOuter) {
      FOuter = outer;
      TellPosChanged();
    }
  }

  void CheckFullScreen() {
    const std::vector<std::uint32_t> active = Property(FRoot, "_NET_ACTIVE_WINDOW");
    const std::vector<std::uint32_t> states = active.empty() || active[0] == XCB_NONE
                                                  ? std::vector<std::uint32_t>{}
                                                  : Property(active[0], "_NET_WM_STATE");
    const bool open = std::ranges::find(states, Atom("_NET_WM_STATE_FULLSCREEN")) != states.end();
    if (open != FFullScreenOpen) {
      FFullScreenOpen = open;
      if (FEvents.FullScreenChanged)
        FEvents.FullScreenChanged(open);
    }
  }

  xcb_window_t Window() const { return static_cast<xcb_window_t>(FWindow.winId()); }

  // Atoms are asked for once: events are matched against them.
  xcb_atom_t Atom(const std::string& name) {
    const auto known = FAtoms.find(name);
    if (known != FAtoms.end())
      return known->second;
    TReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        FConnection,
        xcb_intern_atom(FConnection, 0, static_cast<std::uint16_t>(name.size()), name.data()),
        nullptr));
    const xcb_atom_t atom = reply ? reply->atom : XCB_NONE;
    FAtoms.emplace(name, atom);
    return atom;
  }

  xcb_atom_t AutoHideAtom(TAppBarEdge edge) {
    return Atom("_ORNAVEL_AUTOHIDE_BAR_" + std::to_string(static_cast<int>(edge)));
  }

  xcb_window_t SelectionOwner(TAppBarEdge edge) {
    TReply<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
        FConnection, xcb_get_selection_owner(FConnection, AutoHideAtom(edge)), nullptr));
    return reply ? reply->owner : XCB_NONE;
  }

  std::vector<std::uint32_t> Property(xcb_window_t window, const std::string& name) {
    return PropertyValues(AskProperty(window, name));
  }

  xcb_get_property_cookie_t AskProperty(xcb_window_t window, const std::string& name) {
    return xcb_get_property(FConnection, 0, window, Atom(name), XCB_ATOM_ANY, 0, 4096);
  }

  // Every reply is taken, even from a window that has gone meanwhile.
  std::vector<std::uint32_t> PropertyValues(xcb_get_property_cookie_t asked) {
    TReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(FConnection, asked, nullptr));
    if (!reply || reply->format != 32)
      return {};
    const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    return {values, values + xcb_get_property_value_length(reply.get()) / 4};
  }

  bool Supports(const std::string& name) {
    const std::vector<std::uint32_t> supported = Property(FRoot, "_NET_SUPPORTED");
    return std::ranges::find(supported, Atom(name)) != supported.end();
  }

  TBarRect WorkArea() {
    const std::vector<std::uint32_t> desktop = Property(FRoot, "_NET_CURRENT_DESKTOP");
    const std::size_t index = desktop.empty() ? 0 : desktop[0];
    const std::vector<std::uint32_t> areas = Property(FRoot, "_NET_WORKAREA");
    if (areas.size() < 4 * (index + 1))
      return {0, 0, FScreenWidth, FScreenHeight};
    const auto at = [&](std::size_t i) { return static_cast<int>(areas[4 * index + i]); };
    return {at(0), at(1), at(0) + at(2), at(1) + at(3)};
  }

  // The strips of the other windows the window manager lists. Its list is in the order the
  // windows were mapped: bars of ours listed after this one, or all of them while this one is not
  // listed yet, dock beside it.
  std::vector<TOtherStrip> OtherStrips() {
    const std::vector<std::uint32_t> clients = Property(FRoot, "_NET_CLIENT_LIST");
    const xcb_window_t own = Window();
    const auto ownPlace = std::ranges::find(clients, own);
    // Asked all at once: one round trip rather than three for each window.
    struct TAsked {
      bool AfterUs;
      xcb_get_property_cookie_t Partial, Strut, Stacks;
    };
    std::vector<TAsked> asked;
    for (auto client = clients.begin(); client != clients.end(); ++client) {
      if (*client != own)
        asked.push_back({ownPlace != clients.end() && client > ownPlace,
                         AskProperty(*client, "_NET_WM_STRUT_PARTIAL"),
                         AskProperty(*client, "_NET_WM_STRUT"), AskProperty(*client, StackingBar)});
    }
    std::vector<TOtherStrip> strips;
    for (const TAsked& window : asked) {
      std::vector<std::uint32_t> struts = PropertyValues(window.Partial);
      const std::vector<std::uint32_t> strut = PropertyValues(window.Strut);
      if (struts.size() < 4)
        struts = strut;
      const bool stacks = !PropertyValues(window.Stacks).empty();
      if (struts.size() < 4)
        continue;
      const auto width = [&](TStrutIndex i) { return static_cast<int>(struts[i]); };
      strips.push_back({{width(StrutLeft), width(StrutRight), width(StrutTop), width(StrutBottom)},
                        stacks && window.AfterUs});
    }
    return strips;
  }

  QWidget& FWindow;
  xcb_connection_t* FConnection;
  TAppBarShellEvents FEvents;
  xcb_window_t FRoot = XCB_NONE;
  int FScreenWidth = 0;
  int FScreenHeight = 0;
  bool FCanDock = false;
  bool FFullScreenOpen = false;
  TStruts FStruts{};
  TEdgeWidths FOuter;
  TEdgeWidths FPanels;
  std::optional<TBarRect> FPlaceAtGrab;
  std::map<std::string, xcb_atom_t> FAtoms;
};

} // namespace

TBarRect DeviceRect(const QRect& logical, double ratio) {
  return {qRound(logical.left() * ratio), qRound(logical.top() * ratio),
          qRound((logical.left() + logical.width()) * ratio),
          qRound((logical.top() + logical.height()) * ratio)};
}

QRect LogicalRect(const TBarRect& device, double ratio) {
  return {qRound(device.Left / ratio), qRound(device.Top / ratio), qRound(device.Width() / ratio),
          qRound(device.Height() / ratio)};
}

std::unique_ptr<TAppBarShell> MakeAppBarShell(QWidget& window, TAppBarShellEvents events) {
  if (const auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>()) {
    if (xcb_connection_t* connection = x11->connection())
      return std::make_unique<TX11Shell>(window, connection, std::move(events));
  }
  return MakeFloatingShell(window,
                           !QGuiApplication::platformName().startsWith(QStringLiteral("wayland")));
}

std::unique_ptr<TAppBarShell> MakeFloatingShell(QWidget& window, bool ownsPlacement) {
  return std::make_unique<TFloatingShell>(window, ownsPlacement);
}

} // namespace ornavel
