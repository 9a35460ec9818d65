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
    QTest::newRow("specials escaped") << "/x/$y`z\"" << "\"/x/\\$y\\`z\\\"\" %f";
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
