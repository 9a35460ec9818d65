#pragma once

#include "comm/MeterTable.h"
#include "comm/PacketFramer.h"
#include "comm/ReplyTimer.h"

#include <QByteArrayView>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

class ProfileStore;
class PortRegistry;
class QEventLoop;
class SerialLink;

// The verdict on one listed port, also stored as MeterComPortState of a port in use.
enum class PortTestResult : int {
  Untested = -1, // nothing heard (yet)
  Active = 0,    // an active meter was heard in the listen pass
  Query = 1,     // a query meter answered the address sweep
  Ignored = 2,   // the port could not be opened and the operator chose to go on without it
};

// 0 while listening for active meters, 1 while sweeping the addresses.
enum class SearchPhase : int { Listen = 0, Sweep = 1 };

enum class SearchOutcome : int {
  Completed = 0,
  NoPorts = 1,        // no serial port is listed; the table is saved without meters
  Aborted = 2,        // the operator aborted at a busy port, or abort() was called
  AlreadyRunning = 3, // run() was called from inside a running search; nothing was done
};

// What the operator answers when a port cannot be opened.
enum class BusyPortAnswer : int { Abort = 0, Retry = 1, Ignore = 2 };

enum class AddMeterResult : int { Added = 0, Duplicate = 1, TableFull = 2 };

struct MeterSearchSettings {
  int baudCode = 7;     // the "Baud" option
  int maxMeterNo = 10;  // SYS_MAX_METER_NO: the highest address asked
  int waitMs = 200;     // one listen wait, one address's reply wait
  int pauseMs = 100;    // between the passes, and for each port the sweep skips
};

struct SearchReport {
  SearchOutcome outcome = SearchOutcome::Completed;
  bool meterLimitReached = false; // a meter was heard while all ten slots were taken
  bool portLimitReached = false;  // more than 21 ports are listed; the rest were not searched
  bool saved = false;             // the table reached Sys.ini
};

// The meter search: a listen pass over every listed port for meters that transmit by themselves,
// then an address sweep on the ports where none was heard. It rebuilds the meter table and saves
// it. Widget-free: progress goes out as a signal and the busy-port question through a callback.
//
// run() blocks its caller but keeps the caller's event loop running (a local QEventLoop for each
// wait), so frames, timers and the windows are served meanwhile. Lives on the GUI thread; it must
// not be destroyed while run() is on the stack (call abort() and let run() return first).
class MeterSearch : public QObject {
  Q_OBJECT
public:
  using BusyPortHandler = std::function<BusyPortAnswer(int comNumber)>;

  static constexpr int kMaxFoundPorts = kPortEntries;

  MeterSearch(MeterTable &table, ProfileStore &store, PortRegistry &registry,
              QObject *parent = nullptr);
  ~MeterSearch() override;
  MeterSearch(const MeterSearch &) = delete;
  MeterSearch &operator=(const MeterSearch &) = delete;

  void setSettings(const MeterSearchSettings &settings) { m_settings = settings; }
  [[nodiscard]] const MeterSearchSettings &settings() const { return m_settings; }
  // Without a handler a port that cannot be opened is ignored.
  void setBusyPortHandler(BusyPortHandler handler) { m_busyHandler = std::move(handler); }

  // The whole search: clears the valid flags, searches, rebuilds the ports-in-use list when
  // meters were found, and saves the table whatever happened.
  [[nodiscard]] SearchReport run();
  [[nodiscard]] bool running() const { return m_running; }
  // Ends a running search at the next opportunity, as aborted (the meters found so far stay).
  void abort();

  // The ports of the last run, ascending, and the verdict on each.
  [[nodiscard]] const QList<int> &foundPorts() const { return m_foundPorts; }
  [[nodiscard]] const QList<int> &portTestResults() const { return m_portTestResults; }
  [[nodiscard]] int settledPortCount() const { return m_settledPortCount; }

  // --- The decisions, without ports or timers ---

  // The address of a frame the search accepts, or nullopt. Checksum and terminator must hold;
  // the listen pass takes any address, the sweep only the address being asked.
  [[nodiscard]] static std::optional<int> acceptFrame(QByteArrayView frame16, SearchPhase phase,
                                                      int askedAddress);
  // Records a meter in slot MeterAmount. A meter already listed at that address on that port is
  // not listed twice; an eleventh meter finds no slot.
  [[nodiscard]] static AddMeterResult addMeter(MeterTable &table, int address, int comNumber,
                                               MeterMode mode);
  // Ports in use: the found ports, in their order, that carry at least one valid meter, with
  // their verdicts. Ports that are not listed keep their old entries beyond MeterComCount.
  static void rebuildPortsInUse(MeterTable &table, const QList<int> &foundPorts,
                                const QList<int> &portTestResults);
  // Progress after listening on port k of n: round(30 (k+1) / n + 10).
  [[nodiscard]] static int listenProgress(int k, int n);
  // Progress after asking address a on port k: round(60 (a + N k) / (N (n - settled)) + 40),
  // N = maxMeterNo; nullopt when no port is left unsettled. N below 1 counts as 1, so a sweep
  // of address 0 alone divides by the port count only. Values above 100 are possible.
  [[nodiscard]] static std::optional<int> sweepProgress(int a, int k, int n, int settled,
                                                        int maxMeterNo);

signals:
  // 0..100 (values above 100 are sent as 100).
  void progressChanged(int value);
  // A port's listen wait begins; the window that shows the search comes to the front.
  void listening(int comNumber);
  // The sweep asks one address: its request is about to go out and its reply wait begins.
  void asking(int comNumber, int address);
  void finished(SearchOutcome outcome);

private:
  [[nodiscard]] SearchOutcome searchProper(SearchReport &report);
  // Opens a search port, asking the operator while it fails. nullopt: opened; else the answer.
  [[nodiscard]] std::optional<BusyPortAnswer> openPort(SerialLink &link, int comNumber);
  void onFrame(QByteArrayView frame16);
  void waitForFrame();
  void pause(int ms);
  void endWait();
  void setProgress(int value);

  MeterTable &m_table;
  ProfileStore &m_store;
  PortRegistry &m_registry;
  MeterSearchSettings m_settings;
  BusyPortHandler m_busyHandler;

  SerialLink *m_comPortTest;  // listen pass (child)
  SerialLink *m_comPortTest1; // address sweep (child)
  PacketFramer m_framerTest;
  PacketFramer m_framerTest1;
  ReplyTimer m_timerReceiveCount;
  QEventLoop *m_loop = nullptr; // the wait in progress

  QList<int> m_foundPorts;
  QList<int> m_portTestResults;
  SearchPhase m_phase = SearchPhase::Listen;
  int m_portIndex = 0;
  int m_portNumber = 0;
  int m_askedAddress = 0;
  int m_settledPortCount = 0;
  bool m_searchDone = false;
  bool m_running = false;
  bool m_abortRequested = false;
  bool m_meterLimitReached = false;
};
