#include "comm/MeterTable.h"
#include "comm/PortDiagnostics.h"
#include "comm/TfrmConfigure.h"
#include "comm/TfrmConfigureShowUnit.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

class TestMeterWindow : public QObject {
  Q_OBJECT
private slots:
  void windowLayout() {
    TfrmConfigureShowUnit w;
    QCOMPARE(w.windowTitle(), QString("仪表信息"));
    QCOMPARE(w.size(), QSize(276, 269));
    QVERIFY(w.iLedBar1->isHidden());
    QCOMPARE(w.btnClose->text(), QString("关闭(&C)"));
    QTableWidget *g = w.frmConfigure1->StringGrid1;
    QCOMPARE(g->columnCount(), 5);
    const int widths[] = {64, 49, 52, 57, 45};
    for (int c = 0; c < 5; ++c)
      QCOMPARE(g->columnWidth(c), widths[c]);
    QCOMPARE(g->editTriggers(), QAbstractItemView::NoEditTriggers);
  }

  void prepareFillClear() {
    TfrmConfigure f;
    f.prepareGrid();
    QCOMPARE(f.StringGrid1->rowCount(), 11);
    const QStringList header{"序号", "仪表号", "串口号", "方式", "状态"};
    for (int c = 0; c < 5; ++c)
      QCOMPARE(f.cellText(0, c), header[c]);
    for (int r = 1; r <= 10; ++r)
      QCOMPARE(f.cellText(r, 0), QString::number(r));

    MeterTable t;
    t.Meters[0].MeterNo = 12;
    t.Meters[0].MeterCom = 5;
    t.Meters[0].MeterState = 0;
    t.Meters[0].MeterValid = true;
    t.Meters[4].MeterNo = 3;
    t.Meters[4].MeterCom = 6;
    t.Meters[4].MeterValid = true;
    QCOMPARE(f.fillGrid(t), 2);
    QCOMPARE(f.cellText(1, 1), QString("12"));
    QCOMPARE(f.cellText(1, 2), QString("com5"));
    QCOMPARE(f.cellText(1, 3), QString("主动"));
    QCOMPARE(f.cellText(1, 4), QString("有效"));
    QCOMPARE(f.cellText(2, 1), QString("3"));
    QCOMPARE(f.cellText(2, 3), QString("查询"));
    QCOMPARE(f.cellText(3, 1), QString());
    QCOMPARE(f.StringGrid1->item(1, 2)->textAlignment(), int(Qt::AlignCenter));

    // Fill leaves later rows as they were; clear empties all but header and numbers.
    t.Meters[4].MeterValid = false;
    QCOMPARE(f.fillGrid(t), 1);
    QCOMPARE(f.cellText(2, 1), QString("3"));
    f.clearGrid();
    QCOMPARE(f.cellText(1, 1), QString());
    QCOMPARE(f.cellText(2, 4), QString());
    QCOMPARE(f.cellText(0, 1), QString("仪表号"));
    QCOMPARE(f.cellText(5, 0), QString("5"));
  }

  void diagnosticsRows_data() {
    QTest::addColumn<QList<PortStats>>("ports");
    QTest::addColumn<QList<QStringList>>("rows");

    QTest::newRow("no run") << QList<PortStats>{} << QList<QStringList>{};

    PortStats a;
    a.com = 3;
    a.goodFrames = 1234567890123ULL; // counts are 64-bit and shown whole
    a.rejects[static_cast<int>(FrameReject::Address)] = 1;
    a.rejects[static_cast<int>(FrameReject::Checksum)] = 2;
    a.rejects[static_cast<int>(FrameReject::Terminator)] = 3;
    a.rejects[static_cast<int>(FrameReject::DecimalDigit)] = 4;
    a.rejects[static_cast<int>(FrameReject::Magnitude)] = 5;
    a.timeouts = 6;
    PortStats b;
    b.com = 12;
    b.failed = true;
    QTest::newRow("each reason in its own row, ports in order")
        << QList<PortStats>{a, b}
        << QList<QStringList>{{"串口", "com3", "com12"},     {"正确帧", "1234567890123", "0"},
                              {"地址错", "1", "0"},          {"校验错", "2", "0"},
                              {"结束符错", "3", "0"},        {"小数位错", "4", "0"},
                              {"数值错", "5", "0"},          {"超时", "6", "0"},
                              {"状态", "正常", "断开"}};
  }

  void diagnosticsRows() {
    QFETCH(QList<PortStats>, ports);
    QFETCH(QList<QStringList>, rows);
    QCOMPARE(DiagnosticsRows(ports), rows);
  }

  // The window shows the diagnostics once an acquisition has run, follows the counters while it is
  // open, and keeps them out of the way during a search.
  void diagnosticsInWindow() {
    TfrmConfigureShowUnit w;
    QList<PortStats> stats;
    w.setStatsSource([&stats] { return stats; });
    w.show();
    QVERIFY(w.gridDiagnostics->isHidden());
    QCOMPARE(w.size(), QSize(276, 269));

    PortStats p;
    p.com = 1;
    p.goodFrames = 7;
    stats << p;
    w.refreshDiagnostics();
    QVERIFY(!w.gridDiagnostics->isHidden());
    QVERIFY(!w.lblDiagnostics->isHidden());
    QVERIFY(w.height() > 269);
    QCOMPARE(w.gridDiagnostics->item(1, 1)->text(), QString("7"));

    stats[0].goodFrames = 8; // the open window refreshes on its own
    QTRY_COMPARE(w.gridDiagnostics->item(1, 1)->text(), QString("8"));

    w.iLedBar1->show();
    w.refreshDiagnostics();
    QVERIFY(w.gridDiagnostics->isHidden());
    QCOMPARE(w.size(), QSize(276, 269));
    w.iLedBar1->hide();

    // A second port appears as a new column; a run with fewer ports drops it again.
    stats << p;
    stats[1].com = 4;
    w.refreshDiagnostics();
    QCOMPARE(w.gridDiagnostics->columnCount(), 3);
    QCOMPARE(w.gridDiagnostics->item(0, 2)->text(), QString("com4"));
    stats.removeLast();
    w.refreshDiagnostics();
    QCOMPARE(w.gridDiagnostics->columnCount(), 2);
  }
};

QTEST_MAIN(TestMeterWindow)
#include "tst_meterwindow.moc"
