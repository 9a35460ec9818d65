// Fuzzes the Sys.ini store with the content of the file.
//
// Every section and key is read; then one value is written, chosen by the input, and the file
// is read again: the value must read back, and every other section and key must still be there
// with the value it had (the store keeps what it does not know). The file lives in a folder
// made once per run under $TMPDIR.
#include "FuzzCheck.h"
#include "app/ProfileStore.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using Entries = QList<QPair<QString, QString>>;

bool sameName(const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

QString decodeGbk(QByteArrayView bytes) {
  QStringDecoder dec("GBK", QStringDecoder::Flag::Stateless);
  return dec.isValid() ? dec.decode(bytes) : QString::fromLocal8Bit(bytes);
}

QByteArray encodeGbk(const QString &text) {
  QStringEncoder enc("GBK", QStringEncoder::Flag::Stateless);
  return enc.isValid() ? enc.encode(text) : text.toLocal8Bit();
}

// Names that may be sections: the bracketed part of every line that looks like a section
// header, decoded line by line and as a whole. Asking for a name that is not a section is
// harmless (it reads as empty), so this may find too many but should not miss one.
QStringList sectionCandidates(const QByteArray &bytes) {
  QStringList names;
  auto scan = [&](const QString &text) {
    for (const QString &line : text.split(QLatin1Char('\n'))) {
      const QString t = line.trimmed();
      if (t.startsWith(QLatin1Char('[')) && t.contains(QLatin1Char(']'))) {
        const QString name = t.mid(1, t.indexOf(QLatin1Char(']')) - 1).trimmed();
        if (!std::any_of(names.cbegin(), names.cend(), [&](const QString &n) { return sameName(n, name); }))
          names.append(name);
      }
    }
  };
  scan(decodeGbk(bytes));
  for (const QByteArray &line : bytes.split('\n'))
    scan(decodeGbk(line));
  return names;
}

// A key name as the program writes them: letters, digits, blanks, '_' and '.', not blank at
// either end. Names read from the file that do not fit are not written to (the program only
// writes its own fixed names).
bool writableName(const QString &name) {
  if (name.isEmpty() || name != name.trimmed())
    return false;
  return std::all_of(name.cbegin(), name.cend(), [](QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char(' ') || c == QLatin1Char('_') || c == QLatin1Char('.');
  });
}

const QString &iniPath() {
  static QTemporaryDir dir;
  static const QString path = [] {
    if (!dir.isValid()) {
      std::fprintf(stderr, "fuzz_profile: cannot make a temporary folder\n");
      std::abort();
    }
    return dir.filePath(QStringLiteral("Sys.ini"));
  }();
  return path;
}

void writeFile(const QString &path, const QByteArray &bytes) {
  QFile f(path);
  CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  CHECK(f.write(bytes) == bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1)
    return 0;
  // The last byte picks what is written; the rest is the file.
  const uint8_t pick = data[size - 1];
  const QByteArray content(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size - 1));
  const QString &path = iniPath();
  writeFile(path, content);

  ProfileStore store(path);
  const QStringList sections = sectionCandidates(content);
  // Every read parses the whole file, so single-key reads are checked on a few keys only
  // (first and last of the first three sections); the section reads cover every key.
  QList<Entries> before;
  for (const QString &section : sections) {
    const Entries entries = store.readSection(section);
    for (qsizetype i = 0; i < entries.size(); ++i) {
      const auto &[key, value] = entries[i];
      CHECK(!key.isEmpty());
      const double f = ProfileStore::parseFloat(value, 0.5);
      CHECK(std::isfinite(f));
      (void)ProfileStore::parseInteger(value, -1);
      if (before.size() >= 3 || (i != 0 && i != entries.size() - 1))
        continue;
      // A single read sees the same value as the section read.
      CHECK(store.readString(section, key, QStringLiteral("\x01missing")) == value);
      CHECK(store.readFloat(section, key, 0.5) == f);
      CHECK(store.readInteger(section, key, -1) == ProfileStore::parseInteger(value, -1));
    }
    before.append(entries);
  }

  // Which section and key to write: an existing one or a new one.
  QString section = QStringLiteral("Fuzz Section");
  QString key = QStringLiteral("FuzzKey");
  if (!sections.isEmpty() && (pick & 0x80)) {
    const qsizetype s = (pick & 0x7f) % sections.size();
    if (writableName(sections[s])) {
      section = sections[s];
      const Entries &keys = before[s];
      if (!keys.isEmpty() && (pick & 0x40) && writableName(keys[(pick & 0x3f) % keys.size()].first))
        key = keys[(pick & 0x3f) % keys.size()].first;
    }
  }
  // The value: the file's first line (it may hold anything, '=' and '[' included), made GBK-clean
  // so that what is written can be held by the file at all.
  QString value = decodeGbk(content.left(content.indexOf('\n') < 0 ? content.size() : content.indexOf('\n')));
  value.remove(QChar::ReplacementCharacter);
  value = decodeGbk(encodeGbk(value));
  value.remove(QChar::ReplacementCharacter);
  if (value.size() > 64)
    value.truncate(64);
  if (value.size() && value.back().isHighSurrogate())
    value.chop(1);

  CHECK(store.writeString(section, key, value));

  // Line breaks become blanks; the value reads back trimmed.
  QString expected = value;
  expected.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
  expected = expected.trimmed();
  CHECK(store.readString(section, key, QStringLiteral("\x01missing")) == expected);

  for (qsizetype s = 0; s < sections.size(); ++s) {
    const Entries after = store.readSection(sections[s]);
    const bool written = sameName(sections[s], section);
    bool keyWasThere = false;
    for (const auto &entry : before[s]) {
      const QString &k = entry.first;
      const QString &v = entry.second;
      const auto it = std::find_if(after.cbegin(), after.cend(), [&](const auto &e) { return sameName(e.first, k); });
      CHECK(it != after.cend());
      if (written && sameName(k, key)) {
        keyWasThere = true;
        CHECK(it->second == expected);
      } else {
        CHECK(it->second == v);
      }
    }
    CHECK(after.size() == before[s].size() + ((written && !keyWasThere) ? 1 : 0));
  }
  return 0;
}
