#include "tst_editchannel_fixture.h"

#include "views/PlotChart.h"
#include "views/TfraChannel.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QtTest>

class TestEditChannelAlarm : public QObject {
  Q_OBJECT
private slots:
  void alarmKeysAreStored_data() {
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("high");
    QTest::addColumn<QString>("low");
    QTest::addColumn<QString>("hysteresis");
    QTest::addColumn<QString>("storedHigh");
    QTest::addColumn<QString>("storedLow");
    QTest::addColumn<QString>("storedHysteresis");
    QTest::newRow("both limits") << true << "12.5" << " -3 " << "0.25" << "12.5" << "-3" << "0.25";
    QTest::newRow("no low limit") << true << "1e3" << "" << "0" << "1000" << "" << "0";
    QTest::newRow("disabled keeps the limits") << false << "5" << "1" << "0.5" << "5" << "1" << "0.5";
  }
  void alarmKeysAreStored() {
    QFETCH(bool, enabled);
    QFETCH(QString, high);
    QFETCH(QString, low);
    QFETCH(QString, hysteresis);
    EditChannelFixture f;
    QVERIFY(f.okChannel(1, [&](TfrmEditChannel &d) {
      d.ckxAlarmEnabled->setChecked(enabled);
      d.leAlarmHigh->setText(high);
      d.leAlarmLow->setText(low);
      d.leAlarmHysteresis->setText(hysteresis);
    }));
    ProfileStore &s = f.s();
    QCOMPARE(s.readString("Channel2", "AlarmEnabled", "?"), QString(enabled ? "1" : "0"));
    QTEST(s.readString("Channel2", "AlarmHigh", "?"), "storedHigh");
    QTEST(s.readString("Channel2", "AlarmLow", "?"), "storedLow");
    QTEST(s.readString("Channel2", "AlarmHysteresis", "?"), "storedHysteresis");
    // The chart shows the limits at once, only while the alarm is enabled.
    PlotChart *chart = f.board->view(1)->pltChannel;
    const AlarmLimits l = ReadAlarmLimits(s, 1);
    QCOMPARE(chart->limitLine(true), enabled ? l.high : std::nullopt);
    QCOMPARE(chart->limitLine(false), enabled ? l.low : std::nullopt);
    // The next showing reads them back.
    f.dlg->setTag(1);
    f.dlg->show();
    QCOMPARE(f.dlg->ckxAlarmEnabled->isChecked(), enabled);
    QTEST(f.dlg->leAlarmHigh->text(), "storedHigh");
    QTEST(f.dlg->leAlarmLow->text(), "storedLow");
    f.dlg->hide();
  }

  void badAlarmTextIsRefused_data() {
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("text");
    QTest::newRow("high of letters") << 0 << "abc";
    QTest::newRow("low with a comma") << 1 << "1,5";
    QTest::newRow("hysteresis empty") << 2 << "";
    QTest::newRow("hysteresis negative") << 2 << "-1";
    QTest::newRow("high infinite") << 0 << "inf";
  }
  void badAlarmTextIsRefused() {
    QFETCH(int, field);
    QFETCH(QString, text);
    EditChannelFixture f;
    QVERIFY(f.okChannel(0, [](TfrmEditChannel &d) {
      d.leAlarmHigh->setText("9");
      d.leAlarmLow->setText("1");
      d.leAlarmHysteresis->setText("0.5");
    }));
    const std::array<QString, 3> accepted{"9", "1", "0.5"};
    const bool closed = f.okChannel(0, [&](TfrmEditChannel &d) {
      d.ckxAlarmEnabled->setChecked(true);
      d.leTitle->setText("changed");
      const std::array<QLineEdit *, 3> e{d.leAlarmHigh, d.leAlarmLow, d.leAlarmHysteresis};
      e[size_t(field)]->setText(text);
    });
    QVERIFY(!closed);
    QCOMPARE(int(f.seen.size()), 1);
    QCOMPARE(f.seen[0].text, QString("请键入正确内容！"));
    QCOMPARE(f.seen[0].caption, QString("错误"));
    const std::array<QLineEdit *, 3> e{f.dlg->leAlarmHigh, f.dlg->leAlarmLow, f.dlg->leAlarmHysteresis};
    QCOMPARE(e[size_t(field)]->text(), accepted[size_t(field)]);
    // Nothing of this OK was applied or written.
    QVERIFY(f.board->channel(0)->Title() != QString("changed"));
    QCOMPARE(f.s().readString("Channel1", "AlarmEnabled", "?"), QString("0"));
  }

  void acquisitionLocksTheAlarmGroup() {
    EditChannelFixture f;
    f.acquiring = true;
    f.dlg->setTag(0);
    f.dlg->show();
    QVERIFY(!f.dlg->gbAlarm->isEnabled());
    f.dlg->hide();
  }
};

QTEST_MAIN(TestEditChannelAlarm)
#include "tst_editchannel_alarm.moc"
