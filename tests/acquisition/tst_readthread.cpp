#include "acquisition/AutoResetEvent.h"
#include "acquisition/DataBlock.h"
#include "acquisition/SampleRing.h"
#include "acquisition/TReadThread.h"
#include "common/ReadThreadRig.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <QElapsedTimer>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

#include <sys/resource.h>

class TestReadThread : public QObject {
  Q_OBJECT
private slots:
  void elapsedText_data() {
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << qint64(0) << "已采样: 0小时0分钟0秒";
    QTest::newRow("3725 s") << qint64(3725) << "已采样: 1小时2分钟5秒";
    QTest::newRow("a day") << qint64(86400) << "已采样: 24小时0分钟0秒";
  }
  void elapsedText() {
    QFETCH(qint64, seconds);
    QFETCH(QString, text);
    QCOMPARE(TReadThread::ElapsedText(seconds), text);
  }

  // Everything the ring receives reaches the file and the UI, in order, including what is still
  // in the ring when stop is asked for.
  void everySampleReachesFileAndUiInOrder() {
    ReadThreadRig rig;
    QList<ChannelInfo> channels{{1, "A", "kg", 0, 50, 1, 0}, {2, "B", "", 0, 10, 1, 0}};
    TReadThread thread(rig.path, channels, rig.ring, rig.readSignal);
    QVector<TSampleRecord> seen;
    connect(&thread, &TReadThread::samples, this, [&](const SampleBatch &b) { seen += b; });
    thread.start();
    QVERIFY(rig.readSignal.wait(5000)); // the head is written before the pollers are released

    constexpr int kCount = 20000;
    std::thread producer([&] {
      for (int i = 0; i < kCount; ++i)
        rig.ring.push(TSampleRecord{i % 2, double(i), double(i)});
    });
    producer.join();
    thread.stopAndWait(); // samples still in the ring are drained before the file closes
    QTRY_COMPARE(seen.size(), kCount);
    for (int i = 0; i < kCount; ++i) {
      const double v = seen[i].Value; // packed record: copy before comparing
      QCOMPARE(v, double(i));
    }
    QCOMPARE(thread.samplesWritten(), qint64(kCount));

    const TDataBlock block = TDataBlock::load(rig.path);
    QCOMPARE(int(block.status), 0);
    QCOMPARE(block.channelCount, 2);
    QCOMPARE(qsizetype(block.samples.size()), qsizetype(kCount));
    const double last = block.samples.back().Value;
    QCOMPARE(last, double(kCount - 1));
    QCOMPARE(block.lastTime, double(kCount - 1));
  }

  // The disk fills up in the middle of a pass: the records of that pass that reached the file
  // reach the UI as well, and nothing after them does.
  void fullDiskMidPassKeepsFileAndUiAlike() {
    QTemporaryDir dir;
    SampleRing ring;
    ring.reset();
    ring.setStartTime();
    constexpr int kQueued = 500;
    for (int i = 0; i < kQueued; ++i)
      ring.push(TSampleRecord{0, double(i), double(i)}); // all of it one pass
    AutoResetEvent readSignal;
    const QString path = dir.filePath("run.zvdat");
    TReadThread thread(path, {{1, "A", "", 0, 50, 1, 0}}, ring, readSignal);
    QVector<TSampleRecord> seen;
    connect(&thread, &TReadThread::samples, this, [&](const SampleBatch &b) { seen += b; });
    QSignalSpy failed(&thread, &TReadThread::failed);

    constexpr qint64 kFits = 123;
    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN); // EFBIG instead of the signal
    rlimit lowered = saved;
    lowered.rlim_cur = rlim_t(DataFileFormat::kHeadSize + DataFileFormat::kChannelRecordSize +
                              kFits * DataFileFormat::kSampleSize + 9);
    const bool limited = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    thread.start();
    const bool reported = failed.wait(5000);
    thread.stopAndWait();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    QVERIFY(limited);
    QVERIFY(reported);
    QVERIFY(failed.at(0).at(0).toString().startsWith("数据文件写入失败"));

