// Command-line parsing of the meter simulator.
#include "Faults.h"
#include "Options.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace metersim;

namespace {

// A compact, readable form of what was parsed, so that a data row can state it in one string.
QString describe(const SimOptions &o) {
  QStringList parts;
  for (const PortSpec &p : o.ports) {
    QStringList meters;
    for (const MeterSpec &m : p.meters) {
      const char *gen[] = {"constant", "ramp", "sine", "counter"};
      meters << QStringLiteral("%1%2 i%3 d%4 %5(%6,%7,%8) p%9")
                    .arg(m.mode == MeterMode::Active ? "A" : "Q")
                    .arg(m.address)
                    .arg(m.intervalUs)
                    .arg(m.delayUs)
                    .arg(gen[int(m.generator.kind)])
                    .arg(m.generator.a)
                    .arg(m.generator.b)
                    .arg(m.generator.c)
                    .arg(m.decimals);
    }
    parts << QString::fromStdString(p.name) + "[" + meters.join("; ") + "]";
  }
  QStringList faults;
  for (int k = 1; k <= 6; ++k)
    if (o.faultMask & faultBit(FaultKind(k)))
      faults << QString::fromLatin1(faultName(FaultKind(k)).data());
  if (!faults.isEmpty())
    parts << "faults=" + faults.join(',') + "@" + QString::number(o.faultRate);
  if (o.seed)
    parts << QStringLiteral("seed=%1").arg(*o.seed);
  if (o.baud != 9600)
    parts << QStringLiteral("baud=%1").arg(o.baud);
  if (o.paceBaud)
    parts << "pace";
  if (o.silenceMs != 1000)
    parts << QStringLiteral("silence=%1").arg(o.silenceMs);
  if (!o.sysIni.empty())
    parts << "ini=" + QString::fromStdString(o.sysIni);
  if (!o.logPath.empty())
    parts << "log=" + QString::fromStdString(o.logPath);
  if (o.durationMs)
    parts << QStringLiteral("duration=%1").arg(*o.durationMs);
  for (const PortClose &c : o.closes)
    parts << QStringLiteral("close=%1:%2").arg(QString::fromStdString(c.port)).arg(c.afterMs);
  return parts.join(' ');
}

std::vector<std::string> toArgs(const QStringList &list) {
  std::vector<std::string> args;
  for (const QString &s : list)
    args.push_back(s.toStdString());
  return args;
}

} // namespace

class TestMeterSimOptions : public QObject {
  Q_OBJECT

private slots:
  void valid_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("parsed");

