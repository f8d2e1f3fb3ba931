#include "TestSupport.h"
#include "X11SessionUnit.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

using test::TChildProcess;
using test::TFrameGeometry;

// The real program's window on a real X server, framed by a real window manager.
class RealWindow : public test::TX11Session {
protected:
  void SetUp() override {
    TX11Session::SetUp();
    if (IsSkipped())
      return;
    WriteConfig(Settings);
  }

  static void WriteConfig(const test::TTemporaryFolder& home) {
    std::filesystem::create_directories(home.File("Ornavel"));
    test::WriteFile(home.File("Ornavel/Config.xml"),
                    "<?xml version=\"1.0\"?>\r\n<Config><MonitorSyslog value=\"False\"/>"
                    "</Config>\r\n");
  }

  // Starts the program; answers its window once the window manager has framed and shown it.
  // Under a compositor the program chooses XWayland itself, as it does in a user's session.
  std::uint32_t Start() { return Start(Settings); }
  // With the settings in another home.
  std::uint32_t Start(const test::TTemporaryFolder& home) {
    Launch({"QT_QPA_PLATFORM="}, {}, home);
    return WaitForWindow(Program->Pid());
  }
  void Launch(const std::vector<std::string>& extraEnvironment,
              const std::vector<std::string>& arguments = {}) {
    Launch(extraEnvironment, arguments, Settings);
  }
  void Launch(const std::vector<std::string>& extraEnvironment,
              const std::vector<std::string>& arguments, const test::TTemporaryFolder& home) {
    std::vector<std::string> environment = SessionEnvironment();
    environment.insert(environment.end(), {"XDG_CONFIG_HOME=" + home.Path(),
                                           "LSAN_OPTIONS=suppressions=" ORNAVEL_LSAN_SUPPRESSIONS});
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<std::string> command{ORNAVEL_BINARY};
    command.insert(command.end(), arguments.begin(), arguments.end());
    Program = std::make_unique<TChildProcess>(std::move(command), std::move(environment));
  }

  // Closes the window as a signal does, in order; answers the exit status.
  int Close() {
    Program->Signal(SIGTERM);
    return Program->Wait(test::Patience);
  }

