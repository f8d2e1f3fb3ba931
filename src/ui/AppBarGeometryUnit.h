#pragma once

// The desktop bar's geometry and its stored record, as plain functions of plain inputs: the
// window system only supplies the inputs and applies the answers, so none of this needs a display.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace ornavel {

// Stored as one byte holding the ordinal; 0 to 3 are the edges the desktop knows.
enum class TAppBarEdge : std::uint8_t {
  abeLeft = 0,
  abeTop = 1,
  abeRight = 2,
  abeBottom = 3,
  abeUnknown = 4, // not registered with the desktop
  abeFloat = 5,   // registered, floating, reserving nothing
};

// A set of these is one byte, bit n for the flag of ordinal n.
enum TAppBarFlag : std::uint8_t {
  abfAllowLeft = 1u << 0,
  abfAllowTop = 1u << 1,
  abfAllowRight = 1u << 2,
  abfAllowBottom = 1u << 3,
  abfAllowFloat = 1u << 4,
};
using TAppBarFlags = std::uint8_t;
constexpr TAppBarFlags AllAppBarFlags = 31;

// One of the four edges, as opposed to floating, unknown or an ordinal out of range.
inline bool IsDocked(TAppBarEdge edge) {
  return static_cast<unsigned>(edge) <= static_cast<unsigned>(TAppBarEdge::abeBottom);
}

enum class TAppBarTaskEntry : std::uint8_t { abtShow = 0, abtHide = 1, abtFloatDependent = 2 };

// Right and bottom are exclusive, as the desktop's rectangles are.
struct TBarRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool operator==(const TBarRect&) const = default;
};

struct TBarPoint {
  int X = 0;
  int Y = 0;
  bool operator==(const TBarPoint&) const = default;
};

// The settings kept as the 84-byte "AppBar" value, field by field in the stored order.
struct TBarSettingsRecord {
  std::int32_t Size = 84;
  TAppBarEdge Edge = TAppBarEdge::abeFloat;
  TAppBarFlags Flags = AllAppBarFlags;
  bool AutoHide = false;
  bool AlwaysOnTop = true;
  bool SlideEffect = false;
  std::array<std::uint8_t, 3> Reserved1{};
  std::int32_t SlideTime = 400;
  std::int32_t HorzSizeInc = 10;
  std::int32_t VertSizeInc = 10;
  std::int32_t VertDockSize = 64;
  std::int32_t HorzDockSize = 64;
  std::int32_t FloatLeft = 0;
  std::int32_t FloatTop = 0;
  std::int32_t FloatRight = 0;
  std::int32_t FloatBottom = 0;
  std::int32_t MinWidth = 0;
  std::int32_t MinHeight = 0;
  std::int32_t MaxWidth = 0;
  std::int32_t MaxHeight = 0;
  std::int32_t MinVertDockSize = 0;
  std::int32_t MinHorzDockSize = 0;
  std::int32_t MaxVertDockSize = 0;
  std::int32_t MaxHorzDockSize = 0;
  TAppBarTaskEntry TaskEntry = TAppBarTaskEntry::abtFloatDependent;
  std::array<std::uint8_t, 3> Reserved2{};
};

constexpr std::size_t BarSettingsRecordSize = 84;
using TBarSettingsBytes = std::array<std::uint8_t, BarSettingsRecordSize>;

// The defaults of a bar that has loaded nothing, on a primary screen of that size.
TBarSettingsRecord DefaultBarSettings(int screenWidth, int screenHeight);
// Little-endian, signed 32-bit integers, booleans as 0 or 1.
TBarSettingsBytes EncodeBarSettings(const TBarSettingsRecord& record);
// The record held by exactly 84 bytes (size field, out-of-range ordinals and reserved bytes taken
// as they are); nothing for any other length.
std::optional<TBarSettingsRecord> DecodeBarSettings(std::span<const std::uint8_t> bytes);

constexpr TAppBarFlags EdgeFlags = abfAllowLeft | abfAllowTop | abfAllowRight | abfAllowBottom;

// What the desktop and the window system tell the bar, in device pixels. The screen is the monitor
// the bar is on, placed within the whole desktop.
struct TBarMetrics {
  int ScreenLeft = 0;
  int ScreenTop = 0;
  int ScreenWidth = 0;
  int ScreenHeight = 0;
  // The monitor's edges that are edges of the whole desktop too: only those can be docked to,
  // since a strip is reserved from the desktop's edge.
  TAppBarFlags ScreenEdges = EdgeFlags;
  TBarRect WorkArea;
  int ScrollBarWidth = 16;  // a vertical scroll bar's width
  int ScrollBarHeight = 16; // a horizontal scroll bar's height
  int BorderWidth = 1;
  int BorderHeight = 1;
  int DoubleClickWidth = 4; // how far the cursor may stray between the clicks of a double click
  int DoubleClickHeight = 4;
};

TBarRect ScreenRect(const TBarMetrics& metrics);

// The monitor nearest to p (the one holding it, if any); an empty rectangle when there is none.
TBarRect NearestMonitor(TBarPoint p, std::span<const TBarRect> monitors);
// The edges of the monitor beyond which no other monitor lies.
TAppBarFlags OuterEdges(TBarRect monitor, std::span<const TBarRect> monitors);
// The monitor nearest to p among those the edge is an outer edge of.
TBarRect MonitorForEdge(TAppBarEdge edge, TBarPoint p, std::span<const TBarRect> monitors);
// r as it is when its centre is on a monitor; else moved, whole, onto the monitor nearest to it
// (a window stored on a monitor that has gone since).
TBarRect OntoMonitors(TBarRect r, std::span<const TBarRect> monitors);
// r as it is when its centre is on the monitor; else moved from the monitor nearest to it to the
// same place on this one, whole.
TBarRect OntoMonitor(TBarRect r, TBarRect monitor, std::span<const TBarRect> monitors);

