#include "store/SampleStore.h"

#include "acquisition/DataFile.h"
#include "acquisition/SampleRecord.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}

void SampleStore::Stats::add(double x, double y) {
  Stats one;
  one.count = 1;
  if (std::isfinite(y)) {
    one.min = one.max = one.meanY = y;
    one.meanX = x;
  } else {
    one.gaps = 1;
  }
  merge(one);
}

void SampleStore::Stats::merge(const Stats &o) {
  if (o.hasValue()) {
    if (hasValue()) {
      min = std::min(min, o.min);
      max = std::max(max, o.max);
      // Chan, Golub and LeVeque: the parts' deviations plus the spread of their means.
      const double na = static_cast<double>(finite());
      const double nb = static_cast<double>(o.finite());
      const double n = na + nb;
      const double dx = o.meanX - meanX;
      const double dy = o.meanY - meanY;
      const double w = na * nb / n;
      meanX += dx * (nb / n);
      meanY += dy * (nb / n);
      m2x += o.m2x + dx * dx * w;
      m2y += o.m2y + dy * dy * w;
      cxy += o.cxy + dx * dy * w;
    } else {
      min = o.min;
      max = o.max;
      meanX = o.meanX;
      meanY = o.meanY;
      m2x = o.m2x;
      m2y = o.m2y;
      cxy = o.cxy;
    }
  }
  count += o.count;
  gaps += o.gaps;
}

double SampleStore::Stats::variance() const {
  return hasValue() ? std::max(0.0, m2y) / static_cast<double>(finite()) : 0.0;
}

double SampleStore::Stats::slope() const {
  return finite() >= 2 && m2x > 0 ? cxy / m2x : kNaN;
}

SampleStore::Stats SampleStore::Stats::ofRun(const double *x, const double *y, qint64 n) {
  // Sums of deviations from the run's first reading: no division per sample, and no
  // cancellation, as that reading lies among the others.
  Stats s;
  s.count = n;
  qint64 i = 0;
  while (i < n && !std::isfinite(y[i]))
    ++i;
  s.gaps = i;
  if (i == n)
    return s;
  const double rx = x[i];
  const double ry = y[i];
  double lo = ry;
  double hi = ry;
  double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
  for (; i < n; ++i) {
    const double v = y[i];
    if (!std::isfinite(v)) {
      ++s.gaps;
      continue;
    }
    lo = std::min(lo, v);
    hi = std::max(hi, v);
    const double dx = x[i] - rx;
    const double dy = v - ry;
    sx += dx;
    sy += dy;
    sxx += dx * dx;
    syy += dy * dy;
    sxy += dx * dy;
  }
  const double k = static_cast<double>(s.finite());
  s.min = lo;
  s.max = hi;
  s.meanX = rx + sx / k;
  s.meanY = ry + sy / k;
  s.m2x = std::max(0.0, sxx - sx * sx / k);
  s.m2y = std::max(0.0, syy - sy * sy / k);
  s.cxy = sxy - sx * sy / k;
  return s;
}

SampleStore::SampleStore() : m_extremes(1), m_moments(1) {}

SampleStore::~SampleStore() {
  if (m_fd >= 0)
    ::close(m_fd);
}

std::shared_ptr<SampleStore> SampleStore::openFile(const QString &path, int channelCount, int channel) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return nullptr;
  auto s = std::make_shared<SampleStore>();
  s->m_fd = fd;
  s->m_channel = channel;
  s->m_dataStart = DataFileFormat::channelRecordOffset(channelCount);
  return s;
}

void SampleStore::pushNode(size_t level, const Stats &s) {
  if (level == m_extremes.size()) {
    m_extremes.emplace_back();
    m_moments.emplace_back();
  }
  m_extremes[level].push_back({s.hasValue() ? s.min : kNaN, s.hasValue() ? s.max : kNaN, static_cast<qint32>(s.count),
                               static_cast<qint32>(s.gaps)});
  m_moments[level].push_back({s.meanX, s.meanY, s.m2x, s.m2y, s.cxy});
}

void SampleStore::mergeExtremes(Stats &out, qint64 count, qint64 gaps, double min, double max) {
  if (count > gaps) {
    if (out.hasValue()) {
      out.min = std::min(out.min, min);
      out.max = std::max(out.max, max);
    } else {
      out.min = min;
      out.max = max;
    }
  }
  out.count += count;
  out.gaps += gaps;
}

