#include "dialogs/ChannelProperties.h"

#include "app/Options.h"
#include "comm/MeterTable.h"

#include <QLocale>

#include <cmath>

namespace ChannelProperties {

std::optional<double> ParseFloatText(const QString &text) {
  const QString t = text.trimmed();
  if (t.isEmpty())
    return std::nullopt;
  // No thousands separators: "1,5" is a mistyped decimal, not fifteen.
  QLocale c = QLocale::c();
  c.setNumberOptions(QLocale::RejectGroupSeparator);
  bool ok = false;
  const double v = c.toDouble(t, &ok);
  if (!ok || !std::isfinite(v))
    return std::nullopt;
  return v;
}

QString FloatText(double value) { return ProfileStore::formatFloat(value); }

std::optional<std::size_t> AcceptFloats(std::span<const QString> texts, std::span<double> accepted) {
  for (std::size_t i = 0; i < texts.size() && i < accepted.size(); ++i) {
    const std::optional<double> v = ParseFloatText(texts[i]);
    if (!v)
      return i;
    accepted[i] = *v;
  }
  return std::nullopt;
}

QString MeterAddressText(qint32 meterNo) { return QString::number(meterNo); }

QString MeterPortText(qint32 meterCom) { return QStringLiteral("COM") + QString::number(meterCom); }

QString MeterModeText(qint32 meterState) { return MeterTable::modeText(meterState); }

QList<ProfileStore::Entry> ChannelSectionEntries(int channel, const ChannelKeys &k) {
  const QString sec = Sections::channel(channel);
  auto entry = [&sec](const char *key, const QString &value) {
    return ProfileStore::Entry{sec, QString::fromLatin1(key), value};
  };
  return {
      entry("BaseValue", FloatText(k.BaseValue)),
      entry("PhysicalChannel", QString::number(k.PhysicalChannel)),
      entry("Title", k.Title),
      entry("MainTitle", k.MainTitle),
      entry("MeasureUnit", k.MeasureUnit),
      entry("RangeMin", FloatText(k.RangeMin)),
      entry("RangeMax", FloatText(k.RangeMax)),
      entry("Scale", FloatText(k.Scale)),
      entry("Offset", FloatText(k.Offset)),
      entry("CurveColor", QString::number(k.CurveColor)),
      entry("SignalType", QString::number(k.SignalType)),
  };
}

namespace {

// An empty limit is no limit; anything else must be a number.
std::optional<std::optional<double>> LimitText(const QString &text) {
  if (text.trimmed().isEmpty())
    return std::optional<double>{};
  if (const std::optional<double> v = ParseFloatText(text))
    return v;
  return std::nullopt;
}

std::optional<double> HysteresisText(const QString &text) {
  const std::optional<double> v = ParseFloatText(text);
  if (!v || *v < 0)
    return std::nullopt;
  return v;
}

} // namespace

std::size_t FirstBadAlarmText(std::span<const QString, 3> texts) {
  if (!LimitText(texts[0]))
    return 0;
  if (!LimitText(texts[1]))
    return 1;
  if (!HysteresisText(texts[2]))
    return 2;
  return 3;
}

std::optional<AlarmLimits> AcceptAlarmTexts(bool enabled, std::span<const QString, 3> texts,
                                            std::span<QString, 3> accepted) {
  // Like the other floats: the texts before the refused one count as accepted.
  const std::size_t bad = FirstBadAlarmText(texts);
  for (std::size_t k = 0; k < bad; ++k)
    accepted[k] = texts[k].trimmed();
  if (bad < 3)
    return std::nullopt;
  return AlarmLimits{enabled, *LimitText(texts[0]), *LimitText(texts[1]), *HysteresisText(texts[2])};
}

QList<ProfileStore::Entry> AlarmSectionEntries(int channel, const AlarmLimits &l) {
  const QString sec = Sections::channel(channel);
  const auto limit = [](const std::optional<double> &v) { return v ? FloatText(*v) : QString(); };
  return {
      {sec, QStringLiteral("AlarmEnabled"), l.enabled ? QStringLiteral("1") : QStringLiteral("0")},
      {sec, QStringLiteral("AlarmHigh"), limit(l.high)},
      {sec, QStringLiteral("AlarmLow"), limit(l.low)},
      {sec, QStringLiteral("AlarmHysteresis"), FloatText(l.hysteresis)},
  };
}

CompareKeys ReadCompareKeys(const ProfileStore &s) {
  const QString &A = Sections::ChannelAll;
  const CompareKeys d;
  CompareKeys k;
  k.MainTitle = s.readString(A, QStringLiteral("MainTitle"), d.MainTitle);
  k.Title = s.readString(A, QStringLiteral("Title"), d.Title);
  k.MeasureUnit = s.readString(A, QStringLiteral("MeasureUnit"), d.MeasureUnit);
  k.RangeMin = s.readFloat(A, QStringLiteral("RangeMin"), d.RangeMin);
  k.RangeMax = s.readFloat(A, QStringLiteral("RangeMax"), d.RangeMax);
  return k;
}

QList<ProfileStore::Entry> CompareSectionEntries(const CompareKeys &k) {
  const QString &A = Sections::ChannelAll;
  return {
      {A, QStringLiteral("Title"), k.Title},
      {A, QStringLiteral("MainTitle"), k.MainTitle},
      {A, QStringLiteral("MeasureUnit"), k.MeasureUnit},
      {A, QStringLiteral("RangeMin"), FloatText(k.RangeMin)},
      {A, QStringLiteral("RangeMax"), FloatText(k.RangeMax)},
  };
}

} // namespace ChannelProperties
