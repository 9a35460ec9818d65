#include "MeterSim.h"

#include "acquisition/AlarmLog.h"
#include "acquisition/DataBlock.h"
#include "acquisition/RecordingFiles.h"
#include "acquisition/TChannel.h"
#include "app/AppContext.h"
#include "app/Startup.h"
#include "app/TfrmMain.h"
#include "common/ModalResponder.h"
#include "views/AlarmLogWindow.h"
#include "views/DotMatrixDisplay.h"
#include "views/PlotChart.h"
#include "views/TfraChannel.h"
#include "views/ViewBoard.h"

#include <QAction>
#include <QTemporaryDir>
#include <QtTest>

#include <vector>

namespace {

bool IsRed(const QColor &c) { return c.red() >= 200 && c.green() <= 60 && c.blue() <= 60; }
bool IsYellow(const QColor &c) { return c.red() >= 200 && c.green() >= 200 && c.blue() <= 60; }

// The share of pixels of a colour in area of the image, leaving out the pixels of except.
double Share(const QImage &image, bool (*colour)(const QColor &), const QRect &area, const QRect &except = {}) {
  const double dpr = image.devicePixelRatio();
  const QRect a(QPoint(int(area.left() * dpr), int(area.top() * dpr)), area.size() * dpr);
  const QRect x(QPoint(int(except.left() * dpr), int(except.top() * dpr)), except.size() * dpr);
  qint64 hits = 0, all = 0;
  for (int y = std::max(a.top(), 0); y <= std::min(a.bottom(), image.height() - 1); ++y)
    for (int xx = std::max(a.left(), 0); xx <= std::min(a.right(), image.width() - 1); ++xx) {
      if (x.contains(xx, y))
        continue;
      ++all;
      hits += colour(image.pixelColor(xx, y));
    }
  return all ? double(hits) / double(all) : 0.0;
}

// Serves events until the view's alarm state is `alarmed`. A clear between two alarms of the
// sine lasts only about a tenth of a second, so the state is looked at every millisecond.
bool WaitAlarmed(const TfraChannel *view, bool alarmed, int ms) {
  QDeadlineTimer deadline(ms);
  while (view->Alarmed() != alarmed && !deadline.hasExpired())
    QTest::qWait(1);
  return view->Alarmed() == alarmed;
}

QRect AreaIn(const QWidget *child, const QWidget *ancestor) {
  return QRect(child->mapTo(ancestor, QPoint(0, 0)), child->size());
}

} // namespace

class TestAlarmEndToEnd : public QObject {
  Q_OBJECT
  QTemporaryDir m_home;

private slots:
  void initTestCase() { qputenv("XDG_DATA_HOME", m_home.filePath("data").toUtf8()); }

