#pragma once

#include <QStringList>

// Milliseconds to the time-axis unit (0 ms, 1 s, 2 min, 3 h); any other unit gives 0.
[[nodiscard]] double ToDisplayTime(double ms, int timeWindowUnit);

// "毫秒", "秒", "分钟", "小时", indexed by the unit code.
[[nodiscard]] QStringList TimeUnitNames();
