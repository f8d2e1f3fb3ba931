#include "TestSupport.h"
#include "core/FormatUnit.h"
#include "core/LogUnit.h"
#include "driver/MonitoringDriverUnit.h"
#include "ui/DialogsUnit.h"
#include "ui/FindBarUnit.h"
#include "ui/MainFormUnit.h"
#include "ui/PaletteUnit.h"
#include "ui/QtUserInterfaceThreadUnit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QHeaderView>
#include <QHelpEvent>
#include <QImage>
#include <QItemSelectionModel>
#include <QMenu>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>
#include <QWindow>
#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

using namespace std::chrono_literals;

// Records the error boxes instead of showing them.
class TRecordedBoxes final : public TDialogs {
public:
  explicit TRecordedBoxes(std::vector<QString>& errors) : FErrors(errors) {}
  void ShowError(QWidget*, const QString& message) override { FErrors.push_back(message); }
  bool AskYesNo(QWidget*, const QString&, const QString&, bool defaultYes) override {
    return defaultYes;
  }
  QString InputText(QWidget*, const QString&, const QString&, const QString& preset) override {
    return preset;
  }
  std::optional<TColor> ChooseColor(QWidget*, TColor, const QString&) override { return {}; }
  std::optional<QString> OpenFile(QWidget*, const QString&) override { return {}; }
  std::optional<QString> SaveFile(QWidget*, const QString&) override { return SaveAnswer; }
  std::optional<QString> SaveAnswer;

private:
  std::vector<QString>& FErrors;
};

// A source that posts lines as fast as it can, handing work to the window's thread between
// them, until it is told to stop.
class TBusySource final : public TSourceThread {
public:
  TBusySource() : TSourceThread(GetLog()) {}
  TMonitorType MonitorType() const override { return TMonitorType::mtFile; }
  std::atomic<bool> Running{false};

protected:
  void Execute() override {
    Running = true;
    for (int line = 0; !Terminated(); ++line) {
      GetLog().AddLine(this, Format("busy line %d", line));
      if (line % 64 == 0)
        Synchronize([] {});
    }
  }
};

// A file source that never runs: lines posted in its name pass the file rules.
class TFileSource final : public TSourceThread {
public:
  TFileSource() : TSourceThread(GetLog()) {}
  TMonitorType MonitorType() const override { return TMonitorType::mtFile; }

protected:
  void Execute() override {}
};

std::string ConfigFolder() {
  return std::string(std::getenv("XDG_CONFIG_HOME")) + "/Ornavel";
}

void WriteSettings(const std::string& name, const std::string& body) {
  std::filesystem::create_directories(ConfigFolder());
  test::WriteFile(ConfigFolder() + "/" + name, "<?xml version=\"1.0\"?>\r\n" + body);
}

class MainForm : public testing::Test {
protected:
  MainForm() : FPreviousBoxes(ReplaceDialogs(std::make_unique<TRecordedBoxes>(Errors))) {}

  ~MainForm() override {
    Form.reset();
    TMonitoringDriver::DestroySingleObjects();
    ReplaceDialogs(std::move(FPreviousBoxes));
  }

  void Create(TSourceFactory factory = {}) {
    Form = std::make_unique<TMainForm>(std::move(factory));
  }

  void Show() {
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
  }

  bool Serve(const std::function<bool()>& done) {
    return UiThread.ServeUntil(done, std::chrono::steady_clock::now() + test::Patience);
  }

  // Lets queued updates and paint requests run.
  void Settle() {
    UiThread.ServeUntil([] { return false; }, std::chrono::steady_clock::now() + 20ms);
    QApplication::processEvents();
  }

  int Rows() const { return Form->LogList()->model()->rowCount(); }

