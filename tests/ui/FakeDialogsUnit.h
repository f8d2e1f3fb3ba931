#pragma once

#include "ui/DialogsUnit.h"

#include <QString>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel::test {

// One box as the dialog opened it.
struct TBox {
  std::string Kind; // "error", "yesno", "input", "color", "file", "save"
  QString Title;
  QString Text;   // message, question or prompt
  QString Preset; // input preset, custom colour A or start folder
  bool DefaultYes = false;
  TColor Initial = 0;
};

// Answers boxes from queues the test fills, records every box, and fails the test when a box
// opens that it has no answer for.
class TFakeDialogs final : public TDialogs {
public:
  std::vector<TBox> Boxes;
  std::deque<bool> YesNo;
  std::deque<std::optional<QString>> Inputs; // nothing: Cancel
  std::deque<std::optional<TColor>> Colors;
  std::deque<std::optional<QString>> Files;

  void ShowError(QWidget*, const QString& message) override {
    Boxes.push_back({"error", {}, message, {}, false, 0});
  }
  bool AskYesNo(QWidget*, const QString& title, const QString& text, bool defaultYes) override {
    Boxes.push_back({"yesno", title, text, {}, defaultYes, 0});
    return Next(YesNo, false);
  }
  QString InputText(QWidget*, const QString& title, const QString& prompt,
                    const QString& preset) override {
    Boxes.push_back({"input", title, prompt, preset, false, 0});
    return Next(Inputs, std::optional<QString>()).value_or(preset);
  }
  std::optional<TColor> ChooseColor(QWidget*, TColor initial, const QString& customA) override {
    Boxes.push_back({"color", {}, {}, customA, false, initial});
    return Next(Colors, std::optional<TColor>());
  }
  std::optional<QString> OpenFile(QWidget*, const QString& startFolder) override {
    Boxes.push_back({"file", {}, {}, startFolder, false, 0});
    return Next(Files, std::optional<QString>());
  }
  std::optional<QString> SaveFile(QWidget*, const QString& startFolder) override {
    Boxes.push_back({"save", {}, {}, startFolder, false, 0});
    return Next(Files, std::optional<QString>());
  }

private:
  template <class T>
  T Next(std::deque<T>& answers, T fallback) {
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected box: " << Boxes.back().Kind;
      return fallback;
    }
    T answer = std::move(answers.front());
    answers.pop_front();
    return answer;
  }
};

// Puts a fake in place for the scope and gives the real boxes back afterwards.
class TFakeDialogsInPlace {
public:
  TFakeDialogsInPlace() {
    auto fake = std::make_unique<TFakeDialogs>();
    FFake = fake.get();
    FPrevious = ReplaceDialogs(std::move(fake));
  }
  ~TFakeDialogsInPlace() { ReplaceDialogs(std::move(FPrevious)); }
  TFakeDialogsInPlace(const TFakeDialogsInPlace&) = delete;
  TFakeDialogsInPlace& operator=(const TFakeDialogsInPlace&) = delete;

  TFakeDialogs& operator*() const { return *FFake; }
  TFakeDialogs* operator->() const { return FFake; }

private:
  TFakeDialogs* FFake;
  std::unique_ptr<TDialogs> FPrevious;
};

} // namespace ornavel::test
