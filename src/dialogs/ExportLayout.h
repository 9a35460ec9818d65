#pragma once

#include "dialogs/XlsWriter.h"

#include <QDateTime>
#include <QString>
#include <QVector>

#include <algorithm>
#include <functional>
#include <optional>
#include <span>

// How chart data is laid out on a spreadsheet (no widgets).
//
// Row 1 holds the axis titles, rows 2.. the points: X in the first column of a pair, Y in the
// second. The one-chart export uses columns 1-2; the all-channels export gives channel c
// (0-based) columns 2c+1 and 2c+2, each pair as long as its own channel's point count.
namespace exportlayout {

// Data rows that fit under the title row of one sheet.
inline constexpr int kDataRows = xls::Workbook::kMaxRows - 1;

// What an export reads from a chart: its first series, the titles of its axes and whether the
// X axis labels show date and time (keys in seconds since 1970-01-01 UTC, shown in UTC).
class ChartSeries {
public:
  virtual ~ChartSeries() = default;
  [[nodiscard]] virtual int pointCount() const = 0;
  [[nodiscard]] virtual double x(int i) const = 0;
  [[nodiscard]] virtual double y(int i) const = 0;
  [[nodiscard]] virtual QString xTitle() const = 0;
  [[nodiscard]] virtual QString yTitle() const = 0;
  [[nodiscard]] virtual bool xDateTime() const = 0;
};

// A series held in vectors (the command-line tool, tests).
struct SeriesData final : ChartSeries {
  QVector<double> xs;
  QVector<double> ys;
  QString xAxisTitle;
  QString yAxisTitle;
  bool dateTime = false;

  [[nodiscard]] int pointCount() const override { return static_cast<int>(std::min(xs.size(), ys.size())); }
  [[nodiscard]] double x(int i) const override { return xs[i]; }
  [[nodiscard]] double y(int i) const override { return ys[i]; }
  [[nodiscard]] QString xTitle() const override { return xAxisTitle; }
  [[nodiscard]] QString yTitle() const override { return yAxisTitle; }
  [[nodiscard]] bool xDateTime() const override { return dateTime; }
};

// True when a chart of this many points does not fit one sheet, so points would be left out.
[[nodiscard]] constexpr bool PointsWouldBeCut(int pointCount) { return pointCount > kDataRows; }
[[nodiscard]] constexpr int ExportedPointCount(int pointCount) {
  return pointCount < 0 ? 0 : pointCount > kDataRows ? kDataRows : pointCount;
}

// The cells: X and Y are number cells holding the value rounded as "%.5f" rounds it (shown with
// the format "0.00000"); X is the date-time text of the given pattern (written the way the
// settings store it, "hh:nn:ss") when the axis shows date-time labels. Titles are text.
[[nodiscard]] QString NumberText(double value);
[[nodiscard]] QString XText(double x, bool dateTime, const QString &dateTimeFormat);
// The date-time text of x in the settings' pattern; nullopt for a value no date can stand for.
[[nodiscard]] std::optional<QString> XDateTimeText(double x, const QString &dateTimeFormat);
// The value of NumberText(value) read back as a number.
[[nodiscard]] double RoundedValue(double value);

// Writes row 1 of channel c's column pair (c = 0 for the one-chart export).
void WriteTitleRow(xls::Workbook &book, const ChartSeries &series, int pair);

// Writes the data rows of channel c's column pair, the first kDataRows points at most.
// progress(k) is called after each row with the number of rows written so far.
void WriteDataRows(xls::Workbook &book, const ChartSeries &series, int pair, const QString &dateTimeFormat,
                   const std::function<void(int)> &progress = {});

// The whole sheet of the one-chart and of the all-channels export.
void LayoutChartSheet(xls::Workbook &book, const ChartSeries &series, const QString &dateTimeFormat);
void LayoutAllChannelsSheet(xls::Workbook &book, std::span<const ChartSeries *const> channels,
                            const QString &dateTimeFormat);

// " yy-mm-dd hh.nn.ss" of the given time (with a leading blank), e.g. " 24-05-01 13.45.10".
[[nodiscard]] QString FileNameStamp(const QDateTime &when);
// A chart title as part of a file name: the characters no file name may hold on the desktops
// the program runs on (/ \ : * ? " < > | and control characters) become "_".
[[nodiscard]] QString SafeFileName(const QString &name);
// Default names: all channels "FileNameHead" + stamp; a channel chart its title + stamp;
// the X/Y chart its title alone (titles made safe for a file name).
[[nodiscard]] QString AllChannelsFileName(const QString &fileNameHead, const QDateTime &when);
[[nodiscard]] QString ChannelChartFileName(const QString &chartTitle, const QDateTime &when);
[[nodiscard]] QString XYChartFileName(const QString &chartTitle);

// Appends ".xls" unless the name ends in exactly ".xls" (case-sensitive: "data.XLS" becomes
// "data.XLS.xls").
[[nodiscard]] QString WithXlsSuffix(const QString &fileName);

} // namespace exportlayout
