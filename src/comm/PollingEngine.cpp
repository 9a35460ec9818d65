#include "comm/PollingEngine.h"

#include "app/AppContext.h"
#include "app/Options.h"
#include "comm/SerialLink.h"
#include "comm/TSendThread.h"

#include <QMetaObject>

#include <algorithm>

PollingEngine::PollingEngine(AppContext &context, SampleRing &ring, ChannelFormats &formats,
                             AutoResetEvent &readSignal, AutoResetEvent &abandonSignal,
                             QObject *parent)
    : QObject(parent), m_context(context), m_ring(ring), m_formats(formats),
      m_readSignal(readSignal), m_abandonSignal(abandonSignal), m_registry(*context.settings),
      m_commContext(std::make_unique<QObject>()) {
  m_commThread.setObjectName(QStringLiteral("zervo-comm"));
  m_commContext->moveToThread(&m_commThread);
}

PollingEngine::~PollingEngine() {
  stop();
  m_commThread.quit();
  m_commThread.wait();
  // The thread has finished, so its context object may go from here.
  m_commContext.reset();
}

template <typename F> void PollingEngine::runOnCommThread(F &&work) {
  if (QThread::currentThread() == &m_commThread) {
    work();
    return;
  }
  ensureCommThread();
  QMetaObject::invokeMethod(m_commContext.get(), std::forward<F>(work),
                            Qt::BlockingQueuedConnection);
}

void PollingEngine::ensureCommThread() {
  if (!m_commThread.isRunning())
    m_commThread.start();
}

bool PollingEngine::checkPorts(QString *message) const {
  if (message)
    message->clear();
  const MeterTable &table = m_context.meters;
  if (table.MeterComCount <= 0)
    return false;
  const int count = std::min(table.MeterComCount, kPortEntries);
  SerialLink link(m_registry);
  for (int i = 0; i < count; ++i) {
    const int com = table.MeterComPort[static_cast<std::size_t>(i)];
    if (link.open(com, m_context.options.Baud) != SerialLinkError::None) {
      if (message)
        *message = PortUnavailableMessage(com);
      return false;
    }
    link.close();
  }
  return true;
}

StartResult PollingEngine::start(int portCount) {
  if (portCount <= 0 || portCount > kMaxPollingPorts)
    return {};
  stop();

  m_stop.clear();
  for (StopSignal &wake : m_paceWakes)
    wake.clear();
  m_sampleIntervalMs.store(m_context.options.SampleIntervalMs);
  const int baud = m_context.options.Baud;
  const MeterTable &table = m_context.meters;

  m_counters.clear();
  for (int i = 0; i < portCount; ++i)
    m_counters.push_back(
        std::make_unique<PortCounters>(table.MeterComPort[static_cast<std::size_t>(i)]));

  StartResult result;
  result.status = StartResult::Status::Started;
  const DecodeTargets targets{m_context.meters, *m_context.settings, m_ring, m_formats};
  runOnCommThread([&] {
    for (int i = 0; i < portCount; ++i) {
      const int com = table.MeterComPort[static_cast<std::size_t>(i)];
      auto module = std::make_unique<TdmCom>(m_registry, targets,
                                             *m_counters[static_cast<std::size_t>(i)], com);
      // Frames that come before the first wait are tested against the port's own first meter,
      // never against slot 0, which may be another port's meter with the same address.
      module->setSendChannelNumber(TSendThread::firstServedSlot(table, com));
      if (module->open(baud) != SerialLinkError::None) {
        // Passed the check, yet gone now: half an acquisition would look like a full one.
        result = {StartResult::Status::PortFailed, com, PortUnavailableMessage(com)};
        m_modules.clear();
        return;
      }
      connect(module.get(), &TdmCom::portFailed, this, &PollingEngine::portFailed,
              Qt::QueuedConnection);
      // Written on the engine's thread, never on the communication thread that handles frames.
      connect(module.get(), &TdmCom::precisionChanged, this,
              [this](int slot, int decimals) {
                m_context.settings->writeInteger(Sections::channel(slot), QStringLiteral("PrecisionArray"),
                                                 decimals);
              },
              Qt::QueuedConnection);
      m_modules.push_back(std::move(module));
    }
  });
  if (!result.started()) {
    m_counters.clear(); // a run that never started has nothing to diagnose
    return result;
  }

  for (int i = 0; i < portCount; ++i) {
    const auto index = static_cast<std::size_t>(i);
    m_sendThreads.push_back(std::make_unique<TSendThread>(
        i, table.MeterComPort[index],
        TSendThread::Links{*m_modules[index], *m_counters[index], table, m_readSignal,
                           m_abandonSignal, m_stop, m_paceWakes[index], m_sampleIntervalMs}));
  }
  m_running.store(true);
  return result;
}

void PollingEngine::stop() {
  // Modules first: from here no request goes out, even one already queued to the
  // communication thread. Then the stop signal ends whatever wait each thread is in.
  for (const auto &module : m_modules)
    module->requestStop();
  m_stop.request();
  for (StopSignal &wake : m_paceWakes)
    wake.request();
  m_sendThreads.clear(); // joins
  releaseRun();
  m_running.store(false);
}

void PollingEngine::setSampleIntervalMs(qint64 ms) {
  m_sampleIntervalMs.store(ms);
  // Stored first: a thread woken here, or one that starts a pause after the store, reads the
  // new value. A thread that is not pausing now takes it at its next pause anyway.
  for (StopSignal &wake : m_paceWakes)
    wake.request();
}

void PollingEngine::releaseRun() {
  if (m_modules.empty())
    return;
  // Ports, timers and framers belong to the communication thread; they end there.
  runOnCommThread([this] { m_modules.clear(); });
}

PortStats PollingEngine::stats(int portIndex) const {
  if (portIndex < 0 || portIndex >= portCount())
    return {};
  return m_counters[static_cast<std::size_t>(portIndex)]->snapshot();
}

QList<PortStats> PollingEngine::allStats() const {
  QList<PortStats> all;
  for (int i = 0; i < portCount(); ++i)
    all << stats(i);
  return all;
}
