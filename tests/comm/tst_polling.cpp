// The polling engine against pseudo-terminals on which the test plays the meters by hand.
#include "PtyPair.h"

#include "acquisition/AutoResetEvent.h"
#include "acquisition/ChannelFormats.h"
#include "acquisition/SampleRing.h"
#include "app/AppContext.h"
#include "comm/PollingEngine.h"
#include "comm/PortRegistry.h"
#include "comm/SerialLink.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

constexpr int kWaitMs = 5000;

// One engine with everything it needs, on a Sys.ini of its own.
struct Rig {
  QTemporaryDir dir;
  AppContext ctx{ProgramPaths{}};
  SampleRing ring;
  ChannelFormats formats;
  AutoResetEvent readSignal;
  AutoResetEvent abandonSignal;
  std::vector<std::unique_ptr<PtyPair>> ptys;
  std::unique_ptr<PollingEngine> engine;
  std::vector<TSampleRecord> samples; // everything drained so far

  Rig() {
    ctx.settings = std::make_unique<ProfileStore>(dir.filePath(QStringLiteral("Sys.ini")));
    ctx.options.SampleIntervalMs = 0;
    ring.reset();
    ring.setStartTime();
    engine = std::make_unique<PollingEngine>(ctx, ring, formats, readSignal, abandonSignal);
  }

  // A pseudo-terminal mapped as COMn; returns its master side.
  PtyPair &addPty(int com) {
    ptys.push_back(std::make_unique<PtyPair>());
    PtyPair &pty = *ptys.back();
    (void)ctx.settings->writeString(PortRegistry::sectionName(), ComPortName(com), pty.slavePath());
    return pty;
  }
  void usePorts(const QList<int> &coms) {
    ctx.meters.MeterComCount = static_cast<qint32>(coms.size());
    for (int i = 0; i < coms.size(); ++i)
      ctx.meters.MeterComPort[static_cast<size_t>(i)] = coms[i];
  }
  TMeterConfigure &meter(int slot) { return ctx.meters.Meters[static_cast<size_t>(slot)]; }
  void addMeter(int slot, int address, int com, MeterMode mode) {
    TMeterConfigure &m = meter(slot);
    m.MeterNo = address;
    m.MeterCom = com;
    m.MeterState = static_cast<qint32>(mode);
    m.MeterValid = true;
    ctx.meters.MeterAmount = std::max(ctx.meters.MeterAmount, slot + 1);
  }
  qsizetype drained() {
    ring.drain(samples);
    return static_cast<qsizetype>(samples.size());
  }
};

// Bytes as written out by hand (CR is \r).
const QByteArray kReply1234 = "@001RD024321051\r";    // address 1, 12.34
const QByteArray kReplyMinus5 = "@001RD130005050\r";  // address 1, -5.000
const QByteArray kRequest1 = "@001RD67\r";

bool canOpen(const PortRegistry &registry, int com) {
  SerialLink link(registry);
  return link.open(com, kDefaultBaudCode) == SerialLinkError::None;
}

} // namespace

class TestPolling : public QObject {
  Q_OBJECT

private slots:
  void portCheck_data() {
    QTest::addColumn<QList<int>>("inUse");
    QTest::addColumn<QList<int>>("mapped");
    QTest::addColumn<int>("busy");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("message");

    QTest::newRow("no port in use") << QList<int>{} << QList<int>{3} << 0 << false << QString();
    QTest::newRow("all open") << QList<int>{3, 4} << QList<int>{3, 4} << 0 << true << QString();
    QTest::newRow("unmapped") << QList<int>{7} << QList<int>{3} << 0 << false
                              << QStringLiteral("COM7不存在,或被其他程序占用！");
    QTest::newRow("first failure named") << QList<int>{3, 8, 9} << QList<int>{3} << 0 << false
                                         << QStringLiteral("COM8不存在,或被其他程序占用！");
    QTest::newRow("busy") << QList<int>{3, 4} << QList<int>{3, 4} << 4 << false
                          << QStringLiteral("COM4不存在,或被其他程序占用！");
  }
  void portCheck() {
    QFETCH(QList<int>, inUse);
    QFETCH(QList<int>, mapped);
    QFETCH(int, busy);
    QFETCH(bool, ok);
    QFETCH(QString, message);

    Rig rig;
    for (int com : mapped)
      QVERIFY(rig.addPty(com).isValid());
    rig.usePorts(inUse);
    PortRegistry registry(*rig.ctx.settings);
    SerialLink holder(registry);
    if (busy != 0)
      QCOMPARE(holder.open(busy, kDefaultBaudCode), SerialLinkError::None);

    QString text = QStringLiteral("stale");
    QCOMPARE(rig.engine->checkPorts(&text), ok);
    QCOMPARE(text, message);
    // The check leaves every port closed again.
    for (int com : mapped)
      if (com != busy)
        QVERIFY(canOpen(registry, com));
  }

