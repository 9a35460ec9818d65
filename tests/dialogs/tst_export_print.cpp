// Printing a window scaled to the page, into PDF files (no printer needed).
#include "dialogs/PrintWindow.h"

#include "common/ModalResponder.h"

#include <QLabel>
#include <QPrinter>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray readAll(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void toPdf(QPrinter &printer, const QString &path) {
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(path);
}

} // namespace

class TestExportPrint : public QObject {
  Q_OBJECT

private slots:
  void printWidget_data();
  void printWidget();
  void printWindowCommand_data();
  void printWindowCommand();
  void secondPrintWhileBusyDoesNothing();
};

void TestExportPrint::printWidget_data() {
  QTest::addColumn<QSize>("size");
  QTest::addColumn<bool>("writablePath");
  QTest::addColumn<bool>("printed");
  QTest::newRow("landscape window") << QSize(1200, 300) << true << true;
  QTest::newRow("tall window") << QSize(80, 900) << true << true;
  QTest::newRow("nothing to show") << QSize(0, 0) << true << false;
  QTest::newRow("unwritable pdf") << QSize(300, 200) << false << false;
}

void TestExportPrint::printWidget() {
  QFETCH(QSize, size);
  QFETCH(bool, writablePath);
  QFETCH(bool, printed);
  QTemporaryDir dir;
  QLabel window(QStringLiteral("仪表数据采集软件"));
  window.setAutoFillBackground(true);
  window.resize(size);
  if (!size.isEmpty())
    window.show();
  const QString path = dir.filePath(writablePath ? QStringLiteral("out.pdf") : QStringLiteral("no/dir/out.pdf"));
  QPrinter printer(QPrinter::HighResolution);
  toPdf(printer, path);
  QCOMPARE(PrintWidget(window, printer), printed);
  QCOMPARE(readAll(path).startsWith("%PDF"), printed);
}

void TestExportPrint::printWindowCommand_data() {
  QTest::addColumn<bool>("accept");
  QTest::addColumn<bool>("writablePath");
  QTest::addColumn<bool>("printed");
  QTest::addColumn<QStringList>("messages");
  QTest::newRow("dialog accepted") << true << true << true << QStringList{};
  QTest::newRow("dialog cancelled") << false << true << false << QStringList{};
  QTest::newRow("printing fails") << true << false << false << QStringList{"打印失败！"};
}

void TestExportPrint::printWindowCommand() {
  QFETCH(bool, accept);
  QFETCH(bool, writablePath);
  QFETCH(bool, printed);
  QFETCH(QStringList, messages);
  QTemporaryDir dir;
  QLabel window(QStringLiteral("主窗口"));
  window.resize(640, 480);
  window.show();
  const QString path = dir.filePath(writablePath ? QStringLiteral("main.pdf") : QStringLiteral("no/dir/main.pdf"));
  QString docName;
  WindowPrinter printer;
  printer.askPrinter = [&](QPrinter &p, QWidget *) {
    docName = p.docName();
    toPdf(p, path);
    return accept;
  };
  ModalResponder responder;
  QCOMPARE(printer.print(window), printed);
  QCOMPARE(docName, QStringLiteral("Untitled"));
  QStringList seen;
  for (const auto &s : responder.seen)
    seen << s.text;
  QCOMPARE(seen, messages);
  QCOMPARE(readAll(path).startsWith("%PDF"), printed);
  QVERIFY(!printer.busy());
}

void TestExportPrint::secondPrintWhileBusyDoesNothing() {
  QTemporaryDir dir;
  QLabel window(QStringLiteral("主窗口"));
  window.resize(200, 100);
  window.show();
  WindowPrinter printer;
  int asked = 0;
  bool nestedResult = true;
  printer.askPrinter = [&](QPrinter &p, QWidget *) {
    ++asked;
    if (asked == 1)
      nestedResult = printer.print(window); // the operator asks again while the first is under way
    toPdf(p, dir.filePath(QStringLiteral("once.pdf")));
    return true;
  };
  QVERIFY(printer.print(window));
  QCOMPARE(asked, 1);
  QVERIFY(!nestedResult);
}

QTEST_MAIN(TestExportPrint)
#include "tst_export_print.moc"
