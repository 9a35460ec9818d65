#include "app/TfrmWelcome.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#include <cmath>

TfrmWelcome::TfrmWelcome(QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("frmWelcome"));
  setFixedSize(426, 172);
  if (const QScreen *s = QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - rect().center());
  Timer1.setObjectName(QStringLiteral("Timer1"));
  Timer1.setInterval(2000);
  // A coarse timer may fire up to 5 % early; the splash stays at least its full 2 s.
  Timer1.setTimerType(Qt::PreciseTimer);
  connect(&Timer1, &QTimer::timeout, this, &TfrmWelcome::Timer1Timer);
  Timer1.start();
}

void TfrmWelcome::Timer1Timer() { Timer1.stop(); }

void TfrmWelcome::waitForTimer() {
  if (!Timer1.isActive())
    return;
  // Timer1Timer is connected first, so the timer is disabled by the time the loop ends.
  QEventLoop loop;
  connect(&Timer1, &QTimer::timeout, &loop, &QEventLoop::quit);
  loop.exec();
}

void TfrmWelcome::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, height());
  g.setColorAt(0, QColor(18, 52, 110));
  g.setColorAt(1, QColor(8, 20, 48));
  p.fillRect(rect(), g);
  // A trace across the picture, as on the program's charts.
  QPainterPath path;
  path.moveTo(0, 130);
  for (int x = 0; x <= width(); x += 4)
    path.lineTo(x, 130 - 18 * std::sin(x / 30.0) - x / 20.0);
  p.setPen(QPen(QColor(255, 210, 0), 2));
  p.drawPath(path);
  QFont f = font();
  f.setPixelSize(30);
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(QRect(0, 24, width(), 50), Qt::AlignCenter, QStringLiteral("仪表数据采集软件"));
  f.setPixelSize(13);
  f.setBold(false);
  p.setFont(f);
  p.setPen(QColor(190, 210, 240));
  p.drawText(QRect(0, 74, width(), 24), Qt::AlignCenter,
             QStringLiteral("ZERVO Data Acquisition  ·  正在启动…"));
  p.setPen(QColor(90, 120, 170));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}
