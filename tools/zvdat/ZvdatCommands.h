#pragma once

#include "acquisition/DataBlock.h"

#include <QIODevice>
#include <QString>
#include <QStringList>

#include <optional>

namespace zvdat {

// Process exit codes.
enum class ExitCode : int {
  Ok = 0,
  NotLoaded = 1,    // the file's load status is not 0
  BadArguments = 2,
  OutputFailed = 3, // the CSV could not be written
};

enum class Command : int { Help = 0, Info = 1, Csv = 2 };

struct Arguments {
  Command command = Command::Help;
  QString file;
  int timeUnit = 1;  // time-unit code of the CSV time columns: 0 ms, 1 s, 2 min, 3 h
  QString output;    // empty: standard output
};

// Parses the arguments after the program name. On failure returns nullopt and sets *error.
[[nodiscard]] std::optional<Arguments> ParseArguments(const QStringList &args, QString *error);

[[nodiscard]] QString UsageText();

// The `info` report of a loaded (or refused) file, UTF-8 lines ending in '\n'.
[[nodiscard]] QString InfoText(const TDataBlock &block);

// Samples whose channel index is not a channel of the file; they appear in no column.
[[nodiscard]] qint64 StraySampleCount(const TDataBlock &block);

// Writes the CSV: a header row, then row k holds the k-th sample of every channel as a
// (time, value) column pair; a channel with fewer samples leaves its pair empty.
// Returns false when the device refuses the bytes.
[[nodiscard]] bool WriteCsv(const TDataBlock &block, int timeUnit, QIODevice &out);

}  // namespace zvdat
