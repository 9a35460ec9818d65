#include "store/CurveStore.h"

#include "store/PixelLine.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

quint64 nextStoreId() {
  static std::atomic<quint64> ids{0};
  return ++ids;
}

void widen(CurveStore::Box &b, const CurveStore::Point &p) {
  if (b.count == 0)
    b.first = p;
  b.last = p;
  ++b.count;
  if (!std::isfinite(p.y))
    return;
  if (b.finite == 0) {
    b.minX = b.maxX = p.x;
    b.minY = b.maxY = p.y;
  } else {
    b.minX = std::min(b.minX, p.x);
    b.maxX = std::max(b.maxX, p.x);
    b.minY = std::min(b.minY, p.y);
    b.maxY = std::max(b.maxY, p.y);
  }
  ++b.finite;
}
} // namespace

// Writes runs of blocks to the temporary file in the order they are handed over. After a
// failed write it writes nothing more: the blocks written are always the first ones.
class CurveStore::Writer {
public:
  struct Run {
    off_t offset = 0;
    std::array<iovec, kSpillRun> parts{};
  };

  explicit Writer(int fd) : m_fd(fd), m_thread([this] { loop(); }) {}
  ~Writer() {
    {
      std::lock_guard lock(m_mutex);
      m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
  }
  Writer(const Writer &) = delete;
  Writer &operator=(const Writer &) = delete;

  void post(const Run &run) {
    {
      std::lock_guard lock(m_mutex);
      m_runs.push_back(run);
    }
    m_wake.notify_all();
  }
  // Runs written so far, in order.
  [[nodiscard]] qint64 written() const { return m_written.load(std::memory_order_acquire); }
  [[nodiscard]] bool failed() const { return m_failed.load(std::memory_order_acquire); }
  void waitIdle() {
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_runs.empty() && !m_busy; });
  }

private:
  void loop() {
    std::unique_lock lock(m_mutex);
    for (;;) {
      m_wake.wait(lock, [this] { return m_stop || !m_runs.empty(); });
      if (m_stop)
        return; // the store is going or cleared: what is still queued is not wanted
      Run run = m_runs.front();
      m_runs.pop_front();
      m_busy = true;
      lock.unlock();
      const ssize_t want = static_cast<ssize_t>(kSpillRun * sizeof(Block));
      const bool ok = !failed() && ::pwritev(m_fd, run.parts.data(), kSpillRun, run.offset) == want;
      if (ok)
        m_written.fetch_add(1, std::memory_order_release);
      else
        m_failed.store(true, std::memory_order_release); // a full disk: the rest stays in memory
      lock.lock();
      m_busy = false;
      if (m_runs.empty())
        m_idle.notify_all();
    }
  }

  const int m_fd;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::condition_variable m_idle;
  std::deque<Run> m_runs;
  bool m_busy = false;
  bool m_stop = false;
  std::atomic<qint64> m_written{0};
  std::atomic<bool> m_failed{false};
  std::thread m_thread; // last: started once the rest is made
};

CurveStore::CurveStore(QString spillDir) : m_spillDir(std::move(spillDir)), m_id(nextStoreId()) {}

CurveStore::~CurveStore() {
  m_writer.reset(); // before its file is closed
  if (m_fd >= 0)
    ::close(m_fd);
}

void CurveStore::append(double x, double y) {
  if (!std::isfinite(x))
    return;
  const Point p{x, std::isfinite(y) ? y : kNaN};
  const int at = static_cast<int>(m_count % kBlock);
  if (at == 0)
    m_blocks.push_back(std::make_unique<Block>());
  (*m_blocks.back())[static_cast<size_t>(at)] = p;
  widen(m_tailBox, p);
  ++m_count;
  if (at == kBlock - 1)
    closeBlock();
}

void CurveStore::closeBlock() {
  m_boxes.push_back(m_tailBox);
  m_tailBox = Box{};
  if (m_writer)
    reapWritten();
  const qint64 waiting = static_cast<qint64>(m_boxes.size()) - kResidentBlocks - m_queued;
  if (!m_spillFailed && waiting >= kSpillRun)
    spillPending();
}

