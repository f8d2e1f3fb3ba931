#include "MainFormUnit.h"

#include "DialogsUnit.h"
#include "FindBarUnit.h"
#include "FindUnit.h"
#include "FormPlacementUnit.h"
#include "ScaleUnit.h"
#include "SettingsFormUnit.h"
#include "config/ConfigUnit.h"
#include "config/XmlFileUnit.h"
#include "core/DateTimeUnit.h"
#include "core/FormatUnit.h"
#include "core/LogUnit.h"
#include "core/UserInterfaceThreadUnit.h"
#include "rules/RuleTextUnit.h"
#include "rules/RulesUnit.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QSignalBlocker>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace ornavel {
namespace {

constexpr int DateColumnWidth = 130;
constexpr int DateColumnMaximum = 180;
constexpr int MessageColumnWidth = 300;
constexpr int SourceColumnWidth = 90;
// The placement store's key of the columns shown, by their header names.
const QString ShownColumnsKey = QStringLiteral("ShownColumns");
constexpr double AlphaBlendOpacity = 196 / 255.0;
// A docked list shows the time and a useful part of the message, or about eight rows.
constexpr int DockedWidth = 360;
constexpr int DockedHeight = 160;
constexpr int SmallestWidth = 160;
constexpr int SmallestHeight = 80;
// A hide rule seeks this much of a message at most: a line's start is what makes it alike.
constexpr std::size_t HiddenTextLimit = 1024;
constexpr int HideRuleNameLength = 40;

// The process's file-creation mask, read without changing it.
unsigned CurrentUmask() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("Umask:"))
      return static_cast<unsigned>(std::stoul(line.substr(6), nullptr, 8));
  }
  return 022;
}

QSettings PlacementStore() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Ornavel"),
                   QStringLiteral("Ornavel"));
}

} // namespace

TMainForm::TMainForm(TSourceFactory factory, std::vector<std::string> extraFiles, QWidget* parent,
                     TAppBarShellFactory makeShell)
    // An ordinary window, not a tool window: GNOME keeps tool windows out of its task list and
    // window switcher, where the floating window belongs.
    : TAppBar(parent,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                  Qt::WindowCloseButtonHint,
              std::move(makeShell)),
      FDriver(std::move(factory)), FUpdate(std::make_shared<TUpdateState>()) {
  FDriver.FollowAlso(std::move(extraFiles));
  FUpdate->Form = this;
  setWindowTitle(QStringLiteral("Ornavel"));
  CreateComponents();
  CreateActions();
  resize(Scaled(*this, 444), Scaled(*this, 253));
  if (const QScreen* desktop = screen())
    move(desktop->availableGeometry().center() - rect().center());
  try {
    FormCreate();
  } catch (const std::exception& failure) {
    Dialogs().ShowError(nullptr, QString::fromStdString(failure.what()));
  }
}

TMainForm::~TMainForm() {
  FAlerts.reset();
  FUpdate->Form = nullptr;
  Guarded([this] { FormClose(); });
  if (FLog != nullptr)
    FLog->SetOnLogItem({});
  if (!FPlacementSaved)
    Guarded([this] { SavePlacement(); });
}

void TMainForm::CreateComponents() {
  FLogList = new TLogListView(*this, this);
  FModel = FLogList->model();
  QHeaderView* header = FLogList->horizontalHeader();
  header->resizeSection(TimeColumn, Scaled(*this, DateColumnWidth));
  header->resizeSection(MessageColumn, Scaled(*this, MessageColumnWidth));
  header->resizeSection(SourceColumn, Scaled(*this, SourceColumnWidth));
  CreateColumnMenu();
  connect(header, &QHeaderView::sectionResized, this, [this, header](int section, int, int size) {
    const int maximum = Scaled(*this, DateColumnMaximum);
    if (section == 0 && size > maximum)
      header->resizeSection(0, maximum);
  });
  FFindBar = new TFindBar(this);
  FFindBar->hide();
  connect(FFindBar, &TFindBar::QueryChanged, this,
          [this] { Guarded([this] { FindQueryChanged(); }); });
  connect(FFindBar, &TFindBar::NextWanted, this,
          [this](bool forwards) { Guarded([&] { FindNextActionExecute(forwards); }); });
  connect(FLogList->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    Guarded([this] {
      UpdateRowNote();
      UpdateHideActions();
    });
  });
  connect(FFindBar, &TFindBar::FilterToggled, this,
          [this](bool on) { Guarded([&] { SetFiltering(on); }); });
  connect(FFindBar, &TFindBar::Closed, this, [this] {
    Guarded([this] { SetFiltering(false); });
    FLogList->setFocus(Qt::OtherFocusReason);
    FLogList->viewport()->update();
  });
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(FLogList);
  layout->addWidget(FFindBar);
}

