#include "ui/LogListUnit.h"

#include <QApplication>
#include <QHelpEvent>
#include <QScrollBar>
#include <QTest>
#include <QTextDocument>
#include <QToolTip>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

class TNumberedCells final : public TLogListCells {
public:
  QString Row3Message; // when set, row 3's message instead of its number
  // Row 4's message is too long for its column.
  QString LogListGetText(int row, int column) const override {
    if (row == 3 && column == 1 && !Row3Message.isEmpty())
      return Row3Message;
    return QString("row %1 column %2").arg(row).arg(column) + (row == 4 ? QString(200, 'w') : "");
  }
  TCellPaint LogListPaintText(int, int, bool, bool) const override { return {}; }
};

class LogList : public testing::Test {
protected:
  LogList() : View(Cells, nullptr) {
    View.resize(300, 200);
    View.model()->SetRowCount(100);
    View.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&View));
  }

  QPoint RowCentre(int row) const {
    const int y = row * View.RowHeight() - View.verticalScrollBar()->value() + View.RowHeight() / 2;
    return {20, y};
  }

  void Click(int row, Qt::KeyboardModifiers modifiers = {}) {
    QTest::mouseClick(View.viewport(), Qt::LeftButton, modifiers, RowCentre(row));
  }

  void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    QTest::keyClick(&View, key, modifiers);
  }

  TNumberedCells Cells;
  TLogListView View;
};

TEST_F(LogList, SelectsWholeRowsByClickCtrlClickAndShiftClickButNotByDragging) {
  Click(2);
  EXPECT_EQ(View.SelectedRows(), QList<int>({2}));
  EXPECT_TRUE(View.hasFocus());
  Click(5, Qt::ControlModifier);
  EXPECT_EQ(View.SelectedRows(), QList<int>({2, 5}));
  Click(8, Qt::ShiftModifier);
  EXPECT_EQ(View.SelectedRows(), QList<int>({5, 6, 7, 8}));
  Click(6, Qt::ControlModifier);
  EXPECT_EQ(View.SelectedRows(), QList<int>({5, 7, 8}));
  EXPECT_EQ(View.selectionModel()->selectedRows(1).size(), 3) << "rows are selected whole";

  QTest::mousePress(View.viewport(), Qt::LeftButton, {}, RowCentre(1));
  QTest::mouseMove(View.viewport(), RowCentre(4));
  QTest::mouseRelease(View.viewport(), Qt::LeftButton, {}, RowCentre(4));
  EXPECT_EQ(View.SelectedRows(), QList<int>({1}));
}

TEST_F(LogList, KeysMoveExtendAndSelectAllAndKeepTheCurrentRowInView) {
  Click(0);
  Key(Qt::Key_Down);
  Key(Qt::Key_Down);
  EXPECT_EQ(View.SelectedRows(), QList<int>({2}));
  Key(Qt::Key_Down, Qt::ShiftModifier);
  Key(Qt::Key_Down, Qt::ShiftModifier);
  EXPECT_EQ(View.SelectedRows(), QList<int>({2, 3, 4}));
  Key(Qt::Key_Up, Qt::ShiftModifier);
  EXPECT_EQ(View.SelectedRows(), QList<int>({2, 3}));

  Key(Qt::Key_End);
  EXPECT_EQ(View.SelectedRows(), QList<int>({99}));
  EXPECT_EQ(View.verticalScrollBar()->value(), View.verticalScrollBar()->maximum());
  EXPECT_EQ(View.verticalScrollBar()->maximum(),
            100 * View.RowHeight() - View.viewport()->height());
  Key(Qt::Key_PageUp);
  const int page = View.viewport()->height() / View.RowHeight();
  EXPECT_EQ(View.SelectedRows(), QList<int>({99 - page}));
  Key(Qt::Key_Home);
  EXPECT_EQ(View.SelectedRows(), QList<int>({0}));
  EXPECT_EQ(View.verticalScrollBar()->value(), 0);

  Key(Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(View.SelectedRows().size(), 100);
}

TEST_F(LogList, TheRowUnderThePointerFollowsTheScrollPositionAndNewRows) {
  View.scrollToBottom();
  const int bottom = View.viewport()->height() - 1;
  EXPECT_EQ(View.RowAt(bottom), 99);
  QTest::mouseClick(View.viewport(), Qt::LeftButton, {}, QPoint(20, bottom));
  EXPECT_EQ(View.SelectedRows(), QList<int>({99}));

  View.model()->SetRowCount(150);
  EXPECT_EQ(View.verticalScrollBar()->maximum(),
            150 * View.RowHeight() - View.viewport()->height());
  EXPECT_EQ(View.SelectedRows(), QList<int>({99})) << "new rows leave the selection alone";
  EXPECT_EQ(View.RowAt(bottom), 99) << "new rows do not move the view";
  EXPECT_EQ(View.RowAt(-1), -1);
}

TEST_F(LogList, EmptyingTheListForgetsSelectionAndCurrentRow) {
  Click(7);
  View.model()->SetRowCount(0);
  EXPECT_TRUE(View.SelectedRows().isEmpty());
  EXPECT_EQ(View.verticalScrollBar()->maximum(), 0);
  Key(Qt::Key_Down);
  EXPECT_TRUE(View.SelectedRows().isEmpty());
  View.model()->SetRowCount(3);
  Key(Qt::Key_Down);
  EXPECT_EQ(View.SelectedRows(), QList<int>({0}));
}

// The characters a user reads in a tip given text.
// The text one reads in the tip: its invisible break opportunities left out.
QString ShownInTip(const QString& text) {
  if (!Qt::mightBeRichText(text))
    return text;
  QTextDocument document;
  document.setHtml(text);
  return document.toPlainText().remove(QChar(0x200B));
}

TEST_F(LogList, HoveringACutOffMessageShowsItAndTheTimeOrAWholeMessageShowNothing) {
  const auto hover = [&](int column, int row = 4) {
    const QPoint where(View.horizontalHeader()->sectionViewportPosition(column) + 5,
                       RowCentre(row).y());
    QHelpEvent help(QEvent::ToolTip, where, View.viewport()->mapToGlobal(where));
    QApplication::sendEvent(View.viewport(), &help);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
  };
  // A tip once shown lingers a moment, so the rows without one come first.
  EXPECT_EQ(hover(0), "");
  EXPECT_EQ(hover(1, 3), "");
  EXPECT_EQ(ShownInTip(hover(1)), "row 4 column 1" + QString(200, 'w'));
  // Qt takes such lines for rich text unless told otherwise.
  for (const QString line : {"msg <h1 style=\"color:red\">x</h1>", "a < b > c  <b>x</b>"}) {
    Cells.Row3Message = line + QString(200, 'w');
    EXPECT_EQ(ShownInTip(hover(1, 3)), Cells.Row3Message);
  }
}

} // namespace
} // namespace ornavel