bool CurveStore::openSpill() {
  const QByteArray dir = QFile::encodeName(m_spillDir.isEmpty() ? QDir::tempPath() : m_spillDir);
#ifdef O_TMPFILE
  m_fd = ::open(dir.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
  if (m_fd < 0) {
    // A file system without unnamed files: a named one, unlinked at once.
    QByteArray name = dir + "/zervo-curve-XXXXXX";
    m_fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (m_fd >= 0)
      ::unlink(name.constData());
  }
  return m_fd >= 0;
}

void CurveStore::spillPending() {
  if (m_fd < 0 && !openSpill()) {
    m_spillFailed = true;
    return;
  }
  if (!m_writer)
    m_writer = std::make_unique<Writer>(m_fd);
  // The blocks stay where they are (and are read from memory) until the writer has them in
  // the file; nothing writes to a complete block, so the writer reads them unguarded.
  const qint64 first = kResidentBlocks + m_queued;
  Writer::Run run;
  for (int k = 0; k < kSpillRun; ++k)
    run.parts[static_cast<size_t>(k)] = {m_blocks[static_cast<size_t>(first + k)]->data(), sizeof(Block)};
  run.offset = static_cast<off_t>(m_queued) * static_cast<off_t>(sizeof(Block));
  m_writer->post(run);
  m_queued += kSpillRun;
}

void CurveStore::reapWritten() {
  const qint64 written = m_writer->written() * kSpillRun;
  for (; m_spilled < written; ++m_spilled)
    m_blocks[static_cast<size_t>(kResidentBlocks + m_spilled)].reset();
  if (m_writer->failed())
    m_spillFailed = true; // what was not written stays in memory
}

void CurveStore::settle() {
  if (!m_writer)
    return;
  m_writer->waitIdle();
  reapWritten();
}

void CurveStore::clear() {
  m_id = nextStoreId();
  m_count = 0;
  m_boxes.clear();
  m_tailBox = Box{};
  m_writer.reset(); // before the blocks it reads and the file it writes go
  m_blocks.clear();
  m_spilled = 0;
  m_queued = 0;
  m_spillFailed = false;
  m_cache.clear();
  if (m_fd >= 0) {
    ::close(m_fd);
    m_fd = -1;
  }
}

const CurveStore::Box &CurveStore::box(qint64 b) const {
  static const Box kEmpty;
  if (b < 0 || b >= blockCount())
    return kEmpty;
  return b < static_cast<qint64>(m_boxes.size()) ? m_boxes[static_cast<size_t>(b)] : m_tailBox;
}

bool CurveStore::readAhead(qint64 b, qint64 n) const {
  if (m_cache.empty())
    m_cache.resize(kCachedBlocks);
  std::array<iovec, kSpillRun> parts{};
  for (qint64 k = 0; k < n; ++k) {
    CacheSlot &slot = m_cache[static_cast<size_t>((b + k) % kCachedBlocks)];
    if (!slot.data)
      slot.data = std::make_unique<Block>();
    slot.block = -1;
    parts[static_cast<size_t>(k)] = {slot.data->data(), sizeof(Block)};
  }
  const off_t offset = static_cast<off_t>(b - kResidentBlocks) * static_cast<off_t>(sizeof(Block));
  const ssize_t want = static_cast<ssize_t>(n) * static_cast<ssize_t>(sizeof(Block));
  if (::preadv(m_fd, parts.data(), static_cast<int>(n), offset) != want)
    return false;
  for (qint64 k = 0; k < n; ++k)
    m_cache[static_cast<size_t>((b + k) % kCachedBlocks)].block = b + k;
  return true;
}

const CurveStore::Point *CurveStore::blockPoints(qint64 b) const {
  static const Block kGaps = [] {
    Block g;
    g.fill(Point{kNaN, kNaN});
    return g;
  }();
  if (b < 0 || b >= blockCount())
    return kGaps.data();
  if (const Block *mem = m_blocks[static_cast<size_t>(b)].get())
    return mem->data();
  if (!m_cache.empty()) {
    const CacheSlot &slot = m_cache[static_cast<size_t>(b % kCachedBlocks)];
    if (slot.block == b)
      return slot.data->data();
  }
  // Read on in the order a drawing walks, up to the end of what is in the file.
  const qint64 spilledEnd = kResidentBlocks + m_spilled;
  const qint64 n = std::min<qint64>(kSpillRun, spilledEnd - b);
  if (!readAhead(b, n))
    return kGaps.data(); // unreadable (an I/O error): shown as a gap rather than as wrong points
  return m_cache[static_cast<size_t>(b % kCachedBlocks)].data->data();
}

CurveStore::Point CurveStore::at(qint64 i) const {
  if (i < 0 || i >= m_count)
    return {kNaN, kNaN};
  return blockPoints(i / kBlock)[i % kBlock];
}

std::optional<CurveStore::Point> CurveStore::nearestX(double x) const {
  if (!std::isfinite(x))
    return std::nullopt;
  std::optional<Point> best;
  double bestDistance = 0;
  // Latest blocks first, and a block only when its box could hold a nearer point: ties go to
  // the point found first, the latest.
  for (qint64 b = blockCount() - 1; b >= 0; --b) {
    const Box &bx = box(b);
    if (bx.finite == 0)
      continue;
    const double bound = std::max({0.0, bx.minX - x, x - bx.maxX});
    if (best && bound >= bestDistance)
      continue;
    const Point *pts = blockPoints(b);
    for (int k = bx.count - 1; k >= 0; --k) {
      const Point &p = pts[k];
      if (!std::isfinite(p.y))
        continue;
      const double d = std::abs(p.x - x);
      if (!best || d < bestDistance) {
        best = p;
        bestDistance = d;
      }
    }
  }
  return best;
}

qint64 CurveStore::memoryBytes() const {
  qint64 bytes = static_cast<qint64>(m_boxes.bytesUsed() + m_blocks.size() * sizeof(void *));
  for (const auto &b : m_blocks)
    if (b)
      bytes += sizeof(Block);
  for (const CacheSlot &s : m_cache)
    bytes += sizeof(CacheSlot) + (s.data ? sizeof(Block) : 0);
  return bytes;
}

// ---- drawing

void CurveTracer::reset() { *this = CurveTracer(); }

namespace {
// floor() for |v| < 2^53 without a call into the maths library (a call per point is most of
// what walking a curve costs on a baseline x86-64 build).
qint64 floorToInt(double v) {
  const auto i = static_cast<qint64>(v);
  return static_cast<double>(i) > v ? i - 1 : i;
}
} // namespace

CurveTracer::Cell CurveTracer::cellOf(double x, double y) const {
  const double px = (x - m_view.x0) * m_sx;
  const double py = (y - m_view.y0) * m_sy;
  Cell c;
  // Two pixels of margin, as for the blocks: whatever lies beyond them is drawn nowhere.
  c.out = (px < -2 ? 1 : 0) | (px >= m_view.width + 2 ? 2 : 0) | (py < -2 ? 4 : 0) | (py >= m_view.height + 2 ? 8 : 0);
  constexpr double kFar = 1e15; // cells beyond are never equal, so no point there is dropped
  if (!(std::abs(px) < kFar && std::abs(py) < kFar)) {
    c.valid = false;
    c.exact = false;
    return c;
  }
  c.x = floorToInt(px);
  c.y = floorToInt(py);
  constexpr qint64 kReach = qint64(1) << 31;
  c.exact = c.x >= -kReach && c.x < kReach && c.y >= -kReach && c.y < kReach;
  return c;
}

void CurveTracer::Pixels::reset(int w, int h) {
  // A pixel more on every side: a line on the axis itself (a reading at the axis maximum)
  // still shows on the edge.
  width = w + 2;
  height = h + 2;
  tilesAcross = (width + 7) / 8;
  bits.assign(static_cast<size_t>(tilesAcross * ((height + 7) / 8)), 0);
  count = 0;
}

bool CurveTracer::Pixels::test(qint64 x, qint64 y) const {
  ++x;
  ++y;
  if (!inside(x, y))
    return true;
  return (bits[static_cast<size_t>((y >> 3) * tilesAcross + (x >> 3))] >> (((y & 7) << 3) | (x & 7))) & 1;
}

bool CurveTracer::Pixels::set(qint64 x, qint64 y) {
  ++x;
  ++y;
  if (!inside(x, y))
    return false;
  quint64 &word = bits[static_cast<size_t>((y >> 3) * tilesAcross + (x >> 3))];
  const quint64 bit = quint64(1) << (((y & 7) << 3) | (x & 7));
  if (word & bit)
    return false;
  word |= bit;
  ++count;
  return true;
}

bool CurveTracer::Pixels::full(qint64 x0, qint64 y0, qint64 x1, qint64 y1) const {
  x0 = std::max<qint64>(x0 + 1, 0);
  y0 = std::max<qint64>(y0 + 1, 0);
  x1 = std::min(x1 + 1, width - 1);
  y1 = std::min(y1 + 1, height - 1);
  for (qint64 ty = y0 >> 3; ty <= y1 >> 3; ++ty) {
    // The rows of this tile inside the box, then the columns of each tile.
    const qint64 r0 = std::max(y0, ty * 8) - ty * 8;
    const qint64 r1 = std::min(y1, ty * 8 + 7) - ty * 8;
    const quint64 rows = (~quint64(0) >> (63 - (r1 * 8 + 7))) & (~quint64(0) << (r0 * 8));
    for (qint64 tx = x0 >> 3; tx <= x1 >> 3; ++tx) {
      const qint64 c0 = std::max(x0, tx * 8) - tx * 8;
      const qint64 c1 = std::min(x1, tx * 8 + 7) - tx * 8;
      const quint64 colsOfRow = ((quint64(1) << (c1 - c0 + 1)) - 1) << c0;
      const quint64 mask = rows & (colsOfRow * 0x0101010101010101ULL);
      if ((bits[static_cast<size_t>(ty * tilesAcross + tx)] & mask) != mask)
        return false;
    }
  }
  return true;
}

bool CurveTracer::paintedBefore(const Cell &a, const Cell &b) {
  // Clipped to the view (a pixel beyond it on each side), then stepped along pixel by pixel.
  double ax = static_cast<double>(a.x), ay = static_cast<double>(a.y);
  double bx = static_cast<double>(b.x), by = static_cast<double>(b.y);
  const double w = static_cast<double>(m_view.width), h = static_cast<double>(m_view.height);
  if (!ClipLineToBox(ax, ay, bx, by, -1, -1, w, h))
    return m_vertices.test(b.x, b.y);
  qint64 x = static_cast<qint64>(std::llround(ax));
  qint64 y = static_cast<qint64>(std::llround(ay));
  const qint64 ex = static_cast<qint64>(std::llround(bx));
  const qint64 ey = static_cast<qint64>(std::llround(by));
  // Bresenham, twice: first whether every pixel is painted already, then painting them.
  const auto walk = [&](auto &&visit) { return WalkPixelLine(x, y, ex, ey, visit); };
  const bool before = walk([&](qint64 px, qint64 py) { return m_painted.test(px, py); }) && m_vertices.test(b.x, b.y);
  if (!before)
    walk([&](qint64 px, qint64 py) {
      m_painted.set(px, py);
      return true;
    });
  return before;
}

namespace {
size_t slotOf(quint64 key, size_t mask) { return static_cast<size_t>((key * 0x9E3779B97F4A7C15ULL) >> 20) & mask; }
} // namespace

bool CurveTracer::seen(const Cell &a, const Cell &b, quint64 &key) const {
  key = 0;
  const auto near = [](const Cell &c) { return c.x >= -32768 && c.x < 32768 && c.y >= -32768 && c.y < 32768; };
  if (!near(a) || !near(b))
    return false;
  const auto key16 = [](const Cell &c) {
    return (static_cast<quint64>(c.x + 32768) << 16) | static_cast<quint64>(c.y + 32768);
  };
  const quint64 ka = key16(a);
  const quint64 kb = key16(b);
  // Unordered: a track run backwards is the same segment. Never 0, as the cells differ.
  key = (std::min(ka, kb) << 32) | std::max(ka, kb);
  if (m_segments.empty())
    return false;
  const size_t mask = m_segments.size() - 1;
  for (size_t i = slotOf(key, mask); m_segments[i] != 0; i = (i + 1) & mask)
    if (m_segments[i] == key)
      return true;
  return false;
}

void CurveTracer::remember(quint64 key) {
  if (key == 0 || m_segmentCount >= kMaxSegments)
    return;
  if (static_cast<qint64>(m_segments.size()) < 2 * (m_segmentCount + 1)) {
    std::vector<quint64> old(std::max<size_t>(1024, m_segments.size() * 2), 0);
    old.swap(m_segments);
    const size_t mask = m_segments.size() - 1;
    for (quint64 k : old) {
      if (k == 0)
        continue;
      size_t i = slotOf(k, mask);
      while (m_segments[i] != 0)
        i = (i + 1) & mask;
      m_segments[i] = k;
    }
  }
  const size_t mask = m_segments.size() - 1;
  size_t i = slotOf(key, mask);
  while (m_segments[i] != 0) {
    if (m_segments[i] == key)
      return;
    i = (i + 1) & mask;
  }
  m_segments[i] = key;
  ++m_segmentCount;
}

void CurveTracer::put(const CurveStore::Point &p, const Cell &c, std::vector<CurveStore::Point> &out) {
  if (m_broken && !m_lastIsGap)
    out.push_back({m_lastEmitted.x, kNaN});
  out.push_back(p);
  m_lastEmitted = p;
  m_lastIsGap = false;
  m_broken = false;
  if (c.valid) {
    m_vertices.set(c.x, c.y);
    m_painted.set(c.x, c.y);
  }
}

void CurveTracer::feed(const CurveStore::Point &p, std::vector<CurveStore::Point> &out) {
  if (!std::isfinite(p.y)) {
    m_inCell = false;
    m_broken = true;
    return;
  }
  const Cell c = cellOf(p.x, p.y);
  if (m_inCell && c == m_cell)
    return;
  if (!m_inCell) {
    // The line starts (again) here; a start beyond the view, or where a vertex stands already,
    // waits for a segment that paints something.
    m_inCell = true;
    m_cell = c;
    m_cellPoint = p;
    m_cellEmitted = c.out == 0 && !(c.exact && m_vertices.test(c.x, c.y));
    if (m_cellEmitted)
      put(p, c, out);
    return;
  }
  // A segment seen before is judged as then: drawn, its pixels and end cell hold what it drew.
  quint64 key = 0;
  const bool skip = (m_cell.out & c.out) != 0 ||
                    (m_cell.exact && c.exact && (seen(m_cell, c, key) || paintedBefore(m_cell, c)));
  remember(key);
  if (skip) {
    // Beyond one edge, or nothing new: the line goes on from here without it.
    m_broken = true;
    m_cell = c;
    m_cellPoint = p;
    m_cellEmitted = false;
    return;
  }
  if (!m_cellEmitted)
    put(m_cellPoint, m_cell, out);
  put(p, c, out);
  m_cell = c;
  m_cellPoint = p;
  m_cellEmitted = true;
}

bool CurveTracer::update(const CurveStore &store, const View &view, std::vector<CurveStore::Point> &added,
                         Clock::time_point deadline) {
  added.clear();
  const bool fresh = store.id() != m_storeId || !(view == m_view) || store.count() < m_next;
  if (fresh) {
    reset();
    m_storeId = store.id();
    m_view = view;
    m_sx = view.width / (view.x1 - view.x0);
    m_sy = view.height / (view.y1 - view.y0);
    m_painted.reset(view.width, view.height);
    m_vertices.reset(view.width, view.height);
  }
  const qint64 n = store.count();
  // Two pixels of margin: a box beyond it lies wholly on the far side of an edge, and so does
  // every segment between points in it.
  const double mx = 2 / m_sx;
  const double my = 2 / m_sy;
  const bool timed = deadline != Clock::time_point::max();
  qint64 sinceCheck = 0;
  while (m_next < n) {
    // Every pixel holds a vertex: nothing more can show (a cloud that has filled the view).
    if (m_vertices.count == m_vertices.width * m_vertices.height) {
      m_next = n;
      break;
    }
    // The clock a few thousand points at a time: reading it costs more than a point.
    if (timed && ++sinceCheck >= 16) {
      sinceCheck = 0;
      if (Clock::now() >= deadline)
        break;
    }
    const qint64 b = m_next / CurveStore::kBlock;
    const qint64 off = m_next % CurveStore::kBlock;
    const CurveStore::Box &bx = store.box(b);
    const qint64 end = b * CurveStore::kBlock + bx.count;
    if (off == 0 && bx.count == CurveStore::kBlock) {
      if (bx.finite == 0) {
        feed(bx.first, added); // all gaps: one break
        m_next = end;
        continue;
      }
      const bool outside = bx.maxX < view.x0 - mx || bx.minX > view.x1 + mx || bx.maxY < view.y0 - my ||
                           bx.minY > view.y1 + my;
      if (outside) {
        // Nothing of it shows: only where the line enters and leaves it matters.
        feed(bx.first, added);
        feed(bx.last, added);
        m_next = end;
        continue;
      }
      const Cell lo = cellOf(bx.minX, bx.minY);
      const Cell hi = cellOf(bx.maxX, bx.maxY);
      if (m_inCell && m_cell.valid && bx.finite == bx.count && lo == m_cell && hi == m_cell) {
        m_next = end; // every point in the cell the line is in
        continue;
      }
      if (lo.exact && hi.exact && m_vertices.full(lo.x, lo.y, hi.x, hi.y)) {
        // Every pixel it could reach holds a vertex already (so is painted): only where the
        // line enters and leaves it matters.
        feed(bx.first, added);
        feed(bx.last, added);
        m_next = end;
        continue;
      }
    }
    const CurveStore::Point *pts = store.blockPoints(b);
    for (qint64 k = off; k < bx.count; ++k)
      feed(pts[k], added);
    m_walked += bx.count - off;
    m_next = end;
  }
  return fresh;
}
