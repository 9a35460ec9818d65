// The main window's one state against simulated meters: what is offered while a search or a
// recording runs, closing during a search, and what a recording after an Open holds.
#include "MeterSim.h"

#include "acquisition/DataBlock.h"
#include "acquisition/DataFileWriter.h"
#include "acquisition/RecordingFiles.h"
#include "acquisition/TChannel.h"
#include "app/AppContext.h"
#include "app/Startup.h"
#include "app/TfrmMain.h"
#include "comm/SearchCommand.h"
#include "comm/TfrmConfigureShowUnit.h"
#include "common/ModalResponder.h"
#include "views/PlotChart.h"
#include "views/TfraChannel.h"
#include "views/ViewBoard.h"

#include <QAction>
#include <QDialog>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {
QStringList noDevices() { return {}; }

void writeFile(const QString &path, const QByteArray &bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

// Three meters on two ports: an active one on COM1, two query meters on COM2; each channel has
// its own title, unit, range, scale and offset in Sys.ini.
QByteArray threeMeters(const QByteArray &options) {
  QByteArray s = "[System Options]\r\nFirstRun=0\r\nSYS_MAX_METER_NO=3\r\nSampleInterval=50\r\nSampleIntervalUnit=0\r\n" +
                 options +
                 "[Meter Configure]\r\nMeterAmount=3\r\nMeterComCount=2\r\n"
                 "MeterComPort1=1\r\nMeterComPortState1=0\r\nMeterComPort2=2\r\nMeterComPortState2=1\r\n"
                 "[Meter Configure1]\r\nMeterNo=12\r\nMeterCom=1\r\nMeterState=0\r\nMeterValid=1\r\n"
                 "[Meter Configure2]\r\nMeterNo=1\r\nMeterCom=2\r\nMeterState=1\r\nMeterValid=1\r\n"
                 "[Meter Configure3]\r\nMeterNo=3\r\nMeterCom=2\r\nMeterState=1\r\nMeterValid=1\r\n";
  for (int c = 1; c <= 3; ++c)
    s += "[Channel" + QByteArray::number(c) + "]\r\nTitle=Meter" + QByteArray::number(c) +
         "\r\nMeasureUnit=kg\r\nRangeMin=" + QByteArray::number(-c) + "\r\nRangeMax=" + QByteArray::number(10 * c) +
         "\r\nScale=" + QByteArray::number(c) + "\r\nOffset=0.5\r\nPhysicalChannel=" + QByteArray::number(20 + c) + "\r\n";
  return s;
}

const QStringList kSimArgs{"--port", "COM1", "--meter", "active,addr=12,interval=20,gen=counter",
                           "--port", "COM2", "--meter", "query,addr=1,gen=counter", "--meter", "query,addr=3,gen=counter"};

// A recording of n channels with titles, units, ranges, scale and offset of its own.
void writeFileOf(const QString &path, int channels) {
  DataFileWriter w;
  QVERIFY(w.open(path));
  QList<ChannelInfo> infos;
  for (int c = 0; c < channels; ++c)
    infos.append({c + 1, QStringLiteral("File%1").arg(c), "V", 0, 5, 9, 9});
  QVERIFY(w.writeHead(infos));
  std::vector<TSampleRecord> recs;
  for (int k = 0; k < 10; ++k)
    for (int c = 0; c < channels; ++c)
      recs.push_back({c, double(k), double(k * 100)});
  QVERIFY(w.append(recs));
  QVERIFY(w.close());
}

// Closes the meter information window once it lists the result (its close button shows), and
// rejects any other dialog that comes up modally, remembering it.
class ModalWatcher : public QObject {
public:
  explicit ModalWatcher(TfrmConfigureShowUnit &info) : m_info(info) {
    m_timer.setInterval(5);
    connect(&m_timer, &QTimer::timeout, this, [this] {
      auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget());
      if (!d || qobject_cast<QMessageBox *>(d))
        return;
      if (d == &m_info && !m_info.btnClose->isHidden()) {
        ++results;
        m_info.btnClose->click();
      } else {
        others << d->metaObject()->className();
        d->reject();
      }
    });
    m_timer.start();
  }
  int results = 0;
  QStringList others;

private:
  TfrmConfigureShowUnit &m_info;
  QTimer m_timer;
};

struct Program {
  QTemporaryDir dir;
  MeterSim sim;
  std::unique_ptr<AppContext> ctx;
  std::unique_ptr<TfrmMain> main;

  bool start(const QByteArray &options = {}) {
    writeFile(dir.filePath("Sys.ini"), threeMeters(options));
    if (!sim.start(kSimArgs, dir.filePath("Sys.ini"), dir.filePath("sim.log")))
      return false;
    ctx = std::make_unique<AppContext>(ProgramPaths::resolve(dir.path()));
    main = CreateWindows(*ctx, {});
    main->search()->setDeviceLister(noDevices);
    main->search()->setTiming(200, 10);
    main->show();
    return QTest::qWaitForWindowExposed(main.get());
  }
  TfrmConfigureShowUnit &info() { return *main->dialogs().frmConfigureShowUnit; }
};
} // namespace

