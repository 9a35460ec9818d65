#include "app/ProfileStore.h"
#include "comm/PortRegistry.h"
#include "comm/PtyPair.h"
#include "comm/SerialLink.h"
#include "comm/TtyLineSettings.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>

namespace {

constexpr int kPtyCom = 5;

PortRegistry::DeviceLister noDevices() {
  return [] { return QStringList(); };
}

} // namespace

class TestSerialLink : public QObject {
  Q_OBJECT
private slots:
  void init();
  void cleanup();

  void baudRateForCode_data();
  void baudRateForCode();

  void openAppliesLineSettings_data();
  void openAppliesLineSettings();
  void openFailures_data();
  void openFailures();
  void secondOpenOfSamePortIsBusy();

  void bytesPassUnchanged_data();
  void bytesPassUnchanged();
  void inputBeforeOpenIsDropped_data();
  void inputBeforeOpenIsDropped();
  void writeFromAnotherThread();
  void writeFailsWhenClosed();
  void hangupIsReported();

private:
  std::unique_ptr<QTemporaryDir> m_dir;
  std::unique_ptr<PtyPair> m_pty;
  std::unique_ptr<ProfileStore> m_store;
  std::unique_ptr<PortRegistry> m_registry;
};

void TestSerialLink::init() {
  m_dir = std::make_unique<QTemporaryDir>();
  QVERIFY(m_dir->isValid());
  m_pty = std::make_unique<PtyPair>();
  QVERIFY(m_pty->isValid());
  m_store = std::make_unique<ProfileStore>(m_dir->filePath(QStringLiteral("Sys.ini")));
  const QString section = PortRegistry::sectionName();
  QVERIFY(m_store->writeString(section, QStringLiteral("COM5"), m_pty->slavePath()));
  QVERIFY(m_store->writeString(section, QStringLiteral("COM6"), QStringLiteral("/dev/no-such-tty")));
  QVERIFY(m_store->writeString(section, QStringLiteral("COM7"), m_dir->filePath("Sys.ini")));
  m_registry = std::make_unique<PortRegistry>(*m_store, noDevices());
}

void TestSerialLink::cleanup() {
  m_registry.reset();
  m_store.reset();
  m_pty.reset();
  m_dir.reset();
}

void TestSerialLink::baudRateForCode_data() {
  QTest::addColumn<int>("code");
  QTest::addColumn<int>("baud");
  QTest::addColumn<QString>("text");

  QTest::newRow("0 custom") << 0 << 9600 << QStringLiteral("自定义");
  QTest::newRow("1") << 1 << 110 << "110";
  QTest::newRow("2") << 2 << 300 << "300";
  QTest::newRow("3") << 3 << 600 << "600";
  QTest::newRow("4") << 4 << 1200 << "1200";
  QTest::newRow("5") << 5 << 2400 << "2400";
  QTest::newRow("6") << 6 << 4800 << "4800";
  QTest::newRow("7") << 7 << 9600 << "9600";
  QTest::newRow("8") << 8 << 14400 << "14400";
  QTest::newRow("9") << 9 << 19200 << "19200";
  QTest::newRow("10") << 10 << 38400 << "38400";
  QTest::newRow("11") << 11 << 56000 << "56000";
  QTest::newRow("12") << 12 << 57600 << "57600";
  QTest::newRow("13") << 13 << 115200 << "115200";
  QTest::newRow("14") << 14 << 128000 << "128000";
  QTest::newRow("15") << 15 << 256000 << "256000";
  QTest::newRow("-1") << -1 << 9600 << "";
  QTest::newRow("16") << 16 << 9600 << "";
  QTest::newRow("large") << 1000 << 9600 << "";
}

void TestSerialLink::baudRateForCode() {
  QFETCH(int, code);
  QFETCH(int, baud);
  QFETCH(QString, text);

  QCOMPARE(BaudRateForCode(code), baud);
  QCOMPARE(BaudRateText(code), text);
  const QStringList list = BaudRateTexts();
  QCOMPARE(list.size(), 16);
  if (code >= 0 && code < 16)
    QCOMPARE(list.at(code), text);
}

