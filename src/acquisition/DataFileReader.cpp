#include "acquisition/DataFileReader.h"

#include <QByteArray>
#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::optional<TChannelRecord> DataFileSummary::channelRecord(qsizetype index) const {
  if (index < 0 || index >= channels.size())
    return std::nullopt;
  return channels[index];
}

bool ReadDataFileHead(QIODevice &file, qint64 fileSize, DataFileSummary &summary) {
  summary.status = DataFileStatus::LoadFailed;
  const qint64 headBytes = file.read(summary.head.data(), kHeadSize);
  if (headBytes < 0)
    return false;
  if (headBytes < kMagicSize || std::memcmp(summary.head.data(), kMagic, kMagicSize) != 0) {
    summary.status = DataFileStatus::WrongMagic;
    return false;
  }
  if (headBytes < kHeadSize)
    return false;  // the magic is there but the channel count is cut off

  summary.channelCount = qFromLittleEndian<qint32>(summary.head.data() + 26);
  if (summary.channelCount < 1) {
    summary.status = DataFileStatus::NoChannel;
    return false;
  }

  // 64-bit arithmetic: with N up to 2^31-1 the records would end far beyond 2^32.
  const qint64 samplesAt = channelRecordOffset(summary.channelCount);
  if (samplesAt > fileSize)
    return false;  // the head claims more channel records than the file holds

  const qint64 recordBytes = samplesAt - kHeadSize;
  const QByteArray records = file.read(recordBytes);
  if (records.size() != recordBytes)
    return false;
  summary.channels.reserve(summary.channelCount);
  for (qint32 i = 0; i < summary.channelCount; ++i) {
    const auto record = DecodeChannelRecord(
        QByteArrayView(records).sliced(static_cast<qsizetype>(i * kChannelRecordSize), kChannelRecordSize));
    if (!record)
      return false;
    summary.channels.append(*record);
  }

  summary.sampleCount = (fileSize - samplesAt) / kSampleSize;
  summary.trailingBytes = (fileSize - samplesAt) % kSampleSize;
  if (summary.sampleCount < 1) {
    summary.status = DataFileStatus::NoSample;
    return false;
  }
  return true;
}

DataFileReader::DataFileReader(const QString &path, qint64 chunkBytes)
    : m_file(path), m_chunkBytes(std::max<qint64>(chunkBytes, 1)) {
  m_summary.fileName = path;
  m_summary.status = DataFileStatus::LoadFailed;
  if (!m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
    return;
  // One pass front to back: let the kernel read ahead generously.
  ::posix_fadvise(m_file.handle(), 0, 0, POSIX_FADV_SEQUENTIAL);
  if (!ReadDataFileHead(m_file, m_file.size(), m_summary))
    return;
  m_total = m_summary.sampleCount * kSampleSize;
  m_dataStart = m_file.pos();
  for (auto &b : m_buffers)
    b.resize(static_cast<size_t>(kSampleSize + m_chunkBytes));
  m_done = false;
  m_summary.status = DataFileStatus::Loaded;
  startRead(0);
}

DataFileReader::~DataFileReader() {
  if (m_pending.valid())
    m_pending.wait();
}

void DataFileReader::startRead(int which) {
  const qint64 want = std::min(m_chunkBytes, m_total - m_issued);
  const off_t offset = static_cast<off_t>(m_dataStart + m_issued);
  m_issued += want;
  m_pendingWant = want;
  char *dst = m_buffers[static_cast<size_t>(which)].data() + kSampleSize;
  const int fd = m_file.handle();
  m_current = which;
  auto read = [fd, dst, want, offset]() -> qint64 {
    qint64 got = 0;
    while (got < want) {
      const ssize_t n = ::pread(fd, dst + got, static_cast<size_t>(want - got), offset + static_cast<off_t>(got));
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0)
        return -1;
      if (n == 0)
        break; // the file shrank since its size was taken
      got += n;
    }
    return got;
  };
  try {
    m_pending = std::async(std::launch::async, read);
  } catch (const std::system_error &) {
    m_pending = std::async(std::launch::deferred, read); // no thread to be had: read when asked
  }
}

std::span<const TSampleRecord> DataFileReader::next() {
  while (!m_done && m_pending.valid()) {
    const int which = m_current;
    const qint64 want = m_pendingWant;
    const qint64 got = m_pending.get();
    if (got < 0) {
      m_summary.status = DataFileStatus::LoadFailed;
      m_done = true;
      break;
    }
    m_read += got;
    // The file may have shrunk since its size was taken: keep what arrived, whole records only.
    if (got < want || m_read >= m_total)
      m_done = true;
    else
      startRead(1 - which); // the other buffer: the caller is done with what it held
    // The record the last chunk began goes right in front of this chunk's bytes.
    char *data = m_buffers[static_cast<size_t>(which)].data() + kSampleSize;
    char *start = data - m_carry;
    if (m_carry > 0)
      std::memcpy(start, m_tail.data(), static_cast<size_t>(m_carry));
    const qint64 have = m_carry + got;
    const qint64 whole = have / kSampleSize;
    m_carry = have % kSampleSize;
    std::memcpy(m_tail.data(), start + whole * kSampleSize, static_cast<size_t>(m_carry));
    if (whole == 0)
      continue; // the bytes so far wait in front of the next chunk
    m_summary.loadedCount += whole;
    const std::span<const TSampleRecord> out(reinterpret_cast<const TSampleRecord *>(start), static_cast<size_t>(whole));
    m_summary.lastTime = out.back().Time;
    return out;
  }
  if (m_summary.status == DataFileStatus::Loaded && m_summary.loadedCount == 0)
    m_summary.status = DataFileStatus::NoSample;
  return {};
}

DataFilePrefetch::DataFilePrefetch(const QString &path) {
  const QByteArray name = QFile::encodeName(path);
  const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return;
  m_thread = std::jthread([fd](std::stop_token stop) {
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
      // In pieces, so that the end of the splash stops it within one piece.
      constexpr off_t kPiece = off_t(16) << 20;
      for (off_t at = 0; at < st.st_size && !stop.stop_requested(); at += kPiece)
        ::posix_fadvise(fd, at, std::min<off_t>(kPiece, st.st_size - at), POSIX_FADV_WILLNEED);
    }
    ::close(fd);
  });
}

DataFilePrefetch::~DataFilePrefetch() = default;  // the jthread asks to stop and joins
