#pragma once

#include "comm/MeterTable.h"

#include <QPointF>
#include <QString>

#include <array>
#include <optional>

class ProfileStore;

// Pairs the readings of two channels into X/Y points.
//
// It keeps the latest value of every meter slot as the samples pass through it, in the order the
// read thread took them from the ring (or the order of a data file being replayed). A sample of
// the X channel then makes one point from the X and Y channels' latest values, unless the Y
// channel has had no reading since the last reset (its value is still kNoValue). Keeping the
// values here rather than reading the meter table means a batch of samples handed to the user
// interface at once still pairs each X reading with the Y reading that preceded it.
class XYPairing {
public:
  XYPairing() { reset(); }

  // Which slots give X and Y; takes effect for the next sample. A slot outside the meter table
  // never makes a point.
  void setChannels(int xChannel, int yChannel) {
    m_x = xChannel;
    m_y = yChannel;
  }
  [[nodiscard]] int xChannel() const { return m_x; }
  [[nodiscard]] int yChannel() const { return m_y; }

  // Every slot back to "no reading yet" (acquisition start, a data file replay).
  void reset() { m_latest.fill(kNoValue); }

  // Records the reading; for the X channel, answers the point it makes. O(1), inline: a file
  // replay pairs every one of its samples.
  [[nodiscard]] std::optional<QPointF> feed(int channel, double value) {
    if (!validSlot(channel))
      return std::nullopt;
    m_latest[static_cast<size_t>(channel)] = value;
    if (channel != m_x || !validSlot(m_y))
      return std::nullopt;
    const double y = m_latest[static_cast<size_t>(m_y)];
    if (y == kNoValue)
      return std::nullopt;
    return QPointF(m_latest[static_cast<size_t>(m_x)], y);
  }

  // The slot's latest reading, kNoValue for none (or for a slot outside the table).
  [[nodiscard]] double latest(int channel) const {
    return validSlot(channel) ? m_latest[static_cast<size_t>(channel)] : kNoValue;
  }

  [[nodiscard]] static bool validSlot(int channel) { return channel >= 0 && channel < kMeterSlots; }

private:
  std::array<double, kMeterSlots> m_latest{};
  int m_x = 0;
  int m_y = 1;
};

// Whether an acquisition (or a replayed file of channelCount channels) feeds the X/Y view: the
// page is switched on and both channels exist. A negative index (a hand-edited Sys.ini) names no
// channel either.
[[nodiscard]] bool XYFeeds(bool xyChannelShow, int xChannel, int yChannel, int channelCount);

// One axis as the X/Y view sets it up from a channel's settings.
struct XYAxisSetup {
  QString title; // Title + "(" + MeasureUnit + ")", parentheses always
  QString unit;
  double min = 0;
  double span = 0;
  double increment = 0;
};

// Everything the X/Y view's set-up reads from the settings.
struct XYSetup {
  XYAxisSetup x;
  XYAxisSetup y;
  int panelWidth = 0; // 145 + 11 per GBK byte of the longer unit
  bool showNowValueX = true;
  bool showNowValueY = true;
};

inline constexpr int kXYXTicks = 20;
inline constexpr int kXYYTicks = 10;

// Reads Title (empty by default here), MeasureUnit, RangeMin and RangeMax of the channel's
// section; the range is accepted in either order.
[[nodiscard]] XYAxisSetup ReadXYAxis(const ProfileStore &store, int channel, int ticks);
[[nodiscard]] XYSetup ReadXYSetup(const ProfileStore &store, int xChannel, int yChannel);
