#include "comm/PacketFramer.h"

#include <QTest>

namespace {
QByteArray Hex(const char *text) {
  return QByteArray::fromHex(QByteArray(text));
}

// Two real replies: 12.34 from address 1 and -5.0 from address 3.
const QByteArray kFrameA = Hex("40 30 30 31 52 44 30 32 34 33 32 31 30 35 31 0D");
const QByteArray kFrameB = Hex("40 30 30 33 52 44 31 33 30 30 30 35 30 35 32 0D");

QList<QByteArray> SplitEvery(const QByteArray &bytes, int size) {
  QList<QByteArray> chunks;
  for (qsizetype i = 0; i < bytes.size(); i += size)
    chunks << bytes.mid(i, size);
  return chunks;
}
}  // namespace

class TestPacketFramer : public QObject {
  Q_OBJECT

private slots:
  void chunks_data();
  void chunks();
  void resetDropsPartialFrame();
  void handlerMayResetOrFeed();
};

void TestPacketFramer::chunks_data() {
  QTest::addColumn<QList<QByteArray>>("chunks");
  QTest::addColumn<QList<QByteArray>>("frames");
  QTest::addColumn<int>("pending");

  QTest::newRow("one frame") << QList<QByteArray>{kFrameA} << QList<QByteArray>{kFrameA} << 0;
  QTest::newRow("byte by byte") << SplitEvery(kFrameA + kFrameB, 1)
                                << QList<QByteArray>{kFrameA, kFrameB} << 0;
  QTest::newRow("split after the @") << QList<QByteArray>{kFrameA.left(1), kFrameA.mid(1)}
                                      << QList<QByteArray>{kFrameA} << 0;
  QTest::newRow("split before the CR") << QList<QByteArray>{kFrameA.left(15), kFrameA.mid(15)}
                                        << QList<QByteArray>{kFrameA} << 0;
  QTest::newRow("two frames in one chunk") << QList<QByteArray>{kFrameA + kFrameB}
                                           << QList<QByteArray>{kFrameA, kFrameB} << 0;
  QTest::newRow("chunks across frame borders") << SplitEvery(kFrameA + kFrameB + kFrameA, 7)
                                               << QList<QByteArray>{kFrameA, kFrameB, kFrameA}
                                               << 0;
  QTest::newRow("garbage before") << QList<QByteArray>{"xyz\r\n" + kFrameA}
                                  << QList<QByteArray>{kFrameA} << 0;
  QTest::newRow("garbage between") << QList<QByteArray>{kFrameA + "\r\n\x01junk", kFrameB}
                                   << QList<QByteArray>{kFrameA, kFrameB} << 0;
  QTest::newRow("garbage only") << QList<QByteArray>{"no start here", "\r\n"}
                                << QList<QByteArray>{} << 0;
  QTest::newRow("frame and a half") << QList<QByteArray>{kFrameA + kFrameB.left(8)}
                                    << QList<QByteArray>{kFrameA} << 8;
  // The framer does not look inside: an @ within the 15 bytes is data, and a broken
  // frame is cut at 16 bytes all the same.
  QTest::newRow("@ inside a frame") << QList<QByteArray>{QByteArray("@0@1RD0243210@5\r")}
                                    << QList<QByteArray>{QByteArray("@0@1RD0243210@5\r")} << 0;
  QTest::newRow("short frame eats the next start")
      << QList<QByteArray>{kFrameA.left(10) + kFrameB}
      << QList<QByteArray>{kFrameA.left(10) + kFrameB.left(6)} << 0;
}

void TestPacketFramer::chunks() {
  QFETCH(QList<QByteArray>, chunks);
  QFETCH(QList<QByteArray>, frames);
  QFETCH(int, pending);

  QList<QByteArray> received;
  PacketFramer framer([&received](QByteArrayView frame) { received << frame.toByteArray(); });
  for (const QByteArray &chunk : chunks)
    framer.feed(chunk);
  QCOMPARE(received, frames);
  QCOMPARE(framer.pendingBytes(), pending);
}

void TestPacketFramer::resetDropsPartialFrame() {
  QList<QByteArray> received;
  PacketFramer framer([&received](QByteArrayView frame) { received << frame.toByteArray(); });
  framer.feed(kFrameA.left(9));
  framer.reset();
  QCOMPARE(framer.pendingBytes(), 0);
  framer.feed(kFrameA.mid(9));  // the tail has no @ and is discarded
  QVERIFY(received.isEmpty());
  framer.feed(kFrameB);
  QCOMPARE(received, QList<QByteArray>{kFrameB});
}

void TestPacketFramer::handlerMayResetOrFeed() {
  QList<QByteArray> received;
  PacketFramer *self = nullptr;
  PacketFramer framer([&](QByteArrayView frame) {
    received << frame.toByteArray();
    if (received.size() == 1)
      self->reset();  // e.g. the port is closed on the first frame: the rest is dropped
    else if (received.size() == 2)
      self->feed(kFrameA);
  });
  self = &framer;
  framer.feed(kFrameA + kFrameB);
  QCOMPARE(received, QList<QByteArray>{kFrameA});

  framer.feed(kFrameB);
  QCOMPARE(received, (QList<QByteArray>{kFrameA, kFrameB, kFrameA}));
  QCOMPARE(framer.pendingBytes(), 0);
}

QTEST_APPLESS_MAIN(TestPacketFramer)
#include "tst_packetframer.moc"
