#pragma once

#include "EventLog.h"
#include "Faults.h"
#include "Frame.h"
#include "Options.h"

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace metersim {

struct PortRuntimeConfig {
  std::uint32_t faultMask = 0;
  double faultRate = 0;
  std::int64_t silenceNs = 1'000'000'000;
  std::uint32_t seed = 0;
  int baud = 9600;
  bool paceBaud = false;
  std::int64_t startNs = 0; // time zero of the generators
};

// One simulated serial line: a pseudo-terminal and the meters on it.
//
// Everything runs on the caller's poll loop: the owner asks for the next deadline and the file
// descriptor to watch, and calls back when it is due, readable or writable. The master side is
// non-blocking; frames that the pty cannot take at once wait in a queue in order, and each is
// logged when the kernel has taken its last byte.
class SimPort {
public:
  SimPort(PortSpec setup, const PortRuntimeConfig &config, EventLog &log);
  ~SimPort();
  SimPort(const SimPort &) = delete;
  SimPort &operator=(const SimPort &) = delete;

  [[nodiscard]] bool open(std::string *error);
  void close(std::int64_t nowNs, std::string_view why);
  // Time zero of the generators; active meters send their first frame at once.
  void start(std::int64_t startNs);

  [[nodiscard]] const std::string &name() const { return m_spec.name; }
  [[nodiscard]] const std::string &devicePath() const { return m_devicePath; }
  [[nodiscard]] int fd() const { return m_master; } // -1 once closed
  [[nodiscard]] bool wantsWrite() const { return m_master >= 0 && m_blocked; }
  [[nodiscard]] std::int64_t nextDeadlineNs() const; // INT64_MAX when nothing is scheduled
  [[nodiscard]] std::uint64_t overruns() const { return m_overruns; }

  void handleReadable(std::int64_t nowNs);
  void handleWritable(std::int64_t nowNs);
  void runDue(std::int64_t nowNs);

private:
  struct Meter {
    MeterSpec setup;
    FaultInjector faults;
    std::uint64_t frames = 0;       // frames generated so far: the generators' frame index
    std::int64_t nextDueNs = 0;     // active meters: absolute time of the next frame
    std::int64_t silentUntilNs = 0; // silence fault in force until then
  };
  struct OutItem {
    std::string bytes;
    int address = -1;
    std::string_view kind;
    std::string_view note;
    std::string value;
  };

  void request(int address, std::string_view bytes, std::int64_t nowNs);
  void transmit(Meter &meter, std::int64_t timeNs, std::int64_t nowNs, bool reply);
  void pumpOutput(std::int64_t nowNs);
  void discardUnreadInput(std::int64_t nowNs);
  [[nodiscard]] std::int64_t frameIntervalNs(const Meter &meter) const;

  PortSpec m_spec;
  PortRuntimeConfig m_config;
  EventLog &m_log;
  std::vector<Meter> m_meters;
  int m_master = -1;
  int m_slave = -1; // held open so that the program may close and reopen the device
  std::string m_devicePath;
  RequestScanner m_scanner;
  std::multimap<std::int64_t, std::size_t> m_replies; // due time -> meter index
  std::deque<OutItem> m_out;
  std::size_t m_written = 0; // bytes of m_out.front() already taken by the kernel
  bool m_blocked = false;    // the pty took less than offered; wait for POLLOUT
  std::int64_t m_byteNs = 0;
  std::int64_t m_lineFreeNs = 0;
  std::int64_t m_unreadSinceNs = -1;
  std::uint64_t m_bytesToPty = 0;  // all bytes the pty has taken from us
  std::uint64_t m_takenAtMark = 0; // of those, taken by the reader at m_unreadSinceNs
  std::uint64_t m_overruns = 0;
};

} // namespace metersim
