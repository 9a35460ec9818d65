// CSV and .xlsx tables of whole charts, read back with Python's csv module and openpyxl.
#include "dialogs/TableExport.h"
#include "dialogs/tst_table_reader.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

using exportlayout::ExportFormat;
using exportlayout::WriteResult;

namespace {

using Grid = QList<QStringList>;
using Points = QList<QPair<double, double>>;

std::shared_ptr<exportlayout::SeriesData> series(const QString &xTitle, const QString &yTitle, const Points &points,
                                                 bool dateTime = false) {
  auto s = std::make_shared<exportlayout::SeriesData>();
  s->xAxisTitle = xTitle;
  s->yAxisTitle = yTitle;
  s->dateTime = dateTime;
  for (const auto &[x, y] : points) {
    s->xs.append(x);
    s->ys.append(y);
  }
  return s;
}

using SeriesList = QList<std::shared_ptr<exportlayout::SeriesData>>;

std::vector<const exportlayout::ChartSeries *> pointers(const SeriesList &list) {
  std::vector<const exportlayout::ChartSeries *> out;
  for (const auto &s : list)
    out.push_back(s.get());
  return out;
}

// Point i: x = i, y = i + 0.5 (and channel 2: y = -i).
SeriesList counted(int points, int secondPoints) {
  Points a, b;
  for (int i = 0; i < points; ++i)
    a.append({i, i + 0.5});
  for (int i = 0; i < secondPoints; ++i)
    b.append({i, -i});
  return {series("时间(秒)", "通道1(kg)", a), series("时间(秒)", "通道2", b)};
}

QStringList filesIn(const QString &dir) { return QDir(dir).entryList(QDir::Files | QDir::Hidden); }

} // namespace

class TestExportTable : public QObject {
  Q_OBJECT

private slots:
  void table_data();
  void table();
  void csvBytes();
  void sheets_data();
  void sheets();
  void cancelLeavesNoFile_data();
  void cancelLeavesNoFile();
  void failedSave_data();
  void failedSave();
  void suffix_data();
  void suffix();

private:
  QTemporaryDir m_dir;
};

void TestExportTable::table_data() {
  QTest::addColumn<int>("format");
  QTest::addColumn<SeriesList>("channels");
  QTest::addColumn<Grid>("expected");
  QTest::addColumn<QStringList>("kinds"); // of the .xlsx cells

  const SeriesList pairs = {
      series("时间(秒)", "通道1(kg)", {{0, 1.0 / 3.0}, {0.25, -1.5}, {0.5, 2}}),
      series("a,b", "引号\"x", {{1e6, 12345.678901}})};
  const Grid pairsGrid = {{"时间(秒)", "通道1(kg)", "a,b", "引号\"x"},
                          {"0.00000", "0.33333", "1000000.00000", "12345.67890"},
                          {"0.25000", "-1.50000", "", ""},
                          {"0.50000", "2.00000", "", ""}};
  // 2024-05-01 13:26:40 UTC; the axis shows date-time labels, so X is text.
  const SeriesList dates = {series("时间", "值", {{1714570000, 1}, {1714570001.5, INFINITY}}, true)};
  const Grid datesGrid = {{"时间", "值"}, {"13:26:40", "1.00000"}, {"13:26:41", "inf"}};
  const SeriesList empty = {series("时间(秒)", "通道1", {})};
  // A missing chart keeps its place: an empty column pair.
  const SeriesList gap = {nullptr, series("t", "v", {{1, 2}})};
  const Grid gapGrid = {{"", "", "t", "v"}, {"", "", "1.00000", "2.00000"}};

  for (const auto &[name, format] : {std::pair{"csv", ExportFormat::Csv}, std::pair{"xlsx", ExportFormat::Xlsx}}) {
    const int f = int(format);
    QTest::addRow("%s unequal pairs", name) << f << pairs << pairsGrid
                                           << QStringList{"tttt", "nnnn", "nn--", "nn--"};
    QTest::addRow("%s date-time x", name) << f << dates << datesGrid << QStringList{"tt", "tn", "tt"};
    QTest::addRow("%s no points", name) << f << empty << Grid{{"时间(秒)", "通道1"}} << QStringList{"tt"};
    QTest::addRow("%s missing chart", name) << f << gap << gapGrid << QStringList{"--tt", "--nn"};
  }
}

