#pragma once

// A real Mosquitto broker on a free loopback port with its own configuration, and a QoS 1
// subscriber through libmosquitto, for tests and benchmarks.

#include <mosquitto.h>

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

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
