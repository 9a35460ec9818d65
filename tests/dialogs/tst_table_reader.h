#pragma once

// Reads .xlsx files back with openpyxl and CSV files with Python's csv module: readers that
// share nothing with our writers.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QStringList>

namespace tablecheck {

struct XlsxSheet {
  QString name;
  int rows = 0; // openpyxl's max_row
  QList<QStringList> grid; // a number cell as "%.5f", an empty cell as ""
  QStringList kinds;       // per row one letter a cell: t text, n number, - empty, o other
};

struct Xlsx {
  bool ok = false;
  QString error;
  QList<XlsxSheet> sheets;
  QStringList numberFormats; // distinct number_format of number cells, sorted
  int inexact = 0;           // number cells whose value is not exactly its "%.5f" text read back
};

inline const char *const kXlsxScript = R"PY(
import sys, json, warnings
warnings.simplefilter("error")
import openpyxl
book = openpyxl.load_workbook(sys.argv[1])
out = {"sheets": [], "numfmts": set(), "inexact": 0}
for ws in book.worksheets:
    grid, kinds = [], []
    for row in ws.iter_rows():
        cells, kind = [], ""
        for cell in row:
            v = cell.value
            if v is None:
                cells.append(""); kind += "-"
            elif isinstance(v, str):
                cells.append(v); kind += "t"
            elif isinstance(v, (int, float)) and not isinstance(v, bool):
                cells.append("%.5f" % v); kind += "n"
                out["numfmts"].add(cell.number_format)
                out["inexact"] += float("%.5f" % v) != v
            else:
                cells.append(str(v)); kind += "o"
        grid.append(cells); kinds.append(kind)
    out["sheets"].append({"name": ws.title, "rows": ws.max_row, "grid": grid, "kinds": kinds})
out["numfmts"] = sorted(out["numfmts"])
json.dump(out, sys.stdout, ensure_ascii=True)
)PY";

inline const char *const kCsvScript = R"PY(
import sys, json, csv, io
raw = open(sys.argv[1], "rb").read()
bom = raw.startswith(b"\xef\xbb\xbf")
rows = list(csv.reader(io.StringIO(raw.decode("utf-8-sig"), newline=""), strict=True))
json.dump({"bom": bom, "rows": rows, "crlf": b"\r\n" in raw}, sys.stdout, ensure_ascii=True)
)PY";

inline QJsonObject runPython(const char *script, const QString &path, QString *error) {
  QProcess proc;
  proc.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(script), path});
  if (!proc.waitForFinished(300000) || proc.exitStatus() != QProcess::NormalExit) {
    *error = QStringLiteral("python did not finish");
    return {};
  }
  const QByteArray err = proc.readAllStandardError();
  if (proc.exitCode() != 0 || !err.trimmed().isEmpty()) {
    *error = QString::fromUtf8(err);
    return {};
  }
  return QJsonDocument::fromJson(proc.readAllStandardOutput()).object();
}

inline QList<QStringList> toGrid(const QJsonArray &rows) {
  QList<QStringList> grid;
  for (const auto &row : rows) {
    QStringList cells;
    for (const auto &c : row.toArray())
      cells << c.toString();
    grid << cells;
  }
  return grid;
}

inline Xlsx readXlsx(const QString &path) {
  Xlsx book;
  const QJsonObject o = runPython(kXlsxScript, path, &book.error);
  if (!book.error.isEmpty())
    return book;
  for (const auto &s : o.value(QStringLiteral("sheets")).toArray()) {
    const QJsonObject so = s.toObject();
    XlsxSheet sheet;
    sheet.name = so.value(QStringLiteral("name")).toString();
    sheet.rows = so.value(QStringLiteral("rows")).toInt();
    sheet.grid = toGrid(so.value(QStringLiteral("grid")).toArray());
    for (const auto &k : so.value(QStringLiteral("kinds")).toArray())
      sheet.kinds << k.toString();
    book.sheets << sheet;
  }
  for (const auto &f : o.value(QStringLiteral("numfmts")).toArray())
    book.numberFormats << f.toString();
  book.inexact = o.value(QStringLiteral("inexact")).toInt();
  book.ok = true;
  return book;
}

struct Csv {
  bool ok = false;
  QString error;
  bool bom = false;
  bool crlf = false;
  QList<QStringList> rows;
};

inline Csv readCsv(const QString &path) {
  Csv csv;
  const QJsonObject o = runPython(kCsvScript, path, &csv.error);
  if (!csv.error.isEmpty())
    return csv;
  csv.bom = o.value(QStringLiteral("bom")).toBool();
  csv.crlf = o.value(QStringLiteral("crlf")).toBool();
  csv.rows = toGrid(o.value(QStringLiteral("rows")).toArray());
  csv.ok = true;
  return csv;
}

} // namespace tablecheck
