#include "app/Options.h"
#include "app/ProfileStore.h"
#include "app/ProgramPaths.h"
#include "app/SelfCheck.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

class TestProgramPaths : public QObject {
  Q_OBJECT
  QTemporaryDir m_xdg;

  QString config() const { return m_xdg.filePath("config") + "/zervo-daq/"; }
  QString data() const { return m_xdg.filePath("data") + "/zervo-daq/"; }

private slots:
  void initTestCase() {
    qputenv("XDG_CONFIG_HOME", m_xdg.filePath("config").toUtf8());
    qputenv("XDG_DATA_HOME", m_xdg.filePath("data").toUtf8());
  }

  // Where Sys.ini, the data and the help pages are, by the executable's folder.
  // layout: "portable" = a folder of its own, "installed" = <prefix>/bin beside
  // <prefix>/share/zervo-daq, "bin" = a portable copy that happens to sit in a folder named bin.
  void decision_data() {
    QTest::addColumn<QString>("layout");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<bool>("installed");
    QTest::addColumn<bool>("portable");
    QTest::newRow("portable folder, writable") << "portable" << true << false << true;
    QTest::newRow("portable folder, read-only") << "portable" << false << false << false;
    QTest::newRow("installed layout, writable") << "installed" << true << true << false;
    QTest::newRow("installed layout, read-only") << "installed" << false << true << false;
    QTest::newRow("folder named bin without share, writable") << "bin" << true << false << true;
  }
  void decision() {
    QFETCH(QString, layout);
    QFETCH(bool, writable);
    QFETCH(bool, installed);
    QFETCH(bool, portable);
    QTemporaryDir root;
    const QString prefix = root.filePath("usr");
    const QString exeDir = layout == "portable" ? root.filePath("daq") : prefix + "/bin";
    QVERIFY(QDir().mkpath(exeDir));
    if (layout == "installed")
      QVERIFY(QDir().mkpath(prefix + "/share/zervo-daq/help"));
    else
      QVERIFY(QDir().mkpath(prefix + "/share/applications")); // some other program's share

    const ProgramPaths p = ProgramPaths::resolve(exeDir, writable);
    QCOMPARE(p.programDir, exeDir + "/");
    QCOMPARE(p.installed, installed);
    QCOMPARE(p.portable, portable);
    QCOMPARE(p.shareDir, installed ? prefix + "/share/" : QString());
    QCOMPARE(p.helpDir, installed ? prefix + "/share/zervo-daq/help/" : exeDir + "/help/");
    QCOMPARE(p.helpPage("help.html"), p.helpDir + "help.html");
    if (portable) {
      QCOMPARE(p.settingsFile, exeDir + "/Sys.ini");
      QCOMPARE(p.writableDir, exeDir + "/");
      QCOMPARE(p.dataFolder, exeDir + "/TestData");
    } else {
      QCOMPARE(p.settingsFile, config() + "Sys.ini");
      QCOMPARE(p.writableDir, data());
      QCOMPARE(p.dataFolder, data() + "TestData");
      QVERIFY(QFileInfo(config()).isDir());
      QVERIFY(QFileInfo(data()).isDir());
    }
  }

  // The folder's own state decides: a writable installed bin (as root's /usr/bin) gets nothing.
  void installedBinStaysUntouched() {
    QTemporaryDir root;
    const QString bin = root.filePath("usr/bin");
    QVERIFY(QDir().mkpath(bin));
    QVERIFY(QDir().mkpath(root.filePath("usr/share/zervo-daq/help")));
    const ProgramPaths p = ProgramPaths::resolve(bin);
    QVERIFY(p.installed);
    ProfileStore settings(p.settingsFile);
    QVERIFY(settings.writeBool(Sections::System, QStringLiteral("FirstRun"), false));
    QVERIFY(QFileInfo(p.settingsFile).isFile());
    QCOMPARE(QDir(bin).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
  }

  // The self-check passes only with Sys.ini written and every help page where the paths say.
  void selfCheck_data() {
    QTest::addColumn<bool>("settings");
    QTest::addColumn<QString>("missingPage");
    QTest::addColumn<bool>("ok");
    QTest::newRow("all there") << true << QString() << true;
    QTest::newRow("no Sys.ini") << false << QString() << false;
    QTest::newRow("no manual") << true << "help.html" << false;
    QTest::newRow("no context page") << true << "ProjectManager.htm" << false;
  }
  void selfCheck() {
    QFETCH(bool, settings);
    QFETCH(QString, missingPage);
    QFETCH(bool, ok);
    QTemporaryDir root;
    const QString bin = root.filePath("usr/bin");
    const QString help = root.filePath("usr/share/zervo-daq/help/");
    QVERIFY(QDir().mkpath(bin));
    QVERIFY(QDir().mkpath(help));
    for (const char *page : {"help.html", "MainFunction.htm", "ProjectManager.htm", "FinanceInput.htm",
                             "SystermIntroduction.htm"})
      if (missingPage != QLatin1String(page))
        QVERIFY(QFile(help + page).open(QIODevice::WriteOnly));
    const ProgramPaths p = ProgramPaths::resolve(bin);
    QFile::remove(p.settingsFile);
    if (settings)
      QVERIFY(ProfileStore(p.settingsFile).writeBool(Sections::System, QStringLiteral("FirstRun"), false));
    const SelfCheckResult r = CheckStartedProgram(p);
    QCOMPARE(r.ok, ok);
    QVERIFY(r.report.contains("layout: installed\n"));
    QVERIFY(r.report.contains(QStringLiteral("settings: %1 (%2)\n")
                                  .arg(p.settingsFile, settings ? "written" : "missing")));
    if (!missingPage.isEmpty())
      QVERIFY(r.report.contains(QStringLiteral("help: %1 (missing)\n").arg(help + missingPage)));
    QVERIFY(r.report.endsWith(ok ? "result: ok\n" : "result: FAILED\n"));
  }

  void writablePortableFolderIsUsed() {
    QTemporaryDir dir;
    const ProgramPaths p = ProgramPaths::resolve(dir.path());
    QVERIFY(p.portable);
    QVERIFY(!p.installed);
    QCOMPARE(p.settingsFile, dir.path() + "/Sys.ini");
  }
};

QTEST_GUILESS_MAIN(TestProgramPaths)
#include "tst_programpaths.moc"
