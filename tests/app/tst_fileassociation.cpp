#include "app/FileAssociation.h"

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
