#include "comm/PortDiagnostics.h"

namespace {
// One counter row: its label and how it is read from a snapshot.
struct CounterRow {
  const char *label;
  quint64 (*read)(const PortStats &);
};

constexpr CounterRow kRows[] = {
    {"正确帧", [](const PortStats &s) { return s.goodFrames; }},
    {"地址错", [](const PortStats &s) { return s.rejected(FrameReject::Address); }},
    {"校验错", [](const PortStats &s) { return s.rejected(FrameReject::Checksum); }},
    {"结束符错", [](const PortStats &s) { return s.rejected(FrameReject::Terminator); }},
    {"小数位错", [](const PortStats &s) { return s.rejected(FrameReject::DecimalDigit); }},
    {"数值错", [](const PortStats &s) { return s.rejected(FrameReject::Magnitude); }},
    {"超时", [](const PortStats &s) { return s.timeouts; }},
};
} // namespace

QList<QStringList> DiagnosticsRows(const QList<PortStats> &ports) {
  QList<QStringList> rows;
  if (ports.isEmpty())
    return rows;
  QStringList header{QStringLiteral("串口")};
  for (const PortStats &p : ports)
    header << QStringLiteral("com%1").arg(p.com);
  rows << header;
  for (const CounterRow &counter : kRows) {
    QStringList row{QString::fromUtf8(counter.label)};
    for (const PortStats &p : ports)
      row << QString::number(counter.read(p));
    rows << row;
  }
  QStringList state{QStringLiteral("状态")};
  for (const PortStats &p : ports)
    state << (p.failed ? QStringLiteral("断开") : QStringLiteral("正常"));
  rows << state;
  return rows;
}
