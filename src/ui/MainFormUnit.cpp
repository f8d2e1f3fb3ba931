#include "MainFormUnit.h"

#include "DialogsUnit.h"
#include "FormPlacementUnit.h"
#include "ScaleUnit.h"
#include "SettingsFormUnit.h"
#include "config/ConfigUnit.h"
#include "core/DateTimeUnit.h"
#include "core/FormatUnit.h"
#include "core/LogUnit.h"
#include "core/UserInterfaceThreadUnit.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QVBoxLayout>
#include <QWindow>

namespace ornavel {
namespace {

constexpr int DateColumnWidth = 130;
constexpr int DateColumnMaximum = 180;
constexpr int MessageColumnWidth = 300;
constexpr double AlphaBlendOpacity = 196 / 255.0;

QSettings PlacementStore() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Ornavel"),
                   QStringLiteral("Ornavel"));
}

} // namespace

TMainForm::TMainForm(TSourceFactory factory, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      FDriver(std::move(factory)), FUpdate(std::make_shared<TUpdateState>()) {
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
  header->resizeSection(0, Scaled(*this, DateColumnWidth));
  header->resizeSection(1, Scaled(*this, MessageColumnWidth));
  connect(header, &QHeaderView::sectionResized, this, [this, header](int section, int, int size) {
    const int maximum = Scaled(*this, DateColumnMaximum);
    if (section == 0 && size > maximum)
      header->resizeSection(0, maximum);
  });
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(FLogList);
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
}

void TMainForm::FormCreate() {
  FDriver.CreateThreadManager();
  // The desktop bar reads its state and places the window here.
  FModel->SetRowCount(0);
  FLog = &GetLog();
  FDriver.CreateLog([state = FUpdate](TLogLevel, const std::string&) { NotifyLogItem(state); });
  FDriver.OpenSettings();
  FConfig = &GetConfig();
  StartMonitoring();
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
  UpdateCaption();
  FModel->SetRowCount(FLog->Count());
  if (before.Position > before.Maximum - frameGeometry().height() || before.Maximum == 0)
    FLogList->scrollToBottom();
}

void TMainForm::UpdateCaption() {
  setWindowTitle(QString::fromStdString(Format(" Ornavel - %d item(s)", FLog->Count())));
}

QString TMainForm::LogListGetText(int row, int column) const {
  const TLogItem item = FLog->GetItem(static_cast<std::size_t>(row));
  if (column == 0) {
    const std::string format =
        FConfig != nullptr ? FConfig->DisplayDateFormat() : DefaultDateStringFormat;
    return QString::fromStdString(FormatDateTime(format, item.Time));
  }
  return QString::fromStdString(item.Text);
}

TCellPaint TMainForm::LogListPaintText(int row, int column, bool selected, bool focused) const {
  if (selected && focused)
    return {clHighlightText, false};
  if (column != 1)
    return {clWindowText, false};
  const TLogItem item = FLog->GetItem(static_cast<std::size_t>(row));
  TColor color = item.Color;
  const bool alarming = item.Level == TLogLevel::Warning || item.Level == TLogLevel::Exception;
  if (alarming && !selected)
    color = clRed;
  return {color, color != clWindowText};
}

void TMainForm::ClearActionExecute() {
  // The list forgets its rows before the store empties, so it never asks for a missing item.
  FModel->SetRowCount(0);
  FLog->Clear();
  UpdateCaption();
}

void TMainForm::StayOnTopActionExecute() {
  const bool onTop = FStayOnTopAction->isChecked();
  // Told to the window system directly: changing the widget's flags would hide the window.
  Qt::WindowFlags flags = windowFlags();
  flags.setFlag(Qt::WindowStaysOnTopHint, onTop);
  overrideWindowFlags(flags);
  if (QWindow* window = windowHandle())
    window->setFlag(Qt::WindowStaysOnTopHint, onTop);
}

void TMainForm::AlphaBlendActionExecute() {
  setWindowOpacity(FAlphaBlendAction->isChecked() ? AlphaBlendOpacity : 1.0);
}

void TMainForm::ConfigActionExecute() {
  TSettingsForm settings(this, FDriver.Factory().AvailableTypes());
  if (settings.exec() == QDialog::Accepted)
    RestartMonitoring();
}

void TMainForm::ExitActionExecute() {
  close();
}

void TMainForm::CopyActionExecute() {
  QString text;
  for (int row : FLogList->SelectedRows())
    text += LogListGetText(row, 0) + u'\t' + LogListGetText(row, 1) + u'\n';
  if (!text.isEmpty())
    QGuiApplication::clipboard()->setText(text);
}

void TMainForm::setVisible(bool visible) {
  if (visible && !FPlacementRestored) {
    FPlacementRestored = true;
    Guarded([this] { RestorePlacement(); });
  }
  QWidget::setVisible(visible);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  FormClose();
  Guarded([this] { SavePlacement(); });
  event->accept();
  // A tool window does not count as the application's last window, so closing it ends the
  // program here.
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
  move(normal->topLeft());
  resize(normal->size());
}

void TMainForm::SavePlacement() {
  FPlacementSaved = true;
  TFormPlacement placement;
  placement.PixelsPerInch = PixelsPerInch(*this);
  placement.Normal = isMaximized() || isMinimized() ? normalGeometry() : QRect(pos(), size());
  QSettings store = PlacementStore();
  SaveFormPlacement(store, placement, ScreenSize(*this));
}

void TMainForm::Guarded(const std::function<void()>& command) {
  try {
    command();
  } catch (const std::exception& failure) {
    Dialogs().ShowError(this, QString::fromStdString(failure.what()));
  }
}

} // namespace ornavel
