#include "app/WindowCommands.h"

CommandStates CommandsFor(WindowState state, bool saveAvailable) {
  CommandStates c;
  const bool idle = state == WindowState::Idle;
  const bool recording = state == WindowState::Recording;
  c.meterSearch = idle;
  c.start = idle;
  c.open = idle;
  c.save = idle && saveAvailable;
  c.stop = recording;
  // Modal windows are fine beside a recording (it runs on its own threads), but one opened
  // during a search stops the search's wait loops until it is closed.
  c.meterInfo = idle || recording;
  c.print = idle || recording;
  c.settings = idle || recording;
  c.about = idle || recording;
  c.exportData = idle || recording;
  c.properties = idle || recording;
  // The markers only read the charts: beside a recording and an export as well. Not while a
  // search is about to rebuild the views or an open fills them (every progress repaint would
  // compute the readout over stores being built).
  c.measure = idle || recording || state == WindowState::Exporting;
  // An export reads the charts while it runs, an open fills them.
  c.clearData = state != WindowState::Exporting && state != WindowState::Opening;
  return c;
}

QString RefusalText(WindowState state) {
  switch (state) {
  case WindowState::Searching:
    return QStringLiteral("仪表搜索中，请等待搜索结束！");
  case WindowState::Recording:
    return QStringLiteral("采集进行中，请先停止采集！");
  case WindowState::Exporting:
    return QStringLiteral("数据导出中，请等待导出结束！");
  case WindowState::Opening:
    return QStringLiteral("数据文件打开中，请等待打开结束！");
  case WindowState::Idle:
    break;
  }
  return {};
}
