// Fuzzes the packet framer and the frame checks.
//
// The input is a received byte stream. It is fed to one framer in chunks whose sizes are
// taken from the stream (the byte at each chunk start), and to a second framer in one piece;
// both must deliver the same frames, and those must match a plain re-scan of the stream.
// Every frame goes through CheckReply, CheckFrameIntegrity, DecodeReading and FrameAddress,
// whose answers must agree with each other.
#include "FuzzCheck.h"
#include "comm/FrameProtocol.h"
#include "comm/PacketFramer.h"

#include <QByteArray>
#include <QByteArrayView>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace {

using Frames = std::vector<QByteArray>;

// What the framer is meant to do, written out plainly: skip to an "@", take 16 bytes, repeat.
void rescan(const uint8_t *data, size_t size, Frames *frames, qsizetype *pending) {
  size_t i = 0;
  *pending = 0;
  for (;;) {
    while (i < size && data[i] != '@')
      ++i;
    if (i >= size)
      return;
    if (size - i < static_cast<size_t>(kFrameSize)) {
      *pending = static_cast<qsizetype>(size - i);
      return;
    }
    frames->emplace_back(reinterpret_cast<const char *>(data + i), kFrameSize);
    i += kFrameSize;
  }
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void checkFrame(QByteArrayView frame) {
  CHECK(frame.size() == kFrameSize);
  CHECK(frame[0] == '@');

  const std::optional<int> address = FrameAddress(frame);
  if (address)
    CHECK(*address >= 0 && *address <= kMaxMeterAddress);
  const FrameReject integrity = CheckFrameIntegrity(frame);
  CHECK(integrity == FrameReject::None || integrity == FrameReject::Checksum ||
        integrity == FrameReject::Terminator);
  const ReplyCheck decoded = DecodeReading(frame);
  CHECK(decoded.reject == FrameReject::None || decoded.reject == FrameReject::DecimalDigit ||
        decoded.reject == FrameReject::Magnitude);

  if (integrity == FrameReject::None) {
    // The checksum digits must really be the XOR over offsets 1..12, and the frame end a CR.
    const quint8 sum = FrameChecksum(frame, 12);
    const QByteArray digits = QByteArray(frame.data() + 13, 2).toLower();
    CHECK(digits == QByteArray::number(sum, 16).rightJustified(2, '0'));
    CHECK(frame[15] == '\r');
  }

  if (decoded.ok()) {
    const int decimals = decoded.reading.decimals;
    CHECK(decimals >= 0 && decimals <= kMaxFrameDecimals);
    CHECK(frame[7] == '0' + decimals);
    CHECK(std::isfinite(decoded.reading.value));
    CHECK(std::fabs(decoded.reading.value) <= 99999.0);
    // Digits least significant first; the sign is bit 0 of offset 6.
    int magnitude = 0;
    for (int i = 12; i >= 8; --i) {
      CHECK(frame[i] >= '0' && frame[i] <= '9');
      magnitude = magnitude * 10 + (frame[i] - '0');
    }
    double expected = magnitude / std::pow(10.0, decimals);
    if (static_cast<quint8>(frame[6]) & 1)
      expected = -expected;
    CHECK(sameBits(decoded.reading.value, expected));
  }

  // The full check with the frame's own address (or 0 when it has none), then with another.
  const int expectedAddress = address.value_or(0);
  const ReplyCheck reply = CheckReply(frame, expectedAddress);
  switch (reply.reject) {
  case FrameReject::None:
    CHECK(address && *address == expectedAddress);
    CHECK(integrity == FrameReject::None);
    CHECK(decoded.ok());
    CHECK(reply.reading.decimals == decoded.reading.decimals);
    CHECK(sameBits(reply.reading.value, decoded.reading.value));
    break;
  case FrameReject::Address:
    CHECK(!address);
    break;
  case FrameReject::Checksum:
  case FrameReject::Terminator:
    CHECK(address);
    CHECK(integrity == reply.reject);
    break;
  case FrameReject::DecimalDigit:
  case FrameReject::Magnitude:
    CHECK(address);
    CHECK(integrity == FrameReject::None);
    CHECK(decoded.reject == reply.reject);
    break;
  default:
    CHECK(false);
  }
  const int otherAddress = (expectedAddress + 1) % (kMaxMeterAddress + 1);
  CHECK(CheckReply(frame, otherAddress).reject == FrameReject::Address);

  // Too short a frame is refused before anything is read from it.
  for (qsizetype n = 0; n < kFrameSize; ++n) {
    CHECK(CheckReply(frame.first(n), expectedAddress).reject == FrameReject::Terminator);
    CHECK(CheckFrameIntegrity(frame.first(n)) == FrameReject::Terminator);
    (void)DecodeReading(frame.first(n));
    (void)FrameAddress(frame.first(n));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Frames whole;
  PacketFramer onePiece([&](QByteArrayView frame) {
    checkFrame(frame);
    whole.emplace_back(frame.data(), frame.size());
  });
  onePiece.feed(QByteArrayView(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));
  CHECK(onePiece.pendingBytes() >= 0 && onePiece.pendingBytes() < kFrameSize);

  Frames chunked;
  PacketFramer inChunks([&](QByteArrayView frame) {
    CHECK(frame.size() == kFrameSize && frame[0] == '@');
    chunked.emplace_back(frame.data(), frame.size());
  });
  size_t at = 0;
  while (at < size) {
    const size_t len = std::min<size_t>(size - at, 1 + data[at] % 40);
    inChunks.feed(QByteArrayView(reinterpret_cast<const char *>(data + at), static_cast<qsizetype>(len)));
    CHECK(inChunks.pendingBytes() >= 0 && inChunks.pendingBytes() < kFrameSize);
    at += len;
  }
  inChunks.feed(QByteArrayView());  // an empty read changes nothing

  Frames model;
  qsizetype modelPending = 0;
  rescan(data, size, &model, &modelPending);

  CHECK(chunked.size() == whole.size());
  CHECK(inChunks.pendingBytes() == onePiece.pendingBytes());
  CHECK(chunked == whole);
  CHECK(whole == model);
  CHECK(onePiece.pendingBytes() == modelPending);

  // After reset the framer starts clean.
  inChunks.reset();
  CHECK(inChunks.pendingBytes() == 0);
  return 0;
}
