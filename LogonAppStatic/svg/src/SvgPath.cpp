// Path data: parsing every SVG path command into moves, lines and cubics, exact bounds, and
// flattening into polylines.

#include <algorithm>
#include <cmath>

#include "SvgCore.h"

namespace Korvath {
namespace View {
namespace Svg {
namespace Detail {

namespace {
// Upper bound on the segments one curve is cut into, whatever its size on screen.
constexpr int kMaxCurveSegments = 512;

Point lerp(Point a, Point b, double t) { return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t}; }

Point cubicAt(Point p0, Point p1, Point p2, Point p3, double t) {
  double u = 1 - t;
  double b0 = u * u * u, b1 = 3 * u * u * t, b2 = 3 * u * t * t, b3 = t * t * t;
  return {b0 * p0.x + b1 * p1.x + b2 * p2.x + b3 * p3.x, b0 * p0.y + b1 * p1.y + b2 * p2.y + b3 * p3.y};
}

// Parameters in (0, 1) where one coordinate of a cubic has an extremum.
int cubicExtrema(double p0, double p1, double p2, double p3, double t[2]) {
  double a = -p0 + 3 * p1 - 3 * p2 + p3;
  double b = 2 * (p0 - 2 * p1 + p2);
  double c = p1 - p0;
  int n = 0;
  auto keep = [&](double v) {
    if (v > 0 && v < 1) t[n++] = v;
  };
  if (std::fabs(a) < 1e-12) {
    if (std::fabs(b) > 1e-12) keep(-c / b);
    return n;
  }
  double disc = b * b - 4 * a * c;
  if (disc < 0) return 0;
  double s = std::sqrt(disc);
  keep((-b + s) / (2 * a));
  keep((-b - s) / (2 * a));
  return n;
}
}  // namespace

void Bounds::add(Point p) {
  if (empty) {
    minX = maxX = p.x;
    minY = maxY = p.y;
    empty = false;
    return;
  }
  minX = std::min(minX, p.x);
  maxX = std::max(maxX, p.x);
  minY = std::min(minY, p.y);
  maxY = std::max(maxY, p.y);
}

// ---------------------------------------------------------------------------------------------
// Path building

void Path::ensureStarted() {
  // A drawing command after a close (or first in a path) starts a subpath at the current point.
  if (!open_) moveTo(current_);
}

void Path::moveTo(Point p) {
  if (!ops_.empty() && ops_.back() == Op::Move) {
    points_.back() = p;  // consecutive moves: only the last one starts a subpath
  } else {
    ops_.push_back(Op::Move);
    points_.push_back(p);
  }
  current_ = start_ = p;
  open_ = true;
}

void Path::lineTo(Point p) {
  ensureStarted();
  ops_.push_back(Op::Line);
  points_.push_back(p);
  current_ = p;
}

void Path::cubicTo(Point c1, Point c2, Point p) {
  ensureStarted();
  ops_.push_back(Op::Cubic);
  points_.push_back(c1);
  points_.push_back(c2);
  points_.push_back(p);
  current_ = p;
}

void Path::close() {
  if (!open_) return;
  ops_.push_back(Op::Close);
  current_ = start_;
  open_ = false;
}

void Path::arcTo(double rx, double ry, double xAxisRotation, bool largeArc, bool sweep, Point to) {
  // Endpoint to centre parameterization, with out-of-range radii corrected, as the SVG
  // implementation notes describe; then one cubic per quarter turn at most.
  Point from = current_;
  if (from.x == to.x && from.y == to.y) return;
  rx = std::fabs(rx);
  ry = std::fabs(ry);
  if (rx == 0 || ry == 0) {
    lineTo(to);
    return;
  }
  double phi = std::fmod(xAxisRotation, 360.0) * kPi / 180.0;
  double cs = std::cos(phi), sn = std::sin(phi);
  double dx = (from.x - to.x) / 2, dy = (from.y - to.y) / 2;
  double x1 = cs * dx + sn * dy;
  double y1 = -sn * dx + cs * dy;
  double lambda = (x1 * x1) / (rx * rx) + (y1 * y1) / (ry * ry);
  if (lambda > 1) {
    double s = std::sqrt(lambda);
    rx *= s;
    ry *= s;
  }
  double rx2 = rx * rx, ry2 = ry * ry;
  double num = rx2 * ry2 - rx2 * y1 * y1 - ry2 * x1 * x1;
  double den = rx2 * y1 * y1 + ry2 * x1 * x1;
  double coef = (den > 0 && num > 0) ? std::sqrt(num / den) : 0;
  if (largeArc == sweep) coef = -coef;
  double cx1 = coef * rx * y1 / ry;
  double cy1 = -coef * ry * x1 / rx;
  double cx = cs * cx1 - sn * cy1 + (from.x + to.x) / 2;
  double cy = sn * cx1 + cs * cy1 + (from.y + to.y) / 2;
  double theta1 = std::atan2((y1 - cy1) / ry, (x1 - cx1) / rx);
  double theta2 = std::atan2((-y1 - cy1) / ry, (-x1 - cx1) / rx);
  double delta = theta2 - theta1;
  if (sweep && delta < 0) delta += 2 * kPi;
  if (!sweep && delta > 0) delta -= 2 * kPi;
  if (!std::isfinite(delta) || !std::isfinite(cx) || !std::isfinite(cy)) {
    lineTo(to);
    return;
  }
  int pieces = std::max(1, static_cast<int>(std::ceil(std::fabs(delta) / (kPi / 2) - 1e-7)));
  double step = delta / pieces;
  double k = 4.0 / 3.0 * std::tan(step / 4);
  auto onEllipse = [&](double t, double& ox, double& oy, double& tx, double& ty) {
    double ct = std::cos(t), st = std::sin(t);
    ox = cx + rx * ct * cs - ry * st * sn;
    oy = cy + rx * ct * sn + ry * st * cs;
    tx = -rx * st * cs - ry * ct * sn;  // derivative
    ty = -rx * st * sn + ry * ct * cs;
  };
  double t = theta1;
  double px, py, tx, ty;
  onEllipse(t, px, py, tx, ty);
  for (int i = 0; i < pieces; ++i) {
    double t2 = t + step;
    double qx, qy, ux, uy;
    onEllipse(t2, qx, qy, ux, uy);
    Point end = (i == pieces - 1) ? to : Point{qx, qy};
    cubicTo({px + k * tx, py + k * ty}, {qx - k * ux, qy - k * uy}, end);
    t = t2;
    px = qx;
    py = qy;
    tx = ux;
    ty = uy;
  }
}

Bounds Path::bounds() const {
  Bounds b;
  std::size_t i = 0;
  Point last;
  for (Op op : ops_) {
    switch (op) {
      case Op::Move:
      case Op::Line:
        last = points_[i++];
        b.add(last);
        break;
      case Op::Cubic: {
        Point p1 = points_[i], p2 = points_[i + 1], p3 = points_[i + 2];
        i += 3;
        b.add(p3);
        double t[2];
        int n = cubicExtrema(last.x, p1.x, p2.x, p3.x, t);
        for (int k = 0; k < n; ++k) b.add(cubicAt(last, p1, p2, p3, t[k]));
        n = cubicExtrema(last.y, p1.y, p2.y, p3.y, t);
        for (int k = 0; k < n; ++k) b.add(cubicAt(last, p1, p2, p3, t[k]));
        last = p3;
        break;
      }
      case Op::Close:
        break;
    }
  }
  return b;
}

// ---------------------------------------------------------------------------------------------
// Path data

namespace {
bool readFlag(const char*& p, const char* end, bool& out) {
  // Arc flags are single characters and need no separator ("a1 1 0 00 10 10").
  while (p < end && isSpace(*p)) ++p;
  if (p >= end || (*p != '0' && *p != '1')) return false;
  out = *p++ == '1';
  skipCommaSpace(p, end);
  return true;
}

int argumentCount(char cmd) {
  switch (cmd) {
    case 'M': case 'm': case 'L': case 'l': case 'T': case 't': return 2;
    case 'H': case 'h': case 'V': case 'v': return 1;
    case 'C': case 'c': return 6;
    case 'S': case 's': case 'Q': case 'q': return 4;
    case 'A': case 'a': return 7;
    case 'Z': case 'z': return 0;
    default: return -1;
  }
}
}  // namespace

bool parsePathData(std::string_view text, Path& path) {
  const char* p = text.data();
  const char* end = p + text.size();
  char cmd = 0;
  Point lastControl;  // reflected by S/s (cubic) or T/t (quadratic)
  char lastCmd = 0;
  bool first = true;
  while (p < end && isSpace(*p)) ++p;
  while (p < end) {
    char c = *p;
    if (argumentCount(c) >= 0) {
      cmd = c;
      ++p;
      skipCommaSpace(p, end);
    } else if (cmd == 0 || cmd == 'z' || cmd == 'Z') {
      return false;  // numbers without a command, or after a close
    }
    if (first && cmd != 'M' && cmd != 'm') return false;  // path data begins with a move
    first = false;
    double v[7] = {0, 0, 0, 0, 0, 0, 0};
    bool large = false, sweep = false;
    int count = argumentCount(cmd);
    for (int i = 0; i < count; ++i) {
      if ((cmd == 'A' || cmd == 'a') && (i == 3 || i == 4)) {
        if (!readFlag(p, end, i == 3 ? large : sweep)) return false;
        continue;
      }
      while (p < end && isSpace(*p)) ++p;
      if (!readNumber(p, end, v[i])) return false;
      skipCommaSpace(p, end);
    }
    Point cur = path.current();
    bool relative = cmd >= 'a' && cmd <= 'z';
    double ox = relative ? cur.x : 0, oy = relative ? cur.y : 0;
    switch (cmd) {
      case 'M':
      case 'm':
        path.moveTo({ox + v[0], oy + v[1]});
        cmd = relative ? 'l' : 'L';  // further pairs are implicit lines
        break;
      case 'L':
      case 'l':
        path.lineTo({ox + v[0], oy + v[1]});
        break;
      case 'H':
      case 'h':
        path.lineTo({ox + v[0], cur.y});
        break;
      case 'V':
      case 'v':
        path.lineTo({cur.x, oy + v[0]});
        break;
      case 'C':
      case 'c':
        lastControl = {ox + v[2], oy + v[3]};
        path.cubicTo({ox + v[0], oy + v[1]}, lastControl, {ox + v[4], oy + v[5]});
        break;
      case 'S':
      case 's': {
        bool follows = lastCmd == 'C' || lastCmd == 'c' || lastCmd == 'S' || lastCmd == 's';
        Point c1 = follows ? Point{2 * cur.x - lastControl.x, 2 * cur.y - lastControl.y} : cur;
        lastControl = {ox + v[0], oy + v[1]};
        path.cubicTo(c1, lastControl, {ox + v[2], oy + v[3]});
        break;
      }
      case 'Q':
      case 'q':
      case 'T':
      case 't': {
        Point q;
        Point to;
        if (cmd == 'Q' || cmd == 'q') {
          q = {ox + v[0], oy + v[1]};
          to = {ox + v[2], oy + v[3]};
        } else {
          bool follows = lastCmd == 'Q' || lastCmd == 'q' || lastCmd == 'T' || lastCmd == 't';
          q = follows ? Point{2 * cur.x - lastControl.x, 2 * cur.y - lastControl.y} : cur;
          to = {ox + v[0], oy + v[1]};
        }
        lastControl = q;
        path.cubicTo(lerp(cur, q, 2.0 / 3.0), lerp(to, q, 2.0 / 3.0), to);
        break;
      }
      case 'A':
      case 'a':
        path.arcTo(v[0], v[1], v[2], large, sweep, {ox + v[5], oy + v[6]});
        break;
      case 'Z':
      case 'z':
        path.close();
        break;
      default:
        return false;
    }
    lastCmd = cmd;
    while (p < end && isSpace(*p)) ++p;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Flattening

void flattenPath(const Path& path, const Matrix& m, double tolerance, bool tangents, Budget& budget,
                 std::vector<Polyline>& out) {
  const auto& ops = path.ops();
  const auto& pts = path.points();
  std::size_t i = 0;
  Polyline* line = nullptr;
  Point last;
  auto push = [&](Point p, Point in, Point outDir, bool smooth) {
    line->points.push_back(p);
    if (tangents) {
      line->tangentIn.push_back(in);
      line->tangentOut.push_back(outDir);
      line->smooth.push_back(smooth ? 1 : 0);
    }
  };
  // The direction in which the last point is left.
  auto setOut = [&](Point d) {
    if (tangents) line->tangentOut.back() = d;
  };
  for (Path::Op op : ops) {
    switch (op) {
      case Path::Op::Move:
        last = m.apply(pts[i++]);
        if (!budget.take(1)) return;
        out.emplace_back();
        line = &out.back();
        push(last, {}, {}, false);
        break;
      case Path::Op::Line: {
        if (!line || !budget.take(1)) return;
        Point p = m.apply(pts[i++]);
        Point d{p.x - last.x, p.y - last.y};
        setOut(d);
        push(p, d, {}, false);
        last = p;
        break;
      }
      case Path::Op::Cubic: {
        if (!line) return;
        Point p1 = m.apply(pts[i]), p2 = m.apply(pts[i + 1]), p3 = m.apply(pts[i + 2]);
        i += 3;
        // Wang's bound: n segments keep every chord within tolerance of the curve.
        double ddx = std::max(std::fabs(last.x - 2 * p1.x + p2.x), std::fabs(p1.x - 2 * p2.x + p3.x));
        double ddy = std::max(std::fabs(last.y - 2 * p1.y + p2.y), std::fabs(p1.y - 2 * p2.y + p3.y));
        double dd = std::sqrt(ddx * ddx + ddy * ddy);
        double nf = std::ceil(std::sqrt(0.75 * dd / tolerance));
        int n = (std::isfinite(nf) && nf >= 1) ? static_cast<int>(std::min<double>(nf, kMaxCurveSegments)) : 1;
        if (!budget.take(static_cast<std::size_t>(n))) n = 1;
        Point p0 = last;
        // Derivative at t (up to a factor of 3); where control points coincide with an end the
        // direction comes from the next distinct point.
        auto tangentAt = [&](double t) {
          double u = 1 - t;
          Point d{u * u * (p1.x - p0.x) + 2 * u * t * (p2.x - p1.x) + t * t * (p3.x - p2.x),
                  u * u * (p1.y - p0.y) + 2 * u * t * (p2.y - p1.y) + t * t * (p3.y - p2.y)};
          if (d.x == 0 && d.y == 0) d = t < 0.5 ? Point{p2.x - p0.x, p2.y - p0.y} : Point{p3.x - p1.x, p3.y - p1.y};
          if (d.x == 0 && d.y == 0) d = {p3.x - p0.x, p3.y - p0.y};
          return d;
        };
        if (tangents) setOut(tangentAt(0));
        for (int k = 1; k < n; ++k) {
          double t = static_cast<double>(k) / n;
          Point d = tangents ? tangentAt(t) : Point{};
          push(cubicAt(p0, p1, p2, p3, t), d, d, true);
        }
        push(p3, tangents ? tangentAt(1) : Point{}, {}, false);
        last = p3;
        break;
      }
      case Path::Op::Close:
        if (line) {
          line->closed = true;
          last = line->points.front();
          line = nullptr;
        }
        break;
    }
  }
}

}  // namespace Detail
}  // namespace Svg
}  // namespace View
}  // namespace Korvath
