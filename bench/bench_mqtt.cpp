// MQTT publishing at the line rate: the program's main window in-process (offscreen) records ten
// active meters (COM1..COM10, meter-sim, 256000 baud, 1600 readings/s each) and publishes every
// reading at QoS 1 to a local Mosquitto broker on a free loopback port, which goes away for
// 10 s in the middle. Prints the readings published per second, the readings lost (file against
// what a QoS 1 subscriber received), the time to catch up after the outage, and the CPU of the
// publisher's thread (which also runs the MQTT network loop).
//
// bench_mqtt [--seconds N]   (default 60; the outage starts at a third of the run)
#include "BenchApp.h"
#include "common/ModalResponder.h"
#include "e2e/MeterSim.h"
#include "common/MqttBroker.h"

#include "acquisition/AcquisitionControl.h"
#include "acquisition/DataFile.h"
#include "app/AppContext.h"
#include "app/Startup.h"
#include "app/TfrmMain.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <string>
#include <unordered_set>

namespace {

constexpr int kPorts = kBenchMeters;
constexpr int kOutageS = 10;

// CPU seconds of one thread of this process.
double ThreadCpuSeconds(int tid) {
  return CpuSecondsFromStat("/proc/self/task/" + std::to_string(tid) + "/stat");
}

} // namespace

int main(int argc, char **argv) {
  BenchEnvironment env;
  QApplication app(argc, argv);
  int seconds = 60;
  for (int i = 1; i + 1 < argc; ++i)
    if (QByteArray(argv[i]) == "--seconds")
      seconds = std::max(kOutageS + 5, QByteArray(argv[i + 1]).toInt());

  QTemporaryDir dir;
  const QString runs = dir.filePath(QStringLiteral("runs"));
  MosquittoBroker broker;
  if (!QDir().mkpath(runs) || !broker.start() ||
      !WriteTenMeterSysIni(dir.filePath(QStringLiteral("Sys.ini")), runs, "Bench",
                           "[MQTT]\r\nEnabled=1\r\nHost=127.0.0.1\r\nPort=" + QByteArray::number(broker.port()) +
                               "\r\nTopicPrefix=bench\r\nQoS=1\r\n")) {
    std::fprintf(stderr, "cannot set up the broker or the program folder\n");
    return 1;
  }
  MqttSubscriber sub(broker.port(), "bench/#", "zervo-bench-subscriber");
  MeterSim sim(dir.filePath(QStringLiteral("Sys.ini")), dir.filePath(QStringLiteral("sim.log")));
  if (!sim.start(TenMeterSimArgs(QStringLiteral("interval=0"), true))) {
    std::fprintf(stderr, "meter-sim did not start\n");
    return 1;
  }
  AppContext ctx(ProgramPaths::resolve(dir.path()));
  ModalResponder responder;
  auto main = CreateWindows(ctx, {});
  main->show();
  QCoreApplication::processEvents();
  main->btnStart->trigger();
  MqttPublisher *pub = main->acquisition()->publisher();
  if (!main->ReadThread || !pub) {
    std::fprintf(stderr, "the recording or the publisher did not start\n");
    return 1;
  }
  const int tid = pub->threadId();
  const double cpu0 = ThreadCpuSeconds(tid);
  QElapsedTimer clock;
  clock.start();
  const int outageAt = seconds / 3;
  // The steady backlog: the most readings pending in the last seconds before the outage (what
  // is on its way between a batch of the read thread and its acknowledgement).
  qint64 steady = 0;
  while (clock.elapsed() < qint64(outageAt) * 1000) {
    waitMs(50);
    if (clock.elapsed() >= qint64(outageAt - 3) * 1000)
      steady = std::max(steady, pub->pending());
  }
  broker.stop();
  waitMs(kOutageS * 1000);
  const qint64 pendingAtReturn = pub->pending();
  broker.start();
  QElapsedTimer catchUp;
  catchUp.start();
  double catchUpS = -1;
  while (clock.elapsed() < qint64(seconds) * 1000) {
    waitMs(50);
    if (catchUpS < 0 && pub->pending() <= steady)
      catchUpS = catchUp.elapsed() / 1000.0;
  }
  const double recordS = clock.elapsed() / 1000.0;
  main->btnStop->trigger();
  waitMs(200);
  while (!pub->waitUntilDrained(std::chrono::milliseconds(50)))
    QCoreApplication::processEvents();
  const double cpu = ThreadCpuSeconds(tid) - cpu0;
  const double totalS = clock.elapsed() / 1000.0;
  sim.stop();

  QFile f(main->WorkFile());
  const qint64 fileSamples =
      f.open(QIODevice::ReadOnly) ? (f.size() - DataFileFormat::channelRecordOffset(kPorts)) / DataFileFormat::kSampleSize : 0;
  // Wait for the subscriber to have everything, or for it to stop receiving.
  qint64 last = -1;
  while (sub.count() != last) {
    last = sub.count();
    waitMs(1000);
  }
  std::unordered_set<std::string> unique;
  qint64 duplicates = 0;
  for (const MqttMessage &m : sub.messages()) {
    if (!m.topic.contains("/channel/"))
      continue;
    if (!unique.insert((m.topic + ' ' + m.payload).toStdString()).second)
      ++duplicates;
  }
  const qint64 lost = fileSamples - qint64(unique.size());
  std::printf("bench_mqtt: 10 ports, QoS 1, %.0f s recording, broker stopped for %d s at %d s\n", recordS, kOutageS,
              outageAt);
  std::printf("  samples in the file         %lld (%.0f/s)\n", (long long)fileSamples, fileSamples / recordS);
  std::printf("  published (acknowledged)    %lld (%.0f/s over %.1f s until drained)\n", (long long)pub->published(),
              pub->published() / totalS, totalS);
  std::printf("  received by the subscriber  %zu unique, %lld duplicates\n", unique.size(), (long long)duplicates);
  std::printf("  lost                        %lld\n", (long long)lost);
  std::printf("  pending when the broker came back  %lld\n", (long long)pendingAtReturn);
  std::printf("  steady backlog before it    %lld\n", (long long)steady);
  if (catchUpS < 0)
    std::printf("  catch-up after the outage   not reached within the recording\n");
  else
    std::printf("  catch-up after the outage   %.1f s (%.0f readings/s above the line rate)\n", catchUpS,
                catchUpS > 0 ? pendingAtReturn / catchUpS : 0.0);
  std::printf("  publisher thread CPU        %.3f of a core\n", cpu / totalS);
  return lost == 0 ? 0 : 2;
}