  std::string SavedNormPos() const {
    std::istringstream lines(test::ReadFile(Settings.File("Ornavel/Ornavel.conf")));
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with("NormPos="))
        return line.substr(8);
    }
    return {};
  }

  // Opens the popup menu with the right mouse button and chooses its item at the place given.
  void ChooseFromMenu(std::uint32_t window, int place) {
    const auto opened = [&] { return PopupShown(Program->Pid()); };
    Xdotool({"mousemove", "--window", std::to_string(window), "60", "80", "click", "3"});
    ASSERT_TRUE(WaitUntil(opened));
    // The pointer leaves the menu first, so that no item is current when the keys come.
    std::vector<std::string> keys{"mousemove", "--window", std::to_string(window), "5", "5", "key"};
    keys.insert(keys.end(), static_cast<std::size_t>(place), "Down");
    keys.emplace_back("Return");
    Xdotool(keys);
    ASSERT_TRUE(WaitUntil([&] { return !opened(); }));
  }

  bool Translucent(std::uint32_t window) { return Opacity(window) < 1.0; }

  // Stores the bar's record as the program keeps it: docked on the edge (0 left to 3 bottom,
  // 5 floating) 200 wide (or as wide as given) or 150 high, floating at (300, 200) 444 x 253; an
  // auto-hiding bar slides.
  void StoreBar(int edge, bool autoHide) { StoreBar(Settings, edge, autoHide, 200); }
  static void StoreBar(const test::TTemporaryFolder& home, int edge, bool autoHide, int width) {
    const std::vector<std::int32_t> numbers{400, 10, 10,   width, 150, 300, 200, 744, 453,
                                            0,   0,  1280, 1024,  0,   0,   640, 512};
    std::string record{84, 0, 0, 0, static_cast<char>(edge), 31, autoHide, 1, autoHide, 0, 0, 0};
    for (const std::int32_t number : numbers)
      for (int shift = 0; shift < 32; shift += 8)
        record += static_cast<char>((number >> shift) & 0xff);
    record += std::string{2, 0, 0, 0};
    std::string escaped;
    for (const char byte : record) {
      const auto value = static_cast<unsigned char>(byte);
      escaped += {'\\', 'x', "0123456789abcdef"[value >> 4], "0123456789abcdef"[value & 15]};
    }
    std::filesystem::create_directories(home.File("Ornavel"));
    test::WriteFile(home.File("Ornavel/Ornavel.conf"),
                    "[FormSettings]\nAppBar=@ByteArray(" + escaped + ")\n");
  }

  TFrameGeometry WorkArea() { return CurrentWorkArea(); }
  bool WorkAreaIs(const TFrameGeometry& wanted) {
    return WaitUntil([&] { return WorkArea() == wanted; });
  }

  // Activates the window as the user's Alt+Tab does and types into it once it has the keyboard.
  void PressKeysIn(std::uint32_t window, const std::string& keys) {
    Xdotool({"windowactivate", "--sync", std::to_string(window)});
    ASSERT_TRUE(WaitUntil([&] { return InputFocus() == window; })) << InputFocus();
    Xdotool({"key", keys});
  }

  // Drags the bar by its list's header, the way the user does, to a point on the screen.
  void DragHeaderTo(std::uint32_t window, int x, int y) {
    Xdotool({"mousemove", "--window", std::to_string(window), "30", "8", "mousedown", "1"});
    DragOnTo(x, y);
  }
  void DragOnTo(int x, int y) {
    Xdotool({"mousemove", "--sync", "500", "400", "mousemove", "--sync", std::to_string(x),
             std::to_string(y), "mouseup", "1"});
  }

  // A second, ordinary program's window, maximised.
  std::uint32_t StartMaximisedNeighbour() {
    Neighbour = std::make_unique<TChildProcess>(
        std::vector<std::string>{test::RequireOnPath("xmessage"), "-geometry", "200x100+10+10",
                                 "neighbour"},
        std::vector<std::string>{"DISPLAY=" + Display()});
    // xmessage does not name its process: it is the client that is not ours.
    std::uint32_t window = 0;
    WaitUntil([&] {
      for (const std::uint32_t client : Property(Root(), "_NET_CLIENT_LIST")) {
        const std::vector<std::uint32_t> pid = Property(client, "_NET_WM_PID");
        if ((pid.empty() || static_cast<int>(pid[0]) != Program->Pid()) && Frame(client))
          window = client;
      }
      return window != 0;
    });
    if (window != 0)
      Maximise(window);
    return window;
  }

  bool HasWindowType(std::uint32_t window, const std::string& type) {
    const std::vector<std::uint32_t> types = Property(window, "_NET_WM_WINDOW_TYPE");
    return std::ranges::find(types, Atom(type)) != types.end();
  }

  std::string Describe(std::uint32_t window) {
    const auto frame = Frame(window);
    return frame ? testing::PrintToString(*frame) : "not framed";
  }

  // A file to follow, empty, and a rule that alerts for its lines holding "disk", in red.
  std::string FileWithAlertingRule() {
    const std::string log = Settings.File("app.log");
    test::WriteFile(log, "");
    test::WriteFile(Settings.File("Ornavel/Rules.xml"),
                    R"(<Rules><Rule name="Disk" color="clRed" regexp="disk" active="True" )"
                    R"(logline="True" monitortypes="mtFile" alert="True"/></Rules>)");
    return log;
  }

  // Some window managers add a second value; the first is the window.
  std::uint32_t ActiveWindow() {
    const std::vector<std::uint32_t> window = Property(Root(), "_NET_ACTIVE_WINDOW");
    return window.empty() ? 0U : window[0];
  }

  test::TTemporaryFolder Settings;
  std::unique_ptr<TChildProcess> Program;
  std::unique_ptr<TChildProcess> Neighbour;
};

// One change of the placement by the window manager, on the window's first start.
struct TPlacementChange {
  const char* Name;
  bool Move;
};
void PrintTo(const TPlacementChange& change, std::ostream* out) {
  *out << change.Name;
}

class PlacementAfterAChange : public RealWindow,
                              public testing::WithParamInterface<TPlacementChange> {};

