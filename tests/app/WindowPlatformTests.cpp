#include "app/WindowPlatformUnit.h"

#include <gtest/gtest.h>

namespace ornavel {
namespace {

TDisplayProbe Usable(bool x, bool wayland) {
  return {[x] { return x; }, [wayland] { return wayland; }};
}

// A Wayland session with XWayland runs the window on X11, where all of it works, unless the
// user chose; each display is used only when it can be.
TEST(WindowPlatform, XWaylandFirstUnlessTheUserChose) {
  const TSessionDisplays both{":0", "wayland-0", ""};
  EXPECT_EQ(ChooseWindowPlatform(both, Usable(true, true)).Platform, "xcb");
  EXPECT_EQ(ChooseWindowPlatform(both, Usable(false, true)).Platform, "wayland");
  EXPECT_EQ(ChooseWindowPlatform({"", "wayland-0", ""}, Usable(true, true)).Platform, "wayland");
  EXPECT_EQ(ChooseWindowPlatform({":1", "", ""}, Usable(true, false)).Platform, "xcb");
  for (const char* chosen : {"wayland", "xcb", "offscreen"}) {
    const TWindowPlatform platform =
        ChooseWindowPlatform({":0", "wayland-0", chosen}, Usable(true, true));
    EXPECT_EQ(platform.Platform, chosen);
    EXPECT_EQ(platform.Problem, "") << chosen;
  }
}

// Where Qt would abort, the reason is given instead, and the program goes on in console mode.
TEST(WindowPlatform, NoUsableDisplayIsAReasonNotAnAbort) {
  EXPECT_EQ(ChooseWindowPlatform({"", "", ""}, Usable(true, true)).Problem,
            "No display (neither DISPLAY nor WAYLAND_DISPLAY is set)");
  const auto problem = [](TSessionDisplays session, TDisplayProbe probe) {
    const TWindowPlatform platform = ChooseWindowPlatform(session, probe);
    EXPECT_EQ(platform.Platform, "");
    return platform.Problem;
  };
  EXPECT_NE(problem({"", "wayland-0", ""}, Usable(true, false)).find("qt6-wayland"),
            std::string::npos);
  EXPECT_NE(problem({":0", "wayland-0", "wayland"}, Usable(true, false)).find("qt6-wayland"),
            std::string::npos);
  EXPECT_NE(problem({":0", "wayland-0", ""}, Usable(false, false)).find(":0"), std::string::npos);
  EXPECT_EQ(problem({":5", "", ""}, Usable(false, true)), "The X server :5 does not answer");
  EXPECT_NE(problem({"", "wayland-0", "xcb"}, Usable(true, true)).find("no X server"),
            std::string::npos);
}

} // namespace
} // namespace ornavel