  // A sine wave crossing both limits, recorded through the window: the log beside the file
  // holds exactly what the same decision finds in the file's samples, the list shows it live,
  // and Save takes the log along.
  void sineCrossingBothLimits() {
    QTemporaryDir dir;
    {
      QFile f(dir.filePath("Sys.ini"));
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("[System Options]\r\nFirstRun=0\r\n"
              "[Meter Configure]\r\nMeterAmount=1\r\nMeterComCount=1\r\n"
              "MeterComPort1=1\r\nMeterComPortState1=0\r\n"
              "[Meter Configure1]\r\nMeterNo=12\r\nMeterCom=1\r\nMeterState=0\r\nMeterValid=1\r\n"
              "[Channel1]\r\nAlarmEnabled=1\r\nAlarmHigh=6.5\r\nAlarmLow=-6.5\r\nAlarmHysteresis=1\r\n");
    }
    MeterSim sim(dir.filePath("Sys.ini"), dir.filePath("sim.log"));
    QVERIFY(sim.start({"--port", "COM1", "--meter", "active,addr=12,interval=10,gen=sine:10:400"}));
    AppContext ctx(ProgramPaths::resolve(dir.path()));
    auto main = CreateWindows(ctx, {});
    main->show();
    ViewBoard *board = main->board();
    TfraChannel *view = board->view(0);
    // The limits are drawn whenever the alarm is enabled.
    QCOMPARE(view->pltChannel->limitLine(true), std::optional<double>(6.5));
    QCOMPARE(view->pltChannel->limitLine(false), std::optional<double>(-6.5));

    main->MenuAlarmLog->trigger();
    AlarmLogWindow *list = main->alarmLogWindow();
    main->btnStart->trigger();
    QVERIFY(main->ReadThread);
    // In alarm the value display and the information window are red.
    QTRY_VERIFY_WITH_TIMEOUT(view->Alarmed(), 15000);
    QCOMPARE(view->panel->palette().color(QPalette::Window), QColor(Qt::red));
    // What the operator sees: a grab of the view in alarm and one out of it, both live and
    // decided from the samples. Red covers the information window and lights the value's dots
    // only in the first.
    QVERIFY(WaitAlarmed(view, true, 15000));
    const QImage inAlarm = view->grab().toImage();
    QVERIFY(WaitAlarmed(view, false, 15000));
    const QImage outOfAlarm = view->grab().toImage();
    const QRect display = AreaIn(view->iLCDCurrentValue, view);
    const QRect panel = AreaIn(view->panel, view);
    QVERIFY(view->rect().contains(panel));
    const double panelRed = Share(inAlarm, IsRed, panel, display);
    const double panelNormal = Share(outOfAlarm, IsRed, panel, display);
    // The lit dots of the value: red in alarm, yellow otherwise, never both.
    const double dotsRed = Share(inAlarm, IsRed, display), dotsYellowInAlarm = Share(inAlarm, IsYellow, display);
    const double dotsYellow = Share(outOfAlarm, IsYellow, display), dotsRedNormal = Share(outOfAlarm, IsRed, display);
    qInfo("information window red %.3f / %.3f; value dots red %.3f yellow %.3f / red %.3f yellow %.3f", panelRed,
          panelNormal, dotsRed, dotsYellowInAlarm, dotsRedNormal, dotsYellow);
    QVERIFY2(panelRed > 0.6, qPrintable(QString::number(panelRed)));
    QVERIFY2(panelNormal < 0.01, qPrintable(QString::number(panelNormal)));
    QVERIFY2(dotsRed > 0.01 && dotsYellowInAlarm < 0.001, qPrintable(QString::number(dotsRed)));
    QVERIFY2(dotsYellow > 0.01 && dotsRedNormal < 0.001, qPrintable(QString::number(dotsYellow)));
    QTRY_VERIFY_WITH_TIMEOUT(list->rowCount() >= 8, 20000);
    main->btnStop->trigger();
    sim.stop();
    QVERIFY(!view->Alarmed());

    const TDataBlock block = TDataBlock::load(main->WorkFile());
    QCOMPARE(int(block.status), 0);
    const AlarmLimits limits{true, 6.5, -6.5, 1.0};
    const std::vector<TSampleRecord> samples(block.samples.begin(), block.samples.end());
    const AlarmEventBatch expected = AlarmEventsOf(samples, QList<AlarmLimits>{limits}, QStringList{board->channel(0)->Title()});
    const auto rows = AlarmLog::Read(AlarmLog::PathFor(main->WorkFile()));
    QVERIFY(rows);
    QCOMPARE(rows->size(), expected.size());
    bool sawHigh = false, sawLow = false;
    for (int i = 0; i < expected.size(); ++i) {
      const AlarmLogRow &r = (*rows)[i];
      const AlarmEvent &e = expected[i];
      QCOMPARE(r.ms, qint64(e.timeMs));
      QCOMPARE(r.channel, 1);
      QCOMPARE(r.title, e.title);
      QCOMPARE(r.value, e.value);
      QCOMPARE(r.limit, e.limit);
      QCOMPARE(r.kind, e.kind);
      QCOMPARE(r.time, AlarmLog::TimeText(ctx.ring.startTime(), e.timeMs));
      sawHigh = sawHigh || e.kind == AlarmEventKind::High;
      sawLow = sawLow || e.kind == AlarmEventKind::Low;
    }
    QVERIFY(sawHigh && sawLow);
    // The list showed every event live, in the same order.
    QTRY_COMPARE(list->rowCount(), int(rows->size()));
    for (int i = 0; i < rows->size(); ++i)
      QCOMPARE(list->cellText(i, 1), QString::number((*rows)[i].ms));

    const QString target = dir.filePath("saved.zvdat");
    main->files()->chooseSaveFile = [&](const QString &, const QString &) -> std::optional<QString> { return target; };
    ModalResponder done;
    main->btnSave->trigger();
    QTRY_VERIFY(!done.seen.empty());
    QFile a(AlarmLog::PathFor(main->WorkFile())), b(AlarmLog::PathFor(target));
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    QCOMPARE(b.readAll(), a.readAll());
  }
};

QTEST_MAIN(TestAlarmEndToEnd)
#include "tst_alarm_e2e.moc"