// The window comes back where it was closed, frame and all, and the stored value stays the same.
TEST_P(PlacementAfterAChange, HoldsOverFiveRestarts) {
  std::uint32_t window = Start();
  ASSERT_NE(window, 0U);
  TFrameGeometry wanted = *Frame(window);
  if (GetParam().Move) {
    wanted.Left = 300;
    wanted.Top = 200;
    MoveFrameTo(window, wanted.Left, wanted.Top);
  } else {
    wanted.Width = 600;
    wanted.Height = 400;
    ResizeTo(window, wanted.Width, wanted.Height);
  }
  ASSERT_TRUE(WaitUntil([&] { return Frame(window) == wanted; })) << Describe(window);
  ASSERT_EQ(Close(), 0) << Program->Errors();
  const std::string saved = SavedNormPos();
  for (int start = 1; start <= 5; ++start) {
    window = Start();
    ASSERT_NE(window, 0U) << Program->Errors();
    ASSERT_TRUE(WaitUntil([&] { return Frame(window) == wanted; }))
        << "start " << start << ": " << Describe(window) << ", wanted "
        << testing::PrintToString(wanted) << ", saved " << saved;
    ASSERT_EQ(Close(), 0) << Program->Errors();
    EXPECT_EQ(SavedNormPos(), saved) << "start " << start;
  }
}

INSTANTIATE_TEST_SUITE_P(RealWindow, PlacementAfterAChange,
                         testing::Values(TPlacementChange{"Moved", true},
                                         TPlacementChange{"Resized", false}),
                         [](const auto& info) { return std::string(info.param.Name); });

// Closed on a second monitor that has gone since. The frame's corner and the inside's size are
// what is stored and moved, so the window manager's border may stick out.
TEST_F(RealWindow, APlaceLeftOffEveryMonitorComesBackWhole) {
  constexpr int Border = 10;
  test::WriteFile(Settings.File("Ornavel/Ornavel.conf"),
                  "[FormSettings]\nNormPos=\"1800,300,2200,700\"\n");
  const std::uint32_t window = Start();
  ASSERT_NE(window, 0U) << Program->Errors();
  const auto inside = [&] { return Inside(window).value_or(TFrameGeometry{}); };
  EXPECT_TRUE(WaitUntil([&] {
    const TFrameGeometry place = inside();
    return place.Width == 400 && place.Left >= 0 &&
           place.Left + place.Width <= ScreenWidth + Border;
  })) << testing::PrintToString(inside());
}

TEST_F(RealWindow, StayOnTopAndAlphaBlendReachTheWindowManagerAndGoAgain) {
  constexpr int StayOnTop = 2;
  constexpr int AlphaBlend = 3;
  const std::uint32_t window = Start();
  ASSERT_NE(window, 0U) << Program->Errors();
  ASSERT_FALSE(HasState(window, "_NET_WM_STATE_ABOVE"));
  ASSERT_FALSE(Translucent(window));
  ChooseFromMenu(window, StayOnTop);
  EXPECT_TRUE(WaitUntil([&] { return HasState(window, "_NET_WM_STATE_ABOVE"); }));
  ChooseFromMenu(window, AlphaBlend);
  EXPECT_TRUE(WaitUntil([&] { return Translucent(window); }));
  EXPECT_NEAR(Opacity(window) * 255.0, 196.0, 0.5);
  ChooseFromMenu(window, StayOnTop);
  EXPECT_TRUE(WaitUntil([&] { return !HasState(window, "_NET_WM_STATE_ABOVE"); }));
  ChooseFromMenu(window, AlphaBlend);
  EXPECT_TRUE(WaitUntil([&] { return !Translucent(window); }));
  EXPECT_EQ(Close(), 0) << Program->Errors();
}

// The window offers the window manager's close (a close button, Alt+F4), as some managers
// read it from the Motif hints: functions given (flag 1) must include close (32).
TEST_F(RealWindow, TheWindowManagersCloseCommandClosesInOrder) {
  const std::uint32_t window = Start();
  ASSERT_NE(window, 0U) << Program->Errors();
  const std::vector<std::uint32_t> motif = Property(window, "_MOTIF_WM_HINTS");
  EXPECT_TRUE(motif.size() < 2 || (motif[0] & 1) == 0 || (motif[1] & 32) != 0)
      << testing::PrintToString(motif);
  CloseByWindowManager(window);
  EXPECT_EQ(Program->Wait(test::Patience), 0) << Program->Errors();
  EXPECT_NE(SavedNormPos(), "");
}

// Docked on each edge the bar reserves its strip, which a maximised window stays out of; dragged
// into the middle it floats and gives the strip back. The strip lies on the edge of the area the
// window manager's own panels leave free.
struct TDockedCase {
  const char* Name;
  int Edge;
};
void PrintTo(const TDockedCase& docked, std::ostream* out) {
  *out << docked.Name;
}

