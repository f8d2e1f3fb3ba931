#include "ui/AppBarGeometryUnit.h"

#include <ostream>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel {

// Found by argument-dependent lookup, so failures show rectangles rather than bytes.
static void PrintTo(const TBarRect& r, std::ostream* out) {
  *out << "(" << r.Left << "," << r.Top << "," << r.Right << "," << r.Bottom << ")";
}
static void PrintTo(const TEdgeWidths& w, std::ostream* out) {
  *out << "left " << w.Left << ", right " << w.Right << ", top " << w.Top << ", bottom "
       << w.Bottom;
}

namespace {

using enum TAppBarEdge;
using S = TSizingSide;

const TBarRect FullScreen{0, 0, 1280, 1024};

TBarMetrics Screen() {
  TBarMetrics metrics;
  metrics.ScreenWidth = 1280;
  metrics.ScreenHeight = 1024;
  metrics.WorkArea = FullScreen;
  metrics.BorderHeight = 2; // unlike the width, so that a swapped axis shows
  return metrics;
}

TBarSettingsRecord Settings() {
  TBarSettingsRecord settings = DefaultBarSettings(1280, 1024);
  settings.HorzDockSize = 48;
  settings.FloatLeft = settings.FloatTop = 100;
  settings.FloatRight = 301, settings.FloatBottom = 400;
  return settings;
}

// Every case names itself by its first member, in the test's name and in a failure.
template <class T>
std::string Named(const testing::TestParamInfo<T>& info) {
  return info.param.Name;
}
template <class T>
requires requires(const T& c) {
  c.Name;
}
void PrintTo(const T& c, std::ostream* out) {
  *out << c.Name;
}

struct TEdgeCase {
  const char* Name;
  bool Control;
  TAppBarFlags Flags;
  TBarPoint Cursor;
  TAppBarEdge Expected;
};
class EdgeChoice : public testing::TestWithParam<TEdgeCase> {};

TEST_P(EdgeChoice, FollowsTheCursorAndTheAllowedEdges) {
  const TEdgeCase& c = GetParam();
  EXPECT_EQ(EdgeForCursor(c.Control, c.Flags, c.Cursor, abeRight, Screen()), c.Expected);
}

constexpr TAppBarFlags NoLeft = AllAppBarFlags & ~abfAllowLeft;
constexpr TAppBarFlags EdgesOnly = AllAppBarFlags & ~abfAllowFloat;
constexpr TAppBarFlags TopRightBottom = NoLeft & EdgesOnly;
INSTANTIATE_TEST_SUITE_P(
    Cases, EdgeChoice,
    testing::Values(TEdgeCase{"NearLeft", false, AllAppBarFlags, {5, 500}, abeLeft},
                    TEdgeCase{"NearBottom", false, AllAppBarFlags, {640, 1020}, abeBottom},
                    TEdgeCase{"LeftNotAllowedFloats", false, NoLeft, {5, 500}, abeFloat},
                    TEdgeCase{"NeitherKeepsCommitted", false, TopRightBottom, {5, 500}, abeRight},
                    TEdgeCase{"InsideScrollBarMargin", false, AllAppBarFlags, {16, 16}, abeFloat},
                    TEdgeCase{
                        "MarginBottomExclusive", false, AllAppBarFlags, {640, 1008}, abeBottom},
                    TEdgeCase{"MiddleWithoutFloatDocks", false, EdgesOnly, {300, 500}, abeLeft},
                    TEdgeCase{"DiagonalTieGoesLeft", false, AllAppBarFlags, {0, 0}, abeLeft},
                    TEdgeCase{"PastDiagonalGoesTop", false, AllAppBarFlags, {1, 0}, abeTop},
                    TEdgeCase{"OnlyFloat", false, abfAllowFloat, {5, 500}, abeFloat},
                    TEdgeCase{"NothingAllowed", false, 0, {5, 500}, abeRight},
                    TEdgeCase{"ControlFloats", true, AllAppBarFlags, {5, 500}, abeFloat},
                    TEdgeCase{"ControlNeedsFloat", true, EdgesOnly, {5, 500}, abeLeft}),
    Named<TEdgeCase>);

struct TDockCase {
  const char* Name;
  TAppBarEdge Edge;
  bool AutoHide;
  TBarRect Free;
  TBarRect Expected;
};
class DockStrip : public testing::TestWithParam<TDockCase> {};

TEST_P(DockStrip, TakesTheDockSizeOfTheFreeSpace) {
  const TDockCase& c = GetParam();
  TBarSettingsRecord settings = Settings();
  settings.AutoHide = c.AutoHide;
  std::vector<TAppBarEdge> asked;
  const TQueryPos queryPos = [&](TAppBarEdge edge, TBarRect proposed) {
    asked.push_back(edge);
    EXPECT_EQ(proposed, FullScreen);
    return QueryPosAnswer(proposed, c.Free);
  };
  const TBarRect floating{7, 8, 9, 10};
  EXPECT_EQ(DockRect(c.Edge, floating, settings, Screen(), queryPos), c.Expected);
  const bool asks = c.Edge <= abeBottom;
  EXPECT_EQ(asked, asks ? std::vector{c.Edge} : std::vector<TAppBarEdge>{});
}

const TBarRect Shrunk{10, 20, 1270, 1000};
INSTANTIATE_TEST_SUITE_P(
    Cases, DockStrip,
    testing::Values(
        TDockCase{"RightOnFreeScreen", abeRight, false, FullScreen, {1216, 0, 1280, 1024}},
        TDockCase{"Left", abeLeft, false, Shrunk, {10, 20, 74, 1000}},
        TDockCase{"Top", abeTop, false, Shrunk, {10, 20, 1270, 68}},
        TDockCase{"Right", abeRight, false, Shrunk, {1206, 20, 1270, 1000}},
        TDockCase{"Bottom", abeBottom, false, Shrunk, {10, 952, 1270, 1000}},
        TDockCase{
            "AutoHideAtTheScreenEdgeBesideOtherPanels", abeLeft, true, Shrunk, {0, 20, 64, 1000}},
        TDockCase{"AutoHideTopBesideOtherPanels", abeTop, true, Shrunk, {10, 0, 1270, 48}},
        TDockCase{"FloatKeepsItsRect", abeFloat, false, Shrunk, {7, 8, 9, 10}},
        TDockCase{"UnregisteredKeepsItsRect", abeUnknown, false, Shrunk, {7, 8, 9, 10}}),
    Named<TDockCase>);

struct TPlacementCase {
  const char* Name;
  bool Shown;
  TAppBarEdge Edge;
  bool AutoHide;
  TBarRect Bar;
  std::optional<TBarRect> Expected;
};
class AutoHide : public testing::TestWithParam<TPlacementCase> {};

TEST_P(AutoHide, KeepsTwoBordersOnScreenWhenHidden) {
  const TPlacementCase& c = GetParam();
  TBarSettingsRecord settings = Settings();
  settings.AutoHide = c.AutoHide;
  EXPECT_EQ(AutoHidePlacement(c.Shown, c.Edge, settings, c.Bar, Screen()), c.Expected);
}

const TBarRect Tall{0, 0, 64, 1024};
const TBarRect Wide{0, 0, 1280, 48};
INSTANTIATE_TEST_SUITE_P(
    Cases, AutoHide,
    testing::Values(
        TPlacementCase{"LeftHidden", false, abeLeft, true, Tall, TBarRect{-62, 0, 2, 1024}},
        TPlacementCase{"TopHidden", false, abeTop, true, Wide, TBarRect{0, -44, 1280, 4}},
        TPlacementCase{"RightHidden", false, abeRight, true, Tall, TBarRect{1278, 0, 1342, 1024}},
        TPlacementCase{"RightShown", true, abeRight, true, Tall, TBarRect{1216, 0, 1280, 1024}},
        TPlacementCase{"BottomHidden", false, abeBottom, true, Wide, TBarRect{0, 1020, 1280, 1068}},
        TPlacementCase{"BottomShown", true, abeBottom, true, Wide, TBarRect{0, 976, 1280, 1024}},
        TPlacementCase{"RightBelowAPanel",
                       false,
                       abeRight,
                       true,
                       {1216, 27, 1280, 1024},
                       TBarRect{1278, 27, 1342, 1024}},
        TPlacementCase{
            "TopBesideAPanel", true, abeTop, true, {0, -44, 1200, 4}, TBarRect{0, 0, 1200, 48}},
        TPlacementCase{"NotAutoHiding", false, abeLeft, false, Tall, std::nullopt},
        TPlacementCase{"Floating", false, abeFloat, true, Tall, std::nullopt},
        TPlacementCase{"Unregistered", false, abeUnknown, true, Tall, std::nullopt}),
    Named<TPlacementCase>);

// Two monitors side by side, the right one lower and smaller.
const std::vector<TBarRect> TwoMonitors{FullScreen, {1280, 100, 2304, 868}};

TBarMetrics RightMonitor() {
  TBarMetrics metrics = Screen();
  metrics.ScreenLeft = 1280, metrics.ScreenTop = 100;
  metrics.ScreenWidth = 1024, metrics.ScreenHeight = 768;
  metrics.ScreenEdges = OuterEdges(TwoMonitors[1], TwoMonitors);
  metrics.WorkArea = TwoMonitors[1];
  return metrics;
}

TEST(Monitors, TheBarDocksOnlyToEdgesOfTheWholeDesktopOfTheMonitorItIsOn) {
  EXPECT_EQ(OuterEdges(TwoMonitors[0], TwoMonitors), abfAllowLeft | abfAllowTop | abfAllowBottom);
  EXPECT_EQ(OuterEdges(TwoMonitors[1], TwoMonitors), abfAllowTop | abfAllowRight | abfAllowBottom);
  EXPECT_EQ(NearestMonitor({1300, 90}, TwoMonitors), TwoMonitors[1]);
  EXPECT_EQ(MonitorForEdge(abeRight, {10, 10}, TwoMonitors), TwoMonitors[1]);
  EXPECT_EQ(MonitorForEdge(abeTop, {10, 10}, TwoMonitors), TwoMonitors[0]);

  const TBarMetrics right = RightMonitor();
  EXPECT_EQ(EdgeForCursor(false, AllAppBarFlags, {1282, 480}, abeFloat, right), abeFloat);
  EXPECT_EQ(EdgeForCursor(false, EdgesOnly, {1282, 480}, abeTop, right), abeTop);
  EXPECT_EQ(EdgeForCursor(false, AllAppBarFlags, {2303, 480}, abeFloat, right), abeRight);
  const TQueryPos free = [](TAppBarEdge, TBarRect r) { return r; };
  TBarSettingsRecord settings = Settings();
  EXPECT_EQ(DockRect(abeRight, {}, settings, right, free), (TBarRect{2240, 100, 2304, 868}));
  settings.AutoHide = true;
  EXPECT_EQ(AutoHidePlacement(false, abeBottom, settings, {1400, 820, 1600, 868}, right),
            (TBarRect{1400, 864, 1600, 912}));
}

TEST(Monitors, APlaceOnAMonitorThatHasGoneComesBackWholeOnTheNearestOne) {
  const std::vector<TBarRect> one{FullScreen};
  EXPECT_EQ(OntoMonitors({1800, 300, 2200, 900}, one), (TBarRect{880, 300, 1280, 900}));
  EXPECT_EQ(OntoMonitors({-1500, -20, -100, 40}, one), (TBarRect{0, 0, 1280, 60}));
  EXPECT_EQ(OntoMonitors({1000, 300, 1400, 900}, one), (TBarRect{1000, 300, 1400, 900}));
  // Docked on another monitor, the bar floats there at the same place.
  EXPECT_EQ(OntoMonitor({100, 200, 300, 600}, TwoMonitors[1], TwoMonitors),
            (TBarRect{1380, 300, 1580, 700}));
  EXPECT_EQ(OntoMonitor({100, 200, 300, 1000}, TwoMonitors[1], TwoMonitors),
            (TBarRect{1380, 100, 1580, 868}));
}

// Bars of ours docked left, in the order the window manager lists them, each placing itself from
// the others' strips as they are at that moment, beside a task bar at the bottom.
class Stacking : public testing::Test {
protected:
  struct TBar {
    int Width;
    TBarRect Place;
  };

