#include "app/AppContext.h"
#include "views/DotMatrixDisplay.h"
#include "views/PlotChart.h"
#include "views/TfraXYChannel.h"

#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QtTest>

namespace {
using Sample = QPair<int, double>; // channel, value
using Samples = QList<Sample>;
using Points = QList<QPointF>;

struct Fixture {
  QTemporaryDir dir;
  AppContext ctx{ProgramPaths::resolve(dir.path())};
  QWidget page;
  std::unique_ptr<TfraXYChannel> view;

  explicit Fixture(int meters = 2) {
    ctx.settings = std::make_unique<ProfileStore>(ctx.paths.settingsFile);
    ctx.options.load(*ctx.settings, ctx.paths.dataFolder);
    ctx.meters.MeterAmount = meters;
    for (auto &m : ctx.meters.Meters)
      m.MeterAlive = true;
    page.resize(640, 480);
    view = std::make_unique<TfraXYChannel>(ctx, &page);
    view->SetupXYView();
  }
  ProfileStore &s() { return *ctx.settings; }
  PlotChart &chart() { return *view->pltXY; }
  Points points(int trace) {
    Points p;
    for (int j = 0; j < chart().pointCount(trace); ++j)
      p << QPointF(chart().pointX(trace, j), chart().pointY(trace, j));
    return p;
  }
  void show() {
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
  }
};

void sendMouse(QWidget *w, QEvent::Type type, QPoint globalPos, Qt::MouseButton button, Qt::MouseButtons buttons) {
  QMouseEvent e(type, QPointF(w->mapFromGlobal(globalPos)), QPointF(globalPos), button, buttons, Qt::NoModifier);
  QCoreApplication::sendEvent(w, &e);
}

QAction *actionNamed(QMenu *menu, const QString &text) {
  for (QAction *a : menu->actions()) {
    if (a->text() == text)
      return a;
    if (a->menu())
      if (QAction *inner = actionNamed(a->menu(), text))
        return inner;
  }
  return nullptr;
}
} // namespace

class TestXYView : public QObject {
  Q_OBJECT

private slots:
  void pointsFromTheSampleStream_data() {
    QTest::addColumn<int>("xChannel");
    QTest::addColumn<int>("yChannel");
    QTest::addColumn<Samples>("samples");
    QTest::addColumn<Points>("expected");
    QTest::newRow("no point before Y's first reading")
        << 0 << 1 << Samples{{0, 1}, {0, 2}, {1, 10}, {0, 3}, {1, 20}, {0, 4}}
        << Points{{3, 10}, {4, 20}};
    QTest::newRow("Y readings alone add nothing") << 0 << 1 << Samples{{1, 5}, {1, 6}, {1, 7}} << Points{};
    QTest::newRow("each X reading pairs with the Y before it")
        << 0 << 1 << Samples{{1, 5}, {0, 1}, {0, 2}, {1, 6}, {1, 7}, {0, 3}}
        << Points{{1, 5}, {2, 5}, {3, 7}};
    QTest::newRow("back along X in arrival order")
        << 0 << 1 << Samples{{1, 5}, {0, 3}, {0, 1}, {0, 2}, {0, -4}}
        << Points{{3, 5}, {1, 5}, {2, 5}, {-4, 5}};
    QTest::newRow("same channel lies on the diagonal")
        << 1 << 1 << Samples{{1, 2.5}, {0, 9}, {1, -1}} << Points{{2.5, 2.5}, {-1, -1}};
    QTest::newRow("reversed channels") << 1 << 0 << Samples{{1, 4}, {0, 8}, {1, 5}} << Points{{5, 8}};
    QTest::newRow("other channels change nothing")
        << 0 << 1 << Samples{{1, 1}, {2, 99}, {0, 2}, {5, 7}} << Points{{2, 1}};
    QTest::newRow("a Y reading of the no-value mark counts as none")
        << 0 << 1 << Samples{{1, kNoValue}, {0, 1}, {1, 3}, {0, 2}} << Points{{2, 3}};
    QTest::newRow("the X value is used without that test")
        << 0 << 1 << Samples{{1, 3}, {0, kNoValue}} << Points{{kNoValue, 3}};
  }
  void pointsFromTheSampleStream() {
    QFETCH(int, xChannel);
    QFETCH(int, yChannel);
    QFETCH(Samples, samples);
    QFETCH(Points, expected);
    Fixture f(3);
    f.ctx.options.XChannelNo = xChannel;
    f.ctx.options.YChannelNo = yChannel;
    f.view->SetupXYView();
    QVERIFY(f.view->startAcquisition());
    for (const Sample &s : samples)
      f.view->sampleShown(s.first, s.second);
    QCOMPARE(f.points(0), expected);
    for (int t = 1; t < 5; ++t)
      QCOMPARE(f.chart().pointCount(t), 0);
  }

