#pragma once

#include <QString>

// Converts a date-time pattern written the way the settings store it ("hh:nn:ss",
// "yyyy-mm-dd hh:nn", Delphi style) into the pattern QDateTime::toString() expects.
//   nn / n           minutes                      -> mm / m
//   mm / m           month, or minutes right after an hour specifier -> MM / M or mm / m
//   mmm / mmmm       month name                   -> MMM / MMMM
//   yy, yyyy, d..dddd, h, hh, s, ss, z, zzz        kept
//   am/pm, a/p, ampm AM/PM marker                 -> AP or ap
//   t / tt           short / long time            -> h:mm / h:mm:ss
//   "text" 'text'    literal text                 -> 'text'
// Any other letter is quoted so that Qt shows it as it stands; other characters pass through.
[[nodiscard]] QString QtDateTimeFormat(const QString &delphiFormat);
