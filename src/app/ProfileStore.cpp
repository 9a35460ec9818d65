#include "app/ProfileStore.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

// One decoder serves every line of a file; it must be stateless, or a lead byte cut off at the
// end of one line would be joined to the first byte of the next.
QString decodeGbk(QStringDecoder &dec, QByteArrayView bytes) {
  if (!dec.isValid())
    return QString::fromLocal8Bit(bytes);
  return dec.decode(bytes);
}

QByteArray encodeGbk(const QString &text) {
  QStringEncoder enc("GBK");
  if (!enc.isValid())
    return text.toLocal8Bit();
  return enc.encode(text);
}

// One parsed line of the file. Lines we do not understand are kept as they are.
//
// A line that is not changed is written back with its original bytes and line end, so a
// rewrite never alters what it does not touch: bytes that are not valid GBK (a hand edit in
// another encoding, a damaged byte) would otherwise come back as replacement characters and
// be written as "?".
struct Line {
  enum Kind { Section, Key, Other } kind = Other;
  QString raw;   // the whole line as decoded, without its line end
  QString name;  // section name or key name, trimmed
  QString value; // key value, trimmed
  QByteArray bytes;     // the line as read, without its "\n" ("\r" kept); empty for new lines
  bool ended = false;   // bytes were followed by "\n"
  bool changed = true;  // write raw as GBK with "\r\n" instead of bytes
};

// GBK never uses 0x0A inside a character (trail bytes are 0x30..0x39 or 0x40..0xFE), so
// the file splits into lines on bytes, and each line decodes on its own.
QList<Line> parse(const QByteArray &bytes) {
  QList<Line> lines;
  lines.reserve(bytes.count('\n') + 1);
  QStringDecoder dec("GBK", QStringDecoder::Flag::Stateless);
  qsizetype at = 0;
  while (at < bytes.size()) {
    const qsizetype nl = bytes.indexOf('\n', at);
    const qsizetype end = nl < 0 ? bytes.size() : nl;
    Line line;
    line.bytes = bytes.mid(at, end - at);
    line.ended = nl >= 0;
    line.changed = false;
    at = end + 1;
    QByteArrayView text(line.bytes);
    if (text.endsWith('\r'))
      text.chop(1);
    line.raw = decodeGbk(dec, text);
    const QString t = line.raw.trimmed();
    if (t.startsWith(QLatin1Char('[')) && t.contains(QLatin1Char(']'))) {
      line.kind = Line::Section;
      line.name = t.mid(1, t.indexOf(QLatin1Char(']')) - 1).trimmed();
    } else if (!t.startsWith(QLatin1Char(';')) && t.contains(QLatin1Char('='))) {
      const qsizetype eq = t.indexOf(QLatin1Char('='));
      line.kind = Line::Key;
      line.name = t.left(eq).trimmed();
      line.value = t.mid(eq + 1).trimmed();
      if (line.name.isEmpty())
        line.kind = Line::Other;
    }
    lines.append(line);
  }
  return lines;
}

bool sameName(const QString &a, const QString &b) {
  return a.compare(b, Qt::CaseInsensitive) == 0;
}

QByteArray readFileBytes(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return {};
  return f.readAll();
}

// Whether the file holds exactly these bytes (a missing file holds none). Read in pieces, so an
// unchanged file of megabytes costs no allocation.
bool fileHolds(const QString &path, const QByteArray &bytes) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
    return bytes.isEmpty();
  if (f.size() != bytes.size())
    return false;
  std::array<char, 64 * 1024> piece;
  qint64 at = 0;
  for (;;) {
    const qint64 n = f.read(piece.data(), static_cast<qint64>(piece.size()));
    if (n <= 0)
      return n == 0 && at == bytes.size();
    if (at + n > bytes.size() || std::memcmp(piece.data(), bytes.constData() + at, static_cast<size_t>(n)) != 0)
      return false;
    at += n;
  }
}

} // namespace

struct ProfileStore::Parsed {
  QByteArray bytes;
  QList<Line> lines;
};

ProfileStore::ProfileStore(QString path) : m_path(std::move(path)), m_parsed(std::make_unique<Parsed>()) {}

ProfileStore::~ProfileStore() = default;

