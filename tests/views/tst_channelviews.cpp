#include "acquisition/AcquisitionControl.h"
#include "acquisition/DataFileWriter.h"
#include "acquisition/TChannel.h"
#include "app/Conversions.h"
#include "app/AppContext.h"
#include "views/DotMatrixDisplay.h"
#include "views/PlotChart.h"
#include "views/TfraChannel.h"
#include "views/ViewBoard.h"
#include "views/WinColor.h"

#include <QLabel>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <qcustomplot.h>

#include <cmath>

namespace {
// A main window stand-in: a page control with the three pages, and the board on it.
struct Board {
  QTemporaryDir dir;
  AppContext ctx{ProgramPaths::resolve(dir.path())};
  QTabWidget tabs;
  QWidget *channelPage = new QWidget;
  QWidget *xyPage = new QWidget;
  QWidget *comparePage = new QWidget;
  std::unique_ptr<ViewBoard> board;
  bool cursorDown = false;
  int zoomBoxReleased = 0;

  explicit Board(int views, QSize pageSize = QSize(800, 600)) {
    ctx.settings = std::make_unique<ProfileStore>(ctx.paths.settingsFile);
    ctx.options.load(*ctx.settings, ctx.paths.dataFolder);
    tabs.addTab(channelPage, "a");
    tabs.addTab(xyPage, "b");
    tabs.addTab(comparePage, "c");
    tabs.show();
    channelPage->setFixedSize(pageSize);
    ViewBoard::Commands cmd;
    cmd.cursorToolDown = [this] { return cursorDown; };
    cmd.releaseZoomBox = [this] { ++zoomBoxReleased; };
    board = std::make_unique<ViewBoard>(ctx, ViewBoard::Pages{&tabs, channelPage, xyPage, comparePage, &tabs}, cmd);
    board->BuildChannelViews(views);
  }
  TfraChannel *v(int i) { return board->view(i); }
  ProfileStore &s() { return *ctx.settings; }
};

void drag(QWidget *grip, QPoint delta) {
  const QPoint start = grip->rect().center();
  QTest::mousePress(grip, Qt::LeftButton, {}, start);
  QMouseEvent move(QEvent::MouseMove, QPointF(start + delta), grip->mapToGlobal(QPointF(start + delta)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(grip, &move);
  QTest::mouseRelease(grip, Qt::LeftButton, {}, start + delta);
}
// The channel page of the main window on a 1600 x 1000 screen.
const QSize kScreenPage(1600, 866);

bool inside(const QWidget *view, const QWidget *panel) {
  return QRect(QPoint(0, 0), view->size()).contains(panel->geometry());
}
} // namespace

class TestChannelViews : public QObject {
  Q_OBJECT
private slots:
  void buildReadsChannelSettings() {
    Board b(0);
    b.s().writeString("Channel2", "Title", "温度");
    b.s().writeString("Channel2", "MeasureUnit", "℃");
    b.s().writeFloat("Channel2", "RangeMin", 100);
    b.s().writeFloat("Channel2", "RangeMax", 20);
    b.s().writeInteger("Channel2", "PrecisionArray", 3);
    b.board->BuildChannelViews(2);
    QCOMPARE(b.board->viewCount(), 2);
    QCOMPARE(b.v(1)->objectName(), QString("fraChannel2"));
    QCOMPARE(b.v(0)->pltChannel->title(), QString("通道1测试"));
    QCOMPARE(b.v(1)->pltChannel->axisTitle(ChartAxis::Y), QString("温度(℃)"));
    QCOMPARE(b.v(1)->pltChannel->axisMin(ChartAxis::Y), 20.0);
    QCOMPARE(b.v(1)->pltChannel->axisSpan(ChartAxis::Y), 80.0);
    QCOMPARE(b.ctx.formats.format(1), QString("%.3f"));
    QCOMPARE(b.board->channel(1)->PhysicalChannel(), 2);
    QCOMPARE(b.v(0)->pltChannel->axisSpan(ChartAxis::X), 24.0);
    QCOMPARE(b.v(0)->pltChannel->axisTitle(ChartAxis::X), QString("时间(小时)"));
    // A rebuild replaces everything and never leaves ActivePlot on a freed view.
    b.board->viewActivated(b.v(0));
    b.board->BuildChannelViews(1);
    QVERIFY(!b.board->ActivePlot());
  }

  void arrangement_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("views");
    QTest::addColumn<QList<QRect>>("rects");
    QTest::newRow("one, stacked") << 0 << 1 << QList<QRect>{{0, 0, 800, 301}};
    QTest::newRow("one, two columns: left half") << 1 << 1 << QList<QRect>{{0, 0, 400, 301}};
    QTest::newRow("three, two columns, height 301")
        << 1 << 3 << QList<QRect>{{0, 0, 400, 150}, {400, 0, 400, 150}, {0, 150, 400, 151}};
    QTest::newRow("unknown type stacks") << 5 << 2 << QList<QRect>{{0, 0, 800, 150}, {0, 150, 800, 151}};
  }
  void arrangement() {
    QFETCH(int, type);
    QFETCH(int, views);
    QFETCH(QList<QRect>, rects);
    Board b(views, QSize(800, 301));
    b.board->ArrangeViews(type);
    for (int i = 0; i < views; ++i)
      QCOMPARE(b.v(i)->geometry(), rects[i]);
  }

  void arrangementButtonsIgnoredWhileMaximised() {
    Board b(2, QSize(800, 600));
    b.board->arrangeButton(1);
    QCOMPARE(b.s().readInteger("System Options", "ArrangeType", -1), 1);
    QCOMPARE(b.v(1)->geometry(), QRect(400, 0, 400, 600));
    b.board->viewActivated(b.v(0));
    b.v(0)->toggleMaximize();
    QCOMPARE(b.v(0)->geometry(), QRect(0, 0, 800, 600));
    QCOMPARE(b.v(0)->MenuMaximize->text(), QString("还原到各绘图显示(&C)"));
    b.board->arrangeButton(0);
    QCOMPARE(b.s().readInteger("System Options", "ArrangeType", -1), 1); // ignored
    b.v(0)->toggleMaximize(); // restore lays out by the stored arrangement
    QCOMPARE(b.v(0)->geometry(), QRect(0, 0, 400, 600));
    QCOMPARE(b.v(0)->MenuMaximize->text(), QString("本绘图区最大化(&M)"));
  }

  void zoomInThenOutRestores() {
    Board b(2);
    PlotChart *p = b.v(1)->pltChannel;
    p->setAxisRange(ChartAxis::X, 10, 40);
    b.board->zoom(ChartAxis::X, 0.8);
    QCOMPARE(p->axisSpan(ChartAxis::X), 32.0);
    QCOMPARE(p->axisMin(ChartAxis::X), 14.0);
    QVERIFY(!p->tracking(ChartAxis::X));
    b.board->zoom(ChartAxis::X, 1.25);
    QVERIFY(qAbs(p->axisSpan(ChartAxis::X) - 40.0) < 1e-9);
    QVERIFY(qAbs(p->axisMin(ChartAxis::X) - 10.0) < 1e-9);
  }

  void zoomToFitWithoutPointsChangesNothing() {
    Board b(1);
    PlotChart *p = b.v(0)->pltChannel;
    p->setAxisRange(ChartAxis::X, 3, 7);
    b.board->zoomToFit();
    QCOMPARE(p->axisMin(ChartAxis::X), 3.0);
    QCOMPARE(p->axisSpan(ChartAxis::X), 7.0);
  }

  void sampleDisplay_data() {
    QTest::addColumn<int>("places");
    QTest::addColumn<bool>("alive");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("caption");
    QTest::newRow("padded to 7") << 0 << true << 12.6 << "     13" << "13";
    QTest::newRow("seven long unpadded") << 2 << true << -1234.5 << "-1234.50" << "-1234.50";
    QTest::newRow("not alive: empty display") << 2 << false << 3.0 << "" << "3.00";
  }
  void sampleDisplay() {
    QFETCH(int, places);
    QFETCH(bool, alive);
    QFETCH(double, value);
    QFETCH(QString, display);
    QFETCH(QString, caption);
    Board b(1);
    b.ctx.formats.setPrecision(0, places);
    b.ctx.meters.Meters[0].MeterAlive = alive;
    b.board->channel(0)->SetSample(value, 1000);
    QCOMPARE(b.v(0)->iLCDCurrentValue->text(), display);
    QCOMPARE(b.v(0)->lblCurrentValue->text(), caption);
    QCOMPARE(b.v(0)->pltChannel->pointCount(0), 1);
  }

  void extremesAndScrolling() {
    Board b(1);
    b.ctx.options.TimeWindowUnit = 1; // seconds
    b.ctx.options.DiplayBackPer = 20;
    TfraChannel *v = b.v(0);
    v->pltChannel->setTracking(ChartAxis::X, false);
    v->pltChannel->setAxisRange(ChartAxis::X, 0, 10);
    TChannel *c = b.board->channel(0);
    c->SetSample(5, 1000);
    c->SetSample(-2, 2000);
    c->SetSample(3, 11000); // 11 s passes the end: the start moves by 80 % of the span
    QCOMPARE(v->lblMax->text(), QString("5.00"));
    QCOMPARE(v->lblMin->text(), QString("-2.00"));
    QCOMPARE(v->pltChannel->axisMin(ChartAxis::X), 8.0);
  }

  void panelClampedAndPersisted_data() {
    QTest::addColumn<QPoint>("delta");
    QTest::addColumn<QString>("edge");
    QTest::newRow("left") << QPoint(-2000, 0) << "left";
    QTest::newRow("top") << QPoint(0, -2000) << "top";
    QTest::newRow("right") << QPoint(2000, 0) << "right";
    QTest::newRow("bottom") << QPoint(0, 2000) << "bottom";
  }
  void panelClampedAndPersisted() {
    QFETCH(QPoint, delta);
    QFETCH(QString, edge);
    Board b(1, QSize(600, 400));
    TfraChannel *v = b.v(0);
    QTRY_COMPARE(v->size(), QSize(600, 400));
    drag(v->Label2, delta);
    const QRect r = v->panel->geometry();
    if (edge == "left")
      QCOMPARE(r.left(), 3);
    if (edge == "top")
      QCOMPARE(r.top(), 3);
    if (edge == "right")
      QCOMPARE(r.right() + 1, 600 - 3);
    if (edge == "bottom")
      QCOMPARE(r.bottom() + 1, 400 - 3);
    QCOMPARE(b.s().readInteger("Channel1", "PanelTopSpace", -1), r.top());
    QCOMPARE(b.s().readInteger("Channel1", "PanelRightSpace", -1), 600 - r.left() - r.width());
  }

  void linkedDragMovesEveryWindow() {
    Board b(3, QSize(600, 600));
    b.ctx.options.LinkMove = true;
    drag(b.v(0)->Label3, QPoint(-2000, 2000));
    const int top = b.v(0)->PanelTopSpace();
    const int right = b.v(0)->PanelRightSpace();
    for (int i = 1; i < 3; ++i) {
      QCOMPARE(b.v(i)->PanelTopSpace(), top);
      QCOMPARE(b.v(i)->PanelRightSpace(), right);
      const QString sec = QString("Channel%1").arg(i + 1);
      QCOMPARE(b.s().readInteger(sec, "PanelTopSpace", -1), top);
      QCOMPARE(b.s().readInteger(sec, "PanelRightSpace", -1), right);
    }
  }

  void viewsStayReadable_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("views");
    for (int type : {0, 1})
      for (int n = 1; n <= 10; ++n)
        QTest::addRow("%s, %d views", type == 0 ? "stacked" : "two columns", n) << type << n;
  }
  void viewsStayReadable() {
    QFETCH(int, type);
    QFETCH(int, views);
    Board b(views, kScreenPage);
    b.board->ArrangeViews(type);
    const QRect page(QPoint(0, 0), kScreenPage);
    for (int i = 0; i < views; ++i) {
      TfraChannel *v = b.v(i);
      QVERIFY(page.contains(v->geometry()));
      QVERIFY(v->minimumHeight() <= v->height());
      QCustomPlot *p = v->pltChannel->plot();
      QCOMPARE(p->height(), v->height());
      v->pltChannel->replotNow();
      const int data = p->axisRect()->rect().height();
      QVERIFY2(data * 2 >= v->height(), qPrintable(QString("view %1: data %2 of %3").arg(i).arg(data).arg(v->height())));
      // Y labels one label height apart at least.
      const QVector<double> ticks = p->yAxis->tickVector();
      const int labelHeight = QFontMetrics(p->yAxis->tickLabelFont()).height();
      for (int t = 1; t < ticks.size(); ++t)
        QVERIFY(std::abs(p->yAxis->coordToPixel(ticks[t]) - p->yAxis->coordToPixel(ticks[t - 1])) >= labelHeight);
      QVERIFY(inside(v, v->panel));
      QVERIFY(v->pnlNow->isVisible());
      // The lowest view of each column labels the time axis.
      const bool lowest = i + (type == 1 ? 2 : 1) >= views;
      if (lowest)
        QVERIFY(p->xAxis->tickLabels());
    }
  }

