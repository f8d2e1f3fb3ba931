#include "ui/AppBarUnit.h"

#include <QByteArray>
#include <QSettings>
#include <QString>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

QSettings Store() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Ornavel", "AppBarTests");
}

TBarSettingsBytes StoredBytes() {
  const QByteArray value = Store().value("FormSettings/AppBar").toByteArray();
  TBarSettingsBytes bytes{};
  if (value.size() == static_cast<qsizetype>(bytes.size()))
    std::copy(value.begin(), value.end(), bytes.begin());
  return bytes;
}

void Store(const QVariant& value) {
  QSettings store = Store();
  store.clear();
  store.setValue("FormSettings/AppBar", value);
  store.sync();
}

QByteArray Bytes(const TBarSettingsRecord& record) {
  const TBarSettingsBytes bytes = EncodeBarSettings(record);
  return {reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())};
}

class AppBar : public testing::Test {
protected:
  AppBar() {
    Bar.SetRootKey("Ornavel", "AppBarTests");
    Bar.SetKeyName("FormSettings");
    Stored.Edge = TAppBarEdge::abeRight;
    Stored.AutoHide = true;
    Stored.VertDockSize = 321;
    Stored.Reserved1 = {1, 2, 3};
    Stored.Reserved2 = {7, 8, 9};
  }

  TAppBar Bar;
  TBarSettingsRecord Stored;
};

// Only a binary value of exactly 84 bytes replaces the settings; anything else keeps them.
TEST_F(AppBar, LoadsOnlyAnEightyFourByteBinaryValue) {
  const QByteArray whole = Bytes(Stored);
  for (const QVariant& value :
       {QVariant(whole.left(83)), QVariant(whole + '\0'), QVariant(QString::fromLatin1(whole))}) {
    Store(value);
    EXPECT_FALSE(Bar.LoadSettings());
    EXPECT_EQ(Bar.Settings().VertDockSize, 64);
  }
  Store().clear();
  EXPECT_FALSE(Bar.LoadSettings());
  Store(whole);
  EXPECT_TRUE(Bar.LoadSettings());
  EXPECT_EQ(Bar.Settings().VertDockSize, 321);
}

// A loaded record goes back byte for byte, reserved bytes included, and the docked edge is kept
// although this session (offscreen) can only float.
TEST_F(AppBar, WhereDockingIsImpossibleTheBarFloatsAndKeepsItsStoredRecord) {
  Store(Bytes(Stored));
  ASSERT_TRUE(Bar.LoadSettings());
  Bar.move(40, 50);
  Bar.UpdateBar();
  EXPECT_EQ(Bar.Edge(), TAppBarEdge::abeFloat);
  EXPECT_EQ(Bar.pos(), QPoint(40, 50));
  ASSERT_TRUE(Bar.SaveSettings());
  EXPECT_EQ(StoredBytes(), EncodeBarSettings(Stored));
}

} // namespace
} // namespace ornavel
