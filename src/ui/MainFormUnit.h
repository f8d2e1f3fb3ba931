#pragma once

#include "AppBarUnit.h"
#include "HiddenLinesUnit.h"
#include "LogListUnit.h"
#include "WindowAlertsUnit.h"
#include "driver/MonitoringDriverUnit.h"

#include <QStringList>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QSettings;

namespace ornavel {

class TFindBar;
class TLog;
class TLogFinder;
class TMainConfig;
class TRule;

// The program's one permanent window: a narrow window filled by the log list, with a
// popup menu, floating or docked to a screen edge. It drives the sources for its whole life.
class TMainForm : public TAppBar, private TLogListCells, private TAlertedWindow {
public:
  // Runs the start-up steps; a failure of the last one (a missing file) is shown in the error
  // box and the window opens as usual.
  // extraFiles are followed besides the listed ones, for this run only.
  explicit TMainForm(TSourceFactory factory, std::vector<std::string> extraFiles = {},
                     QWidget* parent = nullptr, TAppBarShellFactory makeShell = MakeAppBarShell);
  // Stops the sources if closing did not, saves the placement if closing did not.
  ~TMainForm() override;

  // The log's notification, on any thread; the update itself runs on this window's thread.
  void LogChanged();

  QString LogListGetText(int row, int column) const override;
  QString LogListGetTip(int row, int column) const override;
  // Why the row is here: the rule that kept it, or that none matched; empty for Ornavel's own.
  QString LogListRowNote(int row) const override;
  TCellPaint LogListPaintText(int row, int column, bool selected, bool focused) const override;

  void ClearActionExecute();
  void StayOnTopActionExecute();
  void AlphaBlendActionExecute();
  void ConfigActionExecute();
  void ExitActionExecute();
  // Puts the selected rows on the clipboard, one line each: the columns shown, tab-separated.
  void CopyActionExecute();
  // Keyboard commands only, outside the popup menu. Find opens the find bar; Save writes the
  // lines held (or the selected rows, when there are several) to a file the user chooses.
  void FindActionExecute();
  void FindNextActionExecute(bool forwards);
  // Ctrl+L: shows only the rows that match the find text, new ones included, or all again.
  void FilterActionExecute();
  void SaveActionExecute();
  // Del (Shift+Del): a rule at the end of the list drops lines holding the current row's message
  // (from its source only), new ones and the held ones alike, and is saved.
  void HideActionExecute(bool fromItsSource);
  // Ctrl+Z: the last such rule goes again and the rows it hid come back.
  void UndoHideActionExecute();
  // Ctrl+H: a docked bar hides at its edge until the mouse touches it (one such bar per edge).
  void AutoHideActionExecute();

  void StartMonitoring();
  void RestartMonitoring();

  TLogListView* LogList() const { return FLogList; }
  QMenu* PopupMenu() const { return FPopupMenu; }
  // The header's menu of the columns, made current for the moment it pops up.
  QMenu* ColumnMenu() {
    UpdateColumnMenu();
    return FColumnMenu;
  }
  TFindBar* FindBar() const { return FFindBar; }
  TWindowAlerts* Alerts() const { return FAlerts.get(); }
  QAction* StayOnTopAction() const { return FStayOnTopAction; }
  QAction* AlphaBlendAction() const { return FAlphaBlendAction; }
  QAction* UndoHideAction() const { return FUndoHideAction; }

  // Restores the placement before the window is first shown.
  void setVisible(bool visible) override;

protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void DockingUnavailable() override;
  void AlertRowInView(std::uint64_t line) override;
  void AlertRowWanted(std::uint64_t line) override;

private:
  // A rule "hide lines like this" added, and the held lines it hid.
  struct THide {
    const TRule* Rule; // compared, not followed: the list may have deleted it
    std::string RegExp;
    std::string Source;
    std::uint64_t Line; // the row it was given from
    std::vector<std::uint64_t> Lines;
  };

