#include "dialogs/TableExport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QRandomGenerator>
#include <QSaveFile>

#include <xlsxwriter.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <memory>

namespace exportlayout {

namespace {

constexpr qsizetype kChunkBytes = 1 << 20;

// Quotes a cell only when it would otherwise break the row.
void appendCsvCell(QByteArray &out, const QString &text) {
  const QByteArray bytes = text.toUtf8();
  if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') && !bytes.contains('\r')) {
    out += bytes;
    return;
  }
  QByteArray quoted = bytes;
  quoted.replace("\"", "\"\"");
  out += '"' + quoted + '"';
}

// "%.5f" without a locale and without a temporary string: the bulk of an export is this.
void appendFixed5(QByteArray &out, double value) {
  std::array<char, 400> buf; // the widest double in fixed notation has 309 digits
  const auto result = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, 5);
  out.append(buf.data(), result.ptr - buf.data());
}

bool wantsRows(const RowProgress &progress, qint64 row, qint64 rows) {
  if (!progress || (row % kProgressRows != 0 && row != rows))
    return true;
  return progress(row);
}

// Date-time X values are the text of the date-time pattern, as on the axis; a value no date
// can stand for stays a number, as in the .xls export.
bool dateTimeX(const ChartSeries &s, double x, const QString &dateTimeFormat, QString *text) {
  if (!s.xDateTime())
    return false;
  const std::optional<QString> when = XDateTimeText(x, dateTimeFormat);
  if (when)
    *text = *when;
  return when.has_value();
}

struct WorkbookDeleter {
  void operator()(lxw_workbook *book) const { lxw_workbook_free(book); }
};

// A name beside path that no file has: the export is written there, then renamed.
QString partName(const QString &path) {
  const QFileInfo info(path);
  for (;;) {
    const QString candidate = info.dir().filePath(
        QStringLiteral(".%1.%2.part").arg(info.fileName()).arg(QRandomGenerator::global()->generate(), 8, 16,
                                                                 QLatin1Char('0')));
    if (!QFileInfo::exists(candidate))
      return candidate;
  }
}

} // namespace

qint64 TableRowCount(std::span<const ChartSeries *const> channels) {
  qint64 rows = 0;
  for (const ChartSeries *s : channels)
    if (s)
      rows = std::max<qint64>(rows, s->pointCount());
  return rows;
}

WriteResult WriteCsvTable(QIODevice &out, std::span<const ChartSeries *const> channels,
                          const QString &dateTimeFormat, const RowProgress &progress, QString *error) {
  QByteArray chunk;
  chunk.reserve(kChunkBytes + 4096);
  auto flush = [&chunk, &out, error] {
    const bool ok = out.write(chunk) == chunk.size();
    chunk.clear();
    if (!ok && error)
      *error = out.errorString();
    return ok;
  };

  chunk += "\xEF\xBB\xBF";
  for (size_t c = 0; c < channels.size(); ++c) {
    if (c > 0)
      chunk += ',';
    if (channels[c])
      appendCsvCell(chunk, channels[c]->xTitle());
    chunk += ',';
    if (channels[c])
      appendCsvCell(chunk, channels[c]->yTitle());
  }
  chunk += '\n';

  std::vector<int> counts;
  for (const ChartSeries *s : channels)
    counts.push_back(s ? std::max(0, s->pointCount()) : 0);
  const qint64 rows = TableRowCount(channels);
  QString when;
  for (qint64 row = 0; row < rows; ++row) {
    for (size_t c = 0; c < channels.size(); ++c) {
      if (c > 0)
        chunk += ',';
      if (row >= counts[c]) {
        chunk += ',';
        continue;
      }
      const ChartSeries &s = *channels[c];
      const int i = static_cast<int>(row);
      const double x = s.x(i);
      if (dateTimeX(s, x, dateTimeFormat, &when))
        appendCsvCell(chunk, when);
      else
        appendFixed5(chunk, x);
      chunk += ',';
      appendFixed5(chunk, s.y(i));
    }
    chunk += '\n';
    if (chunk.size() >= kChunkBytes && !flush())
      return WriteResult::Failed;
    if (!wantsRows(progress, row + 1, rows))
      return WriteResult::Cancelled;
  }
  return flush() ? WriteResult::Done : WriteResult::Failed;
}

