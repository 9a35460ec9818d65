#pragma once

#include <QString>
#include <QtGlobal>

// Time-unit codes as stored in Sys.ini (keys ending in "Unit").
enum class TimeUnit : int { Milliseconds = 0, Seconds = 1, Minutes = 2, Hours = 3 };

// count x unit in 64-bit milliseconds; an unknown unit code gives 0.
[[nodiscard]] qint64 ToMilliseconds(qint64 count, int unitCode);

// The same factor as a float, for rescaling time axes; 0 for an unknown code.
[[nodiscard]] double UnitToMillisecondsF(int unitCode);

// "%.<places>f"; a negative number of places keeps the previous format.
[[nodiscard]] QString ValueFormat(int places, const QString &previous);

// Applies a "%.<n>f" value format made by ValueFormat to a value.
[[nodiscard]] QString FormatValue(const QString &format, double value);

// The display names of the time-unit codes ("毫秒", "秒", "分钟", "小时"); empty for others.
[[nodiscard]] QString TimeUnitName(int unitCode);
