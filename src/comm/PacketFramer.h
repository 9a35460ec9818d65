#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <functional>

// Cuts a received byte stream into 16-byte frames that begin with "@".
// Bytes before an "@" are discarded; after an "@" the next 15 bytes belong to the
// frame whatever they are (the checks come later, in the frame handler).
class PacketFramer {
public:
  using FrameHandler = std::function<void(QByteArrayView frame16)>;

  explicit PacketFramer(FrameHandler handler);

  // Appends a chunk and delivers every complete frame, in order. The view given to
  // the handler is valid only during the call. The handler may call feed() or reset().
  void feed(QByteArrayView bytes);

  // Drops a partly received frame.
  void reset();

  // Bytes held for an incomplete frame (0..15).
  [[nodiscard]] qsizetype pendingBytes() const;

private:
  FrameHandler m_handler;
  QByteArray m_buffer;
  qsizetype m_pos = 0;  // first unconsumed byte of m_buffer
};
