#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class ProfileStore;

// The computer's COM ports: section "Serial Ports" of Sys.ini maps the keys COM1..COM999 to
// device paths (COM3=/dev/ttyUSB0). A device found on the system gets the lowest free number
// once and keeps it, because the assignment is written back; pseudo-terminals, which the
// system enumeration does not report, are mapped by writing the section directly.
//
// Reads go to the settings store each time, so one registry may be shared between threads for
// reading; refresh() writes and belongs to one thread at a time.
class PortRegistry {
public:
  // Lists the system paths of the serial devices present now (QSerialPortInfo by default);
  // replaceable so tests can present devices of their own.
  using DeviceLister = std::function<QStringList()>;

  static constexpr int kFirstCom = 1;
  static constexpr int kLastCom = 999;

  explicit PortRegistry(ProfileStore &store, DeviceLister lister = systemSerialDevices);
  PortRegistry(const PortRegistry &) = delete;
  PortRegistry &operator=(const PortRegistry &) = delete;

  [[nodiscard]] static QString sectionName() { return QStringLiteral("Serial Ports"); }

  // Gives every listed device that has no COM number yet the lowest free one and writes it to
  // Sys.ini. Returns false when a number could not be written or none was free.
  [[nodiscard]] bool refresh();

  // COM numbers of the mapped ports whose device exists now, ascending.
  [[nodiscard]] QList<int> listPorts() const;

  // The device mapped to a COM number, whether or not it exists now.
  [[nodiscard]] std::optional<QString> devicePath(int comNumber) const;

  // Every valid mapping (keys that are not "COM" + 1..999 are left out).
  [[nodiscard]] QMap<int, QString> mappings() const;

  // A character device at that path (a serial line or a pseudo-terminal).
  [[nodiscard]] static bool deviceExists(const QString &path);

  // "COM7" gives 7; anything else ("COMx", "COM0", "COM1000", "COM07") gives nullopt.
  [[nodiscard]] static std::optional<int> parseComKey(const QString &key);

  [[nodiscard]] static QStringList systemSerialDevices();

private:
  ProfileStore &m_store;
  DeviceLister m_lister;
};
