#include "app/FileAssociation.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestFileAssociation : public QObject {
  Q_OBJECT
private slots:
  void execLineQuotes_data() {
    QTest::addColumn<QString>("exe");
    QTest::addColumn<QString>("line");
    QTest::newRow("plain") << "/opt/zervo/zervo-daq" << "\"/opt/zervo/zervo-daq\" %f";
    QTest::newRow("blank in path") << "/home/a b/zervo-daq" << "\"/home/a b/zervo-daq\" %f";
    // Quoting escapes ", `, $ and \ with a backslash; the string value doubles every backslash.
    QTest::newRow("specials escaped") << "/x/$y`z\"" << "\"/x/\\\\$y\\\\`z\\\\\"\" %f";
    QTest::newRow("per cent") << "/opt/100%/daq" << "\"/opt/100%%/daq\" %f";
    QTest::newRow("field code lookalike") << "/opt/%f/daq" << "\"/opt/%%f/daq\" %f";
    QTest::newRow("backslash") << "/opt/a\\b/daq" << "\"/opt/a\\\\\\\\b/daq\" %f";
    QTest::newRow("single quote, semicolon, hash") << "/opt/it's;#1/daq" << "\"/opt/it's;#1/daq\" %f";
    QTest::newRow("reserved shell characters") << "/opt/<a>|&*?()~/daq" << "\"/opt/<a>|&*?()~/daq\" %f";
    QTest::newRow("tab and newline") << "/opt/a\tb\nc/daq" << "\"/opt/a\\tb\\nc/daq\" %f";
  }
  void execLineQuotes() {
    QFETCH(QString, exe);
    QFETCH(QString, line);
    QCOMPARE(FileAssociation("/tmp", exe).execLine(), line);
  }

  void installAndRemove() {
    QTemporaryDir home;
    FileAssociation fa(home.path(), "/opt/zervo/zervo-daq");
    QVERIFY(!fa.installed());
    QString error;
    QVERIFY2(fa.install(&error), qPrintable(error));
    QVERIFY(fa.installed());
    QFile d(fa.desktopFile());
    QVERIFY(d.open(QIODevice::ReadOnly));
    const QByteArray entry = d.readAll();
    QVERIFY(entry.contains("Exec=\"/opt/zervo/zervo-daq\" %f\n"));
    QVERIFY(entry.contains("MimeType=application/x-zvdat;\n"));
    QVERIFY(QFile::exists(fa.iconFile()));
    QVERIFY(fa.remove(&error));
    QVERIFY(!fa.installed());
    QVERIFY(!QFile::exists(fa.iconFile()));
    QVERIFY(fa.remove(&error)); // removing twice is no failure
  }

  // The desktop's database tools run on their own: install returns before they finish. Here the
  // stand-in tools wait until the test, after install has returned, lets them go.
  void databaseToolsDoNotBlock() {
    QTemporaryDir home;
    QTemporaryDir bin;
    const QString go = bin.filePath("go");
    for (const char *tool : {"update-mime-database", "update-desktop-database"}) {
      QFile script(bin.filePath(tool));
      QVERIFY(script.open(QIODevice::WriteOnly));
      script.write(QStringLiteral("#!/bin/sh\nwhile [ ! -e '%1' ]; do sleep 0.05; done\necho \"$@\" > '%2'\n")
                       .arg(go, bin.filePath(QString::fromLatin1(tool) + ".ran"))
                       .toUtf8());
      script.close();
      QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toUtf8() + ":" + path);
    FileAssociation fa(home.path(), "/opt/zervo/zervo-daq");
    QString error;
    const bool ok = fa.install(&error);
    qputenv("PATH", path);
    QVERIFY2(ok, qPrintable(error));
    QFile(go).open(QIODevice::WriteOnly);
    auto ran = [&](const char *tool) {
      QFile f(bin.filePath(QString::fromLatin1(tool) + ".ran"));
      return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
    };
    QTRY_COMPARE_WITH_TIMEOUT(ran("update-mime-database"), (home.path() + "/mime").toUtf8(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(ran("update-desktop-database"), (home.path() + "/applications").toUtf8(), 10000);
  }

  // An installed program is associated by its package's files: the menu never writes a
  // per-user entry that starts the binary, and removing only hides the installed entry.
  void installedProgramUsesPackageFiles() {
    QTemporaryDir home;
    QTemporaryDir share;
    FileAssociation fa(home.path(), "/usr/bin/zervo-daq", share.path());
    QString error;
    QVERIFY(!fa.installed());
    QVERIFY(!fa.install(&error)); // the package's files are missing
    QVERIFY(error.contains(fa.systemDesktopFile()));

    QVERIFY(QDir().mkpath(share.filePath("applications")));
    QVERIFY(QDir().mkpath(share.filePath("mime/packages")));
    QVERIFY(QFile(fa.systemDesktopFile()).open(QIODevice::WriteOnly));
    QVERIFY(QFile(fa.systemMimeFile()).open(QIODevice::WriteOnly));
    QCOMPARE(fa.systemDesktopFile(), share.filePath("applications/zervo-daq.desktop"));
    QVERIFY2(fa.install(&error), qPrintable(error));
    QVERIFY(fa.installed());
    QCOMPARE(QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());

    QVERIFY2(fa.remove(&error), qPrintable(error));
    QVERIFY(!fa.installed());
    QFile d(fa.desktopFile());
    QVERIFY(d.open(QIODevice::ReadOnly));
    const QByteArray entry = d.readAll();
    d.close();
    QVERIFY(entry.contains("Hidden=true\n"));
    QVERIFY(!entry.contains("Exec="));
    QVERIFY(!QFile::exists(fa.mimeFile()));
    QVERIFY(QFile::exists(fa.systemDesktopFile())); // the package's file is the package's

    QVERIFY2(fa.install(&error), qPrintable(error));
    QVERIFY(fa.installed());
    QVERIFY(!QFile::exists(fa.desktopFile()));
  }

  // A portable copy's own per-user entry is not taken for the hiding one.
  void installedProgramKeepsOtherUserEntries() {
    QTemporaryDir home;
    QTemporaryDir share;
    QVERIFY(FileAssociation(home.path(), "/opt/daq/zervo-daq").install());
    FileAssociation fa(home.path(), "/usr/bin/zervo-daq", share.path());
    QVERIFY(QDir().mkpath(share.filePath("applications")));
    QVERIFY(QDir().mkpath(share.filePath("mime/packages")));
    QVERIFY(QFile(fa.systemDesktopFile()).open(QIODevice::WriteOnly));
    QVERIFY(QFile(fa.systemMimeFile()).open(QIODevice::WriteOnly));
    QVERIFY(fa.install());
    QVERIFY(QFile::exists(fa.desktopFile()));
  }

  void installIntoUnwritableHomeFails() {
    QTemporaryDir home;
    QFile blocker(home.filePath("data"));
    QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where a folder must go
    blocker.close();
    FileAssociation fa(home.filePath("data"), "/x");
    QString error;
    QVERIFY(!fa.install(&error));
    QVERIFY(!error.isEmpty());
  }
};

QTEST_GUILESS_MAIN(TestFileAssociation)
#include "tst_fileassociation.moc"
