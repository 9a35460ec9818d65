#pragma once

#include "acquisition/DataFile.h"
#include "acquisition/SampleRecord.h"

#include <QFile>
#include <QList>
#include <QString>

#include <span>

// Why a write to the data file failed. Stored nowhere; explicit values keep logs comparable.
enum class DataFileWriteError : int {
  None = 0,
  CannotCreate = 1,  // open(): folder missing or not writable, path is a folder, ...
  NotReady = 2,      // no file open, head missing before samples, or head written twice
  NoSpace = 3,       // the disk or the allowed file size is full
  WriteFailed = 4,   // any other write, sync or close failure
};

// Writes one recording. Used by the read thread on its own thread; nothing here touches
// the GUI and every failure comes back as a value (plus errorString()) so the caller can
// tell the operator and stop cleanly.
//
// Whatever was written before a failure stays a loadable file: a short write is cut
// back to the last whole sample record. After a failure the writer refuses further
// writes, so a recording never goes on silently with a hole in it.
class DataFileWriter {
public:
  DataFileWriter() = default;
  ~DataFileWriter();
  DataFileWriter(const DataFileWriter &) = delete;
  DataFileWriter &operator=(const DataFileWriter &) = delete;

  // Creates the file, replacing an existing one.
  [[nodiscard]] bool open(const QString &path);
  // The head and one record per channel, in one write. Once per file, before any sample.
  [[nodiscard]] bool writeHead(const QList<ChannelInfo> &channels);
  // One pass of samples in one write. An empty pass writes nothing and succeeds.
  [[nodiscard]] bool append(std::span<const TSampleRecord> samples);
  // Writes are handed to the system as they happen; this also forces them onto the disk.
  [[nodiscard]] bool flush();
  // Closes the file; also reports a failure of the final write-back. Safe to call twice.
  [[nodiscard]] bool close();

  [[nodiscard]] bool isOpen() const { return m_file.isOpen(); }
  // The descriptor, for syncing from another thread; -1 when no file is open.
  [[nodiscard]] int handle() const { return m_file.handle(); }
  [[nodiscard]] DataFileWriteError error() const { return m_error; }
  [[nodiscard]] QString errorString() const { return m_errorString; }
  [[nodiscard]] QString fileName() const { return m_file.fileName(); }
  // Bytes of whole records in the file, and the samples among them.
  [[nodiscard]] qint64 size() const { return m_size; }
  [[nodiscard]] qint64 sampleCount() const { return m_samples; }

private:
  bool ready(bool needHead);
  // Writes bytes in one call; keeps only whole units of `unit` bytes on a short write.
  // Returns the bytes kept.
  qint64 writeWhole(const char *data, qint64 length, qint64 unit);
  bool fail(DataFileWriteError error, const QString &text);

  QFile m_file;
  qint64 m_size = 0;
  qint64 m_samples = 0;
  bool m_headWritten = false;
  DataFileWriteError m_error = DataFileWriteError::None;
  QString m_errorString;
};
