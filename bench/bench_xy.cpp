// The X/Y trace alone: points kept by CurveStore and drawn by CurveTracer, for three kinds of
// curve at 1, 10 and 100 million points (--points caps it): a lap retraced (as a Lissajous of
// two sines, what bench_file opens), a slow drift with a little noise, and the readings of
// bench_endurance (a triangle drift with a fast ripple, channel 1 against channel 2). Prints the
// time to add the points, to draw them anew for a view (a zoom, a resize: every point walked),
// to extend the drawing by the last second of points (what a live replot does), the vertices
// drawn, and the memory the store keeps.
#include "BenchApp.h"
#include "ProcessMemory.h"
#include "store/CurveStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

double msSince(const QElapsedTimer &t) { return double(t.nsecsElapsed()) / 1e6; }

// As bench_endurance's sampleValue: the k-th reading of a channel.
double rippleValue(qint64 k, int channel) {
  const qint64 slow = (k / 64 + channel * 977) % 8000;
  const qint64 tri = slow < 4000 ? slow : 8000 - slow;
  const qint64 ripple = (k * 37 + channel * 11) % 200 - 100;
  return double(500 + tri + ripple) / 100.0;
}

struct Shape {
  const char *name;
  std::function<CurveStore::Point(qint64)> point;
};

} // namespace

int main(int argc, char **argv) {
  const BenchEnvironment environment;
  QCoreApplication app(argc, argv);
  qint64 maxPoints = 100'000'000;
  const QStringList a = app.arguments();
  for (int i = 1; i < a.size(); ++i) {
    if (a[i] == QStringLiteral("--points") && i + 1 < a.size()) {
      maxPoints = std::max<qint64>(1000, qint64(a[++i].toDouble()));
    } else {
      std::fprintf(stderr, "usage: bench_xy [--points N]\n");
      return 2;
    }
  }
  const Shape shapes[] = {
      {"retraced lap", [](qint64 i) {
         // bench_file's channels 1 and 2 at every tenth record
         const double t = double(i * 10) * 1e-5;
         return CurveStore::Point{std::round(100.0 * (50 + 40 * std::sin(t))) / 100.0,
                                  std::round(100.0 * (50 + 40 * std::sin(t + 1))) / 100.0};
       }},
      {"drift", [](qint64 i) {
         const double t = double(i) * 1e-6;
         return CurveStore::Point{25 + 20 * std::sin(t) + 0.01 * double(i % 7), 25 + 20 * std::cos(t * 1.3) + 0.01 * double(i % 5)};
       }},
      {"ripple on a drift", [](qint64 i) { return CurveStore::Point{rippleValue(i, 0), rippleValue(i, 1)}; }},
  };
  // The X/Y page of a 1600 x 1000 window, on the channels' default range 0..50.
  const CurveTracer::View view{0, 50, 0, 50, 1509, 846};
  CurveTracer::View zoomed{20, 30, 20, 30, 1509, 846};
  std::printf("X/Y trace, view %d x %d px; times in ms; 'extend' adds 1600 points (a second of the line rate)\n",
              view.width, view.height);
  std::printf("%-18s %11s %9s %10s %10s %9s %10s %10s %9s %9s\n", "curve", "points", "add", "draw all", "vertices",
              "extend", "zoomed", "vertices", "mem MiB", "file MiB");
  for (const Shape &shape : shapes) {
    for (qint64 n = 1'000'000; n <= maxPoints; n *= 10) {
      CurveStore store;
      QElapsedTimer t;
      t.start();
      for (qint64 i = 0; i < n; ++i) {
        const CurveStore::Point p = shape.point(i);
        store.append(p.x, p.y);
      }
      const double addMs = msSince(t);
      std::vector<CurveStore::Point> out;
      CurveTracer tracer;
      t.start();
      (void)tracer.update(store, view, out);
      const double drawMs = msSince(t);
      qint64 vertices = static_cast<qint64>(out.size());
      for (qint64 i = n; i < n + 1600; ++i) {
        const CurveStore::Point p = shape.point(i);
        store.append(p.x, p.y);
      }
      t.start();
      (void)tracer.update(store, view, out);
      const double extendMs = msSince(t);
      vertices += static_cast<qint64>(out.size());
      CurveTracer zoom;
      t.start();
      (void)zoom.update(store, zoomed, out);
      const double zoomMs = msSince(t);
      std::printf("%-18s %11lld %9.0f %10.1f %10lld %9.3f %10.1f %10lld %9.1f %9.0f\n", shape.name,
                  static_cast<long long>(n), addMs, drawMs, static_cast<long long>(vertices), extendMs, zoomMs,
                  static_cast<long long>(out.size()),
                  double(store.memoryBytes() + tracer.memoryBytes()) / (1 << 20), double(store.spilledBytes()) / (1 << 20));
      std::fflush(stdout);
    }
  }
  return 0;
}
