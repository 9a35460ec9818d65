#include "app/IconFactory.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

namespace {

constexpr int kSize = 32;

void magnifier(QPainter &p, const QString &sign) {
  p.setPen(QPen(QColor(40, 40, 40), 2.5));
  p.setBrush(QColor(220, 235, 255));
  p.drawEllipse(QRectF(4, 4, 18, 18));
  p.drawLine(QPointF(19, 19), QPointF(28, 28));
  p.setPen(QPen(QColor(20, 60, 160), 2.5));
  if (sign.contains('+') || sign.contains('-'))
    p.drawLine(QPointF(8, 13), QPointF(18, 13));
  if (sign.contains('+'))
    p.drawLine(QPointF(13, 8), QPointF(13, 18));
  QFont f = p.font();
  f.setPixelSize(9);
  f.setBold(true);
  p.setFont(f);
  p.setPen(QColor(160, 20, 20));
  if (sign.endsWith('X'))
    p.drawText(QRectF(20, 0, 12, 12), Qt::AlignCenter, "X");
  if (sign.endsWith('Y'))
    p.drawText(QRectF(20, 0, 12, 12), Qt::AlignCenter, "Y");
}

void chartFrame(QPainter &p) {
  p.setPen(QPen(QColor(60, 60, 60), 1.5));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(3, 5, 26, 22));
}

void curve(QPainter &p, const QColor &c, double phase) {
  QPainterPath path;
  path.moveTo(5, 20);
  for (int x = 5; x <= 27; ++x)
    path.lineTo(x, 16 - 7 * std::sin((x + phase) / 3.5));
  p.setPen(QPen(c, 2));
  p.setBrush(Qt::NoBrush);
  p.drawPath(path);
}

