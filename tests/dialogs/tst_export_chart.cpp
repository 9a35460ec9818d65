// The spreadsheet export commands on real charts: questions, file names, progress windows,
// messages, and the saved workbooks as xlrd reads them.
#include "dialogs/ChartExport.h"
#include "dialogs/tst_table_reader.h"
#include "dialogs/tst_xls_reader.h"

#include "app/AppContext.h"
#include "common/ModalResponder.h"
#include "views/PlotChart.h"

#include <QAbstractButton>
#include <QPointer>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <array>
#include <memory>
#include <numeric>

namespace {

const QString kTooMany = QStringLiteral("需要导出的数据过大，Excel最大只能容纳65536行,是否还要继续？");
const QString kReplace = QStringLiteral("该文件已经存在，要覆盖吗？");

using Answers = QList<int>; // QMessageBox::StandardButton values

std::deque<QMessageBox::StandardButton> toDeque(const Answers &answers) {
  std::deque<QMessageBox::StandardButton> d;
  for (int a : answers)
    d.push_back(static_cast<QMessageBox::StandardButton>(a));
  return d;
}

QString fixed5(double v) { return QString::asprintf("%.5f", v); }
// Needs rounding to five decimals, so the sheet shows whether the stored value was rounded.
constexpr double kThird = 1.0 / 3.0;

// Point i of chart k: x = i / 4, y = k * 1000 - i * 1.5 + 1/3.
std::unique_ptr<PlotChart> makeChart(int points, int k = 0) {
  auto chart = std::make_unique<PlotChart>(kChannelChartTraces);
  chart->setAxisTitle(ChartAxis::X, QStringLiteral("时间(秒)"));
  chart->setAxisTitle(ChartAxis::Y, QStringLiteral("通道%1(kg)").arg(k + 1));
  QVector<double> xs, ys;
  for (int i = 0; i < points; ++i) {
    xs.append(i * 0.25);
    ys.append(k * 1000 - i * 1.5 + kThird);
  }
  chart->addPoints(0, xs, ys, true);
  return chart;
}

// Records what the export asked of its surroundings.
struct Surroundings {
  QString typedName;           // the save dialog's answer
  QStringList defaultNames;    // what the dialog proposed
  QList<QUrl> opened;
  QList<int> progressMaxima;
  QList<bool> cancellable;
  bool openSucceeds = true;
  bool clickCancel = false;    // click the progress window's cancel button once events run
  QPointer<QWidget> progressWindow;

  ExportHooks hooks() {
    ExportHooks h;
    h.askFileName = [this](QWidget *, const QString &proposed) {
      defaultNames << proposed;
      return typedName;
    };
    h.openFile = [this](const QUrl &url) {
      opened << url;
      return openSucceeds;
    };
    h.createProgressWindow = [this](int maximum, bool canCancel) {
      progressMaxima << maximum;
      cancellable << canCancel;
      QProgressBar *bar = CreateExportProgressWindow(maximum, canCancel);
      progressWindow = bar->window();
      auto *button = bar->window()->findChild<QAbstractButton *>(QLatin1String(kProgressCancelButton));
      if (clickCancel && button)
        QTimer::singleShot(0, button, &QAbstractButton::click);
      return bar;
    };
    return h;
  }
};

// Notes the cursor of every message box as it comes up: an override cursor (the hourglass)
// must never stand over a box.
class CursorAtBoxes : public QObject {
public:
  CursorAtBoxes() { qApp->installEventFilter(this); }
  ~CursorAtBoxes() override { qApp->removeEventFilter(this); }
  QList<int> overrides; // per box: the override cursor's shape, -1 for none

protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::Show && qobject_cast<QMessageBox *>(watched)) {
      const QCursor *c = QApplication::overrideCursor();
      overrides << (c ? int(c->shape()) : -1);
    }
    return false;
  }
};

QStringList texts(const std::vector<ModalResponder::Seen> &seen) {
  QStringList out;
  for (const auto &s : seen)
    out << s.text;
  return out;
}

} // namespace

class TestExportChart : public QObject {
  Q_OBJECT

private slots:
  void init();
  void cleanup();
  void oneChart_data();
  void oneChart();
  void cancelledFileDialog();
  void existingFile_data();
  void existingFile();
  void failedSave();
  void noProgramToShowTheFile();
  void defaultNameOfATitle();
  void dateTimeAxis();
  void allChannels_data();
  void allChannels();
  void tables_data();
  void tables();
  void cancelledTable_data();
  void cancelledTable();
  void failedTable_data();
  void failedTable();

private:
  std::unique_ptr<QTemporaryDir> m_dir;
  std::unique_ptr<CursorAtBoxes> m_cursors;
  AppContext m_ctx{ProgramPaths{}};
};

