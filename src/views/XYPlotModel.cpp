#include "views/XYPlotModel.h"

#include "acquisition/TChannel.h"
#include "app/Options.h"
#include "app/ProfileStore.h"

#include <algorithm>

bool XYFeeds(bool xyChannelShow, int xChannel, int yChannel, int channelCount) {
  return xyChannelShow && xChannel >= 0 && yChannel >= 0 && xChannel < channelCount &&
         yChannel < channelCount;
}

XYAxisSetup ReadXYAxis(const ProfileStore &store, int channel, int ticks) {
  const QString section = Sections::channel(channel);
  XYAxisSetup a;
  a.unit = store.readString(section, QStringLiteral("MeasureUnit"), QString());
  a.title = store.readString(section, QStringLiteral("Title"), QString()) + QLatin1Char('(') + a.unit +
            QLatin1Char(')');
  const double lo = store.readFloat(section, QStringLiteral("RangeMin"), 0);
  const double hi = store.readFloat(section, QStringLiteral("RangeMax"), 50);
  a.min = std::min(lo, hi);
  a.span = std::max(lo, hi) - a.min;
  a.increment = a.span / ticks;
  return a;
}

XYSetup ReadXYSetup(const ProfileStore &store, int xChannel, int yChannel) {
  XYSetup s;
  s.x = ReadXYAxis(store, xChannel, kXYXTicks);
  s.y = ReadXYAxis(store, yChannel, kXYYTicks);
  s.panelWidth = std::max(TChannel::PanelWidthForUnit(s.x.unit), TChannel::PanelWidthForUnit(s.y.unit));
  s.showNowValueX = store.readBool(Sections::ChannelXY, QStringLiteral("xShowNowValueX"), true);
  s.showNowValueY = store.readBool(Sections::ChannelXY, QStringLiteral("xShowNowValueY"), true);
  return s;
}
