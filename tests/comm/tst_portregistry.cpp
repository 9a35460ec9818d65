#include "app/ProfileStore.h"
#include "comm/PortRegistry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

namespace {

// Sys.ini with the given lines under [Serial Ports], written byte for byte.
bool writeIni(const QString &path, const QStringList &serialPortLines) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
    return false;
  QByteArray text = "[System Options]\r\nSYS_MAX_METER_NO=10\r\n\r\n[Serial Ports]\r\n";
  for (const QString &line : serialPortLines)
    text += line.toLatin1() + "\r\n";
  text += "\r\n[Port Options]\r\nBaud=7\r\n";
  return f.write(text) == text.size();
}

// The section as it stands in the file, one "KEY=value" per entry, sorted for comparison.
QStringList sectionLines(const ProfileStore &store) {
  QStringList lines;
  const auto entries = store.readSection(QStringLiteral("Serial Ports"));
  for (const auto &[key, value] : entries)
    lines.append(key + QLatin1Char('=') + value);
  std::sort(lines.begin(), lines.end());
  return lines;
}

PortRegistry::DeviceLister devices(const QStringList &paths) {
  return [paths] { return paths; };
}

} // namespace

class TestPortRegistry : public QObject {
  Q_OBJECT
private slots:
  void init();

  void parseComKey_data();
  void parseComKey();

  void refreshAssignsLowestFreeNumber_data();
  void refreshAssignsLowestFreeNumber();
  void deviceKeepsItsNumberAcrossRuns();
  void linkedPathCountsAsTheSameDevice();
  void refreshFailsWhenAllNumbersAreTaken();

  void listPortsShowsExistingDevicesInNumericOrder();
  void devicePath_data();
  void devicePath();

private:
  std::unique_ptr<QTemporaryDir> m_dir;
  QString m_ini;
};

void TestPortRegistry::init() {
  m_dir = std::make_unique<QTemporaryDir>();
  QVERIFY(m_dir->isValid());
  m_ini = m_dir->filePath(QStringLiteral("Sys.ini"));
}

void TestPortRegistry::parseComKey_data() {
  QTest::addColumn<QString>("key");
  QTest::addColumn<int>("number"); // 0: not a port key

  QTest::newRow("COM1") << "COM1" << 1;
  QTest::newRow("COM42") << "COM42" << 42;
  QTest::newRow("COM999") << "COM999" << 999;
  QTest::newRow("lower case") << "com7" << 7;
  QTest::newRow("COM0") << "COM0" << 0;
  QTest::newRow("COM1000") << "COM1000" << 0;
  QTest::newRow("COMx") << "COMx" << 0;
  QTest::newRow("COM alone") << "COM" << 0;
  QTest::newRow("leading zero") << "COM07" << 0;
  QTest::newRow("trailing letter") << "COM3a" << 0;
  QTest::newRow("inner space") << "COM 3" << 0;
  QTest::newRow("sign") << "COM+3" << 0;
  QTest::newRow("negative") << "COM-3" << 0;
  QTest::newRow("prefix") << "XCOM3" << 0;
  QTest::newRow("other name") << "TTY3" << 0;
}

void TestPortRegistry::parseComKey() {
  QFETCH(QString, key);
  QFETCH(int, number);
  QCOMPARE(PortRegistry::parseComKey(key).value_or(0), number);
}

void TestPortRegistry::refreshAssignsLowestFreeNumber_data() {
  QTest::addColumn<QStringList>("before");
  QTest::addColumn<QStringList>("found");
  QTest::addColumn<QStringList>("after");

  QTest::newRow("empty section")
      << QStringList{} << QStringList{"/dev/ttyUSB0", "/dev/ttyS0"}
      << QStringList{"COM1=/dev/ttyS0", "COM2=/dev/ttyUSB0"};
  QTest::newRow("fills the gaps")
      << QStringList{"COM1=/dev/ttyS0", "COM3=/dev/pts/9"}
      << QStringList{"/dev/ttyUSB0", "/dev/ttyS0", "/dev/ttyUSB1"}
      << QStringList{"COM1=/dev/ttyS0", "COM2=/dev/ttyUSB0", "COM3=/dev/pts/9",
                     "COM4=/dev/ttyUSB1"};
  QTest::newRow("mapped devices are not added again")
      << QStringList{"COM5=/dev/ttyUSB0"} << QStringList{"/dev/ttyUSB0"}
      << QStringList{"COM5=/dev/ttyUSB0"};
  QTest::newRow("device numbers in numeric order")
      << QStringList{} << QStringList{"/dev/ttyS10", "/dev/ttyS2", "/dev/ttyS1"}
      << QStringList{"COM1=/dev/ttyS1", "COM2=/dev/ttyS2", "COM3=/dev/ttyS10"};
  QTest::newRow("bad keys hold no number and stay in the file")
      << QStringList{"COMx=/dev/a", "COM0=/dev/b", "COM1000=/dev/c", "COM=/dev/d"}
      << QStringList{"/dev/ttyUSB0"}
      << QStringList{"COM0=/dev/b", "COM1000=/dev/c", "COM1=/dev/ttyUSB0", "COM=/dev/d",
                     "COMx=/dev/a"};
  QTest::newRow("a key with an empty path is free")
      << QStringList{"COM1="} << QStringList{"/dev/ttyUSB0"}
      << QStringList{"COM1=/dev/ttyUSB0"};
  QTest::newRow("nothing found") << QStringList{"COM2=/dev/ttyS1"} << QStringList{}
                                 << QStringList{"COM2=/dev/ttyS1"};
}

