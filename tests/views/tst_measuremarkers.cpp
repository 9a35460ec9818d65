#include "views/MeasureMarkers.h"

#include <QTest>

#include <cmath>
#include <limits>
#include <vector>

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::shared_ptr<SampleStore> storeOf(const std::vector<double> &x, const std::vector<double> &y) {
  auto s = std::make_shared<SampleStore>();
  for (size_t i = 0; i < x.size(); ++i)
    s->append(x[i], y[i]);
  return s;
}

MeasureMarkers markersAt(std::optional<double> a, std::optional<double> b) {
  MeasureMarkers m;
  m.set(MarkerId::A, a);
  m.set(MarkerId::B, b);
  return m;
}
} // namespace

class TestMeasureMarkers : public QObject {
  Q_OBJECT
private slots:
  void clickPlacesAThenBThenTheNearer_data() {
    QTest::addColumn<double>("a"); // NaN: not set
    QTest::addColumn<double>("b");
    QTest::addColumn<double>("click");
    QTest::addColumn<int>("placed");
    QTest::newRow("none set: A") << kNaN << kNaN << 5.0 << int(MarkerId::A);
    QTest::newRow("A set: B, even beside A") << 5.0 << kNaN << 5.1 << int(MarkerId::B);
    QTest::newRow("only B set: A") << kNaN << 5.0 << 9.0 << int(MarkerId::A);
    QTest::newRow("both: nearer A") << 2.0 << 8.0 << 4.0 << int(MarkerId::A);
    QTest::newRow("both: nearer B") << 2.0 << 8.0 << 6.0 << int(MarkerId::B);
    QTest::newRow("both: right of B") << 2.0 << 8.0 << 100.0 << int(MarkerId::B);
    QTest::newRow("both: halfway takes A") << 2.0 << 8.0 << 5.0 << int(MarkerId::A);
    QTest::newRow("both, B left of A: nearer B") << 8.0 << 2.0 << 1.0 << int(MarkerId::B);
  }
  void clickPlacesAThenBThenTheNearer() {
    QFETCH(double, a);
    QFETCH(double, b);
    QFETCH(double, click);
    QFETCH(int, placed);
    const auto opt = [](double v) { return std::isnan(v) ? std::nullopt : std::optional(v); };
    QCOMPARE(int(markersAt(opt(a), opt(b)).clickTarget(click)), placed);
  }

  void grabTakesTheNearerMarkerInReach_data() {
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("tolerance");
    QTest::addColumn<int>("grabbed"); // -1: none
    QTest::newRow("on A") << 10.0 << 1.0 << int(MarkerId::A);
    QTest::newRow("just in reach of B") << 21.0 << 1.0 << int(MarkerId::B);
    QTest::newRow("out of reach") << 15.0 << 1.0 << -1;
    QTest::newRow("both in reach: the nearer") << 14.0 << 10.0 << int(MarkerId::A);
    QTest::newRow("both in reach: B nearer") << 16.0 << 10.0 << int(MarkerId::B);
  }
  void grabTakesTheNearerMarkerInReach() {
    QFETCH(double, x);
    QFETCH(double, tolerance);
    QFETCH(int, grabbed);
    const auto got = markersAt(10.0, 20.0).grab(x, tolerance);
    QCOMPARE(got ? int(*got) : -1, grabbed);
    QVERIFY(!markersAt(std::nullopt, std::nullopt).grab(10, 100));
  }

