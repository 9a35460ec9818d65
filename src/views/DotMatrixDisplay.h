#pragma once

#include <QColor>
#include <QRectF>
#include <QString>
#include <QVector>
#include <QWidget>

// A value display that draws its text as 5x7 dot-matrix characters (digits, letters, signs;
// an unknown character is a blank cell).
//
// Layout: the display is cellCount() character cells wide (wider when the text needs it; the dots
// then shrink so that no character is lost). A character cell is 5 dot columns followed by one
// gap column. The text is right-aligned, as on a meter. A '.', ',' or ':' is a narrow cell of
// its own: one mark column (the bottom dot lit, ':' two dots) and a gap column, so a decimal
// point always has an empty dot column on each side and "19.87" never reads as "1987".
class DotMatrixDisplay : public QWidget {
  Q_OBJECT
public:
  explicit DotMatrixDisplay(QWidget *parent = nullptr);

  static constexpr int kGlyphColumns = 5;
  static constexpr int kRows = 7;
  static constexpr int kCellColumns = kGlyphColumns + 1; // glyph plus the gap column

  void setText(const QString &text);
  [[nodiscard]] QString text() const { return m_text; }
  // Repaints the display (on the next paint cycle).
  void refresh();

  void setCellCount(int cells);
  [[nodiscard]] int cellCount() const { return m_cellCount; }

  void setLitColor(const QColor &color);
  [[nodiscard]] QColor litColor() const { return m_lit; }
  void setUnlitColor(const QColor &color);
  [[nodiscard]] QColor unlitColor() const { return m_unlit; }
  void setBackgroundColor(const QColor &color);
  [[nodiscard]] QColor backgroundColor() const { return m_background; }

  // The dot grid of the current text: columns x rows, column 0 at the left.
  [[nodiscard]] int gridColumns() const;
  [[nodiscard]] bool isLit(int column, int row) const;
  // Whether a column holds a '.', ',' or ':' (and no part of a character).
  [[nodiscard]] bool isMarkColumn(int column) const;
  // Where dot (column, row) is painted, in widget coordinates.
  [[nodiscard]] QRectF dotRect(int column, int row) const;

  [[nodiscard]] QSize sizeHint() const override { return {135, 30}; }
  [[nodiscard]] QSize minimumSizeHint() const override { return {40, 12}; }

signals:
  void doubleClicked();

protected:
  void paintEvent(QPaintEvent *event) override;
  void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
  void layoutText();
  [[nodiscard]] int pitch() const;
  [[nodiscard]] QPointF origin() const;

  QString m_text;
  int m_cellCount = 7;
  QColor m_lit;
  QColor m_unlit;
  QColor m_background;
  // One bit mask per grid column (bit 0 = top row) for the laid-out text.
  QVector<quint8> m_columns;
  enum class ColumnKind : quint8 { Glyph, Gap, Mark };
  QVector<ColumnKind> m_kinds; // per grid column
  [[nodiscard]] ColumnKind kind(int column) const;
};
