#include "acquisition/RecordingMarker.h"

#include "acquisition/DataFile.h"
#include "acquisition/SampleRecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cstring>

#include <fcntl.h>
#include <unistd.h>

using namespace DataFileFormat;

RecordingMarker RecordingMarker::In(const QString &writableDir) {
  return RecordingMarker(writableDir + QStringLiteral("recording.running"));
}

bool RecordingMarker::write(const RecordingMarkerInfo &info, QString *error) const {
  const QJsonObject o{{QStringLiteral("file"), info.dataFile},
                      {QStringLiteral("start"), info.startTime.toString(Qt::ISODateWithMs)},
                      {QStringLiteral("saveMode"), info.saveMode}};
  // QSaveFile writes a temporary file, syncs it and renames it over the marker.
  QSaveFile f(m_path);
  if (!f.open(QIODevice::WriteOnly) || f.write(QJsonDocument(o).toJson()) < 0 || !f.commit()) {
    if (error)
      *error = f.errorString();
    return false;
  }
  // The rename itself is on the disk once the folder is.
  const int dir = ::open(QFile::encodeName(QFileInfo(m_path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    (void)::fsync(dir);
    ::close(dir);
  }
  return true;
}

bool RecordingMarker::remove() const { return !QFile::exists(m_path) || QFile::remove(m_path); }

std::optional<RecordingMarkerInfo> RecordingMarker::read() const {
  QFile f(m_path);
  if (!f.open(QIODevice::ReadOnly))
    return std::nullopt;
  const QJsonDocument doc = QJsonDocument::fromJson(f.read(64 * 1024));
  const QJsonObject o = doc.object();
  RecordingMarkerInfo info;
  info.dataFile = o.value(QStringLiteral("file")).toString();
  info.startTime = QDateTime::fromString(o.value(QStringLiteral("start")).toString(), Qt::ISODateWithMs);
  info.saveMode = o.value(QStringLiteral("saveMode")).toInt();
  // A marker cut short by a crash of its own still says that a recording ran, but not where.
  if (info.dataFile.isEmpty())
    return std::nullopt;
  return info;
}

std::optional<double> LastSampleTime(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return std::nullopt;
  char head[kHeadSize];
  if (f.read(head, kHeadSize) != kHeadSize || std::memcmp(head, kMagic, kMagicSize) != 0)
    return std::nullopt;
  qint32 n = 0;
  std::memcpy(&n, head + 26, sizeof n);
  if (n < 1)
    return std::nullopt;
  const qint64 samples = (f.size() - channelRecordOffset(n)) / kSampleSize;
  if (samples < 1)
    return std::nullopt;
  TSampleRecord last{};
  if (!f.seek(channelRecordOffset(n) + (samples - 1) * kSampleSize) ||
      f.read(reinterpret_cast<char *>(&last), kSampleSize) != kSampleSize)
    return std::nullopt;
  return double(last.Time);
}

QString UnfinishedRecording::text() const {
  const QString what = QStringLiteral("上次采集没有正常结束（文件 %1，时长 %2），").arg(QDir::toNativeSeparators(dataFile), duration);
  return offerSave ? what + QStringLiteral("是否保存这次采集的数据？") : what + QStringLiteral("数据已保存在该文件中。");
}

std::optional<UnfinishedRecording> FindUnfinishedRecording(const RecordingMarker &marker,
                                                           const QString &temporaryFile) {
  const std::optional<RecordingMarkerInfo> info = marker.read();
  if (!info)
    return std::nullopt;
  const std::optional<double> last = LastSampleTime(info->dataFile);
  if (!last)
    return std::nullopt;  // died before its first sample: nothing was lost
  UnfinishedRecording r;
  r.dataFile = info->dataFile;
  r.duration = DurationText(*last);
  // Only the temporary file is ever overwritten by a Start; an automatically named file is safe.
  r.offerSave = QFileInfo(info->dataFile).absoluteFilePath() == QFileInfo(temporaryFile).absoluteFilePath();
  return r;
}
