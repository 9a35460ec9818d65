#include "dialogs/XlsWriter.h"

#include <QHashFunctions>
#include <QSaveFile>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace xls {

namespace {

// Record types.
constexpr quint16 kBof = 0x0809;
constexpr quint16 kEof = 0x000A;
constexpr quint16 kCodepage = 0x0042;
constexpr quint16 kWindow1 = 0x003D;
constexpr quint16 kDateMode = 0x0022;
constexpr quint16 kFont = 0x0031;
constexpr quint16 kXf = 0x00E0;
constexpr quint16 kStyle = 0x0293;
constexpr quint16 kBoundSheet = 0x0085;
constexpr quint16 kSst = 0x00FC;
constexpr quint16 kContinue = 0x003C;
constexpr quint16 kExtSst = 0x00FF;
constexpr quint16 kDimensions = 0x0200;
constexpr quint16 kWindow2 = 0x023E;
constexpr quint16 kLabelSst = 0x00FD;
constexpr quint16 kFormat = 0x041E;
constexpr quint16 kNumber = 0x0203;

// Data bytes of one record at most; longer data goes on in CONTINUE records.
constexpr qsizetype kMaxRecordData = 8224;
// Excel's convention: XF 0-14 are style XFs, XF 15 is the default cell XF. Ours follows as 16.
constexpr quint16 kStyleXfCount = 15;
constexpr quint16 kTextCellXf = 16;
constexpr quint16 kNumberCellXf = 17;
constexpr quint16 kTextFormat = 49; // built-in number format "@"
constexpr quint16 kNumberFormatIndex = 164; // the first index free for a workbook's own formats

constexpr std::uint8_t kFlagWide = 0x01; // characters are UTF-16LE, not compressed 8-bit

void put16(QByteArray &out, quint16 v) {
  const char b[2] = {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
  out.append(b, 2);
}
void put32(QByteArray &out, quint32 v) {
  const char b[4] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                     static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
  out.append(b, 4);
}
void patch16(QByteArray &out, qsizetype at, quint16 v) {
  out[at] = static_cast<char>(v & 0xFF);
  out[at + 1] = static_cast<char>(v >> 8);
}
void patch32(QByteArray &out, qsizetype at, quint32 v) {
  for (int i = 0; i < 4; ++i)
    out[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A record whose length is filled in when it ends.
class Record {
public:
  Record(QByteArray &out, quint16 type) : m_out(out), m_start(out.size()) {
    put16(out, type);
    put16(out, 0);
  }
  ~Record() { patch16(m_out, m_start + 2, static_cast<quint16>(m_out.size() - m_start - 4)); }
  Record(const Record &) = delete;
  Record &operator=(const Record &) = delete;

private:
  QByteArray &m_out;
  qsizetype m_start;
};

// ShortXLUnicodeString of ASCII text: 8-bit count, flags, characters.
void putShortAscii(QByteArray &out, const char *text) {
  const auto n = static_cast<quint8>(std::strlen(text));
  out.append(static_cast<char>(n));
  out.append('\0');
  out.append(text, n);
}

void writeBof(QByteArray &out, quint16 substream) {
  Record r(out, kBof);
  put16(out, 0x0600); // BIFF8
  put16(out, substream);
  put16(out, 0x0DBB); // build
  put16(out, 0x07CC); // year
  put32(out, 0);      // file history
  put32(out, 0x0006); // lowest version that can read the file
}

void writeFont(QByteArray &out, quint16 weight) {
  Record r(out, kFont);
  put16(out, 200);    // 10 pt in twips
  put16(out, 0);      // attributes
  put16(out, 0x7FFF); // automatic colour
  put16(out, weight);
  put16(out, 0); // escapement
  out.append('\0'); // underline
  out.append('\0'); // family
  out.append('\0'); // character set
  out.append('\0');
  putShortAscii(out, "Arial");
}

void writeXf(QByteArray &out, quint16 font, quint16 format, bool style, quint8 usedAttributes) {
  Record r(out, kXf);
  put16(out, font);
  put16(out, format);
  // Locked; a style XF has no parent (0xFFF), a cell XF takes style XF 0.
  put16(out, style ? 0xFFF5 : 0x0001);
  out.append(static_cast<char>(0x20)); // horizontal general, vertical bottom
  out.append('\0');                   // rotation
  out.append('\0');                   // indent, shrink, reading order
  out.append(static_cast<char>(usedAttributes));
  put32(out, 0); // borders
  put32(out, 0); // border colours
  put16(out, 0x20C0); // pattern colours: automatic
}

// Where an EXTSST bucket's first string starts.
struct BucketStart {
  quint32 streamPos;
  quint16 offsetInRecord; // counted from the record's header
};

} // namespace

Workbook::Workbook() : m_offsets{0}, m_table(1024, Slot{0, 0}) {}

QByteArrayView Workbook::stringBytes(std::uint32_t index) const {
  const qsizetype from = m_offsets[index];
  return QByteArrayView(m_pool.constData() + from, m_offsets[index + 1] - from);
}

void Workbook::growTable() {
  std::vector<Slot> bigger(m_table.size() * 2, Slot{0, 0});
  const size_t mask = bigger.size() - 1;
  for (const Slot &slot : m_table) {
    if (slot.index == 0)
      continue;
    size_t at = slot.hash & mask;
    while (bigger[at].index != 0)
      at = (at + 1) & mask;
    bigger[at] = slot;
  }
  m_table.swap(bigger);
}

std::uint32_t Workbook::intern(QStringView text) {
  // Encode at the end of the pool; drop it again when the text is known already.
  const qsizetype start = m_pool.size();
  const bool wide = std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0xFF; });
  const auto length = static_cast<qsizetype>(text.size());
  const qsizetype needed = start + 3 + length * (wide ? 2 : 1);
  if (needed > m_pool.capacity())
    m_pool.reserve(std::max(needed, 2 * m_pool.capacity()));
  m_pool.resize(needed);
  char *p = m_pool.data() + start;
  p[0] = static_cast<char>(length & 0xFF);
  p[1] = static_cast<char>(length >> 8);
  p[2] = static_cast<char>(wide ? kFlagWide : 0);
  p += 3;
  for (QChar c : text) {
    const char16_t u = c.unicode();
    *p++ = static_cast<char>(u & 0xFF);
    if (wide)
      *p++ = static_cast<char>(u >> 8);
  }

  const QByteArrayView bytes(m_pool.constData() + start, m_pool.size() - start);
  const auto hash = static_cast<std::uint32_t>(qHash(bytes));
  const size_t mask = m_table.size() - 1;
  size_t at = hash & mask;
  while (m_table[at].index != 0) {
    if (m_table[at].hash == hash && stringBytes(m_table[at].index - 1) == bytes) {
      m_pool.resize(start);
      return m_table[at].index - 1;
    }
    at = (at + 1) & mask;
  }
  const auto index = static_cast<std::uint32_t>(m_offsets.size() - 1);
  m_offsets.push_back(m_pool.size());
  m_table[at] = Slot{index + 1, hash};
  if ((m_offsets.size() - 1) * 2 > m_table.size())
    growTable();
  return index;
}

bool Workbook::put(int row, int column, std::uint32_t value) {
  const Cell cell{static_cast<std::uint32_t>(row - 1) << 8 | static_cast<std::uint32_t>(column - 1), value};
  if (!m_cells.empty() && m_cells.back().key >= cell.key)
    m_sorted = false;
  m_cells.push_back(cell);
  return true;
}

bool Workbook::setNumber(int row, int column, double value) {
  if (row < 1 || row > kMaxRows || column < 1 || column > kMaxColumns || !std::isfinite(value))
    return false;
  m_numbers.push_back(value);
  return put(row, column, kNumberCell | static_cast<std::uint32_t>(m_numbers.size() - 1));
}

bool Workbook::setCell(int row, int column, QStringView text) {
  if (row < 1 || row > kMaxRows || column < 1 || column > kMaxColumns)
    return false;
  if (text.size() > kMaxTextLength) {
    qsizetype cut = kMaxTextLength;
    if (text[cut - 1].isHighSurrogate())
      --cut; // never leave half a character behind
    text = text.left(cut);
  }
  return put(row, column, intern(text));
}

std::vector<Workbook::Cell> Workbook::sortedCells() const {
  std::vector<Cell> cells = m_cells;
  if (m_sorted)
    return cells;
  std::stable_sort(cells.begin(), cells.end(), [](const Cell &a, const Cell &b) { return a.key < b.key; });
  // Of cells set more than once, the last setting counts.
  std::vector<Cell> unique;
  unique.reserve(cells.size());
  for (const Cell &c : cells) {
    if (!unique.empty() && unique.back().key == c.key)
      unique.back() = c;
    else
      unique.push_back(c);
  }
  return unique;
}

const Workbook::Cell *Workbook::find(int row, int column) const {
  if (row < 1 || row > kMaxRows || column < 1 || column > kMaxColumns)
    return nullptr;
  const std::uint32_t key = static_cast<std::uint32_t>(row - 1) << 8 | static_cast<std::uint32_t>(column - 1);
  if (!m_sorted) {
    m_cells = sortedCells();
    m_sorted = true;
  }
  const auto found = std::lower_bound(m_cells.begin(), m_cells.end(), key,
                                      [](const Cell &c, std::uint32_t k) { return c.key < k; });
  if (found == m_cells.end() || found->key != key)
    return nullptr;
  return &*found;
}

std::optional<double> Workbook::number(int row, int column) const {
  const Cell *found = find(row, column);
  if (!found || (found->value & kNumberCell) == 0)
    return std::nullopt;
  return m_numbers[found->value & ~kNumberCell];
}

QString Workbook::cell(int row, int column) const {
  const Cell *found = find(row, column);
  if (!found || (found->value & kNumberCell) != 0)
    return {};
  const QByteArrayView bytes = stringBytes(found->value);
  const int length = static_cast<quint8>(bytes[0]) | static_cast<quint8>(bytes[1]) << 8;
  const bool wide = (static_cast<quint8>(bytes[2]) & kFlagWide) != 0;
  QString text(length, Qt::Uninitialized);
  for (int i = 0; i < length; ++i) {
    const auto lo = static_cast<quint8>(bytes[3 + i * (wide ? 2 : 1)]);
    const auto hi = wide ? static_cast<quint8>(bytes[4 + i * 2]) : 0;
    text[i] = QChar(static_cast<char16_t>(lo | hi << 8));
  }
  return text;
}

int Workbook::usedRows() const {
  std::uint32_t last = 0;
  for (const Cell &c : m_cells)
    last = std::max(last, (c.key >> 8) + 1);
  return static_cast<int>(last);
}

int Workbook::usedColumns() const {
  std::uint32_t last = 0;
  for (const Cell &c : m_cells)
    last = std::max(last, (c.key & 0xFF) + 1);
  return static_cast<int>(last);
}

QByteArray Workbook::workbookStream() const {
  const std::vector<Cell> cells = sortedCells();
  const auto uniqueCount = static_cast<quint32>(m_offsets.size() - 1);
  const auto numberCells = static_cast<qsizetype>(
      std::count_if(cells.begin(), cells.end(), [](const Cell &c) { return (c.value & kNumberCell) != 0; }));
  const auto textCells = static_cast<qsizetype>(cells.size()) - numberCells;

  QByteArray out;
  out.reserve(m_pool.size() + static_cast<qsizetype>(cells.size()) * 14 + 4096);

  // ---- workbook globals
  writeBof(out, 0x0005);
  {
    Record r(out, kCodepage);
    put16(out, 1200); // texts are UTF-16
  }
  {
    Record r(out, kWindow1);
    put16(out, 0);      // left
    put16(out, 0);      // top
    put16(out, 0x3A5C); // width
    put16(out, 0x23BE); // height
    put16(out, 0x0038); // scroll bars and sheet tabs shown
    put16(out, 0);      // active sheet
    put16(out, 0);      // first visible tab
    put16(out, 1);      // selected tabs
    put16(out, 0x0258); // tab bar width ratio
  }
  {
    Record r(out, kDateMode);
    put16(out, 0); // dates count from 1900
  }
  // Four fonts: index 4 does not exist in this format, so these are fonts 0-3.
  for (quint16 weight : {400, 700, 400, 700})
    writeFont(out, weight);
  {
    Record r(out, kFormat);
    put16(out, kNumberFormatIndex);
    const auto n = static_cast<quint16>(std::strlen(Workbook::kNumberFormat));
    put16(out, n);
    out.append('\0'); // compressed 8-bit characters
    out.append(Workbook::kNumberFormat, n);
  }
  for (quint16 i = 0; i < kStyleXfCount; ++i) {
    const quint16 font = (i == 1 || i == 2) ? 1 : (i == 3 || i == 4) ? 2 : 0;
    writeXf(out, font, 0, true, i == 0 ? 0x00 : 0xF4);
  }
  writeXf(out, 0, 0, false, 0x00);                        // 15: default cell format
  writeXf(out, 0, kTextFormat, false, 0x04);              // 16: text cells
  writeXf(out, 0, kNumberFormatIndex, false, 0x04);       // 17: number cells
  {
    Record r(out, kStyle);
    put16(out, 0x8000); // built-in style on XF 0
    out.append('\0');   // "Normal"
    out.append(static_cast<char>(0xFF));
  }
  qsizetype sheetOffsetAt = 0;
  {
    Record r(out, kBoundSheet);
    sheetOffsetAt = out.size();
    put32(out, 0); // patched below
    out.append('\0'); // visible
    out.append('\0'); // worksheet
    putShortAscii(out, "Sheet1");
  }

  // Shared strings. A string's count and flags never straddle records; its characters may,
  // and each CONTINUE that carries the rest of a string begins with the string's flags again.
  const quint32 bucketSize = std::max<quint32>(8, (uniqueCount + 127) / 128);
  std::vector<BucketStart> buckets;
  {
    qsizetype recordStart = out.size();
    put16(out, kSst);
    put16(out, 0);
    put32(out, static_cast<quint32>(textCells));
    put32(out, uniqueCount);
    const auto closeRecord = [&] { patch16(out, recordStart + 2, static_cast<quint16>(out.size() - recordStart - 4)); };
    const auto newContinue = [&] {
      closeRecord();
      recordStart = out.size();
      put16(out, kContinue);
      put16(out, 0);
    };
    const auto room = [&] { return kMaxRecordData - (out.size() - recordStart - 4); };

    for (quint32 i = 0; i < uniqueCount; ++i) {
      const QByteArrayView s = stringBytes(i);
      const bool wide = (static_cast<quint8>(s[2]) & kFlagWide) != 0;
      const qsizetype charSize = wide ? 2 : 1;
      const qsizetype chars = (s.size() - 3) / charSize;
      // The head and, when there are any, at least one character go together.
      if (room() < 3 + (chars > 0 ? charSize : 0))
        newContinue();
      if (i % bucketSize == 0)
        buckets.push_back({static_cast<quint32>(out.size()), static_cast<quint16>(out.size() - recordStart)});
      out.append(s.constData(), 3);
      qsizetype done = 0;
      while (done < chars) {
        qsizetype fit = std::min(chars - done, room() / charSize);
        if (fit == 0) {
          newContinue();
          out.append(static_cast<char>(wide ? kFlagWide : 0));
          continue;
        }
        out.append(s.constData() + 3 + done * charSize, fit * charSize);
        done += fit;
      }
    }
    closeRecord();
  }
  {
    Record r(out, kExtSst);
    put16(out, static_cast<quint16>(bucketSize));
    for (const BucketStart &b : buckets) {
      put32(out, b.streamPos);
      put16(out, b.offsetInRecord);
      put16(out, 0);
    }
  }
  {
    Record r(out, kEof);
  }

  // ---- the sheet
  patch32(out, sheetOffsetAt, static_cast<quint32>(out.size()));
  writeBof(out, 0x0010);
  {
    std::uint32_t firstRow = 0, lastRow = 0, firstCol = 0, lastCol = 0;
    if (!cells.empty()) {
      firstRow = cells.front().key >> 8;
      lastRow = (cells.back().key >> 8) + 1;
      firstCol = 0xFF;
      for (const Cell &c : cells) {
        firstCol = std::min(firstCol, c.key & 0xFF);
        lastCol = std::max(lastCol, (c.key & 0xFF) + 1);
      }
    }
    Record r(out, kDimensions);
    put32(out, firstRow);
    put32(out, lastRow);
    put16(out, static_cast<quint16>(firstCol));
    put16(out, static_cast<quint16>(lastCol));
    put16(out, 0);
  }
  {
    Record r(out, kWindow2);
    put16(out, 0x06B6); // grid lines, headers, zeros, outline, selected, active
    put16(out, 0);      // top row
    put16(out, 0);      // left column
    put32(out, 0x40);   // grid line colour: automatic
    put16(out, 0);      // page-break preview zoom
    put16(out, 0);      // normal zoom
    put32(out, 0);
  }
  // LABELSST: header (4) + row, column, XF (2 each) + string index (4).
  // NUMBER: header (4) + row, column, XF (2 each) + IEEE double (8).
  constexpr qsizetype kLabelSize = 14;
  constexpr qsizetype kNumberSize = 18;
  const qsizetype cellsAt = out.size();
  out.resize(cellsAt + textCells * kLabelSize + numberCells * kNumberSize);
  auto *p = reinterpret_cast<unsigned char *>(out.data() + cellsAt);
  const auto put16At = [&p](quint16 v) {
    *p++ = static_cast<unsigned char>(v & 0xFF);
    *p++ = static_cast<unsigned char>(v >> 8);
  };
  for (const Cell &c : cells) {
    const auto row = static_cast<quint16>(c.key >> 8);
    const auto col = static_cast<quint16>(c.key & 0xFF);
    if ((c.value & kNumberCell) != 0) {
      put16At(kNumber);
      put16At(kNumberSize - 4);
      put16At(row);
      put16At(col);
      put16At(kNumberCellXf);
      const double v = m_numbers[c.value & ~kNumberCell];
      std::uint64_t bits = 0;
      std::memcpy(&bits, &v, sizeof bits);
      for (int i = 0; i < 8; ++i)
        *p++ = static_cast<unsigned char>((bits >> (8 * i)) & 0xFF);
      continue;
    }
    put16At(kLabelSst);
    put16At(kLabelSize - 4);
    put16At(row);
    put16At(col);
    put16At(kTextCellXf);
    for (int i = 0; i < 4; ++i)
      *p++ = static_cast<unsigned char>((c.value >> (8 * i)) & 0xFF);
  }
  {
    Record r(out, kEof);
  }
  return out;
}

QByteArray Workbook::toBytes() const { return CompoundFile(workbookStream()); }

bool Workbook::save(const QString &path, QString *error) const {
  const QByteArray bytes = toBytes();
  if (bytes.isEmpty()) {
    if (error)
      *error = QStringLiteral("workbook too large for the file format");
    return false;
  }
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
    if (error)
      *error = file.errorString();
    return false;
  }
  return true;
}

