#pragma once

#include "acquisition/AutoResetEvent.h"
#include "comm/MeterTable.h"
#include "comm/PortRegistry.h"
#include "comm/TdmCom.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QThread>

#include <array>
#include <atomic>
#include <memory>
#include <vector>

struct AppContext;
class ChannelFormats;
class SampleRing;
class TSendThread;

struct StartResult {
  enum class Status : int {
    Started = 0,
    NothingToStart = 1, // a port count of 0 or less, or more than the engine serves
    PortFailed = 2,     // a port did not open; nothing was left running
  };
  Status status = Status::NothingToStart;
  int com = 0;     // the port that failed
  QString message; // for the operator, when status is PortFailed

  [[nodiscard]] bool started() const { return status == Status::Started; }
};

// Polls every port in use during an acquisition: one communication module per port, all of them
// on one communication thread, and one send thread per port.
//
// Used from one thread (the UI thread): checkPorts, start, stop and the destructor. Samples go
// into the ring from the communication thread only.
class PollingEngine : public QObject {
  Q_OBJECT
public:
  // readSignal and abandonSignal are the acquisition's "Read Signal" and "Abondon Signal"; they
  // and every other argument must outlive the engine.
  PollingEngine(AppContext &context, SampleRing &ring, ChannelFormats &formats,
                AutoResetEvent &readSignal, AutoResetEvent &abandonSignal,
                QObject *parent = nullptr);
  ~PollingEngine() override;
  PollingEngine(const PollingEngine &) = delete;
  PollingEngine &operator=(const PollingEngine &) = delete;

  // Opens and closes each port in use, in order. False with PortUnavailableMessage for the first
  // port that does not open; false without a message when no port is in use.
  [[nodiscard]] bool checkPorts(QString *message) const;

  // Opens the first portCount ports in use and starts polling them. A previous run is stopped
  // first. The pacing interval is taken from the options now; see setSampleIntervalMs.
  [[nodiscard]] StartResult start(int portCount);

  // Ends polling: returns when every send thread has ended and every port is closed. No request
  // is written after it returns. Safe in any state and while a thread is blocked in any wait.
  void stop();

  [[nodiscard]] bool running() const { return m_running.load(); }
  [[nodiscard]] int portCount() const { return static_cast<int>(m_counters.size()); }

  // Diagnostics of port index i of the current or last run; an empty snapshot for other indices.
  [[nodiscard]] PortStats stats(int portIndex) const;
  // Every port of the current or last run, in port order; empty before the first run.
  [[nodiscard]] QList<PortStats> allStats() const;

  // The pacing wait of query meters. Any thread, also while polling runs: a pause in progress
  // takes the new interval at once, counted from the pause's start, so it is cut short (or ends
  // at once) when the interval shrinks and goes on longer when it grows.
  void setSampleIntervalMs(qint64 ms);
  [[nodiscard]] qint64 sampleIntervalMs() const { return m_sampleIntervalMs.load(); }

signals:
  // A port was lost or refused a read request during the run. Its meters are marked not alive
  // and its polling has ended; the other ports go on.
  void portFailed(int com, const QString &message);

private:
  template <typename F> void runOnCommThread(F &&work);
  void ensureCommThread();
  void releaseRun();

  AppContext &m_context;
  SampleRing &m_ring;
  ChannelFormats &m_formats;
  AutoResetEvent &m_readSignal;
  AutoResetEvent &m_abandonSignal;
  PortRegistry m_registry;

  QThread m_commThread;
  std::unique_ptr<QObject> m_commContext; // lives on the communication thread

  StopSignal m_stop;
  std::atomic<qint64> m_sampleIntervalMs{1000};
  // One per send thread: wakes its pause to look at the interval (and the stop) again.
  std::array<StopSignal, kMaxPollingPorts> m_paceWakes;
  std::atomic<bool> m_running{false};

  std::vector<std::unique_ptr<PortCounters>> m_counters;  // kept after stop for stats()
  std::vector<std::unique_ptr<TdmCom>> m_modules;         // created and destroyed on m_commThread
  std::vector<std::unique_ptr<TSendThread>> m_sendThreads;
};
