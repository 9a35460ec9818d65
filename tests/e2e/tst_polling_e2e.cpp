// The polling engine against simulated meters (tools/meter-sim), checked against the simulator's
// own log of what it sent and received.
#include "MeterSim.h"

#include "acquisition/AutoResetEvent.h"
#include "acquisition/ChannelFormats.h"
#include "acquisition/SampleRing.h"
#include "app/AppContext.h"
#include "comm/PollingEngine.h"
#include "comm/SerialLink.h"

#include <QMap>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr int kWaitMs = 8000;

struct Rig {
  QTemporaryDir dir;
  AppContext ctx{ProgramPaths{}};
  SampleRing ring;
  ChannelFormats formats;
  AutoResetEvent readSignal;
  AutoResetEvent abandonSignal;
  MeterSim sim{dir.filePath(QStringLiteral("Sys.ini")), dir.filePath(QStringLiteral("sim.log"))};
  std::unique_ptr<PollingEngine> engine;
  std::vector<TSampleRecord> samples;

  Rig() {
    ctx.settings = std::make_unique<ProfileStore>(dir.filePath(QStringLiteral("Sys.ini")));
    ctx.options.SampleIntervalMs = 0;
    engine = std::make_unique<PollingEngine>(ctx, ring, formats, readSignal, abandonSignal);
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
    m.MeterAlive = true; // as the acquisition start leaves it
    ctx.meters.MeterAmount = std::max(ctx.meters.MeterAmount, slot + 1);
  }
  [[nodiscard]] bool start() {
    ring.reset();
    ring.setStartTime();
    return engine->start(ctx.meters.MeterComCount).started();
  }
  qsizetype drained() {
    ring.drain(samples);
    return static_cast<qsizetype>(samples.size());
  }
  qsizetype drained(int channel) {
    drained();
    return std::count_if(samples.begin(), samples.end(),
                         [channel](const TSampleRecord &s) { return s.Channel == channel; });
  }
  [[nodiscard]] QSet<double> distinct(int channel) const {
    const QList<double> list = values(channel);
    return {list.begin(), list.end()};
  }
  [[nodiscard]] QList<double> values(int channel) const {
    QList<double> list;
    for (const TSampleRecord &s : samples)
      if (s.Channel == channel)
        list.append(double(s.Value)); // packed: copy out
    return list;
  }
};

int countWithin(const QList<SimEvent> &events, double from, double to) {
  return int(std::count_if(events.begin(), events.end(),
                           [&](const SimEvent &e) { return e.time >= from && e.time <= to; }));
}

} // namespace

class TestPollingE2E : public QObject {
  Q_OBJECT

private slots:
  // Each port has its own thread: both are asked about once per sample interval, side by side.
  // Both meters answer to address 1, so a mix-up of the two ports' slots would show in the values.
  void twoPortsPolledConcurrently() {
    Rig rig;
    QVERIFY(rig.sim.start({"--port", "COM3", "--meter", "query,addr=1,delay=50,gen=constant:11",
                           "--port", "COM4", "--meter", "query,addr=1,delay=50,gen=constant:22"}));
    rig.usePorts({3, 4});
    rig.addMeter(0, 1, 3, MeterMode::Query);
    rig.addMeter(1, 1, 4, MeterMode::Query);
    rig.ctx.options.SampleIntervalMs = 200;
    QVERIFY(rig.start());

    const auto progress = [&rig] {
      return QStringLiteral("requests logged %1/%2, sent %3/%4, good %5/%6, time-outs %7/%8")
          .arg(rig.sim.events("RX-REQUEST", "COM3").size())
          .arg(rig.sim.events("RX-REQUEST", "COM4").size())
          .arg(rig.engine->stats(0).requests)
          .arg(rig.engine->stats(1).requests)
          .arg(rig.engine->stats(0).goodFrames)
          .arg(rig.engine->stats(1).goodFrames)
          .arg(rig.engine->stats(0).timeouts)
          .arg(rig.engine->stats(1).timeouts);
    };
    QTRY_VERIFY2_WITH_TIMEOUT(rig.sim.events("RX-REQUEST", "COM3").size() >= 10 &&
                                  rig.sim.events("RX-REQUEST", "COM4").size() >= 10,
                              qPrintable(progress()), kWaitMs);
    rig.engine->stop();
    rig.drained();

    const QList<SimEvent> com3 = rig.sim.events("RX-REQUEST", "COM3");
    const QList<SimEvent> com4 = rig.sim.events("RX-REQUEST", "COM4");
    const double t0 = std::min(com3.first().time, com4.first().time);
    // 200 ms pause + 50 ms reply per request: 8 in two seconds side by side, 4 one after another.
    QVERIFY2(countWithin(com3, t0, t0 + 2000) >= 6, "COM3 not polled once per interval");
    QVERIFY2(countWithin(com4, t0, t0 + 2000) >= 6, "COM4 not polled once per interval");

    QList<SimEvent> merged = com3 + com4;
    std::sort(merged.begin(), merged.end(),
              [](const SimEvent &a, const SimEvent &b) { return a.time < b.time; });
    int switches = 0;
    for (int i = 1; i < merged.size(); ++i)
      switches += merged[i].port != merged[i - 1].port ? 1 : 0;
    QVERIFY2(switches >= int(std::min(com3.size(), com4.size())), "requests do not interleave");

    QVERIFY(rig.values(0).size() >= 5);
    QVERIFY(rig.values(1).size() >= 5);
    QCOMPARE(rig.distinct(0), QSet<double>{11.0});
    QCOMPARE(rig.distinct(1), QSet<double>{22.0});
  }

