#include "comm/TfrmConfigure.h"

#include "comm/MeterTable.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
constexpr int kRows = 11;
constexpr int kColumns = 5;
constexpr int kWidths[kColumns] = {64, 49, 52, 57, 45};
const char *const kHeaders[kColumns] = {"序号", "仪表号", "串口号", "方式", "状态"};
} // namespace

TfrmConfigure::TfrmConfigure(QWidget *parent) : QFrame(parent) {
  setObjectName(QStringLiteral("frmConfigure1"));
  QFont f(QStringLiteral("宋体"));
  f.setPixelSize(12);
  setFont(f);
  StringGrid1 = new QTableWidget(kRows, kColumns, this);
  StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
  // The first row and column are drawn as fixed cells, like the header of a string grid.
  StringGrid1->horizontalHeader()->hide();
  StringGrid1->verticalHeader()->hide();
  StringGrid1->verticalHeader()->setDefaultSectionSize(20);
  StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGrid1->setSelectionMode(QAbstractItemView::NoSelection);
  StringGrid1->setFocusPolicy(Qt::NoFocus);
  for (int c = 0; c < kColumns; ++c)
    StringGrid1->setColumnWidth(c, kWidths[c]);
  auto *l = new QVBoxLayout(this);
  l->setContentsMargins(0, 0, 0, 0);
  l->addWidget(StringGrid1);
}

void SetFixedGridCell(QTableWidget *grid, int row, int column, const QString &text) {
  QTableWidgetItem *item = grid->item(row, column);
  if (!item) {
    item = new QTableWidgetItem;
    item->setTextAlignment(Qt::AlignCenter);
    item->setFlags(Qt::ItemIsEnabled);
    if (row == 0 || column == 0)
      item->setBackground(grid->palette().button());
    grid->setItem(row, column, item);
  }
  item->setText(text);
}

void TfrmConfigure::setCell(int row, int column, const QString &text) {
  SetFixedGridCell(StringGrid1, row, column, text);
}

QString TfrmConfigure::cellText(int row, int column) const {
  const QTableWidgetItem *item = StringGrid1->item(row, column);
  return item ? item->text() : QString();
}

void TfrmConfigure::prepareGrid() {
  StringGrid1->setRowCount(kRows);
  for (int c = 0; c < kColumns; ++c)
    setCell(0, c, QString::fromUtf8(kHeaders[c]));
  for (int r = 1; r < kRows; ++r)
    setCell(r, 0, QString::number(r));
}

void TfrmConfigure::clearGrid() {
  for (int r = 1; r < StringGrid1->rowCount(); ++r)
    for (int c = 1; c < kColumns; ++c)
      setCell(r, c, QString());
}

int TfrmConfigure::fillGrid(const MeterTable &table) {
  const QList<QStringList> rows = table.gridRows();
  for (int i = 0; i < rows.size() && i + 1 < StringGrid1->rowCount(); ++i)
    for (int c = 0; c < rows[i].size(); ++c)
      setCell(i + 1, c + 1, rows[i][c]);
  return static_cast<int>(rows.size());
}
