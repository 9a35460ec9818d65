#pragma once

#include <QDialog>

class QProgressBar;
class QPushButton;
class TfrmConfigure;
class MeterTable;

// The meter information window ("仪表信息"): the meter grid, a close button and the search's
// progress bar, hidden except while a search runs.
class TfrmConfigureShowUnit : public QDialog {
  Q_OBJECT
public:
  explicit TfrmConfigureShowUnit(QWidget *parent = nullptr);
  TfrmConfigure *frmConfigure1 = nullptr;
  QPushButton *btnClose = nullptr;
  QProgressBar *iLedBar1 = nullptr;
};
