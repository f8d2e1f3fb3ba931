// Each test runs in a process of its own (ctest), so "fresh" means a configuration folder that
// no other test has written to.
#include "FakeDialogsUnit.h"
#include "TestSupport.h"
#include "config/AppDataUnit.h"
#include "config/ConfigUnit.h"
#include "rules/RulesUnit.h"
#include "ui/MarkupLabelUnit.h"
#include "ui/SettingsFormUnit.h"

#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

using test::ReadFile;

std::string ConfigFile() {
  return IncludePath(GetAppDataFolder(), "Config.xml");
}
std::string RulesFile() {
  return IncludePath(GetAppDataFolder(), "Rules.xml");
}

template <class T = QWidget>
T& Child(const QWidget& form, const char* name) {
  T* child = form.findChild<T*>(QString::fromLatin1(name));
  if (child == nullptr)
    throw std::runtime_error(std::string("no component ") + name);
  return *child;
}

class SettingsFormTest : public testing::Test {
protected:
  void SetUp() override {
    TStringList& files = GetConfig().MonitorFilenames();
    while (files.Count() > 0)
      files.Delete(0);
  }

  void SetFiles(std::initializer_list<std::string> names) {
    for (const std::string& name : names)
      GetConfig().MonitorFilenames().Add(name);
  }
  static std::vector<std::string> Settings() { return GetConfig().MonitorFilenames().Items(); }
  static std::vector<std::string> Shown(const TSettingsForm& form) {
    std::vector<std::string> shown;
    const auto& list = Child<QListWidget>(form, "MonitorFilenamesListBox");
    for (int row = 0; row < list.count(); ++row)
      shown.push_back(list.item(row)->text().toStdString());
    return shown;
  }
  static void SelectFiles(const TSettingsForm& form, std::initializer_list<int> rows) {
    for (int row : rows)
      Child<QListWidget>(form, "MonitorFilenamesListBox").item(row)->setSelected(true);
  }
  static bool ApplyEnabled(const TSettingsForm& form) {
    return Child<QPushButton>(form, "ApplyButton").isEnabled();
  }

  test::TFakeDialogsInPlace Fake;
};

TEST_F(SettingsFormTest, FreshInstallationOpensOnGeneralWithOnlyThePrefixBoxesTicked) {
  TSettingsForm form(nullptr);
  const auto& pages = Child<QTabWidget>(form, "SettingsPageControl");
  EXPECT_EQ(form.windowTitle(), "Settings");
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  EXPECT_EQ(pages.currentIndex(), 0);
  ASSERT_EQ(pages.count(), 3);
  EXPECT_EQ(pages.tabText(0), "General");
  EXPECT_EQ(pages.tabText(1), "Files");
  EXPECT_EQ(pages.tabText(2), "Rules");
  EXPECT_FALSE(Child<QCheckBox>(form, "MonitorSysLogCheckBox").isChecked());
  EXPECT_TRUE(Child<QCheckBox>(form, "IncludePeerIPCheckBox").isChecked());
  EXPECT_FALSE(Child<QCheckBox>(form, "MonitorEventLogCheckBox").isChecked());
  EXPECT_FALSE(Child<QCheckBox>(form, "MonitorOutputDebugStringCheckBox").isChecked());
  EXPECT_TRUE(Child<QCheckBox>(form, "IncludePIDCheckBox").isChecked());
  EXPECT_TRUE(Child<QCheckBox>(form, "MonitorEventLogCheckBox").toolTip().isEmpty());
  EXPECT_TRUE(Shown(form).empty());
  EXPECT_TRUE(form.LastFile().empty());
  EXPECT_FALSE(ApplyEnabled(form));
  EXPECT_TRUE(Fake->Boxes.empty());
}

TEST_F(SettingsFormTest, SwitchesOfSourcesThisBuildLacksStayAndSaySo) {
  TSettingsForm form(nullptr, {mtFile, mtSyslog});
  EXPECT_TRUE(Child<QCheckBox>(form, "MonitorSysLogCheckBox").toolTip().isEmpty());
  for (const char* name : {"MonitorEventLogCheckBox", "MonitorOutputDebugStringCheckBox"}) {
    EXPECT_TRUE(Child<QCheckBox>(form, name).isEnabled());
    EXPECT_EQ(Child<QCheckBox>(form, name).toolTip(), "Not available in this build");
  }
}

