#include "Options.h"

#include "Faults.h"
#include "Frame.h"
#include "Numbers.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <set>
#include <string_view>

namespace metersim {

namespace {

constexpr std::int64_t kMaxTimeMs = 365LL * 24 * 3600 * 1000; // keeps µs arithmetic far from overflow
constexpr int kMaxBaud = 4'000'000;

std::string trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos)
    return {};
  const auto last = s.find_last_not_of(" \t\r\n");
  return std::string(s.substr(first, last - first + 1));
}

std::string upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

// "COM3" (any case) -> 3; COM1 to COM999 only, the range the program maps.
std::optional<int> parsePortName(const std::string &name) {
  const std::string u = upper(name);
  if (u.size() < 4 || u.compare(0, 3, "COM") != 0 || u[3] == '0')
    return std::nullopt;
  const std::optional<std::int64_t> n = parseInt(std::string_view(u).substr(3));
  if (!n || *n < 1 || *n > 999 || u.find_first_not_of("0123456789", 3) != std::string::npos)
    return std::nullopt;
  return static_cast<int>(*n);
}

std::optional<std::int64_t> parseRange(const std::string &text, std::int64_t min, std::int64_t max) {
  const std::optional<std::int64_t> v = parseInt(text);
  if (!v || *v < min || *v > max)
    return std::nullopt;
  return v;
}

bool takesValue(std::string_view name) {
  static constexpr std::string_view kWithValue[] = {
      "port", "meter", "faults", "fault-rate", "silence-ms", "seed", "baud",
      "sys-ini", "log", "duration-ms", "close-port-after", "config"};
  return std::find(std::begin(kWithValue), std::end(kWithValue), name) != std::end(kWithValue);
}

// One option line per line: "name value" or "--name value"; '#' starts a comment line.
bool readConfigFile(const std::string &path, std::vector<std::string> *out, std::string *error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read config file '" + path + "'";
    return false;
  }
  std::string line;
  while (std::getline(in, line)) {
    const std::string t = trim(line);
    if (t.empty() || t[0] == '#')
      continue;
    const auto space = t.find_first_of(" \t");
    std::string name = t.substr(0, space);
    if (name.rfind("--", 0) != 0)
      name = "--" + name;
    if (name == "--config") {
      *error = "config files cannot include other config files";
      return false;
    }
    out->push_back(name);
    if (space != std::string::npos)
      out->push_back(trim(std::string_view(t).substr(space)));
  }
  return true;
}

} // namespace

std::optional<MeterSpec> parseMeter(const std::string &text, std::string *error) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const auto comma = text.find(',', start);
    fields.push_back(trim(std::string_view(text).substr(start, comma == std::string::npos
                                                                   ? std::string::npos
                                                                   : comma - start)));
    if (comma == std::string::npos)
      break;
    start = comma + 1;
  }

  MeterSpec m;
  if (fields[0] == "active") {
    m.mode = MeterMode::Active;
  } else if (fields[0] == "query") {
    m.mode = MeterMode::Query;
  } else {
    *error = "meter '" + text + "' must start with 'active' or 'query'";
    return std::nullopt;
  }

  std::set<std::string> seen;
  for (std::size_t i = 1; i < fields.size(); ++i) {
    const auto eq = fields[i].find('=');
    if (eq == std::string::npos) {
      *error = "expected key=value, got '" + fields[i] + "' in meter '" + text + "'";
      return std::nullopt;
    }
    const std::string key = fields[i].substr(0, eq);
    const std::string value = fields[i].substr(eq + 1);
    const bool timing = key == "interval" || key == "interval_us";
    if (!seen.insert(timing ? std::string("interval") : key).second) {
      *error = "'" + key + "' given twice in meter '" + text + "'";
      return std::nullopt;
    }
    const auto bad = [&](const std::string &what) {
      *error = "bad " + key + " '" + value + "' in meter '" + text + "': " + what;
      return std::nullopt;
    };
    if (key == "addr") {
      const auto v = parseRange(value, 0, kMaxAddress);
      if (!v)
        return bad("expected 0 to 999");
      m.address = static_cast<int>(*v);
    } else if (key == "decimals") {
      const auto v = parseRange(value, 0, kMaxDecimals);
      if (!v)
        return bad("expected 0 to 5");
      m.decimals = static_cast<int>(*v);
    } else if (timing || key == "delay") {
      const bool micro = key == "interval_us";
      const auto v = parseRange(value, 0, micro ? kMaxTimeMs * 1000 : kMaxTimeMs);
      if (!v)
        return bad("expected a time of 0 or more");
      const std::int64_t us = micro ? *v : *v * 1000;
      if ((m.mode == MeterMode::Active) != timing)
        return bad(timing ? "only active meters have an interval"
                          : "only query meters have a reply delay");
      (timing ? m.intervalUs : m.delayUs) = us;
    } else if (key == "gen") {
      std::string genError;
      const std::optional<GeneratorSpec> g = parseGenerator(value, &genError);
      if (!g)
        return bad(genError);
      m.generator = *g;
    } else {
      *error = "unknown key '" + key + "' in meter '" + text + "'";
      return std::nullopt;
    }
  }
  return m;
}