void TMainForm::CreateActions() {
  FPopupMenu = new QMenu(this);
  const auto addAction = [this](const QString& caption, void (TMainForm::*execute)()) {
    QAction* action = FPopupMenu->addAction(caption);
    connect(action, &QAction::triggered, this,
            [this, execute] { Guarded([&] { (this->*execute)(); }); });
    return action;
  };
  FClearAction = addAction(QStringLiteral("Clear"), &TMainForm::ClearActionExecute);
  FStayOnTopAction = addAction(QStringLiteral("Stay on top"), &TMainForm::StayOnTopActionExecute);
  FStayOnTopAction->setCheckable(true);
  FAlphaBlendAction = addAction(QStringLiteral("Alpha blend"), &TMainForm::AlphaBlendActionExecute);
  FAlphaBlendAction->setCheckable(true);
  FPopupMenu->addSeparator();
  FConfigAction = addAction(QStringLiteral("Settings..."), &TMainForm::ConfigActionExecute);
  FPopupMenu->addSeparator();
  FExitAction = addAction(QStringLiteral("Exit"), &TMainForm::ExitActionExecute);
  CreateHideActions();

  FLogList->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(FLogList, &QWidget::customContextMenuRequested, this, [this](const QPoint& where) {
    FPopupMenu->popup(FLogList->viewport()->mapToGlobal(where));
  });
  auto* copyAction = new QAction(FLogList);
  copyAction->setShortcut(QKeySequence::Copy);
  copyAction->setShortcutContext(Qt::WidgetShortcut);
  connect(copyAction, &QAction::triggered, this,
          [this] { Guarded([this] { CopyActionExecute(); }); });
  FLogList->addAction(copyAction);

  const auto addKey = [this](const QList<QKeySequence>& keys,
                             const std::function<void()>& execute) {
    auto* action = new QAction(this);
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, [this, execute] { Guarded(execute); });
    this->addAction(action);
  };
  addKey({QKeySequence::Find}, [this] { FindActionExecute(); });
  addKey({QKeySequence(Qt::Key_F3)}, [this] { FindNextActionExecute(true); });
  addKey({QKeySequence(Qt::SHIFT | Qt::Key_F3)}, [this] { FindNextActionExecute(false); });
  addKey({QKeySequence::Save}, [this] { SaveActionExecute(); });
  addKey({QKeySequence(Qt::CTRL | Qt::Key_L)}, [this] { FilterActionExecute(); });
  addKey({QKeySequence(Qt::CTRL | Qt::Key_H)}, [this] { AutoHideActionExecute(); });
}

// After the menu's first items, keys of the list: the list's Del is no other command's.
void TMainForm::CreateHideActions() {
  const auto add = [this](const QString& caption, const QKeySequence& key,
                          const std::function<void()>& execute) {
    QAction* action = FPopupMenu->addAction(caption);
    action->setShortcut(key);
    action->setShortcutContext(Qt::WidgetShortcut);
    FLogList->addAction(action);
    connect(action, &QAction::triggered, this, [this, execute] { Guarded(execute); });
    return action;
  };
  FPopupMenu->addSeparator();
  FHideAction = add(QStringLiteral("Hide lines like this"), QKeySequence(Qt::Key_Delete),
                    [this] { HideActionExecute(false); });
  FHideFromSourceAction =
      add(QStringLiteral("Hide lines like this from its source"),
          QKeySequence(Qt::SHIFT | Qt::Key_Delete), [this] { HideActionExecute(true); });
  FUndoHideAction =
      add(QStringLiteral("Undo hide"), QKeySequence::Undo, [this] { UndoHideActionExecute(); });
  connect(FPopupMenu, &QMenu::aboutToShow, this, [this] { UpdateHideActions(); });
  UpdateHideActions();
}

void TMainForm::UpdateHideActions() {
  const std::optional<std::size_t> line = FLog != nullptr ? CurrentLine() : std::nullopt;
  const auto item = line ? FLog->FindItem(*line, 0) : std::nullopt;
  FHideAction->setEnabled(item && item->MonitorType);
  FHideFromSourceAction->setEnabled(item && item->MonitorType);
  FUndoHideAction->setEnabled(!FHides.empty());
}

