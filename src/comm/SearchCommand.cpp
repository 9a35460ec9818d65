#include "comm/SearchCommand.h"

#include "app/AppContext.h"
#include "app/MessageBoxes.h"
#include "comm/SerialLink.h"
#include "comm/TfrmConfigure.h"
#include "comm/TfrmConfigureShowUnit.h"

#include <QProgressBar>
#include <QPushButton>

SearchCommand::SearchCommand(AppContext &ctx, TfrmConfigureShowUnit &window, Hooks hooks,
                             QWidget *parent)
    : QObject(parent), m_ctx(ctx), m_window(window), m_hooks(std::move(hooks)),
      m_dialogParent(parent) {}

SearchCommand::~SearchCommand() = default;

QString SearchCommand::saveFailedText(const QString &path) {
  return QStringLiteral("仪表配置无法保存到") + path + QStringLiteral("！");
}

void SearchCommand::setTiming(int waitMs, int pauseMs) {
  m_timing.waitMs = waitMs;
  m_timing.pauseMs = pauseMs;
}

void SearchCommand::abort() {
  if (m_search)
    m_search->abort();
}

void SearchCommand::setStatus(const QString &text) const {
  if (m_hooks.setStatusText)
    m_hooks.setStatusText(text);
}

BusyPortAnswer SearchCommand::askBusyPort(int comNumber) {
  switch (Msg::show(m_dialogParent, QMessageBox::Critical, Msg::kError, PortBusyMessage(comNumber),
                    QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore)) {
  case QMessageBox::Retry:
    return BusyPortAnswer::Retry;
  case QMessageBox::Ignore:
    return BusyPortAnswer::Ignore;
  default:
    return BusyPortAnswer::Abort; // also a box closed without an answer
  }
}

void SearchCommand::showSearching() {
  setStatus(kSearchingText);
  m_window.btnClose->hide();
  m_window.iLedBar1->setValue(0);
  m_window.iLedBar1->show();
  m_window.setWindowTitle(kSearchingText);
  m_window.frmConfigure1->clearGrid();
  // Not modal: the main window stays usable (and repaints) while the search runs.
  m_window.setWindowModality(Qt::NonModal);
  m_window.show();
}

SearchReport SearchCommand::execute() {
  if (m_running)
    return {SearchOutcome::AlreadyRunning};
  m_running = true;
  showSearching();

  SearchReport report;
  {
    PortRegistry registry(*m_ctx.settings, m_lister);
    MeterSearch search(m_ctx.meters, *m_ctx.settings, registry);
    MeterSearchSettings settings = m_timing;
    settings.baudCode = m_ctx.options.Baud;
    settings.maxMeterNo = m_ctx.options.SysMaxMeterNo;
    search.setSettings(settings);
    search.setBusyPortHandler([this](int com) { return askBusyPort(com); });
    connect(&search, &MeterSearch::progressChanged, m_window.iLedBar1, &QProgressBar::setValue);
    connect(&search, &MeterSearch::listening, &m_window, [this] { m_window.show(); });
    m_search = &search;
    report = search.run();
    m_search = nullptr;
  }

  showResult(report);
  m_running = false;
  emit finished(report.outcome);
  return report;
}

void SearchCommand::showResult(const SearchReport &report) {
  if (report.outcome == SearchOutcome::NoPorts)
    Msg::error(m_dialogParent, kNoPortsText);

  // After an abort the grid lists the meters found so far, which stay in the table.
  const bool listed = report.outcome == SearchOutcome::Completed ||
                      (report.outcome == SearchOutcome::Aborted && m_ctx.meters.MeterAmount > 0);
  if (listed && m_window.frmConfigure1->fillGrid(m_ctx.meters) == 0)
    Msg::notice(m_dialogParent, kNothingFoundText, QMessageBox::Critical);
  if (report.portLimitReached)
    Msg::notice(m_dialogParent, kPortLimitText);
  if (report.meterLimitReached)
    Msg::notice(m_dialogParent, kMeterLimitText);

  if (m_ctx.meters.MeterAmount > 0 && m_hooks.buildChannelViews)
    m_hooks.buildChannelViews(m_ctx.meters.MeterAmount);
  if (!report.saved)
    Msg::error(m_dialogParent, saveFailedText(m_ctx.settings->path()));

  if (m_hooks.selectFirstTab)
    m_hooks.selectFirstTab();
  setStatus(kDoneText);
  m_window.hide();
  m_window.btnClose->show();
  m_window.iLedBar1->hide();
  m_window.setWindowTitle(kInfoCaption);
  m_window.exec();
}
