// Fuzzes the .zvdat loader with the bytes of a whole file.
//
// Whatever the bytes, the loader must return one of its status codes, never read more samples
// than the bytes hold, and keep samples exactly as they are in the file. Run with
// -malloc_limit_mb so an allocation far beyond the input size is reported.
#include "FuzzCheck.h"
#include "acquisition/DataBlock.h"
#include "acquisition/DataFile.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

using namespace DataFileFormat;

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

qint32 le32At(const uint8_t *p) {
  return static_cast<qint32>(static_cast<quint32>(p[0]) | static_cast<quint32>(p[1]) << 8 |
                             static_cast<quint32>(p[2]) << 16 | static_cast<quint32>(p[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const auto fileSize = static_cast<qint64>(size);
  const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data),
                                                   static_cast<qsizetype>(size));
  const TDataBlock block = TDataBlock::loadBytes(bytes, QStringLiteral("fuzz.zvdat"));

  // The bytes can never hold more samples than this, whatever the head says.
  const qint64 maxSamples = fileSize > kHeadSize ? (fileSize - kHeadSize) / kSampleSize : 0;
  CHECK(block.loadedCount >= 0 && block.loadedCount <= maxSamples);
  CHECK(static_cast<qint64>(block.samples.size()) == block.loadedCount);
  CHECK(block.channels.size() <= block.channelCount || block.channelCount < 1);
  CHECK(!DataFileStatusText(block.status).isEmpty());
  // Only a partial record is ever left over.
  CHECK(block.trailingBytes >= 0 && block.trailingBytes < kSampleSize);

  const bool magic = fileSize >= kMagicSize && std::memcmp(data, kMagic, kMagicSize) == 0;
  switch (block.status) {
  case DataFileStatus::WrongMagic:
    CHECK(!magic);
    CHECK(block.channels.isEmpty());
    break;
  case DataFileStatus::NoChannel:
    CHECK(magic && fileSize >= kHeadSize);
    CHECK(block.channelCount < 1 && block.channelCount == le32At(data + 26));
    CHECK(block.channels.isEmpty() && block.loadedCount == 0);
    break;
  case DataFileStatus::NoSample:
    CHECK(magic && block.channelCount >= 1);
    CHECK(block.channels.size() == block.channelCount);
    CHECK(fileSize - channelRecordOffset(block.channelCount) < kSampleSize);
    CHECK(block.trailingBytes == fileSize - channelRecordOffset(block.channelCount));
    CHECK(block.loadedCount == 0);
    break;
  case DataFileStatus::LoadFailed:
    // From memory nothing can fail to read: only a cut head or too many channel records.
    CHECK(magic);
    CHECK(fileSize < kHeadSize || channelRecordOffset(le32At(data + 26)) > fileSize);
    CHECK(block.loadedCount == 0);
    break;
  case DataFileStatus::Loaded: {
    CHECK(magic && block.channelCount >= 1 && block.channelCount == le32At(data + 26));
    const qint64 samplesAt = channelRecordOffset(block.channelCount);
    CHECK(samplesAt <= fileSize);
    CHECK(block.channels.size() == block.channelCount);
    CHECK(block.sampleCount == (fileSize - samplesAt) / kSampleSize);
    CHECK(block.loadedCount == block.sampleCount && block.loadedCount >= 1);
    CHECK(block.trailingBytes == (fileSize - samplesAt) % kSampleSize);
    // Samples are kept byte for byte as they are in the file.
    CHECK(std::memcmp(block.samples.data(), data + samplesAt,
                      static_cast<size_t>(block.loadedCount * kSampleSize)) == 0);
    CHECK(sameBits(block.lastTime, block.samples.back().Time));
    CHECK(std::memcmp(block.head.data(), data, kHeadSize) == 0);
    break;
  }
  default:
    CHECK(false);  // not one of the loader's codes
  }

  // Channel records: the numbers read back as written, and a record written from what was read
  // reads back the same numbers (texts may be cut or replaced, numbers never).
  for (qsizetype i = -1; i <= block.channels.size(); ++i) {
    const auto record = block.channelRecord(i);
    CHECK(record.has_value() == (i >= 0 && i < block.channels.size()));
    if (!record)
      continue;
    const uint8_t *at = data + channelRecordOffset(i);
    CHECK(record->number == le32At(at) && record->info.physicalChannel == le32At(at + 4));
    CHECK(record->info.title.size() <= kShortStringBytes && record->info.measureUnit.size() <= kShortStringBytes);
    const QByteArray again = EncodeChannelRecord(record->number, record->info);
    CHECK(again.size() == kChannelRecordSize);
    CHECK(ShortStringBytes(record->info.title).size() <= kShortStringBytes);
    const auto back = DecodeChannelRecord(again);
    CHECK(back && back->number == record->number);
    CHECK(back->info.physicalChannel == record->info.physicalChannel);
    CHECK(sameBits(back->info.rangeMin, record->info.rangeMin) && sameBits(back->info.rangeMax, record->info.rangeMax));
    CHECK(sameBits(back->info.scale, record->info.scale) && sameBits(back->info.offset, record->info.offset));
  }
  CHECK(!DurationText(block.lastTime).isEmpty());
  return 0;
}
