#include "comm/TtyLineSettings.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

std::optional<TtyLineSettings> ReadTtyLineSettings(int fd) {
  struct termios2 tio {};
  if (::ioctl(fd, TCGETS2, &tio) != 0)
    return std::nullopt;
  TtyLineSettings s;
  s.outputBaud = tio.c_ospeed;
  s.inputBaud = tio.c_ispeed;
  switch (tio.c_cflag & CSIZE) {
  case CS5: s.dataBits = 5; break;
  case CS6: s.dataBits = 6; break;
  case CS7: s.dataBits = 7; break;
  default: s.dataBits = 8; break;
  }
  s.parity = (tio.c_cflag & PARENB) != 0;
  s.twoStopBits = (tio.c_cflag & CSTOPB) != 0;
  s.rtsCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
  s.xonXoffOutput = (tio.c_iflag & IXON) != 0;
  s.xonXoffInput = (tio.c_iflag & IXOFF) != 0;
  s.canonical = (tio.c_lflag & ICANON) != 0;
  s.echo = (tio.c_lflag & ECHO) != 0;
  s.outputProcessing = (tio.c_oflag & OPOST) != 0;
  return s;
}
