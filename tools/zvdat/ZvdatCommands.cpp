#include "ZvdatCommands.h"

#include "acquisition/TimeUnits.h"
#include "app/Conversions.h"
#include "dialogs/ExportLayout.h"
#include "dialogs/TableExport.h"
#include "dialogs/XlsWriter.h"

#include <QLocale>

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

namespace zvdat {

namespace {

std::optional<int> unitCode(const QString &name) {
  static constexpr std::array<const char *, 4> kNames = {"ms", "s", "min", "h"};
  for (int code = 0; code < static_cast<int>(kNames.size()); ++code)
    if (name == QLatin1String(kNames[static_cast<size_t>(code)]))
      return code;
  return std::nullopt;
}

QString number(double value) { return QString::number(value, 'g', QLocale::FloatingPointShortest); }

// The value axis title of a channel chart: title, plus "(unit)" unless the unit is blank.
QString valueTitle(const ChannelInfo &info) {
  if (info.measureUnit.trimmed().isEmpty())
    return info.title;
  return info.title + QLatin1Char('(') + info.measureUnit + QLatin1Char(')');
}

}  // namespace

ChannelTable::ChannelTable(const TDataBlock &block, int timeUnit) {
  const qsizetype channelCount = block.channels.size();
  // Sample indices grouped by channel, in file order within each channel (one flat array).
  std::vector<qint64> start(static_cast<size_t>(channelCount) + 1, 0);
  for (const TSampleRecord &sample : block.samples) {
    const qint32 channel = sample.Channel;
    if (channel >= 0 && channel < channelCount)
      ++start[static_cast<size_t>(channel) + 1];
  }
  for (qsizetype c = 0; c < channelCount; ++c)
    start[static_cast<size_t>(c) + 1] += start[static_cast<size_t>(c)];
  m_order.resize(static_cast<size_t>(start.back()));
  std::vector<qint64> fill(start.begin(), start.end() - 1);
  for (size_t i = 0; i < block.samples.size(); ++i) {
    const qint32 channel = block.samples[i].Channel;
    if (channel >= 0 && channel < channelCount)
      m_order[static_cast<size_t>(fill[static_cast<size_t>(channel)]++)] = static_cast<qint64>(i);
  }

  const QString timeTitle = QStringLiteral("时间(") + TimeUnitName(timeUnit) + QLatin1Char(')');
  m_series.reserve(static_cast<size_t>(channelCount));
  for (qsizetype c = 0; c < channelCount; ++c) {
    const qint64 n = start[static_cast<size_t>(c) + 1] - start[static_cast<size_t>(c)];
    m_series.emplace_back(block, m_order.data() + start[static_cast<size_t>(c)],
                          static_cast<int>(std::min<qint64>(n, std::numeric_limits<int>::max())), timeUnit,
                          timeTitle, valueTitle(block.channels[c].info));
  }
  for (const ChannelSeries &s : m_series)
    m_pointers.push_back(&s);
}

double ChannelTable::ChannelSeries::x(int i) const {
  return ToDisplayTime(m_block->samples[static_cast<size_t>(m_order[i])].Time, m_timeUnit);
}

double ChannelTable::ChannelSeries::y(int i) const {
  return m_block->samples[static_cast<size_t>(m_order[i])].Value;
}

QString UsageText() {
  return QStringLiteral(
      "Usage: zvdat info FILE\n"
      "       zvdat csv FILE [--unit ms|s|min|h] [-o OUT]\n"
      "       zvdat xls FILE OUT.xls [--unit ms|s|min|h]\n"
      "       zvdat xlsx FILE OUT.xlsx [--unit ms|s|min|h]\n"
      "       zvdat --help\n"
      "\n"
      "info  prints the load status, the channel records, the sample count and the duration.\n"
      "csv   writes one (time, value) column pair per channel with a header row; row k holds\n"
      "      the k-th sample of each channel. Times in the given unit (default s), values\n"
      "      with five decimals; UTF-8 with a byte-order mark. Output to OUT, or to standard\n"
      "      output.\n"
      "xls   writes the same columns as an Excel 97-2003 workbook (one sheet, at most 65535\n"
      "      data rows; later samples of a longer channel are left out and reported).\n"
      "xlsx  writes the same columns as an Excel 2007 workbook with every sample: 1048575\n"
      "      data rows a sheet, further sheets for the rest.\n"
      "\n"
      "Exit status: 0 done, 1 file not loadable, 2 bad arguments, 3 output not written.\n");
}

std::optional<Arguments> ParseArguments(const QStringList &args, QString *error) {
  Arguments parsed;
  if (args.isEmpty()) {
    *error = QStringLiteral("no command given");
    return std::nullopt;
  }
  const QString &command = args.first();
  if (command == QLatin1String("-h") || command == QLatin1String("--help") || command == QLatin1String("help")) {
    if (args.size() > 1) {
      *error = QStringLiteral("help takes no arguments");
      return std::nullopt;
    }
    return parsed;
  }
  if (command == QLatin1String("info"))
    parsed.command = Command::Info;
  else if (command == QLatin1String("csv"))
    parsed.command = Command::Csv;
  else if (command == QLatin1String("xls"))
    parsed.command = Command::Xls;
  else if (command == QLatin1String("xlsx"))
    parsed.command = Command::Xlsx;
  else {
    *error = QStringLiteral("unknown command: %1").arg(command);
    return std::nullopt;
  }

  bool unitGiven = false;
  bool outputGiven = false;
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString &arg = args[i];
    const bool isCsv = parsed.command == Command::Csv;
    // xls and xlsx take the same arguments.
    const bool isXls = parsed.command == Command::Xls || parsed.command == Command::Xlsx;
    QString value;
    enum { None, Unit, Output } option = None;
    if (arg == QLatin1String("--unit") || arg == QLatin1String("-o") || arg == QLatin1String("--output")) {
      option = arg == QLatin1String("--unit") ? Unit : Output;
      if (i + 1 >= args.size()) {
        *error = QStringLiteral("%1 needs a value").arg(arg);
        return std::nullopt;
      }
      value = args[++i];
    } else if (arg.startsWith(QLatin1String("--unit="))) {
      option = Unit;
      value = arg.mid(7);
    } else if (arg.startsWith(QLatin1String("--output="))) {
      option = Output;
      value = arg.mid(9);
    } else if (arg.startsWith(QLatin1Char('-')) && arg != QLatin1String("-")) {
      *error = QStringLiteral("unknown option: %1").arg(arg);
      return std::nullopt;
    }

    if (option == Unit && !isCsv && !isXls) {
      *error = QStringLiteral("%1 is an option of xls, xlsx and csv only").arg(arg);
      return std::nullopt;
    }
    if (option == Output && !isCsv) {
      *error = QStringLiteral("%1 is an option of csv only").arg(arg);
      return std::nullopt;
    }
    if (option == Unit) {
      const auto code = unitCode(value);
      if (!code || unitGiven) {
        *error = unitGiven ? QStringLiteral("--unit given twice")
                           : QStringLiteral("unknown time unit: %1 (use ms, s, min or h)").arg(value);
        return std::nullopt;
      }
      parsed.timeUnit = *code;
      unitGiven = true;
    } else if (option == Output) {
      if (value.isEmpty() || outputGiven) {
        *error = outputGiven ? QStringLiteral("-o given twice") : QStringLiteral("empty output file name");
        return std::nullopt;
      }
      parsed.output = value;
      outputGiven = true;
    } else if (parsed.file.isEmpty()) {
      parsed.file = arg;
    } else if (isXls && !outputGiven) {
      if (arg.isEmpty()) {
        *error = QStringLiteral("empty output file name");
        return std::nullopt;
      }
      parsed.output = arg;
      outputGiven = true;
    } else {
      *error = QStringLiteral("unexpected argument: %1").arg(arg);
      return std::nullopt;
    }
  }
  if (parsed.file.isEmpty()) {
    *error = QStringLiteral("no data file given");
    return std::nullopt;
  }
  if ((parsed.command == Command::Xls || parsed.command == Command::Xlsx) && parsed.output.isEmpty()) {
    *error = QStringLiteral("no output workbook given");
    return std::nullopt;
  }
  return parsed;
}

