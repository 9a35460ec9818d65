#include "acquisition/TimeUnits.h"

#include "app/Conversions.h"

double ToDisplayTime(double ms, int timeWindowUnit) {
  const double factor = UnitToMillisecondsF(timeWindowUnit);
  return factor == 0.0 ? 0.0 : ms / factor;
}

QStringList TimeUnitNames() {
  QStringList names;
  for (int unit = static_cast<int>(TimeUnit::Milliseconds); unit <= static_cast<int>(TimeUnit::Hours);
       ++unit)
    names << TimeUnitName(unit);
  return names;
}