class TestWindowState : public QObject {
  Q_OBJECT
  QTemporaryDir m_home;

private slots:
  void initTestCase() { qputenv("XDG_DATA_HOME", m_home.filePath("data").toUtf8()); }

  // Commands that open a modal window or start other work are not offered while the search
  // runs; pressing one does not hold the search up, which finds every meter.
  void commandsDuringSearch_data() {
    QTest::addColumn<QString>("command");
    for (const char *name : {"btnConfigure", "MenuConfigure", "btnSetup", "MenuSetComm", "btnOpen", "MenuOpen",
                             "MenuLoadChannel1", "MenuLoadChannel5", "MenuHelpAbout", "btnStart", "MenuStart",
                             "btnPrint", "MenuPrint", "btnSave", "btnMeterConfigure"})
      QTest::newRow(name) << QString(name);
    QTest::newRow("export of all channels") << "export";
    QTest::newRow("channel properties") << "properties";
  }
  void commandsDuringSearch() {
    QFETCH(QString, command);
    Program p;
    QVERIFY(p.start());
    p.main->setSaveAvailable(true);
    p.main->files()->chooseOpenFile = [] { return std::optional<QString>(); };
    auto *action = p.main->findChild<QAction *>(command);
    bool pressed = false, enabledDuring = true;
    WindowState stateDuring = WindowState::Idle;
    connect(p.info().iLedBar1, &QProgressBar::valueChanged, this, [&](int v) {
      if (pressed || v < 10)
        return;
      pressed = true;
      stateDuring = p.main->windowState();
      if (action) {
        enabledDuring = action->isEnabled();
        action->trigger();
      } else if (command == "export") {
        enabledDuring = false;
        p.main->board()->exportAllChannels();
      } else {
        enabledDuring = false;
        p.main->board()->openChannelProperties(0, 0);
      }
    });
    ModalResponder boxes;
    ModalWatcher watcher(p.info());
    QSignalSpy finished(p.main->search(), &SearchCommand::finished);
    p.main->btnMeterConfigure->trigger();
    QVERIFY(pressed);
    QCOMPARE(int(stateDuring), int(WindowState::Searching));
    QVERIFY(!enabledDuring);
    QVERIFY2(watcher.others.isEmpty(), qPrintable(watcher.others.join(',')));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished[0][0].value<SearchOutcome>(), SearchOutcome::Completed);
    QCOMPARE(watcher.results, 1);
    QCOMPARE(p.ctx->meters.MeterAmount, 3);
    QVERIFY(!p.main->ReadThread);
    for (const auto &b : boxes.seen) // only refusals, no question of a command that ran
      QVERIFY2(b.text == RefusalText(WindowState::Searching), qPrintable(b.text));
    QCOMPARE(int(p.main->windowState()), int(WindowState::Idle));
    QVERIFY(p.main->btnConfigure->isEnabled());
  }

  // Closing during a search ends the search at once, then asks the usual close question.
  void closeDuringSearchAbortsThenAsks() {
    Program p;
    QVERIFY(p.start());
    bool refused = false;
    connect(p.info().iLedBar1, &QProgressBar::valueChanged, this, [&](int v) {
      if (v == 10 && !refused)
        refused = !p.main->close();
    });
    ModalResponder boxes({QMessageBox::Ok});
    ModalWatcher watcher(p.info());
    QSignalSpy finished(p.main->search(), &SearchCommand::finished);
    p.main->btnMeterConfigure->trigger();
    QVERIFY(refused);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished[0][0].value<SearchOutcome>(), SearchOutcome::Aborted);
    QTRY_VERIFY(!p.main->isVisible());
    QCOMPARE(boxes.seen.size(), size_t(1));
    QCOMPARE(boxes.seen[0].text, QString("确定要退出系统？"));
    QCOMPARE(p.sim.requestsOn("COM2"), 0); // the sweep never began
  }

  // While a recording runs no file is opened by any path; the views stay the recording's.
  void openRefusedWhileRecording_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("批次&2") << "MenuLoadChannel2";
    QTest::newRow("批次&5") << "MenuLoadChannel5";
    QTest::newRow("打开文件 button") << "btnOpen";
    QTest::newRow("打开文件 menu") << "MenuOpen";
    QTest::newRow("Open called") << "Open";
    QTest::newRow("LoadByPath called") << "LoadByPath";
  }
  void openRefusedWhileRecording() {
    QFETCH(QString, path);
    Program p;
    QVERIFY(p.start());
    const QString file = p.dir.filePath("two.zvdat");
    writeFileOf(file, 2);
    int asked = 0;
    p.main->files()->chooseOpenFile = [&]() -> std::optional<QString> {
      ++asked;
      return file;
    };
    ViewBoard *board = p.main->board();
    p.main->btnStart->trigger();
    QVERIFY(p.main->ReadThread);
    QCOMPARE(board->viewCount(), 3);
    TfraChannel *first = board->view(0);
    QTRY_VERIFY_WITH_TIMEOUT(first->pltChannel->pointCount(0) > 3, 10000);

    ModalResponder boxes;
    if (path == "Open")
      p.main->files()->Open(1);
    else if (path == "LoadByPath")
      QVERIFY(!p.main->files()->LoadByPath(file));
    else {
      auto *a = p.main->findChild<QAction *>(path);
      QVERIFY(a);
      QVERIFY(!a->isEnabled());
      a->trigger();
    }
    QCOMPARE(asked, 0);
    QCOMPARE(board->viewCount(), 3);
    QCOMPARE(board->view(0), first);
    QCOMPARE(p.main->BatchIndex, 0);
    QVERIFY(p.main->ReadThread);
    if (path == "Open" || path == "LoadByPath") {
      QTRY_COMPARE(boxes.seen.size(), size_t(1));
      QCOMPARE(boxes.seen[0].text, RecordingFiles::kStopFirstText);
    }
    const int before = first->pltChannel->pointCount(0);
    QTRY_VERIFY_WITH_TIMEOUT(first->pltChannel->pointCount(0) > before, 10000); // still recording
    p.main->btnStop->trigger();
    QVERIFY(!p.main->ReadThread);
    QVERIFY(p.main->btnOpen->isEnabled());
  }

  // A file opened, then a timed recording: the file has all three meters, each with the meter
  // table's channel settings, and every meter's readings, loadable and shown.
  void everyMeterRecordedAfterOpen_data() {
    QTest::addColumn<int>("opened"); // channels of the file opened before
    QTest::newRow("two-channel file") << 2;
    QTest::newRow("three-channel file") << 3;
  }
  void everyMeterRecordedAfterOpen() {
    QFETCH(int, opened);
    Program p;
    QVERIFY(p.start("SampleMode=1\r\nKeepTime=1500\r\nKeepTimeUnit=0\r\n"));
    const QString file = p.dir.filePath("opened.zvdat");
    writeFileOf(file, opened);
    ViewBoard *board = p.main->board();
    QVERIFY(p.main->files()->LoadByPath(file));
    QCOMPARE(board->viewCount(), opened);
    QCOMPARE(board->channel(0)->Title(), QString("File0"));

    p.main->btnStart->trigger();
    QVERIFY(p.main->ReadThread);
    QCOMPARE(board->viewCount(), 3);
    QTRY_VERIFY_WITH_TIMEOUT(!p.main->ReadThread, 15000); // the timed end
    p.sim.stop();

    const TDataBlock block = TDataBlock::load(p.main->WorkFile());
    QCOMPARE(int(block.status), 0);
    QCOMPARE(block.channelCount, 3);
    for (int c = 0; c < 3; ++c) {
      const std::optional<TChannelRecord> r = block.channelRecord(c);
      QVERIFY(r);
      QCOMPARE(r->info.title, QString("Meter%1").arg(c + 1));
      QCOMPARE(r->info.measureUnit, QString("kg"));
      QCOMPARE(r->info.physicalChannel, 21 + c);
      QCOMPARE(r->info.rangeMin, double(-(c + 1)));
      QCOMPARE(r->info.rangeMax, double(10 * (c + 1)));
      QCOMPARE(r->info.scale, double(c + 1));
      QCOMPARE(r->info.offset, 0.5);
    }
    QList<int> perChannel{0, 0, 0};
    for (const TSampleRecord &r : block.samples) {
      const qint32 ch = r.Channel;
      QVERIFY(ch >= 0 && ch < 3);
      ++perChannel[ch];
    }
    for (int c = 0; c < 3; ++c) {
      QVERIFY2(perChannel[c] > 0, qPrintable(QString::number(c)));
      QTRY_COMPARE(board->view(c)->pltChannel->pointCount(0), perChannel[c]);
      QCOMPARE(board->channel(c)->Title(), QString("Meter%1").arg(c + 1));
    }
    // Opened again, every meter's channel is described and shown.
    QVERIFY(p.main->files()->LoadByPath(p.main->WorkFile()));
    QCOMPARE(board->viewCount(), 3);
    for (int c = 0; c < 3; ++c)
      QCOMPARE(board->view(c)->pltChannel->pointCount(0), perChannel[c]);
  }
};

QTEST_MAIN(TestWindowState)
#include "tst_window_state_e2e.moc"
