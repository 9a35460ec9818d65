#pragma once

#include <QObject>

// Program start: splash, windows created once in their fixed order, then the message loop.
int RunProgram(int argc, char **argv);

// Keeps tool-tips up for the given time instead of the toolkit's ~10 s.
class HintPause : public QObject {
  Q_OBJECT
public:
  explicit HintPause(int milliseconds, QObject *parent = nullptr)
      : QObject(parent), m_ms(milliseconds) {}
  [[nodiscard]] int milliseconds() const { return m_ms; }

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  int m_ms;
};
