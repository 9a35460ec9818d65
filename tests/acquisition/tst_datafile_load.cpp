// The data file loader: status codes on good and damaged files, round trip, duration text.
#include "common/LeBytes.h"
#include "acquisition/DataBlock.h"
#include "acquisition/DataFileWriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using namespace lebytes;

QByteArray head(qint32 n) { return hex("17") + QByteArray("ZERVO Data File ver 1.0") + hex("0000") + le32(n); }

// Channel record: number, physical 9, title "通道1", unit "V", range -1..1, scale 2, offset 0.5.
QByteArray record(qint32 number) {
  return le32(number) + le32(9) + hex("05cda8b5c031") + QByteArray(15, '\0') + hex("0156") + QByteArray(19, '\0') +
         le64(-1.0) + le64(1.0) + le64(2.0) + le64(0.5);
}

}  // namespace

class TestDataFileLoad : public QObject {
  Q_OBJECT

private slots:
  void status_data();
  void status();
  void trailingBytes_data();
  void trailingBytes();
  void channelRecordsAreParsed();
  void unreadablePaths_data();
  void unreadablePaths();
  void roundTrip();
  void durationText_data();
  void durationText();

private:
  QString writeFile(const QString &name, const QByteArray &bytes);
  QTemporaryDir m_dir;
};

QString TestDataFileLoad::writeFile(const QString &name, const QByteArray &bytes) {
  const QString path = m_dir.filePath(name);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
    return {};
  return path;
}

void TestDataFileLoad::status_data() {
  QTest::addColumn<QByteArray>("bytes");
  QTest::addColumn<int>("status");
  QTest::addColumn<qint32>("channelCount");
  QTest::addColumn<qint64>("sampleCount");
  QTest::addColumn<qint64>("loadedCount");
  QTest::addColumn<double>("lastTime");

  const QByteArray good1 = head(1) + record(1);
  const QByteArray twoSamples = sample(0, 1.25, 10.0) + sample(0, -7.5, 3723004.0);

  QTest::newRow("good") << good1 + twoSamples << 0 << 1 << qint64(2) << qint64(2) << 3723004.0;
  QTest::newRow("19 trailing bytes ignored") << good1 + twoSamples + QByteArray(19, '\x7f') << 0 << 1 << qint64(2)
                                             << qint64(2) << 3723004.0;
  QTest::newRow("last sample, not the latest time") << good1 + sample(0, 1, 50.0) + sample(0, 2, 20.0) << 0 << 1
                                                    << qint64(2) << qint64(2) << 20.0;
  QTest::newRow("two channels") << head(2) + record(1) + record(2) + twoSamples << 0 << 2 << qint64(2) << qint64(2)
                                << 3723004.0;

  QTest::newRow("length byte 22") << hex("16") + (good1 + twoSamples).mid(1) << 100 << 0 << qint64(0) << qint64(0)
                                  << 0.0;
  QTest::newRow("other version") << hex("17") + QByteArray("ZERVO Data File ver 1.1") + hex("0000") + le32(1) +
                                        record(1) + twoSamples
                                 << 100 << 0 << qint64(0) << qint64(0) << 0.0;
  QTest::newRow("empty file") << QByteArray() << 100 << 0 << qint64(0) << qint64(0) << 0.0;
  QTest::newRow("shorter than magic") << head(1).left(10) << 100 << 0 << qint64(0) << qint64(0) << 0.0;
  QTest::newRow("head cut after magic") << head(1).left(27) << 105 << 0 << qint64(0) << qint64(0) << 0.0;

  QTest::newRow("N = 0") << head(0) + twoSamples << 103 << 0 << qint64(0) << qint64(0) << 0.0;
  QTest::newRow("N negative") << head(-3) + record(1) + twoSamples << 103 << -3 << qint64(0) << qint64(0) << 0.0;

  QTest::newRow("no sample") << good1 << 104 << 1 << qint64(0) << qint64(0) << 0.0;
  QTest::newRow("19 bytes, no whole sample") << good1 + QByteArray(19, '\1') << 104 << 1 << qint64(0) << qint64(0)
                                             << 0.0;

  QTest::newRow("N = 2^31-1") << head(std::numeric_limits<qint32>::max()) + record(1) + twoSamples << 105
                              << std::numeric_limits<qint32>::max() << qint64(0) << qint64(0) << 0.0;
  // 3 records claimed, 2 present and the samples would fill part of the third.
  QTest::newRow("channel records cut") << head(3) + record(1) + record(2) + twoSamples << 105 << 3 << qint64(0)
                                       << qint64(0) << 0.0;
}

