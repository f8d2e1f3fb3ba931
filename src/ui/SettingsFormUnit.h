#pragma once

#include "core/SourceKindUnit.h"

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTabWidget;
class QToolButton;
class QWidget;

namespace ornavel {

class TMainConfig;
class TMarkupLabel;
class TRule;
class TRules;

// The settings dialog: sources, file list and the rule editor. It works on the live settings
// and rules; OK and Apply write them to disk. Made anew for every opening.
class TSettingsForm : public QDialog {
  Q_OBJECT

public:
  // The switches of kinds that are not available stay, and say so.
  explicit TSettingsForm(QWidget* owner, TMonitorTypes available = TMonitorTypes::All());

  // OK runs FormClose first; when that fails the error is shown and the dialog stays open.
  void done(int result) override;

  // General and Files tabs.
  void FormCreate();
  void EnableApplyButton();
  void AddFilesButtonClick();
  void DeleteFilesButtonClick();
  void FileNameEdited(QListWidgetItem* item);
  // Raises when a file cannot be written; Apply then stays enabled.
  void ApplyButtonClick();
  void FormClose(int result);

  // Rules tab.
  void RulesCheckListBoxClick();
  void RulesCheckListBoxClickCheck(int row);
  void AddRuleButtonClick();
  void DeleteRuleButtonClick();
  void MoveUpSpeedButtonClick();
  void MoveDownSpeedButtonClick();
  void RuleLinkLabelLinkClick(const QString& param, const QString& text);
  void ShowSelectedRule();
  void AskMonitorType(TRule& rule, const TSourceKind& kind);

  const std::string& LastFile() const { return FLastFile; }
  int SelectedRule() const { return FSelectedRule; }

private:
  // A check box of the General tab and the setting it shows.
  struct TSettingBox {
    const TSourceSetting* Setting;
    QCheckBox* Box;
  };

  QWidget* MakeGeneralTab(TMonitorTypes available);
  QWidget* MakeFilesTab();
  QWidget* MakeRulesTab();
  QWidget* MakeBottomPanel();
  void SetTabOrders();
  void FillFilesList();
  void FillRulesList();
  void AddRuleRow(TRule& rule);
  TRule& RuleOfRow(int row) const;
  void MoveSelectedRule(int offset);
  void EditName(TRule& rule, const QString& text);
  void EditActive(TRule& rule);
  void EditMonitorTypes(TRule& rule);
  void EditPattern(TRule& rule);
  void EditSource(TRule& rule);
  void EditLogLine(TRule& rule);
  void EditAlert(TRule& rule);
  void EditColor(TRule& rule);
  // Runs work; a failure is shown in an error box, with Apply enabled. Answers whether it ran.
  bool ReportingFailure(const std::function<void()>& work);
  int Scaled(int pixels) const;

  TMainConfig* FConfig = nullptr;
  TRules* FRules = nullptr;
  std::string FLastFile;
  int FSelectedRule = -1;

  QTabWidget* SettingsPageControl = nullptr;
  // The kinds' switches (MonitorSysLogCheckBox, ...), then their options (IncludePeerIPCheckBox,
  // ...).
  std::vector<TSettingBox> FSettingBoxes;
  QListWidget* MonitorFilenamesListBox = nullptr;
  QPushButton* AddFilesButton = nullptr;
  QPushButton* DeleteFilesButton = nullptr;
  QListWidget* RulesCheckListBox = nullptr;
  QToolButton* MoveUpSpeedButton = nullptr;
  QToolButton* MoveDownSpeedButton = nullptr;
  TMarkupLabel* RuleLinkLabel = nullptr;
  QPushButton* AddRuleButton = nullptr;
  QPushButton* DeleteRuleButton = nullptr;
  QPushButton* OKButton = nullptr;
  QPushButton* CancelButton = nullptr;
  QPushButton* ApplyButton = nullptr;
};

} // namespace ornavel
