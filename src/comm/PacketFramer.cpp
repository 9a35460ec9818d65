#include "comm/PacketFramer.h"

#include "comm/FrameProtocol.h"

#include <algorithm>
#include <array>
#include <utility>

PacketFramer::PacketFramer(FrameHandler handler) : m_handler(std::move(handler)) {}

void PacketFramer::feed(QByteArrayView bytes) {
  m_buffer.append(bytes.data(), bytes.size());
  for (;;) {
    const qsizetype start = m_buffer.indexOf('@', m_pos);
    if (start < 0) {
      m_buffer.clear();
      m_pos = 0;
      return;
    }
    m_pos = start;
    if (m_buffer.size() - m_pos < kFrameSize)
      break;
    // Copy out and consume before calling the handler, so a handler that feeds
    // or resets sees a consistent framer.
    std::array<char, kFrameSize> frame{};
    std::copy_n(m_buffer.constData() + m_pos, kFrameSize, frame.begin());
    m_pos += kFrameSize;
    if (m_handler)
      m_handler(QByteArrayView(frame.data(), kFrameSize));
  }
  // Keep only the incomplete frame so the buffer never grows beyond one frame.
  if (m_pos > 0) {
    m_buffer.remove(0, m_pos);
    m_pos = 0;
  }
}

void PacketFramer::reset() {
  m_buffer.clear();
  m_pos = 0;
}

qsizetype PacketFramer::pendingBytes() const {
  return m_buffer.size() - m_pos;
}