const ProfileStore::Parsed &ProfileStore::current() const {
  // Comparing the bytes rather than time stamps never misses a change, however quickly it follows
  // the last one; decoding and splitting happen only when something did change.
  if (!fileHolds(m_path, m_parsed->bytes)) {
    QByteArray bytes = readFileBytes(m_path);
    m_parsed->lines = parse(bytes);
    m_parsed->bytes = std::move(bytes);
  }
  return *m_parsed;
}

bool ProfileStore::readRaw(const QString &section, const QString &key, QString *value) const {
  QMutexLocker lock(&m_mutex);
  for (auto e = m_unwritten.crbegin(); e != m_unwritten.crend(); ++e) {
    if (sameName(e->section, section) && sameName(e->key, key)) {
      *value = e->value.trimmed();
      return true;
    }
  }
  const QList<Line> &lines = current().lines;
  bool inSection = false;
  for (const Line &l : lines) {
    if (l.kind == Line::Section) {
      inSection = sameName(l.name, section);
    } else if (inSection && l.kind == Line::Key && sameName(l.name, key)) {
      *value = l.value;
      return true;
    }
  }
  return false;
}

QList<QPair<QString, QString>> ProfileStore::readSection(const QString &section) const {
  QMutexLocker lock(&m_mutex);
  const QList<Line> &lines = current().lines;
  QList<QPair<QString, QString>> entries;
  bool inSection = false;
  for (const Line &l : lines) {
    if (l.kind == Line::Section) {
      inSection = sameName(l.name, section);
    } else if (inSection && l.kind == Line::Key) {
      const bool seen = std::any_of(entries.cbegin(), entries.cend(),
                                    [&](const auto &e) { return sameName(e.first, l.name); });
      if (!seen)
        entries.append({l.name, l.value});
    }
  }
  for (const Entry &e : m_unwritten) {
    if (!sameName(e.section, section))
      continue;
    auto at = std::find_if(entries.begin(), entries.end(), [&](const auto &p) { return sameName(p.first, e.key); });
    if (at != entries.end())
      at->second = e.value.trimmed();
    else
      entries.append({e.key, e.value.trimmed()});
  }
  return entries;
}

QString ProfileStore::readString(const QString &section, const QString &key,
                                 const QString &def) const {
  QString v;
  return readRaw(section, key, &v) ? v : def;
}

int ProfileStore::parseInteger(const QString &text, int def) {
  const QString t = text.trimmed();
  bool ok = false;
  qlonglong v = 0;
  const bool hex = t.size() > 2 && (t.startsWith(QLatin1String("0x")) || t.startsWith(QLatin1String("0X")));
  if (hex) {
    v = t.mid(2).toLongLong(&ok, 16);
  } else {
    v = t.toLongLong(&ok, 10);
  }
  if (!ok)
    return def;
  // Some tools write colours as unsigned 32-bit hexadecimal; take those bit for bit. A decimal
  // number outside 32 bits is no value we wrote: wrapping it would turn 4000000000 into a
  // negative interval.
  if (hex && v >= 0 && v <= std::numeric_limits<quint32>::max())
    return static_cast<int>(static_cast<quint32>(v));
  if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
    return def;
  return static_cast<int>(v);
}

double ProfileStore::parseFloat(const QString &text, double def) {
  const QString t = text.trimmed();
  if (t.isEmpty())
    return def;
  bool ok = false;
  const double v = t.toDouble(&ok); // C locale: always a point
  if (!ok || !std::isfinite(v))
    return def;
  return v;
}

QString ProfileStore::formatFloat(double value) {
  // General format, 15 significant digits, trailing zeros dropped; never locale-dependent.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", value);
  return QString::fromLatin1(buf);
}

int ProfileStore::readInteger(const QString &section, const QString &key, int def) const {
  QString v;
  return readRaw(section, key, &v) ? parseInteger(v, def) : def;
}

bool ProfileStore::readBool(const QString &section, const QString &key, bool def) const {
  return readInteger(section, key, def ? 1 : 0) != 0;
}

double ProfileStore::readFloat(const QString &section, const QString &key, double def) const {
  QString v;
  return readRaw(section, key, &v) ? parseFloat(v, def) : def;
}