TEST_F(SettingsFormTest, KeyboardOrderDiffersFromTheScreenOrderWhereItShould) {
  TSettingsForm form(nullptr);
  const std::vector<std::string> expected{"MonitorSysLogCheckBox",
                                          "MonitorEventLogCheckBox",
                                          "MonitorOutputDebugStringCheckBox",
                                          "IncludePeerIPCheckBox",
                                          "IncludePIDCheckBox",
                                          "RulesCheckListBox",
                                          "AddRuleButton",
                                          "DeleteRuleButton",
                                          "RuleLinkLabel",
                                          "OKButton",
                                          "ApplyButton",
                                          "CancelButton"};
  std::vector<std::string> chain;
  for (QWidget* widget = form.nextInFocusChain(); widget != &form;
       widget = widget->nextInFocusChain()) {
    const std::string name = widget->objectName().toStdString();
    if (std::ranges::find(expected, name) != expected.end())
      chain.push_back(name);
  }
  EXPECT_EQ(chain, expected);
  EXPECT_TRUE(Child<QPushButton>(form, "OKButton").isDefault());
  EXPECT_EQ(Child<QToolButton>(form, "MoveUpSpeedButton").toolTip(), "Move up");
  EXPECT_EQ(Child<QToolButton>(form, "MoveDownSpeedButton").toolTip(), "Move down");
}

TEST_F(SettingsFormTest, OkWithoutChangesWritesAllFiveSwitchesAndBothFiles) {
  auto rule = std::make_unique<TRule>();
  rule->SetName("Made elsewhere");
  GetRules().Add(std::move(rule));
  ASSERT_EQ(ReadFile(ConfigFile()).find("MonitorSyslog"), std::string::npos);
  TSettingsForm form(nullptr);
  form.done(QDialog::Accepted);
  EXPECT_EQ(form.result(), QDialog::Accepted);
  const std::string config = ReadFile(ConfigFile());
  for (const char* element :
       {"<MonitorSyslog value=\"False\"/>", "<MonitorEventLog value=\"False\"/>",
        "<OutputDebugString value=\"False\"/>", "<IncludePeerIP value=\"True\"/>",
        "<IncludePID value=\"True\"/>"})
    EXPECT_NE(config.find(element), std::string::npos) << element << " in\n" << config;
  EXPECT_NE(ReadFile(RulesFile()).find("name=\"Made elsewhere\""), std::string::npos);
  EXPECT_FALSE(ApplyEnabled(form));
  EXPECT_TRUE(Fake->Boxes.empty());
}

TEST_F(SettingsFormTest, OnlyTheThreeSourceSwitchesEnableApply) {
  const std::pair<const char*, bool> boxes[] = {{"MonitorSysLogCheckBox", true},
                                                {"IncludePeerIPCheckBox", false},
                                                {"MonitorEventLogCheckBox", true},
                                                {"MonitorOutputDebugStringCheckBox", true},
                                                {"IncludePIDCheckBox", false}};
  for (const auto& [name, enables] : boxes) {
    TSettingsForm form(nullptr);
    Child<QCheckBox>(form, name).click();
    EXPECT_EQ(ApplyEnabled(form), enables) << name;
  }
  // A prefix box alone leaves Apply off, yet OK stores it, and it is live at once.
  TSettingsForm form(nullptr);
  Child<QCheckBox>(form, "IncludePIDCheckBox").click();
  Child<QPushButton>(form, "OKButton").click();
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_FALSE(GetConfig().IncludePID());
  EXPECT_NE(ReadFile(ConfigFile()).find("<IncludePID value=\"False\"/>"), std::string::npos);
}

TEST_F(SettingsFormTest, ApplySavesAndDisablesItselfWhileCancelWritesNothing) {
  TSettingsForm form(nullptr);
  Child<QCheckBox>(form, "MonitorSysLogCheckBox").click();
  Child<QPushButton>(form, "ApplyButton").click();
  EXPECT_FALSE(ApplyEnabled(form));
  EXPECT_NE(ReadFile(ConfigFile()).find("<MonitorSyslog value=\"True\"/>"), std::string::npos);
  Child<QCheckBox>(form, "MonitorSysLogCheckBox").click();
  Child<QPushButton>(form, "CancelButton").click();
  EXPECT_EQ(form.result(), QDialog::Rejected);
  EXPECT_TRUE(GetConfig().MonitorSyslog());
  EXPECT_NE(ReadFile(ConfigFile()).find("<MonitorSyslog value=\"True\"/>"), std::string::npos);
}

TEST_F(SettingsFormTest, AddStartsInTheLastEntrysFolderAndCancellingAddsNothing) {
  TSettingsForm form(nullptr);
  Fake->Files = {std::nullopt, QString("/var/log/app/one.log"), std::nullopt,
                 QString("/var/log/app/one.log")};
  form.AddFilesButtonClick();
  EXPECT_TRUE(ApplyEnabled(form));
  EXPECT_TRUE(Settings().empty());
  form.AddFilesButtonClick();
  form.AddFilesButtonClick();
  EXPECT_EQ(Shown(form), std::vector<std::string>{"/var/log/app/one.log"});
  form.AddFilesButtonClick(); // the same path again shows twice
  ASSERT_EQ(Fake->Boxes.size(), 4U);
  EXPECT_EQ(Fake->Boxes[0].Preset, "");
  EXPECT_EQ(Fake->Boxes[1].Preset, "");
  EXPECT_EQ(Fake->Boxes[2].Preset, "/var/log/app/");
  EXPECT_EQ(form.LastFile(), "/var/log/app/one.log");
  const std::vector<std::string> twice{"/var/log/app/one.log", "/var/log/app/one.log"};
  EXPECT_EQ(Shown(form), twice);
  // Cancel leaves the additions in the settings, to be followed after the next restart.
  form.done(QDialog::Rejected);
  EXPECT_EQ(Settings(), twice);
}

