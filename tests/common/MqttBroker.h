#pragma once

// A real Mosquitto broker on a free loopback port with its own configuration, a QoS 1
// subscriber through libmosquitto, and what that subscriber must have received of a recording,
// for tests and benchmarks.

#include "acquisition/SampleRecord.h"

#include <mosquitto.h>

#include <QDateTime>
#include <QString>

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include <pwd.h>
#include <unistd.h>

[[nodiscard]] inline quint16 FreeLoopbackPort() {
  QTcpServer s;
  if (!s.listen(QHostAddress::LocalHost, 0))
    return 0;
  return s.serverPort();
}

class MosquittoBroker {
public:
  // extra: more configuration lines for the listener (TLS, password file, ...).
  explicit MosquittoBroker(QString extra = {}) : m_extra(std::move(extra)) { m_port = FreeLoopbackPort(); }
  ~MosquittoBroker() { stop(); }

  [[nodiscard]] quint16 port() const { return m_port; }
  [[nodiscard]] QString dir() const { return m_dir.path(); }

  bool start() {
    const passwd *pw = getpwuid(getuid());
    QFile conf(m_dir.filePath(QStringLiteral("mosquitto.conf")));
    if (!conf.open(QIODevice::WriteOnly))
      return false;
    // persistence: a subscriber's session and its queued messages survive a restart.
    conf.write(QStringLiteral("per_listener_settings false\n"
                              "user %1\n"
                              "persistence true\n"
                              "persistence_location %2/\n"
                              "max_queued_messages 0\n"
                              "max_inflight_messages 100\n"
                              "log_dest none\n"
                              "listener %3 127.0.0.1\n%4\n")
                   .arg(QString::fromLocal8Bit(pw ? pw->pw_name : "root"), m_dir.path())
                   .arg(m_port)
                   .arg(m_extra.isEmpty() ? QStringLiteral("allow_anonymous true") : m_extra)
                   .toUtf8());
    conf.close();
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), conf.fileName()});
    if (!m_process.waitForStarted(5000))
      return false;
    // Ready once it accepts connections.
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
      QTcpSocket probe;
      probe.connectToHost(QHostAddress::LocalHost, m_port);
      if (probe.waitForConnected(200))
        return true;
      if (m_process.state() != QProcess::Running)
        return false;
      QThread::msleep(20);
    }
    return false;
  }

  void stop() {
    if (m_process.state() == QProcess::NotRunning)
      return;
    m_process.terminate(); // saves the persistence file
    if (!m_process.waitForFinished(5000)) {
      m_process.kill();
      m_process.waitForFinished(2000);
    }
  }

private:
  QTemporaryDir m_dir;
  QString m_extra;
  quint16 m_port = 0;
  QProcess m_process;
};

struct MqttMessage {
  QByteArray topic;
  QByteArray payload;
  bool retained = false;
};

// Subscribes to a filter with QoS 1 and a persistent session, reconnecting by itself.
class MqttSubscriber {
public:
  MqttSubscriber(quint16 port, QByteArray filter, QByteArray id = "zervo-test-subscriber")
      : m_filter(std::move(filter)) {
    mosquitto_lib_init();
    m_mosq = mosquitto_new(id.constData(), false, this);
    mosquitto_connect_callback_set(m_mosq, [](mosquitto *m, void *self, int rc) {
      if (rc == 0)
        mosquitto_subscribe(m, nullptr, static_cast<MqttSubscriber *>(self)->m_filter.constData(), 1);
    });
    mosquitto_subscribe_callback_set(m_mosq, [](mosquitto *, void *self, int, int, const int *) {
      auto *s = static_cast<MqttSubscriber *>(self);
      std::lock_guard lock(s->m_mutex);
      s->m_subscribed = true;
    });
    mosquitto_message_callback_set(m_mosq, [](mosquitto *, void *self, const mosquitto_message *msg) {
      auto *s = static_cast<MqttSubscriber *>(self);
      std::lock_guard lock(s->m_mutex);
      s->m_messages.push_back({QByteArray(msg->topic),
                               QByteArray(static_cast<const char *>(msg->payload), msg->payloadlen), msg->retain});
    });
    mosquitto_reconnect_delay_set(m_mosq, 1, 1, false);
    mosquitto_max_inflight_messages_set(m_mosq, 100);
    mosquitto_connect_async(m_mosq, "127.0.0.1", port, 30);
    mosquitto_loop_start(m_mosq);
  }
  ~MqttSubscriber() {
    mosquitto_disconnect(m_mosq);
    mosquitto_loop_stop(m_mosq, false);
    mosquitto_destroy(m_mosq);
  }
  [[nodiscard]] bool subscribed() const {
    std::lock_guard lock(m_mutex);
    return m_subscribed;
  }
  [[nodiscard]] std::vector<MqttMessage> messages() const {
    std::lock_guard lock(m_mutex);
    return m_messages;
  }
  [[nodiscard]] qsizetype count() const {
    std::lock_guard lock(m_mutex);
    return static_cast<qsizetype>(m_messages.size());
  }

private:
  QByteArray m_filter;
  mosquitto *m_mosq = nullptr;
  mutable std::mutex m_mutex;
  bool m_subscribed = false;
  std::vector<MqttMessage> m_messages;
};

