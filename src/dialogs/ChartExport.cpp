#include "dialogs/ChartExport.h"

#include "app/AppContext.h"
#include "app/MessageBoxes.h"
#include "views/PlotChart.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

#include <algorithm>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

int PlotChartSeries::pointCount() const { return m_chart.pointCount(0); }
double PlotChartSeries::x(int i) const { return m_chart.pointX(0, i); }
double PlotChartSeries::y(int i) const { return m_chart.pointY(0, i); }
QString PlotChartSeries::xTitle() const { return m_chart.axisTitle(ChartAxis::X); }
QString PlotChartSeries::yTitle() const { return m_chart.axisTitle(ChartAxis::Y); }
bool PlotChartSeries::xDateTime() const { return m_chart.xDateTimeLabels(); }

QProgressBar *CreateExportProgressWindow(int maximum, bool cancellable) {
  auto *win = new QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint);
  win->setFixedSize(260, cancellable ? 60 : 30);
  if (cancellable) {
    auto *cancel = new QPushButton(QStringLiteral("取消"), win);
    cancel->setObjectName(QLatin1String(kProgressCancelButton));
    cancel->setGeometry(95, 32, 70, 24);
    // The export runs on this thread and lets input through for the button only.
    win->setWindowModality(Qt::ApplicationModal);
  }
  if (const QScreen *s = QGuiApplication::primaryScreen())
    win->move(s->availableGeometry().center() - win->rect().center());
  auto *bar = new QProgressBar(win);
  bar->setGeometry(5, 5, 250, 20);
  bar->setRange(0, maximum);
  bar->setTextVisible(false);
  win->show();
  return bar;
}

QString AskExportFileName(QWidget *parent, const QString &defaultName, exportlayout::ExportFormat format) {
  using exportlayout::ExportFormat;
  const QString caption = format == ExportFormat::Csv    ? QStringLiteral("导出CSV文件")
                          : format == ExportFormat::Xlsx ? QStringLiteral("导出Excel 2007文件(.xlsx)")
                                                         : QStringLiteral("导出为EXCEL");
  const QString filter = format == ExportFormat::Csv    ? QStringLiteral("CSV File(*.csv)")
                         : format == ExportFormat::Xlsx ? QStringLiteral("Excel 2007 File(*.xlsx)")
                                                        : QStringLiteral("Excel File(*.xls)");
  // The export asks about replacing a file itself, after the suffix rule has named it.
  return QFileDialog::getSaveFileName(parent, caption, defaultName, filter, nullptr,
                                      QFileDialog::DontConfirmOverwrite);
}

bool OpenExportedFile(const QUrl &file) { return QDesktopServices::openUrl(file); }

