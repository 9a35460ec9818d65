// A line-rate recording killed with SIGKILL: ten active meters on COM1..COM10 played by
// meter-sim, the program's main window (offscreen) recording them in a child process, which is
// killed after --seconds (default 10). Then the data file is compared with the simulator's log:
// the frames sent before the kill that are not in the file are the readings lost.
#include "BenchApp.h"
#include "common/ModalResponder.h"
#include "e2e/MeterSim.h"

#include "acquisition/DataFile.h"
#include "acquisition/RecordingMarker.h"
#include "acquisition/SampleRecord.h"
#include "app/AppContext.h"
#include "app/Startup.h"
#include "app/TfrmMain.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {
constexpr int kPorts = kBenchMeters;
constexpr double kFramesPerSecond = 1600; // per port, 256000 baud paced, back to back

// The child: records until it is killed.
int child(const QString &dir) {
  AppContext ctx(ProgramPaths::resolve(dir));
  ModalResponder responder;
  auto main = CreateWindows(ctx, {});
  main->show();
  QCoreApplication::processEvents();
  main->btnStart->trigger();
  if (!main->ReadThread)
    return 1;
  std::printf("%s\n", qPrintable(main->WorkFile()));
  std::fflush(stdout);
  return QCoreApplication::exec();
}

int parent(int seconds, const QString &self) {
  QTemporaryDir dir;
  const QString runs = dir.filePath(QStringLiteral("runs"));
  if (!dir.isValid() || !QDir().mkpath(runs) || !WriteTenMeterSysIni(dir.filePath(QStringLiteral("Sys.ini")), runs, "Crash"))
    return std::printf("cannot set up the program folder\n"), 1;
  const QString logPath = dir.filePath(QStringLiteral("sim.log"));
  MeterSim sim(dir.filePath(QStringLiteral("Sys.ini")), logPath);
  if (!sim.start(TenMeterSimArgs(QStringLiteral("interval=0"), true)))
    return std::printf("meter-sim did not start\n"), 1;

  QProcess rec;
  rec.start(self, {QStringLiteral("--child"), dir.path()});
  if (!rec.waitForReadyRead(30000))
    return std::printf("the recording did not start: %s\n", rec.readAllStandardError().constData()), 1;
  const QString dataFile = QString::fromLocal8Bit(rec.readLine()).trimmed();
  QThread::sleep(static_cast<unsigned long>(seconds)); // the recording runs for the chosen time
  const double killMs = MonotonicNowMs();
  ::kill(pid_t(rec.processId()), SIGKILL);
  rec.waitForFinished(10000);
  sim.stop();

  const bool markerLeft = RecordingMarker::In(dir.path() + QLatin1Char('/')).read().has_value();
  QFile f(dataFile);
  if (!f.open(QIODevice::ReadOnly))
    return std::printf("the data file cannot be read\n"), 1;
  const QByteArray bytes = f.readAll();
  const qint64 at = DataFileFormat::channelRecordOffset(kPorts);
  const qint64 records = (bytes.size() - at) / DataFileFormat::kSampleSize;
  const qint64 trailing = (bytes.size() - at) % DataFileFormat::kSampleSize;
  std::vector<qint32> firstValue(kPorts, -1), lastValue(kPorts, -1);
  std::vector<qint64> perChannel(kPorts, 0);
  for (qint64 i = 0; i < records; ++i) {
    TSampleRecord r;
    std::memcpy(&r, bytes.constData() + at + i * DataFileFormat::kSampleSize, sizeof r);
    if (r.Channel >= 0 && r.Channel < kPorts) {
      if (perChannel[size_t(r.Channel)] == 0)
        firstValue[size_t(r.Channel)] = qint32(r.Value);
      lastValue[size_t(r.Channel)] = qint32(r.Value);
      ++perChannel[size_t(r.Channel)];
    }
  }
  const SimLog sent = ReadSimLog(logPath);
  qint64 lost = 0, sentBeforeKill = 0;
  double worstMs = 0;
  for (int c = 0; c < kPorts; ++c) {
    const std::vector<qint32> &values = sent.values[size_t(c)];
    const std::vector<double> &ms = sent.times[size_t(c)];
    size_t last = 0;
    bool found = false;
    for (size_t j = 0; j < values.size(); ++j)
      if (values[j] == lastValue[size_t(c)]) {
        last = j;
        found = true;
      }
    qint64 lostHere = 0;
    double firstLostMs = killMs;
    for (size_t j = found ? last + 1 : 0; j < values.size() && ms[j] < killMs; ++j) {
      if (lostHere == 0)
        firstLostMs = ms[j];
      ++lostHere;
    }
    // From the first recorded frame on: what the ports held before the start is no recording.
    bool inRecording = false;
    for (size_t j = 0; j < values.size() && ms[j] < killMs; ++j) {
      inRecording = inRecording || values[j] == firstValue[size_t(c)];
      sentBeforeKill += inRecording ? 1 : 0;
    }
    // Counter values: a gap inside the recording is lost as well.
    lostHere += qint64(lastValue[size_t(c)]) - firstValue[size_t(c)] + 1 - perChannel[size_t(c)];
    lost += lostHere;
    worstMs = std::max(worstMs, killMs - firstLostMs);
  }
  std::printf("SIGKILL after %d s of a line-rate recording (10 ports, 1600 frames/s each)\n", seconds);
  std::printf("  samples in the file              %10lld (trailing bytes of a cut record: %lld)\n",
              static_cast<long long>(records), static_cast<long long>(trailing));
  std::printf("  frames sent from the first recorded one to the kill %lld\n", static_cast<long long>(sentBeforeKill));
  std::printf("  samples lost (sent, not in file) %10lld = %.1f ms of readings per port on average\n",
              static_cast<long long>(lost), double(lost) / kPorts / kFramesPerSecond * 1000.0);
  std::printf("  longest span lost on one port    %10.1f ms before the kill\n", worstMs);
  std::printf("  recording marker left            %10s\n\n", markerLeft ? "yes" : "no");
  return 0;
}
} // namespace

int main(int argc, char **argv) {
  const BenchEnvironment environment;
  QApplication app(argc, argv);
  const QStringList a = app.arguments();
  if (a.size() == 3 && a[1] == QStringLiteral("--child"))
    return child(a[2]);
  int seconds = 10;
  if (a.size() == 3 && a[1] == QStringLiteral("--seconds"))
    seconds = std::max(1, a[2].toInt());
  else if (a.size() != 1)
    return std::fprintf(stderr, "usage: bench_crash [--seconds N]\n"), 2;
  return parent(seconds, QCoreApplication::applicationFilePath());
}
