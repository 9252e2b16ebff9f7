// Exact-area coverage rasterizer. Each edge adds, to the cells of the rows it crosses, the signed
// area it covers to its right; a running sum along a row then gives every pixel's coverage, which
// the fill rule folds into 0..1. Edges left of the region count as edges on its left border (they
// still wind everything to their right); edges right of it touch nothing visible.

#include <algorithm>
#include <climits>
#include <cstring>
#include <cmath>

#include "SvgCore.h"

namespace Korvath {
namespace View {
namespace Svg {
namespace Detail {

namespace {
// Coordinates beyond this are clamped: the geometry is far outside any bitmap by then, and the
// clamp keeps every later computation finite.
constexpr double kMaxCoordinate = 1e9;

double clampCoordinate(double v) {
  if (std::isnan(v)) return 0;
  return std::max(-kMaxCoordinate, std::min(kMaxCoordinate, v));
}

std::uint8_t toByte(float v) {
  if (!(v > 0)) return 0;
  if (v >= 255) return 255;
  return static_cast<std::uint8_t>(v + 0.5f);
}

float fold(float acc, FillRule rule) {
  float a = std::fabs(acc);
  if (!(a < 1e9f)) return 1.0f;  // never a NaN where a pixel's coverage is expected
  if (rule == FillRule::NonZero) return a > 1 ? 1 : a;
  a = std::fmod(a, 2.0f);
  return a > 1 ? 2 - a : a;
}

double spreadT(double t, Paint::Spread spread) {
  if (!std::isfinite(t)) return t > 0 ? 1 : 0;
  switch (spread) {
    case Paint::Spread::Pad:
      return std::max(0.0, std::min(1.0, t));
    case Paint::Spread::Repeat:
      return t - std::floor(t);
    case Paint::Spread::Reflect: {
      double m = std::fmod(std::fabs(t), 2.0);
      return m > 1 ? 2 - m : m;
    }
  }
  return 0;
}
}  // namespace

void Rasterizer::addLine(double ax, double ay, double bx, double by) {
  ax = clampCoordinate(ax - x0_);
  bx = clampCoordinate(bx - x0_);
  ay = clampCoordinate(ay - y0_);
  by = clampCoordinate(by - y0_);
  double h = h_, w = w_;
  if (ay == by || std::max(ay, by) <= 0 || std::min(ay, by) >= h) return;
  // Clip to the region's rows.
  auto clipY = [&](double& x, double& y, double limit) {
    double t = (limit - ay) / (by - ay);
    x = ax + (bx - ax) * t;
    y = limit;
  };
  double x0 = ax, y0 = ay, x1 = bx, y1 = by;
  if (y0 < 0) clipY(x0, y0, 0);
  if (y0 > h) clipY(x0, y0, h);
  if (y1 < 0) clipY(x1, y1, 0);
  if (y1 > h) clipY(x1, y1, h);
  if (y0 == y1) return;
  // Split where the edge crosses the region's left and right borders.
  double ts[4] = {0, 1, 1, 1};
  int n = 1;
  auto crossing = [&](double limit) {
    if ((x0 < limit && x1 > limit) || (x0 > limit && x1 < limit)) ts[n++] = (limit - x0) / (x1 - x0);
  };
  crossing(0);
  crossing(w);
  if (n == 3 && ts[1] > ts[2]) std::swap(ts[1], ts[2]);
  ts[n++] = 1;
  for (int i = 0; i + 1 < n; ++i) {
    double pa = ts[i], pb = ts[i + 1];
    double xa = x0 + (x1 - x0) * pa, ya = y0 + (y1 - y0) * pa;
    double xb = x0 + (x1 - x0) * pb, yb = y0 + (y1 - y0) * pb;
    if (i == n - 2) {
      xb = x1;
      yb = y1;
    }
    double mid = 0.5 * (xa + xb);
    if (mid <= 0) {
      xa = xb = 0;
    } else if (mid >= w) {
      xa = xb = w;
    }
    accumulate(std::max(0.0, std::min(w, xa)), ya, std::max(0.0, std::min(w, xb)), yb);
  }
}

void Rasterizer::accumulate(double xs, double ys, double xe, double ye) {
  if (ys == ye) return;
  double dir = 1;
  if (ys > ye) {
    std::swap(xs, xe);
    std::swap(ys, ye);
    dir = -1;
  }
  double w = w_;
  double dxdy = (xe - xs) / (ye - ys);
  int yStart = std::max(0, static_cast<int>(std::floor(ys)));
  int yEnd = std::min(h_, static_cast<int>(std::ceil(ye)));
  std::size_t stride = static_cast<std::size_t>(w_) + 2;
  double x = xs;
  for (int y = yStart; y < yEnd; ++y) {
    double dy = std::min(y + 1.0, ye) - std::max(static_cast<double>(y), ys);
    double xnext = (y + 1.0 >= ye) ? xe : x + dxdy * dy;
    xnext = std::max(0.0, std::min(w, xnext));
    double d = dy * dir;
    double xa = std::min(x, xnext), xb = std::max(x, xnext);
    int xai = static_cast<int>(std::floor(xa));
    double xbCeil = std::ceil(xb);
    int xbi = static_cast<int>(xbCeil);
    float* row = &cells_[static_cast<std::size_t>(y) * stride];
    rowMin_[static_cast<std::size_t>(y)] = std::min(rowMin_[static_cast<std::size_t>(y)], xai);
    rowMax_[static_cast<std::size_t>(y)] = std::max(rowMax_[static_cast<std::size_t>(y)], std::max(xbi, xai + 1));
    if (xbi <= xai + 1) {
      double xmf = 0.5 * (x + xnext) - xai;
      row[xai] += static_cast<float>(d - d * xmf);
      row[xai + 1] += static_cast<float>(d * xmf);
    } else {
      double s = 1 / (xb - xa);
      double x0f = xa - xai;
      double a0 = 0.5 * s * (1 - x0f) * (1 - x0f);
      double x1f = xb - xbCeil + 1;
      double am = 0.5 * s * x1f * x1f;
      row[xai] += static_cast<float>(d * a0);
      if (xbi == xai + 2) {
        row[xai + 1] += static_cast<float>(d * (1 - a0 - am));
      } else {
        double a1 = s * (1.5 - x0f);
        row[xai + 1] += static_cast<float>(d * (a1 - a0));
        for (int xi = xai + 2; xi < xbi - 1; ++xi) row[xi] += static_cast<float>(d * s);
        double a2 = a1 + (xbi - xai - 3) * s;
        row[xbi - 1] += static_cast<float>(d * (1 - a2 - am));
      }
      row[xbi] += static_cast<float>(d * am);
    }
    x = xnext;
  }
}

void Rasterizer::fill(const Canvas& canvas, const std::vector<Polygon>& polygons, FillRule rule, const Paint& paint,
                      std::size_t& pixelBudget) {
  Bounds bounds;
  for (const auto& polygon : polygons) {
    for (const auto& p : polygon) bounds.add({clampCoordinate(p.x), clampCoordinate(p.y)});
  }
  if (bounds.empty) return;
  auto clampInt = [](double v, int lo, int hi) {
    return static_cast<int>(std::max<double>(lo, std::min<double>(hi, v)));
  };
  x0_ = clampInt(std::floor(bounds.minX), 0, canvas.width);
  y0_ = clampInt(std::floor(bounds.minY), 0, canvas.height);
  int x1 = clampInt(std::ceil(bounds.maxX), 0, canvas.width);
  int y1 = clampInt(std::ceil(bounds.maxY), 0, canvas.height);
  w_ = x1 - x0_;
  h_ = y1 - y0_;
  if (w_ <= 0 || h_ <= 0) return;
  std::size_t area = static_cast<std::size_t>(w_) * static_cast<std::size_t>(h_);
  if (area > pixelBudget) {
    pixelBudget = 0;
    return;
  }
  pixelBudget -= area;
  std::size_t stride = static_cast<std::size_t>(w_) + 2;
  // cells_ is all zero between calls; rows are cleared again as they are swept.
  if (cells_.size() < stride * static_cast<std::size_t>(h_)) cells_.resize(stride * static_cast<std::size_t>(h_), 0.0f);
  rowMin_.assign(static_cast<std::size_t>(h_), INT_MAX);
  rowMax_.assign(static_cast<std::size_t>(h_), -1);

  for (const auto& polygon : polygons) {
    std::size_t n = polygon.size();
    if (n < 2) continue;
    for (std::size_t i = 0; i < n; ++i) {
      const Point& a = polygon[i];
      const Point& b = polygon[(i + 1) % n];
      addLine(a.x, a.y, b.x, b.y);
    }
  }

  // Colours as premultiplied bytes in pixel order (B, G, R, A); a gradient's table likewise.
  auto bytes = [](const Rgba& c) {
    return std::array<std::uint8_t, 4>{toByte(c.b * 255.0f), toByte(c.g * 255.0f), toByte(c.r * 255.0f),
                                       toByte(c.a * 255.0f)};
  };
  const std::array<std::uint8_t, 4> solid = bytes(paint.color);
  if (paint.gradient) {
    table_.resize(paint.table.size());
    for (std::size_t i = 0; i < paint.table.size(); ++i) table_[i] = bytes(paint.table[i]);
  }
  const float tableMax = paint.table.empty() ? 0.0f : static_cast<float>(paint.table.size() - 1);
  cover_.resize(static_cast<std::size_t>(w_));

  // Source-over of the paint on a run of pixels; coverage per pixel, or one for the whole run.
  auto composite = [&](std::uint8_t* dst, int px, int py, int count, const std::uint8_t* cover, int constant) {
    float t = 0;
    if (paint.gradient) t = static_cast<float>(paint.tx * (px + 0.5) + paint.ty * (py + 0.5) + paint.t0);
    const float dt = static_cast<float>(paint.tx);
    for (int i = 0; i < count; ++i, dst += 4, t += dt) {
      int cv = cover ? cover[i] : constant;
      if (cv == 0) continue;
      const std::uint8_t* src = solid.data();
      if (paint.gradient) {
        float u = static_cast<float>(spreadT(t, paint.spread));
        src = table_[static_cast<std::size_t>(u * tableMax + 0.5f)].data();
      }
      if (cv == 255 && src[3] == 255) {
        std::memcpy(dst, src, 4);
        continue;
      }
      int keep = 255 - (src[3] * cv + 127) / 255;
      for (int c = 0; c < 4; ++c) dst[c] = static_cast<std::uint8_t>(std::min(255, (src[c] * cv + dst[c] * keep + 127) / 255));
    }
  };

  for (int ry = 0; ry < h_; ++ry) {
    std::size_t r = static_cast<std::size_t>(ry);
    if (rowMax_[r] < 0) continue;
    float* row = &cells_[r * stride];
    int py = ry + y0_;
    std::uint8_t* out = canvas.pixels + static_cast<std::size_t>(py) * canvas.stride;
    int first = rowMin_[r];
    int last = std::min(rowMax_[r], w_ + 1);
    int cellsEnd = std::min(last + 1, w_);  // beyond the last touched cell the coverage is constant
    float acc = 0;
    for (int x = first; x < cellsEnd; ++x) {
      acc += row[x];
      cover_[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(fold(acc, rule) * 255.0f + 0.5f);
    }
    if (cellsEnd > first) {
      composite(out + static_cast<std::size_t>(first + x0_) * 4, first + x0_, py, cellsEnd - first,
                &cover_[static_cast<std::size_t>(first)], 0);
    }
    int tail = static_cast<int>(fold(acc, rule) * 255.0f + 0.5f);
    if (tail > 0 && cellsEnd < w_) {
      composite(out + static_cast<std::size_t>(cellsEnd + x0_) * 4, cellsEnd + x0_, py, w_ - cellsEnd, nullptr, tail);
    }
    std::fill(row + std::max(0, first), row + std::min<int>(last + 1, w_ + 2), 0.0f);
  }
}

void compositeLayer(const Canvas& dst, const Canvas& layer, float opacity) {
  for (int y = 0; y < dst.height; ++y) {
    std::uint8_t* d = dst.pixels + static_cast<std::size_t>(y) * dst.stride;
    const std::uint8_t* s = layer.pixels + static_cast<std::size_t>(y) * layer.stride;
    for (int x = 0; x < dst.width; ++x, d += 4, s += 4) {
      if (s[3] == 0) continue;
      float keep = 1.0f - s[3] / 255.0f * opacity;
      for (int c = 0; c < 4; ++c) d[c] = toByte(s[c] * opacity + d[c] * keep);
    }
  }
}

}  // namespace Detail
}  // namespace Svg
}  // namespace View
}  // namespace Korvath
