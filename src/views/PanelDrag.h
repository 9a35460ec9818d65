#pragma once

#include <QEvent>
#include <QMouseEvent>
#include <QWidget>

// Moves a floating information window with the left mouse button, in its parent's coordinates.
// The views feed it the events of the window and its parts; `finished` runs on release, where the
// view clamps and persists the new place.
class PanelDrag {
public:
  // True when the event belonged to a drag and is consumed.
  template <typename Finished> bool handle(QEvent *event, QWidget *panel, Finished &&finished) {
    QWidget *frame = panel->parentWidget();
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
      auto *me = static_cast<QMouseEvent *>(event);
      if (me->button() != Qt::LeftButton)
        return false;
      m_dragging = true;
      m_offset = frame->mapFromGlobal(me->globalPosition().toPoint()) - panel->pos();
      return true;
    }
    case QEvent::MouseMove: {
      auto *me = static_cast<QMouseEvent *>(event);
      if (!m_dragging || !(me->buttons() & Qt::LeftButton))
        return false;
      panel->move(frame->mapFromGlobal(me->globalPosition().toPoint()) - m_offset);
      return true;
    }
    case QEvent::MouseButtonRelease:
      if (!m_dragging)
        return false;
      m_dragging = false;
      finished();
      return true;
    default:
      return false;
    }
  }

private:
  bool m_dragging = false;
  QPoint m_offset;
};
