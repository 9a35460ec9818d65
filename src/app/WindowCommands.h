#pragma once

#include <QString>

// What the main window is busy with. Exactly one at a time: a search, a recording, an export and
// a long open each run nested event loops or threads that another of them must not disturb.
enum class WindowState : int { Idle = 0, Searching = 1, Recording = 2, Exporting = 3, Opening = 4 };

// Which of the main window's commands can run now. Decided here, without widgets, so the one
// place that enables the buttons and menu items cannot disagree with the handlers that refuse.
struct CommandStates {
  bool meterSearch = false; // 搜索仪表
  bool meterInfo = false;   // 仪表信息
  bool start = false;
  bool stop = false;
  bool open = false;        // 打开文件 and the five batches
  bool save = false;
  bool print = false;
  bool settings = false;    // 参数设置 and its menu entries
  bool about = false;
  bool clearData = false;
  bool exportData = false;  // the charts' spreadsheet exports
  bool properties = false;  // the channel, compare and X/Y properties dialogs
  bool measure = false;     // 测量: the markers and their readout on the time charts

  friend bool operator==(const CommandStates &, const CommandStates &) = default;
};

// saveAvailable: an unsaved recording lies in the temporary file.
[[nodiscard]] CommandStates CommandsFor(WindowState state, bool saveAvailable);

// The notice for a command that was reached although the state does not allow it.
[[nodiscard]] QString RefusalText(WindowState state);
