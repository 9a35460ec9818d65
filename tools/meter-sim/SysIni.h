#pragma once

#include <string>
#include <utility>
#include <vector>

namespace metersim {

// Writes "COMn=/dev/pts/X" into section [Serial Ports] of the program's Sys.ini, so that the
// program finds the simulated ports under the COM numbers the user chose.
[[nodiscard]] bool writePortMapping(const std::string &iniPath,
                                    const std::vector<std::pair<std::string, std::string>> &ports,
                                    std::string *error);

} // namespace metersim
