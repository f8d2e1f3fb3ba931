#include "AppBarGeometryUnit.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <vector>

namespace ornavel {
namespace {

bool IsVertical(TAppBarEdge edge) {
  return edge == TAppBarEdge::abeLeft || edge == TAppBarEdge::abeRight;
}

TAppBarFlags FlagOf(TAppBarEdge edge) {
  return static_cast<TAppBarFlags>(1u << static_cast<unsigned>(edge));
}

bool Contains(const TBarRect& r, TBarPoint p) {
  return p.X >= r.Left && p.X < r.Right && p.Y >= r.Top && p.Y < r.Bottom;
}

TBarRect Sized(int left, int top, int width, int height) {
  return {left, top, left + width, top + height};
}

TBarPoint Centre(const TBarRect& r) {
  return {r.Left + r.Width() / 2, r.Top + r.Height() / 2};
}

// r moved, and shrunk where it is larger, to lie wholly on m.
TBarRect WholeOn(TBarRect r, TBarRect m) {
  const int width = std::min(r.Width(), m.Width());
  const int height = std::min(r.Height(), m.Height());
  return Sized(std::clamp(r.Left, m.Left, m.Right - width),
               std::clamp(r.Top, m.Top, m.Bottom - height), width, height);
}

// Left or right on the diagonal itself, as the screen's proportions decide.
TAppBarEdge CandidateEdge(TBarPoint p, const TBarMetrics& metrics) {
  const long long dx = p.X - (metrics.ScreenLeft + metrics.ScreenWidth / 2);
  const long long dy = p.Y - (metrics.ScreenTop + metrics.ScreenHeight / 2);
  if (std::llabs(dy) * metrics.ScreenWidth <= std::llabs(dx) * metrics.ScreenHeight)
    return dx < 0 ? TAppBarEdge::abeLeft : TAppBarEdge::abeRight;
  return dy < 0 ? TAppBarEdge::abeTop : TAppBarEdge::abeBottom;
}

// A slide computes in 32 bits, wrapping where it would overflow.
std::int32_t Wrap(long long value) {
  return static_cast<std::int32_t>(value);
}

std::int32_t Towards(std::int32_t from, std::int32_t to, std::int32_t elapsed, std::int32_t total) {
  const std::int32_t distance = Wrap(static_cast<long long>(from) - to);
  return Wrap(static_cast<long long>(from) -
              Wrap(static_cast<long long>(distance) * elapsed) / total);
}

int Stepped(int proposed, int base, int increment) {
  if (increment == 0)
    return proposed;
  return base + increment * ((proposed - base + increment / 2) / increment);
}

TEdgeWidths Widest(std::span<const TOtherStrip> others, bool stackedOnUsToo) {
  TEdgeWidths widest;
  for (const TOtherStrip& other : others) {
    if (other.StacksOnUs && !stackedOnUsToo)
      continue;
    widest.Left = std::max(widest.Left, other.Widths.Left);
    widest.Right = std::max(widest.Right, other.Widths.Right);
    widest.Top = std::max(widest.Top, other.Widths.Top);
    widest.Bottom = std::max(widest.Bottom, other.Widths.Bottom);
  }
  return widest;
}

class TRecordWriter {
public:
  void Byte(std::uint8_t value) { Bytes[Offset++] = value; }
  void Int(std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8)
      Byte(static_cast<std::uint8_t>(bits >> shift));
  }
  template <std::size_t N>
  void Reserved(const std::array<std::uint8_t, N>& bytes) {
    for (const std::uint8_t value : bytes)
      Byte(value);
  }
  TBarSettingsBytes Bytes{};

private:
  std::size_t Offset = 0;
};

class TRecordReader {
public:
  explicit TRecordReader(std::span<const std::uint8_t> bytes) : Bytes(bytes) {}
  std::uint8_t Byte() { return Bytes[Offset++]; }
  bool Bool() { return Byte() != 0; }
  std::int32_t Int() {
    std::uint32_t bits = 0;
    for (int shift = 0; shift < 32; shift += 8)
      bits |= static_cast<std::uint32_t>(Byte()) << shift;
    return static_cast<std::int32_t>(bits);
  }
  template <std::size_t N>
  void Reserved(std::array<std::uint8_t, N>& bytes) {
    for (std::uint8_t& value : bytes)
      value = Byte();
  }

private:
  std::span<const std::uint8_t> Bytes;
  std::size_t Offset = 0;
};

} // namespace

