#include "acquisition/DataFile.h"
#include "acquisition/SampleRecord.h"
#include "store/SampleStore.h"
#include "store/SpanStatistics.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Points {
  std::vector<double> x;
  std::vector<double> y;
};

enum class Data : int { Spiky = 0, DayOfMs = 1 };

// Spiky: times in ms with repeats and jumps, values with spikes. DayOfMs: the last n ms of a
// day (x near 1e8) at 1 kHz, readings of 1000 ± 0.001 on a slow drift.
Points makePoints(qint64 n, unsigned seed, double gapShare, Data kind) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0, 1);
  Points p;
  double t = kind == Data::DayOfMs ? 86'400'000.0 - static_cast<double>(n) : 0;
  for (qint64 i = 0; i < n; ++i) {
    const double r = u(rng);
    if (kind == Data::DayOfMs) {
      t += 1;
      p.x.push_back(t);
      const double y = 1000 + 0.001 * (u(rng) - 0.5) + 2e-9 * static_cast<double>(i);
      p.y.push_back(u(rng) < gapShare ? kNaN : y);
    } else {
      t += r < 0.05 ? 0 : r < 0.07 ? 500 : 10;
      p.x.push_back(t);
      const double y = std::sin(static_cast<double>(i) * 0.01) * 100 + (u(rng) < 0.01 ? 1e6 * u(rng) : u(rng));
      p.y.push_back(u(rng) < gapShare ? kNaN : y);
    }
  }
  return p;
}

// Two passes in long double over the samples with x in [lo, hi] among the first n.
SpanStatistics brute(const Points &p, double xA, double xB, qint64 limit) {
  const double lo = std::min(xA, xB);
  const double hi = std::max(xA, xB);
  const size_t n = limit < 0 ? p.x.size() : std::min(p.x.size(), static_cast<size_t>(limit));
  std::vector<size_t> in;
  SpanStatistics s;
  for (size_t i = 0; i < n; ++i) {
    if (p.x[i] < lo || p.x[i] > hi)
      continue;
    if (std::isnan(p.y[i])) {
      ++s.gaps;
      continue;
    }
    in.push_back(i);
  }
  s.count = static_cast<qint64>(in.size());
  s.slope = kNaN;
  if (in.empty())
    return s;
  long double mx = 0, my = 0;
  s.min = s.max = p.y[in[0]];
  for (size_t i : in) {
    mx += p.x[i];
    my += p.y[i];
    s.min = std::min(s.min, p.y[i]);
    s.max = std::max(s.max, p.y[i]);
  }
  mx /= in.size();
  my /= in.size();
  long double sxx = 0, syy = 0, sxy = 0;
  for (size_t i : in) {
    const long double dx = p.x[i] - mx;
    const long double dy = p.y[i] - my;
    sxx += dx * dx;
    syy += dy * dy;
    sxy += dx * dy;
  }
  s.mean = static_cast<double>(my);
  s.stdDev = static_cast<double>(std::sqrt(syy / in.size()));
  if (in.size() >= 2 && sxx > 0)
    s.slope = static_cast<double>(sxy / sxx);
  return s;
}

QString writeRecording(const QString &dir, const std::vector<Points> &perChannel) {
  const QString path = dir + QStringLiteral("/rec.zvdat");
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly))
    return {};
  const int channels = static_cast<int>(perChannel.size());
  f.write(EncodeFileHead(channels));
  for (int c = 0; c < channels; ++c)
    f.write(EncodeChannelRecord(c + 1, {}));
  const size_t n = perChannel.front().x.size();
  for (size_t i = 0; i < n; ++i) {
    for (int c = 0; c < channels; ++c) {
      const Points &p = perChannel[static_cast<size_t>(c)];
      const TSampleRecord r{c, p.y[i], p.x[i]};
      f.write(reinterpret_cast<const char *>(&r), sizeof r);
    }
  }
  return path;
}

bool near(double got, double want, double tolerance) {
  return std::abs(got - want) <= tolerance;
}

} // namespace