void TestSerialLink::openAppliesLineSettings_data() {
  QTest::addColumn<int>("code");
  QTest::addColumn<unsigned>("baud");

  QTest::newRow("9600") << 7 << 9600u;
  QTest::newRow("custom opens at 9600") << 0 << 9600u;
  QTest::newRow("110") << 1 << 110u;
  QTest::newRow("115200") << 13 << 115200u;
  QTest::newRow("14400, not a classic rate") << 8 << 14400u;
  QTest::newRow("256000, not a classic rate") << 15 << 256000u;
  QTest::newRow("out of range") << 42 << 9600u;
}

void TestSerialLink::openAppliesLineSettings() {
  QFETCH(int, code);
  QFETCH(unsigned, baud);

  SerialLink link(*m_registry);
  // A pty refuses the DTR/RTS ioctls; the open must succeed anyway.
  QCOMPARE(link.open(kPtyCom, code), SerialLinkError::None);
  QVERIFY(link.isOpen());
  QCOMPARE(link.portName(), QStringLiteral("COM5"));

  const std::optional<TtyLineSettings> s = ReadTtyLineSettings(m_pty->slaveFd());
  QVERIFY(s.has_value());
  QCOMPARE(s->outputBaud, baud);
  QCOMPARE(s->inputBaud, baud);
  QCOMPARE(s->dataBits, 8);
  QVERIFY(!s->parity);
  QVERIFY(!s->twoStopBits);
  QVERIFY(!s->rtsCtsFlow);
  QVERIFY(!s->xonXoffOutput);
  QVERIFY(!s->xonXoffInput);
  QVERIFY(!s->canonical);
  QVERIFY(!s->echo);
  QVERIFY(!s->outputProcessing);
}

void TestSerialLink::openFailures_data() {
  QTest::addColumn<int>("com");
  QTest::addColumn<SerialLinkError>("error");

  QTest::newRow("not mapped") << 3 << SerialLinkError::NotMapped;
  QTest::newRow("device gone") << 6 << SerialLinkError::DeviceMissing;
  QTest::newRow("not a device") << 7 << SerialLinkError::DeviceMissing;
  QTest::newRow("COM0") << 0 << SerialLinkError::NotMapped;
}

void TestSerialLink::openFailures() {
  QFETCH(int, com);
  QFETCH(SerialLinkError, error);

  SerialLink link(*m_registry);
  QCOMPARE(link.open(com, kDefaultBaudCode), error);
  QVERIFY(!link.isOpen());
  QVERIFY(!link.errorString().isEmpty());
  QVERIFY(!link.writeAll("@001RD67\r"));
}

void TestSerialLink::secondOpenOfSamePortIsBusy() {
  SerialLink first(*m_registry);
  SerialLink second(*m_registry);
  QCOMPARE(first.open(kPtyCom, kDefaultBaudCode), SerialLinkError::None);
  QCOMPARE(second.open(kPtyCom, kDefaultBaudCode), SerialLinkError::Busy);
  QVERIFY(!second.isOpen());
  QVERIFY(first.isOpen());

  // The failed attempt must not have disturbed the first link.
  QVERIFY(first.writeAll("ok"));
  QCOMPARE(m_pty->readMaster(2), QByteArray("ok"));

  // Released on close: the port can be opened again.
  first.close();
  QCOMPARE(second.open(kPtyCom, kDefaultBaudCode), SerialLinkError::None);
}

void TestSerialLink::bytesPassUnchanged_data() {
  QTest::addColumn<QByteArray>("bytes");

  QTest::newRow("read request, address 1")
      << QByteArray::fromHex("40 30 30 31 52 44 36 37 0D");
  QTest::newRow("reply frame")
      << QByteArray::fromHex("40 30 30 31 52 44 30 32 34 33 32 31 30 35 31 0D");
  // CR/LF translation, XON/XOFF, signal and erase characters, 8th bit and NUL must all pass.
  QTest::newRow("control and 8-bit bytes")
      << QByteArray::fromHex("0D 0A 11 13 03 1A 1C 04 7F 08 15 17 00 FF 80 0D 0D 0A");
}

