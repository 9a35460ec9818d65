#include "acquisition/DataFileWriter.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <unistd.h>

using namespace DataFileFormat;

namespace {

QString systemError(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

bool isNoSpace(int code) { return code == ENOSPC || code == EDQUOT || code == EFBIG; }

}  // namespace

DataFileWriter::~DataFileWriter() {
  // A caller that wanted to know about a failing close called close() itself.
  if (m_file.isOpen())
    m_file.close();
}

bool DataFileWriter::fail(DataFileWriteError error, const QString &text) {
  m_error = error;
  m_errorString = text;
  return false;
}

bool DataFileWriter::open(const QString &path) {
  if (m_file.isOpen())
    m_file.close();
  m_size = 0;
  m_samples = 0;
  m_headWritten = false;
  m_error = DataFileWriteError::None;
  m_errorString.clear();

  m_file.setFileName(path);
  // A new file rather than the old one cut to nothing: charts still drawing an earlier
  // recording of this name read it back from its open descriptor, and must keep seeing it.
  // A symbolic link stays a link; where the name cannot be removed the file is truncated.
  if (const QFileInfo old(path); old.isFile() && !old.isSymLink())
    (void)::unlink(QFile::encodeName(path).constData());
  // Unbuffered: each write() reaches the system at once, so the file on disk is at most
  // one pass behind and a loader sees only what we have written.
  if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
    QString reason = m_file.errorString();
    const QFileInfo dir(QFileInfo(path).absolutePath());
    if (!dir.isDir())
      reason = QStringLiteral("folder %1 does not exist").arg(dir.filePath());
    return fail(DataFileWriteError::CannotCreate, QStringLiteral("cannot create %1: %2").arg(path, reason));
  }
  return true;
}

bool DataFileWriter::ready(bool needHead) {
  if (m_error != DataFileWriteError::None)
    return false;  // sticky: the caller has been told once already
  if (!m_file.isOpen())
    return fail(DataFileWriteError::NotReady, QStringLiteral("no data file is open"));
  if (needHead != m_headWritten)
    return fail(DataFileWriteError::NotReady, needHead ? QStringLiteral("samples before the file head")
                                                       : QStringLiteral("file head written twice"));
  return true;
}

qint64 DataFileWriter::writeWhole(const char *data, qint64 length, qint64 unit) {
  m_file.unsetError();
  errno = 0;
  const qint64 written = m_file.write(data, length);
  const int code = errno;
  if (written == length) {
    m_size += length;
    return length;
  }

  const qint64 kept = written > 0 ? written / unit * unit : 0;
  QString reason = m_file.error() != QFileDevice::NoError ? m_file.errorString()
                   : code != 0                            ? systemError(code)
                                                          : QStringLiteral("short write");
  const bool noSpace = m_file.error() == QFileDevice::ResourceError || isNoSpace(code);

  // Cut back to the last whole record so the file stays loadable.
  const qint64 goodSize = m_size + kept;
  if (written > kept || written < 0) {
    if (!m_file.resize(goodSize) || !m_file.seek(goodSize))
      reason += QStringLiteral("; cutting the file back to %1 bytes failed: %2").arg(goodSize).arg(m_file.errorString());
  }
  m_size = goodSize;
  fail(noSpace ? DataFileWriteError::NoSpace : DataFileWriteError::WriteFailed,
       QStringLiteral("writing %1 failed: %2").arg(m_file.fileName(), reason));
  return kept;
}

bool DataFileWriter::writeHead(const QList<ChannelInfo> &channels) {
  if (!ready(false))
    return false;
  QByteArray bytes = EncodeFileHead(static_cast<qint32>(channels.size()));
  bytes.reserve(kHeadSize + kChannelRecordSize * channels.size());
  for (qsizetype i = 0; i < channels.size(); ++i)
    bytes += EncodeChannelRecord(static_cast<qint32>(i + 1), channels[i]);
  // A head without all its channel records is no file at all: keep all or nothing.
  if (writeWhole(bytes.constData(), bytes.size(), bytes.size()) != bytes.size())
    return false;
  m_headWritten = true;
  return true;
}

bool DataFileWriter::append(std::span<const TSampleRecord> samples) {
  if (!ready(true))
    return false;
  if (samples.empty())
    return true;
  const auto length = static_cast<qint64>(samples.size_bytes());
  const qint64 kept = writeWhole(reinterpret_cast<const char *>(samples.data()), length, kSampleSize);
  m_samples += kept / kSampleSize;
  return kept == length;
}

bool DataFileWriter::flush() {
  if (m_error != DataFileWriteError::None)
    return false;
  if (!m_file.isOpen())
    return fail(DataFileWriteError::NotReady, QStringLiteral("no data file is open"));
  if (::fdatasync(m_file.handle()) != 0) {
    const int code = errno;
    return fail(isNoSpace(code) ? DataFileWriteError::NoSpace : DataFileWriteError::WriteFailed,
                QStringLiteral("writing %1 to disk failed: %2").arg(m_file.fileName(), systemError(code)));
  }
  return true;
}

bool DataFileWriter::close() {
  if (!m_file.isOpen())
    return m_error == DataFileWriteError::None;
  // QFile reports a failing close(2), which is where some file systems report late
  // write errors.
  m_file.unsetError();
  m_file.close();
  if (m_file.error() != QFileDevice::NoError && m_error == DataFileWriteError::None)
    fail(DataFileWriteError::WriteFailed,
         QStringLiteral("closing %1 failed: %2").arg(m_file.fileName(), m_file.errorString()));
  return m_error == DataFileWriteError::None;
}
