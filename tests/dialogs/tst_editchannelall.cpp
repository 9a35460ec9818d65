#include "tst_editchannel_fixture.h"

#include "views/PlotChart.h"
#include "common/UnwritableSettings.h"

#include <QLineEdit>
#include <QtTest>

class TestEditChannelAll : public QObject {
  Q_OBJECT
private slots:
  void showingReadsTheSection() {
    EditChannelFixture f;
    TfrmEditChannelAll &d = *f.dlgAll;
    d.show();
    QCOMPARE(d.leMainTitle->text(), QString("合并显示曲线图"));
    QCOMPARE(d.leTitle->text(), QString("总通道"));
    QCOMPARE(d.leMeasureUnit->text(), QString());
    QCOMPARE(d.leRangeMin->text(), QString("0"));
    QCOMPARE(d.leRangeMax->text(), QString("50"));
    d.hide();

    // Edited by hand while the dialog is closed: the next showing sees it.
    f.s().writeString("ChannelAll", "Title", "全部");
    f.s().writeString("ChannelAll", "MainTitle", "");
    f.s().writeString("ChannelAll", "MeasureUnit", "V");
    f.s().writeFloat("ChannelAll", "RangeMin", -2.5);
    f.s().writeString("ChannelAll", "RangeMax", "junk");
    d.show();
    QCOMPARE(d.leTitle->text(), QString("全部"));
    QCOMPARE(d.leMainTitle->text(), QString());
    QCOMPARE(d.leMeasureUnit->text(), QString("V"));
    QCOMPARE(d.leRangeMin->text(), QString("-2.5"));
    QCOMPARE(d.leRangeMax->text(), QString("50"));
  }

  void okStoresAndRebuildsTheChart_data() {
    QTest::addColumn<QString>("mainTitle");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("minText");
    QTest::addColumn<QString>("maxText");
    QTest::addColumn<bool>("titleVisible");
    QTest::addColumn<QString>("axisTitle");
    QTest::addColumn<double>("axisMin");
    QTest::addColumn<double>("axisSpan");
    QTest::newRow("in order") << "对比" << "℃" << "0" << "80" << true << "总温(℃)" << 0.0 << 80.0;
    QTest::newRow("reversed range") << "对比" << "" << "80" << "-20" << true << "总温" << -20.0 << 100.0;
    QTest::newRow("blank title, blank unit") << "  " << " " << "-1.5" << "1.5" << false << "总温" << -1.5
                                             << 3.0;
  }
  void okStoresAndRebuildsTheChart() {
    QFETCH(QString, mainTitle);
    QFETCH(QString, unit);
    QFETCH(QString, minText);
    QFETCH(QString, maxText);
    EditChannelFixture f;
    QVERIFY(f.okCompare([&](TfrmEditChannelAll &d) {
      d.leMainTitle->setText(mainTitle);
      d.leTitle->setText("总温");
      d.leMeasureUnit->setText(unit);
      d.leRangeMin->setText(minText);
      d.leRangeMax->setText(maxText);
    }));
    QVERIFY(f.seen.empty());
    ProfileStore &s = f.s();
    // Profile values lose surrounding blanks on the way through the file.
    QCOMPARE(s.readString("ChannelAll", "MainTitle", "none"), mainTitle.trimmed());
    QCOMPARE(s.readString("ChannelAll", "Title", "none"), QString("总温"));
    QCOMPARE(s.readString("ChannelAll", "MeasureUnit", "none"), unit.trimmed());
    QCOMPARE(s.readFloat("ChannelAll", "RangeMin", 1e9), minText.toDouble());
    QCOMPARE(s.readFloat("ChannelAll", "RangeMax", 1e9), maxText.toDouble());

    PlotChart *p = f.board->compareChart();
    QCOMPARE(p->title(), mainTitle.trimmed());
    QTEST(p->titleVisible(), "titleVisible");
    QTEST(p->axisTitle(ChartAxis::Y), "axisTitle");
    QTEST(p->axisMin(ChartAxis::Y), "axisMin");
    QTEST(p->axisSpan(ChartAxis::Y), "axisSpan");
  }

  // With Sys.ini read-only the chart still takes the edits, the next showing still offers them,
  // and the operator is told once that they were not saved.
  void unsavedEditsStayForTheRun_data() {
    QTest::addColumn<bool>("writable");
    QTest::newRow("written") << true;
    QTest::newRow("read-only Sys.ini") << false;
  }
  void unsavedEditsStayForTheRun() {
    QFETCH(bool, writable);
    EditChannelFixture f;
    QVERIFY(f.s().writeString("ChannelAll", "Title", "旧"));
    const QByteArray before = [&] {
      QFile file(f.ctx.paths.settingsFile);
      return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    std::optional<UnwritableSettings> readOnly;
    if (!writable)
      readOnly.emplace(f.ctx.paths.settingsFile);
    QVERIFY(f.okCompare([](TfrmEditChannelAll &d) {
      d.leMainTitle->setText("新图");
      d.leTitle->setText("压力");
      d.leRangeMin->setText("-5");
      d.leRangeMax->setText("5");
    }));
    PlotChart *p = f.board->compareChart();
    QCOMPARE(p->title(), QString("新图"));
    QCOMPARE(p->axisTitle(ChartAxis::Y), QString("压力"));
    QCOMPARE(p->axisMin(ChartAxis::Y), -5.0);
    f.dlgAll->show();
    QCOMPARE(f.dlgAll->leTitle->text(), QString("压力"));
    QCOMPARE(f.dlgAll->leRangeMax->text(), QString("5"));
    f.dlgAll->hide();
    readOnly.reset();
    QFile file(f.ctx.paths.settingsFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    if (writable) {
      QVERIFY(f.seen.empty());
      QVERIFY(file.readAll() != before);
    } else {
      QCOMPARE(int(f.seen.size()), 1);
      QCOMPARE(f.seen[0].caption, QString("错误"));
      QCOMPARE(f.seen[0].text, "设置无法保存到文件：\n" + f.ctx.paths.settingsFile);
      QCOMPARE(file.readAll(), before);
    }
  }

  void badRangeIsRefused_data() {
    QTest::addColumn<bool>("minimumBad");
    QTest::addColumn<QString>("text");
    QTest::newRow("minimum of letters") << true << "abc";
    QTest::newRow("maximum empty") << false << "";
    QTest::newRow("maximum with a comma") << false << "2,5";
  }
  void badRangeIsRefused() {
    QFETCH(bool, minimumBad);
    QFETCH(QString, text);
    EditChannelFixture f;
    f.board->SetupCompareView();
    const QString titleBefore = f.board->compareChart()->axisTitle(ChartAxis::Y);
    QLineEdit *bad = nullptr;
    const bool closed = f.okCompare([&](TfrmEditChannelAll &d) {
      d.leTitle->setText("新标题");
      bad = minimumBad ? d.leRangeMin : d.leRangeMax;
      bad->setText(text);
    });
    QVERIFY(!closed);
    QCOMPARE(int(f.seen.size()), 1);
    QCOMPARE(f.seen[0].text, QString("请键入正确内容！"));
    QCOMPARE(f.seen[0].caption, QString("错误"));
    QCOMPARE(f.seen[0].icon, QMessageBox::Critical);
    QCOMPARE(bad->text(), text); // left as typed, for correcting
    QCOMPARE(f.s().readString("ChannelAll", "Title", "missing"), QString("missing"));
    QCOMPARE(f.board->compareChart()->axisTitle(ChartAxis::Y), titleBefore);
  }
};

QTEST_MAIN(TestEditChannelAll)
#include "tst_editchannelall.moc"
