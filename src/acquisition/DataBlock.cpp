#include "acquisition/DataBlock.h"

#include <QBuffer>
#include <QFile>
#include <QIODevice>
#include <QtEndian>

#include <cstring>
#include <new>
#include <stdexcept>

using namespace DataFileFormat;

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
  if (!ReadDataFileHead(file, file.size(), block))
    return;
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
