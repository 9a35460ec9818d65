#include "acquisition/AcquisitionControl.h"
#include "acquisition/DataBlock.h"
#include "acquisition/TimeUnits.h"
#include "acquisition/DataFileWriter.h"
#include "acquisition/RecordingFiles.h"
#include "acquisition/TChannel.h"
#include "app/AppContext.h"
#include "app/Conversions.h"
#include "app/Startup.h"
#include "app/TfrmMain.h"
#include "common/ModalResponder.h"
#include "views/PlotChart.h"
#include "views/TfraChannel.h"
#include "views/TfraXYChannel.h"
#include "views/ViewBoard.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
// A recording of n channels; channel c's samples are (c + 1) * k at k seconds.
void writeRecording(const QString &path, int channels, int samples, const QString &title = "Rec") {
  DataFileWriter w;
  QVERIFY(w.open(path));
  QList<ChannelInfo> infos;
  for (int c = 0; c < channels; ++c)
    infos.append({c + 11, title + QString::number(c), "kg", 0, 100, 2, 1});
  QVERIFY(w.writeHead(infos));
  std::vector<TSampleRecord> recs;
  for (int k = 0; k < samples; ++k)
    for (int c = 0; c < channels; ++c)
      recs.push_back({c, double((c + 1) * k), double(k * 1000)});
  QVERIFY(w.append(recs));
  QVERIFY(w.close());
}

QByteArray readBytes(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString &path, const QByteArray &bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

// A data file written out by hand: n channel records, then the given samples.
QByteArray fileBytes(qint32 n, const std::vector<TSampleRecord> &samples, int extraBytes = 0) {
  QByteArray b = QByteArray("\x17ZERVO Data File ver 1.0", 24) + QByteArray(2, '\0');
  b.append(reinterpret_cast<const char *>(&n), 4);
  for (qint32 i = 0; i < n; ++i) {
    QByteArray r(82, '\0');
    const qint32 number = i + 1, physical = i + 21;
    std::memcpy(r.data(), &number, 4);
    std::memcpy(r.data() + 4, &physical, 4);
    r[8] = 2;
    r[9] = 'T';
    r[10] = char('0' + i);
    const double range[4] = {0, 10, 1, 0};
    std::memcpy(r.data() + 50, range, sizeof range);
    b += r;
  }
  b.append(reinterpret_cast<const char *>(samples.data()), qsizetype(samples.size() * 20));
  return b + QByteArray(extraBytes, '\x5a');
}

// Samples of `channels` channels in turn, every `foreignEvery`-th one of channel `foreign`.
std::vector<TSampleRecord> interleaved(int count, int channels, int foreignEvery = 0, qint32 foreign = 99) {
  std::vector<TSampleRecord> out;
  for (int k = 0; k < count; ++k) {
    const qint32 ch = foreignEvery > 0 && k % foreignEvery == 3 ? foreign : k % channels;
    out.push_back({ch, std::sin(k * 0.01) * 100 + k % 13, double(k * 7)});
  }
  return out;
}

struct Points {
  QList<double> x, y;
  friend bool operator==(const Points &, const Points &) = default;
};

Points tracePoints(const PlotChart &c, int trace) {
  Points p;
  for (int j = 0; j < c.pointCount(trace); ++j) {
    p.x.append(c.pointX(trace, j));
    p.y.append(c.pointY(trace, j));
  }
  return p;
}

// The first top-level progress window shown, if any.
QProgressBar *shownProgressBar() {
  for (QWidget *w : QApplication::topLevelWidgets())
    if (w->isVisible())
      if (auto *bar = w->findChild<QProgressBar *>())
        return bar;
  return nullptr;
}

struct Program {
  QTemporaryDir dir;
  AppContext ctx{ProgramPaths::resolve(dir.path())};
  std::unique_ptr<TfrmMain> main;
  explicit Program(int meters = 0) {
    QFile f(ctx.paths.settingsFile);
    if (f.open(QIODevice::WriteOnly))
      f.write("[System Options]\r\nFirstRun=0\r\nTimeWindowUnit=1\r\n[Meter Configure]\r\nMeterAmount=" +
              QByteArray::number(meters) + "\r\n");
    f.close();
    main = CreateWindows(ctx, {});
  }
  RecordingFiles &files() { return *main->files(); }
  ViewBoard &board() { return *main->board(); }
};
} // namespace

