#include "views/DateTimeFormat.h"

namespace {

QString quoted(const QString &literal) {
  QString text = literal;
  text.replace(QLatin1Char('\''), QStringLiteral("''"));
  return QLatin1Char('\'') + text + QLatin1Char('\'');
}

bool startsAt(const QString &s, qsizetype i, QLatin1StringView what) {
  return QStringView(s).mid(i).startsWith(what, Qt::CaseInsensitive);
}

} // namespace

QString QtDateTimeFormat(const QString &delphiFormat) {
  const QString &f = delphiFormat;
  QString out;
  bool afterHour = false; // Delphi reads "m" as minutes when the previous specifier was an hour
  qsizetype i = 0;
  while (i < f.size()) {
    const QChar c = f.at(i);
    if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
      qsizetype end = f.indexOf(c, i + 1);
      if (end < 0)
        end = f.size();
      out += quoted(f.mid(i + 1, end - i - 1));
      i = end + 1;
      continue;
    }
    if (startsAt(f, i, QLatin1StringView("am/pm"))) {
      out += c.isUpper() ? QStringLiteral("AP") : QStringLiteral("ap");
      i += 5;
      continue;
    }
    if (startsAt(f, i, QLatin1StringView("a/p"))) {
      out += c.isUpper() ? QStringLiteral("AP") : QStringLiteral("ap");
      i += 3;
      continue;
    }
    if (startsAt(f, i, QLatin1StringView("ampm"))) {
      out += QStringLiteral("AP");
      i += 4;
      continue;
    }
    const QChar lc = c.toLower();
    qsizetype run = 1;
    while (i + run < f.size() && f.at(i + run).toLower() == lc)
      ++run;
    const int n = static_cast<int>(run);
    switch (lc.unicode()) {
    case 'n':
      out += n >= 2 ? QStringLiteral("mm") : QStringLiteral("m");
      afterHour = false;
      break;
    case 'm':
      if (afterHour && n <= 2)
        out += n == 2 ? QStringLiteral("mm") : QStringLiteral("m");
      else
        out += QString(qMin(n, 4), QLatin1Char('M'));
      afterHour = false;
      break;
    case 'h':
      out += n >= 2 ? QStringLiteral("hh") : QStringLiteral("h");
      afterHour = true;
      break;
    case 'y':
      out += n <= 2 ? QStringLiteral("yy") : QStringLiteral("yyyy");
      afterHour = false;
      break;
    case 'd':
      out += QString(qMin(n, 4), QLatin1Char('d'));
      afterHour = false;
      break;
    case 's':
      out += n >= 2 ? QStringLiteral("ss") : QStringLiteral("s");
      afterHour = false;
      break;
    case 'z':
      out += n >= 3 ? QStringLiteral("zzz") : QStringLiteral("z");
      afterHour = false;
      break;
    case 't':
      out += n >= 2 ? QStringLiteral("h:mm:ss") : QStringLiteral("h:mm");
      afterHour = false;
      break;
    default:
      out += c.isLetter() ? quoted(f.mid(i, run)) : f.mid(i, run);
      break;
    }
    i += run;
  }
  return out;
}
