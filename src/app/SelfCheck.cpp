#include "app/SelfCheck.h"

#include "app/HelpTopics.h"

#include <QFileInfo>
#include <QStringList>

SelfCheckResult CheckStartedProgram(const ProgramPaths &paths) {
  SelfCheckResult r;
  QStringList lines;
  lines << QStringLiteral("layout: %1")
               .arg(paths.installed ? QStringLiteral("installed")
                                    : paths.portable ? QStringLiteral("portable")
                                                     : QStringLiteral("portable, read-only folder"));
  lines << QStringLiteral("program: %1").arg(paths.programDir);
  const bool settings = QFileInfo(paths.settingsFile).isFile();
  lines << QStringLiteral("settings: %1 (%2)")
               .arg(paths.settingsFile, settings ? QStringLiteral("written") : QStringLiteral("missing"));
  lines << QStringLiteral("data: %1").arg(paths.dataFolder);
  bool help = true;
  const QStringList pages{QStringLiteral("help.html"), HelpPageForContext(kHelpMainFunction),
                          HelpPageForContext(kHelpProjectManager), HelpPageForContext(kHelpMainWindow),
                          HelpPageForContext(0)};
  for (const QString &page : pages) {
    const bool found = QFileInfo(paths.helpPage(page)).isFile();
    help = help && found;
    lines << QStringLiteral("help: %1 (%2)")
                 .arg(paths.helpPage(page), found ? QStringLiteral("found") : QStringLiteral("missing"));
  }
  r.ok = settings && help;
  lines << QStringLiteral("result: %1").arg(r.ok ? QStringLiteral("ok") : QStringLiteral("FAILED"));
  r.report = lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
  return r;
}
