// Runs the zvdat program on small data files written out by hand.
#include "common/LeBytes.h"
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cstring>

namespace {

using namespace lebytes;

constexpr int kWaitMs = 30000;

// Two channels: "通道1" in kg (physical 3, range 0..100) and "a,b" without a unit
// (physical 4, range -5..5, scale 2.5, offset -1). Channel 1 has three samples,
// channel 2 one; a sample of channel 7, which the file does not have, is left out.
QByteArray smallFile() {
  QByteArray bytes = hex("17") + QByteArray("ZERVO Data File ver 1.0") + hex("0000") + le32(2);
  bytes += le32(1) + le32(3) + hex("05cda8b5c031") + QByteArray(15, '\0') + hex("026b67") + QByteArray(18, '\0') +
           le64(0) + le64(100) + le64(1) + le64(0);
  bytes += le32(2) + le32(4) + hex("03612c62") + QByteArray(17, '\0') + QByteArray(21, '\0') + le64(-5) + le64(5) +
           le64(2.5) + le64(-1);
  bytes += sample(0, 1.5, 0) + sample(1, -2, 500) + sample(7, 9, 600) + sample(0, 2.25, 1000) + sample(0, 3, 1500);
  return bytes;
}

struct Run {
  int exitCode = -1;
  QByteArray out;
  QByteArray err;
};

Run runZvdat(const QStringList &args) {
  QProcess proc;
  proc.start(QStringLiteral(ZVDAT_PATH), args);
  Run run;
  if (!proc.waitForFinished(kWaitMs) || proc.exitStatus() != QProcess::NormalExit)
    return run;
  run.exitCode = proc.exitCode();
  run.out = proc.readAllStandardOutput();
  run.err = proc.readAllStandardError();
  return run;
}

}  // namespace

class TestZvdat : public QObject {
  Q_OBJECT

private slots:
  void initTestCase();
  void info();
  void infoOfCutFile();
  void infoOfRefusedFile_data();
  void infoOfRefusedFile();
  void csv_data();
  void csv();
  void csvToFile();
  void exitCodes_data();
  void exitCodes();

private:
  QString m_good;
  QString m_badMagic;
  QString m_noSample;
  QString m_cut;
  QTemporaryDir m_dir;
};

void TestZvdat::initTestCase() {
  QVERIFY(m_dir.isValid());
  const auto write = [this](const QString &name, const QByteArray &bytes) {
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
      return QString();
    return path;
  };
  const QByteArray good = smallFile();
  m_good = write(QStringLiteral("good.zvdat"), good);
  m_badMagic = write(QStringLiteral("bad.zvdat"), hex("16") + good.mid(1));
  m_noSample = write(QStringLiteral("nosample.zvdat"), good.left(30 + 2 * 82));
  // A crash cut the next record after 13 of its 20 bytes.
  m_cut = write(QStringLiteral("cut.zvdat"), good + QByteArray::fromHex("01000000000000000000f83f00"));
  QVERIFY(!m_good.isEmpty() && !m_badMagic.isEmpty() && !m_noSample.isEmpty() && !m_cut.isEmpty());
}

void TestZvdat::infoOfCutFile() {
  const Run run = runZvdat({QStringLiteral("info"), m_cut});
  QCOMPARE(run.exitCode, 0);
  const QStringList lines = QString::fromUtf8(run.out).split(QLatin1Char('\n'));
  QVERIFY(lines.contains(QStringLiteral("samples: 5")));
  QVERIFY(lines.contains(QStringLiteral("trailing bytes ignored: 13")));
  QVERIFY(lines.contains(QStringLiteral("last time: 1500 ms")));
}

void TestZvdat::info() {
  const Run run = runZvdat({QStringLiteral("info"), m_good});
  QCOMPARE(run.exitCode, 0);
  const QStringList lines = QString::fromUtf8(run.out).split(QLatin1Char('\n'));
  const QStringList expected = {
      QStringLiteral("file: ") + m_good,
      QStringLiteral("status: 0 loaded"),
      QStringLiteral("channels: 2"),
      QStringLiteral("channel 1: physical 3, title \"通道1\", unit \"kg\", range 0 to 100, scale 1, offset 0"),
      QStringLiteral("channel 2: physical 4, title \"a,b\", unit \"\", range -5 to 5, scale 2.5, offset -1"),
      QStringLiteral("samples: 5"),
      QStringLiteral("loaded: 5"),
      QStringLiteral("trailing bytes ignored: 0"),
      QStringLiteral("samples of no channel: 1"),
      QStringLiteral("last time: 1500 ms"),
      QStringLiteral("duration: 0小时0分钟1秒500毫秒"),
      QString(),
  };
  QCOMPARE(lines, expected);
}

void TestZvdat::infoOfRefusedFile_data() {
  QTest::addColumn<QString>("which");
  QTest::addColumn<QString>("statusLine");
  QTest::addColumn<bool>("listsChannels");
  QTest::newRow("wrong magic") << "bad" << "status: 100 wrong file type" << false;
  QTest::newRow("no sample") << "nosample" << "status: 104 no sample" << true;
  QTest::newRow("missing") << "missing" << "status: 105 failure while loading" << false;
}

