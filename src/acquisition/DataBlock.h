#pragma once

#include "acquisition/DataFile.h"
#include "acquisition/SampleRecord.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <array>
#include <memory>
#include <new>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

// Result of loading a data file; the codes are the loader's stored status values.
enum class DataFileStatus : qint32 {
  Loaded = 0,
  WrongMagic = 100,
  NoChannel = 103,
  NoSample = 104,
  LoadFailed = 105,
};

// Leaves elements uninitialised on resize(): the loader fills them with one read at once,
// and zeroing hundreds of megabytes first would cost about as much as the read itself.
template <class T>
struct UninitializedAllocator : std::allocator<T> {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);
  template <class U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };
  UninitializedAllocator() = default;
  template <class U>
  UninitializedAllocator(const UninitializedAllocator<U> &) noexcept {}

  template <class U>
  void construct(U *) noexcept {}
  template <class U, class... Args>
  void construct(U *p, Args &&...args) {
    ::new (static_cast<void *>(p)) U(std::forward<Args>(args)...);
  }
};

using SampleVector = std::vector<TSampleRecord, UninitializedAllocator<TSampleRecord>>;

// Short English meaning of a status, for the command-line tool and logs:
// "loaded", "wrong file type", "no channel", "no sample", "failure while loading".
[[nodiscard]] QString DataFileStatusText(DataFileStatus status);

// A loaded data file.
//
// Damaged files never crash the loader nor make it allocate more than the file holds:
//  - a file that cannot be opened, or whose head is cut after the magic text: LoadFailed;
//  - a file too short to hold the magic text: WrongMagic;
//  - a head claiming more channel records than the file holds (N huge): LoadFailed;
//  - a negative N is "no channel" like N = 0;
//  - channel records are complete but no whole sample follows: NoSample;
//  - a trailing partial sample is ignored.
// Samples are kept as read; their channel index is not checked against channelCount,
// so users must skip samples outside 0..channelCount-1.
struct TDataBlock {
  SampleVector samples;                // all samples of the file, in file order
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

  // Loads path: the head, the channel records and all samples in one read.
  [[nodiscard]] static TDataBlock load(const QString &path);
  // The same from the bytes of a file already in memory; fileName is only recorded.
  [[nodiscard]] static TDataBlock loadBytes(const QByteArray &bytes, const QString &fileName = {});

  // Record i, or nullopt when i is not a channel of this file.
  [[nodiscard]] std::optional<TChannelRecord> channelRecord(qsizetype index) const;
};
