#include "acquisition/SampleRing.h"

#include <QTest>

#include <cmath>
#include <cstring>
#include <thread>

namespace {
TSampleRecord Numbered(qint64 sequence) {
  return TSampleRecord{static_cast<qint32>(sequence % 11), static_cast<double>(sequence),
                       static_cast<double>(sequence / 3)};
}

// True when out holds the records numbered first.. in order.
bool InSequence(const std::vector<TSampleRecord> &out, qint64 first) {
  for (size_t i = 0; i < out.size(); ++i) {
    const qint64 expected = first + static_cast<qint64>(i);
    if (out[i].Value != static_cast<double>(expected) || out[i].Channel != expected % 11)
      return false;
  }
  return true;
}
}  // namespace

class TestSampleRing : public QObject {
  Q_OBJECT

private slots:
  void recordBytes();
  void indices_data();
  void indices();
  void wrapsFrom999To0();
  void fullRingHoldsOverflowInOrder_data();
  void fullRingHoldsOverflowInOrder();
  void resetDropsEverything();
  void timeStampsAreWholeMilliseconds();
  void producerAndConsumerThreads_data();
  void producerAndConsumerThreads();
};

void TestSampleRing::recordBytes() {
  const TSampleRecord record{3, 12.34, 1500.0};
  QByteArray bytes(sizeof record, '\0');
  std::memcpy(bytes.data(), &record, sizeof record);
  QCOMPARE(bytes, QByteArray::fromHex("03000000"           // channel
                                      "AE47E17A14AE2840"   // 12.34
                                      "0000000000709740"));  // 1500.0
}

void TestSampleRing::indices_data() {
  QTest::addColumn<int>("pushes");
  QTest::addColumn<int>("writeIndex");
  QTest::addColumn<bool>("empty");
  QTest::addColumn<quint64>("overflowEvents");
  QTest::newRow("none") << 0 << 0 << true << quint64(0);
  QTest::newRow("one") << 1 << 1 << false << quint64(0);
  QTest::newRow("999 pending is full") << 999 << 999 << false << quint64(0);
  QTest::newRow("1000th overflows") << 1000 << 999 << false << quint64(1);
}

void TestSampleRing::indices() {
  QFETCH(int, pushes);
  QFETCH(int, writeIndex);
  QFETCH(bool, empty);
  QFETCH(quint64, overflowEvents);

  SampleRing ring;
  for (int i = 0; i < pushes; ++i)
    ring.push(Numbered(i));
  QCOMPARE(ring.writeIndex(), writeIndex);
  QCOMPARE(ring.readIndex(), 0);
  QCOMPARE(ring.empty(), empty);
  QCOMPARE(ring.overflowEvents(), overflowEvents);
}

void TestSampleRing::wrapsFrom999To0() {
  SampleRing ring;
  std::vector<TSampleRecord> out;
  for (int i = 0; i < 999; ++i)
    ring.push(Numbered(i));
  QCOMPARE(ring.drain(out), qsizetype(999));
  QCOMPARE(ring.readIndex(), 999);
  QVERIFY(ring.empty());

  // The 1000th sample goes to position 999, the next to position 0.
  ring.push(Numbered(999));
  QCOMPARE(ring.writeIndex(), 0);
  ring.push(Numbered(1000));
  QCOMPARE(ring.writeIndex(), 1);
  QCOMPARE(ring.drain(out), qsizetype(2));
  QCOMPARE(ring.readIndex(), 1);
  QCOMPARE(out.size(), size_t(1001));
  QVERIFY(InSequence(out, 0));
  QCOMPARE(ring.overflowEvents(), quint64(0));
}

void TestSampleRing::fullRingHoldsOverflowInOrder_data() {
  QTest::addColumn<QList<int>>("bursts");  // records pushed between drains
  QTest::addColumn<quint64>("overflowEvents");
  QTest::addColumn<quint64>("overflowedSamples");
  QTest::newRow("5000 at once") << QList<int>{5000} << quint64(1) << quint64(4001);
  QTest::newRow("two bursts") << QList<int>{1500, 1500} << quint64(2) << quint64(2 * 501);
  QTest::newRow("reader keeps up") << QList<int>{999, 999, 999} << quint64(0) << quint64(0);
}

