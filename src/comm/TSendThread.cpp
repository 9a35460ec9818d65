#include "comm/TSendThread.h"

#include "comm/FrameProtocol.h"
#include "comm/MeterTable.h"
#include "comm/TdmCom.h"

#include <algorithm>
#include <chrono>

TSendThread::TSendThread(int portIndex, int com, Links links)
    : m_portIndex(portIndex), m_com(com), m_links(links), m_thread([this] { run(); }) {}

TSendThread::~TSendThread() {
  if (m_thread.joinable())
    m_thread.join();
}

bool TSendThread::servesMeter(const TMeterConfigure &meter, int com) {
  if (!meter.MeterValid || meter.MeterCom != com)
    return false;
  switch (meter.MeterState) {
  case static_cast<qint32>(MeterMode::Active):
    return true;
  case static_cast<qint32>(MeterMode::Query):
    // An address that three digits cannot carry has no request.
    return meter.MeterNo >= 0 && meter.MeterNo <= kMaxMeterAddress;
  default:
    // Only the two modes exist; anything else (a hand-edited table) would wait with neither a
    // request nor a meter of its own to end it.
    return false;
  }
}

int TSendThread::firstServedSlot(const MeterTable &meters, int com) {
  for (int slot = 0; slot < kMeterSlots; ++slot)
    if (servesMeter(meters.Meters[static_cast<std::size_t>(slot)], com))
      return slot;
  return -1;
}

void TSendThread::run() {
  int slot = 0;
  bool servedAny = false;
  while (!m_links.stop.requested()) {
    const Served served = serveSlot(slot);
    if (served == Served::End)
      break;
    servedAny = servedAny || served == Served::Done;
    if (++slot == kMeterSlots) {
      slot = 0;
      m_links.counters.countCycle();
      if (!servedAny)
        (void)m_idle.wait(kIdleCycleMs, &m_links.stop);
      servedAny = false;
    }
  }
}

TSendThread::Served TSendThread::serveSlot(int slot) {
  if (!servesMeter(m_links.meters.Meters[static_cast<std::size_t>(slot)], m_com))
    return Served::Skipped;
  const bool query = m_links.meters.Meters[static_cast<std::size_t>(slot)].MeterState ==
                     static_cast<qint32>(MeterMode::Query);

  // Set only for the port's own meters: frames that arrive between two waits are tested
  // against this slot, and a slot of another port with the same address must never get them.
  m_links.module.setSendChannelNumber(slot);

  if (query && !pace())
    return Served::End;

  switch (m_links.module.awaitReading(slot, query, m_links.stop)) {
  case TdmCom::WaitEnd::Frame:
  case TdmCom::WaitEnd::Timeout:
    return Served::Done;
  case TdmCom::WaitEnd::Stopped:
  case TdmCom::WaitEnd::PortFailed:
    break;
  }
  return Served::End;
}

bool TSendThread::pace() {
  using Clock = std::chrono::steady_clock;
  Clock::time_point begun = Clock::now();
  for (;;) {
    // Cleared before the stop and the interval are read: a change or a stop from here on ends
    // the wait below at once, and the next turn sees it.
    m_links.paceWake.clear();
    if (m_links.stop.requested())
      return false;
    // The full 64-bit interval: its low 32 bits alone would turn an interval of 2^32 ms or more
    // into a short or zero pause. A negative interval (only from a hand-edited Sys.ini) means none.
    const qint64 interval = std::max<qint64>(0, m_links.sampleIntervalMs.load());
    // Whole milliseconds passed, rounded down, so the pause never ends before its interval.
    const qint64 passed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun).count();
    const qint64 left = std::max<qint64>(0, interval - passed);
    const int outcome = AutoResetEvent::WaitAny(m_links.readSignal, m_links.abandonSignal, left,
                                                &m_links.paceWake);
    if (outcome == AutoResetEvent::kStopped)
      continue; // stopped, or a new interval: look again
    // An abandon left over from the previous acquisition's stop must not trigger a request;
    // the pause starts over with the full interval.
    if (outcome == 1) {
      begun = Clock::now();
      continue;
    }
    return !m_links.module.failed();
  }
}
