#pragma once

#include "acquisition/AlarmLog.h"

#include <QWidget>

class QTableWidget;

// "报警记录": the alarm events of the current recording, one row each, newest last. While a
// recording runs it grows with the events as they come; otherwise it shows the log beside the
// data file.
class AlarmLogWindow : public QWidget {
  Q_OBJECT
public:
  explicit AlarmLogWindow(QWidget *parent = nullptr);

  void clear();
  void setRows(const QList<AlarmLogRow> &rows);
  // Reads `<data file>.alarms.csv`; no log (a recording without alarms) leaves the list empty.
  void loadFor(const QString &dataFile);
  void append(const AlarmEventBatch &events, const QDateTime &start);
  [[nodiscard]] int rowCount() const;
  [[nodiscard]] QString cellText(int row, int column) const;

  QTableWidget *tblEvents = nullptr;

private:
  void addRow(const AlarmLogRow &row);
};