void TestSerialLink::bytesPassUnchanged() {
  QFETCH(QByteArray, bytes);

  SerialLink link(*m_registry);
  QCOMPARE(link.open(kPtyCom, kDefaultBaudCode), SerialLinkError::None);

  // Link to meter.
  QVERIFY(link.writeAll(bytes));
  QCOMPARE(m_pty->readMaster(bytes.size()).toHex(' '), bytes.toHex(' '));

  // Meter to link, possibly in several pieces.
  QByteArray received;
  connect(&link, &SerialLink::bytesReceived, this,
          [&received](const QByteArray &b) { received += b; });
  QVERIFY(m_pty->writeMaster(bytes));
  QTRY_COMPARE(received.size(), bytes.size());
  QCOMPARE(received.toHex(' '), bytes.toHex(' '));

  // Nothing was echoed back to the meter (an echo would be queued before the link read).
  QCOMPARE(m_pty->readMaster(1, 0), QByteArray());
}

void TestSerialLink::inputBeforeOpenIsDropped_data() {
  QTest::addColumn<QByteArray>("before");

  QTest::newRow("whole frames") << QByteArray("@001RD024321051\r@001RD130005050\r");
  QTest::newRow("a torn frame") << QByteArray("@001RD0243");
  QTest::newRow("a line of text") << QByteArray("ab\n");
}

// Frames a meter sent while the port was closed must not reach the first wait after the open.
void TestSerialLink::inputBeforeOpenIsDropped() {
  QFETCH(QByteArray, before);

  SerialLink link(*m_registry);
  // Opened and closed once, so the line is raw as the meters' lines are.
  QCOMPARE(link.open(kPtyCom, kDefaultBaudCode), SerialLinkError::None);
  link.close();
  QVERIFY(m_pty->writeMaster(before));

  QCOMPARE(link.open(kPtyCom, kDefaultBaudCode), SerialLinkError::None);
  QByteArray received;
  connect(&link, &SerialLink::bytesReceived, this,
          [&received](const QByteArray &b) { received += b; });
  const QByteArray fresh("@002RD024321052\r");
  QVERIFY(m_pty->writeMaster(fresh));
  QTRY_VERIFY(received.size() >= fresh.size());
  QCOMPARE(received, fresh);
}

void TestSerialLink::writeFromAnotherThread() {
  SerialLink link(*m_registry);
  QCOMPARE(link.open(kPtyCom, kDefaultBaudCode), SerialLinkError::None);

  const QByteArray request = QByteArray::fromHex("40 30 31 30 52 44 36 37 0D");
  constexpr int kRequests = 50;
  std::atomic<int> written{0};
  std::unique_ptr<QThread> poller(QThread::create([&] {
    for (int i = 0; i < kRequests; ++i)
      if (link.writeAll(request))
        ++written;
  }));
  poller->start();
  const QByteArray got = m_pty->readMaster(request.size() * kRequests);
  QVERIFY(poller->wait(5000));
  QCOMPARE(written.load(), kRequests);
  QCOMPARE(got, request.repeated(kRequests));
}

void TestSerialLink::writeFailsWhenClosed() {
  SerialLink link(*m_registry);
  QVERIFY(!link.writeAll("x")); // never opened
  QCOMPARE(link.open(kPtyCom, kDefaultBaudCode), SerialLinkError::None);
  QVERIFY(link.writeAll("x"));
  link.close();
  QVERIFY(!link.isOpen());
  QVERIFY(!link.writeAll("y"));
  QCOMPARE(m_pty->readMaster(1), QByteArray("x"));
  QCOMPARE(m_pty->readMaster(1, 0), QByteArray());
}

void TestSerialLink::hangupIsReported() {
  SerialLink link(*m_registry);
  QSignalSpy errors(&link, &SerialLink::errorOccurred);
  QCOMPARE(link.open(kPtyCom, kDefaultBaudCode), SerialLinkError::None);

  m_pty->closeMaster();
  QVERIFY(errors.wait(5000));
  QCOMPARE(errors.size(), 1);
  QVERIFY(errors.at(0).at(0).toString().startsWith(QStringLiteral("COM5")));
  QVERIFY(!link.isOpen());
  QVERIFY(!link.writeAll("@001RD67\r"));

  // Reported once, not once per failing read.
  QCoreApplication::processEvents();
  QCOMPARE(errors.size(), 1);
}

QTEST_GUILESS_MAIN(TestSerialLink)
#include "tst_seriallink.moc"
