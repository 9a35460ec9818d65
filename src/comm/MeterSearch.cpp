#include "comm/MeterSearch.h"

#include "app/ProfileStore.h"
#include "comm/FrameProtocol.h"
#include "comm/PortRegistry.h"
#include "comm/SerialLink.h"

#include <QEventLoop>
#include <QLoggingCategory>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {
Q_LOGGING_CATEGORY(lcSearch, "zervo.search")

int roundToInt(double v) { return static_cast<int>(std::lround(v)); }
} // namespace

MeterSearch::MeterSearch(MeterTable &table, ProfileStore &store, PortRegistry &registry,
                         QObject *parent)
    : QObject(parent), m_table(table), m_store(store), m_registry(registry),
      m_comPortTest(new SerialLink(registry, this)), m_comPortTest1(new SerialLink(registry, this)),
      m_framerTest([this](QByteArrayView f) { onFrame(f); }),
      m_framerTest1([this](QByteArrayView f) { onFrame(f); }) {
  connect(&m_timerReceiveCount, &ReplyTimer::timeout, this, [this] {
    m_searchDone = true;
    endWait();
  });
  connect(m_comPortTest, &SerialLink::bytesReceived, this,
          [this](const QByteArray &b) { m_framerTest.feed(b); });
  connect(m_comPortTest1, &SerialLink::bytesReceived, this,
          [this](const QByteArray &b) { m_framerTest1.feed(b); });
}

MeterSearch::~MeterSearch() = default;

void MeterSearch::abort() {
  if (!m_running)
    return;
  m_abortRequested = true;
  endWait();
}

SearchReport MeterSearch::run() {
  if (m_running)
    return {SearchOutcome::AlreadyRunning};
  m_running = true;
  m_abortRequested = false;
  m_meterLimitReached = false;
  m_foundPorts.clear();
  m_portTestResults.clear();
  for (TMeterConfigure &m : m_table.Meters)
    m.MeterValid = false;

  SearchReport report;
  report.outcome = searchProper(report);
  report.meterLimitReached = m_meterLimitReached;
  m_comPortTest->close();
  m_comPortTest1->close();

  // Also after an abort: the meters found so far stay in the table, and they can only be polled
  // if their ports are in the ports-in-use list. Without meters the old list is kept.
  if (m_table.MeterAmount > 0)
    rebuildPortsInUse(m_table, m_foundPorts, m_portTestResults);
  report.saved = m_table.save(m_store);
  if (!report.saved)
    qCWarning(lcSearch) << "meter table could not be written to" << m_store.path();

  m_running = false;
  emit finished(report.outcome);
  return report;
}

SearchOutcome MeterSearch::searchProper(SearchReport &report) {
  m_table.MeterAmount = 0;
  m_table.MeterComPortState.fill(static_cast<qint32>(PortTestResult::Untested));
  m_settledPortCount = 0;
  setProgress(0);

  // A failed refresh only means a new device got no number; the mapped ones are still usable.
  if (!m_registry.refresh())
    qCWarning(lcSearch) << "serial port registry could not be updated";
  QList<int> listed = m_registry.listPorts();
  if (listed.isEmpty())
    return SearchOutcome::NoPorts;
  if (listed.size() > kMaxFoundPorts) {
    listed.resize(kMaxFoundPorts);
    report.portLimitReached = true;
  }
  m_foundPorts = listed;
  m_portTestResults = QList<int>(listed.size(), static_cast<int>(PortTestResult::Untested));
  setProgress(10);

  const int n = static_cast<int>(m_foundPorts.size());
  for (int k = 0; k < n && !m_meterLimitReached; ++k) {
    m_comPortTest->close();
    m_framerTest.reset();
    m_phase = SearchPhase::Listen;
    m_portIndex = k;
    m_portNumber = m_foundPorts[k];
    emit listening(m_portNumber);
    if (const auto answer = openPort(*m_comPortTest, m_portNumber)) {
      if (*answer == BusyPortAnswer::Abort)
        return SearchOutcome::Aborted;
      m_portTestResults[k] = static_cast<int>(PortTestResult::Ignored);
      ++m_settledPortCount;
    }
    // An ignored port still gets its wait, so the pass takes the same time whatever happens.
    waitForFrame();
    m_comPortTest->close();
    if (m_abortRequested)
      return SearchOutcome::Aborted;
    setProgress(listenProgress(k, n));
  }

  pause(m_settings.pauseMs);
  m_comPortTest->close();
  if (m_abortRequested)
    return SearchOutcome::Aborted;

  // The highest address that fits the request's three digits.
  const int lastAddress = std::min(m_settings.maxMeterNo, kMaxMeterAddress);
  for (int k = 0; k < n && !m_meterLimitReached; ++k) {
    const auto verdict = static_cast<PortTestResult>(m_portTestResults[k]);
    if (verdict == PortTestResult::Active || verdict == PortTestResult::Ignored) {
      pause(m_settings.pauseMs);
      if (m_abortRequested)
        return SearchOutcome::Aborted;
      continue;
    }
    m_phase = SearchPhase::Sweep;
    m_portIndex = k;
    m_portNumber = m_foundPorts[k];
    m_framerTest1.reset();
    if (const auto answer = openPort(*m_comPortTest1, m_portNumber)) {
      if (*answer == BusyPortAnswer::Abort)
        return SearchOutcome::Aborted;
      m_portTestResults[k] = static_cast<int>(PortTestResult::Ignored);
      continue;
    }
    for (int a = 0; a <= lastAddress && !m_meterLimitReached; ++a) {
      m_askedAddress = a;
      emit asking(m_portNumber, a);
      // A failed write leaves the meter silent; the wait then ends by the timer like any
      // address nobody has.
      if (!m_comPortTest1->writeAll(BuildReadRequest(a)))
        qCWarning(lcSearch) << "request could not be sent on" << m_comPortTest1->portName();
      waitForFrame();
      if (m_abortRequested) {
        m_comPortTest1->close();
        return SearchOutcome::Aborted;
      }
      if (const auto p = sweepProgress(a, k, n, m_settledPortCount, m_settings.maxMeterNo))
        setProgress(*p);
    }
    m_comPortTest1->close();
  }
  m_comPortTest1->close();
  return SearchOutcome::Completed;
}