// What a crash leaves: the file cut anywhere inside a record loads to the last whole record and
// says how much of the cut record it ignored.
void TestDataFileLoad::trailingBytes_data() {
  QTest::addColumn<QByteArray>("bytes");
  QTest::addColumn<int>("status");
  QTest::addColumn<qint64>("loadedCount");
  QTest::addColumn<qint64>("trailing");
  QTest::addColumn<double>("lastTime");

  const QByteArray good1 = head(1) + record(1);
  const QByteArray three = sample(0, 1.0, 1.0) + sample(0, 2.0, 2.0) + sample(0, 3.0, 3.0);
  QTest::newRow("whole records") << good1 + three << 0 << qint64(3) << qint64(0) << 3.0;
  QTest::newRow("cut after the channel index") << good1 + three + sample(0, 4.0, 4.0).left(4) << 0 << qint64(3)
                                               << qint64(4) << 3.0;
  QTest::newRow("cut one byte short") << good1 + three + sample(0, 4.0, 4.0).left(19) << 0 << qint64(3)
                                      << qint64(19) << 3.0;
  QTest::newRow("one byte of a record") << good1 + three + QByteArray(1, '\0') << 0 << qint64(3) << qint64(1) << 3.0;
  QTest::newRow("cut inside the first record") << good1 + sample(0, 4.0, 4.0).left(7) << 104 << qint64(0)
                                               << qint64(7) << 0.0;
  QTest::newRow("channel records only") << good1 << 104 << qint64(0) << qint64(0) << 0.0;
}

void TestDataFileLoad::trailingBytes() {
  QFETCH(QByteArray, bytes);
  QFETCH(int, status);
  QFETCH(qint64, loadedCount);
  QFETCH(qint64, trailing);
  QFETCH(double, lastTime);
  const QString path = writeFile(QStringLiteral("cut.zvdat"), bytes);
  QVERIFY(!path.isEmpty());
  const TDataBlock block = TDataBlock::load(path);
  QCOMPARE(static_cast<int>(block.status), status);
  QCOMPARE(block.loadedCount, loadedCount);
  QCOMPARE(block.trailingBytes, trailing);
  QCOMPARE(block.lastTime, lastTime);
}

void TestDataFileLoad::status() {
  QFETCH(QByteArray, bytes);
  QFETCH(int, status);
  QFETCH(qint32, channelCount);
  QFETCH(qint64, sampleCount);
  QFETCH(qint64, loadedCount);
  QFETCH(double, lastTime);

  const QString path = writeFile(QStringLiteral("status.zvdat"), bytes);
  QVERIFY(!path.isEmpty());
  const TDataBlock block = TDataBlock::load(path);
  QCOMPARE(static_cast<int>(block.status), status);
  QCOMPARE(block.fileName, path);
  QCOMPARE(block.channelCount, channelCount);
  QCOMPARE(block.sampleCount, sampleCount);
  QCOMPARE(block.loadedCount, loadedCount);
  QCOMPARE(qint64(block.samples.size()), loadedCount);
  QCOMPARE(block.lastTime, lastTime);
  if (status == 0 || status == 104)
    QCOMPARE(block.channels.size(), qsizetype(channelCount));
  else
    QVERIFY(block.channels.isEmpty());
  if (status != 100 && bytes.size() >= 30)
    QCOMPARE(QByteArray(block.head.data(), 30), bytes.left(30));

  // The same bytes from memory give the same block.
  const TDataBlock fromMemory = TDataBlock::loadBytes(bytes, QStringLiteral("memory.zvdat"));
  QCOMPARE(fromMemory.fileName, QStringLiteral("memory.zvdat"));
  QCOMPARE(fromMemory.status, block.status);
  QCOMPARE(fromMemory.channelCount, block.channelCount);
  QCOMPARE(fromMemory.sampleCount, block.sampleCount);
  QCOMPARE(fromMemory.loadedCount, block.loadedCount);
  QCOMPARE(fromMemory.lastTime, block.lastTime);
  QCOMPARE(fromMemory.trailingBytes, block.trailingBytes);
  QCOMPARE(fromMemory.channels.size(), block.channels.size());
  QCOMPARE(fromMemory.samples.size(), block.samples.size());
  // memcmp must not be given the null data of an empty block.
  QVERIFY(block.samples.empty() ||
          std::memcmp(fromMemory.samples.data(), block.samples.data(),
                      block.samples.size() * sizeof(TSampleRecord)) == 0);
  QVERIFY(fromMemory.head == block.head);
}

