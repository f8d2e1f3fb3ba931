#include "ui/PaletteUnit.h"

#include <QApplication>
#include <QPalette>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

TEST(Palette, SystemColoursComeFromThePaletteAndOthersAreRedLowest) {
  QPalette palette = QApplication::palette();
  palette.setColor(QPalette::Text, QColor(1, 2, 3));
  palette.setColor(QPalette::HighlightedText, QColor(4, 5, 6));
  palette.setColor(QPalette::Highlight, QColor(7, 8, 9));
  QApplication::setPalette(palette);

  EXPECT_EQ(ToQColor(clWindowText), QColor(1, 2, 3));
  EXPECT_EQ(ToQColor(clHighlightText), QColor(4, 5, 6));
  EXPECT_EQ(ToQColor(clHighlight), QColor(7, 8, 9));
  EXPECT_EQ(ToQColor(clRed), QColor(255, 0, 0));
  EXPECT_EQ(ToQColor(0x00FF8080), QColor(0x80, 0x80, 0xFF));
  EXPECT_EQ(FromQColor(QColor(0x80, 0x80, 0xFF)), 0x00FF8080);
  EXPECT_EQ(FromQColor(Qt::red), clRed);
}

} // namespace
} // namespace ornavel