class DockedBar : public RealWindow, public testing::WithParamInterface<TDockedCase> {
protected:
  // The bar, 200 wide or 150 high as stored, and the work area it leaves.
  std::pair<TFrameGeometry, TFrameGeometry> StripAndRest() const {
    const TFrameGeometry f = StartingWorkArea();
    switch (GetParam().Edge) {
    case 0:
      return {{f.Left, f.Top, 200, f.Height}, {f.Left + 200, f.Top, f.Width - 200, f.Height}};
    case 1:
      return {{f.Left, f.Top, f.Width, 150}, {f.Left, f.Top + 150, f.Width, f.Height - 150}};
    case 2:
      return {{f.Left + f.Width - 200, f.Top, 200, f.Height},
              {f.Left, f.Top, f.Width - 200, f.Height}};
    default:
      return {{f.Left, f.Top + f.Height - 150, f.Width, 150},
              {f.Left, f.Top, f.Width, f.Height - 150}};
    }
  }
};

TEST_P(DockedBar, ReservesItsStripUntilDraggedAwayToFloat) {
  const auto [strip, rest] = StripAndRest();
  StoreBar(GetParam().Edge, false);
  const std::uint32_t window = Start();
  ASSERT_NE(window, 0U) << Program->Errors();
  EXPECT_TRUE(WorkAreaIs(rest)) << testing::PrintToString(WorkArea());
  EXPECT_TRUE(WaitUntil([&] { return Frame(window) == strip; })) << Describe(window);
  const std::uint32_t neighbour = StartMaximisedNeighbour();
  ASSERT_NE(neighbour, 0U);
  // Within the rest, less the frame's title bar and borders (some managers move those of a
  // maximised window off the screen).
  EXPECT_TRUE(WaitUntil([&] {
    const auto inside = Inside(neighbour);
    return inside && inside->Left >= rest.Left && inside->Top >= rest.Top &&
           inside->Left + inside->Width <= rest.Left + rest.Width &&
           inside->Top + inside->Height <= rest.Top + rest.Height &&
           inside->Width > rest.Width - 20 && inside->Height > rest.Height - 40;
  })) << Describe(neighbour);
  DragHeaderTo(window, 640, 500);
  EXPECT_TRUE(WorkAreaIs(StartingWorkArea())) << testing::PrintToString(WorkArea());
  EXPECT_TRUE(WaitUntil([&] {
    const auto frame = Frame(window);
    return frame && frame->Width == 444 && frame->Height == 253;
  })) << Describe(window);
  EXPECT_EQ(Close(), 0) << Program->Errors();
}

INSTANTIATE_TEST_SUITE_P(RealWindow, DockedBar,
                         testing::Values(TDockedCase{"Left", 0}, TDockedCase{"Top", 1},
                                         TDockedCase{"Right", 2}, TDockedCase{"Bottom", 3}),
                         [](const auto& info) { return std::string(info.param.Name); });

// Dragged to the right edge the floating bar docks there, lying exactly on the free area's edge,
// starts there again, and a bar that is killed gives its strip back with its window.
TEST_F(RealWindow, DraggedToAnEdgeTheBarDocksAndStaysDockedUntilKilled) {
  const TFrameGeometry free = StartingWorkArea();
  std::uint32_t window = Start();
  ASSERT_NE(window, 0U) << Program->Errors();
  DragHeaderTo(window, ScreenWidth - 2, 500);
  ASSERT_TRUE(WaitUntil([&] { return WorkArea().Width < free.Width; }));
  const TFrameGeometry docked = WorkArea();
  EXPECT_EQ(docked.Left, free.Left);
  EXPECT_EQ(docked.Height, free.Height);
  const TFrameGeometry strip{docked.Left + docked.Width, free.Top, free.Width - docked.Width,
                             free.Height};
  EXPECT_TRUE(WaitUntil([&] { return Frame(window) == strip; }))
      << Describe(window) << ", wanted " << testing::PrintToString(strip);
  EXPECT_TRUE(WaitUntil([&] { return InputFocus() == window; })) << "the keyboard is lost";
  // Ctrl+H makes it auto-hide, reserving nothing, and back.
  PressKeysIn(window, "ctrl+h");
  EXPECT_TRUE(WorkAreaIs(free));
  PressKeysIn(window, "ctrl+h");
  EXPECT_TRUE(WorkAreaIs(docked));
  ASSERT_EQ(Close(), 0) << Program->Errors();
  ASSERT_TRUE(WorkAreaIs(free));
  window = Start();
  ASSERT_NE(window, 0U) << Program->Errors();
  EXPECT_TRUE(WorkAreaIs(docked)) << testing::PrintToString(WorkArea());
  EXPECT_TRUE(WaitUntil([&] { return Frame(window) == strip; })) << Describe(window);
  Program->Signal(SIGKILL);
  Program->Wait(test::Patience);
  EXPECT_TRUE(WorkAreaIs(free)) << testing::PrintToString(WorkArea());
}

