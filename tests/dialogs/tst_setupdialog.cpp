#include "app/AppContext.h"
#include "common/ModalResponder.h"
#include "common/UnwritableSettings.h"
#include "dialogs/TfrmSetup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {
struct Fixture {
  QTemporaryDir dir;
  AppContext ctx{ProgramPaths::resolve(dir.path())};
  QStringList panels = QStringList(7, QString());
  QList<double> rescales;
  QList<bool> xyShown;
  int viewsApplied = 0;
  std::unique_ptr<TfrmSetup> dlg;

  // `ini`: what Sys.ini holds before start-up reads it.
  explicit Fixture(const QByteArray &ini = {}) {
    if (!ini.isEmpty()) {
      QFile file(ctx.paths.settingsFile);
      if (file.open(QIODevice::WriteOnly))
        file.write(ini);
    }
    ctx.settings = std::make_unique<ProfileStore>(ctx.paths.settingsFile);
    ctx.options.load(*ctx.settings, ctx.paths.dataFolder);
    TfrmSetup::Hooks h;
    h.writePanel = [this](int p, const QString &t) { panels[p] = t; };
    h.showXYPage = [this](bool s) { xyShown << s; };
    h.applyDisplayToViews = [this] { ++viewsApplied; };
    h.rescaleTimeAxis = [this](double f) { rescales << f; };
    dlg = std::make_unique<TfrmSetup>(ctx, h);
  }
  ProfileStore &s() { return *ctx.settings; }
  // Shows the dialog, lets `edit` change controls, presses OK; returns whether it closed.
  bool okWith(const std::function<void(TfrmSetup &)> &edit, std::deque<QMessageBox::StandardButton> answers = {}) {
    dlg->show();
    edit(*dlg);
    ModalResponder responder(std::move(answers));
    dlg->btnOK->click();
    seen = responder.seen;
    const bool closed = !dlg->isVisible();
    dlg->hide();
    return closed;
  }
  std::vector<ModalResponder::Seen> seen;
};
} // namespace

class TestSetupDialog : public QObject {
  Q_OBJECT
private slots:
  void creationWritesThePanels() {
    Fixture f;
    QCOMPARE(f.panels[2], QString("结束方式：手动"));
    QCOMPARE(f.panels[3], QString("采样间隔：1秒"));
    QCOMPARE(f.dlg->PageControl1->currentIndex(), 1);
    QCOMPARE(f.dlg->cbxSampleRate->count(), 6);
    QCOMPARE(f.dlg->cbxKeepTimeUnit->itemText(3), QString("小时"));
  }

  void showLoadsMirrorsAndKeepTimeFollowsMode() {
    Fixture f;
    f.ctx.options.SampleMode = 0;
    f.ctx.options.KeepTime = 42;
    f.dlg->show();
    QCOMPARE(f.dlg->speKeepTime->value(), 42);
    QVERIFY(!f.dlg->speKeepTime->isEnabled());
    QVERIFY(!f.dlg->cbxKeepTimeUnit->isEnabled());
    f.dlg->rbTimed->click();
    QVERIFY(f.dlg->speKeepTime->isEnabled());
    QVERIFY(f.dlg->cbxKeepTimeUnit->isEnabled());
  }

  void okStoresAndAppliesTimedMode() {
    Fixture f;
    QVERIFY(f.okWith([](TfrmSetup &d) {
      d.rbTimed->click();
      d.speKeepTime->setValue(10);
      d.cbxKeepTimeUnit->setCurrentIndex(1);
      d.speSampleInterval->setValue(250);
      d.cbxSampleIntervalUnit->setCurrentIndex(0);
      d.cbxBaud->setCurrentIndex(13);
    }));
    QCOMPARE(f.panels[2], QString("定时：10秒"));
    QCOMPARE(f.panels[3], QString("采样间隔：250毫秒"));
    QCOMPARE(f.panels[4], QString("波特率：115200"));
    QCOMPARE(f.ctx.options.KeepTimeMs, qint64(10000));
    QCOMPARE(f.ctx.options.SampleIntervalMs, qint64(250));
    QCOMPARE(f.s().readInteger("System Options", "SampleMode", -1), 1);
    QCOMPARE(f.s().readInteger("Port Options", "Baud", -1), 13);
    QCOMPARE(f.s().readString("Port Options", "Port", "missing"), QString());
    QCOMPARE(f.viewsApplied, 1);
    QCOMPARE(f.xyShown, QList<bool>{true});
  }

