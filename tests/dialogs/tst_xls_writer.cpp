// The .xls writer: files read back by xlrd, and the record and compound-file structure by hand.
#include "dialogs/XlsWriter.h"
#include "dialogs/tst_xls_reader.h"

#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <limits>

namespace {

struct CellSpec {
  int row;
  int column;
  QString text;
};
using CellList = QList<CellSpec>;
struct NumberSpec {
  int row;
  int column;
  double value;
};
using NumberList = QList<NumberSpec>;

quint16 u16(const QByteArray &b, qsizetype at) { return qFromLittleEndian<quint16>(b.constData() + at); }
quint32 u32(const QByteArray &b, qsizetype at) { return qFromLittleEndian<quint32>(b.constData() + at); }

struct BiffRecord {
  quint16 type;
  qsizetype at; // position of the header
  QByteArray data;
};

QList<BiffRecord> records(const QByteArray &stream, qsizetype from) {
  QList<BiffRecord> out;
  for (qsizetype at = from; at + 4 <= stream.size();) {
    const quint16 type = u16(stream, at);
    const quint16 len = u16(stream, at + 2);
    out.append({type, at, stream.mid(at + 4, len)});
    at += 4 + len;
    if (type == 0x000A)
      break;
  }
  return out;
}

} // namespace

Q_DECLARE_METATYPE(CellList)
Q_DECLARE_METATYPE(NumberList)

class TestXlsWriter : public QObject {
  Q_OBJECT

private slots:
  void roundTrip_data();
  void roundTrip();
  void numberCells_data();
  void numberCells();
  void numberRecords();
  void cellsOutsideTheSheet_data();
  void cellsOutsideTheSheet();
  void fullSheetWithContinuedStrings();
  void recordStructure();
  void compoundFileHeader_data();
  void compoundFileHeader();
  void unwritablePath();

private:
  QTemporaryDir m_dir;
};

void TestXlsWriter::roundTrip_data() {
  QTest::addColumn<CellList>("cells");
  QTest::addColumn<QList<QStringList>>("expected");

  QTest::newRow("one cell") << CellList{{1, 1, "a"}} << QList<QStringList>{{"a"}};
  QTest::newRow("chinese titles") << CellList{{1, 1, "时间(秒)"}, {1, 2, "通道1(kg)"}, {2, 1, "0.50000"}, {2, 2, "-1.25000"}}
                                  << QList<QStringList>{{"时间(秒)", "通道1(kg)"}, {"0.50000", "-1.25000"}};
  QTest::newRow("latin-1 and surrogates") << CellList{{1, 1, "µ°C"}, {1, 2, "温度😀"}}
                                          << QList<QStringList>{{"µ°C", "温度😀"}};
  QTest::newRow("set out of order with gaps") << CellList{{3, 3, "c"}, {1, 2, "b"}, {3, 1, "a"}}
                                              << QList<QStringList>{{"", "b", ""}, {"", "", ""}, {"a", "", "c"}};
  QTest::newRow("set twice, the last counts") << CellList{{1, 1, "old"}, {1, 2, "x"}, {1, 1, "new"}}
                                              << QList<QStringList>{{"new", "x"}};
  QTest::newRow("equal texts shared") << CellList{{1, 1, "same"}, {2, 1, "same"}, {3, 1, "same"}}
                                      << QList<QStringList>{{"same"}, {"same"}, {"same"}};
  // Longer than one record: the characters go on in CONTINUE records, wide and compressed.
  const QString longWide = QString(9000, QChar(0x4E2D)) + QStringLiteral("尾");
  const QString longAscii = QString(20000, QLatin1Char('x')) + QStringLiteral("end");
  QTest::newRow("strings longer than a record") << CellList{{1, 1, longWide}, {1, 2, longAscii}, {2, 1, "after"}}
                                                << QList<QStringList>{{longWide, longAscii}, {"after", ""}};
  const QString tooLong = QString(40000, QLatin1Char('y'));
  QTest::newRow("text cut at 32767 characters") << CellList{{1, 1, tooLong}}
                                                << QList<QStringList>{{tooLong.left(32767)}};
}

void TestXlsWriter::roundTrip() {
  QFETCH(CellList, cells);
  QFETCH(QList<QStringList>, expected);
  xls::Workbook book;
  for (const CellSpec &c : cells)
    QVERIFY(book.setCell(c.row, c.column, c.text));
  for (int r = 0; r < expected.size(); ++r)
    for (int c = 0; c < expected[r].size(); ++c)
      QCOMPARE(book.cell(r + 1, c + 1), expected[r][c]);

  const QString path = m_dir.filePath(QStringLiteral("%1.xls").arg(QTest::currentDataTag()));
  QString error;
  QVERIFY2(book.save(path, &error), qPrintable(error));
  const xlrdcheck::Sheet sheet = xlrdcheck::read(path, true);
  QVERIFY2(sheet.ok, qPrintable(sheet.error));
  QCOMPARE(sheet.sheets, QStringList{"Sheet1"});
  QCOMPARE(sheet.nonText, 0);
  QCOMPARE(sheet.grid, expected);
}