void TestSampleRing::fullRingHoldsOverflowInOrder() {
  QFETCH(QList<int>, bursts);
  QFETCH(quint64, overflowEvents);
  QFETCH(quint64, overflowedSamples);

  SampleRing ring;
  std::vector<TSampleRecord> out;
  qint64 sequence = 0;
  for (const int burst : bursts) {
    for (int i = 0; i < burst; ++i)
      ring.push(Numbered(sequence++));
    QCOMPARE(ring.drain(out), qsizetype(burst));
    QVERIFY(ring.empty());
  }
  QCOMPARE(qint64(out.size()), sequence);
  QVERIFY(InSequence(out, 0));
  QCOMPARE(ring.overflowEvents(), overflowEvents);
  QCOMPARE(ring.overflowedSamples(), overflowedSamples);

  // After the overflow is taken the ring is used again.
  const int before = ring.writeIndex();
  ring.push(Numbered(sequence));
  QCOMPARE(ring.writeIndex(), (before + 1) % SampleRing::kCapacity);
}

void TestSampleRing::resetDropsEverything() {
  SampleRing ring;
  for (int i = 0; i < 1200; ++i)
    ring.push(Numbered(i));
  ring.reset();
  QCOMPARE(ring.writeIndex(), 0);
  QCOMPARE(ring.readIndex(), 0);
  QVERIFY(ring.empty());
  std::vector<TSampleRecord> out;
  QCOMPARE(ring.drain(out), qsizetype(0));

  ring.push(Numbered(7));
  QCOMPARE(ring.drain(out), qsizetype(1));
  QVERIFY(InSequence(out, 7));
}

void TestSampleRing::timeStampsAreWholeMilliseconds() {
  SampleRing ring;
  const QDateTime start(QDate(2024, 3, 1), QTime(8, 30, 0));
  ring.setStartTime(start);
  QCOMPARE(ring.startTime(), start);

  QTRY_VERIFY(ring.elapsedMs() >= 2.0);
  ring.push(4, 1.5);
  ring.push(5, 2.5);
  std::vector<TSampleRecord> out;
  QCOMPARE(ring.drain(out), qsizetype(2));
  // Packed members are copied out: a reference to one would be misaligned.
  const qint32 channel = out[0].Channel;
  const double value = out[0].Value;
  const double first = out[0].Time;
  const double second = out[1].Time;
  QCOMPARE(channel, 4);
  QCOMPARE(value, 1.5);
  QVERIFY(first >= 2.0);
  QCOMPARE(std::trunc(first), first);
  QVERIFY(second >= first);
  QCOMPARE(std::trunc(second), second);
}

void TestSampleRing::producerAndConsumerThreads_data() {
  QTest::addColumn<bool>("pacedWriter");  // yields after every push, so the ring rarely fills
  QTest::addColumn<int>("lag");           // yields of the reader after each pass
  QTest::newRow("paced writer") << true << 0;
  QTest::newRow("writer outruns reader") << false << 0;
  QTest::newRow("lagging reader") << false << 200;
}

void TestSampleRing::producerAndConsumerThreads() {
  QFETCH(bool, pacedWriter);
  QFETCH(int, lag);
  const qint64 records = pacedWriter ? 200'000 : 2'000'000;
  SampleRing ring;
  std::thread producer([&ring, pacedWriter, records] {
    for (qint64 i = 0; i < records; ++i) {
      ring.push(Numbered(i));
      if (pacedWriter)
        std::this_thread::yield();
    }
  });

  std::vector<TSampleRecord> pass;
  qint64 next = 0;
  bool inOrder = true;
  while (next < records && inOrder) {
    pass.clear();
    if (ring.drain(pass) == 0) {
      std::this_thread::yield();
      continue;
    }
    inOrder = InSequence(pass, next);
    next += static_cast<qint64>(pass.size());
    for (int i = 0; i < lag; ++i)
      std::this_thread::yield();
  }
  producer.join();

  QVERIFY(inOrder);
  QCOMPARE(next, records);
  pass.clear();
  QCOMPARE(ring.drain(pass), qsizetype(0));
  QVERIFY(ring.empty());
}

QTEST_APPLESS_MAIN(TestSampleRing)
#include "tst_samplering.moc"
