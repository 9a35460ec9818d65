#pragma once

#include <QByteArray>
#include <QtEndian>

#include <cstring>

// Little-endian bytes written out by hand in data-file tests.
namespace lebytes {

inline QByteArray hex(const char *text) { return QByteArray::fromHex(QByteArray(text)); }

inline QByteArray le32(qint32 v) {
  QByteArray b(4, '\0');
  qToLittleEndian(v, b.data());
  return b;
}

inline QByteArray le64(double v) {
  quint64 bits = 0;
  std::memcpy(&bits, &v, 8);
  QByteArray b(8, '\0');
  qToLittleEndian(bits, b.data());
  return b;
}

// One 20-byte sample record: channel, value, time.
inline QByteArray sample(qint32 channel, double value, double time) {
  return le32(channel) + le64(value) + le64(time);
}

} // namespace lebytes