  // The tip over a cell, as the plain text one reads; empty when none shows.
  QString Hover(int row, int column = MessageColumn) const {
    TLogListView* list = Form->LogList();
    const QPoint where(list->horizontalHeader()->sectionViewportPosition(column) + 5,
                       row * list->RowHeight() - list->verticalScrollBar()->value() + 2);
    QHelpEvent help(QEvent::ToolTip, where, list->viewport()->mapToGlobal(where));
    QApplication::sendEvent(list->viewport(), &help);
    QTextDocument shown;
    shown.setHtml(QToolTip::text());
    return QToolTip::isVisible() ? shown.toPlainText().remove(QChar(0x200B)) : QString();
  }
  QString Text(int row, int column = 1) const { return Form->LogListGetText(row, column); }

  TQtUserInterfaceThread UiThread;
  std::vector<QString> Errors;
  std::unique_ptr<TMainForm> Form;

private:
  std::unique_ptr<TDialogs> FPreviousBoxes;
};

TEST_F(MainForm, StartsWithTheFirstLineInCaptionAndList) {
  Create();
  EXPECT_EQ(Form->windowTitle(), " Ornavel - 1 item(s)");
  ASSERT_EQ(Rows(), 1);
  EXPECT_EQ(Text(0), "Starting up..");
  EXPECT_TRUE(Errors.empty());
  EXPECT_EQ(Form->windowType(), Qt::Window);
}

TEST_F(MainForm, AMissingFileIsShownInTheErrorBoxAndTheWindowOpensAnyway) {
  const test::TTemporaryFolder folder;
  const std::string a = folder.File("a.log"), b = folder.File("b.log"), c = folder.File("c.log");
  test::WriteFile(a, "");
  test::WriteFile(c, "");
  WriteSettings("Config.xml", "<Config><MonitorFilenames><Filename>" + a + "</Filename><Filename>" +
                                  b + "</Filename><Filename>" + c +
                                  "</Filename></MonitorFilenames></Config>\r\n");
  std::vector<std::string> started;
  TSourceFactory factory;
  factory.SetMaker(mtFile, [&](const std::string& name) -> std::shared_ptr<TSourceThread> {
    if (!std::filesystem::exists(name))
      throw std::runtime_error(Format("File %s not found!", name));
    started.push_back(name);
    return TThread::Create<TFileSource>(true);
  });
  Create(factory);
  ASSERT_EQ(Errors.size(), 1U);
  EXPECT_EQ(Errors[0].toStdString(), Format("File %s not found!", b));
  EXPECT_EQ(started, std::vector<std::string>{a});
  ASSERT_EQ(Rows(), 3);
  EXPECT_EQ(Text(2).toStdString(), "Monitoring " + b);
  Show();
  EXPECT_TRUE(Form->isVisible());
}

TEST_F(MainForm, FollowsNewLinesOnlyWhileTheViewIsAtTheBottom) {
  Create();
  Show();
  for (int i = 0; i < 2000; ++i)
    GetLog().AddLine(nullptr, Format("line %d", i));
  Settle();
  QScrollBar* scroll = Form->LogList()->verticalScrollBar();
  ASSERT_GT(scroll->maximum(), 0);
  EXPECT_EQ(scroll->value(), scroll->maximum());

  // Scrolled up by more than the window's height: the reader stays where he is.
  const int readingAt = scroll->maximum() - Form->frameGeometry().height() - 40;
  scroll->setValue(readingAt);
  GetLog().AddLine(nullptr, "while reading");
  Settle();
  EXPECT_EQ(scroll->value(), readingAt);
  EXPECT_EQ(Rows(), 2002);

  // Scrolled up by less than that: pulled down to the new line.
  scroll->setValue(scroll->maximum() - Form->frameGeometry().height() / 2);
  GetLog().AddLine(nullptr, "near the end");
  Settle();
  EXPECT_EQ(scroll->value(), scroll->maximum());
}