  void panelStaysInsideItsView_data() {
    QTest::addColumn<QString>("placement");
    QTest::newRow("drag") << "drag";
    QTest::newRow("linked drag from a maximised view") << "linked drag maximised";
    QTest::newRow("linked drag, then two columns") << "linked drag arrange";
    QTest::newRow("arrangement change") << "arrange";
    QTest::newRow("page shrinks") << "shrink";
    QTest::newRow("views rebuilt") << "rebuild";
    QTest::newRow("spacing read from Sys.ini") << "sys.ini";
    QTest::newRow("window grows with its unit") << "unit";
    QTest::newRow("window grows with a row shown again") << "row";
  }
  void panelStaysInsideItsView() {
    QFETCH(QString, placement);
    Board b(4, QSize(1600, 800));
    b.ctx.options.LinkMove = true;
    int copiedRight = -1;
    if (placement == "drag") {
      drag(b.v(0)->Label2, QPoint(-5000, 5000));
    } else if (placement == "linked drag maximised") {
      b.board->arrangeButton(1);
      b.v(0)->toggleMaximize();
      drag(b.v(0)->Label2, QPoint(-1200, 0));
      copiedRight = b.v(0)->PanelRightSpace();
    } else if (placement == "linked drag arrange") {
      drag(b.v(0)->Label2, QPoint(-1200, 0));
      copiedRight = b.v(0)->PanelRightSpace();
      b.board->arrangeButton(1);
    } else if (placement == "arrange") {
      for (int i = 0; i < 4; ++i)
        b.v(i)->setPanelRightSpace(1300);
      b.board->arrangeButton(1);
    } else if (placement == "shrink") {
      for (int i = 0; i < 4; ++i)
        b.v(i)->setPanelRightSpace(1300);
      b.channelPage->setFixedSize(500, 240);
    } else if (placement == "rebuild") {
      for (int i = 0; i < 4; ++i)
        b.v(i)->setPanelRightSpace(1300);
      b.ctx.options.ArrangeType = 1;
      b.board->BuildChannelViews(4);
    } else if (placement == "sys.ini") {
      for (int i = 1; i <= 4; ++i) {
        b.s().writeInteger(QString("Channel%1").arg(i), "PanelRightSpace", -400);
        b.s().writeInteger(QString("Channel%1").arg(i), "PanelTopSpace", 5000);
      }
      b.board->BuildChannelViews(4);
    } else if (placement == "unit") {
      b.board->arrangeButton(1);
      b.v(0)->setPanelRightSpace(0);
      b.board->channel(0)->setMeasureUnit("千克每立方米每秒");
    } else if (placement == "row") {
      b.v(0)->setShowMaxValue(false);
      drag(b.v(0)->Label3, QPoint(0, 5000));
      b.v(0)->setShowMaxValue(true);
    }
    for (int i = 0; i < 4; ++i)
      QVERIFY2(inside(b.v(i), b.v(i)->panel),
               qPrintable(QString("view %1 %2, window %3,%4").arg(i).arg(b.v(i)->width())
                              .arg(b.v(i)->panel->x()).arg(b.v(i)->panel->y())));
    // The stored spacing is what was given; only the placement is kept inside.
    if (copiedRight >= 0) {
      for (int i = 1; i <= 4; ++i)
        QCOMPARE(b.s().readInteger(QString("Channel%1").arg(i), "PanelRightSpace", -1), copiedRight);
    }
  }