void TMainForm::FormCreate() {
  FDriver.CreateThreadManager();
  LoadBarSettings();
  FModel->SetRowCount(0);
  FLog = &GetLog();
  FFinder = std::make_unique<TLogFinder>(*FLog);
  FFinder->SetHidden(&FHidden);
  FDriver.CreateLog([state = FUpdate](TLogLevel, std::string_view) { NotifyLogItem(state); });
  FAlerts = std::make_unique<TWindowAlerts>(*this, static_cast<TAlertedWindow&>(*this), *FLog);
  FDriver.OpenSettings();
  FConfig = &GetConfig();
  StartMonitoring();
  RestoreColumns(PlacementStore());
}

void TMainForm::StartMonitoring() {
  FDriver.StartMonitoring();
}

void TMainForm::RestartMonitoring() {
  FDriver.RestartMonitoring();
}

// Sources post at any rate: at most one update waits at a time, and it reads the count when it
// runs, so a burst never floods the user-interface thread.
void TMainForm::NotifyLogItem(const std::shared_ptr<TUpdateState>& state) {
  if (OnUserInterfaceThread()) {
    if (TMainForm* form = state->Form.load())
      form->LogChanged();
    return;
  }
  if (state->Queued.exchange(true))
    return;
  const bool posted = PostToUserInterfaceThread([state] {
    if (TMainForm* form = state->Form.load())
      form->LogChanged();
  });
  if (!posted)
    state->Queued = false;
}

void TMainForm::LogChanged() {
  // Cleared before the count is read: a line stored after this point queues the next update.
  FUpdate->Queued = false;
  const TLogListView::TScrollState before = FLogList->ScrollState();
  const TLog::TExtent extent = FLog->Extent();
  // Lines removed at the cap leave the list from the top; the rest keep their place.
  std::uint64_t gone = extent.First - FFirstRow - FHidden.ForgetBefore(extent.First);
  FFirstRow = extent.First;
  if (Filtered()) {
    const std::vector<std::size_t>& matches = FFinder->Matches();
    gone = std::lower_bound(matches.begin(), matches.end(), extent.First) - matches.begin();
    FFinder->Update();
  }
  FModel->RemoveFirstRows(static_cast<int>(std::min<std::uint64_t>(gone, INT_MAX)));
  FModel->SetRowCount(Filtered() ? FFinder->Matches().size() : extent.Count - FHidden.Count());
  UpdateCaption();
  if (before.Position > before.Maximum - frameGeometry().height() || before.Maximum == 0)
    FLogList->scrollToBottom();
  if (Finding()) {
    if (!Filtered())
      FFinder->Update();
    if (FCurrentMatch && *FCurrentMatch < FFirstRow)
      FCurrentMatch.reset(); // gone at the cap
    UpdateFindStatus();
  }
}

// While filtering or hiding: the rows shown of those held.
void TMainForm::UpdateCaption() {
  const std::size_t held = FLog->Count();
  setWindowTitle(
      QString::fromStdString(Filtered() || FHidden.Count() > 0
                                 ? Format(" Ornavel - %d / %d item(s)", FModel->rowCount(), held)
                                 : Format(" Ornavel - %d item(s)", held)));
}

std::size_t TMainForm::LineOf(int row) const {
  if (!Filtered())
    return FHidden.LineOfRow(FFirstRow, static_cast<std::size_t>(row));
  const std::vector<std::size_t>& matches = FFinder->Matches();
  return row >= 0 && static_cast<std::size_t>(row) < matches.size() ? matches[row] : SIZE_MAX;
}

std::optional<int> TMainForm::RowOf(std::size_t line) const {
  const auto rows = static_cast<std::size_t>(FModel->rowCount());
  if (!Filtered()) {
    const std::optional<std::size_t> row = FHidden.RowOfLine(FFirstRow, line);
    if (!row || *row >= rows)
      return std::nullopt;
    return static_cast<int>(*row);
  }
  const std::vector<std::size_t>& matches = FFinder->Matches();
  const auto found = std::lower_bound(matches.begin(), matches.end(), line);
  const auto row = static_cast<std::size_t>(found - matches.begin());
  if (found == matches.end() || *found != line || row >= rows)
    return std::nullopt;
  return static_cast<int>(row);
}

