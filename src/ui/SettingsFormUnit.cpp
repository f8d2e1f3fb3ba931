#include "SettingsFormUnit.h"

#include "DialogsUnit.h"
#include "MarkupLabelUnit.h"
#include "ScaleUnit.h"
#include "config/ConfigUnit.h"
#include "core/FormatUnit.h"
#include "rules/RuleTextUnit.h"
#include "rules/RulesUnit.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <functional>
#include <memory>

namespace ornavel {
namespace {

constexpr const char* NoRuleText = "Select a rule above to change it";

template <class T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QString Decoded(const std::string& text) {
  return QString::fromStdString(text);
}

// What an input box gave for a value shown decoded: the original bytes when the text was left
// as shown, so that Cancel never rewrites bytes that are not UTF-8.
std::string Edited(const QString& result, const std::string& original) {
  return result == Decoded(original) ? original : result.toStdString();
}

// The folder part of a path, with its final separator; empty when it has none.
std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace

TSettingsForm::TSettingsForm(QWidget* owner, TMonitorTypes available) : QDialog(owner) {
  setObjectName(QStringLiteral("SettingsForm"));
  setWindowTitle(QStringLiteral("Settings"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(Scaled(4), Scaled(4), Scaled(4), 0);
  SettingsPageControl = Named(new QTabWidget(this), "SettingsPageControl");
  SettingsPageControl->addTab(MakeGeneralTab(available), QStringLiteral("General"));
  SettingsPageControl->addTab(MakeFilesTab(), QStringLiteral("Files"));
  SettingsPageControl->addTab(MakeRulesTab(), QStringLiteral("Rules"));
  layout->addWidget(SettingsPageControl);
  layout->addWidget(MakeBottomPanel());
  SetTabOrders();
  FormCreate();
  setFixedSize(minimumSizeHint().expandedTo(QSize(Scaled(381), Scaled(281))));
  if (const QScreen* desktop = screen())
    move(desktop->availableGeometry().center() - rect().center());
}

int TSettingsForm::Scaled(int pixels) const {
  return ornavel::Scaled(*this, pixels);
}

// Each kind's switch with its option under it, in the order of the kinds.
QWidget* TSettingsForm::MakeGeneralTab(TMonitorTypes available) {
  auto* tab = Named(new QWidget(this), "GeneralTabSheet");
  auto* layout = new QVBoxLayout(tab);
  layout->setContentsMargins(Scaled(12), Scaled(12), Scaled(12), Scaled(12));
  auto box = [&](const TSourceSetting& setting) {
    auto* check = new QCheckBox(QString::fromUtf8(setting.Caption), tab);
    check->setObjectName(QString::fromUtf8(setting.BoxName));
    layout->addWidget(check);
    return TSettingBox{&setting, check};
  };
  std::vector<TSettingBox> options;
  for (const TSourceKind& kind : SourceKinds) {
    if (kind.Switch.Exists()) {
      const TSettingBox& switchBox = FSettingBoxes.emplace_back(box(kind.Switch));
      // Setting a switch, also from the settings, counts as a click.
      connect(switchBox.Box, &QCheckBox::toggled, this, &TSettingsForm::EnableApplyButton);
      if (!available.Contains(kind.Type))
        switchBox.Box->setToolTip(QStringLiteral("Not available in this build"));
    }
    if (kind.Option.Exists())
      options.push_back(box(kind.Option));
  }
  // In keyboard order: the switches, then the options.
  FSettingBoxes.insert(FSettingBoxes.end(), options.begin(), options.end());
  layout->addStretch();
  return tab;
}

QWidget* TSettingsForm::MakeFilesTab() {
  auto* tab = Named(new QWidget(this), "FilesTabSheet");
  auto* layout = new QVBoxLayout(tab);
  layout->setContentsMargins(Scaled(8), Scaled(8), Scaled(8), Scaled(6));
  MonitorFilenamesListBox = Named(new QListWidget(tab), "MonitorFilenamesListBox");
  MonitorFilenamesListBox->setSelectionMode(QAbstractItemView::ExtendedSelection);
  MonitorFilenamesListBox->setMinimumSize(Scaled(357), Scaled(174));
  MonitorFilenamesListBox->setToolTip(
      QStringLiteral("Double-click a name to edit it: a pattern such as /var/log/nginx/*.log "
                     "follows every file that matches."));
  layout->addWidget(MonitorFilenamesListBox, 1);
  auto* buttons = new QHBoxLayout;
  AddFilesButton = Named(new QPushButton(QStringLiteral("A&dd..."), tab), "AddFilesButton");
  DeleteFilesButton = Named(new QPushButton(QStringLiteral("D&elete"), tab), "DeleteFilesButton");
  for (QPushButton* button : {AddFilesButton, DeleteFilesButton}) {
    button->setMinimumWidth(Scaled(75));
    buttons->addWidget(button);
  }
  buttons->addStretch();
  layout->addLayout(buttons);
  connect(AddFilesButton, &QPushButton::clicked, this, &TSettingsForm::AddFilesButtonClick);
  connect(DeleteFilesButton, &QPushButton::clicked, this, &TSettingsForm::DeleteFilesButtonClick);
  connect(MonitorFilenamesListBox, &QListWidget::itemChanged, this, &TSettingsForm::FileNameEdited);
  return tab;
}

QWidget* TSettingsForm::MakeRulesTab() {
  auto* tab = Named(new QWidget(this), "TabSheet1");
  auto* grid = new QGridLayout(tab);
  grid->setContentsMargins(Scaled(8), Scaled(8), Scaled(5), Scaled(6));
  RulesCheckListBox = Named(new QListWidget(tab), "RulesCheckListBox");
  RulesCheckListBox->setSelectionMode(QAbstractItemView::SingleSelection);
  RulesCheckListBox->setMinimumSize(Scaled(325), Scaled(81));
  grid->addWidget(RulesCheckListBox, 0, 0);

  auto* moves = new QVBoxLayout;
  auto arrow = [&](const char* name, const char* hint, QStyle::StandardPixmap glyph) {
    auto* button = Named(new QToolButton(tab), name);
    button->setToolTip(QString::fromLatin1(hint));
    button->setIcon(style()->standardIcon(glyph));
    button->setFixedSize(Scaled(28), Scaled(28));
    button->setFocusPolicy(Qt::NoFocus); // picture buttons take no focus
    moves->addWidget(button);
    return button;
  };
  MoveUpSpeedButton = arrow("MoveUpSpeedButton", "Move up", QStyle::SP_ArrowUp);
  MoveDownSpeedButton = arrow("MoveDownSpeedButton", "Move down", QStyle::SP_ArrowDown);
  moves->addStretch();
  grid->addLayout(moves, 0, 1);

  auto* panel = Named(new QFrame(tab), "Panel1");
  panel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  // Room for the longest sentence and a pattern's error message under it.
  panel->setMinimumSize(Scaled(325),
                        std::max(Scaled(85), 7 * fontMetrics().lineSpacing() + Scaled(12)));
  auto* panelLayout = new QVBoxLayout(panel);
  panelLayout->setContentsMargins(Scaled(4), Scaled(4), Scaled(4), Scaled(4));
  RuleLinkLabel = Named(new TMarkupLabel(panel), "RuleLinkLabel");
  RuleLinkLabel->SetMarkup(NoRuleText);
  panelLayout->addWidget(RuleLinkLabel);
  grid->addWidget(panel, 1, 0);

  auto* buttons = new QHBoxLayout;
  AddRuleButton = Named(new QPushButton(QStringLiteral("A&dd..."), tab), "AddRuleButton");
  DeleteRuleButton = Named(new QPushButton(QStringLiteral("D&elete"), tab), "DeleteRuleButton");
  for (QPushButton* button : {AddRuleButton, DeleteRuleButton}) {
    button->setMinimumWidth(Scaled(75));
    buttons->addWidget(button);
  }
  buttons->addStretch();
  grid->addLayout(buttons, 2, 0, 1, 2);

  connect(RulesCheckListBox, &QListWidget::itemSelectionChanged, this,
          &TSettingsForm::RulesCheckListBoxClick);
  connect(RulesCheckListBox, &QListWidget::itemClicked, this,
          &TSettingsForm::RulesCheckListBoxClick);
  // Our own changes of rows happen with the list's signals blocked, so every change that
  // arrives here is the user toggling a check box.
  connect(RulesCheckListBox, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    RulesCheckListBoxClickCheck(RulesCheckListBox->row(item));
  });
  connect(AddRuleButton, &QPushButton::clicked, this, &TSettingsForm::AddRuleButtonClick);
  connect(DeleteRuleButton, &QPushButton::clicked, this, &TSettingsForm::DeleteRuleButtonClick);
  connect(MoveUpSpeedButton, &QToolButton::clicked, this, &TSettingsForm::MoveUpSpeedButtonClick);
  connect(MoveDownSpeedButton, &QToolButton::clicked, this,
          &TSettingsForm::MoveDownSpeedButtonClick);
  connect(RuleLinkLabel, &TMarkupLabel::LinkClick, this, &TSettingsForm::RuleLinkLabelLinkClick);
  return tab;
}

QWidget* TSettingsForm::MakeBottomPanel() {
  auto* panel = Named(new QWidget(this), "BottomPanel");
  panel->setFixedHeight(Scaled(36));
  auto* layout = new QHBoxLayout(panel);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addStretch();
  OKButton = Named(new QPushButton(QStringLiteral("&OK"), panel), "OKButton");
  CancelButton = Named(new QPushButton(QStringLiteral("&Cancel"), panel), "CancelButton");
  ApplyButton = Named(new QPushButton(QStringLiteral("&Apply"), panel), "ApplyButton");
  for (QPushButton* button : {OKButton, CancelButton, ApplyButton}) {
    button->setMinimumWidth(Scaled(75));
    layout->addWidget(button);
  }
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(ApplyButton, &QPushButton::clicked, this,
          [this] { ReportingFailure([this] { ApplyButtonClick(); }); });
  return panel;
}

void TSettingsForm::SetTabOrders() {
  std::vector<QWidget*> order{SettingsPageControl};
  for (const TSettingBox& box : FSettingBoxes)
    order.push_back(box.Box);
  order.insert(order.end(), {MonitorFilenamesListBox, AddFilesButton, DeleteFilesButton,
                             RulesCheckListBox, AddRuleButton, DeleteRuleButton, RuleLinkLabel,
                             OKButton, ApplyButton, CancelButton});
  for (std::size_t i = 1; i < order.size(); ++i)
    QWidget::setTabOrder(order[i - 1], order[i]);
}

void TSettingsForm::FormCreate() {
  SettingsPageControl->setCurrentIndex(0);
  FSelectedRule = -1;
  FConfig = &GetConfig();
  FRules = &GetRules();
  for (const TSettingBox& box : FSettingBoxes)
    box.Box->setChecked(FConfig->ReadSetting(*box.Setting));
  FillFilesList();
  FillRulesList();
  ApplyButton->setEnabled(false);
}

void TSettingsForm::EnableApplyButton() {
  ApplyButton->setEnabled(true);
}

// Each item keeps the bytes of its entry, which its text may not show exactly.
void TSettingsForm::FillFilesList() {
  const QSignalBlocker quiet(MonitorFilenamesListBox);
  MonitorFilenamesListBox->clear();
  for (const std::string& file : FConfig->MonitorFilenames().Items()) {
    auto* item = new QListWidgetItem(Decoded(file), MonitorFilenamesListBox);
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    item->setData(Qt::UserRole, QByteArray::fromStdString(file));
    FLastFile = file;
  }
}

// A name typed over an entry replaces it, so that a pattern can be given where the file dialog
// gives only files; a name emptied is put back.
void TSettingsForm::FileNameEdited(QListWidgetItem* item) {
  const std::string original = item->data(Qt::UserRole).toByteArray().toStdString();
  const std::string edited = Edited(item->text().trimmed(), original);
  TStringList& files = FConfig->MonitorFilenames();
  const auto entry = std::ranges::find(files.Items(), original);
  const QSignalBlocker quiet(MonitorFilenamesListBox);
  if (edited.empty() || entry == files.Items().end()) {
    item->setText(Decoded(original));
    return;
  }
  files.Set(static_cast<std::size_t>(entry - files.Items().begin()), edited);
  item->setData(Qt::UserRole, QByteArray::fromStdString(edited));
  EnableApplyButton();
}

void TSettingsForm::AddFilesButtonClick() {
  EnableApplyButton();
  if (const auto file = Dialogs().OpenFile(this, Decoded(FolderOf(FLastFile))))
    FConfig->MonitorFilenames().Add(file->toStdString());
  FillFilesList();
}

void TSettingsForm::DeleteFilesButtonClick() {
  EnableApplyButton();
  TStringList& files = FConfig->MonitorFilenames();
  for (int row = 0; row < MonitorFilenamesListBox->count(); ++row) {
    const QListWidgetItem* item = MonitorFilenamesListBox->item(row);
    if (!item->isSelected())
      continue;
    // The first entry of exactly that name; an item without one is skipped.
    for (std::size_t entry = 0; entry < files.Count(); ++entry) {
      if (Decoded(files[entry]) == item->text()) {
        files.Delete(entry);
        break;
      }
    }
  }
  for (int row = MonitorFilenamesListBox->count() - 1; row >= 0; --row) {
    if (MonitorFilenamesListBox->item(row)->isSelected())
      std::unique_ptr<QListWidgetItem>(MonitorFilenamesListBox->takeItem(row));
  }
}

void TSettingsForm::ApplyButtonClick() {
  for (const TSettingBox& box : FSettingBoxes)
    FConfig->WriteSetting(*box.Setting, box.Box->isChecked());
  FConfig->Save();
  FRules->Save();
  ApplyButton->setEnabled(false);
}

bool TSettingsForm::ReportingFailure(const std::function<void()>& work) {
  try {
    work();
    return true;
  } catch (const std::exception& failure) {
    // Left enabled, so that the user can try again once the cause is mended.
    EnableApplyButton();
    Dialogs().ShowError(this, QString::fromStdString(failure.what()));
    return false;
  }
}

void TSettingsForm::FormClose(int result) {
  if (result == QDialog::Accepted)
    ApplyButtonClick();
}

void TSettingsForm::done(int result) {
  if (!ReportingFailure([&] { FormClose(result); }))
    return; // the close is cancelled, so monitoring is not restarted
  QDialog::done(result);
}

void TSettingsForm::FillRulesList() {
  const QSignalBlocker blocker(RulesCheckListBox);
  RulesCheckListBox->clear();
  for (std::size_t i = 0; i < FRules->Count(); ++i)
    AddRuleRow(FRules->GetRule(i));
}

void TSettingsForm::AddRuleRow(TRule& rule) {
  auto* item = new QListWidgetItem(Decoded(rule.Name()));
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
  item->setCheckState(rule.Active() ? Qt::Checked : Qt::Unchecked);
  item->setData(Qt::UserRole, QVariant::fromValue(static_cast<void*>(&rule)));
  const QSignalBlocker blocker(RulesCheckListBox);
  RulesCheckListBox->addItem(item); // the list owns it from here
}

TRule& TSettingsForm::RuleOfRow(int row) const {
  const QListWidgetItem* item = RulesCheckListBox->item(row);
  if (item == nullptr)
    throw std::out_of_range(Format("List index out of bounds (%d)", row));
  return *static_cast<TRule*>(item->data(Qt::UserRole).value<void*>());
}

void TSettingsForm::RulesCheckListBoxClick() {
  const auto selected = RulesCheckListBox->selectedItems();
  if (selected.isEmpty())
    return;
  FSelectedRule = RulesCheckListBox->row(selected.front());
  ShowSelectedRule();
}

void TSettingsForm::RulesCheckListBoxClickCheck(int row) {
  const QListWidgetItem* item = RulesCheckListBox->item(row);
  if (item == nullptr)
    return;
  RuleOfRow(row).SetActive(item->checkState() == Qt::Checked);
  ShowSelectedRule();
}

void TSettingsForm::AddRuleButtonClick() {
  EnableApplyButton();
  AddRuleRow(FRules->Add(std::make_unique<TRule>()));
}

void TSettingsForm::DeleteRuleButtonClick() {
  if (FSelectedRule < 0 || FSelectedRule >= RulesCheckListBox->count())
    return;
  {
    // The row goes before its rule is freed; the selection must not move to a neighbour.
    const QSignalBlocker blocker(RulesCheckListBox);
    std::unique_ptr<QListWidgetItem>(RulesCheckListBox->takeItem(FSelectedRule));
    RulesCheckListBox->setCurrentItem(nullptr);
    RulesCheckListBox->clearSelection();
  }
  FRules->Delete(static_cast<std::size_t>(FSelectedRule));
  FSelectedRule = -1;
  ShowSelectedRule();
  EnableApplyButton();
}

void TSettingsForm::MoveUpSpeedButtonClick() {
  MoveSelectedRule(-1);
}

void TSettingsForm::MoveDownSpeedButtonClick() {
  MoveSelectedRule(+1);
}

// The rule takes its neighbour's priority, and the sort puts it in the neighbour's place, just
// as its row changed places with the neighbour's row.
void TSettingsForm::MoveSelectedRule(int offset) {
  const int from = FSelectedRule;
  const int to = from + offset;
  if (from < 0 || to < 0 || to >= RulesCheckListBox->count())
    return;
  RuleOfRow(from).SetPriority(to);
  {
    const QSignalBlocker blocker(RulesCheckListBox);
    QListWidgetItem* row = RulesCheckListBox->takeItem(from);
    RulesCheckListBox->insertItem(to, row);
    RulesCheckListBox->setCurrentRow(to, QItemSelectionModel::ClearAndSelect);
  }
  FSelectedRule = to;
  FRules->Sort();
}

void TSettingsForm::ShowSelectedRule() {
  if (FSelectedRule < 0 || FSelectedRule >= RulesCheckListBox->count()) {
    RuleLinkLabel->SetMarkup(NoRuleText);
    return;
  }
  const TRule& rule = RuleOfRow(FSelectedRule);
  std::string markup = RuleSentence(rule);
  // Accepted as typed, but said at once: evaluation would switch the rule off at its first line.
  if (const auto problem = PatternProblem(rule.RegExp()))
    markup += Format("<br>Invalid pattern: %s", *problem);
  RuleLinkLabel->SetMarkup(std::move(markup));
}

void TSettingsForm::RuleLinkLabelLinkClick(const QString& param, const QString& text) {
  if (param.isEmpty() || FSelectedRule < 0 || FSelectedRule >= RulesCheckListBox->count())
    return;
  TRule& rule = RuleOfRow(FSelectedRule);
  if (param == QLatin1String("name"))
    EditName(rule, text);
  else if (param == QLatin1String("active"))
    EditActive(rule);
  else if (param == QLatin1String("monitortypes"))
    EditMonitorTypes(rule);
  else if (param == QLatin1String("source"))
    EditSource(rule);
  else if (param == QLatin1String("regexp"))
    EditPattern(rule);
  else if (param == QLatin1String("logline"))
    EditLogLine(rule);
  else if (param == QLatin1String("alert"))
    EditAlert(rule);
  else if (param == QLatin1String("color"))
    EditColor(rule);
  ShowSelectedRule();
}

void TSettingsForm::EditName(TRule& rule, const QString& text) {
  const QString result =
      Dialogs().InputText(this, QStringLiteral("New name"),
                          QStringLiteral("Select a new name for selected rule"), text);
  rule.SetName(Edited(result, rule.Name()));
  const QSignalBlocker blocker(RulesCheckListBox);
  RulesCheckListBox->item(FSelectedRule)->setText(Decoded(rule.Name()));
}

void TSettingsForm::EditActive(TRule& rule) {
  rule.SetActive(Dialogs().AskYesNo(this, QStringLiteral("Active"),
                                    QStringLiteral("Do you want this rule to be active?"),
                                    rule.Active()));
  const QSignalBlocker blocker(RulesCheckListBox);
  RulesCheckListBox->item(FSelectedRule)
      ->setCheckState(rule.Active() ? Qt::Checked : Qt::Unchecked);
}

void TSettingsForm::EditMonitorTypes(TRule& rule) {
  for (const TSourceKind& kind : SourceKinds)
    AskMonitorType(rule, kind);
}

void TSettingsForm::AskMonitorType(TRule& rule, const TSourceKind& kind) {
  const QString question = QStringLiteral("Do you want this rule to apply on lines coming from %1?")
                               .arg(QString::fromUtf8(kind.SentenceText));
  TMonitorTypes types = rule.MonitorTypes();
  if (Dialogs().AskYesNo(this, QStringLiteral("Choose monitor types"), question,
                         types.Contains(kind.Type)))
    types.Include(kind.Type);
  else
    types.Exclude(kind.Type);
  rule.SetMonitorTypes(types);
}

void TSettingsForm::EditPattern(TRule& rule) {
  const QString result = Dialogs().InputText(
      this, QStringLiteral("New regexp/string"),
      QStringLiteral("Choose a new string (or regexp) that should match an incoming line"),
      Decoded(rule.RegExp()));
  rule.SetRegExp(Edited(result, rule.RegExp()));
}

void TSettingsForm::EditSource(TRule& rule) {
  const QString result = Dialogs().InputText(
      this, QStringLiteral("Sources"),
      QStringLiteral("Apply this rule only to lines from sources named like (* and ? as in file "
                     "names, for example *nginx* or 10.0.0.*; empty for every source)"),
      Decoded(rule.Source()));
  rule.SetSource(Edited(result.trimmed(), rule.Source()));
}

void TSettingsForm::EditAlert(TRule& rule) {
  rule.SetAlert(Dialogs().AskYesNo(
      this, QStringLiteral("Alert"),
      QStringLiteral("Do you want a notification when this rule logs a line?"), rule.Alert()));
}

void TSettingsForm::EditLogLine(TRule& rule) {
  rule.SetLogLine(
      Dialogs().AskYesNo(this, QStringLiteral("Log line"),
                         QStringLiteral("Do you want to log the line matching this rule?"), true));
}

void TSettingsForm::EditColor(TRule& rule) {
  const std::string text = ColorToString(rule.Color());
  const QString customColorA = text.starts_with('$') ? Decoded(text.substr(1)) : QString();
  if (const auto chosen = Dialogs().ChooseColor(this, rule.Color(), customColorA))
    rule.SetColor(*chosen);
}

} // namespace ornavel
