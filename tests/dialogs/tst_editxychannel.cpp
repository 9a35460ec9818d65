#include "app/AppContext.h"
#include "common/ModalResponder.h"
#include "common/UnwritableSettings.h"
#include "dialogs/TfrmEditXYChannel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

namespace {
struct Fixture {
  QTemporaryDir dir;
  AppContext ctx{ProgramPaths::resolve(dir.path())};
  int setups = 0;
  std::unique_ptr<TfrmEditXYChannel> dlg;
  std::vector<ModalResponder::Seen> seen;

  explicit Fixture(int meters) {
    ctx.settings = std::make_unique<ProfileStore>(ctx.paths.settingsFile);
    ctx.options.load(*ctx.settings, ctx.paths.dataFolder);
    ctx.meters.MeterAmount = meters;
    dlg = std::make_unique<TfrmEditXYChannel>(ctx, TfrmEditXYChannel::Hooks{[this] { ++setups; }});
  }
  ProfileStore &s() { return *ctx.settings; }
  int stored(const char *key) { return s().readInteger(Sections::ChannelXY, QString::fromLatin1(key), -99); }
  // Shows the dialog, lets `edit` change controls, presses OK; returns whether it closed.
  bool okWith(const std::function<void(TfrmEditXYChannel &)> &edit) {
    dlg->show();
    edit(*dlg);
    ModalResponder responder;
    dlg->btnOK->click();
    seen = responder.seen;
    const bool closed = !dlg->isVisible();
    dlg->hide();
    return closed;
  }
};

// Picks an entry the way the operator does: by its index, or by typing into the edit field.
void choose(QComboBox *box, const QString &choice) {
  if (choice.startsWith(QLatin1Char('#')))
    box->setCurrentIndex(choice.mid(1).toInt());
  else
    box->lineEdit()->setText(choice);
}
} // namespace

class TestEditXYChannel : public QObject {
  Q_OBJECT

private slots:
  void unsavedChoiceIsReportedOnce() {
    Fixture f(3);
    QVERIFY(f.s().writeInteger(Sections::ChannelXY, "XChannelNo", 0));
    {
      UnwritableSettings readOnly(f.ctx.paths.settingsFile);
      QVERIFY(f.okWith([](TfrmEditXYChannel &d) {
        choose(d.cbXChannelNo, "#2");
        choose(d.cbYChannelNo, "#1");
      }));
    }
    QCOMPARE(int(f.seen.size()), 1);
    QCOMPARE(f.seen[0].caption, QString("错误"));
    QCOMPARE(f.seen[0].text, "设置无法保存到文件：\n" + f.ctx.paths.settingsFile);
    QCOMPARE(f.ctx.options.XChannelNo, 2);
    QCOMPARE(f.setups, 1);
    ProfileStore fresh(f.ctx.paths.settingsFile);
    QCOMPARE(fresh.readInteger(Sections::ChannelXY, "XChannelNo", -1), 0);
  }

  void okChecksBothChoices_data() {
    QTest::addColumn<int>("meters");
    QTest::addColumn<QString>("x"); // "#i" selects entry i, anything else is typed
    QTest::addColumn<QString>("y");
    QTest::addColumn<QString>("message"); // empty: accepted
    QTest::addColumn<int>("xIndex");
    QTest::addColumn<int>("yIndex");
    QTest::newRow("both have meters") << 2 << "#0" << "#1" << "" << 0 << 1;
    QTest::newRow("same channel twice") << 1 << "#0" << "#0" << "" << 0 << 0;
    QTest::newRow("swapped") << 3 << "#2" << "#0" << "" << 2 << 0;
    QTest::newRow("X without meter, tested first")
        << 1 << "#1" << "#1" << "序号2上没有仪表,请重新选择!" << 0 << 1;
    QTest::newRow("Y without meter") << 2 << "#0" << "#2" << "序号3上没有仪表,请重新选择!" << 0 << 1;
    QTest::newRow("last entry without meter") << 9 << "#9" << "#0" << "序号10上没有仪表,请重新选择!" << 0 << 1;
    QTest::newRow("typed entry counts as chosen") << 3 << " 3 " << "2" << "" << 2 << 1;
    QTest::newRow("typed number beyond the list") << 10 << "11" << "#0" << "序号11上没有仪表,请重新选择!" << 0 << 1;
    QTest::newRow("typed text") << 10 << "#0" << "x1" << "序号x1上没有仪表,请重新选择!" << 0 << 1;
    QTest::newRow("typed nothing") << 10 << "" << "#1" << "序号上没有仪表,请重新选择!" << 0 << 1;
    QTest::newRow("typed zero") << 10 << "0" << "#1" << "序号0上没有仪表,请重新选择!" << 0 << 1;
    QTest::newRow("typed negative") << 10 << "#1" << "-1" << "序号-1上没有仪表,请重新选择!" << 0 << 1;
  }
  void okChecksBothChoices() {
    QFETCH(int, meters);
    QFETCH(QString, x);
    QFETCH(QString, y);
    QFETCH(QString, message);
    QFETCH(int, xIndex);
    QFETCH(int, yIndex);
    Fixture f(meters);
    const bool closed = f.okWith([&](TfrmEditXYChannel &d) {
      choose(d.cbXChannelNo, x);
      choose(d.cbYChannelNo, y);
    });
    QCOMPARE(closed, message.isEmpty());
    if (message.isEmpty()) {
      QCOMPARE(f.seen.size(), size_t(0));
      QCOMPARE(f.setups, 1);
      QCOMPARE(f.stored("XChannelNo"), xIndex);
      QCOMPARE(f.stored("YChannelNo"), yIndex);
    } else {
      QCOMPARE(f.seen.size(), size_t(1));
      QCOMPARE(f.seen[0].caption, QString("错误"));
      QCOMPARE(f.seen[0].text, message);
      QCOMPARE(f.setups, 0);
      QCOMPARE(f.stored("XChannelNo"), -99); // nothing written
    }
    QCOMPARE(f.ctx.options.XChannelNo, xIndex);
    QCOMPARE(f.ctx.options.YChannelNo, yIndex);
    QCOMPARE(f.dlg->cbXChannelNo->count(), 10); // typing never adds an entry
  }

