#include "views/AlarmLogWindow.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QString EventText(AlarmEventKind kind) {
  switch (kind) {
  case AlarmEventKind::High:
    return QStringLiteral("超上限");
  case AlarmEventKind::Low:
    return QStringLiteral("超下限");
  case AlarmEventKind::Clear:
    break;
  }
  return QStringLiteral("恢复");
}

QString Number(double v) { return QString::number(v, 'g', QLocale::FloatingPointShortest); }

} // namespace

AlarmLogWindow::AlarmLogWindow(QWidget *parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("frmAlarmLog"));
  setWindowTitle(QStringLiteral("报警记录"));
  resize(640, 320);
  tblEvents = new QTableWidget(0, 7, this);
  tblEvents->setObjectName(QStringLiteral("tblEvents"));
  tblEvents->setHorizontalHeaderLabels({QStringLiteral("时间(UTC)"), QStringLiteral("毫秒"), QStringLiteral("通道"),
                                        QStringLiteral("标题"), QStringLiteral("读数"), QStringLiteral("限值"),
                                        QStringLiteral("事件")});
  tblEvents->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tblEvents->setSelectionBehavior(QAbstractItemView::SelectRows);
  tblEvents->verticalHeader()->hide();
  tblEvents->horizontalHeader()->setStretchLastSection(true);
  auto *l = new QVBoxLayout(this);
  l->setContentsMargins(2, 2, 2, 2);
  l->addWidget(tblEvents);
}

void AlarmLogWindow::clear() { tblEvents->setRowCount(0); }

void AlarmLogWindow::setRows(const QList<AlarmLogRow> &rows) {
  clear();
  for (const AlarmLogRow &r : rows)
    addRow(r);
}

void AlarmLogWindow::loadFor(const QString &dataFile) {
  setRows(AlarmLog::Read(AlarmLog::PathFor(dataFile)).value_or(QList<AlarmLogRow>{}));
}

void AlarmLogWindow::append(const AlarmEventBatch &events, const QDateTime &start) {
  for (const AlarmEvent &e : events)
    addRow({AlarmLog::TimeText(start, e.timeMs), static_cast<qint64>(e.timeMs), e.channel + 1, e.title, e.value,
            e.limit, e.kind});
  tblEvents->scrollToBottom();
}

int AlarmLogWindow::rowCount() const { return tblEvents->rowCount(); }

QString AlarmLogWindow::cellText(int row, int column) const {
  const QTableWidgetItem *item = tblEvents->item(row, column);
  return item ? item->text() : QString();
}

void AlarmLogWindow::addRow(const AlarmLogRow &r) {
  const int row = tblEvents->rowCount();
  tblEvents->insertRow(row);
  const QStringList cells{r.time,        QString::number(r.ms), QString::number(r.channel), r.title,
                          Number(r.value), Number(r.limit),     EventText(r.kind)};
  for (int c = 0; c < cells.size(); ++c)
    tblEvents->setItem(row, c, new QTableWidgetItem(cells[c]));
  if (r.kind != AlarmEventKind::Clear)
    tblEvents->item(row, 6)->setForeground(Qt::red);
}
