#pragma once

#include <QString>
#include <QtGlobal>

class ChannelFormats;
class IChannelView;
class ProfileStore;

enum class TSignalType : quint8 { stVoltage = 0, stCurrent = 1 };
enum class TChannelType : quint8 { ctNormal = 0, ctXY = 1, ctSpecial = 2 };

// One meter channel: its configuration, its latest sample, and the effects its properties have on
// its view. The index (Tag) is the meter's slot in the meter table.
class TChannel {
public:
  struct Env {
    ProfileStore &settings;
    const ChannelFormats &formats;
    quint16 maxADValue = 4095;
  };

  TChannel(Env env, IChannelView *owner, TSignalType signalType, int tag);
  TChannel(const TChannel &) = delete;
  TChannel &operator=(const TChannel &) = delete;

  // Stores the sample and hands it to the view; `record` as in IChannelView::showSample.
  void SetSample(double value, double timeMs, qint64 record = -1);
  void ClearDisplay();
  // Accepts the two ends in either order; the stored values stay as given.
  void SetRange(double low, double high);

  [[nodiscard]] TSignalType SignalType() const { return m_signalType; }
  void setSignalType(TSignalType t) { m_signalType = t; }
  [[nodiscard]] qint32 ADValue() const { return m_adValue; }
  void setADValue(qint32 count); // also sets Value by the signal-type conversion
  [[nodiscard]] double Value() const { return m_value; }
  [[nodiscard]] double Time() const { return m_time; }
  [[nodiscard]] double BaseValue() const { return m_baseValue; }
  void setBaseValue(double base); // persisted; shown on the view when not zero
  [[nodiscard]] qint32 PhysicalChannel() const { return m_physicalChannel; }
  void setPhysicalChannel(qint32 v) { m_physicalChannel = v; }
  [[nodiscard]] qint32 MeterAddr() const { return m_meterAddr; }
  void setMeterAddr(qint32 v) { m_meterAddr = v; }
  [[nodiscard]] qint32 MeterComNo() const { return m_meterComNo; }
  void setMeterComNo(qint32 v) { m_meterComNo = v; }
  [[nodiscard]] const QString &MeasureUnit() const { return m_measureUnit; }
  void setMeasureUnit(const QString &unit);
  [[nodiscard]] double RangeMin() const { return m_rangeMin; }
  void setRangeMin(double v) { SetRange(v, m_rangeMax); }
  [[nodiscard]] double RangeMax() const { return m_rangeMax; }
  void setRangeMax(double v) { SetRange(m_rangeMin, v); }
  [[nodiscard]] double Offset() const { return m_offset; }
  void setOffset(double v) { m_offset = v; }
  [[nodiscard]] double Scale() const { return m_scale; }
  void setScale(double v) { m_scale = v; }
  [[nodiscard]] const QString &Title() const { return m_title; }
  void setTitle(const QString &title);
  [[nodiscard]] const QString &MainTitle() const { return m_mainTitle; }
  void setMainTitle(const QString &title);
  [[nodiscard]] int CurveColor() const { return m_curveColor; }
  void setCurveColor(int winColor);
  [[nodiscard]] IChannelView *Owner() const { return m_owner; }
  [[nodiscard]] qint64 TimeWindow() const { return m_timeWindow; }
  void setTimeWindow(qint64 span);
  [[nodiscard]] double XMin() const;
  void setXMin(double v);
  [[nodiscard]] double XMax() const;
  [[nodiscard]] double XSpan() const;
  void setXSpan(double v);
  [[nodiscard]] qint32 Tag() const { return m_tag; }
  [[nodiscard]] TChannelType ChannelType() const { return m_channelType; }
  void setChannelType(TChannelType t) { m_channelType = t; }
  [[nodiscard]] qint32 BoardId() const { return m_boardId; }
  void setBoardId(qint32 v) { m_boardId = v; }

  // The value-axis title: Title, plus "(unit)" when the unit is not blank.
  [[nodiscard]] static QString ValueAxisTitle(const QString &title, const QString &unit);
  // The information window's width for a unit: 145 px plus 11 px per byte of its GBK form.
  [[nodiscard]] static int PanelWidthForUnit(const QString &unit);

private:
  void updateValueAxisTitle();

  Env m_env;
  qint32 m_adValue = 0;
  double m_value = 0;
  double m_time = 0;
  double m_baseValue = 0;
  qint32 m_physicalChannel = 0;
  QString m_measureUnit;
  double m_rangeMin = 0;
  double m_rangeMax = 0;
  double m_offset = 0;
  double m_scale = 1;
  QString m_title;
  QString m_mainTitle;
  TSignalType m_signalType;
  IChannelView *m_owner;
  int m_curveColor = 255;
  qint64 m_timeWindow = 0;
  qint32 m_tag;
  TChannelType m_channelType = TChannelType::ctNormal;
  qint32 m_boardId = 0;
  qint32 m_meterAddr = 0;
  qint32 m_meterComNo = 0;
};