void TestExportChart::init() {
  m_dir = std::make_unique<QTemporaryDir>();
  m_cursors = std::make_unique<CursorAtBoxes>();
}

// Whatever a test provoked: every box came up under the normal cursor, and none is left over.
void TestExportChart::cleanup() {
  for (int shape : m_cursors->overrides)
    QCOMPARE(shape, -1);
  QVERIFY(!QApplication::overrideCursor());
  m_cursors.reset();
}

void TestExportChart::oneChart_data() {
  QTest::addColumn<int>("points");
  QTest::addColumn<Answers>("answers");
  QTest::addColumn<QString>("typed");
  QTest::addColumn<bool>("result");
  QTest::addColumn<QStringList>("questions");
  QTest::addColumn<QString>("saved"); // empty: nothing written
  QTest::addColumn<int>("dataRows");

  QTest::newRow("no points: title row only") << 0 << Answers{} << "empty" << true << QStringList{} << "empty.xls" << 0;
  QTest::newRow("65535 points fit without asking") << 65535 << Answers{} << "full.xls" << true << QStringList{}
                                                   << "full.xls" << 65535;
  QTest::newRow("65536 points ask, yes") << 65536 << Answers{QMessageBox::Yes} << "cut.xls" << true
                                         << QStringList{kTooMany} << "cut.xls" << 65535;
  QTest::newRow("70000 points ask, no") << 70000 << Answers{QMessageBox::No} << "no.xls" << false
                                        << QStringList{kTooMany} << "" << 0;
  QTest::newRow("70000 points ask, yes") << 70000 << Answers{QMessageBox::Yes} << "big.xls" << true
                                         << QStringList{kTooMany} << "big.xls" << 65535;
  QTest::newRow("upper-case extension gets .xls") << 3 << Answers{} << "data.XLS" << true << QStringList{}
                                                  << "data.XLS.xls" << 3;
}

void TestExportChart::oneChart() {
  QFETCH(int, points);
  QFETCH(Answers, answers);
  QFETCH(QString, typed);
  QFETCH(bool, result);
  QFETCH(QStringList, questions);
  QFETCH(QString, saved);
  QFETCH(int, dataRows);

  const auto chart = makeChart(points);
  Surroundings env;
  env.typedName = m_dir->filePath(typed);
  ModalResponder responder(toDeque(answers));
  QCOMPARE(ExportChartData(nullptr, m_ctx, *chart, QStringLiteral("通道1 24-05-01 13.45.10"), env.hooks()), result);
  QCOMPARE(texts(responder.seen), questions);
  for (const auto &s : responder.seen)
    QCOMPARE(s.caption, QStringLiteral("提示"));

  if (saved.isEmpty()) {
    QVERIFY(QDir(m_dir->path()).isEmpty());
    QVERIFY(env.opened.isEmpty());
    return;
  }
  QCOMPARE(env.defaultNames, QStringList{"通道1 24-05-01 13.45.10"});
  const QString path = m_dir->filePath(saved);
  QCOMPARE(env.opened, QList<QUrl>{QUrl::fromLocalFile(path)});
  QCOMPARE(env.progressMaxima, QList<int>{dataRows});
  const xlrdcheck::Sheet sheet = xlrdcheck::read(path, false);
  QVERIFY2(sheet.ok, qPrintable(sheet.error));
  QCOMPARE(sheet.rows, dataRows + 1);
  QCOMPARE(sheet.columns, 2);
  // Titles are text; times and values are numbers shown as "0.00000", each exactly its
  // five-decimal text read back.
  QCOMPARE(sheet.texts, 2);
  QCOMPARE(sheet.textFormats, QStringList{"@"});
  QCOMPARE(sheet.numbers, 2 * dataRows);
  QCOMPARE(sheet.nonText, 2 * dataRows);
  QCOMPARE(sheet.numberFormats, dataRows > 0 ? QStringList{"0.00000"} : QStringList{});
  QCOMPARE(sheet.inexact, 0);
  QCOMPARE(sheet.digest, xlrdcheck::digestOf(dataRows + 1, 2, [](int r, int c) {
             if (r == 0)
               return c == 0 ? QStringLiteral("时间(秒)") : QStringLiteral("通道1(kg)");
             const int i = r - 1;
             return c == 0 ? fixed5(i * 0.25) : fixed5(-i * 1.5 + kThird);
           }));
}

