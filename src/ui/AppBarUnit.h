#pragma once

#include "AppBarGeometryUnit.h"
#include "AppBarShellUnit.h"

#include <QColor>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QPoint>
#include <QString>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QTimer;

namespace ornavel {

// A top-level window that floats on the desktop or docks to a screen edge as a desktop bar,
// reserving a strip that other programs' maximised windows stop short of; it may hide at its
// edge and slide back. The user changes its state by dragging it (see AddDragHandle) and sizes a
// docked bar by its inner border. Its state persists as the 84-byte "AppBar" value.
class TAppBar : public QWidget {
public:
  explicit TAppBar(QWidget* parent = nullptr, Qt::WindowFlags flags = {},
                   TAppBarShellFactory makeShell = MakeAppBarShell);
  // Leaves the desktop; never throws.
  ~TAppBar() override;

  // The current edge: the one proposed while the user drags, else the committed one.
  TAppBarEdge Edge() const;
  // Commits the edge: reserves its strip (or none), places the window and tells the desktop.
  void SetEdge(TAppBarEdge edge);
  void SetSlideTime(std::int32_t milliseconds);
  // Keeps the window above ordinary ones, floating or docked.
  void SetStayOnTop(bool onTop);
  // Every other setting, read and written directly.
  TBarSettingsRecord& Settings() { return FSettings; }
  const TBarSettingsRecord& Settings() const { return FSettings; }

  // The settings store (organisation and application of the user's QSettings) and the group
  // that holds the "AppBar" value.
  void SetRootKey(QString organisation, QString application);
  void SetKeyName(QString group) { FKeyName = std::move(group); }

  // Told once, when the bar is first asked to dock where the window system places windows.
  virtual void DockingUnavailable();
  // Re-applies the whole state.
  void UpdateBar();
  // Replaces the settings with the stored record when it is exactly 84 bytes; applies nothing.
  bool LoadSettings();
  bool SaveSettings();

  // Pressing the primary button on the handle where canDragAt says so and dragging moves the
  // bar: near a screen edge it docks there, in the middle (or with Ctrl) it floats.
  void AddDragHandle(QWidget* handle, std::function<bool(QPoint)> canDragAt);

  // Whether the window can dock here, known once the bar is created.
  bool CanDock() const { return FShell && FShell->CanDock(); }
  // Whether the program places the window and sets its stacking and opacity (not under Wayland).
  bool OwnsPlacement() const { return !FShell || FShell->OwnsPlacement(); }
  // The float rectangle in the window system's pixels: where the bar floats when not docked.
  TBarRect FloatRect() const;
  // Whether the bar hides at its edge until the mouse touches it.
  bool AutoHiding() const { return FSettings.AutoHide && IsDocked(FSettings.Edge); }
  // Whether an auto-hiding bar is out now.
  bool AutoHideShown() const { return FAutoHideShown; }
  // Slides an auto-hiding bar out for a while without taking the focus; it hides again after,
  // unless the mouse is on it. Its strip then shows in strip (when valid) until the mouse
  // touches it.
  void Peek(std::chrono::milliseconds duration, const QColor& strip);

protected:
  // r, in Qt's coordinates, as it is when on a monitor; else moved, whole, onto the nearest one.
  QRect OntoMonitors(QRect r) const;
  // Creates the bar: joins the desktop and applies the settings. Runs once, before the window is
  // first shown.
  void CreateBar();
  void setVisible(bool visible) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void changeEvent(QEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

private:
  void StateChanging(bool proposed, TAppBarEdge state);
  void AutoHideRefused();
  void FullScreenAppChanged(bool open);
  void ShellPosChanged();
  enum class TLoop { None, Pressed, Moving, Sizing };

  qreal Ratio() const;
  TBarPoint DevicePoint(QPointF global) const;
  TBarRect WindowRect() const;
  void SetWindowRect(TBarRect r);
  // The metrics of the window's monitor (for a docked bar, one whose edge it is), or of the
  // monitor nearest to a point.
  TBarMetrics Metrics() const;
  TBarMetrics Metrics(TBarPoint at) const;
  TBarMetrics WithWorkArea(TBarMetrics metrics) const;
  TBarMetrics ScreenMetrics() const;
  TBarMetrics ScreenMetrics(TBarPoint at) const;
  TBarMetrics ScreenMetricsOn(TBarRect screen, const std::vector<TBarRect>& monitors) const;
  // The monitors in device pixels.
  std::vector<TBarRect> Monitors() const;
  TQueryPos QueryPos() const;
  void CommitDocked(TAppBarEdge edge);
  void ApplyTrackSizes();
  // A docked bar keeps its inner border free of children, for sizing and for the hidden strip.
  void UpdateInnerBorder();
  void UseBarWindow(bool bar);
  void SetAutoHideShown(bool shown);
  void SlideTo(TBarRect r);
  void SlideStep();
  void AutoHideTick();
  void UpdateAutoHideTimer();
  void WindowManagerMoved();
  void Pressed(unsigned long clickTime);
  void ManagerDragStep();
  void EnterSizeMove();
  void ExitSizeMove();
  void MoveTo(TBarPoint cursor, bool controlDown);
  std::optional<TSizingSide> InnerBorderAt(QPoint local) const;
  void SizeTo(TBarPoint cursor);
  void ApplyTaskEntry(TAppBarEdge edge);
  void ApplyWindowStates();
  void KeepDockPlace();

  TBarSettingsRecord FSettings;
  TAppBarEdge FDragEdge = TAppBarEdge::abeUnknown;
  // The docked edge asked for where the desktop cannot dock, kept for the store.
  TAppBarEdge FUndockableEdge = TAppBarEdge::abeUnknown;
  bool FAutoHideShown = false;
  std::unique_ptr<TAppBarShell> FShell;
  QString FOrganisation;
  QString FApplication;
  TAppBarShellFactory FMakeShell;
  QString FKeyName;
  bool FCreated = false;
  bool FBarWindow = false;
  bool FStayOnTop = false;
  QTimer* FAutoHideTimer = nullptr;
  QTimer* FSlideTimer = nullptr;
  // Runs while the window manager moves the floating bar by the mouse, to see the button let go.
  QTimer* FManagerDragTimer = nullptr;
  QElapsedTimer FSlideClock;
  QDeadlineTimer FPeekEnd;
  QColor FStripColor;
  TBarRect FSlideFrom;
  TBarRect FSlideTo;
  // Where the docked bar was last put, and how often it was put back there since.
  std::optional<TBarRect> FDockPlace;
  int FDockCorrections = 0;
  int FPlacing = 0; // moves of our own in progress, not the user's
  TLoop FLoop = TLoop::None;
  TSizingSide FSizingSide = TSizingSide::Right;
  TBarPoint FLastCursor;
  // Where the window manager's drag let go: the monitor there is the one to dock on, wherever the
  // window's middle is.
  std::optional<TBarPoint> FDropPoint;
  QPointF FPressPosition;
  std::vector<std::pair<QWidget*, std::function<bool(QPoint)>>> FDragHandles;
};

} // namespace ornavel