void TestExportTable::table() {
  QFETCH(int, format);
  QFETCH(SeriesList, channels);
  QFETCH(Grid, expected);
  QFETCH(QStringList, kinds);
  const auto fmt = ExportFormat(format);
  const QString path =
      m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + (fmt == ExportFormat::Csv ? ".csv" : ".xlsx"));
  const auto list = pointers(channels);
  QString error;
  QCOMPARE(int(exportlayout::SaveTable(fmt, path, list, QStringLiteral("hh:nn:ss"), {}, &error)),
           int(WriteResult::Done));
  QVERIFY2(error.isEmpty(), qPrintable(error));

  if (fmt == ExportFormat::Csv) {
    const tablecheck::Csv csv = tablecheck::readCsv(path);
    QVERIFY2(csv.ok, qPrintable(csv.error));
    QVERIFY(csv.bom);
    QVERIFY(!csv.crlf);
    QCOMPARE(csv.rows, expected);
    return;
  }
  const tablecheck::Xlsx book = tablecheck::readXlsx(path);
  QVERIFY2(book.ok, qPrintable(book.error));
  QCOMPARE(book.sheets.size(), 1);
  QCOMPARE(book.sheets[0].name, QStringLiteral("Sheet1"));
  QCOMPARE(book.sheets[0].rows, int(expected.size()));
  QCOMPARE(book.sheets[0].grid, expected);
  QCOMPARE(book.sheets[0].kinds, kinds);
  if (kinds.join(QString()).contains(QLatin1Char('n')))
    QCOMPARE(book.numberFormats, QStringList{"0.00000"});
  QCOMPARE(book.inexact, 0); // the cells hold the values the operator sees
}

// The bytes `zvdat csv` also writes: a byte-order mark, RFC 4180 quoting, "\n" line ends.
void TestExportTable::csvBytes() {
  const SeriesList channels = {series("时间(秒)", "a,b", {{0.5, -2}, {1, 3}}), series("t", "v", {{2, 1e-6}})};
  QBuffer buffer;
  QVERIFY(buffer.open(QIODevice::WriteOnly));
  QCOMPARE(int(exportlayout::WriteCsvTable(buffer, pointers(channels), QString())), int(WriteResult::Done));
  QCOMPARE(buffer.data(), QByteArray("\xEF\xBB\xBF") + QStringLiteral("时间(秒),\"a,b\",t,v\n"
                                                                        "0.50000,-2.00000,2.00000,0.00000\n"
                                                                        "1.00000,3.00000,,\n")
                                                           .toUtf8());
}

void TestExportTable::sheets_data() {
  QTest::addColumn<int>("points");
  QTest::addColumn<int>("secondPoints");
  QTest::addColumn<int>("perSheet");
  QTest::addColumn<QList<int>>("sheetRows"); // openpyxl's row count of each sheet

  QTest::newRow("rest on a third sheet") << 8 << 4 << 3 << QList<int>{4, 4, 3};
  QTest::newRow("exactly two sheets") << 6 << 1 << 3 << QList<int>{4, 4};
  QTest::newRow("one row a sheet") << 3 << 3 << 1 << QList<int>{2, 2, 2};
  QTest::newRow("fits one sheet") << 5 << 2 << 5 << QList<int>{6};
}

void TestExportTable::sheets() {
  QFETCH(int, points);
  QFETCH(int, secondPoints);
  QFETCH(int, perSheet);
  QFETCH(QList<int>, sheetRows);
  const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + ".xlsx");
  const SeriesList channels = counted(points, secondPoints);
  QString error;
  QCOMPARE(int(exportlayout::SaveTable(ExportFormat::Xlsx, path, pointers(channels), QString(), {}, &error, perSheet)),
           int(WriteResult::Done));
  const tablecheck::Xlsx book = tablecheck::readXlsx(path);
  QVERIFY2(book.ok, qPrintable(book.error));
  QCOMPARE(book.sheets.size(), sheetRows.size());
  int point = 0;
  for (int s = 0; s < book.sheets.size(); ++s) {
    const tablecheck::XlsxSheet &sheet = book.sheets[s];
    QCOMPARE(sheet.name, QStringLiteral("Sheet%1").arg(s + 1));
    QCOMPARE(sheet.rows, sheetRows[s]);
    QCOMPARE(sheet.grid.first(), (QStringList{"时间(秒)", "通道1(kg)", "时间(秒)", "通道2"}));
    for (int r = 1; r < sheet.grid.size(); ++r, ++point) {
      const QStringList second = point < secondPoints
                                     ? QStringList{QString::asprintf("%.5f", double(point)),
                                                   QString::asprintf("%.5f", -double(point))}
                                     : QStringList{"", ""};
      QCOMPARE(sheet.grid[r], (QStringList{QString::asprintf("%.5f", double(point)),
                                           QString::asprintf("%.5f", point + 0.5)} +
                               second));
    }
  }
  QCOMPARE(point, points); // every point on some sheet, in order, none twice
  QCOMPARE(book.numberFormats, QStringList{"0.00000"});
}

