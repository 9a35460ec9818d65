#include "acquisition/DataFile.h"
#include "acquisition/SampleRecord.h"
#include "store/SampleStore.h"

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

// Times in ms with repeats and jumps, values with spikes and gaps.
Points makePoints(qint64 n, unsigned seed, double gapShare) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0, 1);
  Points p;
  double t = 0;
  for (qint64 i = 0; i < n; ++i) {
    const double r = u(rng);
    t += r < 0.05 ? 0 : r < 0.07 ? 500 : 10;
    p.x.push_back(t);
    p.y.push_back(u(rng) < gapShare ? kNaN : std::sin(i * 0.01) * 100 + (u(rng) < 0.01 ? 1e6 * u(rng) : u(rng)));
  }
  return p;
}

SampleStore::Stats bruteStats(const Points &p, qint64 b, qint64 e) {
  SampleStore::Stats s;
  for (qint64 i = b; i < e; ++i)
    s.add(p.x[static_cast<size_t>(i)], p.y[static_cast<size_t>(i)]);
  return s;
}

qint64 bruteLowerBound(const Points &p, double x) {
  return std::lower_bound(p.x.begin(), p.x.end(), x) - p.x.begin();
}

// Writes a recording of `channels` channels whose samples are dealt out round robin, channel
// c writing perRound[c] records a round (c + 1 when not given).
QString writeRecording(const QString &dir, const std::vector<Points> &perChannel, qint64 trailingBytes,
                       const std::vector<int> &perRound = {}) {
  const QString path = dir + QStringLiteral("/rec.zvdat");
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly))
    return {};
  const int channels = static_cast<int>(perChannel.size());
  f.write(EncodeFileHead(channels));
  for (int c = 0; c < channels; ++c)
    f.write(EncodeChannelRecord(c + 1, {}));
  std::vector<size_t> next(perChannel.size(), 0);
  for (bool any = true; any;) {
    any = false;
    for (int c = 0; c < channels; ++c) {
      const Points &p = perChannel[static_cast<size_t>(c)];
      const int share = perRound.empty() ? c + 1 : perRound[static_cast<size_t>(c)];
      for (int k = 0; k < share && next[static_cast<size_t>(c)] < p.x.size(); ++k) {
        const size_t i = next[static_cast<size_t>(c)]++;
        const TSampleRecord r{c, p.y[i], p.x[i]};
        f.write(reinterpret_cast<const char *>(&r), sizeof r);
        any = true;
      }
    }
  }
  f.write(QByteArray(trailingBytes, '\x5a'));
  return path;
}

void compareWithPoints(const SampleStore &s, const Points &p) {
  QCOMPARE(s.count(), static_cast<qint64>(p.x.size()));
  for (size_t i = 0; i < p.x.size(); ++i) {
    QCOMPARE(s.x(static_cast<qint64>(i)), p.x[i]);
    const double y = s.y(static_cast<qint64>(i));
    if (std::isnan(p.y[i]))
      QVERIFY2(std::isnan(y), qPrintable(QString::number(i)));
    else
      QCOMPARE(y, p.y[i]); // the exact 64-bit value
  }
  QVERIFY(std::isnan(s.y(-1)));
  QVERIFY(std::isnan(s.x(s.count())));
}

void compareStats(const SampleStore::Stats &got, const SampleStore::Stats &want) {
  QCOMPARE(got.count, want.count);
  QCOMPARE(got.gaps, want.gaps);
  QCOMPARE(got.hasValue(), want.hasValue());
  if (want.hasValue()) {
    QCOMPARE(got.min, want.min);
    QCOMPARE(got.max, want.max);
    QVERIFY(std::abs(got.meanY - want.meanY) <= 1e-9 * std::max({1.0, std::abs(want.min), std::abs(want.max)}));
  }
}

