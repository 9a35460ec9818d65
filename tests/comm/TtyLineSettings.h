#pragma once

#include <optional>

// The line settings of a terminal as the kernel holds them, read with TCGETS2 so that rates
// outside the classic Bxxx constants show as numbers too.
struct TtyLineSettings {
  unsigned outputBaud = 0;
  unsigned inputBaud = 0;
  int dataBits = 0;
  bool parity = false;
  bool twoStopBits = false;
  bool rtsCtsFlow = false;
  bool xonXoffOutput = false;
  bool xonXoffInput = false;
  bool canonical = false;
  bool echo = false;
  bool outputProcessing = false;
};

// Kept apart from <termios.h>, whose struct termios collides with the kernel's.
[[nodiscard]] std::optional<TtyLineSettings> ReadTtyLineSettings(int fd);
