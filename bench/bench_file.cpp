// Opening a large recording: a file of --samples samples (default 100 million, 2 GB) over 10
// channels is written with the program's own writer into a temporary folder, then opened through
// the main window's open command (offscreen) as the operator would, first with the file dropped
// from the page cache, then from it. Prints the time until the charts are drawn and the memory
// taken. A watchdog ends the run when the resident size passes --max-rss-mib (default 4096).
#include "BenchApp.h"
#include "ProcessMemory.h"
#include "common/ModalResponder.h"

#include "acquisition/DataBlock.h"
#include "acquisition/DataFile.h"
#include "acquisition/DataFileWriter.h"
#include "acquisition/RecordingFiles.h"
#include "app/AppContext.h"
#include "app/Startup.h"
#include "app/TfrmMain.h"
#include "views/PlotChart.h"
#include "views/TfraChannel.h"
#include "views/TfraXYChannel.h"
#include "views/ViewBoard.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int kChannels = 10;
constexpr qint64 kRatePerSecond = 16'000; // all channels together, as ten meters at 256000 baud

double msSince(const QElapsedTimer &t) { return double(t.nsecsElapsed()) / 1e6; }

bool writeRecording(const QString &path, qint64 kSamples) {
  QList<ChannelInfo> infos;
  for (int c = 0; c < kChannels; ++c)
    infos.append({c + 1, QStringLiteral("通道%1").arg(c + 1), QStringLiteral("kg"), 0, 100, 1, 0});
  DataFileWriter writer;
  if (!writer.open(path) || !writer.writeHead(infos)) {
    std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(path), qPrintable(writer.errorString()));
    return false;
  }
  std::vector<TSampleRecord> pass;
  constexpr qint64 kPass = 16'000;
  pass.reserve(kPass);
  for (qint64 k = 0; k < kSamples; k += kPass) {
    pass.clear();
    for (qint64 i = k; i < std::min(kSamples, k + kPass); ++i) {
      const int c = int(i % kChannels);
      const double value = std::round(100.0 * (50 + 40 * std::sin(double(i) * 1e-5 + c))) / 100.0;
      pass.push_back({c, value, double(i * 1000 / kRatePerSecond)});
    }
    if (!writer.append(pass)) {
      std::fprintf(stderr, "write failed: %s\n", qPrintable(writer.errorString()));
      return false;
    }
  }
  return writer.close();
}

