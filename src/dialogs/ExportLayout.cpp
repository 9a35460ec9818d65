#include "dialogs/ExportLayout.h"

#include "views/DateTimeFormat.h"

#include <array>
#include <charconv>
#include <cmath>
#include <optional>

namespace exportlayout {

namespace {

// "%.5f" without a locale and without a temporary string: the bulk of an export is this.
struct FixedText {
  // The widest double in fixed notation has 309 digits; left uninitialised, as most numbers
  // need a dozen characters of it.
  std::array<char16_t, 400> chars;
  qsizetype size = 0;

  explicit FixedText(double value) {
    std::array<char, 400> buf;
    const auto result = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, 5);
    size = result.ptr - buf.data();
    for (qsizetype i = 0; i < size; ++i)
      chars[static_cast<size_t>(i)] = static_cast<char16_t>(buf[static_cast<size_t>(i)]);
  }
  [[nodiscard]] QStringView view() const { return QStringView(chars.data(), size); }
};

// A number cell holding exactly what "%.5f" shows: the spreadsheet's sums and charts then use
// the values the operator sees. A value that is not finite stays the text "%.5f" gives it.
void setRounded(xls::Workbook &book, int row, int column, double value) {
  if (!std::isfinite(value)) {
    book.setCell(row, column, FixedText(value).view());
    return;
  }
  book.setNumber(row, column, RoundedValue(value));
}

// x in seconds since 1970-01-01 UTC, shown in UTC like the chart's axis labels; nullopt for a
// value no date can stand for.
std::optional<QString> dateTimeText(double x, const QString &qtFormat) {
  if (std::isfinite(x) && std::abs(x) < 1e14) {
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(std::llround(x * 1000.0), Qt::UTC);
    if (when.isValid())
      return when.toString(qtFormat);
  }
  return std::nullopt;
}

} // namespace

QString NumberText(double value) { return FixedText(value).view().toString(); }

double RoundedValue(double value) {
  if (!std::isfinite(value))
    return value;
  std::array<char, 400> buf;
  const auto end = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, 5).ptr;
  double parsed = value;
  std::from_chars(buf.data(), end, parsed, std::chars_format::fixed);
  return parsed;
}

std::optional<QString> XDateTimeText(double x, const QString &dateTimeFormat) {
  return dateTimeText(x, QtDateTimeFormat(dateTimeFormat));
}

QString XText(double x, bool dateTime, const QString &dateTimeFormat) {
  if (dateTime)
    if (const std::optional<QString> text = dateTimeText(x, QtDateTimeFormat(dateTimeFormat)))
      return *text;
  return NumberText(x);
}

void WriteTitleRow(xls::Workbook &book, const ChartSeries &series, int pair) {
  book.setCell(1, 2 * pair + 1, series.xTitle());
  book.setCell(1, 2 * pair + 2, series.yTitle());
}

void WriteDataRows(xls::Workbook &book, const ChartSeries &series, int pair, const QString &dateTimeFormat,
                   const std::function<void(int)> &progress) {
  const int rows = ExportedPointCount(series.pointCount());
  const bool dateTime = series.xDateTime();
  const QString qtFormat = QtDateTimeFormat(dateTimeFormat);
  const int xColumn = 2 * pair + 1;
  for (int i = 0; i < rows; ++i) {
    const double x = series.x(i);
    // Date-time X values are the text of the date-time pattern, as on the axis.
    const std::optional<QString> when = dateTime ? dateTimeText(x, qtFormat) : std::nullopt;
    if (when)
      book.setCell(i + 2, xColumn, *when);
    else
      setRounded(book, i + 2, xColumn, x);
    setRounded(book, i + 2, xColumn + 1, series.y(i));
    if (progress)
      progress(i + 1);
  }
}

void LayoutChartSheet(xls::Workbook &book, const ChartSeries &series, const QString &dateTimeFormat) {
  WriteTitleRow(book, series, 0);
  WriteDataRows(book, series, 0, dateTimeFormat);
}

void LayoutAllChannelsSheet(xls::Workbook &book, std::span<const ChartSeries *const> channels,
                            const QString &dateTimeFormat) {
  for (size_t c = 0; c < channels.size(); ++c)
    WriteTitleRow(book, *channels[c], static_cast<int>(c));
  for (size_t c = 0; c < channels.size(); ++c)
    WriteDataRows(book, *channels[c], static_cast<int>(c), dateTimeFormat);
}

QString FileNameStamp(const QDateTime &when) { return when.toString(QStringLiteral(" yy-MM-dd hh.mm.ss")); }

QString AllChannelsFileName(const QString &fileNameHead, const QDateTime &when) {
  return fileNameHead + FileNameStamp(when);
}

QString SafeFileName(const QString &name) {
  static const QString kForbidden = QStringLiteral("/\\:*?\"<>|");
  QString out = name;
  for (QChar &c : out)
    if (c.category() == QChar::Other_Control || kForbidden.contains(c))
      c = QLatin1Char('_');
  return out;
}

QString ChannelChartFileName(const QString &chartTitle, const QDateTime &when) {
  return SafeFileName(chartTitle) + FileNameStamp(when);
}

QString XYChartFileName(const QString &chartTitle) { return SafeFileName(chartTitle); }

QString WithXlsSuffix(const QString &fileName) {
  if (fileName.endsWith(QLatin1String(".xls"), Qt::CaseSensitive))
    return fileName;
  return fileName + QLatin1String(".xls");
}

} // namespace exportlayout
