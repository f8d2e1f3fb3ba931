#include "FakeDialogsUnit.h"
#include "TestSupport.h"
#include "core/LogUnit.h"
#include "rules/RulesUnit.h"
#include "ui/FindBarUnit.h"
#include "ui/FindUnit.h"
#include "ui/MainFormUnit.h"
#include "ui/QtUserInterfaceThreadUnit.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

const std::vector<std::string> Lines = {
    "ERROR disk full", "all is well", "an error: a.b failed", "axb", "Ärger mit \xff bytes", "(x)",
};

struct TFindCase {
  const char* Name;
  const char* Query;
  bool RegularExpression;
  std::vector<std::size_t> Expected;
};

void PrintTo(const TFindCase& findCase, std::ostream* out) {
  *out << findCase.Name;
}

class Finding : public testing::TestWithParam<TFindCase> {};

TEST_P(Finding, FindsTheRowsThatHoldTheQuery) {
  TLog log;
  for (const std::string& line : Lines)
    log.AddLine(nullptr, line);
  TLogFinder finder(log);
  EXPECT_EQ(finder.Seek(GetParam().Query, GetParam().RegularExpression), "");
  EXPECT_EQ(finder.Matches(), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    PlainAndRegular, Finding,
    testing::Values(TFindCase{"WithoutRegardToCase", "error", false, {0, 2}},
                    TFindCase{"DotIsADot", "a.b", false, {2}},
                    TFindCase{"BracketsAreBrackets", "(x)", false, {5}},
                    TFindCase{"UnicodeCasePastInvalidBytes", "ärger", false, {4}},
                    TFindCase{"Expression", "a.b", true, {2, 3}},
                    TFindCase{"ExpressionAsRulesWriteThem", "^(?i)error", true, {0}},
                    TFindCase{"NothingFindsNothing", "", false, {}}),
    [](const testing::TestParamInfo<TFindCase>& info) { return info.param.Name; });

TEST(Finder, ReportsAnInvalidExpressionFollowsNewLinesAndStartsOverAfterAClear) {
  TLog log;
  log.AddLine(nullptr, "one");
  TLogFinder finder(log);
  EXPECT_NE(finder.Seek("(one", true).find("missing closing parenthesis"), std::string::npos);
  EXPECT_TRUE(finder.Matches().empty());

  EXPECT_EQ(finder.Seek("one", false), "");
  log.AddLine(nullptr, "two");
  log.AddLine(nullptr, "one more");
  finder.Update();
  EXPECT_EQ(finder.Matches(), (std::vector<std::size_t>{0, 2}));
  EXPECT_EQ(finder.Next(2, true), 0U) << "wraps at the end";
  EXPECT_EQ(finder.Next(0, false), 2U) << "wraps at the start";
  EXPECT_EQ(finder.Next(1, true), 2U);
  EXPECT_EQ(finder.LastUpTo(1), 0U);
  EXPECT_EQ(finder.Ordinal(2), 2U);

  log.Clear();
  log.AddLine(nullptr, "not it");
  finder.Update();
  EXPECT_TRUE(finder.Matches().empty());
}

// Matches are named by the log's numbers: those removed at the cap go, the others stay right.
TEST(Finder, ForgetsLinesRemovedAtTheCap) {
  TLog log;
  log.SetMaxLines(1000);
  log.AddLine(nullptr, "needle early");
  TLogFinder finder(log);
  EXPECT_EQ(finder.Seek("needle", false), "");
  EXPECT_EQ(finder.Matches(), (std::vector<std::size_t>{0}));
  for (int line = 0; line < 1500; ++line)
    log.AddLine(nullptr, "hay");
  log.AddLine(nullptr, "needle late");
  finder.Update();
  EXPECT_EQ(finder.Matches(), (std::vector<std::size_t>{1501}));
  EXPECT_EQ(log.FindItem(1501)->Text, "needle late");
}

// The window with its find bar and Ctrl+S, lines posted straight into the log.
class FindAndSave : public testing::Test {
protected:
  FindAndSave() : FPrevious(ReplaceDialogs(std::make_unique<test::TFakeDialogs>())) {
    Boxes = static_cast<test::TFakeDialogs*>(&Dialogs());
    Form = std::make_unique<TMainForm>(TSourceFactory{});
    Form->resize(400, 300);
    Form->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
  }
  ~FindAndSave() override {
    Form.reset();
    TMonitoringDriver::DestroySingleObjects();
    ReplaceDialogs(std::move(FPrevious));
  }

  void Post(const std::string& text) { GetLog().AddLine(nullptr, text); }
  void Key(int key, Qt::KeyboardModifiers modifiers = {}) {
    QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(key), modifiers);
  }
  void Type(const QString& text) { QTest::keyClicks(QApplication::focusWidget(), text); }
  QString Status() const { return Form->FindBar()->Status(); }
  QList<int> Selected() const { return Form->LogList()->SelectedRows(); }

  TQtUserInterfaceThread UiThread;
  test::TFakeDialogs* Boxes = nullptr;
  std::unique_ptr<TMainForm> Form;

private:
  std::unique_ptr<TDialogs> FPrevious;
};