void SampleStore::addNode(size_t level, size_t i, Stats &out, bool extremesOnly) const {
  const Extremes &e = m_extremes[level][i];
  if (extremesOnly) {
    mergeExtremes(out, e.count, e.gaps, e.min, e.max);
    return;
  }
  const Moments &m = m_moments[level][i];
  Stats s;
  s.count = e.count;
  s.gaps = e.gaps;
  s.min = e.min;
  s.max = e.max;
  s.meanX = m.meanX;
  s.meanY = m.meanY;
  s.m2x = m.m2x;
  s.m2y = m.m2y;
  s.cxy = m.cxy;
  out.merge(s);
}

void SampleStore::append(double x, double y, qint64 record) {
  if (!std::isfinite(x))
    return;
  if (!std::isfinite(y))
    y = kNaN;
  // (A file-backed store takes x as it comes: reading its last x could mean reading a block.)
  if (!fileBacked() && m_count > 0 && x < this->x(m_count - 1)) {
    rebuildWith({x}, {y});
    return;
  }
  if (m_tailCount == 0)
    m_tailFirstRecord = record;
  m_tail.x[static_cast<size_t>(m_tailCount)] = x;
  m_tail.y[static_cast<size_t>(m_tailCount)] = y;
  ++m_tailCount;
  ++m_count;
  m_lastRecord = record;
  // Only the extremes of all: the full sums are in the summaries.
  if (y < m_minY)
    m_minY = y;
  if (y > m_maxY)
    m_maxY = y;
  if (m_tailCount == kBlock)
    closeTail();
}

void SampleStore::closeTail() {
  const Stats s = Stats::ofRun(m_tail.x.data(), m_tail.y.data(), m_tailCount);
  m_info.push_back({m_tail.x[0], m_tailFirstRecord, m_lastRecord});
  m_lastX.push_back(m_tail.x[static_cast<size_t>(m_tailCount - 1)]);
  pushNode(0, s);
  // A node of the next level as soon as kFanout nodes of this one are complete.
  for (size_t level = 0; m_extremes[level].size() % kFanout == 0; ++level) {
    Stats up;
    const size_t size = m_extremes[level].size();
    for (size_t i = size - kFanout; i < size; ++i)
      addNode(level, i, up, false);
    pushNode(level + 1, up);
  }
  if (!fileBacked())
    m_memory.push_back(std::make_unique<Block>(m_tail));
  m_tailCount = 0;
}

void SampleStore::append(const double *x, const double *y, qint64 n) {
  bool inOrder = true;
  double last = m_count > 0 && !fileBacked() ? this->x(m_count - 1) : -std::numeric_limits<double>::infinity();
  for (qint64 i = 0; i < n && inOrder; ++i) {
    if (!std::isfinite(x[i]))
      continue;
    inOrder = x[i] >= last;
    last = x[i];
  }
  if (inOrder || fileBacked()) {
    for (qint64 i = 0; i < n; ++i)
      append(x[i], y[i]);
    return;
  }
  std::vector<double> xs(x, x + n);
  std::vector<double> ys(y, y + n);
  rebuildWith(std::move(xs), std::move(ys));
}

