#include "acquisition/ChannelFormats.h"
#include "acquisition/ChannelView.h"
#include "acquisition/TChannel.h"
#include "app/ProfileStore.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {
// Records what the channel pushes into its view.
struct RecordingView : IChannelView {
  QStringList calls;
  double start = 0, span = 24;
  QString axisTitle, unit, chartTitle, base;
  bool baseVisible = true;
  int panelWidth = 0;
  double yStart = 0, ySpan = 0, yDesired = 0, yIncrement = 0;

  void showSample(double v, double t, int ch, qint64 record) override {
    calls << QStringLiteral("sample %1 %2 %3").arg(v).arg(t).arg(ch) + (record >= 0 ? QStringLiteral(" #%1").arg(record) : QString());
  }
  void clearDisplay() override { calls << "clear"; }
  void setChartTitle(const QString &t) override { chartTitle = t; }
  void setValueAxisTitle(const QString &t) override { axisTitle = t; }
  void setUnitCaption(const QString &u, int w) override {
    unit = u;
    panelWidth = w;
  }
  void setValueAxis(double s, double sp, double d, double inc) override {
    yStart = s;
    ySpan = sp;
    yDesired = d;
    yIncrement = inc;
  }
  void setCurveColor(int c) override { calls << QStringLiteral("colour %1").arg(c); }
  void setBaseCaption(bool visible, const QString &text) override {
    baseVisible = visible;
    base = text;
  }
  double timeAxisStart() const override { return start; }
  double timeAxisSpan() const override { return span; }
  void setTimeAxisStart(double s) override { start = s; }
  void setTimeAxisSpan(double s) override { span = s; }
};
} // namespace

class TestChannel : public QObject {
  Q_OBJECT
  QTemporaryDir m_dir;
  std::unique_ptr<ProfileStore> m_store;
  ChannelFormats m_formats;

  TChannel make(RecordingView &view, TSignalType type = TSignalType::stCurrent, int tag = 0) {
    return TChannel({*m_store, m_formats, 4095}, &view, type, tag);
  }

private slots:
  void init() { m_store = std::make_unique<ProfileStore>(m_dir.filePath("Sys.ini")); }

  void baseValueShowsAndPersists_data() {
    QTest::addColumn<double>("base");
    QTest::addColumn<int>("places");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero hides") << 0.0 << 2 << false << "";
    QTest::newRow("shown with the channel's format") << 1.5 << 3 << true << "1.500";
    QTest::newRow("negative, no decimals") << -12.6 << 0 << true << "-13";
  }
  void baseValueShowsAndPersists() {
    QFETCH(double, base);
    QFETCH(int, places);
    QFETCH(bool, visible);
    QFETCH(QString, text);
    RecordingView v;
    m_formats.setPrecision(2, places);
    TChannel c = make(v, TSignalType::stCurrent, 2);
    c.setBaseValue(base);
    QCOMPARE(v.baseVisible, visible);
    QCOMPARE(v.base, text);
    QCOMPARE(m_store->readFloat("Channel3", "BaseValue", 99), base);
  }