  // Samples at 0, 10, 20 (a gap), 30 and 40 on trace 1, at 33 on trace 2.
  void snapping_data() {
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("tolerance");
    QTest::addColumn<double>("xScale");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<bool>("second"); // the second trace is snapped to as well
    QTest::addColumn<double>("snapped");
    QTest::newRow("within reach") << 12.0 << 5.0 << 1.0 << qint64(-1) << false << 10.0;
    QTest::newRow("on the sample") << 30.0 << 5.0 << 1.0 << qint64(-1) << false << 30.0;
    QTest::newRow("out of reach stays") << 15.0 << 4.0 << 1.0 << qint64(-1) << false << 15.0;
    QTest::newRow("a gap is no reading") << 21.0 << 5.0 << 1.0 << qint64(-1) << false << 21.0;
    QTest::newRow("past a gap to a reading") << 22.0 << 9.0 << 1.0 << qint64(-1) << false << 30.0;
    QTest::newRow("the nearer of two traces") << 32.0 << 5.0 << 1.0 << qint64(-1) << true << 33.0;
    QTest::newRow("the other trace out of reach") << 29.0 << 3.0 << 1.0 << qint64(-1) << true << 30.0;
    QTest::newRow("left of the first") << -3.0 << 5.0 << 1.0 << qint64(-1) << false << 0.0;
    QTest::newRow("right of the last") << 44.0 << 5.0 << 1.0 << qint64(-1) << false << 40.0;
    QTest::newRow("axis x is store x times the scale") << 58.0 << 5.0 << 2.0 << qint64(-1) << false << 60.0;
    QTest::newRow("a snapshot has no later samples") << 39.0 << 5.0 << 1.0 << qint64(4) << false << 39.0;
    QTest::newRow("snapshot: an earlier sample") << 33.0 << 5.0 << 1.0 << qint64(4) << false << 30.0;
  }
  void snapping() {
    QFETCH(double, x);
    QFETCH(double, tolerance);
    QFETCH(double, xScale);
    QFETCH(qint64, limit);
    QFETCH(bool, second);
    QFETCH(double, snapped);
    const auto one = storeOf({0, 10, 20, 30, 40}, {1, 2, kNaN, 4, 5});
    const auto two = storeOf({33}, {7});
    std::vector<MarkerTrace> traces{{one.get(), xScale, limit}};
    if (second)
      traces.push_back({two.get(), 1, -1});
    QCOMPARE(SnapMarker(x, traces, tolerance), snapped);
    QCOMPARE(SnapMarker(x, {}, tolerance), x);
  }

  void readingAtOrBeforeTheMarker_data() {
    QTest::addColumn<double>("x");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<double>("reading"); // NaN: none
    QTest::newRow("before the first") << -1.0 << qint64(-1) << kNaN;
    QTest::newRow("on the first") << 0.0 << qint64(-1) << 1.0;
    QTest::newRow("between: the one before") << 15.0 << qint64(-1) << 2.0;
    QTest::newRow("on a repeated x: the last of them") << 30.0 << qint64(-1) << 4.5;
    QTest::newRow("on a gap") << 22.0 << qint64(-1) << kNaN;
    QTest::newRow("after the last") << 99.0 << qint64(-1) << 5.0;
    QTest::newRow("snapshot ends earlier") << 99.0 << qint64(3) << kNaN;
    QTest::newRow("snapshot, before its end") << 12.0 << qint64(3) << 2.0;
  }
  void readingAtOrBeforeTheMarker() {
    QFETCH(double, x);
    QFETCH(qint64, limit);
    QFETCH(double, reading);
    const auto s = storeOf({0, 10, 20, 30, 30, 40}, {1, 2, kNaN, 4, 4.5, 5});
    const auto got = ReadingAt({s.get(), 1, limit}, x);
    QCOMPARE(got.has_value(), !std::isnan(reading));
    if (got)
      QCOMPARE(*got, reading);
    // The same on a scaled axis, where the marker holds the sample's x times the scale.
    const double k = 1.0 / 3.0;
    const auto scaled = ReadingAt({s.get(), k, limit}, x * k);
    QCOMPARE(scaled.has_value(), got.has_value());
  }

  void timeDecimalsShowAMillisecond_data() {
    QTest::addColumn<double>("msPerUnit");
    QTest::addColumn<int>("decimals");
    QTest::newRow("毫秒") << 1.0 << 0;
    QTest::newRow("秒") << 1000.0 << 3;
    QTest::newRow("分钟") << 60000.0 << 5;
    QTest::newRow("小时") << 3600000.0 << 7;
    QTest::newRow("unknown unit") << 0.0 << 0;
  }
  void timeDecimalsShowAMillisecond() {
    QFETCH(double, msPerUnit);
    QFETCH(int, decimals);
    QCOMPARE(TimeDecimals(msPerUnit), decimals);
  }

