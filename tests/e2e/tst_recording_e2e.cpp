#include "MeterSim.h"
#include "TwoMeterTable.h"

#include "acquisition/AcquisitionControl.h"
#include "acquisition/DataBlock.h"
#include "acquisition/DataFileWriter.h"
#include "acquisition/RecordingFiles.h"
#include "acquisition/RecordingMarker.h"
#include "app/AppContext.h"
#include "comm/PollingEngine.h"
#include "app/Startup.h"
#include "app/TfrmMain.h"
#include "comm/TfrmConfigureShowUnit.h"
#include "common/ModalResponder.h"
#include "views/PlotChart.h"
#include "views/TfraChannel.h"
#include "views/ViewBoard.h"

#include <QAction>
#include <QDir>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <cstring>
#include <QtTest>

class TestRecording : public QObject {
  Q_OBJECT
  QTemporaryDir m_home;

private slots:
  void initTestCase() { qputenv("XDG_DATA_HOME", m_home.filePath("data").toUtf8()); }

  // Every frame the meters sent while the recording ran is in the file and on the charts, in
  // order; the temporary recording can then be saved.
  void recordsEverySample() {
    QTemporaryDir dir;
    writeMeterTable(dir.filePath("Sys.ini"), "");
    MeterSim sim(dir.filePath("Sys.ini"), dir.filePath("sim.log"));
    QVERIFY(sim.start({"--port", "COM1", "--meter", "active,addr=12,interval=10,gen=counter",
                       "--port", "COM2", "--meter", "query,addr=1,delay=5,gen=counter"}));
    AppContext ctx(ProgramPaths::resolve(dir.path()));
    auto main = CreateWindows(ctx, {});
    main->show();
    ViewBoard *board = main->board();
    QCOMPARE(board->viewCount(), 2);

    main->btnStart->trigger();
    QVERIFY(main->ReadThread);
    QVERIFY(!main->btnStart->isEnabled());
    QVERIFY(main->btnStop->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(board->view(0)->pltChannel->pointCount(0) >= 100, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(board->view(1)->pltChannel->pointCount(0) >= 5, 15000);
    {
      ModalResponder refuse; // closing is refused while recording
      QVERIFY(!main->close());
      QCOMPARE(refuse.seen.size(), size_t(1));
      QCOMPARE(refuse.seen[0].text, QString("退出前请停止测量！"));
    }
    main->btnStop->trigger();
    QVERIFY(!main->ReadThread);
    QVERIFY(main->btnStart->isEnabled());
    QVERIFY(main->btnSave->isEnabled());
    sim.stop();

    const TDataBlock block = TDataBlock::load(main->WorkFile());
    QCOMPARE(int(block.status), 0);
    QCOMPARE(block.channelCount, 2);
    QVERIFY(main->WorkFile().endsWith("ZERVO temporary1.0.0.0.zvdat"));
    QList<double> file0, file1;
    for (const TSampleRecord &r : block.samples) {
      const double v = r.Value;
      (r.Channel == 0 ? file0 : file1) << v;
    }
    // The charts got exactly what the file got; the last batches may still be on their way.
    QTRY_COMPARE(board->view(0)->pltChannel->pointCount(0), int(file0.size()));
    QTRY_COMPARE(board->view(1)->pltChannel->pointCount(0), int(file1.size()));
    // Nothing lost: the active meter's values are consecutive and were all sent by the simulator.
    for (int i = 1; i < file0.size(); ++i)
      QCOMPARE(file0[i], file0[i - 1] + 1);
    const QList<double> sent = values(sim.events("TX-ACTIVE", "COM1"));
    const qsizetype first = sent.indexOf(file0.first());
    QVERIFY(first >= 0);
    QCOMPARE(sent.mid(first, file0.size()), file0);
    QCOMPARE(file1, values(sim.events("TX-REPLY", "COM2")).mid(0, file1.size()));

    // The meter information window counts every good frame of each port, and those are exactly
    // the samples recorded; a query meter that always answers has no time-out.
    TfrmConfigureShowUnit *info = main->dialogs().frmConfigureShowUnit;
    bool shown = false;
    QStringList header;
    QTimer::singleShot(0, info, [&] {
      const QTableWidget *g = info->gridDiagnostics;
      shown = g->isVisible();
      for (int c = 0; c < g->columnCount(); ++c)
        header << g->item(0, c)->text();
      info->close();
    });
    main->btnConfigure->trigger();
    QVERIFY(shown);
    QCOMPARE(header, QStringList({"串口", "com1", "com2"}));
    const QList<PortStats> stats = main->acquisition()->engine().allStats();
    QCOMPARE(stats.size(), 2);
    QCOMPARE(stats[0].goodFrames, quint64(file0.size()));
    QCOMPARE(stats[1].goodFrames, quint64(file1.size()));
    QCOMPARE(stats[1].timeouts, quint64(0));
    QCOMPARE(stats[0].totalRejects() + stats[1].totalRejects(), quint64(0));
  }

  // A timed recording saved automatically: the file's head and channel records are exactly the
  // bytes written out here by hand.
  // A recording cut off by a crash is never overwritten by a Start unasked: left unsaved at the
  // program start (save dialog cancelled), the Start asks first; declined, it does not. The
  // marker names the running recording and a clean Stop removes it.
  void startAfterCrash_data() {
    QTest::addColumn<bool>("declinedAtStart");
    QTest::newRow("left unsaved: Start asks") << false;
    QTest::newRow("declined: Start does not ask") << true;
  }
  void startAfterCrash() {
    QFETCH(bool, declinedAtStart);
    QTemporaryDir dir;
    writeMeterTable(dir.filePath("Sys.ini"), "SaveMode=0\r\n");
    MeterSim sim(dir.filePath("Sys.ini"), dir.filePath("sim.log"));
    QVERIFY(sim.start({"--port", "COM1", "--meter", "active,addr=12,interval=10,gen=counter", "--port", "COM2",
                       "--meter", "query,addr=1"}));
    AppContext ctx(ProgramPaths::resolve(dir.path()));
    const QString temp = ctx.paths.writableDir + "ZERVO temporary1.0.0.0.zvdat";
    {
      DataFileWriter w;
      QVERIFY(w.open(temp) && w.writeHead({{1, "A", "", 0, 50, 1, 0}}));
      const TSampleRecord r{0, 1.0, 2000.0};
      QVERIFY(w.append(std::span(&r, 1)) && w.close());
    }
    const RecordingMarker marker = RecordingMarker::In(ctx.paths.writableDir);
    QVERIFY(marker.write({temp, QDateTime::currentDateTime(), 0}));
    auto main = CreateWindows(ctx, {});
    main->files()->chooseSaveFile = [](const QString &, const QString &) -> std::optional<QString> {
      return std::nullopt;
    };
    {
      // Gone before Start: two responders would race for the next box.
      ModalResponder atStart({declinedAtStart ? QMessageBox::No : QMessageBox::Yes});
      main->show();
      QTRY_COMPARE(atStart.seen.size(), size_t(1));
      QVERIFY(atStart.seen[0].text.startsWith("上次采集没有正常结束"));
      QCOMPARE(main->btnSave->isEnabled(), !declinedAtStart);
    }

    ModalResponder atStartCmd({QMessageBox::No});
    main->btnStart->trigger();
    QVERIFY(main->ReadThread);
    if (declinedAtStart) {
      QVERIFY(atStartCmd.seen.empty());
    } else {
      QCOMPARE(atStartCmd.seen.size(), size_t(1));
      QCOMPARE(atStartCmd.seen[0].text, QString("上次采集数据未保存,现在保存吗？"));
    }
    const auto running = marker.read();
    QVERIFY(running);
    QCOMPARE(running->dataFile, main->WorkFile());
    QCOMPARE(running->saveMode, 0);
    QTRY_VERIFY_WITH_TIMEOUT(main->board()->view(0)->pltChannel->pointCount(0) >= 5, 15000);
    main->btnStop->trigger();
    QVERIFY(!QFile::exists(marker.path()));
    sim.stop();
  }

  void timedAutomaticRecordingFile() {
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath("runs")));
    writeMeterTable(dir.filePath("Sys.ini"),
                    "SampleMode=1\r\nKeepTime=700\r\nKeepTimeUnit=0\r\nSaveMode=1\r\nSavePath=" +
                        dir.filePath("runs").toUtf8() + "\r\nFileNameHead=Run\r\n"
                        "[Channel1]\r\nTitle=\xCE\xC2\xB6\xC8\r\nMeasureUnit=kg\r\nRangeMin=-5\r\nRangeMax=5\r\n"
                        "Scale=2\r\nOffset=0.5\r\nPhysicalChannel=7\r\n");
    MeterSim sim(dir.filePath("Sys.ini"), dir.filePath("sim.log"));
    QVERIFY(sim.start({"--port", "COM1", "--meter", "active,addr=12,interval=20,gen=counter", "--port", "COM2",
                       "--meter", "query,addr=1"}));
    AppContext ctx(ProgramPaths::resolve(dir.path()));
    auto main = CreateWindows(ctx, {});
    main->btnStart->trigger();
    QVERIFY(main->ReadThread);
    QVERIFY(main->WorkFile().startsWith(dir.filePath("runs") + "/Run"));
    QTRY_VERIFY_WITH_TIMEOUT(!main->ReadThread, 10000); // ends by itself
    QVERIFY(main->btnStart->isEnabled());
    QVERIFY(!main->btnSave->isEnabled()); // saved automatically: nothing to save

    QFile f(main->WorkFile());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QByteArray head("\x17" "ZERVO Data File ver 1.0" "\x00\x00" "\x02\x00\x00\x00", 30);
    QCOMPARE(bytes.left(30), head);
    // Channel 1: number 1, physical 7, title "温度" (GBK CE C2 B6 C8), unit "kg", -5, 5, 2, 0.5.
    QByteArray rec1("\x01\x00\x00\x00" "\x07\x00\x00\x00", 8);
    rec1 += QByteArray("\x04\xCE\xC2\xB6\xC8", 5) + QByteArray(16, '\0');
    rec1 += QByteArray("\x02kg", 3) + QByteArray(18, '\0');
    QCOMPARE(bytes.mid(30, 50), rec1);
    auto dbl = [&](int at) {
      double v;
      memcpy(&v, bytes.constData() + at, 8);
      return v;
    };
    QCOMPARE(dbl(30 + 50), -5.0);
    QCOMPARE(dbl(30 + 58), 5.0);
    QCOMPARE(dbl(30 + 66), 2.0);
    QCOMPARE(dbl(30 + 74), 0.5);
    // Samples follow the two 82-byte records; the active meter's counter never skips.
    const QByteArray samples = bytes.mid(30 + 2 * 82);
    QCOMPARE(samples.size() % 20, 0);
    QList<double> counter;
    for (qsizetype at = 0; at < samples.size(); at += 20) {
      qint32 ch;
      double v;
      memcpy(&ch, samples.constData() + at, 4);
      memcpy(&v, samples.constData() + at + 4, 8);
      if (ch == 0)
        counter << v;
    }
    QVERIFY(counter.size() > 5);
    for (int i = 1; i < counter.size(); ++i)
      QCOMPARE(counter[i], counter[i - 1] + 1);
  }

