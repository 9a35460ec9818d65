#pragma once

#include "acquisition/AutoResetEvent.h"
#include "comm/FrameProtocol.h"
#include "comm/PacketFramer.h"
#include "comm/ReplyTimer.h"
#include "comm/SerialLink.h"

#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <atomic>
#include <mutex>

class ChannelFormats;
class MeterTable;
class PortRegistry;
class ProfileStore;
class SampleRing;

inline constexpr int kFrameRejectKinds = 6; // FrameReject::None .. FrameReject::Magnitude
static_assert(static_cast<int>(FrameReject::Magnitude) == kFrameRejectKinds - 1);

// A snapshot of one port's diagnostics, for the meter information window.
struct PortStats {
  int com = 0;
  quint64 goodFrames = 0;
  std::array<quint64, kFrameRejectKinds> rejects{}; // indexed by FrameReject; [None] stays 0
  quint64 timeouts = 0;
  quint64 requests = 0; // read requests handed to the port
  quint64 cycles = 0;   // walks over the ten slots
  bool failed = false;  // the port was lost or refused a request

  [[nodiscard]] quint64 rejected(FrameReject reason) const {
    return rejects[static_cast<std::size_t>(reason)];
  }
  [[nodiscard]] quint64 totalRejects() const;
};

// The live counters behind PortStats. Written by the communication thread and the port's send
// thread, read from anywhere.
class PortCounters {
public:
  explicit PortCounters(int com) : m_com(com) {}
  PortCounters(const PortCounters &) = delete;
  PortCounters &operator=(const PortCounters &) = delete;

  void countGood() { m_good.fetch_add(1, std::memory_order_relaxed); }
  void countReject(FrameReject reason);
  void countTimeout() { m_timeouts.fetch_add(1, std::memory_order_relaxed); }
  void countRequest() { m_requests.fetch_add(1, std::memory_order_relaxed); }
  void countCycle() { m_cycles.fetch_add(1, std::memory_order_relaxed); }
  void markFailed() { m_failed.store(true, std::memory_order_relaxed); }

  [[nodiscard]] PortStats snapshot() const;

private:
  const int m_com;
  std::atomic<quint64> m_good{0};
  std::array<std::atomic<quint64>, kFrameRejectKinds> m_rejects{};
  std::atomic<quint64> m_timeouts{0};
  std::atomic<quint64> m_requests{0};
  std::atomic<quint64> m_cycles{0};
  std::atomic<bool> m_failed{false};
};

// What a module's decoder touches besides its own state; all owned elsewhere.
struct DecodeTargets {
  MeterTable &meters;
  ProfileStore &settings;
  SampleRing &ring;
  ChannelFormats &formats;
};

// The communication module of one port in use: the serial port, its framer and the reply timer.
//
// Lives on the communication thread, where it is created, opened and destroyed; frames and
// time-outs of every port are handled there in arrival order, so the sample ring has one
// producer. The port's send thread talks to it only through awaitReading() and requestStop().
class TdmCom : public QObject {
  Q_OBJECT
public:
  static constexpr int kReplyTimeoutMs = 200;

  enum class WaitEnd : int { Frame = 0, Timeout = 1, Stopped = 2, PortFailed = 3 };

  TdmCom(const PortRegistry &registry, DecodeTargets targets, PortCounters &counters, int com,
         QObject *parent = nullptr);
  ~TdmCom() override;
  TdmCom(const TdmCom &) = delete;
  TdmCom &operator=(const TdmCom &) = delete;

  // Communication thread only.
  [[nodiscard]] SerialLinkError open(int baudCode);

  [[nodiscard]] int com() const { return m_com; }

  // Module state, readable from any thread.
  [[nodiscard]] int SendChannelNumber() const { return m_sendChannel.load(); }
  void setSendChannelNumber(int slot) { m_sendChannel.store(slot); }
  [[nodiscard]] bool bReceived() const { return m_received.load(); }
  void setbReceived(bool value) { m_received.store(value); }
  [[nodiscard]] bool ReceiveError() const { return m_receiveError.load(); }
  void setReceiveError(bool value) { m_receiveError.store(value); }

  // Send thread: opens one wait for a reading of `slot` on the communication thread (request
  // first when `query`) and blocks until a good frame, the reply time-out, a port failure or
  // stop ends it.
  [[nodiscard]] WaitEnd awaitReading(int slot, bool query, StopSignal &stop);

  // Any thread: no request is written once this returns (a write in progress completes first).
  void requestStop();
  [[nodiscard]] bool failed() const { return m_failed.load(); }

signals:
  // The port was lost or refused a request; its polling has ended. Emitted once.
  void portFailed(int com, const QString &message);
  // A meter reported other decimal places than before; the table and formats already have them,
  // Sys.ini is left to the receiver.
  void precisionChanged(int slot, int decimals);

private:
  void beginWait(int slot, bool query);
  void endWait(WaitEnd how);
  void ComDataPacket1Packet(QByteArrayView frame16);
  void TimerReceiveCountTimer();
  void failPort(const QString &message);
  void applyReading(int slot, const MeterReading &reading);

  DecodeTargets m_targets;
  PortCounters &m_counters;
  const int m_com;

  SerialLink *ComPort1; // child
  PacketFramer ComDataPacket1;
  ReplyTimer *TimerReceiveCount; // child

  std::atomic<int> m_sendChannel{-1}; // -1: no slot, frames are ignored
  std::atomic<bool> m_received{false};
  std::atomic<bool> m_receiveError{false};

  // Communication thread only.
  bool m_waitOpen = false;

  // Hand-over to the send thread: set once per wait that was opened.
  AutoResetEvent m_waitEnded;
  std::atomic<WaitEnd> m_lastEnd{WaitEnd::Frame};
  std::atomic<bool> m_failed{false};

  // Held across the stop check and the request write, so requestStop() returns only when no
  // write is in progress and none can start.
  std::mutex m_sendMutex;
  bool m_stopping = false; // guarded by m_sendMutex
};
