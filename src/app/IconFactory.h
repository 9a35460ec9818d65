#pragma once

#include <QIcon>
#include <QString>

// The tool bar's icons, drawn by the program itself (no image files to lose or license).
// Names are the tool buttons' object names ("btnStart", ...); unknown names give a plain square.
[[nodiscard]] QIcon ToolIcon(const QString &buttonName);
