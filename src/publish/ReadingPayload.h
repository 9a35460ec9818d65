#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class QDateTime;
struct AlarmEvent;

// What a published reading says about its channel besides the value.
struct PublishChannel {
  int number = 0;  // 1-based channel number
  int address = 0; // meter address
  int port = 1;    // COM port number
};

// {"channel":n,"address":A,"port":"COMk","value":V,"ms":T,"time":"ISO"}: V with the given
// decimal places, T the whole milliseconds since the recording's start, ISO the UTC time of
// the sample (start + T) with milliseconds. A value JSON cannot hold (NaN, infinite) is null.
[[nodiscard]] QByteArray ReadingPayload(const PublishChannel &channel, double value, int decimals,
                                        double timeMs, qint64 startUtcMs);

// {"time":"ISO","ms":T,"channel":n,"title":"...","value":V,"limit":L,"event":"high"|"low"|"clear"}:
// the fields of the event's line in `<data file>.alarms.csv`, with the same time text and numbers
// that read back as the same doubles; n is 1-based. A number JSON cannot hold is null.
[[nodiscard]] QByteArray AlarmPayload(const AlarmEvent &event, const QDateTime &start);

// "<prefix>/channel/<n>"
[[nodiscard]] QByteArray ReadingTopic(const QString &prefix, int channelNumber);
// "<prefix>/alarm/<n>"
[[nodiscard]] QByteArray AlarmTopic(const QString &prefix, int channelNumber);
[[nodiscard]] QByteArray StatusTopic(const QString &prefix);