// Natively on Wayland the compositor places the window and decides its stacking and opacity:
// the program leaves them alone, and the place an X11 session stored stays as it was.
TEST_F(RealWindow, NativelyOnWaylandTheCompositorPlacesTheWindow) {
  if (!UnderCompositor())
    GTEST_SKIP() << "needs kwin_wayland or mutter";
  StoreBar(2, false);
  const std::string conf = Settings.File("Ornavel/Ornavel.conf");
  test::WriteFile(conf, test::ReadFile(conf) + "NormPos=\"100,100,500,400\"\n");
  const std::string stored = test::ReadFile(conf);
  Launch({"QT_QPA_PLATFORM=", "QT_LOGGING_RULES=qt.qpa.wayland=true"}, {"-platform", "wayland"});
  // Qt's own news that the compositor has configured the window: the window is up.
  EXPECT_TRUE(Program->WaitForOutput(
      [](const std::string&, const std::string& errors) {
        return errors.find("xdg_toplevel.configure") != std::string::npos;
      },
      test::Patience))
      << Program->Errors();
  EXPECT_EQ(Close(), 0) << Program->Errors();
  EXPECT_EQ(test::ReadFile(conf), stored);
  EXPECT_EQ(Program->Errors().find("opacity"), std::string::npos) << Program->Errors();
}

// Side by side, the left one primary: the bar docks to the right edge of the right monitor,
// reserving its own strip there only, and the edge between the two floats.
TEST_F(RealWindow, OnTwoMonitorsTheBarDocksOnlyToTheOuterEdges) {
  if (Monitors() != 2)
    GTEST_SKIP() << "needs ORNAVEL_X11_MONITORS=2 under kwin_wayland or mutter";
  const TFrameGeometry free = StartingWorkArea();
  StoreBar(5, false);
  const std::uint32_t window = Start();
  ASSERT_NE(window, 0U) << Program->Errors();
  DragHeaderTo(window, 2 * ScreenWidth - 2, 500);
  const TFrameGeometry strip{2 * ScreenWidth - 200, free.Top, 200, free.Height};
  EXPECT_TRUE(WaitUntil([&] { return Inside(window) == strip; })) << Describe(window);
  const auto bottom = static_cast<std::uint32_t>(free.Top + free.Height - 1);
  const std::vector<std::uint32_t> strut{0, 200, 0, 0, 0, 0, 0, bottom, 0, 0, 0, 0};
  EXPECT_TRUE(WaitUntil([&] { return Property(window, "_NET_WM_STRUT_PARTIAL") == strut; }))
      << testing::PrintToString(Property(window, "_NET_WM_STRUT_PARTIAL"));
  DragHeaderTo(window, ScreenWidth - 2, 500);
  EXPECT_TRUE(WaitUntil([&] { return !HasWindowType(window, "_NET_WM_WINDOW_TYPE_DOCK"); }));
  EXPECT_TRUE(WaitUntil([&] {
    return Property(window, "_NET_WM_STRUT_PARTIAL") == std::vector<std::uint32_t>(12, 0);
  }));
  EXPECT_EQ(Close(), 0) << Program->Errors();
}

