#include "comm/FrameProtocol.h"

#include <QTest>

#include <cmath>

Q_DECLARE_METATYPE(FrameReject)

namespace {
// Frames are written out byte by byte in hexadecimal; blanks are only for reading.
QByteArray Hex(const char *text) {
  return QByteArray::fromHex(QByteArray(text));
}
}  // namespace

class TestFrameProtocol : public QObject {
  Q_OBJECT

private slots:
  void readRequest_data();
  void readRequest();
  void checkReply_data();
  void checkReply();
  void searchAcceptsOnIntegrityAlone();
  void negativeZeroIsKept();
};

void TestFrameProtocol::readRequest_data() {
  QTest::addColumn<int>("address");
  QTest::addColumn<QByteArray>("bytes");
  QTest::newRow("address 1") << 1 << Hex("40 30 30 31 52 44 36 37 0D");
  QTest::newRow("address 0") << 0 << Hex("40 30 30 30 52 44 36 36 0D");
  QTest::newRow("address 10") << 10 << Hex("40 30 31 30 52 44 36 37 0D");
  // Checksum 0x6f: the letter digit goes out in lower case.
  QTest::newRow("address 999") << 999 << Hex("40 39 39 39 52 44 36 66 0D");
  // Not writable in three digits: nothing to send rather than a malformed request.
  QTest::newRow("address -1") << -1 << QByteArray();
  QTest::newRow("address 1000") << 1000 << QByteArray();
}

void TestFrameProtocol::readRequest() {
  QFETCH(int, address);
  QFETCH(QByteArray, bytes);
  QCOMPARE(BuildReadRequest(address), bytes);
}

void TestFrameProtocol::checkReply_data() {
  QTest::addColumn<QByteArray>("frame");
  QTest::addColumn<int>("expectedAddress");
  QTest::addColumn<FrameReject>("reject");
  QTest::addColumn<double>("value");
  QTest::addColumn<int>("decimals");

  const QByteArray reading1234 = Hex("40 30 30 31 52 44 30 32 34 33 32 31 30 35 31 0D");
  QTest::newRow("12.34 from address 1") << reading1234 << 1 << FrameReject::None << 12.34 << 2;
  QTest::newRow("-5.0 from address 3")
      << Hex("40 30 30 33 52 44 31 33 30 30 30 35 30 35 32 0D") << 3 << FrameReject::None << -5.0
      << 3;
  QTest::newRow("checksum 5b lower case")
      << Hex("40 30 30 31 52 44 30 35 39 39 39 39 39 35 62 0D") << 1 << FrameReject::None
      << 0.99999 << 5;
  QTest::newRow("checksum 5B upper case")
      << Hex("40 30 30 31 52 44 30 35 39 39 39 39 39 35 42 0D") << 1 << FrameReject::None
      << 0.99999 << 5;
  QTest::newRow("sign byte 3 has bit 0 set")
      << Hex("40 30 30 31 52 44 33 32 34 33 32 31 30 35 32 0D") << 1 << FrameReject::None
      << -12.34 << 2;
  QTest::newRow("offsets 4 and 5 not examined")
      << Hex("40 30 30 31 5A 5A 30 32 34 33 32 31 30 34 37 0D") << 1 << FrameReject::None
      << 12.34 << 2;
  QTest::newRow("offset 0 not examined")
      << Hex("58 30 30 31 52 44 30 32 34 33 32 31 30 35 31 0D") << 1 << FrameReject::None
      << 12.34 << 2;
  QTest::newRow("address 12 in three digits")
      << Hex("40 30 31 32 52 44 30 32 34 33 32 31 30 35 33 0D") << 12 << FrameReject::None
      << 12.34 << 2;

  QTest::newRow("other address") << reading1234 << 2 << FrameReject::Address << 0.0 << 0;
  QTest::newRow("address +12")
      << Hex("40 2B 31 32 52 44 30 32 34 33 32 31 30 34 38 0D") << 12 << FrameReject::Address
      << 0.0 << 0;
  QTest::newRow("address blank 12")
      << Hex("40 20 31 32 52 44 30 32 34 33 32 31 30 34 33 0D") << 12 << FrameReject::Address
      << 0.0 << 0;
  QTest::newRow("address -01")
      << Hex("40 2D 30 31 52 44 30 32 34 33 32 31 30 34 63 0D") << -1 << FrameReject::Address
      << 0.0 << 0;
  QTest::newRow("address $0C")
      << Hex("40 24 30 43 52 44 30 32 34 33 32 31 30 33 37 0D") << 12 << FrameReject::Address
      << 0.0 << 0;
  QTest::newRow("wrong checksum")
      << Hex("40 30 30 31 52 44 30 32 34 33 32 31 30 35 32 0D") << 1 << FrameReject::Checksum
      << 0.0 << 0;
  QTest::newRow("checksum not hex")
      << Hex("40 30 30 31 52 44 30 32 34 33 32 31 30 47 31 0D") << 1 << FrameReject::Checksum
      << 0.0 << 0;
  QTest::newRow("line feed for CR")
      << Hex("40 30 30 31 52 44 30 32 34 33 32 31 30 35 31 0A") << 1 << FrameReject::Terminator
      << 0.0 << 0;
  QTest::newRow("cut short") << reading1234.left(15) << 1 << FrameReject::Terminator << 0.0 << 0;
  QTest::newRow("decimal digit 6")
      << Hex("40 30 30 31 52 44 30 36 34 33 32 31 30 35 35 0D") << 1 << FrameReject::DecimalDigit
      << 0.0 << 0;
  QTest::newRow("letter in magnitude")
      << Hex("40 30 30 31 52 44 30 32 41 33 32 31 30 32 34 0D") << 1 << FrameReject::Magnitude
      << 0.0 << 0;
  // Reversed these would read "-1234" and " 1234"; a lenient integer parse would take both.
  QTest::newRow("minus in magnitude")
      << Hex("40 30 30 31 52 44 30 32 34 33 32 31 2D 34 63 0D") << 1 << FrameReject::Magnitude
      << 0.0 << 0;
  QTest::newRow("blank in magnitude")
      << Hex("40 30 30 31 52 44 30 32 34 33 32 31 20 34 31 0D") << 1 << FrameReject::Magnitude
      << 0.0 << 0;
}

