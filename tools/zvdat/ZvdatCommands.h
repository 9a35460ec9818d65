#pragma once

#include "acquisition/DataBlock.h"
#include "dialogs/TableExport.h"

#include <QIODevice>
#include <QString>
#include <QStringList>

#include <optional>
#include <span>
#include <vector>

namespace zvdat {

// Process exit codes.
enum class ExitCode : int {
  Ok = 0,
  NotLoaded = 1,    // the file's load status is not 0
  BadArguments = 2,
  OutputFailed = 3, // the CSV or the workbook could not be written
};

enum class Command : int { Help = 0, Info = 1, Csv = 2, Xls = 3, Xlsx = 4 };

struct Arguments {
  Command command = Command::Help;
  QString file;
  int timeUnit = 1;  // time-unit code of the time columns: 0 ms, 1 s, 2 min, 3 h
  QString output;    // csv: empty means standard output; xls, xlsx: the workbook to write
};

// Parses the arguments after the program name. On failure returns nullopt and sets *error.
[[nodiscard]] std::optional<Arguments> ParseArguments(const QStringList &args, QString *error);

[[nodiscard]] QString UsageText();

// The `info` report of a loaded (or refused) file, UTF-8 lines ending in '\n'.
[[nodiscard]] QString InfoText(const TDataBlock &block);

// Samples whose channel index is not a channel of the file; they appear in no column.
[[nodiscard]] qint64 StraySampleCount(const TDataBlock &block);

// The file's samples as one series per channel (time in the given unit, value), read in place
// through an index: the exports stream their rows from it.
class ChannelTable {
public:
  ChannelTable(const TDataBlock &block, int timeUnit);
  ChannelTable(const ChannelTable &) = delete;
  ChannelTable &operator=(const ChannelTable &) = delete;

  class ChannelSeries final : public exportlayout::ChartSeries {
  public:
    ChannelSeries(const TDataBlock &block, const qint64 *order, int count, int timeUnit, QString xTitle,
                  QString yTitle)
        : m_block(&block), m_order(order), m_count(count), m_timeUnit(timeUnit), m_xTitle(std::move(xTitle)),
          m_yTitle(std::move(yTitle)) {}
    [[nodiscard]] int pointCount() const override { return m_count; }
    [[nodiscard]] double x(int i) const override;
    [[nodiscard]] double y(int i) const override;
    [[nodiscard]] QString xTitle() const override { return m_xTitle; }
    [[nodiscard]] QString yTitle() const override { return m_yTitle; }
    [[nodiscard]] bool xDateTime() const override { return false; }

  private:
    const TDataBlock *m_block;
    const qint64 *m_order;
    int m_count;
    int m_timeUnit;
    QString m_xTitle, m_yTitle;
  };

  [[nodiscard]] const std::vector<ChannelSeries> &series() const { return m_series; }
  [[nodiscard]] std::span<const exportlayout::ChartSeries *const> pointers() const { return m_pointers; }

private:
  std::vector<qint64> m_order; // sample indices grouped by channel, file order within each
  std::vector<ChannelSeries> m_series;
  std::vector<const exportlayout::ChartSeries *> m_pointers;
};

// Writes the CSV (the program's CSV export, exportlayout::WriteCsvTable): a UTF-8 byte-order
// mark, a header row, then row k holds the k-th sample of every channel as a
// (time, value) column pair; a channel with fewer samples leaves its pair empty.
// Returns false when the device refuses the bytes.
[[nodiscard]] bool WriteCsv(const TDataBlock &block, int timeUnit, QIODevice &out);

// A channel whose samples do not all fit one sheet.
struct CutChannel {
  int channel;      // 0-based
  qint64 samples;   // samples the channel has
};

// Writes the all-channels sheet of the program's export as an .xls workbook: a column pair
// (time, value) per channel, the same titles as the CSV, rows as long as each channel's
// sample count, at most 65535 data rows. Returns false, with a reason in *error, when the file
// cannot be written. *cut lists the channels whose later samples did not fit.
[[nodiscard]] bool WriteXls(const TDataBlock &block, int timeUnit, const QString &path, QString *error,
                            std::vector<CutChannel> *cut);

// Writes the same columns as an .xlsx workbook with every sample: dataRowsPerSheet data rows a
// sheet, further sheets for the rest. A failed write leaves no file and keeps an earlier one.
[[nodiscard]] bool WriteXlsx(const TDataBlock &block, int timeUnit, const QString &path, QString *error,
                             qint64 dataRowsPerSheet = exportlayout::kXlsxDataRows);

}  // namespace zvdat
