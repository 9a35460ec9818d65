#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace metersim {

enum class FaultKind : int {
  None = 0,
  Checksum = 1,
  Garbage = 2,
  Terminator = 3,
  Decimal6 = 4,
  Silence = 5,
  Upper = 6,
};

// Command-line and log name of a fault ("checksum", "garbage", ...); "-" for None.
[[nodiscard]] std::string_view faultName(FaultKind kind);
[[nodiscard]] std::optional<FaultKind> faultFromName(std::string_view name);
[[nodiscard]] constexpr std::uint32_t faultBit(FaultKind kind) {
  return 1u << static_cast<int>(kind);
}
inline constexpr std::uint32_t kAllFaults =
    faultBit(FaultKind::Checksum) | faultBit(FaultKind::Garbage) |
    faultBit(FaultKind::Terminator) | faultBit(FaultKind::Decimal6) |
    faultBit(FaultKind::Silence) | faultBit(FaultKind::Upper);

// Decides, frame by frame, whether a meter misbehaves. One injector per meter with its own
// seeded engine, so a meter's fault sequence does not depend on how the other meters' frames
// happen to interleave with it.
class FaultInjector {
public:
  FaultInjector(std::uint32_t enabledMask, double rate, std::uint32_t seed);

  // One draw per frame: None, or one of the enabled faults picked evenly.
  [[nodiscard]] FaultKind next();
  // 1 to 8 random bytes for the garbage fault. Never '@': a stray start byte would make the
  // receiver cut a frame out of the middle and lose the next good frame, which would spoil
  // loss counting.
  [[nodiscard]] std::string garbage();

private:
  std::mt19937 m_rng;
  std::vector<FaultKind> m_enabled;
  double m_rate;
};

} // namespace metersim
