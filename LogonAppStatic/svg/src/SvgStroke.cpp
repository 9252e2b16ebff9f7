// Stroking: turns flattened subpaths into outline polygons. An open subpath becomes one contour
// (left side forward, end cap, right side back, start cap); a closed one becomes two (left side,
// right side reversed). Points are offset along the path's true normal (a curve's, not its
// chord's), so curves, caps and joins sit where they belong. Outer corners get the join; inner
// corners turn where the two offset edges cross, so the outline fills the stroke under the
// non-zero rule without covering any part twice.

#include <algorithm>
#include <cmath>

#include "SvgCore.h"

namespace Korvath {
namespace View {
namespace Svg {
namespace Detail {

namespace {
constexpr int kMaxArcSteps = 256;

Point add(Point a, Point b) { return {a.x + b.x, a.y + b.y}; }
Point sub(Point a, Point b) { return {a.x - b.x, a.y - b.y}; }
Point mul(Point a, double s) { return {a.x * s, a.y * s}; }
Point neg(Point p) { return {-p.x, -p.y}; }
double dot(Point a, Point b) { return a.x * b.x + a.y * b.y; }
double cross(Point a, Point b) { return a.x * b.y - a.y * b.x; }

bool unit(Point& d) {
  double len = std::sqrt(dot(d, d));
  if (!(len > 0) || !std::isfinite(len)) return false;
  d = mul(d, 1 / len);
  return true;
}

// Where segment p0-p1 crosses segment q0-q1, if it does.
bool intersect(Point p0, Point p1, Point q0, Point q1, Point& out) {
  Point r = sub(p1, p0), s = sub(q1, q0);
  double den = cross(r, s);
  if (std::fabs(den) < 1e-12) return false;
  Point qp = sub(q0, p0);
  double t = cross(qp, s) / den;
  double u = cross(qp, r) / den;
  if (t < 0 || t > 1 || u < 0 || u > 1) return false;
  out = add(p0, mul(r, t));
  return true;
}

// One point of a side: where it is and in which unit directions the path arrives and leaves.
struct Vertex {
  Point p;
  Point in;
  Point out;
  bool smooth;
};

class Stroker {
 public:
  Stroker(const StrokeStyle& style, double tolerance, Budget& budget)
      : style_(style), hw_(style.width / 2), budget_(budget) {
    // Angle step of round joins and caps so that chords stay within tolerance of the circle.
    double ratio = std::min(1.0, tolerance / hw_);
    arcStep_ = std::max(2 * std::acos(1 - ratio), 2 * kPi / kMaxArcSteps);
  }

  void stroke(const Polyline& line, std::vector<Polygon>& out) {
    bool closed = line.closed;
    // A lone moveto is not stroked; a subpath of zero length ("M1 1 L1 1", "M1 1 Z") gets caps.
    if (line.points.size() == 1 && !closed) return;
    if (!collect(line)) return;
    std::size_t n = v_.size();
    if (n == 1) {
      drawDot(v_[0].p, out);
      return;
    }
    if (closed) {
      // Unless the subpath came back to its start by itself, a straight segment closes it.
      if (!hasIn_) {
        Point d = sub(v_[0].p, v_[n - 1].p);
        if (!unit(d)) return;
        v_[n - 1].out = d;
        v_[0].in = d;
      }
      Polygon left, right;
      side(v_, true, left);
      reversed(v_);
      side(rv_, true, right);
      emit(std::move(left), out);
      emit(std::move(right), out);
      return;
    }
    Polygon c;
    side(v_, false, c);
    cap(c, v_[n - 1].p, v_[n - 1].in);
    reversed(v_);
    side(rv_, false, c);
    cap(c, v_[0].p, neg(v_[0].out));
    emit(std::move(c), out);
  }

 private:
  // Copies the points, merging repeated ones, with unit tangents; a tangent that cannot be
  // normalized is replaced by the direction of the neighbouring segment.
  bool collect(const Polyline& line) {
    v_.clear();
    hasIn_ = false;
    for (std::size_t i = 0; i < line.points.size(); ++i) {
      Point p = line.points[i];
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
      if (!v_.empty() && p.x == v_.back().p.x && p.y == v_.back().p.y) {
        v_.back().out = line.tangentOut[i];
        v_.back().smooth = false;
        continue;
      }
      v_.push_back({p, line.tangentIn[i], line.tangentOut[i], line.smooth[i] != 0});
    }
    if (line.closed && v_.size() > 1 && v_.front().p.x == v_.back().p.x && v_.front().p.y == v_.back().p.y) {
      // The path came back to its start: its arrival is the start point's incoming direction.
      v_.front().in = v_.back().in;
      v_.front().smooth = false;
      hasIn_ = true;
      v_.pop_back();
    }
    std::size_t n = v_.size();
    for (std::size_t i = 0; i < n; ++i) {
      Vertex& v = v_[i];
      bool inOk = unit(v.in), outOk = unit(v.out);
      if (!inOk && i > 0) {
        v.in = sub(v.p, v_[i - 1].p);
        unit(v.in);
      }
      if (!outOk && i + 1 < n) {
        v.out = sub(v_[i + 1].p, v.p);
        unit(v.out);
      }
    }
    if (line.closed && hasIn_ && n > 1 && !(dot(v_[0].in, v_[0].in) > 0)) {
      v_[0].in = sub(v_[0].p, v_[n - 1].p);
      hasIn_ = unit(v_[0].in);
    }
    return !v_.empty();
  }

