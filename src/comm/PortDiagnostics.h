#pragma once

#include "comm/TdmCom.h"

#include <QList>
#include <QStringList>

// The communication diagnostics of an acquisition as a table for the meter information window:
// row 0 is the header ("串口", then "com" and the number of each port in use), the other rows are
// the counters, one column per port. Ports are columns because an acquisition rarely uses more than
// a few, and the window is narrow.
//
// Counts only since the start of the acquisition; nothing of it goes into the data file.
[[nodiscard]] QList<QStringList> DiagnosticsRows(const QList<PortStats> &ports);
