#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>

namespace metersim {

inline constexpr std::uint64_t kMaxCounter = 99999;

// Whole-text number parsing: "12x", "" and out-of-range values are rejected.
[[nodiscard]] inline std::optional<std::int64_t> parseInt(std::string_view text) {
  std::int64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty())
    return std::nullopt;
  return v;
}

[[nodiscard]] inline std::optional<double> parseDouble(std::string_view text) {
  double v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty() || !std::isfinite(v))
    return std::nullopt;
  return v;
}

} // namespace metersim