// The first burst that overflows the list brings up the scroll bars, which shrink the view
// after it has followed the end: the newest line must still be in view.
TEST_F(MainForm, TheNewestLineStaysInViewWhenTheListFirstOverflows) {
  Create();
  Show();
  TLogListView* list = Form->LogList();
  const auto lastRowInView = [&] {
    const int bottom = Rows() * list->RowHeight() - list->verticalScrollBar()->value();
    return bottom <= list->viewport()->height() && bottom > 0;
  };
  const int fits = list->viewport()->height() / list->RowHeight();
  for (int burst = 0; burst < 2; ++burst) {
    // From a source's thread, so that the burst comes in as one update.
    std::thread([&] {
      for (int i = 0; i < fits + 3; ++i)
        GetLog().AddLine(nullptr, Format("burst %d line %d", burst, i));
    }).join();
    Settle();
    EXPECT_TRUE(list->horizontalScrollBar()->isVisible() || list->verticalScrollBar()->isVisible());
    EXPECT_TRUE(lastRowInView()) << "burst " << burst;
  }
}

// With the log at its cap, the oldest rows go: a reader keeps his lines, a follower the end, a
// selection of removed rows disappears, and the caption counts what is held.
TEST_F(MainForm, RowsRemovedAtTheCapKeepTheReadersPlaceAndTheRestOfTheSelection) {
  WriteSettings("Config.xml", "<Config>\r\n<MaxLines value=\"1000\"/>\r\n</Config>\r\n");
  Create();
  Show();
  for (int i = 0; i < 2500; ++i)
    GetLog().AddLine(nullptr, Format("line %d", i));
  Settle();
  TLogListView* list = Form->LogList();
  QScrollBar* scroll = list->verticalScrollBar();
  ASSERT_LE(Rows(), 1000);
  EXPECT_EQ(static_cast<std::size_t>(Rows()), GetLog().Count());
  EXPECT_EQ(Form->windowTitle(), QString(" Ornavel - %1 item(s)").arg(Rows()));
  EXPECT_EQ(Text(Rows() - 1), "line 2499");
  EXPECT_EQ(scroll->value(), scroll->maximum());

  list->selectRow(0);
  list->selectionModel()->select(list->model()->index(500, 0),
                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
  const QString selectedLater = Text(500);
  scroll->setValue(400 * list->RowHeight());
  const QString readingTop = Text(list->RowAt(0));
  for (int i = 0; i < 300; ++i)
    GetLog().AddLine(nullptr, Format("more %d", i));
  Settle();
  ASSERT_LE(Rows(), 1000);
  EXPECT_EQ(Text(Rows() - 1), "more 299");
  EXPECT_EQ(Text(list->RowAt(0)), readingTop);
  const QList<int> selected = list->SelectedRows();
  ASSERT_EQ(selected.size(), 1);
  EXPECT_EQ(Text(selected[0]), selectedLater);
  EXPECT_EQ(Form->windowTitle(), QString(" Ornavel - %1 item(s)").arg(Rows()));
}

// A 1 MiB line: the cell and the tip get a bounded prefix, the tip only when the text is cut
// off; Ctrl+C copies it whole.
TEST_F(MainForm, LongLinesAreDrawnAndTippedByAPrefixAndCopiedWhole) {
  Create();
  Show();
  const std::string longLine = "start " + std::string(1 << 20, 'x');
  GetLog().AddLine(nullptr, longLine);
  Settle();
  const TLogModel* model = Form->LogList()->model();
  const QString shown = model->index(1, 1).data(Qt::DisplayRole).toString();
  EXPECT_TRUE(shown.startsWith("start xxx"));
  EXPECT_LE(shown.size(), ShownTextLimit);
  EXPECT_EQ(Hover(0), "") << "Starting up.. fits";
  const QString tip = Hover(1);
  EXPECT_TRUE(tip.startsWith("start xxx"));
  EXPECT_LE(tip.size(), ShownTextLimit);
  // A line without blanks too wraps within the screen, so that all of the prefix can be read.
  const QWidget* label = nullptr;
  for (const QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == "qtooltip_label" && widget->isVisible())
      label = widget;
  }
  ASSERT_NE(label, nullptr);
  EXPECT_LE(label->width(), label->screen()->availableGeometry().width());
  EXPECT_TRUE(label->screen()->availableGeometry().contains(label->geometry()))
      << label->geometry().x() << "," << label->geometry().y() << " " << label->width() << "x"
      << label->height();

  Form->LogList()->selectRow(1);
  Form->LogList()->setFocus();
  QTest::keyClick(Form->LogList(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text().size(),
            Text(1, 0).size() + 1 + static_cast<qsizetype>(longLine.size()) + 1);
}

// Why a row is here: the tip over a source's row, and the find bar's note on the current row, name
// the rule that kept it, or say that none matched; Ornavel's own rows have no such note.
TEST_F(MainForm, TheTipAndTheFindBarSayWhichRuleKeptARow) {
  WriteSettings("Rules.xml", R"(<Rules><Rule name="Errors" color="clRed" regexp="error" )"
                             R"(active="True" logline="True" monitortypes="mtFile"/></Rules>)");
  Create();
  Show();
  const auto source = TThread::Create<TFileSource>(true);
  GetLog().AddLine(source.get(), "disk error");
  GetLog().AddLine(source.get(), "disk ok");
  ASSERT_TRUE(Serve([&] { return Rows() > 2 && Text(Rows() - 1) == "disk ok"; }));
  const int ok = Rows() - 1, error = ok - 1;
  EXPECT_EQ(Hover(0), "") << "Starting up.. is Ornavel's own";
  EXPECT_EQ(Hover(error), "kept by rule 1 'Errors'");
  EXPECT_EQ(Hover(ok, TimeColumn), "no rule matched");
  QTest::keyClick(Form->LogList(), Qt::Key_F, Qt::ControlModifier);
  Form->LogList()->ShowRow(error);
  EXPECT_EQ(Form->FindBar()->Note(), "kept by rule 1 'Errors'");
  Form->LogList()->ShowRow(ok);
  EXPECT_EQ(Form->FindBar()->Note(), "no rule matched");
}

// Lines from four threads while the window's thread is busy elsewhere come in as one update.
TEST_F(MainForm, UpdatesFromSourceThreadsAreCoalesced) {
  Create();
  int updates = 0;
  QObject::connect(Form->LogList()->model(), &QAbstractItemModel::rowsInserted,
                   [&updates] { ++updates; });
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t)
    posters.emplace_back([] {
      const TFileSource* none = nullptr;
      for (int i = 0; i < 5000; ++i)
        GetLog().AddLine(none, "from a thread");
    });
  for (auto& poster : posters)
    poster.join();
  ASSERT_TRUE(Serve([&] { return Rows() == 20001; }));
  EXPECT_EQ(updates, 1);
  EXPECT_EQ(Form->windowTitle(), " Ornavel - 20001 item(s)");
}

