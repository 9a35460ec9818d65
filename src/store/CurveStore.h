#pragma once

#include "store/ChunkedArray.h"

#include <QString>
#include <QtGlobal>

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

// The points of an X/Y trace, in order of arrival (a curve may run back along either axis).
//
// Points are kept exactly (two doubles, 16 bytes each). The first kResidentBlocks blocks stay
// in memory; later complete blocks are written, kSpillRun at a time, to an unnamed temporary
// file and read back with positioned reads through a small cache, so a recording of days
// holds only the summaries in memory: per block of kBlock points the box of its finite points
// and its first and last point, 72 bytes, about 0.28 bytes a point. When the temporary file
// cannot be made or written, the points stay in memory: nothing is lost, only memory is spent.
//
// The writes are made by a thread of the store's own, so that a disk held up by other writers
// (a journal commit, a sync of the recording) never holds up the thread that appends; a block
// leaves memory only once it is in the file.
//
// A point whose y is not finite is a gap (the line breaks there); x is always finite (the
// chart refuses other points). Not thread-safe: one thread appends and reads.
class CurveStore {
public:
  static constexpr int kBlock = 256;
  static constexpr qint64 kResidentBlocks = 256; // 1 MiB: a short X/Y run never touches the disk
  static constexpr int kSpillRun = 16;           // blocks per write (64 KiB) and per read-ahead
  static constexpr int kCachedBlocks = 256;      // blocks read back, direct-mapped (1 MiB)

  struct Point {
    double x = 0;
    double y = 0;
  };
  // A block's summary. The box covers the finite points only; empty (finite == 0) for a block
  // of gaps.
  struct Box {
    double minX = 0;
    double maxX = 0;
    double minY = 0;
    double maxY = 0;
    Point first;
    Point last;
    qint32 count = 0;
    qint32 finite = 0;
  };

  // The temporary file goes into `spillDir` (the system's temporary folder when empty).
  explicit CurveStore(QString spillDir = QString());
  ~CurveStore();
  CurveStore(const CurveStore &) = delete;
  CurveStore &operator=(const CurveStore &) = delete;

  void append(double x, double y);
  void clear();
  // Changes whenever the points do other than grow (a new store, a clear): what a drawing of
  // the store was made from.
  [[nodiscard]] quint64 id() const { return m_id; }

  [[nodiscard]] qint64 count() const { return m_count; }
  // Point i; a NaN point when i is out of range or its block cannot be read back.
  [[nodiscard]] Point at(qint64 i) const;
  // Blocks, the last one possibly incomplete.
  [[nodiscard]] qint64 blockCount() const { return (m_count + kBlock - 1) / kBlock; }
  [[nodiscard]] const Box &box(qint64 b) const;
  // The points of block b (box(b).count of them).
  [[nodiscard]] const Point *blockPoints(qint64 b) const;

  // The point with a finite y whose x is nearest `x`, the latest of equally near ones.
  [[nodiscard]] std::optional<Point> nearestX(double x) const;

  [[nodiscard]] bool spilling() const { return m_fd >= 0; }
  // Waits until the blocks handed to the writing thread are in the file (or it failed), and
  // lets go of their memory.
  void settle();
  // Bytes in memory (points, summaries, cache) and in the temporary file, for the benchmarks.
  [[nodiscard]] qint64 memoryBytes() const;
  [[nodiscard]] qint64 spilledBytes() const { return m_spilled * static_cast<qint64>(sizeof(Block)); }

private:
  using Block = std::array<Point, kBlock>;
  struct CacheSlot {
    qint64 block = -1;
    std::unique_ptr<Block> data;
  };
  class Writer;

  void closeBlock();
  void spillPending();
  // Frees the blocks the writer has put into the file; notes a failed write.
  void reapWritten();
  [[nodiscard]] bool openSpill();
  // Reads blocks [b, b + n) of the file into the cache; false when the read fails.
  bool readAhead(qint64 b, qint64 n) const;

  QString m_spillDir;
  quint64 m_id = 0;
  qint64 m_count = 0;
  ChunkedArray<Box, 12> m_boxes;              // complete blocks
  Box m_tailBox;                              // the incomplete block
  std::deque<std::unique_ptr<Block>> m_blocks; // nullptr once written to the file
  qint64 m_spilled = 0;                       // blocks in the file: kResidentBlocks.. onwards
  qint64 m_queued = 0;                        // blocks handed to the writer (m_spilled and more)
  bool m_spillFailed = false;
  int m_fd = -1;
  mutable std::vector<CacheSlot> m_cache;
  std::unique_ptr<Writer> m_writer; // last: stopped before the blocks it reads go
};