  void activationAtStart_data() {
    QTest::addColumn<bool>("show");
    QTest::addColumn<int>("xChannel");
    QTest::addColumn<int>("yChannel");
    QTest::addColumn<int>("meters");
    QTest::addColumn<bool>("fed");
    QTest::newRow("both channels have meters") << true << 0 << 1 << 2 << true;
    QTest::newRow("page switched off") << false << 0 << 1 << 2 << false;
    QTest::newRow("Y without meter") << true << 0 << 2 << 2 << false;
    QTest::newRow("X without meter") << true << 3 << 0 << 3 << false;
    QTest::newRow("negative index") << true << -1 << 0 << 2 << false;
    QTest::newRow("no meters") << true << 0 << 0 << 0 << false;
  }
  void activationAtStart() {
    QFETCH(bool, show);
    QFETCH(int, xChannel);
    QFETCH(int, yChannel);
    QFETCH(int, meters);
    QFETCH(bool, fed);
    Fixture f(meters);
    f.chart().addPoint(0, 1, 1); // left over from an earlier recording
    f.view->iLCDCurrentValueX->setText(QStringLiteral("1"));
    f.ctx.options.XYChannelShow = show;
    f.ctx.options.XChannelNo = xChannel;
    f.ctx.options.YChannelNo = yChannel;
    f.view->SetupXYView();
    QCOMPARE(f.view->startAcquisition(), fed);
    QCOMPARE(f.view->fed(), fed);
    QCOMPARE(f.chart().pointCount(0), fed ? 0 : 1);
    QCOMPARE(f.chart().traceInLegend(0), fed);
    QCOMPARE(f.view->iLCDCurrentValueX->text().isEmpty(), fed);
    f.view->sampleShown(yChannel, 5);
    f.view->sampleShown(xChannel, 6);
    // Fed: the new point alone; not fed: only the old point is there.
    QCOMPARE(f.points(0), (fed ? Points{{6, 5}} : Points{{1, 1}}));
  }

  void startForgetsEarlierReadings() {
    Fixture f;
    QVERIFY(f.view->startAcquisition());
    f.view->sampleShown(1, 5);
    f.view->sampleShown(0, 1);
    QVERIFY(f.view->startAcquisition());
    f.view->sampleShown(0, 2);
    QCOMPARE(f.chart().pointCount(0), 0);
  }

  void displaysFollowTheChannels_data() {
    QTest::addColumn<bool>("xAlive");
    QTest::addColumn<bool>("yAlive");
    QTest::addColumn<Samples>("samples");
    QTest::addColumn<QString>("xText");
    QTest::addColumn<QString>("yText");
    QTest::newRow("both answering") << true << true << Samples{{1, 2}, {0, 1.5}} << "   1.50" << "   2.00";
    QTest::newRow("Y without reading yet") << true << true << Samples{{0, 12345.678}} << "12345.68" << "";
    QTest::newRow("X timed out") << false << true << Samples{{1, 2}, {0, 1.5}} << "" << "   2.00";
    QTest::newRow("Y reading after X shows at the next X")
        << true << true << Samples{{0, 1}, {1, 7}} << "   1.00" << "";
  }
  void displaysFollowTheChannels() {
    QFETCH(bool, xAlive);
    QFETCH(bool, yAlive);
    QFETCH(Samples, samples);
    QFETCH(QString, xText);
    QFETCH(QString, yText);
    Fixture f;
    f.ctx.meters.Meters[0].MeterAlive = xAlive;
    f.ctx.meters.Meters[1].MeterAlive = yAlive;
    QVERIFY(f.view->startAcquisition());
    for (const Sample &s : samples)
      f.view->sampleShown(s.first, s.second);
    QCOMPARE(f.view->iLCDCurrentValueX->text(), xText);
    QCOMPARE(f.view->iLCDCurrentValueY->text(), yText);
  }

