// zvdat: reports on and exports .zvdat recordings without the GUI.
#include "ZvdatCommands.h"

#include "app/ConsoleOutput.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

#include <cstdio>

namespace {

int exitWith(zvdat::ExitCode code) { return static_cast<int>(code); }

int runCsv(const zvdat::Arguments &args, const TDataBlock &block) {
  if (args.output.isEmpty()) {
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly) || !zvdat::WriteCsv(block, args.timeUnit, out) || !out.flush()) {
      Print(stderr, QStringLiteral("zvdat: writing to standard output failed\n"));
      return exitWith(zvdat::ExitCode::OutputFailed);
    }
    return exitWith(zvdat::ExitCode::Ok);
  }
  // QSaveFile: a failed export leaves no half-written file under the chosen name.
  QSaveFile out(args.output);
  if (!out.open(QIODevice::WriteOnly) || !zvdat::WriteCsv(block, args.timeUnit, out) || !out.commit()) {
    Print(stderr, QStringLiteral("zvdat: cannot write %1: %2\n").arg(args.output, out.errorString()));
    return exitWith(zvdat::ExitCode::OutputFailed);
  }
  return exitWith(zvdat::ExitCode::Ok);
}

int runXls(const zvdat::Arguments &args, const TDataBlock &block) {
  QString error;
  std::vector<zvdat::CutChannel> cut;
  if (!zvdat::WriteXls(block, args.timeUnit, args.output, &error, &cut)) {
    Print(stderr, QStringLiteral("zvdat: cannot write %1: %2\n").arg(args.output, error));
    return exitWith(zvdat::ExitCode::OutputFailed);
  }
  for (const zvdat::CutChannel &c : cut)
    Print(stderr, QStringLiteral("zvdat: channel %1 has %2 samples; only the first 65535 fit a sheet\n")
                      .arg(c.channel + 1)
                      .arg(c.samples));
  return exitWith(zvdat::ExitCode::Ok);
}

int runXlsx(const zvdat::Arguments &args, const TDataBlock &block) {
  QString error;
  if (!zvdat::WriteXlsx(block, args.timeUnit, args.output, &error)) {
    Print(stderr, QStringLiteral("zvdat: cannot write %1: %2\n").arg(args.output, error));
    return exitWith(zvdat::ExitCode::OutputFailed);
  }
  return exitWith(zvdat::ExitCode::Ok);
}

}  // namespace

int main(int argc, char *argv[]) {
  QCoreApplication app(argc, argv);
  QStringList rawArgs = QCoreApplication::arguments();
  rawArgs.removeFirst();

  QString error;
  const auto args = zvdat::ParseArguments(rawArgs, &error);
  if (!args) {
    Print(stderr, QStringLiteral("zvdat: %1\n\n").arg(error) + zvdat::UsageText());
    return exitWith(zvdat::ExitCode::BadArguments);
  }
  if (args->command == zvdat::Command::Help) {
    Print(stdout, zvdat::UsageText());
    return exitWith(zvdat::ExitCode::Ok);
  }

  const TDataBlock block = TDataBlock::load(args->file);
  if (args->command == zvdat::Command::Info) {
    Print(stdout, zvdat::InfoText(block));
    return exitWith(block.status == DataFileStatus::Loaded ? zvdat::ExitCode::Ok : zvdat::ExitCode::NotLoaded);
  }

  if (block.status != DataFileStatus::Loaded) {
    Print(stderr, QStringLiteral("zvdat: %1: status %2 %3\n")
                      .arg(args->file)
                      .arg(static_cast<qint32>(block.status))
                      .arg(DataFileStatusText(block.status)));
    return exitWith(zvdat::ExitCode::NotLoaded);
  }
  if (const qint64 stray = zvdat::StraySampleCount(block); stray > 0)
    Print(stderr, QStringLiteral("zvdat: %1 samples name no channel of the file and are left out\n").arg(stray));
  if (args->command == zvdat::Command::Xls)
    return runXls(*args, block);
  if (args->command == zvdat::Command::Xlsx)
    return runXlsx(*args, block);
  return runCsv(*args, block);
}