namespace {

const QString kTooManyPoints = QStringLiteral("需要导出的数据过大，Excel最大只能容纳65536行,是否还要继续？");

// The hourglass while the workbook is written, saved and handed on. It ends before any message
// box: a box under the hourglass looks as if the program were still busy.
class WaitCursor {
public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { end(); }
  WaitCursor(const WaitCursor &) = delete;
  WaitCursor &operator=(const WaitCursor &) = delete;
  void end() {
    if (m_on)
      QApplication::restoreOverrideCursor();
    m_on = false;
  }

private:
  bool m_on = true;
};

bool askYesNo(QWidget *parent, const QString &text) {
  return Msg::show(parent, QMessageBox::Question, Msg::kHint, text, QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}

// Only 65535 data rows fit under the title row; any chart with more points is asked about
// (a chart of exactly 65536 points would otherwise lose its last point without a word).
bool confirmCut(QWidget *parent, const exportlayout::ChartSeries &series) {
  return !exportlayout::PointsWouldBeCut(series.pointCount()) || askYesNo(parent, kTooManyPoints);
}

// The file to write, or nullopt when the operator cancelled (finished = true) or refused to
// replace an existing file (finished = false).
std::optional<QString> chooseFile(QWidget *parent, const QString &defaultName, const ExportHooks &hooks,
                                  exportlayout::ExportFormat format, bool *finished) {
  // Default names are made of chart titles, which may hold characters no file name can.
  const QString proposed = exportlayout::SafeFileName(defaultName);
  const QString chosen = hooks.askFileName ? hooks.askFileName(parent, proposed)
                                           : AskExportFileName(parent, proposed, format);
  if (chosen.isEmpty()) {
    *finished = true;
    return std::nullopt;
  }
  // The name rule comes before the question, so the question is about the file that will be
  // written and no file of another name is touched.
  const QString path = exportlayout::WithExportSuffix(chosen, format);
  if (QFileInfo::exists(path) && !askYesNo(parent, QStringLiteral("该文件已经存在，要覆盖吗？"))) {
    *finished = false;
    return std::nullopt;
  }
  return path;
}

// Writes one column pair's rows under a progress window.
void writeWithProgress(xls::Workbook &book, const exportlayout::ChartSeries &series, int pair,
                       const QString &dateTimeFormat, const ExportHooks &hooks) {
  const int rows = exportlayout::ExportedPointCount(series.pointCount());
  QPointer<QProgressBar> bar =
      hooks.createProgressWindow ? hooks.createProgressWindow(rows, false) : CreateExportProgressWindow(rows);
  constexpr int kRowsPerRepaint = 2048;
  exportlayout::WriteDataRows(book, series, pair, dateTimeFormat, [&bar, rows](int done) {
    if (!bar || (done % kRowsPerRepaint != 0 && done != rows))
      return;
    bar->setValue(done);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  });
  if (bar)
    delete bar->window();
}

void showSaved(QWidget *parent, const QString &path, const ExportHooks &hooks, WaitCursor &wait);

// Saves, then shows the file, and ends the wait before saying anything. A failed save is
// reported: the operator must not believe the data was exported. A saved file that no program
// could open is reported with its place, so the operator can find it.
bool saveAndShow(QWidget *parent, const xls::Workbook &book, const QString &path, const ExportHooks &hooks,
                 WaitCursor &wait) {
  QString error;
  const QString shownPath = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
  if (!book.save(path, &error)) {
    wait.end();
    Msg::error(parent, QStringLiteral("无法调用Excel！\nExcel文件保存失败，数据没有导出！\n%1\n%2").arg(shownPath, error));
    return false;
  }
  showSaved(parent, path, hooks, wait);
  return true;
}

// Shows the saved file, or says where it is when no program could open it.
void showSaved(QWidget *parent, const QString &path, const ExportHooks &hooks, WaitCursor &wait) {
  const QString shownPath = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
  const QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
  const bool shown = hooks.openFile ? hooks.openFile(url) : OpenExportedFile(url);
  wait.end();
  if (!shown)
    Msg::notice(parent, QStringLiteral("文件已保存到：\n%1\n但无法打开它。").arg(shownPath));
}

// CSV and .xlsx: every point, one row per point index, under a progress window that can cancel.
bool exportTable(QWidget *parent, const AppContext &ctx, std::span<const exportlayout::ChartSeries *const> series,
                 const QString &defaultName, const ExportHooks &hooks, exportlayout::ExportFormat format) {
  bool finished = false;
  const std::optional<QString> path = chooseFile(parent, defaultName, hooks, format, &finished);
  if (!path)
    return finished;

  WaitCursor wait;
  const qint64 rows = exportlayout::TableRowCount(series);
  const int maximum = static_cast<int>(std::min<qint64>(rows, std::numeric_limits<int>::max()));
  QPointer<QProgressBar> bar = hooks.createProgressWindow ? hooks.createProgressWindow(maximum, true)
                                                          : CreateExportProgressWindow(maximum, true);
  bool cancelled = false;
  if (bar)
    if (auto *button = bar->window()->findChild<QAbstractButton *>(QLatin1String(kProgressCancelButton)))
      QObject::connect(button, &QAbstractButton::clicked, button, [&cancelled] { cancelled = true; });
  auto progress = [&bar, &cancelled, maximum](qint64 done) {
    if (bar)
      bar->setValue(static_cast<int>(std::min<qint64>(done, maximum)));
    // All events: the modal progress window lets only its cancel button be clicked.
    QCoreApplication::processEvents();
    return !cancelled;
  };
  QString error;
  const exportlayout::WriteResult result =
      exportlayout::SaveTable(format, *path, series, ctx.options.DateTimeFormat, progress, &error);
  if (bar)
    delete bar->window();
  if (result == exportlayout::WriteResult::Cancelled)
    return false; // the operator's own choice; SaveTable left no file
  if (result == exportlayout::WriteResult::Failed) {
    wait.end();
    const QString shownPath = QDir::toNativeSeparators(QFileInfo(*path).absoluteFilePath());
    const QString what = format == exportlayout::ExportFormat::Csv ? QStringLiteral("CSV") : QStringLiteral("Excel");
    Msg::error(parent, QStringLiteral("%1文件保存失败，数据没有导出！\n%2\n%3").arg(what, shownPath, error));
    return false;
  }
  showSaved(parent, *path, hooks, wait);
  return true;
}

} // namespace

bool ExportChartData(QWidget *parent, const AppContext &ctx, const PlotChart &chart, const QString &defaultName,
                     const ExportHooks &hooks, exportlayout::ExportFormat format) {
  const PlotChartSeries series(chart);
  if (format != exportlayout::ExportFormat::Xls) {
    const exportlayout::ChartSeries *one[] = {&series};
    return exportTable(parent, ctx, one, defaultName, hooks, format);
  }
  if (!confirmCut(parent, series))
    return false;
  bool finished = false;
  const std::optional<QString> path = chooseFile(parent, defaultName, hooks, format, &finished);
  if (!path)
    return finished;

  WaitCursor wait;
  xls::Workbook book;
  exportlayout::WriteTitleRow(book, series, 0);
  writeWithProgress(book, series, 0, ctx.options.DateTimeFormat, hooks);
  return saveAndShow(parent, book, *path, hooks, wait);
}

bool ExportAllChannelData(QWidget *parent, const AppContext &ctx, std::span<const PlotChart *const> charts,
                          const QString &defaultName, const ExportHooks &hooks,
                          exportlayout::ExportFormat format) {
  if (charts.empty()) {
    Msg::show(parent, QMessageBox::Question, Msg::kError, QStringLiteral("没有数据！"), QMessageBox::Ok);
    return false;
  }
  std::vector<std::unique_ptr<PlotChartSeries>> series;
  for (const PlotChart *chart : charts)
    series.push_back(chart ? std::make_unique<PlotChartSeries>(*chart) : nullptr);
  if (format != exportlayout::ExportFormat::Xls) {
    std::vector<const exportlayout::ChartSeries *> pointers;
    for (const auto &s : series)
      pointers.push_back(s.get());
    return exportTable(parent, ctx, pointers, defaultName, hooks, format);
  }
  for (const auto &s : series)
    if (s && !confirmCut(parent, *s))
      return false;
  bool finished = false;
  const std::optional<QString> path = chooseFile(parent, defaultName, hooks, format, &finished);
  if (!path)
    return finished;

  WaitCursor wait;
  xls::Workbook book;
  for (size_t c = 0; c < series.size(); ++c)
    if (series[c])
      exportlayout::WriteTitleRow(book, *series[c], static_cast<int>(c));
  for (size_t c = 0; c < series.size(); ++c)
    if (series[c])
      writeWithProgress(book, *series[c], static_cast<int>(c), ctx.options.DateTimeFormat, hooks);
  return saveAndShow(parent, book, *path, hooks, wait);
}