TBarSettingsRecord DefaultBarSettings(int screenWidth, int screenHeight) {
  TBarSettingsRecord record;
  record.MaxWidth = screenWidth;
  record.MaxHeight = screenHeight;
  record.MaxVertDockSize = screenWidth / 2;
  record.MaxHorzDockSize = screenHeight / 2;
  return record;
}

TBarSettingsBytes EncodeBarSettings(const TBarSettingsRecord& record) {
  TRecordWriter out;
  out.Int(record.Size);
  out.Byte(static_cast<std::uint8_t>(record.Edge));
  out.Byte(record.Flags);
  out.Byte(record.AutoHide ? 1 : 0);
  out.Byte(record.AlwaysOnTop ? 1 : 0);
  out.Byte(record.SlideEffect ? 1 : 0);
  out.Reserved(record.Reserved1);
  for (const std::int32_t value :
       {record.SlideTime, record.HorzSizeInc, record.VertSizeInc, record.VertDockSize,
        record.HorzDockSize, record.FloatLeft, record.FloatTop, record.FloatRight,
        record.FloatBottom, record.MinWidth, record.MinHeight, record.MaxWidth, record.MaxHeight,
        record.MinVertDockSize, record.MinHorzDockSize, record.MaxVertDockSize,
        record.MaxHorzDockSize})
    out.Int(value);
  out.Byte(static_cast<std::uint8_t>(record.TaskEntry));
  out.Reserved(record.Reserved2);
  return out.Bytes;
}

std::optional<TBarSettingsRecord> DecodeBarSettings(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != BarSettingsRecordSize)
    return std::nullopt;
  TRecordReader in(bytes);
  TBarSettingsRecord record;
  record.Size = in.Int();
  record.Edge = static_cast<TAppBarEdge>(in.Byte());
  record.Flags = in.Byte();
  record.AutoHide = in.Bool();
  record.AlwaysOnTop = in.Bool();
  record.SlideEffect = in.Bool();
  in.Reserved(record.Reserved1);
  for (std::int32_t* field :
       {&record.SlideTime, &record.HorzSizeInc, &record.VertSizeInc, &record.VertDockSize,
        &record.HorzDockSize, &record.FloatLeft, &record.FloatTop, &record.FloatRight,
        &record.FloatBottom, &record.MinWidth, &record.MinHeight, &record.MaxWidth,
        &record.MaxHeight, &record.MinVertDockSize, &record.MinHorzDockSize,
        &record.MaxVertDockSize, &record.MaxHorzDockSize})
    *field = in.Int();
  record.TaskEntry = static_cast<TAppBarTaskEntry>(in.Byte());
  in.Reserved(record.Reserved2);
  return record;
}

TBarRect ScreenRect(const TBarMetrics& metrics) {
  return Sized(metrics.ScreenLeft, metrics.ScreenTop, metrics.ScreenWidth, metrics.ScreenHeight);
}

TBarRect NearestMonitor(TBarPoint p, std::span<const TBarRect> monitors) {
  const auto distance = [p](const TBarRect& m) {
    const long long dx = std::max({m.Left - p.X, 0, p.X - (m.Right - 1)});
    const long long dy = std::max({m.Top - p.Y, 0, p.Y - (m.Bottom - 1)});
    return dx * dx + dy * dy;
  };
  const auto nearest = std::ranges::min_element(
      monitors, [&](const TBarRect& a, const TBarRect& b) { return distance(a) < distance(b); });
  return nearest != monitors.end() ? *nearest : TBarRect{};
}

