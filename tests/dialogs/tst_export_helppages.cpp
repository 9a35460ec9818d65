// The help pages the program opens exist in the sources and beside the built program.
#include "app/HelpTopics.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

namespace {

const QString kSourcePages = QStringLiteral(ZERVO_SOURCE_DIR "/resources/help/");
const QString kBuiltPages = QStringLiteral(ZERVO_HELP_BUILD_DIR "/");

QString readText(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace

class TestExportHelpPages : public QObject {
  Q_OBJECT

private slots:
  void pageOfContext_data();
  void pageOfContext();
  void everyPageNamedInHelpTopics();
  void linksBetweenPagesResolve();
};

void TestExportHelpPages::pageOfContext_data() {
  QTest::addColumn<int>("context");
  QTest::addColumn<QString>("page");
  QTest::newRow("main function") << 10100 << "MainFunction.htm";
  QTest::newRow("project manager") << 10101 << "ProjectManager.htm";
  QTest::newRow("main window") << 10102 << "FinanceInput.htm";
  QTest::newRow("no context") << 0 << "SystermIntroduction.htm";
  QTest::newRow("unknown context") << 4711 << "SystermIntroduction.htm";
  QTest::newRow("manual") << -1 << "help.html";
}

void TestExportHelpPages::pageOfContext() {
  QFETCH(int, context);
  QFETCH(QString, page);
  if (context >= 0)
    QCOMPARE(HelpPageForContext(context), page);
  for (const QString &dir : {kSourcePages, kBuiltPages}) {
    const QString text = readText(dir + page);
    QVERIFY2(text.contains(QStringLiteral("<title>")), qPrintable(dir + page));
    QVERIFY(text.contains(QStringLiteral("charset=\"utf-8\"")));
    QCOMPARE(readText(dir + page), readText(kSourcePages + page)); // the copy is current
  }
}

void TestExportHelpPages::everyPageNamedInHelpTopics() {
  const QString header = readText(QStringLiteral(ZERVO_SOURCE_DIR "/src/app/HelpTopics.h"));
  QVERIFY(!header.isEmpty());
  QStringList pages;
  auto it = QRegularExpression(QStringLiteral("\"([A-Za-z0-9_]+\\.html?)\"")).globalMatch(header);
  while (it.hasNext())
    pages << it.next().captured(1);
  QCOMPARE(pages.size(), 4);
  for (const QString &page : pages)
    QVERIFY2(QFile::exists(kSourcePages + page), qPrintable(page));
}

void TestExportHelpPages::linksBetweenPagesResolve() {
  const QStringList pages = QDir(kSourcePages).entryList({"*.htm", "*.html"}, QDir::Files);
  QCOMPARE(pages.size(), 5);
  for (const QString &page : pages) {
    auto it = QRegularExpression(QStringLiteral("href=\"([^\"#:]+)\"")).globalMatch(readText(kSourcePages + page));
    while (it.hasNext()) {
      const QString target = it.next().captured(1);
      QVERIFY2(QFile::exists(kSourcePages + target), qPrintable(page + " -> " + target));
    }
  }
}

QTEST_GUILESS_MAIN(TestExportHelpPages)
#include "tst_export_helppages.moc"
