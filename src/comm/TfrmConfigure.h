#pragma once

#include <QFrame>

class QTableWidget;
class MeterTable;

// Writes a centred, read-only cell; row 0 and column 0 look like a grid's fixed header cells.
void SetFixedGridCell(QTableWidget *grid, int row, int column, const QString &text);

// The meter grid: a header row "序号 仪表号 串口号 方式 状态", row numbers 1 to 10, centred
// read-only cells.
class TfrmConfigure : public QFrame {
  Q_OBJECT
public:
  explicit TfrmConfigure(QWidget *parent = nullptr);
  QTableWidget *StringGrid1 = nullptr;

  // 11 rows, the header texts and the row numbers.
  void prepareGrid();
  // Empties every cell except the header row and the number column.
  void clearGrid();
  // Lists the valid slots from row 1 on; returns the number of rows written.
  int fillGrid(const MeterTable &table);

  [[nodiscard]] QString cellText(int row, int column) const;

private:
  void setCell(int row, int column, const QString &text);
};
