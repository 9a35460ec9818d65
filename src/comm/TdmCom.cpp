#include "comm/TdmCom.h"

#include "acquisition/ChannelFormats.h"
#include "acquisition/SampleRing.h"
#include "app/Options.h"
#include "app/ProfileStore.h"
#include "comm/MeterTable.h"

#include <QMetaObject>

#include <numeric>

// --- PortStats / PortCounters ---

quint64 PortStats::totalRejects() const {
  return std::accumulate(rejects.begin(), rejects.end(), quint64{0});
}

void PortCounters::countReject(FrameReject reason) {
  const int index = static_cast<int>(reason);
  if (index > 0 && index < kFrameRejectKinds)
    m_rejects[static_cast<std::size_t>(index)].fetch_add(1, std::memory_order_relaxed);
}

PortStats PortCounters::snapshot() const {
  PortStats s;
  s.com = m_com;
  s.goodFrames = m_good.load(std::memory_order_relaxed);
  for (std::size_t i = 0; i < s.rejects.size(); ++i)
    s.rejects[i] = m_rejects[i].load(std::memory_order_relaxed);
  s.timeouts = m_timeouts.load(std::memory_order_relaxed);
  s.requests = m_requests.load(std::memory_order_relaxed);
  s.cycles = m_cycles.load(std::memory_order_relaxed);
  s.failed = m_failed.load(std::memory_order_relaxed);
  return s;
}

// --- TdmCom ---

TdmCom::TdmCom(const PortRegistry &registry, DecodeTargets targets, PortCounters &counters,
               int com, QObject *parent)
    : QObject(parent), m_targets(targets), m_counters(counters), m_com(com),
      ComPort1(new SerialLink(registry, this)),
      ComDataPacket1([this](QByteArrayView frame) { ComDataPacket1Packet(frame); }),
      TimerReceiveCount(new ReplyTimer(this)) {
  connect(TimerReceiveCount, &ReplyTimer::timeout, this, &TdmCom::TimerReceiveCountTimer);
  connect(ComPort1, &SerialLink::bytesReceived, this,
          [this](const QByteArray &bytes) { ComDataPacket1.feed(bytes); });
  connect(ComPort1, &SerialLink::errorOccurred, this, &TdmCom::failPort);
}

TdmCom::~TdmCom() {
  TimerReceiveCount->stop();
  ComPort1->close();
}

SerialLinkError TdmCom::open(int baudCode) {
  ComDataPacket1.reset();
  return ComPort1->open(m_com, baudCode);
}

TdmCom::WaitEnd TdmCom::awaitReading(int slot, bool query, StopSignal &stop) {
  if (m_failed.load())
    return WaitEnd::PortFailed;
  if (stop.requested())
    return WaitEnd::Stopped;
  // Request and timer start on the communication thread together, so a reply can never be
  // handled before its timer is armed.
  QMetaObject::invokeMethod(
      this, [this, slot, query] { beginWait(slot, query); }, Qt::QueuedConnection);
  if (!m_waitEnded.wait(AutoResetEvent::kInfinite, &stop))
    return WaitEnd::Stopped;
  return m_lastEnd.load();
}

void TdmCom::requestStop() {
  {
    const std::lock_guard lock(m_sendMutex);
    m_stopping = true;
  }
  m_received.store(true);
}

void TdmCom::beginWait(int slot, bool query) {
  bool writeFailed = false;
  {
    const std::lock_guard lock(m_sendMutex);
    if (m_stopping || m_failed.load()) {
      m_lastEnd.store(m_stopping ? WaitEnd::Stopped : WaitEnd::PortFailed);
      m_waitEnded.set();
      return;
    }
    m_received.store(false);
    m_receiveError.store(false);
    if (query) {
      const QByteArray request =
          BuildReadRequest(m_targets.meters.Meters[static_cast<std::size_t>(slot)].MeterNo);
      if (ComPort1->writeAll(request))
        m_counters.countRequest();
      else
        writeFailed = true;
    }
  }
  if (writeFailed) {
    failPort(PortLostMessage(m_com));
    return;
  }
  m_waitOpen = true;
  TimerReceiveCount->start(kReplyTimeoutMs);
}

void TdmCom::endWait(WaitEnd how) {
  m_waitOpen = false;
  TimerReceiveCount->stop();
  m_lastEnd.store(how);
  m_waitEnded.set();
}

void TdmCom::ComDataPacket1Packet(QByteArrayView frame16) {
  m_receiveError.store(true);
  const int slot = m_sendChannel.load();
  if (slot < 0 || slot >= kMeterSlots) {
    // No meter of this port to compare with: whoever sent it, it is not ours.
    m_counters.countReject(FrameReject::Address);
    return;
  }
  const ReplyCheck check =
      CheckReply(frame16, m_targets.meters.Meters[static_cast<std::size_t>(slot)].MeterNo);
  if (!check.ok()) {
    m_counters.countReject(check.reject);
    return;
  }
  m_counters.countGood();
  applyReading(slot, check.reading);
  m_received.store(true);
  m_receiveError.store(false);
  // A good frame between two waits is recorded but has no wait to end.
  if (m_waitOpen)
    endWait(WaitEnd::Frame);
}

void TdmCom::applyReading(int slot, const MeterReading &reading) {
  TMeterConfigure &meter = m_targets.meters.Meters[static_cast<std::size_t>(slot)];
  meter.MeterValue.store(reading.value);
  meter.MeterAlive.store(true);
  // Other threads may read the precision while we run; the table keeps it as a plain field.
  std::atomic_ref<qint32> precision(meter.MeterPrecision);
  if (precision.load() != reading.decimals) {
    precision.store(reading.decimals);
    m_targets.formats.setPrecision(slot, reading.decimals);
    // Rewriting Sys.ini (with its sync to disk) can take hundreds of milliseconds on a busy disk;
    // done here it would hold up every port's frames and time-outs, so it is handed on.
    emit precisionChanged(slot, reading.decimals);
  }
  m_targets.ring.push(slot, reading.value);
}

void TdmCom::TimerReceiveCountTimer() {
  if (!m_waitOpen)
    return;
  m_received.store(true);
  m_receiveError.store(true);
  const int slot = m_sendChannel.load();
  if (slot >= 0 && slot < kMeterSlots)
    m_targets.meters.Meters[static_cast<std::size_t>(slot)].MeterAlive.store(false);
  m_counters.countTimeout();
  endWait(WaitEnd::Timeout);
}

void TdmCom::failPort(const QString &message) {
  if (m_failed.exchange(true))
    return;
  m_counters.markFailed();
  ComPort1->close();
  // Readings from this port stop here; its meters must not look alive.
  for (TMeterConfigure &meter : m_targets.meters.Meters)
    if (meter.MeterValid && meter.MeterCom == m_com)
      meter.MeterAlive.store(false);
  m_received.store(true);
  m_receiveError.store(true);
  // Releases the send thread whether or not a wait is open; it sees the failure and ends.
  endWait(WaitEnd::PortFailed);
  emit portFailed(m_com, message);
}