  void bothCurveStylesOffIsRefusedAfterEarlierStepsWereStored() {
    Fixture f;
    const bool closed = f.okWith(
        [](TfrmSetup &d) {
          d.speMaxMeterNo->setValue(33);
          d.speTimeWindow->setValue(5);
          d.setSwatchColor(d.shpCurveBkColor, 0x123456);
          d.cbTraceVisible->setChecked(false);
          d.cbMarkersVisible->setChecked(false);
        },
        {QMessageBox::Ok});
    QVERIFY(!closed);
    QCOMPARE(int(f.seen.size()), 1);
    QCOMPARE(f.seen[0].text, QString("曲线轨迹显示和曲线标记显示不能同时取消！"));
    QCOMPARE(f.seen[0].caption, QString("错误"));
    QCOMPARE(f.dlg->PageControl1->currentIndex(), 1);
    QCOMPARE(f.s().readInteger("System Options", "SYS_MAX_METER_NO", 0), 33);
    QCOMPARE(f.s().readInteger("System Options", "TimeWindow", 0), 5);
    QCOMPARE(f.s().readInteger("System Options", "CurveBkColor", 0), 0x123456);
    // The mirrors took false; the file kept what it had (here: nothing written).
    QVERIFY(!f.ctx.options.TraceVisible);
    QCOMPARE(f.s().readString("System Options", "TraceVisible", "untouched"), QString("untouched"));
    QVERIFY(f.xyShown.isEmpty()); // later steps did not run
  }

  // A value the operator does not touch is stored as it stands, even where the control cannot
  // show it; a code outside its list reads as its default and is stored as such, never as -1.
  void untouchedValuesStayAsStored_data() {
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("afterOk");
    QTest::newRow("keep time 0") << "System Options" << "KeepTime" << "0" << "0";
    QTest::newRow("block size below the spin") << "System Options" << "BlockSize" << "3" << "3";
    QTest::newRow("top space 0") << "System Options" << "PanelTopSpaceDefault" << "0" << "0";
    QTest::newRow("right space 200") << "System Options" << "PanelRightSpaceDefault" << "200" << "200";
    QTest::newRow("precision 7") << "System Options" << "Precision" << "7" << "7";
    QTest::newRow("keep time unit 99") << "System Options" << "KeepTimeUnit" << "99" << "1";
    QTest::newRow("interval unit -1") << "System Options" << "SampleIntervalUnit" << "-1" << "1";
    QTest::newRow("time window unit abc") << "System Options" << "TimeWindowUnit" << "abc" << "3";
    QTest::newRow("sample rate 99") << "System Options" << "SampleRate" << "99" << "0";
    QTest::newRow("baud 99") << "Port Options" << "Baud" << "99" << "7";
    QTest::newRow("baud 4000000000") << "Port Options" << "Baud" << "4000000000" << "7";
  }
  void untouchedValuesStayAsStored() {
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QFETCH(QString, afterOk);
    Fixture f(QStringLiteral("[%1]\r\n%2=%3\r\n").arg(section, key, stored).toLatin1());
    QVERIFY(f.okWith([](TfrmSetup &) {}));
    QCOMPARE(f.s().readString(section, key, "missing"), afterOk);
    for (const char *unitKey : {"KeepTimeUnit", "SampleIntervalUnit", "TimeWindowUnit", "SampleRate"})
      QVERIFY(f.s().readInteger("System Options", unitKey, -1) >= 0);
    QVERIFY(f.s().readInteger("Port Options", "Baud", -1) >= 0);
  }

  void touchedKeepTimeIsStored() {
    Fixture f("[System Options]\r\nKeepTime=0\r\nSampleMode=1\r\n");
    QVERIFY(f.okWith([](TfrmSetup &d) { d.speKeepTime->setValue(5); }));
    QCOMPARE(f.s().readInteger("System Options", "KeepTime", -1), 5);
    QCOMPARE(f.ctx.options.KeepTimeMs, qint64(5000));
  }

  // Sys.ini cannot be written: each OK tells so once, after any message of its own checks, and
  // the accepted values are in effect for this run (mirrors and reads) while the file keeps its
  // old content.
  void failedWriteIsReportedOnce_data() {
    QTest::addColumn<int>("stopAt"); // 0 none, 1 both curve styles off, 2 auto save without folder
    QTest::addColumn<QString>("checkMessage");
    QTest::newRow("closes") << 0 << "";
    QTest::newRow("both curve styles off") << 1 << "曲线轨迹显示和曲线标记显示不能同时取消！";
    QTest::newRow("auto save without folder") << 2 << "在自动保存方式下，保存设置中的默认路径不能为空！";
  }
  void failedWriteIsReportedOnce() {
    QFETCH(int, stopAt);
    QFETCH(QString, checkMessage);
    const QByteArray before = "[System Options]\r\nSYS_MAX_METER_NO=10\r\n";
    Fixture f(before);
    bool closed = false;
    {
      UnwritableSettings readOnly(f.ctx.paths.settingsFile);
      closed = f.okWith(
          [&](TfrmSetup &d) {
            d.speMaxMeterNo->setValue(42);
            d.rbTimed->click();
            d.speKeepTime->setValue(7);
            if (stopAt == 1) {
              d.cbTraceVisible->setChecked(false);
              d.cbMarkersVisible->setChecked(false);
            }
            if (stopAt == 2) {
              d.rbAutoSave->click();
              d.edtSavePath->clear();
            }
          },
          {QMessageBox::Ok, QMessageBox::Ok});
      // Reads in this run see what was accepted.
      QCOMPARE(f.s().readInteger("System Options", "SYS_MAX_METER_NO", 0), 42);
      QCOMPARE(f.s().readInteger("System Options", "KeepTime", 0), 7);
    }
    QCOMPARE(closed, stopAt == 0);
    QStringList texts;
    for (const ModalResponder::Seen &m : f.seen) {
      QCOMPARE(m.caption, QString("错误"));
      texts << m.text;
    }
    QStringList expected;
    if (!checkMessage.isEmpty())
      expected << checkMessage;
    expected << "设置无法保存到文件：\n" + f.ctx.paths.settingsFile;
    QCOMPARE(texts, expected);
    QCOMPARE(f.ctx.options.SysMaxMeterNo, 42);
    QCOMPARE(f.ctx.options.KeepTimeMs, qint64(7000));
    QCOMPARE(f.panels[2], QString(stopAt == 1 ? "结束方式：手动" : "定时：7秒"));
    QFile file(f.ctx.paths.settingsFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);
  }

