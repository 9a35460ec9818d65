#include "acquisition/AlarmRule.h"

#include "app/Options.h"
#include "app/ProfileStore.h"

#include <QLocale>

#include <cmath>

namespace {

std::optional<double> OptionalFloat(const ProfileStore &s, const QString &sec, const char *key) {
  const QString text = s.readString(sec, QString::fromLatin1(key), QString()).trimmed();
  if (text.isEmpty())
    return std::nullopt;
  bool ok = false;
  const double v = QLocale::c().toDouble(text, &ok);
  if (!ok || !std::isfinite(v))
    return std::nullopt;
  return v;
}

} // namespace

AlarmLimits ReadAlarmLimits(const ProfileStore &s, int channel) {
  const QString sec = Sections::channel(channel);
  AlarmLimits l;
  l.enabled = s.readBool(sec, QStringLiteral("AlarmEnabled"), false);
  l.high = OptionalFloat(s, sec, "AlarmHigh");
  l.low = OptionalFloat(s, sec, "AlarmLow");
  const double h = s.readFloat(sec, QStringLiteral("AlarmHysteresis"), 0);
  l.hysteresis = std::isfinite(h) && h > 0 ? h : 0.0;
  return l;
}

QString AlarmEventName(AlarmEventKind kind) {
  switch (kind) {
  case AlarmEventKind::High:
    return QStringLiteral("high");
  case AlarmEventKind::Low:
    return QStringLiteral("low");
  case AlarmEventKind::Clear:
    break;
  }
  return QStringLiteral("clear");
}

std::optional<AlarmEventKind> AlarmEventFromName(const QString &name) {
  for (AlarmEventKind k : {AlarmEventKind::High, AlarmEventKind::Low, AlarmEventKind::Clear})
    if (AlarmEventName(k) == name)
      return k;
  return std::nullopt;
}

AlarmRule::AlarmRule(const AlarmLimits &l)
    : m_active(l.active()), m_hasHigh(l.high.has_value()), m_hasLow(l.low.has_value()),
      m_high(l.high.value_or(0)), m_low(l.low.value_or(0)),
      m_hyst(std::isfinite(l.hysteresis) && l.hysteresis > 0 ? l.hysteresis : 0.0) {}

std::optional<AlarmRule::Change> AlarmRule::feed(double v) {
  if (!m_active || !std::isfinite(v))
    return std::nullopt;
  const bool above = m_hasHigh && v > m_high;
  const bool below = m_hasLow && v < m_low;
  switch (m_state) {
  case State::Normal:
    if (above) {
      m_state = State::High;
      return Change{AlarmEventKind::High, m_high};
    }
    if (below) {
      m_state = State::Low;
      return Change{AlarmEventKind::Low, m_low};
    }
    return std::nullopt;
  case State::High:
    // Limits set the wrong way round make a reading both above and below: it keeps the alarm.
    if (below && !above) {
      m_state = State::Low;
      return Change{AlarmEventKind::Low, m_low};
    }
    if (v < m_high - m_hyst) {
      m_state = State::Normal;
      return Change{AlarmEventKind::Clear, m_high};
    }
    return std::nullopt;
  case State::Low:
    if (above && !below) {
      m_state = State::High;
      return Change{AlarmEventKind::High, m_high};
    }
    if (v > m_low + m_hyst) {
      m_state = State::Normal;
      return Change{AlarmEventKind::Clear, m_low};
    }
    return std::nullopt;
  }
  return std::nullopt;
}
