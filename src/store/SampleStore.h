#pragma once

#include "store/ChunkedArray.h"

#include <QString>
#include <QtGlobal>

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

// The samples of one trace, in x order (time), with a multi-resolution summary.
//
// Raw samples live either in memory (traces with no recording behind them) or in the .zvdat
// recording file, read back with positioned reads: the file already holds every sample, so a
// file-backed store keeps in memory only the summaries, the newest incomplete block and a few
// blocks read lately. Summaries: per block of kBlock samples the count, gaps, minimum,
// maximum, the centred moments of x and y (see Stats), first and last x and where the block
// lies in the file; and per kFanout nodes of one level a node of the next. About 0.39 bytes
// per sample in all (64 + 32 bytes a block, and a fifteenth of that for the levels above).
//
// Gaps (non-finite y) are kept as NaN: they count as samples, so a line breaks there, and the
// extremes skip them. Not thread-safe: one thread appends and reads.
class SampleStore {
public:
  static constexpr int kBlock = 256;
  static constexpr int kFanout = 16;
  // Raw blocks of a file-backed store kept after reading: every block of a view with up to a
  // block per pixel column (wider views are summed from the summaries, see spans()) on a
  // chart up to 2048 px wide, so such a chart that scrolls reads only what comes into view.
  // At most 8 MiB per store, filled only by such views.
  static constexpr int kCachedBlocks = 2048;

  // Count, extremes and moments over some samples; min/max are empty without a finite y. The
  // moments are centred (means, sums of squared deviations and of the products of deviations,
  // over the finite samples) and merged with Chan's formulas: sums of x² over a day of
  // milliseconds, or of y² for readings of 1000 ± 0.001, would cancel away the digits a
  // standard deviation or a slope needs.
  struct Stats {
    qint64 count = 0;
    qint64 gaps = 0;
    double min = 0;
    double max = 0;
    double meanX = 0;
    double meanY = 0;
    double m2x = 0; // sum of (x - meanX)²
    double m2y = 0; // sum of (y - meanY)²
    double cxy = 0; // sum of (x - meanX)(y - meanY)
    [[nodiscard]] bool hasValue() const { return count > gaps; }
    [[nodiscard]] qint64 finite() const { return count - gaps; }
    [[nodiscard]] double sum() const { return meanY * static_cast<double>(finite()); }
    // Population variance (divided by the number of finite samples); 0 without any.
    [[nodiscard]] double variance() const;
    // Least-squares slope of y over x, per x unit; NaN unless two finite samples differ in x.
    [[nodiscard]] double slope() const;
    void add(double x, double y);
    void merge(const Stats &o);
    // The samples [0, n) of a run, in one pass relative to its first finite sample.
    [[nodiscard]] static Stats ofRun(const double *x, const double *y, qint64 n);
  };

  // One pixel column of a query: the samples [begin, end) with their extremes.
  struct Span {
    qint64 begin = 0;
    qint64 end = 0;
    Stats stats;
  };

  SampleStore();
  ~SampleStore();
  SampleStore(const SampleStore &) = delete;
  SampleStore &operator=(const SampleStore &) = delete;

  // A store whose raw samples are read from a .zvdat file: records of `channel` (the file's
  // 0-based meter slot) after the file's channel records. nullptr when the file cannot be opened.
  static std::shared_ptr<SampleStore> openFile(const QString &path, int channelCount, int channel);

  [[nodiscard]] bool fileBacked() const { return m_fd >= 0; }

  // Appends one sample; x must not decrease for a file-backed store (a memory store sorts an
  // earlier x in, at the cost of a rebuild). A non-finite y is a gap; a non-finite x is dropped.
  // For a file-backed store, `record` is the sample's record index in the file (0 = first
  // record after the channel records), and the record must already be in the file.
  void append(double x, double y, qint64 record = -1);
  // Many samples of a memory store at once, in any order: one rebuild at most.
  void append(const double *x, const double *y, qint64 n);
  void clear();

