#include "AppBarUnit.h"

#include <QApplication>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QStyleHints>
#include <QTimer>
#include <QWindow>
#include <algorithm>

namespace ornavel {
namespace {

// The width of the inner border by which a docked bar is sized.
constexpr int InnerBorder = 4;
constexpr int SlideFrameInterval = 15;
constexpr int ManagerDragInterval = 30;

} // namespace

TAppBar::TAppBar(QWidget* parent, Qt::WindowFlags flags, TAppBarShellFactory makeShell)
    : QWidget(parent, flags), FOrganisation(QCoreApplication::organizationName()),
      FApplication(QCoreApplication::applicationName()), FMakeShell(std::move(makeShell)) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QSize size = screen != nullptr ? screen->size() * screen->devicePixelRatio() : QSize();
  FSettings = DefaultBarSettings(size.width(), size.height());
  FAutoHideTimer = new QTimer(this);
  connect(FAutoHideTimer, &QTimer::timeout, this, [this] { AutoHideTick(); });
  FSlideTimer = new QTimer(this);
  FSlideTimer->setInterval(SlideFrameInterval);
  connect(FSlideTimer, &QTimer::timeout, this, [this] { SlideStep(); });
  FManagerDragTimer = new QTimer(this);
  FManagerDragTimer->setInterval(ManagerDragInterval);
  connect(FManagerDragTimer, &QTimer::timeout, this, [this] { ManagerDragStep(); });
  setMouseTracking(true);
}

TAppBar::~TAppBar() {
  try {
    FAutoHideTimer->stop();
    if (FShell)
      SetEdge(TAppBarEdge::abeUnknown);
  } catch (...) {
    // Leaving the desktop is best effort; X drops the strip with the window anyway.
  }
}

TAppBarEdge TAppBar::Edge() const {
  return FDragEdge != TAppBarEdge::abeUnknown ? FDragEdge : FSettings.Edge;
}

void TAppBar::SetEdge(TAppBarEdge edge) {
  if (!FShell)
    FShell = FMakeShell(*this, {[this] { ShellPosChanged(); },
                                [this](bool open) { FullScreenAppChanged(open); },
                                [this] { WindowManagerMoved(); }});
  // Out-of-range ordinals from a hand-edited record float, as does every edge where the desktop
  // cannot dock.
  if (IsDocked(edge) && !FShell->CanDock() && FUndockableEdge == TAppBarEdge::abeUnknown) {
    FUndockableEdge = edge;
    if (!FShell->OwnsPlacement())
      DockingUnavailable();
  }
  if (edge > TAppBarEdge::abeFloat || (IsDocked(edge) && !FShell->CanDock()))
    edge = TAppBarEdge::abeFloat;
  const TAppBarEdge registered = FShell->RegisteredAutoHideEdge();
  if (registered != TAppBarEdge::abeUnknown)
    FShell->ReleaseAutoHide(registered);
  FSettings.Edge = edge;
  if (IsDocked(edge))
    CommitDocked(edge);
  else
    FShell->Reserve(edge, {});
  ApplyTrackSizes();
  UpdateInnerBorder();
  UpdateAutoHideTimer();
  StateChanging(false, edge);
  ApplyTaskEntry(edge);
}

void TAppBar::CommitDocked(TAppBarEdge edge) {
  UseBarWindow(true);
  if (FSettings.AutoHide && !FShell->ClaimAutoHide(Edge())) {
    FSettings.AutoHide = false;
    AutoHideRefused();
  }
  const TBarMetrics metrics = FDropPoint ? ScreenMetrics(*FDropPoint) : ScreenMetrics();
  FDropPoint.reset();
  // Floating again, and at the next start, the bar is on the monitor it docked on.
  const TBarRect floating = OntoMonitor(FloatRect(), ScreenRect(metrics), Monitors());
  FSettings.FloatLeft = floating.Left;
  FSettings.FloatTop = floating.Top;
  FSettings.FloatRight = floating.Right;
  FSettings.FloatBottom = floating.Bottom;
  TBarRect r = DockRect(Edge(), WindowRect(), FSettings, metrics, QueryPos());
  if (FSettings.AutoHide) {
    FShell->Reserve(TAppBarEdge::abeLeft, {});
  } else {
    r = QueryPos()(edge, r);
    FShell->Reserve(edge, r);
  }
  if (const auto placed = AutoHidePlacement(FAutoHideShown, Edge(), FSettings, r, metrics))
    r = *placed;
  FDockPlace = r;
  FDockCorrections = 0;
  SlideTo(r);
}

