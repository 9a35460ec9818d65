#pragma once

#include <QByteArray>
#include <QEventLoop>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QtGlobal>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <malloc.h>
#include <sys/statvfs.h>
#include <unistd.h>

// What every benchmark that runs the program's windows sets up before its QApplication: the
// program's own allocator setting (src/app/main.cpp), so the figures are its own, no screen
// needed, and a temporary home for the settings and desktop files of the run.
class BenchEnvironment {
public:
  BenchEnvironment() {
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
      qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("config")).toUtf8());
  }

private:
  QTemporaryDir m_home;
};

// CPU seconds (user + system) from a /proc stat file of a process or thread; 0 when it cannot be
// read.
inline double CpuSecondsFromStat(const std::string &path) {
  std::ifstream in(path);
  std::string line;
  if (!std::getline(in, line))
    return 0;
  // Fields after the command name, which is in parentheses and may hold blanks.
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos)
    return 0;
  std::vector<std::string> f;
  std::string field;
  for (std::size_t i = close + 2; i <= line.size(); ++i) {
    if (i == line.size() || line[i] == ' ') {
      f.push_back(field);
      field.clear();
    } else {
      field += line[i];
    }
  }
  // utime and stime are fields 14 and 15 of the whole line, 12 and 13 after the name.
  if (f.size() < 13)
    return 0;
  return double(std::stoll(f[11]) + std::stoll(f[12])) / double(sysconf(_SC_CLK_TCK));
}

// The line-rate benchmarks' set-up: ten active meters at addresses 1..10, one per port
// COM1..COM10, played by meter-sim at 256000 baud.
constexpr int kBenchMeters = 10;

// Sys.ini of the program folder for those meters, saved automatically into `runs` under names
// starting with `fileHead`; `sections` stand between the system options and the meters.
inline bool WriteTenMeterSysIni(const QString &path, const QString &runs, const QByteArray &fileHead,
                                const QByteArray &sections = {}) {
  QByteArray s = "[System Options]\r\nFirstRun=0\r\nSaveMode=1\r\nSavePath=" + runs.toUtf8() +
                 "\r\nFileNameHead=" + fileHead + "\r\nSampleMode=0\r\n" + sections +
                 "[Meter Configure]\r\nMeterAmount=10\r\nMeterComCount=10\r\n";
  for (int i = 1; i <= kBenchMeters; ++i)
    s += QStringLiteral("MeterComPort%1=%1\r\nMeterComPortState%1=0\r\n").arg(i).toUtf8();
  for (int i = 1; i <= kBenchMeters; ++i)
    s += QStringLiteral("[Meter Configure%1]\r\nMeterNo=%1\r\nMeterCom=%1\r\nMeterState=0\r\nMeterValid=1\r\n"
                        "MeterPrecision=0\r\n")
             .arg(i)
             .toUtf8();
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(s) == s.size();
}

// meter-sim's arguments for those meters; `timing` is the meter option that sets the frame
// interval ("interval=0" or "interval_us=N"), `paceBaud` holds each port to the baud rate.
inline QStringList TenMeterSimArgs(const QString &timing, bool paceBaud) {
  QStringList args{QStringLiteral("--baud"), QStringLiteral("256000"), QStringLiteral("--seed"), QStringLiteral("1")};
  if (paceBaud)
    args << QStringLiteral("--pace-baud");
  for (int i = 1; i <= kBenchMeters; ++i)
    args << QStringLiteral("--port") << QStringLiteral("COM%1").arg(i) << QStringLiteral("--meter")
         << QStringLiteral("active,addr=%1,%2,gen=counter").arg(i).arg(timing);
  return args;
}

// Runs the event loop for `ms`, so that the program keeps working while the benchmark waits.
inline void waitMs(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Bytes free to an unprivileged user in the file system of `dir`; none when it cannot be asked.
inline std::optional<qint64> FreeDiskBytes(const QString &dir) {
  struct statvfs fs {};
  if (statvfs(QFile::encodeName(dir).constData(), &fs) != 0)
    return std::nullopt;
  return qint64(fs.f_bavail) * qint64(fs.f_frsize);
}

// What the simulator logged: good frames per port (values and times) and the skipped slots.
struct SimLog {
  std::vector<std::vector<qint32>> values{kBenchMeters};
  std::vector<std::vector<double>> times{kBenchMeters};
  qint64 skipped = 0;
  qint64 flushes = 0;      // input discarded as unread (FLUSH lines)
  qint64 flushedBytes = 0;
};

inline SimLog ReadSimLog(const QString &path) {
  SimLog log;
  std::ifstream in(path.toStdString());
  std::string line;
  while (std::getline(in, line)) {
    if (line.starts_with("# COM")) {
      // "# COMn: N frame slots skipped because the line could not keep up"
      const char *colon = std::strchr(line.c_str(), ':');
      if (colon && line.find("skipped") != std::string::npos)
        log.skipped += std::strtoll(colon + 1, nullptr, 10);
      continue;
    }
    if (line.empty() || line[0] == '#')
      continue;
    // TIME PORT ADDR KIND NOTE VALUE BYTES
    const char *p = line.c_str();
    char *end = nullptr;
    const double time = std::strtod(p, &end);
    if (end == p || std::strncmp(end, " COM", 4) != 0)
      continue;
    const long port = std::strtol(end + 4, &end, 10);
    const char *kind = std::strchr(end + 1, ' '); // after ADDR
    if (kind && std::strncmp(kind, " FLUSH - ", 9) == 0) {
      ++log.flushes;
      log.flushedBytes += std::strtoll(kind + 9, nullptr, 10);
      continue;
    }
    if (!kind || std::strncmp(kind, " TX-ACTIVE ", 11) != 0 || port < 1 || port > kBenchMeters)
      continue;
    const char *value = std::strchr(kind + 11, ' '); // after NOTE
    if (!value)
      continue;
    log.values[size_t(port - 1)].push_back(qint32(std::strtol(value + 1, nullptr, 10)));
    log.times[size_t(port - 1)].push_back(time);
  }
  return log;
}
