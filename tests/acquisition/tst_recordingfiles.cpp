#include "acquisition/AcquisitionControl.h"
#include "acquisition/DataFileWriter.h"
#include "acquisition/RecordingFiles.h"
#include "acquisition/TChannel.h"
#include "app/AppContext.h"
#include "app/Startup.h"
#include "app/TfrmMain.h"
#include "common/ModalResponder.h"
#include "views/PlotChart.h"
#include "views/TfraChannel.h"
#include "views/ViewBoard.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

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

  void startupFileIsOpenedAtFirstShowing() {
    QTemporaryDir dir;
    const QString file = dir.filePath("RUN.ZVDAT");
    writeRecording(file, 2, 4);
    AppContext ctx(ProgramPaths::resolve(dir.path()));
    auto main = CreateWindows(ctx, {file});
    main->show();
    QVERIFY(QTest::qWaitForWindowExposed(main.get()));
    QCOMPARE(main->board()->viewCount(), 2);
    QCOMPARE(main->board()->view(0)->pltChannel->pointCount(0), 4);
  }
};

QTEST_MAIN(TestRecordingFiles)
#include "tst_recordingfiles.moc"
