// Acquisition at the line rate: the program's main window in-process (offscreen) records ten
// active meters, one per port COM1..COM10, played by meter-sim. Prints the samples recorded per
// second, the samples lost (the simulator's log against the data file), the frame slots the
// simulator had to skip, the UI thread's stalls and the memory taken.
//
// Phase 1: 256000 baud paced by the simulator, back-to-back frames (1600 frames/s per port) for
// --seconds (default 600). Phase 2: no pacing, shorter and shorter frame intervals for
// --step-seconds each (default 20), up to the first rate that loses or skips.
#include "BenchApp.h"
#include "ProcessMemory.h"
#include "common/ModalResponder.h"
#include "e2e/MeterSim.h"

#include "acquisition/AcquisitionControl.h"
#include "acquisition/DataFile.h"
#include "acquisition/SampleRecord.h"
#include "app/AppContext.h"
#include "app/Startup.h"
#include "app/TfrmMain.h"
#include "views/PlotChart.h"
#include "views/TfraChannel.h"
#include "views/ViewBoard.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int kPorts = kBenchMeters;
constexpr int kProbeMs = 2; // heartbeat of the UI stall probe

struct Config {
  int seconds = 600;
  int stepSeconds = 20;
  int fromUs = 500; // phase 2 starts at the first step with interval_us at most this
  bool phase1 = true;
  bool phase2 = true;
};

// The data file's samples per channel (values and times), read in chunks.
struct FileSamples {
  std::vector<std::vector<qint32>> values{kPorts};
  std::vector<std::vector<double>> times{kPorts};
  qint64 total = 0;
  qint64 foreign = 0; // samples of a channel outside 0..9
  qint64 afterFirstSecond = 0; // stamped 1000 ms or later: past the backlog the ports held at opening
  double firstMs = 0;
  double lastMs = 0;
};

std::optional<FileSamples> readDataFile(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly) || !f.seek(DataFileFormat::channelRecordOffset(kPorts)))
    return std::nullopt;
  FileSamples s;
  std::vector<TSampleRecord> chunk(1 << 16);
  for (;;) {
    const qint64 got = f.read(reinterpret_cast<char *>(chunk.data()), qint64(chunk.size()) * DataFileFormat::kSampleSize);
    if (got <= 0)
      break;
    for (qint64 i = 0; i < got / DataFileFormat::kSampleSize; ++i) {
      const TSampleRecord r = chunk[size_t(i)];
      if (s.total == 0)
        s.firstMs = r.Time;
      s.lastMs = r.Time;
      ++s.total;
      if (r.Time >= 1000)
        ++s.afterFirstSecond;
      if (r.Channel < 0 || r.Channel >= kPorts) {
        ++s.foreign;
        continue;
      }
      s.values[size_t(r.Channel)].push_back(qint32(r.Value));
      s.times[size_t(r.Channel)].push_back(r.Time);
    }
  }
  return s;
}

// One channel's file samples against the frames its meter sent. The first sample is the latest
// frame with its value sent before it was recorded; from there each file value is looked up in
// send order, and frames passed over are lost.
struct Match {
  qint64 sentInWindow = 0; // frames sent from the first to the last recorded one
  qint64 recorded = 0;
  qint64 lost = 0;
  qint64 unmatched = 0; // recorded values the simulator never sent in that order
};

Match matchChannel(const std::vector<qint32> &sent, const std::vector<double> &sentMs,
                   const std::vector<qint32> &file, double firstRecordedMonotonicMs) {
  Match m;
  m.recorded = qint64(file.size());
  if (file.empty())
    return m;
  qsizetype start = -1;
  for (qsizetype j = 0; j < qsizetype(sent.size()) && sentMs[size_t(j)] <= firstRecordedMonotonicMs; ++j)
    if (sent[size_t(j)] == file.front())
      start = j;
  if (start < 0) {
    m.unmatched = m.recorded;
    return m;
  }
  size_t j = size_t(start);
  size_t last = j;
  for (size_t i = 0; i < file.size(); ++i) {
    while (j < sent.size() && sent[j] != file[i])
      ++j;
    if (j == sent.size()) {
      m.unmatched = qint64(file.size() - i);
      break;
    }
    last = j++;
  }
  m.sentInWindow = qint64(last - size_t(start) + 1);
  m.lost = m.sentInWindow - (m.recorded - m.unmatched);
  return m;
}