void compareSpans(const SampleStore &s, const Points &p, double x0, double x1, int columns) {
  const auto spans = s.spans(x0, x1, columns);
  if (p.x.empty() || !(x1 > x0)) {
    QVERIFY(spans.empty());
    return;
  }
  QCOMPARE(static_cast<int>(spans.size()), columns);
  const double w = (x1 - x0) / columns;
  for (int c = 0; c < columns; ++c) {
    const qint64 b = bruteLowerBound(p, x0 + w * c);
    const qint64 e = std::max(b, bruteLowerBound(p, c + 1 == columns ? x1 : x0 + w * (c + 1)));
    const auto &span = spans[static_cast<size_t>(c)];
    QCOMPARE(span.begin, b);
    QCOMPARE(span.end, e);
    compareStats(span.stats, bruteStats(p, b, e));
  }
}

// Spans with their edges on block boundaries: each edge within a block of the exact one,
// on a boundary where the samples are summed from whole blocks, and the extremes exact.
void compareSnappedSpans(const SampleStore &s, const Points &p, double x0, double x1, int columns) {
  const auto spans = s.spans(x0, x1, columns, -1, true);
  if (p.x.empty() || !(x1 > x0)) {
    QVERIFY(spans.empty());
    return;
  }
  QCOMPARE(static_cast<int>(spans.size()), columns);
  const qint64 k = SampleStore::kBlock;
  const qint64 n = static_cast<qint64>(p.x.size());
  const qint64 wholeBlocksInView = bruteLowerBound(p, x1) / k - bruteLowerBound(p, x0) / k;
  const double w = (x1 - x0) / columns;
  qint64 aligned = 0;
  for (int c = 0; c < columns; ++c) {
    const auto &span = spans[static_cast<size_t>(c)];
    const qint64 exact = bruteLowerBound(p, x0 + w * c);
    // Less than a block off, or with wide columns less than half a column's samples.
    const qint64 room = std::max(k, (bruteLowerBound(p, x1) - bruteLowerBound(p, x0)) / columns / 2);
    QVERIFY2(std::abs(span.begin - exact) <= room,
             qPrintable(QStringLiteral("column %1: %2 for %3").arg(c).arg(span.begin).arg(exact)));
    if (c > 0)
      QCOMPARE(span.begin, spans[static_cast<size_t>(c - 1)].end);
    compareStats(span.stats, bruteStats(p, span.begin, span.end));
    aligned += span.begin % k == 0 || span.begin >= n / k * k ? 1 : 0;
  }
  // Wide columns: every edge in a whole block sits on a boundary.
  if (wholeBlocksInView >= 2 * columns)
    QCOMPARE(aligned, qint64(columns));
}

} // namespace

class TestSampleStore : public QObject {
  Q_OBJECT
private slots:
  void memoryStoreMatchesPoints_data();
  void memoryStoreMatchesPoints();
  void fileStoreMatchesPoints_data();
  void fileStoreMatchesPoints();
  void outOfOrderPointsAreSortedIn();
  void extremesSkipGaps();
  void summariesStayUnderHalfAByteASample();
  void clearEmptiesTheStore();
};

void TestSampleStore::memoryStoreMatchesPoints_data() {
  QTest::addColumn<qint64>("n");
  QTest::addColumn<double>("gapShare");
  QTest::addColumn<int>("columns");
  QTest::newRow("empty") << qint64(0) << 0.0 << 10;
  QTest::newRow("one") << qint64(1) << 0.0 << 3;
  QTest::newRow("one gap") << qint64(1) << 1.0 << 3;
  QTest::newRow("a block less one") << qint64(SampleStore::kBlock - 1) << 0.1 << 7;
  QTest::newRow("a block") << qint64(SampleStore::kBlock) << 0.1 << 300;
  QTest::newRow("a block and one") << qint64(SampleStore::kBlock + 1) << 0.1 << 1;
  QTest::newRow("two levels") << qint64(SampleStore::kBlock * SampleStore::kFanout * 3 + 17) << 0.02 << 113;
  QTest::newRow("three levels, all gaps") << qint64(SampleStore::kBlock * SampleStore::kFanout * SampleStore::kFanout + 5)
                                          << 1.0 << 50;
  QTest::newRow("three levels, wide") << qint64(SampleStore::kBlock * SampleStore::kFanout * SampleStore::kFanout * 2 + 999)
                                      << 0.001 << 1200;
  // The summaries grow by chunks: searches and sums across a chunk's end.
  QTest::newRow("past a chunk of summaries") << qint64(SampleStore::kBlock * (ChunkedArray<double>::kChunk + 300) + 3)
                                             << 0.01 << 1500;
}

