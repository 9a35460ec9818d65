#include "tst_editchannel_fixture.h"
#include "common/UnwritableSettings.h"

#include "views/PlotChart.h"
#include "views/TfraChannel.h"
#include "views/WinColor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QtTest>

namespace {

// Channel 2 (index 1) as a user left it in Sys.ini.
void writeChannel2(EditChannelFixture &f) {
  ProfileStore &s = f.s();
  const QString sec = QStringLiteral("Channel2");
  s.writeString(sec, "Title", "压力");
  s.writeString(sec, "MainTitle", "二号罐");
  s.writeString(sec, "MeasureUnit", "kPa");
  s.writeFloat(sec, "RangeMin", -5);
  s.writeFloat(sec, "RangeMax", 12.5);
  s.writeFloat(sec, "Scale", 2);
  s.writeFloat(sec, "Offset", 0.25);
  s.writeInteger(sec, "CurveColor", 0x00FF00);
  s.writeInteger(sec, "SignalType", 0);
  s.writeInteger(sec, "PhysicalChannel", 3);
  s.writeInteger(sec, "PrecisionArray", 3);
  s.writeBool(sec, "ShowMaxValue", false);
  TMeterConfigure &m = f.ctx.meters.Meters[1];
  m.MeterNo = 7;
  m.MeterCom = 3;
  m.MeterState = 0;
}

QLineEdit *floatEdit(TfrmEditChannel &d, int field) {
  const std::array<QLineEdit *, 4> e{d.leRangeMin, d.leRangeMax, d.leScale, d.leOffset};
  return e[static_cast<size_t>(field)];
}

} // namespace

class TestEditChannel : public QObject {
  Q_OBJECT
private slots:
  void showingLoadsTheChannel() {
    EditChannelFixture f(writeChannel2);
    f.dlg->setTag(1);
    f.dlg->show();
    TfrmEditChannel &d = *f.dlg;
    QCOMPARE(d.leMeterAddr->text(), QString("7"));
    QCOMPARE(d.leMeterComNo->text(), QString("COM3"));
    QCOMPARE(d.leMeterState->text(), QString("主动"));
    QVERIFY(d.leMeterAddr->isReadOnly() && d.leMeterComNo->isReadOnly() && d.leMeterState->isReadOnly());
    QCOMPARE(d.leTitle->text(), QString("压力"));
    QCOMPARE(d.leMainTitle->text(), QString("二号罐"));
    QCOMPARE(d.leMeasureUnit->text(), QString("kPa"));
    QCOMPARE(d.leRangeMin->text(), QString("-5"));
    QCOMPARE(d.leRangeMax->text(), QString("12.5"));
    QCOMPARE(d.leScale->text(), QString("2"));
    QCOMPARE(d.leOffset->text(), QString("0.25"));
    QCOMPARE(d.curveColor(), 0x00FF00);
    QCOMPARE(d.shpCurveColor->palette().color(QPalette::Window), QColor(0, 255, 0));
    QCOMPARE(d.cbxSignalType->currentText(), QString("0~5V"));
    QCOMPARE(d.cbxPhysicalChannel->currentText(), QString("3"));
    QVERIFY(d.ckxShowNowValue->isChecked());
    QVERIFY(!d.ckxShowMaxValue->isChecked());
    QVERIFY(d.ckxShowMinValue->isChecked());
    QVERIFY(!d.ckxShowButton->isChecked());
    QCOMPARE(d.spePrecisionArray->value(), 3);
    QVERIFY(d.tsRunOption->isEnabled());
    QVERIFY(d.btnOK->isEnabled());
    d.hide();

    // Every showing reloads: the other channel's defaults now.
    d.setTag(0);
    d.show();
    QCOMPARE(d.leTitle->text(), QString("通道1"));
    QCOMPARE(d.leMainTitle->text(), QString("通道1测试"));
    QCOMPARE(d.leRangeMax->text(), QString("50"));
    QCOMPARE(d.curveColor(), 255);
    QCOMPARE(d.cbxSignalType->currentText(), QString("4~20mA"));
    QCOMPARE(d.cbxPhysicalChannel->currentText(), QString("1"));
    QCOMPARE(d.spePrecisionArray->value(), 2);
    QVERIFY(d.ckxShowMaxValue->isChecked());
  }

