#include "publish/MqttSettings.h"

#include "app/ProfileStore.h"

#include <QCoreApplication>
#include <QFile>
#include <QSysInfo>

#include <algorithm>

MqttSettings MqttSettings::load(const ProfileStore &s) {
  MqttSettings m;
  const QString &S = kSection;
  m.enabled = s.readBool(S, QStringLiteral("Enabled"), false);
  m.host = s.readString(S, QStringLiteral("Host"), m.host).trimmed();
  m.port = s.readInteger(S, QStringLiteral("Port"), m.port);
  if (m.port < 1 || m.port > 65535)
    m.port = 1883;
  m.topicPrefix = s.readString(S, QStringLiteral("TopicPrefix"), m.topicPrefix);
  m.clientId = s.readString(S, QStringLiteral("ClientId"), QString());
  m.username = s.readString(S, QStringLiteral("Username"), QString());
  m.password = s.readString(S, QStringLiteral("Password"), QString());
  // MQTT knows QoS 0, 1 and 2 only.
  m.qos = std::clamp(s.readInteger(S, QStringLiteral("QoS"), m.qos), 0, 2);
  m.keepAlive = std::clamp(s.readInteger(S, QStringLiteral("KeepAlive"), m.keepAlive), 5, 65535);
  m.tls = s.readBool(S, QStringLiteral("Tls"), false);
  m.caFile = s.readString(S, QStringLiteral("CaFile"), QString());
  return m;
}

bool MqttSettings::save(ProfileStore &s) const {
  const QString &S = kSection;
  const auto b = [](bool v) { return v ? QStringLiteral("1") : QStringLiteral("0"); };
  // Restrict the file before the password reaches it, so it is never readable by others.
  if (!password.isEmpty() && QFile::exists(s.path()))
    QFile::setPermissions(s.path(), QFile::ReadOwner | QFile::WriteOwner);
  const bool ok = s.writeEntries({{S, QStringLiteral("Enabled"), b(enabled)},
                                  {S, QStringLiteral("Host"), host},
                                  {S, QStringLiteral("Port"), QString::number(port)},
                                  {S, QStringLiteral("TopicPrefix"), topicPrefix},
                                  {S, QStringLiteral("ClientId"), clientId},
                                  {S, QStringLiteral("Username"), username},
                                  {S, QStringLiteral("Password"), password},
                                  {S, QStringLiteral("QoS"), QString::number(qos)},
                                  {S, QStringLiteral("KeepAlive"), QString::number(keepAlive)},
                                  {S, QStringLiteral("Tls"), b(tls)},
                                  {S, QStringLiteral("CaFile"), caFile}});
  // A file created by this very write.
  if (!password.isEmpty())
    QFile::setPermissions(s.path(), QFile::ReadOwner | QFile::WriteOwner);
  return ok;
}

QString MqttSettings::effectiveClientId() const {
  if (!clientId.trimmed().isEmpty())
    return clientId.trimmed();
  // Unique per computer and process, so two recorders on one site never take over each
  // other's session.
  return QStringLiteral("zervo-%1-%2").arg(QSysInfo::machineHostName()).arg(QCoreApplication::applicationPid());
}