    QTest::newRow("full example")
        << QStringList{"--port", "COM3", "--meter", "active,addr=12,interval=100,gen=counter",
                       "--port", "COM4", "--meter", "query,addr=1,delay=20,gen=sine:10:5000:0,decimals=2",
                       "--meter", "query,addr=3",
                       "--faults", "checksum,garbage,terminator,decimal6,silence,upper",
                       "--fault-rate", "0.1", "--seed", "42", "--baud", "9600",
                       "--sys-ini", "/tmp/Sys.ini", "--log", "/tmp/log.txt", "--duration-ms", "5000"}
        << "COM3[A12 i100000 d0 counter(0,0,0) p0] "
           "COM4[Q1 i1000000 d20000 sine(10,5000,0) p2; Q3 i1000000 d0 counter(0,0,0) p0] "
           "faults=checksum,garbage,terminator,decimal6,silence,upper@0.1 seed=42 "
           "ini=/tmp/Sys.ini log=/tmp/log.txt duration=5000";
    QTest::newRow("defaults") << QStringList{"--port", "COM1", "--meter", "active"}
                              << "COM1[A1 i1000000 d0 counter(0,0,0) p0]";
    QTest::newRow("port without meters, lower-case name") << QStringList{"--port", "com7"}
                                                          << "COM7[]";
    QTest::newRow("high rate")
        << QStringList{"--port", "COM1", "--meter", "active,interval_us=625,gen=ramp:-5:0.5,decimals=1",
                       "--baud", "256000", "--pace-baud"}
        << "COM1[A1 i625 d0 ramp(-5,0.5,0) p1] baud=256000 pace";
    QTest::newRow("back to back") << QStringList{"--port", "COM1", "--meter", "active,interval=0"}
                                  << "COM1[A1 i0 d0 counter(0,0,0) p0]";
    QTest::newRow("equals form and all faults")
        << QStringList{"--port=COM2", "--meter=query,addr=999,gen=constant:-1.5",
                       "--faults=all", "--fault-rate=1", "--silence-ms=250"}
        << "COM2[Q999 i1000000 d0 constant(-1.5,0,0) p0] "
           "faults=checksum,garbage,terminator,decimal6,silence,upper@1 silence=250";
    QTest::newRow("close port")
        << QStringList{"--port", "COM1", "--port", "COM2", "--close-port-after", "com2:1500"}
        << "COM1[] COM2[] close=COM2:1500";
  }

  void valid() {
    QFETCH(QStringList, args);
    QFETCH(QString, parsed);
    const ParseOutcome out = parseOptions(toArgs(args));
    QVERIFY2(out.status == ParseOutcome::Status::Run, out.error.c_str());
    QCOMPARE(describe(out.options), parsed);
  }

  void invalid_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    const QStringList port{"--port", "COM1"};
    QTest::newRow("nothing") << QStringList{} << "no --port";
    QTest::newRow("meter before port") << QStringList{"--meter", "active"} << "must follow";
    QTest::newRow("bad port name") << QStringList{"--port", "ttyS0"} << "bad port name";
    QTest::newRow("COM0") << QStringList{"--port", "COM0"} << "bad port name";
    QTest::newRow("COM1000") << QStringList{"--port", "COM1000"} << "bad port name";
    QTest::newRow("port twice") << QStringList{"--port", "COM1", "--port", "com1"} << "twice";
    QTest::newRow("unknown mode") << port + QStringList{"--meter", "passive"} << "active' or 'query";
    QTest::newRow("address too big") << port + QStringList{"--meter", "query,addr=1000"} << "addr";
    QTest::newRow("address not a number") << port + QStringList{"--meter", "query,addr=1x"} << "addr";
    QTest::newRow("same address twice")
        << port + QStringList{"--meter", "query,addr=2", "--meter", "active,addr=2"} << "two meters";
    QTest::newRow("decimals 6") << port + QStringList{"--meter", "active,decimals=6"} << "decimals";
    QTest::newRow("negative interval") << port + QStringList{"--meter", "active,interval=-1"} << "interval";
    QTest::newRow("interval on query meter") << port + QStringList{"--meter", "query,interval=5"} << "only active";
    QTest::newRow("delay on active meter") << port + QStringList{"--meter", "active,delay=5"} << "only query";
    QTest::newRow("interval twice") << port + QStringList{"--meter", "active,interval=5,interval_us=9"} << "twice";
    QTest::newRow("unknown key") << port + QStringList{"--meter", "active,speed=5"} << "unknown key";
    QTest::newRow("bad generator") << port + QStringList{"--meter", "active,gen=sine:1:0"} << "period";
    QTest::newRow("unknown fault") << port + QStringList{"--faults", "checksum,noise"} << "unknown fault";
    QTest::newRow("rate above 1") << port + QStringList{"--faults", "upper", "--fault-rate", "1.5"} << "fault-rate";
    QTest::newRow("rate without faults") << port + QStringList{"--fault-rate", "0.5"} << "without --faults";
    QTest::newRow("seed negative") << port + QStringList{"--seed", "-1"} << "seed";
    QTest::newRow("baud zero") << port + QStringList{"--baud", "0"} << "baud";
    QTest::newRow("missing value") << port + QStringList{"--log"} << "needs a value";
    QTest::newRow("unknown option") << port + QStringList{"--verbose"} << "unknown option";
    QTest::newRow("stray argument") << port + QStringList{"COM2"} << "unexpected argument";
    QTest::newRow("close unknown port") << port + QStringList{"--close-port-after", "COM2:10"} << "not simulated";
    QTest::newRow("close without time") << port + QStringList{"--close-port-after", "COM1"} << "COMn:ms";
    QTest::newRow("missing config") << QStringList{"--config", "/nonexistent/meter-sim.conf"} << "cannot read";
  }

  void invalid() {
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    const ParseOutcome out = parseOptions(toArgs(args));
    QCOMPARE(int(out.status), int(ParseOutcome::Status::Error));
    QVERIFY2(QString::fromStdString(out.error).contains(message), out.error.c_str());
  }

  void help() {
    const ParseOutcome out = parseOptions({"--port", "COM1", "--help"});
    QCOMPARE(int(out.status), int(ParseOutcome::Status::Help));
    QVERIFY(usageText().find("--meter") != std::string::npos);
  }

  void configFile() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath("sim.conf"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("# two ports\n"
               "port COM5\n"
               "meter active,addr=4,interval=50\n"
               "\n"
               "--port COM6\n"
               "meter   query,addr=2,delay=5\n"
               "pace-baud\n");
    file.close();
    const ParseOutcome out = parseOptions(
        {"--config", dir.filePath("sim.conf").toStdString(), "--seed", "9"});
    QVERIFY2(out.status == ParseOutcome::Status::Run, out.error.c_str());
    QCOMPARE(describe(out.options),
             QString("COM5[A4 i50000 d0 counter(0,0,0) p0] COM6[Q2 i1000000 d5000 counter(0,0,0) p0] "
                     "seed=9 pace"));
  }
};

QTEST_APPLESS_MAIN(TestMeterSimOptions)
#include "tst_metersim_options.moc"