TAppBarFlags OuterEdges(TBarRect monitor, std::span<const TBarRect> monitors) {
  TAppBarFlags edges = EdgeFlags;
  for (const TBarRect& other : monitors) {
    const bool besideVertically = other.Top < monitor.Bottom && other.Bottom > monitor.Top;
    const bool besideHorizontally = other.Left < monitor.Right && other.Right > monitor.Left;
    if (besideVertically && other.Left < monitor.Left)
      edges &= ~abfAllowLeft;
    if (besideVertically && other.Right > monitor.Right)
      edges &= ~abfAllowRight;
    if (besideHorizontally && other.Top < monitor.Top)
      edges &= ~abfAllowTop;
    if (besideHorizontally && other.Bottom > monitor.Bottom)
      edges &= ~abfAllowBottom;
  }
  return edges;
}

TBarRect MonitorForEdge(TAppBarEdge edge, TBarPoint p, std::span<const TBarRect> monitors) {
  if (!IsDocked(edge))
    return NearestMonitor(p, monitors);
  std::vector<TBarRect> outer;
  std::ranges::copy_if(monitors, std::back_inserter(outer), [&](const TBarRect& m) {
    return (OuterEdges(m, monitors) & FlagOf(edge)) != 0;
  });
  return NearestMonitor(p, outer.empty() ? monitors : outer);
}

TBarRect OntoMonitors(TBarRect r, std::span<const TBarRect> monitors) {
  const TBarRect m = NearestMonitor(Centre(r), monitors);
  if (m.Width() <= 0 || Contains(m, Centre(r)))
    return r;
  return WholeOn(r, m);
}

TBarRect OntoMonitor(TBarRect r, TBarRect monitor, std::span<const TBarRect> monitors) {
  if (Contains(monitor, Centre(r)))
    return r;
  const TBarRect from = NearestMonitor(Centre(r), monitors);
  const int dx = monitor.Left - from.Left;
  const int dy = monitor.Top - from.Top;
  return WholeOn({r.Left + dx, r.Top + dy, r.Right + dx, r.Bottom + dy}, monitor);
}

TBarRect QueryPosAnswer(TBarRect proposed, TBarRect freeArea) {
  TBarRect r{std::max(proposed.Left, freeArea.Left), std::max(proposed.Top, freeArea.Top),
             std::min(proposed.Right, freeArea.Right), std::min(proposed.Bottom, freeArea.Bottom)};
  // No overlap leaves an empty rectangle where the overlap would begin.
  r.Right = std::max(r.Right, r.Left);
  r.Bottom = std::max(r.Bottom, r.Top);
  return r;
}

TEdgeWidths OuterWidths(std::span<const TOtherStrip> others) {
  return Widest(others, false);
}

TEdgeWidths UnexplainedWidths(TBarRect workArea, std::span<const TOtherStrip> others,
                              int screenWidth, int screenHeight) {
  const TEdgeWidths strips = Widest(others, true);
  const auto beyond = [](int margin, int explained) { return margin > explained ? margin : 0; };
  return {beyond(workArea.Left, strips.Left), beyond(screenWidth - workArea.Right, strips.Right),
          beyond(workArea.Top, strips.Top), beyond(screenHeight - workArea.Bottom, strips.Bottom)};
}

TBarRect FreeAreaBeside(TEdgeWidths outer, TEdgeWidths panels, int screenWidth, int screenHeight) {
  return {std::max(outer.Left, panels.Left), std::max(outer.Top, panels.Top),
          screenWidth - std::max(outer.Right, panels.Right),
          screenHeight - std::max(outer.Bottom, panels.Bottom)};
}

TAppBarEdge NearestAllowedEdge(TAppBarFlags flags, TBarPoint p, TAppBarEdge committed,
                               const TBarMetrics& metrics) {
  const bool floatAllowed = (flags & abfAllowFloat) != 0;
  flags &= metrics.ScreenEdges | abfAllowFloat;
  if (floatAllowed) {
    const TBarRect& work = metrics.WorkArea;
    const TBarRect middle{work.Left + metrics.ScrollBarWidth, work.Top + metrics.ScrollBarHeight,
                          work.Right - metrics.ScrollBarWidth,
                          work.Bottom - metrics.ScrollBarHeight};
    if (Contains(middle, p) || (flags & EdgeFlags) == 0)
      return TAppBarEdge::abeFloat;
  }
  const TAppBarEdge candidate = CandidateEdge(p, metrics);
  if ((flags & FlagOf(candidate)) != 0)
    return candidate;
  return floatAllowed ? TAppBarEdge::abeFloat : committed;
}

