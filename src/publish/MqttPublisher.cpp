#include "publish/MqttPublisher.h"

#include "acquisition/ChannelFormats.h"
#include "comm/MeterTable.h"
#include "acquisition/DataFile.h"

#include <mosquitto.h>

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include <sys/syscall.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

void initLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

constexpr int kFileChunk = 4096; // samples read back from the file at once

} // namespace

struct MqttPublisher::Worker {
  MqttPublisher *owner;
  MqttSettings settings;
  Limits limits;
  QByteArray statusTopic;

  // Shared with the feeding threads; guarded by mutex.
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::deque<TSampleRecord> memory; // samples memStart .. memStart + size - 1
  qint64 memStart = 0;
  qint64 receivedCount = 0;
  quint64 generation = 0; // a new recording starts a new one
  bool recording = false;
  bool ending = false;    // endRecording: "idle" once everything is acknowledged
  bool idleSent = true;   // "idle" (or nothing) is the status the broker holds for us
  bool quit = false;
  QString path;
  QList<PublishChannel> channels;
  QList<int> decimals;
  const MeterTable *meters = nullptr;
  qint64 startUtcMs = 0;
  QDateTime startTime;
  // Alarm messages alarmsStart .. alarmsStart + size - 1, kept until acknowledged. Numbered over
  // the publisher's life: a new recording does not drop them.
  struct AlarmMessage {
    QByteArray topic, payload;
  };
  std::deque<AlarmMessage> alarms;
  qint64 alarmsStart = 0;
  qint64 alarmsReceived = 0;

  std::atomic<qint64> publishedCount{0};
  std::atomic<qint64> receivedAtomic{0};
  std::atomic<qint64> alarmsPublishedCount{0};
  std::atomic<qint64> alarmsReceivedAtomic{0};
  std::atomic<int> stateCode{static_cast<int>(State::Connecting)};
  std::atomic<int> tid{0};
  QString stateDetail; // guarded by mutex

  // Worker thread only.
  mosquitto *mosq = nullptr;
  bool connected = false;
  bool connecting = false;
  bool dropAfterLoop = false;
  Clock::time_point connectStarted;
  // This recording's parameters, copied when the worker takes it up.
  QString wPath;
  QList<PublishChannel> wChannels;
  QList<int> wDecimals;
  const MeterTable *wMeters = nullptr;
  qint64 wStartUtcMs = 0;
  Clock::time_point nextAttempt;
  quint64 workGeneration = ~quint64(0);
  qint64 next = 0;     // index of the next sample to send
  qint64 frontier = 0; // every sample below is acknowledged
  struct Inflight {
    int mid;
    qint64 index;
    bool acked;
  };
  std::deque<Inflight> inflight;
  qint64 alarmNext = 0;     // index of the next alarm to send
  qint64 alarmFrontier = 0; // every alarm below is acknowledged
  std::deque<Inflight> alarmInflight;
  int statusMid = -1;
  QByteArray statusOnBroker; // what we last published and had acknowledged
  QByteArray statusSending;
  QFile file;
  std::vector<TSampleRecord> chunk;
  qint64 chunkStart = 0;
  std::vector<QByteArray> topics;
  QString lastTlsLog;
  std::thread thread;

  Worker(MqttPublisher *o, MqttSettings s, Limits l)
      : owner(o), settings(std::move(s)), limits(l), statusTopic(StatusTopic(settings.topicPrefix)) {}

  void setState(State s, const QString &detail) {
    {
      std::lock_guard lock(mutex);
      if (stateCode.load() == static_cast<int>(s) && stateDetail == detail)
        return;
      stateDetail = detail;
      stateCode.store(static_cast<int>(s));
    }
    emit owner->stateChanged(s, MqttPublisher::StateName(s) + (detail.isEmpty() ? QString() : QStringLiteral(": ") + detail));
  }

