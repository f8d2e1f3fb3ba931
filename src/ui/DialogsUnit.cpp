#include "DialogsUnit.h"

#include "PaletteUnit.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace ornavel {
namespace {

// Messages carry file names, rule texts and system messages: Qt must not take them for markup.
int ExecPlain(QMessageBox& box) {
  box.setTextFormat(Qt::PlainText);
  return box.exec();
}

class TQtDialogs final : public TDialogs {
public:
  void ShowError(QWidget* parent, const QString& message) override {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Ornavel"), message, QMessageBox::Ok,
                    parent);
    ExecPlain(box);
  }

  bool AskYesNo(QWidget* parent, const QString& title, const QString& text,
                bool defaultYes) override {
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(defaultYes ? QMessageBox::Yes : QMessageBox::No);
    return ExecPlain(box) == QMessageBox::Yes;
  }

  QString InputText(QWidget* parent, const QString& title, const QString& prompt,
                    const QString& preset) override {
    bool confirmed = false;
    QString text =
        QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, preset, &confirmed);
    return confirmed ? text : preset;
  }

  std::optional<TColor> ChooseColor(QWidget* parent, TColor initial,
                                    const QString& customColorA) override {
    if (!customColorA.isEmpty()) {
      bool valid = false;
      const auto digits = customColorA.toUInt(&valid, 16);
      if (valid)
        QColorDialog::setCustomColor(0, ToQColor(static_cast<TColor>(digits), parent));
    }
    const QColor chosen = QColorDialog::getColor(ToQColor(initial, parent), parent);
    if (!chosen.isValid())
      return std::nullopt;
    return FromQColor(chosen);
  }

  // One file, no filter, and no check that it exists: a log may be followed before it is made.
  std::optional<QString> OpenFile(QWidget* parent, const QString& startFolder) override {
    return ChooseFile(parent, QString(), startFolder, QFileDialog::AcceptOpen);
  }

  std::optional<QString> SaveFile(QWidget* parent, const QString& startFolder) override {
    return ChooseFile(parent, QStringLiteral("Save lines"), startFolder, QFileDialog::AcceptSave);
  }

private:
  static std::optional<QString> ChooseFile(QWidget* parent, const QString& title,
                                           const QString& startFolder,
                                           QFileDialog::AcceptMode mode) {
    QFileDialog dialog(parent, title, startFolder);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
      return std::nullopt;
    return dialog.selectedFiles().constFirst();
  }
};

std::unique_ptr<TDialogs>& Current() {
  static std::unique_ptr<TDialogs> current = std::make_unique<TQtDialogs>();
  return current;
}

} // namespace

TDialogs& Dialogs() {
  return *Current();
}

std::unique_ptr<TDialogs> ReplaceDialogs(std::unique_ptr<TDialogs> dialogs) {
  std::swap(Current(), dialogs);
  return dialogs;
}

} // namespace ornavel
