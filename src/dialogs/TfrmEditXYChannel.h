#pragma once

#include <QDialog>

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTabWidget;
struct AppContext;

// The X/Y view's properties dialog ("属性"): which channels give X and Y, and which current
// values the information window shows. Created once at start and reused; every showing loads the
// controls from the mirrors and Sys.ini; OK checks both choices against the meters found, then
// stores them and sets the X/Y view up again. There is no cancel button: the close box leaves
// everything as it was.
class TfrmEditXYChannel : public QDialog {
  Q_OBJECT
public:
  struct Hooks {
    std::function<void()> setupXYView; // the X/Y view's SetupXYView
  };

  TfrmEditXYChannel(AppContext &ctx, Hooks hooks, QWidget *parent = nullptr);
  // A dialog without its context yet: OK stays disabled until bind() gives it one.
  explicit TfrmEditXYChannel(QWidget *parent = nullptr);
  void bind(AppContext &ctx, Hooks hooks);

  static constexpr int kChannelEntries = 10;

  QTabWidget *PageControl1 = nullptr;
  QLabel *lblHint = nullptr;
  QComboBox *cbXChannelNo = nullptr;
  QComboBox *cbYChannelNo = nullptr;
  QGroupBox *gbPanel = nullptr;
  QCheckBox *ckxShowNowValueX = nullptr;
  QCheckBox *ckxShowNowValueY = nullptr;
  QPushButton *btnOK = nullptr;

  // Shows the dialog modally on page 0 ("XY轴序号") or 1 ("信息显示窗").
  int execOnPage(int page);

  // The entry a drop-down names: the selected entry, or the entry whose text was typed; empty
  // when the typed text names no entry.
  [[nodiscard]] static std::optional<int> Selection(const QComboBox *box);
  // The refusal for a choice: "序号" + the 1-based number (or the text typed) + "上没有仪表,请重新选择!".
  [[nodiscard]] static QString NoMeterMessage(const QString &number);

public slots:
  void btnOKClick();

protected:
  void showEvent(QShowEvent *event) override;

private:
  void FormCreate();
  void FormShow();
  // The channel index a drop-down gives, or empty after telling the operator why it is refused.
  [[nodiscard]] std::optional<int> checkedChannel(const QComboBox *box);

  AppContext *m_ctx = nullptr;
  Hooks m_hooks;
};
