// A sample interval changed in the settings dialog during a recording paces the query meters at
// once, against a simulated meter (tools/meter-sim).
#include "MeterSim.h"

#include "app/AppContext.h"
#include "app/Startup.h"
#include "app/TfrmMain.h"
#include "common/ModalResponder.h"
#include "dialogs/TfrmSetup.h"

#include <QAction>
#include <QComboBox>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {
constexpr int kWaitMs = 8000;

// One query meter (address 1 on COM2), polled once an hour.
void writeSysIni(const QString &ini) {
  QFile f(ini);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write("[System Options]\r\nFirstRun=0\r\nSampleInterval=1\r\nSampleIntervalUnit=3\r\n"
          "[Meter Configure]\r\nMeterAmount=1\r\nMeterComCount=1\r\n"
          "MeterComPort1=2\r\nMeterComPortState1=1\r\n"
          "[Meter Configure1]\r\nMeterNo=1\r\nMeterCom=2\r\nMeterState=1\r\nMeterValid=1\r\n");
}
} // namespace

class TestIntervalE2E : public QObject {
  Q_OBJECT
  QTemporaryDir m_home;

private slots:
  void initTestCase() { qputenv("XDG_DATA_HOME", m_home.filePath("data").toUtf8()); }

  // The first request goes out when the data file is ready; the next would wait an hour, until
  // the dialog sets 100 ms.
  void newIntervalAppliesWhileRecording() {
    QTemporaryDir dir;
    writeSysIni(dir.filePath("Sys.ini"));
    MeterSim sim(dir.filePath("Sys.ini"), dir.filePath("sim.log"));
    QVERIFY(sim.start({"--port", "COM2", "--meter", "query,addr=1,gen=counter"}));
    AppContext ctx(ProgramPaths::resolve(dir.path()));
    auto main = CreateWindows(ctx, {});
    main->show();
    ModalResponder responder;

    main->btnStart->trigger();
    QVERIFY(main->ReadThread);
    QTRY_COMPARE_WITH_TIMEOUT(sim.events("TX-REPLY", "COM2").size(), qsizetype(1), kWaitMs);

    TfrmSetup *setup = main->dialogs().frmSetup;
    QTimer::singleShot(0, setup, [setup] {
      setup->speSampleInterval->setValue(100);
      setup->cbxSampleIntervalUnit->setCurrentIndex(0); // milliseconds
      setup->btnOKClick();
    });
    const double appliedFrom = MonotonicNowMs();
    main->btnSetup->trigger();
    QCOMPARE(ctx.options.SampleIntervalMs, qint64(100));

    QTRY_VERIFY_WITH_TIMEOUT(sim.events("RX-REQUEST", "COM2").size() >= 4, kWaitMs);
    main->btnStop->trigger();
    QVERIFY(!main->ReadThread);
    QVERIFY2(responder.seen.empty(), qPrintable(responder.seen.empty() ? QString() : responder.seen[0].text));

    // Every later request came after the change, paced by the new interval. The simulator
    // stamps a request when it reads it, so its two ends may each be a little late.
    const QList<SimEvent> requests = sim.events("RX-REQUEST", "COM2");
    for (qsizetype i = 1; i < requests.size(); ++i)
      QVERIFY(requests[i].time >= appliedFrom);
    const double span = requests.last().time - requests[1].time;
    QVERIFY2(span >= double(requests.size() - 2) * 100 - 20, qPrintable(QString::number(span)));
  }
};

QTEST_MAIN(TestIntervalE2E)
#include "tst_interval_e2e.moc"