TEST_F(FindAndSave, TheFindBarStepsThroughMatchesBothWaysAndCountsThem) {
  for (int i = 0; i < 300; ++i)
    Post(i % 100 == 7 ? "Needle " + std::to_string(i) : "hay");
  Key(Qt::Key_F, Qt::ControlModifier);
  ASSERT_TRUE(Form->FindBar()->isVisible());
  Type("needle");
  EXPECT_EQ(Status(), "3 of 3") << "the newest match in view";
  EXPECT_EQ(Selected(), QList<int>({208}));
  Key(Qt::Key_Return);
  EXPECT_EQ(Selected(), QList<int>({8})) << "wraps to the first";
  Key(Qt::Key_F3, Qt::ShiftModifier);
  EXPECT_EQ(Selected(), QList<int>({208})) << "and back";
  Key(Qt::Key_Return, Qt::ShiftModifier);
  EXPECT_EQ(Status(), "2 of 3");

  Post("needle again");
  EXPECT_EQ(Status(), "2 of 4") << "new lines are searched as they come";
  const auto bar = Form->FindBar();
  bar->findChild<QToolButton*>("regularExpression")->click(); // a regular expression now
  bar->findChild<QLineEdit*>()->setText("needle (");
  EXPECT_NE(Status().indexOf("missing closing parenthesis"), -1) << Status().toStdString();
  Key(Qt::Key_Escape);
  EXPECT_FALSE(Form->FindBar()->isVisible());
  EXPECT_TRUE(Form->LogList()->hasFocus());
}

// Ctrl+L shows only the rows that match the find text, new ones too, the caption counting shown /
// held; Esc shows every row again with the current row still in view.
TEST_F(FindAndSave, CtrlLShowsOnlyTheMatchingRowsAndEscBringsThemAllBack) {
  for (int i = 0; i < 300; ++i)
    Post((i % 3 == 0 ? "disk error " : "ok ") + std::to_string(i));
  const auto rows = [&] { return Form->LogList()->model()->rowCount(); };
  const auto text = [&](int row) { return Form->LogListGetText(row, MessageColumn); };
  Key(Qt::Key_L, Qt::ControlModifier);
  ASSERT_TRUE(Form->FindBar()->isVisible());
  EXPECT_TRUE(Form->FindBar()->Filter());
  EXPECT_EQ(rows(), 301) << "no text filters nothing out";
  Type("ERROR");
  EXPECT_EQ(rows(), 100);
  EXPECT_EQ(text(0), "disk error 0");
  EXPECT_EQ(Form->windowTitle(), " Ornavel - 100 / 301 item(s)");
  Post("a new error");
  Post("a new ok");
  EXPECT_EQ(rows(), 101);
  EXPECT_EQ(text(100), "a new error");
  EXPECT_EQ(Form->windowTitle(), " Ornavel - 101 / 303 item(s)");
  Form->LogList()->ShowRow(10);
  Key(Qt::Key_Escape);
  EXPECT_FALSE(Form->FindBar()->isVisible());
  EXPECT_EQ(rows(), 303);
  EXPECT_EQ(text(Form->LogList()->CurrentRow()), "disk error 30");
  EXPECT_EQ(Form->windowTitle(), " Ornavel - 303 item(s)");
}

