#pragma once

#include <QString>

// Help contexts of the main window and its controls.
inline constexpr int kHelpMainFunction = 10100;
inline constexpr int kHelpProjectManager = 10101;
inline constexpr int kHelpMainWindow = 10102;

// The help page shown for a help context; unknown contexts get the introduction.
[[nodiscard]] inline QString HelpPageForContext(int context) {
  switch (context) {
  case kHelpMainFunction: return QStringLiteral("MainFunction.htm");
  case kHelpProjectManager: return QStringLiteral("ProjectManager.htm");
  case kHelpMainWindow: return QStringLiteral("FinanceInput.htm");
  default: return QStringLiteral("SystermIntroduction.htm");
  }
}
