#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <optional>

// The meters' ASCII protocol: a 9-byte read request "@nnnRDcc\r" and a 16-byte
// reading frame "@nnn??sdmmmmmcc\r". All functions here are pure.

inline constexpr int kRequestSize = 9;
inline constexpr int kFrameSize = 16;
inline constexpr int kMaxMeterAddress = 999;  // three decimal digits on the wire
inline constexpr int kMaxFrameDecimals = 5;

// Why a reading frame was refused, in the order the checks run. Stored in
// per-port diagnostics counters, so the values are fixed.
enum class FrameReject : int {
  None = 0,
  Address = 1,
  Checksum = 2,
  Terminator = 3,
  DecimalDigit = 4,
  Magnitude = 5,
};

struct MeterReading {
  double value = 0.0;  // n / 10^decimals, negated when the sign bit is set (-0.0 kept)
  int decimals = 0;    // 0..5
};

struct ReplyCheck {
  FrameReject reject = FrameReject::None;
  MeterReading reading;  // meaningful only when reject is None

  [[nodiscard]] bool ok() const { return reject == FrameReject::None; }
};

// 8-bit XOR starting at 0x40 over offsets 1..lastOffset. Offset 0 is taken as "@"
// whatever it holds. Offsets beyond the end of the view are not covered.
[[nodiscard]] quint8 FrameChecksum(QByteArrayView frame, int lastOffset);

// "@" + "%.3d" address + "RD" + "%.2x" checksum + CR. An address outside 0..999
// cannot be written in three digits; the result is then empty and nothing must be sent.
[[nodiscard]] QByteArray BuildReadRequest(int address);

// Offsets 1..3 as exactly three ASCII decimal digits; no sign, blank or hex prefix.
[[nodiscard]] std::optional<int> FrameAddress(QByteArrayView frame16);

// Checksum (offsets 13..14, two hex digits of either case) and terminator (offset 15)
// only; what the meter search accepts before it looks at the address.
// Returns None, Checksum or Terminator. A frame shorter than 16 bytes has no terminator.
[[nodiscard]] FrameReject CheckFrameIntegrity(QByteArrayView frame16);

// Decimal digit (offset 7) and magnitude (offsets 8..12, least significant first).
// Returns None with the reading, or DecimalDigit / Magnitude.
[[nodiscard]] ReplyCheck DecodeReading(QByteArrayView frame16);

// The full check of an acquisition reply: address, checksum, terminator, decimal
// digit, magnitude, stopping at the first failure. A frame shorter than 16 bytes
// is refused as Terminator before anything else.
[[nodiscard]] ReplyCheck CheckReply(QByteArrayView frame16, int expectedAddress);
