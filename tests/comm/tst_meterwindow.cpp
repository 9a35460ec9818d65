#include "comm/MeterTable.h"
#include "comm/TfrmConfigure.h"
#include "comm/TfrmConfigureShowUnit.h"

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
};

QTEST_MAIN(TestMeterWindow)
#include "tst_meterwindow.moc"