void TAppBar::SetStayOnTop(bool onTop) {
  FStayOnTop = onTop;
  if (FShell)
    FShell->KeepAbove(onTop);
}

void TAppBar::SetSlideTime(std::int32_t milliseconds) {
  FSettings.SlideTime = milliseconds;
  UpdateAutoHideTimer();
}

// The timer runs only while it can hide something, so that an idle window never wakes.
void TAppBar::UpdateAutoHideTimer() {
  if (FSettings.SlideTime > 0 && FSettings.AutoHide && IsDocked(FSettings.Edge))
    FAutoHideTimer->start(FSettings.SlideTime);
  else
    FAutoHideTimer->stop();
}

void TAppBar::SetRootKey(QString organisation, QString application) {
  FOrganisation = std::move(organisation);
  FApplication = std::move(application);
}

// A floating bar is an ordinary framed window; a docked one a desktop bar without a frame.
void TAppBar::StateChanging(bool proposed, TAppBarEdge state) {
  // Switching the window's kind while the user drags would end the drag.
  if (!proposed && state == TAppBarEdge::abeFloat)
    UseBarWindow(false);
}

void TAppBar::AutoHideRefused() {
  QMessageBox box(QMessageBox::Information, windowTitle(),
                  QStringLiteral("There is already an auto hidden window on this edge.\n\rOnly "
                                 "one auto hidden window is allowed on each edge."),
                  QMessageBox::Ok, this);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void TAppBar::DockingUnavailable() {}

void TAppBar::FullScreenAppChanged(bool) {
  UpdateBar();
}

void TAppBar::ShellPosChanged() {
  if (Edge() != TAppBarEdge::abeFloat && !FSettings.AutoHide)
    UpdateBar();
}

void TAppBar::UpdateBar() {
  SetEdge(Edge());
}

bool TAppBar::LoadSettings() {
  QSettings store(QSettings::NativeFormat, QSettings::UserScope, FOrganisation, FApplication);
  if (!store.childGroups().contains(FKeyName))
    return false;
  const QVariant value = store.value(FKeyName + QStringLiteral("/AppBar"));
  if (value.typeId() != QMetaType::QByteArray)
    return false;
  const QByteArray bytes = value.toByteArray();
  const auto record = DecodeBarSettings({reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                         static_cast<std::size_t>(bytes.size())});
  if (!record)
    return false;
  FSettings = *record;
  return true;
}

bool TAppBar::SaveSettings() {
  QSettings store(QSettings::NativeFormat, QSettings::UserScope, FOrganisation, FApplication);
  TBarSettingsRecord record = FSettings;
  // A session that cannot dock (Wayland, say) keeps the edge for the next one that can.
  if (FUndockableEdge != TAppBarEdge::abeUnknown && !CanDock())
    record.Edge = FUndockableEdge;
  const TBarSettingsBytes bytes = EncodeBarSettings(record);
  store.setValue(FKeyName + QStringLiteral("/AppBar"),
                 QByteArray(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  store.sync();
  return store.status() == QSettings::NoError;
}

void TAppBar::AddDragHandle(QWidget* handle, std::function<bool(QPoint)> canDragAt) {
  handle->installEventFilter(this);
  FDragHandles.emplace_back(handle, std::move(canDragAt));
}

TBarRect TAppBar::FloatRect() const {
  return {FSettings.FloatLeft, FSettings.FloatTop, FSettings.FloatRight, FSettings.FloatBottom};
}

// The creation steps: the float rectangle moves to where the window is, the bar joins the
// desktop, and the state is applied twice, the second time as at the end of a move.
void TAppBar::CreateBar() {
  FCreated = true;
  SetSlideTime(FSettings.SlideTime);
  const TBarRect window = WindowRect();
  // The size is kept where one was stored: a bar that starts docked right would otherwise get a
  // negative one.
  const int width = FSettings.FloatRight > FSettings.FloatLeft
                        ? FSettings.FloatRight - FSettings.FloatLeft
                        : window.Width();
  const int height = FSettings.FloatBottom > FSettings.FloatTop
                         ? FSettings.FloatBottom - FSettings.FloatTop
                         : window.Height();
  FSettings.FloatLeft = window.Left;
  FSettings.FloatTop = window.Top;
  FSettings.FloatRight = window.Left + width;
  FSettings.FloatBottom = window.Top + height;
  UpdateBar();
  EnterSizeMove();
  ExitSizeMove();
}

void TAppBar::setVisible(bool visible) {
  if (visible && !FCreated)
    CreateBar();
  QWidget::setVisible(visible);
  if (visible)
    ApplyWindowStates();
}

qreal TAppBar::Ratio() const {
  return devicePixelRatioF();
}

TBarPoint TAppBar::DevicePoint(QPointF global) const {
  return {qRound(global.x() * Ratio()), qRound(global.y() * Ratio())};
}

// The frame's corner and the size inside it, as the placement keeps them. A desktop bar has no
// frame, and Qt's idea of the frame it had as an ordinary window lingers after the change: its
// own place counts.
TBarRect TAppBar::WindowRect() const {
  return DeviceRect(QRect(FBarWindow ? geometry().topLeft() : pos(), size()), Ratio());
}

void TAppBar::SetWindowRect(TBarRect r) {
  if (r == WindowRect())
    return;
  const QRect logical = LogicalRect(r, Ratio());
  ++FPlacing;
  if (FBarWindow) {
    setGeometry(logical);
  } else {
    move(logical.topLeft());
    resize(logical.size());
  }
  --FPlacing;
}

TBarMetrics TAppBar::Metrics() const {
  return WithWorkArea(ScreenMetrics());
}

TBarMetrics TAppBar::Metrics(TBarPoint at) const {
  return WithWorkArea(ScreenMetrics(at));
}

// The free area on the monitor: the work area spans every monitor.
TBarMetrics TAppBar::WithWorkArea(TBarMetrics metrics) const {
  metrics.WorkArea = QueryPosAnswer(ScreenRect(metrics), FShell->FreeArea());
  return metrics;
}

TBarMetrics TAppBar::ScreenMetrics() const {
  const TBarRect window = WindowRect();
  const TBarPoint centre{window.Left + window.Width() / 2, window.Top + window.Height() / 2};
  const std::vector<TBarRect> monitors = Monitors();
  return ScreenMetricsOn(MonitorForEdge(Edge(), centre, monitors), monitors);
}

TBarMetrics TAppBar::ScreenMetrics(TBarPoint at) const {
  const std::vector<TBarRect> monitors = Monitors();
  return ScreenMetricsOn(NearestMonitor(at, monitors), monitors);
}

// Everything but the work area, which costs round trips to the X server.
TBarMetrics TAppBar::ScreenMetricsOn(TBarRect screen, const std::vector<TBarRect>& monitors) const {
  TBarMetrics metrics;
  const qreal ratio = Ratio();
  metrics.ScreenLeft = screen.Left;
  metrics.ScreenTop = screen.Top;
  metrics.ScreenWidth = screen.Width();
  metrics.ScreenHeight = screen.Height();
  metrics.ScreenEdges = OuterEdges(screen, monitors);
  const int scrollBar = qRound(style()->pixelMetric(QStyle::PM_ScrollBarExtent) * ratio);
  metrics.ScrollBarWidth = metrics.ScrollBarHeight = scrollBar;
  metrics.BorderWidth = metrics.BorderHeight = qMax(1, qRound(ratio));
  metrics.DoubleClickWidth = metrics.DoubleClickHeight = qRound(4 * ratio);
  return metrics;
}

namespace {

std::vector<TBarRect> MonitorsAt(qreal ratio) {
  std::vector<TBarRect> monitors;
  for (const QScreen* screen : QGuiApplication::screens())
    monitors.push_back(DeviceRect(screen->geometry(), ratio));
  return monitors;
}

} // namespace

std::vector<TBarRect> TAppBar::Monitors() const {
  return MonitorsAt(Ratio());
}

QRect TAppBar::OntoMonitors(QRect r) const {
  return LogicalRect(ornavel::OntoMonitors(DeviceRect(r, 1), MonitorsAt(1)), 1);
}

TQueryPos TAppBar::QueryPos() const {
  return [this](TAppBarEdge, TBarRect proposed) {
    return QueryPosAnswer(proposed, FShell->FreeArea());
  };
}

// The smallest and largest sizes the user may drag to. A floating bar's frame is the window
// manager's, which would apply size steps to every placement as well, so it gets none.
void TAppBar::ApplyTrackSizes() {
  const TTrackSizes sizes = TrackSizes(Edge(), FSettings, ScreenMetrics());
  const qreal ratio = Ratio();
  const auto logical = [ratio](int pixels) { return qRound(pixels / ratio); };
  setMinimumSize(qMax(logical(sizes.MinWidth), minimumSizeHint().width()),
                 qMax(logical(sizes.MinHeight), minimumSizeHint().height()));
  setMaximumSize(qMax(logical(sizes.MaxWidth), minimumWidth()),
                 qMax(logical(sizes.MaxHeight), minimumHeight()));
}

// The window's kind changes while it is hidden: the window manager reads it at mapping.
void TAppBar::UseBarWindow(bool bar) {
  if (bar == FBarWindow || !FShell->CanDock())
    return;
  FBarWindow = bar;
  const bool shown = isVisible();
  // X gives the keyboard back to no one when a window unmaps, and KWin, still counting the
  // window active, does not give it again by itself.
  const bool keyboard = isActiveWindow();
  if (shown) {
    QWidget::setVisible(false);
    FShell->AwaitWithdrawn();
  }
  winId();
  setAttribute(Qt::WA_X11NetWmWindowTypeDock, bar);
  if (!bar) {
    FDockPlace.reset();
    const TBarRect floating = ornavel::OntoMonitors(FloatRect(), Monitors());
    ++FPlacing;
    move(LogicalRect(floating, Ratio()).topLeft());
    --FPlacing;
  }
  if (shown) {
    QWidget::setVisible(true);
    ApplyWindowStates();
    if (keyboard)
      FShell->TakeFocus(0);
  }
}

void TAppBar::SetAutoHideShown(bool shown) {
  const TBarRect window = WindowRect();
  FAutoHideShown = true;
  if (const auto placed = AutoHidePlacement(shown, Edge(), FSettings, window, ScreenMetrics())) {
    FAutoHideShown = shown;
    FDockPlace = *placed;
    SlideTo(*placed);
  }
}

// A slide runs on a timer rather than in a loop of its own: one already under way to the same
// place goes on, so that the auto-hide timer's next tick does not start it again.
void TAppBar::SlideTo(TBarRect r) {
  if (FSlideTimer->isActive() && r == FSlideTo)
    return;
  FSlideTimer->stop();
  const TBarRect current = WindowRect();
  if (FSettings.SlideEffect && FSettings.SlideTime > 0 && isVisible() && r != current) {
    FSlideFrom = current;
    FSlideTo = r;
    FSlideClock.start();
    FSlideTimer->start();
    return;
  }
  SetWindowRect(r);
}

void TAppBar::SlideStep() {
  const qint64 elapsed = FSlideClock.elapsed();
  if (elapsed >= FSettings.SlideTime) {
    FSlideTimer->stop();
    SetWindowRect(FSlideTo);
    return;
  }
  SetWindowRect(ornavel::SlideStep(FSlideFrom, FSlideTo, static_cast<std::int32_t>(elapsed),
                                   FSettings.SlideTime));
}

void TAppBar::AutoHideTick() {
  if (isActiveWindow() || FLoop != TLoop::None || !FPeekEnd.hasExpired())
    return;
  if (CursorAwayFromBar(DevicePoint(QCursor::pos()), WindowRect(), ScreenMetrics()))
    SetAutoHideShown(false);
}

void TAppBar::EnterSizeMove() {
  FDragEdge = Edge();
}

void TAppBar::ExitSizeMove() {
  const TAppBarEdge drag = FDragEdge;
  FDragEdge = TAppBarEdge::abeUnknown;
  TakeLoopResult(drag, FSettings.Edge, WindowRect(), Metrics().WorkArea, FSettings);
  SetEdge(drag);
}

void TAppBar::ApplyTaskEntry(TAppBarEdge edge) {
  if (!FShell)
    return;
  switch (FSettings.TaskEntry) {
  case TAppBarTaskEntry::abtShow:
    FShell->ShowTaskEntry(true);
    break;
  case TAppBarTaskEntry::abtHide:
    FShell->ShowTaskEntry(false);
    break;
  default:
    if (edge != TAppBarEdge::abeUnknown)
      FShell->ShowTaskEntry(edge == TAppBarEdge::abeFloat);
    break;
  }
}

// The states the window manager forgets when it unmaps the window.
void TAppBar::ApplyWindowStates() {
  ApplyTaskEntry(FSettings.Edge);
  if (FStayOnTop && FShell)
    FShell->KeepAbove(true);
}

void TAppBar::UpdateInnerBorder() {
  const int border = InnerBorder;
  switch (FSettings.Edge) {
  case TAppBarEdge::abeLeft:
    setContentsMargins(0, 0, border, 0);
    break;
  case TAppBarEdge::abeTop:
    setContentsMargins(0, 0, 0, border);
    break;
  case TAppBarEdge::abeRight:
    setContentsMargins(border, 0, 0, 0);
    break;
  case TAppBarEdge::abeBottom:
    setContentsMargins(0, border, 0, 0);
    break;
  default:
    setContentsMargins(0, 0, 0, 0);
    break;
  }
}

// Some window managers give a desktop bar no keyboard focus when clicked, so that its keys would
// go to the window behind: it asks for the focus itself.
void TAppBar::Pressed(unsigned long clickTime) {
  if (FBarWindow && !isActiveWindow())
    FShell->TakeFocus(clickTime);
}

// A floating bar moved by the window manager's frame docks where the cursor let it go.
void TAppBar::WindowManagerMoved() {
  if (FLoop != TLoop::None || IsDocked(FSettings.Edge))
    return;
  const bool controlDown = QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier;
  const TBarPoint cursor = DevicePoint(QCursor::pos());
  const TAppBarEdge edge =
      EdgeForCursor(controlDown, FSettings.Flags, cursor, FSettings.Edge, Metrics(cursor));
  if (!IsDocked(edge))
    return;
  FDragEdge = edge;
  FDropPoint = cursor;
  ExitSizeMove();
}

// The drag handles: a press where the handle allows it, then a move beyond the drag distance,
// starts a move loop that ends when the button comes up.
bool TAppBar::eventFilter(QObject* watched, QEvent* event) {
  if (watched == windowHandle() && event->type() == QEvent::MouseButtonPress) {
    Pressed(static_cast<QMouseEvent*>(event)->timestamp());
    return false;
  }
  const auto handle = std::ranges::find_if(
      FDragHandles, [watched](const auto& entry) { return entry.first == watched; });
  if (handle == FDragHandles.end())
    return QWidget::eventFilter(watched, event);
  const auto* mouse = dynamic_cast<QMouseEvent*>(event);
  if (mouse == nullptr)
    return false;
  switch (event->type()) {
  case QEvent::MouseButtonPress:
    if (mouse->button() != Qt::LeftButton || FLoop != TLoop::None ||
        !handle->second(mouse->position().toPoint()))
      return false;
    FLoop = TLoop::Pressed;
    FPressPosition = mouse->globalPosition();
    return true;
  case QEvent::MouseMove:
    if (FLoop == TLoop::Pressed && (mouse->globalPosition() - FPressPosition).manhattanLength() >=
                                       QApplication::startDragDistance()) {
      if (!FShell->OwnsPlacement()) {
        FLoop = TLoop::None;
        windowHandle()->startSystemMove();
        return true;
      }
      FLoop = TLoop::Moving;
      FLastCursor = DevicePoint(FPressPosition);
      EnterSizeMove();
    }
    if (FLoop == TLoop::Moving)
      MoveTo(DevicePoint(mouse->globalPosition()), mouse->modifiers() & Qt::ControlModifier);
    return FLoop != TLoop::None;
  case QEvent::MouseButtonRelease: {
    if (mouse->button() != Qt::LeftButton || FLoop == TLoop::None)
      return false;
    const bool moved = FLoop == TLoop::Moving;
    FLoop = TLoop::None;
    if (moved)
      ExitSizeMove();
    return true;
  }
  default:
    return false;
  }
}

// A step of the move loop: the window follows the cursor, and shows as the dock strip of the edge
// the cursor proposes.
void TAppBar::MoveTo(TBarPoint cursor, bool controlDown) {
  TBarRect proposed = WindowRect();
  const int dx = cursor.X - FLastCursor.X;
  const int dy = cursor.Y - FLastCursor.Y;
  proposed = {proposed.Left + dx, proposed.Top + dy, proposed.Right + dx, proposed.Bottom + dy};
  FLastCursor = cursor;
  const TBarMetrics metrics = Metrics(cursor);
  const TAppBarEdge proposedEdge =
      EdgeForCursor(controlDown, FSettings.Flags, cursor, FSettings.Edge, metrics);
  const TMoveStep step =
      ornavel::MoveStep(FDragEdge, proposedEdge, cursor, proposed, FSettings, metrics, QueryPos());
  FDragEdge = step.DragEdge;
  SetWindowRect(step.Rect);
  StateChanging(true, proposedEdge);
}

// Only the inner border of a docked bar sizes it; the window manager's frame sizes a floating one.
std::optional<TSizingSide> TAppBar::InnerBorderAt(QPoint local) const {
  if (!IsDocked(Edge()) || contentsRect().contains(local))
    return std::nullopt;
  return DockedSizingSide(Edge(), FSettings, DevicePoint(mapToGlobal(QPointF(local))),
                          DeviceRect(contentsRect().translated(pos()), Ratio()));
}

void TAppBar::SizeTo(TBarPoint cursor) {
  TBarRect proposed = WindowRect();
  switch (FSizingSide) {
  case TSizingSide::Left:
    proposed.Left = cursor.X;
    break;
  case TSizingSide::Right:
    proposed.Right = cursor.X;
    break;
  case TSizingSide::Top:
    proposed.Top = cursor.Y;
    break;
  default:
    proposed.Bottom = cursor.Y;
    break;
  }
  TBarRect sized = SizedRect(FSizingSide, proposed, FSettings.Edge, FSettings);
  const TTrackSizes track = TrackSizes(Edge(), FSettings, ScreenMetrics());
  const int width =
      std::clamp(sized.Width(), track.MinWidth, std::max(track.MinWidth, track.MaxWidth));
  const int height =
      std::clamp(sized.Height(), track.MinHeight, std::max(track.MinHeight, track.MaxHeight));
  if (FSizingSide == TSizingSide::Left)
    sized.Left = sized.Right - width;
  else
    sized.Right = sized.Left + width;
  if (FSizingSide == TSizingSide::Top)
    sized.Top = sized.Bottom - height;
  else
    sized.Bottom = sized.Top + height;
  SetWindowRect(sized);
}

// Presses reach the children without passing the bar; its native window sees them all.
void TAppBar::showEvent(QShowEvent* event) {
  if (QWindow* window = windowHandle())
    window->installEventFilter(this);
  QWidget::showEvent(event);
}

void TAppBar::mousePressEvent(QMouseEvent* event) {
  const auto side = InnerBorderAt(event->position().toPoint());
  if (event->button() != Qt::LeftButton || !side || FLoop != TLoop::None)
    return QWidget::mousePressEvent(event);
  FLoop = TLoop::Sizing;
  FSizingSide = *side;
  EnterSizeMove();
}

void TAppBar::mouseMoveEvent(QMouseEvent* event) {
  if (FLoop == TLoop::Sizing) {
    SizeTo(DevicePoint(event->globalPosition()));
    return;
  }
  const auto side = InnerBorderAt(event->position().toPoint());
  if (!side)
    unsetCursor();
  else
    setCursor(*side == TSizingSide::Left || *side == TSizingSide::Right ? Qt::SizeHorCursor
                                                                        : Qt::SizeVerCursor);
  QWidget::mouseMoveEvent(event);
}

void TAppBar::mouseReleaseEvent(QMouseEvent* event) {
  if (FLoop != TLoop::Sizing || event->button() != Qt::LeftButton)
    return QWidget::mouseReleaseEvent(event);
  FLoop = TLoop::None;
  ExitSizeMove();
}

void TAppBar::Peek(std::chrono::milliseconds duration, const QColor& strip) {
  if (!AutoHiding())
    return;
  FPeekEnd.setRemainingTime(duration);
  FStripColor = strip;
  SetAutoHideShown(true);
  update();
}

// The strip a hidden bar leaves is its inner border, which no child covers.
void TAppBar::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  if (FStripColor.isValid() && AutoHiding())
    QPainter(this).fillRect(rect(), FStripColor);
}

// Touching the strip a hidden bar leaves brings it back.
void TAppBar::enterEvent(QEnterEvent* event) {
  if (FStripColor.isValid()) {
    FStripColor = QColor();
    update();
  }
  SetAutoHideShown(true);
  QWidget::enterEvent(event);
}

// A floating bar moving while a button is held is the window manager's drag by the title bar; its
// end, where the cursor lets go, may dock the bar. Window managers that hold the keyboard meanwhile
// say so by focus events too (see WindowManagerMoved); others do not.
void TAppBar::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  KeepDockPlace();
  if (FShell && !FBarWindow && FPlacing == 0 && FLoop == TLoop::None &&
      !FManagerDragTimer->isActive() && !IsDocked(FSettings.Edge) && FShell->ButtonHeld())
    FManagerDragTimer->start();
}

void TAppBar::ManagerDragStep() {
  if (FShell->ButtonHeld())
    return;
  FManagerDragTimer->stop();
  WindowManagerMoved();
}

void TAppBar::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  KeepDockPlace();
}

// A window manager may place a window it maps anew as it placed its frame before: the bar goes
// back to its strip, a few times at most so as not to fight one that insists.
void TAppBar::KeepDockPlace() {
  constexpr int MaxCorrections = 3;
  if (FPlacing > 0 || FLoop != TLoop::None || FSlideTimer->isActive() || !FBarWindow ||
      !IsDocked(FSettings.Edge) || !FDockPlace || FDockCorrections >= MaxCorrections ||
      WindowRect() == *FDockPlace)
    return;
  ++FDockCorrections;
  SetWindowRect(*FDockPlace);
}

void TAppBar::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && FCreated && !isActiveWindow())
    SetAutoHideShown(false);
}

} // namespace ornavel
