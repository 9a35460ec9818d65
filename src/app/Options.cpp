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

// How many codes each code-valued key has (the lists of the settings dialog and the views).
constexpr int kTimeUnitCodes = 4;
constexpr int kBaudCodes = 16;
constexpr int kSampleRateCodes = 6;
constexpr int kModeCodes = 2; // SampleMode, SaveMode, ArrangeType

// A code outside its list would show as an empty unit or a missing selection, and a timed
// recording with an unknown unit would never end: such a code reads as the key's default.
int readCode(const ProfileStore &s, const QString &section, const QString &key, int def, int count) {
  const int v = s.readInteger(section, key, def);
  return v >= 0 && v < count ? v : def;
}
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

  Baud = readCode(s, Sections::Port, QStringLiteral("Baud"), 7, kBaudCodes);

  Precision = s.readInteger(S, QStringLiteral("Precision"), 2);
  DateTimeFormat = s.readString(S, QStringLiteral("DateTimeFormat"), QStringLiteral("hh:nn:ss"));
  TimeWindow = s.readInteger(S, QStringLiteral("TimeWindow"), 24);
  TimeWindowUnit = readCode(s, S, QStringLiteral("TimeWindowUnit"), 3, kTimeUnitCodes);
  BlockSize = s.readInteger(S, QStringLiteral("BlockSize"), 10);
  SampleRate = readCode(s, S, QStringLiteral("SampleRate"), 0, kSampleRateCodes);
  SampleMode = readCode(s, S, QStringLiteral("SampleMode"), 0, kModeCodes);
  KeepTime = s.readInteger(S, QStringLiteral("KeepTime"), 10);
  KeepTimeUnit = readCode(s, S, QStringLiteral("KeepTimeUnit"), 1, kTimeUnitCodes);
  SampleInterval = s.readInteger(S, QStringLiteral("SampleInterval"), 1);
  SampleIntervalUnit = readCode(s, S, QStringLiteral("SampleIntervalUnit"), 1, kTimeUnitCodes);

  CurveBkColor = s.readInteger(S, QStringLiteral("CurveBkColor"), 0);
  CurveGridColor = s.readInteger(S, QStringLiteral("CurveGridColor"), 8421504);
  CurveTextColor = s.readInteger(S, QStringLiteral("CurveTextColor"), 16777215);
  PanelBkColor = s.readInteger(S, QStringLiteral("PanelBkColor"), 15780518);
  PanelTextColor = s.readInteger(S, QStringLiteral("PanelTextColor"), 8421376);
  // Held as unsigned 16 bits, as the converter's full scale always was.
  MaxADValue = static_cast<quint16>(s.readInteger(S, QStringLiteral("MaxADValue"), 4095));
  ArrangeType = readCode(s, S, QStringLiteral("ArrangeType"), 0, kModeCodes);
  LinkMove = s.readBool(S, QStringLiteral("LinkMove"), false);

  SaveMode = readCode(s, S, QStringLiteral("SaveMode"), 0, kModeCodes);
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
