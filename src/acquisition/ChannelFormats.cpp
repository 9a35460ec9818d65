#include "acquisition/ChannelFormats.h"

#include "app/Conversions.h"

namespace {
QString DefaultFormat() {
  return ValueFormat(ChannelFormats::kDefaultPrecision, {});
}
}  // namespace

ChannelFormats::ChannelFormats() {
  m_precisions.fill(kDefaultPrecision);
  m_formats.fill(DefaultFormat());
}

bool ChannelFormats::setPrecision(int slot, int places) {
  if (!validSlot(slot))
    return false;
  const std::lock_guard lock(m_mutex);
  const auto index = static_cast<size_t>(slot);
  const bool changed = m_precisions[index] != places;
  m_precisions[index] = places;
  m_formats[index] = ValueFormat(places, m_formats[index]);
  return changed;
}

int ChannelFormats::precision(int slot) const {
  if (!validSlot(slot))
    return kDefaultPrecision;
  const std::lock_guard lock(m_mutex);
  return m_precisions[static_cast<size_t>(slot)];
}

QString ChannelFormats::format(int slot) const {
  if (!validSlot(slot))
    return DefaultFormat();
  const std::lock_guard lock(m_mutex);
  return m_formats[static_cast<size_t>(slot)];
}

QString ChannelFormats::formatValue(int slot, double value) const {
  return FormatValue(format(slot), value);
}
