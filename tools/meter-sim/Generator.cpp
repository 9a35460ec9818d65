#include "Generator.h"

#include "Numbers.h"

#include <cmath>
#include <numbers>
#include <vector>

namespace metersim {

namespace {

std::vector<std::string_view> split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(sep, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? text.npos : at - start));
    if (at == std::string_view::npos)
      break;
    start = at + 1;
  }
  return parts;
}

} // namespace

std::optional<GeneratorSpec> parseGenerator(std::string_view text, std::string *error) {
  const std::vector<std::string_view> parts = split(text, ':');
  const std::string_view name = parts.front();
  std::vector<double> args;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::optional<double> v = parseDouble(parts[i]);
    if (!v) {
      *error = "bad number '" + std::string(parts[i]) + "' in generator '" + std::string(text) + "'";
      return std::nullopt;
    }
    args.push_back(*v);
  }
  const auto wantArgs = [&](std::size_t min, std::size_t max) {
    if (args.size() >= min && args.size() <= max)
      return true;
    *error = "wrong number of parameters in generator '" + std::string(text) + "'";
    return false;
  };

  GeneratorSpec setup;
  if (name == "constant") {
    if (!wantArgs(1, 1))
      return std::nullopt;
    setup = {GeneratorKind::Constant, args[0], 0, 0};
  } else if (name == "ramp") {
    if (!wantArgs(2, 2))
      return std::nullopt;
    setup = {GeneratorKind::Ramp, args[0], args[1], 0};
  } else if (name == "sine") {
    if (!wantArgs(2, 3))
      return std::nullopt;
    if (!(args[1] > 0)) {
      *error = "sine period must be greater than 0 ms";
      return std::nullopt;
    }
    setup = {GeneratorKind::Sine, args[0], args[1], args.size() > 2 ? args[2] : 0.0};
  } else if (name == "counter") {
    if (!wantArgs(0, 1))
      return std::nullopt;
    const double start = args.empty() ? 0.0 : args[0];
    if (start < 0 || start > kMaxCounter || start != std::floor(start)) {
      *error = "counter start must be a whole number from 0 to 99999";
      return std::nullopt;
    }
    setup = {GeneratorKind::Counter, start, 0, 0};
  } else {
    *error = "unknown generator '" + std::string(name) + "'";
    return std::nullopt;
  }
  return setup;
}

double generateValue(const GeneratorSpec &setup, std::uint64_t frameIndex, double elapsedMs,
                     int decimals) {
  switch (setup.kind) {
  case GeneratorKind::Constant:
    return setup.a;
  case GeneratorKind::Ramp:
    return setup.a + setup.b * static_cast<double>(frameIndex);
  case GeneratorKind::Sine:
    return setup.c + setup.a * std::sin(2.0 * std::numbers::pi * elapsedMs / setup.b);
  case GeneratorKind::Counter: {
    std::uint64_t span = kMaxCounter + 1; // whole numbers that fit at 0 decimal places
    for (int i = 0; i < decimals; ++i)
      span /= 10;
    if (span == 0)
      span = 1;
    return static_cast<double>((static_cast<std::uint64_t>(setup.a) + frameIndex) % span);
  }
  }
  return 0;
}

} // namespace metersim
