#include "acquisition/DataFile.h"

#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

using namespace DataFileFormat;

// Field offsets inside a channel record.
constexpr int kNumberAt = 0;
constexpr int kPhysicalAt = 4;
constexpr int kTitleAt = 8;
constexpr int kUnitAt = 29;
constexpr int kRangeMinAt = 50;
constexpr int kRangeMaxAt = 58;
constexpr int kScaleAt = 66;
constexpr int kOffsetAt = 74;

QByteArray encodeGbk(const QString &text) {
  QStringEncoder enc("GBK");
  if (!enc.isValid())
    return text.toLocal8Bit();
  return enc.encode(text);
}

QString decodeGbk(QByteArrayView bytes) {
  QStringDecoder dec("GBK");
  if (!dec.isValid())
    return QString::fromLocal8Bit(bytes);
  return dec.decode(bytes);
}

// Bytes taken by the GBK (or GB18030) character starting at bytes[i].
qsizetype gbkCharLength(const QByteArray &bytes, qsizetype i) {
  const auto lead = static_cast<unsigned char>(bytes[i]);
  if (lead < 0x80)
    return 1;
  if (i + 1 < bytes.size()) {
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    if (second >= 0x30 && second <= 0x39)  // four-byte GB18030 form
      return 4;
  }
  return 2;
}

void putInt32(char *at, qint32 value) { qToLittleEndian(value, at); }
void putDouble(char *at, double value) {
  quint64 bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  qToLittleEndian(bits, at);
}
qint32 getInt32(const char *at) { return qFromLittleEndian<qint32>(at); }
double getDouble(const char *at) {
  const quint64 bits = qFromLittleEndian<quint64>(at);
  double value = 0.0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

void putShortString(char *at, const QString &text) {
  const QByteArray bytes = ShortStringBytes(text);
  at[0] = static_cast<char>(bytes.size());
  std::memcpy(at + 1, bytes.constData(), static_cast<size_t>(bytes.size()));
}

QString getShortString(const char *at) {
  const int length = std::min<int>(static_cast<unsigned char>(at[0]), kShortStringBytes);
  return decodeGbk(QByteArrayView(at + 1, length));
}

}  // namespace

QByteArray ShortStringBytes(const QString &text) {
  const QByteArray bytes = encodeGbk(text);
  qsizetype kept = 0;
  while (kept < bytes.size()) {
    const qsizetype next = kept + gbkCharLength(bytes, kept);
    if (next > kShortStringBytes)
      break;
    kept = next;
  }
  return bytes.left(kept);
}

QByteArray EncodeFileHead(qint32 channelCount) {
  QByteArray head(kHeadSize, '\0');
  std::memcpy(head.data(), kMagic, kMagicSize);
  putInt32(head.data() + 26, channelCount);
  return head;
}

QByteArray EncodeChannelRecord(qint32 number, const ChannelInfo &info) {
  QByteArray record(kChannelRecordSize, '\0');
  char *at = record.data();
  putInt32(at + kNumberAt, number);
  putInt32(at + kPhysicalAt, info.physicalChannel);
  putShortString(at + kTitleAt, info.title);
  putShortString(at + kUnitAt, info.measureUnit);
  putDouble(at + kRangeMinAt, info.rangeMin);
  putDouble(at + kRangeMaxAt, info.rangeMax);
  putDouble(at + kScaleAt, info.scale);
  putDouble(at + kOffsetAt, info.offset);
  return record;
}

std::optional<TChannelRecord> DecodeChannelRecord(QByteArrayView bytes) {
  if (bytes.size() < kChannelRecordSize)
    return std::nullopt;
  const char *at = bytes.data();
  TChannelRecord record;
  record.number = getInt32(at + kNumberAt);
  record.info.physicalChannel = getInt32(at + kPhysicalAt);
  record.info.title = getShortString(at + kTitleAt);
  record.info.measureUnit = getShortString(at + kUnitAt);
  record.info.rangeMin = getDouble(at + kRangeMinAt);
  record.info.rangeMax = getDouble(at + kRangeMaxAt);
  record.info.scale = getDouble(at + kScaleAt);
  record.info.offset = getDouble(at + kOffsetAt);
  return record;
}

QString DurationText(double lastTimeMs) {
  constexpr double kLimit = 9007199254740992.0;  // 2^53
  qint64 d = 0;
  if (std::isfinite(lastTimeMs) && lastTimeMs > 0.0)
    d = static_cast<qint64>(std::llround(std::min(lastTimeMs, kLimit)));
  return QString::number(d / 3600000) + QStringLiteral("小时") + QString::number((d % 3600000) / 60000) +
         QStringLiteral("分钟") + QString::number((d % 60000) / 1000) + QStringLiteral("秒") +
         QString::number(d % 1000) + QStringLiteral("毫秒");
}

bool IsDataFileName(const QString &path) {
  return QFileInfo(path).suffix().toLower() == QLatin1String("zvdat");
}