  void zoomBoxEndsWhenViewsAreRebuilt() {
    Board b(2);
    PlotChart xy(kChannelChartTraces);
    b.board->setXYView(&xy, {});
    b.board->setZoomBox(true);
    QVERIFY(xy.zoomBoxMode() && b.board->compareChart()->zoomBoxMode() && b.v(0)->pltChannel->zoomBoxMode());
    const int released = b.zoomBoxReleased;
    b.board->BuildChannelViews(3);
    QCOMPARE(b.zoomBoxReleased, released + 1);
    QVERIFY(!xy.zoomBoxMode());
    QCOMPARE(xy.plot()->selectionRectMode(), QCP::srmNone);
    QVERIFY(!b.board->compareChart()->zoomBoxMode());
    for (int i = 0; i < 3; ++i)
      QVERIFY(!b.v(i)->pltChannel->zoomBoxMode());
  }

  void unitWidensTheWindow_data() {
    QTest::addColumn<QString>("unit");
    QTest::addColumn<int>("width");
    QTest::newRow("two Chinese characters") << "公斤" << 189;
    QTest::newRow("none") << "" << 145;
    QTest::newRow("kPa") << "kPa" << 178;
  }
  void unitWidensTheWindow() {
    QFETCH(QString, unit);
    QFETCH(int, width);
    Board b(1);
    b.board->channel(0)->setMeasureUnit(unit);
    // At least the width the byte count gives, wider where the drawn font needs it.
    QVERIFY(b.v(0)->panel->width() >= width);
    QVERIFY(b.v(0)->lblUnit->fontMetrics().horizontalAdvance(unit) <= b.v(0)->lblUnit->contentsRect().width());
    QCOMPARE(b.v(0)->lblUnit->text(), unit);
  }

