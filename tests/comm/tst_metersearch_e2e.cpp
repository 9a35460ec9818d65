// The meter search against simulated meters on pseudo-terminals.
#include "app/ProfileStore.h"
#include "comm/MeterSearch.h"
#include "comm/MeterTable.h"
#include "comm/PortRegistry.h"
#include "comm/SerialLink.h"

#include "e2e/MeterSim.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

struct Slot {
  int no;
  int com;
  int state;
};
Q_DECLARE_METATYPE(Slot)

namespace {
using Ints = QList<int>;

QStringList noDevices() { return {}; }

// Compares the valid slots, in order, with the expected meters; the rest must be invalid.
bool slotsAre(const MeterTable &t, const QList<Slot> &expected, QString *why) {
  if (t.MeterAmount != expected.size()) {
    *why = QStringLiteral("MeterAmount %1").arg(t.MeterAmount);
    return false;
  }
  for (int i = 0; i < kMeterSlots; ++i) {
    const TMeterConfigure &m = t.Meters[size_t(i)];
    if (i >= expected.size()) {
      if (m.MeterValid) {
        *why = QStringLiteral("slot %1 valid").arg(i);
        return false;
      }
      continue;
    }
    const Slot &e = expected[i];
    if (!m.MeterValid || m.MeterNo != e.no || m.MeterCom != e.com || m.MeterState != e.state) {
      *why = QStringLiteral("slot %1: valid %2 no %3 com %4 state %5")
                 .arg(i)
                 .arg(m.MeterValid)
                 .arg(m.MeterNo)
                 .arg(m.MeterCom)
                 .arg(m.MeterState);
      return false;
    }
  }
  return true;
}

Ints portsInUse(const MeterTable &t) {
  Ints r;
  for (int i = 0; i < t.MeterComCount; ++i)
    r << t.MeterComPort[size_t(i)];
  return r;
}

Ints statesInUse(const MeterTable &t) {
  Ints r;
  for (int i = 0; i < t.MeterComCount; ++i)
    r << t.MeterComPortState[size_t(i)];
  return r;
}

Ints spyInts(const QSignalSpy &spy) {
  Ints r;
  for (const QList<QVariant> &args : spy)
    r << args[0].toInt();
  return r;
}
} // namespace