// Stay on top is a state the window manager keeps, floating or docked, in any order: the bar
// stays a dock with its strip, and a floating window keeps its task-bar entry.
TEST_F(RealWindow, StayOnTopKeepsDockingWorking) {
  constexpr int StayOnTop = 2;
  const TFrameGeometry free = StartingWorkArea();
  const TFrameGeometry rest{free.Left, free.Top, free.Width - 200, free.Height};
  StoreBar(2, false);
  const std::uint32_t window = Start();
  ASSERT_NE(window, 0U) << Program->Errors();
  ASSERT_TRUE(WorkAreaIs(rest)) << testing::PrintToString(WorkArea());
  ChooseFromMenu(window, StayOnTop);
  EXPECT_TRUE(WaitUntil([&] { return HasState(window, "_NET_WM_STATE_ABOVE"); }));
  EXPECT_TRUE(HasWindowType(window, "_NET_WM_WINDOW_TYPE_DOCK"));
  EXPECT_EQ(WorkArea(), rest);
  DragHeaderTo(window, 640, 500);
  EXPECT_TRUE(WorkAreaIs(free)) << testing::PrintToString(WorkArea());
  EXPECT_TRUE(WaitUntil([&] {
    return !HasWindowType(window, "_NET_WM_WINDOW_TYPE_DOCK") &&
           HasState(window, "_NET_WM_STATE_ABOVE");
  }));
  EXPECT_FALSE(HasState(window, "_NET_WM_STATE_SKIP_TASKBAR"));
  DragHeaderTo(window, ScreenWidth - 2, 500);
  EXPECT_TRUE(WorkAreaIs(rest)) << testing::PrintToString(WorkArea());
  EXPECT_TRUE(WaitUntil([&] {
    return HasWindowType(window, "_NET_WM_WINDOW_TYPE_DOCK") &&
           HasState(window, "_NET_WM_STATE_ABOVE");
  }));
  EXPECT_EQ(Close(), 0) << Program->Errors();
}

// Clicked while another window has the focus, the docked bar takes the keys: Ctrl+H reaches it.
TEST_F(RealWindow, AClickedDockedBarTakesTheKeyboard) {
  const TFrameGeometry free = StartingWorkArea();
  StoreBar(2, false);
  const std::uint32_t window = Start();
  ASSERT_NE(window, 0U) << Program->Errors();
  ASSERT_TRUE(WorkAreaIs({free.Left, free.Top, free.Width - 200, free.Height}));
  const std::uint32_t neighbour = StartMaximisedNeighbour();
  ASSERT_NE(neighbour, 0U);
  Xdotool({"windowactivate", "--sync", std::to_string(neighbour)});
  Xdotool({"mousemove", "--window", std::to_string(window), "60", "80", "click", "1"});
  EXPECT_TRUE(WaitUntil([&] { return InputFocus() == window; }));
  Xdotool({"key", "ctrl+h"});
  EXPECT_TRUE(WorkAreaIs(free)) << testing::PrintToString(WorkArea());
  EXPECT_EQ(Close(), 0) << Program->Errors();
}

// The window manager's own move, by the title bar, docks a floating bar too.
TEST_F(RealWindow, DraggedByItsTitleBarToAnEdgeTheBarDocks) {
  const std::uint32_t window = Start();
  ASSERT_NE(window, 0U) << Program->Errors();
  const TFrameGeometry frame = *Frame(window);
  const auto docked = [&] { return WorkArea().Left > 0; };
  const auto moved = [&] {
    const auto now = Frame(window);
    return !now || now->Left != frame.Left || docked();
  };
  const auto leftIsNot = [&](int left) {
    const auto now = Frame(window);
    return !now || now->Left != left || docked();
  };
  // On a loaded machine the window manager now and then moves nothing for a drag made of
  // synthetic events (seen with the window unmoved, its frame and the work area as before): the
  // drag is made again, a second apart so that two presses do not make a double click, until
  // the window manager has moved the window. What is tested is what the program does then.
  for (int attempt = 0; attempt < 5 && !moved(); ++attempt) {
    // The window has the focus, as the press on its title bar gives it, when the move ends.
    Xdotool({"windowactivate", "--sync", std::to_string(window)});
    Xdotool({"mousemove", std::to_string(frame.Left + frame.Width / 2),
             std::to_string(frame.Top + 8), "mousedown", "1"});
    // As a hand drags: the button stays down while the window follows, to the edge. Window
    // managers start the move at one motion and follow the next.
    Xdotool({"mousemove", "--sync", "500", "400", "mousemove", "--sync", "490", "410"});
    if (WaitUntil(moved, std::chrono::seconds(1))) {
      const int left = Frame(window) ? Frame(window)->Left : 0;
      Xdotool({"mousemove", "--sync", "1", "500"});
      WaitUntil([&] { return leftIsNot(left); }, std::chrono::seconds(1));
    }
    Xdotool({"mouseup", "1"});
    WaitUntil(moved, std::chrono::seconds(1));
  }
  ASSERT_TRUE(moved()) << Describe(window);
  EXPECT_TRUE(WaitUntil(docked)) << testing::PrintToString(WorkArea()) << ", " << Describe(window);
  EXPECT_EQ(Close(), 0) << Program->Errors();
}

