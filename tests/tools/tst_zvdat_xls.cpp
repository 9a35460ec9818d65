// zvdat xls on hand-made data files; the workbooks are read back with xlrd.
#include "common/LeBytes.h"
#include "dialogs/tst_table_reader.h"
#include "dialogs/tst_xls_reader.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cstring>

namespace {

using namespace lebytes;

// Two channels: "通道1" in kg and "a,b" without a unit (GBK titles).
QByteArray head() {
  QByteArray bytes = hex("17") + QByteArray("ZERVO Data File ver 1.0") + hex("0000") + le32(2);
  bytes += le32(1) + le32(3) + hex("05cda8b5c031") + QByteArray(15, '\0') + hex("026b67") + QByteArray(18, '\0') +
           le64(0) + le64(100) + le64(1) + le64(0);
  bytes += le32(2) + le32(4) + hex("03612c62") + QByteArray(17, '\0') + QByteArray(21, '\0') + le64(-5) + le64(5) +
           le64(2.5) + le64(-1);
  return bytes;
}

struct Run {
  int exitCode = -1;
  QByteArray err;
};

Run runZvdat(const QStringList &args) {
  QProcess proc;
  proc.start(QStringLiteral(ZVDAT_PATH), args);
  Run run;
  if (!proc.waitForFinished(60000) || proc.exitStatus() != QProcess::NormalExit)
    return run;
  run.exitCode = proc.exitCode();
  run.err = proc.readAllStandardError();
  return run;
}

} // namespace

class TestZvdatXls : public QObject {
  Q_OBJECT

private slots:
  void initTestCase();
  void sheet_data();
  void sheet();
  void channelLongerThanASheet();
  void failures_data();
  void failures();
  void xlsx_data();
  void xlsx();

private:
  QTemporaryDir m_dir;
  QString m_small;
};

void TestZvdatXls::initTestCase() {
  QVERIFY(m_dir.isValid());
  m_small = m_dir.filePath(QStringLiteral("small.zvdat"));
  QFile f(m_small);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(head() + sample(0, 1.5, 0) + sample(1, -2, 500) + sample(7, 9, 600) + sample(0, 2.25, 1000) +
          sample(0, 3, 90000));
}

void TestZvdatXls::sheet_data() {
  QTest::addColumn<QStringList>("unitArgs");
  QTest::addColumn<QList<QStringList>>("expected");
  const QStringList titles{"时间(秒)", "通道1(kg)", "时间(秒)", "a,b"};
  QTest::newRow("seconds by default") << QStringList{}
                                      << QList<QStringList>{titles,
                                                            {"0.00000", "1.50000", "0.50000", "-2.00000"},
                                                            {"1.00000", "2.25000", "", ""},
                                                            {"90.00000", "3.00000", "", ""}};
  QTest::newRow("minutes") << QStringList{"--unit", "min"}
                           << QList<QStringList>{{"时间(分钟)", "通道1(kg)", "时间(分钟)", "a,b"},
                                                 {"0.00000", "1.50000", "0.00833", "-2.00000"},
                                                 {"0.01667", "2.25000", "", ""},
                                                 {"1.50000", "3.00000", "", ""}};
}

void TestZvdatXls::sheet() {
  QFETCH(QStringList, unitArgs);
  QFETCH(QList<QStringList>, expected);
  const QString out = m_dir.filePath(QStringLiteral("%1.xls").arg(QTest::currentDataTag()));
  const Run run = runZvdat(QStringList{"xls", m_small, out} + unitArgs);
  QCOMPARE(run.exitCode, 0);
  QVERIFY(run.err.contains("1 samples name no channel"));
  const xlrdcheck::Sheet sheet = xlrdcheck::read(out, true);
  QVERIFY2(sheet.ok, qPrintable(sheet.error));
  QCOMPARE(sheet.sheets, QStringList{"Sheet1"});
  QCOMPARE(sheet.grid, expected);
  // Titles are text; times and values are numbers with five decimals.
  QCOMPARE(sheet.kinds, (QStringList{"tttt", "nnnn", "nn--", "nn--"}));
  QCOMPARE(sheet.textFormats, QStringList{"@"});
  QCOMPARE(sheet.numberFormats, QStringList{"0.00000"});
  QCOMPARE(sheet.inexact, 0);
}

