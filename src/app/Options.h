#pragma once

#include <QString>
#include <QtGlobal>

class ProfileStore;

// Section names of Sys.ini used by more than one subsystem.
namespace Sections {
inline const QString System = QStringLiteral("System Options");
inline const QString Port = QStringLiteral("Port Options");
inline const QString ChannelXY = QStringLiteral("ChannelXY");
inline const QString ChannelAll = QStringLiteral("ChannelAll");
inline QString channel(int channelIndex) { return QStringLiteral("Channel%1").arg(channelIndex + 1); }
} // namespace Sections

// End-mode and save-mode codes as stored.
enum class SampleModeCode : int { Manual = 0, Timed = 1 };
enum class SaveModeCode : int { Ask = 0, Automatic = 1 };

// The in-memory mirrors of the System Options, Port Options and ChannelXY settings. Start-up
// reads them all once; the settings dialog updates mirror and file together; everyone else reads
// the mirror.
struct Options {
  QString AppName = QStringLiteral("ZERVO Data Acquisition");
  int SysMaxMeterNo = 10;
  bool TraceVisible = true;
  bool MarkersVisible = false;
  int PanelRightSpaceDefault = 20;
  int PanelTopSpaceDefault = 10;
  int DiplayBackPer = 20;

  int Baud = 7;

  int Precision = 2;
  QString ValueFormat = QStringLiteral("%.2f");
  QString DateTimeFormat = QStringLiteral("hh:nn:ss");
  int TimeWindow = 24;
  int TimeWindowUnit = 3;
  qint64 TimeWindowCount = 24; // the time window as a 64-bit count in its unit
  int BlockSize = 10;
  int SampleRate = 0;
  int SampleMode = 0;
  int KeepTime = 10;
  int KeepTimeUnit = 1;
  qint64 KeepTimeMs = 10000;
  int SampleInterval = 1;
  int SampleIntervalUnit = 1;
  qint64 SampleIntervalMs = 1000;

  int CurveBkColor = 0;
  int CurveGridColor = 8421504;
  int CurveTextColor = 16777215;
  int PanelBkColor = 15780518;
  int PanelTextColor = 8421376;
  quint16 MaxADValue = 4095;
  int ArrangeType = 0;
  bool LinkMove = false;

  int SaveMode = 0;
  QString FileNameHead = QStringLiteral("Test");
  QString SavePath;
  QString OpenPath;

  int XChannelNo = 0;
  int YChannelNo = 1;
  bool XYChannelShow = true;
  bool PltRepaintEnabled = false;

  // Reads every mirror in start-up order. dataFolder is the default of SavePath and OpenPath.
  void load(const ProfileStore &store, const QString &dataFolder);

  // Derived values, recomputed whenever their inputs change.
  void recomputeDerived();
};

// Texts of the status bar panels that show settings.
[[nodiscard]] QString SampleModeName(int code);
[[nodiscard]] QString EndModePanelText(const Options &o);
[[nodiscard]] QString SampleIntervalPanelText(const Options &o);