  // --- libmosquitto callbacks, all on this thread (we run the network loop ourselves) ---
  static void onConnect(mosquitto *, void *self, int rc) {
    auto *w = static_cast<Worker *>(self);
    w->connecting = false;
    if (rc == 0) {
      w->connected = true;
      w->setState(State::Connected, QString());
      return;
    }
    w->connected = false;
    // 4: bad user name or password, 5: not authorised (MQTT 3.1.1 CONNACK codes).
    const QString why = (rc == 4 || rc == 5) ? QStringLiteral("登录被拒绝")
                                             : QString::fromUtf8(mosquitto_connack_string(rc));
    w->setState(State::Refused, why);
    w->dropAfterLoop = true; // not from inside the library's own call
  }
  static void onDisconnect(mosquitto *, void *self, int) {
    auto *w = static_cast<Worker *>(self);
    w->connected = false;
  }
  static void onPublish(mosquitto *, void *self, int mid) { static_cast<Worker *>(self)->acked(mid); }
  static void onLog(mosquitto *, void *self, int, const char *text) {
    if (text && std::strstr(text, "OpenSSL"))
      static_cast<Worker *>(self)->lastTlsLog = QString::fromUtf8(text);
  }

  void acked(int mid) {
    if (mid == statusMid) {
      statusMid = -1;
      statusOnBroker = statusSending;
      return;
    }
    if (alarmAcked(mid))
      return;
    for (Inflight &f : inflight)
      if (f.mid == mid) {
        f.acked = true;
        break;
      }
    bool moved = false;
    while (!inflight.empty() && inflight.front().acked) {
      frontier = inflight.front().index + 1;
      inflight.pop_front();
      moved = true;
    }
    if (inflight.empty() && frontier < next)
      frontier = next;
    if (moved)
      afterAck();
  }

  void afterAck() {
    std::lock_guard lock(mutex);
    if (generation != workGeneration)
      return;
    publishedCount.store(frontier);
    while (!memory.empty() && memStart < frontier) {
      memory.pop_front();
      ++memStart;
    }
    changed.notify_all();
  }

  bool alarmAcked(int mid) {
    const auto it = std::find_if(alarmInflight.begin(), alarmInflight.end(), [mid](const Inflight &f) { return f.mid == mid; });
    if (it == alarmInflight.end())
      return false;
    it->acked = true;
    bool moved = false;
    while (!alarmInflight.empty() && alarmInflight.front().acked) {
      alarmFrontier = alarmInflight.front().index + 1;
      alarmInflight.pop_front();
      moved = true;
    }
    if (moved)
      afterAlarmAck();
    return true;
  }

  void afterAlarmAck() {
    std::lock_guard lock(mutex);
    alarmsPublishedCount.store(alarmFrontier);
    while (!alarms.empty() && alarmsStart < alarmFrontier) {
      alarms.pop_front();
      ++alarmsStart;
    }
    changed.notify_all();
  }

  // Forgets the connection and everything in flight on it: what was not acknowledged is sent
  // again on the next one.
  void dropConnection() {
    if (mosq) {
      mosquitto_disconnect(mosq);
      mosquitto_destroy(mosq);
      mosq = nullptr;
    }
    connected = false;
    connecting = false;
    dropAfterLoop = false;
    inflight.clear();
    next = frontier;
    alarmInflight.clear();
    alarmNext = alarmFrontier;
    statusMid = -1;
    statusOnBroker.clear();
    nextAttempt = Clock::now() + limits.retryInterval;
  }

