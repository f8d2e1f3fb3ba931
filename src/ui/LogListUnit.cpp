#include "LogListUnit.h"

#include "PaletteUnit.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <algorithm>
#include <climits>

namespace ornavel {

QString ColumnName(int column) {
  switch (column) {
  case TimeColumn:
    return QStringLiteral("Date/Time");
  case SourceColumn:
    return QStringLiteral("Source");
  default:
    return QStringLiteral("Message");
  }
}

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

void TLogModel::RemoveFirstRows(int count) {
  count = std::min(count, FRowCount);
  if (count <= 0)
    return;
  beginRemoveRows({}, 0, count - 1);
  FRowCount -= count;
  endRemoveRows();
}

int TLogModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : FRowCount;
}

int TLogModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant TLogModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= FRowCount)
    return {};
  if (role == Qt::DisplayRole)
    return FCells.LogListGetText(index.row(), index.column());
  // A narrow window cuts long messages and sources; the tip shows them, up to ShownTextLimit.
  if (role == Qt::ToolTipRole && index.column() != TimeColumn)
    return FCells.LogListGetTip(index.row(), index.column());
  return {};
}

QVariant TLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return {};
  return ColumnName(section);
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
  // A found row stands out whether or not the list has the focus: the find bar usually has it.
  if (paint.Mark != TFindMark::None) {
    QColor background = option->palette.color(QPalette::Highlight);
    if (paint.Mark == TFindMark::Match)
      background.setAlpha(70);
    option->backgroundBrush = background;
    if (paint.Mark == TFindMark::CurrentMatch)
      option->palette.setColor(QPalette::Text, option->palette.color(QPalette::HighlightedText));
  }
}

TLogListView::TLogListView(const TLogListCells& cells, QWidget* parent)
    : QAbstractScrollArea(parent), FCells(cells), FModel(new TLogModel(cells, this)),
      FDelegate(new TLogListDelegate(cells, this)), FHeader(new QHeaderView(Qt::Horizontal, this)),
      FSelection(new QItemSelectionModel(FModel, this)) {
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
  FHeader->setModel(FModel);
  FHeader->setFocusPolicy(Qt::NoFocus);
  FHeader->setHighlightSections(false);
  FHeader->setSectionsClickable(false);
  FHeader->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  FHeader->moveSection(FHeader->visualIndex(SourceColumn), 1);
  FHeader->setSectionHidden(SourceColumn, true);
  connect(FHeader, &QHeaderView::sectionResized, this, [this] {
    UpdateGeometries();
    viewport()->update();
  });
  connect(FModel, &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex&, int first, int last) { RowsInserted(first, last); });
  connect(FModel, &QAbstractItemModel::rowsRemoved, this,
          [this](const QModelIndex&, int first, int last) {
            if (first == 0)
              RowsRemoved(last + 1);
          });
  connect(FModel, &QAbstractItemModel::modelReset, this, [this] {
    FCurrent = FAnchor = -1;
    UpdateGeometries();
    viewport()->update();
  });
  connect(FSelection, &QItemSelectionModel::selectionChanged, viewport(),
          qOverload<>(&QWidget::update));
  UpdateGeometries();
}

int TLogListView::RowHeight() const {
  return fontMetrics().height() + 2;
}

int TLogListView::RowAt(int y) const {
  if (y < 0)
    return -1;
  const long long row = (static_cast<long long>(verticalScrollBar()->value()) + y) / RowHeight();
  return row < FModel->rowCount() ? static_cast<int>(row) : -1;
}

// The current row moves first, so that a reader of the selection's change sees it.
void TLogListView::selectRow(int row) {
  FCurrent = FAnchor = row;
  Select(row, row, QItemSelectionModel::ClearAndSelect);
}

void TLogListView::ShowRow(int row) {
  selectRow(row);
  EnsureVisible(row);
  viewport()->update();
}

