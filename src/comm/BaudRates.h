#pragma once

#include <QStringList>

// The baud-rate list of the serial ports; a stored "Baud" code is a position in it.
// Code 0 ("custom") runs at 9600 baud, the meters' factory setting.
[[nodiscard]] int BaudRateForCode(int code);
[[nodiscard]] QStringList BaudRateTexts();