// ---- compound file

namespace {

constexpr qsizetype kSector = 512;
constexpr qsizetype kMiniStreamCutoff = 4096;
constexpr quint32 kFreeSect = 0xFFFFFFFF;
constexpr quint32 kEndOfChain = 0xFFFFFFFE;
constexpr quint32 kFatSect = 0xFFFFFFFD;
constexpr quint32 kDifSect = 0xFFFFFFFC;
constexpr quint32 kNoStream = 0xFFFFFFFF;
constexpr qsizetype kEntriesPerSector = kSector / 4;
constexpr qsizetype kHeaderDifat = 109;

void writeDirEntry(QByteArray &out, const QString &name, quint8 type, quint32 child, quint32 start, quint32 size) {
  const qsizetype at = out.size();
  out.append(128, '\0');
  for (qsizetype i = 0; i < name.size(); ++i)
    patch16(out, at + 2 * i, name[i].unicode());
  patch16(out, at + 64, static_cast<quint16>(name.isEmpty() ? 0 : 2 * (name.size() + 1)));
  out[at + 66] = static_cast<char>(type);
  out[at + 67] = static_cast<char>(type == 0 ? 0 : 1); // black
  patch32(out, at + 68, kNoStream);
  patch32(out, at + 72, kNoStream);
  patch32(out, at + 76, child);
  patch32(out, at + 116, start);
  patch32(out, at + 120, size);
}

} // namespace