  void tryConnect() {
    initLibrary();
    const QByteArray id = settings.effectiveClientId().toUtf8();
    mosq = mosquitto_new(id.constData(), true, this);
    if (!mosq) {
      setState(State::Unreachable, QStringLiteral("客户端创建失败"));
      nextAttempt = Clock::now() + limits.retryInterval;
      return;
    }
    mosquitto_connect_callback_set(mosq, &Worker::onConnect);
    mosquitto_disconnect_callback_set(mosq, &Worker::onDisconnect);
    mosquitto_publish_callback_set(mosq, &Worker::onPublish);
    mosquitto_log_callback_set(mosq, &Worker::onLog);
    mosquitto_max_inflight_messages_set(
        mosq, static_cast<unsigned>(limits.maxInflight) + static_cast<unsigned>(limits.maxAlarmsInflight) + 1);
    mosquitto_will_set(mosq, statusTopic.constData(), 7, "offline", 1, true);
    if (!settings.username.isEmpty()) {
      const QByteArray u = settings.username.toUtf8(), p = settings.password.toUtf8();
      mosquitto_username_pw_set(mosq, u.constData(), settings.password.isEmpty() ? nullptr : p.constData());
    }
    if (settings.tls) {
      const QByteArray ca = settings.caFile.toLocal8Bit();
      // Without a CA file the system's authorities decide.
      const int rc = ca.isEmpty() ? mosquitto_tls_set(mosq, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
                                  : mosquitto_tls_set(mosq, ca.constData(), nullptr, nullptr, nullptr, nullptr);
      if (rc != MOSQ_ERR_SUCCESS) {
        setState(State::TlsFailed, QString::fromUtf8(mosquitto_strerror(rc)) + QLatin1Char(' ') + settings.caFile);
        dropConnection();
        return;
      }
      mosquitto_tls_opts_set(mosq, 1 /* verify the peer */, nullptr, nullptr);
      mosquitto_tls_insecure_set(mosq, false); // and its name
    }
    lastTlsLog.clear();
    const QByteArray host = settings.host.toUtf8();
    const int rc = mosquitto_connect_async(mosq, host.constData(), settings.port, settings.keepAlive);
    if (rc != MOSQ_ERR_SUCCESS) {
      failed(rc, errno);
      return;
    }
    connecting = true;
    connectStarted = Clock::now();
  }

  void failed(int rc, int err) {
    if (rc == MOSQ_ERR_TLS)
      setState(State::TlsFailed, lastTlsLog.isEmpty() ? QStringLiteral("证书验证失败") : lastTlsLog);
    else if (rc == MOSQ_ERR_ERRNO)
      setState(State::Unreachable, QString::fromLocal8Bit(std::strerror(err)));
    else if (stateCode.load() != static_cast<int>(State::Refused))
      setState(State::Unreachable, QString::fromUtf8(mosquitto_strerror(rc)));
    dropConnection();
  }

  // The sample at index i: from memory, else from the recording file.
  bool sampleAt(qint64 i, TSampleRecord *out) {
    {
      std::lock_guard lock(mutex);
      if (generation != workGeneration)
        return false;
      if (i >= memStart && i < memStart + static_cast<qint64>(memory.size())) {
        *out = memory[static_cast<size_t>(i - memStart)];
        return true;
      }
    }
    if (i >= chunkStart && i < chunkStart + static_cast<qint64>(chunk.size())) {
      *out = chunk[static_cast<size_t>(i - chunkStart)];
      return true;
    }
    if (!file.isOpen()) {
      file.setFileName(wPath);
      if (!file.open(QIODevice::ReadOnly))
        return false;
    }
    const qint64 head = DataFileFormat::kHeadSize + DataFileFormat::kChannelRecordSize * wChannels.size();
    chunk.resize(kFileChunk);
    if (!file.seek(head + i * DataFileFormat::kSampleSize))
      return false;
    const qint64 got = file.read(reinterpret_cast<char *>(chunk.data()), kFileChunk * DataFileFormat::kSampleSize);
    chunk.resize(static_cast<size_t>(std::max<qint64>(got, 0) / DataFileFormat::kSampleSize));
    chunkStart = i;
    if (chunk.empty())
      return false;
    *out = chunk.front();
    return true;
  }

  void startGeneration() {
    // Worker-side state of a new recording.
    std::lock_guard lock(mutex);
    workGeneration = generation;
    next = frontier = 0;
    inflight.clear();
    file.close();
    chunk.clear();
    chunkStart = 0;
    wPath = path;
    wChannels = channels;
    wDecimals = decimals;
    wMeters = meters;
    wStartUtcMs = startUtcMs;
    topics.clear();
    for (const PublishChannel &c : wChannels)
      topics.push_back(ReadingTopic(settings.topicPrefix, c.number));
  }

  int decimalsOf(int ch) const {
    if (wMeters && ch >= 0 && ch < kMeterSlots) {
      // The communication thread updates it as replies come in (see TdmCom::applyReading).
      auto &places = const_cast<qint32 &>(wMeters->Meters[static_cast<size_t>(ch)].MeterPrecision);
      return std::atomic_ref<qint32>(places).load(std::memory_order_relaxed);
    }
    if (ch >= 0 && ch < wDecimals.size())
      return wDecimals[ch];
    return ChannelFormats::kDefaultPrecision;
  }

  // Sends what the in-flight window allows; returns whether anything went out.
  bool sendSome() {
    bool sent = false;
    qint64 avail;
    {
      std::lock_guard lock(mutex);
      avail = receivedCount;
    }
    const bool qos0 = settings.qos == 0;
    while (next < avail && (qos0 || static_cast<int>(inflight.size()) < limits.maxInflight)) {
      TSampleRecord r;
      if (!sampleAt(next, &r))
        break; // not readable yet; again on the next turn
      const qint32 ch = r.Channel;
      if (ch < 0 || ch >= wChannels.size()) {
        // Not a channel of this recording: nothing to publish, but it counts as done.
        skip();
        continue;
      }
      const QByteArray payload = ReadingPayload(wChannels[ch], r.Value, decimalsOf(ch), r.Time, wStartUtcMs);
      int mid = 0;
      const int rc = mosquitto_publish(mosq, &mid, topics[static_cast<size_t>(ch)].constData(),
                                       static_cast<int>(payload.size()), payload.constData(), settings.qos, false);
      if (rc != MOSQ_ERR_SUCCESS) {
        failed(rc, errno);
        return sent;
      }
      sent = true;
      if (qos0) {
        frontier = ++next;
        afterAck();
      } else {
        inflight.push_back({mid, next, false});
        ++next;
      }
    }
    return sent;
  }

  // The alarms waiting go out in order, within their own window so that a backlog of readings
  // never holds them up.
  bool sendAlarms() {
    bool sent = false;
    const bool qos0 = settings.qos == 0;
    while (qos0 || static_cast<int>(alarmInflight.size()) < limits.maxAlarmsInflight) {
      AlarmMessage m;
      {
        std::lock_guard lock(mutex);
        if (alarmNext >= alarmsStart + static_cast<qint64>(alarms.size()))
          break;
        m = alarms[static_cast<size_t>(alarmNext - alarmsStart)];
      }
      int mid = 0;
      const int rc = mosquitto_publish(mosq, &mid, m.topic.constData(), static_cast<int>(m.payload.size()),
                                       m.payload.constData(), settings.qos, false);
      if (rc != MOSQ_ERR_SUCCESS) {
        failed(rc, errno);
        return sent;
      }
      sent = true;
      if (qos0) {
        alarmFrontier = ++alarmNext;
        afterAlarmAck();
      } else {
        alarmInflight.push_back({mid, alarmNext, false});
        ++alarmNext;
      }
    }
    return sent;
  }

  void skip() {
    if (inflight.empty()) {
      frontier = ++next;
      afterAck();
    } else {
      inflight.push_back({-1, next, true});
      ++next;
    }
  }

  void sendStatus() {
    QByteArray want;
    {
      std::lock_guard lock(mutex);
      if (ending && frontier == receivedCount && workGeneration == generation && inflight.empty() && alarms.empty()) {
        ending = false;
        recording = false;
      }
      want = recording ? QByteArrayLiteral("recording") : QByteArrayLiteral("idle");
      idleSent = !recording && statusOnBroker == "idle";
      if (idleSent)
        changed.notify_all();
    }
    if (statusMid != -1 || want == statusOnBroker)
      return;
    int mid = 0;
    statusSending = want;
    const int rc = mosquitto_publish(mosq, &mid, statusTopic.constData(), static_cast<int>(want.size()),
                                     want.constData(), 1, true);
    if (rc != MOSQ_ERR_SUCCESS) {
      failed(rc, errno);
      return;
    }
    statusMid = mid;
  }

  void run() {
    tid.store(static_cast<int>(::syscall(SYS_gettid)));
    nextAttempt = Clock::now();
    for (;;) {
      {
        std::lock_guard lock(mutex);
        if (quit)
          break;
      }
      quint64 gen;
      {
        std::lock_guard lock(mutex);
        gen = generation;
      }
      if (gen != workGeneration)
        startGeneration();
      if (!mosq) {
        if (Clock::now() >= nextAttempt)
          tryConnect();
        if (!mosq) {
          std::unique_lock lock(mutex);
          changed.wait_for(lock, std::chrono::milliseconds(50), [this] { return quit; });
          continue;
        }
      }
      if (connecting && Clock::now() - connectStarted > limits.connectTimeout) {
        setState(State::NoAnswer, QStringLiteral("%1 秒内未收到应答").arg(limits.connectTimeout.count() / 1000));
        dropConnection();
        continue;
      }
      bool busy = false;
      if (connected) {
        busy = sendAlarms();
        if (mosq && connected)
          busy = sendSome() || busy;
        if (mosq && connected)
          sendStatus();
      }
      if (!mosq)
        continue;
      // A short wait on the socket: long enough not to spin, short enough that a new batch
      // goes out at once.
      const int rc = mosquitto_loop(mosq, busy ? 0 : 5, 1);
      if (rc != MOSQ_ERR_SUCCESS) {
        failed(rc, errno);
        continue;
      }
      if (dropAfterLoop) {
        dropConnection();
        continue;
      }
      if (mosq && !connected && !connecting) {
        // The broker closed the connection.
        setState(State::Unreachable, QStringLiteral("连接已断开"));
        dropConnection();
      }
    }
    // Say goodbye: a clean disconnect does not fire the will, so "offline" is published here.
    if (mosq && connected) {
      int mid = 0;
      statusSending = QByteArrayLiteral("offline");
      if (mosquitto_publish(mosq, &mid, statusTopic.constData(), 7, "offline", 1, true) == MOSQ_ERR_SUCCESS) {
        statusMid = mid;
        const auto until = Clock::now() + std::chrono::seconds(2);
        while (statusMid != -1 && connected && Clock::now() < until)
          if (mosquitto_loop(mosq, 10, 1) != MOSQ_ERR_SUCCESS)
            break;
      }
    }
    if (mosq) {
      mosquitto_disconnect(mosq);
      mosquitto_loop(mosq, 10, 1);
      mosquitto_destroy(mosq);
      mosq = nullptr;
    }
  }
};

MqttPublisher::MqttPublisher(MqttSettings settings, QObject *parent)
    : MqttPublisher(std::move(settings), Limits{}, parent) {}

MqttPublisher::MqttPublisher(MqttSettings settings, Limits limits, QObject *parent)
    : QObject(parent), m_settings(std::move(settings)) {
  qRegisterMetaType<MqttPublisher::State>();
  m_worker = std::make_unique<Worker>(this, m_settings, limits);
  m_worker->thread = std::thread([w = m_worker.get()] { w->run(); });
}

MqttPublisher::~MqttPublisher() {
  {
    std::lock_guard lock(m_worker->mutex);
    m_worker->quit = true;
  }
  m_worker->changed.notify_all();
  m_worker->thread.join();
}

void MqttPublisher::beginRecording(const QString &dataFile, const QList<PublishChannel> &channels,
                                   const QDateTime &startTime, const MeterTable *meters,
                                   const QList<int> &decimals) {
  Worker &w = *m_worker;
  std::lock_guard lock(w.mutex);
  ++w.generation;
  w.path = dataFile;
  w.channels = channels;
  w.meters = meters;
  w.decimals = decimals;
  w.startUtcMs = startTime.toMSecsSinceEpoch();
  w.startTime = startTime;
  w.memory.clear();
  w.memStart = 0;
  w.receivedCount = 0;
  w.receivedAtomic.store(0);
  w.publishedCount.store(0);
  w.recording = true;
  w.ending = false;
  w.idleSent = false;
}

void MqttPublisher::publish(const QVector<TSampleRecord> &batch) {
  Worker &w = *m_worker;
  std::lock_guard lock(w.mutex);
  if (!w.recording)
    return;
  for (const TSampleRecord &r : batch) {
    if (w.memory.empty())
      w.memStart = w.receivedCount;
    // Contiguous in memory up to the bound; the rest is read back from the file.
    if (w.memStart + static_cast<qint64>(w.memory.size()) == w.receivedCount &&
        static_cast<qint64>(w.memory.size()) < w.limits.memoryBound)
      w.memory.push_back(r);
    ++w.receivedCount;
  }
  w.receivedAtomic.store(w.receivedCount);
}

void MqttPublisher::publishAlarms(const AlarmEventBatch &events) {
  Worker &w = *m_worker;
  std::lock_guard lock(w.mutex);
  if (!w.recording)
    return;
  for (const AlarmEvent &e : events)
    w.alarms.push_back({AlarmTopic(w.settings.topicPrefix, e.channel + 1), AlarmPayload(e, w.startTime)});
  w.alarmsReceived += events.size();
  w.alarmsReceivedAtomic.store(w.alarmsReceived);
}

void MqttPublisher::endRecording() {
  Worker &w = *m_worker;
  std::lock_guard lock(w.mutex);
  if (w.recording)
    w.ending = true;
}

bool MqttPublisher::waitUntilDrained(std::chrono::milliseconds timeout) {
  Worker &w = *m_worker;
  std::unique_lock lock(w.mutex);
  return w.changed.wait_for(lock, timeout, [&w] {
    const bool all = w.publishedCount.load() == w.receivedCount && w.alarmsPublishedCount.load() == w.alarmsReceived;
    return all && (!w.ending && (w.recording || w.idleSent));
  });
}

qint64 MqttPublisher::published() const { return m_worker->publishedCount.load(); }
qint64 MqttPublisher::received() const { return m_worker->receivedAtomic.load(); }
qint64 MqttPublisher::pending() const { return received() - published(); }
qint64 MqttPublisher::alarmsPublished() const { return m_worker->alarmsPublishedCount.load(); }
qint64 MqttPublisher::alarmsPending() const {
  return m_worker->alarmsReceivedAtomic.load() - m_worker->alarmsPublishedCount.load();
}
MqttPublisher::State MqttPublisher::state() const { return static_cast<State>(m_worker->stateCode.load()); }
int MqttPublisher::threadId() const { return m_worker->tid.load(); }

QString MqttPublisher::StateName(State s) {
  switch (s) {
  case State::Connecting: return QStringLiteral("正在连接");
  case State::Connected: return QStringLiteral("已连接");
  case State::NoAnswer: return QStringLiteral("服务器无应答");
  case State::Refused: return QStringLiteral("连接被拒绝");
  case State::TlsFailed: return QStringLiteral("证书验证失败");
  case State::Unreachable: return QStringLiteral("无法连接");
  }
  return QString();
}

QString MqttPublisher::stateText() const {
  QString detail;
  State s;
  {
    std::lock_guard lock(m_worker->mutex);
    detail = m_worker->stateDetail;
    s = static_cast<State>(m_worker->stateCode.load());
  }
  return detail.isEmpty() ? StateName(s) : StateName(s) + QStringLiteral(": ") + detail;
}

QString MqttPublisher::summaryText() const {
  const qint64 p = published(), r = received();
  return QStringLiteral("MQTT %1 已发布 %2 待发布 %3").arg(StateName(state())).arg(p).arg(r - p);
}
