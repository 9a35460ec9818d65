#include "RecorderOptions.h"

#include <cmath>

namespace zvrec {

namespace {
// A year; longer runs are a service's business (it records until stopped).
constexpr double kMaxDurationSeconds = 366.0 * 24 * 3600;
} // namespace

QString UsageText() {
  return QStringLiteral(
      "usage: zvrec [--dir PROGRAM_FOLDER] [--duration SECONDS] [--output FILE.zvdat] [--quiet]\n"
      "\n"
      "Records every meter of the program folder's Sys.ini into a .zvdat file, without a window.\n"
      "\n"
      "  --dir PROGRAM_FOLDER  folder of Sys.ini (default: the program's own, as the desktop\n"
      "                        program finds it)\n"
      "  --duration SECONDS    stop after this many seconds (decimals allowed); without it,\n"
      "                        record until SIGINT or SIGTERM\n"
      "  --output FILE.zvdat   the data file (default: SavePath/FileNameHead + date and time,\n"
      "                        as the automatic save mode names it)\n"
      "  --quiet               no progress line on standard error once a second\n"
      "  --help                this text\n"
      "\n"
      "Exit status: 0 stopped cleanly; 1 did not start (no valid meter, a port that does not\n"
      "open, no save folder); 2 bad arguments; 3 the data file could not be created or written;\n"
      "4 a port failed while recording (the other ports went on until the end).\n");
}

std::optional<RecorderOptions> ParseArguments(const QStringList &args, QString *error) {
  RecorderOptions o;
  for (qsizetype i = 0; i < args.size(); ++i) {
    QString name = args[i];
    QString value;
    bool hasValue = false;
    if (const qsizetype eq = name.indexOf(QLatin1Char('=')); name.startsWith(QLatin1String("--")) && eq > 0) {
      value = name.mid(eq + 1);
      name = name.left(eq);
      hasValue = true;
    }
    const auto takeValue = [&]() -> bool {
      if (hasValue)
        return true;
      if (i + 1 >= args.size()) {
        *error = name + QStringLiteral(" needs a value");
        return false;
      }
      value = args[++i];
      return true;
    };
    if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
      o.help = true;
    } else if (name == QLatin1String("--quiet") || name == QLatin1String("-q")) {
      o.quiet = true;
    } else if (name == QLatin1String("--dir")) {
      if (!takeValue())
        return std::nullopt;
      if (value.isEmpty()) {
        *error = QStringLiteral("--dir needs a folder");
        return std::nullopt;
      }
      o.dir = value;
    } else if (name == QLatin1String("--output")) {
      if (!takeValue())
        return std::nullopt;
      if (value.isEmpty()) {
        *error = QStringLiteral("--output needs a file name");
        return std::nullopt;
      }
      o.output = value;
    } else if (name == QLatin1String("--duration")) {
      if (!takeValue())
        return std::nullopt;
      bool ok = false;
      const double seconds = value.toDouble(&ok);
      const double ms = std::round(seconds * 1000.0);
      if (!ok || !std::isfinite(seconds) || ms < 1 || seconds > kMaxDurationSeconds) {
        *error = QStringLiteral("--duration needs a number of seconds above 0 and at most a year, not '%1'")
                     .arg(value);
        return std::nullopt;
      }
      o.durationMs = static_cast<qint64>(ms);
    } else {
      *error = QStringLiteral("unknown argument '%1'").arg(args[i]);
      return std::nullopt;
    }
  }
  return o;
}

} // namespace zvrec
