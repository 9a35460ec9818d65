#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The meters' wire format, written here independently of the program's own decoder so that the
// simulator can catch mistakes on either side.
namespace metersim {

inline constexpr std::size_t kReadingFrameSize = 16;
inline constexpr std::size_t kRequestSize = 9;
inline constexpr int kMaxMagnitude = 99999;
inline constexpr int kMaxDecimals = 5;
inline constexpr int kMaxAddress = 999;

// 8-bit XOR over the given bytes, the leading '@' included (0x40 XOR the rest).
[[nodiscard]] std::uint8_t frameChecksum(std::string_view bytes);

// A reading as it goes on the wire: sign, decimal places and a five-digit magnitude.
struct Reading {
  bool negative = false;
  int decimals = 0;
  int magnitude = 0; // 0..99999
};

// Rounds |value| * 10^decimals to a whole number and clamps it to five digits. A value that
// rounds to zero is sent as positive, so "-0" never appears on the wire.
[[nodiscard]] Reading quantize(double value, int decimals);
[[nodiscard]] double readingValue(const Reading &reading);
// Fixed-point text with the reading's decimal places ("-5.000", "12.34", "7").
[[nodiscard]] std::string formatReading(const Reading &reading);

// How a reading frame is spoiled on purpose. Upper-case checksum digits are not a fault on the
// wire (receivers accept either case) but are rarer in practice, so they are injected too.
enum class FrameFault : int {
  None = 0,
  Checksum = 1,   // checksum digits do not match the content
  Terminator = 2, // last byte is LF instead of CR
  Decimal6 = 3,   // decimal-places digit '6', checksum consistent with it
  UpperHex = 4,   // checksum in upper-case hex digits (valid)
};

// The 16-byte reading frame: '@', 3-digit address, "RD", sign, decimals, magnitude least
// significant digit first, 2 hex checksum digits, CR.
[[nodiscard]] std::string encodeReadingFrame(int address, const Reading &reading,
                                             FrameFault fault = FrameFault::None);

// Cuts 9-byte read requests out of the byte stream written by the program.
class RequestScanner {
public:
  struct Event {
    enum class Kind : int { Request = 0, Bad = 1, Junk = 2 };
    Kind kind = Kind::Junk;
    int address = -1;  // for Request
    std::string bytes; // the bytes this event consumed
  };

  // Appends the bytes and returns what could be decided; an incomplete request is kept
  // until more bytes arrive.
  [[nodiscard]] std::vector<Event> feed(std::string_view bytes);

private:
  std::string m_buffer;
};

// Parses one complete candidate request; returns the address or -1 when anything is wrong.
[[nodiscard]] int parseRequest(std::string_view bytes);

// Log form of raw bytes: printable ASCII as is, backslash as "\\", everything else as "\xhh".
[[nodiscard]] std::string escapeBytes(std::string_view bytes);

} // namespace metersim