// What an X/Y trace draws in one view: the points in order with every run of points in one
// pixel cell reduced to its first, and a segment from one cell to another only where it paints
// a pixel no segment before it has painted, or reaches a cell without a vertex (so markers
// still stand in every cell the points visit). A curve that runs over its own track again, or
// a cloud of readings that has filled its patch of the chart, adds nothing: at most one segment
// per pixel is drawn, so painting costs what the pixels cost, not what the points do. A segment
// between two points beyond the same edge of the view cannot show and is left out too. Blocks
// whose box lies beyond one edge, inside the cell the line is in, or wholly on pixels that
// already hold vertices are passed over from their summaries, without reading a point. Vertices
// stay the store's exact points; where the line skips a segment or breaks for a gap, a NaN y
// breaks it. Fed incrementally: while the store and view stay, update() walks only the points
// added since.
class CurveTracer {
public:
  struct View {
    double x0 = 0;
    double x1 = 1;
    double y0 = 0;
    double y1 = 1;
    int width = 1;
    int height = 1;
    bool operator==(const View &) const = default;
  };

  using Clock = std::chrono::steady_clock;
  // Brings the tracer up to date with `store` over `view`, or as far as it gets by `deadline`
  // (checked a block at a time; see caughtUp). Answers whether the vertices were made anew
  // (the caller replaces what it drew) rather than extended; `added` gets the new vertices
  // either way.
  bool update(const CurveStore &store, const View &view, std::vector<CurveStore::Point> &added,
              Clock::time_point deadline = Clock::time_point::max());
  // Whether every point of the store has been walked.
  [[nodiscard]] bool caughtUp(const CurveStore &store) const { return m_next >= store.count(); }
  void reset();
  [[nodiscard]] qint64 walkedPoints() const { return m_walked; }
  static constexpr qint64 kMaxSegments = qint64(1) << 20;
  [[nodiscard]] qint64 memoryBytes() const {
    return static_cast<qint64>((m_painted.bits.capacity() + m_vertices.bits.capacity() + m_segments.capacity()) *
                               sizeof(quint64));
  }

private:
  struct Cell {
    qint64 x = 0;
    qint64 y = 0;
    bool valid = true; // a cell at all (not beyond any pixel a chart could have)
    bool exact = true; // near enough to the view to be rasterised
    int out = 0;       // beyond which edges of the view (two pixels out): left 1, right 2, low 4, high 8
    bool operator==(const Cell &o) const { return valid && o.valid && x == o.x && y == o.y; }
  };
  // A bit per pixel of the view and one pixel around it, in tiles of 8 x 8 (one word each, so
  // that a whole box is tested a word at a time); coordinates are the view's. Pixels further
  // out count as set: nothing there shows.
  struct Pixels {
    qint64 width = 0;
    qint64 height = 0;
    qint64 tilesAcross = 0;
    std::vector<quint64> bits;
    void reset(int w, int h);
    [[nodiscard]] bool inside(qint64 x, qint64 y) const { return x >= 0 && y >= 0 && x < width && y < height; }
    [[nodiscard]] bool test(qint64 x, qint64 y) const;
    // Sets the pixel; whether it was not set before (and is in the view).
    bool set(qint64 x, qint64 y);
    qint64 count = 0; // pixels set
    // Every pixel of the view within [x0, x1] x [y0, y1] set.
    [[nodiscard]] bool full(qint64 x0, qint64 y0, qint64 x1, qint64 y1) const;
  };
  [[nodiscard]] Cell cellOf(double x, double y) const;
  void feed(const CurveStore::Point &p, std::vector<CurveStore::Point> &out);
  void put(const CurveStore::Point &p, const Cell &c, std::vector<CurveStore::Point> &out);
  // Whether the segment a-b would paint nothing new; paints it otherwise.
  [[nodiscard]] bool paintedBefore(const Cell &a, const Cell &b);
  // Segments judged before, by their cells: a track run over again is recognised at once
  // instead of stepping along its pixels. Up to kMaxSegments are remembered (16 MiB); later
  // ones are judged by their pixels every time.
  [[nodiscard]] bool seen(const Cell &a, const Cell &b, quint64 &key) const;
  void remember(quint64 key);

  quint64 m_storeId = 0;
  View m_view;
  qint64 m_next = 0; // the next point to walk
  qint64 m_walked = 0;
  double m_sx = 1, m_sy = 1;
  // Where the line is.
  bool m_inCell = false;
  Cell m_cell;
  CurveStore::Point m_cellPoint;
  bool m_cellEmitted = false;
  bool m_broken = true;     // the next vertex does not continue the last one
  bool m_lastIsGap = true;  // the last vertex given out is a break (or there is none)
  CurveStore::Point m_lastEmitted;
  Pixels m_painted;
  Pixels m_vertices;
  std::vector<quint64> m_segments; // open addressing, 0 = empty
  qint64 m_segmentCount = 0;
};
