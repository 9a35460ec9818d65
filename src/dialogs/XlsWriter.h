#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <cstdint>
#include <optional>
#include <vector>

class QIODevice;

namespace xls {

// A one-sheet Excel 97-2003 workbook (BIFF8 in a compound file) of text and number cells.
//
// It stands in for the spreadsheet program the exports once drove: cells are set by row and
// column, like "Cells(row, column)", then the workbook is saved as .xls. A text cell is a shared
// string (SST + LABELSST) with the text format "@"; a number cell is an 8-byte double (NUMBER)
// shown with the format kNumberFormat, so a spreadsheet can sum and chart it.
//
// Memory stays small for big sheets: a cell costs 8 bytes (a number 8 more), and equal texts
// are stored once.
class Workbook {
public:
  static constexpr int kMaxRows = 65536;      // rows per sheet in this format
  static constexpr int kMaxColumns = 256;     // columns per sheet in this format
  static constexpr int kMaxTextLength = 32767; // characters per cell in this format
  // The number format of number cells: five decimals, as the exports round their values.
  static constexpr const char *kNumberFormat = "0.00000";

  Workbook();

  // Rows 1..kMaxRows, columns 1..kMaxColumns (1-based, as the spreadsheet counts them).
  // Returns false, and changes nothing, for a cell outside the sheet. Setting a cell again
  // replaces its text. Texts longer than kMaxTextLength are cut to that length.
  bool setCell(int row, int column, QStringView text);

  // A number cell. Returns false, and changes nothing, for a cell outside the sheet or a value
  // that is not finite (the format has no infinity or NaN). Replaces an earlier text or number.
  bool setNumber(int row, int column, double value);

  // The text of a text cell; empty when it was never set or holds a number.
  [[nodiscard]] QString cell(int row, int column) const;
  // The value of a number cell; nullopt for a text cell or a cell never set.
  [[nodiscard]] std::optional<double> number(int row, int column) const;
  [[nodiscard]] qsizetype cellCount() const { return static_cast<qsizetype>(m_cells.size()); }
  [[nodiscard]] qsizetype uniqueTextCount() const { return static_cast<qsizetype>(m_offsets.size()) - 1; }
  [[nodiscard]] int usedRows() const;    // last row holding a cell (0 when empty)
  [[nodiscard]] int usedColumns() const; // last column holding a cell (0 when empty)

  // The whole .xls file.
  [[nodiscard]] QByteArray toBytes() const;

  // Writes the file atomically: a failed save leaves any earlier file of that name untouched.
  // On failure returns false and, when error is given, a short reason.
  [[nodiscard]] bool save(const QString &path, QString *error = nullptr) const;

  // The BIFF8 "Workbook" stream alone (globals, then the sheet), before any padding.
  [[nodiscard]] QByteArray workbookStream() const;

private:
  struct Cell {
    std::uint32_t key; // (row - 1) << 8 | (column - 1): sorts in the order the sheet wants
    std::uint32_t value; // index into the shared strings, or kNumberCell | index into m_numbers
  };
  static constexpr std::uint32_t kNumberCell = 0x80000000u;

  bool put(int row, int column, std::uint32_t value);
  [[nodiscard]] const Cell *find(int row, int column) const;

  [[nodiscard]] std::uint32_t intern(QStringView text);
  [[nodiscard]] QByteArrayView stringBytes(std::uint32_t index) const;
  void growTable();
  [[nodiscard]] std::vector<Cell> sortedCells() const;

  // Shared strings, each as a complete BIFF8 unicode string (count, flags, characters);
  // string i spans m_pool[m_offsets[i] .. m_offsets[i + 1]).
  QByteArray m_pool;
  std::vector<qsizetype> m_offsets;
  struct Slot {
    std::uint32_t index; // string index + 1; 0 = free
    std::uint32_t hash;  // compared before the bytes, and reused when the table grows
  };
  std::vector<Slot> m_table; // open addressing
  std::vector<double> m_numbers;
  // In the order set until a lookup sorts them; m_sorted: by key, each key once.
  mutable std::vector<Cell> m_cells;
  mutable bool m_sorted = true;
};

// Wraps a BIFF stream in a compound file (version 3, 512-byte sectors) as the "Workbook" stream.
// Streams shorter than the 4096-byte mini-stream cutoff are padded with zero bytes after the
// last record, so the stream always lives in regular sectors. Returns an empty array when the
// stream is too large for the format (4 GiB).
[[nodiscard]] QByteArray CompoundFile(const QByteArray &workbookStream);

} // namespace xls
