#include "Frame.h"

#include <cmath>
#include <cstdio>

namespace metersim {

namespace {

constexpr char kHexLower[] = "0123456789abcdef";
constexpr char kHexUpper[] = "0123456789ABCDEF";

int hexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

double powerOfTen(int exponent) {
  double p = 1.0;
  for (int i = 0; i < exponent; ++i)
    p *= 10.0;
  return p;
}

} // namespace

std::uint8_t frameChecksum(std::string_view bytes) {
  std::uint8_t sum = 0;
  for (const char c : bytes)
    sum ^= static_cast<std::uint8_t>(c);
  return sum;
}

Reading quantize(double value, int decimals) {
  Reading r;
  r.decimals = decimals < 0 ? 0 : (decimals > kMaxDecimals ? kMaxDecimals : decimals);
  if (std::isnan(value))
    return r;
  const double scaled = std::fabs(value) * powerOfTen(r.decimals);
  // Compare before converting: a huge double does not fit any integer type.
  r.magnitude = scaled >= kMaxMagnitude ? kMaxMagnitude : static_cast<int>(std::llround(scaled));
  if (r.magnitude > kMaxMagnitude)
    r.magnitude = kMaxMagnitude;
  r.negative = value < 0 && r.magnitude > 0;
  return r;
}

double readingValue(const Reading &reading) {
  const double v = reading.magnitude / powerOfTen(reading.decimals);
  return reading.negative ? -v : v;
}

std::string formatReading(const Reading &reading) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", reading.decimals, readingValue(reading));
  return text;
}

std::string encodeReadingFrame(int address, const Reading &reading, FrameFault fault) {
  std::string frame;
  frame.reserve(kReadingFrameSize);
  const int addr = address < 0 ? 0 : (address > kMaxAddress ? kMaxAddress : address);
  char head[8];
  std::snprintf(head, sizeof head, "@%03dRD", addr);
  frame += head;
  frame += reading.negative ? '1' : '0';
  frame += fault == FrameFault::Decimal6 ? '6' : static_cast<char>('0' + reading.decimals);
  int m = reading.magnitude;
  for (int i = 0; i < 5; ++i) { // least significant digit first
    frame += static_cast<char>('0' + m % 10);
    m /= 10;
  }
  std::uint8_t sum = frameChecksum(frame);
  if (fault == FrameFault::Checksum)
    sum ^= 0xFF; // any non-zero flip makes it wrong
  const char *hex = fault == FrameFault::UpperHex ? kHexUpper : kHexLower;
  frame += hex[sum >> 4];
  frame += hex[sum & 0x0F];
  frame += fault == FrameFault::Terminator ? '\n' : '\r';
  return frame;
}

int parseRequest(std::string_view b) {
  if (b.size() != kRequestSize || b[0] != '@' || b[4] != 'R' || b[5] != 'D' || b[8] != '\r')
    return -1;
  if (!isDigit(b[1]) || !isDigit(b[2]) || !isDigit(b[3]))
    return -1;
  const int hi = hexDigit(b[6]);
  const int lo = hexDigit(b[7]);
  if (hi < 0 || lo < 0 || ((hi << 4) | lo) != frameChecksum(b.substr(0, 6)))
    return -1;
  return (b[1] - '0') * 100 + (b[2] - '0') * 10 + (b[3] - '0');
}

std::vector<RequestScanner::Event> RequestScanner::feed(std::string_view bytes) {
  std::vector<Event> events;
  m_buffer.append(bytes);
  for (;;) {
    const std::size_t at = m_buffer.find('@');
    if (at == std::string::npos) {
      if (!m_buffer.empty())
        events.push_back({Event::Kind::Junk, -1, std::move(m_buffer)});
      m_buffer.clear();
      break;
    }
    if (at > 0) {
      events.push_back({Event::Kind::Junk, -1, m_buffer.substr(0, at)});
      m_buffer.erase(0, at);
    }
    if (m_buffer.size() < kRequestSize)
      break; // wait for the rest
    const std::string_view candidate(m_buffer.data(), kRequestSize);
    const int address = parseRequest(candidate);
    if (address >= 0) {
      events.push_back({Event::Kind::Request, address, std::string(candidate)});
      m_buffer.erase(0, kRequestSize);
      continue;
    }
    // Resynchronise on the next '@' inside the bad candidate, so that a good request that
    // follows a torn one is not swallowed with it.
    const std::size_t next = candidate.find('@', 1);
    const std::size_t drop = next == std::string_view::npos ? kRequestSize : next;
    events.push_back({Event::Kind::Bad, -1, m_buffer.substr(0, drop)});
    m_buffer.erase(0, drop);
  }
  return events;
}

std::string escapeBytes(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (u > 0x20 && u < 0x7F) {
      out += c;
    } else {
      out += "\\x";
      out += kHexLower[u >> 4];
      out += kHexLower[u & 0x0F];
    }
  }
  return out;
}

} // namespace metersim
