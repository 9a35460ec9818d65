// The data file writer: bytes on disk against bytes written out by hand, and failures.
#include "acquisition/DataBlock.h"
#include "acquisition/DataFileWriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(QByteArray(text)); }

QByteArray readAll(const QString &path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Limits the size of files this process may write, and lets write(2) report EFBIG
// instead of killing the process. Restores both on destruction.
class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &m_saved);
    m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = m_saved;
    limit.rlim_cur = bytes;
    m_ok = setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &m_saved);
    std::signal(SIGXFSZ, m_previousHandler);
  }
  FileSizeLimit(const FileSizeLimit &) = delete;
  FileSizeLimit &operator=(const FileSizeLimit &) = delete;
  [[nodiscard]] bool ok() const { return m_ok; }

private:
  rlimit m_saved{};
  void (*m_previousHandler)(int) = nullptr;
  bool m_ok = false;
};

}  // namespace

class TestDataFileWriter : public QObject {
  Q_OBJECT

private slots:
  void headRecordsAndSamples();
  void shortStringCut_data();
  void shortStringCut();
  void cannotCreate_data();
  void cannotCreate();
  void diskFull();
  void shortWriteKeepsWholeRecords();
  void misuseIsRefused();

private:
  QTemporaryDir m_dir;
};

void TestDataFileWriter::headRecordsAndSamples() {
  const QString path = m_dir.filePath(QStringLiteral("two.zvdat"));
  DataFileWriter writer;
  QVERIFY(writer.open(path));
  const QList<ChannelInfo> channels = {
      {3, QStringLiteral("通道1"), QStringLiteral("kg"), 0.0, 100.0, 1.0, 0.0},
      {7, QStringLiteral("Load"), QString(), -50.0, 50.0, 2.5, -1.0},
  };
  QVERIFY(writer.writeHead(channels));
  const std::vector<TSampleRecord> pass1 = {{0, 12.5, 1000.0}, {1, -3.25, 1500.0}};
  const std::vector<TSampleRecord> pass2 = {{0, 100.0, 2500.0}};
  QVERIFY(writer.append(pass1));
  QVERIFY(writer.append(pass2));
  QVERIFY(writer.append({}));
  QVERIFY(writer.flush());
  QCOMPARE(writer.sampleCount(), 3);
  QVERIFY(writer.close());

  QByteArray expected;
  // Head: length byte 23, magic, two reserved zero bytes, N = 2.
  expected += hex("17") + QByteArray("ZERVO Data File ver 1.0") + hex("0000") + hex("02000000");
  // Channel 1: number 1, physical 3, "通道1" in GBK, "kg", 0, 100, 1, 0.
  expected += hex("01000000" "03000000");
  expected += hex("05" "cda8b5c031" "000000000000000000000000000000");
  expected += hex("02" "6b67" "000000000000000000000000000000000000");
  expected += hex("0000000000000000" "0000000000005940" "000000000000f03f" "0000000000000000");
  // Channel 2: number 2, physical 7, "Load", empty unit, -50, 50, 2.5, -1.
  expected += hex("02000000" "07000000");
  expected += hex("04" "4c6f6164" "00000000000000000000000000000000");
  expected += hex("00" "0000000000000000000000000000000000000000");
  expected += hex("00000000000049c0" "0000000000004940" "0000000000000440" "000000000000f0bf");
  // Samples: channel, value, time.
  expected += hex("00000000" "0000000000002940" "0000000000408f40");
  expected += hex("01000000" "0000000000000ac0" "0000000000709740");
  expected += hex("00000000" "0000000000005940" "000000000088a340");

  QCOMPARE(expected.size(), 30 + 2 * 82 + 3 * 20);
  QCOMPARE(readAll(path).toHex(' '), expected.toHex(' '));
}

void TestDataFileWriter::shortStringCut_data() {
  QTest::addColumn<QString>("title");
  QTest::addColumn<QByteArray>("field");  // the 21-byte short string as stored
  QTest::addColumn<QString>("readBack");

  QTest::newRow("20 ascii fit") << QStringLiteral("ABCDEFGHIJKLMNOPQRST")
                                << hex("14" "4142434445464748494a4b4c4d4e4f5051525354")
                                << QStringLiteral("ABCDEFGHIJKLMNOPQRST");
  QTest::newRow("25 ascii cut to 20") << QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXY")
                                      << hex("14" "4142434445464748494a4b4c4d4e4f5051525354")
                                      << QStringLiteral("ABCDEFGHIJKLMNOPQRST");
  // 1 + 10 x 2 bytes: byte 20 would be the first half of the last 道, so it goes whole.
  QTest::newRow("odd cut before double byte")
      << QStringLiteral("A通道通道通道通道通道")
      << hex("13" "41" "cda8b5c0cda8b5c0cda8b5c0cda8b5c0cda8" "00")
      << QStringLiteral("A通道通道通道通道通");
  QTest::newRow("11 double bytes cut to 10") << QStringLiteral("通道通道通道通道通道通")
                                             << hex("14" "cda8b5c0cda8b5c0cda8b5c0cda8b5c0cda8b5c0")
                                             << QStringLiteral("通道通道通道通道通道");
  QTest::newRow("empty") << QString() << hex("00" "0000000000000000000000000000000000000000") << QString();
}