void TLogListView::scrollToBottom() {
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

TLogListView::TScrollState TLogListView::ScrollState() const {
  return {verticalScrollBar()->maximum(), verticalScrollBar()->value()};
}

QList<int> TLogListView::SelectedRows() const {
  QList<int> rows;
  for (const QItemSelectionRange& range : FSelection->selection()) {
    for (int row = range.top(); row <= range.bottom(); ++row)
      rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

void TLogListView::RowsInserted(int first, int last) {
  UpdateGeometries();
  const int top = verticalScrollBar()->value();
  const long long firstY = static_cast<long long>(first) * RowHeight();
  const long long lastY = (static_cast<long long>(last) + 1) * RowHeight();
  if (firstY < top + viewport()->height() && lastY > top)
    viewport()->update();
}

// The rows in view stay in view: the position moves up with them, unless they are gone too.
void TLogListView::RowsRemoved(int count) {
  const long long position =
      verticalScrollBar()->value() - static_cast<long long>(count) * RowHeight();
  const auto shift = [count](int row) { return row >= count ? row - count : -1; };
  FCurrent = shift(FCurrent);
  FAnchor = shift(FAnchor);
  UpdateGeometries();
  verticalScrollBar()->setValue(static_cast<int>(std::max(0LL, position)));
  viewport()->update();
}

void TLogListView::UpdateGeometries() {
  const int headerHeight = FHeader->sizeHint().height();
  setViewportMargins(0, headerHeight, 0, 0);
  const QRect area = viewport()->geometry();
  FHeader->setGeometry(area.left(), area.top() - headerHeight, area.width(), headerHeight);
  // Beyond what an int can hold the list stops growing its range; that is some 100 million rows.
  const long long height = static_cast<long long>(FModel->rowCount()) * RowHeight();
  const int range = static_cast<int>(std::clamp<long long>(height - area.height(), 0, INT_MAX));
  verticalScrollBar()->setRange(0, range);
  verticalScrollBar()->setSingleStep(RowHeight());
  verticalScrollBar()->setPageStep(area.height());
  horizontalScrollBar()->setRange(0, std::max(0, FHeader->length() - area.width()));
  horizontalScrollBar()->setSingleStep(RowHeight());
  horizontalScrollBar()->setPageStep(area.width());
}

void TLogListView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  // A view at the end stays there, above all when scroll bars come and shrink it.
  const bool atEnd = verticalScrollBar()->value() == verticalScrollBar()->maximum();
  UpdateGeometries();
  if (atEnd)
    scrollToBottom();
}

void TLogListView::scrollContentsBy(int dx, int) {
  if (dx != 0)
    FHeader->setOffset(horizontalScrollBar()->value());
  viewport()->update();
}

void TLogListView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  const int top = verticalScrollBar()->value();
  const int rowHeight = RowHeight();
  const int first = std::max(0, (top + event->rect().top()) / rowHeight);
  const int last = std::min(FModel->rowCount() - 1, (top + event->rect().bottom()) / rowHeight);
  for (int row = first; row <= last; ++row)
    PaintRow(painter, row, row * rowHeight - top);
}

void TLogListView::PaintRow(QPainter& painter, int row, int y) {
  const bool selected = FSelection->isRowSelected(row);
  if (selected && hasFocus())
    painter.fillRect(QRect(0, y, viewport()->width(), RowHeight()), palette().highlight());
  QStyleOptionViewItem option;
  option.initFrom(this);
  option.widget = this;
  option.state &= ~QStyle::State_HasFocus;
  option.state.setFlag(QStyle::State_Selected, selected);
  option.showDecorationSelected = true;
  option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
  option.textElideMode = Qt::ElideRight;
  for (int column = 0; column < FModel->columnCount(); ++column) {
    if (FHeader->isSectionHidden(column))
      continue;
    option.rect = QRect(FHeader->sectionViewportPosition(column), y, FHeader->sectionSize(column),
                        RowHeight());
    FDelegate->paint(&painter, option, FModel->index(row, column));
  }
}

bool TLogListView::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip)
    return ShowToolTip(static_cast<const QHelpEvent&>(*event));
  return QAbstractScrollArea::viewportEvent(event);
}

namespace {

// A tip wraps at blanks only: a long run without one would make it wider than the screen. An
// invisible break opportunity after every few characters of such a run lets it wrap anywhere.
QString Breakable(const QString& text) {
  constexpr int RunLength = 20;
  QString breakable;
  breakable.reserve(text.size() + text.size() / RunLength);
  int run = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    breakable += text[i];
    run = text[i].isSpace() ? 0 : run + 1;
    if (run >= RunLength && !text[i].isHighSurrogate()) {
      breakable += QChar(0x200B);
      run = 0;
    }
  }
  return breakable;
}

} // namespace

