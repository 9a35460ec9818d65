#include "app/ProfileStore.h"
#include "comm/MeterTable.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QByteArray readFile(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void setMeter(MeterTable &t, int slot, int no, int com, int state, bool valid) {
  TMeterConfigure &m = t.Meters[static_cast<size_t>(slot)];
  m.MeterNo = no;
  m.MeterCom = com;
  m.MeterState = state;
  m.MeterValid = valid;
}
} // namespace

class TestMeterTable : public QObject {
  Q_OBJECT
  QTemporaryDir m_dir;
  QString ini() const { return m_dir.filePath("Sys.ini"); }

private slots:
  void init() { QFile::remove(ini()); }

  void freshFileLoadsDefaults() {
    ProfileStore s(ini());
    MeterTable t;
    t.load(s);
    QCOMPARE(t.MeterAmount, 0);
    QCOMPARE(t.MeterComCount, 0);
    for (int i = 0; i < kPortEntries; ++i) {
      QCOMPARE(t.MeterComPort[size_t(i)], 1);
      QCOMPARE(t.MeterComPortState[size_t(i)], 1);
    }
    for (int i = 0; i < kMeterSlots; ++i) {
      const TMeterConfigure &m = t.Meters[size_t(i)];
      QCOMPARE(m.MeterNo, i);
      QCOMPARE(m.MeterType, QString());
      QCOMPARE(m.MeterCom, 1);
      QCOMPARE(m.MeterState, 1);
      QCOMPARE(m.MeterValid, false);
      QCOMPARE(m.MeterPrecision, 10);
    }
    QVERIFY(t.gridRows().isEmpty());
  }

  // After a search that found nothing: amount 0, nothing valid, all states -1, while the port
  // list keeps what the previous search found.
  void emptySearchSaveShape() {
    ProfileStore s(ini());
    MeterTable t;
    t.MeterComCount = 2;
    t.MeterComPort[0] = 3;
    t.MeterComPort[1] = 4;
    t.MeterComPortState.fill(-1);
    QVERIFY(t.save(s));

    QByteArray expected = "[Meter Configure]\r\nMeterAmount=0\r\nMeterComCount=2\r\n"
                          "MeterComPort1=3\r\nMeterComPortState1=-1\r\n"
                          "MeterComPort2=4\r\nMeterComPortState2=-1\r\n";
    for (int i = 3; i <= 21; ++i)
      expected += "MeterComPort" + QByteArray::number(i) + "=1\r\nMeterComPortState" +
                  QByteArray::number(i) + "=-1\r\n";
    for (int i = 1; i <= 10; ++i)
      expected += "\r\n[Meter Configure" + QByteArray::number(i) + "]\r\nMeterNo=" +
                  QByteArray::number(i - 1) +
                  "\r\nMeterType=\r\nMeterCom=1\r\nMeterState=1\r\nMeterValid=0\r\n"
                  "MeterPrecision=10\r\n";
    QCOMPARE(readFile(ini()), expected);
  }

  void meterTypeAndUnknownKeysSurviveASave() {
    QFile f(ini());
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[Meter Configure3]\r\nMeterType=XK3190-A9 \xB3\xC6\xD6\xD8\r\nNote=keep\r\n"
            "MeterValid=1\r\nMeterCom=7\r\nMeterState=0\r\nMeterNo=12\r\n");
    f.close();
    ProfileStore s(ini());
    MeterTable t;
    t.load(s);
    QCOMPARE(t.Meters[2].MeterType, QStringLiteral("XK3190-A9 称重"));
    QVERIFY(t.save(s));
    MeterTable again;
    again.load(s);
    QCOMPARE(again.Meters[2].MeterType, QStringLiteral("XK3190-A9 称重"));
    QCOMPARE(again.Meters[2].MeterNo, 12);
    QCOMPARE(again.Meters[2].MeterCom, 7);
    QCOMPARE(again.Meters[2].MeterState, 0);
    QVERIFY(again.Meters[2].MeterValid);
    QCOMPARE(s.readString("Meter Configure3", "Note", ""), QString("keep"));
  }

  void saveLoadRoundTrip() {
    ProfileStore s(ini());
    MeterTable t;
    setMeter(t, 0, 5, 4, 0, true);
    setMeter(t, 1, 1, 3, 1, true);
    setMeter(t, 2, 999, 3, 1, true);
    t.Meters[1].MeterPrecision = 3;
    t.MeterAmount = 3;
    t.MeterComCount = 2;
    t.MeterComPort[0] = 3;
    t.MeterComPort[1] = 4;
    t.MeterComPortState[0] = 1;
    t.MeterComPortState[1] = 0;
    QVERIFY(t.save(s));
    MeterTable u;
    u.load(s);
    QCOMPARE(u.MeterAmount, 3);
    QCOMPARE(u.MeterComCount, 2);
    QCOMPARE(u.MeterComPort[1], 4);
    QCOMPARE(u.MeterComPortState[1], 0);
    QCOMPARE(u.Meters[2].MeterNo, 999);
    QCOMPARE(u.Meters[1].MeterPrecision, 3);
    QCOMPARE(u.gridRows(), t.gridRows());
  }

  // The search's example: an active meter at 5 on COM4 first, then query meters 1 and 2 on COM3.
  void gridRowsListValidSlotsInOrder() {
    MeterTable t;
    setMeter(t, 0, 5, 4, 0, true);
    setMeter(t, 1, 1, 3, 1, true);
    setMeter(t, 2, 7, 3, 1, false); // not valid: not listed
    setMeter(t, 3, 2, 3, 1, true);
    const QList<QStringList> rows = t.gridRows();
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0], (QStringList{"5", "com4", "主动", "有效"}));
    QCOMPARE(rows[1], (QStringList{"1", "com3", "查询", "有效"}));
    QCOMPARE(rows[2], (QStringList{"2", "com3", "查询", "有效"}));
  }

  void modeText_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("text");
    QTest::newRow("active") << 0 << "主动";
    QTest::newRow("query") << 1 << "查询";
    QTest::newRow("other non-zero") << 7 << "查询";
  }
  void modeText() {
    QFETCH(int, state);
    QFETCH(QString, text);
    QCOMPARE(MeterTable::modeText(state), text);
  }

  void liveFieldsAreLockFree() {
    QVERIFY(std::atomic<double>::is_always_lock_free);
    QVERIFY(std::atomic<bool>::is_always_lock_free);
  }
};

QTEST_GUILESS_MAIN(TestMeterTable)
#include "tst_metertable.moc"
