#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;
class QTabWidget;
class QWidget;
class ViewBoard;
struct AppContext;

// The compare chart's properties dialog ("属性"). Created once at start; every showing loads the
// section "ChannelAll" of Sys.ini (defaults when it is missing), and OK stores the edits there and
// sets the compare chart up again from them.
class TfrmEditChannelAll : public QDialog {
  Q_OBJECT
public:
  // Builds the controls. Until attach() there is nothing to store into and OK stays disabled.
  explicit TfrmEditChannelAll(QWidget *parent = nullptr);
  // board: its SetupCompareView applies what OK stored.
  TfrmEditChannelAll(AppContext &ctx, ViewBoard *board, QWidget *parent = nullptr);
  void attach(AppContext &ctx, ViewBoard *board);

  QTabWidget *PageControl1 = nullptr;
  QWidget *tsRunOption = nullptr;
  QLineEdit *leMainTitle = nullptr, *leTitle = nullptr, *leMeasureUnit = nullptr;
  QLineEdit *leRangeMin = nullptr, *leRangeMax = nullptr;
  QPushButton *btnOK = nullptr;
  QPushButton *btnCancel = nullptr; // hidden

public slots:
  void btnOKClick();
  void btnCancelClick();

protected:
  void showEvent(QShowEvent *event) override;

private:
  void FormShow();

  AppContext *m_ctx = nullptr;
  ViewBoard *m_board = nullptr;
};
