#pragma once

// Internal pieces of the SVG renderer: XML reading, value parsing, path geometry, stroking and
// the coverage rasterizer. Nothing here is part of the public interface.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Korvath {
namespace View {
namespace Svg {
namespace Detail {

// ---------------------------------------------------------------------------------------------
// XML

struct XmlElement {
  std::string name;  // local name, any namespace prefix removed
  std::vector<std::pair<std::string, std::string>> attributes;  // local names, decoded values
  std::vector<std::uint32_t> children;                          // indexes into XmlDocument::elements

  const std::string* attribute(std::string_view localName) const;
};

// All elements in document order; elements[0] is the root. Kept flat so that neither building
// nor destroying a deeply nested document recurses.
struct XmlDocument {
  std::vector<XmlElement> elements;
};

// Answers false when the text is not a well-formed XML document with one root element or has
// more than maxElements elements.
bool parseXml(const char* data, std::size_t size, std::size_t maxElements, XmlDocument& out);

// ---------------------------------------------------------------------------------------------
// Geometry

struct Point {
  double x = 0;
  double y = 0;
};

// Affine transform: x' = a x + c y + e, y' = b x + d y + f (the order of SVG's matrix()).
struct Matrix {
  double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;

  Point apply(Point p) const { return {a * p.x + c * p.y + e, b * p.x + d * p.y + f}; }
  // this * o: o is applied first.
  Matrix operator*(const Matrix& o) const;
  bool invert(Matrix& out) const;
  // The largest factor by which the transform stretches a length.
  double maxScale() const;
  bool finite() const;

  static Matrix translate(double tx, double ty) { return {1, 0, 0, 1, tx, ty}; }
  static Matrix scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
  static Matrix rotate(double degrees);
  static Matrix skewX(double degrees);
  static Matrix skewY(double degrees);
};

struct Bounds {
  double minX = 0, minY = 0, maxX = 0, maxY = 0;
  bool empty = true;
  void add(Point p);
};

// A path of move, line and cubic segments (quadratics and arcs are converted when parsed).
class Path {
 public:
  enum class Op : std::uint8_t { Move, Line, Cubic, Close };

  void moveTo(Point p);
  void lineTo(Point p);
  void cubicTo(Point c1, Point c2, Point p);
  void close();
  // Appends an elliptical arc from the current point as SVG's `A` command describes it.
  void arcTo(double rx, double ry, double xAxisRotation, bool largeArc, bool sweep, Point to);

  bool empty() const { return ops_.empty(); }
  Point current() const { return current_; }
  const std::vector<Op>& ops() const { return ops_; }
  const std::vector<Point>& points() const { return points_; }
  // The exact bounds of the geometry (curve extrema, not control points).
  Bounds bounds() const;

 private:
  void ensureStarted();
  std::vector<Op> ops_;
  std::vector<Point> points_;
  Point current_;
  Point start_;
  bool open_ = false;  // a subpath has been started and not closed
};

// Parses SVG path data into path. Answers false at the first error; the segments before it stay.
bool parsePathData(std::string_view text, Path& path);

// A flattened subpath. For stroking it also keeps, per point, the direction in which the path
// arrives and leaves (the true tangent of a curve, not its chord), and marks points inside a
// curve, where a stroke bends without a join.
struct Polyline {
  std::vector<Point> points;
  std::vector<Point> tangentIn;
  std::vector<Point> tangentOut;
  std::vector<std::uint8_t> smooth;
  bool closed = false;
};

// Shared ceiling on the points that one rendering may produce, so that huge documents, scales
// or stroke widths cost bounded time and memory.
struct Budget {
  std::size_t points = 0;
  bool take(std::size_t n) {
    if (n > points) {
      points = 0;
      return false;
    }
    points -= n;
    return true;
  }
};

// Flattens the path through m to straight segments no farther than tolerance from the curve.
// Tangents and smooth marks are filled only when asked for (strokes need them, fills do not).
void flattenPath(const Path& path, const Matrix& m, double tolerance, bool tangents, Budget& budget,
                 std::vector<Polyline>& out);

enum class LineCap : std::uint8_t { Butt, Round, Square };
enum class LineJoin : std::uint8_t { Miter, Round, Bevel };

struct StrokeStyle {
  double width = 1;
  LineCap cap = LineCap::Butt;
  LineJoin join = LineJoin::Miter;
  double miterLimit = 4;
};

using Polygon = std::vector<Point>;

// The outline of the stroke of the polylines, as polygons that fill the stroke under the
// non-zero rule.
void strokePolylines(const std::vector<Polyline>& lines, const StrokeStyle& style, double tolerance, Budget& budget,
                     std::vector<Polygon>& out);

// ---------------------------------------------------------------------------------------------
// Rasterizing and compositing

enum class FillRule : std::uint8_t { NonZero, EvenOdd };

// A premultiplied colour, channels 0..1.
struct Rgba {
  float r = 0, g = 0, b = 0, a = 0;
};

// What a coverage mask is filled with: one colour or a linear gradient evaluated per pixel
// centre as t = tx * x + ty * y + t0 and looked up in a premultiplied table.
struct Paint {
  enum class Spread : std::uint8_t { Pad, Reflect, Repeat };
  bool gradient = false;
  Rgba color;
  std::vector<Rgba> table;
  double tx = 0, ty = 0, t0 = 0;
  Spread spread = Spread::Pad;
};

// A premultiplied BGRA target (a bitmap or a layer).
struct Canvas {
  std::uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  std::size_t stride = 0;
};

// Exact-area coverage rasterizer: every pixel gets the area of it that the polygons cover
// (signed area accumulation), folded by the fill rule, and the paint is composited source-over
// with that coverage.
class Rasterizer {
 public:
  void fill(const Canvas& canvas, const std::vector<Polygon>& polygons, FillRule rule, const Paint& paint,
            std::size_t& pixelBudget);

 private:
  void addLine(double ax, double ay, double bx, double by);
  void accumulate(double ax, double ay, double bx, double by);
  int x0_ = 0, y0_ = 0, w_ = 0, h_ = 0;
  std::vector<float> cells_;
  std::vector<int> rowMin_, rowMax_;
  std::vector<std::uint8_t> cover_;
  std::vector<std::array<std::uint8_t, 4>> table_;
};

// Source-over of a whole layer onto a canvas of the same size, scaled by opacity.
void compositeLayer(const Canvas& dst, const Canvas& layer, float opacity);

// ---------------------------------------------------------------------------------------------
// Values

constexpr double kPi = 3.14159265358979323846;

// Whitespace as SVG and XML know it.
inline bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
std::string_view trim(std::string_view s);
// Reads one number (sign, digits, fraction, exponent) at p; answers false when none is there.
bool readNumber(const char*& p, const char* end, double& out);
// Skips whitespace and at most one comma.
void skipCommaSpace(const char*& p, const char* end);
bool parseNumberList(std::string_view text, std::vector<double>& out);
// A whole value that is a number or a percentage (answered divided by 100).
bool parseNumberOrPercent(std::string_view text, double& out);
bool equalsIgnoreCase(std::string_view a, std::string_view b);
// Non-premultiplied colour, channels 0..255 and alpha 0..1.
struct Color {
  std::uint8_t r = 0, g = 0, b = 0;
  float alpha = 1;
};
bool parseColor(std::string_view text, Color& out);
bool parseTransform(std::string_view text, Matrix& out);

}  // namespace Detail
}  // namespace Svg
}  // namespace View
}  // namespace Korvath
