#pragma once

#include <QString>
#include <QtGlobal>

// What a channel pushes into its view. The channel view implements it; tests use a recorder.
class IChannelView {
public:
  virtual ~IChannelView() = default;

  // A new sample (value, milliseconds since the start) of channel `channel`; `record` is its
  // index among the samples of the recording file (-1: not from a file).
  virtual void showSample(double value, double timeMs, int channel, qint64 record) = 0;
  // Empties trace 0 and every value caption.
  virtual void clearDisplay() = 0;
  virtual void setChartTitle(const QString &text) = 0;
  virtual void setValueAxisTitle(const QString &text) = 0;
  // The unit caption, and the information window's width for it.
  virtual void setUnitCaption(const QString &unit, int panelWidth) = 0;
  // Value axis: start, span, desired start and desired increment.
  virtual void setValueAxis(double start, double span, double desiredStart, double increment) = 0;
  virtual void setCurveColor(int winColor) = 0;
  // The base caption; hidden when `visible` is false.
  virtual void setBaseCaption(bool visible, const QString &text) = 0;

  // The time axis, in display time units.
  [[nodiscard]] virtual double timeAxisStart() const = 0;
  [[nodiscard]] virtual double timeAxisSpan() const = 0;
  virtual void setTimeAxisStart(double start) = 0;
  virtual void setTimeAxisSpan(double span) = 0;
};
