#pragma once

#include <functional>

class QPrinter;
class QWidget;

// Prints a widget as a picture scaled to fit the printable area of the page, keeping its
// proportions, at the top left. False when the widget has nothing to show or the printer cannot
// be painted on (no printer, unwritable PDF file).
[[nodiscard]] bool PrintWidget(QWidget &widget, QPrinter &printer);

// The main window's print command: the print dialog, then the window scaled to the page.
// Printing to a PDF file works without any printer installed.
class WindowPrinter {
public:
  // Shows the print dialog for the printer; true on OK. Empty: QPrintDialog. Tests replace it.
  std::function<bool(QPrinter &printer, QWidget *parent)> askPrinter;

  // Does nothing while a print of this printer is still under way. Returns true when printed;
  // a failed print is reported as "打印失败！".
  bool print(QWidget &window);
  [[nodiscard]] bool busy() const { return m_busy; }

private:
  bool m_busy = false;
};
