#include "acquisition/TChannel.h"

#include "acquisition/ChannelFormats.h"
#include "acquisition/ChannelView.h"
#include "app/Options.h"
#include "app/ProfileStore.h"

#include <QStringEncoder>

#include <algorithm>

TChannel::TChannel(Env env, IChannelView *owner, TSignalType signalType, int tag)
    : m_env(env), m_signalType(signalType), m_owner(owner), m_tag(tag) {}

void TChannel::SetSample(double value, double timeMs, qint64 record) {
  m_value = value;
  m_time = timeMs;
  if (m_owner)
    m_owner->showSample(value, timeMs, m_tag, record);
}

void TChannel::ClearDisplay() {
  if (m_owner)
    m_owner->clearDisplay();
}

void TChannel::SetRange(double low, double high) {
  m_rangeMin = low;
  m_rangeMax = high;
  const double start = std::min(low, high);
  const double span = std::max(low, high) - start;
  if (m_owner)
    m_owner->setValueAxis(start, span, start, span / 10.0);
}

void TChannel::setADValue(qint32 count) {
  m_adValue = count;
  const double m = m_env.maxADValue;
  const double range = m_rangeMax - m_rangeMin;
  double v = 0;
  if (m == 0) {
    v = m_rangeMin; // no full scale configured: nothing sensible to scale by
  } else if (m_signalType == TSignalType::stVoltage) {
    v = m_rangeMin + range * count / m;
  } else {
    // The lowest fifth of the converter range is the live zero of a 4-20 mA loop.
    v = m_rangeMin + (count - m / 5.0) * range / (m * 0.8);
  }
  m_value = v * m_scale + m_offset - m_baseValue;
}

void TChannel::setBaseValue(double base) {
  m_baseValue = base;
  m_env.settings.writeFloat(Sections::channel(m_tag), QStringLiteral("BaseValue"), base);
  if (m_owner)
    m_owner->setBaseCaption(base != 0.0, base != 0.0 ? m_env.formats.formatValue(m_tag, base) : QString());
}

QString TChannel::ValueAxisTitle(const QString &title, const QString &unit) {
  if (unit.trimmed().isEmpty())
    return title;
  return title + QLatin1Char('(') + unit + QLatin1Char(')');
}

int TChannel::PanelWidthForUnit(const QString &unit) {
  QStringEncoder gbk("GBK");
  const QByteArray bytes = gbk.isValid() ? QByteArray(gbk.encode(unit)) : unit.toLocal8Bit();
  return 11 * static_cast<int>(bytes.size()) + 145;
}

void TChannel::updateValueAxisTitle() {
  if (m_owner)
    m_owner->setValueAxisTitle(ValueAxisTitle(m_title, m_measureUnit));
}

void TChannel::setMeasureUnit(const QString &unit) {
  m_measureUnit = unit;
  updateValueAxisTitle();
  if (m_owner)
    m_owner->setUnitCaption(unit, PanelWidthForUnit(unit));
}

void TChannel::setTitle(const QString &title) {
  m_title = title;
  updateValueAxisTitle();
}

void TChannel::setMainTitle(const QString &title) {
  m_mainTitle = title;
  if (m_owner)
    m_owner->setChartTitle(title);
}

void TChannel::setCurveColor(int winColor) {
  m_curveColor = winColor;
  if (m_owner)
    m_owner->setCurveColor(winColor);
}

void TChannel::setTimeWindow(qint64 span) {
  m_timeWindow = span;
  if (m_owner)
    m_owner->setTimeAxisSpan(static_cast<double>(span));
}

double TChannel::XMin() const { return m_owner ? m_owner->timeAxisStart() : 0.0; }
void TChannel::setXMin(double v) {
  if (m_owner)
    m_owner->setTimeAxisStart(v);
}
double TChannel::XSpan() const { return m_owner ? m_owner->timeAxisSpan() : 0.0; }
void TChannel::setXSpan(double v) {
  if (m_owner)
    m_owner->setTimeAxisSpan(v);
}
double TChannel::XMax() const { return XMin() + XSpan(); }