  // Every good frame of an active meter becomes one sample, in order.
  void activeFramesAllBecomeSamples() {
    Rig rig;
    QVERIFY(rig.sim.start({"--port", "COM3", "--meter", "active,addr=5,interval=10,gen=counter"}));
    rig.usePorts({3});
    rig.addMeter(0, 5, 3, MeterMode::Active);
    QVERIFY(rig.start());
    QTRY_VERIFY_WITH_TIMEOUT(rig.drained() >= 100, kWaitMs);
    rig.engine->stop();
    const double stoppedAt = MonotonicNowMs();
    rig.drained();
    rig.sim.stop();

    const QList<SimEvent> sent = rig.sim.events("TX-ACTIVE", "COM3", "005");
    QList<double> sentValues;
    for (const SimEvent &e : sent)
      sentValues.append(e.value.toDouble());
    const QList<double> got = rig.values(0);
    const qsizetype first = sentValues.indexOf(got.first());
    QVERIFY(first >= 0);
    // Exactly the frames sent from the first one we heard on, none skipped or doubled.
    QCOMPARE(got, sentValues.mid(first, got.size()));
    // Only frames still on their way at the stop may be missing.
    const int sentBeforeStop = countWithin(sent.mid(first), 0, stoppedAt - 200);
    QVERIFY2(got.size() >= sentBeforeStop,
             qPrintable(QStringLiteral("%1 samples, %2 frames").arg(got.size()).arg(sentBeforeStop)));
    for (size_t i = 1; i < rig.samples.size(); ++i)
      QVERIFY(rig.samples[i].Time >= rig.samples[i - 1].Time);
  }

  // Frames a meter sent while nobody listened (before the first start, or between two runs)
  // never become samples: each sample's counter value was sent after its run started.
  void framesSentBeforeStartNotRecorded_data() {
    QTest::addColumn<bool>("restart");
    QTest::newRow("first start") << false;
    QTest::newRow("start after a stop") << true;
  }
  void framesSentBeforeStartNotRecorded() {
    QFETCH(bool, restart);
    Rig rig;
    QVERIFY(rig.sim.start({"--port", "COM3", "--meter", "active,addr=5,interval=20,gen=counter"}));
    rig.usePorts({3});
    rig.addMeter(0, 5, 3, MeterMode::Active);
    if (restart) {
      QVERIFY(rig.start());
      QTRY_VERIFY_WITH_TIMEOUT(rig.drained() >= 5, kWaitMs);
      rig.engine->stop();
      rig.samples.clear();
    }
    // A second of frames into the closed port.
    const double closedAt = MonotonicNowMs();
    const auto sentSince = [&rig](double from) {
      const QList<SimEvent> sent = rig.sim.events("TX-ACTIVE", "COM3", "005");
      return countWithin(sent, from, 1e300);
    };
    QTRY_VERIFY_WITH_TIMEOUT(sentSince(closedAt + 1000) > 0, kWaitMs);

    const double startedAt = MonotonicNowMs();
    QVERIFY(rig.start());
    QTRY_VERIFY_WITH_TIMEOUT(rig.drained() >= 20, kWaitMs);
    rig.engine->stop();
    rig.drained();
    rig.sim.stop();

    QMap<double, double> sentAt; // counter value -> when the simulator sent it
    for (const SimEvent &e : rig.sim.events("TX-ACTIVE", "COM3", "005"))
      sentAt.insert(e.value.toDouble(), e.time);
    QVERIFY(countWithin(rig.sim.events("TX-ACTIVE", "COM3", "005"), closedAt, startedAt) >= 40);
    for (const double value : rig.values(0)) {
      QVERIFY2(sentAt.contains(value), qPrintable(QString::number(value)));
      QVERIFY2(sentAt.value(value) >= startedAt,
               qPrintable(QStringLiteral("value %1 sent %2 ms before the start")
                              .arg(value)
                              .arg(startedAt - sentAt.value(value))));
    }
  }

