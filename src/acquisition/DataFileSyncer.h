#pragma once

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Forces the data file onto the disk on a thread of its own, so that a power cut loses at most
// about one interval of readings. The read thread only marks the file as written (one atomic
// store): a disk that takes seconds to sync never holds up the draining of the ring, whose
// samples then wait in the file's page cache, not in the ring.
class DataFileSyncer {
public:
  // Returns 0, or the errno of a failed sync. Replaceable, so a test can play a slow disk.
  using SyncFunction = std::function<int(int fd)>;
  // Twice a second: with a sync that itself takes up to half a second, written data is on the
  // disk within a second.
  static constexpr std::chrono::milliseconds kInterval{500};

  [[nodiscard]] static int FdataSync(int fd);

  DataFileSyncer(int fd, SyncFunction sync = {}, std::chrono::milliseconds interval = kInterval);
  ~DataFileSyncer();
  DataFileSyncer(const DataFileSyncer &) = delete;
  DataFileSyncer &operator=(const DataFileSyncer &) = delete;

  // Called by the writer after each write; never blocks.
  void written() noexcept { m_dirty.store(true, std::memory_order_release); }
  // Ends the thread, after the sync under way if any. The file must stay open until then.
  void stop();

  [[nodiscard]] quint64 syncs() const { return m_syncs.load(std::memory_order_acquire); }
  // The errno of the first failed sync, 0 while all went well. No sync is tried after one failed.
  [[nodiscard]] int error() const { return m_error.load(std::memory_order_acquire); }

private:
  void run();

  const int m_fd;
  SyncFunction m_sync;
  const std::chrono::milliseconds m_interval;
  std::atomic<bool> m_dirty{false};
  std::atomic<quint64> m_syncs{0};
  std::atomic<int> m_error{0};
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_stop = false;  // guarded by m_mutex
  std::thread m_thread;
};
