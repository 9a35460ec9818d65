#include "acquisition/DataFileSyncer.h"

#include <cerrno>

#include <unistd.h>

int DataFileSyncer::FdataSync(int fd) {
  for (;;) {
    if (::fdatasync(fd) == 0)
      return 0;
    if (errno != EINTR)
      return errno;
  }
}

DataFileSyncer::DataFileSyncer(int fd, SyncFunction sync, std::chrono::milliseconds interval)
    : m_fd(fd), m_sync(sync ? std::move(sync) : SyncFunction(&FdataSync)), m_interval(interval) {
  m_thread = std::thread([this] { run(); });
}

DataFileSyncer::~DataFileSyncer() { stop(); }

void DataFileSyncer::stop() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  if (m_thread.joinable())
    m_thread.join();
}

void DataFileSyncer::run() {
  for (;;) {
    {
      std::unique_lock lock(m_mutex);
      if (m_wake.wait_for(lock, m_interval, [this] { return m_stop; }))
        return;
    }
    // Nothing written since the last sync: nothing to wait for on the disk.
    if (!m_dirty.exchange(false, std::memory_order_acq_rel))
      continue;
    const int rc = m_sync(m_fd);
    if (rc != 0) {
      m_error.store(rc, std::memory_order_release);
      return;
    }
    m_syncs.fetch_add(1, std::memory_order_acq_rel);
  }
}