ParseOutcome parseOptions(const std::vector<std::string> &rawArgs) {
  ParseOutcome out;
  SimOptions &o = out.options;
  const auto fail = [&out](std::string message) {
    out.status = ParseOutcome::Status::Error;
    out.error = std::move(message);
    return out;
  };

  std::vector<std::string> args;
  for (std::size_t i = 0; i < rawArgs.size(); ++i) {
    std::string name = rawArgs[i];
    std::string value;
    bool hasValue = false;
    if (name.rfind("--", 0) == 0) {
      const auto eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.resize(eq);
        hasValue = true;
      }
    }
    if (name == "--config") {
      if (!hasValue) {
        if (i + 1 >= rawArgs.size())
          return fail("--config needs a file");
        value = rawArgs[++i];
      }
      std::string error;
      if (!readConfigFile(value, &args, &error))
        return fail(error);
      continue;
    }
    args.push_back(name);
    if (hasValue)
      args.push_back(value);
  }

  std::set<int> portNumbers;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    if (arg == "--help" || arg == "-h") {
      out.status = ParseOutcome::Status::Help;
      return out;
    }
    if (arg.rfind("--", 0) != 0)
      return fail("unexpected argument '" + arg + "'");
    const std::string name = arg.substr(2);
    std::string value;
    if (takesValue(name)) {
      if (i + 1 >= args.size())
        return fail(arg + " needs a value");
      value = args[++i];
    } else if (name != "pace-baud") {
      return fail("unknown option '" + arg + "'");
    }

    if (name == "port") {
      const std::optional<int> n = parsePortName(value);
      if (!n)
        return fail("bad port name '" + value + "': expected COM1 to COM999");
      if (!portNumbers.insert(*n).second)
        return fail("port COM" + std::to_string(*n) + " given twice");
      o.ports.push_back({"COM" + std::to_string(*n), *n, {}});
    } else if (name == "meter") {
      if (o.ports.empty())
        return fail("--meter must follow the --port it belongs to");
      std::string error;
      const std::optional<MeterSpec> m = parseMeter(value, &error);
      if (!m)
        return fail(error);
      PortSpec &port = o.ports.back();
      // Meters share the line: two with one address would answer the same request.
      for (const MeterSpec &other : port.meters)
        if (other.address == m->address)
          return fail("two meters with address " + std::to_string(m->address) + " on " +
                      port.name);
      port.meters.push_back(*m);
    } else if (name == "faults") {
      std::size_t start = 0;
      for (;;) {
        const auto comma = value.find(',', start);
        const std::string item = trim(std::string_view(value).substr(
            start, comma == std::string::npos ? std::string::npos : comma - start));
        if (item == "all") {
          o.faultMask |= kAllFaults;
        } else {
          const std::optional<FaultKind> f = faultFromName(item);
          if (!f)
            return fail("unknown fault '" + item + "'");
          o.faultMask |= faultBit(*f);
        }
        if (comma == std::string::npos)
          break;
        start = comma + 1;
      }
    } else if (name == "fault-rate") {
      const std::optional<double> r = parseDouble(value);
      if (!r || *r < 0 || *r > 1)
        return fail("bad --fault-rate '" + value + "': expected 0 to 1");
      o.faultRate = *r;
    } else if (name == "silence-ms") {
      const auto v = parseRange(value, 1, kMaxTimeMs);
      if (!v)
        return fail("bad --silence-ms '" + value + "'");
      o.silenceMs = *v;
    } else if (name == "seed") {
      const auto v = parseRange(value, 0, UINT32_MAX);
      if (!v)
        return fail("bad --seed '" + value + "': expected 0 to 4294967295");
      o.seed = static_cast<std::uint32_t>(*v);
    } else if (name == "baud") {
      const auto v = parseRange(value, 50, kMaxBaud);
      if (!v)
        return fail("bad --baud '" + value + "'");
      o.baud = static_cast<int>(*v);
    } else if (name == "pace-baud") {
      o.paceBaud = true;
    } else if (name == "sys-ini") {
      if (value.empty())
        return fail("--sys-ini needs a path");
      o.sysIni = value;
    } else if (name == "log") {
      if (value.empty())
        return fail("--log needs a path");
      o.logPath = value;
    } else if (name == "duration-ms") {
      const auto v = parseRange(value, 0, kMaxTimeMs);
      if (!v)
        return fail("bad --duration-ms '" + value + "'");
      o.durationMs = *v;
    } else if (name == "close-port-after") {
      const auto colon = value.find(':');
      const std::optional<int> n =
          colon == std::string::npos ? std::nullopt : parsePortName(value.substr(0, colon));
      const auto ms = colon == std::string::npos ? std::nullopt
                                                 : parseRange(value.substr(colon + 1), 0, kMaxTimeMs);
      if (!n || !ms)
        return fail("bad --close-port-after '" + value + "': expected COMn:ms");
      o.closes.push_back({"COM" + std::to_string(*n), *ms});
    }
  }

  if (o.ports.empty())
    return fail("no --port given");
  for (const PortClose &c : o.closes)
    if (std::none_of(o.ports.begin(), o.ports.end(),
                     [&c](const PortSpec &p) { return p.name == c.port; }))
      return fail("--close-port-after names " + c.port + ", which is not simulated");
  if (o.faultRate > 0 && o.faultMask == 0)
    return fail("--fault-rate given without --faults");
  out.status = ParseOutcome::Status::Run;
  return out;
}

