#include "SimPort.h"

#include "Generator.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <random>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace metersim {

namespace {

// Frames the pty could not take yet; beyond this an active meter skips frame slots rather than
// piling up an ever longer backlog.
constexpr std::size_t kMaxQueued = 256;
// An active meter this far behind its schedule (the process was stalled) starts afresh from
// now instead of sending the missed frames in one burst.
constexpr std::int64_t kMaxLagNs = 100'000'000;
// Input nobody has read for this long is discarded, as a real line loses what no port listens
// to. Otherwise a program opening the port would first receive seconds-old frames, and at high
// rates the pty would fill up and block.
constexpr std::int64_t kStaleInputNs = 500'000'000;
// Pacing catches up after scheduling delays (a busy machine) so that the average rate holds,
// but a line that was idle starts afresh.
constexpr std::int64_t kPaceSlackNs = 50'000'000;

std::uint32_t meterSeed(std::uint32_t seed, int port, int address) {
  std::seed_seq seq{seed, static_cast<std::uint32_t>(port), static_cast<std::uint32_t>(address)};
  std::uint32_t out = 0;
  seq.generate(&out, &out + 1);
  return out;
}

bool makeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0)
    return false;
  cfmakeraw(&t);
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

} // namespace

SimPort::SimPort(PortSpec setup, const PortRuntimeConfig &config, EventLog &log)
    : m_spec(std::move(setup)), m_config(config), m_log(log) {
  // 8N1: ten bit times per byte.
  m_byteNs = std::max<std::int64_t>(1, 10'000'000'000LL / std::max(1, m_config.baud));
  for (const MeterSpec &m : m_spec.meters) {
    Meter meter{m, FaultInjector(m_config.faultMask, m_config.faultRate,
                                 meterSeed(m_config.seed, m_spec.number, m.address))};
    m_meters.push_back(std::move(meter));
  }
}

SimPort::~SimPort() {
  if (m_master >= 0)
    ::close(m_master);
  if (m_slave >= 0)
    ::close(m_slave);
}

bool SimPort::open(std::string *error) {
  if (openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0) {
    *error = m_spec.name + ": openpty failed: " + std::strerror(errno);
    return false;
  }
  char path[PATH_MAX] = {};
  const bool ok = ttyname_r(m_slave, path, sizeof path) == 0 && makeRaw(m_master) &&
                  makeRaw(m_slave) && fcntl(m_master, F_SETFD, FD_CLOEXEC) == 0 &&
                  fcntl(m_slave, F_SETFD, FD_CLOEXEC) == 0 &&
                  fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK) == 0;
  if (!ok) {
    *error = m_spec.name + ": setting up the pseudo-terminal failed: " + std::strerror(errno);
    return false;
  }
  m_devicePath = path;
  return true;
}

void SimPort::start(std::int64_t startNs) {
  m_config.startNs = startNs;
  m_lineFreeNs = startNs;
  for (Meter &m : m_meters)
    m.nextDueNs = startNs;
}

void SimPort::close(std::int64_t nowNs, std::string_view why) {
  if (m_master < 0)
    return;
  ::close(m_master);
  ::close(m_slave);
  m_master = m_slave = -1;
  m_out.clear();
  m_replies.clear();
  m_written = 0;
  m_blocked = false;
  m_log.write(nowNs, m_spec.name, -1, "CLOSE", why, {}, {});
}

std::int64_t SimPort::frameIntervalNs(const Meter &meter) const {
  if (meter.setup.intervalUs > 0)
    return meter.setup.intervalUs * 1000;
  return m_byteNs * static_cast<std::int64_t>(kReadingFrameSize); // back to back on the line
}

