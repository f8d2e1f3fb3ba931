#pragma once

#include "core/ColorUnit.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <cstddef>

namespace ornavel {

// How one cell's text is drawn.
struct TCellPaint {
  TColor Color = clWindowText;
  bool Bold = false;

  bool operator==(const TCellPaint&) const = default;
};

// What the list asks its owner for each cell it draws; it keeps nothing of its own.
class TLogListCells {
public:
  virtual ~TLogListCells() = default;
  virtual QString LogListGetText(int row, int column) const = 0;
  virtual TCellPaint LogListPaintText(int row, int column, bool selected, bool focused) const = 0;
};

// The log as rows: row i is the log item with index i. It holds the row count only, raised in
// batches by its owner, so a log of any length costs it nothing.
class TLogModel final : public QAbstractTableModel {
public:
  explicit TLogModel(const TLogListCells& cells, QObject* parent = nullptr);

  // Growing announces the new rows; shrinking (clearing) starts the list afresh.
  void SetRowCount(std::size_t count);

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

// The list view: whole rows, selected by click and keys but not by dragging, rows of one
// height, scrolled by pixel so that "scrolled up by more than the window's height" is exact.
class TLogListView final : public QTableView {
public:
  explicit TLogListView(QWidget* parent);

  struct TScrollState {
    int Maximum = 0;
    int Position = 0;
  };
  // The vertical scroll range and position, with every pending layout done first.
  TScrollState ScrollState();
  // The selected rows, top to bottom.
  QList<int> SelectedRows() const;

protected:
  void mouseMoveEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

private:
  // The row background of a selection shows only while the list has the focus.
  void ShowSelection(bool visible);
};

} // namespace ornavel