std::string usageText() {
  return R"(Usage: meter-sim --port COMn [--meter METER]... [--port COMm [--meter METER]...]... [options]

Simulates digital panel meters on pseudo-terminals. Prints "COMn=/dev/pts/X" per port, then
"READY", and runs until SIGINT/SIGTERM or --duration-ms.

Ports and meters:
  --port COMn               start a simulated port (COM1..COM999); the --meter options that
                            follow belong to it
  --meter MODE[,KEY=VALUE]...
      MODE                  active (transmits by itself) or query (answers read requests)
      addr=N                address 0..999 (default 1)
      interval=MS           active: time between frames (default 1000; 0 = back to back at --baud)
      interval_us=US        active: the same in microseconds
      delay=MS              query: delay from request to reply (default 0)
      gen=GEN               constant:V | ramp:START:STEP | sine:AMPLITUDE:PERIOD_MS[:OFFSET]
                            | counter[:START]   (default counter)
      decimals=N            decimal places 0..5 (default 0)

Faults:
  --faults LIST             comma list of checksum,garbage,terminator,decimal6,silence,upper
                            (or all)
  --fault-rate P            probability per frame, 0..1 (default 0)
  --silence-ms MS           length of a silence fault (default 1000)
  --seed N                  seed for the fault draws (default: random, written to the log)

Line and run:
  --baud N                  baud rate (default 9600); sets the frame time of interval 0
  --pace-baud               do not send faster than the baud rate (10 bits per byte)
  --close-port-after COMn:MS  close that port's pseudo-terminal after MS ms
  --duration-ms MS          stop after MS ms
  --sys-ini PATH            write the port mapping into section [Serial Ports] of PATH
  --log PATH                log every frame sent and received to PATH
  --config FILE             read options from FILE, one "name value" per line
  --help                    show this text
)";
}

} // namespace metersim