  // The same points walked backwards: arrival and departure swap and turn round.
  void reversed(const std::vector<Vertex>& v) {
    rv_.assign(v.rbegin(), v.rend());
    for (Vertex& r : rv_) {
      Point in = r.in;
      r.in = neg(r.out);
      r.out = neg(in);
    }
  }

  Point normal(Point d) const { return {-d.y * hw_, d.x * hw_}; }

  // The left side of the vertices. Open: from the first point's offset to the last one's.
  // Closed: a whole loop with a corner at every vertex.
  void side(const std::vector<Vertex>& v, bool closed, Polygon& c) {
    std::size_t n = v.size();
    if (!closed) c.push_back(add(v[0].p, normal(v[0].out)));
    std::size_t first = closed ? 0 : 1;
    std::size_t end = closed ? n : n - 1;
    for (std::size_t k = first; k < end; ++k) {
      const Vertex& prev = v[(k + n - 1) % n];
      const Vertex& next = v[(k + 1) % n];
      corner(c, v[k], add(prev.p, normal(prev.out)), add(next.p, normal(next.in)));
    }
    if (!closed) c.push_back(add(v[n - 1].p, normal(v[n - 1].in)));
  }

  // Points from centre + from, turning by sweep radians, excluding the start.
  void arc(Polygon& c, Point centre, Point from, double sweep) {
    int steps = static_cast<int>(std::ceil(std::fabs(sweep) / arcStep_ - 1e-9));
    steps = std::max(1, std::min(steps, kMaxArcSteps));
    double step = sweep / steps;
    double cs = std::cos(step), sn = std::sin(step);
    Point r = from;
    for (int i = 0; i < steps; ++i) {
      r = {r.x * cs - r.y * sn, r.x * sn + r.y * cs};
      c.push_back(add(centre, r));
    }
  }

  // The left side at one vertex. edgeStart is where the incoming offset edge begins, edgeEnd
  // where the outgoing one ends.
  void corner(Polygon& c, const Vertex& v, Point edgeStart, Point edgeEnd) {
    Point nIn = normal(v.in), nOut = normal(v.out);
    Point a = add(v.p, nIn);
    Point b = add(v.p, nOut);
    double turn = cross(v.in, v.out);
    double cosine = dot(v.in, v.out);
    if (turn == 0 && cosine > 0) {
      c.push_back(a);
      return;
    }
    if (turn > 0) {
      // Inner side: turn where the offset edges cross; where they do not (segments shorter than
      // the pen), through the vertex, which still fills the corner.
      Point x;
      if (intersect(edgeStart, a, b, edgeEnd, x)) {
        c.push_back(x);
      } else {
        c.push_back(a);
        c.push_back(v.p);
        c.push_back(b);
      }
      return;
    }
    c.push_back(a);
    LineJoin join = v.smooth ? LineJoin::Round : style_.join;
    if (join == LineJoin::Round) {
      double angle = turn == 0 ? -kPi : std::atan2(turn, cosine);  // negative: the corner turns right
      arc(c, v.p, nIn, angle);
      return;
    }
    if (join == LineJoin::Miter) {
      // Miter length / stroke width = 1 / sin(theta / 2) = 1 / sqrt((1 + cos(turn)) / 2).
      double half = (1 + cosine) / 2;
      if (half > 1e-12 && 1 / std::sqrt(half) <= style_.miterLimit) {
        c.push_back(add(v.p, mul(add(nIn, nOut), 1 / (1 + cosine))));
      }
    }
    c.push_back(b);
  }

  // From centre + normal (already in the contour) to centre - normal, round the end facing dir.
  void cap(Polygon& c, Point centre, Point dir) {
    Point n = normal(dir);
    switch (style_.cap) {
      case LineCap::Butt:
        c.push_back(sub(centre, n));
        break;
      case LineCap::Square: {
        Point ext = mul(dir, hw_);
        c.push_back(add(add(centre, n), ext));
        c.push_back(add(sub(centre, n), ext));
        c.push_back(sub(centre, n));
        break;
      }
      case LineCap::Round:
        arc(c, centre, n, -kPi);
        break;
    }
  }

  // A subpath of one point: a round cap draws a disc, a square cap a square, a butt cap nothing.
  void drawDot(Point p, std::vector<Polygon>& out) {
    Polygon c;
    if (style_.cap == LineCap::Round) {
      c.push_back({p.x + hw_, p.y});
      arc(c, p, {hw_, 0}, 2 * kPi);
    } else if (style_.cap == LineCap::Square) {
      c = {{p.x - hw_, p.y - hw_}, {p.x + hw_, p.y - hw_}, {p.x + hw_, p.y + hw_}, {p.x - hw_, p.y + hw_}};
    }
    emit(std::move(c), out);
  }

  void emit(Polygon&& polygon, std::vector<Polygon>& out) {
    if (polygon.size() < 3 || !budget_.take(polygon.size())) return;
    out.push_back(std::move(polygon));
  }

  const StrokeStyle& style_;
  double hw_;
  double arcStep_;
  Budget& budget_;
  std::vector<Vertex> v_;
  std::vector<Vertex> rv_;
  bool hasIn_ = false;
};
}  // namespace

void strokePolylines(const std::vector<Polyline>& lines, const StrokeStyle& style, double tolerance, Budget& budget,
                     std::vector<Polygon>& out) {
  if (!(style.width > 0) || !std::isfinite(style.width) || !(tolerance > 0)) return;
  Stroker stroker(style, tolerance, budget);
  for (const auto& line : lines) {
    if (budget.points == 0) return;
    stroker.stroke(line, out);
  }
}

}  // namespace Detail
}  // namespace Svg
}  // namespace View
}  // namespace Korvath