void draw(QPainter &p, const QString &n) {
  p.setRenderHint(QPainter::Antialiasing);
  if (n == "btnStart") {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 150, 60));
    p.drawPolygon(QPolygonF({QPointF(8, 5), QPointF(27, 16), QPointF(8, 27)}));
  } else if (n == "btnStop") {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 40, 40));
    p.drawRoundedRect(QRectF(7, 7, 18, 18), 2, 2);
  } else if (n == "btnOpen") {
    p.setPen(QPen(QColor(120, 90, 20), 1.5));
    p.setBrush(QColor(240, 200, 90));
    p.drawPolygon(QPolygonF({QPointF(3, 9), QPointF(12, 9), QPointF(14, 12), QPointF(28, 12),
                             QPointF(28, 26), QPointF(3, 26)}));
  } else if (n == "btnSave") {
    p.setPen(QPen(QColor(20, 40, 110), 1.5));
    p.setBrush(QColor(60, 100, 200));
    p.drawRect(QRectF(5, 5, 22, 22));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(9, 5, 14, 8));
    p.drawRect(QRectF(9, 18, 14, 9));
  } else if (n == "btnPrint") {
    p.setPen(QPen(QColor(50, 50, 50), 1.5));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(9, 4, 14, 9));
    p.setBrush(QColor(150, 150, 160));
    p.drawRoundedRect(QRectF(4, 12, 24, 11), 2, 2);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(9, 19, 14, 9));
  } else if (n == "btnMeterConfigure") {
    p.setPen(QPen(QColor(40, 40, 40), 1.5));
    p.setBrush(QColor(230, 230, 230));
    p.drawRect(QRectF(3, 8, 18, 14));
    p.setBrush(QColor(30, 30, 30));
    p.drawRect(QRectF(5, 10, 14, 7));
    magnifier(p, QString());
  } else if (n == "btnConfigure") {
    p.setPen(QPen(QColor(40, 40, 40), 1.5));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4, 4, 24, 24));
    for (int y = 10; y < 28; y += 6)
      p.drawLine(QPointF(4, y), QPointF(28, y));
    p.drawLine(QPointF(12, 4), QPointF(12, 28));
  } else if (n == "btnSetup") {
    p.setPen(QPen(QColor(70, 70, 70), 4));
    for (int a = 0; a < 8; ++a) {
      const double r = a * 3.14159 / 4;
      p.drawLine(QPointF(16 + 8 * std::cos(r), 16 + 8 * std::sin(r)),
                 QPointF(16 + 13 * std::cos(r), 16 + 13 * std::sin(r)));
    }
    p.setPen(QPen(QColor(70, 70, 70), 2));
    p.setBrush(QColor(180, 180, 180));
    p.drawEllipse(QRectF(8, 8, 16, 16));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(13, 13, 6, 6));
  } else if (n == "btnCursor") {
    chartFrame(p);
    curve(p, QColor(200, 0, 0), 0);
    p.setPen(QPen(QColor(0, 90, 200), 1.5, Qt::DashLine));
    p.drawLine(QPointF(16, 5), QPointF(16, 27));
  } else if (n == "btnLinkMove") {
    p.setPen(QPen(QColor(40, 90, 170), 3));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(3, 11, 16, 10), 5, 5);
    p.drawRoundedRect(QRectF(13, 11, 16, 10), 5, 5);
  } else if (n == "btnResume") {
    chartFrame(p);
    p.setPen(QPen(QColor(30, 120, 50), 2.5));
    p.drawArc(QRectF(9, 10, 14, 14), 30 * 16, 280 * 16);
    p.drawLine(QPointF(21, 10), QPointF(22, 15));
  } else if (n == "btnZoomToFitY") {
    chartFrame(p);
    curve(p, QColor(200, 0, 0), 2);
    p.setPen(QPen(QColor(20, 60, 160), 2));
    p.drawLine(QPointF(16, 6), QPointF(16, 26));
    p.drawLine(QPointF(12, 10), QPointF(16, 6));
    p.drawLine(QPointF(20, 10), QPointF(16, 6));
    p.drawLine(QPointF(12, 22), QPointF(16, 26));
    p.drawLine(QPointF(20, 22), QPointF(16, 26));
  } else if (n == "btnZoomInX") {
    magnifier(p, "+X");
  } else if (n == "btnZoomOutX") {
    magnifier(p, "-X");
  } else if (n == "btnZoomInY") {
    magnifier(p, "+Y");
  } else if (n == "btnZoomOutY") {
    magnifier(p, "-Y");
  } else if (n == "btnZoomBox") {
    p.setPen(QPen(QColor(20, 60, 160), 1.5, Qt::DashLine));
    p.setBrush(QColor(200, 220, 255, 120));
    p.drawRect(QRectF(4, 4, 18, 14));
    magnifier(p, "+");
  } else if (n == "btnVertical" || n == "btnHorizontal") {
    p.setPen(QPen(QColor(50, 50, 50), 1.5));
    p.setBrush(QColor(180, 210, 240));
    if (n == "btnVertical") {
      for (int i = 0; i < 3; ++i)
        p.drawRect(QRectF(4, 4 + i * 8.5, 24, 6.5));
    } else {
      for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j)
          p.drawRect(QRectF(4 + i * 13, 4 + j * 13, 11, 11));
    }
  } else if (n == "btnXYCurve") {
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.drawLine(QPointF(5, 27), QPointF(28, 27));
    p.drawLine(QPointF(5, 27), QPointF(5, 4));
    p.setPen(QPen(QColor(200, 0, 120), 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(9, 8, 16, 14));
  } else if (n == "btnChannelAllDisplay") {
    chartFrame(p);
    curve(p, QColor(200, 0, 0), 0);
    curve(p, QColor(0, 140, 0), 4);
    curve(p, QColor(0, 0, 200), 8);
  } else if (n == "btnMeasure") {
    // Two marker lines over a curve, and the span between them.
    chartFrame(p);
    curve(p, QColor(200, 0, 0), 1);
    p.setPen(QPen(QColor(0, 150, 220), 2));
    p.drawLine(QPointF(9, 5), QPointF(9, 27));
    p.setPen(QPen(QColor(230, 120, 0), 2));
    p.drawLine(QPointF(23, 5), QPointF(23, 27));
    p.setPen(QPen(QColor(40, 40, 40), 1.5));
    p.drawLine(QPointF(10, 24), QPointF(22, 24));
    p.drawLine(QPointF(10, 24), QPointF(13, 22));
    p.drawLine(QPointF(10, 24), QPointF(13, 26));
    p.drawLine(QPointF(22, 24), QPointF(19, 22));
    p.drawLine(QPointF(22, 24), QPointF(19, 26));
  } else {
    p.setPen(QPen(Qt::darkGray, 2));
    p.drawRect(QRectF(6, 6, 20, 20));
  }
}

} // namespace

QIcon ToolIcon(const QString &buttonName) {
  QPixmap pm(kSize, kSize);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  draw(p, buttonName);
  p.end();
  return QIcon(pm);
}
