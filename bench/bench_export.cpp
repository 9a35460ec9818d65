// Spreadsheet export of a full sheet: 10 channels of 65535 points each (20 columns) laid out
// and saved as .xls. Then whole recordings: 10 channels of 1 000 000 points as CSV and .xlsx.
// Prints the time of each step and the memory the exports add.
#include "ProcessMemory.h"
#include "dialogs/ExportLayout.h"
#include "dialogs/TableExport.h"
#include "dialogs/XlsWriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

// Points made when asked, like a store that reads them back from the recording file: what the
// table exports add to memory is then their own.
class GeneratedSeries final : public exportlayout::ChartSeries {
public:
  GeneratedSeries(int channel, int points) : m_channel(channel), m_points(points) {}
  [[nodiscard]] int pointCount() const override { return m_points; }
  [[nodiscard]] double x(int i) const override { return i * 0.1 + m_channel * 0.013; }
  [[nodiscard]] double y(int i) const override { return 1000.0 * std::sin(i * 0.001 * (m_channel + 1)); }
  [[nodiscard]] QString xTitle() const override { return QStringLiteral("时间(秒)"); }
  [[nodiscard]] QString yTitle() const override { return QStringLiteral("通道%1").arg(m_channel + 1); }
  [[nodiscard]] bool xDateTime() const override { return false; }

private:
  int m_channel;
  int m_points;
};

int benchTable(const QString &dir, exportlayout::ExportFormat format, const char *name) {
  constexpr int kChannels = 10;
  constexpr int kPoints = 1000000;
  std::vector<GeneratedSeries> channels;
  for (int c = 0; c < kChannels; ++c)
    channels.emplace_back(c, kPoints);
  std::vector<const exportlayout::ChartSeries *> pointers;
  for (const auto &s : channels)
    pointers.push_back(&s);
  const QString path = dir + QStringLiteral("/bench.") + QLatin1String(name);
  const bool peakReset = ProcessMemory::resetPeak();
  const ProcessMemory before = ProcessMemory::now();
  const std::clock_t cpuStart = std::clock();
  QElapsedTimer timer;
  timer.start();
  QString error;
  const auto result = exportlayout::SaveTable(format, path, pointers, QString(), {}, &error);
  const qint64 ms = timer.elapsed();
  const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  const ProcessMemory after = ProcessMemory::now();
  if (result != exportlayout::WriteResult::Done) {
    std::fprintf(stderr, "%s export failed: %s\n", name, qPrintable(error));
    return 1;
  }
  std::printf("%s %d channels x %d points: %lld ms wall, %.0f ms CPU; file %lld bytes\n", name, kChannels, kPoints,
              static_cast<long long>(ms), cpuMs, static_cast<long long>(QFileInfo(path).size()));
  std::printf("  memory: VmHWM %.1f -> %.1f MiB (%+.1f MiB%s), VmRSS %.1f -> %.1f MiB (%+.1f MiB)\n",
              Mib(before.hwmKb), Mib(after.hwmKb), Mib(after.hwmKb - before.hwmKb),
              peakReset ? "" : ", peak not reset", Mib(before.rssKb), Mib(after.rssKb),
              Mib(after.rssKb - before.rssKb));
  QFile::remove(path);
  return 0;
}

} // namespace

int main(int argc, char *argv[]) {
  QCoreApplication app(argc, argv);
  constexpr int kChannels = 10;
  constexpr int kPoints = exportlayout::kDataRows;

  std::vector<exportlayout::SeriesData> channels(kChannels);
  for (int c = 0; c < kChannels; ++c) {
    auto &s = channels[static_cast<size_t>(c)];
    s.xAxisTitle = QStringLiteral("时间(秒)");
    s.yAxisTitle = QStringLiteral("通道%1").arg(c + 1);
    s.xs.reserve(kPoints);
    s.ys.reserve(kPoints);
    for (int i = 0; i < kPoints; ++i) {
      s.xs.append(i * 0.1 + c * 0.013);
      s.ys.append(1000.0 * std::sin(i * 0.001 * (c + 1)));
    }
  }
  std::vector<const exportlayout::ChartSeries *> pointers;
  for (const auto &s : channels)
    pointers.push_back(&s);

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("bench.xls"));
  const std::clock_t cpuStart = std::clock();
  QElapsedTimer total;
  total.start();
  QElapsedTimer step;
  step.start();
  xls::Workbook book;
  exportlayout::LayoutAllChannelsSheet(book, pointers, QStringLiteral("hh:nn:ss"));
  const qint64 layoutMs = step.restart();
  QString error;
  if (!book.save(path, &error)) {
    std::fprintf(stderr, "save failed: %s\n", qPrintable(error));
    return 1;
  }
  const qint64 saveMs = step.elapsed();
  std::printf("export %d channels x %d points: %lld cells, %lld distinct texts\n", kChannels, kPoints,
              static_cast<long long>(book.cellCount()), static_cast<long long>(book.uniqueTextCount()));
  const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  std::printf("  layout %lld ms, save %lld ms, total %lld ms wall, %.0f ms CPU; file %lld bytes\n",
              static_cast<long long>(layoutMs), static_cast<long long>(saveMs), static_cast<long long>(total.elapsed()),
              cpuMs, static_cast<long long>(QFileInfo(path).size()));
  book = xls::Workbook();
  channels.clear();
  channels.shrink_to_fit();

  if (benchTable(dir.path(), exportlayout::ExportFormat::Csv, "csv") != 0 ||
      benchTable(dir.path(), exportlayout::ExportFormat::Xlsx, "xlsx") != 0)
    return 1;
  return 0;
}