// One auto-hiding bar per edge: the second is told so and docks normally; the claim ends with the
// first bar's process.
TEST_F(RealWindow, ASecondAutoHidingBarOnAnEdgeIsRefusedAndTheClaimDiesWithItsOwner) {
  const TFrameGeometry free = StartingWorkArea();
  const std::string claim = "_ORNAVEL_AUTOHIDE_BAR_2";
  // Shown or hidden, it spans the height the window manager's own panels leave.
  const auto leftIs = [&](std::uint32_t window, int left) {
    return WaitUntil([&] {
      const auto frame = Frame(window);
      return frame && frame->Left == left && frame->Top == free.Top && frame->Height == free.Height;
    });
  };
  StoreBar(2, true);
  const std::uint32_t first = Start();
  ASSERT_NE(first, 0U) << Program->Errors();
  EXPECT_TRUE(WaitUntil([&] { return SelectionOwner(claim) == first; }));
  // Hidden, it leaves a strip of two pixels and reserves nothing.
  EXPECT_TRUE(leftIs(first, ScreenWidth - 2)) << Describe(first);
  EXPECT_EQ(WorkArea(), free);
  // Touched, it slides in; left, it hides again.
  Xdotool({"mousemove", std::to_string(ScreenWidth - 1), "500"});
  EXPECT_TRUE(leftIs(first, ScreenWidth - 200)) << Describe(first);
  Xdotool({"mousemove", "300", "300"});
  EXPECT_TRUE(leftIs(first, ScreenWidth - 2)) << Describe(first);
  auto firstProgram = std::move(Program);
  const std::uint32_t box = Start();
  ASSERT_NE(box, 0U) << Program->Errors();
  EXPECT_TRUE(WaitUntil([&] { return HasWindowType(box, "_NET_WM_WINDOW_TYPE_DIALOG"); }));
  PressKeysIn(box, "Return");
  EXPECT_TRUE(WorkAreaIs({free.Left, free.Top, free.Width - 200, free.Height}))
      << testing::PrintToString(WorkArea());
  EXPECT_EQ(SelectionOwner(claim), first);
  firstProgram->Signal(SIGKILL);
  firstProgram->Wait(test::Patience);
  EXPECT_TRUE(WaitUntil([&] { return SelectionOwner(claim) == 0; }));
  EXPECT_EQ(Close(), 0) << Program->Errors();
}

// Two programs' bars docked on one edge stack from it in the order they docked, each reserving
// its own strip, and stay so while the work area changes: the inner one moves to the edge while
// the outer one auto-hides or is gone, and back beside it when it docks again.
TEST_F(RealWindow, TwoBarsOnOneEdgeStackSideBySide) {
  constexpr int OuterWidth = 200;
  constexpr int InnerWidth = 150;
  const TFrameGeometry free = StartingWorkArea();
  const auto at = [&](std::uint32_t window, int left, int width) {
    return Frame(window) == TFrameGeometry{left, free.Top, width, free.Height};
  };
  const auto reservedLeft = [&](int width) {
    return WorkArea() ==
           TFrameGeometry{free.Left + width, free.Top, free.Width - width, free.Height};
  };
  test::TTemporaryFolder innerSettings;
  WriteConfig(innerSettings);
  StoreBar(Settings, 0, false, OuterWidth);
  StoreBar(innerSettings, 0, false, InnerWidth);
  const std::uint32_t outer = Start();
  ASSERT_NE(outer, 0U) << Program->Errors();
  ASSERT_TRUE(WaitUntil([&] { return reservedLeft(OuterWidth); }))
      << testing::PrintToString(WorkArea());
  auto outerProgram = std::move(Program);
  const std::uint32_t inner = Start(innerSettings);
  ASSERT_NE(inner, 0U) << Program->Errors();
  const auto sideBySide = [&] {
    return reservedLeft(OuterWidth + InnerWidth) && at(outer, free.Left, OuterWidth) &&
           at(inner, free.Left + OuterWidth, InnerWidth);
  };
  const auto innerAlone = [&] {
    return reservedLeft(InnerWidth) && at(inner, free.Left, InnerWidth);
  };
  const auto describe = [&] {
    return testing::PrintToString(WorkArea()) + "; outer " + Describe(outer) + "; inner " +
           Describe(inner);
  };
  EXPECT_TRUE(WaitUntil(sideBySide)) << describe();
  // Auto-hiding, the outer bar reserves nothing.
  PressKeysIn(outer, "ctrl+h");
  EXPECT_TRUE(WaitUntil(innerAlone)) << describe();
  PressKeysIn(outer, "ctrl+h");
  EXPECT_TRUE(WaitUntil(sideBySide)) << describe();
  outerProgram->Signal(SIGTERM);
  EXPECT_EQ(outerProgram->Wait(test::Patience), 0) << outerProgram->Errors();
  EXPECT_TRUE(WaitUntil(innerAlone)) << describe();
  EXPECT_EQ(Close(), 0) << Program->Errors();
}