// Drops the file's pages from the page cache so that the open reads from the disk.
void evictFromCache(const QString &path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
  if (fd < 0)
    return;
  ::fdatasync(fd);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

// Ends the process when it passes the memory bound: an open cannot be interrupted, and the
// machine must not swap. The temporary folder goes first.
class RssWatchdog {
public:
  RssWatchdog(qint64 boundMib, QString dir, std::atomic<qint64> &samples)
      : m_thread([this, boundMib, dir = std::move(dir), &samples] {
          while (!m_stop.load()) {
            const ProcessMemory m = ProcessMemory::now();
            if (m.rssKb > boundMib * 1024) {
              std::printf("stopped: RSS %.1f MiB passed the bound of %lld MiB while opening a file of %lld samples\n",
                          Mib(m.rssKb), static_cast<long long>(boundMib), static_cast<long long>(samples.load()));
              std::fflush(stdout);
              QDir(dir).removeRecursively();
              std::_Exit(3);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
          }
        }) {}
  ~RssWatchdog() {
    m_stop = true;
    m_thread.join();
  }

private:
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

} // namespace

int main(int argc, char **argv) {
  const BenchEnvironment environment;
  QApplication app(argc, argv);
  qint64 kSamples = 100'000'000;
  qint64 maxRssMib = 4096;
  bool xyView = true;
  const QStringList a = app.arguments();
  for (int i = 1; i < a.size(); ++i) {
    const bool hasValue = i + 1 < a.size();
    if (a[i] == QStringLiteral("--samples") && hasValue)
      kSamples = std::max<qint64>(kChannels, qint64(a[++i].toDouble()));
    else if (a[i] == QStringLiteral("--max-rss-mib") && hasValue)
      maxRssMib = std::max<qint64>(64, a[++i].toLongLong());
    else if (a[i] == QStringLiteral("--no-xy"))
      xyView = false; // the X/Y view off: what the time charts alone take
    else {
      std::fprintf(stderr, "usage: bench_file [--samples N] [--max-rss-mib N] [--no-xy]\n");
      return 2;
    }
  }

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("big.zvdat"));
  {
    const qint64 bytes = DataFileFormat::channelRecordOffset(kChannels) + kSamples * DataFileFormat::kSampleSize;
    const qint64 margin = qint64(1) << 30;
    const std::optional<qint64> freeBytes = FreeDiskBytes(dir.path());
    if (!dir.isValid() || !freeBytes || *freeBytes < bytes + margin) {
      std::fprintf(stderr,
                   "refused: a file of %lld samples needs %.2f GiB (+1 GiB margin) in %s, only %.2f GiB free; "
                   "choose fewer with --samples, or set TMPDIR\n",
                   static_cast<long long>(kSamples), double(bytes) / (1 << 30),
                   QFile::encodeName(dir.path()).constData(), double(freeBytes.value_or(0)) / (1 << 30));
      return 1;
    }
  }
  std::atomic<qint64> watched{kSamples};
  const RssWatchdog watchdog(maxRssMib, dir.path(), watched);
  QElapsedTimer t;
  t.start();
  if (!writeRecording(path, kSamples))
    return 1;
  std::printf("recording of %lld samples over %d channels written by DataFileWriter: %lld bytes, %.0f ms\n",
              static_cast<long long>(kSamples), kChannels, static_cast<long long>(QFileInfo(path).size()), msSince(t));

  {
    QFile ini(dir.filePath(QStringLiteral("Sys.ini")));
    const QByteArray options = QByteArray("[System Options]\r\nFirstRun=0\r\n") +
                               (xyView ? QByteArray() : QByteArray("XYChannelShow=0\r\n"));
    if (!ini.open(QIODevice::WriteOnly) || ini.write(options) < 0)
      return 1;
  }
  AppContext ctx(ProgramPaths::resolve(dir.path()));
  ModalResponder responder;
  auto main = CreateWindows(ctx, {});
  main->resize(1600, 1000);
  main->show();
  QCoreApplication::processEvents();
  ViewBoard &board = *main->board();

  for (const bool cold : {true, false}) {
    // Each open starts from empty charts, so the delta is what the open itself takes.
    board.clearAllData();
    if (cold)
      evictFromCache(path);
    QCoreApplication::processEvents();
    malloc_trim(0);
    const ProcessMemory before = ProcessMemory::now();
    ProcessMemory::resetPeak();
    main->files()->chooseOpenFile = [path] { return std::optional<QString>(path); };
    t.start();
    main->files()->Open(0); // 打开: the open command with the file dialog answered
    const double openMs = msSince(t);
    QElapsedTimer paint;
    paint.start();
    for (int i = 0; i < board.viewCount(); ++i)
      board.view(i)->pltChannel->replotNow();
    const double paintMs = msSince(paint);
    // The X/Y page draws when the operator turns to it: every point of its trace, once.
    double xyMs = -1;
    qint64 xyPoints = 0;
    if (xyView) {
      PlotChart &xy = *main->XYView->chart();
      paint.start();
      // Shown, the chart lays itself out and draws; the replot after it finds nothing new.
      main->PageControl1->setCurrentIndex(main->PageControl1->indexOf(main->pnlLeft));
      QCoreApplication::processEvents();
      xy.replotNow();
      xyMs = msSince(paint);
      xyPoints = xy.pointCount(0);
      main->PageControl1->setCurrentIndex(0);
      QCoreApplication::processEvents();
    }
    const ProcessMemory after = ProcessMemory::now();
    qint64 points = 0;
    for (int i = 0; i < board.viewCount(); ++i)
      points += board.view(i)->pltChannel->pointCount(0);
    std::printf("\nopen (%s page cache): %d charts, %lld points\n", cold ? "file not in the" : "file in the",
                board.viewCount(), static_cast<long long>(points));
    std::printf("  open command (load + replay)     %8.0f ms\n", openMs);
    std::printf("  first repaint of all charts      %8.0f ms\n", paintMs);
    std::printf("  open to picture                  %8.0f ms\n", openMs + paintMs);
    if (xyView)
      std::printf("  X/Y page, first draw             %8.0f ms (%lld points)\n", xyMs, static_cast<long long>(xyPoints));
    std::printf("  memory: RSS before %.1f MiB, after %.1f MiB (+%.1f MiB), peak during the open (VmHWM) %.1f MiB\n",
                Mib(before.rssKb), Mib(after.rssKb), Mib(after.rssKb - before.rssKb), Mib(after.hwmKb));
    for (const auto &m : responder.seen)
      std::printf("  message box: %s\n", qPrintable(m.text));
    std::fflush(stdout);
  }

  // Where the time goes: the loader alone, from the page cache, when its copy of the samples fits
  // the memory bound beside what the window holds.
  if (ProcessMemory::now().rssKb + 2 * kSamples * DataFileFormat::kSampleSize / 1024 > maxRssMib * 1024) {
    std::printf("\nTDataBlock::load alone: skipped, its copy of the samples would pass the memory bound\n");
    return 0;
  }
  t.start();
  const TDataBlock block = TDataBlock::load(path);
  std::printf("\nTDataBlock::load alone (page cache): %.0f ms, status %d, %lld samples\n", msSince(t),
              int(block.status), static_cast<long long>(block.loadedCount));
  return 0;
}