void TestExportTable::cancelLeavesNoFile_data() {
  QTest::addColumn<int>("format");
  QTest::addColumn<int>("points");
  QTest::addColumn<bool>("earlierFile");
  for (const auto &[name, format] : {std::pair{"csv", ExportFormat::Csv}, std::pair{"xlsx", ExportFormat::Xlsx}}) {
    // 10000 rows: asked at 4096, the first chance; 100 rows: asked once, after the last row.
    QTest::addRow("%s midway", name) << int(format) << 10000 << false;
    QTest::addRow("%s after the last row", name) << int(format) << 100 << false;
    QTest::addRow("%s keeps an earlier file", name) << int(format) << 10000 << true;
  }
}

void TestExportTable::cancelLeavesNoFile() {
  QFETCH(int, format);
  QFETCH(int, points);
  QFETCH(bool, earlierFile);
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("out.data"));
  if (earlierFile) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("earlier");
  }
  const SeriesList channels = counted(points, 1);
  QList<qint64> asked;
  const WriteResult result =
      exportlayout::SaveTable(ExportFormat(format), path, pointers(channels), QString(), [&asked](qint64 done) {
        asked << done;
        return false;
      });
  QCOMPARE(int(result), int(WriteResult::Cancelled));
  QCOMPARE(asked, QList<qint64>{std::min<qint64>(points, exportlayout::kProgressRows)});
  QCOMPARE(filesIn(dir.path()), earlierFile ? QStringList{"out.data"} : QStringList{});
  if (earlierFile) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("earlier"));
  }
}

void TestExportTable::failedSave_data() {
  QTest::addColumn<int>("format");
  QTest::newRow("csv") << int(ExportFormat::Csv);
  QTest::newRow("xlsx") << int(ExportFormat::Xlsx);
}

void TestExportTable::failedSave() {
  QFETCH(int, format);
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("no/such/folder/out"));
  const SeriesList channels = counted(10, 10);
  QString error;
  QList<qint64> asked;
  const WriteResult result = exportlayout::SaveTable(ExportFormat(format), path, pointers(channels), QString(),
                                                     [&asked](qint64 done) {
                                                       asked << done;
                                                       return true;
                                                     },
                                                     &error);
  QCOMPARE(int(result), int(WriteResult::Failed));
  QVERIFY(!error.isEmpty());
  QVERIFY(!QFileInfo::exists(path));
  QCOMPARE(filesIn(dir.path()), QStringList{});
}

void TestExportTable::suffix_data() {
  QTest::addColumn<int>("format");
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("expected");
  QTest::newRow("csv added") << int(ExportFormat::Csv) << "data" << "data.csv";
  QTest::newRow("csv kept") << int(ExportFormat::Csv) << "data.csv" << "data.csv";
  QTest::newRow("csv case-sensitive") << int(ExportFormat::Csv) << "data.CSV" << "data.CSV.csv";
  QTest::newRow("xlsx added to xls") << int(ExportFormat::Xlsx) << "data.xls" << "data.xls.xlsx";
  QTest::newRow("xlsx kept") << int(ExportFormat::Xlsx) << "data.xlsx" << "data.xlsx";
  QTest::newRow("xls of xlsx") << int(ExportFormat::Xls) << "data.xlsx" << "data.xlsx.xls";
}

void TestExportTable::suffix() {
  QFETCH(int, format);
  QFETCH(QString, typed);
  QFETCH(QString, expected);
  QCOMPARE(exportlayout::WithExportSuffix(typed, ExportFormat(format)), expected);
}

QTEST_GUILESS_MAIN(TestExportTable)
#include "tst_export_table.moc"
