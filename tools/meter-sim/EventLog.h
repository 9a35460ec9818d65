#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace metersim {

// CLOCK_MONOTONIC in nanoseconds; the same clock as QElapsedTimer on Linux, so a test can put
// its own events on the log's time line.
[[nodiscard]] std::int64_t monotonicNs();

// The event log, one line per event, flushed line by line so that a test can read it while the
// simulator runs and nothing is lost when it is killed. Without a path every call is a no-op.
//
//   TIME PORT ADDR KIND NOTE VALUE BYTES
//
// TIME is CLOCK_MONOTONIC in ms with three decimals; ADDR three digits or "-"; NOTE, VALUE and
// BYTES are "-" when empty; BYTES are escaped with escapeBytes(). The README lists the kinds.
class EventLog {
public:
  EventLog() = default;
  EventLog(const EventLog &) = delete;
  EventLog &operator=(const EventLog &) = delete;

  [[nodiscard]] bool open(const std::string &path, std::string *error);
  void comment(std::string_view text); // "# text"
  void write(std::int64_t timeNs, std::string_view port, int address, std::string_view kind,
             std::string_view note, std::string_view value, std::string_view bytes);
  void close();

private:
  struct Closer {
    void operator()(std::FILE *f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> m_file;
};

} // namespace metersim