TAppBarEdge EdgeForCursor(bool controlDown, TAppBarFlags flags, TBarPoint p, TAppBarEdge committed,
                          const TBarMetrics& metrics) {
  if (controlDown && (flags & abfAllowFloat) != 0)
    return TAppBarEdge::abeFloat;
  return NearestAllowedEdge(flags, p, committed, metrics);
}

TBarRect DockRect(TAppBarEdge edge, TBarRect r, const TBarSettingsRecord& settings,
                  const TBarMetrics& metrics, const TQueryPos& queryPos) {
  // Only the four edges have a strip; an unregistered bar stays where it is, as a floating one.
  if (!IsDocked(edge))
    return r;
  r = ScreenRect(metrics);
  const TBarRect free = queryPos(edge, r);
  if (!settings.AutoHide) {
    r = free;
  } else if (IsVertical(edge)) {
    // An auto-hiding bar hides at the screen's edge, beside the other panels, not over them.
    r.Top = free.Top;
    r.Bottom = free.Bottom;
  } else {
    r.Left = free.Left;
    r.Right = free.Right;
  }
  switch (edge) {
  case TAppBarEdge::abeLeft:
    r.Right = r.Left + settings.VertDockSize;
    break;
  case TAppBarEdge::abeTop:
    r.Bottom = r.Top + settings.HorzDockSize;
    break;
  case TAppBarEdge::abeRight:
    r.Left = r.Right - settings.VertDockSize;
    break;
  default:
    r.Top = r.Bottom - settings.HorzDockSize;
    break;
  }
  return r;
}

std::optional<TBarRect> AutoHidePlacement(bool shown, TAppBarEdge current,
                                          const TBarSettingsRecord& settings, TBarRect r,
                                          const TBarMetrics& metrics) {
  if (!settings.AutoHide || !IsDocked(current))
    return std::nullopt;
  const int w = r.Width();
  const int h = r.Height();
  const TBarRect screen = ScreenRect(metrics);
  // Along its edge the bar stays where it is: within the space the other panels leave.
  const int x = IsVertical(current) ? screen.Left : r.Left;
  const int y = IsVertical(current) ? r.Top : screen.Top;
  if (shown)
    return Sized(current == TAppBarEdge::abeRight ? screen.Right - w : x,
                 current == TAppBarEdge::abeBottom ? screen.Bottom - h : y, w, h);
  const int bx = 2 * metrics.BorderWidth;
  const int by = 2 * metrics.BorderHeight;
  switch (current) {
  case TAppBarEdge::abeLeft:
    return Sized(bx - w, y, w, h);
  case TAppBarEdge::abeTop:
    return Sized(x, by - h, w, h);
  case TAppBarEdge::abeRight:
    return Sized(screen.Right - bx, y, w, h);
  default:
    return Sized(x, screen.Bottom - by, w, h);
  }
}

bool CursorAwayFromBar(TBarPoint cursor, TBarRect window, const TBarMetrics& metrics) {
  const int dx = 2 * metrics.DoubleClickWidth;
  const int dy = 2 * metrics.DoubleClickHeight;
  return !Contains({window.Left - dx, window.Top - dy, window.Right + dx, window.Bottom + dy},
                   cursor);
}

TBarRect SlideStep(TBarRect from, TBarRect to, std::int32_t elapsedMs, std::int32_t slideTimeMs) {
  if (slideTimeMs <= 0 || elapsedMs >= slideTimeMs)
    return to;
  const std::int32_t e = std::max<std::int32_t>(elapsedMs, 0);
  return Sized(Towards(from.Left, to.Left, e, slideTimeMs),
               Towards(from.Top, to.Top, e, slideTimeMs),
               Towards(from.Width(), to.Width(), e, slideTimeMs),
               Towards(from.Height(), to.Height(), e, slideTimeMs));
}

