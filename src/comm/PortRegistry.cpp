#include "comm/PortRegistry.h"

#include "app/ProfileStore.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QSet>

#include <sys/stat.h>

#include <algorithm>

namespace {

// Mapped and found paths are compared by their target, so a by-id link in Sys.ini and the
// tty node it points to count as one device.
QString canonicalOrSelf(const QString &path) {
  const QString canonical = QFileInfo(path).canonicalFilePath();
  return canonical.isEmpty() ? path : canonical;
}

// Orders "ttyS2" before "ttyS10": runs of digits compare by value. (QCollator's numeric mode is
// ignored in the C locale, which is what a service or a test usually runs in.)
bool naturalLess(const QString &a, const QString &b) {
  qsizetype i = 0;
  qsizetype j = 0;
  while (i < a.size() && j < b.size()) {
    if (a[i].isDigit() && b[j].isDigit()) {
      const qsizetype si = i;
      const qsizetype sj = j;
      while (i < a.size() && a[i].isDigit())
        ++i;
      while (j < b.size() && b[j].isDigit())
        ++j;
      QStringView da = QStringView(a).mid(si, i - si);
      QStringView db = QStringView(b).mid(sj, j - sj);
      while (da.size() > 1 && da.front() == QLatin1Char('0'))
        da = da.mid(1);
      while (db.size() > 1 && db.front() == QLatin1Char('0'))
        db = db.mid(1);
      if (da.size() != db.size())
        return da.size() < db.size();
      if (const int c = da.compare(db); c != 0)
        return c < 0;
      continue;
    }
    if (a[i] != b[j])
      return a[i] < b[j];
    ++i;
    ++j;
  }
  if ((a.size() - i) != (b.size() - j))
    return (a.size() - i) < (b.size() - j);
  return a < b; // equal by value ("01" and "1"): keep a strict order
}

} // namespace

PortRegistry::PortRegistry(ProfileStore &store, DeviceLister lister)
    : m_store(store), m_lister(std::move(lister)) {}

std::optional<int> PortRegistry::parseComKey(const QString &key) {
  if (!key.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
    return std::nullopt;
  const QStringView digits = QStringView(key).mid(3);
  // Only the plain spelling counts: "COM07" next to "COM7" would be two keys for one port.
  if (digits.isEmpty() || digits.size() > 3 || digits.front() == QLatin1Char('0'))
    return std::nullopt;
  if (!std::all_of(digits.begin(), digits.end(),
                   [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }))
    return std::nullopt;
  const int number = digits.toInt();
  if (number < kFirstCom || number > kLastCom)
    return std::nullopt;
  return number;
}

QMap<int, QString> PortRegistry::mappings() const {
  QMap<int, QString> result;
  const auto entries = m_store.readSection(sectionName());
  for (const auto &[key, value] : entries) {
    const std::optional<int> number = parseComKey(key);
    if (!number || value.isEmpty())
      continue;
    result.insert(*number, value);
  }
  return result;
}

bool PortRegistry::refresh() {
  QMap<int, QString> mapped = mappings();
  QSet<QString> known;
  for (const QString &path : std::as_const(mapped))
    known.insert(canonicalOrSelf(path));

  QStringList found = m_lister ? m_lister() : QStringList();
  // ttyS2 before ttyS10, so the first ports of a fresh machine get the first numbers.
  std::sort(found.begin(), found.end(), naturalLess);

  int next = kFirstCom;
  for (const QString &path : std::as_const(found)) {
    if (path.isEmpty() || known.contains(canonicalOrSelf(path)))
      continue;
    while (next <= kLastCom && mapped.contains(next))
      ++next;
    if (next > kLastCom)
      return false;
    if (!m_store.writeString(sectionName(), QStringLiteral("COM%1").arg(next), path))
      return false;
    mapped.insert(next, path);
    known.insert(canonicalOrSelf(path));
  }
  return true;
}

QList<int> PortRegistry::listPorts() const {
  QList<int> ports;
  const QMap<int, QString> mapped = mappings();
  for (auto it = mapped.cbegin(); it != mapped.cend(); ++it) {
    if (deviceExists(it.value()))
      ports.append(it.key()); // QMap keeps the numbers ascending
  }
  return ports;
}

std::optional<QString> PortRegistry::devicePath(int comNumber) const {
  const QMap<int, QString> mapped = mappings();
  const auto it = mapped.constFind(comNumber);
  if (it == mapped.cend())
    return std::nullopt;
  return it.value();
}

bool PortRegistry::deviceExists(const QString &path) {
  if (path.isEmpty() || !QFileInfo::exists(path))
    return false;
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0)
    return false;
  return S_ISCHR(st.st_mode);
}

QStringList PortRegistry::systemSerialDevices() {
  QStringList paths;
  const auto ports = QSerialPortInfo::availablePorts();
  for (const QSerialPortInfo &info : ports)
    paths.append(info.systemLocation());
  return paths;
}
