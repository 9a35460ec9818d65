// The "搜索仪表" command with its meter information window, against simulated meters.
#include "app/AppContext.h"
#include "comm/SearchCommand.h"
#include "comm/SerialLink.h"
#include "comm/TfrmConfigure.h"
#include "comm/TfrmConfigureShowUnit.h"

#include "e2e/MeterSim.h"
#include "common/ModalResponder.h"

#include <QApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

QStringList noDevices() { return {}; }

struct WindowState {
  bool visible = false;
  bool modal = false;
  QString caption;
  bool closeVisible = false;
  bool barVisible = false;
  QList<QStringList> rows; // grid rows 1.. that are filled, columns 1 to 4
};

WindowState stateOf(const TfrmConfigureShowUnit &w, bool modal) {
  WindowState s;
  s.visible = w.isVisible();
  s.modal = modal;
  s.caption = w.windowTitle();
  s.closeVisible = w.btnClose->isVisible();
  s.barVisible = w.iLedBar1->isVisible();
  for (int r = 1; r <= kMeterSlots; ++r) {
    QStringList cells;
    for (int c = 1; c <= 4; ++c)
      cells << w.frmConfigure1->cellText(r, c);
    if (!cells.first().isEmpty())
      s.rows << cells;
  }
  return s;
}

// Records the information window when it comes up modally, then closes it with its button.
class InfoWindowCloser : public QObject {
public:
  explicit InfoWindowCloser(TfrmConfigureShowUnit &w) : m_w(w) {
    m_timer.setInterval(5);
    connect(&m_timer, &QTimer::timeout, this, [this] {
      if (QApplication::activeModalWidget() != &m_w || m_w.btnClose->isHidden())
        return;
      shown << stateOf(m_w, true);
      m_w.btnClose->click();
    });
    m_timer.start();
  }
  QList<WindowState> shown;

private:
  TfrmConfigureShowUnit &m_w;
  QTimer m_timer;
};

} // namespace

