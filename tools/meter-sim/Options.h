#pragma once

#include "Generator.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace metersim {

// Same codes as the program's meter state: 0 transmits by itself, 1 answers read requests.
enum class MeterMode : int { Active = 0, Query = 1 };

struct MeterSpec {
  MeterMode mode = MeterMode::Active;
  int address = 1;
  std::int64_t intervalUs = 1'000'000; // active: time between frames; 0 = back to back
  std::int64_t delayUs = 0;            // query: time from request to reply
  GeneratorSpec generator;
  int decimals = 0;

  friend bool operator==(const MeterSpec &, const MeterSpec &) = default;
};

struct PortSpec {
  std::string name; // "COM3"
  int number = 0;   // 3
  std::vector<MeterSpec> meters;
};

struct PortClose {
  std::string port;
  std::int64_t afterMs = 0;
};

struct SimOptions {
  std::vector<PortSpec> ports;
  std::uint32_t faultMask = 0; // bits of faultBit()
  double faultRate = 0;
  std::int64_t silenceMs = 1000;
  std::optional<std::uint32_t> seed;
  int baud = 9600;
  bool paceBaud = false;
  std::string sysIni;
  std::string logPath;
  std::optional<std::int64_t> durationMs;
  std::vector<PortClose> closes;
};

struct ParseOutcome {
  enum class Status : int { Run = 0, Help = 1, Error = 2 };
  Status status = Status::Error;
  SimOptions options;
  std::string error;
};

// args excludes the program name. "--name value" and "--name=value" are both accepted.
[[nodiscard]] ParseOutcome parseOptions(const std::vector<std::string> &args);

// "active,addr=12,interval=100,gen=counter" -> MeterSpec.
[[nodiscard]] std::optional<MeterSpec> parseMeter(const std::string &text, std::string *error);

[[nodiscard]] std::string usageText();

} // namespace metersim