// The desktop's answer to a proposed dock rectangle on an edge: the rectangle shrunk to the space
// still free there.
using TQueryPos = std::function<TBarRect(TAppBarEdge edge, TBarRect proposed)>;

// The free space for a bar: the proposed rectangle cut to the free area (the work area without
// this bar's own strip).
TBarRect QueryPosAnswer(TBarRect proposed, TBarRect freeArea);

// Widths reserved from the desktop's edges, as X11 struts measure them: from the root window's
// edge, so that a bar docked beside another reserves both widths.
struct TEdgeWidths {
  int Left = 0;
  int Right = 0;
  int Top = 0;
  int Bottom = 0;
  bool operator==(const TEdgeWidths&) const = default;
};

// A strip another window reserves. Bars of this program stack: each docks beside those the window
// manager listed before it, so one listed after this bar makes room for it, not it for that one;
// were each to make room for the other, the two would push each other off the screen.
struct TOtherStrip {
  TEdgeWidths Widths;
  bool StacksOnUs = false; // a bar of ours that docks beside this one
};

// The widest strip on each edge among those the bar docks beside.
TEdgeWidths OuterWidths(std::span<const TOtherStrip> others);
// The work area's margins that no strip explains: the window manager's own panels, which it may
// keep out of its list of windows (icewm's task bar). A margin that a strip explains counts as
// that strip's alone, so that a bar that docked beside it moves to the edge once it goes.
TEdgeWidths UnexplainedWidths(TBarRect workArea, std::span<const TOtherStrip> others,
                              int screenWidth, int screenHeight);
// The free area for a bar: the desktop less the strips it docks beside and the panels.
TBarRect FreeAreaBeside(TEdgeWidths outer, TEdgeWidths panels, int screenWidth, int screenHeight);

// The edge a cursor at p proposes, from the allowed flags.
TAppBarEdge NearestAllowedEdge(TAppBarFlags flags, TBarPoint p, TAppBarEdge committed,
                               const TBarMetrics& metrics);
// As NearestAllowedEdge, except that Ctrl held down floats when floating is allowed.
TAppBarEdge EdgeForCursor(bool controlDown, TAppBarFlags flags, TBarPoint p, TAppBarEdge committed,
                          const TBarMetrics& metrics);

// The strip a bar docked on the edge takes (r itself when floating). queryPos is asked unless the
// bar auto-hides.
TBarRect DockRect(TAppBarEdge edge, TBarRect r, const TBarSettingsRecord& settings,
                  const TBarMetrics& metrics, const TQueryPos& queryPos);

// Where an auto-hiding bar of r's size sits shown or hidden; nothing when the bar does not
// auto-hide on an edge (floating, unknown, or AutoHide off).
std::optional<TBarRect> AutoHidePlacement(bool shown, TAppBarEdge current,
                                          const TBarSettingsRecord& settings, TBarRect r,
                                          const TBarMetrics& metrics);

// Whether the cursor has moved far enough from a shown auto-hiding bar to hide it: outside the
// window grown by two double-click distances on every side.
bool CursorAwayFromBar(TBarPoint cursor, TBarRect window, const TBarMetrics& metrics);

// The rectangle of a slide from `from` to `to` after elapsedMs of slideTimeMs (slideTimeMs > 0).
TBarRect SlideStep(TBarRect from, TBarRect to, std::int32_t elapsedMs, std::int32_t slideTimeMs);

// The side or corner being dragged in a size loop.
enum class TSizingSide { Left, Right, Top, TopLeft, TopRight, Bottom, BottomLeft, BottomRight };

// The proposed rectangle of a size loop, sized in the steps of HorzSizeInc and VertSizeInc with
// the dragged sides moved and the opposite ones kept.
TBarRect SizedRect(TSizingSide side, TBarRect proposed, TAppBarEdge committed,
                   const TBarSettingsRecord& settings);

struct TTrackSizes {
  int MinWidth = 0;
  int MinHeight = 0;
  int MaxWidth = 0;
  int MaxHeight = 0;
  bool operator==(const TTrackSizes&) const = default;
};
TTrackSizes TrackSizes(TAppBarEdge current, const TBarSettingsRecord& settings,
                       const TBarMetrics& metrics);

// The side that a press at cursor on a docked bar's border sizes it by: only the border facing
// the screen's middle does, and only when the settings let the bar size that way. client is the
// bar's inside.
std::optional<TSizingSide> DockedSizingSide(TAppBarEdge edge, const TBarSettingsRecord& settings,
                                            TBarPoint cursor, TBarRect client);

// A step of a move loop: the rectangle the window takes with the cursor at p, and the new drag
// edge. A docked candidate shows as its dock strip; leaving an edge for floating takes the float
// size with its top centre at the cursor.
struct TMoveStep {
  TAppBarEdge DragEdge = TAppBarEdge::abeUnknown;
  TBarRect Rect;
};
TMoveStep MoveStep(TAppBarEdge dragEdge, TAppBarEdge cursorEdge, TBarPoint p, TBarRect proposed,
                   const TBarSettingsRecord& settings, const TBarMetrics& metrics,
                   const TQueryPos& queryPos);

// The end of a move or size loop: takes the dock size or the float rectangle from the window's
// rectangle into the settings. The caller then commits dragEdge.
void TakeLoopResult(TAppBarEdge dragEdge, TAppBarEdge committed, TBarRect window, TBarRect workArea,
                    TBarSettingsRecord& settings);

} // namespace ornavel
