#include "LogListUnit.h"

#include "PaletteUnit.h"

#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>
#include <algorithm>
#include <climits>

namespace ornavel {

TLogModel::TLogModel(const TLogListCells& cells, QObject* parent)
    : QAbstractTableModel(parent), FCells(cells) {}

void TLogModel::SetRowCount(std::size_t count) {
  const int rows = static_cast<int>(std::min<std::size_t>(count, INT_MAX));
  if (rows == FRowCount)
    return;
  if (rows < FRowCount) {
    beginResetModel();
    FRowCount = rows;
    endResetModel();
    return;
  }
  beginInsertRows({}, FRowCount, rows - 1);
  FRowCount = rows;
  endInsertRows();
}

int TLogModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : FRowCount;
}

int TLogModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 2;
}

QVariant TLogModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= FRowCount)
    return {};
  // A narrow window cuts long messages; the tip shows them whole.
  if (role == Qt::DisplayRole || (role == Qt::ToolTipRole && index.column() == 1))
    return FCells.LogListGetText(index.row(), index.column());
  return {};
}

QVariant TLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return {};
  return section == 0 ? QStringLiteral("Date/Time") : QStringLiteral("Message");
}

TLogListDelegate::TLogListDelegate(const TLogListCells& cells, QObject* parent)
    : QStyledItemDelegate(parent), FCells(cells) {}

void TLogListDelegate::initStyleOption(QStyleOptionViewItem* option,
                                       const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  const bool focused = option->widget != nullptr && option->widget->hasFocus();
  const bool selected = (option->state & QStyle::State_Selected) != 0;
  const TCellPaint paint = FCells.LogListPaintText(index.row(), index.column(), selected, focused);
  option->state &= ~QStyle::State_HasFocus;
  if (!focused)
    option->state &= ~QStyle::State_Selected;
  const QColor color = ToQColor(paint.Color, option->widget);
  option->palette.setColor(QPalette::Text, color);
  option->palette.setColor(QPalette::HighlightedText, color);
  option->font.setBold(paint.Bold);
}

TLogListView::TLogListView(QWidget* parent) : QTableView(parent) {
  setSelectionBehavior(SelectRows);
  setSelectionMode(ExtendedSelection);
  setVerticalScrollMode(ScrollPerPixel);
  setHorizontalScrollMode(ScrollPerPixel);
  setShowGrid(false);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  setTabKeyNavigation(false);
  setEditTriggers(NoEditTriggers);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 2);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setSectionsClickable(false);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  ShowSelection(false);
}

TLogListView::TScrollState TLogListView::ScrollState() {
  executeDelayedItemsLayout();
  return {verticalScrollBar()->maximum(), verticalScrollBar()->value()};
}

QList<int> TLogListView::SelectedRows() const {
  QList<int> rows;
  for (const QModelIndex& index : selectionModel()->selectedRows())
    rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

void TLogListView::mouseMoveEvent(QMouseEvent* event) {
  // Dragging with a button held would select the rows it passes over.
  if (event->buttons() != Qt::NoButton) {
    event->accept();
    return;
  }
  QTableView::mouseMoveEvent(event);
}

void TLogListView::focusInEvent(QFocusEvent* event) {
  ShowSelection(true);
  QTableView::focusInEvent(event);
}

void TLogListView::focusOutEvent(QFocusEvent* event) {
  ShowSelection(false);
  QTableView::focusOutEvent(event);
}

void TLogListView::ShowSelection(bool visible) {
  QPalette shown = palette();
  const QPalette& application = QApplication::palette(this);
  for (auto group : {QPalette::Active, QPalette::Inactive}) {
    shown.setColor(group, QPalette::Highlight,
                   visible ? application.color(group, QPalette::Highlight)
                           : application.color(group, QPalette::Base));
  }
  setPalette(shown);
}

} // namespace ornavel
