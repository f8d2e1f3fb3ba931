#include "MarkupLabelUnit.h"

#include "PaletteUnit.h"
#include "core/ColorUnit.h"

namespace ornavel {
namespace {

QString Decoded(const std::string& text) {
  return QString::fromStdString(text);
}

QString Anchor(const TMarkupPiece& link, const QColor& color) {
  return QStringLiteral("<a href=\"%1\" style=\"color:%2; text-decoration:underline\">%3</a>")
      .arg(Decoded(link.Param).toHtmlEscaped(), color.name(), Decoded(link.Text).toHtmlEscaped());
}

} // namespace

QString MarkupToRichText(const std::vector<TMarkupPiece>& pieces, const QString& hotLink,
                         const QColor& linkColor) {
  const QColor hotColor = ToQColor(clBlue);
  QString html;
  for (const TMarkupPiece& piece : pieces) {
    switch (piece.Kind) {
    case TMarkupPiece::TKind::Text:
      html += Decoded(piece.Text).toHtmlEscaped();
      break;
    case TMarkupPiece::TKind::Break:
      html += QStringLiteral("<br>");
      break;
    case TMarkupPiece::TKind::Link:
      html += Anchor(piece,
                     !hotLink.isEmpty() && Decoded(piece.Param) == hotLink ? hotColor : linkColor);
      break;
    }
  }
  return html;
}

TMarkupLabel::TMarkupLabel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::RichText);
  setWordWrap(true);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  connect(this, &QLabel::linkHovered, this, &TMarkupLabel::Hover);
  connect(this, &QLabel::linkActivated, this, &TMarkupLabel::Activate);
}

void TMarkupLabel::SetMarkup(const std::string& markup) {
  FPieces = ParseMarkup(markup);
  Render();
}

QString TMarkupLabel::PlainText() const {
  QString text;
  for (const TMarkupPiece& piece : FPieces)
    text += piece.Kind == TMarkupPiece::TKind::Break ? QStringLiteral("\n") : Decoded(piece.Text);
  return text;
}

void TMarkupLabel::leaveEvent(QEvent* event) {
  Hover({});
  QLabel::leaveEvent(event);
}

void TMarkupLabel::Render() {
  setText(MarkupToRichText(FPieces, FHotLink, palette().color(QPalette::WindowText)));
}

// Re-rendered only when the hot link changes, so the hover signal that a new text may bring
// again does not loop.
void TMarkupLabel::Hover(const QString& param) {
  if (param == FHotLink)
    return;
  FHotLink = param;
  Render();
}

void TMarkupLabel::Activate(const QString& param) {
  for (const TMarkupPiece& piece : FPieces) {
    if (piece.Kind == TMarkupPiece::TKind::Link && Decoded(piece.Param) == param) {
      emit LinkClick(param, Decoded(piece.Text));
      return;
    }
  }
  emit LinkClick(param, {});
}

} // namespace ornavel