  void focusHighlightsTheCaptions() {
    Board b(1);
    TfraChannel *v = b.v(0);
    emit v->pltChannel->focusEntered();
    QCOMPARE(b.board->ActivePlot(), v);
    QCOMPARE(v->lblMax->palette().color(QPalette::Window), QColor(255, 255, 255)); // default sky blue lightened
    emit v->pltChannel->focusLeft();
    QCOMPARE(v->lblMax->palette().color(QPalette::Window), ColorFromWin(15780518));
  }

  void cursorReadoutOnlyWithToolDownAndIdle() {
    Board b(2);
    b.ctx.options.LinkMove = true;
    for (int i = 0; i < 2; ++i) {
      b.board->channel(i)->SetSample(10.0 * (i + 1), 0);
      b.board->channel(i)->SetSample(10.0 * (i + 1), 3600000);
    }
    TfraChannel *v = b.v(0);
    v->lblCurrentValue->setText("x");
    b.v(1)->lblCurrentValue->setText("x");
    emit v->pltChannel->dataCursorMoved(0); // tool up: nothing
    QCOMPARE(v->lblCurrentValue->text(), QString("x"));
    b.cursorDown = true;
    v->setSampling(true);
    emit v->pltChannel->dataCursorMoved(0); // sampling: nothing
    QCOMPARE(v->lblCurrentValue->text(), QString("x"));
    v->setSampling(false);
    emit v->pltChannel->dataCursorMoved(0);
    QCOMPARE(v->lblCurrentValue->text(), QString("10.00"));
    QCOMPARE(b.v(1)->lblCurrentValue->text(), QString("20.00")); // linked
  }

