#pragma once

#include <QDialog>

// Created once at start and reused. Its pages and controls are not built yet: the dialog says so.
class TfrmEditChannel : public QDialog {
  Q_OBJECT
public:
  explicit TfrmEditChannel(QWidget *parent = nullptr);
};