  void unitAndTitle_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("axisTitle");
    QTest::addColumn<int>("width");
    QTest::newRow("no unit") << "通道1" << "" << "通道1" << 145;
    QTest::newRow("blanks only") << "通道1" << "   " << "通道1" << 145 + 33;
    QTest::newRow("two Chinese characters") << "温度" << "摄氏" << "温度(摄氏)" << 189;
    QTest::newRow("ascii unit") << "Load" << "kg" << "Load(kg)" << 167;
  }
  void unitAndTitle() {
    QFETCH(QString, title);
    QFETCH(QString, unit);
    QFETCH(QString, axisTitle);
    QFETCH(int, width);
    RecordingView v;
    TChannel c = make(v);
    c.setTitle(title);
    c.setMeasureUnit(unit);
    QCOMPARE(v.axisTitle, axisTitle);
    QCOMPARE(v.unit, unit); // the caption keeps the blanks
    QCOMPARE(v.panelWidth, width);
    // Order does not matter: a later title keeps the unit.
    c.setTitle(title + "x");
    QCOMPARE(v.axisTitle, TChannel::ValueAxisTitle(title + "x", unit));
  }

  void setRangeSortsTheAxisButKeepsTheValues() {
    RecordingView v;
    TChannel c = make(v);
    c.SetRange(50, 0);
    QCOMPARE(c.RangeMin(), 50.0);
    QCOMPARE(c.RangeMax(), 0.0);
    QCOMPARE(v.yStart, 0.0);
    QCOMPARE(v.ySpan, 50.0);
    QCOMPARE(v.yDesired, 0.0);
    QCOMPARE(v.yIncrement, 5.0);
    c.setRangeMax(-10); // low 50, high -10
    QCOMPARE(v.yStart, -10.0);
    QCOMPARE(v.ySpan, 60.0);
  }

  void adValueConversion_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("scale");
    QTest::addColumn<double>("offset");
    QTest::addColumn<double>("base");
    QTest::addColumn<double>("expected");
    // Range 0..50, full scale 4095.
    QTest::newRow("voltage zero") << 0 << 0 << 1.0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("voltage full") << 0 << 4095 << 1.0 << 0.0 << 0.0 << 50.0;
    QTest::newRow("current live zero") << 1 << 819 << 1.0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("current full") << 1 << 4095 << 1.0 << 0.0 << 0.0 << 50.0;
    QTest::newRow("current below live zero") << 1 << 0 << 1.0 << 0.0 << 0.0 << -12.5;
    QTest::newRow("scale, offset, base") << 0 << 4095 << 2.0 << 1.0 << 0.5 << 100.5;
  }
  void adValueConversion() {
    QFETCH(int, type);
    QFETCH(int, count);
    QFETCH(double, scale);
    QFETCH(double, offset);
    QFETCH(double, base);
    QFETCH(double, expected);
    RecordingView v;
    TChannel c = make(v, static_cast<TSignalType>(type));
    c.SetRange(0, 50);
    c.setScale(scale);
    c.setOffset(offset);
    c.setBaseValue(base);
    c.setADValue(count);
    QCOMPARE(c.ADValue(), count);
    QVERIFY2(qAbs(c.Value() - expected) < 1e-9, qPrintable(QString::number(c.Value(), 'g', 17)));
  }

  void zeroFullScaleDoesNotDivideByZero() {
    RecordingView v;
    TChannel c({*m_store, m_formats, 0}, &v, TSignalType::stCurrent, 0);
    c.SetRange(10, 50);
    c.setADValue(100);
    QCOMPARE(c.Value(), 10.0);
  }

  void samplesReachTheViewAsTheyAre() {
    RecordingView v;
    TChannel c = make(v, TSignalType::stCurrent, 4);
    c.setScale(10); // readings from meters are already in engineering units
    c.setBaseValue(3);
    c.SetSample(12.34, 1500);
    QCOMPARE(c.Value(), 12.34);
    QCOMPARE(c.Time(), 1500.0);
    QVERIFY(v.calls.contains("sample 12.34 1500 4"));
    c.ClearDisplay();
    QCOMPARE(v.calls.last(), QString("clear"));
  }

  void timeAxisProperties() {
    RecordingView v;
    TChannel c = make(v);
    c.setTimeWindow(60);
    QCOMPARE(c.XSpan(), 60.0);
    c.setXMin(30);
    QCOMPARE(c.XMax(), 90.0);
    c.setXSpan(10);
    QCOMPARE(c.TimeWindow(), qint64(60)); // the window stays; only the axis moved
    QCOMPARE(c.XMax(), 40.0);
  }
};

QTEST_GUILESS_MAIN(TestChannel)
#include "tst_channel.moc"