    QTRY_COMPARE(seen.size(), kFits);
    QCOMPARE(thread.samplesWritten(), kFits);
    const TDataBlock block = TDataBlock::load(path);
    QCOMPARE(int(block.status), 0);
    QCOMPARE(qint64(block.samples.size()), kFits);
    for (int i = 0; i < kFits; ++i) {
      const double file = block.samples[size_t(i)].Value;
      const double shown = seen[i].Value;
      QCOMPARE(file, double(i));
      QCOMPARE(shown, double(i));
    }
  }

  // A power cut loses at most about a second: while samples keep coming, the file is synced at
  // least once for every second of recording, and once more at stop.
  void syncsAtLeastOncePerSecond() {
    ReadThreadRig rig;
    TReadThread thread(rig.path, {{1, "A", "", 0, 50, 1, 0}}, rig.ring, rig.readSignal);
    std::atomic<int> calls{0};
    thread.setSyncFunction([&](int fd) {
      ++calls;
      return DataFileSyncer::FdataSync(fd);
    });
    thread.start();
    QVERIFY(rig.readSignal.wait(5000));
    std::atomic<bool> produce{true};
    QElapsedTimer clock;
    clock.start();
    std::thread producer([&] {
      for (int i = 0; produce.load(); ++i) {
        rig.ring.push(TSampleRecord{0, double(i), double(i)});
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
    // Three whole seconds of recording, however slow the machine is today.
    QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() >= 3000 && thread.syncsCompleted() >= 3, 20000);
    const qint64 seconds = clock.elapsed() / 1000;
    const quint64 during = thread.syncsCompleted();
    produce = false;
    producer.join();
    // The periodic syncs go on until the stop; the stop itself adds one more after the last write.
    const quint64 beforeStop = thread.syncsCompleted();
    thread.stopAndWait();
    QVERIFY2(during >= quint64(seconds), qPrintable(QString("%1 syncs in %2 s").arg(during).arg(seconds)));
    QVERIFY(beforeStop >= during);
    QVERIFY(thread.syncsCompleted() >= beforeStop + 1);
    QCOMPARE(quint64(calls.load()), thread.syncsCompleted());
  }

  // A disk that takes long to sync never holds up the ring: while a sync hangs, samples keep
  // reaching the file and the views.
  void slowSyncDoesNotHoldTheDraining() {
    ReadThreadRig rig;
    TReadThread thread(rig.path, {{1, "A", "", 0, 50, 1, 0}}, rig.ring, rig.readSignal);
    std::mutex m;
    std::condition_variable cv;
    bool hanging = false, release = false;
    thread.setSyncFunction([&](int fd) {
      std::unique_lock lock(m);
      if (!release) { // the first sync hangs until the test has seen samples flow meanwhile
        hanging = true;
        cv.notify_all();
        cv.wait(lock, [&] { return release; });
      }
      return DataFileSyncer::FdataSync(fd);
    });
    QVector<TSampleRecord> seen;
    connect(&thread, &TReadThread::samples, this, [&](const SampleBatch &b) { seen += b; });
    thread.start();
    QVERIFY(rig.readSignal.wait(5000));
    rig.ring.push(TSampleRecord{0, 0.0, 0.0});
    {
      std::unique_lock lock(m);
      QVERIFY(cv.wait_for(lock, std::chrono::seconds(10), [&] { return hanging; }));
    }
    const qsizetype before = seen.size();
    constexpr int kDuringSync = 3000; // three rings full
    for (int i = 1; i <= kDuringSync; ++i)
      rig.ring.push(TSampleRecord{0, double(i), double(i)});
    QTRY_COMPARE_WITH_TIMEOUT(thread.samplesWritten(), qint64(kDuringSync + 1), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(seen.size(), qsizetype(kDuringSync + 1), 10000);
    QVERIFY(seen.size() > before);
    {
      std::lock_guard lock(m);
      QVERIFY(hanging); // still inside the first sync
      QCOMPARE(thread.syncsCompleted(), quint64(0));
      release = true;
    }
    cv.notify_all();
    thread.stopAndWait();
    QVERIFY(thread.syncsCompleted() >= 2); // the one that hung and the final one
    QCOMPARE(TDataBlock::load(rig.path).loadedCount, qint64(kDuringSync + 1));
  }

  // A disk that fails to sync has lost data: the recording ends and says so.
  void failedSyncIsReported() {
    ReadThreadRig rig;
    TReadThread thread(rig.path, {{1, "A", "", 0, 50, 1, 0}}, rig.ring, rig.readSignal);
    thread.setSyncFunction([](int) { return EIO; });
    QSignalSpy failed(&thread, &TReadThread::failed);
    thread.start();
    QVERIFY(rig.readSignal.wait(5000));
    rig.ring.push(TSampleRecord{0, 1.0, 1.0});
    QVERIFY(failed.wait(10000));
    QVERIFY(failed.at(0).at(0).toString().startsWith("数据文件写入磁盘失败"));
    thread.stopAndWait();
    QCOMPARE(failed.size(), 1);
    QCOMPARE(thread.syncsCompleted(), quint64(0));
  }

  void unwritableFileIsReported() {
    QTemporaryDir dir;
    SampleRing ring;
    ring.reset();
    AutoResetEvent readSignal;
    TReadThread thread(dir.filePath("missing/folder/run.zvdat"), {{1, "A", "", 0, 50, 1, 0}}, ring,
                       readSignal);
    QSignalSpy failed(&thread, &TReadThread::failed);
    thread.start();
    QVERIFY(failed.wait(5000));
    QVERIFY(failed.at(0).at(0).toString().startsWith("数据文件无法创建"));
    QVERIFY(!readSignal.isSet());
    thread.stopAndWait();
  }
};

QTEST_GUILESS_MAIN(TestReadThread)
#include "tst_readthread.moc"
