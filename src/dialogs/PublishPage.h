#pragma once

#include "publish/MqttSettings.h"

#include <QWidget>

class QCheckBox;
class QLineEdit;
class QSpinBox;

// Page "数据发布" of the settings dialog: the MQTT publishing settings.
class PublishPage : public QWidget {
  Q_OBJECT
public:
  explicit PublishPage(QWidget *parent = nullptr);
  void load(const MqttSettings &s);
  [[nodiscard]] MqttSettings edited() const;

  QCheckBox *cbMqttEnabled = nullptr;
  QLineEdit *edtMqttHost = nullptr;
  QSpinBox *speMqttPort = nullptr;
  QLineEdit *edtMqttTopicPrefix = nullptr;
  QLineEdit *edtMqttClientId = nullptr;
  QLineEdit *edtMqttUsername = nullptr;
  QLineEdit *edtMqttPassword = nullptr;
  QSpinBox *speMqttQoS = nullptr;
  QSpinBox *speMqttKeepAlive = nullptr;
  QCheckBox *cbMqttTls = nullptr;
  QLineEdit *edtMqttCaFile = nullptr;
};