  void showLoadsTheCurrentChoice_data() {
    QTest::addColumn<int>("xMirror");
    QTest::addColumn<int>("yMirror");
    QTest::addColumn<bool>("showX");
    QTest::addColumn<bool>("showY");
    QTest::addColumn<QString>("xText");
    QTest::addColumn<QString>("yText");
    QTest::newRow("defaults") << 0 << 1 << true << true << "1" << "2";
    QTest::newRow("last channels, flags off") << 9 << 8 << false << false << "10" << "9";
    QTest::newRow("stored index outside the list") << 12 << -1 << true << false << "" << "";
  }
  void showLoadsTheCurrentChoice() {
    QFETCH(int, xMirror);
    QFETCH(int, yMirror);
    QFETCH(bool, showX);
    QFETCH(bool, showY);
    QFETCH(QString, xText);
    QFETCH(QString, yText);
    Fixture f(10);
    f.ctx.options.XChannelNo = xMirror;
    f.ctx.options.YChannelNo = yMirror;
    f.s().writeBool(Sections::ChannelXY, QStringLiteral("xShowNowValueX"), showX);
    f.s().writeBool(Sections::ChannelXY, QStringLiteral("xShowNowValueY"), showY);
    f.dlg->show();
    QCOMPARE(f.dlg->cbXChannelNo->currentText(), xText);
    QCOMPARE(f.dlg->cbYChannelNo->currentText(), yText);
    QCOMPARE(f.dlg->ckxShowNowValueX->isChecked(), showX);
    QCOMPARE(f.dlg->ckxShowNowValueY->isChecked(), showY);
    f.dlg->hide();
  }

  void okWritesTheDisplayFlags_data() {
    QTest::addColumn<bool>("showX");
    QTest::addColumn<bool>("showY");
    QTest::newRow("both") << true << true;
    QTest::newRow("X only") << true << false;
    QTest::newRow("Y only") << false << true;
    QTest::newRow("none") << false << false;
  }
  void okWritesTheDisplayFlags() {
    QFETCH(bool, showX);
    QFETCH(bool, showY);
    Fixture f(2);
    bool flagsAtSetup = false;
    f.dlg->bind(f.ctx, {[&] {
                  ++f.setups;
                  // The set-up reads the flags from the file: they must be written by then.
                  flagsAtSetup = f.s().readBool(Sections::ChannelXY, "xShowNowValueX", !showX) == showX &&
                                 f.s().readBool(Sections::ChannelXY, "xShowNowValueY", !showY) == showY;
                }});
    QVERIFY(f.okWith([&](TfrmEditXYChannel &d) {
      d.ckxShowNowValueX->setChecked(showX);
      d.ckxShowNowValueY->setChecked(showY);
    }));
    QCOMPARE(f.setups, 1);
    QVERIFY(flagsAtSetup);
  }

  void closeBoxChangesNothing() {
    Fixture f(3);
    f.dlg->show();
    f.dlg->cbXChannelNo->setCurrentIndex(2);
    f.dlg->ckxShowNowValueX->setChecked(false);
    f.dlg->close();
    QCOMPARE(f.ctx.options.XChannelNo, 0);
    QCOMPARE(f.setups, 0);
    QCOMPARE(f.stored("XChannelNo"), -99);
    QVERIFY(f.s().readBool(Sections::ChannelXY, "xShowNowValueX", true));
  }

  void opensOnTheAskedPage_data() {
    QTest::addColumn<int>("page");
    QTest::newRow("channels") << 0;
    QTest::newRow("information window") << 1;
  }
  void opensOnTheAskedPage() {
    QFETCH(int, page);
    Fixture f(2);
    int shownPage = -1;
    QTimer::singleShot(0, f.dlg.get(), [&] {
      shownPage = f.dlg->PageControl1->currentIndex();
      f.dlg->reject();
    });
    f.dlg->execOnPage(page);
    QCOMPARE(shownPage, page);
  }

  void unboundDialogCannotConfirm() {
    TfrmEditXYChannel d;
    QVERIFY(!d.btnOK->isEnabled());
    QCOMPARE(d.windowTitle(), QString("属性"));
  }
};

QTEST_MAIN(TestEditXYChannel)
#include "tst_editxychannel.moc"
