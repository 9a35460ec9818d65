#pragma once

#include "acquisition/AutoResetEvent.h"

#include <QtGlobal>

#include <atomic>
#include <thread>

class MeterTable;
class PortCounters;
class TdmCom;
struct TMeterConfigure;

// The polling thread of one port in use: walks the ten meter slots over and over and, for each
// valid meter on its port, has its module open one wait for a reading (a read request first for a
// query meter, after the pacing wait). Meters of one port are served strictly one after another.
//
// The thread starts in the constructor and is joined by the destructor; whoever owns it must
// request `stop` (and stop the module) first, which ends every wait the thread can be in.
class TSendThread {
public:
  // With no meter of its own on the port, a walk over the slots pauses this long, so a port
  // left in use by a hand-edited table does not spin a core.
  static constexpr qint64 kIdleCycleMs = 100;

  struct Links {
    TdmCom &module;
    PortCounters &counters;
    const MeterTable &meters;
    AutoResetEvent &readSignal;
    AutoResetEvent &abandonSignal;
    StopSignal &stop;
    // Requested when the interval changes or polling stops; only this thread clears it.
    StopSignal &paceWake;
    const std::atomic<qint64> &sampleIntervalMs;
  };

  TSendThread(int portIndex, int com, Links links);
  ~TSendThread();
  TSendThread(const TSendThread &) = delete;
  TSendThread &operator=(const TSendThread &) = delete;

  // Whether this port's thread polls the meter: valid, on the port, in one of the two modes,
  // and (for a query meter) with an address a request can carry.
  [[nodiscard]] static bool servesMeter(const TMeterConfigure &meter, int com);
  // The first slot the port's thread will serve, or -1 when there is none.
  [[nodiscard]] static int firstServedSlot(const MeterTable &meters, int com);

  [[nodiscard]] int portIndex() const { return m_portIndex; }

private:
  enum class Served : int { Skipped = 0, Done = 1, End = 2 };

  void run();
  [[nodiscard]] Served serveSlot(int slot);
  // The pause before a query meter's request; false when stop ends it. It lasts the interval
  // current at any moment, counted from its start, so a change applies to it at once.
  [[nodiscard]] bool pace();

  const int m_portIndex;
  const int m_com;
  Links m_links;
  AutoResetEvent m_idle; // never set: a pause only stop can cut short
  std::thread m_thread; // last: starts once everything above exists
};
