#include "ZvdatCommands.h"

#include "acquisition/TimeUnits.h"
#include "app/Conversions.h"
#include "dialogs/ExportLayout.h"
#include "dialogs/XlsWriter.h"

#include <QLocale>

#include <algorithm>
#include <array>
#include <charconv>
#include <vector>

namespace zvdat {

namespace {

constexpr qsizetype kChunkBytes = 1 << 20;

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

// Quotes a cell when it would otherwise break the row.
QByteArray csvCell(const QString &text) {
  QByteArray bytes = text.toUtf8();
  if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') && !bytes.contains('\r'))
    return bytes;
  bytes.replace("\"", "\"\"");
  return '"' + bytes + '"';
}

// "%.5f" without locale and without a temporary string per cell.
void appendFixed5(QByteArray &out, double value) {
  std::array<char, 400> buf{};  // the widest double in fixed notation has 309 digits
  const auto result = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, 5);
  out.append(buf.data(), result.ptr - buf.data());
}

bool flushChunk(QByteArray &chunk, QIODevice &out) {
  const bool ok = out.write(chunk) == chunk.size();
  chunk.clear();
  return ok;
}

}  // namespace

QString UsageText() {
  return QStringLiteral(
      "Usage: zvdat info FILE\n"
      "       zvdat csv FILE [--unit ms|s|min|h] [-o OUT]\n"
      "       zvdat xls FILE OUT.xls [--unit ms|s|min|h]\n"
      "       zvdat --help\n"
      "\n"
      "info  prints the load status, the channel records, the sample count and the duration.\n"
      "csv   writes one (time, value) column pair per channel with a header row; row k holds\n"
      "      the k-th sample of each channel. Times in the given unit (default s), values\n"
      "      with five decimals. Output to OUT, or to standard output.\n"
      "xls   writes the same columns as an Excel 97-2003 workbook (one sheet, at most 65535\n"
      "      data rows; later samples of a longer channel are left out and reported).\n"
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
  else {
    *error = QStringLiteral("unknown command: %1").arg(command);
    return std::nullopt;
  }

  bool unitGiven = false;
  bool outputGiven = false;
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString &arg = args[i];
    const bool isCsv = parsed.command == Command::Csv;
    const bool isXls = parsed.command == Command::Xls;
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
      *error = QStringLiteral("%1 is an option of xls and csv only").arg(arg);
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
  if (parsed.command == Command::Xls && parsed.output.isEmpty()) {
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
  const qsizetype channelCount = block.channels.size();

  // Sample indices grouped by channel, in file order within each channel (one flat array).
  std::vector<qint64> start(static_cast<size_t>(channelCount) + 1, 0);
  for (const TSampleRecord &sample : block.samples) {
    const qint32 channel = sample.Channel;
    if (channel >= 0 && channel < channelCount)
      ++start[static_cast<size_t>(channel) + 1];
  }
  qint64 rows = 0;
  for (qsizetype c = 0; c < channelCount; ++c) {
    rows = std::max(rows, start[static_cast<size_t>(c) + 1]);
    start[static_cast<size_t>(c) + 1] += start[static_cast<size_t>(c)];
  }
  std::vector<qint64> order(static_cast<size_t>(start.back()));
  std::vector<qint64> fill(start.begin(), start.end() - 1);
  for (size_t i = 0; i < block.samples.size(); ++i) {
    const qint32 channel = block.samples[i].Channel;
    if (channel >= 0 && channel < channelCount)
      order[static_cast<size_t>(fill[static_cast<size_t>(channel)]++)] = static_cast<qint64>(i);
  }

  QByteArray chunk;
  chunk.reserve(kChunkBytes + 4096);
  const QString timeTitle = QStringLiteral("时间(") + TimeUnitName(timeUnit) + QLatin1Char(')');
  for (qsizetype c = 0; c < channelCount; ++c) {
    if (c > 0)
      chunk += ',';
    chunk += csvCell(timeTitle) + ',' + csvCell(valueTitle(block.channels[c].info));
  }
  chunk += '\n';

  for (qint64 row = 0; row < rows; ++row) {
    for (qsizetype c = 0; c < channelCount; ++c) {
      if (c > 0)
        chunk += ',';
      const qint64 at = start[static_cast<size_t>(c)] + row;
      if (at >= start[static_cast<size_t>(c) + 1]) {
        chunk += ',';
        continue;
      }
      const TSampleRecord &sample = block.samples[static_cast<size_t>(order[static_cast<size_t>(at)])];
      appendFixed5(chunk, ToDisplayTime(sample.Time, timeUnit));
      chunk += ',';
      appendFixed5(chunk, sample.Value);
    }
    chunk += '\n';
    if (chunk.size() >= kChunkBytes && !flushChunk(chunk, out))
      return false;
  }
  return flushChunk(chunk, out);
}

bool WriteXls(const TDataBlock &block, int timeUnit, const QString &path, QString *error,
              std::vector<CutChannel> *cut) {
  const qsizetype channelCount = block.channels.size();
  const QString timeTitle = QStringLiteral("时间(") + TimeUnitName(timeUnit) + QLatin1Char(')');
  std::vector<exportlayout::SeriesData> series(static_cast<size_t>(channelCount));
  std::vector<qint64> counts(static_cast<size_t>(channelCount), 0);
  for (qsizetype c = 0; c < channelCount; ++c) {
    series[static_cast<size_t>(c)].xAxisTitle = timeTitle;
    series[static_cast<size_t>(c)].yAxisTitle = valueTitle(block.channels[c].info);
  }
  for (const TSampleRecord &sample : block.samples) {
    const qint32 channel = sample.Channel;
    if (channel < 0 || channel >= channelCount)
      continue;
    const auto c = static_cast<size_t>(channel);
    if (++counts[c] > exportlayout::kDataRows)
      continue; // only the first rows fit a sheet; keep counting for the report
    series[c].xs.append(ToDisplayTime(sample.Time, timeUnit));
    series[c].ys.append(sample.Value);
  }
  if (cut) {
    cut->clear();
    for (qsizetype c = 0; c < channelCount; ++c)
      if (counts[static_cast<size_t>(c)] > exportlayout::kDataRows)
        cut->push_back({static_cast<int>(c), counts[static_cast<size_t>(c)]});
  }

  std::vector<const exportlayout::ChartSeries *> pointers;
  for (const auto &s : series)
    pointers.push_back(&s);
  xls::Workbook book;
  exportlayout::LayoutAllChannelsSheet(book, pointers, QStringLiteral("hh:nn:ss"));
  return book.save(path, error);
}

}  // namespace zvdat
