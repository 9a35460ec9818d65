#pragma once

#include "dialogs/ExportLayout.h"

#include <QString>

#include <functional>
#include <span>

class QIODevice;

// Whole-recording exports: CSV and Excel 2007 (.xlsx) tables of column pairs, the layout of
// the .xls export without its 65535-row limit (no widgets).
//
// Rows are streamed: row k asks every series for its k-th point and is written out at once,
// so memory does not grow with the number of points. A null series is an empty column pair.
namespace exportlayout {

enum class ExportFormat : int { Xls = 0, Csv = 1, Xlsx = 2 };

// Data rows of an .xlsx sheet under its title row (a sheet holds 1048576 rows).
inline constexpr qint64 kXlsxDataRows = 1048575;
// How often the progress callback is asked whether to go on.
inline constexpr qint64 kProgressRows = 4096;

enum class WriteResult : int { Done = 0, Cancelled = 1, Failed = 2 };

// Called every kProgressRows rows and after the last one with the rows written so far;
// returning false cancels the export.
using RowProgress = std::function<bool(qint64 rowsDone)>;

// The rows of the table: the point count of the longest series.
[[nodiscard]] qint64 TableRowCount(std::span<const ChartSeries *const> channels);

// The CSV: a UTF-8 byte-order mark (spreadsheet programs then read the Chinese titles), the
// title row, then one row per point index; "%.5f" with a point as decimal separator, X as
// date-time text when the series shows date-time labels; a shorter series leaves its pair
// empty; cells holding a comma, quote or line break quoted as in RFC 4180; lines end in "\n".
// Failed when the device refuses bytes (*error says why).
[[nodiscard]] WriteResult WriteCsvTable(QIODevice &out, std::span<const ChartSeries *const> channels,
                                        const QString &dateTimeFormat, const RowProgress &progress = {},
                                        QString *error = nullptr);

// The same table as an .xlsx workbook, written by libxlsxwriter in constant-memory mode: text
// titles in row 1 of every sheet, number cells with the format "0.00000" holding the values
// rounded to five decimals (not finite values and date-time X values as text), at most
// dataRowsPerSheet data rows on "Sheet1", the rest on "Sheet2", ... Sheets are added only
// for rows that exist; a table without points is one sheet with the title row.
[[nodiscard]] WriteResult WriteXlsxTable(const QString &path, std::span<const ChartSeries *const> channels,
                                         const QString &dateTimeFormat, const RowProgress &progress = {},
                                         QString *error = nullptr, qint64 dataRowsPerSheet = kXlsxDataRows);

// Writes the table in the given format (Csv or Xlsx) under a temporary name in path's folder
// and renames it to path only when complete: a cancelled or failed export leaves no file and
// does not touch an earlier file of that name.
[[nodiscard]] WriteResult SaveTable(ExportFormat format, const QString &path,
                                    std::span<const ChartSeries *const> channels, const QString &dateTimeFormat,
                                    const RowProgress &progress = {}, QString *error = nullptr,
                                    qint64 dataRowsPerSheet = kXlsxDataRows);

// Appends the format's suffix (".xls", ".csv", ".xlsx") unless the name ends in exactly it
// (case-sensitive, like the .xls rule).
[[nodiscard]] QString WithExportSuffix(const QString &fileName, ExportFormat format);

} // namespace exportlayout
