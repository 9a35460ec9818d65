#include "Simulator.h"

#include "Faults.h"
#include "SimPort.h"
#include "SysIni.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <memory>
#include <poll.h>
#include <random>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>
#include <vector>

namespace metersim {

namespace {

class FdGuard {
public:
  explicit FdGuard(int fd) : m_fd(fd) {}
  ~FdGuard() {
    if (m_fd >= 0)
      ::close(m_fd);
  }
  FdGuard(const FdGuard &) = delete;
  FdGuard &operator=(const FdGuard &) = delete;
  [[nodiscard]] int get() const { return m_fd; }

private:
  int m_fd;
};

std::string faultList(std::uint32_t mask) {
  std::string list;
  for (int k = static_cast<int>(FaultKind::Checksum); k <= static_cast<int>(FaultKind::Upper); ++k) {
    if (!(mask & faultBit(static_cast<FaultKind>(k))))
      continue;
    if (!list.empty())
      list += ',';
    list += faultName(static_cast<FaultKind>(k));
  }
  return list.empty() ? "none" : list;
}

} // namespace

int Simulator::run(std::FILE *out, std::FILE *err) {
  // Signals arrive as readable data on a descriptor in the poll set: no handler, no shared flag.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  const FdGuard signals(signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC));
  if (signals.get() < 0) {
    std::fprintf(err, "meter-sim: signalfd failed: %s\n", std::strerror(errno));
    return 1;
  }
  std::signal(SIGPIPE, SIG_IGN); // a closed stdout must not kill the simulator
  prctl(PR_SET_TIMERSLACK, 1000UL); // 1 µs: sub-millisecond intervals need tight wake-ups

  const std::uint32_t seed = m_options.seed ? *m_options.seed : std::random_device{}();
  std::string error;
  if (!m_options.logPath.empty() && !m_log.open(m_options.logPath, &error)) {
    std::fprintf(err, "meter-sim: %s\n", error.c_str());
    return 1;
  }
  m_log.comment("meter-sim seed=" + std::to_string(seed) + " baud=" +
                std::to_string(m_options.baud) + " pace-baud=" +
                (m_options.paceBaud ? "on" : "off") + " faults=" + faultList(m_options.faultMask) +
                " fault-rate=" + std::to_string(m_options.faultRate));

  PortRuntimeConfig config;
  config.faultMask = m_options.faultMask;
  config.faultRate = m_options.faultRate;
  config.silenceNs = m_options.silenceMs * 1'000'000;
  config.seed = seed;
  config.baud = m_options.baud;
  config.paceBaud = m_options.paceBaud;

  std::vector<std::unique_ptr<SimPort>> ports;
  std::vector<std::pair<std::string, std::string>> mapping;
  for (const PortSpec &setup : m_options.ports) {
    auto port = std::make_unique<SimPort>(setup, config, m_log);
    if (!port->open(&error)) {
      std::fprintf(err, "meter-sim: %s\n", error.c_str());
      return 1;
    }
    mapping.emplace_back(port->name(), port->devicePath());
    ports.push_back(std::move(port));
  }
  if (!m_options.sysIni.empty() && !writePortMapping(m_options.sysIni, mapping, &error)) {
    std::fprintf(err, "meter-sim: %s\n", error.c_str());
    return 1;
  }

  const std::int64_t startNs = monotonicNs();
  for (auto &port : ports) {
    port->start(startNs);
    m_log.write(startNs, port->name(), -1, "OPEN", port->devicePath(), {}, {});
    std::fprintf(out, "%s=%s\n", port->name().c_str(), port->devicePath().c_str());
  }
  std::fprintf(out, "READY\n");
  std::fflush(out);

  struct PendingClose {
    std::int64_t atNs;
    SimPort *port;
  };
  std::vector<PendingClose> closes;
  for (const PortClose &c : m_options.closes)
    for (auto &port : ports)
      if (port->name() == c.port)
        closes.push_back({startNs + c.afterMs * 1'000'000, port.get()});
  const std::int64_t endNs =
      m_options.durationMs ? startNs + *m_options.durationMs * 1'000'000 : INT64_MAX;

  std::string stopReason = "duration";
  std::vector<pollfd> fds;
  std::vector<SimPort *> polled;
  for (;;) {
    std::int64_t now = monotonicNs();
    if (now >= endNs)
      break;
    std::int64_t next = endNs;
    for (auto it = closes.begin(); it != closes.end();) {
      if (it->atNs <= now) {
        it->port->close(now, "closed-by-option");
        it = closes.erase(it);
      } else {
        next = std::min(next, it->atNs);
        ++it;
      }
    }
    for (auto &port : ports) {
      port->runDue(now);
      next = std::min(next, port->nextDeadlineNs());
    }

    fds.assign(1, pollfd{signals.get(), POLLIN, 0});
    polled.clear();
    for (auto &port : ports) {
      if (port->fd() < 0)
        continue;
      fds.push_back({port->fd(), static_cast<short>(POLLIN | (port->wantsWrite() ? POLLOUT : 0)), 0});
      polled.push_back(port.get());
    }
    timespec timeout{};
    timespec *timeoutPtr = nullptr;
    if (next != INT64_MAX) {
      const std::int64_t wait = std::max<std::int64_t>(0, next - monotonicNs());
      timeout.tv_sec = static_cast<time_t>(wait / 1'000'000'000);
      timeout.tv_nsec = static_cast<long>(wait % 1'000'000'000);
      timeoutPtr = &timeout;
    }
    if (ppoll(fds.data(), fds.size(), timeoutPtr, nullptr) < 0) {
      if (errno == EINTR)
        continue;
      std::fprintf(err, "meter-sim: poll failed: %s\n", std::strerror(errno));
      stopReason = "poll-error";
      break;
    }
    now = monotonicNs();
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info{};
      const ssize_t n = ::read(signals.get(), &info, sizeof info);
      const char *name = n == static_cast<ssize_t>(sizeof info)
                             ? sigabbrev_np(static_cast<int>(info.ssi_signo))
                             : nullptr;
      stopReason = name ? std::string("SIG") + name : std::string("signal");
      break;
    }
    for (std::size_t i = 0; i < polled.size(); ++i) {
      const short revents = fds[i + 1].revents;
      if (revents & (POLLIN | POLLHUP | POLLERR))
        polled[i]->handleReadable(now);
      if (revents & POLLOUT)
        polled[i]->handleWritable(now);
    }
  }

  const std::int64_t stopNs = monotonicNs();
  m_log.comment("stop: " + stopReason);
  for (auto &port : ports) {
    if (port->overruns() > 0)
      m_log.comment(port->name() + ": " + std::to_string(port->overruns()) +
                    " frame slots skipped because the line could not keep up");
    port->close(stopNs, "stop");
  }
  m_log.close();
  return stopReason == "poll-error" ? 1 : 0;
}

} // namespace metersim
