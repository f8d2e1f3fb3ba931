#include "FindBarUnit.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

namespace ornavel {

TFindBar::TFindBar(QWidget* parent)
    : QWidget(parent), FEdit(new QLineEdit(this)), FRegularExpression(new QToolButton(this)),
      FFilter(new QToolButton(this)), FStatus(new QLabel(this)), FNote(new QLabel(this)) {
  FEdit->setPlaceholderText(QStringLiteral("Find"));
  FEdit->setClearButtonEnabled(true);
  FRegularExpression->setText(QStringLiteral(".*"));
  FRegularExpression->setToolTip(QStringLiteral("Regular expression"));
  FRegularExpression->setObjectName(QStringLiteral("regularExpression"));
  FRegularExpression->setCheckable(true);
  FRegularExpression->setAutoRaise(true);
  FFilter->setText(QStringLiteral("Filter"));
  FFilter->setToolTip(QStringLiteral("Show only the matching rows (Ctrl+L)"));
  FFilter->setObjectName(QStringLiteral("filter"));
  FFilter->setCheckable(true);
  FFilter->setAutoRaise(true);
  FStatus->setTextFormat(Qt::PlainText);
  FNote->setTextFormat(Qt::PlainText);
  FNote->hide();
  auto* close = new QToolButton(this);
  close->setText(QStringLiteral("\u00D7"));
  close->setToolTip(QStringLiteral("Close (Esc)"));
  close->setAutoRaise(true);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(2, 2, 2, 2);
  column->setSpacing(2);
  auto* layout = new QHBoxLayout();
  layout->setSpacing(2);
  layout->addWidget(FEdit, 1);
  layout->addWidget(FRegularExpression);
  layout->addWidget(FFilter);
  layout->addWidget(FStatus);
  layout->addWidget(close);
  column->addLayout(layout);
  column->addWidget(FNote);

  connect(FEdit, &QLineEdit::textChanged, this, &TFindBar::QueryChanged);
  connect(FRegularExpression, &QToolButton::toggled, this, &TFindBar::QueryChanged);
  connect(FFilter, &QToolButton::toggled, this, &TFindBar::FilterToggled);
  connect(close, &QToolButton::clicked, this, [this] {
    hide();
    emit Closed();
  });
}

QString TFindBar::Text() const {
  return FEdit->text();
}

bool TFindBar::RegularExpression() const {
  return FRegularExpression->isChecked();
}

void TFindBar::Open() {
  show();
  FEdit->setFocus(Qt::ShortcutFocusReason);
  FEdit->selectAll();
}

void TFindBar::ShowStatus(const QString& status) {
  FStatus->setText(status);
}

QString TFindBar::Status() const {
  return FStatus->text();
}

void TFindBar::keyPressEvent(QKeyEvent* event) {
  const bool backwards = (event->modifiers() & Qt::ShiftModifier) != 0;
  switch (event->key()) {
  case Qt::Key_Return:
  case Qt::Key_Enter:
  case Qt::Key_F3:
    emit NextWanted(!backwards);
    return;
  case Qt::Key_Escape:
    hide();
    emit Closed();
    return;
  default:
    QWidget::keyPressEvent(event);
  }
}

void TFindBar::SetFilter(bool on) {
  const QSignalBlocker blocker(FFilter);
  FFilter->setChecked(on);
}

bool TFindBar::Filter() const {
  return FFilter->isChecked();
}

void TFindBar::ShowNote(const QString& note) {
  FNote->setText(note);
  FNote->setVisible(!note.isEmpty());
}

QString TFindBar::Note() const {
  return FNote->text();
}

} // namespace ornavel
