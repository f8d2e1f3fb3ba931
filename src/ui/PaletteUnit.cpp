#include "PaletteUnit.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>

namespace ornavel {
namespace {

QPalette::ColorRole RoleOf(std::uint8_t systemIndex) {
  switch (systemIndex) {
  case 1:  // desktop background
  case 5:  // window
  case 12: // application work space
    return QPalette::Base;
  case 2: // active caption
  case 13:
    return QPalette::Highlight;
  case 9: // caption text
  case 14:
    return QPalette::HighlightedText;
  case 0:  // scroll bar
  case 4:  // menu
  case 15: // button face
  case 22: // 3D light
    return QPalette::Button;
  case 16: // button shadow
    return QPalette::Mid;
  case 17: // grey text
    return QPalette::PlaceholderText;
  case 18:
    return QPalette::ButtonText;
  case 20: // button highlight
    return QPalette::Light;
  case 21: // 3D dark shadow
    return QPalette::Shadow;
  case 23:
    return QPalette::ToolTipText;
  case 24:
    return QPalette::ToolTipBase;
  case 26: // hot light
    return QPalette::Link;
  case 3: // inactive caption
  case 6: // window frame
  case 10:
  case 11:
    return QPalette::Window;
  default: // 7 menu text, 8 window text, 19 inactive caption text and the rest
    return QPalette::Text;
  }
}

} // namespace

QColor ToQColor(TColor color, const QWidget* widget) {
  const auto value = static_cast<std::uint32_t>(color);
  if ((value & 0xFF000000u) == 0xFF000000u) {
    const QPalette palette = widget != nullptr ? widget->palette() : QApplication::palette();
    return palette.color(RoleOf(static_cast<std::uint8_t>(value & 0xFFu)));
  }
  return QColor(static_cast<int>(value & 0xFFu), static_cast<int>((value >> 8) & 0xFFu),
                static_cast<int>((value >> 16) & 0xFFu));
}

TColor FromQColor(const QColor& color) {
  return static_cast<TColor>(static_cast<std::uint32_t>(color.red()) |
                             (static_cast<std::uint32_t>(color.green()) << 8) |
                             (static_cast<std::uint32_t>(color.blue()) << 16));
}

} // namespace ornavel