class TestRecordingFiles : public QObject {
  Q_OBJECT
  QTemporaryDir m_home;

private slots:
  void initTestCase() { qputenv("XDG_DATA_HOME", m_home.filePath("data").toUtf8()); }

  void openReplaysAndAppliesTheRecords() {
    Program p(4);
    const QString file = p.dir.filePath("a.zvdat");
    writeRecording(file, 3, 3724); // last sample at 3723 s
    QCOMPARE(p.board().viewCount(), 4);
    QVERIFY(p.files().LoadByPath(file));
    QCOMPARE(p.board().viewCount(), 3); // rebuilt for the file's channel count
    PlotChart *c1 = p.board().view(1)->pltChannel;
    QCOMPARE(c1->pointCount(0), 3724);
    QCOMPARE(c1->pointX(0, 10), 10.0); // seconds on the time axis
    QCOMPARE(p.board().view(1)->lblMax->text(), QString("7446.00"));
    QCOMPARE(p.board().channel(2)->Title(), QString("Rec2"));
    QCOMPARE(p.board().channel(2)->PhysicalChannel(), 13);
    QCOMPARE(p.board().channel(2)->Scale(), 2.0);
    QCOMPARE(p.main->panelText(1), QString("采样时长: 1小时2分钟3秒0毫秒"));
    QCOMPARE(p.main->WorkFile(), file);
    QVERIFY(!c1->tracking(ChartAxis::X));
    QCOMPARE(p.ctx.meters.Meters[1].MeterValue.load(), 7446.0);
    // The file's records are not written to Sys.ini.
    QCOMPARE(p.ctx.settings->readString("Channel3", "Title", "none"), QString("none"));
  }

  void batchesOverlay() {
    Program p(2);
    const QString a = p.dir.filePath("a.zvdat"), b = p.dir.filePath("b.zvdat");
    writeRecording(a, 2, 10);
    writeRecording(b, 2, 20);
    p.main->BatchIndex = 0;
    QVERIFY(p.files().LoadByPath(a));
    p.main->BatchIndex = 1;
    QVERIFY(p.files().LoadByPath(b));
    PlotChart *c = p.board().view(0)->pltChannel;
    QCOMPARE(c->pointCount(0), 10);
    QCOMPARE(c->pointCount(1), 20);
    QCOMPARE(c->legendEntries(), (QStringList{"1", "2"}));
    p.files().ClearChannelData();
    QCOMPARE(c->pointCount(0), 0);
    QCOMPARE(c->pointCount(1), 0);
    QVERIFY(c->legendEntries().isEmpty());
  }

  void openMenuChoosesTheBatch() {
    Program p(1);
    const QString a = p.dir.filePath("a.zvdat");
    writeRecording(a, 1, 5);
    p.files().chooseOpenFile = [a]() -> std::optional<QString> { return a; };
    p.main->MenuLoadChannel[2]->trigger(); // "批次&3"
    QCOMPARE(p.main->BatchIndex, 2);
    QCOMPARE(p.board().view(0)->pltChannel->pointCount(2), 5);
  }

