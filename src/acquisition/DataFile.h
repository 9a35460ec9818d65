#pragma once

// The .zvdat recording format: a 30-byte head, one 82-byte record per channel, then
// 20-byte samples to the end of the file. Little-endian, no padding anywhere.
// Texts are GBK on disk and QString everywhere else.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace DataFileFormat {

inline constexpr qint64 kHeadSize = 30;
inline constexpr qint64 kChannelRecordSize = 82;
inline constexpr qint64 kSampleSize = 20;
inline constexpr int kShortStringBytes = 20;  // text bytes of a short string, after its length byte

// The first 24 bytes of every head: the length byte 23 and the magic text.
inline constexpr char kMagic[] = "\x17ZERVO Data File ver 1.0";
inline constexpr qint64 kMagicSize = sizeof(kMagic) - 1;
static_assert(kMagicSize == 24);

// Offset of channel record i (0-based).
[[nodiscard]] constexpr qint64 channelRecordOffset(qint64 index) {
  return kHeadSize + kChannelRecordSize * index;
}

}  // namespace DataFileFormat

// What a channel contributes to its record in the file.
struct ChannelInfo {
  int physicalChannel = 0;
  QString title;
  QString measureUnit;
  double rangeMin = 0.0;
  double rangeMax = 0.0;
  double scale = 1.0;
  double offset = 0.0;

  friend bool operator==(const ChannelInfo &, const ChannelInfo &) = default;
};

// One channel record as read back.
struct TChannelRecord {
  qint32 number = 0;  // 1-based as written; readers do not rely on it
  ChannelInfo info;
};

// A data file's name: its extension, lower-cased, is "zvdat".
[[nodiscard]] bool IsDataFileName(const QString &path);

// The 30-byte head for channelCount channels.
[[nodiscard]] QByteArray EncodeFileHead(qint32 channelCount);

// The 82-byte record of channel `number` (1-based).
[[nodiscard]] QByteArray EncodeChannelRecord(qint32 number, const ChannelInfo &info);

// Parses an 82-byte record; nullopt when fewer bytes are given. A length byte above 20
// (a damaged file) is read as 20, so a text never reaches into the next field.
[[nodiscard]] std::optional<TChannelRecord> DecodeChannelRecord(QByteArrayView bytes);

// The GBK form of text, cut to at most 20 bytes. The cut never splits a double-byte
// character: it keeps the last whole character that fits.
[[nodiscard]] QByteArray ShortStringBytes(const QString &text);

// "<h>小时<m>分钟<s>秒<ms>毫秒" for a time in milliseconds, rounded to whole
// milliseconds. Negative or non-finite times (a damaged file) read as 0; times beyond
// 2^53 ms are held there so the integer arithmetic stays defined.
[[nodiscard]] QString DurationText(double lastTimeMs);
