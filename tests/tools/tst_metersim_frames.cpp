// Frame encoding, request scanning, value generators and fault draws of the meter simulator.
#include "Faults.h"
#include "Frame.h"
#include "Generator.h"

#include <QtTest>

using namespace metersim;

namespace {

QByteArray bytes(const std::string &s) { return QByteArray(s.data(), qsizetype(s.size())); }

} // namespace

class TestMeterSimFrames : public QObject {
  Q_OBJECT

private slots:
  void readingFrame_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<bool>("negative");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<int>("magnitude");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QByteArray>("expected");

    const int none = int(FrameFault::None);
    QTest::newRow("address 1 reads 12.34")
        << 1 << false << 2 << 1234 << none
        << QByteArray::fromHex("4030303152443032343332313035310D");
    QTest::newRow("address 3 reads -5.000")
        << 3 << true << 3 << 5000 << none
        << QByteArray::fromHex("4030303352443133303030353035320D");
    QTest::newRow("address 12 reads 8")
        << 12 << false << 0 << 8 << none
        << QByteArray::fromHex("4030313252443030383030303035640D");
    QTest::newRow("upper-case checksum digits")
        << 12 << false << 0 << 8 << int(FrameFault::UpperHex)
        << QByteArray::fromHex("4030313252443030383030303035440D");
    QTest::newRow("decimal digit 6 with matching checksum")
        << 1 << false << 2 << 1234 << int(FrameFault::Decimal6)
        << QByteArray::fromHex("4030303152443036343332313035350D");
    QTest::newRow("largest magnitude")
        << 999 << false << 5 << 99999 << none
        << QByteArray::fromHex("4039393952443035393939393935330D");
  }

  void readingFrame() {
    QFETCH(int, address);
    QFETCH(bool, negative);
    QFETCH(int, decimals);
    QFETCH(int, magnitude);
    QFETCH(int, fault);
    QFETCH(QByteArray, expected);
    const Reading r{negative, decimals, magnitude};
    QCOMPARE(bytes(encodeReadingFrame(address, r, FrameFault(fault))), expected);
  }

  // Spoiled frames differ from the good one only where the fault says.
  void spoiledFrame_data() {
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("badOffset");
    QTest::addColumn<bool>("checksumMatches");
    QTest::newRow("checksum") << int(FrameFault::Checksum) << 13 << false;
    QTest::newRow("terminator") << int(FrameFault::Terminator) << 15 << true;
  }

  void spoiledFrame() {
    QFETCH(int, fault);
    QFETCH(int, badOffset);
    QFETCH(bool, checksumMatches);
    const QByteArray good = QByteArray::fromHex("4030303152443032343332313035310D");
    const QByteArray bad = bytes(encodeReadingFrame(1, Reading{false, 2, 1234}, FrameFault(fault)));
    QCOMPARE(bad.size(), 16);
    QCOMPARE(bad.left(badOffset), good.left(badOffset));
    QVERIFY(bad.mid(badOffset) != good.mid(badOffset));
    quint8 sum = 0;
    for (int i = 0; i < 13; ++i)
      sum ^= quint8(bad[i]);
    QCOMPARE(bad.mid(13, 2).toUInt(nullptr, 16) == sum, checksumMatches);
    if (FrameFault(fault) == FrameFault::Terminator)
      QVERIFY(bad[15] != '\r');
  }

  void quantizeValue_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<bool>("negative");
    QTest::addColumn<int>("magnitude");
    QTest::addColumn<QString>("text");
    QTest::newRow("two places") << 12.34 << 2 << false << 1234 << "12.34";
    QTest::newRow("negative") << -5.0 << 3 << true << 5000 << "-5.000";
    QTest::newRow("rounds half away from zero") << 0.5 << 0 << false << 1 << "1";
    QTest::newRow("too large is clamped") << 123456.0 << 0 << false << 99999 << "99999";
    QTest::newRow("too large at two places") << 1234.5 << 2 << false << 99999 << "999.99";
    QTest::newRow("too small negative is clamped") << -1e300 << 1 << true << 99999 << "-9999.9";
    QTest::newRow("rounds up to the limit") << 99998.6 << 0 << false << 99999 << "99999";
    QTest::newRow("negative rounding to zero is positive") << -0.001 << 2 << false << 0 << "0.00";
    QTest::newRow("five places") << 0.12345 << 5 << false << 12345 << "0.12345";
  }

  void quantizeValue() {
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(bool, negative);
    QFETCH(int, magnitude);
    QFETCH(QString, text);
    const Reading r = quantize(value, decimals);
    QCOMPARE(r.negative, negative);
    QCOMPARE(r.decimals, decimals);
    QCOMPARE(r.magnitude, magnitude);
    QCOMPARE(QString::fromStdString(formatReading(r)), text);
  }

  // Each event is written "R<address>", "B:<bytes>" or "J:<bytes>".
  void scanRequests_data() {
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("split");
    QTest::addColumn<QStringList>("events");
    QTest::newRow("request for 1") << QByteArray("@001RD67\r") << 0 << QStringList{"R1"};
    QTest::newRow("request for 10") << QByteArray::fromHex("40303130524436370D") << 0
                                    << QStringList{"R10"};
    QTest::newRow("upper-case checksum") << QByteArray("@008RD6E\r") << 0 << QStringList{"R8"};
    QTest::newRow("wrong checksum") << QByteArray("@001RD68\r") << 0
                                    << QStringList{"B:@001RD68\r"};
    QTest::newRow("LF instead of CR") << QByteArray("@001RD67\n") << 0
                                      << QStringList{"B:@001RD67\n"};
    QTest::newRow("letter in address") << QByteArray("@0A1RD67\r") << 0
                                       << QStringList{"B:@0A1RD67\r"};
    QTest::newRow("not RD") << QByteArray("@001WR67\r") << 0 << QStringList{"B:@001WR67\r"};
    QTest::newRow("junk before") << QByteArray("xy@000RD66\r") << 0
                                 << QStringList{"J:xy", "R0"};
    QTest::newRow("torn request, then a good one")
        << QByteArray("@00@010RD67\r") << 0 << QStringList{"B:@00", "R10"};
    QTest::newRow("in two pieces") << QByteArray("@003RD65\r@002RD64\r") << 5
                                   << QStringList{"R3", "R2"};
    QTest::newRow("incomplete is kept") << QByteArray("@001RD6") << 0 << QStringList{};
  }

  void scanRequests() {
    QFETCH(QByteArray, stream);
    QFETCH(int, split);
    QFETCH(QStringList, events);
    RequestScanner scanner;
    std::vector<RequestScanner::Event> got;
    const auto feed = [&](const QByteArray &part) {
      for (auto &e : scanner.feed(std::string_view(part.constData(), std::size_t(part.size()))))
        got.push_back(std::move(e));
    };
    if (split > 0) {
      feed(stream.left(split));
      QVERIFY(got.empty());
      feed(stream.mid(split));
    } else {
      feed(stream);
    }
    QStringList text;
    for (const auto &e : got) {
      switch (e.kind) {
      case RequestScanner::Event::Kind::Request: text << QStringLiteral("R%1").arg(e.address); break;
      case RequestScanner::Event::Kind::Bad: text << "B:" + QString::fromLatin1(bytes(e.bytes)); break;
      case RequestScanner::Event::Kind::Junk: text << "J:" + QString::fromLatin1(bytes(e.bytes)); break;
      }
    }
    QCOMPARE(text, events);
  }

  void escape_data() {
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("escaped");
    QTest::newRow("frame") << QByteArray("@001RD67\r") << "@001RD67\\x0d";
    QTest::newRow("space and backslash") << QByteArray("a b\\") << "a\\x20b\\\\";
    QTest::newRow("high bytes") << QByteArray("\xf6\x86\x00", 3) << "\\xf6\\x86\\x00";
  }

  void escape() {
    QFETCH(QByteArray, raw);
    QFETCH(QString, escaped);
    QCOMPARE(QString::fromStdString(escapeBytes(std::string_view(raw.constData(), std::size_t(raw.size())))),
             escaped);
  }

  void generator_data() {
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("frame");
    QTest::addColumn<double>("elapsedMs");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<double>("expected");
    QTest::newRow("constant") << "constant:3.5" << 9 << 700.0 << 1 << 3.5;
    QTest::newRow("ramp") << "ramp:10:0.5" << 4 << 0.0 << 1 << 12.0;
    QTest::newRow("ramp down") << "ramp:0:-2" << 3 << 0.0 << 0 << -6.0;
    QTest::newRow("sine quarter period") << "sine:10:1000:5" << 0 << 250.0 << 2 << 15.0;
    QTest::newRow("sine three quarters") << "sine:10:1000:5" << 0 << 750.0 << 2 << -5.0;
    QTest::newRow("sine without offset") << "sine:2:400" << 0 << 100.0 << 2 << 2.0;
    QTest::newRow("counter") << "counter" << 7 << 0.0 << 0 << 7.0;
    QTest::newRow("counter start") << "counter:100" << 5 << 0.0 << 0 << 105.0;
    QTest::newRow("counter wraps after 99999") << "counter:99998" << 3 << 0.0 << 0 << 1.0;
    QTest::newRow("counter wraps after 999 at two places") << "counter" << 1001 << 0.0 << 2 << 1.0;
  }

  void generator() {
    QFETCH(QString, setup);
    QFETCH(int, frame);
    QFETCH(double, elapsedMs);
    QFETCH(int, decimals);
    QFETCH(double, expected);
    std::string error;
    const auto g = parseGenerator(setup.toStdString(), &error);
    QVERIFY2(g.has_value(), error.c_str());
    QVERIFY(qAbs(generateValue(*g, std::uint64_t(frame), elapsedMs, decimals) - expected) < 1e-9);
  }

  void badGenerator_data() {
    QTest::addColumn<QString>("setup");
    QTest::newRow("unknown") << "square:1";
    QTest::newRow("ramp without step") << "ramp:1";
    QTest::newRow("zero period") << "sine:1:0";
    QTest::newRow("negative counter") << "counter:-1";
    QTest::newRow("fractional counter") << "counter:1.5";
    QTest::newRow("not a number") << "constant:abc";
    QTest::newRow("too many parameters") << "constant:1:2";
  }

  void badGenerator() {
    QFETCH(QString, setup);
    std::string error;
    QVERIFY(!parseGenerator(setup.toStdString(), &error).has_value());
    QVERIFY(!error.empty());
  }

  void faultDraws_data() {
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("minCount");
    QTest::addColumn<int>("maxCount");
    QTest::newRow("rate 0 never") << QStringList{"checksum", "upper"} << 0.0 << 0 << 0;
    QTest::newRow("rate 1 always") << QStringList{"checksum", "silence"} << 1.0 << 10000 << 10000;
    QTest::newRow("rate 0.1 about a tenth") << QStringList{"garbage"} << 0.1 << 800 << 1200;
    QTest::newRow("no kinds never") << QStringList{} << 1.0 << 0 << 0;
  }

  void faultDraws() {
    QFETCH(QStringList, faults);
    QFETCH(double, rate);
    QFETCH(int, minCount);
    QFETCH(int, maxCount);
    std::uint32_t mask = 0;
    for (const QString &f : faults)
      mask |= faultBit(*faultFromName(f.toStdString()));
    FaultInjector a(mask, rate, 7);
    FaultInjector b(mask, rate, 7);
    int count = 0;
    for (int i = 0; i < 10000; ++i) {
      const FaultKind k = a.next();
      QCOMPARE(b.next(), k); // same seed, same sequence
      if (k != FaultKind::None) {
        ++count;
        QVERIFY(faults.contains(QString::fromLatin1(faultName(k).data(), qsizetype(faultName(k).size()))));
      }
    }
    QVERIFY2(count >= minCount && count <= maxCount, qPrintable(QString::number(count)));
  }

  void garbageNeverStartsAFrame() {
    FaultInjector f(faultBit(FaultKind::Garbage), 1.0, 3);
    for (int i = 0; i < 2000; ++i) {
      const std::string g = f.garbage();
      QVERIFY(!g.empty() && g.size() <= 8);
      QVERIFY(g.find('@') == std::string::npos);
    }
  }
};

QTEST_APPLESS_MAIN(TestMeterSimFrames)
#include "tst_metersim_frames.moc"