void TestDataFileWriter::shortStringCut() {
  QFETCH(QString, title);
  QFETCH(QByteArray, field);
  QFETCH(QString, readBack);

  const QString path = m_dir.filePath(QStringLiteral("cut.zvdat"));
  DataFileWriter writer;
  QVERIFY(writer.open(path));
  QVERIFY(writer.writeHead({{1, title, title, 0.0, 1.0, 1.0, 0.0}}));
  const std::vector<TSampleRecord> one = {{0, 1.0, 0.0}};
  QVERIFY(writer.append(one));
  QVERIFY(writer.close());

  const QByteArray bytes = readAll(path);
  QCOMPARE(bytes.mid(30 + 8, 21).toHex(' '), field.toHex(' '));   // title
  QCOMPARE(bytes.mid(30 + 29, 21).toHex(' '), field.toHex(' '));  // unit
  const TDataBlock block = TDataBlock::load(path);
  QCOMPARE(block.status, DataFileStatus::Loaded);
  QCOMPARE(block.channels.at(0).info.title, readBack);
  QCOMPARE(block.channels.at(0).info.measureUnit, readBack);
}

void TestDataFileWriter::cannotCreate_data() {
  QTest::addColumn<QString>("path");
  QTest::addColumn<bool>("needsNonRoot");
  QTest::newRow("missing folder") << m_dir.filePath(QStringLiteral("no/such/folder/a.zvdat")) << false;
  QTest::newRow("path is a folder") << m_dir.path() << false;
  QTest::newRow("read-only folder") << m_dir.filePath(QStringLiteral("ro/a.zvdat")) << true;
  // Not even root may create files here.
  QTest::newRow("proc file system") << QStringLiteral("/proc/zervo-test.zvdat") << false;
}

void TestDataFileWriter::cannotCreate() {
  QFETCH(QString, path);
  QFETCH(bool, needsNonRoot);
  if (needsNonRoot) {
    if (::geteuid() == 0)
      QSKIP("root writes into read-only folders");
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("ro")));
    QVERIFY(QFile::setPermissions(m_dir.filePath(QStringLiteral("ro")), QFile::ReadOwner | QFile::ExeOwner));
  }

  DataFileWriter writer;
  QVERIFY(!writer.open(path));
  QCOMPARE(writer.error(), DataFileWriteError::CannotCreate);
  QVERIFY(writer.errorString().contains(path));
  QVERIFY(!writer.isOpen());
  // Nothing after a failed open pretends to work.
  QVERIFY(!writer.writeHead({{1, {}, {}, 0, 1, 1, 0}}));
  QVERIFY(!writer.close());
}

void TestDataFileWriter::diskFull() {
  if (!QFile::exists(QStringLiteral("/dev/full")))
    QSKIP("no /dev/full here");
  DataFileWriter writer;
  QVERIFY(writer.open(QStringLiteral("/dev/full")));
  QVERIFY(!writer.writeHead({{1, QStringLiteral("a"), QStringLiteral("b"), 0, 1, 1, 0}}));
  QCOMPARE(writer.error(), DataFileWriteError::NoSpace);
  QVERIFY(!writer.errorString().isEmpty());
  const std::vector<TSampleRecord> one = {{0, 1.0, 0.0}};
  QVERIFY(!writer.append(one));
  QCOMPARE(writer.sampleCount(), 0);
}

void TestDataFileWriter::shortWriteKeepsWholeRecords() {
  const QString path = m_dir.filePath(QStringLiteral("short.zvdat"));
  const qint64 headEnd = 30 + 82;
  std::vector<TSampleRecord> pass;
  for (int i = 0; i < 5; ++i)
    pass.push_back({0, i * 1.5, i * 100.0});

  DataFileWriter writer;
  QVERIFY(writer.open(path));
  QVERIFY(writer.writeHead({{1, QStringLiteral("x"), QString(), 0, 1, 1, 0}}));
  {
    // Room for two samples and 7 bytes of a third.
    FileSizeLimit limit(static_cast<rlim_t>(headEnd + 2 * 20 + 7));
    QVERIFY(limit.ok());
    QVERIFY(!writer.append(pass));
  }
  QCOMPARE(writer.error(), DataFileWriteError::NoSpace);
  QCOMPARE(writer.sampleCount(), 2);
  // The writer is done once it failed: a later pass would leave a hole in the recording.
  QVERIFY(!writer.append(pass));
  QVERIFY(!writer.close());

  QCOMPARE(QFileInfo(path).size(), headEnd + 2 * 20);
  const TDataBlock block = TDataBlock::load(path);
  QCOMPARE(block.status, DataFileStatus::Loaded);
  QCOMPARE(block.loadedCount, 2);
  QCOMPARE(block.lastTime, 100.0);
}

void TestDataFileWriter::misuseIsRefused() {
  const std::vector<TSampleRecord> one = {{0, 1.0, 0.0}};
  {
    DataFileWriter writer;  // never opened
    QVERIFY(!writer.append(one));
    QCOMPARE(writer.error(), DataFileWriteError::NotReady);
  }
  {
    DataFileWriter writer;  // samples before the head would make an unreadable file
    QVERIFY(writer.open(m_dir.filePath(QStringLiteral("nohead.zvdat"))));
    QVERIFY(!writer.append(one));
    QCOMPARE(writer.error(), DataFileWriteError::NotReady);
    QCOMPARE(QFileInfo(writer.fileName()).size(), 0);
  }
  {
    DataFileWriter writer;
    QVERIFY(writer.open(m_dir.filePath(QStringLiteral("twice.zvdat"))));
    QVERIFY(writer.writeHead({{1, {}, {}, 0, 1, 1, 0}}));
    QVERIFY(!writer.writeHead({{1, {}, {}, 0, 1, 1, 0}}));
    QCOMPARE(writer.error(), DataFileWriteError::NotReady);
    QCOMPARE(QFileInfo(writer.fileName()).size(), 30 + 82);
  }
}

QTEST_GUILESS_MAIN(TestDataFileWriter)
#include "tst_datafile_writer.moc"
