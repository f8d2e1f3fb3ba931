#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>

class QSettings;

namespace ornavel {

// Where a window sits, as stored under "FormSettings".
struct TFormPlacement {
  int Flags = 0;
  int PixelsPerInch = 96;
  QPoint MinPosition{-1, -1};
  QPoint MaxPosition{-1, -1};
  // Left and top of the window's frame, and the size inside the frame; stored as left, top,
  // left + width, top + height.
  QRect Normal;
};

// Writes the placement; each text value also under its name followed by the screen size, so
// that every screen size keeps its own. Raises when the store cannot be written.
void SaveFormPlacement(QSettings& settings, const TFormPlacement& placement, QSize screenSize);

// The normal rectangle to restore, or nothing when none is stored or it was stored at another
// pixel density. Missing or malformed numbers keep the edges of current. Raises when the store
// cannot be read.
std::optional<QRect> LoadFormPlacement(QSettings& settings, const QRect& current, int pixelsPerInch,
                                       QSize screenSize);

} // namespace ornavel
