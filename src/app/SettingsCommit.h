#pragma once

#include "app/MessageBoxes.h"
#include "app/ProfileStore.h"

#include <QDir>

// The operator's notice that settings did not reach Sys.ini.
[[nodiscard]] inline QString SettingsNotSavedText(const QString &path) {
  return QStringLiteral("设置无法保存到文件：\n") + QDir::toNativeSeparators(path);
}

// Watches the Sys.ini writes of one commit (one OK of a dialog, one menu command) and tells the
// operator once when any of them failed. The accepted values stay in effect for this run either
// way: the mirrors hold them, and the store keeps what it could not write.
class SettingsCommit {
public:
  explicit SettingsCommit(const ProfileStore &store) : m_store(store), m_before(store.failedWrites()) {}

  [[nodiscard]] bool failed() const { return m_store.failedWrites() != m_before; }

  // Shows the error once for what failed so far; silent when everything was written.
  void report(QWidget *parent) {
    if (!failed())
      return;
    m_before = m_store.failedWrites();
    Msg::error(parent, SettingsNotSavedText(m_store.path()));
  }

private:
  const ProfileStore &m_store;
  quint64 m_before;
};