std::int64_t SimPort::nextDeadlineNs() const {
  if (m_master < 0)
    return INT64_MAX;
  std::int64_t next = INT64_MAX;
  for (const Meter &m : m_meters)
    if (m.setup.mode == MeterMode::Active)
      next = std::min(next, m.nextDueNs);
  if (!m_replies.empty())
    next = std::min(next, m_replies.begin()->first);
  if (!m_out.empty() && !m_blocked)
    next = std::min(next, m_config.paceBaud && m_written == 0 ? m_lineFreeNs : 0);
  return next;
}

void SimPort::handleReadable(std::int64_t nowNs) {
  char buffer[4096];
  while (m_master >= 0) {
    const ssize_t n = ::read(m_master, buffer, sizeof buffer);
    if (n > 0) {
      for (const RequestScanner::Event &e : m_scanner.feed(std::string_view(buffer, n))) {
        switch (e.kind) {
        case RequestScanner::Event::Kind::Request:
          request(e.address, e.bytes, nowNs);
          break;
        case RequestScanner::Event::Kind::Bad:
          m_log.write(nowNs, m_spec.name, -1, "RX-BAD", {}, {}, e.bytes);
          break;
        case RequestScanner::Event::Kind::Junk:
          m_log.write(nowNs, m_spec.name, -1, "RX-JUNK", {}, {}, e.bytes);
          break;
        }
      }
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
      return;
    // We hold the slave open, so the master should never see end of file or a hang-up;
    // if it does anyway, stop rather than spin on a dead descriptor.
    close(nowNs, "read-error");
  }
}

void SimPort::request(int address, std::string_view bytes, std::int64_t nowNs) {
  const auto it = std::find_if(m_meters.begin(), m_meters.end(), [address](const Meter &m) {
    return m.setup.mode == MeterMode::Query && m.setup.address == address;
  });
  if (it == m_meters.end()) {
    // Another meter's request on the shared line: not ours to answer.
    m_log.write(nowNs, m_spec.name, address, "RX-OTHER", {}, {}, bytes);
    return;
  }
  m_log.write(nowNs, m_spec.name, address, "RX-REQUEST", {}, {}, bytes);
  m_replies.emplace(nowNs + it->setup.delayUs * 1000,
                    static_cast<std::size_t>(it - m_meters.begin()));
}

void SimPort::handleWritable(std::int64_t nowNs) {
  m_blocked = false;
  pumpOutput(nowNs);
}

void SimPort::runDue(std::int64_t nowNs) {
  if (m_master < 0)
    return;
  // Checked on every pass, also while blocked: a pty nobody reads fills up, and only
  // discarding unblocks it.
  discardUnreadInput(nowNs);
  for (Meter &m : m_meters) {
    if (m.setup.mode != MeterMode::Active)
      continue;
    const std::int64_t interval = frameIntervalNs(m);
    if (nowNs - m.nextDueNs > kMaxLagNs)
      m.nextDueNs = nowNs;
    while (m.nextDueNs <= nowNs) {
      if (m_out.size() >= kMaxQueued) {
        // The line cannot keep up: skip the slot. No value is used up, so the frames that
        // do go out still follow on from each other.
        ++m_overruns;
      } else {
        transmit(m, m.nextDueNs, nowNs, false);
      }
      m.nextDueNs += interval; // absolute schedule: no drift from wake-up latency
    }
  }
  while (!m_replies.empty() && m_replies.begin()->first <= nowNs) {
    const auto [due, index] = *m_replies.begin();
    m_replies.erase(m_replies.begin());
    transmit(m_meters[index], due, nowNs, true);
  }
  pumpOutput(nowNs);
}

void SimPort::transmit(Meter &meter, std::int64_t timeNs, std::int64_t nowNs, bool reply) {
  const int address = meter.setup.address;
  if (nowNs < meter.silentUntilNs) {
    if (reply)
      m_log.write(nowNs, m_spec.name, address, "NO-REPLY", "silence", {}, {});
    return;
  }
  const FaultKind fault = meter.faults.next();
  if (fault == FaultKind::Silence) {
    meter.silentUntilNs = nowNs + m_config.silenceNs;
    m_log.write(nowNs, m_spec.name, address, "SILENCE", "silence",
                std::to_string(m_config.silenceNs / 1'000'000), {});
    if (reply)
      m_log.write(nowNs, m_spec.name, address, "NO-REPLY", "silence", {}, {});
    return;
  }

  const double elapsedMs = static_cast<double>(timeNs - m_config.startNs) / 1e6;
  const Reading reading = quantize(
      generateValue(meter.setup.generator, meter.frames, elapsedMs, meter.setup.decimals),
      meter.setup.decimals);
  ++meter.frames;

  if (fault == FaultKind::Garbage)
    m_out.push_back({meter.faults.garbage(), address, "TX-GARBAGE", faultName(fault), {}});

  FrameFault frameFault = FrameFault::None;
  switch (fault) {
  case FaultKind::Checksum: frameFault = FrameFault::Checksum; break;
  case FaultKind::Terminator: frameFault = FrameFault::Terminator; break;
  case FaultKind::Decimal6: frameFault = FrameFault::Decimal6; break;
  case FaultKind::Upper: frameFault = FrameFault::UpperHex; break;
  default: break;
  }
  const bool good = frameFault == FrameFault::None || frameFault == FrameFault::UpperHex;
  const std::string_view kind = !good ? "TX-FAULT" : reply ? "TX-REPLY" : "TX-ACTIVE";
  const std::string_view note = fault == FaultKind::Garbage ? "-" : faultName(fault);
  m_out.push_back({encodeReadingFrame(address, reading, frameFault), address, kind, note,
                   formatReading(reading)});
}

void SimPort::pumpOutput(std::int64_t nowNs) {
  while (m_master >= 0 && !m_out.empty() && !m_blocked) {
    OutItem &item = m_out.front();
    if (m_written == 0) {
      if (m_config.paceBaud && nowNs < m_lineFreeNs)
        return; // the previous bytes are still on the line
    }
    const ssize_t n = ::write(m_master, item.bytes.data() + m_written, item.bytes.size() - m_written);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        m_blocked = true;
        return;
      }
      close(nowNs, "write-error");
      return;
    }
    m_written += static_cast<std::size_t>(n);
    m_bytesToPty += static_cast<std::uint64_t>(n);
    if (m_written < item.bytes.size()) {
      m_blocked = true;
      return;
    }
    m_log.write(nowNs, m_spec.name, item.address, item.kind, item.note, item.value, item.bytes);
    if (m_config.paceBaud) {
      const std::int64_t start = nowNs - m_lineFreeNs > kPaceSlackNs ? nowNs : m_lineFreeNs;
      m_lineFreeNs = start + m_byteNs * static_cast<std::int64_t>(item.bytes.size());
    }
    m_out.pop_front();
    m_written = 0;
  }
}

void SimPort::discardUnreadInput(std::int64_t nowNs) {
  int unread = 0;
  if (ioctl(m_slave, TIOCINQ, &unread) != 0 || unread <= 0) {
    m_unreadSinceNs = -1;
    return;
  }
  // A reader that takes bytes is listening, however far behind it runs: only bytes that sit
  // while nothing is taken count as unread. (Bytes still in the kernel's buffers on their way
  // to the input queue count as not taken yet.)
  const std::uint64_t taken = m_bytesToPty - static_cast<std::uint64_t>(unread);
  if (m_unreadSinceNs < 0 || taken != m_takenAtMark) {
    m_unreadSinceNs = nowNs;
    m_takenAtMark = taken;
    return;
  }
  if (nowNs - m_unreadSinceNs < kStaleInputNs)
    return;
  tcflush(m_slave, TCIFLUSH);
  m_unreadSinceNs = -1;
  m_log.write(nowNs, m_spec.name, -1, "FLUSH", {}, std::to_string(unread), {});
}

} // namespace metersim