WriteResult WriteXlsxTable(const QString &path, std::span<const ChartSeries *const> channels,
                           const QString &dateTimeFormat, const RowProgress &progress, QString *error,
                           qint64 dataRowsPerSheet) {
  dataRowsPerSheet = std::clamp<qint64>(dataRowsPerSheet, 1, kXlsxDataRows);
  const qint64 rows = TableRowCount(channels);
  const QByteArray file = QFile::encodeName(path);
  // Constant-memory mode keeps one row in memory; its temporary files go beside the target,
  // so a big export does not fill a small /tmp (or the memory of a tmpfs one).
  QByteArray tmpdir = QFile::encodeName(QFileInfo(path).absolutePath());
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  options.tmpdir = tmpdir.data();
  // A sheet's XML passes 4 GB at about 60 bytes a cell; zip64 is then needed to hold it.
  const double cellsPerSheet = static_cast<double>(std::min(rows, dataRowsPerSheet)) * 2.0 * channels.size();
  options.use_zip64 = cellsPerSheet * 60.0 > 3.5e9 ? LXW_TRUE : LXW_FALSE;
  std::unique_ptr<lxw_workbook, WorkbookDeleter> book(workbook_new_opt(file.constData(), &options));
  if (!book) {
    if (error)
      *error = QStringLiteral("cannot create the workbook");
    return WriteResult::Failed;
  }
  lxw_format *numberFormat = workbook_add_format(book.get());
  format_set_num_format(numberFormat, "0.00000");
  lxw_format *textFormat = workbook_add_format(book.get());
  format_set_num_format(textFormat, "@");

  std::vector<int> counts;
  std::vector<QByteArray> titles;
  for (const ChartSeries *s : channels) {
    counts.push_back(s ? std::max(0, s->pointCount()) : 0);
    titles.push_back(s ? s->xTitle().toUtf8() : QByteArray());
    titles.push_back(s ? s->yTitle().toUtf8() : QByteArray());
  }

  lxw_worksheet *sheet = nullptr;
  lxw_error failure = LXW_NO_ERROR;
  auto check = [&failure](lxw_error e) {
    if (e != LXW_NO_ERROR && failure == LXW_NO_ERROR)
      failure = e;
  };
  auto newSheet = [&] {
    sheet = workbook_add_worksheet(book.get(), nullptr);
    if (!sheet)
      return false;
    for (size_t t = 0; t < titles.size(); ++t)
      if (!titles[t].isEmpty())
        check(worksheet_write_string(sheet, 0, static_cast<lxw_col_t>(t), titles[t].constData(), textFormat));
    return true;
  };
  auto writeValue = [&](lxw_row_t r, lxw_col_t col, double v) {
    if (std::isfinite(v))
      check(worksheet_write_number(sheet, r, col, RoundedValue(v), numberFormat));
    else // the format holds no infinity or NaN: the text "%.5f" gives it
      check(worksheet_write_string(sheet, r, col, NumberText(v).toUtf8().constData(), textFormat));
  };

  if (!newSheet()) {
    if (error)
      *error = QStringLiteral("cannot add a sheet");
    return WriteResult::Failed;
  }
  QString when;
  for (qint64 row = 0; row < rows && failure == LXW_NO_ERROR; ++row) {
    if (row > 0 && row % dataRowsPerSheet == 0 && !newSheet()) {
      if (error)
        *error = QStringLiteral("cannot add a sheet");
      return WriteResult::Failed;
    }
    const auto r = static_cast<lxw_row_t>(row % dataRowsPerSheet + 1);
    for (size_t c = 0; c < channels.size(); ++c) {
      if (row >= counts[c])
        continue;
      const ChartSeries &s = *channels[c];
      const int i = static_cast<int>(row);
      const auto col = static_cast<lxw_col_t>(2 * c);
      const double x = s.x(i);
      if (dateTimeX(s, x, dateTimeFormat, &when))
        check(worksheet_write_string(sheet, r, col, when.toUtf8().constData(), textFormat));
      else
        writeValue(r, col, x);
      writeValue(r, col + 1, s.y(i));
    }
    if (!wantsRows(progress, row + 1, rows))
      return WriteResult::Cancelled;
  }
  if (failure != LXW_NO_ERROR) {
    if (error)
      *error = QString::fromUtf8(lxw_strerror(failure));
    return WriteResult::Failed;
  }
  // workbook_close frees the workbook whatever it returns.
  const lxw_error closed = workbook_close(book.release());
  if (closed != LXW_NO_ERROR) {
    if (error)
      *error = QString::fromUtf8(lxw_strerror(closed));
    return WriteResult::Failed;
  }
  return WriteResult::Done;
}

WriteResult SaveTable(ExportFormat format, const QString &path, std::span<const ChartSeries *const> channels,
                      const QString &dateTimeFormat, const RowProgress &progress, QString *error,
                      qint64 dataRowsPerSheet) {
  if (format == ExportFormat::Csv) {
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
      if (error)
        *error = out.errorString();
      return WriteResult::Failed;
    }
    const WriteResult result = WriteCsvTable(out, channels, dateTimeFormat, progress, error);
    if (result != WriteResult::Done) {
      out.cancelWriting();
      return result;
    }
    if (!out.commit()) {
      if (error)
        *error = out.errorString();
      return WriteResult::Failed;
    }
    return WriteResult::Done;
  }
  if (format != ExportFormat::Xlsx) {
    if (error)
      *error = QStringLiteral("not a table format");
    return WriteResult::Failed;
  }
  const QString part = partName(path);
  const WriteResult result = WriteXlsxTable(part, channels, dateTimeFormat, progress, error, dataRowsPerSheet);
  if (result != WriteResult::Done) {
    QFile::remove(part);
    return result;
  }
  // rename() replaces an earlier file in one step: there is never a moment without either.
  if (std::rename(QFile::encodeName(part).constData(), QFile::encodeName(path).constData()) != 0) {
    if (error)
      *error = QString::fromLocal8Bit(std::strerror(errno));
    QFile::remove(part);
    return WriteResult::Failed;
  }
  return WriteResult::Done;
}

QString WithExportSuffix(const QString &fileName, ExportFormat format) {
  const QLatin1String suffix = format == ExportFormat::Csv    ? QLatin1String(".csv")
                               : format == ExportFormat::Xlsx ? QLatin1String(".xlsx")
                                                              : QLatin1String(".xls");
  if (fileName.endsWith(suffix, Qt::CaseSensitive))
    return fileName;
  return fileName + suffix;
}

} // namespace exportlayout
