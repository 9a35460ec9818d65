// A recording cut off by a crash: the marker it leaves, what the operator is told at the next
// program start, and that the interrupted recording is not overwritten unasked.
#include "acquisition/AcquisitionControl.h"
#include "acquisition/DataFileWriter.h"
#include "acquisition/RecordingFiles.h"
#include "acquisition/RecordingMarker.h"
#include "app/AppContext.h"
#include "app/Startup.h"
#include "app/TfrmMain.h"
#include "common/ModalResponder.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// One channel, samples at 0, 1, ... seconds; then what a crash leaves of the next record.
void writeCutRecording(const QString &path, int samples, int cutBytes) {
  DataFileWriter w;
  QVERIFY(w.open(path));
  QVERIFY(w.writeHead({{1, "A", "kg", 0, 100, 1, 0}}));
  std::vector<TSampleRecord> recs;
  for (int k = 0; k < samples; ++k)
    recs.push_back({0, double(k), double(k * 1000 + 4)});
  QVERIFY(w.append(recs));
  QVERIFY(w.close());
  QFile f(path);
  QVERIFY(f.open(QIODevice::Append));
  f.write(QByteArray(cutBytes, '\x55'));
}

QByteArray readBytes(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Program {
  QTemporaryDir dir;
  AppContext ctx{ProgramPaths::resolve(dir.path())};
  std::unique_ptr<TfrmMain> main;
  explicit Program(int saveMode) {
    QDir().mkpath(dir.filePath("runs"));
    QFile f(ctx.paths.settingsFile);
    if (f.open(QIODevice::WriteOnly))
      f.write("[System Options]\r\nFirstRun=0\r\nSaveMode=" + QByteArray::number(saveMode) + "\r\nSavePath=" +
              dir.filePath("runs").toUtf8() + "\r\n[Meter Configure]\r\nMeterAmount=1\r\n");
    f.close();
  }
  void create() { main = CreateWindows(ctx, {}); }
  RecordingMarker marker() const { return RecordingMarker::In(ctx.paths.writableDir); }
  QString temporaryFile() const { return ctx.paths.writableDir + "ZERVO temporary1.0.0.0.zvdat"; }
};
} // namespace

class TestRecordingCrash : public QObject {
  Q_OBJECT
  QTemporaryDir m_home;

private slots:
  void initTestCase() { qputenv("XDG_DATA_HOME", m_home.filePath("data").toUtf8()); }

  void markerRoundTrip() {
    QTemporaryDir dir;
    const RecordingMarker marker = RecordingMarker::In(dir.path() + "/");
    QVERIFY(!marker.read());
    const QDateTime start = QDateTime::fromString("2026-12-09T05:34:07.250", Qt::ISODateWithMs);
    QVERIFY(marker.write({dir.filePath("测试 1.zvdat"), start, 1}));
    const auto info = marker.read();
    QVERIFY(info);
    QCOMPARE(info->dataFile, dir.filePath("测试 1.zvdat"));
    QCOMPARE(info->startTime, start);
    QCOMPARE(info->saveMode, 1);
    QVERIFY(marker.remove());
    QVERIFY(!QFile::exists(marker.path()));
    QVERIFY(marker.remove()); // nothing left to remove
  }

