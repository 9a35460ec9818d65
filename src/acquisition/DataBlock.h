#pragma once

#include "acquisition/DataFile.h"
#include "acquisition/DataFileReader.h"
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

// A loaded data file: its summary and all its samples in memory. The head is parsed by
// ReadDataFileHead (see there for damaged files); a trailing partial sample is ignored.
// Samples are kept as read; their channel index is not checked against channelCount,
// so users must skip samples outside 0..channelCount-1.
struct TDataBlock : DataFileSummary {
  SampleVector samples;                // all samples of the file, in file order

  // Loads path: the head, the channel records and all samples in one read.
  [[nodiscard]] static TDataBlock load(const QString &path);
  // The same from the bytes of a file already in memory; fileName is only recorded.
  [[nodiscard]] static TDataBlock loadBytes(const QByteArray &bytes, const QString &fileName = {});
};
