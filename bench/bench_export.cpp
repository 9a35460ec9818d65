// Spreadsheet export of a full sheet: 10 channels of 65535 points each (20 columns) laid out
// and saved as .xls. Prints the time of each step.
#include "dialogs/ExportLayout.h"
#include "dialogs/XlsWriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

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
  return 0;
}
