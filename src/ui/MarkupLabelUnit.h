#pragma once

#include "RuleSentenceUnit.h"

#include <QColor>
#include <QLabel>
#include <string>
#include <vector>

namespace ornavel {

// The pieces as Qt rich text: each link an anchor whose target is its parameter, drawn in
// linkColor, the hot one (under the mouse) in blue; every text HTML-escaped.
QString MarkupToRichText(const std::vector<TMarkupPiece>& pieces, const QString& hotLink,
                         const QColor& linkColor);

// A label that shows label markup and reports a clicked link's parameter and text.
class TMarkupLabel : public QLabel {
  Q_OBJECT

public:
  explicit TMarkupLabel(QWidget* parent);

  void SetMarkup(const std::string& markup);
  // What the user reads: the pieces' text with a line break for each break.
  QString PlainText() const;

signals:
  void LinkClick(const QString& param, const QString& text);

protected:
  void leaveEvent(QEvent* event) override;

private:
  void Render();
  void Hover(const QString& param);
  void Activate(const QString& param);

  std::vector<TMarkupPiece> FPieces;
  QString FHotLink;
};

} // namespace ornavel
