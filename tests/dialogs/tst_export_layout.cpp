// Row layout of the spreadsheet exports, cell texts and file names (no widgets).
#include "dialogs/ExportLayout.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <optional>

using exportlayout::SeriesData;

namespace {

SeriesData series(int points, const QString &xTitle = QStringLiteral("时间(秒)"),
                  const QString &yTitle = QStringLiteral("通道1(kg)")) {
  SeriesData s;
  s.xAxisTitle = xTitle;
  s.yAxisTitle = yTitle;
  for (int i = 0; i < points; ++i) {
    s.xs.append(i * 0.25);
    s.ys.append(-i * 1.5);
  }
  return s;
}

QString fixed5(double v) { return QString::asprintf("%.5f", v); }
// Doubles compared bit for bit (QCOMPARE on doubles is fuzzy).
QString exact(std::optional<double> v) { return v ? QString::number(*v, 'g', 17) : QStringLiteral("none"); }
QString exact(double v) { return QString::number(v, 'g', 17); }

} // namespace

class TestExportLayout : public QObject {
  Q_OBJECT

private slots:
  void cellTexts_data();
  void cellTexts();
  void roundedNumbers_data();
  void roundedNumbers();
  void oneChart_data();
  void oneChart();
  void allChannelsRagged();
  void fileNames();
  void titleInFileName_data();
  void titleInFileName();
  void xlsSuffix_data();
  void xlsSuffix();
};

void TestExportLayout::cellTexts_data() {
  QTest::addColumn<double>("x");
  QTest::addColumn<bool>("dateTime");
  QTest::addColumn<QString>("format");
  QTest::addColumn<QString>("text");
  QTest::newRow("zero") << 0.0 << false << "" << "0.00000";
  QTest::newRow("rounded") << 123.456789 << false << "" << "123.45679";
  QTest::newRow("negative") << -2.25 << false << "" << "-2.25000";
  QTest::newRow("large") << 1e10 << false << "" << "10000000000.00000";
  QTest::newRow("date-time seconds") << 3723.4 << true << "hh:nn:ss" << "01:02:03";
  QTest::newRow("date-time date and minutes") << 86400.0 * 365 + 90 << true << "yyyy-mm-dd hh:nn" << "1971-01-01 00:01";
  QTest::newRow("date-time of no date") << std::numeric_limits<double>::infinity() << true << "hh:nn:ss" << "inf";
}

void TestExportLayout::cellTexts() {
  QFETCH(double, x);
  QFETCH(bool, dateTime);
  QFETCH(QString, format);
  QFETCH(QString, text);
  QCOMPARE(exportlayout::XText(x, dateTime, format), text);
  if (!dateTime)
    QCOMPARE(exportlayout::NumberText(x), fixed5(x));
}

// Times and values are number cells holding exactly the value of their "%.5f" text.
void TestExportLayout::roundedNumbers_data() {
  QTest::addColumn<double>("value");
  QTest::addColumn<QString>("text"); // what the cell holds: "%.5f", or a text for no number
  QTest::addColumn<bool>("number");
  QTest::newRow("a third") << 1.0 / 3 << "0.33333" << true;
  QTest::newRow("rounds up") << 123.456789 << "123.45679" << true;
  QTest::newRow("negative") << -2.25 << "-2.25000" << true;
  QTest::newRow("below the last decimal") << 0.000004 << "0.00000" << true;
  QTest::newRow("large") << 98765432.123456 << "98765432.12346" << true;
  QTest::newRow("infinity stays text") << std::numeric_limits<double>::infinity() << "inf" << false;
  QTest::newRow("nan stays text") << std::numeric_limits<double>::quiet_NaN() << "nan" << false;
}

void TestExportLayout::roundedNumbers() {
  QFETCH(double, value);
  QFETCH(QString, text);
  QFETCH(bool, number);
  SeriesData s = series(0);
  s.xs = {value};
  s.ys = {value};
  xls::Workbook book;
  exportlayout::LayoutChartSheet(book, s, QStringLiteral("hh:nn:ss"));
  for (int column : {1, 2}) {
    if (number) {
      QCOMPARE(exact(book.number(2, column)), exact(text.toDouble()));
      QVERIFY(book.cell(2, column).isEmpty());
    } else {
      QCOMPARE(exact(book.number(2, column)), QStringLiteral("none"));
      QCOMPARE(book.cell(2, column), text);
    }
  }
  if (number)
    QCOMPARE(exact(exportlayout::RoundedValue(value)), exact(text.toDouble()));
  // The titles stay text.
  QCOMPARE(book.cell(1, 1), QStringLiteral("时间(秒)"));
  QCOMPARE(exact(book.number(1, 1)), QStringLiteral("none"));
}

void TestExportLayout::oneChart_data() {
  QTest::addColumn<int>("points");
  QTest::addColumn<bool>("cut");
  QTest::newRow("no points") << 0 << false;
  QTest::newRow("three points") << 3 << false;
  QTest::newRow("65535 points fill the sheet") << 65535 << false;
  QTest::newRow("65536 points lose the last one") << 65536 << true;
  QTest::newRow("70000 points") << 70000 << true;
}

