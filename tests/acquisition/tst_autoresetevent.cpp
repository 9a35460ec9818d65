#include "acquisition/AutoResetEvent.h"

#include <QTest>

#include <atomic>
#include <thread>

class TestAutoResetEvent : public QObject {
  Q_OBJECT

private slots:
  void pendingSetIsConsumedOnce();
  void waitAnyPending_data();
  void waitAnyPending();
  void wakesBlockedWaiter_data();
  void wakesBlockedWaiter();
  void oneSetReleasesOneWaiter();
  void stopWakesWaiterAndKeepsSignals();
};

void TestAutoResetEvent::pendingSetIsConsumedOnce() {
  AutoResetEvent event;
  QVERIFY(!event.wait(0));
  event.set();
  event.set();  // a second set before any wait does not add up
  QVERIFY(event.isSet());
  QVERIFY(event.wait(0));
  QVERIFY(!event.isSet());
  QVERIFY(!event.wait(0));
  QVERIFY(!event.wait(5));
}

void TestAutoResetEvent::waitAnyPending_data() {
  QTest::addColumn<bool>("setA");
  QTest::addColumn<bool>("setB");
  QTest::addColumn<qint64>("timeoutMs");
  QTest::addColumn<int>("result");
  QTest::addColumn<bool>("bStillSet");
  QTest::newRow("nothing, no wait") << false << false << qint64(0) << AutoResetEvent::kTimeout
                                    << false;
  QTest::newRow("nothing, short wait") << false << false << qint64(10)
                                       << AutoResetEvent::kTimeout << false;
  QTest::newRow("a") << true << false << qint64(10) << 0 << false;
  QTest::newRow("b") << false << true << qint64(10) << 1 << false;
  QTest::newRow("both: a first, b stays") << true << true << qint64(10) << 0 << true;
}

void TestAutoResetEvent::waitAnyPending() {
  QFETCH(bool, setA);
  QFETCH(bool, setB);
  QFETCH(qint64, timeoutMs);
  QFETCH(int, result);
  QFETCH(bool, bStillSet);

  AutoResetEvent a;
  AutoResetEvent b;
  if (setA)
    a.set();
  if (setB)
    b.set();
  QCOMPARE(AutoResetEvent::WaitAny(a, b, timeoutMs), result);
  QVERIFY(!a.isSet());
  QCOMPARE(b.isSet(), bStillSet);
  QCOMPARE(a.waitingThreads(), 0);
  QCOMPARE(b.waitingThreads(), 0);
}

void TestAutoResetEvent::wakesBlockedWaiter_data() {
  QTest::addColumn<int>("which");
  QTest::newRow("a") << 0;
  QTest::newRow("b") << 1;
}

void TestAutoResetEvent::wakesBlockedWaiter() {
  QFETCH(int, which);
  AutoResetEvent a;
  AutoResetEvent b;
  std::atomic<int> result{-100};
  std::thread waiter([&] { result = AutoResetEvent::WaitAny(a, b, AutoResetEvent::kInfinite); });
  QTRY_COMPARE(a.waitingThreads() + b.waitingThreads(), 2);

  (which == 0 ? a : b).set();
  QTRY_COMPARE(result.load(), which);
  waiter.join();

  // The released waiter is gone from the other event too: a set there stays pending.
  AutoResetEvent &other = which == 0 ? b : a;
  QCOMPARE(other.waitingThreads(), 0);
  other.set();
  QVERIFY(other.isSet());
  QVERIFY(!(which == 0 ? a : b).isSet());
}

void TestAutoResetEvent::oneSetReleasesOneWaiter() {
  AutoResetEvent event;
  StopSignal stop;
  std::atomic<int> released{0};
  std::atomic<int> stopped{0};
  const auto body = [&] {
    for (;;) {
      if (event.wait(AutoResetEvent::kInfinite, &stop)) {
        ++released;
        return;
      }
      if (stop.requested()) {
        ++stopped;
        return;
      }
    }
  };
  std::thread first(body);
  std::thread second(body);
  QTRY_COMPARE(event.waitingThreads(), 2);

  event.set();
  QTRY_COMPARE(released.load(), 1);
  QTRY_COMPARE(event.waitingThreads(), 1);
  QVERIFY(!event.isSet());  // taken by the one waiter, not left over

  event.set();
  QTRY_COMPARE(released.load(), 2);
  first.join();
  second.join();
  QCOMPARE(stopped.load(), 0);
}

void TestAutoResetEvent::stopWakesWaiterAndKeepsSignals() {
  AutoResetEvent a;
  AutoResetEvent b;
  StopSignal stop;
  std::atomic<int> result{-100};
  std::thread waiter(
      [&] { result = AutoResetEvent::WaitAny(a, b, AutoResetEvent::kInfinite, &stop); });
  QTRY_COMPARE(a.waitingThreads(), 1);
  stop.request();
  QTRY_COMPARE(result.load(), AutoResetEvent::kStopped);
  waiter.join();
  QCOMPARE(a.waitingThreads(), 0);
  QCOMPARE(b.waitingThreads(), 0);

  // A stop already requested returns at once and leaves pending signals alone.
  a.set();
  QCOMPARE(AutoResetEvent::WaitAny(a, b, AutoResetEvent::kInfinite, &stop),
           AutoResetEvent::kStopped);
  QVERIFY(a.isSet());

  stop.clear();
  QCOMPARE(AutoResetEvent::WaitAny(a, b, 0, &stop), 0);
}

QTEST_APPLESS_MAIN(TestAutoResetEvent)
#include "tst_autoresetevent.moc"