void TestDataFileLoad::channelRecordsAreParsed() {
  const QByteArray bytes = head(2) + record(1) + record(2) + sample(1, 4.5, 12.0) + sample(0, -2.0, 13.0);
  const TDataBlock block = TDataBlock::load(writeFile(QStringLiteral("records.zvdat"), bytes));
  QCOMPARE(block.status, DataFileStatus::Loaded);

  const ChannelInfo expected{9, QStringLiteral("通道1"), QStringLiteral("V"), -1.0, 1.0, 2.0, 0.5};
  for (int i = 0; i < 2; ++i) {
    const auto rec = block.channelRecord(i);
    QVERIFY(rec.has_value());
    QCOMPARE(rec->number, i + 1);
    QCOMPARE(rec->info, expected);
  }
  QVERIFY(!block.channelRecord(2).has_value());
  QVERIFY(!block.channelRecord(-1).has_value());

  const TSampleRecord first = block.samples.at(0);
  const qint32 channel = first.Channel;
  const double value = first.Value;
  const double time = first.Time;
  QCOMPARE(channel, 1);
  QCOMPARE(value, 4.5);
  QCOMPARE(time, 12.0);
}

void TestDataFileLoad::unreadablePaths_data() {
  QTest::addColumn<QString>("path");
  QTest::newRow("missing file") << m_dir.filePath(QStringLiteral("missing.zvdat"));
  QTest::newRow("a folder") << m_dir.path();
  QTest::newRow("empty name") << QString();
}

void TestDataFileLoad::unreadablePaths() {
  QFETCH(QString, path);
  const TDataBlock block = TDataBlock::load(path);
  QCOMPARE(block.status, DataFileStatus::LoadFailed);
  QVERIFY(block.samples.empty());
  QCOMPARE(DataFileStatusText(block.status), QStringLiteral("failure while loading"));
}

void TestDataFileLoad::roundTrip() {
  const QList<ChannelInfo> channels = {
      {1, QStringLiteral("压力"), QStringLiteral("MPa"), 0.0, 25.0, 1.0, 0.0},
      {2, QStringLiteral("Temperature probe 2"), QStringLiteral("°C"), -40.0, 125.0, 0.1, -3.5},
      {12, QString(), QString(), 5.0, -5.0, 1e-3, 1e6},
  };
  std::vector<TSampleRecord> all;
  for (int i = 0; i < 2500; ++i)
    all.push_back({i % 3, std::sin(i) * 1000.0, double(i * 7)});

  const QString path = m_dir.filePath(QStringLiteral("roundtrip.zvdat"));
  DataFileWriter writer;
  QVERIFY(writer.open(path));
  QVERIFY(writer.writeHead(channels));
  // Passes of varying size, as the read thread drains the ring.
  size_t at = 0;
  for (size_t len = 1; at < all.size(); len = len * 3 % 997 + 1) {
    const size_t n = std::min(len, all.size() - at);
    QVERIFY(writer.append(std::span<const TSampleRecord>(all).subspan(at, n)));
    at += n;
  }
  QVERIFY(writer.close());

  const TDataBlock block = TDataBlock::load(path);
  QCOMPARE(block.status, DataFileStatus::Loaded);
  QCOMPARE(block.channelCount, 3);
  QCOMPARE(block.sampleCount, qint64(all.size()));
  QCOMPARE(block.loadedCount, qint64(all.size()));
  QCOMPARE(block.lastTime, 2499.0 * 7);
  QCOMPARE(block.channels.size(), 3);
  for (int i = 0; i < 3; ++i) {
    QCOMPARE(block.channels[i].number, i + 1);
    QCOMPARE(block.channels[i].info, channels[i]);
  }
  QCOMPARE(block.samples.size(), all.size());
  QVERIFY(std::memcmp(block.samples.data(), all.data(), all.size() * sizeof(TSampleRecord)) == 0);
}

void TestDataFileLoad::durationText_data() {
  QTest::addColumn<double>("ms");
  QTest::addColumn<QString>("text");
  QTest::newRow("zero") << 0.0 << QStringLiteral("0小时0分钟0秒0毫秒");
  QTest::newRow("every field") << 3723004.0 << QStringLiteral("1小时2分钟3秒4毫秒");
  QTest::newRow("rounded to ms") << 1499.6 << QStringLiteral("0小时0分钟1秒500毫秒");
  QTest::newRow("past a day") << 90061001.0 << QStringLiteral("25小时1分钟1秒1毫秒");
  QTest::newRow("negative reads 0") << -5000.0 << QStringLiteral("0小时0分钟0秒0毫秒");
  QTest::newRow("NaN reads 0") << std::nan("") << QStringLiteral("0小时0分钟0秒0毫秒");
  QTest::newRow("huge held at 2^53") << 1e300 << QStringLiteral("2501999792小时59分钟0秒992毫秒");
}

void TestDataFileLoad::durationText() {
  QFETCH(double, ms);
  QFETCH(QString, text);
  QCOMPARE(DurationText(ms), text);
}

QTEST_GUILESS_MAIN(TestDataFileLoad)
#include "tst_datafile_load.moc"