bool TMainForm::Filtered() const {
  return FFiltering && FFinder != nullptr && !FFindBar->Text().isEmpty();
}

std::optional<std::size_t> TMainForm::CurrentLine() const {
  const int row = FLogList->CurrentRow();
  if (row < 0 || row >= FModel->rowCount())
    return std::nullopt;
  return LineOf(row);
}

void TMainForm::SetFiltering(bool on) {
  if (on == FFiltering)
    return;
  const std::optional<std::size_t> line = CurrentLine();
  FFiltering = on;
  FFindBar->SetFilter(on);
  ResetRows(line);
}

void TMainForm::ResetRows(std::optional<std::size_t> line) {
  FModel->SetRowCount(0);
  FFinder->Update();
  const TLog::TExtent extent = FLog->Extent();
  FFirstRow = extent.First;
  FHidden.ForgetBefore(FFirstRow);
  FModel->SetRowCount(Filtered() ? FFinder->Matches().size() : extent.Count - FHidden.Count());
  UpdateCaption();
  if (const std::optional<int> row = line ? RowOf(*line) : std::nullopt)
    FLogList->ShowRow(*row);
  else
    FLogList->scrollToBottom();
}

QString TMainForm::CellText(int row, int column, std::size_t maxBytes) const {
  const auto item = FLog->FindItem(LineOf(row), maxBytes);
  if (!item)
    return {};
  return QString::fromStdString(ColumnText(*item, column));
}

std::string TMainForm::ColumnText(const TLogItem& item, int column) const {
  if (column == TimeColumn) {
    const std::string format =
        FConfig != nullptr ? FConfig->DisplayDateFormat() : DefaultDateStringFormat;
    return FormatDateTime(format, item.Time);
  }
  return column == SourceColumn ? item.SourceName : item.Text;
}

QString TMainForm::LogListGetText(int row, int column) const {
  // UTF-8 takes at least as many bytes as UTF-16 takes code units.
  const QString text = CellText(row, column, ShownTextLimit);
  // A file shows by its name; the tip gives its path.
  return column == SourceColumn ? text.mid(text.lastIndexOf(u'/') + 1) : text;
}

QString TMainForm::LogListGetTip(int row, int column) const {
  return CellText(row, column, ShownTextLimit);
}

QString TMainForm::LogListRowNote(int row) const {
  const auto item = FLog->FindItem(LineOf(row), 0);
  if (!item || !item->MonitorType)
    return {};
  return item->Decision.empty() ? QStringLiteral("no rule matched")
                                : QString::fromUtf8(item->Decision.data(),
                                                    static_cast<qsizetype>(item->Decision.size()));
}

void TMainForm::UpdateRowNote() {
  const int row = FLogList->CurrentRow();
  FFindBar->ShowNote(row >= 0 && row < FModel->rowCount() ? LogListRowNote(row) : QString());
}

// The fields of a line as the window shows its columns, tab-separated: a file's whole path.
std::string TMainForm::RowText(const TLogItem& item) const {
  std::string text;
  const QHeaderView* header = FLogList->horizontalHeader();
  for (int visual = 0; visual < header->count(); ++visual) {
    const int column = header->logicalIndex(visual);
    if (header->isSectionHidden(column))
      continue;
    if (!text.empty())
      text += '\t';
    text += ColumnText(item, column);
  }
  return text + '\n';
}

// Right-click on the header: the columns, each shown or hidden.
void TMainForm::CreateColumnMenu() {
  QHeaderView* header = FLogList->horizontalHeader();
  FColumnMenu = new QMenu(this);
  for (int visual = 0; visual < header->count(); ++visual) {
    const int column = header->logicalIndex(visual);
    QAction* action = FColumnMenu->addAction(ColumnName(column));
    action->setCheckable(true);
    action->setData(column);
    connect(action, &QAction::toggled, this,
            [header, column](bool checked) { header->setSectionHidden(column, !checked); });
  }
  header->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(header, &QWidget::customContextMenuRequested, this, [this, header](const QPoint& where) {
    UpdateColumnMenu();
    FColumnMenu->popup(header->mapToGlobal(where));
  });
}

// The last column shown cannot be hidden.
void TMainForm::UpdateColumnMenu() {
  const QHeaderView* header = FLogList->horizontalHeader();
  const bool last = header->count() - header->hiddenSectionCount() == 1;
  for (QAction* action : FColumnMenu->actions()) {
    const bool hidden = header->isSectionHidden(action->data().toInt());
    const QSignalBlocker blocker(action);
    action->setChecked(!hidden);
    action->setEnabled(hidden || !last);
  }
}