// Del drops lines like the current row's for good, the held ones at once; Shift+Del only those
// from its source; Ctrl+Z, or deleting the rule in the Settings, takes a hide back.
TEST_F(FindAndSave, DelHidesLinesLikeTheCurrentRowAndCtrlZShowsThemAgain) {
  const auto source = test::MakeSourceOf(TMonitorType::mtFile);
  const auto post = [&](const std::string& text, const char* from) {
    GetLog().AddLine(source.get(), text, from);
  };
  for (int i = 1; i <= 30; ++i)
    post(i % 3 == 0 ? "noise (x*2)" : "work " + std::to_string(i), i % 2 ? "/a.log" : "/b.log");
  const auto rows = [&] { return Form->LogList()->model()->rowCount(); };
  const auto text = [&](int row) { return Form->LogListGetText(row, MessageColumn); };
  const auto current = [&] { return text(Form->LogList()->CurrentRow()); };
  QStringList menu;
  for (const QAction* action : Form->PopupMenu()->actions())
    menu << action->text();
  EXPECT_EQ(menu.join('|'),
            "Clear|Stay on top|Alpha blend||Settings...||Exit||Hide lines like this|"
            "Hide lines like this from its source|Undo hide");
  Form->LogList()->setFocus();
  Form->LogList()->ShowRow(3);
  ASSERT_EQ(current(), "noise (x*2)");
  Key(Qt::Key_Delete);
  EXPECT_EQ(rows(), 21);
  EXPECT_EQ(current(), "work 4") << "the row that took its place";
  EXPECT_EQ(Form->windowTitle(), " Ornavel - 21 / 31 item(s)");
  post("noise (x*2)", "/c.log");
  post("noise (x*3)", "/c.log");
  EXPECT_EQ(rows(), 22);
  EXPECT_EQ(text(21), "noise (x*3)");
  TRules saved;
  saved.Open(std::string(std::getenv("XDG_CONFIG_HOME")) + "/Ornavel");
  ASSERT_EQ(saved.Count(), 1u);
  EXPECT_EQ(saved.GetRule(0).RegExp(), "noise \\(x\\*2\\)");
  EXPECT_FALSE(saved.GetRule(0).LogLine());

  post("tick", "/a.log");
  post("tick", "/b.log");
  Form->LogList()->ShowRow(rows() - 2);
  Key(Qt::Key_Delete, Qt::ShiftModifier);
  EXPECT_EQ(text(rows() - 1), "tick") << "from the other source";
  EXPECT_EQ(current(), "tick");
  Key(Qt::Key_L, Qt::ControlModifier);
  Type("tick");
  EXPECT_EQ(rows(), 1) << "the filter shows no hidden row";
  Key(Qt::Key_Escape);
  Form->LogList()->setFocus();
  Key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(rows(), 24);
  EXPECT_EQ(GetRules().Count(), 1u);

  QTimer::singleShot(0, [] {
    GetRules().Delete(0);
    qobject_cast<QDialog*>(QApplication::activeModalWidget())->reject();
  });
  Form->ConfigActionExecute();
  EXPECT_EQ(rows(), 34);
  EXPECT_EQ(Form->windowTitle(), " Ornavel - 34 item(s)");
  std::filesystem::remove(std::string(std::getenv("XDG_CONFIG_HOME")) + "/Ornavel/Rules.xml");
}

TEST_F(FindAndSave, SavesTheHeldLinesOrTheSelectedRowsAsTheyAre) {
  const test::TTemporaryFolder folder;
  const std::string path = folder.File("saved.log");
  Post("b\xe4r <b>"); // not UTF-8: saved as the bytes that came
  Post("second");
  Boxes->Files.push_back(QString::fromStdString(path));
  Form->LogList()->setFocus();
  Key(Qt::Key_S, Qt::ControlModifier);
  const std::string saved = test::ReadFile(path);
  EXPECT_NE(saved.find("\tStarting up..\n"), std::string::npos);
  EXPECT_NE(saved.find("\tb\xe4r <b>\n"), std::string::npos);
  EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 3);
  EXPECT_EQ(saved.substr(4, 1), "-") << "the time in the date format in use";

  Form->LogList()->selectRow(1);
  Key(Qt::Key_Down, Qt::ShiftModifier);
  Boxes->Files.push_back(QString::fromStdString(path));
  Key(Qt::Key_S, Qt::ControlModifier);
  const std::string selected = test::ReadFile(path);
  EXPECT_EQ(std::count(selected.begin(), selected.end(), '\n'), 2);
  EXPECT_EQ(selected.find("Starting up.."), std::string::npos);
}

} // namespace
} // namespace ornavel