qint64 StraySampleCount(const TDataBlock &block) {
  qint64 stray = 0;
  for (const TSampleRecord &sample : block.samples) {
    const qint32 channel = sample.Channel;
    if (channel < 0 || channel >= block.channelCount)
      ++stray;
  }
  return stray;
}

QString InfoText(const TDataBlock &block) {
  const auto status = block.status;
  QString text;
  text += QStringLiteral("file: %1\n").arg(block.fileName);
  text += QStringLiteral("status: %1 %2\n").arg(static_cast<qint32>(status)).arg(DataFileStatusText(status));

  const bool headRead = status == DataFileStatus::Loaded || status == DataFileStatus::NoChannel ||
                        status == DataFileStatus::NoSample ||
                        (status == DataFileStatus::LoadFailed && block.channelCount != 0);
  if (!headRead)
    return text;
  text += QStringLiteral("channels: %1\n").arg(block.channelCount);
  for (const TChannelRecord &record : block.channels) {
    const ChannelInfo &info = record.info;
    text += QStringLiteral("channel %1: physical %2, title \"%3\", unit \"%4\", range %5 to %6, scale %7, offset %8\n")
                .arg(record.number)
                .arg(info.physicalChannel)
                .arg(info.title, info.measureUnit, number(info.rangeMin), number(info.rangeMax),
                     number(info.scale), number(info.offset));
  }
  if (status != DataFileStatus::Loaded && status != DataFileStatus::NoSample)
    return text;
  text += QStringLiteral("samples: %1\n").arg(block.sampleCount);
  text += QStringLiteral("loaded: %1\n").arg(block.loadedCount);
  text += QStringLiteral("trailing bytes ignored: %1\n").arg(block.trailingBytes);
  if (const qint64 stray = StraySampleCount(block); stray > 0)
    text += QStringLiteral("samples of no channel: %1\n").arg(stray);
  text += QStringLiteral("last time: %1 ms\n").arg(number(block.lastTime));
  text += QStringLiteral("duration: %1\n").arg(DurationText(block.lastTime));
  return text;
}

