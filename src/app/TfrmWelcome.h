#pragma once

#include <QTimer>
#include <QWidget>

// The splash window. Its Timer1 runs once for 2000 ms; start-up keeps processing events until the
// first tick has disabled it, so the splash stays at least that long and the program stays
// responsive meanwhile.
class TfrmWelcome : public QWidget {
  Q_OBJECT
public:
  explicit TfrmWelcome(QWidget *parent = nullptr);
  QTimer Timer1;

  [[nodiscard]] bool timerEnabled() const { return Timer1.isActive(); }

protected:
  void paintEvent(QPaintEvent *event) override;

private slots:
  void Timer1Timer();
};
