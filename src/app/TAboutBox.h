#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The about box: program name, version, maker and a link to the maker's web site.
class TAboutBox : public QDialog {
  Q_OBJECT
public:
  explicit TAboutBox(QWidget *parent = nullptr);
  QLabel *ProductName = nullptr;
  QLabel *Version = nullptr;
  QLabel *Copyright = nullptr;
  QLabel *lblWebAddress = nullptr;
  QPushButton *OKButton = nullptr;

private slots:
  void OKButtonClick();
};

// The maker's web site, opened by the about box's link and the hidden menu item.
inline const QString kWebAddress = QStringLiteral("https://www.corvane.com");