void TestExportChart::cancelledFileDialog() {
  const auto chart = makeChart(5);
  Surroundings env; // typedName empty: cancelled
  ModalResponder responder;
  QVERIFY(ExportChartData(nullptr, m_ctx, *chart, QStringLiteral("x"), env.hooks()));
  QVERIFY(responder.seen.empty());
  QVERIFY(env.opened.isEmpty());
  QVERIFY(env.progressMaxima.isEmpty());
  QVERIFY(QDir(m_dir->path()).isEmpty());
}

void TestExportChart::existingFile_data() {
  QTest::addColumn<QString>("existing"); // file already there
  QTest::addColumn<QString>("typed");
  QTest::addColumn<int>("answer");
  QTest::addColumn<bool>("replaced");
  QTest::newRow("replace: yes") << "old.xls" << "old.xls" << int(QMessageBox::Yes) << true;
  QTest::newRow("replace: no") << "old.xls" << "old.xls" << int(QMessageBox::No) << false;
  // The question is about the file the ".xls" rule names, not the one typed.
  QTest::newRow("typed without extension, .xls exists") << "old.xls" << "old" << int(QMessageBox::No) << false;
}

void TestExportChart::existingFile() {
  QFETCH(QString, existing);
  QFETCH(QString, typed);
  QFETCH(int, answer);
  QFETCH(bool, replaced);
  const QString path = m_dir->filePath(existing);
  {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("earlier file");
  }
  const auto chart = makeChart(2);
  Surroundings env;
  env.typedName = m_dir->filePath(typed);
  ModalResponder responder({static_cast<QMessageBox::StandardButton>(answer)});
  QCOMPARE(ExportChartData(nullptr, m_ctx, *chart, QString(), env.hooks()), replaced);
  QCOMPARE(texts(responder.seen), QStringList{kReplace});
  QCOMPARE(responder.seen.front().icon, QMessageBox::Question);
  QFile f(path);
  QVERIFY(f.open(QIODevice::ReadOnly));
  QCOMPARE(f.readAll() == "earlier file", !replaced);
  QCOMPARE(env.opened.size(), replaced ? 1 : 0);
  if (replaced) {
    const xlrdcheck::Sheet sheet = xlrdcheck::read(path, true);
    QVERIFY2(sheet.ok, qPrintable(sheet.error));
    QCOMPARE(sheet.rows, 3);
  }
}

// A workbook that cannot be saved is reported; the file is not shown.
void TestExportChart::failedSave() {
  const auto chart = makeChart(2);
  Surroundings env;
  env.typedName = m_dir->filePath(QStringLiteral("no/such/folder/out.xls"));
  ModalResponder responder;
  QVERIFY(!ExportChartData(nullptr, m_ctx, *chart, QString(), env.hooks()));
  QCOMPARE(responder.seen.size(), size_t(1));
  QCOMPARE(responder.seen.front().caption, QStringLiteral("错误"));
  // Nothing was written: the message the program always gave for that, then why.
  QVERIFY(responder.seen.front().text.startsWith(QStringLiteral("无法调用Excel！\nExcel文件保存失败，数据没有导出！")));
  QVERIFY(responder.seen.front().text.contains(QStringLiteral("out.xls")));
  QVERIFY(env.opened.isEmpty());
  QCOMPARE(m_cursors->overrides, QList<int>{-1});
}

void TestExportChart::noProgramToShowTheFile() {
  const auto chart = makeChart(2);
  Surroundings env;
  env.typedName = m_dir->filePath(QStringLiteral("shown.xls"));
  env.openSucceeds = false;
  ModalResponder responder;
  QVERIFY(ExportChartData(nullptr, m_ctx, *chart, QString(), env.hooks()));
  // The file was written: say where, not that nothing could be done.
  const QString where = QDir::toNativeSeparators(QFileInfo(env.typedName).absoluteFilePath());
  QCOMPARE(texts(responder.seen), QStringList{QStringLiteral("文件已保存到：\n%1\n但无法打开它。").arg(where)});
  QCOMPARE(responder.seen.front().caption, QStringLiteral("提示"));
  QCOMPARE(responder.seen.front().icon, QMessageBox::Information);
  QCOMPARE(m_cursors->overrides, QList<int>{-1});
  QVERIFY(QFileInfo::exists(env.typedName));
  QCOMPARE(xlrdcheck::read(env.typedName, false).rows, 3);
}