// As the user left them; at first the Source column only where more than one source is followed,
// so that a single file's reader sees the window as it always was.
void TMainForm::RestoreColumns(const QSettings& store) {
  QStringList shown{ColumnName(TimeColumn), ColumnName(MessageColumn)};
  if (FDriver.SourcesStarted() > 1)
    shown << ColumnName(SourceColumn);
  shown = store.value(ShownColumnsKey, shown).toStringList();
  QHeaderView* header = FLogList->horizontalHeader();
  for (int column = 0; column < ColumnCount; ++column)
    header->setSectionHidden(column, !shown.contains(ColumnName(column)));
  if (header->hiddenSectionCount() == ColumnCount)
    header->setSectionHidden(MessageColumn, false);
}

QStringList TMainForm::ShownColumns() const {
  QStringList shown;
  for (int column = 0; column < ColumnCount; ++column) {
    if (!FLogList->horizontalHeader()->isSectionHidden(column))
      shown << ColumnName(column);
  }
  return shown;
}

TCellPaint TMainForm::LogListPaintText(int row, int column, bool selected, bool focused) const {
  if (selected && focused)
    return {clHighlightText, false};
  TFindMark mark = TFindMark::None;
  if (Finding() && FFinder->Matches(LineOf(row)))
    mark = FCurrentMatch == LineOf(row) ? TFindMark::CurrentMatch : TFindMark::Match;
  if (column != MessageColumn)
    return {clWindowText, false, mark};
  const auto item = FLog->FindItem(LineOf(row), 0);
  if (!item)
    return {clWindowText, false, mark};
  TColor color = item->Color;
  if (IsAlarming(item->Level) && !selected)
    color = clRed;
  return {color, color != clWindowText, mark};
}

void TMainForm::ClearActionExecute() {
  // The list forgets its rows before the store empties, so it never asks for a missing item.
  FModel->SetRowCount(0);
  FLog->Clear();
  FFirstRow = FLog->Extent().First;
  FHidden.ForgetBefore(FFirstRow);
  FHides.clear();
  UpdateHideActions();
  UpdateCaption();
  if (FFinder) {
    FFinder->Update();
    FCurrentMatch.reset();
    UpdateFindStatus();
  }
}

void TMainForm::StayOnTopActionExecute() {
  SetStayOnTop(FStayOnTopAction->isChecked());
}

void TMainForm::AutoHideActionExecute() {
  Settings().AutoHide = !Settings().AutoHide;
  UpdateBar();
}

void TMainForm::AlphaBlendActionExecute() {
  setWindowOpacity(FAlphaBlendAction->isChecked() ? AlphaBlendOpacity : 1.0);
}

void TMainForm::ConfigActionExecute() {
  TSettingsForm settings(this, FDriver.Factory().AvailableTypes());
  const bool accepted = settings.exec() == QDialog::Accepted;
  ShowRowsOfChangedHides();
  if (accepted)
    RestartMonitoring();
}

void TMainForm::ExitActionExecute() {
  close();
}

void TMainForm::CopyActionExecute() {
  std::string text;
  for (int row : FLogList->SelectedRows()) {
    if (const auto item = FLog->FindItem(LineOf(row)))
      text += RowText(*item);
  }
  if (!text.empty())
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

bool TMainForm::Finding() const {
  return FFinder != nullptr && FFindBar->isVisible();
}

void TMainForm::FindActionExecute() {
  const bool opening = !FFindBar->isVisible();
  FFindBar->Open();
  if (opening)
    FindQueryChanged(); // lines came and went while the bar was closed
  UpdateRowNote();
}

// Typing finds the newest match in view or above it, where a reader of a log looks first.
void TMainForm::FindQueryChanged() {
  const std::optional<std::size_t> current = CurrentLine();
  const int lastVisible = LastVisibleRow();
  const std::size_t lastLine = lastVisible >= 0 ? LineOf(lastVisible) : SIZE_MAX;
  const std::string error =
      FFinder->Seek(FFindBar->Text().toStdString(), FFindBar->RegularExpression());
  FQueryValid = error.empty();
  FCurrentMatch.reset();
  if (FFiltering)
    ResetRows(current);
  if (!FQueryValid)
    FFindBar->ShowStatus(QString::fromStdString(error));
  else
    ShowMatch(FFinder->LastUpTo(lastLine));
  FLogList->viewport()->update();
}

void TMainForm::FilterActionExecute() {
  if (!FFiltering)
    FindActionExecute();
  SetFiltering(!FFiltering);
}

// Esc in the list shows every row again, as closing the find bar does.
void TMainForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && FFiltering) {
    Guarded([this] { SetFiltering(false); });
    return;
  }
  TAppBar::keyPressEvent(event);
}

