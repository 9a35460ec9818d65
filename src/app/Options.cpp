#include "app/Options.h"

#include "app/Conversions.h"
#include "app/ProfileStore.h"

#include <algorithm>

namespace {
// The bounds of the settings dialog's fields (TfrmSetup); start-up clamps what it reads to them.
constexpr int kSampleIntervalMax = 99999999;
constexpr int kKeepTimeMax = 99999999;
constexpr int kTimeWindowMax = 9999999;
constexpr int kMaxMeterNoMax = 100;
} // namespace

void Options::load(const ProfileStore &s, const QString &dataFolder) {
  const QString &S = Sections::System;
  AppName = s.readString(S, QStringLiteral("AppName"), QStringLiteral("ZERVO Data Acquisition"));

  SysMaxMeterNo = s.readInteger(S, QStringLiteral("SYS_MAX_METER_NO"), 10);
  TraceVisible = s.readBool(S, QStringLiteral("TraceVisible"), true);
  MarkersVisible = s.readBool(S, QStringLiteral("MarkersVisible"), false);
  PanelRightSpaceDefault = s.readInteger(S, QStringLiteral("PanelRightSpaceDefault"), 20);
  PanelTopSpaceDefault = s.readInteger(S, QStringLiteral("PanelTopSpaceDefault"), 10);
  DiplayBackPer = s.readInteger(S, QStringLiteral("DiplayBackPer"), 20);

  Baud = s.readInteger(Sections::Port, QStringLiteral("Baud"), 7);

  Precision = s.readInteger(S, QStringLiteral("Precision"), 2);
  DateTimeFormat = s.readString(S, QStringLiteral("DateTimeFormat"), QStringLiteral("hh:nn:ss"));
  TimeWindow = s.readInteger(S, QStringLiteral("TimeWindow"), 24);
  TimeWindowUnit = s.readInteger(S, QStringLiteral("TimeWindowUnit"), 3);
  BlockSize = s.readInteger(S, QStringLiteral("BlockSize"), 10);
  SampleRate = s.readInteger(S, QStringLiteral("SampleRate"), 0);
  SampleMode = s.readInteger(S, QStringLiteral("SampleMode"), 0);
  KeepTime = s.readInteger(S, QStringLiteral("KeepTime"), 10);
  KeepTimeUnit = s.readInteger(S, QStringLiteral("KeepTimeUnit"), 1);
  SampleInterval = s.readInteger(S, QStringLiteral("SampleInterval"), 1);
  SampleIntervalUnit = s.readInteger(S, QStringLiteral("SampleIntervalUnit"), 1);

  CurveBkColor = s.readInteger(S, QStringLiteral("CurveBkColor"), 0);
  CurveGridColor = s.readInteger(S, QStringLiteral("CurveGridColor"), 8421504);
  CurveTextColor = s.readInteger(S, QStringLiteral("CurveTextColor"), 16777215);
  PanelBkColor = s.readInteger(S, QStringLiteral("PanelBkColor"), 15780518);
  PanelTextColor = s.readInteger(S, QStringLiteral("PanelTextColor"), 8421376);
  // Held as unsigned 16 bits, as the converter's full scale always was.
  MaxADValue = static_cast<quint16>(s.readInteger(S, QStringLiteral("MaxADValue"), 4095));
  ArrangeType = s.readInteger(S, QStringLiteral("ArrangeType"), 0);
  LinkMove = s.readBool(S, QStringLiteral("LinkMove"), false);

  SaveMode = s.readInteger(S, QStringLiteral("SaveMode"), 0);
  FileNameHead = s.readString(S, QStringLiteral("FileNameHead"), QStringLiteral("Test"));
  SavePath = s.readString(S, QStringLiteral("SavePath"), dataFolder);
  OpenPath = s.readString(S, QStringLiteral("OpenPath"), dataFolder);

  XChannelNo = s.readInteger(Sections::ChannelXY, QStringLiteral("XChannelNo"), 0);
  YChannelNo = s.readInteger(Sections::ChannelXY, QStringLiteral("YChannelNo"), 1);

  XYChannelShow = s.readBool(S, QStringLiteral("XYChannelShow"), true);
  PltRepaintEnabled = s.readBool(S, QStringLiteral("PltRepaintEnabled"), false);

  // A hand-edited Sys.ini may hold anything: a negative interval, a time axis of no width, a
  // search sweep over two billion addresses. Keep what the settings dialog could have written.
  SampleInterval = std::clamp(SampleInterval, 0, kSampleIntervalMax);
  KeepTime = std::clamp(KeepTime, 0, kKeepTimeMax); // 0 still means a timed end that never comes
  TimeWindow = std::clamp(TimeWindow, 1, kTimeWindowMax);
  DiplayBackPer = std::clamp(DiplayBackPer, 0, 100);
  SysMaxMeterNo = std::clamp(SysMaxMeterNo, 1, kMaxMeterNoMax);

  recomputeDerived();
}

void Options::recomputeDerived() {
  ValueFormat = ::ValueFormat(Precision, ValueFormat);
  TimeWindowCount = TimeWindow;
  KeepTimeMs = ToMilliseconds(KeepTime, KeepTimeUnit);
  SampleIntervalMs = ToMilliseconds(SampleInterval, SampleIntervalUnit);
}

QString SampleModeName(int code) {
  switch (code) {
  case 0: return QStringLiteral("手动");
  case 1: return QStringLiteral("定时");
  default: return {};
  }
}

QString EndModePanelText(const Options &o) {
  if (o.SampleMode == static_cast<int>(SampleModeCode::Timed))
    return QStringLiteral("定时：") + QString::number(o.KeepTime) + TimeUnitName(o.KeepTimeUnit);
  return QStringLiteral("结束方式：") + SampleModeName(o.SampleMode);
}

QString SampleIntervalPanelText(const Options &o) {
  return QStringLiteral("采样间隔：") + QString::number(o.SampleInterval) +
         TimeUnitName(o.SampleIntervalUnit);
}
