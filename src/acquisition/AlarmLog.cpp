#include "acquisition/AlarmLog.h"

#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace {

// Shortest text that reads back as the same double, with a point.
QString NumberText(double v) { return QString::number(v, 'g', QLocale::FloatingPointShortest); }

QByteArray CsvField(const QString &text) {
  QByteArray utf8 = text.toUtf8();
  if (!utf8.contains(',') && !utf8.contains('"') && !utf8.contains('\n') && !utf8.contains('\r'))
    return utf8;
  utf8.replace("\"", "\"\"");
  return '"' + utf8 + '"';
}

// Splits one CSV record starting at `pos`; quoted fields may hold commas, quotes and line breaks.
std::optional<QStringList> NextRecord(const QString &text, qsizetype &pos) {
  QStringList fields;
  QString field;
  bool quoted = false;
  bool any = false;
  while (pos < text.size()) {
    const QChar c = text.at(pos++);
    any = true;
    if (quoted) {
      if (c == u'"') {
        if (pos < text.size() && text.at(pos) == u'"') {
          field += u'"';
          ++pos;
        } else {
          quoted = false;
        }
      } else {
        field += c;
      }
    } else if (c == u'"') {
      quoted = true;
    } else if (c == u',') {
      fields.append(field);
      field.clear();
    } else if (c == u'\n') {
      break;
    } else if (c != u'\r') {
      field += c;
    }
  }
  if (!any || quoted)
    return std::nullopt;
  fields.append(field);
  return fields;
}

} // namespace

AlarmMonitor::AlarmMonitor(const QList<AlarmLimits> &limits, QStringList titles) : m_titles(std::move(titles)) {
  m_rules.reserve(static_cast<std::size_t>(limits.size()));
  for (const AlarmLimits &l : limits) {
    m_rules.emplace_back(l);
    m_any = m_any || l.active();
  }
  while (m_titles.size() < limits.size())
    m_titles.append(QString());
}

void AlarmMonitor::feed(const TSampleRecord &s) {
  const qint32 ch = s.Channel;
  if (ch < 0 || static_cast<std::size_t>(ch) >= m_rules.size())
    return;
  const double value = s.Value;
  if (const auto change = m_rules[static_cast<std::size_t>(ch)].feed(value))
    m_events.append({s.Time, ch, m_titles.at(ch), value, change->limit, change->kind});
}

AlarmEventBatch AlarmMonitor::takeEvents() {
  AlarmEventBatch out;
  out.swap(m_events);
  return out;
}

AlarmEventBatch AlarmEventsOf(std::span<const TSampleRecord> samples, const QList<AlarmLimits> &limits,
                              const QStringList &titles) {
  AlarmMonitor monitor(limits, titles);
  for (const TSampleRecord &s : samples)
    monitor.feed(s);
  return monitor.takeEvents();
}

QString AlarmLog::TimeText(const QDateTime &start, double timeMs) {
  return start.toUTC().addMSecs(static_cast<qint64>(timeMs)).toString(Qt::ISODateWithMs);
}

QByteArray AlarmLog::Line(const AlarmEvent &e, const QDateTime &start) {
  QByteArray line = TimeText(start, e.timeMs).toUtf8();
  line += ',' + QByteArray::number(static_cast<qint64>(e.timeMs));
  line += ',' + QByteArray::number(e.channel + 1);
  line += ',' + CsvField(e.title);
  line += ',' + NumberText(e.value).toUtf8();
  line += ',' + NumberText(e.limit).toUtf8();
  line += ',' + AlarmEventName(e.kind).toUtf8();
  line += '\n';
  return line;
}

std::optional<QList<AlarmLogRow>> AlarmLog::Read(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return std::nullopt;
  const QString text = QString::fromUtf8(f.readAll());
  qsizetype pos = 0;
  const auto head = NextRecord(text, pos);
  if (!head || head->join(u',') + u'\n' != QString::fromLatin1(kHeader))
    return std::nullopt;
  QList<AlarmLogRow> rows;
  while (const auto rec = NextRecord(text, pos)) {
    if (rec->size() == 1 && rec->first().isEmpty())
      continue;
    if (rec->size() != 7)
      return std::nullopt;
    AlarmLogRow r;
    bool ok[4] = {};
    r.time = rec->at(0);
    r.ms = rec->at(1).toLongLong(&ok[0]);
    r.channel = rec->at(2).toInt(&ok[1]);
    r.title = rec->at(3);
    r.value = QLocale::c().toDouble(rec->at(4), &ok[2]);
    r.limit = QLocale::c().toDouble(rec->at(5), &ok[3]);
    const auto kind = AlarmEventFromName(rec->at(6));
    if (!kind || !std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; }))
      return std::nullopt;
    r.kind = *kind;
    rows.append(r);
  }
  return rows;
}

bool AlarmLog::open(const QString &path, const QDateTime &start) {
  m_start = start;
  m_file.setFileName(path);
  if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
    return false;
  return m_file.write(kHeader) == kHeader.size() && m_file.flush();
}

bool AlarmLog::append(std::span<const AlarmEvent> events) {
  QByteArray text;
  for (const AlarmEvent &e : events)
    text += Line(e, m_start);
  return m_file.write(text) == text.size() && m_file.flush();
}