void TestPortRegistry::refreshAssignsLowestFreeNumber() {
  QFETCH(QStringList, before);
  QFETCH(QStringList, found);
  QFETCH(QStringList, after);

  QVERIFY(writeIni(m_ini, before));
  ProfileStore store(m_ini);
  PortRegistry registry(store, devices(found));
  QVERIFY(registry.refresh());
  QCOMPARE(sectionLines(store), after);
  // The rest of the file is untouched.
  QCOMPARE(store.readInteger(QStringLiteral("Port Options"), QStringLiteral("Baud"), -1), 7);
}

void TestPortRegistry::deviceKeepsItsNumberAcrossRuns() {
  {
    ProfileStore store(m_ini);
    PortRegistry first(store, devices({"/dev/ttyUSB0", "/dev/ttyUSB1"}));
    QVERIFY(first.refresh());
  }
  // Next run: USB0 is unplugged, a new adapter appeared.
  ProfileStore store(m_ini);
  PortRegistry second(store, devices({"/dev/ttyUSB2", "/dev/ttyUSB1"}));
  QVERIFY(second.refresh());
  QCOMPARE(sectionLines(store),
           (QStringList{"COM1=/dev/ttyUSB0", "COM2=/dev/ttyUSB1", "COM3=/dev/ttyUSB2"}));

  // USB0 back again: still COM1, nothing new written.
  PortRegistry third(store, devices({"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2"}));
  QVERIFY(third.refresh());
  QCOMPARE(sectionLines(store),
           (QStringList{"COM1=/dev/ttyUSB0", "COM2=/dev/ttyUSB1", "COM3=/dev/ttyUSB2"}));
}

void TestPortRegistry::linkedPathCountsAsTheSameDevice() {
  const QString link = m_dir->filePath(QStringLiteral("by-id-adapter"));
  QVERIFY(QFile::link(QStringLiteral("/dev/null"), link));
  QVERIFY(writeIni(m_ini, {QStringLiteral("COM4=") + link}));
  ProfileStore store(m_ini);
  PortRegistry registry(store, devices({"/dev/null"}));
  QVERIFY(registry.refresh());
  QCOMPARE(sectionLines(store), QStringList{QStringLiteral("COM4=") + link});
}

void TestPortRegistry::refreshFailsWhenAllNumbersAreTaken() {
  QStringList full;
  for (int n = 1; n <= 999; ++n)
    full.append(QStringLiteral("COM%1=/dev/ttyX%1").arg(n));
  QVERIFY(writeIni(m_ini, full));
  ProfileStore store(m_ini);
  PortRegistry registry(store, devices({"/dev/ttyUSB0"}));
  QVERIFY(!registry.refresh());
  QCOMPARE(store.readSection(QStringLiteral("Serial Ports")).size(), 999);
}

void TestPortRegistry::listPortsShowsExistingDevicesInNumericOrder() {
  const QString plainFile = m_dir->filePath(QStringLiteral("not-a-device"));
  QFile f(plainFile);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.close();

  QVERIFY(writeIni(m_ini, {
                              "COM10=/dev/zero",
                              "COM2=/dev/null",
                              "com30=/dev/null",
                              "COM1=/dev/no-such-tty",
                              "COM3=" + plainFile,
                              "COM4=" + m_dir->path(),
                              "COM5=",
                              "COM0=/dev/null",
                              "COMx=/dev/null",
                              "COM1000=/dev/null",
                          }));
  ProfileStore store(m_ini);
  PortRegistry registry(store, devices({}));
  QCOMPARE(registry.listPorts(), (QList<int>{2, 10, 30}));
}

void TestPortRegistry::devicePath_data() {
  QTest::addColumn<int>("com");
  QTest::addColumn<QString>("path"); // empty: none

  QTest::newRow("mapped") << 2 << "/dev/null";
  QTest::newRow("mapped, device gone") << 1 << "/dev/no-such-tty";
  QTest::newRow("key in lower case") << 30 << "/dev/zero";
  QTest::newRow("not mapped") << 7 << "";
  QTest::newRow("zero") << 0 << "";
  QTest::newRow("above 999") << 1000 << "";
}

void TestPortRegistry::devicePath() {
  QFETCH(int, com);
  QFETCH(QString, path);

  // A key repeated in another spelling is read as its first occurrence, as by any other read.
  QVERIFY(writeIni(m_ini, {"COM2=/dev/null", "com2=/dev/zero", "COM1=/dev/no-such-tty",
                           "com30=/dev/zero", "COM0=/dev/null", "COM1000=/dev/null"}));
  ProfileStore store(m_ini);
  PortRegistry registry(store, devices({}));
  QCOMPARE(registry.devicePath(com).value_or(QString()), path);
}

QTEST_GUILESS_MAIN(TestPortRegistry)
#include "tst_portregistry.moc"
