#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace zvrec {

// Exit statuses; a service manager restarts on any but Ok.
enum class ExitCode : int {
  Ok = 0,            // stopped by the duration or by SIGINT/SIGTERM; the file is complete
  Refused = 1,       // did not start: no valid meter, a port that does not open, no save folder
  BadArguments = 2,  // the command line or the program folder
  DataFileFailed = 3, // the data file could not be created or written; what was written is valid
  PortLost = 4,      // a port failed while recording; the others went on until the end
};

struct RecorderOptions {
  QString dir;            // program folder; empty: the desktop program's own
  qint64 durationMs = 0;  // 0: until SIGINT or SIGTERM
  QString output;         // data file; empty: named as the automatic save mode names it
  bool quiet = false;     // no progress lines
  bool help = false;
};

// nullopt with *error set for a command line that cannot be used.
[[nodiscard]] std::optional<RecorderOptions> ParseArguments(const QStringList &args, QString *error);
[[nodiscard]] QString UsageText();

} // namespace zvrec
