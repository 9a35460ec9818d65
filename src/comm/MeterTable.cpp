#include "comm/MeterTable.h"

#include "app/ProfileStore.h"

#include <algorithm>

MeterTable::MeterTable() {
  MeterComPort.fill(1);
  MeterComPortState.fill(1);
  for (int i = 0; i < kMeterSlots; ++i)
    Meters[static_cast<size_t>(i)].MeterNo = i;
}

void MeterTable::load(const ProfileStore &s) {
  // The search writes at most ten meters and 21 ports; a hand-edited table may claim more.
  MeterAmount = std::clamp(s.readInteger(kMeterSection, QStringLiteral("MeterAmount"), 0), 0, kMeterSlots);
  MeterComCount = std::clamp(s.readInteger(kMeterSection, QStringLiteral("MeterComCount"), 0), 0, kPortEntries);
  for (int i = 0; i < kPortEntries; ++i) {
    const QString n = QString::number(i + 1);
    MeterComPort[static_cast<size_t>(i)] =
        s.readInteger(kMeterSection, QStringLiteral("MeterComPort") + n, 1);
    MeterComPortState[static_cast<size_t>(i)] =
        s.readInteger(kMeterSection, QStringLiteral("MeterComPortState") + n, 1);
  }
  for (int i = 0; i < kMeterSlots; ++i) {
    const QString sec = kMeterSection + QString::number(i + 1);
    TMeterConfigure &m = Meters[static_cast<size_t>(i)];
    m.MeterNo = s.readInteger(sec, QStringLiteral("MeterNo"), i);
    m.MeterType = s.readString(sec, QStringLiteral("MeterType"), QString());
    m.MeterCom = s.readInteger(sec, QStringLiteral("MeterCom"), 1);
    m.MeterState = s.readInteger(sec, QStringLiteral("MeterState"), 1);
    m.MeterValid = s.readBool(sec, QStringLiteral("MeterValid"), false);
    m.MeterPrecision = s.readInteger(sec, QStringLiteral("MeterPrecision"), 10);
  }
}

bool MeterTable::save(ProfileStore &s) const {
  QList<ProfileStore::Entry> e;
  auto num = [](qint32 v) { return QString::number(v); };
  e.append({kMeterSection, QStringLiteral("MeterAmount"), num(MeterAmount)});
  e.append({kMeterSection, QStringLiteral("MeterComCount"), num(MeterComCount)});
  for (int i = 0; i < kPortEntries; ++i) {
    const QString n = QString::number(i + 1);
    e.append({kMeterSection, QStringLiteral("MeterComPort") + n,
              num(MeterComPort[static_cast<size_t>(i)])});
    e.append({kMeterSection, QStringLiteral("MeterComPortState") + n,
              num(MeterComPortState[static_cast<size_t>(i)])});
  }
  for (int i = 0; i < kMeterSlots; ++i) {
    const QString sec = kMeterSection + QString::number(i + 1);
    const TMeterConfigure &m = Meters[static_cast<size_t>(i)];
    e.append({sec, QStringLiteral("MeterNo"), num(m.MeterNo)});
    e.append({sec, QStringLiteral("MeterType"), m.MeterType});
    e.append({sec, QStringLiteral("MeterCom"), num(m.MeterCom)});
    e.append({sec, QStringLiteral("MeterState"), num(m.MeterState)});
    e.append({sec, QStringLiteral("MeterValid"), m.MeterValid ? QStringLiteral("1") : QStringLiteral("0")});
    e.append({sec, QStringLiteral("MeterPrecision"), num(m.MeterPrecision)});
  }
  return s.writeEntries(e);
}

QString MeterTable::modeText(qint32 meterState) {
  return meterState != 0 ? QStringLiteral("查询") : QStringLiteral("主动");
}

QList<QStringList> MeterTable::gridRows() const {
  QList<QStringList> rows;
  for (const TMeterConfigure &m : Meters) {
    if (!m.MeterValid)
      continue;
    rows.append({QString::asprintf("%d", m.MeterNo), QStringLiteral("com") + QString::number(m.MeterCom),
                 modeText(m.MeterState), QStringLiteral("有效")});
  }
  return rows;
}