std::optional<BusyPortAnswer> MeterSearch::openPort(SerialLink &link, int comNumber) {
  for (;;) {
    const SerialLinkError error = link.open(comNumber, m_settings.baudCode);
    if (error == SerialLinkError::None)
      return std::nullopt;
    qCInfo(lcSearch) << "cannot open" << ComPortName(comNumber) << link.errorString();
    const BusyPortAnswer answer = m_busyHandler ? m_busyHandler(comNumber) : BusyPortAnswer::Ignore;
    if (m_abortRequested)
      return BusyPortAnswer::Abort;
    if (answer != BusyPortAnswer::Retry)
      return answer;
  }
}

void MeterSearch::onFrame(QByteArrayView frame16) {
  if (!m_running)
    return;
  const std::optional<int> address = acceptFrame(frame16, m_phase, m_askedAddress);
  if (!address)
    return;
  const bool listen = m_phase == SearchPhase::Listen;
  switch (addMeter(m_table, *address, m_portNumber, listen ? MeterMode::Active : MeterMode::Query)) {
  case AddMeterResult::Duplicate:
    return; // an active meter repeats its frame
  case AddMeterResult::TableFull:
    // Nothing more can be recorded; end the search here and tell the operator.
    m_meterLimitReached = true;
    break;
  case AddMeterResult::Added:
    if (listen)
      ++m_settledPortCount;
    m_portTestResults[m_portIndex] =
        static_cast<int>(listen ? PortTestResult::Active : PortTestResult::Query);
    break;
  }
  m_searchDone = true;
  endWait();
}

void MeterSearch::waitForFrame() {
  m_searchDone = false;
  m_timerReceiveCount.start(m_settings.waitMs);
  QEventLoop loop;
  m_loop = &loop;
  if (!m_searchDone && !m_abortRequested)
    loop.exec();
  m_loop = nullptr;
  m_timerReceiveCount.stop();
}

void MeterSearch::pause(int ms) {
  if (ms <= 0 || m_abortRequested)
    return;
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  m_loop = &loop;
  loop.exec();
  m_loop = nullptr;
}

void MeterSearch::endWait() {
  m_timerReceiveCount.stop();
  if (m_loop)
    m_loop->quit();
}

void MeterSearch::setProgress(int value) { emit progressChanged(std::clamp(value, 0, 100)); }

std::optional<int> MeterSearch::acceptFrame(QByteArrayView frame16, SearchPhase phase,
                                            int askedAddress) {
  if (CheckFrameIntegrity(frame16) != FrameReject::None)
    return std::nullopt;
  const std::optional<int> address = FrameAddress(frame16);
  if (!address)
    return std::nullopt;
  // Any address of the three digits: a meter at 10 or above must be found like the others.
  if (phase == SearchPhase::Sweep && *address != askedAddress)
    return std::nullopt;
  return address;
}

AddMeterResult MeterSearch::addMeter(MeterTable &table, int address, int comNumber,
                                     MeterMode mode) {
  const int amount = std::clamp(table.MeterAmount, 0, kMeterSlots);
  for (int i = 0; i < amount; ++i) {
    const TMeterConfigure &m = table.Meters[static_cast<size_t>(i)];
    if (m.MeterNo == address && m.MeterCom == comNumber)
      return AddMeterResult::Duplicate;
  }
  if (amount >= kMeterSlots)
    return AddMeterResult::TableFull;
  // The slot's other fields (type, last value, precision) stay as they were.
  TMeterConfigure &m = table.Meters[static_cast<size_t>(amount)];
  m.MeterValid = true;
  m.MeterNo = address;
  m.MeterCom = comNumber;
  m.MeterState = static_cast<qint32>(mode);
  table.MeterAmount = amount + 1;
  return AddMeterResult::Added;
}

void MeterSearch::rebuildPortsInUse(MeterTable &table, const QList<int> &foundPorts,
                                    const QList<int> &portTestResults) {
  table.MeterComCount = 0;
  for (qsizetype i = 0; i < foundPorts.size() && table.MeterComCount < kPortEntries; ++i) {
    const int port = foundPorts[i];
    const bool carriesMeter = std::any_of(table.Meters.cbegin(), table.Meters.cend(),
                                          [port](const TMeterConfigure &m) {
                                            return m.MeterValid && m.MeterCom == port;
                                          });
    if (!carriesMeter)
      continue;
    const auto entry = static_cast<size_t>(table.MeterComCount);
    table.MeterComPort[entry] = port;
    table.MeterComPortState[entry] =
        portTestResults.value(i, static_cast<int>(PortTestResult::Untested));
    ++table.MeterComCount;
  }
}

int MeterSearch::listenProgress(int k, int n) {
  if (n <= 0)
    return 10;
  return roundToInt(30.0 * (k + 1) / n + 10.0);
}

std::optional<int> MeterSearch::sweepProgress(int a, int k, int n, int settled, int maxMeterNo) {
  const int unsettled = n - settled;
  if (unsettled <= 0)
    return std::nullopt;
  const int perPort = std::max(maxMeterNo, 1);
  return roundToInt(60.0 * (a + static_cast<double>(perPort) * k) /
                        (static_cast<double>(perPort) * unsettled) +
                    40.0);
}