class TestSpanStatistics : public QObject {
  Q_OBJECT
private slots:
  void matchesBruteForce_data();
  void matchesBruteForce();
  void stillAccurateFarFromZero_data();
  void stillAccurateFarFromZero();
};

void TestSpanStatistics::matchesBruteForce_data() {
  QTest::addColumn<bool>("file");
  QTest::addColumn<qint64>("n");
  QTest::addColumn<double>("gapShare");
  QTest::addColumn<qint64>("first"); // the span runs from the x of sample `first`
  QTest::addColumn<qint64>("last");  // to the x of sample `last`; -1: an x between samples
  QTest::addColumn<qint64>("limit");
  constexpr qint64 B = SampleStore::kBlock;
  constexpr qint64 N1 = SampleStore::kBlock * SampleStore::kFanout;
  constexpr qint64 n = N1 * SampleStore::kFanout + 3 * N1 + 77; // three levels and a tail
  for (const bool file : {false, true}) {
    const char *k = file ? "file" : "memory";
    auto row = [&](const char *name, double gaps, qint64 first, qint64 last, qint64 limit) {
      QTest::addRow("%s: %s", k, name) << file << n << gaps << first << last << limit;
    };
    row("inside one block", 0.0, B + 10, B + 200, -1);
    row("one sample", 0.0, 3 * B + 7, 3 * B + 7, -1);
    row("empty, between two samples", 0.0, 5 * B + 3, -1, -1);
    row("across two blocks", 0.0, B - 20, B + 30, -1);
    row("across many blocks", 0.01, 2 * B + 5, 9 * B + 100, -1);
    row("across level-1 nodes", 0.01, N1 - 300, 5 * N1 + 17, -1);
    row("across level-2 nodes", 0.02, 100, n - 100, -1);
    row("whole store", 0.0, 0, n - 1, -1);
    row("reversed ends", 0.01, 6 * N1 + 40, 2 * N1 + 9, -1);
    row("many gaps", 0.4, 700, 3 * N1 + 5, -1);
    row("only gaps", 1.0, 100, 2 * N1, -1);
    row("into the tail", 0.01, n - 2 * B, n - 1, -1);
    row("snapshot limit cuts the span", 0.01, N1, 8 * N1, 5 * N1 + 33);
    row("snapshot limit before the span", 0.0, 6 * N1, 7 * N1, 2 * N1);
  }
  QTest::addRow("memory: one block only") << false << qint64(100) << 0.1 << qint64(3) << qint64(90) << qint64(-1);
  QTest::addRow("memory: empty store") << false << qint64(0) << 0.0 << qint64(0) << qint64(0) << qint64(-1);
}

