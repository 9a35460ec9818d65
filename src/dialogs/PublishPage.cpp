#include "dialogs/PublishPage.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSpinBox>

namespace {
template <typename W> W *named(W *w, const char *name) {
  w->setObjectName(QString::fromLatin1(name));
  return w;
}
} // namespace

PublishPage::PublishPage(QWidget *parent) : QWidget(parent) {
  auto *f = new QFormLayout(this);
  cbMqttEnabled = named(new QCheckBox(QStringLiteral("发布每个读数 (MQTT)"), this), "cbMqttEnabled");
  edtMqttHost = named(new QLineEdit(this), "edtMqttHost");
  speMqttPort = named(new QSpinBox(this), "speMqttPort");
  speMqttPort->setRange(1, 65535);
  edtMqttTopicPrefix = named(new QLineEdit(this), "edtMqttTopicPrefix");
  edtMqttClientId = named(new QLineEdit(this), "edtMqttClientId");
  edtMqttClientId->setPlaceholderText(QStringLiteral("空：主机名和进程号"));
  edtMqttUsername = named(new QLineEdit(this), "edtMqttUsername");
  edtMqttPassword = named(new QLineEdit(this), "edtMqttPassword");
  edtMqttPassword->setEchoMode(QLineEdit::Password);
  speMqttQoS = named(new QSpinBox(this), "speMqttQoS");
  speMqttQoS->setRange(0, 2);
  speMqttKeepAlive = named(new QSpinBox(this), "speMqttKeepAlive");
  speMqttKeepAlive->setRange(5, 65535);
  cbMqttTls = named(new QCheckBox(QStringLiteral("TLS（验证服务器证书）"), this), "cbMqttTls");
  edtMqttCaFile = named(new QLineEdit(this), "edtMqttCaFile");
  edtMqttCaFile->setPlaceholderText(QStringLiteral("空：系统证书"));
  f->addRow(cbMqttEnabled);
  f->addRow(QStringLiteral("服务器:"), edtMqttHost);
  f->addRow(QStringLiteral("端口:"), speMqttPort);
  f->addRow(QStringLiteral("主题前缀:"), edtMqttTopicPrefix);
  f->addRow(QStringLiteral("客户端标识:"), edtMqttClientId);
  f->addRow(QStringLiteral("用户名:"), edtMqttUsername);
  f->addRow(QStringLiteral("密码:"), edtMqttPassword);
  f->addRow(QStringLiteral("QoS:"), speMqttQoS);
  f->addRow(QStringLiteral("心跳(秒):"), speMqttKeepAlive);
  f->addRow(cbMqttTls);
  f->addRow(QStringLiteral("CA证书文件:"), edtMqttCaFile);
}

void PublishPage::load(const MqttSettings &s) {
  cbMqttEnabled->setChecked(s.enabled);
  edtMqttHost->setText(s.host);
  speMqttPort->setValue(s.port);
  edtMqttTopicPrefix->setText(s.topicPrefix);
  edtMqttClientId->setText(s.clientId);
  edtMqttUsername->setText(s.username);
  edtMqttPassword->setText(s.password);
  speMqttQoS->setValue(s.qos);
  speMqttKeepAlive->setValue(s.keepAlive);
  cbMqttTls->setChecked(s.tls);
  edtMqttCaFile->setText(s.caFile);
}

MqttSettings PublishPage::edited() const {
  MqttSettings s;
  s.enabled = cbMqttEnabled->isChecked();
  s.host = edtMqttHost->text().trimmed();
  s.port = speMqttPort->value();
  s.topicPrefix = edtMqttTopicPrefix->text().trimmed();
  s.clientId = edtMqttClientId->text().trimmed();
  s.username = edtMqttUsername->text();
  s.password = edtMqttPassword->text();
  s.qos = speMqttQoS->value();
  s.keepAlive = speMqttKeepAlive->value();
  s.tls = cbMqttTls->isChecked();
  s.caFile = edtMqttCaFile->text().trimmed();
  return s;
}
