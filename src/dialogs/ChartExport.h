#pragma once

#include "dialogs/ExportLayout.h"
#include "dialogs/TableExport.h"

#include <QString>

#include <functional>
#include <span>

class PlotChart;
class QProgressBar;
class QUrl;
class QWidget;
struct AppContext;

// The spreadsheet export commands of the charts: questions, file choice, progress window,
// writing the .xls (or the whole chart as CSV or .xlsx) and showing it with the desktop's
// spreadsheet program.

// The first trace of a chart as the export sees it.
class PlotChartSeries final : public exportlayout::ChartSeries {
public:
  explicit PlotChartSeries(const PlotChart &chart) : m_chart(chart) {}
  [[nodiscard]] int pointCount() const override;
  [[nodiscard]] double x(int i) const override;
  [[nodiscard]] double y(int i) const override;
  [[nodiscard]] QString xTitle() const override;
  [[nodiscard]] QString yTitle() const override;
  [[nodiscard]] bool xDateTime() const override;

private:
  const PlotChart &m_chart;
};

// What the export asks of its surroundings. Each empty member falls back to the default below;
// tests replace them so that no dialog waits and no program is launched.
struct ExportHooks {
  // The progress window (TfrmMain::CreateProgressWindow): shows a window and returns its bar;
  // the export deletes the bar's window when done. A cancellable window holds a button named
  // kProgressCancelButton; clicking it cancels the export.
  std::function<QProgressBar *(int maximum, bool cancellable)> createProgressWindow;
  // The save dialog: the chosen path, or an empty string when cancelled.
  std::function<QString(QWidget *parent, const QString &defaultName)> askFileName;
  // Shows the saved file; false when no program could be started for it.
  std::function<bool(const QUrl &file)> openFile;
};

inline constexpr const char *kProgressCancelButton = "btnCancel";

// Defaults: a borderless 260 x 30 window centred on the screen holding a 250 x 20 bar at (5, 5);
// cancellable, 260 x 60 with a "取消" button under the bar, modal so that the button is the only
// thing the operator can reach during the export. A save dialog with the filter
// "Excel File(*.xls)" (CSV and .xlsx: their own filters); QDesktopServices::openUrl.
[[nodiscard]] QProgressBar *CreateExportProgressWindow(int maximum, bool cancellable = false);
[[nodiscard]] QString AskExportFileName(QWidget *parent, const QString &defaultName,
                                        exportlayout::ExportFormat format = exportlayout::ExportFormat::Xls);
[[nodiscard]] bool OpenExportedFile(const QUrl &file);

// Exports the points of the chart's first trace to a one-sheet workbook: titles in row 1,
// points from row 2. Returns whether the export finished (a cancelled file dialog counts as
// finished); false when the operator said No to a question, cancelled the progress window or
// the file could not be saved. Csv and Xlsx export every point (exportlayout::SaveTable)
// under a cancellable progress window; a cancelled or failed export leaves no file.
bool ExportChartData(QWidget *parent, const AppContext &ctx, const PlotChart &chart, const QString &defaultName,
                     const ExportHooks &hooks = {},
                     exportlayout::ExportFormat format = exportlayout::ExportFormat::Xls);

// Exports every channel's chart side by side: channel c in columns 2c+1 and 2c+2. No charts:
// "没有数据！". Same result as ExportChartData.
bool ExportAllChannelData(QWidget *parent, const AppContext &ctx, std::span<const PlotChart *const> charts,
                          const QString &defaultName, const ExportHooks &hooks = {},
                          exportlayout::ExportFormat format = exportlayout::ExportFormat::Xls);