namespace {

// Sets one key in the parsed lines: in place when it exists, else at the end of its section, else
// in a new section at the end of the file.
void setKey(QList<Line> &lines, const QString &section, const QString &key, const QString &value) {
  // Values are single-line; a line break would split the entry and corrupt the file.
  QString clean = value;
  clean.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));

  qsizetype sectionAt = -1;
  qsizetype lastKeyInSection = -1;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const Line &l = lines[i];
    if (l.kind == Line::Section) {
      if (sectionAt >= 0)
        break; // left our section
      if (sameName(l.name, section)) {
        sectionAt = i;
        lastKeyInSection = i;
      }
    } else if (sectionAt >= 0) {
      if (l.kind == Line::Key && sameName(l.name, key)) {
        // Keep the key's spelling and the bytes before "=" as they stand in the file
        // ("=" is never part of a GBK character, so the first "=" byte is the separator).
        Line &line = lines[i];
        const qsizetype eq = line.bytes.indexOf('=');
        // The line keeps its line end; a last line without one gets "\r\n".
        const bool lf = line.ended && !line.bytes.endsWith('\r');
        line.bytes = line.bytes.left(eq + 1) + encodeGbk(clean);
        if (!lf)
          line.bytes += '\r';
        line.ended = true;
        line.changed = false;  // bytes are up to date
        line.raw = line.raw.left(line.raw.indexOf(QLatin1Char('=')) + 1) + clean;
        line.value = clean.trimmed();
        return;
      }
      if (!l.raw.trimmed().isEmpty())
        lastKeyInSection = i;
    }
  }
  Line l;
  l.kind = Line::Key;
  l.name = key;
  l.value = clean.trimmed();
  l.raw = key + QLatin1Char('=') + clean;
  if (sectionAt >= 0) {
    lines.insert(lastKeyInSection + 1, l);
    return;
  }
  if (!lines.isEmpty() && !lines.last().raw.trimmed().isEmpty())
    lines.append(Line{});
  Line s;
  s.kind = Line::Section;
  s.name = section;
  s.raw = QLatin1Char('[') + section + QLatin1Char(']');
  lines.append(s);
  lines.append(l);
}

// Writes the lines to the file in one go, through a temporary file and a rename.
bool writeLines(const QString &path, const QList<Line> &lines) {
  QByteArray bytes;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const Line &l = lines[i];
    if (l.changed) {
      bytes += encodeGbk(l.raw);
      bytes += "\r\n";
      continue;
    }
    bytes += l.bytes;
    if (l.ended)
      bytes += '\n';
    else if (i + 1 < lines.size())  // a last line without line end that is no longer last
      bytes += l.bytes.endsWith('\r') ? "\n" : "\r\n";
  }
  QSaveFile out(path);
  if (!out.open(QIODevice::WriteOnly))
    return false;
  if (out.write(bytes) != bytes.size()) {
    out.cancelWriting();
    return false;
  }
  return out.commit();
}

} // namespace

quint64 ProfileStore::failedWrites() const {
  QMutexLocker lock(&m_mutex);
  return m_failedWrites;
}

bool ProfileStore::writeEntries(const QList<Entry> &entries) {
  QMutexLocker lock(&m_mutex);
  QList<Line> lines = current().lines;
  // Values an earlier failed write could not store go along, so the file catches up.
  for (const Entry &e : m_unwritten)
    setKey(lines, e.section, e.key, e.value);
  for (const Entry &e : entries)
    setKey(lines, e.section, e.key, e.value);
  if (writeLines(m_path, lines)) {
    m_unwritten.clear();
    return true;
  }
  ++m_failedWrites;
  for (const Entry &e : entries) {
    m_unwritten.removeIf([&](const Entry &u) { return sameName(u.section, e.section) && sameName(u.key, e.key); });
    Entry kept = e;
    kept.value.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    m_unwritten.append(kept);
  }
  return false;
}

bool ProfileStore::writeString(const QString &section, const QString &key, const QString &value) {
  return writeEntries({Entry{section, key, value}});
}

bool ProfileStore::writeInteger(const QString &section, const QString &key, int value) {
  return writeString(section, key, QString::number(value));
}

bool ProfileStore::writeBool(const QString &section, const QString &key, bool value) {
  return writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool ProfileStore::writeFloat(const QString &section, const QString &key, double value) {
  return writeString(section, key, formatFloat(value));
}