struct Stalls {
  std::vector<qint64> latenessNs;
  [[nodiscard]] double percentileMs(double p) const {
    if (latenessNs.empty())
      return 0;
    std::vector<qint64> v = latenessNs;
    const auto k = std::min(v.size() - 1, size_t(p / 100.0 * double(v.size())));
    std::nth_element(v.begin(), v.begin() + qsizetype(k), v.end());
    return double(v[k]) / 1e6;
  }
  [[nodiscard]] double maxMs() const {
    return latenessNs.empty() ? 0 : double(*std::max_element(latenessNs.begin(), latenessNs.end())) / 1e6;
  }
  [[nodiscard]] qint64 over(double ms) const {
    return std::count_if(latenessNs.begin(), latenessNs.end(), [ms](qint64 ns) { return double(ns) / 1e6 > ms; });
  }
};

struct RunResult {
  QString error;
  qint64 fileSamples = 0;
  double fileSpanS = 0;
  double perSecond = 0;
  double steadyPerSecond = 0; // from 1 s on
  qint64 sentInWindow = 0;
  qint64 lost = 0;
  qint64 unmatched = 0;
  qint64 foreign = 0;
  qint64 skipped = 0;
  qint64 flushes = 0;
  qint64 flushedBytes = 0;
  std::vector<Match> channels;
  Stalls stalls;
  qint64 chartPointsAtStop = 0; // points on the live charts when Stop was pressed
  qint64 writtenAtStop = 0;     // samples in the file at that moment
  double stopMs = 0;            // the Stop command itself
  double catchUpMs = 0;         // from Stop until the charts held every sample
  qint64 chartPointsAfter = 0;
  ProcessMemory memoryAtStop;
  double programCpu = 0;   // CPU time of this process over the recording, in cores
  double simulatorCpu = 0; // the same for meter-sim
  QStringList messages; // message boxes the program showed (answered)
  quint64 ringOverflowEvents = 0;
  quint64 ringOverflowSamples = 0;
  [[nodiscard]] bool clean() const {
    return error.isEmpty() && messages.isEmpty() && lost == 0 && unmatched == 0 && skipped == 0 && foreign == 0;
  }
};

qint64 chartPoints(ViewBoard &board) {
  qint64 n = 0;
  for (int i = 0; i < board.viewCount(); ++i)
    n += board.view(i)->pltChannel->pointCount(0);
  return n;
}

// CPU seconds of a process (0: this one).
double CpuSeconds(qint64 pid) {
  return CpuSecondsFromStat(pid > 0 ? "/proc/" + std::to_string(pid) + "/stat" : std::string("/proc/self/stat"));
}

