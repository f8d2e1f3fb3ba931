#pragma once

#include <QFontMetrics>
#include <QWidget>
#include <cmath>

namespace ornavel {

// The windows were laid out in pixels for a font 13 pixels high; they grow with the desktop's
// font so that the same text fits.
inline int Scaled(const QWidget& widget, int pixels) {
  return static_cast<int>(std::lround(pixels * widget.fontMetrics().height() / 13.0));
}

} // namespace ornavel
