#include "acquisition/ChannelFormats.h"
#include "acquisition/TimeUnits.h"

#include <QTest>

class TestChannelFormats : public QObject {
  Q_OBJECT

private slots:
  void precision_data();
  void precision();
  void displayTime_data();
  void displayTime();
  void unitNames();
};

void TestChannelFormats::precision_data() {
  QTest::addColumn<int>("slot");
  QTest::addColumn<int>("places");
  QTest::addColumn<bool>("changed");
  QTest::addColumn<int>("precision");
  QTest::addColumn<QString>("format");
  QTest::addColumn<QString>("shown");  // 12.6 in that slot

  QTest::newRow("none places") << 0 << 0 << true << 0 << "%.0f" << "13";
  QTest::newRow("three places") << 4 << 3 << true << 3 << "%.3f" << "12.600";
  QTest::newRow("last slot") << 10 << 5 << true << 5 << "%.5f" << "12.60000";
  QTest::newRow("same as default") << 1 << 2 << false << 2 << "%.2f" << "12.60";
  QTest::newRow("negative keeps format") << 2 << -1 << true << -1 << "%.2f" << "12.60";
  QTest::newRow("slot 11 ignored") << 11 << 4 << false << 2 << "%.2f" << "12.60";
  QTest::newRow("slot -1 ignored") << -1 << 4 << false << 2 << "%.2f" << "12.60";
}

void TestChannelFormats::precision() {
  QFETCH(int, slot);
  QFETCH(int, places);
  QFETCH(bool, changed);
  QFETCH(int, precision);
  QFETCH(QString, format);
  QFETCH(QString, shown);

  ChannelFormats formats;
  QCOMPARE(formats.setPrecision(slot, places), changed);
  QCOMPARE(formats.precision(slot), precision);
  QCOMPARE(formats.format(slot), format);
  QCOMPARE(formats.formatValue(slot, 12.6), shown);
  // Only the addressed slot changes.
  for (int other = 0; other < ChannelFormats::kSlots; ++other) {
    if (other == slot)
      continue;
    QCOMPARE(formats.precision(other), 2);
    QCOMPARE(formats.format(other), QStringLiteral("%.2f"));
  }
}

void TestChannelFormats::displayTime_data() {
  QTest::addColumn<double>("ms");
  QTest::addColumn<int>("unit");
  QTest::addColumn<double>("expected");
  QTest::newRow("milliseconds") << 90000.0 << 0 << 90000.0;
  QTest::newRow("seconds") << 90000.0 << 1 << 90.0;
  QTest::newRow("minutes") << 90000.0 << 2 << 1.5;
  QTest::newRow("hours") << 90000.0 << 3 << 0.025;
  QTest::newRow("unit 4") << 90000.0 << 4 << 0.0;
  QTest::newRow("unit -1") << 90000.0 << -1 << 0.0;
}

void TestChannelFormats::displayTime() {
  QFETCH(double, ms);
  QFETCH(int, unit);
  QFETCH(double, expected);
  QCOMPARE(ToDisplayTime(ms, unit), expected);
}

void TestChannelFormats::unitNames() {
  QCOMPARE(TimeUnitNames(), (QStringList{QStringLiteral("毫秒"), QStringLiteral("秒"),
                                         QStringLiteral("分钟"), QStringLiteral("小时")}));
}

QTEST_APPLESS_MAIN(TestChannelFormats)
#include "tst_channelformats.moc"
