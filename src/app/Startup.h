#pragma once

#include <QObject>
#include <QStringList>

#include <memory>

struct AppContext;
class ProfileStore;
class TfrmMain;

// Program start: splash, windows created once in their fixed order, then the message loop.
int RunProgram(int argc, char **argv);

// The application's display name: AppName of Sys.ini ("ZERVO Data Acquisition" when missing).
void SetApplicationTitle(const ProfileStore &settings);

// The main window and, after it, each dialog once in the fixed order; the dialogs are children of
// the main window and live as long as it does.
std::unique_ptr<TfrmMain> CreateWindows(AppContext &ctx, const QStringList &args);

// Keeps tool-tips up for the given time instead of the toolkit's ~10 s.
class HintPause : public QObject {
  Q_OBJECT
public:
  explicit HintPause(int milliseconds, QObject *parent = nullptr)
      : QObject(parent), m_ms(milliseconds) {}
  [[nodiscard]] int milliseconds() const { return m_ms; }

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  int m_ms;
};