TBarRect SizedRect(TSizingSide side, TBarRect proposed, TAppBarEdge committed,
                   const TBarSettingsRecord& settings) {
  const bool floating = committed == TAppBarEdge::abeFloat;
  const int width =
      Stepped(proposed.Width(), floating ? settings.MinWidth : settings.MinVertDockSize,
              settings.HorzSizeInc);
  const int height =
      Stepped(proposed.Height(), floating ? settings.MinHeight : settings.MinHorzDockSize,
              settings.VertSizeInc);
  TBarRect r = proposed;
  using enum TSizingSide;
  if (side == Left || side == TopLeft || side == BottomLeft)
    r.Left = r.Right - width;
  if (side == Right || side == TopRight || side == BottomRight)
    r.Right = r.Left + width;
  if (side == Top || side == TopLeft || side == TopRight)
    r.Top = r.Bottom - height;
  if (side == Bottom || side == BottomLeft || side == BottomRight)
    r.Bottom = r.Top + height;
  return r;
}

TTrackSizes TrackSizes(TAppBarEdge current, const TBarSettingsRecord& settings,
                       const TBarMetrics& metrics) {
  if (current == TAppBarEdge::abeFloat)
    return {settings.MinWidth, settings.MinHeight, settings.MaxWidth, settings.MaxHeight};
  const bool horizontal = current == TAppBarEdge::abeTop || current == TAppBarEdge::abeBottom;
  return {settings.MinVertDockSize, settings.MinHorzDockSize,
          horizontal ? metrics.ScreenWidth : settings.MaxVertDockSize,
          IsVertical(current) ? metrics.ScreenHeight : settings.MaxHorzDockSize};
}

std::optional<TSizingSide> DockedSizingSide(TAppBarEdge edge, const TBarSettingsRecord& settings,
                                            TBarPoint cursor, TBarRect client) {
  if ((IsVertical(edge) ? settings.HorzSizeInc : settings.VertSizeInc) == 0)
    return std::nullopt;
  if (edge == TAppBarEdge::abeLeft && cursor.X >= client.Right)
    return TSizingSide::Right;
  if (edge == TAppBarEdge::abeTop && cursor.Y >= client.Bottom)
    return TSizingSide::Bottom;
  if (edge == TAppBarEdge::abeRight && cursor.X < client.Left)
    return TSizingSide::Left;
  if (edge == TAppBarEdge::abeBottom && cursor.Y < client.Top)
    return TSizingSide::Top;
  return std::nullopt;
}

TMoveStep MoveStep(TAppBarEdge dragEdge, TAppBarEdge cursorEdge, TBarPoint p, TBarRect proposed,
                   const TBarSettingsRecord& settings, const TBarMetrics& metrics,
                   const TQueryPos& queryPos) {
  TBarRect r = proposed;
  if (dragEdge != TAppBarEdge::abeFloat && cursorEdge == TAppBarEdge::abeFloat) {
    const int w = settings.FloatRight - settings.FloatLeft;
    const int h = settings.FloatBottom - settings.FloatTop;
    r = Sized(p.X - w / 2, p.Y, w, h);
  }
  return {cursorEdge, DockRect(cursorEdge, r, settings, metrics, queryPos)};
}

void TakeLoopResult(TAppBarEdge dragEdge, TAppBarEdge committed, TBarRect window, TBarRect workArea,
                    TBarSettingsRecord& settings) {
  if (dragEdge == committed && IsDocked(dragEdge)) {
    if (IsVertical(dragEdge))
      settings.VertDockSize = window.Width();
    else
      settings.HorzDockSize = window.Height();
  }
  if (dragEdge != TAppBarEdge::abeFloat)
    return;
  int w = window.Width();
  int h = window.Height();
  if (committed != TAppBarEdge::abeFloat && (w >= workArea.Width() || h >= workArea.Height())) {
    w = settings.FloatRight - settings.FloatLeft;
    h = settings.FloatBottom - settings.FloatTop;
  }
  const TBarRect r = Sized(window.Left, window.Top, w, h);
  settings.FloatLeft = r.Left;
  settings.FloatTop = r.Top;
  settings.FloatRight = r.Right;
  settings.FloatBottom = r.Bottom;
}

} // namespace ornavel