// The save dialog proposes a name the file system accepts, whatever the chart title holds.
void TestExportChart::defaultNameOfATitle() {
  const auto chart = makeChart(1);
  Surroundings env; // cancelled
  ModalResponder responder;
  QVERIFY(ExportChartData(nullptr, m_ctx, *chart, QStringLiteral("压力/温度: A|B 24-05-01 13.45.10"), env.hooks()));
  const std::array<const PlotChart *, 1> charts{chart.get()};
  QVERIFY(ExportAllChannelData(nullptr, m_ctx, charts, QStringLiteral("Te*st? 24-05-01 13.45.10"), env.hooks()));
  QCOMPARE(env.defaultNames, (QStringList{"压力_温度_ A_B 24-05-01 13.45.10", "Te_st_ 24-05-01 13.45.10"}));
}

void TestExportChart::dateTimeAxis() {
  PlotChart chart(kChannelChartTraces);
  chart.setAxisTitle(ChartAxis::X, QStringLiteral("时间"));
  chart.setAxisTitle(ChartAxis::Y, QStringLiteral("值"));
  chart.setXDateTimeLabels(true, QStringLiteral("hh:nn:ss"));
  chart.addPoints(0, {3600.0, 3661.2, 86399.0}, {1.0, 2.0, 3.0}, true);
  m_ctx.options.DateTimeFormat = QStringLiteral("hh:nn:ss");
  Surroundings env;
  env.typedName = m_dir->filePath(QStringLiteral("dt.xls"));
  ModalResponder responder;
  QVERIFY(ExportChartData(nullptr, m_ctx, chart, QString(), env.hooks()));
  const xlrdcheck::Sheet sheet = xlrdcheck::read(env.typedName, true);
  QVERIFY2(sheet.ok, qPrintable(sheet.error));
  const QList<QStringList> expected{{"时间", "值"},
                                    {"01:00:00", "1.00000"},
                                    {"01:01:01", "2.00000"},
                                    {"23:59:59", "3.00000"}};
  QCOMPARE(sheet.grid, expected);
  // Times shown as date and time stay the text of that pattern; the values are numbers.
  QCOMPARE(sheet.kinds, (QStringList{"tt", "tn", "tn", "tn"}));
  QCOMPARE(sheet.numberFormats, QStringList{"0.00000"});
}

void TestExportChart::allChannels_data() {
  QTest::addColumn<QList<int>>("points"); // per channel
  QTest::addColumn<Answers>("answers");
  QTest::addColumn<bool>("result");
  QTest::addColumn<QStringList>("messages");
  QTest::addColumn<bool>("saved");

  QTest::newRow("no channels") << QList<int>{} << Answers{} << false << QStringList{"没有数据！"} << false;
  QTest::newRow("two too long, no at the first") << QList<int>{70000, 10, 66000} << Answers{QMessageBox::No} << false
                                                 << QStringList{kTooMany} << false;
  QTest::newRow("two too long, yes to both") << QList<int>{70000, 10, 66000}
                                             << Answers{QMessageBox::Yes, QMessageBox::Yes} << true
                                             << QStringList{kTooMany, kTooMany} << true;
  QTest::newRow("ragged, nothing to ask") << QList<int>{3, 0, 7} << Answers{} << true << QStringList{} << true;
}