// Numbers are number cells with the five-decimal format; texts stay text cells.
void TestXlsWriter::numberCells_data() {
  QTest::addColumn<CellList>("texts");
  QTest::addColumn<NumberList>("numbers"); // set after the texts
  QTest::addColumn<QList<QStringList>>("expected"); // numbers as "%.5f" of the value read back
  QTest::addColumn<QStringList>("kinds");

  QTest::newRow("one number") << CellList{} << NumberList{{1, 1, 1.5}} << QList<QStringList>{{"1.50000"}}
                              << QStringList{"n"};
  QTest::newRow("titles over numbers")
      << CellList{{1, 1, "时间(秒)"}, {1, 2, "通道1(kg)"}}
      << NumberList{{2, 1, 0.25}, {2, 2, -1.25}, {3, 1, 1e10}, {3, 2, -0.00001}}
      << QList<QStringList>{{"时间(秒)", "通道1(kg)"}, {"0.25000", "-1.25000"}, {"10000000000.00000", "-0.00001"}}
      << QStringList{"tt", "nn", "nn"};
  QTest::newRow("a number replaces a text") << CellList{{1, 1, "old"}, {1, 2, "x"}} << NumberList{{1, 1, 7}}
                                            << QList<QStringList>{{"7.00000", "x"}} << QStringList{"nt"};
  QTest::newRow("numbers set out of order") << CellList{{2, 2, "b"}} << NumberList{{3, 1, 3}, {1, 3, 1}}
                                            << QList<QStringList>{{"", "", "1.00000"}, {"", "b", ""}, {"3.00000", "", ""}}
                                            << QStringList{"--n", "-t-", "n--"};
}

void TestXlsWriter::numberCells() {
  QFETCH(CellList, texts);
  QFETCH(NumberList, numbers);
  QFETCH(QList<QStringList>, expected);
  QFETCH(QStringList, kinds);
  xls::Workbook book;
  for (const CellSpec &c : texts)
    QVERIFY(book.setCell(c.row, c.column, c.text));
  for (const NumberSpec &n : numbers) {
    QVERIFY(book.setNumber(n.row, n.column, n.value));
    QCOMPARE(book.number(n.row, n.column), std::optional<double>(n.value));
    QVERIFY(book.cell(n.row, n.column).isEmpty());
  }

  const QString path = m_dir.filePath(QStringLiteral("numbers %1.xls").arg(QTest::currentDataTag()));
  QString error;
  QVERIFY2(book.save(path, &error), qPrintable(error));
  const xlrdcheck::Sheet sheet = xlrdcheck::read(path, true);
  QVERIFY2(sheet.ok, qPrintable(sheet.error));
  QCOMPARE(sheet.grid, expected);
  QCOMPARE(sheet.kinds, kinds);
  QCOMPARE(sheet.numbers, int(kinds.join(QString()).count(QLatin1Char('n'))));
  QCOMPARE(sheet.nonText, sheet.numbers);
  QCOMPARE(sheet.numberFormats, QStringList{"0.00000"});
  if (sheet.texts > 0)
    QCOMPARE(sheet.textFormats, QStringList{"@"});
}

