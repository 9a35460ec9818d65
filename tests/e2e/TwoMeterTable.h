#pragma once

#include "MeterSim.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QtTest>

// Writes a Sys.ini that lists an active meter (address 12, COM1) and a query meter (address 1,
// COM2); `extra` goes at the end of the system options. The simulator adds the port mapping.
inline void writeMeterTable(const QString &ini, const QByteArray &extra) {
  QByteArray s = "[System Options]\r\nFirstRun=0\r\nSampleInterval=50\r\nSampleIntervalUnit=0\r\n" + extra +
                 "[Meter Configure]\r\nMeterAmount=2\r\nMeterComCount=2\r\n"
                 "MeterComPort1=1\r\nMeterComPortState1=0\r\nMeterComPort2=2\r\nMeterComPortState2=1\r\n"
                 "[Meter Configure1]\r\nMeterNo=12\r\nMeterCom=1\r\nMeterState=0\r\nMeterValid=1\r\n"
                 "[Meter Configure2]\r\nMeterNo=1\r\nMeterCom=2\r\nMeterState=1\r\nMeterValid=1\r\n";
  QFile f(ini);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(s);
}

// The values of the simulator's events, in order.
inline QList<double> values(const QList<SimEvent> &events) {
  QList<double> v;
  for (const SimEvent &e : events)
    v << e.value.toDouble();
  return v;
}