void TMainForm::FindNextActionExecute(bool forwards) {
  if (!FFindBar->isVisible())
    return;
  const QList<int> selected = FLogList->SelectedRows();
  const int row = selected.isEmpty() ? LastVisibleRow() : selected.constFirst();
  const std::size_t from = FCurrentMatch.value_or(row >= 0 ? LineOf(row) : SIZE_MAX);
  ShowMatch(FFinder->Next(from, forwards));
}

void TMainForm::ShowMatch(std::optional<std::size_t> line) {
  FCurrentMatch = line;
  // A match among lines that came after the last update is shown with the next one.
  if (const std::optional<int> row = line ? RowOf(*line) : std::nullopt)
    FLogList->ShowRow(*row);
  UpdateFindStatus();
}

void TMainForm::UpdateFindStatus() {
  if (!FQueryValid)
    return; // the engine's message stays until the text changes
  const std::size_t count = FFinder->Matches().size();
  if (FFindBar->Text().isEmpty())
    FFindBar->ShowStatus({});
  else if (count == 0)
    FFindBar->ShowStatus(QStringLiteral("No matches"));
  else if (!FCurrentMatch)
    FFindBar->ShowStatus(QString::fromStdString(Format("%u matches", count)));
  else
    FFindBar->ShowStatus(
        QString::fromStdString(Format("%u of %u", FFinder->Ordinal(*FCurrentMatch), count)));
}

int TMainForm::LastVisibleRow() const {
  const int row = FLogList->RowAt(FLogList->viewport()->height() - 1);
  return row >= 0 ? row : FModel->rowCount() - 1;
}

void TMainForm::SaveActionExecute() {
  if (FSaveFolder.isEmpty())
    FSaveFolder = QDir::homePath();
  const std::optional<QString> path = Dialogs().SaveFile(this, FSaveFolder);
  if (!path)
    return;
  FSaveFolder = QFileInfo(*path).absolutePath();
  const QList<int> selected = FLogList->SelectedRows();
  std::string text;
  const auto addLine = [&](const TLogItem& item) { text += RowText(item); };
  if (selected.size() > 1) {
    for (int row : selected) {
      if (const auto item = FLog->FindItem(LineOf(row)))
        addLine(*item);
    }
  } else {
    std::vector<TLogItem> batch(4096);
    std::uint64_t next = 0;
    for (std::size_t count; (count = FLog->CopyItems(next, batch)) > 0; next += count) {
      for (std::size_t i = 0; i < count; ++i)
        addLine(batch[i]);
    }
  }
  // Readable by the user's other programs as any file they save, within their umask.
  SaveFileAtomically(path->toStdString(), text, 0666 & ~CurrentUmask());
}

namespace {

std::unique_ptr<TRule> HideRule(const TLogItem& item, bool fromItsSource) {
  auto rule = std::make_unique<TRule>();
  const QString start = QString::fromStdString(item.Text).simplified();
  rule->SetName(QStringLiteral("Hide \"%1\"")
                    .arg(start.size() > HideRuleNameLength
                             ? start.left(HideRuleNameLength) + QStringLiteral("...")
                             : start)
                    .toStdString());
  rule->SetRegExp(LiteralRegExp(item.Text));
  if (fromItsSource)
    rule->SetSource(LiteralGlob(item.SourceName));
  rule->SetLogLine(false);
  rule->SetActive(true);
  return rule;
}

} // namespace

// The held lines hidden are those the new rule alone would drop: last in the list, it has the
// last word on every line it matches.
void TMainForm::HideActionExecute(bool fromItsSource) {
  const std::optional<std::size_t> line = CurrentLine();
  const auto item = line ? FLog->FindItem(*line, HiddenTextLimit) : std::nullopt;
  if (!item || !item->MonitorType)
    return; // Ornavel's own lines pass no rule
  TRules alone;
  alone.Add(HideRule(*item, fromItsSource));
  TRules& rules = GetRules();
  const TRule& rule = rules.Add(HideRule(*item, fromItsSource));
  FHides.push_back(
      {&rule, rule.RegExp(), rule.Source(), *line, LinesDroppedBy(*FLog, alone, FHidden)});
  FHidden.Hide(FHides.back().Lines);
  RowsHiddenOrShown(*line);
  rules.Save();
}