void TestSampleStore::memoryStoreMatchesPoints() {
  QFETCH(qint64, n);
  QFETCH(double, gapShare);
  QFETCH(int, columns);
  const Points p = makePoints(n, static_cast<unsigned>(n), gapShare);
  SampleStore s;
  // Half point by point, half in one batch.
  const size_t half = p.x.size() / 2;
  for (size_t i = 0; i < half; ++i)
    s.append(p.x[i], p.y[i]);
  s.append(p.x.data() + half, p.y.data() + half, static_cast<qint64>(p.x.size() - half));
  compareWithPoints(s, p);
  if (n == 0) {
    QVERIFY(!s.minX() && !s.maxY());
    QVERIFY(s.spans(0, 1, columns).empty());
    return;
  }
  const double first = p.x.front();
  const double last = p.x.back();
  const double whole = last - first + 1;
  // Whole record, a tenth, a column a few samples wide, less than a sample per column, and
  // a window beside the data.
  compareSpans(s, p, first, last + 1, columns);
  compareSpans(s, p, first + whole * 0.45, first + whole * 0.55, columns);
  compareSpans(s, p, first + whole / 3, first + whole / 3 + 10.0 * columns * 3, columns);
  compareSpans(s, p, first + whole / 2, first + whole / 2 + columns, columns);
  compareSpans(s, p, last + 100, last + 200, columns);
  compareSpans(s, p, first - 200, first - 100, columns);
  compareSnappedSpans(s, p, first, last + 1, columns);
  compareSnappedSpans(s, p, first + whole / 3, first + whole / 3 + 10.0 * columns * 3, columns);
  for (const double x : {first - 1, first, first + 5, (first + last) / 2, last, last + 1})
    QCOMPARE(s.lowerBound(x), bruteLowerBound(p, x));
  compareStats(s.stats(0, n), bruteStats(p, 0, n));
  compareStats(s.stats(n / 3, n - n / 4), bruteStats(p, n / 3, n - n / 4));
}

void TestSampleStore::fileStoreMatchesPoints_data() {
  QTest::addColumn<int>("channels");
  QTest::addColumn<qint64>("n");
  QTest::addColumn<qint64>("trailingBytes");
  QTest::newRow("one channel") << 1 << qint64(5000) << qint64(0);
  QTest::newRow("three channels, uneven") << 3 << qint64(SampleStore::kBlock * SampleStore::kFanout * 2 + 3)
                                          << qint64(0);
  QTest::newRow("cut off in a record") << 2 << qint64(SampleStore::kBlock * 40 + 1) << qint64(13);
  // Channel 0 writes one record in 41: its blocks spread over more records than one read.
  QTest::newRow("a sparse channel") << -2 << qint64(SampleStore::kBlock * 12 + 5) << qint64(0);
}