  // What the next start says, by where the cut-off recording lies, and what each answer does.
  void unfinishedRecordingAtStart_data() {
    QTest::addColumn<int>("saveMode");
    QTest::addColumn<int>("answer");      // to the first box
    QTest::addColumn<bool>("saveChosen"); // the save dialog returns a name
    QTest::addColumn<QString>("ending");
    QTest::addColumn<bool>("saved");
    QTest::addColumn<bool>("markerKept");
    QTest::addColumn<bool>("saveAvailable");
    const QString ask = "是否保存这次采集的数据？";
    const QString report = "数据已保存在该文件中。";
    QTest::newRow("ask each time, Yes, saved") << 0 << int(QMessageBox::Yes) << true << ask << true << false << false;
    QTest::newRow("ask each time, No") << 0 << int(QMessageBox::No) << false << ask << false << false << false;
    QTest::newRow("ask each time, save dialog cancelled")
        << 0 << int(QMessageBox::Yes) << false << ask << false << true << true;
    QTest::newRow("automatic: report only") << 1 << int(QMessageBox::Ok) << false << report << false << false << false;
  }
  void unfinishedRecordingAtStart() {
    QFETCH(int, saveMode);
    QFETCH(int, answer);
    QFETCH(bool, saveChosen);
    QFETCH(QString, ending);
    QFETCH(bool, saved);
    QFETCH(bool, markerKept);
    QFETCH(bool, saveAvailable);

    Program p(saveMode);
    const QString file = saveMode == 0 ? p.temporaryFile() : p.dir.filePath("runs/Test26-12-09 05.34.07.zvdat");
    writeCutRecording(file, 3724, 13); // last whole sample at 3723004 ms
    QVERIFY(p.marker().write({file, QDateTime::currentDateTime(), saveMode}));
    p.create();
    const QString target = p.dir.filePath("kept.zvdat");
    int dialogs = 0;
    p.main->files()->chooseSaveFile = [&](const QString &, const QString &) -> std::optional<QString> {
      ++dialogs;
      return saveChosen ? std::optional<QString>(target) : std::nullopt;
    };
    ModalResponder r({QMessageBox::StandardButton(answer), QMessageBox::Ok});
    p.main->show(); // the question comes once the window is on the screen
    QTRY_VERIFY(!r.seen.empty());
    QCOMPARE(r.seen[0].caption, QString("提示"));
    QCOMPARE(r.seen[0].text, "上次采集没有正常结束（文件 " + QDir::toNativeSeparators(file) + "，时长 1小时2分钟3秒4毫秒），" + ending);
    if (saved)
      QTRY_COMPARE(r.seen.size(), size_t(2)); // "数据文件保存完成！"
    QCOMPARE(dialogs, answer == QMessageBox::Yes ? 1 : 0);
    QCOMPARE(QFile::exists(target), saved);
    if (saved)
      QCOMPARE(readBytes(target), readBytes(file)); // the cut record is kept as it is
    QCOMPARE(QFile::exists(p.marker().path()), markerKept);
    QCOMPARE(p.main->btnSave->isEnabled(), saveAvailable);
    QVERIFY(QFile::exists(file)); // never removed or cut
  }

  // A marker without anything to tell: gone without a word.
  void nothingToTell_data() {
    QTest::addColumn<int>("samples");
    QTest::addColumn<bool>("fileExists");
    QTest::newRow("no sample yet") << 0 << true;
    QTest::newRow("file gone") << 0 << false;
  }
  void nothingToTell() {
    QFETCH(int, samples);
    QFETCH(bool, fileExists);
    Program p(0);
    if (fileExists)
      writeCutRecording(p.temporaryFile(), samples, 7);
    QVERIFY(p.marker().write({p.temporaryFile(), QDateTime::currentDateTime(), 0}));
    p.create();
    ModalResponder r;
    p.main->files()->CheckUnfinishedRecording();
    QVERIFY(r.seen.empty());
    QVERIFY(!QFile::exists(p.marker().path()));
    QVERIFY(!p.main->btnSave->isEnabled());
  }

  void lastSampleTime_data() {
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("cut");
    QTest::addColumn<double>("expected"); // < 0: none
    QTest::newRow("whole") << 5 << 0 << 4004.0;
    QTest::newRow("cut record ignored") << 5 << 19 << 4004.0;
    QTest::newRow("no whole sample") << 0 << 19 << -1.0;
  }
  void lastSampleTime() {
    QFETCH(int, samples);
    QFETCH(int, cut);
    QFETCH(double, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath("a.zvdat");
    writeCutRecording(path, samples, cut);
    const std::optional<double> t = LastSampleTime(path);
    QCOMPARE(t.has_value(), expected >= 0);
    if (t)
      QCOMPARE(*t, expected);
  }
};

QTEST_MAIN(TestRecordingCrash)
#include "tst_recording_crash.moc"