  void newChoiceTakesEffectAtOnce() {
    Fixture f(3);
    QVERIFY(f.view->startAcquisition());
    f.view->sampleShown(1, 10);
    f.view->sampleShown(2, 20);
    f.view->sampleShown(0, 1);
    f.ctx.options.XChannelNo = 2;
    f.ctx.options.YChannelNo = 0;
    f.view->SetupXYView();
    f.view->sampleShown(0, 2); // no longer the X channel
    f.view->sampleShown(2, 21);
    QCOMPARE(f.points(0), (Points{{1, 10}, {21, 2}}));
  }

  void setUpFromTheChannelSettings_data() {
    QTest::addColumn<QStringList>("x"); // Title, MeasureUnit, RangeMin, RangeMax; "-" = not written
    QTest::addColumn<QStringList>("y");
    QTest::addColumn<QString>("xTitle");
    QTest::addColumn<QString>("yTitle");
    QTest::addColumn<QList<double>>("xAxis"); // min, span, increment
    QTest::addColumn<QList<double>>("yAxis");
    QTest::addColumn<int>("panelWidth");
    QTest::newRow("nothing written")
        << QStringList{"-", "-", "-", "-"} << QStringList{"-", "-", "-", "-"} << "()" << "()"
        << QList<double>{0, 50, 2.5} << QList<double>{0, 50, 5} << 145;
    QTest::newRow("titles and units")
        << QStringList{"位移", "mm", "-10", "30"} << QStringList{"压力", "千牛", "0", "200"}
        << "位移(mm)" << "压力(千牛)" << QList<double>{-10, 40, 2} << QList<double>{0, 200, 20} << 189;
    QTest::newRow("max below min") << QStringList{"A", "", "80", "20"} << QStringList{"B", "", "5", "-5"}
                                   << "A()" << "B()" << QList<double>{20, 60, 3} << QList<double>{-5, 10, 1}
                                   << 145;
    QTest::newRow("unit on one side only")
        << QStringList{"-", "kN", "-", "-"} << QStringList{"-", "-", "-", "-"} << "(kN)" << "()"
        << QList<double>{0, 50, 2.5} << QList<double>{0, 50, 5} << 167;
  }
  void setUpFromTheChannelSettings() {
    QFETCH(QStringList, x);
    QFETCH(QStringList, y);
    QFETCH(QString, xTitle);
    QFETCH(QString, yTitle);
    QFETCH(QList<double>, xAxis);
    QFETCH(QList<double>, yAxis);
    QFETCH(int, panelWidth);
    Fixture f(4);
    f.ctx.options.XChannelNo = 2;
    f.ctx.options.YChannelNo = 3;
    const QStringList keys{"Title", "MeasureUnit", "RangeMin", "RangeMax"};
    for (auto [channel, values] : {std::pair{2, x}, std::pair{3, y}})
      for (int k = 0; k < keys.size(); ++k)
        if (values[k] != "-")
          f.s().writeString(Sections::channel(channel), keys[k], values[k]);
    f.view->SetupXYView();
    QCOMPARE(f.chart().axisTitle(ChartAxis::X), xTitle);
    QCOMPARE(f.chart().axisTitle(ChartAxis::Y), yTitle);
    for (auto [axis, want] : {std::pair{ChartAxis::X, xAxis}, std::pair{ChartAxis::Y, yAxis}}) {
      QCOMPARE(f.chart().axisMin(axis), want[0]);
      QCOMPARE(f.chart().axisSpan(axis), want[1]);
      QCOMPARE(f.chart().desiredStart(axis), want[0]);
      QCOMPARE(f.chart().desiredIncrement(axis), want[2]);
    }
    QCOMPARE(f.view->lblUnitX->text(), x[1] == "-" ? QString() : x[1]);
    QCOMPARE(f.view->lblUnitY->text(), y[1] == "-" ? QString() : y[1]);
    QCOMPARE(f.view->panel->width(), panelWidth);
    QCOMPARE(f.view->xChannel(), 2);
    QCOMPARE(f.view->yChannel(), 3);
  }

