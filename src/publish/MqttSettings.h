#pragma once

#include <QString>

class ProfileStore;

// Section MQTT of Sys.ini: where and how every reading is published.
struct MqttSettings {
  bool enabled = false;
  QString host = QStringLiteral("127.0.0.1");
  int port = 1883;
  QString topicPrefix = QStringLiteral("zervo-daq");
  QString clientId; // empty: made from the host name and the process id
  QString username;
  QString password;
  int qos = 1;
  int keepAlive = 30; // seconds
  bool tls = false;
  QString caFile; // empty: the system's certificate authorities

  static inline const QString kSection = QStringLiteral("MQTT");

  [[nodiscard]] static MqttSettings load(const ProfileStore &store);
  // Writes every key in one rewrite. A Sys.ini that holds a password is made readable by its
  // owner only. Returns false when the file could not be written.
  bool save(ProfileStore &store) const;

  // The client id used on the wire.
  [[nodiscard]] QString effectiveClientId() const;

  friend bool operator==(const MqttSettings &, const MqttSettings &) = default;
};
