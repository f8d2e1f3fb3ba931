#include "ui/DialogsUnit.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTextDocument>
#include <QTimer>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

// What a label or tip shows of text it was given in format: the characters a user reads.
QString Shown(const QString& text, Qt::TextFormat format) {
  if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(text)))
    return text;
  QTextDocument document;
  document.setHtml(text);
  return document.toPlainText();
}

// Opens a box through the real dialogs and reports what its message label shows, then closes it.
template <typename TOpen>
QString ShownInBox(TOpen open) {
  QString shown = "no box opened";
  QTimer::singleShot(0, [&] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (box == nullptr || !box->isVisible())
        continue;
      const auto* label = box->findChild<QLabel*>("qt_msgbox_label");
      shown = label ? Shown(label->text(), label->textFormat()) : "no message label";
      box->done(QMessageBox::No);
    }
  });
  open();
  return shown;
}

TEST(Dialogs, MessageBoxesShowTextFromOutsideAsItIs) {
  const QString text = "File /tmp/<b>x</b> not found! a < b > c";
  EXPECT_EQ(ShownInBox([&] { Dialogs().ShowError(nullptr, text); }), text);
  EXPECT_EQ(ShownInBox([&] { Dialogs().AskYesNo(nullptr, "Title", text, false); }), text);
}

} // namespace
} // namespace ornavel
