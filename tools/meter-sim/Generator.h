#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace metersim {

enum class GeneratorKind : int { Constant = 0, Ramp = 1, Sine = 2, Counter = 3 };

// What a meter reads. Parameters by kind:
//   Constant: a = value
//   Ramp:     a = start, b = step per frame
//   Sine:     a = amplitude, b = period in ms, c = offset
//   Counter:  a = start (whole number), +1 per frame
struct GeneratorSpec {
  GeneratorKind kind = GeneratorKind::Counter;
  double a = 0;
  double b = 0;
  double c = 0;

  friend bool operator==(const GeneratorSpec &, const GeneratorSpec &) = default;
};

// "constant:V", "ramp:START:STEP", "sine:AMPLITUDE:PERIOD_MS[:OFFSET]", "counter[:START]".
[[nodiscard]] std::optional<GeneratorSpec> parseGenerator(std::string_view text,
                                                          std::string *error);

// The value of frame number frameIndex (0 for a meter's first frame), sent elapsedMs after the
// simulator started. The counter wraps to 0 after the largest whole number the decimal places
// can carry (99999 at 0 places, 999 at 2), so long runs never stick at the clamp.
[[nodiscard]] double generateValue(const GeneratorSpec &setup, std::uint64_t frameIndex,
                                   double elapsedMs, int decimals);

} // namespace metersim
