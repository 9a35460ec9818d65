#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>

class ProfileStore;

inline constexpr int kMeterSlots = 10;      // meters over all ports; slot i feeds channel i
inline constexpr int kPortEntries = 21;     // length of the ports-in-use lists
inline constexpr int kMaxPollingPorts = 20; // the polling engine serves 1 to 20 ports
inline constexpr double kNoValue = -1000000.0; // MeterValue of a channel without a reading yet

enum class MeterMode : int { Active = 0, Query = 1 };

// One meter slot. The fields that the communication thread writes while others read them
// (MeterValue, MeterAlive) are atomics; the rest change only outside an acquisition.
struct TMeterConfigure {
  qint32 MeterNo = 0;
  QString MeterType;
  qint32 MeterCom = 1;
  qint32 MeterState = 1;
  bool MeterValid = false;
  std::atomic<double> MeterValue{kNoValue};
  qint32 MeterPrecision = 10;
  std::atomic<bool> MeterAlive{false};
};

// The program's one list of meters, with the ports-in-use lists beside it.
class MeterTable {
public:
  std::array<TMeterConfigure, kMeterSlots> Meters;
  qint32 MeterAmount = 0;
  qint32 MeterComCount = 0;
  std::array<qint32, kPortEntries> MeterComPort{};
  std::array<qint32, kPortEntries> MeterComPortState{};

  MeterTable();
  MeterTable(const MeterTable &) = delete;
  MeterTable &operator=(const MeterTable &) = delete;

  void load(const ProfileStore &store);
  // Writes every key of the table (all 21 port pairs, all ten slots) in one rewrite of the file.
  bool save(ProfileStore &store) const;

  // Rows of the meter information grid: one per valid slot, columns 1 to 4
  // (address, "com" + port, mode text, "有效").
  [[nodiscard]] QList<QStringList> gridRows() const;

  [[nodiscard]] static QString modeText(qint32 meterState);
};

inline const QString kMeterSection = QStringLiteral("Meter Configure");