void TestZvdatXls::channelLongerThanASheet() {
  constexpr int kSamples = 65537;
  QByteArray bytes = head();
  bytes.reserve(bytes.size() + (kSamples + 1) * 20);
  for (int i = 0; i < kSamples; ++i)
    bytes += sample(0, i, i * 10.0);
  bytes += sample(1, 42, 5);
  const QString file = m_dir.filePath(QStringLiteral("long.zvdat"));
  {
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  const QString out = m_dir.filePath(QStringLiteral("long.xls"));
  const Run run = runZvdat({"xls", file, out, "--unit", "ms"});
  QCOMPARE(run.exitCode, 0);
  QVERIFY(run.err.contains("channel 1 has 65537 samples; only the first 65535 fit a sheet"));
  QVERIFY(!run.err.contains("channel 2"));
  const xlrdcheck::Sheet sheet = xlrdcheck::read(out, false);
  QVERIFY2(sheet.ok, qPrintable(sheet.error));
  QCOMPARE(sheet.rows, 65536);
  QCOMPARE(sheet.texts, 4);
  QCOMPARE(sheet.numbers, 2 * 65535 + 2);
  QCOMPARE(sheet.numberFormats, QStringList{"0.00000"});
  QCOMPARE(sheet.digest, xlrdcheck::digestOf(65536, 4, [](int r, int c) {
             if (r == 0)
               return QStringList{"时间(毫秒)", "通道1(kg)", "时间(毫秒)", "a,b"}[c];
             const int i = r - 1;
             if (c >= 2)
               return i > 0 ? QString() : QString(c == 2 ? "5.00000" : "42.00000");
             return QString::asprintf("%.5f", c == 0 ? i * 10.0 : double(i));
           }));
}

void TestZvdatXls::failures_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<int>("exitCode");
  QTest::addColumn<QByteArray>("stderrHas");
  const QString bad = m_dir.filePath(QStringLiteral("bad.zvdat"));
  QFile f(bad);
  if (f.open(QIODevice::WriteOnly))
    f.write(hex("16") + head().mid(1));
  const QString unwritable = m_dir.filePath(QStringLiteral("no/such/folder/out.xls"));
  QTest::newRow("no output") << QStringList{"xls", m_small} << 2 << QByteArray("no output workbook");
  QTest::newRow("-o is csv only") << QStringList{"xls", m_small, "-o", "x.xls"} << 2 << QByteArray("csv only");
  QTest::newRow("three names") << QStringList{"xls", m_small, "a.xls", "b.xls"} << 2 << QByteArray("unexpected");
  QTest::newRow("unknown unit") << QStringList{"xls", m_small, "a.xls", "--unit", "days"} << 2 << QByteArray("days");
  QTest::newRow("refused file") << QStringList{"xls", bad, m_dir.filePath("r.xls")} << 1 << QByteArray("100");
  QTest::newRow("missing folder") << QStringList{"xls", m_small, unwritable} << 3 << QByteArray("cannot write");
}

void TestZvdatXls::failures() {
  QFETCH(QStringList, args);
  QFETCH(int, exitCode);
  QFETCH(QByteArray, stderrHas);
  const Run run = runZvdat(args);
  QCOMPARE(run.exitCode, exitCode);
  QVERIFY2(run.err.contains(stderrHas), run.err.constData());
}

// Every sample, in the columns of the xls command; openpyxl reads the workbook back.
void TestZvdatXls::xlsx_data() {
  QTest::addColumn<QStringList>("unitArgs");
  QTest::addColumn<QList<QStringList>>("expected");
  QTest::newRow("seconds by default") << QStringList{}
                                      << QList<QStringList>{{"时间(秒)", "通道1(kg)", "时间(秒)", "a,b"},
                                                            {"0.00000", "1.50000", "0.50000", "-2.00000"},
                                                            {"1.00000", "2.25000", "", ""},
                                                            {"90.00000", "3.00000", "", ""}};
  QTest::newRow("milliseconds") << QStringList{"--unit", "ms"}
                                << QList<QStringList>{{"时间(毫秒)", "通道1(kg)", "时间(毫秒)", "a,b"},
                                                      {"0.00000", "1.50000", "500.00000", "-2.00000"},
                                                      {"1000.00000", "2.25000", "", ""},
                                                      {"90000.00000", "3.00000", "", ""}};
}

void TestZvdatXls::xlsx() {
  QFETCH(QStringList, unitArgs);
  QFETCH(QList<QStringList>, expected);
  const QString out = m_dir.filePath(QStringLiteral("%1.xlsx").arg(QTest::currentDataTag()));
  const Run run = runZvdat(QStringList{"xlsx", m_small, out} + unitArgs);
  QCOMPARE(run.exitCode, 0);
  QVERIFY(run.err.contains("1 samples name no channel"));
  const tablecheck::Xlsx book = tablecheck::readXlsx(out);
  QVERIFY2(book.ok, qPrintable(book.error));
  QCOMPARE(book.sheets.size(), 1);
  QCOMPARE(book.sheets[0].grid, expected);
  QCOMPARE(book.sheets[0].kinds, (QStringList{"tttt", "nnnn", "nn--", "nn--"}));
  QCOMPARE(book.numberFormats, QStringList{"0.00000"});

  // xlsx takes the arguments of xls, and fails as it does.
  QCOMPARE(runZvdat({"xlsx", m_small}).exitCode, 2);
  const QString unwritable = m_dir.filePath(QStringLiteral("no/such/folder/out.xlsx"));
  const Run failed = runZvdat({"xlsx", m_small, unwritable});
  QCOMPARE(failed.exitCode, 3);
  QVERIFY(failed.err.contains("cannot write"));
}

QTEST_GUILESS_MAIN(TestZvdatXls)
#include "tst_zvdat_xls.moc"
