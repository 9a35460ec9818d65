#pragma once

#include <QTimer>
#include <QWidget>

// The splash window. Its Timer1 runs once for 2000 ms; start-up waits in an event loop until the
// first tick has disabled it, so the splash stays at least that long, the program stays
// responsive meanwhile, and the wait costs no processor time.
class TfrmWelcome : public QWidget {
  Q_OBJECT
public:
  explicit TfrmWelcome(QWidget *parent = nullptr);
  QTimer Timer1;

  [[nodiscard]] bool timerEnabled() const { return Timer1.isActive(); }
  // Handles events until the first tick has disabled the timer; sleeps while there are none.
  void waitForTimer();

protected:
  void paintEvent(QPaintEvent *event) override;

private slots:
  void Timer1Timer();
};