void TestExportChart::allChannels() {
  QFETCH(QList<int>, points);
  QFETCH(Answers, answers);
  QFETCH(bool, result);
  QFETCH(QStringList, messages);
  QFETCH(bool, saved);

  std::vector<std::unique_ptr<PlotChart>> charts;
  std::vector<const PlotChart *> pointers;
  for (int k = 0; k < points.size(); ++k) {
    charts.push_back(makeChart(points[k], k));
    pointers.push_back(charts.back().get());
  }
  Surroundings env;
  env.typedName = m_dir->filePath(QStringLiteral("all"));
  ModalResponder responder(toDeque(answers));
  QCOMPARE(ExportAllChannelData(nullptr, m_ctx, pointers, QStringLiteral("Test 24-05-01 13.45.10"), env.hooks()),
           result);
  QCOMPARE(texts(responder.seen), messages);
  if (points.isEmpty()) {
    QCOMPARE(responder.seen.front().caption, QStringLiteral("错误"));
    QCOMPARE(responder.seen.front().icon, QMessageBox::Question);
  }
  const QString path = m_dir->filePath(QStringLiteral("all.xls"));
  QCOMPARE(QFileInfo::exists(path), saved);
  if (!saved) {
    QVERIFY(env.progressMaxima.isEmpty());
    return;
  }
  QList<int> rows;
  for (int n : points)
    rows << std::min(n, 65535);
  QCOMPARE(env.progressMaxima, rows);
  QCOMPARE(env.opened, QList<QUrl>{QUrl::fromLocalFile(path)});

  const int sheetRows = *std::max_element(rows.begin(), rows.end()) + 1;
  const int columns = 2 * static_cast<int>(points.size());
  const xlrdcheck::Sheet sheet = xlrdcheck::read(path, false);
  QVERIFY2(sheet.ok, qPrintable(sheet.error));
  QCOMPARE(sheet.rows, sheetRows);
  QCOMPARE(sheet.columns, columns);
  QCOMPARE(sheet.texts, columns);
  QCOMPARE(sheet.numbers, 2 * std::accumulate(rows.begin(), rows.end(), 0));
  QCOMPARE(sheet.numberFormats, QStringList{"0.00000"});
  QCOMPARE(sheet.inexact, 0);
  QCOMPARE(sheet.digest, xlrdcheck::digestOf(sheetRows, columns, [&rows](int r, int c) {
             const int k = c / 2;
             if (r == 0)
               return c % 2 == 0 ? QStringLiteral("时间(秒)") : QStringLiteral("通道%1(kg)").arg(k + 1);
             const int i = r - 1;
             if (i >= rows[k])
               return QString();
             return c % 2 == 0 ? fixed5(i * 0.25) : fixed5(k * 1000 - i * 1.5 + kThird);
           }));
}

using exportlayout::ExportFormat;

void TestExportChart::tables_data() {
  QTest::addColumn<int>("format");
  QTest::addColumn<QList<int>>("points"); // one chart, or one per channel for all channels
  QTest::addColumn<bool>("allChannels");
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("saved");
  // More than an .xls sheet holds, with no question: every point is exported.
  QTest::newRow("csv one chart") << int(ExportFormat::Csv) << QList<int>{70000} << false << "data" << "data.csv";
  QTest::newRow("xlsx one chart") << int(ExportFormat::Xlsx) << QList<int>{70000} << false << "data.xlsx"
                                  << "data.xlsx";
  QTest::newRow("csv all channels") << int(ExportFormat::Csv) << QList<int>{4, 6, 2} << true << "all.csv"
                                    << "all.csv";
  QTest::newRow("xlsx all channels") << int(ExportFormat::Xlsx) << QList<int>{4, 6, 2} << true << "all"
                                     << "all.xlsx";
}