  void badFilesAreRefused_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("wrong magic") << QByteArray(200, 'x');
    QTest::newRow("empty") << QByteArray();
  }
  void badFilesAreRefused() {
    QFETCH(QByteArray, bytes);
    Program p(1);
    const QString path = p.dir.filePath("bad.zvdat");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    ModalResponder r;
    QVERIFY(!p.files().LoadByPath(path));
    QCOMPARE(r.seen.size(), size_t(1));
    QCOMPARE(r.seen[0].text, QString("错误的数据文件格式！"));
    QCOMPARE(r.seen[0].caption, QString("错误"));
  }

  void saveCopiesTheTemporaryRecording() {
    Program p(1);
    const QString temp = p.main->acquisition()->temporaryFile();
    writeRecording(temp, 1, 7);
    const QString target = p.dir.filePath("kept.zvdat");
    QString offeredFolder, offeredName;
    p.files().chooseSaveFile = [&](const QString &folder, const QString &name) -> std::optional<QString> {
      offeredFolder = folder;
      offeredName = name;
      return target;
    };
    p.main->setSaveAvailable(true);
    ModalResponder r;
    p.main->btnSave->trigger();
    QCOMPARE(r.seen.size(), size_t(1));
    QCOMPARE(r.seen[0].text, QString("数据文件保存完成！"));
    QVERIFY(!p.main->btnSave->isEnabled());
    QFile a(temp), b(target);
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    QCOMPARE(b.readAll(), a.readAll());
    QCOMPARE(offeredFolder, p.dir.path() + "/TestData");
    QVERIFY(offeredName.startsWith("Test") && offeredName.endsWith(".zvdat"));
    QCOMPARE(p.ctx.settings->readString("System Options", "OpenPath", ""), offeredFolder);
  }

  // A copy that fails is reported, the recording stays and can be saved again.
  void failedSaveIsReported() {
    Program p(1);
    const QString temp = p.main->acquisition()->temporaryFile();
    writeRecording(temp, 1, 7);
    p.files().chooseSaveFile = [&](const QString &, const QString &) -> std::optional<QString> {
      return p.dir.filePath("no/such/folder/kept.zvdat");
    };
    p.main->setSaveAvailable(true);
    ModalResponder r;
    p.main->btnSave->trigger();
    QCOMPARE(r.seen.size(), size_t(1));
    QVERIFY(r.seen[0].text.startsWith("数据文件保存失败！"));
    QCOMPARE(r.seen[0].caption, QString("错误"));
    QVERIFY(p.main->btnSave->isEnabled());
    QVERIFY(QFile::exists(temp));
  }

  // Save replaces the chosen file in one step: a failed copy leaves the old file as it was, and a
  // "<name>.part" that is not ours is never touched.
  void saveReplacesInOneStep_data() {
    QTest::addColumn<bool>("recorded");    // the temporary recording exists
    QTest::addColumn<bool>("foreignPart"); // someone else's kept.zvdat.part lies beside the target
    QTest::newRow("replaces the old file") << true << false;
    QTest::newRow("copy fails: old file kept") << false << false;
    QTest::newRow("foreign .part left alone") << true << true;
    QTest::newRow("copy fails, foreign .part left alone") << false << true;
  }
  void saveReplacesInOneStep() {
    QFETCH(bool, recorded);
    QFETCH(bool, foreignPart);
    Program p(1);
    const QString temp = p.main->acquisition()->temporaryFile();
    if (recorded)
      writeRecording(temp, 1, 7);
    QVERIFY(QDir().mkpath(p.dir.filePath("out")));
    const QString target = p.dir.filePath("out/kept.zvdat");
    const QByteArray old = "the recording saved last week";
    const QByteArray foreign = "another program's half-written file";
    writeBytes(target, old);
    if (foreignPart)
      writeBytes(target + ".part", foreign);
    p.files().chooseSaveFile = [&](const QString &, const QString &) -> std::optional<QString> { return target; };
    p.main->setSaveAvailable(true);
    ModalResponder r;
    p.main->btnSave->trigger();
    QCOMPARE(r.seen.size(), size_t(1));
    QCOMPARE(readBytes(target), recorded ? readBytes(temp) : old);
    QCOMPARE(r.seen[0].text.startsWith("数据文件保存失败！"), !recorded);
    QCOMPARE(p.main->saveAvailable(), !recorded); // a failed save can be tried again
    if (foreignPart)
      QCOMPARE(readBytes(target + ".part"), foreign);
    // Nothing of ours is left behind.
    QStringList expected{"kept.zvdat"};
    if (foreignPart)
      expected << "kept.zvdat.part";
    QCOMPARE(QDir(p.dir.filePath("out")).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
  }

  // The streamed open shows what loading the whole file and replaying it shows: every channel's
  // points in order, the extremes, the meters, the duration and the X/Y view.
  void streamedOpenMatchesTheWholeFile_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("meters");
    QTest::addColumn<int>("batch");
    QTest::addColumn<qint64>("chunkBytes");
    const qint64 big = RecordingFiles::OpenPace{}.chunkBytes;
    QTest::newRow("ordinary") << fileBytes(3, interleaved(3000, 3)) << 3 << 0 << big;
    QTest::newRow("ordinary, reads cut records") << fileBytes(3, interleaved(3000, 3)) << 3 << 0 << qint64(20 * 37 + 9);
    QTest::newRow("ordinary, batch 3, 7-byte reads") << fileBytes(2, interleaved(800, 2)) << 2 << 2 << qint64(7);
    QTest::newRow("cut last record") << fileBytes(2, interleaved(999, 2), 13) << 2 << 0 << qint64(333);
    QTest::newRow("foreign channel indexes") << fileBytes(2, interleaved(2000, 2, 5)) << 2 << 0 << qint64(1000);
    QTest::newRow("negative channel index") << fileBytes(2, interleaved(2000, 2, 9, -1)) << 2 << 0 << qint64(1000);
    QTest::newRow("more channels than views shown") << fileBytes(5, interleaved(1500, 5)) << 2 << 0 << qint64(4096);
    QTest::newRow("channels without samples") << fileBytes(4, interleaved(600, 2)) << 4 << 0 << qint64(512);
    QTest::newRow("one sample") << fileBytes(2, interleaved(1, 2)) << 2 << 0 << big;
    QTest::newRow("large: several default reads") << fileBytes(2, interleaved(500000, 2)) << 2 << 0 << big;
  }
  void streamedOpenMatchesTheWholeFile() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, meters);
    QFETCH(int, batch);
    QFETCH(qint64, chunkBytes);
    Program p(meters);
    const QString file = p.dir.filePath("s.zvdat");
    writeBytes(file, bytes);
    const TDataBlock block = TDataBlock::load(file);
    QCOMPARE(int(block.status), int(DataFileStatus::Loaded));
    const int n = block.channelCount;

    p.main->BatchIndex = batch;
    p.files().openPace.chunkBytes = chunkBytes;
    QVERIFY(p.files().LoadByPath(file));
    QCOMPARE(p.board().viewCount(), n);

    std::vector<Points> expected(static_cast<size_t>(n));
    std::vector<std::optional<double>> last(static_cast<size_t>(n));
    for (const TSampleRecord &r : block.samples) {
      const qint32 ch = r.Channel;
      if (ch < 0 || ch >= n)
        continue;
      const double time = r.Time; // packed: copy out before binding a reference
      const double value = r.Value;
      expected[size_t(ch)].x.append(time);
      expected[size_t(ch)].y.append(value);
      last[size_t(ch)] = value;
    }
    for (int c = 0; c < n; ++c) {
      TfraChannel *v = p.board().view(c);
      const Points &e = expected[size_t(c)];
      QCOMPARE(v->pltChannel->pointCount(batch), int(e.x.size()));
      // The trace reads the file itself: its store holds the file's exact times and values,
      // and the axis shows them in the time unit.
      const std::shared_ptr<SampleStore> store = v->pltChannel->traceStore(batch);
      QVERIFY(store->fileBacked());
      Points stored;
      for (qint64 j = 0; j < store->count(); ++j) {
        stored.x.append(store->x(j));
        stored.y.append(store->y(j));
      }
      QVERIFY2(stored == e, qPrintable(QString("channel %1").arg(c)));
      const double msPerUnit = UnitToMillisecondsF(p.ctx.options.TimeWindowUnit);
      for (int j = 0; j < e.x.size(); j += std::max<int>(1, int(e.x.size() / 50)))
        QVERIFY(std::abs(v->pltChannel->pointX(batch, j) - e.x[j] / msPerUnit) <= 1e-12 * std::abs(e.x[j] / msPerUnit));
      const auto [mn, mx] = std::minmax_element(e.y.begin(), e.y.end());
      QCOMPARE(v->lblMax->text(), e.y.isEmpty() ? QString() : p.ctx.formats.formatValue(c, *mx));
      QCOMPARE(v->lblMin->text(), e.y.isEmpty() ? QString() : p.ctx.formats.formatValue(c, *mn));
      QCOMPARE(p.ctx.meters.Meters[size_t(c)].MeterValue.load(), last[size_t(c)].value_or(kNoValue));
      QCOMPARE(p.board().channel(c)->Title(), QString("T%1").arg(c));
      QCOMPARE(p.board().channel(c)->PhysicalChannel(), c + 21);
    }
    QCOMPARE(p.main->panelText(1), QStringLiteral("采样时长: ") + DurationText(block.lastTime));
    QCOMPARE(p.main->WorkFile(), file);
    QVERIFY(p.files().lastFile());
    QCOMPARE(p.files().lastFile()->loadedCount, block.loadedCount);
    QCOMPARE(p.files().lastFile()->trailingBytes, block.trailingBytes);

    // X/Y: the same trace as feeding the view the whole file's samples in order.
    PlotChart *xy = p.main->XYView->chart();
    const Points streamedXY = tracePoints(*xy, batch);
    if (p.ctx.options.XChannelNo < n && p.ctx.options.YChannelNo < n && block.loadedCount > 2)
      QVERIFY(!streamedXY.x.isEmpty());
    if (p.main->XYView->beginReplay(batch, n))
      for (const TSampleRecord &r : block.samples)
        if (r.Channel >= 0 && r.Channel < n)
          p.main->XYView->replaySample(r.Channel, r.Value);
    QVERIFY(tracePoints(*xy, batch) == streamedXY);
  }

  // Files without a whole sample are refused before any chart is touched.
  void filesWithoutSamplesLeaveTheChartsAlone_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("records only") << fileBytes(2, {});
    QTest::newRow("19 bytes of a sample") << fileBytes(2, {}, 19);
    QTest::newRow("head only") << fileBytes(2, {}).left(30);
  }
  void filesWithoutSamplesLeaveTheChartsAlone() {
    QFETCH(QByteArray, bytes);
    Program p(2);
    const QString good = p.dir.filePath("good.zvdat"), bad = p.dir.filePath("bad.zvdat");
    writeBytes(good, fileBytes(2, interleaved(10, 2)));
    writeBytes(bad, bytes);
    QVERIFY(p.files().LoadByPath(good));
    const QString duration = p.main->panelText(1);
    ModalResponder r;
    QVERIFY(!p.files().LoadByPath(bad));
    QCOMPARE(r.seen.size(), size_t(1));
    QCOMPARE(r.seen[0].text, QString("错误的数据文件格式！"));
    QCOMPARE(p.board().view(0)->pltChannel->pointCount(0), 5);
    QCOMPARE(p.main->panelText(1), duration);
    QCOMPARE(p.main->WorkFile(), good);
    QVERIFY(!p.files().lastFile());
  }

  // A long open shows the share of the file read, keeps serving events and refuses every other
  // command meanwhile; a close asked for then is asked again once the open is over.
  void longOpenShowsProgressAndRefusesCommands() {
    Program p(3);
    const QString file = p.dir.filePath("long.zvdat");
    writeRecording(file, 3, 4000);
    p.files().openPace = {20 * 25 + 3, 0};
    ModalResponder r; // Cancel to the exit question
    std::vector<int> values;
    bool openEnabled = true, clearEnabled = true, startEnabled = true, closed = true;
    QList<QAction *> enabledDuring;
    WindowState during = WindowState::Idle;
    QTimer watch;
    watch.setInterval(0);
    connect(&watch, &QTimer::timeout, this, [&] {
      if (QProgressBar *bar = shownProgressBar())
        values.push_back(bar->value());
    });
    watch.start();
    QTimer::singleShot(0, this, [&] {
      during = p.main->windowState();
      openEnabled = p.main->btnOpen->isEnabled();
      clearEnabled = p.main->MenuChannelClear->isEnabled();
      startEnabled = p.main->btnStart->isEnabled();
      for (QAction *a : {p.main->btnMeterConfigure, p.main->btnSetup, p.main->btnSave, p.main->btnPrint,
                         p.main->MenuLoadChannel[4], p.main->MenuHelpAbout, p.main->btnConfigure})
        if (a->isEnabled())
          enabledDuring.append(a);
      // Reached anyway (a shortcut that slipped through): refused with a notice.
      p.main->btnStartClick();
      p.main->btnMeterConfigureClick();
      closed = p.main->close();
    });
    QVERIFY(p.files().LoadByPath(file));
    watch.stop();
    QCOMPARE(int(during), int(WindowState::Opening));
    QVERIFY(!openEnabled);
    QVERIFY(!clearEnabled);
    QVERIFY(!startEnabled);
    QVERIFY(enabledDuring.isEmpty());
    QVERIFY(!closed);
    QVERIFY(!p.main->acquisition()->running());
    QVERIFY(values.size() > 2);
    QVERIFY(values.front() < values.back());
    QVERIFY(std::is_sorted(values.begin(), values.end()));
    QVERIFY(values.back() <= 100);
    QCOMPARE(p.board().view(2)->pltChannel->pointCount(0), 4000);
    QVERIFY(!shownProgressBar());
    QCOMPARE(int(p.main->windowState()), int(WindowState::Idle));
    QVERIFY(p.main->btnOpen->isEnabled());
    // Two refusals and the exit question asked after the open; the notices are not modal, so
    // the responder may come to the one underneath after the question.
    QTRY_COMPARE(r.seen.size(), size_t(3));
    const auto count = [&](const QString &text) {
      return std::count_if(r.seen.begin(), r.seen.end(), [&](const auto &s) { return s.text == text; });
    };
    QCOMPARE(count(RefusalText(WindowState::Opening)), 2);
    QCOMPARE(count(QString("确定要退出系统？")), 1);
    QCOMPARE(r.seen[0].text, RefusalText(WindowState::Opening));
  }

  // Below the threshold the pass is one step: no progress window, no events served.
  void shortOpenShowsNoProgress() {
    Program p(1);
    const QString file = p.dir.filePath("short.zvdat");
    writeRecording(file, 1, 2000);
    p.files().openPace = {20 * 10, 3600 * 1000};
    bool fired = false;
    QTimer::singleShot(0, this, [&] { fired = true; });
    QVERIFY(p.files().LoadByPath(file));
    QVERIFY(!fired);
    QCOMPARE(p.board().view(0)->pltChannel->pointCount(0), 2000);
    QTRY_VERIFY(fired);
  }

  // The main window shows first; the file named on the command line opens once it is up.
  void startupFileOpensAfterTheWindowShows() {
    QTemporaryDir dir;
    const QString file = dir.filePath("RUN.ZVDAT");
    writeRecording(file, 2, 4000);
    AppContext ctx(ProgramPaths::resolve(dir.path()));
    auto main = CreateWindows(ctx, {file});
    main->files()->openPace = {20 * 50, 0};
    bool visibleDuringOpen = false;
    WindowState during = WindowState::Idle;
    main->show();
    const int pointsAtShow = main->board()->viewCount() > 0 ? main->board()->view(0)->pltChannel->pointCount(0) : 0;
    // Queued after the window's own deferred open, so it runs inside the pass.
    QTimer::singleShot(0, main.get(), [&] {
      visibleDuringOpen = main->isVisible();
      during = main->windowState();
    });
    QCOMPARE(pointsAtShow, 0);
    QTRY_COMPARE(main->board()->viewCount(), 2);
    QTRY_COMPARE(main->board()->view(0)->pltChannel->pointCount(0), 4000);
    QVERIFY(visibleDuringOpen);
    QCOMPARE(int(during), int(WindowState::Opening));
    QCOMPARE(main->WorkFile(), file);
  }
};

QTEST_MAIN(TestRecordingFiles)
#include "tst_recordingfiles.moc"