bool TLogListView::ShowToolTip(const QHelpEvent& event) {
  const int row = RowAt(event.pos().y());
  const int column = FHeader->logicalIndexAt(event.pos().x());
  const QString text = FModel->index(row, column).data(Qt::ToolTipRole).toString();
  const bool cutOff = row >= 0 && !text.isEmpty() && CutOff(row, column, text);
  const QString note = row >= 0 ? FCells.LogListRowNote(row) : QString();
  if (!cutOff && note.isEmpty()) {
    QToolTip::hideText();
    return true;
  }
  QString tip = cutOff ? text : QString();
  if (!note.isEmpty())
    tip += (cutOff ? QStringLiteral("\n\n") : QString()) + note;
  // A line is shown as the characters it holds, whatever markup a sender put in it.
  // Escaped rather than plain, so that a long line wraps; pre-wrap keeps its runs of blanks.
  QToolTip::showText(event.globalPos(),
                     QStringLiteral("<p style=\"white-space:pre-wrap\">%1</p>")
                         .arg(Breakable(tip).toHtmlEscaped()),
                     viewport());
  return true;
}

// Whether the cell's text is wider than the room the delegate gives it.
bool TLogListView::CutOff(int row, int column, const QString& text) const {
  QFont shownFont = font();
  shownFont.setBold(FCells.LogListPaintText(row, column, false, false).Bold);
  const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
  return QFontMetrics(shownFont).horizontalAdvance(text) >
         FHeader->sectionSize(column) - 2 * margin;
}

void TLogListView::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  const int row = RowAt(event->position().toPoint().y());
  if (row < 0) {
    if (event->modifiers() == Qt::NoModifier)
      FSelection->clearSelection();
    return;
  }
  // The menu acts on what is selected: a click outside the selection selects that row first.
  if (event->button() == Qt::RightButton && FSelection->isRowSelected(row))
    return;
  if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton)
    return;
  if (event->modifiers().testFlag(Qt::ControlModifier)) {
    FCurrent = FAnchor = row;
    Select(row, row, QItemSelectionModel::Toggle);
  } else {
    MoveTo(row, event->modifiers());
  }
}

void TLogListView::keyPressEvent(QKeyEvent* event) {
  const int rows = FModel->rowCount();
  const int page = std::max(1, viewport()->height() / RowHeight());
  const int current = std::clamp(FCurrent, 0, std::max(0, rows - 1));
  if (event->matches(QKeySequence::SelectAll)) {
    Select(0, rows - 1, QItemSelectionModel::ClearAndSelect);
    return;
  }
  int target = -1;
  switch (event->key()) {
  case Qt::Key_Up:
    target = current - 1;
    break;
  case Qt::Key_Down:
    target = FCurrent < 0 ? 0 : current + 1;
    break;
  case Qt::Key_PageUp:
    target = current - page;
    break;
  case Qt::Key_PageDown:
    target = current + page;
    break;
  case Qt::Key_Home:
    target = 0;
    break;
  case Qt::Key_End:
    target = rows - 1;
    break;
  case Qt::Key_Space:
    if (event->modifiers().testFlag(Qt::ControlModifier) && FCurrent >= 0 && FCurrent < rows) {
      Select(FCurrent, FCurrent, QItemSelectionModel::Toggle);
      return;
    }
    [[fallthrough]];
  default:
    QAbstractScrollArea::keyPressEvent(event);
    return;
  }
  if (rows == 0)
    return;
  MoveTo(std::clamp(target, 0, rows - 1), event->modifiers());
}

void TLogListView::MoveTo(int row, Qt::KeyboardModifiers modifiers) {
  if (modifiers.testFlag(Qt::ShiftModifier)) {
    if (FAnchor < 0 || FAnchor >= FModel->rowCount())
      FAnchor = FCurrent >= 0 ? FCurrent : row;
    FCurrent = row;
    Select(std::min(FAnchor, row), std::max(FAnchor, row), QItemSelectionModel::ClearAndSelect);
  } else if (!modifiers.testFlag(Qt::ControlModifier)) {
    FCurrent = FAnchor = row;
    Select(row, row, QItemSelectionModel::ClearAndSelect);
  }
  FCurrent = row;
  EnsureVisible(row);
  viewport()->update();
}

void TLogListView::Select(int from, int to, QItemSelectionModel::SelectionFlags how) {
  if (from < 0 || to < from)
    return;
  const QItemSelection rows(FModel->index(from, 0), FModel->index(to, FModel->columnCount() - 1));
  FSelection->select(rows, how | QItemSelectionModel::Rows);
}

void TLogListView::EnsureVisible(int row) {
  const long long top = static_cast<long long>(row) * RowHeight();
  const int position = verticalScrollBar()->value();
  if (top < position)
    verticalScrollBar()->setValue(static_cast<int>(top));
  else if (top + RowHeight() > position + viewport()->height())
    verticalScrollBar()->setValue(static_cast<int>(top + RowHeight() - viewport()->height()));
}

void TLogListView::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
}

void TLogListView::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}

} // namespace ornavel