  // Two active meters on one line: each frame of the one not being served is passed over, and
  // the two are taken in turn.
  void twoActiveMetersOnOnePort() {
    Rig rig;
    QVERIFY(rig.sim.start({"--port", "COM3", "--meter", "active,addr=1,interval=30,gen=constant:1",
                           "--meter", "active,addr=2,interval=30,gen=constant:2"}));
    rig.usePorts({3});
    rig.addMeter(0, 1, 3, MeterMode::Active);
    rig.addMeter(1, 2, 3, MeterMode::Active);
    QVERIFY(rig.start());
    QTRY_VERIFY_WITH_TIMEOUT(rig.drained(0) >= 5 && rig.drained(1) >= 5, kWaitMs);
    rig.engine->stop();
    rig.drained();
    QCOMPARE(rig.distinct(0), QSet<double>{1.0});
    QCOMPARE(rig.distinct(1), QSet<double>{2.0});
    QVERIFY(rig.engine->stats(0).rejected(FrameReject::Address) > 0);
  }

  // A meter that falls silent is marked dead within the reply time-out and alive again with its
  // next frame; a query meter at an address nobody answers stays dead.
  void silentMetersTimeOut() {
    Rig rig;
    QVERIFY(rig.sim.start({"--port", "COM3", "--meter", "active,addr=1,interval=20,gen=counter",
                           "--port", "COM4", "--meter", "query,addr=1,gen=constant:3",
                           "--faults", "silence", "--fault-rate", "0.05", "--silence-ms", "700",
                           "--seed", "7"}));
    rig.usePorts({3, 4});
    rig.addMeter(0, 1, 3, MeterMode::Active);
    rig.addMeter(1, 9, 4, MeterMode::Query);
    rig.ctx.options.SampleIntervalMs = 20;
    QVERIFY(rig.start());

    QTRY_VERIFY_WITH_TIMEOUT(!rig.meter(1).MeterAlive.load(), 2000);
    QVERIFY(!rig.sim.events("RX-OTHER", "COM4", "009").isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(rig.drained(0) > 0 && !rig.meter(0).MeterAlive.load(), kWaitMs);
    QVERIFY(!rig.sim.events("SILENCE", "COM3").isEmpty());
    const qsizetype before = rig.drained(0);
    QTRY_VERIFY_WITH_TIMEOUT(rig.meter(0).MeterAlive.load(), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(rig.drained(0) > before, kWaitMs);
    rig.engine->stop();
    QVERIFY(rig.engine->stats(0).timeouts > 0);
    QVERIFY(rig.engine->stats(1).timeouts > 0);
    QVERIFY(!rig.meter(1).MeterAlive.load());
    QCOMPARE(rig.values(1).size(), 0);
  }

  // Bad checksums, terminators and decimal digits never become samples.
  void faultyFramesIgnored() {
    Rig rig;
    QVERIFY(rig.sim.start({"--port", "COM3", "--meter", "active,addr=1,interval=10,gen=counter",
                           "--faults", "checksum,terminator,decimal6", "--fault-rate", "0.3",
                           "--seed", "11"}));
    rig.usePorts({3});
    rig.addMeter(0, 1, 3, MeterMode::Active);
    QVERIFY(rig.start());
    QTRY_VERIFY_WITH_TIMEOUT(rig.drained() >= 80, kWaitMs);
    rig.engine->stop();
    rig.drained();
    rig.sim.stop();

    QSet<double> good;
    for (const SimEvent &e : rig.sim.events("TX-ACTIVE", "COM3", "001"))
      good.insert(e.value.toDouble());
    QSet<double> bad;
    for (const SimEvent &e : rig.sim.events("TX-FAULT", "COM3", "001"))
      bad.insert(e.value.toDouble());
    QVERIFY(!bad.isEmpty());
    const QList<double> got = rig.values(0);
    for (int i = 0; i < got.size(); ++i) {
      QVERIFY2(good.contains(got[i]) && !bad.contains(got[i]), qPrintable(QString::number(got[i])));
      if (i > 0)
        QVERIFY(got[i] > got[i - 1]);
    }
    const PortStats stats = rig.engine->stats(0);
    QVERIFY(stats.rejected(FrameReject::Checksum) > 0);
    QVERIFY(stats.rejected(FrameReject::Terminator) > 0);
    QVERIFY(stats.rejected(FrameReject::DecimalDigit) > 0);
  }

  // No request reaches the line after stop() has returned. COM5 is not polled; its meter only
  // shows the simulator's clock moving on after the stop.
  void noRequestAfterStop() {
    Rig rig;
    QVERIFY(rig.sim.start({"--port", "COM3", "--meter", "query,addr=1,gen=counter",
                           "--port", "COM5", "--meter", "active,addr=1,interval=20"}));
    rig.usePorts({3});
    rig.addMeter(0, 1, 3, MeterMode::Query);
    rig.ctx.options.SampleIntervalMs = 20;
    QVERIFY(rig.start());
    QTRY_VERIFY_WITH_TIMEOUT(rig.sim.events("RX-REQUEST", "COM3").size() >= 5, kWaitMs);

    rig.engine->stop();
    const double stoppedAt = MonotonicNowMs();
    const quint64 requests = rig.engine->stats(0).requests;
    QTRY_VERIFY_WITH_TIMEOUT(!rig.sim.events("TX-ACTIVE", "COM5").isEmpty() &&
                                 rig.sim.events("TX-ACTIVE", "COM5").last().time > stoppedAt + 300,
                             kWaitMs);
    const QList<SimEvent> received = rig.sim.events("RX-REQUEST", "COM3");
    QCOMPARE(quint64(received.size()), requests);
    QCOMPARE(rig.engine->stats(0).requests, requests);
    // The simulator stamps a request when it has read it, which may trail our write a little.
    QVERIFY2(received.last().time <= stoppedAt + 50,
             qPrintable(QStringLiteral("%1 > %2").arg(received.last().time).arg(stoppedAt)));
  }

  // A port that disappears mid-run is reported once and its meter marked dead; the other port
  // keeps being polled.
  void vanishingPortReported_data() {
    QTest::addColumn<QString>("lostMeter");
    QTest::addColumn<int>("mode");
    QTest::newRow("query meter") << "query,addr=1,gen=counter" << int(MeterMode::Query);
    QTest::newRow("active meter") << "active,addr=1,interval=20,gen=counter" << int(MeterMode::Active);
  }
  void vanishingPortReported() {
    QFETCH(QString, lostMeter);
    QFETCH(int, mode);
    Rig rig;
    QVERIFY(rig.sim.start({"--port", "COM3", "--meter", lostMeter,
                           "--port", "COM4", "--meter", "query,addr=2,gen=counter",
                           "--close-port-after", "COM3:800"}));
    rig.usePorts({3, 4});
    rig.addMeter(0, 1, 3, MeterMode(mode));
    rig.addMeter(1, 2, 4, MeterMode::Query);
    rig.ctx.options.SampleIntervalMs = 20;
    QSignalSpy failed(rig.engine.get(), &PollingEngine::portFailed);
    QVERIFY(rig.start());

    QVERIFY(failed.wait(kWaitMs));
    QCOMPARE(failed.first().at(0).toInt(), 3);
    QCOMPARE(failed.first().at(1).toString(), PortLostMessage(3));
    QVERIFY(!rig.meter(0).MeterAlive.load());
    QVERIFY(rig.engine->stats(0).failed);
    QVERIFY(rig.drained(0) > 0);

    const qsizetype before = rig.drained(1);
    QTRY_VERIFY_WITH_TIMEOUT(rig.drained(1) >= before + 5, kWaitMs);
    QVERIFY(rig.meter(1).MeterAlive.load());
    QVERIFY(!rig.meter(0).MeterAlive.load());
    QVERIFY(rig.engine->running());
    rig.engine->stop();
    QCOMPARE(failed.size(), 1);
    QVERIFY(!rig.engine->stats(1).failed);
  }
};

QTEST_GUILESS_MAIN(TestPollingE2E)
#include "tst_polling_e2e.moc"
