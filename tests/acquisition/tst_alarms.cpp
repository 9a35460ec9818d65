#include "acquisition/AlarmLog.h"
#include "acquisition/AlarmRule.h"
#include "acquisition/AutoResetEvent.h"
#include "acquisition/SampleRing.h"
#include "acquisition/TReadThread.h"
#include "common/ReadThreadRig.h"
#include "app/ProfileStore.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {

std::optional<double> Opt(const QString &text) {
  if (text.isEmpty())
    return std::nullopt;
  return text.toDouble();
}

// "index:event@limit" for each change, joined by blanks.
QString Changes(const AlarmLimits &limits, const QList<double> &readings) {
  AlarmRule rule(limits);
  QStringList out;
  for (int i = 0; i < readings.size(); ++i)
    if (const auto c = rule.feed(readings[i]))
      out << QStringLiteral("%1:%2@%3").arg(i).arg(AlarmEventName(c->kind)).arg(c->limit);
  return out.join(u' ');
}

} // namespace

class TestAlarms : public QObject {
  Q_OBJECT
private slots:
  void rule_data() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("high");
    QTest::addColumn<QString>("low");
    QTest::addColumn<double>("hysteresis");
    QTest::addColumn<QList<double>>("readings");
    QTest::addColumn<QString>("changes");
    QTest::newRow("high, at the limit is no alarm") << true << "10" << "" << 0.0
                                                    << QList<double>{5, 10, 10.5, 10, 9.9} << "2:high@10 4:clear@10";
    QTest::newRow("low, at the limit is no alarm") << true << "" << "0" << 0.0
                                                   << QList<double>{5, 0, -0.1, 0, 0.1} << "2:low@0 4:clear@0";
    QTest::newRow("both, straight from high to low")
        << true << "10" << "0" << 0.0 << QList<double>{11, -1, 5, -2, 12} << "0:high@10 1:low@0 2:clear@0 3:low@0 4:high@10";
    QTest::newRow("high hysteresis: back inside by more")
        << true << "10" << "" << 1.0 << QList<double>{11, 9.5, 9.0, 10.5, 8.9} << "0:high@10 4:clear@10";
    QTest::newRow("low hysteresis: back inside by more")
        << true << "" << "0" << 2.0 << QList<double>{-1, 1, 2, -5, 2.5} << "0:low@0 4:clear@0";
    QTest::newRow("hysteresis does not widen the limit") << true << "10" << "0" << 3.0
                                                         << QList<double>{8, 9, 10, 2, 0} << "";
    QTest::newRow("repeated alarms") << true << "10" << "" << 0.0 << QList<double>{11, 12, 5, 11}
                                     << "0:high@10 2:clear@10 3:high@10";
    QTest::newRow("NaN decides nothing") << true << "10" << "0" << 0.0 << QList<double>{nan, 11, nan, nan, 5, nan}
                                         << "1:high@10 4:clear@10";
    QTest::newRow("infinities decide nothing") << true << "10" << "0" << 0.0 << QList<double>{inf, -inf, 11, -inf, 5}
                                               << "2:high@10 4:clear@10";
    QTest::newRow("disabled") << false << "10" << "0" << 0.0 << QList<double>{11, -1} << "";
    QTest::newRow("enabled without limits") << true << "" << "" << 0.0 << QList<double>{1e300, -1e300} << "";
    QTest::newRow("limits the wrong way round keep the alarm")
        << true << "0" << "10" << 0.0 << QList<double>{5, 5, 12, 5, -1} << "0:high@0 4:low@10";
    QTest::newRow("negative limits") << true << "-5" << "-10" << 0.5
                                     << QList<double>{-4.9, -5.4, -5.6, -10.1, -9.5, -9.4} << "0:high@-5 2:clear@-5 3:low@-10 5:clear@-10";
  }
  void rule() {
    QFETCH(bool, enabled);
    QFETCH(QString, high);
    QFETCH(QString, low);
    QFETCH(double, hysteresis);
    QFETCH(QList<double>, readings);
    QFETCH(QString, changes);
    QCOMPARE(Changes({enabled, Opt(high), Opt(low), hysteresis}, readings), changes);
  }

  void limitsFromSettings_data() {
    QTest::addColumn<QString>("ini");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("high");
    QTest::addColumn<QString>("low");
    QTest::addColumn<double>("hysteresis");
    QTest::newRow("missing keys") << "" << false << "" << "" << 0.0;
    QTest::newRow("all set") << "AlarmEnabled=1\nAlarmHigh=12.5\nAlarmLow=-3\nAlarmHysteresis=0.25\n" << true << "12.5"
                             << "-3" << 0.25;
    QTest::newRow("empty limit is no limit") << "AlarmEnabled=1\nAlarmHigh=\nAlarmLow=4\n" << true << "" << "4" << 0.0;
    QTest::newRow("unreadable limit is no limit") << "AlarmEnabled=1\nAlarmHigh=abc\nAlarmLow=1,5\n" << true << ""
                                                  << "" << 0.0;
    QTest::newRow("negative hysteresis") << "AlarmHysteresis=-2\n" << false << "" << "" << 0.0;
  }
  void limitsFromSettings() {
    QFETCH(QString, ini);
    QFETCH(bool, enabled);
    QFETCH(QString, high);
    QFETCH(QString, low);
    QFETCH(double, hysteresis);
    QTemporaryDir dir;
    const QString path = dir.filePath("Sys.ini");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[Channel2]\n" + ini.toLatin1());
    f.close();
    ProfileStore store(path);
    const AlarmLimits l = ReadAlarmLimits(store, 1);
    QCOMPARE(l.enabled, enabled);
    QCOMPARE(l.high, Opt(high));
    QCOMPARE(l.low, Opt(low));
    QCOMPARE(l.hysteresis, hysteresis);
    QCOMPARE(ReadAlarmLimits(store, 0), AlarmLimits{});
  }

  // The bytes of one line, written out by hand.
  void logLine() {
    const QDateTime start(QDate(2026, 12, 9), QTime(10, 15, 30), Qt::UTC);
    const AlarmEvent e{123, 0, QStringLiteral("压力,\"A\""), 10.5, 10, AlarmEventKind::High};
    QCOMPARE(AlarmLog::Line(e, start),
             QByteArray("2026-12-09T10:15:30.123Z,123,1,\"") + QStringLiteral("压力").toUtf8() +
                 ",\"\"A\"\"\",10.5,10,high\n");
    const AlarmEvent c{3723004, 7, QStringLiteral("T"), -0.1, 0.3, AlarmEventKind::Clear};
    QCOMPARE(AlarmLog::Line(c, start.toTimeZone(QTimeZone(3600 * 8))),
             QByteArray("2026-12-09T11:17:33.004Z,3723004,8,T,-0.1,0.3,clear\n"));
  }

  void logReadsBackWhatItWrote() {
    QTemporaryDir dir;
    const QString path = AlarmLog::PathFor(dir.filePath("run.zvdat"));
    QVERIFY(path.endsWith("run.zvdat.alarms.csv"));
    const QDateTime start = QDateTime::currentDateTimeUtc();
    const AlarmEventBatch events{{5, 0, QStringLiteral("a\nb,\"c\""), 0.1 + 0.2, 0.3, AlarmEventKind::High},
                                 {9, 2, QStringLiteral("温度"), -1e-7, -1e-7, AlarmEventKind::Low}};
    {
      AlarmLog log;
      QVERIFY(log.open(path, start));
      QVERIFY(log.append(events));
    }
    const auto rows = AlarmLog::Read(path);
    QVERIFY(rows);
    QCOMPARE(rows->size(), 2);
    for (int i = 0; i < 2; ++i) {
      QCOMPARE((*rows)[i].title, events[i].title);
      QCOMPARE((*rows)[i].value, events[i].value); // exact: shortest round-trip text
      QCOMPARE((*rows)[i].limit, events[i].limit);
      QCOMPARE((*rows)[i].channel, events[i].channel + 1);
      QCOMPARE((*rows)[i].ms, qint64(events[i].timeMs));
      QCOMPARE((*rows)[i].kind, events[i].kind);
      QCOMPARE((*rows)[i].time, AlarmLog::TimeText(start, events[i].timeMs));
    }
    QFile other(dir.filePath("other.csv"));
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.write("a,b\n");
    other.close();
    QVERIFY(!AlarmLog::Read(other.fileName()));
  }

  // The read thread decides every sample once, in ring order: the log and the signal hold what
  // a replay of the same samples finds.
  void readThreadLogsWhatAReplayFinds() {
    ReadThreadRig rig;
    const QList<ChannelInfo> channels{{1, "A", "", 0, 50, 1, 0}, {2, "B", "", 0, 10, 1, 0}};
    const QList<AlarmLimits> limits{{true, 0.5, -0.5, 0.1}, {true, 0.9, std::nullopt, 0}};
    TReadThread thread(rig.path, channels, rig.ring, rig.readSignal);
    thread.setAlarmMonitor(std::make_unique<AlarmMonitor>(limits, QStringList{"A", "B"}), rig.ring.startTime());
    AlarmEventBatch signalled;
    connect(&thread, &TReadThread::alarms, this, [&](const AlarmEventBatch &b) { signalled += b; });
    thread.start();
    QVERIFY(rig.readSignal.wait(5000));
    std::vector<TSampleRecord> pushed;
    for (int i = 0; i < 20000; ++i) {
      const TSampleRecord r{i % 2, std::sin(i / 50.0), double(i / 2)};
      pushed.push_back(r);
      rig.ring.push(r);
    }
    thread.stopAndWait();
    const AlarmEventBatch expected = AlarmEventsOf(pushed, limits, {"A", "B"});
    QVERIFY(expected.size() > 100);
    QTRY_COMPARE(signalled, expected);
    const auto rows = AlarmLog::Read(AlarmLog::PathFor(rig.path));
    QVERIFY(rows);
    QCOMPARE(rows->size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
      QCOMPARE((*rows)[i].ms, qint64(expected[i].timeMs));
      QCOMPARE((*rows)[i].channel, expected[i].channel + 1);
      QCOMPARE((*rows)[i].value, expected[i].value);
      QCOMPARE((*rows)[i].kind, expected[i].kind);
    }
  }

  // A log left from an earlier recording under the same name must not pass for this one's.
  void noAlarmsRemovesAStaleLog() {
    ReadThreadRig rig;
    QFile stale(AlarmLog::PathFor(rig.path));
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.write(AlarmLog::kHeader);
    stale.close();
    TReadThread thread(rig.path, {{1, "A", "", 0, 50, 1, 0}}, rig.ring, rig.readSignal);
    thread.setAlarmMonitor(std::make_unique<AlarmMonitor>(QList<AlarmLimits>{{false, 1.0, std::nullopt, 0}},
                                                          QStringList{"A"}),
                           rig.ring.startTime());
    QSignalSpy spy(&thread, &TReadThread::alarms);
    thread.start();
    QVERIFY(rig.readSignal.wait(5000));
    rig.ring.push(TSampleRecord{0, 5.0, 1.0});
    QTRY_COMPARE(thread.samplesWritten(), qint64(1));
    thread.stopAndWait();
    QVERIFY(!QFile::exists(AlarmLog::PathFor(rig.path)));
    QCOMPARE(spy.count(), 0);
  }
};

QTEST_GUILESS_MAIN(TestAlarms)
#include "tst_alarms.moc"