  void startOutsideLimits_data() {
    QTest::addColumn<int>("count");
    QTest::newRow("0") << 0;
    QTest::newRow("-1") << -1;
    QTest::newRow("21") << 21;
  }
  void startOutsideLimits() {
    QFETCH(int, count);
    Rig rig;
    rig.addPty(3);
    rig.usePorts({3});
    rig.addMeter(0, 1, 3, MeterMode::Active);

    QCOMPARE(rig.engine->start(count).status, StartResult::Status::NothingToStart);
    QVERIFY(!rig.engine->running());
    QCOMPARE(rig.engine->portCount(), 0);
    PortRegistry registry(*rig.ctx.settings);
    QVERIFY(canOpen(registry, 3));

    // Nor does it touch a run in progress.
    QVERIFY(rig.engine->start(1).started());
    QCOMPARE(rig.engine->start(count).status, StartResult::Status::NothingToStart);
    QVERIFY(rig.engine->running());
    QVERIFY(!canOpen(registry, 3));
    rig.engine->stop();
    QVERIFY(!rig.engine->running());
    QVERIFY(canOpen(registry, 3));
  }

  // A port that passed the check but does not open at start: nothing is left running.
  void startFailsWhenAPortWillNotOpen() {
    Rig rig;
    rig.addPty(3);
    rig.addPty(4);
    rig.usePorts({3, 4});
    rig.addMeter(0, 1, 3, MeterMode::Query);
    rig.addMeter(1, 2, 4, MeterMode::Query);
    QString text;
    QVERIFY(rig.engine->checkPorts(&text));

    PortRegistry registry(*rig.ctx.settings);
    SerialLink other(registry);
    QCOMPARE(other.open(4, kDefaultBaudCode), SerialLinkError::None);

    const StartResult result = rig.engine->start(2);
    QCOMPARE(result.status, StartResult::Status::PortFailed);
    QCOMPARE(result.com, 4);
    QCOMPARE(result.message, QStringLiteral("COM4不存在,或被其他程序占用！"));
    QVERIFY(!rig.engine->running());
    QVERIFY(canOpen(registry, 3));
    QCOMPARE(rig.ptys[0]->readMaster(1, 0), QByteArray()); // no request went out on COM3
  }

  void queryRequestAndReply() {
    Rig rig;
    PtyPair &line = rig.addPty(3);
    rig.usePorts({3});
    rig.addMeter(0, 1, 3, MeterMode::Query);
    QVERIFY(rig.engine->start(1).started());

    QCOMPARE(line.readMaster(9, kWaitMs), kRequest1);
    QVERIFY(line.writeMaster(kReply1234));
    QTRY_COMPARE_WITH_TIMEOUT(rig.drained(), 1, kWaitMs);
    rig.engine->stop();

    const TSampleRecord s = rig.samples.front();
    // Packed record: copy the fields out before comparing.
    QCOMPARE(qint32(s.Channel), 0);
    QCOMPARE(double(s.Value), 12.34);
    QCOMPARE(rig.meter(0).MeterValue.load(), 12.34);
    QCOMPARE(rig.engine->stats(0).goodFrames, quint64(1));
    QVERIFY(rig.engine->stats(0).requests >= 1);
    // Every byte on the line is a whole request for address 1.
    const QByteArray rest = line.readMaster(4096, 0);
    QCOMPARE(rest.size() % 9, 0);
    QCOMPARE(rest, kRequest1.repeated(rest.size() / 9));
  }

  // Each frame is followed by a good one, so the framer has certainly handled the first when the
  // second's sample is there.
  void frameChecks_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("reject");
    QTest::addColumn<double>("value");

