#pragma once

#include <QString>

#include <optional>

class ProfileStore;

// A channel's limits as its Channel section sets them. A limit that is not set is never crossed.
struct AlarmLimits {
  bool enabled = false;
  std::optional<double> high;
  std::optional<double> low;
  double hysteresis = 0.0;

  [[nodiscard]] bool active() const { return enabled && (high || low); }
  friend bool operator==(const AlarmLimits &, const AlarmLimits &) = default;
};

// AlarmEnabled (0), AlarmHigh, AlarmLow (empty: no such limit), AlarmHysteresis (0) of the
// channel's section. A limit that is not a finite number counts as not set; a negative
// hysteresis as 0.
[[nodiscard]] AlarmLimits ReadAlarmLimits(const ProfileStore &settings, int channel);

enum class AlarmEventKind : int { High = 0, Low = 1, Clear = 2 };
[[nodiscard]] QString AlarmEventName(AlarmEventKind kind);
[[nodiscard]] std::optional<AlarmEventKind> AlarmEventFromName(const QString &name);

// The decision of one channel, fed its readings one by one in recording order. A reading above
// the high limit or below the low one starts an alarm (one exactly at a limit does not); the
// alarm ends when a reading is back inside by more than the hysteresis. A reading beyond the
// other limit while in alarm turns the alarm over to that limit. Readings that are not finite
// (a meter's error value) decide nothing: the state stays as it was.
class AlarmRule {
public:
  enum class State : int { Normal = 0, High = 1, Low = 2 };
  struct Change {
    AlarmEventKind kind;
    double limit; // the limit crossed; for a clear, the limit of the alarm that ended
  };

  AlarmRule() = default;
  explicit AlarmRule(const AlarmLimits &limits);

  // At most one change of state per reading. O(1).
  [[nodiscard]] std::optional<Change> feed(double value);
  [[nodiscard]] State state() const { return m_state; }

private:
  bool m_active = false;
  bool m_hasHigh = false, m_hasLow = false;
  double m_high = 0, m_low = 0, m_hyst = 0;
  State m_state = State::Normal;
};
