#pragma once

#include <QColor>

// Colours in Sys.ini are Windows colour values: 0x00BBGGRR, red in the lowest byte.
// The top byte (system-colour and "none" markers of other programs) is ignored: such a value is
// read as the plain RGB colour of its lower three bytes.
[[nodiscard]] inline QColor ColorFromWin(int value) {
  const auto v = static_cast<quint32>(value);
  return QColor(static_cast<int>(v & 0xFFu), static_cast<int>((v >> 8) & 0xFFu),
                static_cast<int>((v >> 16) & 0xFFu));
}

[[nodiscard]] inline int WinFromColor(const QColor &color) {
  const QColor c = color.toRgb();
  return c.red() | (c.green() << 8) | (c.blue() << 16);
}