class TestMeterSearchE2E : public QObject {
  Q_OBJECT
private slots:
  void init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_store = std::make_unique<ProfileStore>(iniPath());
    m_registry = std::make_unique<PortRegistry>(*m_store, noDevices);
    m_table = std::make_unique<MeterTable>();
    m_sim = std::make_unique<MeterSim>();
  }

  void cleanup() {
    m_sim.reset();
    m_table.reset();
    m_registry.reset();
    m_store.reset();
    m_dir.reset();
  }

  // An active meter is found by listening, query meters by the sweep of the other port only.
  void activeAndQueryPorts() {
    QVERIFY(m_sim->start({"--port", "COM1", "--meter", "active,addr=12,interval=50", "--port", "COM2",
                          "--meter", "query,addr=1", "--meter", "query,addr=3"},
                         iniPath(), logPath()));
    MeterSearch search(*m_table, *m_store, *m_registry);
    search.setSettings(settings(10));
    QSignalSpy progress(&search, &MeterSearch::progressChanged);
    QSignalSpy listening(&search, &MeterSearch::listening);

    const SearchReport report = search.run();
    QCOMPARE(report.outcome, SearchOutcome::Completed);
    QVERIFY(report.saved);
    QVERIFY(!report.meterLimitReached);
    QCOMPARE(search.foundPorts(), (Ints{1, 2}));
    QCOMPARE(search.portTestResults(), (Ints{0, 1}));
    QCOMPARE(search.settledPortCount(), 1);
    QCOMPARE(spyInts(listening), (Ints{1, 2}));
    // 0, 10, the listen pass, then eleven addresses on the second of two ports with one settled:
    // the formula gives 100 and more, shown as full.
    QCOMPARE(spyInts(progress), (Ints{0, 10, 25, 40} + Ints(11, 100)));

    MeterTable saved;
    saved.load(*m_store);
    QString why;
    QVERIFY2(slotsAre(saved, {{12, 1, 0}, {1, 2, 1}, {3, 2, 1}}, &why), qPrintable(why));
    QCOMPARE(portsInUse(saved), (Ints{1, 2}));
    QCOMPARE(statesInUse(saved), (Ints{0, 1}));
    for (int i = 2; i < kPortEntries; ++i)
      QCOMPARE(saved.MeterComPortState[size_t(i)], -1);

    // Addresses 0 to 10 were each asked once on COM2; COM1 was not swept.
    QTRY_COMPARE(m_sim->requestsOn("COM2"), 11);
    QCOMPARE(m_sim->countKindOn("COM2", "RX-REQUEST"), 2);
    QCOMPARE(m_sim->requestsOn("COM1"), 0);
  }

  // Meters at addresses of two and three digits answer and are taken.
  void highAddressesFound() {
    QVERIFY(m_sim->start({"--port", "COM4", "--meter", "query,addr=12", "--meter", "query,addr=0",
                          "--meter", "query,addr=13"},
                         iniPath(), logPath()));
    MeterSearch search(*m_table, *m_store, *m_registry);
    search.setSettings(settings(12));
    const SearchReport report = search.run();
    QCOMPARE(report.outcome, SearchOutcome::Completed);
    QString why;
    // Found in the order asked; 13 lies beyond the highest address asked.
    QVERIFY2(slotsAre(*m_table, {{0, 4, 1}, {12, 4, 1}}, &why), qPrintable(why));
    QCOMPARE(portsInUse(*m_table), (Ints{4}));
    QCOMPARE(statesInUse(*m_table), (Ints{1}));
    QTRY_COMPARE(m_sim->requestsOn("COM4"), 13);
  }

  // A port held by someone else: the operator's answer decides.
  void busyPort_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QList<Slot>>("meters");
    QTest::addColumn<Ints>("results");
    QTest::addColumn<int>("com2Requests");

    QTest::newRow("ignore") << int(BusyPortAnswer::Ignore) << int(SearchOutcome::Completed)
                            << QList<Slot>{{5, 1, 0}} << Ints{0, 2} << 0;
    // The meter found before the abort stays and its port is listed as in use.
    QTest::newRow("abort") << int(BusyPortAnswer::Abort) << int(SearchOutcome::Aborted)
                           << QList<Slot>{{5, 1, 0}} << Ints{0, -1} << 0;
    // The handler releases the port before answering Retry.
    QTest::newRow("retry") << int(BusyPortAnswer::Retry) << int(SearchOutcome::Completed)
                           << QList<Slot>{{5, 1, 0}, {2, 2, 1}} << Ints{0, 1} << 4;
  }

  void busyPort() {
    QFETCH(int, answer);
    QFETCH(int, outcome);
    QFETCH(QList<Slot>, meters);
    QFETCH(Ints, results);
    QFETCH(int, com2Requests);
    QVERIFY(m_sim->start({"--port", "COM1", "--meter", "active,addr=5,interval=50", "--port", "COM2",
                          "--meter", "query,addr=2"},
                         iniPath(), logPath()));
    // A previous search's ports-in-use list, which the result must replace.
    m_table->MeterComCount = 3;
    m_table->MeterComPort = {7, 8, 9};

    SerialLink holder(*m_registry);
    QCOMPARE(holder.open(2, kDefaultBaudCode), SerialLinkError::None);
    MeterSearch search(*m_table, *m_store, *m_registry);
    search.setSettings(settings(3));
    Ints asked;
    search.setBusyPortHandler([&](int com) {
      asked << com;
      if (BusyPortAnswer(answer) == BusyPortAnswer::Retry)
        holder.close();
      return BusyPortAnswer(answer);
    });

    const SearchReport report = search.run();
    QCOMPARE(int(report.outcome), outcome);
    QVERIFY(report.saved);
    QCOMPARE(asked, (Ints{2}));
    QCOMPARE(search.portTestResults(), results);

    MeterTable saved;
    saved.load(*m_store);
    QString why;
    QVERIFY2(slotsAre(saved, meters, &why), qPrintable(why));
    Ints ports;
    Ints states;
    for (const Slot &m : meters) {
      if (!ports.contains(m.com)) {
        ports << m.com;
        states << (m.state == 0 ? 0 : 1);
      }
    }
    QCOMPARE(portsInUse(saved), ports);
    QCOMPARE(statesInUse(saved), states);
    QTRY_COMPARE(m_sim->requestsOn("COM2"), com2Requests);
    QCOMPARE(m_sim->requestsOn("COM1"), 0);
  }

  // Nothing answers: no meter, every port verdict -1, the old ports-in-use list kept. A mapping
  // whose name is not "COM" and a number is not searched, even when its device exists.
  void nothingFoundKeepsPortList() {
    QVERIFY(m_sim->start({"--port", "COM2", "--meter", "query,addr=7", "--port", "COM3", "--meter",
                          "query,addr=1"},
                         iniPath(), logPath()));
    const QString section = PortRegistry::sectionName();
    QVERIFY(m_store->writeString(section, "COMx", m_sim->ports["COM3"]));
    QVERIFY(m_store->writeString(section, "COM3", QString()));

    m_table->MeterAmount = 1;
    m_table->Meters[0].MeterValid = true;
    m_table->Meters[0].MeterType = QStringLiteral("Z96");
    m_table->MeterComCount = 1;
    m_table->MeterComPort[0] = 9;
    m_table->MeterComPortState[0] = 0;
    QVERIFY(m_table->save(*m_store));

    MeterSearch search(*m_table, *m_store, *m_registry);
    search.setSettings(settings(3));
    const SearchReport report = search.run();
    QCOMPARE(report.outcome, SearchOutcome::Completed);
    QCOMPARE(search.foundPorts(), (Ints{2}));
    QCOMPARE(search.portTestResults(), (Ints{-1}));

    MeterTable saved;
    saved.load(*m_store);
    QCOMPARE(saved.MeterAmount, 0);
    for (int i = 0; i < kMeterSlots; ++i)
      QVERIFY(!saved.Meters[size_t(i)].MeterValid);
    QCOMPARE(saved.Meters[0].MeterType, QStringLiteral("Z96"));
    for (int i = 0; i < kPortEntries; ++i)
      QCOMPARE(saved.MeterComPortState[size_t(i)], -1);
    QCOMPARE(saved.MeterComCount, 1);
    QCOMPARE(saved.MeterComPort[0], 9);
    QTRY_COMPARE(m_sim->requestsOn("COM2"), 4);
    QCOMPARE(m_sim->requestsOn("COM3"), 0);
  }

  // Every listen wait and every address nobody answers gets its full reply window. Each wait lies
  // between the signal that opens it and the next one, so that span is a lower bound for it.
  void replyWindowsLastTheirFullTime() {
    QVERIFY(m_sim->start({"--port", "COM1", "--meter", "query,addr=3", "--port", "COM2", "--meter",
                          "query,addr=1"},
                         iniPath(), logPath()));
    MeterSearch search(*m_table, *m_store, *m_registry);
    search.setSettings(settings(6));
    struct Mark {
      QString what;
      bool answered;
      qint64 ns;
    };
    QList<Mark> marks;
    QElapsedTimer clock; // monotonic
    clock.start();
    connect(&search, &MeterSearch::listening, this, [&](int com) {
      marks.append({QStringLiteral("listen COM%1").arg(com), false, clock.nsecsElapsed()});
    });
    connect(&search, &MeterSearch::asking, this, [&](int com, int address) {
      const bool answered = (com == 1 && address == 3) || (com == 2 && address == 1);
      marks.append({QStringLiteral("COM%1 address %2").arg(com).arg(address), answered,
                    clock.nsecsElapsed()});
    });
    connect(&search, &MeterSearch::finished, this,
            [&] { marks.append({QStringLiteral("end"), false, clock.nsecsElapsed()}); });

    QCOMPARE(search.run().outcome, SearchOutcome::Completed);
    QString why;
    QVERIFY2(slotsAre(*m_table, {{3, 1, 1}, {1, 2, 1}}, &why), qPrintable(why));
    QCOMPARE(marks.size(), 2 + 2 * 7 + 1);
    for (qsizetype i = 0; i + 1 < marks.size(); ++i) {
      if (marks[i].answered)
        continue;
      const qint64 spanNs = marks[i + 1].ns - marks[i].ns;
      QVERIFY2(spanNs >= qint64(200) * 1000 * 1000,
               qPrintable(QStringLiteral("%1: %2 ms").arg(marks[i].what).arg(spanNs / 1e6)));
    }
  }

  // A wait keeps the event loop running, and abort() ends the search from inside it.
  void abortFromEventLoop() {
    QVERIFY(m_sim->start({"--port", "COM1", "--meter", "query,addr=1"}, iniPath(), logPath()));
    MeterSearch search(*m_table, *m_store, *m_registry);
    search.setSettings(settings(50));
    QSignalSpy finished(&search, &MeterSearch::finished);
    SearchOutcome nested = SearchOutcome::Completed;
    connect(&search, &MeterSearch::progressChanged, &search, [&](int value) {
      if (value <= 40) // the listen pass and address 0
        return;
      // A second search cannot start inside the first; then stop the first.
      QTimer::singleShot(0, &search, [&] {
        if (search.running()) {
          nested = search.run().outcome;
          search.abort();
        }
      });
    });
    const SearchReport report = search.run();
    QCOMPARE(nested, SearchOutcome::AlreadyRunning);
    QCOMPARE(report.outcome, SearchOutcome::Aborted);
    QCOMPARE(finished.size(), 1);
    QVERIFY(!search.running());
    QString why;
    QVERIFY2(slotsAre(*m_table, {{1, 1, 1}}, &why), qPrintable(why));
    QCOMPARE(portsInUse(*m_table), (Ints{1}));
    // Addresses 0 and 1 answered, 2 was asked when the abort came.
    QTRY_COMPARE(m_sim->requestsOn("COM1"), 3);
  }

private:
  [[nodiscard]] QString iniPath() const { return m_dir->filePath(QStringLiteral("Sys.ini")); }
  [[nodiscard]] QString logPath() const { return m_dir->filePath(QStringLiteral("sim.log")); }
  [[nodiscard]] static MeterSearchSettings settings(int maxMeterNo) {
    MeterSearchSettings s;
    s.maxMeterNo = maxMeterNo;
    return s;
  }

  std::unique_ptr<QTemporaryDir> m_dir;
  std::unique_ptr<ProfileStore> m_store;
  std::unique_ptr<PortRegistry> m_registry;
  std::unique_ptr<MeterTable> m_table;
  std::unique_ptr<MeterSim> m_sim;
};

QTEST_GUILESS_MAIN(TestMeterSearchE2E)
#include "tst_metersearch_e2e.moc"