bool WriteCsv(const TDataBlock &block, int timeUnit, QIODevice &out) {
  const ChannelTable table(block, timeUnit);
  return exportlayout::WriteCsvTable(out, table.pointers(), QString()) == exportlayout::WriteResult::Done;
}

bool WriteXls(const TDataBlock &block, int timeUnit, const QString &path, QString *error,
              std::vector<CutChannel> *cut) {
  const ChannelTable table(block, timeUnit);
  if (cut) {
    cut->clear();
    for (size_t c = 0; c < table.series().size(); ++c)
      if (const qint64 n = table.series()[c].pointCount(); n > exportlayout::kDataRows)
        cut->push_back({static_cast<int>(c), n});
  }
  xls::Workbook book;
  exportlayout::LayoutAllChannelsSheet(book, table.pointers(), QStringLiteral("hh:nn:ss"));
  return book.save(path, error);
}

bool WriteXlsx(const TDataBlock &block, int timeUnit, const QString &path, QString *error,
               qint64 dataRowsPerSheet) {
  const ChannelTable table(block, timeUnit);
  return exportlayout::SaveTable(exportlayout::ExportFormat::Xlsx, path, table.pointers(), QString(), {}, error,
                                 dataRowsPerSheet) == exportlayout::WriteResult::Done;
}

}  // namespace zvdat