// One recording of `seconds` with the given meter option tail ("interval=0" or "interval_us=N").
RunResult record(const QString &meterTiming, bool paceBaud, int seconds, bool progress) {
  RunResult r;
  QTemporaryDir dir;
  const QString runs = dir.filePath(QStringLiteral("runs"));
  if (!dir.isValid() || !QDir().mkpath(runs) || !WriteTenMeterSysIni(dir.filePath(QStringLiteral("Sys.ini")), runs, "Bench")) {
    r.error = QStringLiteral("cannot set up the program folder");
    return r;
  }
  const QString logPath = dir.filePath(QStringLiteral("sim.log"));
  MeterSim sim(dir.filePath(QStringLiteral("Sys.ini")), logPath);
  if (!sim.start(TenMeterSimArgs(meterTiming, paceBaud))) {
    r.error = QStringLiteral("meter-sim did not start (") + QStringLiteral(METER_SIM_PATH) + QLatin1Char(')');
    return r;
  }

  {
    AppContext ctx(ProgramPaths::resolve(dir.path()));
    ModalResponder responder; // a message box must not hold the run up; it is reported
    auto main = CreateWindows(ctx, {});
    main->resize(1600, 1000);
    main->show();
    QCoreApplication::processEvents();
    ViewBoard &board = *main->board();

    // The UI stall probe: a heartbeat whose lateness is the time the event loop was held up.
    QElapsedTimer clock;
    qint64 lastNs = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(kProbeMs);
    QObject::connect(&probe, &QTimer::timeout, [&] {
      const qint64 ns = clock.nsecsElapsed();
      r.stalls.latenessNs.push_back(std::max<qint64>(0, ns - lastNs - kProbeMs * 1'000'000LL));
      lastNs = ns;
    });

    main->btnStart->trigger();
    if (!main->ReadThread) {
      r.error = QStringLiteral("the recording did not start");
      for (const auto &m : responder.seen)
        r.error += QStringLiteral(": ") + m.text;
      return r;
    }
    // The ring's time origin on the simulator's clock (both CLOCK_MONOTONIC), within 1 ms.
    const double ringStartMonotonicMs = MonotonicNowMs() - ctx.ring.elapsedMs();
    const QString dataFile = main->WorkFile();
    clock.start();
    probe.start();

    QTimer report;
    QElapsedTimer elapsed;
    elapsed.start();
    QObject::connect(&report, &QTimer::timeout, [&] {
      const ProcessMemory m = ProcessMemory::now();
      const TReadThread *t = main->acquisition()->readThread();
      std::printf("  %4lld s: %10lld samples in the file, %10lld on the charts, RSS %7.1f MiB\n",
                  static_cast<long long>(elapsed.elapsed() / 1000), static_cast<long long>(t ? t->samplesWritten() : 0),
                  static_cast<long long>(chartPoints(board)), Mib(m.rssKb));
      std::fflush(stdout);
    });
    if (progress)
      report.start(60'000);
    const double programCpu0 = CpuSeconds(0);
    const double simulatorCpu0 = CpuSeconds(sim.pid());
    QElapsedTimer cpuWall;
    cpuWall.start();
    waitMs(seconds * 1000);
    const double cpuWallS = double(cpuWall.nsecsElapsed()) / 1e9;
    r.programCpu = (CpuSeconds(0) - programCpu0) / cpuWallS;
    r.simulatorCpu = (CpuSeconds(sim.pid()) - simulatorCpu0) / cpuWallS;
    report.stop();
    probe.stop();

    r.ringOverflowEvents = ctx.ring.overflowEvents();
    r.ringOverflowSamples = ctx.ring.overflowedSamples();
    r.writtenAtStop = main->acquisition()->readThread()->samplesWritten();
    r.chartPointsAtStop = chartPoints(board);
    QElapsedTimer stopClock;
    stopClock.start();
    main->btnStop->trigger();
    r.stopMs = double(stopClock.nsecsElapsed()) / 1e6;
    sim.stop();

    // Batches still queued for the views arrive after Stop.
    const qint64 inFile =
        (QFileInfo(dataFile).size() - DataFileFormat::channelRecordOffset(kPorts)) / DataFileFormat::kSampleSize;
    QElapsedTimer catchUp;
    catchUp.start();
    while (chartPoints(board) < inFile && catchUp.elapsed() < 60'000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    r.catchUpMs = double(catchUp.nsecsElapsed()) / 1e6;
    r.chartPointsAfter = chartPoints(board);
    r.memoryAtStop = ProcessMemory::now();
    for (const auto &m : responder.seen)
      r.messages << m.text;

    main.reset();
    QCoreApplication::processEvents();

    const std::optional<FileSamples> peek = readDataFile(dataFile);
    const SimLog log = ReadSimLog(logPath);
    r.skipped = log.skipped;
    r.flushes = log.flushes;
    r.flushedBytes = log.flushedBytes;
    if (!peek) {
      r.error = QStringLiteral("the data file cannot be read");
      return r;
    }
    const FileSamples &file = *peek;
    r.fileSamples = file.total;
    r.foreign = file.foreign;
    r.fileSpanS = (file.lastMs - file.firstMs) / 1000.0;
    r.perSecond = r.fileSpanS > 0 ? double(file.total) / r.fileSpanS : 0;
    r.steadyPerSecond = file.lastMs > 1000 ? double(file.afterFirstSecond) / ((file.lastMs - 1000) / 1000.0) : 0;
    for (int c = 0; c < kPorts; ++c) {
      const auto &fv = file.values[size_t(c)];
      // Recorded no later than its whole-millisecond stamp + 1 ms; 2 ms of slack.
      const double firstMs = fv.empty() ? 0 : ringStartMonotonicMs + file.times[size_t(c)].front() + 2;
      const Match m = matchChannel(log.values[size_t(c)], log.times[size_t(c)], fv, firstMs);
      r.channels.push_back(m);
      r.sentInWindow += m.sentInWindow;
      r.lost += m.lost;
      r.unmatched += m.unmatched;
    }
  }
  return r;
}

void printStalls(const RunResult &r) {
  std::printf("  UI thread stall (%d ms heartbeat lateness, %zu probes): p50 %.2f ms, p99 %.2f ms, max %.2f ms; "
              "%lld over 50 ms\n",
              kProbeMs, r.stalls.latenessNs.size(), r.stalls.percentileMs(50), r.stalls.percentileMs(99),
              r.stalls.maxMs(), static_cast<long long>(r.stalls.over(50)));
}

void phase1(const Config &cfg) {
  std::printf("Phase 1: 10 ports at 256000 baud paced (--pace-baud), interval=0 (1600 frames/s per port, "
              "16000/s in all), %d s\n",
              cfg.seconds);
  std::fflush(stdout);
  const ProcessMemory before = ProcessMemory::now();
  const RunResult r = record(QStringLiteral("interval=0"), true, cfg.seconds, true);
  if (!r.error.isEmpty()) {
    std::printf("  FAILED: %s\n", qPrintable(r.error));
    return;
  }
  std::printf("  samples recorded                 %10lld in %.1f s of recording: %.1f samples/s (%.1f samples/s from "
              "1 s on, past the frames the ports held at opening)\n",
              static_cast<long long>(r.fileSamples), r.fileSpanS, r.perSecond, r.steadyPerSecond);
  std::printf("  good frames sent in the window   %10lld\n", static_cast<long long>(r.sentInWindow));
  std::printf("  samples lost                     %10lld (not in the file in sent order: %lld, foreign channel: %lld)\n",
              static_cast<long long>(r.lost), static_cast<long long>(r.unmatched), static_cast<long long>(r.foreign));
  std::printf("  per channel recorded/lost       ");
  for (const Match &m : r.channels)
    std::printf(" %lld/%lld", static_cast<long long>(m.recorded), static_cast<long long>(m.lost));
  std::printf("\n  frame slots skipped by meter-sim %10lld\n", static_cast<long long>(r.skipped));
  std::printf("  input discarded as unread        %10lld times, %lld bytes (meter-sim FLUSH)\n",
              static_cast<long long>(r.flushes), static_cast<long long>(r.flushedBytes));
  std::printf("  sample ring overflows            %10llu events, %llu samples held over\n",
              static_cast<unsigned long long>(r.ringOverflowEvents), static_cast<unsigned long long>(r.ringOverflowSamples));
  printStalls(r);
  std::printf("  charts at Stop                   %10lld points (file then %lld); Stop took %.1f ms, charts complete "
              "%.1f ms later with %lld points\n",
              static_cast<long long>(r.chartPointsAtStop), static_cast<long long>(r.writtenAtStop), r.stopMs,
              r.catchUpMs, static_cast<long long>(r.chartPointsAfter));
  for (const QString &m : r.messages)
    std::printf("  message box: %s\n", qPrintable(m));
  std::printf("  CPU while recording: program %.2f cores, meter-sim %.2f cores (of %ld)\n", r.programCpu,
              r.simulatorCpu, sysconf(_SC_NPROCESSORS_ONLN));
  std::printf("  memory: RSS before %.1f MiB, at Stop %.1f MiB, peak (VmHWM) %.1f MiB\n", Mib(before.rssKb),
              Mib(r.memoryAtStop.rssKb), Mib(r.memoryAtStop.hwmKb));
  std::fflush(stdout);
}

void phase2(const Config &cfg) {
  std::printf("\nPhase 2: 10 ports, no pacing, interval_us steps of %d s each, until samples are lost or slots skipped\n",
              cfg.stepSeconds);
  std::printf("  %12s %12s %12s %10s %8s %8s %10s %10s %10s %9s %9s\n", "interval_us", "offered/s", "recorded/s",
              "samples", "lost", "skipped", "stall p50", "stall p99", "stall max", "prog CPU", "sim CPU");
  // recorded/s here is from 1 s on: the first moment carries the frames the ports held at opening.
  std::fflush(stdout);
  double best = 0;
  std::optional<double> firstLoss;
  QString firstLossWhat;
  for (const int us : {500, 250, 160, 125, 100, 80, 64, 50, 40, 32, 25, 20}) {
    if (us > cfg.fromUs)
      continue;
    const RunResult r = record(QStringLiteral("interval_us=%1").arg(us), false, cfg.stepSeconds, false);
    const double offered = kPorts * 1e6 / us;
    if (!r.error.isEmpty()) {
      std::printf("  %12d FAILED: %s\n", us, qPrintable(r.error));
      break;
    }
    std::printf("  %12d %12.0f %12.0f %10lld %8lld %8lld %8.2f ms %8.2f ms %8.2f ms %9.2f %9.2f\n", us, offered,
                r.steadyPerSecond, static_cast<long long>(r.fileSamples),
                static_cast<long long>(r.lost + r.unmatched + r.foreign), static_cast<long long>(r.skipped),
                r.stalls.percentileMs(50), r.stalls.percentileMs(99), r.stalls.maxMs(), r.programCpu, r.simulatorCpu);
    for (const QString &m : r.messages)
      std::printf("  message box: %s\n", qPrintable(m));
    std::fflush(stdout);
    if (!r.clean()) {
      firstLoss = r.steadyPerSecond;
      firstLossWhat = QStringLiteral("interval_us=%1, %2 offered/s: %3 lost, %4 skipped")
                          .arg(us)
                          .arg(offered, 0, 'f', 0)
                          .arg(r.lost + r.unmatched + r.foreign)
                          .arg(r.skipped);
      break;
    }
    best = std::max(best, r.steadyPerSecond);
  }
  std::printf("  highest rate recorded with 0 lost and 0 skipped: %.0f samples/s\n", best);
  if (firstLoss)
    std::printf("  first rate that lost or skipped: %.0f samples/s recorded (%s)\n", *firstLoss, qPrintable(firstLossWhat));
  else
    std::printf("  no step lost or skipped\n");
}

} // namespace

int main(int argc, char **argv) {
  const BenchEnvironment environment;
  QApplication app(argc, argv);

  Config cfg;
  const QStringList a = app.arguments();
  for (int i = 1; i < a.size(); ++i) {
    const bool hasValue = i + 1 < a.size();
    if (a[i] == QStringLiteral("--seconds") && hasValue)
      cfg.seconds = std::max(1, a[++i].toInt());
    else if (a[i] == QStringLiteral("--step-seconds") && hasValue)
      cfg.stepSeconds = std::max(1, a[++i].toInt());
    else if (a[i] == QStringLiteral("--from-us") && hasValue)
      cfg.fromUs = std::max(1, a[++i].toInt());
    else if (a[i] == QStringLiteral("--phase") && hasValue) {
      const QString p = a[++i];
      cfg.phase1 = p != QStringLiteral("2");
      cfg.phase2 = p != QStringLiteral("1");
    } else {
      std::fprintf(stderr, "usage: bench_acquisition [--seconds N] [--step-seconds N] [--from-us N] [--phase 1|2]\n");
      return 2;
    }
  }
  if (cfg.phase1)
    phase1(cfg);
  if (cfg.phase2)
    phase2(cfg);
  return 0;
}
