// The streaming reader against the whole-file loader: same status, counts and samples for good
// and damaged files, whatever the chunk size and wherever a chunk cuts a record.
#include "common/LeBytes.h"
#include "acquisition/DataBlock.h"
#include "acquisition/DataFileReader.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using namespace lebytes;

QByteArray head(qint32 n) { return hex("17") + QByteArray("ZERVO Data File ver 1.0") + hex("0000") + le32(n); }

QByteArray records(qint32 n) {
  QByteArray b;
  for (qint32 i = 0; i < n; ++i)
    b += le32(i + 1) + le32(i + 7) + hex("0141") + QByteArray(19, '\0') + hex("0156") + QByteArray(19, '\0') +
         le64(-1.0) + le64(1.0) + le64(2.0) + le64(0.5);
  return b;
}

QByteArray samples(int count, int channels, int foreignEvery = 0) {
  QByteArray b;
  for (int k = 0; k < count; ++k) {
    const qint32 ch = foreignEvery > 0 && k % foreignEvery == 0 ? 57 : k % channels;
    b += sample(ch, 0.25 * k - 3, 10.0 * k);
  }
  return b;
}

bool sameSample(const TSampleRecord &a, const TSampleRecord &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

class TestDataFileReader : public QObject {
  Q_OBJECT
  QTemporaryDir m_dir;

private slots:
  void matchesTheWholeFileLoader_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("chunkBytes");
    struct File {
      const char *name;
      QByteArray bytes;
    };
    const std::vector<File> files{
        {"ordinary", head(3) + records(3) + samples(1000, 3)},
        {"cut last record", head(2) + records(2) + samples(301, 2) + sample(1, 9, 9).left(13)},
        {"foreign channel indexes", head(2) + records(2) + samples(500, 2, 7)},
        {"one sample", head(1) + records(1) + samples(1, 1)},
        {"no sample", head(2) + records(2)},
        {"partial sample only", head(2) + records(2) + QByteArray(19, '\x01')},
        {"wrong magic", QByteArray(300, 'x')},
        {"no channel", head(0) + samples(10, 1)},
        {"more channels than the file holds", head(1000) + records(2) + samples(10, 2)},
        {"head cut after the magic", head(2).left(27)},
        {"empty", QByteArray()},
    };
    // 1 and 7 cut nearly every record; 20 reads one record at a time; 4 MiB takes the whole file.
    for (const qint64 chunk : {qint64(1), qint64(7), qint64(20), qint64(33), qint64(20 * 64 + 3), qint64(4) << 20})
      for (const File &f : files)
        QTest::addRow("%s, %lld-byte reads", f.name, static_cast<long long>(chunk)) << f.bytes << chunk;
  }
  void matchesTheWholeFileLoader() {
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, chunkBytes);
    const QString path = m_dir.filePath("f.zvdat");
    {
      QFile f(path);
      QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
      QCOMPARE(f.write(bytes), qint64(bytes.size()));
    }
    const TDataBlock block = TDataBlock::load(path);

    DataFileReader reader(path, chunkBytes);
    std::vector<TSampleRecord> streamed;
    int chunks = 0;
    for (auto chunk = reader.next(); !chunk.empty(); chunk = reader.next()) {
      ++chunks;
      QVERIFY(chunk.size() * 20 <= static_cast<size_t>(chunkBytes) + 19);
      streamed.insert(streamed.end(), chunk.begin(), chunk.end());
      QCOMPARE(reader.bytesRead() / 20 >= qint64(streamed.size()), true);
    }
    QVERIFY(reader.atEnd());
    QVERIFY(reader.next().empty());

    const DataFileSummary &s = reader.summary();
    QCOMPARE(int(s.status), int(block.status));
    QCOMPARE(s.channelCount, block.channelCount);
    QCOMPARE(s.sampleCount, block.sampleCount);
    QCOMPARE(s.trailingBytes, block.trailingBytes);
    QCOMPARE(s.loadedCount, block.loadedCount);
    QCOMPARE(s.lastTime, block.lastTime);
    QCOMPARE(s.channels.size(), block.channels.size());
    for (qsizetype i = 0; i < s.channels.size(); ++i)
      QCOMPARE(s.channels[i].info, block.channels[i].info);
    QVERIFY(s.head == block.head);
    QCOMPARE(streamed.size(), block.samples.size());
    for (size_t i = 0; i < streamed.size(); ++i)
      QVERIFY2(sameSample(streamed[i], block.samples[i]), qPrintable(QString::number(i)));
    if (s.status == DataFileStatus::Loaded) {
      QCOMPARE(reader.bytesRead(), reader.bytesTotal());
      QCOMPARE(reader.bytesTotal(), block.sampleCount * 20);
      // Small reads really were small: the pass never held the whole file.
      if (reader.bytesTotal() >= 2 * std::max<qint64>(chunkBytes, 20))
        QVERIFY(chunks > 1);
    }
  }

  // A file that shrinks after its head was read keeps its whole records, like the loader.
  void fileCutDuringThePass() {
    const QString path = m_dir.filePath("shrinks.zvdat");
    const QByteArray bytes = head(1) + records(1) + samples(100, 1);
    {
      QFile f(path);
      QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
      f.write(bytes);
    }
    DataFileReader reader(path, 7 * 20);
    auto chunk = reader.next();
    QCOMPARE(chunk.size(), size_t(7));
    QVERIFY(QFile::resize(path, bytes.size() - 20 * 50 - 3));
    qint64 total = qint64(chunk.size());
    for (chunk = reader.next(); !chunk.empty(); chunk = reader.next())
      total += qint64(chunk.size());
    QCOMPARE(total, qint64(49));
    QCOMPARE(reader.summary().loadedCount, qint64(49));
    QCOMPARE(int(reader.summary().status), int(DataFileStatus::Loaded));
    QCOMPARE(reader.summary().lastTime, 480.0);
  }
};

QTEST_GUILESS_MAIN(TestDataFileReader)
#include "tst_datafile_reader.moc"