  void refusals_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("message");
    QTest::newRow("no meters") << QByteArray("[System Options]\r\nFirstRun=0\r\n") << "没有有效仪表！";
    QTest::newRow("automatic save without its folder")
        << QByteArray("[System Options]\r\nFirstRun=0\r\nSaveMode=1\r\nSavePath=/no/such/folder\r\n") << "默认保存路径不存在，请重新选择！";
  }
  void refusals() {
    QFETCH(QByteArray, ini);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const bool withMeters = message != "没有有效仪表！";
    if (withMeters)
      writeMeterTable(dir.filePath("Sys.ini"), ini.mid(ini.indexOf("\r\n") + 2).replace("FirstRun=0\r\n", ""));
    else {
      QFile f(dir.filePath("Sys.ini"));
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(ini);
    }
    MeterSim sim(dir.filePath("Sys.ini"), dir.filePath("sim.log"));
    QVERIFY(sim.start({"--port", "COM1", "--meter", "active,addr=12", "--port", "COM2", "--meter", "query,addr=1"}));
    AppContext ctx(ProgramPaths::resolve(dir.path()));
    auto main = CreateWindows(ctx, {});
    ModalResponder responder; // answers the message, and closes the settings dialog it opens
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
      if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget()); d && !qobject_cast<QMessageBox *>(d))
        d->reject();
    });
    closer.start(20);
    main->btnStart->trigger();
    QVERIFY(!main->ReadThread);
    QVERIFY(main->btnStart->isEnabled());
    QVERIFY(!responder.seen.empty());
    QCOMPARE(responder.seen[0].text, message);
    QCOMPARE(responder.seen[0].caption, QString("错误"));
  }

  // A data folder where no file can be created: the operator is told and polling stops.
  void unwritableDataFileStopsAndTells() {
    QTemporaryDir dir;
    writeMeterTable(dir.filePath("Sys.ini"), "SaveMode=1\r\nSavePath=/proc\r\n");
    MeterSim sim(dir.filePath("Sys.ini"), dir.filePath("sim.log"));
    QVERIFY(sim.start({"--port", "COM1", "--meter", "active,addr=12,interval=20", "--port", "COM2",
                       "--meter", "query,addr=1"}));
    AppContext ctx(ProgramPaths::resolve(dir.path()));
    auto main = CreateWindows(ctx, {});
    ModalResponder responder;
    main->btnStart->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!main->ReadThread, 10000);
    QTRY_VERIFY(!responder.seen.empty());
    QVERIFY(responder.seen[0].text.startsWith("数据文件无法创建"));
    QCOMPARE(responder.seen[0].caption, QString("错误"));
    QVERIFY(!main->acquisition()->engine().running());
  }
};

QTEST_MAIN(TestRecording)
#include "tst_recording_e2e.moc"
