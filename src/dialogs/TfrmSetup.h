#pragma once

#include <QDialog>

#include <functional>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTabWidget;
struct AppContext;

// The settings dialog ("参数设置"). Created once at start; its creation fills the lists and writes
// the status panels that show settings.
class TfrmSetup : public QDialog {
  Q_OBJECT
public:
  using PanelWriter = std::function<void(int panel, const QString &text)>;
  TfrmSetup(AppContext &ctx, PanelWriter writePanel, QWidget *parent = nullptr);

  QTabWidget *PageControl1 = nullptr;
  QComboBox *cbxBaud = nullptr;
  QGroupBox *rgSampleMode = nullptr;
  QRadioButton *rbManual = nullptr;
  QRadioButton *rbTimed = nullptr;
  QComboBox *cbxKeepTimeUnit = nullptr;
  QComboBox *cbxSampleIntervalUnit = nullptr;
  QComboBox *cbxSampleRate = nullptr;
  QComboBox *cbxTimeWindowUnit = nullptr;
  QPushButton *btnOK = nullptr;
  QLabel *lblNotReady = nullptr;

  // Selects the baud-rate code in the list and returns the list's text for it.
  QString selectBaud(int code);

private:
  void FormCreate();
  AppContext &m_ctx;
  PanelWriter m_writePanel;
};
