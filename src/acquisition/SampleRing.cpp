#include "acquisition/SampleRing.h"

#include <chrono>

namespace {

[[nodiscard]] int NextIndex(int index) {
  return index + 1 == SampleRing::kCapacity ? 0 : index + 1;
}

[[nodiscard]] qint64 SteadyNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void SampleRing::reset() {
  {
    const std::lock_guard lock(m_overflowMutex);
    m_overflow.clear();
    m_overflowActive.store(false, std::memory_order_relaxed);
  }
  m_writeIndex.store(0, std::memory_order_release);
  m_readIndex.store(0, std::memory_order_release);
}

void SampleRing::push(const TSampleRecord &record) {
  if (m_overflowActive.load(std::memory_order_acquire)) {
    const std::lock_guard lock(m_overflowMutex);
    // The reader may have emptied the overflow since the flag was read.
    if (m_overflowActive.load(std::memory_order_relaxed)) {
      m_overflow.push_back(record);
      m_overflowedSamples.fetch_add(1, std::memory_order_relaxed);
      return;
    }
  }

  const int write = m_writeIndex.load(std::memory_order_relaxed);
  const int next = NextIndex(write);
  if (next == m_readIndex.load(std::memory_order_acquire)) {
    const std::lock_guard lock(m_overflowMutex);
    m_overflow.push_back(record);
    m_overflowActive.store(true, std::memory_order_release);
    m_overflowEvents.fetch_add(1, std::memory_order_relaxed);
    m_overflowedSamples.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  m_entries[static_cast<size_t>(write)] = record;
  m_writeIndex.store(next, std::memory_order_release);
}

void SampleRing::push(qint32 channel, double value) {
  push(TSampleRecord{channel, value, elapsedMs()});
}

qsizetype SampleRing::drainRing(std::vector<TSampleRecord> &out) {
  int read = m_readIndex.load(std::memory_order_relaxed);
  const int write = m_writeIndex.load(std::memory_order_acquire);
  qsizetype taken = 0;
  while (read != write) {
    out.push_back(m_entries[static_cast<size_t>(read)]);
    read = NextIndex(read);
    ++taken;
  }
  if (taken > 0)
    m_readIndex.store(read, std::memory_order_release);
  return taken;
}

qsizetype SampleRing::drain(std::vector<TSampleRecord> &out) {
  qsizetype taken = drainRing(out);
  if (!m_overflowActive.load(std::memory_order_acquire))
    return taken;

  std::vector<TSampleRecord> held;
  {
    const std::lock_guard lock(m_overflowMutex);
    // While the flag is set the producer leaves the ring alone, so this takes the
    // entries that were written before the overflow began, and only those.
    taken += drainRing(out);
    held.swap(m_overflow);
    m_overflowActive.store(false, std::memory_order_release);
  }
  out.insert(out.end(), held.begin(), held.end());
  return taken + static_cast<qsizetype>(held.size());
}

int SampleRing::writeIndex() const {
  return m_writeIndex.load(std::memory_order_acquire);
}

int SampleRing::readIndex() const {
  return m_readIndex.load(std::memory_order_acquire);
}

bool SampleRing::empty() const {
  return m_readIndex.load(std::memory_order_acquire) ==
             m_writeIndex.load(std::memory_order_acquire) &&
         !m_overflowActive.load(std::memory_order_acquire);
}

quint64 SampleRing::overflowEvents() const {
  return m_overflowEvents.load(std::memory_order_relaxed);
}

quint64 SampleRing::overflowedSamples() const {
  return m_overflowedSamples.load(std::memory_order_relaxed);
}

void SampleRing::setStartTime(const QDateTime &wallClock) {
  m_startWallMs.store(wallClock.toMSecsSinceEpoch(), std::memory_order_relaxed);
  m_startSteadyNs.store(SteadyNowNs(), std::memory_order_release);
}

QDateTime SampleRing::startTime() const {
  return QDateTime::fromMSecsSinceEpoch(m_startWallMs.load(std::memory_order_relaxed));
}

double SampleRing::elapsedMs() const {
  const qint64 elapsedNs = SteadyNowNs() - m_startSteadyNs.load(std::memory_order_acquire);
  return static_cast<double>(elapsedNs / 1'000'000);
}