void TMainForm::UndoHideActionExecute() {
  if (FHides.empty())
    return;
  const THide hide = std::move(FHides.back());
  FHides.pop_back();
  FHidden.Show(hide.Lines);
  RowsHiddenOrShown(hide.Line);
  if (const std::optional<std::size_t> position = PositionOf(hide)) {
    GetRules().Delete(*position);
    GetRules().Save();
  }
}

std::optional<std::size_t> TMainForm::PositionOf(const THide& hide) const {
  const TRules& rules = GetRules();
  for (std::size_t position = 0; position < rules.Count(); ++position) {
    const TRule& rule = rules.GetRule(position);
    if (&rule == hide.Rule)
      return rule.RegExp() == hide.RegExp && rule.Source() == hide.Source && !rule.LogLine() &&
                     rule.Active()
                 ? std::optional(position)
                 : std::nullopt;
  }
  return std::nullopt;
}

void TMainForm::ShowRowsOfChangedHides() {
  const std::size_t hides = FHides.size();
  std::erase_if(FHides, [this](const THide& hide) {
    if (PositionOf(hide))
      return false;
    FHidden.Show(hide.Lines);
    return true;
  });
  if (FHides.size() == hides)
    return;
  RowsHiddenOrShown(CurrentLine().value_or(SIZE_MAX));
}

// The rows afresh, with current, or the row that took its place, current and in view.
void TMainForm::RowsHiddenOrShown(std::uint64_t current) {
  FFinder->SearchAgain();
  FCurrentMatch.reset();
  ResetRows(std::nullopt);
  if (const int row = RowFrom(current); row >= 0)
    FLogList->ShowRow(row);
  if (Finding())
    UpdateFindStatus();
  UpdateHideActions();
}

int TMainForm::RowFrom(std::uint64_t line) const {
  int low = 0, high = FModel->rowCount();
  while (low < high) {
    const int middle = low + (high - low) / 2;
    if (LineOf(middle) < line)
      low = middle + 1;
    else
      high = middle;
  }
  return std::min(low, FModel->rowCount() - 1);
}

void TMainForm::setVisible(bool visible) {
  if (visible && !FPlacementRestored) {
    FPlacementRestored = true;
    Guarded([this] { RestorePlacement(); });
  }
  TAppBar::setVisible(visible);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  FormClose();
  // The window system may have moved the window a moment ago (the user moved it and closed it at
  // once, or a signal came): its news is taken in before the placement is saved.
  QGuiApplication::sync();
  Guarded([this] { SavePlacement(); });
  event->accept();
  // Closing the main window ends the program, whatever other window is open.
  QCoreApplication::quit();
}

void TMainForm::FormClose() {
  if (FStopped)
    return;
  FStopped = true;
  FDriver.StopMonitoring();
}

namespace {

int PixelsPerInch(const QWidget& widget) {
  const QScreen* screen = widget.screen();
  return screen != nullptr ? qRound(screen->logicalDotsPerInch()) : 96;
}

QSize ScreenSize(const QWidget& widget) {
  const QScreen* screen = widget.screen();
  return screen != nullptr ? screen->size() : QSize();
}

} // namespace

// The frame's top-left corner and the inner size, restored before the native window exists: Qt
// then hands the corner to the window manager as the frame's. Moved once the window exists, and
// before the window manager has framed it, the inside would land on the corner and the window
// would creep by its frame at every start; an outer size would grow it likewise.
void TMainForm::RestorePlacement() {
  QSettings store = PlacementStore();
  const auto normal =
      LoadFormPlacement(store, QRect(pos(), size()), PixelsPerInch(*this), ScreenSize(*this));
  if (!normal || normal->width() <= 0 || normal->height() <= 0)
    return;
  const QRect placed = OntoMonitors(*normal);
  move(placed.topLeft());
  resize(placed.size());
}

