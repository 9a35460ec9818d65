#include "EventLog.h"

#include "Frame.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace metersim {

std::int64_t monotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

bool EventLog::open(const std::string &path, std::string *error) {
  m_file.reset(std::fopen(path.c_str(), "we"));
  if (!m_file) {
    *error = "cannot open log '" + path + "': " + std::strerror(errno);
    return false;
  }
  std::setvbuf(m_file.get(), nullptr, _IOLBF, 1 << 14);
  return true;
}

void EventLog::comment(std::string_view text) {
  if (m_file)
    std::fprintf(m_file.get(), "# %.*s\n", static_cast<int>(text.size()), text.data());
}

void EventLog::write(std::int64_t timeNs, std::string_view port, int address,
                     std::string_view kind, std::string_view note, std::string_view value,
                     std::string_view bytes) {
  if (!m_file)
    return;
  char addr[16] = "-";
  if (address >= 0)
    std::snprintf(addr, sizeof addr, "%03d", address);
  const auto field = [](std::string_view s) { return s.empty() ? std::string_view("-") : s; };
  const std::string_view n = field(note);
  const std::string_view v = field(value);
  // A lone '-' byte is written as \x2d so that it cannot be read as "no bytes".
  const std::string escaped = bytes.empty()  ? std::string("-")
                              : bytes == "-" ? std::string("\\x2d")
                                             : escapeBytes(bytes);
  std::fprintf(m_file.get(), "%lld.%03lld %.*s %s %.*s %.*s %.*s %s\n",
               static_cast<long long>(timeNs / 1'000'000),
               static_cast<long long>(timeNs / 1000 % 1000), static_cast<int>(port.size()),
               port.data(), addr, static_cast<int>(kind.size()), kind.data(),
               static_cast<int>(n.size()), n.data(), static_cast<int>(v.size()), v.data(),
               escaped.c_str());
}

void EventLog::close() {
  if (m_file)
    std::fflush(m_file.get());
  m_file.reset();
}

} // namespace metersim