  void compareFillCopiesTraceZero() {
    Board b(2);
    b.board->channel(0)->SetSample(1, 0);
    b.board->channel(1)->SetSample(2, 0);
    b.board->channel(1)->SetSample(3, 1000);
    b.board->FillCompareView();
    QCOMPARE(b.board->compareChart()->pointCount(0), 1);
    QCOMPARE(b.board->compareChart()->pointCount(1), 2);
    QCOMPARE(b.board->compareChart()->legendEntries(), (QStringList{"1", "2"}));
    QCOMPARE(b.tabs.currentIndex(), 2);
    b.board->clearAllData();
    QCOMPARE(b.board->compareChart()->pointCount(1), 0);
    QCOMPARE(b.v(1)->pltChannel->pointCount(0), 0);
  }

  // A new time unit moves every trace with points: the live one, an opened file's batches
  // (also when the live trace is empty) and the comparison's.
  void unitChangeRescalesEveryTrace_data() {
    QTest::addColumn<bool>("liveData");
    QTest::newRow("live and batch") << true;
    QTest::newRow("batch only") << false;
  }
  void unitChangeRescalesEveryTrace() {
    QFETCH(bool, liveData);
    Board b(2);
    if (liveData)
      b.board->channel(0)->SetSample(1, 3600000);
    PlotChart *p = b.v(0)->pltChannel;
    const double liveX = p->pointX(0, 0);
    p->addPoints(2, {60.0, 120.0}, {5.0, 6.0}, true); // an opened file, in minutes
    b.board->FillCompareView();
    PlotChart *c = b.board->compareChart();
    const int comparePoints = c->pointCount(0);
    b.board->rescaleTimeAxis(60); // minutes to seconds
    QCOMPARE(p->pointX(2, 1), 7200.0);
    QCOMPARE(p->pointY(2, 1), 6.0);
    QCOMPARE(c->pointCount(0), comparePoints);
    if (liveData) {
      QCOMPARE(p->pointX(0, 0), liveX * 60);
      QCOMPARE(c->pointX(0, 0), liveX * 60);
    }
  }

