#pragma once

#include "acquisition/AlarmRule.h"
#include "app/ProfileStore.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <optional>
#include <span>

// What the channel and compare properties dialogs decide without a widget: how float texts are
// read and shown, the meter fields' texts, and the keys their OK writes.
namespace ChannelProperties {

// The refusal of both dialogs' float checks (caption "错误", error icon).
inline const QString kBadFloatMessage = QStringLiteral("请键入正确内容！");

// A float as typed into an edit: blanks around it are allowed, the decimal separator is a point
// (as in Sys.ini), an exponent is allowed. Empty text, trailing garbage, infinities and NaN are
// refused: none of them makes a usable axis end or calibration.
[[nodiscard]] std::optional<double> ParseFloatText(const QString &text);

// The shortest general decimal text of a float (15 significant digits), as the edits show it.
[[nodiscard]] QString FloatText(double value);

// Parses the texts in order. Each text that parses replaces its entry of `accepted` at once; the
// first text that does not parse stops the run and its position is returned. Empty when all
// parsed. `accepted` must be at least as long as `texts`.
[[nodiscard]] std::optional<std::size_t> AcceptFloats(std::span<const QString> texts,
                                                      std::span<double> accepted);

// The read-only meter fields of the channel dialog.
[[nodiscard]] QString MeterAddressText(qint32 meterNo);
[[nodiscard]] QString MeterPortText(qint32 meterCom);
[[nodiscard]] QString MeterModeText(qint32 meterState);

// The keys the channel dialog's OK writes to section "Channel" + (channel + 1).
struct ChannelKeys {
  double BaseValue = 0;
  qint32 PhysicalChannel = 0;
  QString Title;
  QString MainTitle;
  QString MeasureUnit;
  double RangeMin = 0;
  double RangeMax = 50;
  double Scale = 1;
  double Offset = 0;
  int CurveColor = 255;
  int SignalType = 1;
};
// The entries in the order they are written.
[[nodiscard]] QList<ProfileStore::Entry> ChannelSectionEntries(int channel, const ChannelKeys &keys);

// The alarm texts of the channel dialog: high and low limits (empty: no such limit) and the
// hysteresis (a number not below 0). Null when any is refused; otherwise `accepted` takes the
// texts as typed, and the limits are returned.
[[nodiscard]] std::optional<AlarmLimits> AcceptAlarmTexts(bool enabled, std::span<const QString, 3> texts,
                                                          std::span<QString, 3> accepted);
// The position of the first refused alarm text (3 when none is).
[[nodiscard]] std::size_t FirstBadAlarmText(std::span<const QString, 3> texts);
// AlarmEnabled, AlarmHigh, AlarmLow, AlarmHysteresis of section "Channel" + (channel + 1).
[[nodiscard]] QList<ProfileStore::Entry> AlarmSectionEntries(int channel, const AlarmLimits &limits);

// The compare chart's settings, section "ChannelAll".
struct CompareKeys {
  QString Title = QStringLiteral("总通道");
  QString MainTitle = QStringLiteral("合并显示曲线图");
  QString MeasureUnit;
  double RangeMin = 0;
  double RangeMax = 50;
};
// What the section holds, with the defaults above for missing keys.
[[nodiscard]] CompareKeys ReadCompareKeys(const ProfileStore &store);
// Title, MainTitle, MeasureUnit, RangeMin, RangeMax: the order they are written.
[[nodiscard]] QList<ProfileStore::Entry> CompareSectionEntries(const CompareKeys &keys);

} // namespace ChannelProperties