void SampleStore::rebuildWith(std::vector<double> xs, std::vector<double> ys) {
  // Points out of order only come from callers that hand them unsorted; rebuild rather than
  // keep holes. Stable, so equal x keep the order they came in, the old ones first.
  std::vector<std::pair<double, double>> all;
  all.reserve(static_cast<size_t>(m_count) + xs.size());
  for (qint64 i = 0; i < m_count; ++i)
    all.emplace_back(this->x(i), this->y(i));
  for (size_t i = 0; i < xs.size(); ++i) {
    if (std::isfinite(xs[i]))
      all.emplace_back(xs[i], ys[i]);
  }
  std::stable_sort(all.begin(), all.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
  clear();
  for (const auto &[px, py] : all)
    append(px, py);
}

void SampleStore::clear() {
  m_count = 0;
  m_extremes.resize(1);
  m_extremes[0].clear();
  m_moments.resize(1);
  m_moments[0].clear();
  m_info.clear();
  m_lastX.clear();
  m_memory.clear();
  m_tailCount = 0;
  m_tailFirstRecord = -1;
  m_lastRecord = -1;
  m_minY = std::numeric_limits<double>::infinity();
  m_maxY = -std::numeric_limits<double>::infinity();
  m_cache.clear();
  m_lastBlock = -1;
  m_lastData = nullptr;
}

std::unique_ptr<SampleStore::Block> SampleStore::readBlock(qint64 b) const {
  auto out = std::make_unique<Block>();
  const BlockInfo &info = m_info[static_cast<size_t>(b)];
  // A file that lost its samples reads as gaps rather than as made-up values.
  out->x.fill(kNaN);
  out->y.fill(kNaN);
  // In pieces: a channel sampled rarely among busy ones spreads its block over many records.
  constexpr qint64 kPieceRecords = 4096;
  std::vector<TSampleRecord> buf(static_cast<size_t>(std::min<qint64>(
      std::max<qint64>(info.lastRecord - info.firstRecord + 1, 0), kPieceRecords)));
  size_t k = 0;
  for (qint64 first = info.firstRecord; first <= info.lastRecord && k < kBlock;) {
    const qint64 records = std::min(kPieceRecords, info.lastRecord - first + 1);
    const qint64 bytes = records * DataFileFormat::kSampleSize;
    const qint64 offset = m_dataStart + first * DataFileFormat::kSampleSize;
    qint64 got = 0;
    while (got < bytes) {
      const ssize_t n = ::pread(m_fd, reinterpret_cast<char *>(buf.data()) + got, static_cast<size_t>(bytes - got),
                                static_cast<off_t>(offset + got));
      if (n <= 0)
        break;
      got += n;
    }
    for (qint64 r = 0; r < got / DataFileFormat::kSampleSize && k < kBlock; ++r) {
      const TSampleRecord rec = buf[static_cast<size_t>(r)];
      if (rec.Channel != m_channel)
        continue;
      out->x[k] = rec.Time;
      out->y[k] = std::isfinite(rec.Value) ? rec.Value : kNaN;
      ++k;
    }
    if (got < bytes)
      break;
    first += records;
  }
  for (; k < kBlock; ++k)
    out->x[k] = m_lastX[static_cast<size_t>(b)];
  return out;
}

const SampleStore::Block &SampleStore::block(qint64 b) const {
  if (b >= fullBlocks())
    return m_tail;
  if (!fileBacked())
    return *m_memory[static_cast<size_t>(b)];
  if (b == m_lastBlock)
    return *m_lastData;
  ++m_useClock;
  if (const auto hit = m_cache.find(b); hit != m_cache.end()) {
    hit->second.used = m_useClock;
    m_lastBlock = b;
    m_lastData = hit->second.data.get();
    return *m_lastData;
  }
  std::unique_ptr<Block> data = readBlock(b);
  if (m_cache.size() >= kCachedBlocks) {
    // The least recently used goes; a scan costs little next to the read just made.
    auto oldest = m_cache.begin();
    for (auto it = m_cache.begin(); it != m_cache.end(); ++it)
      if (it->second.used < oldest->second.used)
        oldest = it;
    m_cache.erase(oldest);
  }
  const Block *kept = m_cache.emplace(b, CacheEntry{m_useClock, std::move(data)}).first->second.data.get();
  m_lastBlock = b;
  m_lastData = kept;
  return *kept;
}

double SampleStore::x(qint64 i) const {
  if (i < 0 || i >= m_count)
    return kNaN;
  return block(i / kBlock).x[static_cast<size_t>(i % kBlock)];
}

double SampleStore::y(qint64 i) const {
  if (i < 0 || i >= m_count)
    return kNaN;
  return block(i / kBlock).y[static_cast<size_t>(i % kBlock)];
}

size_t SampleStore::blockAtOrAfter(double x, size_t from) const {
  // Galloping: the searches of a view's edges come in order, each a little past the last.
  const size_t size = m_lastX.size();
  if (from >= size || !(m_lastX[from] < x))
    return std::min(from, size);
  size_t lo = from; // m_lastX[lo] < x
  size_t step = 1;
  while (lo + step < size && m_lastX[lo + step] < x) {
    lo += step;
    step *= 2;
  }
  // The answer lies in (lo, hi]; bisect keeping m_lastX[lo] < x and (hi == size or m_lastX[hi] >= x).
  size_t hi = std::min(size, lo + step);
  while (hi - lo > 1) {
    const size_t mid = lo + (hi - lo) / 2;
    if (m_lastX[mid] < x)
      lo = mid;
    else
      hi = mid;
  }
  return hi;
}

qint64 SampleStore::lowerBound(double x) const {
  // Past either end (a view wider than the record): no search, no read.
  if (m_count == 0 || x <= *minX())
    return 0;
  if (x > *maxX())
    return m_count;
  // The block from the summaries, then the sample from that block's raw values: one read.
  const auto b = static_cast<qint64>(blockAtOrAfter(x));
  const Block &data = block(b);
  const int n = b < fullBlocks() ? kBlock : m_tailCount;
  const auto at = std::lower_bound(data.x.begin(), data.x.begin() + n, x) - data.x.begin();
  return b * kBlock + at;
}

void SampleStore::rawStats(qint64 begin, qint64 end, Stats &out, bool extremesOnly) const {
  while (begin < end) {
    const qint64 b = begin / kBlock;
    const Block &data = block(b);
    const qint64 stop = std::min(end, (b + 1) * kBlock);
    const size_t at = static_cast<size_t>(begin % kBlock);
    if (extremesOnly)
      runExtremes(data.y.data() + at, stop - begin, out);
    else
      out.merge(Stats::ofRun(data.x.data() + at, data.y.data() + at, stop - begin));
    begin = stop;
  }
}

void SampleStore::runExtremes(const double *y, qint64 n, Stats &out) {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -std::numeric_limits<double>::infinity();
  qint64 gaps = 0;
  for (qint64 i = 0; i < n; ++i) {
    const double v = y[i];
    if (std::isfinite(v)) {
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    } else {
      ++gaps;
    }
  }
  mergeExtremes(out, n, gaps, lo, hi);
}

void SampleStore::nodeStats(size_t level, qint64 begin, qint64 end, Stats &out, bool extremesOnly) const {
  if (level + 1 < m_extremes.size()) {
    const qint64 upBegin = (begin + kFanout - 1) / kFanout;
    const qint64 upEnd = std::min<qint64>(end / kFanout, static_cast<qint64>(m_extremes[level + 1].size()));
    if (upBegin < upEnd) {
      for (qint64 i = begin; i < upBegin * kFanout; ++i)
        addNode(level, static_cast<size_t>(i), out, extremesOnly);
      nodeStats(level + 1, upBegin, upEnd, out, extremesOnly);
      for (qint64 i = upEnd * kFanout; i < end; ++i)
        addNode(level, static_cast<size_t>(i), out, extremesOnly);
      return;
    }
  }
  for (qint64 i = begin; i < end; ++i)
    addNode(level, static_cast<size_t>(i), out, extremesOnly);
}

SampleStore::Stats SampleStore::stats(qint64 begin, qint64 end, bool extremesOnly) const {
  Stats out;
  begin = std::max<qint64>(begin, 0);
  end = std::min(end, m_count);
  if (begin >= end)
    return out;
  const qint64 firstFull = (begin + kBlock - 1) / kBlock;
  const qint64 endFull = std::min(end / kBlock, fullBlocks());
  if (firstFull >= endFull) {
    rawStats(begin, end, out, extremesOnly);
    return out;
  }
  rawStats(begin, firstFull * kBlock, out, extremesOnly);
  nodeStats(0, firstFull, endFull, out, extremesOnly);
  rawStats(endFull * kBlock, end, out, extremesOnly);
  return out;
}

// From the summaries or the tail: never a read of the file.
std::optional<double> SampleStore::minX() const {
  if (m_count == 0)
    return std::nullopt;
  return m_info.empty() ? m_tail.x[0] : m_info.front().firstX;
}
std::optional<double> SampleStore::maxX() const {
  if (m_count == 0)
    return std::nullopt;
  return m_tailCount > 0 ? m_tail.x[static_cast<size_t>(m_tailCount - 1)] : m_lastX.back();
}
std::optional<double> SampleStore::minY() const { return m_minY <= m_maxY ? std::optional(m_minY) : std::nullopt; }
std::optional<double> SampleStore::maxY() const { return m_minY <= m_maxY ? std::optional(m_maxY) : std::nullopt; }

std::vector<SampleStore::Span> SampleStore::spans(double x0, double x1, int columns, qint64 limit,
                                                  bool snapToBlocks, bool extremesOnly) const {
  std::vector<Span> out;
  spans(out, x0, x1, columns, limit, snapToBlocks, extremesOnly);
  return out;
}

void SampleStore::spans(std::vector<Span> &out, double x0, double x1, int columns, qint64 limit, bool snapToBlocks,
                        bool extremesOnly) const {
  out.clear();
  const qint64 n = limit < 0 ? m_count : std::min(limit, m_count);
  if (columns <= 0 || !(x1 > x0) || n == 0)
    return;
  // Where the columns are wide enough, an edge goes to the nearer boundary of the complete
  // block it falls in, found from the summaries; in the newest samples (the tail, in memory)
  // it stays exact.
  const auto first = blockAtOrAfter(x0);
  const qint64 blocksInView = static_cast<qint64>(blockAtOrAfter(x1, first) - first);
  const bool snap = snapToBlocks && blocksInView >= columns;
  // The edges come in order: each search gallops on from the last block found.
  size_t hint = first;
  // The summary level that fits: edges on boundaries of the widest nodes that still hold at
  // most half a column, so a column sums a few nodes of that level (a few cache lines) rather
  // than many of level 0. An edge then moves less than half such a node: a quarter column.
  size_t group = 1; // blocks a node of that level holds
  if (snap)
    for (size_t level = 1; level < m_extremes.size() && !m_extremes[level].empty() &&
                           qint64(group * kFanout * 2) * columns <= blocksInView;
         ++level)
      group *= kFanout;
  const auto edgeAt = [&](double x) -> qint64 {
    if (snap) {
      hint = blockAtOrAfter(x, hint);
      if (hint < m_lastX.size()) {
        // The boundaries of the node around block b (of the block itself where that node is
        // not complete yet), and the nearer one to x.
        const size_t b = hint;
        size_t lo = b / group * group;
        size_t hi = lo + group;
        if (hi > m_info.size()) {
          lo = b;
          hi = b + 1;
        }
        const bool before = x <= m_info[lo].firstX || x - m_info[lo].firstX <= m_lastX[hi - 1] - x;
        return std::min(n, static_cast<qint64>(before ? lo : hi) * kBlock);
      }
    }
    return std::min(n, lowerBound(x));
  };
  out.resize(static_cast<size_t>(columns));
  const double w = (x1 - x0) / columns;
  if (!snap && blocksInView < columns) {
    // Less than a block a column: one sweep over the samples in view costs less than summing
    // partial blocks at every edge, and reads each block once.
    qint64 i = std::min(n, lowerBound(x0));
    for (int c = 0; c < columns; ++c) {
      const double edgeX = c + 1 == columns ? x1 : x0 + w * (c + 1);
      Span &sp = out[static_cast<size_t>(c)];
      sp.begin = i;
      while (i < n) {
        const Block &data = block(i / kBlock);
        const qint64 base = i / kBlock * kBlock;
        const auto from = static_cast<size_t>(i - base);
        const auto stop = static_cast<size_t>(std::min(n - base, qint64(kBlock)));
        // The run of this block inside the column, then its sums in one tight loop.
        size_t j = from;
        if (data.x[stop - 1] < edgeX)
          j = stop; // the whole rest of the block
        else
          while (j < stop && data.x[j] < edgeX)
            ++j;
        if (extremesOnly)
          runExtremes(&data.y[from], static_cast<qint64>(j - from), sp.stats);
        else
          sp.stats.merge(Stats::ofRun(&data.x[from], &data.y[from], static_cast<qint64>(j - from)));
        i = base + static_cast<qint64>(j);
        if (j < stop)
          break;
      }
      sp.end = i;
    }
    return;
  }
  qint64 edge = edgeAt(x0);
  for (int c = 0; c < columns; ++c) {
    const qint64 next = edgeAt(c + 1 == columns ? x1 : x0 + w * (c + 1));
    Span &s = out[static_cast<size_t>(c)];
    s.begin = edge;
    s.end = std::max(edge, next);
    s.stats = stats(s.begin, s.end, extremesOnly);
    edge = s.end;
  }
}

qint64 SampleStore::memoryBytes() const {
  qint64 bytes = sizeof(*this);
  for (size_t l = 0; l < m_extremes.size(); ++l)
    bytes += static_cast<qint64>(m_extremes[l].bytesUsed() + m_moments[l].bytesUsed());
  bytes += static_cast<qint64>(m_info.bytesUsed() + m_lastX.bytesUsed());
  bytes += static_cast<qint64>(m_memory.size() * sizeof(Block) + m_memory.capacity() * sizeof(void *));
  bytes += static_cast<qint64>(m_cache.size() * (sizeof(Block) + sizeof(CacheEntry)));
  return bytes;
}

std::vector<std::shared_ptr<SampleStore>> BuildStores(const QString &path) {
  std::vector<std::shared_ptr<SampleStore>> stores;
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return stores;
  const QByteArray head = f.read(DataFileFormat::kHeadSize);
  if (head.size() < DataFileFormat::kHeadSize)
    return stores;
  qint32 channels = 0;
  std::memcpy(&channels, head.constData() + 26, sizeof channels);
  if (channels <= 0 || channels > 4096)
    return stores;
  for (int c = 0; c < channels; ++c) {
    auto s = SampleStore::openFile(path, channels, c);
    if (!s)
      return {};
    stores.push_back(std::move(s));
  }
  if (!f.seek(DataFileFormat::channelRecordOffset(channels)))
    return stores;
  // One pass in large reads; a partial record at the end (a cut-off file) is left out.
  constexpr qint64 kChunkRecords = 1 << 16;
  std::vector<TSampleRecord> buf(kChunkRecords);
  qint64 record = 0;
  for (;;) {
    const qint64 got = f.read(reinterpret_cast<char *>(buf.data()), kChunkRecords * DataFileFormat::kSampleSize);
    const qint64 n = got > 0 ? got / DataFileFormat::kSampleSize : 0;
    for (qint64 i = 0; i < n; ++i, ++record) {
      const TSampleRecord r = buf[static_cast<size_t>(i)];
      if (r.Channel >= 0 && r.Channel < channels)
        stores[static_cast<size_t>(r.Channel)]->append(r.Time, r.Value, record);
    }
    if (got < kChunkRecords * DataFileFormat::kSampleSize)
      break;
  }
  return stores;
}

void MakeTracePoints(const SampleStore &store, double x0, double x1, int columns, qint64 limit, TracePoints &out) {
  out.x.clear();
  out.y.clear();
  out.raw = true;
  const qint64 n = limit < 0 ? store.count() : std::min(limit, store.count());
  if (n == 0 || columns <= 0 || !(x1 >= x0))
    return;
  const qint64 begin = std::min(store.lowerBound(x0), n);
  // Up to and including x1: a sample on the right edge is in view.
  qint64 end = std::min(store.lowerBound(x1), n);
  while (end < n && store.x(end) <= x1)
    ++end;
  const auto push = [&out](double x, double y) {
    out.x.push_back(x);
    out.y.push_back(y);
  };
  if (begin > 0)
    push(store.x(begin - 1), store.y(begin - 1));
  if (end - begin < qint64(columns) * kRawPerColumn || !(x1 > x0)) {
    for (qint64 i = begin; i < end; ++i)
      push(store.x(i), store.y(i));
  } else {
    out.raw = false;
    const double w = (x1 - x0) / columns;
    store.spans(out.columns, x0, x1, columns, n, true, true);
    const std::vector<SampleStore::Span> &spans = out.columns;
    for (size_t c = 0; c < spans.size(); ++c) {
      const SampleStore::Span &s = spans[c];
      if (s.begin == s.end)
        continue;
      const double at = x0 + w * (static_cast<double>(c) + 0.5);
      // A column of whole blocks draws from the summaries alone.
      if (s.begin % SampleStore::kBlock == 0 && s.end % SampleStore::kBlock == 0) {
        if (!s.stats.hasValue()) {
          push(at, kNaN);
          continue;
        }
        // From the previous point to the nearer extreme first: the line joins as a trace does.
        const double prev = out.y.empty() ? s.stats.min : out.y.back();
        const bool lowFirst = !std::isfinite(prev) || std::abs(prev - s.stats.min) <= std::abs(prev - s.stats.max);
        push(at, lowFirst ? s.stats.min : s.stats.max);
        push(at, lowFirst ? s.stats.max : s.stats.min);
        if (s.stats.gaps > 0)
          push(at, kNaN);
        continue;
      }
      const double first = store.y(s.begin);
      const double last = store.y(s.end - 1);
      push(at, first);
      if (s.stats.hasValue()) {
        push(at, s.stats.min);
        push(at, s.stats.max);
      }
      // A gap inside the column still breaks the line.
      if (s.stats.gaps > 0 && std::isfinite(first) && std::isfinite(last))
        push(at, kNaN);
      if (s.end - s.begin > 1)
        push(at, last);
    }
    // Samples on the right edge itself belong to no column.
    for (qint64 i = spans.empty() ? begin : spans.back().end; i < end; ++i)
      push(store.x(i), store.y(i));
  }
  if (end < n)
    push(store.x(end), store.y(end));
}
