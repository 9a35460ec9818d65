#pragma once

#include <QDialog>

#include <array>
#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class TChannel;
class TfraChannel;
class ViewBoard;
struct AppContext;

// The channel properties dialog ("属性"). Created once at start and never destroyed: Tag names
// the channel to edit, every showing loads the controls from that channel's object, view, meter
// slot and decimal places, and only OK applies and stores them.
class TfrmEditChannel : public QDialog {
  Q_OBJECT
public:
  // What the dialog works on besides the shared context; the main window provides these.
  struct Hooks {
    // Channel objects and channel views by index.
    ViewBoard *board = nullptr;
    // True while an acquisition runs (the start button is disabled then).
    std::function<bool()> acquiring;
    // Sets the X/Y view up again; called when the edited channel is its X or Y channel.
    std::function<void()> setupXYView;
  };

  enum class Page : int { RunOption = 0, ViewOption = 1 };

  // Builds the controls. Until attach() there is no channel to edit and OK stays disabled, so the
  // dialog can be created before the views exist.
  explicit TfrmEditChannel(QWidget *parent = nullptr);
  TfrmEditChannel(AppContext &ctx, Hooks hooks, QWidget *parent = nullptr);
  void attach(AppContext &ctx, Hooks hooks);

  // The 0-based index of the channel to edit.
  [[nodiscard]] int Tag() const { return m_tag; }
  void setTag(int channel) { m_tag = channel; }
  // Sets Tag, selects page 0 or 1 (any other value keeps the page last shown) and shows the
  // dialog modally. Returns the dialog's result.
  int showFor(int channel, int page);

  QTabWidget *PageControl1 = nullptr;
  // Page "绘图区"
  QWidget *tsRunOption = nullptr;
  QLineEdit *leMeterAddr = nullptr, *leMeterComNo = nullptr, *leMeterState = nullptr;
  QLineEdit *leMainTitle = nullptr, *leTitle = nullptr, *leMeasureUnit = nullptr;
  QLineEdit *leRangeMin = nullptr, *leRangeMax = nullptr;
  QFrame *shpCurveColor = nullptr;
  QLineEdit *leScale = nullptr, *leOffset = nullptr; // hidden
  QComboBox *cbxPhysicalChannel = nullptr;           // hidden
  QComboBox *cbxSignalType = nullptr;                // hidden
  // Page "信息显示窗"
  QWidget *tsViewOption = nullptr;
  QGroupBox *gbPanelContent = nullptr;
  QCheckBox *ckxShowNowValue = nullptr, *ckxShowMaxValue = nullptr, *ckxShowMinValue = nullptr;
  QCheckBox *ckxShowButton = nullptr;     // hidden
  QSpinBox *spePrecisionArray = nullptr;  // hidden
  // Group "报警": the channel's limits; they take effect at the next recording's start.
  QGroupBox *gbAlarm = nullptr;
  QCheckBox *ckxAlarmEnabled = nullptr;
  QLineEdit *leAlarmHigh = nullptr, *leAlarmLow = nullptr, *leAlarmHysteresis = nullptr;
  QPushButton *btnOK = nullptr;
  QPushButton *btnCancel = nullptr;       // hidden

  // The swatch's colour as a 0x00BBGGRR value.
  [[nodiscard]] int curveColor() const;
  void setCurveColor(int winColor);

  // The last values accepted by OK's float check, kept across showings: minimum, maximum,
  // scale, offset (0 until first accepted).
  [[nodiscard]] const std::array<double, 4> &acceptedFloats() const { return m_accepted; }

  // Chooses a colour for the swatch; replaceable so tests need no colour dialog.
  std::function<std::optional<int>(int current)> chooseColor;

public slots:
  void btnOKClick();
  void btnCancelClick();

protected:
  void showEvent(QShowEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void FormShow();
  void buildRunPage();
  void buildViewPage();
  [[nodiscard]] TChannel *editedChannel() const;
  [[nodiscard]] TfraChannel *editedView() const;

  AppContext *m_ctx = nullptr;
  Hooks m_hooks;
  int m_tag = 0;
  std::array<double, 4> m_accepted{};
  // The alarm texts last accepted (high, low, hysteresis); empty limits are allowed.
  std::array<QString, 3> m_acceptedAlarm{QString(), QString(), QStringLiteral("0")};
};
