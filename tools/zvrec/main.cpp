// zvrec: records the meters of a program folder's Sys.ini without a window.
#include "Recorder.h"
#include "RecorderOptions.h"
#include "SignalPipe.h"

#include "app/AppContext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <csignal>

namespace {

int exitWith(zvrec::ExitCode code) { return static_cast<int>(code); }

// A folder named on the command line is the program folder as it is, writable or not: falling
// back to another Sys.ini there would record meters nobody asked for.
ProgramPaths FolderPaths(const QString &dir) {
  ProgramPaths p;
  QString folder = QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
  if (!folder.endsWith(QLatin1Char('/')))
    folder += QLatin1Char('/');
  p.programDir = folder;
  p.writableDir = folder;
  p.settingsFile = folder + QStringLiteral("Sys.ini");
  p.dataFolder = folder + QStringLiteral("TestData");
  p.portable = true;
  return p;
}

} // namespace

int main(int argc, char *argv[]) {
  QCoreApplication app(argc, argv);
  QStringList rawArgs = QCoreApplication::arguments();
  rawArgs.removeFirst();

  QString error;
  const auto options = zvrec::ParseArguments(rawArgs, &error);
  if (!options) {
    Print(stderr, QStringLiteral("zvrec: %1\n\n").arg(error) + zvrec::UsageText());
    return exitWith(zvrec::ExitCode::BadArguments);
  }
  if (options->help) {
    Print(stdout, zvrec::UsageText());
    return exitWith(zvrec::ExitCode::Ok);
  }
  if (!options->dir.isEmpty() && !QFileInfo(options->dir).isDir()) {
    Print(stderr, QStringLiteral("zvrec: no program folder %1\n").arg(options->dir));
    return exitWith(zvrec::ExitCode::BadArguments);
  }

  // A file size limit (a service's LimitFSIZE) must fail the write, which is reported and ends the
  // recording with a valid file, rather than kill the process in the middle of it.
  std::signal(SIGXFSZ, SIG_IGN);

  // Before anything opens a port: a signal that arrives during the start is kept in the pipe and
  // stops the recording as soon as the event loop runs.
  SignalPipe signalPipe({SIGINT, SIGTERM});
  if (!signalPipe.ok()) {
    Print(stderr, QStringLiteral("zvrec: cannot watch for SIGINT and SIGTERM\n"));
    return exitWith(zvrec::ExitCode::Refused);
  }

  // The desktop program's start: the same folder, settings mirrors and meter table. Nothing is
  // written to Sys.ini here; the engine writes what it writes on the desktop too.
  AppContext ctx(options->dir.isEmpty() ? ProgramPaths::resolve(QCoreApplication::applicationDirPath())
                                        : FolderPaths(options->dir));
  ctx.settings = std::make_unique<ProfileStore>(ctx.paths.settingsFile);
  ctx.options.load(*ctx.settings, ctx.paths.dataFolder);
  ctx.meters.load(*ctx.settings);

  Recorder recorder(ctx, *options);
  QObject::connect(&signalPipe, &SignalPipe::received, &recorder, [&recorder](int) { recorder.stop(); });
  QObject::connect(&recorder, &Recorder::finished, &app, [](int status) { QCoreApplication::exit(status); });
  if (!recorder.start())
    return exitWith(recorder.status());
  return QCoreApplication::exec();
}
