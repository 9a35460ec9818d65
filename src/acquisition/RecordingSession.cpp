#include "acquisition/RecordingSession.h"

#include "acquisition/ChannelSettings.h"
#include "acquisition/TReadThread.h"
#include "app/AppContext.h"
#include "publish/MqttPublisher.h"

#include <algorithm>

namespace RecordingSession {

QString AutomaticFileName(const QString &folder, const QString &head, const QDateTime &when) {
  return folder + QLatin1Char('/') + head + when.toString(QStringLiteral("yy-MM-dd hh.mm.ss")) +
         QStringLiteral(".zvdat");
}

QList<ChannelInfo> ConfiguredChannels(const AppContext &ctx) {
  const int count = std::clamp(ctx.meters.MeterAmount, 0, kMeterSlots);
  QList<ChannelInfo> infos;
  for (int i = 0; i < count; ++i)
    infos.append(ConfiguredChannel(*ctx.settings, i));
  return infos;
}

StartResult StartPolling(AppContext &ctx, PollingEngine &engine) {
  ctx.ring.reset();
  ctx.ring.setStartTime();
  for (TMeterConfigure &m : ctx.meters.Meters)
    m.MeterValue.store(kNoValue);
  engine.setSampleIntervalMs(ctx.options.SampleIntervalMs);
  return engine.start(ctx.meters.MeterComCount);
}

void MarkMetersAlive(MeterTable &meters, int channels) {
  for (int i = 0; i < std::min(channels, kMeterSlots); ++i)
    meters.Meters[static_cast<size_t>(i)].MeterAlive.store(true);
}

QList<PublishChannel> PublishChannels(const MeterTable &meters, int channels) {
  QList<PublishChannel> list;
  for (int i = 0; i < std::min(channels, kMeterSlots); ++i) {
    const TMeterConfigure &m = meters.Meters[static_cast<size_t>(i)];
    list.append({i + 1, m.MeterNo, m.MeterCom});
  }
  return list;
}

void AttachPublisher(AppContext &ctx, MqttPublisher &publisher, TReadThread &readThread, const QString &file,
                     int channels) {
  publisher.beginRecording(file, PublishChannels(ctx.meters, channels), ctx.ring.startTime(), &ctx.meters);
  QObject::connect(&readThread, &TReadThread::samples, &publisher,
                   [p = &publisher](const SampleBatch &b) { p->publish(b); }, Qt::DirectConnection);
  QObject::connect(&readThread, &TReadThread::alarms, &publisher,
                   [p = &publisher](const AlarmEventBatch &e) { p->publishAlarms(e); }, Qt::DirectConnection);
}

QList<AlarmLimits> ConfiguredAlarmLimits(const AppContext &ctx, int channels) {
  QList<AlarmLimits> limits;
  for (int i = 0; i < channels; ++i)
    limits.append(ReadAlarmLimits(*ctx.settings, i));
  return limits;
}

void AttachAlarms(AppContext &ctx, TReadThread &readThread, const QList<ChannelInfo> &channels) {
  QStringList titles;
  for (const ChannelInfo &c : channels)
    titles.append(c.title);
  readThread.setAlarmMonitor(
      std::make_unique<AlarmMonitor>(ConfiguredAlarmLimits(ctx, static_cast<int>(channels.size())), titles),
      ctx.ring.startTime());
}

qint64 Finish(AppContext &ctx, PollingEngine &engine, std::unique_ptr<TReadThread> &readThread) {
  engine.stop();
  if (!readThread)
    return 0;
  ctx.abandonSignal.set();
  readThread->stopAndWait();
  const qint64 written = readThread->samplesWritten();
  readThread.reset();
  return written;
}

} // namespace RecordingSession
