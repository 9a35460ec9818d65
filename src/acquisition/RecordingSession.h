#pragma once

#include "acquisition/AlarmRule.h"
#include "acquisition/DataFile.h"
#include "comm/PollingEngine.h"
#include "publish/ReadingPayload.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <memory>

struct AppContext;
class MeterTable;
class MqttPublisher;
class TReadThread;

// The widget-free steps of starting and stopping a recording. The window's acquisition control
// and the recorder without a window both go through them, so they record the same way.
namespace RecordingSession {

inline const QString kNoMeterText = QStringLiteral("没有有效仪表！");
inline const QString kNoSavePathText = QStringLiteral("默认保存路径不存在，请重新选择！");

// folder + "/" + head + the local time as "yy-MM-dd hh.mm.ss" + ".zvdat": the automatic save mode.
[[nodiscard]] QString AutomaticFileName(const QString &folder, const QString &head, const QDateTime &when);

// One channel per meter of the table (at most ten), as their Channel sections configure them.
[[nodiscard]] QList<ChannelInfo> ConfiguredChannels(const AppContext &ctx);

// Ring indices and start time reset and every meter without a value, then every port in use
// opened and polled with the options' sample interval. The ring is reset before any port opens
// because replies are handled from the moment a port is open.
[[nodiscard]] StartResult StartPolling(AppContext &ctx, PollingEngine &engine);

// Every recorded channel's meter counts as alive at the start.
void MarkMetersAlive(MeterTable &meters, int channels);

// What the published readings say about channels 0 .. channels - 1: channel i records meter i
// of the table, as the views and the data file count them.
[[nodiscard]] QList<PublishChannel> PublishChannels(const MeterTable &meters, int channels);

// A recording whose ring start time is set starts publishing: the publisher takes the read
// thread's batches and alarm events on the read thread itself, in ring order, so no event loop
// (a busy window, a blocked main thread) stands between the file and the broker. publish() and
// publishAlarms() only queue.
// The publisher must outlive the read thread's run; endRecording() belongs after Finish().
void AttachPublisher(AppContext &ctx, MqttPublisher &publisher, TReadThread &readThread, const QString &file,
                     int channels);

// The alarm limits of channels 0 .. channels.size() - 1 as Sys.ini holds them now.
[[nodiscard]] QList<AlarmLimits> ConfiguredAlarmLimits(const AppContext &ctx, int channels);

// Gives the read thread the alarm decision of these channels (their titles go into the event
// log). Before the read thread starts, after the ring's start time is set.
void AttachAlarms(AppContext &ctx, TReadThread &readThread, const QList<ChannelInfo> &channels);

// Polling first, so that no request goes out afterwards; then "Abondon Signal"; then the read
// thread drains the ring, writes the last samples and closes the file. Returns the samples the
// read thread wrote (0 when there was none). Safe when nothing runs.
qint64 Finish(AppContext &ctx, PollingEngine &engine, std::unique_ptr<TReadThread> &readThread);

} // namespace RecordingSession
