// Statistics between two markers over a file-backed store of 100 million samples: a recording
// of one channel (x in ms, 1 kHz, readings of 1000 ± 0.001) is written with the program's own
// writer into a temporary folder, opened as a store as an open recording is, and queried over
// spans of 100 M, 10 M, 1 M and 1000 samples at random ends.
#include "acquisition/DataFile.h"
#include "acquisition/DataFileWriter.h"
#include "store/SampleStore.h"
#include "store/SpanStatistics.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

double msSince(const QElapsedTimer &t) { return double(t.nsecsElapsed()) / 1e6; }

bool writeRecording(const QString &path, qint64 samples) {
  DataFileWriter writer;
  if (!writer.open(path) || !writer.writeHead({{1, QStringLiteral("通道1"), QStringLiteral("kg"), 0, 2000, 1, 0}})) {
    std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(path), qPrintable(writer.errorString()));
    return false;
  }
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> u(-0.001, 0.001);
  std::vector<TSampleRecord> pass;
  constexpr qint64 kPass = 1 << 16;
  pass.reserve(kPass);
  for (qint64 k = 0; k < samples; k += kPass) {
    pass.clear();
    for (qint64 i = k; i < std::min(samples, k + kPass); ++i)
      pass.push_back({0, 1000 + u(rng) + 1e-9 * double(i), double(i)});
    if (!writer.append(pass)) {
      std::fprintf(stderr, "write failed: %s\n", qPrintable(writer.errorString()));
      return false;
    }
  }
  return writer.close();
}

struct Timing {
  double median = 0;
  double worst = 0;
};

Timing timeQueries(const SampleStore &s, qint64 span, int queries, std::mt19937_64 &rng) {
  std::vector<double> ms;
  const qint64 n = s.count();
  std::uniform_int_distribution<qint64> start(0, std::max<qint64>(0, n - span));
  std::uniform_real_distribution<double> frac(0.0, 1.0);
  double sink = 0;
  for (int q = 0; q < queries; ++q) {
    const qint64 b = start(rng);
    // Ends between samples, so both ends are partial blocks.
    const double xA = s.x(b) + frac(rng) * 0.999;
    const double xB = s.x(std::min(n - 1, b + span - 1)) + frac(rng) * 0.999;
    QElapsedTimer t;
    t.start();
    const SpanStatistics st = ComputeSpanStatistics(s, (q % 2) ? xB : xA, (q % 2) ? xA : xB);
    ms.push_back(msSince(t));
    sink += st.mean + st.stdDev + st.slope + double(st.count);
  }
  std::sort(ms.begin(), ms.end());
  if (sink == 42.4242)
    std::puts("");
  return {ms[ms.size() / 2], ms.back()};
}

} // namespace

int main(int argc, char **argv) {
  qint64 samples = 100'000'000;
  int queries = 20;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--samples") == 0)
      samples = std::atoll(argv[i + 1]);
    else if (std::strcmp(argv[i], "--queries") == 0)
      queries = std::atoi(argv[i + 1]);
  }
  QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/bench_measure-XXXXXX"));
  const QString path = dir.filePath(QStringLiteral("measure.zvdat"));
  const qint64 bytes = DataFileFormat::channelRecordOffset(1) + samples * DataFileFormat::kSampleSize;
  if (QStorageInfo(dir.path()).bytesAvailable() < bytes + (1 << 28)) {
    std::fprintf(stderr, "not enough space in %s for %lld bytes\n", qPrintable(dir.path()), (long long)bytes);
    return 1;
  }
  QElapsedTimer t;
  t.start();
  if (!writeRecording(path, samples))
    return 1;
  std::printf("recording of %lld samples (1 channel, x in ms, 1000 ± 0.001) written by DataFileWriter: %lld bytes, %.0f ms\n",
              (long long)samples, (long long)QFile(path).size(), msSince(t));
  t.restart();
  const auto stores = BuildStores(path);
  if (stores.size() != 1) {
    std::fprintf(stderr, "cannot open %s as a store\n", qPrintable(path));
    return 1;
  }
  const SampleStore &s = *stores[0];
  std::printf("file-backed store built in %.0f ms: %lld samples, %lld bytes in memory (%.3f bytes a sample, block cache included)\n",
              msSince(t), (long long)s.count(), (long long)s.memoryBytes(), double(s.memoryBytes()) / double(s.count()));
  std::printf("statistics between two random ends (ComputeSpanStatistics), %d queries each, file in the page cache\n", queries);
  std::printf("%14s  %12s  %12s\n", "span samples", "median ms", "worst ms");
  std::mt19937_64 rng(7);
  for (const qint64 span : {samples, qint64(10'000'000), qint64(1'000'000), qint64(1000)}) {
    if (span > samples)
      continue;
    const Timing t = timeQueries(s, span, queries, rng);
    std::printf("%14lld  %12.3f  %12.3f\n", (long long)span, t.median, t.worst);
  }
  const SpanStatistics all = ComputeSpanStatistics(s, s.x(0), s.x(s.count() - 1));
  std::printf("whole record: count %lld, mean %.9f, std %.9f, slope %.6g per ms\n", (long long)all.count, all.mean,
              all.stdDev, all.slope);
  return 0;
}