// A docked bar keeps its float rectangle as the placement, so that it floats where it last
// floated, and starts from there when it docks again.
void TMainForm::SavePlacement() {
  FPlacementSaved = true;
  PlacementStore().setValue(ShownColumnsKey, ShownColumns());
  // A place the compositor chose and did not tell is no place to keep: the one an X11 session
  // stored stays.
  if (!OwnsPlacement())
    return;
  TFormPlacement placement;
  placement.PixelsPerInch = PixelsPerInch(*this);
  placement.Normal = isMaximized() || isMinimized() ? normalGeometry() : QRect(pos(), size());
  if (Settings().Edge != TAppBarEdge::abeFloat) {
    const TBarRect floating = FloatRect();
    placement.Normal = LogicalRect(floating, devicePixelRatioF());
  }
  QSettings store = PlacementStore();
  SaveFormPlacement(store, placement, ScreenSize(*this));
  if (!SaveSettings())
    throw std::runtime_error("Cannot save the bar's settings in " + store.fileName().toStdString());
}

// Under Wayland the compositor decides stacking and opacity; the menu says so rather than
// offering what would do nothing.
void TMainForm::LeaveToTheCompositor() {
  const QString xwayland = QStringLiteral(" Run Ornavel on XWayland (QT_QPA_PLATFORM=xcb) for it.");
  FStayOnTopAction->setEnabled(false);
  FStayOnTopAction->setToolTip(
      QStringLiteral("Under Wayland the compositor decides which windows stay on top.") + xwayland);
  FAlphaBlendAction->setEnabled(false);
  FAlphaBlendAction->setToolTip(
      QStringLiteral("Under Wayland the compositor decides how windows are drawn.") + xwayland);
  FPopupMenu->setToolTipsVisible(true);
}

void TMainForm::AlertRowInView(std::uint64_t line) {
  if (const std::optional<int> row = RowOf(line))
    FLogList->EnsureVisible(*row);
}

// A click on a notification: the window shows, the row current, also where the filter left it out.
void TMainForm::AlertRowWanted(std::uint64_t line) {
  if (isMinimized())
    showNormal();
  show();
  Peek(TWindowAlerts::PeekTime, QColor());
  raise();
  activateWindow();
  if (!RowOf(line) && Filtered())
    SetFiltering(false);
  if (const std::optional<int> row = RowOf(line))
    FLogList->ShowRow(*row);
}

// Asked while the bar is created, before the log exists.
void TMainForm::DockingUnavailable() {
  QTimer::singleShot(0, this, [this] {
    if (FLog != nullptr)
      FLog->Add(nullptr, TLogLevel::Warning,
                "Docking to a screen edge is not available under Wayland, where the compositor "
                "places windows: the window floats. Run Ornavel on XWayland (QT_QPA_PLATFORM=xcb) "
                "to dock.");
  });
}

void TMainForm::LoadBarSettings() {
  TBarSettingsRecord& settings = Settings();
  const auto pixels = [this](int size) {
    return qRound(Scaled(*this, size) * devicePixelRatioF());
  };
  settings.VertDockSize = pixels(DockedWidth);
  settings.HorzDockSize = pixels(DockedHeight);
  settings.MinVertDockSize = settings.MinWidth = pixels(SmallestWidth);
  settings.MinHorzDockSize = settings.MinHeight = pixels(SmallestHeight);
  SetRootKey(QStringLiteral("Ornavel"), QStringLiteral("Ornavel"));
  SetKeyName(QStringLiteral("FormSettings"));
  LoadSettings();
  settings.AlwaysOnTop = false;
  UpdateBar();
  if (!OwnsPlacement())
    LeaveToTheCompositor();
  AddDragHandle(FLogList->horizontalHeader()->viewport(),
                [this](QPoint where) { return HeaderCanDragAt(where); });
}

bool TMainForm::HeaderCanDragAt(QPoint where) const {
  const QHeaderView* header = FLogList->horizontalHeader();
  const int section = header->logicalIndexAt(where.x());
  if (section < 0)
    return true;
  const int left = header->sectionViewportPosition(section);
  const int right = left + header->sectionSize(section);
  const int grip = header->style()->pixelMetric(QStyle::PM_HeaderGripMargin, nullptr, header) + 2;
  return where.x() > left + grip && where.x() < right - grip;
}

void TMainForm::Guarded(const std::function<void()>& command) {
  try {
    command();
  } catch (const std::exception& failure) {
    Dialogs().ShowError(this, QString::fromStdString(failure.what()));
  }
}

} // namespace ornavel
