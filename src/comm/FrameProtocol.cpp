#include "comm/FrameProtocol.h"

#include <array>

namespace {

constexpr char kStart = '@';
constexpr char kTerminator = '\r';
constexpr int kAddressOffset = 1;
constexpr int kSignOffset = 6;
constexpr int kDecimalsOffset = 7;
constexpr int kMagnitudeOffset = 8;
constexpr int kMagnitudeDigits = 5;
constexpr int kReplyChecksumOffset = 13;
constexpr int kRequestChecksumOffset = 6;
constexpr int kTerminatorOffset = 15;

[[nodiscard]] std::optional<int> DecimalDigit(char c) {
  if (c < '0' || c > '9')
    return std::nullopt;
  return c - '0';
}

[[nodiscard]] std::optional<int> HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return std::nullopt;
}

[[nodiscard]] char LowerHex(int nibble) {
  return "0123456789abcdef"[nibble & 0x0F];
}

}  // namespace

quint8 FrameChecksum(QByteArrayView frame, int lastOffset) {
  quint8 sum = 0x40;
  const qsizetype last = qMin<qsizetype>(lastOffset, frame.size() - 1);
  for (qsizetype i = 1; i <= last; ++i)
    sum ^= static_cast<quint8>(frame[i]);
  return sum;
}

QByteArray BuildReadRequest(int address) {
  if (address < 0 || address > kMaxMeterAddress)
    return {};
  QByteArray request(kRequestSize, '\0');
  request[0] = kStart;
  request[1] = static_cast<char>('0' + address / 100);
  request[2] = static_cast<char>('0' + address / 10 % 10);
  request[3] = static_cast<char>('0' + address % 10);
  request[4] = 'R';
  request[5] = 'D';
  const quint8 sum = FrameChecksum(request, kRequestChecksumOffset - 1);
  request[6] = LowerHex(sum >> 4);
  request[7] = LowerHex(sum);
  request[8] = kTerminator;
  return request;
}

std::optional<int> FrameAddress(QByteArrayView frame16) {
  if (frame16.size() < kAddressOffset + 3)
    return std::nullopt;
  int address = 0;
  for (int i = 0; i < 3; ++i) {
    const auto digit = DecimalDigit(frame16[kAddressOffset + i]);
    if (!digit)
      return std::nullopt;
    address = address * 10 + *digit;
  }
  return address;
}

FrameReject CheckFrameIntegrity(QByteArrayView frame16) {
  if (frame16.size() < kFrameSize)
    return FrameReject::Terminator;
  const auto high = HexDigit(frame16[kReplyChecksumOffset]);
  const auto low = HexDigit(frame16[kReplyChecksumOffset + 1]);
  if (!high || !low || ((*high << 4) | *low) != FrameChecksum(frame16, kReplyChecksumOffset - 1))
    return FrameReject::Checksum;
  if (frame16[kTerminatorOffset] != kTerminator)
    return FrameReject::Terminator;
  return FrameReject::None;
}

ReplyCheck DecodeReading(QByteArrayView frame16) {
  if (frame16.size() < kMagnitudeOffset + kMagnitudeDigits)
    return {FrameReject::Magnitude, {}};
  const auto decimals = DecimalDigit(frame16[kDecimalsOffset]);
  if (!decimals || *decimals > kMaxFrameDecimals)
    return {FrameReject::DecimalDigit, {}};

  // The meter sends the least significant digit first.
  int magnitude = 0;
  for (int i = kMagnitudeDigits - 1; i >= 0; --i) {
    const auto digit = DecimalDigit(frame16[kMagnitudeOffset + i]);
    if (!digit)
      return {FrameReject::Magnitude, {}};
    magnitude = magnitude * 10 + *digit;
  }

  static constexpr std::array<double, kMaxFrameDecimals + 1> kPowers = {1.0,    10.0,    100.0,
                                                                        1000.0, 10000.0, 100000.0};
  double value = magnitude / kPowers[static_cast<size_t>(*decimals)];
  if (static_cast<quint8>(frame16[kSignOffset]) & 0x01)
    value = -value;  // a zero magnitude gives -0.0, which is kept
  return {FrameReject::None, {value, *decimals}};
}

ReplyCheck CheckReply(QByteArrayView frame16, int expectedAddress) {
  if (frame16.size() < kFrameSize)
    return {FrameReject::Terminator, {}};
  const auto address = FrameAddress(frame16);
  if (!address || *address != expectedAddress)
    return {FrameReject::Address, {}};
  if (const FrameReject integrity = CheckFrameIntegrity(frame16); integrity != FrameReject::None)
    return {integrity, {}};
  return DecodeReading(frame16);
}
