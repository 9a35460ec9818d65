#pragma once

// Reads .xls files back with xlrd, a spreadsheet reader that has nothing to do with our writer.

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QStringList>

#include <functional>

namespace xlrdcheck {

struct Sheet {
  bool ok = false;
  QString error;        // why reading failed, or xlrd's warnings
  QStringList sheets;   // sheet names
  int rows = 0;
  int columns = 0;
  int nonText = 0;      // cells that are neither text nor empty
  int numbers = 0;      // number cells (xlrd.XL_CELL_NUMBER)
  int texts = 0;        // text cells
  int inexact = 0;      // number cells whose value is not exactly its "%.5f" text read back
  QStringList numberFormats; // the distinct format strings of number cells, sorted
  QStringList textFormats;   // the same for text cells
  // md5 of every row: cells joined by tabs, each row ending in '\n'; a number cell as "%.5f"
  QByteArray digest;
  QList<QStringList> grid; // all cells, when asked for
  // Per row one letter a cell, when the grid is asked for: t text, n number, - empty, o other.
  QStringList kinds;
};

// xlrd writes its warnings to stderr; any warning counts as a failure.
inline const char *const kScript = R"PY(
import sys, json, hashlib, xlrd
book = xlrd.open_workbook(sys.argv[1], logfile=sys.stderr, formatting_info=True)
sheet = book.sheet_by_index(0)
full = sys.argv[2] == "1"
digest = hashlib.md5()
nontext = numbers = texts = inexact = 0
numfmts, textfmts = set(), set()
grid, kinds = [], []
def fmt(r, c):
    return book.format_map[book.xf_list[sheet.cell_xf_index(r, c)].format_key].format_str
for r in range(sheet.nrows):
    row, kind = [], ""
    for c in range(sheet.ncols):
        t = sheet.cell_type(r, c)
        if t == xlrd.XL_CELL_TEXT:
            row.append(sheet.cell_value(r, c))
            texts += 1
            textfmts.add(fmt(r, c))
            kind += "t"
        elif t in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
            row.append("")
            kind += "-"
        elif t == xlrd.XL_CELL_NUMBER:
            v = sheet.cell_value(r, c)
            row.append("%.5f" % v)
            nontext += 1
            numbers += 1
            inexact += float("%.5f" % v) != v
            numfmts.add(fmt(r, c))
            kind += "n"
        else:
            nontext += 1
            row.append(str(sheet.cell_value(r, c)))
            kind += "o"
    digest.update(("\t".join(row) + "\n").encode("utf-8"))
    if full:
        grid.append(row)
        kinds.append(kind)
json.dump({"sheets": book.sheet_names(), "rows": sheet.nrows, "columns": sheet.ncols,
           "nontext": nontext, "numbers": numbers, "texts": texts, "inexact": inexact,
           "numfmts": sorted(numfmts), "textfmts": sorted(textfmts),
           "digest": digest.hexdigest(), "grid": grid, "kinds": kinds}, sys.stdout, ensure_ascii=True)
)PY";

inline Sheet read(const QString &path, bool withGrid) {
  Sheet sheet;
  QProcess proc;
  proc.start(QStringLiteral("/usr/bin/python3"),
             {QStringLiteral("-c"), QString::fromUtf8(kScript), path, withGrid ? QStringLiteral("1") : QStringLiteral("0")});
  if (!proc.waitForFinished(120000) || proc.exitStatus() != QProcess::NormalExit) {
    sheet.error = QStringLiteral("xlrd did not finish");
    return sheet;
  }
  const QByteArray err = proc.readAllStandardError();
  if (proc.exitCode() != 0 || !err.trimmed().isEmpty()) {
    sheet.error = QString::fromUtf8(err);
    return sheet;
  }
  const QJsonObject o = QJsonDocument::fromJson(proc.readAllStandardOutput()).object();
  for (const auto &name : o.value(QStringLiteral("sheets")).toArray())
    sheet.sheets << name.toString();
  sheet.rows = o.value(QStringLiteral("rows")).toInt();
  sheet.columns = o.value(QStringLiteral("columns")).toInt();
  sheet.nonText = o.value(QStringLiteral("nontext")).toInt();
  sheet.numbers = o.value(QStringLiteral("numbers")).toInt();
  sheet.texts = o.value(QStringLiteral("texts")).toInt();
  sheet.inexact = o.value(QStringLiteral("inexact")).toInt();
  for (const auto &f : o.value(QStringLiteral("numfmts")).toArray())
    sheet.numberFormats << f.toString();
  for (const auto &f : o.value(QStringLiteral("textfmts")).toArray())
    sheet.textFormats << f.toString();
  for (const auto &k : o.value(QStringLiteral("kinds")).toArray())
    sheet.kinds << k.toString();
  sheet.digest = o.value(QStringLiteral("digest")).toString().toLatin1();
  for (const auto &row : o.value(QStringLiteral("grid")).toArray()) {
    QStringList cells;
    for (const auto &c : row.toArray())
      cells << c.toString();
    sheet.grid << cells;
  }
  sheet.ok = true;
  return sheet;
}

// The digest xlrd's dump would give for a sheet of rows x columns cells.
inline QByteArray digestOf(int rows, int columns, const std::function<QString(int row, int column)> &cell) {
  QCryptographicHash md5(QCryptographicHash::Md5);
  for (int r = 0; r < rows; ++r) {
    QStringList line;
    for (int c = 0; c < columns; ++c)
      line << cell(r, c);
    md5.addData((line.join(QLatin1Char('\t')) + QLatin1Char('\n')).toUtf8());
  }
  return md5.result().toHex();
}

inline QByteArray digestOf(const QList<QStringList> &grid, int columns) {
  return digestOf(static_cast<int>(grid.size()), columns,
                  [&grid](int r, int c) { return c < grid[r].size() ? grid[r][c] : QString(); });
}

} // namespace xlrdcheck