void TestZvdat::infoOfRefusedFile() {
  QFETCH(QString, which);
  QFETCH(QString, statusLine);
  QFETCH(bool, listsChannels);
  const QString path = which == QLatin1String("bad")        ? m_badMagic
                       : which == QLatin1String("nosample") ? m_noSample
                                                            : m_dir.filePath(QStringLiteral("missing.zvdat"));
  const Run run = runZvdat({QStringLiteral("info"), path});
  QCOMPARE(run.exitCode, 1);
  const QStringList lines = QString::fromUtf8(run.out).split(QLatin1Char('\n'));
  QVERIFY(lines.size() > 2);
  QCOMPARE(lines.at(1), statusLine);
  QCOMPARE(lines.contains(QStringLiteral("channels: 2")), listsChannels);
  QCOMPARE(lines.contains(QStringLiteral("samples: 0")), listsChannels);
}

void TestZvdat::csv_data() {
  QTest::addColumn<QStringList>("unitArgs");
  QTest::addColumn<QString>("expected");
  QTest::newRow("default seconds") << QStringList() << QStringLiteral(
      "时间(秒),通道1(kg),时间(秒),\"a,b\"\n"
      "0.00000,1.50000,0.50000,-2.00000\n"
      "1.00000,2.25000,,\n"
      "1.50000,3.00000,,\n");
  QTest::newRow("milliseconds") << QStringList{QStringLiteral("--unit"), QStringLiteral("ms")} << QStringLiteral(
      "时间(毫秒),通道1(kg),时间(毫秒),\"a,b\"\n"
      "0.00000,1.50000,500.00000,-2.00000\n"
      "1000.00000,2.25000,,\n"
      "1500.00000,3.00000,,\n");
  QTest::newRow("minutes") << QStringList{QStringLiteral("--unit=min")} << QStringLiteral(
      "时间(分钟),通道1(kg),时间(分钟),\"a,b\"\n"
      "0.00000,1.50000,0.00833,-2.00000\n"
      "0.01667,2.25000,,\n"
      "0.02500,3.00000,,\n");
  QTest::newRow("hours") << QStringList{QStringLiteral("--unit"), QStringLiteral("h")} << QStringLiteral(
      "时间(小时),通道1(kg),时间(小时),\"a,b\"\n"
      "0.00000,1.50000,0.00014,-2.00000\n"
      "0.00028,2.25000,,\n"
      "0.00042,3.00000,,\n");
}

void TestZvdat::csv() {
  QFETCH(QStringList, unitArgs);
  QFETCH(QString, expected);
  const Run run = runZvdat(QStringList{QStringLiteral("csv"), m_good} + unitArgs);
  QCOMPARE(run.exitCode, 0);
  // A byte-order mark first, so spreadsheet programs read the Chinese titles as UTF-8.
  QCOMPARE(run.out, QByteArray("\xEF\xBB\xBF") + expected.toUtf8());
  QVERIFY(run.err.contains("1 samples"));  // the stray channel-7 sample is reported
}

void TestZvdat::csvToFile() {
  const QString out = m_dir.filePath(QStringLiteral("out.csv"));
  const Run run = runZvdat({QStringLiteral("csv"), QStringLiteral("-o"), out, m_good, QStringLiteral("--unit"),
                            QStringLiteral("ms")});
  QCOMPARE(run.exitCode, 0);
  QVERIFY(run.out.isEmpty());
  QFile file(out);
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = file.readAll().split('\n');
  QCOMPARE(lines.size(), 5);  // header, three rows, empty after the last line end
  QCOMPARE(lines.at(3), QByteArray("1500.00000,3.00000,,"));
  QVERIFY(lines.at(0).startsWith("\xEF\xBB\xBF"));
}

void TestZvdat::exitCodes_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<int>("exitCode");
  QTest::addColumn<QByteArray>("stderrHas");
  const QString missing = m_dir.filePath(QStringLiteral("missing.zvdat"));
  const QString unwritable = m_dir.filePath(QStringLiteral("no/such/folder/out.csv"));

  QTest::newRow("help") << QStringList{"--help"} << 0 << QByteArray();
  QTest::newRow("no arguments") << QStringList() << 2 << QByteArray("Usage: zvdat");
  QTest::newRow("unknown command") << QStringList{"dump", m_good} << 2 << QByteArray("unknown command");
  QTest::newRow("info without file") << QStringList{"info"} << 2 << QByteArray("no data file");
  QTest::newRow("info with two files") << QStringList{"info", m_good, m_good} << 2 << QByteArray("unexpected");
  QTest::newRow("unit on info") << QStringList{"info", m_good, "--unit", "s"} << 2 << QByteArray("csv only");
  QTest::newRow("unknown unit") << QStringList{"csv", m_good, "--unit", "days"} << 2 << QByteArray("days");
  QTest::newRow("unit without value") << QStringList{"csv", m_good, "--unit"} << 2 << QByteArray("needs a value");
  QTest::newRow("unknown option") << QStringList{"csv", m_good, "--fast"} << 2 << QByteArray("unknown option");
  QTest::newRow("csv of refused file") << QStringList{"csv", m_badMagic} << 1 << QByteArray("100");
  QTest::newRow("csv of missing file") << QStringList{"csv", missing} << 1 << QByteArray("105");
  QTest::newRow("csv to missing folder") << QStringList{"csv", m_good, "-o", unwritable} << 3
                                         << QByteArray("cannot write");
}

void TestZvdat::exitCodes() {
  QFETCH(QStringList, args);
  QFETCH(int, exitCode);
  QFETCH(QByteArray, stderrHas);
  const Run run = runZvdat(args);
  QCOMPARE(run.exitCode, exitCode);
  QVERIFY2(run.err.contains(stderrHas), run.err.constData());
  if (exitCode == 0)
    QVERIFY(run.out.startsWith("Usage: zvdat"));
}

QTEST_GUILESS_MAIN(TestZvdat)
#include "tst_zvdat.moc"
