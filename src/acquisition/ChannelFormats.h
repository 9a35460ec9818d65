#pragma once

#include <QString>

#include <array>
#include <mutex>

// Decimal places and value formats per channel slot. The reply handler changes them
// on the communication thread while the views read them on the UI thread.
class ChannelFormats {
public:
  static constexpr int kSlots = 11;
  static constexpr int kDefaultPrecision = 2;

  ChannelFormats();
  ChannelFormats(const ChannelFormats &) = delete;
  ChannelFormats &operator=(const ChannelFormats &) = delete;

  // Stores the places and rebuilds the format with ValueFormat; a negative number of
  // places keeps the previous format. Returns whether the stored places changed.
  // Slots outside 0..10 are ignored.
  bool setPrecision(int slot, int places);

  // Outside 0..10 these answer with the default (2 places, "%.2f").
  [[nodiscard]] int precision(int slot) const;
  [[nodiscard]] QString format(int slot) const;
  [[nodiscard]] QString formatValue(int slot, double value) const;

private:
  [[nodiscard]] static bool validSlot(int slot) { return slot >= 0 && slot < kSlots; }

  mutable std::mutex m_mutex;
  std::array<qint32, kSlots> m_precisions{};  // ChannelPrecisions
  std::array<QString, kSlots> m_formats;      // ChannelFormats
};