// The FORMAT, XF and NUMBER records by hand.
void TestXlsWriter::numberRecords() {
  xls::Workbook book;
  book.setCell(1, 1, u"t");
  QVERIFY(book.setNumber(2, 3, -1.25));
  QVERIFY(!book.setNumber(2, 4, std::numeric_limits<double>::infinity()));
  QVERIFY(!book.setNumber(2, 4, std::numeric_limits<double>::quiet_NaN()));
  QVERIFY(!book.setNumber(0, 1, 1.0));
  QCOMPARE(book.cellCount(), 2);
  const QByteArray stream = book.workbookStream();

  int formatIndex = -1;
  QList<quint16> xfFormats;
  qsizetype sheetAt = -1;
  for (const BiffRecord &r : records(stream, 0)) {
    if (r.type == 0x041E) {
      QCOMPARE(r.data.mid(2), QByteArray("\x07\x00\x00" "0.00000", 10)); // count, 8-bit characters
      formatIndex = u16(r.data, 0);
    } else if (r.type == 0x00E0) {
      xfFormats << u16(r.data, 2);
    } else if (r.type == 0x0085) {
      sheetAt = u32(r.data, 0);
    } else if (r.type == 0x00FC) {
      QCOMPARE(u32(r.data, 0), quint32(1)); // one text cell refers to the shared strings
    }
  }
  QVERIFY(formatIndex >= 164); // the workbook's own formats start there
  int numberRecords = 0;
  for (const BiffRecord &r : records(stream, sheetAt)) {
    if (r.type != 0x0203)
      continue;
    ++numberRecords;
    QCOMPARE(r.data.size(), 14);
    QCOMPARE(u16(r.data, 0), quint16(1)); // row 2
    QCOMPARE(u16(r.data, 2), quint16(2)); // column 3
    const quint16 xf = u16(r.data, 4);
    QVERIFY(xf < xfFormats.size());
    QCOMPARE(int(xfFormats[xf]), formatIndex);
    QCOMPARE(r.data.mid(6), QByteArray::fromHex("000000000000f4bf")); // -1.25
  }
  QCOMPARE(numberRecords, 1);
}

void TestXlsWriter::cellsOutsideTheSheet_data() {
  QTest::addColumn<int>("row");
  QTest::addColumn<int>("column");
  QTest::addColumn<bool>("accepted");
  QTest::newRow("row 0") << 0 << 1 << false;
  QTest::newRow("column 0") << 1 << 0 << false;
  QTest::newRow("row 65537") << 65537 << 1 << false;
  QTest::newRow("column 257") << 1 << 257 << false;
  QTest::newRow("last cell") << 65536 << 256 << true;
}

void TestXlsWriter::cellsOutsideTheSheet() {
  QFETCH(int, row);
  QFETCH(int, column);
  QFETCH(bool, accepted);
  xls::Workbook book;
  QCOMPARE(book.setCell(row, column, u"v"), accepted);
  QCOMPARE(book.cellCount(), accepted ? 1 : 0);
  if (!accepted)
    return;
  const QString path = m_dir.filePath(QStringLiteral("corner.xls"));
  QVERIFY(book.save(path));
  const xlrdcheck::Sheet sheet = xlrdcheck::read(path, false);
  QVERIFY2(sheet.ok, qPrintable(sheet.error));
  QCOMPARE(sheet.rows, row);
  QCOMPARE(sheet.columns, column);
}

// 65535 rows under a title row, 8 columns of mostly distinct texts: the shared strings run over
// hundreds of CONTINUE records and the file needs more FAT sectors than the header can list.
void TestXlsWriter::fullSheetWithContinuedStrings() {
  constexpr int kRows = 65536;
  constexpr int kColumns = 8;
  const auto text = [](int r, int c) {
    if (r == 0)
      return QStringLiteral("通道%1").arg(c + 1);
    if ((r + c) % 7 == 0)
      return QStringLiteral("值%1").arg(r); // wide strings between compressed ones
    return QStringLiteral("%1.%2").arg(r).arg(c * 11111, 5, 10, QLatin1Char('0'));
  };
  xls::Workbook book;
  // Column by column, like the all-channels export.
  for (int c = 0; c < kColumns; ++c)
    for (int r = 0; r < kRows; ++r)
      book.setCell(r + 1, c + 1, text(r, c));
  const QString path = m_dir.filePath(QStringLiteral("full.xls"));
  QVERIFY(book.save(path));

  const QByteArray file = [&] {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }();
  QVERIFY(u32(file, 44) > 109); // FAT sectors beyond the header's list
  QVERIFY(u32(file, 72) > 0);   // DIFAT sectors

  const xlrdcheck::Sheet sheet = xlrdcheck::read(path, false);
  QVERIFY2(sheet.ok, qPrintable(sheet.error));
  QCOMPARE(sheet.rows, kRows);
  QCOMPARE(sheet.columns, kColumns);
  QCOMPARE(sheet.nonText, 0);
  QCOMPARE(sheet.digest, xlrdcheck::digestOf(kRows, kColumns, text));
}

