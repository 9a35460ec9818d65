#include "SysIni.h"

#include "app/ProfileStore.h"

namespace metersim {

bool writePortMapping(const std::string &iniPath,
                      const std::vector<std::pair<std::string, std::string>> &ports,
                      std::string *error) {
  ProfileStore store(QString::fromStdString(iniPath));
  for (const auto &[name, device] : ports) {
    if (!store.writeString(QStringLiteral("Serial Ports"), QString::fromStdString(name),
                           QString::fromStdString(device))) {
      *error = "cannot write " + name + " to '" + iniPath + "'";
      return false;
    }
  }
  return true;
}

} // namespace metersim
