#include "acquisition/ChannelSettings.h"

#include "acquisition/TChannel.h"
#include "app/Options.h"
#include "app/ProfileStore.h"

ChannelInfo ConfiguredChannel(const ProfileStore &s, int index) {
  const QString sec = Sections::channel(index);
  const int n = index + 1;
  ChannelInfo c;
  c.physicalChannel = s.readInteger(sec, QStringLiteral("PhysicalChannel"), n);
  c.title = s.readString(sec, QStringLiteral("Title"), QStringLiteral("通道%1").arg(n));
  c.measureUnit = s.readString(sec, QStringLiteral("MeasureUnit"), QString());
  c.rangeMin = s.readFloat(sec, QStringLiteral("RangeMin"), 0);
  c.rangeMax = s.readFloat(sec, QStringLiteral("RangeMax"), 50);
  c.scale = s.readFloat(sec, QStringLiteral("Scale"), 1);
  c.offset = s.readFloat(sec, QStringLiteral("Offset"), 0);
  return c;
}

ChannelInfo ChannelRecordOf(const TChannel &c) {
  return {c.PhysicalChannel(), c.Title(), c.MeasureUnit(), c.RangeMin(), c.RangeMax(), c.Scale(), c.Offset()};
}

void ApplyChannelRecord(TChannel &c, const ChannelInfo &info) {
  c.setPhysicalChannel(info.physicalChannel);
  c.setTitle(info.title);
  c.setMeasureUnit(info.measureUnit);
  c.SetRange(info.rangeMin, info.rangeMax);
  c.setScale(info.scale);
  c.setOffset(info.offset);
}