  // Places each bar once, in the order given; answers whether one moved.
  bool PlaceAll(bool backwards) {
    bool moved = false;
    for (std::size_t n = 0; n < Bars.size(); ++n) {
      const std::size_t i = backwards ? Bars.size() - 1 - n : n;
      std::vector<TOtherStrip> others;
      for (std::size_t j = 0; j < Bars.size(); ++j)
        if (j != i)
          others.push_back({{Bars[j].Place.Right, 0, 0, 0}, j > i});
      const TBarRect free = FreeAreaBeside(OuterWidths(others), Panels, 1280, 1024);
      TBarSettingsRecord settings = Settings();
      settings.VertDockSize = Bars[i].Width;
      const TBarRect place = DockRect(abeLeft, {}, settings, Screen(),
                                      [&](auto, TBarRect r) { return QueryPosAnswer(r, free); });
      moved = moved || place != Bars[i].Place;
      Bars[i].Place = place;
    }
    return moved;
  }
  // Whether the bars come to rest within a few rounds.
  bool Settle(bool backwards) {
    for (int round = 0; round < 5; ++round)
      if (!PlaceAll(backwards))
        return true;
    return false;
  }

  const TEdgeWidths Panels{0, 0, 0, 26};
  std::vector<TBar> Bars;
};

// Whichever moves first, they settle side by side from the edge, each reserving its own strip
// beside those before it, and close up when one goes.
TEST_F(Stacking, BarsOnOneEdgeSettleSideBySideInTheirOrderAndCloseUp) {
  for (const bool backwards : {false, true}) {
    // As they were when the first two started together, each seeing only the task bar.
    Bars = {{200, {0, 0, 200, 998}}, {150, {0, 0, 150, 998}}, {100, {}}};
    ASSERT_TRUE(Settle(backwards));
    EXPECT_EQ(Bars[0].Place, (TBarRect{0, 0, 200, 998}));
    EXPECT_EQ(Bars[1].Place, (TBarRect{200, 0, 350, 998}));
    EXPECT_EQ(Bars[2].Place, (TBarRect{350, 0, 450, 998}));
    Bars.erase(Bars.begin());
    ASSERT_TRUE(Settle(backwards));
    EXPECT_EQ(Bars[0].Place, (TBarRect{0, 0, 150, 998}));
    EXPECT_EQ(Bars[1].Place, (TBarRect{150, 0, 250, 998}));
  }
}

// What a listed window's strip explains is its own, whether or not it is a bar that docks beside
// ours; only the rest is the window manager's panels.
TEST_F(Stacking, OnlyMarginsNoStripExplainsAreTheWindowManagersPanels) {
  const TBarRect workArea{350, 0, 1280, 998};
  EXPECT_EQ(UnexplainedWidths(workArea, {}, 1280, 1024), (TEdgeWidths{350, 0, 0, 26}));
  const std::vector<TOtherStrip> outer{{{200, 0, 0, 0}, false}, {{350, 0, 0, 0}, true}};
  EXPECT_EQ(UnexplainedWidths(workArea, outer, 1280, 1024), Panels);
  const std::vector<TOtherStrip> narrower{{{300, 0, 0, 30}, false}};
  EXPECT_EQ(UnexplainedWidths(workArea, narrower, 1280, 1024), (TEdgeWidths{350, 0, 0, 0}));
}

TEST(AutoHideTimer, HidesOnlyOnceTheCursorIsTwoDoubleClickDistancesAway) {
  TBarMetrics metrics = Screen();
  metrics.DoubleClickWidth = 4, metrics.DoubleClickHeight = 3;
  const TBarRect bar{0, 0, 64, 1024};
  EXPECT_FALSE(CursorAwayFromBar({71, 500}, bar, metrics));
  EXPECT_TRUE(CursorAwayFromBar({72, 500}, bar, metrics));
  EXPECT_FALSE(CursorAwayFromBar({30, 1029}, bar, metrics));
  EXPECT_TRUE(CursorAwayFromBar({30, 1030}, bar, metrics));
  EXPECT_TRUE(CursorAwayFromBar({-9, 500}, bar, metrics));
}

struct TSizingCase {
  const char* Name;
  TSizingSide Side;
  TAppBarEdge Committed;
  int HorzInc, VertInc, BaseW, BaseH; // bases of the committed state; the other state's are 3
  TBarPoint Proposed;                 // width and height, at (100, 100)
  TBarRect Expected;
};
class Sizing : public testing::TestWithParam<TSizingCase> {};

TEST_P(Sizing, StepsFromTheBaseAndMovesOnlyTheDraggedSides) {
  const TSizingCase& c = GetParam();
  TBarSettingsRecord settings = Settings();
  settings.HorzSizeInc = c.HorzInc;
  settings.VertSizeInc = c.VertInc;
  const bool floating = c.Committed == abeFloat;
  settings.MinWidth = floating ? c.BaseW : 3;
  settings.MinHeight = floating ? c.BaseH : 3;
  settings.MinVertDockSize = floating ? 3 : c.BaseW;
  settings.MinHorzDockSize = floating ? 3 : c.BaseH;
  const TBarRect proposed{100, 100, 100 + c.Proposed.X, 100 + c.Proposed.Y};
  EXPECT_EQ(SizedRect(c.Side, proposed, c.Committed, settings), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Sizing,
    testing::Values(
        TSizingCase{"RoundsUp", S::Right, abeFloat, 10, 10, 0, 0, {137, 9}, {100, 100, 240, 109}},
        TSizingCase{"RoundsDown", S::Left, abeFloat, 10, 10, 0, 0, {134, 9}, {104, 100, 234, 109}},
        TSizingCase{"FromBase", S::Right, abeFloat, 10, 10, 25, 0, {52, 9}, {100, 100, 155, 109}},
        TSizingCase{"DockedBase", S::Right, abeLeft, 10, 10, 25, 0, {52, 9}, {100, 100, 155, 109}},
        TSizingCase{
            "BelowBaseTruncates", S::Right, abeFloat, 10, 10, 25, 0, {12, 9}, {100, 100, 125, 109}},
        TSizingCase{"Top", S::Top, abeTop, 10, 20, 0, 4, {9, 152}, {100, 108, 109, 252}},
        TSizingCase{"Bottom", S::Bottom, abeFloat, 10, 20, 0, 0, {9, 147}, {100, 100, 109, 240}},
        TSizingCase{"TopLeft", S::TopLeft, abeFloat, 10, 20, 0, 0, {37, 37}, {97, 97, 137, 137}},
        TSizingCase{
            "BottomRight", S::BottomRight, abeFloat, 10, 20, 0, 0, {37, 37}, {100, 100, 140, 140}},
        TSizingCase{
            "NoIncrement", S::BottomRight, abeFloat, 0, 0, 5, 5, {37, 37}, {100, 100, 137, 137}}),
    Named<TSizingCase>);

TEST(TrackSizes, FloatingUsesMinMaxAndDockedTheDockLimitsAlongTheEdgeTheScreen) {
  TBarSettingsRecord settings = Settings();
  settings.MinWidth = 1, settings.MinHeight = 2, settings.MaxWidth = 3, settings.MaxHeight = 4;
  settings.MinVertDockSize = 5, settings.MinHorzDockSize = 6;
  settings.MaxVertDockSize = 7, settings.MaxHorzDockSize = 8;
  EXPECT_EQ(TrackSizes(abeFloat, settings, Screen()), (TTrackSizes{1, 2, 3, 4}));
  EXPECT_EQ(TrackSizes(abeRight, settings, Screen()), (TTrackSizes{5, 6, 7, 1024}));
  EXPECT_EQ(TrackSizes(abeTop, settings, Screen()), (TTrackSizes{5, 6, 1280, 8}));
}

struct TBorderCase {
  const char* Name;
  TAppBarEdge Edge;
  int HorzInc, VertInc;
  TBarPoint Cursor;
  std::optional<TSizingSide> Expected;
};
class DockedBorder : public testing::TestWithParam<TBorderCase> {};

TEST_P(DockedBorder, SizesOnlyByTheInnerBorderAsTheStateAllows) {
  const TBorderCase& c = GetParam();
  TBarSettingsRecord settings = Settings();
  settings.HorzSizeInc = c.HorzInc;
  settings.VertSizeInc = c.VertInc;
  // The client area of a 64-pixel bar on each edge, 4-pixel borders.
  const TBarRect clients[] = {
      {4, 4, 60, 1020}, {4, 4, 1276, 44}, {1220, 4, 1276, 1020}, {4, 980, 1276, 1020}};
  EXPECT_EQ(DockedSizingSide(c.Edge, settings, c.Cursor, clients[static_cast<int>(c.Edge)]),
            c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DockedBorder,
    testing::Values(TBorderCase{"LeftInner", abeLeft, 10, 10, {62, 500}, S::Right},
                    TBorderCase{"LeftInnerCorner", abeLeft, 10, 10, {62, 1}, S::Right},
                    TBorderCase{"LeftInnerFirstPixel", abeLeft, 10, 10, {60, 500}, S::Right},
                    TBorderCase{"LeftOuter", abeLeft, 10, 10, {1, 500}, std::nullopt},
                    TBorderCase{"LeftWithoutHorz", abeLeft, 0, 10, {62, 500}, std::nullopt},
                    TBorderCase{"TopInner", abeTop, 0, 10, {500, 46}, S::Bottom},
                    TBorderCase{"TopWithoutVert", abeTop, 10, 0, {500, 46}, std::nullopt},
                    TBorderCase{"RightInner", abeRight, 10, 10, {1218, 1022}, S::Left},
                    TBorderCase{"BottomInner", abeBottom, 10, 10, {500, 978}, S::Top}),
    Named<TBorderCase>);

TEST(Moving, ShowsTheDockStripOrTheFloatSizeUnderTheCursor) {
  const auto step = [](TAppBarEdge drag, TAppBarEdge cursor) {
    const TQueryPos queryPos = [](TAppBarEdge, TBarRect proposed) { return proposed; };
    const TMoveStep answer =
        MoveStep(drag, cursor, {640, 500}, {10, 20, 30, 40}, Settings(), Screen(), queryPos);
    EXPECT_EQ(answer.DragEdge, cursor);
    return answer.Rect;
  };
  EXPECT_EQ(step(abeLeft, abeFloat), (TBarRect{540, 500, 741, 800})); // float size, top centre
  EXPECT_EQ(step(abeFloat, abeFloat), (TBarRect{10, 20, 30, 40}));
  EXPECT_EQ(step(abeFloat, abeBottom), (TBarRect{0, 976, 1280, 1024}));
  EXPECT_EQ(step(abeLeft, abeTop), (TBarRect{0, 0, 1280, 48}));
}

struct TLoopCase {
  const char* Name;
  TAppBarEdge Drag, Committed;
  TBarRect Window;
  int VertDockSize, HorzDockSize;
  TBarRect Float;
};
class LoopEnd : public testing::TestWithParam<TLoopCase> {};

TEST_P(LoopEnd, TakesTheDockSizeOrTheFloatRectangle) {
  const TLoopCase& c = GetParam();
  TBarSettingsRecord settings = Settings();
  TakeLoopResult(c.Drag, c.Committed, c.Window, {0, 0, 1280, 1000}, settings);
  EXPECT_EQ(settings.VertDockSize, c.VertDockSize);
  EXPECT_EQ(settings.HorzDockSize, c.HorzDockSize);
  EXPECT_EQ(
      (TBarRect{settings.FloatLeft, settings.FloatTop, settings.FloatRight, settings.FloatBottom}),
      c.Float);
}

const TBarRect StoredFloat{100, 100, 301, 400};
INSTANTIATE_TEST_SUITE_P(
    Cases, LoopEnd,
    testing::Values(
        TLoopCase{"LeftSized", abeLeft, abeLeft, {0, 0, 90, 1000}, 90, 48, StoredFloat},
        TLoopCase{"BottomSized", abeBottom, abeBottom, {0, 900, 1280, 1000}, 64, 100, StoredFloat},
        TLoopCase{"DockedElsewhere", abeTop, abeLeft, {0, 0, 1280, 80}, 64, 48, StoredFloat},
        TLoopCase{"FloatMoved", abeFloat, abeFloat, {5, 6, 1280, 1000}, 64, 48, {5, 6, 1280, 1000}},
        TLoopCase{"UndockedSmall", abeFloat, abeRight, {5, 6, 69, 999}, 64, 48, {5, 6, 69, 999}},
        TLoopCase{"UndockedTall", abeFloat, abeLeft, {5, 6, 69, 1006}, 64, 48, {5, 6, 206, 306}},
        TLoopCase{"UndockedWide", abeFloat, abeTop, {5, 6, 1285, 54}, 64, 48, {5, 6, 206, 306}}),
    Named<TLoopCase>);

TEST(Slide, MovesAndResizesInProportionTruncatingTowardZero) {
  EXPECT_EQ(SlideStep(Tall, {-62, 0, 2, 1024}, 200, 400), (TBarRect{-31, 0, 33, 1024}));
  EXPECT_EQ(SlideStep({-63, 0, 1, 10}, Tall, 1, 2), (TBarRect{-32, 0, 32, 517}));
  EXPECT_EQ(SlideStep(Tall, {5, 6, 7, 8}, 400, 400), (TBarRect{5, 6, 7, 8}));
  EXPECT_EQ(SlideStep(Tall, {5, 6, 7, 8}, 0, 0), (TBarRect{5, 6, 7, 8})); // no slide time
}

std::int32_t Int32At(const TBarSettingsBytes& bytes, std::size_t offset) {
  return static_cast<std::int32_t>(bytes[offset] | bytes[offset + 1] << 8 |
                                   bytes[offset + 2] << 16 |
                                   static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

TEST(BarRecord, DefaultsOfABarThatLoadedNothingAtTheirOffsets) {
  const TBarSettingsBytes bytes = EncodeBarSettings(DefaultBarSettings(1281, 1023));
  const std::vector<std::uint8_t> head(bytes.begin(), bytes.begin() + 12);
  EXPECT_EQ(head, (std::vector<std::uint8_t>{84, 0, 0, 0, 5, 31, 0, 1, 0, 0, 0, 0}));
  const std::vector<std::int32_t> expected{400, 10, 10,   64,   64, 0, 0,   0,  0,
                                           0,   0,  1281, 1023, 0,  0, 640, 511};
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(Int32At(bytes, 12 + 4 * i), expected[i]) << "offset " << 12 + 4 * i;
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 80, bytes.end()),
            (std::vector<std::uint8_t>{2, 0, 0, 0}));
}

TEST(BarRecord, EveryByteOfAStoredRecordComesBackIncludingReservedAndOddValues) {
  TBarSettingsBytes stored{};
  for (std::size_t i = 0; i < stored.size(); ++i)
    stored[i] = static_cast<std::uint8_t>(0xA0 + i);
  stored[6] = 0, stored[7] = 1, stored[8] = 1; // the booleans
  const std::optional<TBarSettingsRecord> record = DecodeBarSettings(stored);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->Size, static_cast<std::int32_t>(0xA3A2A1A0));
  EXPECT_EQ(static_cast<int>(record->Edge), 0xA4);
  EXPECT_EQ(record->FloatLeft, static_cast<std::int32_t>(0xC3C2C1C0));
  EXPECT_EQ(record->Reserved2, (std::array<std::uint8_t, 3>{0xF1, 0xF2, 0xF3}));
  EXPECT_EQ(EncodeBarSettings(*record), stored);
  stored[6] = 2;
  EXPECT_TRUE(DecodeBarSettings(stored)->AutoHide);
}

class BarRecordLength : public testing::TestWithParam<std::size_t> {};

TEST_P(BarRecordLength, AnyOtherThan84BytesIsIgnored) {
  const std::vector<std::uint8_t> bytes(GetParam(), 7);
  EXPECT_EQ(DecodeBarSettings(bytes).has_value(), GetParam() == 84);
}

INSTANTIATE_TEST_SUITE_P(Cases, BarRecordLength, testing::Values(0, 83, 84, 85));

} // namespace
} // namespace ornavel
