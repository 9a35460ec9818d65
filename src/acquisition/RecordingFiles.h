#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class TfrmMain;
class ViewBoard;
struct AppContext;
struct TDataBlock;

// Opening recordings (also overlaid as batches 1 to 5), saving the temporary recording under a
// name, and clearing the charts.
class RecordingFiles : public QObject {
  Q_OBJECT
public:
  RecordingFiles(AppContext &ctx, TfrmMain &main, ViewBoard &board, QObject *parent = nullptr);
  ~RecordingFiles() override;

  // The X/Y view's part of a replay; unset hooks mean there is no X/Y view.
  struct XYHooks {
    // Decides whether the view is fed by this file and, if so, readies the batch's trace.
    std::function<bool(int batch, int channelCount)> begin;
    std::function<void(int channel, double value)> sample; // every replayed sample, in file order
    std::function<void()> clear;                            // the clear command
  };
  void setXYHooks(XYHooks hooks) { m_xy = std::move(hooks); }

  // The file dialogs, replaceable so tests run without them.
  std::function<std::optional<QString>()> chooseOpenFile;
  std::function<std::optional<QString>(const QString &folder, const QString &proposed)> chooseSaveFile;

  // Open into trace `batch` (0 to 4).
  void Open(int batch);
  // Loads and replays a file into the current batch; false (and the operator told) on failure.
  bool LoadByPath(const QString &path);
  // Copies the temporary recording to a name the operator chooses.
  void Save();
  void ClearChannelData();

  [[nodiscard]] const TDataBlock *lastBlock() const { return m_block.get(); }

private:
  void replay(const TDataBlock &block);

  AppContext &m_ctx;
  TfrmMain &m_main;
  ViewBoard &m_board;
  XYHooks m_xy;
  std::unique_ptr<TDataBlock> m_block;
};
