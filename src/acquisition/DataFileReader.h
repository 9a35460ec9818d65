#pragma once

#include "acquisition/DataFile.h"
#include "acquisition/SampleRecord.h"

#include <QFile>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <array>
#include <future>
#include <optional>
#include <span>
#include <thread>
#include <vector>

class QIODevice;

// Result of loading a data file; the codes are the loader's stored status values.
enum class DataFileStatus : qint32 {
  Loaded = 0,
  WrongMagic = 100,
  NoChannel = 103,
  NoSample = 104,
  LoadFailed = 105,
};

// Short English meaning of a status, for the command-line tool and logs:
// "loaded", "wrong file type", "no channel", "no sample", "failure while loading".
[[nodiscard]] QString DataFileStatusText(DataFileStatus status);

// What a data file says about itself, without its samples.
struct DataFileSummary {
  QString fileName;
  qint32 channelCount = 0;             // N from the head
  double lastTime = 0.0;               // time of the last sample read, ms
  qint64 loadedCount = 0;              // samples actually read
  DataFileStatus status = DataFileStatus::LoadFailed;
  qint64 sampleCount = 0;              // (file size - (30 + 82 N)) div 20
  // Bytes of a partial record after the last whole one, ignored: what a crash or power cut
  // leaves when it cuts a write. 0 to 19.
  qint64 trailingBytes = 0;
  std::array<char, DataFileFormat::kHeadSize> head{};
  QList<TChannelRecord> channels;      // filled once the records have been read

  // Record i, or nullopt when i is not a channel of this file.
  [[nodiscard]] std::optional<TChannelRecord> channelRecord(qsizetype index) const;
};

// Reads the head and the channel records from the start of file (fileSize bytes long) into
// summary, and leaves the device at the first sample. Returns true when samples may follow;
// otherwise summary.status says why not (the sample counts are set whenever the records were
// read). The one parser of the head, shared by the whole-file loader and the streaming reader.
//
// Damaged files never crash it nor make it allocate more than the file holds:
//  - a file that cannot be read, or whose head is cut after the magic text: LoadFailed;
//  - a file too short to hold the magic text: WrongMagic;
//  - a head claiming more channel records than the file holds (N huge): LoadFailed;
//  - a negative N is "no channel" like N = 0;
//  - channel records are complete but no whole sample follows: NoSample.
[[nodiscard]] bool ReadDataFileHead(QIODevice &file, qint64 fileSize, DataFileSummary &summary);

// One pass over a data file's samples in chunks, holding two chunks in memory: while the caller
// works through one, the next is read on another thread, so copying the file out of the page
// cache (or waiting for the disk) overlaps the work. A chunk may end inside a record: the
// record is completed from the next read, so callers only ever see whole records. A trailing
// partial record is ignored, as by the whole-file loader.
class DataFileReader {
public:
  static constexpr qint64 kDefaultChunkBytes = qint64(4) << 20;

  // chunkBytes: bytes asked of the file per read (at least 1; records may straddle reads).
  explicit DataFileReader(const QString &path, qint64 chunkBytes = kDefaultChunkBytes);
  ~DataFileReader();
  DataFileReader(const DataFileReader &) = delete;
  DataFileReader &operator=(const DataFileReader &) = delete;

  // Head and records. summary().status is Loaded when samples follow; it becomes NoSample
  // when the first read finds none, LoadFailed on a read error.
  [[nodiscard]] const DataFileSummary &summary() const { return m_summary; }

  // The next whole records in file order; empty at the end or after a read error.
  // The span stays valid until the next call.
  [[nodiscard]] std::span<const TSampleRecord> next();
  // Sample bytes read so far and in all (the whole records the file held when opened).
  [[nodiscard]] qint64 bytesRead() const { return m_read; }
  [[nodiscard]] qint64 bytesTotal() const { return m_total; }
  [[nodiscard]] bool atEnd() const { return m_done; }

private:
  // Starts reading the next chunk into buffer `which`, on another thread where there is one.
  void startRead(int which);

  QFile m_file;
  DataFileSummary m_summary;
  // Each: room for a record begun by the previous chunk, then one chunk.
  std::array<std::vector<char>, 2> m_buffers;
  int m_current = 0;        // the buffer the read under way fills
  qint64 m_dataStart = 0;   // file offset of the first sample
  qint64 m_issued = 0;      // sample bytes asked for so far
  qint64 m_pendingWant = 0; // of them, by the read under way
  qint64 m_chunkBytes;
  std::array<char, DataFileFormat::kSampleSize> m_tail{};  // a record begun by the last read
  qint64 m_carry = 0;                                      // its bytes so far
  qint64 m_read = 0;
  qint64 m_total = 0;
  bool m_done = true;
  std::future<qint64> m_pending; // last: it goes (and waits for its read) first
};

// Asks the kernel to read a file into the page cache in the background, piece by piece, until
// it is all asked for or the object goes away. Used while the splash shows for the file the
// program is about to open; a file that does not exist is no error.
class DataFilePrefetch {
public:
  explicit DataFilePrefetch(const QString &path);
  ~DataFilePrefetch();
  DataFilePrefetch(const DataFilePrefetch &) = delete;
  DataFilePrefetch &operator=(const DataFilePrefetch &) = delete;

private:
  std::jthread m_thread;
};