  [[nodiscard]] qint64 count() const { return m_count; }
  [[nodiscard]] double x(qint64 i) const;
  [[nodiscard]] double y(qint64 i) const;
  // The first sample whose x is not below `x` (count() when none).
  [[nodiscard]] qint64 lowerBound(double x) const;
  // The samples [begin, end) summed up from the coarsest summaries that fit.
  // With extremesOnly only count, gaps, min and max are summed (what drawing needs, at a
  // fraction of the cost); the moments stay 0.
  [[nodiscard]] Stats stats(qint64 begin, qint64 end, bool extremesOnly = false) const;
  // The x extremes (first and last x) and the y extremes of all samples.
  [[nodiscard]] std::optional<double> minX() const;
  [[nodiscard]] std::optional<double> maxX() const;
  [[nodiscard]] std::optional<double> minY() const;
  [[nodiscard]] std::optional<double> maxY() const;
  // `columns` equal columns over [x0, x1): the samples of each, exact extremes; only the
  // first `limit` samples count when limit is not negative. With snapToBlocks, where a column
  // holds at least a whole block on average, its edges move to the nearest block boundary
  // (less than half a block, so at most half a column): the columns are then summed from the
  // summaries alone, without reading a raw sample.
  [[nodiscard]] std::vector<Span> spans(double x0, double x1, int columns, qint64 limit = -1,
                                        bool snapToBlocks = false, bool extremesOnly = false) const;
  // The same into `out`, whose memory is reused.
  void spans(std::vector<Span> &out, double x0, double x1, int columns, qint64 limit = -1, bool snapToBlocks = false,
             bool extremesOnly = false) const;
  // Bytes held in memory by the store (summaries, tail, cache), for the benchmarks.
  [[nodiscard]] qint64 memoryBytes() const;

private:
  struct Block {
    std::array<double, kBlock> x{};
    std::array<double, kBlock> y{};
  };
  // A block's or a level's summary, Stats with 32-bit counts, in two parts: what drawing sums
  // (24 bytes) apart from the moments (40), so a column's extremes read a third of the bytes.
  struct Extremes {
    double min = 0;
    double max = 0;
    qint32 count = 0;
    qint32 gaps = 0;
  };
  struct Moments {
    double meanX = 0;
    double meanY = 0;
    double m2x = 0;
    double m2y = 0;
    double cxy = 0;
  };
  struct BlockInfo {
    double firstX = 0;
    qint64 firstRecord = -1;
    qint64 lastRecord = -1;
  };
  struct CacheEntry {
    quint64 used = 0;
    std::unique_ptr<Block> data;
  };

  [[nodiscard]] qint64 fullBlocks() const { return static_cast<qint64>(m_info.size()); }
  // The raw samples of block b (complete or the tail).
  [[nodiscard]] const Block &block(qint64 b) const;
  [[nodiscard]] std::unique_ptr<Block> readBlock(qint64 b) const;
  void rawStats(qint64 begin, qint64 end, Stats &out, bool extremesOnly) const;
  void nodeStats(size_t level, qint64 begin, qint64 end, Stats &out, bool extremesOnly) const;
  static void runExtremes(const double *y, qint64 n, Stats &out);
  static void mergeExtremes(Stats &out, qint64 count, qint64 gaps, double min, double max);
  void closeTail();
  void rebuildWith(std::vector<double> xs, std::vector<double> ys);
  void pushNode(size_t level, const Stats &s);
  void addNode(size_t level, size_t i, Stats &out, bool extremesOnly) const;
  // The first complete block whose last x is not below x, searched in [from, ...) by galloping.
  [[nodiscard]] size_t blockAtOrAfter(double x, size_t from = 0) const;

  qint64 m_count = 0;
  std::vector<ChunkedArray<Extremes>> m_extremes; // [0]: one node per complete block
  std::vector<ChunkedArray<Moments>> m_moments;
  ChunkedArray<BlockInfo> m_info;
  // The blocks' last x on their own: the edge searches walk these, eight to a cache line.
  ChunkedArray<double> m_lastX;
  std::vector<std::unique_ptr<Block>> m_memory; // complete blocks of a memory store
  Block m_tail;
  int m_tailCount = 0;
  qint64 m_tailFirstRecord = -1;
  qint64 m_lastRecord = -1;
  double m_minY = std::numeric_limits<double>::infinity(); // of the finite y; NaN compares false
  double m_maxY = -std::numeric_limits<double>::infinity();
  // File backing.
  int m_fd = -1;
  int m_channel = 0;
  qint64 m_dataStart = 0;
  mutable std::unordered_map<qint64, CacheEntry> m_cache;
  mutable qint64 m_lastBlock = -1; // the block read last, and where it is
  mutable const Block *m_lastData = nullptr;
  mutable quint64 m_useClock = 0;
};

// What a trace draws over [x0, x1) in `columns` pixel columns, in the store's x units: with
// fewer than kRawPerColumn samples per column the samples themselves, otherwise per column
// its first, lowest, highest and last value at the column's middle (a NaN where the column
// holds a gap, so the line breaks); where the columns are summed from whole blocks (see
// SampleStore::spans) its lowest and highest only, in the order that joins the neighbours. The samples just outside the window come along so the
// line runs to the edges. Only the first `limit` samples count.
struct TracePoints {
  std::vector<double> x;
  std::vector<double> y;
  bool raw = true;
  std::vector<SampleStore::Span> columns; // working memory
};
inline constexpr int kRawPerColumn = 2;
// Into `out`, whose memory is reused: a chart keeps one per trace, so that a replot neither
// allocates nor faults in fresh pages (memory freed on a helper thread went back to the system
// and came back as page faults, a third of the comparison's replot).
void MakeTracePoints(const SampleStore &store, double x0, double x1, int columns, qint64 limit, TracePoints &out);

// Stores for every channel of a recording file, built in one pass over it (file-backed, x in
// milliseconds). Empty when the file cannot be read.
[[nodiscard]] std::vector<std::shared_ptr<SampleStore>> BuildStores(const QString &path);
