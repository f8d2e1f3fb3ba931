#pragma once

#include "core/ColorUnit.h"

#include <QString>
#include <memory>
#include <optional>

class QWidget;

namespace ornavel {

// Every modal box the windows open goes through here, so that tests can answer them.
class TDialogs {
public:
  virtual ~TDialogs() = default;

  // The framework's error box: error icon, the application's title.
  virtual void ShowError(QWidget* parent, const QString& message) = 0;
  // A question box with Yes and No; answers true for Yes.
  virtual bool AskYesNo(QWidget* parent, const QString& title, const QString& text,
                        bool defaultYes) = 0;
  // A text input box; OK gives the field's text, Cancel gives the preset back.
  virtual QString InputText(QWidget* parent, const QString& title, const QString& prompt,
                            const QString& preset) = 0;
  // The colour chooser with initial preselected; customColorA, when not empty, is eight
  // hexadecimal digits for the first custom slot. Nothing when cancelled.
  virtual std::optional<TColor> ChooseColor(QWidget* parent, TColor initial,
                                            const QString& customColorA) = 0;
  // The file-open dialog, one file, starting in startFolder (empty: the platform's choice).
  // The chosen file's full path, or nothing when cancelled.
  virtual std::optional<QString> OpenFile(QWidget* parent, const QString& startFolder) = 0;
  // The file-save dialog, asking before it replaces a file; the chosen path, or nothing.
  virtual std::optional<QString> SaveFile(QWidget* parent, const QString& startFolder) = 0;
};

// The boxes in use: Qt's own unless a test replaced them.
TDialogs& Dialogs();
// Puts dialogs in place and hands back the previous ones.
std::unique_ptr<TDialogs> ReplaceDialogs(std::unique_ptr<TDialogs> dialogs);

} // namespace ornavel
