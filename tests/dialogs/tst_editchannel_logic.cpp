#include "app/ProfileStore.h"
#include "dialogs/ChannelProperties.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace CP = ChannelProperties;

class TestEditChannelLogic : public QObject {
  Q_OBJECT
private slots:
  void parseFloatText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("value");
    QTest::newRow("integer") << "42" << true << 42.0;
    QTest::newRow("negative decimal") << "-0.125" << true << -0.125;
    QTest::newRow("blanks around") << "  3.5 " << true << 3.5;
    QTest::newRow("exponent") << "1.5E3" << true << 1500.0;
    QTest::newRow("leading point") << ".5" << true << 0.5;
    QTest::newRow("plus sign") << "+7" << true << 7.0;
    QTest::newRow("empty") << "" << false << 0.0;
    QTest::newRow("blanks only") << "   " << false << 0.0;
    QTest::newRow("letters") << "abc" << false << 0.0;
    QTest::newRow("trailing unit") << "12kg" << false << 0.0;
    QTest::newRow("comma") << "1,5" << false << 0.0;
    QTest::newRow("thousands") << "1,000" << false << 0.0;
    QTest::newRow("two points") << "1.2.3" << false << 0.0;
    QTest::newRow("infinity") << "inf" << false << 0.0;
    QTest::newRow("not a number") << "nan" << false << 0.0;
    QTest::newRow("overflow") << "1e999" << false << 0.0;
  }
  void parseFloatText() {
    QFETCH(QString, text);
    QFETCH(bool, ok);
    const std::optional<double> v = CP::ParseFloatText(text);
    QCOMPARE(v.has_value(), ok);
    if (ok)
      QTEST(*v, "value");
  }

  void floatTextIsShortest_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("whole") << 50.0 << "50";
    QTest::newRow("tenth") << 0.1 << "0.1";
    QTest::newRow("negative") << -12.75 << "-12.75";
    QTest::newRow("third") << 1.0 / 3.0 << "0.333333333333333";
  }
  void floatTextIsShortest() {
    QFETCH(double, value);
    QTEST(CP::FloatText(value), "text");
    QCOMPARE(CP::ParseFloatText(CP::FloatText(value)).has_value(), true);
  }

  void acceptFloatsStopsAtTheFirstBadText_data() {
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<int>("failed"); // -1: all accepted
    QTest::addColumn<QList<double>>("accepted");
    const QList<double> before{9, 9, 9, 9};
    QTest::newRow("all good") << QStringList{"1", "2", "3", "4"} << -1 << QList<double>{1, 2, 3, 4};
    QTest::newRow("first bad") << QStringList{"x", "2", "3", "4"} << 0 << before;
    QTest::newRow("third bad, earlier ones taken")
        << QStringList{"1", "2", "", "y"} << 2 << QList<double>{1, 2, 9, 9};
    QTest::newRow("last bad") << QStringList{"1", "2", "3", "four"} << 3 << QList<double>{1, 2, 3, 9};
  }
  void acceptFloatsStopsAtTheFirstBadText() {
    QFETCH(QStringList, texts);
    std::array<double, 4> accepted{9, 9, 9, 9};
    const std::vector<QString> t(texts.begin(), texts.end());
    const std::optional<std::size_t> bad = CP::AcceptFloats(t, accepted);
    QTEST(bad ? int(*bad) : -1, "failed");
    QTEST(QList<double>(accepted.begin(), accepted.end()), "accepted");
  }

  void channelSectionIsWrittenInOrder() {
    QTemporaryDir dir;
    ProfileStore s(dir.filePath("Sys.ini"));
    CP::ChannelKeys k;
    k.BaseValue = 0.5;
    k.PhysicalChannel = 4;
    k.Title = "流量";
    k.MainTitle = "";
    k.MeasureUnit = "m3/h";
    k.RangeMin = -1;
    k.RangeMax = 1e20;
    k.Scale = 2;
    k.Offset = 0;
    k.CurveColor = 16711680;
    k.SignalType = 0;
    QVERIFY(s.writeEntries(CP::ChannelSectionEntries(2, k)));
    QFile f(s.path());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QString text = QStringDecoder("GBK").decode(f.readAll());
    QCOMPARE(text, QString("[Channel3]\r\nBaseValue=0.5\r\nPhysicalChannel=4\r\nTitle=流量\r\nMainTitle=\r\n"
                           "MeasureUnit=m3/h\r\nRangeMin=-1\r\nRangeMax=1e+20\r\nScale=2\r\nOffset=0\r\n"
                           "CurveColor=16711680\r\nSignalType=0\r\n"));
  }

  void compareSectionRoundTrip() {
    QTemporaryDir dir;
    ProfileStore s(dir.filePath("Sys.ini"));
    const CP::CompareKeys defaults = CP::ReadCompareKeys(s);
    QCOMPARE(defaults.MainTitle, QString("合并显示曲线图"));
    QCOMPARE(defaults.Title, QString("总通道"));
    QCOMPARE(defaults.MeasureUnit, QString());
    QCOMPARE(defaults.RangeMin, 0.0);
    QCOMPARE(defaults.RangeMax, 50.0);

    CP::CompareKeys k;
    k.Title = "T";
    k.MainTitle = "M";
    k.MeasureUnit = "U";
    k.RangeMin = 3.25;
    k.RangeMax = -7;
    QVERIFY(s.writeEntries(CP::CompareSectionEntries(k)));
    QFile f(s.path());
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("[ChannelAll]\r\nTitle=T\r\nMainTitle=M\r\nMeasureUnit=U\r\nRangeMin=3.25\r\n"
                                     "RangeMax=-7\r\n"));
    const CP::CompareKeys back = CP::ReadCompareKeys(s);
    QCOMPARE(back.RangeMin, 3.25);
    QCOMPARE(back.RangeMax, -7.0);
    QCOMPARE(back.Title, QString("T"));
  }
};

QTEST_MAIN(TestEditChannelLogic)
#include "tst_editchannel_logic.moc"