void TestSpanStatistics::matchesBruteForce() {
  QFETCH(bool, file);
  QFETCH(qint64, n);
  QFETCH(double, gapShare);
  QFETCH(qint64, first);
  QFETCH(qint64, last);
  QFETCH(qint64, limit);
  const Points p = makePoints(n, static_cast<unsigned>(n + first), gapShare, Data::Spiky);
  QTemporaryDir dir;
  std::shared_ptr<SampleStore> store;
  if (file) {
    // A second channel in between, so the channel's records are not contiguous.
    const auto stores = BuildStores(writeRecording(dir.path(), {makePoints(n, 99, 0.1, Data::Spiky), p}));
    QCOMPARE(stores.size(), size_t(2));
    store = stores[1];
    QVERIFY(store->fileBacked());
  } else {
    store = std::make_shared<SampleStore>();
    for (qint64 i = 0; i < n; ++i)
      store->append(p.x[static_cast<size_t>(i)], p.y[static_cast<size_t>(i)]);
  }
  double xA = 5;
  double xB = 6;
  if (n > 0) {
    xA = p.x[static_cast<size_t>(first)];
    // Between sample `first` and the next: the times step by 0, 10 or 500 ms.
    xB = last < 0 ? xA + 3 : p.x[static_cast<size_t>(last)];
    if (last < 0)
      xA += 1;
  }
  const SpanStatistics want = brute(p, xA, xB, limit);
  const SpanStatistics got = ComputeSpanStatistics(*store, xA, xB, limit);
  QCOMPARE(got.count, want.count);
  QCOMPARE(got.gaps, want.gaps);
  QCOMPARE(got.hasValue(), want.hasValue());
  if (QByteArray(QTest::currentDataTag()).contains("empty") || QByteArray(QTest::currentDataTag()).contains("before"))
    QCOMPARE(want.count + want.gaps, 0); // the row tests what it says
  if (!want.hasValue()) {
    QVERIFY(std::isnan(got.slope));
    return;
  }
  QCOMPARE(got.min, want.min);
  QCOMPARE(got.max, want.max);
  const double scale = std::max(std::abs(want.min), std::abs(want.max));
  QVERIFY2(near(got.mean, want.mean, 1e-12 * scale), qPrintable(QString::number(got.mean - want.mean)));
  QVERIFY2(near(got.stdDev, want.stdDev, 1e-10 * scale), qPrintable(QString::number(got.stdDev - want.stdDev)));
  QCOMPARE(std::isnan(got.slope), std::isnan(want.slope));
  if (!std::isnan(want.slope))
    QVERIFY2(near(got.slope, want.slope, 1e-9 * std::abs(want.slope) + 1e-12 * scale),
             qPrintable(QString::number(got.slope - want.slope)));
}

void TestSpanStatistics::stillAccurateFarFromZero_data() {
  QTest::addColumn<bool>("file");
  QTest::addColumn<qint64>("first");
  QTest::addColumn<qint64>("last");
  constexpr qint64 n = 300'000;
  for (const bool file : {false, true}) {
    const char *k = file ? "file" : "memory";
    QTest::addRow("%s: the whole record", k) << file << qint64(0) << n - 1;
    QTest::addRow("%s: a second", k) << file << n - 2000 << n - 1001;
    QTest::addRow("%s: inside a block", k) << file << qint64(70'001) << qint64(70'200);
    QTest::addRow("%s: a minute", k) << file << qint64(12'345) << qint64(72'344);
  }
}

// Readings of 1000 ± 0.001 at the end of a day of milliseconds: mean, deviation and slope
// keep their digits (sums of squares would lose them).
void TestSpanStatistics::stillAccurateFarFromZero() {
  QFETCH(bool, file);
  QFETCH(qint64, first);
  QFETCH(qint64, last);
  constexpr qint64 n = 300'000;
  const Points p = makePoints(n, 11, 0.001, Data::DayOfMs);
  QTemporaryDir dir;
  std::shared_ptr<SampleStore> store;
  if (file) {
    store = BuildStores(writeRecording(dir.path(), {p})).at(0);
  } else {
    store = std::make_shared<SampleStore>();
    store->append(p.x.data(), p.y.data(), n);
  }
  const double xA = p.x[static_cast<size_t>(first)];
  const double xB = p.x[static_cast<size_t>(last)];
  const SpanStatistics want = brute(p, xA, xB, -1);
  const SpanStatistics got = ComputeSpanStatistics(*store, xA, xB);
  QCOMPARE(got.count, want.count);
  QVERIFY(want.stdDev > 1e-4 && want.stdDev < 1e-3);
  QVERIFY2(near(got.mean, want.mean, 1e-11), qPrintable(QString::number(got.mean - want.mean, 'g', 17)));
  QVERIFY2(near(got.stdDev, want.stdDev, 1e-7 * want.stdDev), qPrintable(QString::number(got.stdDev / want.stdDev - 1)));
  QVERIFY2(near(got.slope, want.slope, 1e-6 * std::abs(want.slope) + 1e-14),
           qPrintable(QString::number(got.slope, 'g', 17) + " " + QString::number(want.slope, 'g', 17)));
}

QTEST_GUILESS_MAIN(TestSpanStatistics)
#include "tst_spanstatistics.moc"
