#include "acquisition/DataBlock.h"

#include <QBuffer>
#include <QFile>
#include <QIODevice>
#include <QtEndian>

#include <cstring>
#include <new>
#include <stdexcept>

using namespace DataFileFormat;

QString DataFileStatusText(DataFileStatus status) {
  switch (status) {
  case DataFileStatus::Loaded: return QStringLiteral("loaded");
  case DataFileStatus::WrongMagic: return QStringLiteral("wrong file type");
  case DataFileStatus::NoChannel: return QStringLiteral("no channel");
  case DataFileStatus::NoSample: return QStringLiteral("no sample");
  case DataFileStatus::LoadFailed: return QStringLiteral("failure while loading");
  }
  return QStringLiteral("unknown status");
}

std::optional<TChannelRecord> TDataBlock::channelRecord(qsizetype index) const {
  if (index < 0 || index >= channels.size())
    return std::nullopt;
  return channels[index];
}

namespace {

// Reads all remaining samples into block in one read. Returns false on a read error.
bool readSamples(QIODevice &file, TDataBlock &block) {
  try {
    block.samples.resize(static_cast<size_t>(block.sampleCount));
  } catch (const std::bad_alloc &) {  // more samples than memory: a failure, not a crash
    return false;
  } catch (const std::length_error &) {
    return false;
  }
  const qint64 wanted = block.sampleCount * kSampleSize;
  const qint64 got = file.read(reinterpret_cast<char *>(block.samples.data()), wanted);
  if (got < 0)
    return false;
  // The file may have shrunk since its size was taken: keep what arrived, whole records only.
  block.loadedCount = got / kSampleSize;
  block.samples.resize(static_cast<size_t>(block.loadedCount));
  block.samples.shrink_to_fit();
  if (block.loadedCount > 0)
    block.lastTime = block.samples.back().Time;
  return true;
}

// Reads the head, the records and the samples from an open device into block.
void loadFrom(QIODevice &file, TDataBlock &block) {
  const qint64 fileSize = file.size();

  const qint64 headBytes = file.read(block.head.data(), kHeadSize);
  if (headBytes < 0)
    return;
  if (headBytes < kMagicSize || std::memcmp(block.head.data(), kMagic, kMagicSize) != 0) {
    block.status = DataFileStatus::WrongMagic;
    return;
  }
  if (headBytes < kHeadSize)
    return;  // the magic is there but the channel count is cut off

  block.channelCount = qFromLittleEndian<qint32>(block.head.data() + 26);
  if (block.channelCount < 1) {
    block.status = DataFileStatus::NoChannel;
    return;
  }

  // 64-bit arithmetic: with N up to 2^31-1 the records would end far beyond 2^32.
  const qint64 samplesAt = channelRecordOffset(block.channelCount);
  if (samplesAt > fileSize)
    return;  // the head claims more channel records than the file holds

  const qint64 recordBytes = samplesAt - kHeadSize;
  const QByteArray records = file.read(recordBytes);
  if (records.size() != recordBytes)
    return;
  block.channels.reserve(block.channelCount);
  for (qint32 i = 0; i < block.channelCount; ++i) {
    const auto record = DecodeChannelRecord(
        QByteArrayView(records).sliced(static_cast<qsizetype>(i * kChannelRecordSize), kChannelRecordSize));
    if (!record)
      return;
    block.channels.append(*record);
  }

  block.sampleCount = (fileSize - samplesAt) / kSampleSize;
  block.trailingBytes = (fileSize - samplesAt) % kSampleSize;
  if (block.sampleCount < 1) {
    block.status = DataFileStatus::NoSample;
    return;
  }

  if (!readSamples(file, block))
    return;
  block.status = block.loadedCount > 0 ? DataFileStatus::Loaded : DataFileStatus::NoSample;
}

}  // namespace

TDataBlock TDataBlock::load(const QString &path) {
  TDataBlock block;
  block.fileName = path;
  block.status = DataFileStatus::LoadFailed;
  QFile file(path);
  if (file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
    loadFrom(file, block);
  return block;
}

TDataBlock TDataBlock::loadBytes(const QByteArray &bytes, const QString &fileName) {
  TDataBlock block;
  block.fileName = fileName;
  block.status = DataFileStatus::LoadFailed;
  QBuffer buffer;
  buffer.setData(bytes);
  if (buffer.open(QIODevice::ReadOnly))
    loadFrom(buffer, block);
  return block;
}