void TestExportLayout::oneChart() {
  QFETCH(int, points);
  QFETCH(bool, cut);
  const SeriesData s = series(points);
  QCOMPARE(exportlayout::PointsWouldBeCut(points), cut);

  xls::Workbook book;
  exportlayout::LayoutChartSheet(book, s, QStringLiteral("hh:nn:ss"));
  const int exported = std::min(points, 65535);
  QCOMPARE(book.usedRows(), exported + 1);
  QCOMPARE(book.usedColumns(), 2);
  QCOMPARE(book.cellCount(), 2 * (exported + 1));
  QCOMPARE(book.cell(1, 1), QStringLiteral("时间(秒)"));
  QCOMPARE(book.cell(1, 2), QStringLiteral("通道1(kg)"));
  for (int i : {0, 1, exported / 2, exported - 1}) {
    if (i < 0 || i >= exported)
      continue;
    QCOMPARE(exact(book.number(i + 2, 1)), exact(fixed5(i * 0.25).toDouble()));
    QCOMPARE(exact(book.number(i + 2, 2)), exact(fixed5(-i * 1.5).toDouble()));
  }
}

void TestExportLayout::allChannelsRagged() {
  const SeriesData a = series(2, "时间(秒)", "A");
  const SeriesData b = series(0, "时间(秒)", "B");
  SeriesData c = series(5, "时间", "C");
  c.dateTime = true;
  const std::array<const exportlayout::ChartSeries *, 3> channels{&a, &b, &c};
  xls::Workbook book;
  exportlayout::LayoutAllChannelsSheet(book, channels, QStringLiteral("nn:ss"));

  QCOMPARE(book.usedRows(), 6);
  QCOMPARE(book.usedColumns(), 6);
  const QStringList titles{"时间(秒)", "A", "时间(秒)", "B", "时间", "C"};
  for (int col = 1; col <= 6; ++col)
    QCOMPARE(book.cell(1, col), titles[col - 1]);
  QCOMPARE(exact(book.number(3, 2)), exact(-1.5));
  QVERIFY(book.cell(4, 1).isEmpty() && !book.number(4, 1)); // channel 1 ends after two points
  QVERIFY(book.cell(2, 3).isEmpty() && !book.number(2, 3)); // channel 2 has none
  QCOMPARE(book.cell(6, 5), QStringLiteral("00:01")); // date-time X stays the text of its pattern
  QVERIFY(!book.number(6, 5));
  QCOMPARE(exact(book.number(6, 6)), exact(-6));
  QCOMPARE(book.cellCount(), 6 + 2 * 2 + 2 * 5);
}

void TestExportLayout::fileNames() {
  const QDateTime when(QDate(2024, 5, 1), QTime(13, 45, 10));
  QCOMPARE(exportlayout::FileNameStamp(when), QStringLiteral(" 24-05-01 13.45.10"));
  QCOMPARE(exportlayout::AllChannelsFileName(QStringLiteral("Test"), when), QStringLiteral("Test 24-05-01 13.45.10"));
  QCOMPARE(exportlayout::ChannelChartFileName(QStringLiteral("通道1"), when), QStringLiteral("通道1 24-05-01 13.45.10"));
  QCOMPARE(exportlayout::XYChartFileName(QStringLiteral("X-Y 图")), QStringLiteral("X-Y 图"));
}

// A title that cannot stand in a file name as it is.
void TestExportLayout::titleInFileName_data() {
  QTest::addColumn<QString>("title");
  QTest::addColumn<QString>("name");
  QTest::newRow("plain") << "通道1" << "通道1";
  QTest::newRow("slash and backslash") << "X/Y\\Z" << "X_Y_Z";
  QTest::newRow("every forbidden sign") << "a:b*c?d\"e<f>g|h" << "a_b_c_d_e_f_g_h";
  QTest::newRow("control characters") << QStringLiteral("a\tb\nc") + QChar(0x7F) + QChar(0x01) << "a_b_c__";
  QTest::newRow("blanks, dots and CJK kept") << "温度 1.5 (℃)" << "温度 1.5 (℃)";
}

void TestExportLayout::titleInFileName() {
  QFETCH(QString, title);
  QFETCH(QString, name);
  const QDateTime when(QDate(2024, 5, 1), QTime(13, 45, 10));
  QCOMPARE(exportlayout::SafeFileName(title), name);
  QCOMPARE(exportlayout::XYChartFileName(title), name);
  QCOMPARE(exportlayout::ChannelChartFileName(title, when), name + QStringLiteral(" 24-05-01 13.45.10"));
}

void TestExportLayout::xlsSuffix_data() {
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("saved");
  QTest::newRow("no extension") << "/tmp/data" << "/tmp/data.xls";
  QTest::newRow("lower case kept") << "/tmp/data.xls" << "/tmp/data.xls";
  QTest::newRow("upper case is not .xls") << "/tmp/data.XLS" << "/tmp/data.XLS.xls";
  QTest::newRow("mixed case") << "data.Xls" << "data.Xls.xls";
  QTest::newRow("xlsx") << "data.xlsx" << "data.xlsx.xls";
  QTest::newRow("shorter than four") << "xl" << "xl.xls";
}

void TestExportLayout::xlsSuffix() {
  QFETCH(QString, typed);
  QFETCH(QString, saved);
  QCOMPARE(exportlayout::WithXlsSuffix(typed), saved);
}

QTEST_GUILESS_MAIN(TestExportLayout)
#include "tst_export_layout.moc"
