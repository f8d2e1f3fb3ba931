#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QToolButton;

namespace ornavel {

// The small bar under the list that takes what to find: the text, whether it is a regular
// expression, and a line for the count or the engine's message. It finds nothing itself.
class TFindBar final : public QWidget {
  Q_OBJECT

public:
  explicit TFindBar(QWidget* parent = nullptr);

  QString Text() const;
  bool RegularExpression() const;
  // Shows the bar with its text selected, ready for typing.
  void Open();
  // "n of m", "No matches" or the engine's message: all shown as plain text.
  void ShowStatus(const QString& status);
  QString Status() const;
  // The toggle that shows only the matching rows; setting it says nothing.
  void SetFilter(bool on);
  bool Filter() const;
  // A line under the bar about the current row; hidden when empty.
  void ShowNote(const QString& note);
  QString Note() const;

signals:
  void QueryChanged();
  void NextWanted(bool forwards);
  void FilterToggled(bool on);
  void Closed();

protected:
  void keyPressEvent(QKeyEvent* event) override;

private:
  QLineEdit* FEdit;
  QToolButton* FRegularExpression;
  QToolButton* FFilter;
  QLabel* FStatus;
  QLabel* FNote;
};

} // namespace ornavel
