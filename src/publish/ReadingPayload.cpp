#include "publish/ReadingPayload.h"

#include "acquisition/AlarmLog.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
// "yyyy-MM-ddTHH:mm:ss.zzzZ" by arithmetic: QDateTime's formatting costs more than the rest
// of a message, and a catch-up after an outage formats tens of thousands a second.
void appendUtcTime(QByteArray &out, qint64 utcMs) {
  qint64 days = utcMs / 86400000;
  qint64 msOfDay = utcMs % 86400000;
  if (msOfDay < 0) {
    msOfDay += 86400000;
    --days;
  }
  // Civil date from days since 1970-01-01 (proleptic Gregorian).
  const qint64 z = days + 719468;
  const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
  const qint64 doe = z - era * 146097;
  const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const qint64 mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const qint64 year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char text[40];
  const int n = std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d.%03dZ",
                              static_cast<long long>(year), month, day, static_cast<int>(msOfDay / 3600000),
                              static_cast<int>(msOfDay / 60000 % 60), static_cast<int>(msOfDay / 1000 % 60),
                              static_cast<int>(msOfDay % 1000));
  out.append(text, n);
}

// Shortest text that reads back as the same double, as the event log writes it.
void appendExactNumber(QByteArray &out, double v) {
  if (std::isfinite(v))
    out += QString::number(v, 'g', QLocale::FloatingPointShortest).toLatin1();
  else
    out += "null";
}

void appendJsonString(QByteArray &out, const QString &text) {
  out += '"';
  for (const char c : text.toUtf8()) {
    switch (c) {
    case '"': out += "\\\""; break;
    case '\\': out += "\\\\"; break;
    case '\n': out += "\\n"; break;
    case '\r': out += "\\r"; break;
    case '\t': out += "\\t"; break;
    default:
      if (static_cast<unsigned char>(c) < 0x20) {
        char esc[8];
        std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(c));
        out += esc;
      } else {
        out += c; // UTF-8 bytes pass as they are
      }
    }
  }
  out += '"';
}
} // namespace

QByteArray ReadingPayload(const PublishChannel &c, double value, int decimals, double timeMs,
                          qint64 startUtcMs) {
  const qint64 ms = std::isfinite(timeMs) ? static_cast<qint64>(timeMs) : 0;
  QByteArray out;
  out.reserve(128);
  out += "{\"channel\":";
  out += QByteArray::number(c.number);
  out += ",\"address\":";
  out += QByteArray::number(c.address);
  out += ",\"port\":\"COM";
  out += QByteArray::number(c.port);
  out += "\",\"value\":";
  if (std::isfinite(value))
    out += QByteArray::number(value, 'f', std::clamp(decimals, 0, 15));
  else
    out += "null";
  out += ",\"ms\":";
  out += QByteArray::number(ms);
  out += ",\"time\":\"";
  appendUtcTime(out, startUtcMs + ms);
  out += "\"}";
  return out;
}

QByteArray ReadingTopic(const QString &prefix, int channelNumber) {
  return (prefix + QStringLiteral("/channel/") + QString::number(channelNumber)).toUtf8();
}

QByteArray AlarmPayload(const AlarmEvent &e, const QDateTime &start) {
  QByteArray out;
  out.reserve(160);
  out += "{\"time\":\"";
  out += AlarmLog::TimeText(start, e.timeMs).toLatin1();
  out += "\",\"ms\":";
  out += QByteArray::number(static_cast<qint64>(e.timeMs));
  out += ",\"channel\":";
  out += QByteArray::number(e.channel + 1);
  out += ",\"title\":";
  appendJsonString(out, e.title);
  out += ",\"value\":";
  appendExactNumber(out, e.value);
  out += ",\"limit\":";
  appendExactNumber(out, e.limit);
  out += ",\"event\":\"";
  out += AlarmEventName(e.kind).toLatin1();
  out += "\"}";
  return out;
}

QByteArray AlarmTopic(const QString &prefix, int channelNumber) {
  return (prefix + QStringLiteral("/alarm/") + QString::number(channelNumber)).toUtf8();
}

QByteArray StatusTopic(const QString &prefix) { return (prefix + QStringLiteral("/status")).toUtf8(); }
