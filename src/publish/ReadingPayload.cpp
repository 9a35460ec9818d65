#include "publish/ReadingPayload.h"

#include <QDateTime>


#include <algorithm>
#include <cmath>

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
  out += QDateTime::fromMSecsSinceEpoch(startUtcMs + ms, Qt::UTC)
             .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"))
             .toLatin1();
  out += "\"}";
  return out;
}

QByteArray ReadingTopic(const QString &prefix, int channelNumber) {
  return (prefix + QStringLiteral("/channel/") + QString::number(channelNumber)).toUtf8();
}

QByteArray StatusTopic(const QString &prefix) { return (prefix + QStringLiteral("/status")).toUtf8(); }