  void meterFields_data() {
    QTest::addColumn<int>("meterNo");
    QTest::addColumn<int>("meterCom");
    QTest::addColumn<int>("meterState");
    QTest::addColumn<QString>("addr");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("mode");
    QTest::newRow("active") << 0 << 1 << 0 << "0" << "COM1" << "主动";
    QTest::newRow("query") << 12 << 15 << 1 << "12" << "COM15" << "查询";
    QTest::newRow("any other state queries") << 99 << 21 << 2 << "99" << "COM21" << "查询";
  }
  void meterFields() {
    QFETCH(int, meterNo);
    QFETCH(int, meterCom);
    QFETCH(int, meterState);
    EditChannelFixture f;
    TMeterConfigure &m = f.ctx.meters.Meters[0];
    m.MeterNo = meterNo;
    m.MeterCom = meterCom;
    m.MeterState = meterState;
    f.dlg->setTag(0);
    f.dlg->show();
    QTEST(f.dlg->leMeterAddr->text(), "addr");
    QTEST(f.dlg->leMeterComNo->text(), "port");
    QTEST(f.dlg->leMeterState->text(), "mode");
  }

  void okAppliesAndStores() {
    EditChannelFixture f(writeChannel2);
    f.board->channel(1)->setBaseValue(1.5);
    QVERIFY(f.okChannel(1, [](TfrmEditChannel &d) {
      d.leTitle->setText("温度");
      d.leMainTitle->setText("炉温");
      d.leMeasureUnit->setText("℃");
      d.leRangeMin->setText("100");
      d.leRangeMax->setText("-20"); // kept unsorted, shown sorted
      d.leScale->setText("1.5e1");
      d.leOffset->setText(" -0.5 ");
      d.setCurveColor(0x336699);
      d.cbxSignalType->setCurrentIndex(1);
      d.cbxPhysicalChannel->setCurrentIndex(8);
      d.ckxShowNowValue->setChecked(false);
      d.ckxShowMaxValue->setChecked(true);
      d.ckxShowMinValue->setChecked(false);
      d.spePrecisionArray->setValue(1);
    }));
    QVERIFY(f.seen.empty());

    TChannel *c = f.board->channel(1);
    TfraChannel *v = f.board->view(1);
    QCOMPARE(c->Title(), QString("温度"));
    QCOMPARE(c->MainTitle(), QString("炉温"));
    QCOMPARE(c->MeasureUnit(), QString("℃"));
    QCOMPARE(c->RangeMin(), 100.0);
    QCOMPARE(c->RangeMax(), -20.0);
    QCOMPARE(c->Scale(), 15.0);
    QCOMPARE(c->Offset(), -0.5);
    QCOMPARE(c->CurveColor(), 0x336699);
    QCOMPARE(c->SignalType(), TSignalType::stCurrent);
    QCOMPARE(c->PhysicalChannel(), 8);

    PlotChart *p = v->pltChannel;
    QCOMPARE(p->title(), QString("炉温"));
    QCOMPARE(p->axisTitle(ChartAxis::Y), QString("温度(℃)"));
    QCOMPARE(p->axisMin(ChartAxis::Y), -20.0);
    QCOMPARE(p->axisSpan(ChartAxis::Y), 120.0);
    QCOMPARE(p->traceColor(0), ColorFromWin(0x336699));
    QCOMPARE(v->lblUnit->text(), QString("℃"));
    QVERIFY(!v->ShowNowValue() && v->ShowMaxValue() && !v->ShowMinValue());
    QVERIFY(v->pnlNow->isHidden() && !v->pnlMax->isHidden() && v->pnlMin->isHidden());
    QCOMPARE(f.ctx.formats.precision(1), 1);
    QCOMPARE(f.ctx.formats.format(1), QString("%.1f"));

    const QString sec = QStringLiteral("Channel2");
    ProfileStore &s = f.s();
    QCOMPARE(s.readFloat(sec, "BaseValue", 0), 1.5);
    QCOMPARE(s.readInteger(sec, "PhysicalChannel", 0), 8);
    QCOMPARE(s.readString(sec, "Title", ""), QString("温度"));
    QCOMPARE(s.readString(sec, "MainTitle", ""), QString("炉温"));
    QCOMPARE(s.readString(sec, "MeasureUnit", ""), QString("℃"));
    QCOMPARE(s.readFloat(sec, "RangeMin", 0), 100.0);
    QCOMPARE(s.readFloat(sec, "RangeMax", 0), -20.0);
    QCOMPARE(s.readFloat(sec, "Scale", 0), 15.0);
    QCOMPARE(s.readFloat(sec, "Offset", 0), -0.5);
    QCOMPARE(s.readInteger(sec, "CurveColor", 0), 0x336699);
    QCOMPARE(s.readInteger(sec, "SignalType", 0), 1);
    QCOMPARE(s.readInteger(sec, "PrecisionArray", 0), 1);
    QCOMPARE(s.readBool(sec, "ShowNowValue", true), false);
    QCOMPARE(s.readBool(sec, "ShowMaxValue", false), true);
    QCOMPARE(s.readBool(sec, "ShowMinValue", true), false);
    // The other channel's section is untouched by this OK.
    QCOMPARE(s.readString("Channel1", "Title", "none"), QString("none"));

    // The next showing reads back what was applied.
    f.dlg->show();
    QCOMPARE(f.dlg->leRangeMin->text(), QString("100"));
    QCOMPARE(f.dlg->leScale->text(), QString("15"));
    QCOMPARE(f.dlg->spePrecisionArray->value(), 1);
  }