struct TPaintCase {
  const char* Name;
  TLogLevel Level;
  const char* Text; // "colored" and "plain" lines come from a file and meet a rule
  int Column;
  bool Selected;
  bool Focused;
  TCellPaint Expected;
};

class MainFormPaint : public MainForm, public testing::WithParamInterface<TPaintCase> {};

TEST_P(MainFormPaint, ChoosesColourAndWeight) {
  WriteSettings("Rules.xml",
                "<Rules>\r\n"
                "<Rule name=\"c\" color=\"clBlue\" regexp=\"colored\" active=\"True\" "
                "logline=\"True\" monitortypes=\"mtFile\"/>\r\n"
                "<Rule name=\"p\" color=\"clWindowText\" regexp=\"plain\" active=\"True\" "
                "logline=\"True\" monitortypes=\"mtFile\"/>\r\n</Rules>\r\n");
  Create();
  const TPaintCase& paint = GetParam();
  const auto source = TThread::Create<TFileSource>(true);
  GetLog().Add(source.get(), paint.Level, paint.Text);
  ASSERT_EQ(Rows(), 2);
  EXPECT_EQ(Form->LogListPaintText(1, paint.Column, paint.Selected, paint.Focused), paint.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MainFormPaint,
    testing::Values(
        TPaintCase{
            "WarningMessageRedBold", TLogLevel::Warning, "w", 1, false, false, {clRed, true}},
        TPaintCase{"WarningDateWindowText",
                   TLogLevel::Warning,
                   "w",
                   0,
                   false,
                   false,
                   {clWindowText, false}},
        TPaintCase{"ExceptionRedBold", TLogLevel::Exception, "e", 1, false, true, {clRed, true}},
        TPaintCase{
            "LoadFailureRedBold", TLogLevel::LoadFailure, "f", 1, false, false, {clRed, true}},
        TPaintCase{
            "DebugLevelNotRed", TLogLevel::Debug, "d", 1, false, false, {clWindowText, false}},
        TPaintCase{"RuleColourBold", TLogLevel::Notice, "colored", 1, false, false, {clBlue, true}},
        TPaintCase{"RuleColourNotInDate",
                   TLogLevel::Notice,
                   "colored",
                   0,
                   false,
                   false,
                   {clWindowText, false}},
        TPaintCase{"RuleWindowTextNotBold",
                   TLogLevel::Notice,
                   "plain",
                   1,
                   false,
                   false,
                   {clWindowText, false}},
        TPaintCase{"SelectedFocusedMessage",
                   TLogLevel::Warning,
                   "colored",
                   1,
                   true,
                   true,
                   {clHighlightText, false}},
        TPaintCase{"SelectedFocusedDate",
                   TLogLevel::Warning,
                   "w",
                   0,
                   true,
                   true,
                   {clHighlightText, false}},
        TPaintCase{"SelectedUnfocusedWarningInItemColour",
                   TLogLevel::Warning,
                   "w",
                   1,
                   true,
                   false,
                   {clWindowText, false}},
        TPaintCase{"SelectedUnfocusedRuleColour",
                   TLogLevel::Warning,
                   "colored",
                   1,
                   true,
                   false,
                   {clBlue, true}}),
    [](const testing::TestParamInfo<TPaintCase>& info) { return std::string(info.param.Name); });

std::set<QRgb> ColoursIn(const QImage& image) {
  std::set<QRgb> colours;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      colours.insert(image.pixel(x, y) & 0xFFFFFF);
  return colours;
}

// What the paint function chooses must reach the screen, and a selection shows only while the
// list has the focus.
TEST_F(MainForm, DrawsTheChosenColoursAndTheSelectionOnlyWhileFocused) {
  Create();
  Show();
  GetLog().Add(nullptr, TLogLevel::Warning, "WWWWWWWW warning line");
  Settle();
  const QRgb red = qRgb(255, 0, 0) & 0xFFFFFF;
  const QRgb highlight = QApplication::palette().color(QPalette::Highlight).rgb() & 0xFFFFFF;
  EXPECT_TRUE(ColoursIn(Form->LogList()->viewport()->grab().toImage()).contains(red));

  Form->LogList()->selectRow(1);
  Form->LogList()->clearFocus();
  Settle();
  EXPECT_FALSE(ColoursIn(Form->LogList()->viewport()->grab().toImage()).contains(highlight));
  Form->activateWindow();
  Form->LogList()->setFocus();
  Settle();
  ASSERT_TRUE(Form->LogList()->hasFocus());
  const auto focusedColours = ColoursIn(Form->LogList()->viewport()->grab().toImage());
  EXPECT_TRUE(focusedColours.contains(highlight));
  EXPECT_FALSE(focusedColours.contains(red));
}

TEST_F(MainForm, ClearEmptiesTheListAndTheNextLineBecomesRowZero) {
  Create();
  GetLog().AddLine(nullptr, "old");
  Form->ClearActionExecute();
  EXPECT_EQ(Rows(), 0);
  EXPECT_EQ(Form->windowTitle(), " Ornavel - 0 item(s)");
  GetLog().AddLine(nullptr, "new");
  ASSERT_EQ(Rows(), 1);
  EXPECT_EQ(Text(0), "new");
}

TEST_F(MainForm, StayOnTopAndAlphaBlendToggleBackWithoutHidingTheWindow) {
  Create();
  Show();
  Form->StayOnTopAction()->trigger();
  Form->AlphaBlendAction()->trigger();
  EXPECT_TRUE(Form->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_NEAR(Form->windowOpacity(), 196 / 255.0, 0.002);
  EXPECT_TRUE(Form->isVisible());
  Form->StayOnTopAction()->trigger();
  Form->AlphaBlendAction()->trigger();
  EXPECT_FALSE(Form->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_FALSE(Form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_DOUBLE_EQ(Form->windowOpacity(), 1.0);
  EXPECT_TRUE(Form->isVisible());
}

TEST_F(MainForm, CopiesTheSelectedRowsAsTimeTabMessageLines) {
  Create();
  Show();
  GetLog().AddLine(nullptr, "first");
  GetLog().AddLine(nullptr, "second");
  auto* selection = Form->LogList()->selectionModel();
  const auto* model = Form->LogList()->model();
  selection->select(model->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  selection->select(model->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  Form->LogList()->setFocus();
  QTest::keyClick(Form->LogList(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(),
            Text(0, 0) + "\tStarting up..\n" + Text(2, 0) + "\tsecond\n");
}

QSettings Store() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Ornavel", "Ornavel");
}

// The Source column: at first shown only where more than one source is followed; the header's
// menu shows and hides columns, never the last one, and the next start remembers them; a copy
// holds the columns shown, a file's whole path in its source.
TEST_F(MainForm, TheSourceColumnShowsWhereSeveralSourcesRunAndTheHeaderMenuChoosesColumns) {
  const auto start = [&](std::vector<std::string> files) {
    Form.reset();
    TSourceFactory factory;
    factory.SetMaker(mtFile, [](const std::string&) -> std::shared_ptr<TSourceThread> {
      return TThread::Create<TFileSource>(true);
    });
    Form = std::make_unique<TMainForm>(std::move(factory), std::move(files));
    Show();
    return Form->LogList()->horizontalHeader();
  };
  EXPECT_TRUE(start({"/a.log"})->isSectionHidden(SourceColumn));
  Form->close();
  Store().remove("ShownColumns");
  QHeaderView* header = start({"/a.log", "/b.log"});
  ASSERT_FALSE(header->isSectionHidden(SourceColumn));
  EXPECT_EQ(header->visualIndex(SourceColumn), 1);
  const auto source = TThread::Create<TFileSource>(true);
  GetLog().AddLine(source.get(), "hello", "/var/log/app.log");
  ASSERT_TRUE(Serve([&] { return Rows() > 0 && Text(Rows() - 1) == "hello"; }));
  const int row = Rows() - 1;
  EXPECT_EQ(Text(row, SourceColumn), "app.log");
  EXPECT_EQ(Form->LogListGetTip(row, SourceColumn), "/var/log/app.log");

  QMenu* menu = Form->ColumnMenu();
  QStringList names;
  for (QAction* action : menu->actions())
    names << action->text();
  EXPECT_EQ(names, (QStringList{"Date/Time", "Source", "Message"}));
  menu->actions()[0]->trigger();
  Form->LogList()->selectRow(row);
  Form->LogList()->setFocus();
  QTest::keyClick(Form->LogList(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "/var/log/app.log\thello\n");
  menu = Form->ColumnMenu();
  menu->actions()[1]->trigger();
  EXPECT_FALSE(Form->ColumnMenu()->actions()[2]->isEnabled()); // the last one shown
  Form->close();
  header = start({"/a.log", "/b.log"});
  EXPECT_TRUE(header->isSectionHidden(TimeColumn));
  EXPECT_TRUE(header->isSectionHidden(SourceColumn));
  EXPECT_FALSE(header->isSectionHidden(MessageColumn));
}

QString SizedName(const QString& name) {
  const QSize screen = QApplication::primaryScreen()->size();
  return QString("FormSettings/%1(%2x%3)").arg(name).arg(screen.width()).arg(screen.height());
}

int ScreenPixelsPerInch() {
  return qRound(QApplication::primaryScreen()->logicalDotsPerInch());
}

// Where the compositor places windows (Wayland), the menu offers nothing that would do nothing,
// docking is said unavailable once, and no place of the compositor's choosing is saved.
TEST_F(MainForm, WhereTheCompositorPlacesWindowsNothingIsPretended) {
  Form = std::make_unique<TMainForm>(
      TSourceFactory{}, std::vector<std::string>{}, nullptr,
      [](QWidget& window, TAppBarShellEvents) { return MakeFloatingShell(window, false); });
  Show();
  for (QAction* action : {Form->StayOnTopAction(), Form->AlphaBlendAction()}) {
    EXPECT_FALSE(action->isEnabled()) << action->text().toStdString();
    EXPECT_TRUE(action->toolTip().contains("compositor decides")) << action->text().toStdString();
  }
  Form->SetEdge(TAppBarEdge::abeRight);
  Form->SetEdge(TAppBarEdge::abeTop);
  const auto told = [this] {
    int count = 0;
    for (int row = 0; row < Rows(); ++row)
      count += Text(row).startsWith("Docking to a screen edge is not available") ? 1 : 0;
    return count;
  };
  EXPECT_TRUE(Serve([&] { return told() > 0; }));
  EXPECT_EQ(told(), 1);
  Form->close();
  EXPECT_FALSE(Store().contains("FormSettings/NormPos"));
  EXPECT_FALSE(Store().contains("FormSettings/AppBar"));
}

TEST_F(MainForm, ClosingSavesThePlacementUnderBothNames) {
  Create();
  Show();
  Form->move(100, 120);
  Form->resize(500, 300);
  Form->close();
  QSettings store = Store();
  EXPECT_EQ(store.value("FormSettings/NormPos").toString(), "100,120,600,420");
  EXPECT_EQ(store.value(SizedName("NormPos")).toString(), "100,120,600,420");
  EXPECT_EQ(store.value(SizedName("MinMaxPos")).toString(), "-1,-1,-1,-1");
  EXPECT_EQ(store.value("FormSettings/PixelsPerInch").toInt(), ScreenPixelsPerInch());
  EXPECT_EQ(store.value("FormSettings/FormVersion").toString(), "0");
  EXPECT_TRUE(Errors.empty());
}

struct TRestoreCase {
  const char* Name;
  const char* PlainNormPos;
  const char* SizedNormPos;
  int PixelsPerInchOffset;
  // The expected rectangle from the default one; nothing when the default must stay.
  std::function<QRect(const QRect&)> Expected;
};

class MainFormRestore : public MainForm, public testing::WithParamInterface<TRestoreCase> {};

TEST_P(MainFormRestore, RestoresWhatWasStoredForThisScreen) {
  const TRestoreCase& restore = GetParam();
  {
    QSettings store = Store();
    store.setValue("FormSettings/NormPos", restore.PlainNormPos);
    if (*restore.SizedNormPos != '\0')
      store.setValue(SizedName("NormPos"), restore.SizedNormPos);
    store.setValue("FormSettings/PixelsPerInch",
                   ScreenPixelsPerInch() + restore.PixelsPerInchOffset);
  }
  Create();
  const QRect before(Form->pos(), Form->size());
  Show();
  EXPECT_EQ(QRect(Form->pos(), Form->size()), restore.Expected(before));
  EXPECT_TRUE(Errors.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MainFormRestore,
    testing::Values(TRestoreCase{"PlainName", "100,120,600,420", "", 0,
                                 [](const QRect&) { return QRect(100, 120, 500, 300); }},
                    TRestoreCase{"ScreenSizeWins", "1,2,300,400", "100,120,600,420", 0,
                                 [](const QRect&) { return QRect(100, 120, 500, 300); }},
                    TRestoreCase{"MissingNumbersKeepTheEdges", "1,2,300,400", "30,40,x", 0,
                                 [](const QRect& before) {
                                   return QRect(QPoint(30, 40),
                                                QPoint(before.left() + before.width() - 1,
                                                       before.top() + before.height() - 1));
                                 }},
                    TRestoreCase{"OtherPixelDensityIgnored", "100,120,600,420", "100,120,600,420",
                                 48, [](const QRect& before) { return before; }}),
    [](const testing::TestParamInfo<TRestoreCase>& info) { return std::string(info.param.Name); });

TEST_F(MainForm, APlacementThatCannotBeSavedIsReportedAndTheWindowCloses) {
  Create();
  Show();
  // A folder where the store's file should be: nothing can be written there.
  std::filesystem::create_directories(Store().fileName().toStdString());
  Form->close();
  ASSERT_EQ(Errors.size(), 1U);
  EXPECT_TRUE(Errors[0].startsWith("Cannot save the window placement")) << Errors[0].toStdString();
  EXPECT_FALSE(Form->isVisible());
}

TEST_F(MainForm, ClosingWhileSourcesPostStopsThemAllAndStoresNothingAfterwards) {
  WriteSettings("Config.xml", "<Config><MonitorSyslog value=\"True\"/><MonitorFilenames>"
                              "<Filename>one</Filename><Filename>two</Filename>"
                              "</MonitorFilenames></Config>\r\n");
  std::vector<std::shared_ptr<TBusySource>> sources;
  TSourceFactory factory;
  const TSourceMaker busy = [&](const std::string&) -> std::shared_ptr<TSourceThread> {
    return sources.emplace_back(TThread::Create<TBusySource>(true));
  };
  factory.SetMaker(mtFile, busy);
  factory.SetMaker(mtSyslog, busy);
  Create(factory);
  Show();
  ASSERT_EQ(sources.size(), 3U);
  ASSERT_TRUE(Serve([&] { return Rows() > 1000; }));
  Form->ExitActionExecute();
  for (const auto& source : sources)
    EXPECT_TRUE(source->Finished());
  EXPECT_FALSE(Form->isVisible());
  const std::size_t stored = GetLog().Count();
  Settle();
  EXPECT_EQ(GetLog().Count(), stored);
}

// The settings dialog runs its own loop; this answers it as soon as it is up.
void AnswerSettingsDialog(bool ok) {
  QTimer::singleShot(0, [ok] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    if (ok)
      dialog->accept();
    else
      dialog->reject();
  });
}

TEST_F(MainForm, OnlyOkInTheSettingsRestartsTheSources) {
  WriteSettings("Config.xml", "<Config><MonitorSyslog value=\"True\"/></Config>\r\n");
  std::atomic<int> started{0};
  TSourceFactory factory;
  factory.SetMaker(mtSyslog, [&](const std::string&) -> std::shared_ptr<TSourceThread> {
    ++started;
    return TThread::Create<TBusySource>(true);
  });
  Create(factory);
  ASSERT_EQ(started, 1);
  AnswerSettingsDialog(false);
  Form->ConfigActionExecute();
  Settle();
  EXPECT_EQ(started, 1);
  AnswerSettingsDialog(true);
  Form->ConfigActionExecute();
  EXPECT_TRUE(Serve([&] { return started == 2; }));
}

} // namespace
} // namespace ornavel