TEST_F(SettingsFormTest, DeletingTwoOfThreeRemovesExactlyThoseFromListAndSettings) {
  SetFiles({"/a.log", "/b.log", "/c.log"});
  TSettingsForm form(nullptr);
  form.DeleteFilesButtonClick(); // nothing selected: nothing deleted, Apply on
  EXPECT_TRUE(ApplyEnabled(form));
  EXPECT_EQ(Settings().size(), 3U);
  SelectFiles(form, {0, 2});
  form.DeleteFilesButtonClick();
  EXPECT_EQ(Settings(), std::vector<std::string>{"/b.log"});
  EXPECT_EQ(Shown(form), std::vector<std::string>{"/b.log"});
}

// A name typed over an entry, such as a pattern, replaces that entry; one emptied is put back.
TEST_F(SettingsFormTest, EditingANameReplacesItsEntry) {
  SetFiles({"/a.log", "/b.log"});
  TSettingsForm form(nullptr);
  QListWidgetItem& item = *Child<QListWidget>(form, "MonitorFilenamesListBox").item(1);
  EXPECT_TRUE(item.flags().testFlag(Qt::ItemIsEditable));
  item.setText(" /var/log/nginx/*.log ");
  EXPECT_EQ(Settings(), (std::vector<std::string>{"/a.log", "/var/log/nginx/*.log"}));
  EXPECT_TRUE(ApplyEnabled(form));
  item.setText("");
  EXPECT_EQ(Settings(), (std::vector<std::string>{"/a.log", "/var/log/nginx/*.log"}));
  EXPECT_EQ(Shown(form), (std::vector<std::string>{"/a.log", "/var/log/nginx/*.log"}));
}

// File names that differ in letter case name different files.
TEST_F(SettingsFormTest, DeletingRemovesTheFirstEntryOfExactlyThatName) {
  SetFiles({"/tmp/Log.txt", "/tmp/log.txt", "/tmp/x.txt", "/tmp/x.txt"});
  TSettingsForm form(nullptr);
  SelectFiles(form, {1, 2, 3});
  form.DeleteFilesButtonClick();
  EXPECT_EQ(Settings(), std::vector<std::string>{"/tmp/Log.txt"});
  EXPECT_EQ(Shown(form), std::vector<std::string>{"/tmp/Log.txt"});
}

TEST_F(SettingsFormTest, ASelectedItemWithoutAnEntryIsSkipped) {
  SetFiles({"/gone.log", "/kept.log", "/other.log"});
  TSettingsForm form(nullptr);
  GetConfig().MonitorFilenames().Delete(0);
  SelectFiles(form, {0, 2});
  EXPECT_NO_THROW(form.DeleteFilesButtonClick());
  EXPECT_EQ(Settings(), std::vector<std::string>{"/kept.log"});
  EXPECT_EQ(Shown(form), std::vector<std::string>{"/kept.log"});
}

TEST_F(SettingsFormTest, AFailedSaveShowsTheErrorAndKeepsTheDialogOpen) {
  TSettingsForm form(nullptr);
  form.show();
  const std::string before = ReadFile(ConfigFile());
  {
    test::TFullDisk full;
    Child<QPushButton>(form, "OKButton").click(); // Apply was off: nothing changed
    ASSERT_TRUE(form.isVisible());
    EXPECT_NE(form.result(), QDialog::Accepted);
    EXPECT_TRUE(ApplyEnabled(form));
    Child<QPushButton>(form, "ApplyButton").click();
    EXPECT_TRUE(ApplyEnabled(form));
  }
  ASSERT_EQ(Fake->Boxes.size(), 2U);
  EXPECT_EQ(Fake->Boxes[0].Kind, "error");
  EXPECT_FALSE(Fake->Boxes[0].Text.isEmpty());
  EXPECT_EQ(ReadFile(ConfigFile()), before);
  Child<QPushButton>(form, "OKButton").click();
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_NE(ReadFile(ConfigFile()), before);
  EXPECT_NE(ReadFile(ConfigFile()).find("<MonitorSyslog value="), std::string::npos);
}

} // namespace
} // namespace ornavel
