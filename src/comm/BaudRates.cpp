#include "comm/BaudRates.h"

#include <array>

namespace {
constexpr std::array<int, 16> kRates = {9600,  110,   300,   600,    1200,   2400,   4800,   9600,
                                        14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
}

int BaudRateForCode(int code) {
  if (code < 0 || code >= static_cast<int>(kRates.size()))
    return 9600;
  return kRates[static_cast<size_t>(code)];
}

QStringList BaudRateTexts() {
  QStringList texts{QStringLiteral("Custom")};
  for (size_t i = 1; i < kRates.size(); ++i)
    texts << QString::number(kRates[i]);
  return texts;
}