void TestFrameProtocol::checkReply() {
  QFETCH(QByteArray, frame);
  QFETCH(int, expectedAddress);
  QFETCH(FrameReject, reject);
  QFETCH(double, value);
  QFETCH(int, decimals);

  const ReplyCheck check = CheckReply(frame, expectedAddress);
  QCOMPARE(check.reject, reject);
  QCOMPARE(check.ok(), reject == FrameReject::None);
  if (check.ok()) {
    QCOMPARE(check.reading.value, value);
    QCOMPARE(check.reading.decimals, decimals);
  }
}

void TestFrameProtocol::searchAcceptsOnIntegrityAlone() {
  // The meter search looks at checksum, terminator and address, not at the reading.
  const QByteArray digitSix = Hex("40 30 30 31 52 44 30 36 34 33 32 31 30 35 35 0D");
  QCOMPARE(CheckFrameIntegrity(digitSix), FrameReject::None);
  QCOMPARE(FrameAddress(digitSix), std::optional<int>(1));
  QCOMPARE(DecodeReading(digitSix).reject, FrameReject::DecimalDigit);

  const QByteArray badChecksum = Hex("40 30 31 32 52 44 30 32 34 33 32 31 30 35 34 0D");
  QCOMPARE(CheckFrameIntegrity(badChecksum), FrameReject::Checksum);
  QCOMPARE(FrameAddress(Hex("40 2B 31 32 52 44 30 32 34 33 32 31 30 34 38 0D")), std::nullopt);
}

void TestFrameProtocol::negativeZeroIsKept() {
  const ReplyCheck negativeZero =
      CheckReply(Hex("40 30 30 31 52 44 31 32 30 30 30 30 30 35 34 0D"), 1);
  QVERIFY(negativeZero.ok());
  QCOMPARE(negativeZero.reading.value, 0.0);
  QVERIFY(std::signbit(negativeZero.reading.value));
  QCOMPARE(negativeZero.reading.decimals, 2);
}

QTEST_APPLESS_MAIN(TestFrameProtocol)
#include "tst_frameprotocol.moc"
