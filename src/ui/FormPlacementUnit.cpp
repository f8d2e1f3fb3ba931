#include "FormPlacementUnit.h"

#include "core/FormatUnit.h"

#include <QSettings>
#include <QStringList>
#include <array>
#include <stdexcept>

namespace ornavel {
namespace {

const QString Group = QStringLiteral("FormSettings");

QString SizedName(const QString& name, QSize screenSize) {
  return name + QString::fromStdString(Format("(%dx%d)", screenSize.width(), screenSize.height()));
}

QString FourNumbers(int a, int b, int c, int d) {
  return QString::fromStdString(Format("%d,%d,%d,%d", a, b, c, d));
}

// Each of the four numbers, or the fallback's where it is missing or malformed.
std::array<int, 4> ParseFour(const QString& text, const std::array<int, 4>& fallback) {
  std::array<int, 4> numbers = fallback;
  const QStringList parts = text.split(u',');
  for (qsizetype i = 0; i < 4 && i < parts.size(); ++i) {
    bool valid = false;
    const int number = parts[i].trimmed().toInt(&valid);
    if (valid)
      numbers[static_cast<std::size_t>(i)] = number;
  }
  return numbers;
}

void CheckStatus(const QSettings& settings, const char* what) {
  if (settings.status() != QSettings::NoError)
    throw std::runtime_error(
        Format("Cannot %s the window placement in %s", what, settings.fileName().toStdString()));
}

std::optional<int> ReadInteger(const QSettings& settings, const QString& name) {
  const QVariant value = settings.value(name);
  if (!value.isValid())
    return std::nullopt;
  bool valid = false;
  const int number = value.toInt(&valid);
  if (!valid)
    throw std::runtime_error(Format("Invalid integer value for %s in %s", name.toStdString(),
                                    settings.fileName().toStdString()));
  return number;
}

std::optional<QString> ReadText(const QSettings& settings, const QString& name, QSize screenSize) {
  for (const QString& key : {SizedName(name, screenSize), name}) {
    const QVariant value = settings.value(key);
    if (value.isValid())
      return value.toString();
  }
  return std::nullopt;
}

} // namespace

void SaveFormPlacement(QSettings& settings, const TFormPlacement& placement, QSize screenSize) {
  const QRect& normal = placement.Normal;
  const QString minMax = FourNumbers(placement.MinPosition.x(), placement.MinPosition.y(),
                                     placement.MaxPosition.x(), placement.MaxPosition.y());
  const QString normPos = FourNumbers(normal.left(), normal.top(), normal.left() + normal.width(),
                                      normal.top() + normal.height());
  settings.beginGroup(Group);
  settings.setValue(QStringLiteral("FormVersion"), 0);
  settings.setValue(QStringLiteral("Flags"), placement.Flags);
  settings.setValue(QStringLiteral("PixelsPerInch"), placement.PixelsPerInch);
  for (const auto& [name, value] : {std::pair{QStringLiteral("MinMaxPos"), minMax},
                                    std::pair{QStringLiteral("NormPos"), normPos}}) {
    settings.setValue(name, value);
    settings.setValue(SizedName(name, screenSize), value);
  }
  settings.endGroup();
  settings.sync();
  CheckStatus(settings, "save");
}

std::optional<QRect> LoadFormPlacement(QSettings& settings, const QRect& current, int pixelsPerInch,
                                       QSize screenSize) {
  CheckStatus(settings, "read");
  settings.beginGroup(Group);
  const int version = ReadInteger(settings, QStringLiteral("FormVersion")).value_or(0);
  const int storedPixelsPerInch =
      ReadInteger(settings, QStringLiteral("PixelsPerInch")).value_or(pixelsPerInch);
  const auto normPos = ReadText(settings, QStringLiteral("NormPos"), screenSize);
  const auto minMaxPos = ReadText(settings, QStringLiteral("MinMaxPos"), screenSize);
  settings.endGroup();
  if (version < 0 || (!normPos && !minMaxPos) || storedPixelsPerInch != pixelsPerInch)
    return std::nullopt;
  const std::array<int, 4> edges = ParseFour(
      normPos.value_or(QString()), {current.left(), current.top(), current.left() + current.width(),
                                    current.top() + current.height()});
  return QRect(QPoint(edges[0], edges[1]), QSize(edges[2] - edges[0], edges[3] - edges[1]));
}

} // namespace ornavel
