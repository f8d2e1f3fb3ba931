#pragma once

#include "core/ColorUnit.h"

#include <QAbstractScrollArea>
#include <QAbstractTableModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QStyledItemDelegate>
#include <cstddef>

namespace ornavel {

// The most of a message a cell draws, and its tip shows, in UTF-16 code units: more than any
// screen shows on one row, and a row of a megabyte costs no more to draw than a short one.
inline constexpr int ShownTextLimit = 1024;

// The list's columns, by their index in the model; the Source column is shown between the others.
inline constexpr int TimeColumn = 0;
inline constexpr int MessageColumn = 1;
inline constexpr int SourceColumn = 2;
inline constexpr int ColumnCount = 3;
// As the header shows it: "Date/Time", "Message" or "Source".
QString ColumnName(int column);

// How a row stands to what the find bar seeks.
enum class TFindMark : std::uint8_t { None, Match, CurrentMatch };

struct TCellPaint {
  TColor Color = clWindowText;
  bool Bold = false;
  TFindMark Mark = TFindMark::None;

  bool operator==(const TCellPaint&) const = default;
};

// What the list asks its owner for each cell it draws; it keeps nothing of its own.
class TLogListCells {
public:
  virtual ~TLogListCells() = default;
  // At most ShownTextLimit code units.
  virtual QString LogListGetText(int row, int column) const = 0;
  // What the tip over a cut-off cell shows: its whole text.
  virtual QString LogListGetTip(int row, int column) const { return LogListGetText(row, column); }
  // A line the tip over any cell of the row adds (why the row is here); empty for none.
  virtual QString LogListRowNote(int /*row*/) const { return {}; }
  virtual TCellPaint LogListPaintText(int row, int column, bool selected, bool focused) const = 0;
};

// The log as rows: row i is the log item with index i. It holds the row count only, raised in
// batches by its owner, so a log of any length costs it nothing.
class TLogModel final : public QAbstractTableModel {
public:
  explicit TLogModel(const TLogListCells& cells, QObject* parent = nullptr);

  // Growing announces the new rows; shrinking (clearing) starts the list afresh.
  void SetRowCount(std::size_t count);
  // The oldest rows are gone: the others move up by count.
  void RemoveFirstRows(int count);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
  const TLogListCells& FCells;
  int FRowCount = 0;
};

// Draws each cell in the colour and weight its owner chooses; selected rows look unselected
// while the list has no focus, and no cell gets a focus frame.
class TLogListDelegate final : public QStyledItemDelegate {
public:
  TLogListDelegate(const TLogListCells& cells, QObject* parent);

protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
  const TLogListCells& FCells;
};

// The list view: rows of one height drawn straight from the model, so that it keeps nothing per
// row and an update costs the same for ten rows or ten million. Whole rows are selected by click
// and keys (Shift, Ctrl) but not by dragging; it scrolls by pixel, so that "scrolled up by more
// than the window's height" is exact.
class TLogListView final : public QAbstractScrollArea {
public:
  TLogListView(const TLogListCells& cells, QWidget* parent);

  TLogModel* model() const { return FModel; }
  QItemSelectionModel* selectionModel() const { return FSelection; }
  QHeaderView* horizontalHeader() const { return FHeader; }
  int RowHeight() const;
  // The row under a point of the viewport, or -1.
  int RowAt(int y) const;
  void selectRow(int row);
  // Selects row alone, makes it current and scrolls it into view.
  void ShowRow(int row);
  // Scrolls the row into view, the selection as it is.
  void EnsureVisible(int row);
  void scrollToBottom();
  // The row keys move from, or -1.
  int CurrentRow() const { return FCurrent; }

  struct TScrollState {
    int Maximum = 0;
    int Position = 0;
  };
  TScrollState ScrollState() const;
  // The selected rows, top to bottom.
  QList<int> SelectedRows() const;

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int) override;
  bool viewportEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

private:
  void RowsInserted(int first, int last);
  void RowsRemoved(int count);
  void UpdateGeometries();
  void PaintRow(QPainter& painter, int row, int y);
  void Select(int from, int to, QItemSelectionModel::SelectionFlags how);
  // Moves the current row as a key or click asks: alone, extending from the anchor (Shift), or
  // without touching the selection (Ctrl).
  void MoveTo(int row, Qt::KeyboardModifiers modifiers);
  bool ShowToolTip(const QHelpEvent& event);
  bool CutOff(int row, int column, const QString& text) const;

  const TLogListCells& FCells;
  TLogModel* FModel;
  TLogListDelegate* FDelegate;
  QHeaderView* FHeader;
  QItemSelectionModel* FSelection;
  int FCurrent = -1;
  int FAnchor = -1;
};

} // namespace ornavel