  void writtenSettingsAreNotReported() {
    Fixture f;
    QVERIFY(f.okWith([](TfrmSetup &d) { d.speMaxMeterNo->setValue(42); }));
    QVERIFY(f.seen.empty());
  }

  void autoSaveNeedsAFolder_data() {
    QTest::addColumn<bool>("autoSave");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("closed");
    QTest::newRow("auto, blank") << true << "   " << false;
    QTest::newRow("auto, folder") << true << " /data/runs " << true;
    QTest::newRow("ask, empty accepted") << false << "" << true;
  }
  void autoSaveNeedsAFolder() {
    QFETCH(bool, autoSave);
    QFETCH(QString, folder);
    QFETCH(bool, closed);
    Fixture f;
    const bool result = f.okWith([&](TfrmSetup &d) {
      (autoSave ? d.rbAutoSave : d.rbAsk)->click();
      d.edtSavePath->setText(folder);
      d.edtFileNameHead->setText("Run");
    }, {QMessageBox::Ok});
    QCOMPARE(result, closed);
    QCOMPARE(f.s().readString("System Options", "FileNameHead", ""), QString("Run"));
    if (closed) {
      QCOMPARE(f.s().readString("System Options", "SavePath", "x"), folder.trimmed());
    } else {
      QCOMPARE(f.seen[0].text, QString("在自动保存方式下，保存设置中的默认路径不能为空！"));
      QCOMPARE(f.dlg->PageControl1->currentIndex(), 2);
      QCOMPARE(f.s().readString("System Options", "SavePath", "x"), QString("x"));
    }
  }

  void timeUnitChangeRescales_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QList<double>>("factors");
    QTest::newRow("hours to minutes") << 3 << 2 << QList<double>{60.0};
    QTest::newRow("seconds to hours") << 1 << 3 << QList<double>{1000.0 / 3600000.0};
    QTest::newRow("unchanged") << 2 << 2 << QList<double>{};
  }
  void timeUnitChangeRescales() {
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QList<double>, factors);
    Fixture f;
    f.ctx.options.TimeWindowUnit = from;
    QVERIFY(f.okWith([&](TfrmSetup &d) { d.cbxTimeWindowUnit->setCurrentIndex(to); }));
    QCOMPARE(f.rescales, factors);
  }

  void abandonedEditsAreNotShownAgain() {
    Fixture f;
    f.dlg->show();
    f.dlg->speMaxMeterNo->setValue(77);
    f.dlg->edtFileNameHead->setText("abandoned");
    f.dlg->close(); // the close box discards
    f.dlg->show();
    QCOMPARE(f.dlg->speMaxMeterNo->value(), 10);
    QCOMPARE(f.dlg->edtFileNameHead->text(), QString("Test"));
  }

  void swatchOpensTheColourChooser() {
    Fixture f;
    int offered = -1;
    f.dlg->chooseColor = [&](int current) -> std::optional<int> {
      offered = current;
      return 0x00FF00;
    };
    f.dlg->show();
    QTest::mouseClick(f.dlg->shpPanelBkColor, Qt::LeftButton);
    QCOMPARE(offered, 15780518);
    QCOMPARE(f.dlg->swatchColor(f.dlg->shpPanelBkColor), 0x00FF00);
  }

  void folderChooserKeepsTextOnCancel() {
    Fixture f;
    f.dlg->chooseFolder = [](const QString &) -> std::optional<QString> { return std::nullopt; };
    f.dlg->show();
    f.dlg->edtSavePath->setText("/keep");
    f.dlg->BtnPathClick->click();
    QCOMPARE(f.dlg->edtSavePath->text(), QString("/keep"));
    f.dlg->chooseFolder = [](const QString &) -> std::optional<QString> { return QString("/new"); };
    f.dlg->BtnPathClick->click();
    QCOMPARE(f.dlg->edtSavePath->text(), QString("/new"));
  }
};

QTEST_MAIN(TestSetupDialog)
#include "tst_setupdialog.moc"