  void setUpAppliesDisplayOptions_data() {
    QTest::addColumn<bool>("showX");
    QTest::addColumn<bool>("showY");
    QTest::addColumn<bool>("traces");
    QTest::addColumn<bool>("markers");
    QTest::newRow("all shown") << true << true << true << false;
    QTest::newRow("X row hidden, markers only") << false << true << false << true;
    QTest::newRow("Y row hidden") << true << false << true << true;
    QTest::newRow("both hidden") << false << false << false << false;
  }
  void setUpAppliesDisplayOptions() {
    QFETCH(bool, showX);
    QFETCH(bool, showY);
    QFETCH(bool, traces);
    QFETCH(bool, markers);
    Fixture f;
    f.show();
    f.s().writeBool(Sections::ChannelXY, QStringLiteral("xShowNowValueX"), showX);
    f.s().writeBool(Sections::ChannelXY, QStringLiteral("xShowNowValueY"), showY);
    f.ctx.options.TraceVisible = traces;
    f.ctx.options.MarkersVisible = markers;
    f.ctx.options.CurveBkColor = 0x123456;
    f.view->SetupXYView();
    QCOMPARE(f.view->pnlNowX->isVisible(), showX);
    QCOMPARE(f.view->pnlNowY->isVisible(), showY);
    QCOMPARE(f.view->panel->height(), 4 + 32 * (int(showX) + int(showY)));
    for (int t = 0; t < 5; ++t) {
      QCOMPARE(f.chart().traceVisible(t), traces);
      QCOMPARE(f.chart().markersVisible(t), markers);
    }
    QCOMPARE(f.chart().backgroundColor(), QColor(0x56, 0x34, 0x12));
  }

  void chartAndWindowLiveOnThePage() {
    Fixture f;
    f.show();
    QCOMPARE(f.chart().parentWidget(), &f.page);
    QCOMPARE(f.view->panel->parentWidget(), &f.page);
    QVERIFY(!f.view->isVisible());
    QCOMPARE(f.view->panel->pos(), QPoint(48, 112));
    QCOMPARE(f.chart().traceKind(), TraceKind::Curve);
    QCOMPARE(f.chart().legendTitle(), QString("批次"));
    f.page.resize(500, 300);
    QTRY_COMPARE(f.chart().size(), QSize(500, 300));
  }

