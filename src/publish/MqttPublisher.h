#pragma once

#include "acquisition/AlarmLog.h"
#include "acquisition/SampleRecord.h"
#include "publish/MqttSettings.h"
#include "publish/ReadingPayload.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>
#include <chrono>
#include <memory>

class MeterTable;

// Publishes every reading of a recording to an MQTT broker, one QoS message per reading, in
// ring order, from its own thread. The recording never waits for it: publish() only appends to
// a queue. While the broker cannot be reached the readings wait, in memory up to a bound and
// beyond that in the recording file itself, and go out in order once it is back; readings not
// yet acknowledged when a connection drops are sent again (so duplicates appear only around a
// reconnection). A retained "<prefix>/status" says "recording", "idle" or, as the last will,
// "offline". Each alarm event goes to "<prefix>/alarm/<n>" at the readings' QoS, not retained:
// a late subscriber would otherwise take an old "high" for the state now. The events wait in
// memory however long the broker is away (they are rare and small), also across recordings,
// and go out in order, before the readings waiting with them.
//
// Used alike by the desktop program and by a recorder without a window: construct, call
// beginRecording() when the read thread starts, feed it every TReadThread::samples batch,
// and every TReadThread::alarms batch, endRecording() at stop, and destroy it (or
// waitUntilDrained() first) when done.
class MqttPublisher : public QObject {
  Q_OBJECT
public:
  enum class State {
    Connecting = 0,
    Connected = 1,
    NoAnswer = 2,    // the connection opened but the broker never acknowledged it
    Refused = 3,     // the broker refused the login or the client
    TlsFailed = 4,   // the broker's certificate was not accepted, or the handshake failed
    Unreachable = 5, // no connection (wrong host or port, broker down)
  };
  Q_ENUM(State)

  struct Limits {
    qint64 memoryBound = 500000; // readings held in memory while waiting; the rest from the file
    // Unacknowledged QoS 1/2 messages at a time. The drain rate after an outage is this window
    // over the broker's round trip, so it is wide: the broker takes it (it limits only what it
    // sends), and a lost connection sends it again at most.
    int maxInflight = 8000;
    int maxAlarmsInflight = 100; // besides the readings' window
    std::chrono::milliseconds connectTimeout{10000};
    std::chrono::milliseconds retryInterval{1000};
  };

  explicit MqttPublisher(MqttSettings settings, QObject *parent = nullptr);
  MqttPublisher(MqttSettings settings, Limits limits, QObject *parent = nullptr);
  // Publishes "offline", disconnects and ends the thread; readings still pending are dropped.
  ~MqttPublisher() override;
  MqttPublisher(const MqttPublisher &) = delete;
  MqttPublisher &operator=(const MqttPublisher &) = delete;

  // A new recording: its data file (30 + 82 * channels.size() bytes of head, then 20-byte
  // samples), its channels indexed by channel index, and the wall-clock time of its start
  // (SampleRing::startTime). meters, when given, supplies each channel's meter's current decimal
  // places (a meter may report another precision while recording; the channel's display
  // precision is not the meter's); it must outlive the recording. Without it, decimals.
  // Readings of an earlier recording still pending are dropped.
  void beginRecording(const QString &dataFile, const QList<PublishChannel> &channels,
                      const QDateTime &startTime, const MeterTable *meters,
                      const QList<int> &decimals = {});
  // Readings in ring order, exactly as the read thread hands them out. Any thread; never blocks
  // on the network.
  void publish(const QVector<TSampleRecord> &batch);
  // Alarm events of this recording in the order they happened, as the read thread hands them
  // out. Any thread; never blocks on the network.
  void publishAlarms(const AlarmEventBatch &events);
  // The readings and alarms still pending go out, then the status becomes "idle".
  void endRecording();
  // Waits until every reading and alarm received so far is acknowledged (and "idle" is out
  // after endRecording); false on time-out.
  bool waitUntilDrained(std::chrono::milliseconds timeout);

  [[nodiscard]] qint64 published() const; // acknowledged readings of this recording
  [[nodiscard]] qint64 pending() const;   // received but not yet acknowledged
  [[nodiscard]] qint64 received() const;
  [[nodiscard]] qint64 alarmsPublished() const; // acknowledged alarm events, all recordings
  [[nodiscard]] qint64 alarmsPending() const;
  [[nodiscard]] State state() const;
  // The state for the operator, with the reason where there is one.
  [[nodiscard]] QString stateText() const;
  // "MQTT <state> 已发布 n 待发布 m"
  [[nodiscard]] QString summaryText() const;
  // The worker thread's kernel id, for CPU measurements; 0 before it runs.
  [[nodiscard]] int threadId() const;
  [[nodiscard]] const MqttSettings &settings() const { return m_settings; }

  [[nodiscard]] static QString StateName(State state);

signals:
  // From the publisher's thread; connect queued.
  void stateChanged(MqttPublisher::State state, const QString &text);

private:
  struct Worker;
  MqttSettings m_settings;
  std::unique_ptr<Worker> m_worker;
};
