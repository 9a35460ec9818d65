#include "dialogs/PrintWindow.h"

#include "app/MessageBoxes.h"

#include <QPainter>
#include <QPixmap>
#include <QPrintDialog>
#include <QPrinter>
#include <QWidget>

bool PrintWidget(QWidget &widget, QPrinter &printer) {
  const QPixmap picture = widget.grab();
  if (picture.isNull() || picture.width() <= 0 || picture.height() <= 0)
    return false;
  QPainter painter;
  if (!painter.begin(&printer))
    return false;
  const QRect page = painter.viewport();
  const double scale = std::min(static_cast<double>(page.width()) / picture.width(),
                                static_cast<double>(page.height()) / picture.height());
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawPixmap(QRectF(0, 0, picture.width() * scale, picture.height() * scale), picture,
                     QRectF(picture.rect()));
  return painter.end();
}

bool WindowPrinter::print(QWidget &window) {
  if (m_busy)
    return false;
  m_busy = true;
  struct Release {
    bool &flag;
    ~Release() { flag = false; }
  } release{m_busy};

  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(QStringLiteral("Untitled"));
  const bool accepted = askPrinter ? askPrinter(printer, &window)
                                   : QPrintDialog(&printer, &window).exec() == QDialog::Accepted;
  if (!accepted)
    return false;
  if (!PrintWidget(window, printer)) {
    Msg::error(&window, QStringLiteral("打印失败！"));
    return false;
  }
  return true;
}
