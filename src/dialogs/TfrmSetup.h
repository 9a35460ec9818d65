#pragma once

#include <QDialog>
#include <QHash>

#include <functional>
#include <optional>

class PublishPage;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
struct AppContext;

// The settings dialog ("参数设置"). Created once at start; every showing loads the controls from
// the option mirrors; OK stores them in the mirrors and Sys.ini and applies them at once.
class TfrmSetup : public QDialog {
  Q_OBJECT
public:
  // What OK applies outside the dialog; the main window provides these.
  struct Hooks {
    std::function<void(int panel, const QString &text)> writePanel;
    std::function<void(bool show)> showXYPage;
    std::function<void(int baudCode)> setSearchBaud;
    // Colours, time-axis label format and title, trace and marker visibility on every view.
    std::function<void()> applyDisplayToViews;
    // The time window (a count in its unit) on every channel.
    std::function<void(qint64 count)> setTimeWindow;
    // Multiplies the X of every point of trace 0 of every channel view by the factor.
    std::function<void(double factor)> rescaleTimeAxis;
    std::function<void()> setupXYView;
  };

  TfrmSetup(AppContext &ctx, Hooks hooks, QWidget *parent = nullptr);

  // Bounds of the spins whose range is ours to choose (see the README).
  static constexpr int kKeepTimeMin = 1;
  static constexpr int kKeepTimeMax = 99999999;
  static constexpr int kSampleIntervalMin = 0;
  static constexpr int kSampleIntervalMax = 99999999;

  QTabWidget *PageControl1 = nullptr;
  // Page 0
  QSpinBox *speMaxMeterNo = nullptr;
  QComboBox *cbxBaud = nullptr;
  QGroupBox *rgSampleMode = nullptr;
  QRadioButton *rbManual = nullptr;
  QRadioButton *rbTimed = nullptr;
  QSpinBox *speKeepTime = nullptr;
  QComboBox *cbxKeepTimeUnit = nullptr;
  QSpinBox *speSampleInterval = nullptr;
  QComboBox *cbxSampleIntervalUnit = nullptr;
  QGroupBox *gbSample = nullptr; // hidden
  QComboBox *cbxSampleRate = nullptr;
  QSpinBox *speBlockSize = nullptr;
  // Page 1
  QFrame *shpCurveBkColor = nullptr, *shpCurveGridColor = nullptr, *shpCurveTextColor = nullptr,
         *shpPanelBkColor = nullptr, *shpPanelTextColor = nullptr;
  QSpinBox *speTimeWindow = nullptr;
  QComboBox *cbxTimeWindowUnit = nullptr;
  QSpinBox *speDiplayBackPer = nullptr;
  QLineEdit *leDateTimeFormat = nullptr; // hidden
  QSpinBox *spePrecision = nullptr;      // hidden
  QGroupBox *gbPanelSpace = nullptr;     // hidden
  QSpinBox *spePanelTopSpaceDefault = nullptr, *spePanelRightSpaceDefault = nullptr;
  QCheckBox *cbTraceVisible = nullptr, *cbMarkersVisible = nullptr, *cbXYChannelShow = nullptr,
            *cbPltRepaintEnabled = nullptr;
  // Page 2
  QGroupBox *rgSaveMode = nullptr;
  QRadioButton *rbAsk = nullptr;
  QRadioButton *rbAutoSave = nullptr;
  QLineEdit *edtFileNameHead = nullptr;
  QLineEdit *edtSavePath = nullptr;
  QPushButton *BtnPathClick = nullptr;
  PublishPage *pagePublish = nullptr; // page 3, "数据发布"
  QPushButton *btnOK = nullptr;
  QPushButton *btnCancel = nullptr; // hidden

  // Selects the baud-rate code in the list and returns the list's text for it.
  QString selectBaud(int code);
  // The colour a swatch shows, as a 0x00BBGGRR value.
  [[nodiscard]] int swatchColor(const QFrame *swatch) const;
  void setSwatchColor(QFrame *swatch, int winColor);

  // Chooses a colour for a swatch; replaceable so tests need no colour dialog.
  std::function<std::optional<int>(int current)> chooseColor;
  // Chooses a folder; replaceable so tests need no folder dialog.
  std::function<std::optional<QString>(const QString &current)> chooseFolder;

public slots:
  void btnOKClick();
  void btnCancelClick();
  void rgSampleModeClick();
  void BtnPathClickClick();

protected:
  void showEvent(QShowEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void FormCreate();
  void FormShow();
  void buildSystemPage(QWidget *page);
  void buildDisplayPage(QWidget *page);
  void buildSavePage(QWidget *page);
  QFrame *makeSwatch(const QString &name);
  // Loads a spin or list and remembers what it showed.
  void load(QSpinBox *spin, int stored);
  void load(QComboBox *list, int stored);
  // What OK stores for a spin or list: the stored value while the operator has not changed what
  // the control showed (a keep time of 0 below the spin's minimum stays 0), otherwise the
  // control's value. A list without a selection never gives -1.
  [[nodiscard]] int edited(const QSpinBox *spin, int stored) const;
  [[nodiscard]] int edited(const QComboBox *list, int stored) const;

  AppContext &m_ctx;
  Hooks m_hooks;
  int m_previousTimeWindowUnit = 3;
  QHash<const QWidget *, int> m_shown; // what each spin and list showed at the last showing
};
