#include "app/TfrmMain.h"

#include "acquisition/AcquisitionControl.h"
#include "app/AppContext.h"
#include "views/AlarmLogWindow.h"
#include "views/TfraChannel.h"
#include "views/ViewBoard.h"

#include <QApplication>

// The alarm events come from the read thread through the acquisition control, in recording
// order: the views turn red and back, the program beeps when a channel's alarm begins, and the
// event list grows.
void TfrmMain::connectAlarms() {
  m_alarmLog = new AlarmLogWindow(this);
  const auto clearViews = [this] {
    for (int i = 0; i < m_board->viewCount(); ++i)
      m_board->view(i)->setAlarmed(false);
  };
  connect(m_acquisition.get(), &AcquisitionControl::started, this, [this, clearViews] {
    clearViews();
    m_alarmLog->clear();
  });
  // The decision ends with the recording; so does the red.
  connect(m_acquisition.get(), &AcquisitionControl::stopped, this, clearViews);
  connect(m_acquisition.get(), &AcquisitionControl::alarms, this, [this](const AlarmEventBatch &events) {
    bool began = false;
    for (const AlarmEvent &e : events) {
      TfraChannel *v = m_board->view(e.channel);
      if (!v)
        continue;
      const bool alarmed = e.kind != AlarmEventKind::Clear;
      began = began || (alarmed && !v->Alarmed());
      v->setAlarmed(alarmed);
    }
    if (began)
      QApplication::beep();
    m_alarmLog->append(events, m_ctx.ring.startTime());
  });
}

void TfrmMain::showAlarmLog() {
  // Between recordings the list is the log beside the current data file (an opened one too).
  if (!m_acquisition->running())
    m_alarmLog->loadFor(m_workFile);
  m_alarmLog->show();
  m_alarmLog->raise();
  m_alarmLog->activateWindow();
}