void TestExportChart::tables() {
  QFETCH(int, format);
  QFETCH(QList<int>, points);
  QFETCH(bool, allChannels);
  QFETCH(QString, typed);
  QFETCH(QString, saved);
  std::vector<std::unique_ptr<PlotChart>> charts;
  std::vector<const PlotChart *> pointers;
  for (int k = 0; k < points.size(); ++k) {
    charts.push_back(makeChart(points[k], k));
    pointers.push_back(charts.back().get());
  }
  Surroundings env;
  env.typedName = m_dir->filePath(typed);
  ModalResponder responder;
  const bool done = allChannels ? ExportAllChannelData(nullptr, m_ctx, pointers, QStringLiteral("Test"),
                                                       env.hooks(), ExportFormat(format))
                                : ExportChartData(nullptr, m_ctx, *charts.front(), QStringLiteral("Test"),
                                                  env.hooks(), ExportFormat(format));
  QVERIFY(done);
  QVERIFY(responder.seen.empty());
  const QString path = m_dir->filePath(saved);
  QCOMPARE(env.opened, QList<QUrl>{QUrl::fromLocalFile(path)});
  const int rows = *std::max_element(points.begin(), points.end());
  QCOMPARE(env.progressMaxima, QList<int>{rows});
  QCOMPARE(env.cancellable, QList<bool>{true});
  QVERIFY(!env.progressWindow);
  QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{saved});

  QList<QStringList> expected;
  QStringList kinds;
  QStringList titles;
  for (int k = 0; k < points.size(); ++k)
    titles << QStringLiteral("时间(秒)") << QStringLiteral("通道%1(kg)").arg(k + 1);
  expected << titles;
  kinds << QString(titles.size(), QLatin1Char('t'));
  for (int i = 0; i < rows; ++i) {
    QStringList row;
    QString kind;
    for (int k = 0; k < points.size(); ++k) {
      const bool has = i < points[k];
      row << (has ? fixed5(i * 0.25) : QString()) << (has ? fixed5(k * 1000 - i * 1.5 + kThird) : QString());
      kind += has ? QStringLiteral("nn") : QStringLiteral("--");
    }
    expected << row;
    kinds << kind;
  }
  if (ExportFormat(format) == ExportFormat::Csv) {
    const tablecheck::Csv csv = tablecheck::readCsv(path);
    QVERIFY2(csv.ok, qPrintable(csv.error));
    QVERIFY(csv.bom);
    QCOMPARE(csv.rows.size(), rows + 1);
    QVERIFY(csv.rows == expected);
    return;
  }
  const tablecheck::Xlsx book = tablecheck::readXlsx(path);
  QVERIFY2(book.ok, qPrintable(book.error));
  QCOMPARE(book.sheets.size(), 1);
  QCOMPARE(book.sheets[0].rows, rows + 1);
  QCOMPARE(book.sheets[0].grid.first(), titles);
  QVERIFY(book.sheets[0].grid == expected);
  QVERIFY(book.sheets[0].kinds == kinds);
  QCOMPARE(book.numberFormats, QStringList{"0.00000"});
  QCOMPARE(book.inexact, 0);
}

void TestExportChart::cancelledTable_data() {
  QTest::addColumn<int>("format");
  QTest::addColumn<bool>("earlierFile");
  QTest::newRow("csv") << int(ExportFormat::Csv) << false;
  QTest::newRow("xlsx") << int(ExportFormat::Xlsx) << false;
  QTest::newRow("xlsx over an earlier file") << int(ExportFormat::Xlsx) << true;
}

// Cancel in the progress window: no file, no box, the earlier file untouched.
void TestExportChart::cancelledTable() {
  QFETCH(int, format);
  QFETCH(bool, earlierFile);
  const QString name = ExportFormat(format) == ExportFormat::Csv ? QStringLiteral("c.csv") : QStringLiteral("c.xlsx");
  const QString path = m_dir->filePath(name);
  if (earlierFile) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("earlier file");
  }
  const auto chart = makeChart(20000);
  Surroundings env;
  env.typedName = path;
  env.clickCancel = true;
  ModalResponder responder({QMessageBox::Yes}); // replace the earlier file
  QVERIFY(!ExportChartData(nullptr, m_ctx, *chart, QString(), env.hooks(), ExportFormat(format)));
  QCOMPARE(texts(responder.seen), earlierFile ? QStringList{kReplace} : QStringList{});
  QVERIFY(env.opened.isEmpty());
  QCOMPARE(env.cancellable, QList<bool>{true});
  QVERIFY(!env.progressWindow);
  QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
           earlierFile ? QStringList{name} : QStringList{});
  if (earlierFile) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("earlier file"));
  }
}

void TestExportChart::failedTable_data() {
  QTest::addColumn<int>("format");
  QTest::addColumn<QString>("message");
  QTest::newRow("csv") << int(ExportFormat::Csv) << QStringLiteral("CSV文件保存失败，数据没有导出！");
  QTest::newRow("xlsx") << int(ExportFormat::Xlsx) << QStringLiteral("Excel文件保存失败，数据没有导出！");
}

void TestExportChart::failedTable() {
  QFETCH(int, format);
  QFETCH(QString, message);
  const auto chart = makeChart(10);
  Surroundings env;
  env.typedName = m_dir->filePath(QStringLiteral("missing/folder/out"));
  ModalResponder responder;
  QVERIFY(!ExportChartData(nullptr, m_ctx, *chart, QString(), env.hooks(), ExportFormat(format)));
  QCOMPARE(responder.seen.size(), size_t(1));
  QCOMPARE(responder.seen.front().caption, QStringLiteral("错误"));
  QVERIFY2(responder.seen.front().text.startsWith(message), qPrintable(responder.seen.front().text));
  QVERIFY(env.opened.isEmpty());
  QVERIFY(QDir(m_dir->path()).isEmpty());
}

QTEST_MAIN(TestExportChart)
#include "tst_export_chart.moc"
