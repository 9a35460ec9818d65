#pragma once

#include "acquisition/SampleRecord.h"

#include <QDateTime>
#include <QtGlobal>

#include <array>
#include <atomic>
#include <mutex>
#include <vector>

// Carries samples from the reply handler (the one producer) to the read thread
// (the one consumer). 1000 entries, empty when both indices are equal, so at most
// 999 are pending. Entries are complete before WriteIndex moves (release/acquire).
//
// When the reader falls behind and the ring is full, further samples are held in an
// overflow queue under a mutex until the reader has taken them, so nothing is
// overwritten and the order is kept. Each time the ring is found full counts as one
// overflow event.
class SampleRing {
public:
  static constexpr int kCapacity = 1000;

  SampleRing() = default;
  SampleRing(const SampleRing &) = delete;
  SampleRing &operator=(const SampleRing &) = delete;

  // Both indices to 0 and the overflow dropped. Only while no producer or consumer runs.
  void reset();

  // Producer side.
  void push(const TSampleRecord &record);
  // Stamps the record with elapsedMs() and pushes it.
  void push(qint32 channel, double value);

  // Consumer side: appends every available record in order; returns how many.
  qsizetype drain(std::vector<TSampleRecord> &out);

  [[nodiscard]] int writeIndex() const;
  [[nodiscard]] int readIndex() const;
  // Exact for the consumer; a snapshot for anybody else.
  [[nodiscard]] bool empty() const;
  [[nodiscard]] quint64 overflowEvents() const;
  [[nodiscard]] quint64 overflowedSamples() const;

  // Records the acquisition start: the wall clock for the data file, and a monotonic
  // origin for the time stamps so that clock adjustments never make times go backwards.
  void setStartTime(const QDateTime &wallClock = QDateTime::currentDateTime());
  [[nodiscard]] QDateTime startTime() const;
  // Whole milliseconds since setStartTime, truncated.
  [[nodiscard]] double elapsedMs() const;

private:
  qsizetype drainRing(std::vector<TSampleRecord> &out);

  std::array<TSampleRecord, kCapacity> m_entries{};
  alignas(64) std::atomic<int> m_writeIndex{0};
  alignas(64) std::atomic<int> m_readIndex{0};

  // Set by the producer when the ring is full, cleared by the consumer once it has
  // taken the ring and the overflow. While set, the producer writes only m_overflow.
  alignas(64) std::atomic<bool> m_overflowActive{false};
  std::mutex m_overflowMutex;
  std::vector<TSampleRecord> m_overflow;  // guarded by m_overflowMutex

  std::atomic<quint64> m_overflowEvents{0};
  std::atomic<quint64> m_overflowedSamples{0};

  std::atomic<qint64> m_startSteadyNs{0};
  std::atomic<qint64> m_startWallMs{0};
};