class TestSearchCommand : public QObject {
  Q_OBJECT
private slots:
  void init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    ProgramPaths paths;
    paths.programDir = m_dir->path() + '/';
    paths.writableDir = paths.programDir;
    paths.settingsFile = m_dir->filePath(QStringLiteral("Sys.ini"));
    paths.dataFolder = m_dir->filePath(QStringLiteral("TestData"));
    m_ctx = std::make_unique<AppContext>(paths);
    m_ctx->settings = std::make_unique<ProfileStore>(paths.settingsFile);
    m_window = std::make_unique<TfrmConfigureShowUnit>();
    m_window->frmConfigure1->prepareGrid();
    m_status.clear();
    m_views.clear();
    m_firstTab = 0;
    m_command = std::make_unique<SearchCommand>(
        *m_ctx, *m_window,
        SearchCommand::Hooks{[this](const QString &t) { m_status << t; },
                             [this](int n) { m_views << n; }, [this] { ++m_firstTab; }});
    m_command->setDeviceLister(noDevices);
    m_sim = std::make_unique<MeterSim>();
  }

  void cleanup() {
    m_sim.reset();
    m_command.reset();
    m_window.reset();
    m_ctx.reset();
    m_dir.reset();
  }

  // While searching the window is up without its close button; afterwards it lists the meters
  // modally under its own caption.
  void windowDuringAndAfter() {
    QVERIFY(m_sim->start({"--port", "COM1", "--meter", "active,addr=12,interval=50", "--port", "COM2",
                          "--meter", "query,addr=1", "--meter", "query,addr=3"},
                         iniPath(), logPath()));
    m_ctx->options.SysMaxMeterNo = 3;
    // Stale rows of an earlier search must be cleared.
    MeterTable stale;
    makeStale(stale);
    m_window->frmConfigure1->fillGrid(stale);

    QList<WindowState> during;
    QStringList statusDuring;
    bool runningDuring = false;
    SearchReport nested{SearchOutcome::Completed};
    connect(m_window->iLedBar1, &QProgressBar::valueChanged, this, [&](int v) {
      if (v != 10)
        return;
      during << stateOf(*m_window, m_window->isModal());
      statusDuring = m_status;
      runningDuring = m_command->running();
      nested = m_command->execute();
    });
    ModalResponder boxes;
    InfoWindowCloser closer(*m_window);
    QSignalSpy finished(m_command.get(), &SearchCommand::finished);

    const SearchReport report = m_command->execute();
    QCOMPARE(report.outcome, SearchOutcome::Completed);
    QCOMPARE(nested.outcome, SearchOutcome::AlreadyRunning);
    QVERIFY(runningDuring);
    QVERIFY(!m_command->running());
    QCOMPARE(finished.size(), 1);
    QVERIFY(boxes.seen.empty());

    QCOMPARE(during.size(), 1);
    QVERIFY(during[0].visible);
    QVERIFY(!during[0].modal);
    QCOMPARE(during[0].caption, QStringLiteral("仪表搜索中，请等待..."));
    QVERIFY(!during[0].closeVisible);
    QVERIFY(during[0].barVisible);
    QVERIFY(during[0].rows.isEmpty());
    QCOMPARE(statusDuring, QStringList{"仪表搜索中，请等待..."});

    QCOMPARE(closer.shown.size(), 1);
    const WindowState &after = closer.shown[0];
    QCOMPARE(after.caption, QStringLiteral("仪表信息"));
    QVERIFY(after.closeVisible);
    QVERIFY(!after.barVisible);
    const QList<QStringList> rows{{"12", "com1", "主动", "有效"},
                                  {"1", "com2", "查询", "有效"},
                                  {"3", "com2", "查询", "有效"}};
    QCOMPARE(after.rows, rows);
    QCOMPARE(m_status, (QStringList{"仪表搜索中，请等待...", "仪表搜索完毕"}));
    QCOMPARE(m_views, (QList<int>{3}));
    QCOMPARE(m_firstTab, 1);
    QVERIFY(!m_window->isVisible());

    MeterTable saved;
    saved.load(*m_ctx->settings);
    QCOMPARE(saved.MeterAmount, 3);
    QCOMPARE(saved.MeterComCount, 2);
  }

  // The messages that end a search without meters, and what is saved then.
  void searchWithoutMeters_data() {
    QTest::addColumn<bool>("withSim");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("outcome");
    QTest::newRow("no serial port") << false << "错误"
                                    << "在本计算机中未搜索到有效串口，请检查计算机设备管理器！"
                                    << int(SearchOutcome::NoPorts);
    QTest::newRow("no meter answers") << true << "提示" << "未搜索到仪表！"
                                      << int(SearchOutcome::Completed);
  }

  void searchWithoutMeters() {
    QFETCH(bool, withSim);
    QFETCH(QString, caption);
    QFETCH(QString, text);
    QFETCH(int, outcome);
    if (withSim)
      QVERIFY(m_sim->start({"--port", "COM2", "--meter", "query,addr=50"}, iniPath(), logPath()));
    m_ctx->options.SysMaxMeterNo = 2;
    makeStale(m_ctx->meters);
    QVERIFY(m_ctx->meters.save(*m_ctx->settings));

    ModalResponder boxes;
    InfoWindowCloser closer(*m_window);
    const SearchReport report = m_command->execute();
    QCOMPARE(int(report.outcome), outcome);
    QCOMPARE(boxes.seen.size(), size_t(1));
    QCOMPARE(boxes.seen[0].caption, caption);
    QCOMPARE(boxes.seen[0].text, text);
    QCOMPARE(boxes.seen[0].icon, QMessageBox::Critical);
    QVERIFY(m_views.isEmpty());
    QCOMPARE(closer.shown.size(), 1);
    QVERIFY(closer.shown[0].rows.isEmpty());
    QCOMPARE(m_status.last(), QStringLiteral("仪表搜索完毕"));

    MeterTable saved;
    saved.load(*m_ctx->settings);
    QCOMPARE(saved.MeterAmount, 0);
    for (int i = 0; i < kMeterSlots; ++i)
      QVERIFY(!saved.Meters[size_t(i)].MeterValid);
    for (int i = 0; i < kPortEntries; ++i)
      QCOMPARE(saved.MeterComPortState[size_t(i)], -1);
    QCOMPARE(saved.MeterComCount, 1);
    QCOMPARE(saved.MeterComPort[0], 9);
  }

  // The busy-port box, answered Abort or Ignore.
  void busyPortBox_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<int>("outcome");
    QTest::newRow("abort") << int(QMessageBox::Abort) << QStringList{"COM1被其他程序占用！"}
                           << int(SearchOutcome::Aborted);
    QTest::newRow("ignore") << int(QMessageBox::Ignore)
                            << QStringList{"COM1被其他程序占用！", "未搜索到仪表！"}
                            << int(SearchOutcome::Completed);
  }

  void busyPortBox() {
    QFETCH(int, answer);
    QFETCH(QStringList, texts);
    QFETCH(int, outcome);
    QVERIFY(m_sim->start({"--port", "COM1", "--meter", "query,addr=1"}, iniPath(), logPath()));
    m_ctx->options.SysMaxMeterNo = 2;
    PortRegistry registry(*m_ctx->settings, noDevices);
    SerialLink holder(registry);
    QCOMPARE(holder.open(1, kDefaultBaudCode), SerialLinkError::None);

    ModalResponder boxes({QMessageBox::StandardButton(answer)});
    InfoWindowCloser closer(*m_window);
    const SearchReport report = m_command->execute();
    QCOMPARE(int(report.outcome), outcome);
    QStringList seen;
    for (const auto &b : boxes.seen)
      seen << b.text;
    QCOMPARE(seen, texts);
    QCOMPARE(boxes.seen[0].caption, QStringLiteral("错误"));
    QCOMPARE(boxes.seen[0].icon, QMessageBox::Critical);
    QCOMPARE(closer.shown.size(), 1);
    QCOMPARE(m_sim->requestsOn("COM1"), 0);
  }

  // More meters than slots: ten are kept, the search ends at the eleventh, the operator is told.
  void meterLimitMessage() {
    QStringList args{"--port", "COM3"};
    for (int a = 0; a <= 11; ++a)
      args << "--meter" << QStringLiteral("query,addr=%1").arg(a);
    QVERIFY(m_sim->start(args, iniPath(), logPath()));
    m_ctx->options.SysMaxMeterNo = 20;
    m_command->setTiming(200, 10);

    ModalResponder boxes;
    InfoWindowCloser closer(*m_window);
    const SearchReport report = m_command->execute();
    QVERIFY(report.meterLimitReached);
    QCOMPARE(boxes.seen.size(), size_t(1));
    QCOMPARE(boxes.seen[0].caption, QStringLiteral("提示"));
    QCOMPARE(boxes.seen[0].text, QStringLiteral("已找到10块仪表，其余仪表未加入！"));
    QCOMPARE(m_views, (QList<int>{10}));
    QCOMPARE(closer.shown.size(), 1);
    QCOMPARE(closer.shown[0].rows.size(), 10);
    QCOMPARE(closer.shown[0].rows.last().first(), QStringLiteral("9"));
    // Address 10 answered and was refused; nothing was asked after it.
    QTRY_COMPARE(m_sim->countKindOn("COM3", "TX-REPLY"), 11);
    QCOMPARE(m_sim->requestsOn("COM3"), 11);
  }

private:
  [[nodiscard]] QString iniPath() const { return m_dir->filePath(QStringLiteral("Sys.ini")); }
  [[nodiscard]] QString logPath() const { return m_dir->filePath(QStringLiteral("sim.log")); }

  // A table as an earlier search left it: one meter on COM9.
  static void makeStale(MeterTable &t) {
    t.MeterAmount = 1;
    t.Meters[0].MeterValid = true;
    t.Meters[0].MeterNo = 77;
    t.Meters[0].MeterCom = 9;
    t.MeterComCount = 1;
    t.MeterComPort[0] = 9;
    t.MeterComPortState[0] = 1;
  }

  std::unique_ptr<QTemporaryDir> m_dir;
  std::unique_ptr<AppContext> m_ctx;
  std::unique_ptr<TfrmConfigureShowUnit> m_window;
  std::unique_ptr<SearchCommand> m_command;
  std::unique_ptr<MeterSim> m_sim;
  QStringList m_status;
  QList<int> m_views;
  int m_firstTab = 0;
};

QTEST_MAIN(TestSearchCommand)
#include "tst_search_command.moc"