  void windowDragClampsAndPersists_data() {
    QTest::addColumn<QPoint>("target"); // wanted top-left on the page
    QTest::addColumn<QPoint>("expected");
    // Page 640 x 480, window 145 x 68.
    QTest::newRow("inside") << QPoint(200, 150) << QPoint(200, 150);
    QTest::newRow("past the left edge") << QPoint(-40, 150) << QPoint(3, 150);
    QTest::newRow("near the top edge") << QPoint(200, 4) << QPoint(200, 3);
    QTest::newRow("past the right edge") << QPoint(600, 150) << QPoint(640 - 145 - 3, 150);
    QTest::newRow("past the bottom edge") << QPoint(200, 470) << QPoint(200, 480 - 68 - 3);
    QTest::newRow("5 px from the right stays") << QPoint(640 - 145 - 5, 5) << QPoint(640 - 145 - 5, 5);
    QTest::newRow("past a corner") << QPoint(900, -90) << QPoint(640 - 145 - 3, 3);
  }
  void windowDragClampsAndPersists() {
    QFETCH(QPoint, target);
    QFETCH(QPoint, expected);
    Fixture f;
    f.show();
    QTRY_COMPARE(f.chart().size(), QSize(640, 480));
    QCOMPARE(f.view->panel->size(), QSize(145, 68));
    QWidget *grip = f.view->iLCDCurrentValueY; // any part of the window drags it
    const QPoint start = grip->mapToGlobal(QPoint(5, 5));
    const QPoint offset = grip->mapTo(&f.page, QPoint(5, 5)) - f.view->panel->pos();
    const QPoint end = f.page.mapToGlobal(target + offset);
    sendMouse(grip, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    sendMouse(grip, QEvent::MouseMove, (start + end) / 2, Qt::NoButton, Qt::LeftButton);
    sendMouse(grip, QEvent::MouseMove, end, Qt::NoButton, Qt::LeftButton);
    sendMouse(grip, QEvent::MouseButtonRelease, end, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(f.view->panel->pos(), expected);
    const int right = 640 - expected.x() - 145;
    QCOMPARE(f.view->PanelTopSpace(), expected.y());
    QCOMPARE(f.view->PanelRightSpace(), right);
    QCOMPARE(f.s().readInteger(Sections::ChannelXY, QStringLiteral("PanelTopSpace"), -1), expected.y());
    QCOMPARE(f.s().readInteger(Sections::ChannelXY, QStringLiteral("PanelRightSpace"), -1), right);
    // A placed window keeps its distance from the right edge when the page grows.
    f.page.resize(740, 480);
    QTRY_COMPARE(f.view->panel->pos(), QPoint(740 - 145 - right, expected.y()));
  }

  void spacingWrittenOnlyWhenChanged() {
    Fixture f;
    f.show();
    f.view->setPanelTopSpace(20);
    f.s().writeInteger(Sections::ChannelXY, QStringLiteral("PanelTopSpace"), 999);
    f.view->setPanelTopSpace(20);
    QCOMPARE(f.s().readInteger(Sections::ChannelXY, QStringLiteral("PanelTopSpace"), -1), 999);
    f.view->setPanelTopSpace(21);
    QCOMPARE(f.s().readInteger(Sections::ChannelXY, QStringLiteral("PanelTopSpace"), -1), 21);
    QCOMPARE(f.view->panel->y(), 21);
  }

  void replayGoesToTheBatchTrace_data() {
    QTest::addColumn<int>("batch");
    QTest::addColumn<int>("fileChannels");
    QTest::addColumn<bool>("fed");
    QTest::newRow("batch 1 into trace 0") << 0 << 2 << true;
    QTest::newRow("batch 3 into trace 2") << 2 << 3 << true;
    QTest::newRow("batch 5 into trace 4") << 4 << 2 << true;
    QTest::newRow("file without the Y channel") << 1 << 1 << false;
  }
  void replayGoesToTheBatchTrace() {
    QFETCH(int, batch);
    QFETCH(int, fileChannels);
    QFETCH(bool, fed);
    Fixture f(0); // no meters needed to open a file
    for (int t = 0; t < 5; ++t)
      f.chart().addPoint(t, 100, 100);
    f.view->iLCDCurrentValueX->setText(QStringLiteral("7"));
    QCOMPARE(f.view->beginReplay(batch, fileChannels), fed);
    QCOMPARE(f.view->BatchIndex(), batch);
    for (const Sample &s : Samples{{0, 1}, {1, 2}, {0, 3}, {1, 4}, {0, 5}})
      f.view->replaySample(s.first, s.second);
    for (int t = 0; t < 5; ++t) {
      if (fed && t == batch)
        QCOMPARE(f.points(t), (Points{{3, 2}, {5, 4}}));
      else
        QCOMPARE(f.points(t), (Points{{100, 100}}));
    }
    QCOMPARE(f.chart().traceInLegend(batch), fed);
    QCOMPARE(f.view->iLCDCurrentValueX->text(), fed ? QString() : QString("7"));
  }

  void liveDataAfterAReplayGoesToTraceZero() {
    Fixture f;
    QVERIFY(f.view->beginReplay(3, 2));
    QVERIFY(f.view->startAcquisition());
    QCOMPARE(f.view->BatchIndex(), 0);
    f.view->sampleShown(1, 1);
    f.view->sampleShown(0, 2);
    QCOMPARE(f.chart().pointCount(0), 1);
    QCOMPARE(f.chart().pointCount(3), 0);
  }

  void clearEmptiesEveryTraceWhileFed_data() {
    QTest::addColumn<bool>("fed");
    QTest::newRow("fed") << true;
    QTest::newRow("not fed") << false;
  }
  void clearEmptiesEveryTraceWhileFed() {
    QFETCH(bool, fed);
    Fixture f(fed ? 2 : 1);
    f.view->startAcquisition();
    for (int t = 0; t < 5; ++t) {
      f.chart().addPoint(t, 1, 1);
      f.chart().setTraceInLegend(t, true);
    }
    f.view->iLCDCurrentValueY->setText(QStringLiteral("1"));
    f.view->clearChannelData();
    for (int t = 0; t < 5; ++t) {
      QCOMPARE(f.chart().pointCount(t), fed ? 0 : 1);
      QCOMPARE(f.chart().traceInLegend(t), !fed);
    }
    QCOMPARE(f.view->iLCDCurrentValueY->text().isEmpty(), fed);
  }

  void menusReachTheMainWindow_data() {
    QTest::addColumn<bool>("windowMenu");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("expected");
    QTest::newRow("chart properties") << false << "属性(&R)" << "properties 0";
    QTest::newRow("window properties") << true << "属性(&D)" << "properties 1";
    QTest::newRow("clear") << false << "清除通道数据(&C)" << "clear";
    QTest::newRow("export this chart") << false << "只导出本绘图区数据(&S)" << "export XY测试";
    QTest::newRow("export as CSV") << false << "导出CSV文件" << "export XY测试 csv";
    QTest::newRow("export as xlsx") << false << "导出Excel 2007文件(.xlsx)" << "export XY测试 xlsx";
  }
  void menusReachTheMainWindow() {
    QFETCH(bool, windowMenu);
    QFETCH(QString, item);
    QFETCH(QString, expected);
    Fixture f;
    QAction *a = actionNamed(windowMenu ? f.view->PopupMenu2 : f.view->PopupMenu1, item);
    QVERIFY(a);
    a->trigger(); // no hooks yet: nothing happens, nothing breaks
    QStringList calls;
    TfraXYChannel::Hooks h;
    h.openProperties = [&](int page) { calls << QStringLiteral("properties %1").arg(page); };
    h.clearChannelData = [&] { calls << QStringLiteral("clear"); };
    h.exportChart = [&](PlotChart *c, const QString &name, exportlayout::ExportFormat format) {
      calls << QStringLiteral("export ") + name + (format == exportlayout::ExportFormat::Xls    ? QString()
                                                   : format == exportlayout::ExportFormat::Csv ? QStringLiteral(" csv")
                                                                                               : QStringLiteral(" xlsx"));
      QCOMPARE(c, f.view->chart());
    };
    f.view->setHooks(h);
    f.chart().setTitle(QStringLiteral("XY测试"));
    a->trigger();
    QCOMPARE(calls, QStringList{expected});
  }

  void batchIndexIsATrace_data() {
    QTest::addColumn<int>("given");
    QTest::addColumn<int>("kept");
    QTest::newRow("0") << 0 << 0;
    QTest::newRow("4") << 4 << 4;
    QTest::newRow("below") << -1 << 0;
    QTest::newRow("above") << 5 << 4;
  }
  void batchIndexIsATrace() {
    QFETCH(int, given);
    QFETCH(int, kept);
    Fixture f;
    QVERIFY(f.view->startAcquisition());
    f.view->setBatchIndex(given);
    QCOMPARE(f.view->BatchIndex(), kept);
    f.view->sampleShown(1, 1);
    f.view->sampleShown(0, 2);
    for (int t = 0; t < 5; ++t)
      QCOMPARE(f.chart().pointCount(t), t == kept ? 1 : 0);
  }
};

QTEST_MAIN(TestXYView)
#include "tst_xyview.moc"
