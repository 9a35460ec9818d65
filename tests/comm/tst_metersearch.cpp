// The meter search's decisions: which frames it takes, how it records meters, the ports-in-use
// list, the progress values, and a search on a computer without serial ports.
#include "app/ProfileStore.h"
#include "comm/MeterSearch.h"
#include "comm/MeterTable.h"
#include "comm/PortRegistry.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

Q_DECLARE_METATYPE(std::optional<int>)

namespace {
using Ints = QList<int>;

QStringList noDevices() { return {}; }
} // namespace

class TestMeterSearch : public QObject {
  Q_OBJECT
private slots:
  void acceptFrame_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("phase");
    QTest::addColumn<int>("asked");
    QTest::addColumn<int>("expected"); // -1: refused

    const int listen = int(SearchPhase::Listen);
    const int sweep = int(SearchPhase::Sweep);
    const QByteArray addr1 = QByteArray::fromHex("4030303152443032343332313035310D");  // @001RD024321051
    const QByteArray addr12 = QByteArray::fromHex("4030313252443030303030303035350D"); // @012RD000000055
    const QByteArray addr999 = "@999RD00123455e\r";

    QTest::newRow("listen takes any address") << addr12 << listen << 0 << 12;
    QTest::newRow("listen ignores the asked address") << addr1 << listen << 7 << 1;
    QTest::newRow("sweep takes the asked address") << addr1 << sweep << 1 << 1;
    QTest::newRow("sweep refuses another address") << addr1 << sweep << 2 << -1;
    QTest::newRow("sweep takes address 12") << addr12 << sweep << 12 << 12;
    QTest::newRow("sweep takes address 999") << addr999 << sweep << 999 << 999;
    QTest::newRow("upper-case checksum") << QByteArray("@999RD00123455E\r") << sweep << 999 << 999;
    QTest::newRow("wrong checksum") << QByteArray("@001RD024321052\r") << listen << 0 << -1;
    QTest::newRow("no CR") << QByteArray("@001RD024321051\n") << listen << 0 << -1;
    QTest::newRow("address not a number") << QByteArray("@0A1RD000000026\r") << listen << 0 << -1;
    // Decimal places and magnitude are not looked at: a meter with an odd reading is still found.
    QTest::newRow("decimal digit 6") << QByteArray("@001RD060000051\r") << sweep << 1 << 1;
    QTest::newRow("short frame") << QByteArray("@001RD0243") << listen << 0 << -1;
  }

  void acceptFrame() {
    QFETCH(QByteArray, frame);
    QFETCH(int, phase);
    QFETCH(int, asked);
    QFETCH(int, expected);
    const std::optional<int> got = MeterSearch::acceptFrame(frame, SearchPhase(phase), asked);
    QCOMPARE(got.value_or(-1), expected);
  }

  void addMeterFillsSlotsInOrder() {
    MeterTable t;
    t.Meters[1].MeterType = QStringLiteral("DP3");
    t.Meters[1].MeterPrecision = 4;
    QCOMPARE(MeterSearch::addMeter(t, 12, 1, MeterMode::Active), AddMeterResult::Added);
    QCOMPARE(MeterSearch::addMeter(t, 12, 1, MeterMode::Active), AddMeterResult::Duplicate);
    // The same address on another port is another meter.
    QCOMPARE(MeterSearch::addMeter(t, 12, 2, MeterMode::Query), AddMeterResult::Added);
    QCOMPARE(t.MeterAmount, 2);
    QVERIFY(t.Meters[0].MeterValid);
    QCOMPARE(t.Meters[0].MeterNo, 12);
    QCOMPARE(t.Meters[0].MeterCom, 1);
    QCOMPARE(t.Meters[0].MeterState, 0);
    QCOMPARE(t.Meters[1].MeterCom, 2);
    QCOMPARE(t.Meters[1].MeterState, 1);
    QCOMPARE(t.Meters[1].MeterType, QStringLiteral("DP3"));
    QCOMPARE(t.Meters[1].MeterPrecision, 4);
    QVERIFY(!t.Meters[2].MeterValid);
  }

  void addMeterStopsAtTenMeters() {
    MeterTable t;
    for (int a = 0; a < kMeterSlots; ++a)
      QCOMPARE(MeterSearch::addMeter(t, a, 3, MeterMode::Query), AddMeterResult::Added);
    QCOMPARE(MeterSearch::addMeter(t, 10, 3, MeterMode::Query), AddMeterResult::TableFull);
    QCOMPARE(MeterSearch::addMeter(t, 0, 4, MeterMode::Active), AddMeterResult::TableFull);
    // A meter already listed is still recognised when the table is full.
    QCOMPARE(MeterSearch::addMeter(t, 9, 3, MeterMode::Query), AddMeterResult::Duplicate);
    QCOMPARE(t.MeterAmount, kMeterSlots);
    QCOMPARE(t.Meters[9].MeterNo, 9);
  }

  void rebuildPortsInUse_data() {
    QTest::addColumn<Ints>("found");
    QTest::addColumn<Ints>("results");
    QTest::addColumn<Ints>("meterPorts"); // one valid slot per entry, in slot order
    QTest::addColumn<Ints>("expectedPorts");
    QTest::addColumn<Ints>("expectedStates");

    // Ports in use follow the enumeration order, not the order the meters were found in.
    QTest::newRow("active port found first")
        << Ints{3, 4} << Ints{1, 0} << Ints{4, 3, 3} << Ints{3, 4} << Ints{1, 0};
    QTest::newRow("ports without meters left out")
        << Ints{1, 2, 5, 7} << Ints{-1, 2, 1, 0} << Ints{7, 5} << Ints{5, 7} << Ints{1, 0};
    QTest::newRow("no meter") << Ints{1, 2} << Ints{-1, -1} << Ints{} << Ints{} << Ints{};
  }

  void rebuildPortsInUse() {
    QFETCH(Ints, found);
    QFETCH(Ints, results);
    QFETCH(Ints, meterPorts);
    QFETCH(Ints, expectedPorts);
    QFETCH(Ints, expectedStates);
    MeterTable t;
    t.MeterComCount = 9;
    t.MeterComPort.fill(42);
    t.MeterComPortState.fill(-1);
    for (int i = 0; i < meterPorts.size(); ++i) {
      t.Meters[size_t(i)].MeterValid = true;
      t.Meters[size_t(i)].MeterCom = meterPorts[i];
    }
    // An invalid slot on a listed port does not put the port in use.
    t.Meters[9].MeterCom = found.first();
    MeterSearch::rebuildPortsInUse(t, found, results);
    QCOMPARE(t.MeterComCount, expectedPorts.size());
    for (int i = 0; i < expectedPorts.size(); ++i) {
      QCOMPARE(t.MeterComPort[size_t(i)], expectedPorts[i]);
      QCOMPARE(t.MeterComPortState[size_t(i)], expectedStates[i]);
    }
    for (int i = int(expectedPorts.size()); i < kPortEntries; ++i) {
      QCOMPARE(t.MeterComPort[size_t(i)], 42);
      QCOMPARE(t.MeterComPortState[size_t(i)], -1);
    }
  }

  void listenProgress_data() {
    QTest::addColumn<int>("k");
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("expected");
    QTest::newRow("one port") << 0 << 1 << 40;
    QTest::newRow("first of three") << 0 << 3 << 20;
    QTest::newRow("second of three") << 1 << 3 << 30;
    QTest::newRow("last of three") << 2 << 3 << 40;
    QTest::newRow("first of 21, rounded down") << 0 << 21 << 11;
    QTest::newRow("first of 7, rounded up") << 1 << 7 << 19; // 18.57
  }

  void listenProgress() {
    QFETCH(int, k);
    QFETCH(int, n);
    QFETCH(int, expected);
    QCOMPARE(MeterSearch::listenProgress(k, n), expected);
  }

  void sweepProgress_data() {
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("k");
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("settled");
    QTest::addColumn<int>("maxMeterNo");
    QTest::addColumn<int>("expected"); // -1: the bar is left alone

    QTest::newRow("first address") << 0 << 0 << 1 << 0 << 10 << 40;
    QTest::newRow("last address of the only port") << 10 << 0 << 1 << 0 << 10 << 100;
    QTest::newRow("second port, middle") << 3 << 1 << 2 << 0 << 10 << 79;
    // k counts all found ports, settled ones included, so the value can pass 100.
    QTest::newRow("beyond full") << 5 << 1 << 2 << 1 << 10 << 130;
    QTest::newRow("every port settled") << 0 << 0 << 2 << 2 << 10 << -1;
    QTest::newRow("more settled than ports") << 0 << 0 << 1 << 2 << 10 << -1;
    QTest::newRow("max address 0, first port") << 0 << 0 << 2 << 0 << 0 << 40;
    QTest::newRow("max address 0, second port") << 0 << 1 << 2 << 0 << 0 << 70;
    QTest::newRow("negative max address") << 0 << 1 << 4 << 0 << -3 << 55;
  }

  void sweepProgress() {
    QFETCH(int, a);
    QFETCH(int, k);
    QFETCH(int, n);
    QFETCH(int, settled);
    QFETCH(int, maxMeterNo);
    QFETCH(int, expected);
    QCOMPARE(MeterSearch::sweepProgress(a, k, n, settled, maxMeterNo).value_or(-1), expected);
  }

  // No serial port at all: reported, and the table saved without meters; the old ports-in-use
  // list stays.
  void noPortsSavesEmptyTable() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ProfileStore store(dir.filePath(QStringLiteral("Sys.ini")));
    // A port whose name is not a number does not count as a port.
    QVERIFY(store.writeString(PortRegistry::sectionName(), QStringLiteral("COMx"), QStringLiteral("/dev/null")));
    PortRegistry registry(store, noDevices);
    MeterTable t;
    t.MeterAmount = 2;
    t.MeterComCount = 1;
    t.MeterComPort[0] = 6;
    t.MeterComPortState[0] = 1;
    t.Meters[0].MeterValid = true;
    t.Meters[1].MeterValid = true;
    MeterSearch search(t, store, registry);
    int asked = 0;
    search.setBusyPortHandler([&asked](int) {
      ++asked;
      return BusyPortAnswer::Abort;
    });
    QSignalSpy progress(&search, &MeterSearch::progressChanged);
    QSignalSpy finished(&search, &MeterSearch::finished);

    const SearchReport report = search.run();
    QCOMPARE(report.outcome, SearchOutcome::NoPorts);
    QVERIFY(report.saved);
    QVERIFY(!search.running());
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished[0][0].value<SearchOutcome>(), SearchOutcome::NoPorts);
    QCOMPARE(progress.size(), 1);
    QCOMPARE(progress[0][0].toInt(), 0);
    QCOMPARE(asked, 0);

    MeterTable loaded;
    loaded.load(store);
    QCOMPARE(loaded.MeterAmount, 0);
    QCOMPARE(loaded.MeterComCount, 1);
    QCOMPARE(loaded.MeterComPort[0], 6);
    for (int i = 0; i < kMeterSlots; ++i)
      QVERIFY(!loaded.Meters[size_t(i)].MeterValid);
    for (int i = 0; i < kPortEntries; ++i)
      QCOMPARE(loaded.MeterComPortState[size_t(i)], -1);
  }

  // A Sys.ini that cannot be written is reported rather than passed over.
  void unwritableSettingsReported() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ProfileStore store(dir.filePath(QStringLiteral("missing-folder/Sys.ini")));
    PortRegistry registry(store, noDevices);
    MeterTable t;
    MeterSearch search(t, store, registry);
    const SearchReport report = search.run();
    QCOMPARE(report.outcome, SearchOutcome::NoPorts);
    QVERIFY(!report.saved);
  }
};

QTEST_GUILESS_MAIN(TestMeterSearch)
#include "tst_metersearch.moc"