void TestSampleStore::fileStoreMatchesPoints() {
  QFETCH(int, channels);
  QFETCH(qint64, n);
  QFETCH(qint64, trailingBytes);
  QTemporaryDir dir;
  std::vector<Points> points;
  std::vector<int> perRound;
  if (channels < 0) {
    channels = -channels;
    perRound = {1, 40};
    points = {makePoints(n, 7u, 0.01), makePoints(n * 40, 8u, 0.01)};
  } else {
    for (int c = 0; c < channels; ++c)
      points.push_back(makePoints(n - c * 101, 7u + static_cast<unsigned>(c), 0.01));
  }
  const QString path = writeRecording(dir.path(), points, trailingBytes, perRound);
  const auto stores = BuildStores(path);
  QCOMPARE(static_cast<int>(stores.size()), channels);
  for (int c = 0; c < channels; ++c) {
    const SampleStore &s = *stores[static_cast<size_t>(c)];
    const Points &p = points[static_cast<size_t>(c)];
    QVERIFY(s.fileBacked());
    compareWithPoints(s, p);
    const double first = p.x.front();
    const double last = p.x.back();
    compareSpans(s, p, first, last + 1, 400);
    compareSpans(s, p, (first + last) / 2, (first + last) / 2 + 2000, 100);
    compareSnappedSpans(s, p, first, last + 1, 7);
    compareSnappedSpans(s, p, first, last + 1, 400);
    // Raw blocks are not kept: the cache stays bounded however long the record.
    QVERIFY(s.memoryBytes() < qint64(SampleStore::kCachedBlocks + 4) * 2 * 8 * SampleStore::kBlock +
                                  n / SampleStore::kBlock * 200);
  }
  QVERIFY(BuildStores(dir.path() + QStringLiteral("/missing.zvdat")).empty());
}

void TestSampleStore::outOfOrderPointsAreSortedIn() {
  SampleStore s;
  s.append(10, 1);
  s.append(30, 3);
  s.append(20, 2);
  s.append(20, 2.5); // after the equal x already there
  const std::vector<double> xs{5, 40, 0};
  const std::vector<double> ys{0.5, 4, 0};
  s.append(xs.data(), ys.data(), 3);
  const std::vector<double> wantX{0, 5, 10, 20, 20, 30, 40};
  const std::vector<double> wantY{0, 0.5, 1, 2, 2.5, 3, 4};
  QCOMPARE(s.count(), 7);
  for (qint64 i = 0; i < 7; ++i) {
    QCOMPARE(s.x(i), wantX[static_cast<size_t>(i)]);
    QCOMPARE(s.y(i), wantY[static_cast<size_t>(i)]);
  }
}

void TestSampleStore::extremesSkipGaps() {
  SampleStore s;
  s.append(1, kNaN);
  QVERIFY(!s.minY());
  QCOMPARE(*s.minX(), 1.0);
  s.append(2, std::numeric_limits<double>::infinity()); // stored as a gap
  s.append(3, -4);
  s.append(4, 9);
  s.append(kNaN, 100); // no place on the axis: dropped
  QCOMPARE(s.count(), 4);
  QVERIFY(std::isnan(s.y(1)));
  QCOMPARE(*s.minY(), -4.0);
  QCOMPARE(*s.maxY(), 9.0);
  QCOMPARE(*s.maxX(), 4.0);
  const auto st = s.stats(0, 4);
  QCOMPARE(st.gaps, 2);
  QCOMPARE(st.sum(), 5.0);
  QCOMPARE(st.variance(), 42.25); // of -4 and 9 only
  QCOMPARE(st.slope(), 13.0);
}

void TestSampleStore::summariesStayUnderHalfAByteASample() {
  QTemporaryDir dir;
  const qint64 n = 1'000'000;
  std::vector<Points> points{makePoints(n, 3, 0)};
  const auto stores = BuildStores(writeRecording(dir.path(), points, 0));
  QCOMPARE(stores.size(), size_t(1));
  // A whole-record view is summed from the summaries: it reads no more than a few raw blocks.
  (void)stores[0]->spans(points[0].x.front(), points[0].x.back(), 1000, -1, true);
  const qint64 cache = 8 * (2 * 8 * SampleStore::kBlock + 64);
  QVERIFY2(stores[0]->memoryBytes() - cache < n / 2, qPrintable(QString::number(stores[0]->memoryBytes())));
}

void TestSampleStore::clearEmptiesTheStore() {
  SampleStore s;
  for (int i = 0; i < 3000; ++i)
    s.append(i, i);
  s.clear();
  QCOMPARE(s.count(), 0);
  QVERIFY(!s.maxX());
  s.append(7, 8);
  QCOMPARE(s.x(0), 7.0);
  QCOMPARE(*s.maxY(), 8.0);
}

QTEST_GUILESS_MAIN(TestSampleStore)
#include "tst_samplestore.moc"