QByteArray CompoundFile(const QByteArray &workbookStream) {
  if (workbookStream.size() > 0xFFFFF000LL)
    return {};
  const qsizetype streamSize = std::max(workbookStream.size(), kMiniStreamCutoff);
  const qsizetype streamSectors = (streamSize + kSector - 1) / kSector;

  // FAT and DIFAT sectors must also be counted in the FAT they make up.
  qsizetype fat = 0, difat = 0;
  for (;;) {
    const qsizetype needed = streamSectors + 1 + fat + difat;
    const qsizetype fat2 = (needed + kEntriesPerSector - 1) / kEntriesPerSector;
    const qsizetype difat2 = fat2 > kHeaderDifat ? (fat2 - kHeaderDifat + 126) / 127 : 0;
    if (fat2 == fat && difat2 == difat)
      break;
    fat = fat2;
    difat = difat2;
  }
  const auto dirSector = static_cast<quint32>(streamSectors);
  const auto firstFat = dirSector + 1;
  const auto firstDifat = static_cast<quint32>(firstFat + fat);

  QByteArray out;
  out.reserve(kSector * (1 + streamSectors + 1 + fat + difat));

  // Header.
  out.append("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  out.append(16, '\0'); // class id
  put16(out, 0x003E);   // minor version
  put16(out, 0x0003);   // major version 3
  put16(out, 0xFFFE);   // little-endian
  put16(out, 9);        // 512-byte sectors
  put16(out, 6);        // 64-byte mini sectors
  out.append(6, '\0');
  put32(out, 0); // directory sectors (always 0 in version 3)
  put32(out, static_cast<quint32>(fat));
  put32(out, dirSector);
  put32(out, 0); // transactions
  put32(out, static_cast<quint32>(kMiniStreamCutoff));
  put32(out, kEndOfChain); // no mini FAT
  put32(out, 0);
  put32(out, difat > 0 ? firstDifat : kEndOfChain);
  put32(out, static_cast<quint32>(difat));
  for (qsizetype i = 0; i < kHeaderDifat; ++i)
    put32(out, i < fat ? static_cast<quint32>(firstFat + i) : kFreeSect);

  // The stream, padded to whole sectors.
  out.append(workbookStream);
  out.append(kSector + streamSectors * kSector - out.size(), '\0');

  // Directory: root, the stream, two unused entries.
  writeDirEntry(out, QStringLiteral("Root Entry"), 5, 1, kEndOfChain, 0);
  writeDirEntry(out, QStringLiteral("Workbook"), 2, kNoStream, 0, static_cast<quint32>(streamSize));
  writeDirEntry(out, QString(), 0, kNoStream, 0, 0);
  writeDirEntry(out, QString(), 0, kNoStream, 0, 0);

  // FAT.
  for (qsizetype s = 0; s < streamSectors; ++s)
    put32(out, s + 1 < streamSectors ? static_cast<quint32>(s + 1) : kEndOfChain);
  put32(out, kEndOfChain); // directory
  for (qsizetype i = 0; i < fat; ++i)
    put32(out, kFatSect);
  for (qsizetype i = 0; i < difat; ++i)
    put32(out, kDifSect);
  for (qsizetype i = streamSectors + 1 + fat + difat; i < fat * kEntriesPerSector; ++i)
    put32(out, kFreeSect);

  // DIFAT sectors: the FAT sectors the header has no room for, 127 each, then the next sector.
  qsizetype listed = kHeaderDifat;
  for (qsizetype d = 0; d < difat; ++d) {
    for (qsizetype i = 0; i < 127; ++i, ++listed)
      put32(out, listed < fat ? static_cast<quint32>(firstFat + listed) : kFreeSect);
    put32(out, d + 1 < difat ? static_cast<quint32>(firstDifat + d + 1) : kEndOfChain);
  }
  return out;
}

} // namespace xls