// An alert slides the auto-hidden bar out without taking the active window's place, for a while,
// then back to its strip, which shows the rule's colour until the pointer touches it.
TEST_F(RealWindow, AnAlertSlidesTheHiddenBarOutWithoutTheFocusAndColoursItsStrip) {
  const std::string log = FileWithAlertingRule();
  StoreBar(2, true);
  Launch({"QT_QPA_PLATFORM="}, {log});
  const std::uint32_t bar = WaitForWindow(Program->Pid());
  ASSERT_NE(bar, 0U) << Program->Errors();
  const auto leftIs = [&](int left) {
    return WaitUntil([&] {
      const auto frame = Frame(bar);
      return frame && frame->Left == left;
    });
  };
  ASSERT_TRUE(leftIs(ScreenWidth - 2)) << Describe(bar);
  const std::uint32_t neighbour = StartMaximisedNeighbour();
  Xdotool({"windowactivate", "--sync", std::to_string(neighbour)});
  Xdotool({"mousemove", "300", "300"});
  const auto active = [&] { return ActiveWindow(); };
  ASSERT_EQ(active(), neighbour);

  std::ofstream(log, std::ios::app) << "disk almost full" << std::endl;
  ASSERT_TRUE(leftIs(ScreenWidth - 200)) << Describe(bar);
  const auto out = std::chrono::steady_clock::now();
  EXPECT_EQ(active(), neighbour);
  EXPECT_TRUE(leftIs(ScreenWidth - 2)) << Describe(bar);
  EXPECT_GE(std::chrono::steady_clock::now() - out, std::chrono::seconds(4));
  EXPECT_EQ(active(), neighbour);
  const auto strip = [&] { return PixelAt(ScreenWidth - 1, 500); };
  EXPECT_TRUE(WaitUntil([&] { return strip() == 0xFF0000; })) << std::hex << strip();

  Xdotool({"mousemove", std::to_string(ScreenWidth - 1), "500"});
  EXPECT_TRUE(leftIs(ScreenWidth - 200)) << Describe(bar);
  Xdotool({"mousemove", "300", "300"});
  EXPECT_TRUE(leftIs(ScreenWidth - 2)) << Describe(bar);
  EXPECT_TRUE(WaitUntil([&] { return strip() != 0xFF0000; })) << "touched, it is plain again";
  EXPECT_EQ(Close(), 0) << Program->Errors();
}

// A floating window behind another asks the window manager for attention at an alert, and is
// not raised over the window the user works in.
TEST_F(RealWindow, AnAlertAsksForAttentionForAFloatingWindowBehindAnother) {
  const std::string log = FileWithAlertingRule();
  Launch({"QT_QPA_PLATFORM="}, {log});
  const std::uint32_t window = WaitForWindow(Program->Pid());
  ASSERT_NE(window, 0U) << Program->Errors();
  const std::uint32_t neighbour = StartMaximisedNeighbour();
  Xdotool({"windowactivate", "--sync", std::to_string(neighbour)});
  ASSERT_EQ(ActiveWindow(), neighbour);
  ASSERT_FALSE(HasState(window, "_NET_WM_STATE_DEMANDS_ATTENTION"));
  std::ofstream(log, std::ios::app) << "disk almost full" << std::endl;
  EXPECT_TRUE(WaitUntil([&] { return HasState(window, "_NET_WM_STATE_DEMANDS_ATTENTION"); }));
  EXPECT_EQ(ActiveWindow(), neighbour);
  EXPECT_EQ(Close(), 0) << Program->Errors();
}

} // namespace
} // namespace ornavel
