#pragma once

#include <QString>

class QProgressBar;
class QWidget;

// What acquisition control and the recording files need of the window they serve. They report
// through this and their signals and never touch the window's buttons or menus: the window
// decides from its state which commands are available.
class RecordingHost {
public:
  virtual ~RecordingHost() = default;

  // Parent of the message boxes and file dialogs.
  [[nodiscard]] virtual QWidget *dialogParent() = 0;
  [[nodiscard]] virtual QString workFile() const = 0;
  virtual void setWorkFile(const QString &path) = 0;
  // The chart trace (0 to 4) that loaded data goes to.
  [[nodiscard]] virtual int batchIndex() const = 0;
  virtual void setBatchIndex(int batch) = 0;
  // An unsaved recording lies in the temporary file.
  [[nodiscard]] virtual bool saveAvailable() const = 0;
  virtual void setSaveAvailable(bool available) = 0;
  virtual void setPanelText(int panel, const QString &text) = 0;
  // A search or an export runs: no recording may start and no file be opened now.
  [[nodiscard]] virtual bool otherWorkRunning() const = 0;
  // A file is being opened (true) or the open is over (false). Events are served during a long
  // open, so the window must refuse every other command meanwhile.
  virtual void setOpening(bool opening) = 0;
  // The progress window of a long open (a bar from 0 to maximum); the caller frees the bar's
  // window.
  [[nodiscard]] virtual QProgressBar *createProgressWindow(int maximum) = 0;
  // The settings dialog on its page "数据保存" with the save-path field focused.
  virtual void showSavePathSetting() = 0;
};