  // The live traces switch to stores over the recording file at the first batch: what they
  // show and read back is the file's own samples, exact, and a later recording of the same
  // name leaves them intact.
  void liveTracesDrawFromTheRecordingFile_data() {
    QTest::addColumn<bool>("fileThere");
    QTest::newRow("file") << true;
    QTest::newRow("no file: kept in memory") << false;
  }
  void liveTracesDrawFromTheRecordingFile() {
    QFETCH(bool, fileThere);
    Board b(3);
    const QString path = b.dir.filePath(QStringLiteral("live.zvdat"));
    const QList<ChannelInfo> infos(3);
    DataFileWriter writer;
    if (fileThere)
      QVERIFY(writer.open(path) && writer.writeHead(infos));
    LiveRecordFeed feed{path, 3};
    std::vector<SampleBatch> batches;
    std::vector<TSampleRecord> all;
    for (int k = 0; k < 4; ++k) {
      SampleBatch batch;
      for (int i = 0; i < 700; ++i) {
        const qint64 n = k * 700 + i;
        // Channel 1 twice as often; a record of a channel without a view goes to the file only.
        const int ch = n % 7 == 6 ? 9 : static_cast<int>(n % 4 == 3 ? 1 : n % 4);
        batch.push_back({ch, std::sin(double(n)) * 1e3 + 1.0 / 3.0, double(n) * 1.25 + 0.001});
      }
      if (fileThere)
        QVERIFY(writer.append(std::span<const TSampleRecord>(batch.constData(), size_t(batch.size()))));
      feed.apply(*b.board, batch, b.ctx.options.TimeWindowUnit);
      all.insert(all.end(), batch.begin(), batch.end());
    }
    const double msPerUnit = UnitToMillisecondsF(b.ctx.options.TimeWindowUnit);
    std::vector<std::shared_ptr<SampleStore>> stores;
    for (int c = 0; c < 3; ++c) {
      PlotChart *p = b.v(c)->pltChannel;
      QCOMPARE(p->traceStore(0)->fileBacked(), fileThere);
      int j = 0;
      for (const TSampleRecord &r : all) {
        if (r.Channel != c)
          continue;
        const double value = r.Value; // packed: copied out before a reference binds to it
        const double time = r.Time;
        QCOMPARE(p->pointY(0, j), value);
        QVERIFY(std::abs(p->pointX(0, j) - time / msPerUnit) <= 1e-12 * std::abs(time / msPerUnit));
        if (fileThere)
          QCOMPARE(p->traceStore(0)->x(j), time); // the file's time, not a converted one
        ++j;
      }
      QCOMPARE(p->pointCount(0), j);
      QVERIFY(j > SampleStore::kBlock * 2); // whole blocks, read back from the file
      stores.push_back(p->traceStore(0));
    }
    if (!fileThere)
      return;
    QVERIFY(writer.close());
    // Stores over the file that have read nothing yet, as a chart zoomed in later would.
    std::vector<std::shared_ptr<SampleStore>> unread;
    for (int c = 0; c < 3; ++c) {
      unread.push_back(SampleStore::openFile(path, 3, c));
      QVERIFY(unread.back());
      for (size_t i = 0; i < all.size(); ++i)
        if (all[i].Channel == c)
          unread.back()->append(all[i].Time, all[i].Value, qint64(i));
    }
    // The next recording creates the file anew; the stores still read the first one.
    DataFileWriter next;
    QVERIFY(next.open(path) && next.writeHead(infos));
    const std::vector<TSampleRecord> other(3000, TSampleRecord{0, -7.0, 1.0});
    QVERIFY(next.append(other));
    QVERIFY(next.close());
    for (int c = 0; c < 3; ++c) {
      qint64 j = 0;
      for (const TSampleRecord &r : all)
        if (r.Channel == c) {
          const double value = r.Value;
          const double time = r.Time;
          QCOMPARE(unread[size_t(c)]->x(j), time);
          QCOMPARE(unread[size_t(c)]->y(j++), value);
        }
    }
  }
};

QTEST_MAIN(TestChannelViews)
#include "tst_channelviews.moc"
