#include "TestSupport.h"
#include "X11SessionUnit.h"

#include <csignal>
#include <filesystem>
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
    std::filesystem::create_directories(Settings.File("Ornavel"));
    test::WriteFile(Settings.File("Ornavel/Config.xml"),
                    "<?xml version=\"1.0\"?>\r\n<Config><MonitorSyslog value=\"False\"/>"
                    "</Config>\r\n");
  }

  // Starts the program; answers its window once the window manager has framed and shown it.
  std::uint32_t Start() {
    Program = std::make_unique<TChildProcess>(
        std::vector<std::string>{ORNAVEL_BINARY},
        std::vector<std::string>{"DISPLAY=" + Display(), "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=xcb",
                                 "XDG_CONFIG_HOME=" + Settings.Path(),
                                 "LSAN_OPTIONS=suppressions=" ORNAVEL_LSAN_SUPPRESSIONS});
    return WaitForWindow(Program->Pid());
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

  std::string Describe(std::uint32_t window) {
    const auto frame = Frame(window);
    return frame ? testing::PrintToString(*frame) : "not framed";
  }

  test::TTemporaryFolder Settings;
  std::unique_ptr<TChildProcess> Program;
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
  ASSERT_NE(window, 0U) << Program->Errors();
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
        << testing::PrintToString(wanted);
    ASSERT_EQ(Close(), 0) << Program->Errors();
    EXPECT_EQ(SavedNormPos(), saved) << "start " << start;
  }
}

INSTANTIATE_TEST_SUITE_P(RealWindow, PlacementAfterAChange,
                         testing::Values(TPlacementChange{"Moved", true},
                                         TPlacementChange{"Resized", false}),
                         [](const auto& info) { return std::string(info.param.Name); });

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

TEST_F(RealWindow, TheWindowManagersCloseCommandClosesInOrder) {
  const std::uint32_t window = Start();
  ASSERT_NE(window, 0U) << Program->Errors();
  CloseByWindowManager(window);
  EXPECT_EQ(Program->Wait(test::Patience), 0) << Program->Errors();
  EXPECT_NE(SavedNormPos(), "");
}

} // namespace
} // namespace ornavel