  // Shared with the log's handler, which may outlive the window by one notification.
  struct TUpdateState {
    std::atomic<TMainForm*> Form;
    std::atomic<bool> Queued{false};
  };

  void CreateComponents();
  void CreateActions();
  void CreateHideActions();
  void UpdateHideActions();
  void FormCreate();
  void FormClose();
  static void NotifyLogItem(const std::shared_ptr<TUpdateState>& state);
  void UpdateCaption();
  // The text of a row's cell, at most maxBytes of it; empty for a line the log no longer holds.
  QString CellText(int row, int column, std::size_t maxBytes) const;
  std::string ColumnText(const TLogItem& item, int column) const;
  std::string RowText(const TLogItem& item) const;
  void CreateColumnMenu();
  void UpdateColumnMenu();
  void RestoreColumns(const QSettings& store);
  QStringList ShownColumns() const;
  void FindQueryChanged();
  // Shows the line with that log number, the current match.
  void ShowMatch(std::optional<std::size_t> line);
  void UpdateFindStatus();
  void UpdateRowNote();
  bool Finding() const;
  int LastVisibleRow() const;
  // The log's number of a row's line, as of the last update.
  std::size_t LineOf(int row) const;
  // The row that shows a line, if one does.
  std::optional<int> RowOf(std::size_t line) const;
  // Whether only the rows that match the find text are shown: filtering, with a text to match.
  bool Filtered() const;
  void SetFiltering(bool on);
  // The rows afresh, all or the matches, with line in view where a row shows it.
  void ResetRows(std::optional<std::size_t> line);
  std::optional<std::size_t> CurrentLine() const;
  // The first row that shows line or one after it; the last row when none does.
  int RowFrom(std::uint64_t line) const;
  // Where the hide's rule is in the list, while it is there as it was added.
  std::optional<std::size_t> PositionOf(const THide& hide) const;
  // Shows the rows of the hides whose rules the Settings dialog deleted or changed.
  void ShowRowsOfChangedHides();
  void RowsHiddenOrShown(std::uint64_t current);
  void RestorePlacement();
  // The bar's own defaults, sized for a usable list, then its stored state.
  void LoadBarSettings();
  void LeaveToTheCompositor();
  // Whether the header may start a drag of the bar at that point: not on a column's border.
  bool HeaderCanDragAt(QPoint where) const;
  void SavePlacement();
  // Runs a menu command; a failure goes to the error box, never into Qt's event loop.
  void Guarded(const std::function<void()>& command);

  TMonitoringDriver FDriver;
  std::shared_ptr<TUpdateState> FUpdate;
  TLog* FLog = nullptr;
  TMainConfig* FConfig = nullptr;
  TLogListView* FLogList = nullptr;
  TLogModel* FModel = nullptr;
  // The log's number of the line in row 0, as of the last update.
  std::uint64_t FFirstRow = 0;
  TFindBar* FFindBar = nullptr;
  std::unique_ptr<TLogFinder> FFinder;
  std::unique_ptr<TWindowAlerts> FAlerts;
  std::optional<std::size_t> FCurrentMatch; // a log number
  bool FQueryValid = true;
  bool FFiltering = false;
  THiddenLines FHidden;
  std::vector<THide> FHides;
  QString FSaveFolder;
  QMenu* FPopupMenu = nullptr;
  QMenu* FColumnMenu = nullptr;
  QAction* FClearAction = nullptr;
  QAction* FStayOnTopAction = nullptr;
  QAction* FAlphaBlendAction = nullptr;
  QAction* FConfigAction = nullptr;
  QAction* FExitAction = nullptr;
  QAction* FHideAction = nullptr;
  QAction* FHideFromSourceAction = nullptr;
  QAction* FUndoHideAction = nullptr;
  bool FPlacementRestored = false;
  bool FPlacementSaved = false;
  bool FStopped = false;
};

} // namespace ornavel
