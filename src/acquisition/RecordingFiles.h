#pragma once

#include <QObject>
#include <QPointF>
#include <QString>

#include <QVector>

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

class AcquisitionControl;
class RecordingHost;
class ViewBoard;
class DataFileReader;
struct AppContext;
struct DataFileSummary;
struct TSampleRecord;

// Copies source to target; an existing target is replaced in one rename, so it is always either
// the old or the complete new file. False with the reason when anything fails.
[[nodiscard]] bool ReplaceByCopy(const QString &source, const QString &target, QString *error);

// Opening recordings (also overlaid as batches 1 to 5), saving the temporary recording under a
// name, and clearing the charts. Nothing is opened or saved while a recording runs: a replay
// would rebuild the views under the running acquisition.
class RecordingFiles : public QObject {
  Q_OBJECT
public:
  RecordingFiles(AppContext &ctx, RecordingHost &host, ViewBoard &board, const AcquisitionControl &acquisition,
                 QObject *parent = nullptr);
  ~RecordingFiles() override;

  // The X/Y view's part of a replay; unset hooks mean there is no X/Y view.
  struct XYHooks {
    // Decides whether the view is fed by this file and, if so, readies the batch's trace.
    std::function<bool(int batch, int channelCount)> begin;
    // Every replayed sample, in file order, a chunk at a time: `pair` makes the chunk's points
    // (it may run on another thread, and touches nothing but the view's pairing), `add` then
    // gives them to the chart on this thread.
    std::function<void(std::span<const TSampleRecord> records, std::vector<QPointF> &points)> pair;
    std::function<void(const std::vector<QPointF> &points)> add;
    std::function<void()> clear;                            // the clear command
  };
  void setXYHooks(XYHooks hooks) { m_xy = std::move(hooks); }

  // The file dialogs, replaceable so tests run without them.
  std::function<std::optional<QString>()> chooseOpenFile;
  std::function<std::optional<QString>(const QString &folder, const QString &proposed)> chooseSaveFile;

  // How an open reads its file: bytes per read, and how long a pass may take before the
  // progress window shows. Replaceable so tests see a long open without a huge file.
  struct OpenPace {
    qint64 chunkBytes = qint64(4) << 20;
    int progressAfterMs = 500;
  };
  OpenPace openPace;

  static inline const QString kStopFirstText = QStringLiteral("采集进行中，请先停止采集！");
  static inline const QString kWrongFileText = QStringLiteral("错误的数据文件格式！");

  // Open into trace `batch` (0 to 4).
  void Open(int batch);
  // Replays a file into the current batch in one pass over it, without keeping its samples;
  // false (and the operator told) on failure or while a recording runs.
  bool LoadByPath(const QString &path);
  // Copies the temporary recording to a name the operator chooses. An existing file of that
  // name is replaced in one step, so it is either the old or the complete new file.
  void Save();
  void ClearChannelData();
  // At program start: tells the operator about a recording that did not end cleanly and, when it
  // lies in the temporary file, offers to save it. Unanswered (the save dialog cancelled), it
  // stays unsaved: the next Start or Open asks again, and so does the next program start.
  void CheckUnfinishedRecording();

  // The last file opened: its head, channel records and counts (no samples); null before the
  // first open and after a failed one.
  [[nodiscard]] const DataFileSummary *lastFile() const { return m_file.get(); }

private:
  void replay(DataFileReader &reader, std::span<const TSampleRecord> firstChunk);
  // Where a chunk's points of one channel go: the one place the pass hands points to a chart.
  [[nodiscard]] bool refusedWhileRecording();

  AppContext &m_ctx;
  RecordingHost &m_host;
  const AcquisitionControl &m_acquisition;
  ViewBoard &m_board;
  XYHooks m_xy;
  std::unique_ptr<DataFileSummary> m_file;
};