  // Trace 1: readings 10, 12, 11, a gap, 15 at 0, 1, 2, 3, 4 s (x in seconds).
  void readoutFormats_data() {
    QTest::addColumn<double>("a");
    QTest::addColumn<double>("b");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<int>("timeDecimals");
    QTest::addColumn<QString>("text");
    QTest::newRow("no marker: the hint") << kNaN << kNaN << 2 << "秒" << 3 << kMeasureHint;
    QTest::newRow("only A") << 1.5 << kNaN << 2 << "秒" << 3
                            << "A 1.500 秒  B —  Δt —\n"
                               "批次1  A 12.00  B —  B−A —";
    QTest::newRow("both, with a gap") << 0.0 << 4.0 << 2 << "秒" << 3
                                      << "A 0.000 秒  B 4.000 秒  Δt 4.000 秒\n"
                                         "批次1  A 10.00  B 15.00  B−A 5.00\n"
                                         "  点数 4  最小 10.00  最大 15.00  间断 1\n"
                                         "  平均 12.00  标准差 1.87  斜率 1.143/秒";
    QTest::newRow("B before A, no decimals, minutes") << 2.0 << 0.5 << 0 << "分钟" << 5
                                                      << "A 2.00000 分钟  B 0.50000 分钟  Δt -1.50000 分钟\n"
                                                         "批次1  A 11  B 10  B−A -1\n"
                                                         "  点数 2  最小 11  最大 12\n"
                                                         "  平均 12  标准差 1  斜率 -1/分钟";
    QTest::newRow("one sample: no slope") << 0.9 << 1.2 << 3 << "秒" << 3
                                          << "A 0.900 秒  B 1.200 秒  Δt 0.300 秒\n"
                                             "批次1  A 10.000  B 12.000  B−A 2.000\n"
                                             "  点数 1  最小 12.000  最大 12.000\n"
                                             "  平均 12.000  标准差 0.000  斜率 —";
    QTest::newRow("nothing between") << 1.2 << 1.4 << 1 << "秒" << 3
                                     << "A 1.200 秒  B 1.400 秒  Δt 0.200 秒\n"
                                        "批次1  A 12.0  B 12.0  B−A 0.0\n"
                                        "  点数 0  最小 —  最大 —\n"
                                        "  平均 —  标准差 —  斜率 —";
    QTest::newRow("before the first sample") << -2.0 << -1.0 << 2 << "秒" << 3
                                             << "A -2.000 秒  B -1.000 秒  Δt 1.000 秒\n"
                                                "批次1  A —  B —  B−A —\n"
                                                "  点数 0  最小 —  最大 —\n"
                                                "  平均 —  标准差 —  斜率 —";
  }
  void readoutFormats() {
    QFETCH(double, a);
    QFETCH(double, b);
    QFETCH(int, decimals);
    QFETCH(QString, unit);
    QFETCH(int, timeDecimals);
    QFETCH(QString, text);
    const auto s = storeOf({0, 1, 2, 3, 4}, {10, 12, 11, kNaN, 15});
    const auto opt = [](double v) { return std::isnan(v) ? std::nullopt : std::optional(v); };
    const MeasureMarkers m = markersAt(opt(a), opt(b));
    const std::vector<TraceMeasure> rows{MeasureTrace({s.get(), 1, -1}, m, QStringLiteral("批次1"), decimals)};
    QCOMPARE(MeasureReadoutText(m, {unit, timeDecimals}, rows), text);
  }

  // The slope is per time-axis unit: the same samples on an axis scaled by 1/1000 (ms to s)
  // rise a thousand times faster per unit.
  void slopeIsPerAxisUnit() {
    const auto s = storeOf({0, 1000, 2000}, {0, 1, 2});
    const MeasureMarkers ms = markersAt(0.0, 2000.0);
    QCOMPARE(MeasureTrace({s.get(), 1, -1}, ms, "t", 2).slopePerUnit, 0.001);
    const MeasureMarkers sec = markersAt(0.0, 2.0);
    const TraceMeasure t = MeasureTrace({s.get(), 0.001, -1}, sec, "t", 2);
    QCOMPARE(t.span.count, 3);
    QVERIFY(std::abs(t.slopePerUnit - 1.0) < 1e-12);
  }
};

QTEST_GUILESS_MAIN(TestMeasureMarkers)
#include "tst_measuremarkers.moc"