void TestXlsWriter::recordStructure() {
  xls::Workbook book;
  constexpr int kCells = 3000;
  for (int i = 0; i < kCells; ++i)
    book.setCell(i / 10 + 1, i % 10 + 1, QStringLiteral("测试文字%1").arg(i));
  const QByteArray stream = book.workbookStream();

  const QList<BiffRecord> globals = records(stream, 0);
  QVERIFY(globals.size() > 5);
  QCOMPARE(globals.first().type, quint16(0x0809));
  QCOMPARE(u16(globals.first().data, 0), quint16(0x0600)); // BIFF8
  QCOMPARE(u16(globals.first().data, 2), quint16(0x0005)); // workbook globals
  QCOMPARE(globals.last().type, quint16(0x000A));

  int xfs = 0, fonts = 0, continues = 0;
  qsizetype sheetAt = -1;
  bool codepage = false, sst = false, extsst = false, style = false, window1 = false;
  for (const BiffRecord &r : globals) {
    QVERIFY(r.data.size() <= 8224);
    switch (r.type) {
    case 0x0042: codepage = u16(r.data, 0) == 1200; break;
    case 0x003D: window1 = true; break;
    case 0x0031: ++fonts; break;
    case 0x00E0: ++xfs; break;
    case 0x0293: style = true; break;
    case 0x0085:
      sheetAt = u32(r.data, 0);
      QCOMPARE(r.data.mid(6), QByteArray("\x06\x00Sheet1", 8));
      break;
    case 0x00FC:
      sst = true;
      QCOMPARE(u32(r.data, 0), quint32(kCells));
      QCOMPARE(u32(r.data, 4), quint32(kCells));
      break;
    case 0x003C: ++continues; break;
    case 0x00FF: extsst = true; break;
    default: break;
    }
  }
  QVERIFY(codepage && window1 && style && sst && extsst);
  QVERIFY(fonts >= 1);
  QVERIFY(xfs >= 17);
  QVERIFY(continues >= 2); // 3000 strings of 20+ bytes do not fit one record

  const QList<BiffRecord> sheet = records(stream, sheetAt);
  QCOMPARE(sheet.first().type, quint16(0x0809));
  QCOMPARE(u16(sheet.first().data, 2), quint16(0x0010)); // worksheet
  QCOMPARE(sheet.last().type, quint16(0x000A));
  int labels = 0;
  bool dimensions = false, window2 = false;
  for (const BiffRecord &r : sheet) {
    if (r.type == 0x0200) {
      dimensions = true;
      QCOMPARE(u32(r.data, 4), quint32(kCells / 10)); // one past the last row
      QCOMPARE(u16(r.data, 10), quint16(10));         // one past the last column
    }
    window2 |= r.type == 0x023E;
    labels += r.type == 0x00FD;
  }
  QVERIFY(dimensions && window2);
  QCOMPARE(labels, kCells);
}

void TestXlsWriter::compoundFileHeader_data() {
  QTest::addColumn<int>("cells");
  QTest::newRow("tiny workbook, padded out of the mini stream") << 1;
  QTest::newRow("several sectors") << 5000;
}

void TestXlsWriter::compoundFileHeader() {
  QFETCH(int, cells);
  xls::Workbook book;
  for (int i = 0; i < cells; ++i)
    book.setCell(i + 1, 1, QString::number(i));
  const QByteArray stream = book.workbookStream();
  const QByteArray file = book.toBytes();

  QCOMPARE(file.left(8), QByteArray::fromHex("d0cf11e0a1b11ae1"));
  QCOMPARE(u16(file, 26), quint16(3));    // version 3
  QCOMPARE(u16(file, 28), quint16(0xFFFE));
  QCOMPARE(u16(file, 30), quint16(9));    // 512-byte sectors
  QCOMPARE(u32(file, 56), quint32(4096)); // mini stream cutoff
  QCOMPARE(file.size() % 512, 0);

  // Directory: "Root Entry", then "Workbook" starting at sector 0.
  const qsizetype dir = 512 + 512 * qsizetype(u32(file, 48));
  QCOMPARE(file.mid(dir, 20), QByteArray("R\0o\0o\0t\0 \0E\0n\0t\0r\0y\0", 20));
  QCOMPARE(int(file[dir + 66]), 5);
  QCOMPARE(file.mid(dir + 128, 16), QByteArray("W\0o\0r\0k\0b\0o\0o\0k\0", 16));
  QCOMPARE(int(file[dir + 128 + 66]), 2);
  const quint32 size = u32(file, dir + 128 + 120);
  QVERIFY(size >= 4096); // never in the mini stream
  QCOMPARE(qsizetype(size), std::max<qsizetype>(stream.size(), 4096));
  QCOMPARE(file.mid(512, stream.size()), stream);
}

void TestXlsWriter::unwritablePath() {
  xls::Workbook book;
  book.setCell(1, 1, u"x");
  QString error;
  QVERIFY(!book.save(m_dir.filePath(QStringLiteral("no/such/folder/a.xls")), &error));
  QVERIFY(!error.isEmpty());
}

QTEST_GUILESS_MAIN(TestXlsWriter)
#include "tst_xls_writer.moc"