// The samples of a recording file with the given number of channels, in file order.
[[nodiscard]] inline std::vector<TSampleRecord> FileSamples(const QString &path, int channels) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return {};
  const QByteArray all = f.readAll();
  const qsizetype head = 30 + 82 * channels;
  if (all.size() < head)
    return {};
  std::vector<TSampleRecord> out(static_cast<size_t>((all.size() - head) / 20));
  memcpy(out.data(), all.constData() + head, out.size() * 20);
  return out;
}

// A reading's payload as its reader expects it, built here independently of the publisher.
[[nodiscard]] inline QByteArray ExpectedPayload(int number, int address, int port, double value, int decimals,
                                                double timeMs, qint64 startMs) {
  const QString time =
      QDateTime::fromMSecsSinceEpoch(startMs + qint64(timeMs), Qt::UTC).toString(Qt::ISODateWithMs);
  return QString::asprintf(R"({"channel":%d,"address":%d,"port":"COM%d","value":%.*f,"ms":%lld,"time":"%s"})",
                           number, address, port, decimals, value, qint64(timeMs), qPrintable(time))
      .toUtf8();
}

// Per channel topic "<prefix>/channel/<n>", the messages must be the file's samples of that
// channel (payloadOf) in file order; with allowDuplicates a message may repeat one already seen
// (QoS 1 around a reconnection), but none may be missing or out of order. Returns what is
// wrong, empty when nothing is.
[[nodiscard]] inline QString ArrivalProblem(const std::vector<MqttMessage> &messages, const QByteArray &prefix,
                                            const std::vector<TSampleRecord> &file,
                                            const std::function<QByteArray(const TSampleRecord &)> &payloadOf,
                                            bool allowDuplicates) {
  std::map<QByteArray, std::vector<QByteArray>> got, want;
  for (const MqttMessage &m : messages)
    if (m.topic.startsWith(prefix + "/channel/"))
      got[m.topic].push_back(m.payload);
  for (const TSampleRecord &r : file) {
    const qint32 ch = r.Channel;
    want[prefix + "/channel/" + QByteArray::number(ch + 1)].push_back(payloadOf(r));
  }
  if (got.size() != want.size())
    return QStringLiteral("%1 channel topics arrived, %2 expected").arg(got.size()).arg(want.size());
  for (const auto &[topic, expected] : want) {
    const std::vector<QByteArray> &arrived = got[topic];
    if (!allowDuplicates && arrived.size() != expected.size())
      return QStringLiteral("%1: %2 messages, %3 samples").arg(QString::fromUtf8(topic)).arg(arrived.size()).arg(expected.size());
    size_t next = 0;
    std::map<QByteArray, bool> seen;
    for (const QByteArray &p : arrived) {
      if (next < expected.size() && p == expected[next]) {
        seen[p] = true;
        ++next;
      } else if (!allowDuplicates || !seen.count(p)) {
        return QStringLiteral("%1: message %2 is %3, expected %4")
            .arg(QString::fromUtf8(topic))
            .arg(next)
            .arg(QString::fromUtf8(p), next < expected.size() ? QString::fromUtf8(expected[next]) : QStringLiteral("none"));
      }
    }
    if (next != expected.size())
      return QStringLiteral("%1: %2 of %3 samples arrived").arg(QString::fromUtf8(topic)).arg(next).arg(expected.size());
  }
  return {};
}

// The lines of an alarm event log after its header, without line ends; empty when the file
// cannot be read or its first line is not the header.
[[nodiscard]] inline QList<QByteArray> AlarmLogLines(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return {};
  QList<QByteArray> lines = f.readAll().split('\n');
  if (lines.takeFirst() != "time,ms,channel,title,value,limit,event")
    return {};
  if (!lines.isEmpty() && lines.last().isEmpty())
    lines.removeLast();
  return lines;
}

// A log line's fields as the alarm payload must carry them, built from the line's own texts.
// For titles without comma or quote, so the line splits at every comma.
[[nodiscard]] inline QByteArray AlarmPayloadFromLogLine(const QByteArray &line) {
  const QList<QByteArray> f = line.split(',');
  if (f.size() != 7)
    return "bad line: " + line;
  return "{\"time\":\"" + f[0] + "\",\"ms\":" + f[1] + ",\"channel\":" + f[2] + ",\"title\":\"" + f[3] +
         "\",\"value\":" + f[4] + ",\"limit\":" + f[5] + ",\"event\":\"" + f[6] + "\"}";
}

// "<topic> <payload>" of every message under "<prefix>/alarm/", in arrival order; a retained
// one is marked, as alarms must never be.
[[nodiscard]] inline QList<QByteArray> AlarmMessages(const std::vector<MqttMessage> &messages,
                                                     const QByteArray &prefix) {
  QList<QByteArray> list;
  for (const MqttMessage &m : messages)
    if (m.topic.startsWith(prefix + "/alarm/"))
      list.append((m.retained ? "retained " : "") + m.topic + ' ' + m.payload);
  return list;
}

// The status messages in arrival order. A publisher whose connection is up before its first
// recording begins says "idle" first; that one is left out, so a recording reads the same
// whichever came first.
[[nodiscard]] inline QList<QByteArray> Statuses(const std::vector<MqttMessage> &messages, const QByteArray &prefix) {
  QList<QByteArray> list;
  for (const MqttMessage &m : messages)
    if (m.topic == prefix + "/status" && !(list.isEmpty() && m.payload == "idle"))
      list.append(m.payload);
  return list;
}
