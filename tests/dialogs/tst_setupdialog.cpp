#include "app/AppContext.h"
#include "common/ModalResponder.h"
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

namespace {
struct Fixture {
  QTemporaryDir dir;
  AppContext ctx{ProgramPaths::resolve(dir.path())};
  QStringList panels = QStringList(7, QString());
  QList<double> rescales;
  QList<bool> xyShown;
  int viewsApplied = 0;
  std::unique_ptr<TfrmSetup> dlg;

  Fixture() {
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
