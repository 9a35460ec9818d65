#include "app/AppContext.h"
#include "app/Startup.h"
#include "app/TfrmMain.h"
#include "app/TfrmWelcome.h"
#include "common/ModalResponder.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

#include <sys/resource.h>

namespace {
double processCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void writeFile(const QString &path, const QByteArray &bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

bool associationInstalled(const QTemporaryDir &home) {
  return QFile::exists(home.filePath("data/applications/zervo-daq.desktop"));
}
} // namespace

class TestStartup : public QObject {
  Q_OBJECT
  QTemporaryDir m_home;

private slots:
  void initTestCase() {
    qputenv("XDG_DATA_HOME", m_home.filePath("data").toUtf8());
    qputenv("XDG_CONFIG_HOME", m_home.filePath("config").toUtf8());
  }

  // The splash wait lasts one timer period, keeps handling events, and sleeps while there are none.
  void splashWaitSleeps() {
    // From before the splash exists: its timer starts with it.
    QElapsedTimer wall;
    wall.start();
    TfrmWelcome splash;
    splash.show();
    bool handled = false;
    QTimer::singleShot(100, this, [&] { handled = true; });
    const double cpuBefore = processCpuSeconds();
    splash.waitForTimer();
    const double cpu = processCpuSeconds() - cpuBefore;
    QVERIFY(!splash.timerEnabled());
    QVERIFY(handled);
    QVERIFY2(wall.elapsed() >= 2000, qPrintable(QString::number(wall.elapsed())));
    QVERIFY2(cpu < 0.5, qPrintable(QStringLiteral("%1 s of CPU in the splash wait").arg(cpu)));
  }

  void applicationTitleIsAppName_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("title");
    QTest::newRow("no Sys.ini") << QByteArray() << "ZERVO Data Acquisition";
    QTest::newRow("AppName set") << QByteArray("[System Options]\r\nAppName=\xB2\xE2\xCA\xD4\xC8\xED\xBC\xFE\r\n")
                                 << QStringLiteral("测试软件");
  }
  void applicationTitleIsAppName() {
    QFETCH(QByteArray, ini);
    QFETCH(QString, title);
    QTemporaryDir dir;
    const QString path = dir.filePath("Sys.ini");
    if (!ini.isEmpty())
      writeFile(path, ini);
    QGuiApplication::setApplicationDisplayName(QStringLiteral("before"));
    SetApplicationTitle(ProfileStore(path));
    QCOMPARE(QGuiApplication::applicationDisplayName(), title);
  }

  // Every F1 shows its page in the one help window.
  void helpWindowIsReused() {
    QTemporaryDir dir;
    writeFile(dir.filePath("help/SystermIntroduction.htm"), "<html><body>intro</body></html>");
    writeFile(dir.filePath("help/ProjectManager.htm"), "<html><body>project</body></html>");
    AppContext ctx(ProgramPaths::resolve(dir.path()));
    auto main = CreateWindows(ctx, {});
    const qsizetype before = main->findChildren<QTextBrowser *>().size();
    ModalResponder responder;
    main->FormKeyDown(Qt::Key_F1);
    main->FormKeyDown(Qt::Key_F1);
    main->FormHelp(10101);
    const QList<QTextBrowser *> browsers = main->findChildren<QTextBrowser *>();
    QCOMPARE(browsers.size() - before, qsizetype(1));
    QTextBrowser *shown = nullptr;
    for (QTextBrowser *b : browsers)
      if (b->window()->isVisible())
        shown = b;
    QVERIFY(shown);
    QCOMPARE(shown->source().fileName(), QString("ProjectManager.htm"));
    QVERIFY(responder.seen.empty());
  }

