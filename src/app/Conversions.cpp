#include "app/Conversions.h"

#include <array>

namespace {
constexpr std::array<qint64, 4> kUnitMs = {1, 1000, 60000, 3600000};
}

qint64 ToMilliseconds(qint64 count, int unitCode) {
  if (unitCode < 0 || unitCode >= static_cast<int>(kUnitMs.size()))
    return 0;
  return count * kUnitMs[static_cast<size_t>(unitCode)];
}

double UnitToMillisecondsF(int unitCode) {
  if (unitCode < 0 || unitCode >= static_cast<int>(kUnitMs.size()))
    return 0.0;
  return static_cast<double>(kUnitMs[static_cast<size_t>(unitCode)]);
}

QString ValueFormat(int places, const QString &previous) {
  if (places < 0)
    return previous;
  return QStringLiteral("%.") + QString::number(places) + QLatin1Char('f');
}

QString FormatValue(const QString &format, double value) {
  // Only formats of the shape "%.<n>f" reach here; anything else falls back to two places.
  int places = 2;
  if (format.startsWith(QLatin1String("%.")) && format.endsWith(QLatin1Char('f'))) {
    bool ok = false;
    const int n = format.mid(2, format.size() - 3).toInt(&ok);
    if (ok && n >= 0 && n <= 20)
      places = n;
  }
  return QString::number(value, 'f', places);
}

QString TimeUnitName(int unitCode) {
  switch (unitCode) {
  case 0: return QStringLiteral("毫秒");
  case 1: return QStringLiteral("秒");
  case 2: return QStringLiteral("分钟");
  case 3: return QStringLiteral("小时");
  default: return {};
  }
}
