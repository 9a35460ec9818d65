#include "app/Conversions.h"
#include "app/Options.h"
#include "app/ProfileStore.h"
#include "common/UnwritableSettings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {
void writeBytes(const QString &path, const QByteArray &bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}
QByteArray readBytes(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class TestProfileStore : public QObject {
  Q_OBJECT
  QTemporaryDir m_dir;
  QString iniPath() const { return m_dir.filePath(QStringLiteral("Sys.ini")); }

private slots:
  void init() { QFile::remove(iniPath()); }

  void missingFileGivesDefaults() {
    ProfileStore s(iniPath());
    QCOMPARE(s.readString("System Options", "AppName", "ZERVO Data Acquisition"),
             QString("ZERVO Data Acquisition"));
    QCOMPARE(s.readInteger("System Options", "TimeWindow", 24), 24);
    QCOMPARE(s.readBool("System Options", "FirstRun", true), true);
    QCOMPARE(s.readFloat("ChannelAll", "RangeMax", 50.0), 50.0);
    QVERIFY(!QFile::exists(iniPath())); // reads never create the file
  }

  void integerParsing_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("def");
    QTest::addColumn<int>("expected");
    QTest::newRow("decimal") << QByteArray("8421504") << 0 << 8421504;
    QTest::newRow("negative") << QByteArray("-1") << 0 << -1;
    QTest::newRow("hex lower prefix") << QByteArray("0xFF0000") << 0 << 0xFF0000;
    QTest::newRow("hex upper prefix") << QByteArray("0X00a0b0") << 0 << 0x00a0b0;
    QTest::newRow("letters give default") << QByteArray("black") << 7 << 7;
    QTest::newRow("bare 0x gives default") << QByteArray("0x") << 5 << 5;
    QTest::newRow("empty gives default") << QByteArray("") << 3 << 3;
    QTest::newRow("trailing junk gives default") << QByteArray("12ab") << 9 << 9;
    QTest::newRow("overflow gives default") << QByteArray("99999999999") << 4 << 4;
    QTest::newRow("beyond 31 bits gives default") << QByteArray("4000000000") << 4 << 4;
    QTest::newRow("just beyond int gives default") << QByteArray("2147483648") << 4 << 4;
    QTest::newRow("below int gives default") << QByteArray("-3000000000") << 4 << 4;
    QTest::newRow("int max") << QByteArray("2147483647") << 4 << 2147483647;
    QTest::newRow("hex 32 bits bit for bit") << QByteArray("0xFFFFFFFF") << 4 << -1;
    QTest::newRow("hex beyond 32 bits gives default") << QByteArray("0x100000000") << 4 << 4;
  }
  void integerParsing() {
    QFETCH(QByteArray, text);
    QFETCH(int, def);
    QFETCH(int, expected);
    writeBytes(iniPath(), "[System Options]\r\nCurveBkColor=" + text + "\r\n");
    ProfileStore s(iniPath());
    QCOMPARE(s.readInteger("System Options", "CurveBkColor", def), expected);
  }

  void booleanParsing_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("def");
    QTest::addColumn<bool>("expected");
    QTest::newRow("1") << QByteArray("1") << false << true;
    QTest::newRow("0") << QByteArray("0") << true << false;
    QTest::newRow("2 is true") << QByteArray("2") << false << true;
    QTest::newRow("-1 is true") << QByteArray("-1") << false << true;
    QTest::newRow("letters give default true") << QByteArray("yes") << true << true;
    QTest::newRow("letters give default false") << QByteArray("yes") << false << false;
  }
  void booleanParsing() {
    QFETCH(QByteArray, text);
    QFETCH(bool, def);
    QFETCH(bool, expected);
    writeBytes(iniPath(), "[System Options]\r\nTraceVisible=" + text + "\r\n");
    ProfileStore s(iniPath());
    QCOMPARE(s.readBool("System Options", "TraceVisible", def), expected);
  }

  void floatRoundTrip_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("half") << 0.5 << QByteArray("0.5");
    QTest::newRow("integral") << 50.0 << QByteArray("50");
    QTest::newRow("negative") << -12.25 << QByteArray("-12.25");
    QTest::newRow("15 digits") << 0.1 + 0.2 << QByteArray("0.3");
    QTest::newRow("large") << 1.5e20 << QByteArray("1.5e+20");
    QTest::newRow("small") << 2.5e-7 << QByteArray("2.5e-07");
  }
  void floatRoundTrip() {
    QFETCH(double, value);
    QFETCH(QByteArray, written);
    ProfileStore s(iniPath());
    QVERIFY(s.writeFloat("Channel1", "Scale", value));
    QVERIFY(readBytes(iniPath()).contains("Scale=" + written + "\r\n"));
    QCOMPARE(s.readFloat("Channel1", "Scale", 1.0), ProfileStore::parseFloat(written, 0));
  }

  void floatIgnoresLocale() {
    // A comma-decimal locale must neither change what is written nor what is read.
    const QLocale old;
    QLocale::setDefault(QLocale(QLocale::German));
    ProfileStore s(iniPath());
    QVERIFY(s.writeFloat("Channel1", "Offset", 1.25));
    QCOMPARE(s.readFloat("Channel1", "Offset", 0), 1.25);
    QVERIFY(readBytes(iniPath()).contains("Offset=1.25"));
    QLocale::setDefault(old);
  }

  void unparsableFloatGivesDefault_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("comma") << QByteArray("0,5");
    QTest::newRow("letters") << QByteArray("abc");
    QTest::newRow("nan") << QByteArray("nan");
  }
  void unparsableFloatGivesDefault() {
    QFETCH(QByteArray, text);
    writeBytes(iniPath(), "[Channel1]\r\nRangeMax=" + text + "\r\n");
    ProfileStore s(iniPath());
    QCOMPARE(s.readFloat("Channel1", "RangeMax", 50.0), 50.0);
  }

  void chineseTextIsGbkOnDisk() {
    ProfileStore s(iniPath());
    QVERIFY(s.writeString("Channel1", "MainTitle", QStringLiteral("通道1测试")));
    QVERIFY(s.writeString("ChannelAll", "Title", QStringLiteral("总通道")));
    // GBK bytes written out by hand: 通 CDA8, 道 B5C0, 测 B2E2, 试 CAD4, 总 D7DC.
    const QByteArray bytes = readBytes(iniPath());
    QVERIFY(bytes.contains(QByteArray("MainTitle=\xCD\xA8\xB5\xC0" "1" "\xB2\xE2\xCA\xD4\r\n")));
    QVERIFY(bytes.contains(QByteArray("Title=\xD7\xDC\xCD\xA8\xB5\xC0\r\n")));
    QCOMPARE(s.readString("Channel1", "MainTitle", ""), QStringLiteral("通道1测试"));
  }

  void gbkFileWrittenByOthersReadsBack() {
    writeBytes(iniPath(), "[ChannelAll]\r\nMainTitle=\xBA\xCF\xB2\xA2\xCF\xD4\xCA\xBE\xC7\xFA\xCF\xDF\xCD\xBC\r\n");
    ProfileStore s(iniPath());
    QCOMPARE(s.readString("ChannelAll", "MainTitle", ""), QStringLiteral("合并显示曲线图"));
  }

  void namesAreCaseInsensitive() {
    writeBytes(iniPath(), "[system options]\r\nsampleinterval=5\r\n");
    ProfileStore s(iniPath());
    QCOMPARE(s.readInteger("System Options", "SampleInterval", 1), 5);
    QVERIFY(s.writeInteger("SYSTEM OPTIONS", "SAMPLEINTERVAL", 7));
    // Updated in place, under the spelling already in the file; no second section appears.
    QCOMPARE(readBytes(iniPath()), QByteArray("[system options]\r\nsampleinterval=7\r\n"));
  }

  void unknownContentIsKeptInPlace() {
    const QByteArray before = "; hand-written note\r\n"
                              "[Custom]\r\nFoo=bar\r\n\r\n"
                              "[System Options]\r\nUnknownKey=42\r\nTimeWindow=24\r\n"
                              "\r\n[Other]\r\nX=1\r\n";
    writeBytes(iniPath(), before);
    ProfileStore s(iniPath());
    QVERIFY(s.writeInteger("System Options", "TimeWindow", 12));
    QVERIFY(s.writeInteger("System Options", "KeepTime", 3));
    QVERIFY(s.writeString("New Section", "Key", "v"));
    QCOMPARE(readBytes(iniPath()),
             QByteArray("; hand-written note\r\n"
                        "[Custom]\r\nFoo=bar\r\n\r\n"
                        "[System Options]\r\nUnknownKey=42\r\nTimeWindow=12\r\nKeepTime=3\r\n"
                        "\r\n[Other]\r\nX=1\r\n"
                        "\r\n[New Section]\r\nKey=v\r\n"));
  }

  // A rewrite changes only the line it writes: bytes that are not GBK, line ends and the
  // layout of other lines stay as they were (found by fuzz_profile: '\xC9' came back as '?').
  void rewriteKeepsOtherLinesByteForByte_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("lead byte before the line end") << QByteArray("[A]\r\nBaud=\xC9\r\nX=1\r\n") << "A" << "X"
                                                   << QByteArray("[A]\r\nBaud=\xC9\r\nX=9\r\n");
    QTest::newRow("lead byte with a bad trail byte") << QByteArray("; \xA1 note\r\n[A]\r\nT=\x81\x7F\xCD\xA8\r\n")
                                                    << "A" << "X"
                                                    << QByteArray("; \xA1 note\r\n[A]\r\nT=\x81\x7F\xCD\xA8\r\nX=9\r\n");
    QTest::newRow("lead byte cut at end of file") << QByteArray("[A]\r\nX=1\r\nT=\xB0") << "A" << "X"
                                                  << QByteArray("[A]\r\nX=9\r\nT=\xB0");
    QTest::newRow("LF line ends") << QByteArray("[A]\nX=1\nY=2\n") << "A" << "X" << QByteArray("[A]\nX=9\nY=2\n");
    QTest::newRow("blanks around = before the value") << QByteArray("[A]\r\n  X = 1\r\n") << "a" << "x"
                                                      << QByteArray("[A]\r\n  X =9\r\n");
    QTest::newRow("last line without line end, key added") << QByteArray("[A]\r\nY=1") << "A" << "X"
                                                           << QByteArray("[A]\r\nY=1\r\nX=9\r\n");
    QTest::newRow("changed last line without line end") << QByteArray("[A]\r\nX=1") << "A" << "X"
                                                        << QByteArray("[A]\r\nX=9\r\n");
    QTest::newRow("new section after a foreign byte") << QByteArray("[A]\r\nT=\x81\r") << "B" << "X"
                                                      << QByteArray("[A]\r\nT=\x81\r\n\r\n[B]\r\nX=9\r\n");
  }
  void rewriteKeepsOtherLinesByteForByte() {
    QFETCH(QByteArray, before);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QByteArray, after);
    writeBytes(iniPath(), before);
    ProfileStore s(iniPath());
    const auto sectionBefore = s.readSection("A");
    QVERIFY(s.writeInteger(section, key, 9));
    QCOMPARE(readBytes(iniPath()), after);
    QCOMPARE(s.readInteger(section, key, 0), 9);
    // Every other key of section A reads as before.
    for (const auto &[k, v] : sectionBefore) {
      if (section.compare("A", Qt::CaseInsensitive) != 0 || k.compare(key, Qt::CaseInsensitive) != 0)
        QCOMPARE(s.readString("A", k, "missing"), v);
    }
  }

  void writeIsAtomicAndImmediate() {
    ProfileStore writer(iniPath());
    ProfileStore reader(iniPath());
    QVERIFY(writer.writeBool("System Options", "FirstRun", false));
    QCOMPARE(reader.readBool("System Options", "FirstRun", true), false); // nothing stale anywhere
    // No temporary files are left beside Sys.ini.
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), QStringList{"Sys.ini"});
  }

  // Another program edits the file in place between two reads: same size, same inode, within the
  // same clock tick; then removes it. Each read sees the file as it is.
  void changesByOthersSeenAtOnce_data() {
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<int>("expected");
    QTest::newRow("same size") << QByteArray("[S]\r\nK=2\r\n") << 2;
    QTest::newRow("longer") << QByteArray("[S]\r\nK=345\r\n") << 345;
    QTest::newRow("empty") << QByteArray() << -1;
  }
  void changesByOthersSeenAtOnce() {
    QFETCH(QByteArray, second);
    QFETCH(int, expected);
    ProfileStore s(iniPath());
    writeBytes(iniPath(), "[S]\r\nK=1\r\n");
    QCOMPARE(s.readInteger("S", "K", -1), 1);
    writeBytes(iniPath(), second);
    QCOMPARE(s.readInteger("S", "K", -1), expected);
    QVERIFY(QFile::remove(iniPath()));
    QCOMPARE(s.readInteger("S", "K", -1), -1);
    writeBytes(iniPath(), "[S]\r\nK=1\r\n");
    QCOMPARE(s.readInteger("S", "K", -1), 1);
  }

  void failedWriteKeepsOldFile() {
    ProfileStore s(iniPath());
    QVERIFY(s.writeInteger("A", "B", 1));
    const QByteArray before = readBytes(iniPath());
    QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const bool wrote = s.writeInteger("A", "B", 2);
    QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ExeOwner);
    if (wrote)
      QSKIP("running as a user who may write into read-only folders (root)");
    QCOMPARE(readBytes(iniPath()), before);
  }

  // A write that cannot reach the file still counts for this run: reads see it, the failure is
  // counted, and the next write that succeeds takes it along.
  void failedWriteStaysInEffect() {
    ProfileStore s(iniPath());
    QVERIFY(s.writeInteger("A", "B", 1));
    const QByteArray before = readBytes(iniPath());
    QCOMPARE(s.failedWrites(), quint64(0));
    {
      UnwritableSettings readOnly(iniPath());
      QVERIFY(!s.writeInteger("A", "B", 2));
      QVERIFY(!s.writeEntries({{"A", "T", "x"}, {"C", "D", "0.5"}}));
      QCOMPARE(s.failedWrites(), quint64(2));
      QCOMPARE(s.readInteger("a", "b", -1), 2);
      QCOMPARE(s.readString("A", "T", ""), QString("x"));
      QCOMPARE(s.readFloat("C", "D", 0), 0.5);
      const auto section = s.readSection("A");
      QCOMPARE(section.size(), 2);
      QCOMPARE(section[0], (QPair<QString, QString>("B", "2")));
      QCOMPARE(section[1], (QPair<QString, QString>("T", "x")));
    }
    QCOMPARE(readBytes(iniPath()), before);
    QVERIFY(s.writeInteger("A", "E", 3));
    QCOMPARE(readBytes(iniPath()), QByteArray("[A]\r\nB=2\r\nT=x\r\nE=3\r\n\r\n[C]\r\nD=0.5\r\n"));
    QCOMPARE(s.failedWrites(), quint64(2));
  }

  // Code-valued keys outside their list, and integers outside 32 bits, read as their defaults
  // at start; in-range values are kept.
  void startupReadsOutOfRangeAsDefault_data() {
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("expected");
    struct Key {
      const char *section;
      const char *key;
      int def;
      int valid;
    };
    const Key keys[] = {
        {"System Options", "TimeWindowUnit", 3, 2},  {"System Options", "KeepTimeUnit", 1, 3},
        {"System Options", "SampleIntervalUnit", 1, 0}, {"Port Options", "Baud", 7, 15},
        {"System Options", "SaveMode", 0, 1},        {"System Options", "SampleMode", 0, 1},
        {"System Options", "ArrangeType", 0, 1},     {"System Options", "SampleRate", 0, 5},
    };
    for (const Key &k : keys) {
      for (const char *bad : {"4000000000", "-1", "99", "abc"})
        QTest::addRow("%s=%s", k.key, bad) << k.section << k.key << QByteArray(bad) << k.def;
      QTest::addRow("%s valid", k.key) << k.section << k.key << QByteArray::number(k.valid) << k.valid;
    }
    QTest::newRow("SampleInterval=4000000000") << "System Options" << "SampleInterval" << QByteArray("4000000000") << 1;
    QTest::newRow("KeepTime=4000000000") << "System Options" << "KeepTime" << QByteArray("4000000000") << 10;
    QTest::newRow("TimeWindow=4000000000") << "System Options" << "TimeWindow" << QByteArray("4000000000") << 24;
    QTest::newRow("KeepTime=0 kept") << "System Options" << "KeepTime" << QByteArray("0") << 0;
  }
  void startupReadsOutOfRangeAsDefault() {
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QByteArray, text);
    QFETCH(int, expected);
    writeBytes(iniPath(), "[" + section.toLatin1() + "]\r\n" + key.toLatin1() + "=" + text + "\r\n");
    ProfileStore s(iniPath());
    Options o;
    o.load(s, "/data");
    const QHash<QString, int> read{
        {"TimeWindowUnit", o.TimeWindowUnit}, {"KeepTimeUnit", o.KeepTimeUnit},
        {"SampleIntervalUnit", o.SampleIntervalUnit}, {"Baud", o.Baud}, {"SaveMode", o.SaveMode},
        {"SampleMode", o.SampleMode}, {"ArrangeType", o.ArrangeType}, {"SampleRate", o.SampleRate},
        {"SampleInterval", o.SampleInterval}, {"KeepTime", o.KeepTime}, {"TimeWindow", o.TimeWindow}};
    QVERIFY(read.contains(key));
    QCOMPARE(read.value(key), expected);
    QVERIFY(!TimeUnitName(o.KeepTimeUnit).isEmpty());
    QVERIFY(o.KeepTimeMs >= 0);
  }

  void valueWithLineBreakStaysOneEntry() {
    ProfileStore s(iniPath());
    QVERIFY(s.writeString("Channel1", "Title", "a\r\n[Evil]\nX=1"));
    QCOMPARE(s.readString("Evil", "X", "none"), QString("none"));
    QCOMPARE(s.readString("Channel1", "Title", ""), QString("a  [Evil] X=1"));
  }

  void toMilliseconds_data() {
    QTest::addColumn<qint64>("count");
    QTest::addColumn<int>("unit");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("ms") << qint64(250) << 0 << qint64(250);
    QTest::newRow("s") << qint64(10) << 1 << qint64(10000);
    QTest::newRow("30 min") << qint64(30) << 2 << qint64(1800000);
    QTest::newRow("100000 min beyond 32 bits") << qint64(100000) << 2 << qint64(6000000000);
    QTest::newRow("24 h") << qint64(24) << 3 << qint64(86400000);
    QTest::newRow("unknown unit") << qint64(5) << 7 << qint64(0);
    QTest::newRow("negative unit") << qint64(5) << -1 << qint64(0);
  }
  void toMilliseconds() {
    QFETCH(qint64, count);
    QFETCH(int, unit);
    QFETCH(qint64, expected);
    QCOMPARE(ToMilliseconds(count, unit), expected);
    QCOMPARE(UnitToMillisecondsF(unit), ToMilliseconds(1, unit) * 1.0);
  }

  void valueFormat_data() {
    QTest::addColumn<int>("places");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("shown");
    QTest::newRow("0 places") << 0 << "%.0f" << "13";
    QTest::newRow("3 places") << 3 << "%.3f" << "12.600";
    QTest::newRow("negative keeps previous") << -1 << "%.1f" << "12.6";
  }
  void valueFormat() {
    QFETCH(int, places);
    QFETCH(QString, format);
    QFETCH(QString, shown);
    const QString f = ValueFormat(places, QStringLiteral("%.1f"));
    QCOMPARE(f, format);
    QCOMPARE(FormatValue(f, 12.6), shown);
  }
};

QTEST_GUILESS_MAIN(TestProfileStore)
#include "tst_profilestore.moc"