  // Sys.ini read-only: the channel and its view take the edits, the operator is told once, and
  // the file keeps what it had.
  void unsavedEditsAreReportedOnce() {
    EditChannelFixture f(writeChannel2);
    QFile file(f.ctx.paths.settingsFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    {
      UnwritableSettings readOnly(f.ctx.paths.settingsFile);
      QVERIFY(f.okChannel(1, [](TfrmEditChannel &d) {
        d.leTitle->setText("压力");
        d.leRangeMax->setText("9");
        d.ckxShowMaxValue->setChecked(false);
        d.spePrecisionArray->setValue(3);
      }));
    }
    QCOMPARE(int(f.seen.size()), 1);
    QCOMPARE(f.seen[0].caption, QString("错误"));
    QCOMPARE(f.seen[0].icon, QMessageBox::Critical);
    QCOMPARE(f.seen[0].text, "设置无法保存到文件：\n" + f.ctx.paths.settingsFile);
    QCOMPARE(f.board->channel(1)->Title(), QString("压力"));
    QCOMPARE(f.board->channel(1)->RangeMax(), 9.0);
    QVERIFY(!f.board->view(1)->ShowMaxValue());
    QCOMPARE(f.s().readString("Channel2", "Title", ""), QString("压力"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);
  }

  void badFloatIsRefused_data() {
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("acceptedBefore");
    QTest::addColumn<QString>("shownAfter");
    QTest::newRow("minimum of letters, first use") << 0 << "abc" << false << "0";
    QTest::newRow("maximum empty, first use") << 1 << "" << false << "0";
    QTest::newRow("scale with a comma") << 2 << "1,5" << false << "0";
    QTest::newRow("offset with trailing text") << 3 << "2kg" << false << "0";
    QTest::newRow("minimum after an accepted OK") << 0 << "x" << true << "-3";
    QTest::newRow("maximum after an accepted OK") << 1 << "inf" << true << "40";
    QTest::newRow("scale after an accepted OK") << 2 << "nan" << true << "0.5";
    QTest::newRow("offset after an accepted OK") << 3 << "--1" << true << "7";
  }
  void badFloatIsRefused() {
    QFETCH(int, field);
    QFETCH(QString, text);
    QFETCH(bool, acceptedBefore);
    EditChannelFixture f;
    if (acceptedBefore) {
      QVERIFY(f.okChannel(0, [](TfrmEditChannel &d) {
        d.leRangeMin->setText("-3");
        d.leRangeMax->setText("40");
        d.leScale->setText("0.5");
        d.leOffset->setText("7");
      }));
      // The channel moves on elsewhere; the dialog still remembers what it accepted.
      TChannel *c = f.board->channel(0);
      c->SetRange(11, 22);
      c->setScale(9);
      c->setOffset(8);
    }
    const QString fileBefore = QString::fromLatin1([&] {
      QFile file(f.ctx.paths.settingsFile);
      return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }());
    const QString titleBefore = f.board->channel(0)->Title();

    const bool closed = f.okChannel(0, [&](TfrmEditChannel &d) {
      d.leTitle->setText("changed");
      d.ckxShowNowValue->setChecked(false);
      floatEdit(d, field)->setText(text);
    });
    QVERIFY(!closed);
    QCOMPARE(int(f.seen.size()), 1);
    QCOMPARE(f.seen[0].text, QString("请键入正确内容！"));
    QCOMPARE(f.seen[0].caption, QString("错误"));
    QCOMPARE(f.seen[0].icon, QMessageBox::Critical);
    QTEST(floatEdit(*f.dlg, field)->text(), "shownAfter");
    // Nothing of this OK was applied or written.
    QCOMPARE(f.board->channel(0)->Title(), titleBefore);
    QVERIFY(f.board->view(0)->ShowNowValue());
    QFile file(f.ctx.paths.settingsFile);
    QCOMPARE(QString::fromLatin1(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray()), fileBefore);
  }

  void refusedEditGetsTheFocus() {
    EditChannelFixture f;
    f.dlg->setTag(0);
    f.dlg->show();
    f.dlg->activateWindow();
    f.dlg->leRangeMax->setText("zz");
    ModalResponder responder;
    f.dlg->btnOK->click();
    QTRY_COMPARE(f.dlg->focusWidget(), static_cast<QWidget *>(f.dlg->leRangeMax));
    QVERIFY(f.dlg->isVisible());
  }

  void acquisitionLocksTheChartPage_data() {
    QTest::addColumn<bool>("acquiring");
    QTest::newRow("idle") << false;
    QTest::newRow("acquiring") << true;
  }
  void acquisitionLocksTheChartPage() {
    QFETCH(bool, acquiring);
    EditChannelFixture f(writeChannel2);
    f.acquiring = acquiring;
    f.colourAnswer = 0x0000FF;
    f.dlg->setTag(1);
    f.dlg->show();
    QCOMPARE(f.dlg->tsRunOption->isEnabled(), !acquiring);
    QVERIFY(f.dlg->tsViewOption->isEnabled());
    QVERIFY(f.dlg->btnOK->isEnabled());

    // The swatch offers the chooser only while the page is usable.
    QTest::mousePress(f.dlg->shpCurveColor, Qt::LeftButton);
    QCOMPARE(f.colourRequests, acquiring ? 0 : 1);
    QCOMPARE(f.dlg->curveColor(), acquiring ? 0x00FF00 : 0x0000FF);

    ModalResponder responder;
    f.dlg->ckxShowMinValue->setChecked(false);
    f.dlg->btnOK->click();
    QVERIFY(!f.dlg->isVisible());
    QVERIFY(responder.seen.empty());
    QVERIFY(!f.board->view(1)->ShowMinValue());
    QCOMPARE(f.s().readBool("Channel2", "ShowMinValue", true), false);
    // The section is written either way; the locked page's values go through unchanged.
    QCOMPARE(f.s().readFloat("Channel2", "RangeMin", 0), -5.0);
    QCOMPARE(f.s().readString("Channel2", "Title", ""), QString("压力"));
    QCOMPARE(f.s().readInteger("Channel2", "CurveColor", 0), acquiring ? 0x00FF00 : 0x0000FF);
  }

  void colourChooserCancelKeepsTheSwatch() {
    EditChannelFixture f;
    f.dlg->setTag(0);
    f.dlg->show();
    f.colourAnswer.reset();
    QTest::mousePress(f.dlg->shpCurveColor, Qt::LeftButton);
    QCOMPARE(f.colourRequests, 1);
    QCOMPARE(f.dlg->curveColor(), 255);
  }

  void xyViewRefreshesForItsChannels_data() {
    QTest::addColumn<int>("xChannel");
    QTest::addColumn<int>("yChannel");
    QTest::addColumn<int>("edited");
    QTest::addColumn<int>("refreshes");
    QTest::newRow("X channel") << 1 << 0 << 1 << 1;
    QTest::newRow("Y channel") << 0 << 1 << 1 << 1;
    QTest::newRow("both") << 1 << 1 << 1 << 1;
    QTest::newRow("another channel") << 0 << 0 << 1 << 0;
  }
  void xyViewRefreshesForItsChannels() {
    QFETCH(int, xChannel);
    QFETCH(int, yChannel);
    QFETCH(int, edited);
    EditChannelFixture f;
    f.ctx.options.XChannelNo = xChannel;
    f.ctx.options.YChannelNo = yChannel;
    QVERIFY(f.okChannel(edited));
    QTEST(f.xyRefreshes, "refreshes");
  }

  void showForSelectsThePage_data() {
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("shown");
    QTest::newRow("chart menu") << 1 << 0 << 0;
    QTest::newRow("panel menu") << 0 << 1 << 1;
    QTest::newRow("option button keeps page 1") << 1 << -1 << 1;
    QTest::newRow("option button keeps page 0") << 0 << -1 << 0;
  }
  void showForSelectsThePage() {
    QFETCH(int, before);
    QFETCH(int, requested);
    EditChannelFixture f(writeChannel2);
    f.dlg->PageControl1->setCurrentIndex(before);
    int pageSeen = -2;
    QString titleSeen;
    QTimer::singleShot(0, f.dlg.get(), [&] {
      pageSeen = f.dlg->PageControl1->currentIndex();
      titleSeen = f.dlg->leTitle->text();
      f.dlg->reject();
    });
    QCOMPARE(f.dlg->showFor(1, requested), int(QDialog::Rejected));
    QCOMPARE(f.dlg->Tag(), 1);
    QTEST(pageSeen, "shown");
    QCOMPARE(titleSeen, QString("压力"));
  }

  void tagWithoutAChannelCannotBeConfirmed() {
    EditChannelFixture f;
    f.dlg->setTag(2); // two channels were built
    f.dlg->show();
    QVERIFY(!f.dlg->btnOK->isEnabled());
    TfrmEditChannel unattached;
    unattached.show();
    QVERIFY(!unattached.btnOK->isEnabled());
  }
};

QTEST_MAIN(TestEditChannel)
#include "tst_editchannel.moc"
