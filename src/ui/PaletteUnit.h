#pragma once

#include "core/ColorUnit.h"

#include <QColor>

class QWidget;

namespace ornavel {

// A colour as drawn: system colours come from the widget's palette (the application's without
// a widget), other values are red, green and blue with red in the lowest byte.
QColor ToQColor(TColor color, const QWidget* widget = nullptr);
// The red-green-blue value of a drawn colour.
TColor FromQColor(const QColor& color);

} // namespace ornavel
