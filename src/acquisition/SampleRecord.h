#pragma once

#include <QtGlobal>

#include <bit>
#include <cstddef>
#include <type_traits>

// One decoded reading: the same 20 bytes in the sample ring and in the data file.
// Packed, so copy members out rather than bind references or pointers to them.
#pragma pack(push, 1)
struct TSampleRecord {
  qint32 Channel = 0;  // meter slot, 0-based
  double Value = 0.0;  // reading as decoded from the meter reply
  double Time = 0.0;   // whole milliseconds since the acquisition start
};
#pragma pack(pop)

// The file layout is written straight from memory, so the layout is fixed here.
static_assert(std::endian::native == std::endian::little, "the data file is little-endian");
static_assert(sizeof(double) == 8 && sizeof(qint32) == 4);
static_assert(sizeof(TSampleRecord) == 20);
static_assert(offsetof(TSampleRecord, Channel) == 0);
static_assert(offsetof(TSampleRecord, Value) == 4);
static_assert(offsetof(TSampleRecord, Time) == 12);
static_assert(std::is_trivially_copyable_v<TSampleRecord>);
static_assert(std::is_standard_layout_v<TSampleRecord>);