    QTest::newRow("good") << kReply1234 << int(FrameReject::None) << 12.34;
    QTest::newRow("upper-case checksum") << QByteArray("@001RD01999995F\r") << int(FrameReject::None) << 9999.9;
    QTest::newRow("lower-case checksum") << QByteArray("@001RD01999995f\r") << int(FrameReject::None) << 9999.9;
    QTest::newRow("negative") << kReplyMinus5 << int(FrameReject::None) << -5.0;
    QTest::newRow("garbage before") << QByteArray("xy\r" + kReply1234) << int(FrameReject::None) << 12.34;
    QTest::newRow("other address") << QByteArray("@002RD024321052\r") << int(FrameReject::Address) << 0.0;
    QTest::newRow("checksum") << QByteArray("@001RD024321052\r") << int(FrameReject::Checksum) << 0.0;
    QTest::newRow("terminator") << QByteArray("@001RD024321051\n") << int(FrameReject::Terminator) << 0.0;
    QTest::newRow("decimal digit 6") << QByteArray("@001RD064321055\r") << int(FrameReject::DecimalDigit) << 0.0;
    QTest::newRow("magnitude") << QByteArray("@001RD02432A021\r") << int(FrameReject::Magnitude) << 0.0;
  }
  void frameChecks() {
    QFETCH(QByteArray, frame);
    QFETCH(int, reject);
    QFETCH(double, value);

    Rig rig;
    PtyPair &line = rig.addPty(3);
    rig.usePorts({3});
    rig.addMeter(0, 1, 3, MeterMode::Active);
    QVERIFY(rig.engine->start(1).started());
    QVERIFY(line.writeMaster(frame + kReplyMinus5));
    const qsizetype expected = reject == int(FrameReject::None) ? 2 : 1;
    QTRY_COMPARE_WITH_TIMEOUT(rig.drained(), expected, kWaitMs);
    rig.engine->stop();

    if (expected == 2)
      QCOMPARE(double(rig.samples.front().Value), value);
    QCOMPARE(double(rig.samples.back().Value), -5.0);
    const PortStats stats = rig.engine->stats(0);
    QCOMPARE(stats.goodFrames, quint64(expected));
    QCOMPARE(stats.totalRejects(), quint64(expected == 2 ? 0 : 1));
    if (expected == 1)
      QCOMPARE(stats.rejected(FrameReject(reject)), quint64(1));
  }

  // Decimal places go to the meter, the channel format and Sys.ini, and only when they change.
  void precisionWrittenOnChange() {
    Rig rig;
    PtyPair &line = rig.addPty(3);
    rig.usePorts({3});
    rig.addMeter(4, 1, 3, MeterMode::Active); // slot 4 feeds channel 5
    QCOMPARE(rig.meter(4).MeterPrecision, 10); // as loaded from a fresh Sys.ini
    const QString section = QStringLiteral("Channel5");
    const QString key = QStringLiteral("PrecisionArray");
    QVERIFY(rig.engine->start(1).started());

    QVERIFY(line.writeMaster(kReply1234));
    QTRY_COMPARE_WITH_TIMEOUT(rig.drained(), 1, kWaitMs);
    // Sys.ini is written on the engine's thread, after the sample.
    QTRY_COMPARE(rig.ctx.settings->readInteger(section, key, -1), 2);
    QCOMPARE(rig.formats.format(4), QStringLiteral("%.2f"));

    // Same places again: nothing is written, so a value put there meanwhile stays.
    QVERIFY(rig.ctx.settings->writeInteger(section, key, 9));
    QVERIFY(line.writeMaster(kReply1234));
    QTRY_COMPARE_WITH_TIMEOUT(rig.drained(), 2, kWaitMs);
    QCoreApplication::processEvents(); // a write would have been queued before the sample
    QCOMPARE(rig.ctx.settings->readInteger(section, key, -1), 9);

    QVERIFY(line.writeMaster(kReplyMinus5));
    QTRY_COMPARE_WITH_TIMEOUT(rig.drained(), 3, kWaitMs);
    rig.engine->stop();
    QTRY_COMPARE(rig.ctx.settings->readInteger(section, key, -1), 3);
    QCOMPARE(rig.formats.format(4), QStringLiteral("%.3f"));
    QCOMPARE(rig.meter(4).MeterPrecision, 3);
    QCOMPARE(qint32(rig.samples[2].Channel), 4);
  }

  void silentMeterTimesOutAndRecovers_data() {
    QTest::addColumn<int>("mode");
    QTest::newRow("active") << int(MeterMode::Active);
    QTest::newRow("query") << int(MeterMode::Query);
  }
  void silentMeterTimesOutAndRecovers() {
    QFETCH(int, mode);
    Rig rig;
    PtyPair &line = rig.addPty(3);
    rig.usePorts({3});
    rig.addMeter(0, 1, 3, MeterMode(mode));
    rig.meter(0).MeterAlive = true;
    rig.meter(0).MeterValue = 7.0;
    QVERIFY(rig.engine->start(1).started());

    QTRY_VERIFY_WITH_TIMEOUT(!rig.meter(0).MeterAlive.load(), 2000);
    QVERIFY(rig.engine->stats(0).timeouts >= 1);
    QCOMPARE(rig.meter(0).MeterValue.load(), 7.0); // kept, and no sample
    QCOMPARE(rig.drained(), 0);
    // A frame the checks refuse does not count as an answer.
    QVERIFY(line.writeMaster("@001RD064321055\r"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.engine->stats(0).rejected(FrameReject::DecimalDigit), quint64(1), kWaitMs);
    QVERIFY(!rig.meter(0).MeterAlive.load());

    QVERIFY(line.writeMaster(kReply1234));
    QTRY_VERIFY_WITH_TIMEOUT(rig.meter(0).MeterAlive.load(), kWaitMs);
    QCOMPARE(rig.meter(0).MeterValue.load(), 12.34);
    rig.engine->stop();
  }

  // The abandon signal of the previous stop, or one during the pause, never triggers a request;
  // the read signal cuts the pause short.
  void pacingSignals() {
    Rig rig;
    PtyPair &line = rig.addPty(3);
    rig.usePorts({3});
    rig.addMeter(0, 1, 3, MeterMode::Query);
    rig.ctx.options.SampleIntervalMs = 3600000;
    rig.abandonSignal.set(); // left pending by the previous acquisition's stop
    QVERIFY(rig.engine->start(1).started());

    QTRY_VERIFY_WITH_TIMEOUT(!rig.abandonSignal.isSet(), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(rig.readSignal.waitingThreads(), 1, kWaitMs);
    rig.abandonSignal.set();
    QTRY_COMPARE_WITH_TIMEOUT(rig.readSignal.waitingThreads(), 1, kWaitMs);
    QVERIFY(!rig.abandonSignal.isSet());
    QCOMPARE(line.readMaster(1, 0), QByteArray());

    rig.readSignal.set();
    QCOMPARE(line.readMaster(9, kWaitMs), kRequest1);
    rig.engine->stop();
  }

  // 2^32 ms + 50 ms must not turn into a 50 ms pause.
  void longIntervalKeepsItsHighBits() {
    Rig rig;
    PtyPair &line = rig.addPty(3);
    rig.usePorts({3});
    rig.addMeter(0, 1, 3, MeterMode::Query);
    rig.ctx.options.SampleIntervalMs = (qint64(1) << 32) + 50;
    QVERIFY(rig.engine->start(1).started());
    QTRY_COMPARE_WITH_TIMEOUT(rig.readSignal.waitingThreads(), 1, kWaitMs);
    QCOMPARE(line.readMaster(1, 500), QByteArray());
    rig.engine->stop();
  }

  // A new interval set while polling runs applies to the pause in progress, counted from its
  // start: a shorter one lets the request go, a longer one holds the next request back.
  void intervalChangeAppliesWhilePolling_data() {
    QTest::addColumn<qint64>("before");
    QTest::addColumn<qint64>("after");
    QTest::addColumn<bool>("requestsGoOn");
    QTest::newRow("an hour to none") << qint64(3600000) << qint64(0) << true;
    QTest::newRow("an hour to 300 ms") << qint64(3600000) << qint64(300) << true;
    QTest::newRow("20 ms to an hour") << qint64(20) << qint64(3600000) << false;
  }
  void intervalChangeAppliesWhilePolling() {
    QFETCH(qint64, before);
    QFETCH(qint64, after);
    QFETCH(bool, requestsGoOn);
    Rig rig;
    PtyPair &line = rig.addPty(3);
    rig.usePorts({3});
    rig.addMeter(0, 1, 3, MeterMode::Query); // never answers: each request costs a time-out
    rig.ctx.options.SampleIntervalMs = before;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(rig.engine->start(1).started());
    if (requestsGoOn) {
      QTRY_COMPARE_WITH_TIMEOUT(rig.readSignal.waitingThreads(), 1, kWaitMs);
      QCOMPARE(line.readMaster(1, 200), QByteArray());
    } else {
      QCOMPARE(line.readMaster(9, kWaitMs), kRequest1);
    }

    rig.engine->setSampleIntervalMs(after);
    QCOMPARE(rig.engine->sampleIntervalMs(), after);
    if (requestsGoOn) {
      QCOMPARE(line.readMaster(9, kWaitMs), kRequest1);
      // The pause started with the run, so it cannot have ended before the new interval.
      QVERIFY2(clock.elapsed() >= after, qPrintable(QString::number(clock.elapsed())));
    } else {
      // At most the one request whose pause had already ended when the interval changed; on the
      // old interval this window holds three or more.
      const QByteArray more = line.readMaster(4096, 800);
      QVERIFY2(more.size() <= kRequest1.size(), more.constData());
    }
    rig.engine->stop();
  }

  // Stop ends every kind of wait at once, and nothing is written after it.
  void stopWhileWaiting_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<qint64>("intervalMs");
    QTest::addColumn<bool>("validMeter");
    QTest::newRow("pacing wait") << int(MeterMode::Query) << qint64(3600000) << true;
    QTest::newRow("reply wait") << int(MeterMode::Query) << qint64(0) << true;
    QTest::newRow("active wait") << int(MeterMode::Active) << qint64(0) << true;
    QTest::newRow("idle port") << int(MeterMode::Query) << qint64(0) << false;
  }
  void stopWhileWaiting() {
    QFETCH(int, mode);
    QFETCH(qint64, intervalMs);
    QFETCH(bool, validMeter);
    Rig rig;
    PtyPair &line = rig.addPty(3);
    rig.usePorts({3});
    rig.addMeter(0, 1, 3, MeterMode(mode));
    rig.meter(0).MeterValid = validMeter;
    rig.ctx.options.SampleIntervalMs = intervalMs;
    QVERIFY(rig.engine->start(1).started());
    // Into the wait the row is about before stopping.
    if (!validMeter || mode == int(MeterMode::Active))
      QTRY_VERIFY_WITH_TIMEOUT(rig.engine->stats(0).cycles >= 1, kWaitMs);
    else if (intervalMs > 0)
      QTRY_COMPARE_WITH_TIMEOUT(rig.readSignal.waitingThreads(), 1, kWaitMs);
    else
      QCOMPARE(line.readMaster(9, kWaitMs), kRequest1);

    QElapsedTimer clock;
    clock.start();
    rig.engine->stop();
    QVERIFY2(clock.elapsed() < 2000, "stop waited for a pause or a time-out to run out");
    QVERIFY(!rig.engine->running());
    const QByteArray before = line.readMaster(4096, 0);
    QCOMPARE(before.size() % 9, 0);
    QVERIFY(canOpen(PortRegistry(*rig.ctx.settings), 3)); // closed
    QCOMPARE(line.readMaster(1, 300), QByteArray());
  }

  // A frame on a port is only ever matched against that port's own meters, also on a port with
  // none: here slot 9 is another port's meter with the same address.
  void framesNeverGoToAnotherPortsSlot() {
    Rig rig;
    PtyPair &line = rig.addPty(3);
    rig.addPty(4);
    rig.usePorts({3, 4});
    rig.addMeter(0, 1, 3, MeterMode::Query);
    rig.meter(0).MeterState = 2; // COM3 has nothing to poll
    rig.addMeter(9, 1, 4, MeterMode::Active);
    rig.meter(9).MeterValue = 7.0;
    QVERIFY(rig.engine->start(2).started());
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine->stats(0).cycles >= 1, kWaitMs);

    QVERIFY(line.writeMaster(kReply1234));
    QTRY_COMPARE_WITH_TIMEOUT(rig.engine->stats(0).rejected(FrameReject::Address), quint64(1), kWaitMs);
    rig.engine->stop();
    QCOMPARE(rig.drained(), 0);
    QCOMPARE(rig.meter(9).MeterValue.load(), 7.0);
    QCOMPARE(rig.engine->stats(0).goodFrames, quint64(0));
  }

  // A port whose own slots hold no pollable meter pauses between walks instead of spinning.
  void idlePortDoesNotSpin_data() {
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("com");
    QTest::addColumn<int>("state");
    QTest::newRow("no valid meter") << false << 3 << 1;
    QTest::newRow("meter of another port") << true << 5 << 1;
    QTest::newRow("mode neither active nor query") << true << 3 << 2;
  }
  void idlePortDoesNotSpin() {
    QFETCH(bool, valid);
    QFETCH(int, com);
    QFETCH(int, state);
    Rig rig;
    PtyPair &line = rig.addPty(3);
    rig.usePorts({3});
    rig.addMeter(0, 1, com, MeterMode::Query);
    rig.meter(0).MeterValid = valid;
    rig.meter(0).MeterState = state;
    QVERIFY(rig.engine->start(1).started());

    QTRY_VERIFY_WITH_TIMEOUT(rig.engine->stats(0).cycles >= 1, kWaitMs);
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine->stats(0).cycles >= 4, kWaitMs);
    // Three pauses of 100 ms at least; a spinning thread gets there in microseconds.
    QVERIFY2(clock.elapsed() >= 250, qPrintable(QString::number(clock.elapsed())));
    rig.engine->stop();
    QCOMPARE(line.readMaster(1, 0), QByteArray());
    QCOMPARE(rig.engine->stats(0).timeouts, quint64(0));
  }
};

QTEST_GUILESS_MAIN(TestPolling)
#include "tst_polling.moc"
