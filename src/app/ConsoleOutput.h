#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>

// Writes text to a C stream at once, as UTF-8: the command-line tools' messages must not wait in
// a buffer behind a crash or a kill.
inline void Print(FILE *stream, const QString &text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
  std::fflush(stream);
}
