#include "Faults.h"

#include <array>
#include <utility>

namespace metersim {

namespace {

constexpr std::array<std::pair<FaultKind, std::string_view>, 6> kNames{{
    {FaultKind::Checksum, "checksum"},
    {FaultKind::Garbage, "garbage"},
    {FaultKind::Terminator, "terminator"},
    {FaultKind::Decimal6, "decimal6"},
    {FaultKind::Silence, "silence"},
    {FaultKind::Upper, "upper"},
}};

} // namespace

std::string_view faultName(FaultKind kind) {
  for (const auto &[k, name] : kNames)
    if (k == kind)
      return name;
  return "-";
}

std::optional<FaultKind> faultFromName(std::string_view name) {
  for (const auto &[k, n] : kNames)
    if (n == name)
      return k;
  return std::nullopt;
}

FaultInjector::FaultInjector(std::uint32_t enabledMask, double rate, std::uint32_t seed)
    : m_rng(seed), m_rate(rate) {
  for (const auto &entry : kNames)
    if (enabledMask & faultBit(entry.first))
      m_enabled.push_back(entry.first);
}

FaultKind FaultInjector::next() {
  if (m_enabled.empty() || m_rate <= 0)
    return FaultKind::None;
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  if (chance(m_rng) >= m_rate)
    return FaultKind::None;
  std::uniform_int_distribution<std::size_t> pick(0, m_enabled.size() - 1);
  return m_enabled[pick(m_rng)];
}

std::string FaultInjector::garbage() {
  std::uniform_int_distribution<int> length(1, 8);
  std::uniform_int_distribution<int> byte(0, 254);
  std::string bytes(static_cast<std::size_t>(length(m_rng)), '\0');
  for (char &c : bytes) {
    int b = byte(m_rng);
    if (b >= '@')
      ++b; // skip '@' while keeping the other 255 values evenly likely
    c = static_cast<char>(b);
  }
  return bytes;
}

} // namespace metersim