  // Help pages come from help/ beside a portable copy and from share/zervo-daq/help of an
  // installed one, even when the installed bin folder has a help/ of its own.
  void helpPagesFollowTheLayout_data() {
    QTest::addColumn<bool>("installed");
    QTest::newRow("portable copy") << false;
    QTest::newRow("installed layout") << true;
  }
  void helpPagesFollowTheLayout() {
    QFETCH(bool, installed);
    QTemporaryDir root;
    const QString bin = root.filePath("usr/bin");
    const QString helpDir = installed ? root.filePath("usr/share/zervo-daq/help") : bin + "/help";
    writeFile(helpDir + "/ProjectManager.htm", "<html><body>project</body></html>");
    if (installed)
      writeFile(bin + "/help/ProjectManager.htm", "<html><body>stale</body></html>");
    QDir userData(m_home.filePath("data/applications"));
    QVERIFY(!userData.exists() || userData.removeRecursively());
    AppContext ctx(ProgramPaths::resolve(bin));
    QCOMPARE(ctx.paths.installed, installed);
    auto main = CreateWindows(ctx, {});
    ModalResponder responder;
    main->FormHelp(10101);
    QVERIFY(responder.seen.empty());
    auto *browser = main->findChild<QTextBrowser *>(QStringLiteral("helpBrowser"));
    QVERIFY(browser);
    QCOMPARE(browser->source().toLocalFile(), helpDir + "/ProjectManager.htm");
    // The first start registered the file type: per user for a portable copy only.
    QCOMPARE(associationInstalled(m_home), !installed);
    QCOMPARE(QFileInfo::exists(bin + "/Sys.ini"), !installed);
  }

  // "文件关联(&F)" acts on its tick, whatever Sys.ini says by now.
  void associationMenuFollowsItsTick_data() {
    QTest::addColumn<bool>("ticked");
    QTest::newRow("ticked, Reg=0 in the file: removes") << true;
    QTest::newRow("unticked, Reg=1 in the file: installs") << false;
  }
  void associationMenuFollowsItsTick() {
    QFETCH(bool, ticked);
    QTemporaryDir dir;
    writeFile(dir.filePath("Sys.ini"),
              QByteArray("[System Options]\r\nFirstRun=0\r\nReg=") + (ticked ? "1" : "0") + "\r\n");
    AppContext ctx(ProgramPaths::resolve(dir.path()));
    auto main = CreateWindows(ctx, {});
    QCOMPARE(main->MenuReg->isChecked(), ticked);
    if (ticked)
      QVERIFY(main->InstallFileAssociation(nullptr));
    else
      QVERIFY(main->RemoveFileAssociation(nullptr));
    // Sys.ini changed behind the menu's back.
    QVERIFY(ctx.settings->writeBool("System Options", "Reg", !ticked));
    ModalResponder responder;
    main->MenuReg->trigger();
    QCOMPARE(main->MenuReg->isChecked(), !ticked);
    QCOMPARE(associationInstalled(m_home), !ticked);
    QCOMPARE(ctx.settings->readBool("System Options", "Reg", ticked), !ticked);
    QVERIFY(responder.seen.empty());
  }

  // Reg cannot be written: the association is removed, the tick follows, and the operator is told.
  void failedRegWriteIsReported() {
    QTemporaryDir dir;
    writeFile(dir.filePath("Sys.ini"), "[System Options]\r\nFirstRun=0\r\nReg=1\r\n");
    writeFile(dir.filePath("blocker"), "a file where the settings folder should be");
    AppContext ctx(ProgramPaths::resolve(dir.path()));
    auto main = CreateWindows(ctx, {});
    QVERIFY(main->InstallFileAssociation(nullptr));
    const QString unwritable = dir.filePath("blocker/Sys.ini");
    ctx.settings = std::make_unique<ProfileStore>(unwritable);
    ModalResponder responder;
    main->MenuReg->trigger();
    QVERIFY(!main->MenuReg->isChecked());
    QVERIFY(!associationInstalled(m_home));
    QCOMPARE(int(responder.seen.size()), 1);
    QCOMPARE(responder.seen[0].caption, QString("错误"));
    QCOMPARE(responder.seen[0].text, "设置无法保存到文件：\n" + unwritable);
  }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
