// The document: styles and shapes read from the XML into a flat render tree at load, drawn
// by walking that tree for each requested size.

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "Korvath/View/Svg.h"
#include "SvgCore.h"

namespace Korvath {
namespace View {
namespace Svg {

using namespace Detail;

bool Bitmap::valid() const {
  return width != 0 && height != 0 && stride == 4 * width &&
         pixels.size() == static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
}

namespace {

// Curves are cut into chords no farther than this from the true curve, in pixels. With exact
// area coverage a chord's distance from the curve shows directly as missing coverage in edge
// pixels (0.1 px would be 10 %), so the tolerance is well below what sampling renderers use.
constexpr double kTolerance = 0.02;
// Elements nested deeper than this are not drawn.
constexpr int kMaxDepth = 128;
// Group-opacity layers (each the size of the bitmap) nest at most this deep; deeper opacities
// multiply into the paint.
constexpr int kMaxLayers = 4;
// Points that one rendering may produce, and pixels it may composite per bitmap pixel.
constexpr std::size_t kPointBudget = 1u << 21;
constexpr std::size_t kPixelsPerBitmapPixel = 1024;
// Colours of a gradient's lookup table.
constexpr std::size_t kGradientTableSize = 1024;
// Links followed from one gradient to the one it inherits from.
constexpr int kMaxGradientLinks = 16;

struct PaintSpec {
  enum class Kind : std::uint8_t { None, Color, CurrentColor, Gradient };
  Kind kind = Kind::None;
  Color color;
  int gradient = -1;
};

struct Style {
  // Inherited properties.
  PaintSpec fill{PaintSpec::Kind::Color, Color{}, -1};
  PaintSpec stroke;
  float fillOpacity = 1;
  float strokeOpacity = 1;
  FillRule fillRule = FillRule::NonZero;
  StrokeStyle pen;
  Color color;
  bool visible = true;
  // Properties that are not inherited.
  float opacity = 1;
  bool display = true;
  Color stopColor;
  float stopOpacity = 1;

  void resetUninherited() {
    opacity = 1;
    display = true;
    stopColor = Color{};
    stopOpacity = 1;
  }
};

struct Gradient {
  bool userSpace = false;
  Matrix transform;
  Paint::Spread spread = Paint::Spread::Pad;
  double x1 = 0, y1 = 0, x2 = 1, y2 = 0;
  std::vector<std::pair<double, Color>> stops;  // stop-opacity folded into the colour's alpha
};

struct Node {
  bool group = false;
  Matrix transform;
  Style style;
  Path path;
  std::vector<std::uint32_t> children;
};

struct Viewport {
  double x = 0, y = 0, width = 0, height = 0;
};

enum class Align : std::uint8_t { Min, Mid, Max };

struct AspectRatio {
  bool none = false;
  bool slice = false;
  Align x = Align::Mid, y = Align::Mid;
};

}  // namespace

struct Document::Impl {
  XmlDocument xml;
  std::vector<Node> nodes;  // nodes[0] is the root group
  std::vector<Gradient> gradients;
  std::unordered_map<std::string, std::uint32_t> ids;        // id -> element
  std::unordered_map<std::uint32_t, int> gradientOfElement;  // element -> gradients index, -1 unsupported
  bool hasViewBox = false;
  Viewport viewBox;
  double docWidth = 0, docHeight = 0;
  AspectRatio aspect;
  double percentWidth = 100, percentHeight = 100;  // what 100% of a length means

  // ---- load ----

  bool load();
  void buildNode(std::uint32_t element, const Style& parentStyle, int depth, std::uint32_t parentNode);
  // stopOnly reads only what a gradient stop uses, so that reading stops never resolves paints.
  Style computeStyle(const XmlElement& e, const Style& parent, bool stopOnly = false);
  void applyProperty(Style& s, const Style& parent, std::string_view name, std::string_view value);
  bool parsePaint(std::string_view value, PaintSpec& out);
  int resolveGradient(std::uint32_t element);
  bool length(const XmlElement& e, const char* name, int axis, double& out) const;
  bool parseLength(std::string_view text, int axis, double& out) const;
  bool buildShape(const XmlElement& e, Path& path) const;

  // ---- render ----

  struct Context {
    Budget budget;
    std::size_t pixelBudget = 0;
    Rasterizer raster;
    std::vector<Polyline> lines;
    std::vector<Polygon> polygons;
    int layers = 0;
  };
  void draw(std::uint32_t index, const Matrix& parent, const Canvas& canvas, float alpha, int depth,
            Context& ctx) const;
  void drawShape(const Node& node, const Matrix& m, const Canvas& canvas, float alpha, Context& ctx) const;
  bool makePaint(const PaintSpec& spec, float opacity, const Style& style, const Matrix& m, const Path& path,
                 Paint& out) const;
  template <typename F>
  void withLayer(const Canvas& canvas, float opacity, Context& ctx, F drawInto) const;
};

// ---------------------------------------------------------------------------------------------
// Values with units

bool Document::Impl::parseLength(std::string_view text, int axis, double& out) const {
  text = trim(text);
  const char* p = text.data();
  const char* end = p + text.size();
  double v;
  if (!readNumber(p, end, v)) return false;
  std::string_view unit(p, static_cast<std::size_t>(end - p));
  double scale;
  if (unit.empty() || unit == "px") {
    scale = 1;
  } else if (unit == "%") {
    double base = axis == 0   ? percentWidth
                  : axis == 1 ? percentHeight
                              : std::sqrt((percentWidth * percentWidth + percentHeight * percentHeight) / 2);
    scale = base / 100;
  } else if (unit == "pt") {
    scale = 96.0 / 72.0;
  } else if (unit == "pc") {
    scale = 16;
  } else if (unit == "in") {
    scale = 96;
  } else if (unit == "cm") {
    scale = 96 / 2.54;
  } else if (unit == "mm") {
    scale = 96 / 25.4;
  } else if (unit == "em") {
    scale = 16;  // no fonts: the initial font size
  } else if (unit == "ex") {
    scale = 8;
  } else {
    return false;
  }
  out = v * scale;
  return true;
}

bool Document::Impl::length(const XmlElement& e, const char* name, int axis, double& out) const {
  const std::string* value = e.attribute(name);
  return value && parseLength(*value, axis, out);
}

namespace {
bool parseOpacity(std::string_view text, float& out) {
  double v;
  if (!parseNumberOrPercent(text, v)) return false;
  out = static_cast<float>(std::max(0.0, std::min(1.0, v)));
  return true;
}

bool parseAspectRatio(std::string_view text, AspectRatio& out) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && isSpace(text[i])) ++i;
    std::size_t s = i;
    while (i < text.size() && !isSpace(text[i])) ++i;
    if (i > s) words.push_back(text.substr(s, i - s));
  }
  if (!words.empty() && words[0] == "defer") words.erase(words.begin());
  if (words.empty() || words.size() > 2) return false;
  AspectRatio r;
  if (words[0] == "none") {
    r.none = true;
  } else {
    if (words[0].size() != 8 || words[0][0] != 'x' || words[0][4] != 'Y') return false;
    auto align = [](std::string_view a, Align& o) {
      if (a == "Min") o = Align::Min;
      else if (a == "Mid") o = Align::Mid;
      else if (a == "Max") o = Align::Max;
      else return false;
      return true;
    };
    if (!align(words[0].substr(1, 3), r.x) || !align(words[0].substr(5, 3), r.y)) return false;
  }
  if (words.size() == 2) {
    if (words[1] == "slice") r.slice = true;
    else if (words[1] != "meet") return false;
  }
  out = r;
  return true;
}
}  // namespace

// ---------------------------------------------------------------------------------------------
// Styles

bool Document::Impl::parsePaint(std::string_view value, PaintSpec& out) {
  value = trim(value);
  if (value == "none") {
    out = PaintSpec{};
    return true;
  }
  if (equalsIgnoreCase(value, "currentColor")) {
    out = PaintSpec{PaintSpec::Kind::CurrentColor, Color{}, -1};
    return true;
  }
  if (value.size() > 4 && value.substr(0, 4) == "url(") {
    std::size_t close = value.find(')');
    if (close == std::string_view::npos) return false;
    std::string_view ref = trim(value.substr(4, close - 4));
    if (ref.size() >= 2 && (ref.front() == '\'' || ref.front() == '"') && ref.back() == ref.front()) {
      ref = ref.substr(1, ref.size() - 2);
    }
    std::string_view fallback = trim(value.substr(close + 1));
    int gradient = -1;
    if (!ref.empty() && ref[0] == '#') {
      auto it = ids.find(std::string(ref.substr(1)));
      if (it != ids.end()) gradient = resolveGradient(it->second);
    }
    if (gradient >= 0) {
      out = PaintSpec{PaintSpec::Kind::Gradient, Color{}, gradient};
      return true;
    }
    // A missing or unsupported paint server: the fallback colour, else nothing.
    if (!fallback.empty() && parsePaint(fallback, out) && out.kind != PaintSpec::Kind::Gradient) return true;
    out = PaintSpec{};
    return true;
  }
  Color c;
  if (!parseColor(value, c)) return false;
  out = PaintSpec{PaintSpec::Kind::Color, c, -1};
  return true;
}

void Document::Impl::applyProperty(Style& s, const Style& parent, std::string_view name, std::string_view value) {
  value = trim(value);
  if (value.size() > 10 && value.substr(value.size() - 10) == "!important") value = trim(value.substr(0, value.size() - 10));
  bool inherit = value == "inherit";
  float f;
  double d;
  if (name == "fill") {
    if (inherit) s.fill = parent.fill;
    else parsePaint(value, s.fill);
  } else if (name == "stroke") {
    if (inherit) s.stroke = parent.stroke;
    else parsePaint(value, s.stroke);
  } else if (name == "fill-opacity") {
    if (inherit) s.fillOpacity = parent.fillOpacity;
    else if (parseOpacity(value, f)) s.fillOpacity = f;
  } else if (name == "stroke-opacity") {
    if (inherit) s.strokeOpacity = parent.strokeOpacity;
    else if (parseOpacity(value, f)) s.strokeOpacity = f;
  } else if (name == "opacity") {
    if (inherit) s.opacity = parent.opacity;
    else if (parseOpacity(value, f)) s.opacity = f;
  } else if (name == "fill-rule") {
    if (inherit) s.fillRule = parent.fillRule;
    else if (value == "nonzero") s.fillRule = FillRule::NonZero;
    else if (value == "evenodd") s.fillRule = FillRule::EvenOdd;
  } else if (name == "stroke-width") {
    if (inherit) s.pen.width = parent.pen.width;
    else if (parseLength(value, 2, d) && d >= 0) s.pen.width = d;
  } else if (name == "stroke-linecap") {
    if (inherit) s.pen.cap = parent.pen.cap;
    else if (value == "butt") s.pen.cap = LineCap::Butt;
    else if (value == "round") s.pen.cap = LineCap::Round;
    else if (value == "square") s.pen.cap = LineCap::Square;
  } else if (name == "stroke-linejoin") {
    if (inherit) s.pen.join = parent.pen.join;
    else if (value == "miter") s.pen.join = LineJoin::Miter;
    else if (value == "round") s.pen.join = LineJoin::Round;
    else if (value == "bevel") s.pen.join = LineJoin::Bevel;
  } else if (name == "stroke-miterlimit") {
    const char* p = value.data();
    if (inherit) s.pen.miterLimit = parent.pen.miterLimit;
    else if (readNumber(p, value.data() + value.size(), d) && p == value.data() + value.size() && d >= 1)
      s.pen.miterLimit = d;
  } else if (name == "color") {
    Color c;
    if (inherit) s.color = parent.color;
    else if (parseColor(value, c)) s.color = c;
  } else if (name == "display") {
    s.display = inherit ? parent.display : value != "none";
  } else if (name == "visibility") {
    if (inherit) s.visible = parent.visible;
    else if (value == "visible") s.visible = true;
    else if (value == "hidden" || value == "collapse") s.visible = false;
  } else if (name == "stop-color") {
    Color c;
    if (inherit) s.stopColor = parent.stopColor;
    else if (equalsIgnoreCase(value, "currentColor")) s.stopColor = s.color;
    else if (parseColor(value, c)) s.stopColor = c;
  } else if (name == "stop-opacity") {
    if (inherit) s.stopOpacity = parent.stopOpacity;
    else if (parseOpacity(value, f)) s.stopOpacity = f;
  }
}

Style Document::Impl::computeStyle(const XmlElement& e, const Style& parent, bool stopOnly) {
  Style s = parent;
  s.resetUninherited();
  auto apply = [&](std::string_view name, std::string_view value) {
    if (!stopOnly || name == "stop-color" || name == "stop-opacity" || name == "color") {
      applyProperty(s, parent, name, value);
    }
  };
  // color first, so that currentColor in the other attributes sees this element's colour.
  if (const std::string* c = e.attribute("color")) apply("color", *c);
  for (const auto& a : e.attributes) {
    if (a.first != "style" && a.first != "color") apply(a.first, a.second);
  }
  // The style attribute outranks presentation attributes.
  if (const std::string* style = e.attribute("style")) {
    std::string_view rest(*style);
    while (!rest.empty()) {
      std::size_t semi = rest.find(';');
      std::string_view decl = rest.substr(0, semi);
      rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
      std::size_t colon = decl.find(':');
      if (colon == std::string_view::npos) continue;
      apply(trim(decl.substr(0, colon)), decl.substr(colon + 1));
    }
  }
  return s;
}

// ---------------------------------------------------------------------------------------------
// Gradients

int Document::Impl::resolveGradient(std::uint32_t element) {
  auto known = gradientOfElement.find(element);
  if (known != gradientOfElement.end()) return known->second;
  gradientOfElement[element] = -1;  // also guards against a paint that refers to its own gradient
  // The chain of gradients this one inherits attributes and stops from, itself first.
  std::vector<const XmlElement*> chain;
  std::uint32_t current = element;
  for (int i = 0; i < kMaxGradientLinks; ++i) {
    const XmlElement& e = xml.elements[current];
    if (e.name != "linearGradient" && e.name != "radialGradient") break;
    if (std::find(chain.begin(), chain.end(), &e) != chain.end()) break;
    chain.push_back(&e);
    const std::string* href = e.attribute("href");
    if (!href || href->empty() || (*href)[0] != '#') break;
    auto it = ids.find(href->substr(1));
    if (it == ids.end()) break;
    current = it->second;
  }
  // Radial gradients are not supported: a paint that uses one is not drawn.
  if (chain.empty() || chain[0]->name != "linearGradient") return -1;
  auto find = [&](const char* name) -> const std::string* {
    for (const XmlElement* e : chain) {
      if (const std::string* v = e->attribute(name)) return v;
    }
    return nullptr;
  };
  Gradient g;
  if (const std::string* units = find("gradientUnits")) g.userSpace = trim(*units) == "userSpaceOnUse";
  if (const std::string* t = find("gradientTransform")) {
    Matrix m;
    if (parseTransform(*t, m)) g.transform = m;
  }
  if (const std::string* spread = find("spreadMethod")) {
    std::string_view v = trim(*spread);
    if (v == "reflect") g.spread = Paint::Spread::Reflect;
    else if (v == "repeat") g.spread = Paint::Spread::Repeat;
  }
  auto coordinate = [&](const char* name, int axis, double fallback) {
    const std::string* v = find(name);
    double out = fallback;
    if (!v) return out;
    if (g.userSpace) {
      if (!parseLength(*v, axis, out)) out = fallback;
      return out;
    }
    // Bounding-box units: a plain fraction or a percentage of the box.
    return parseNumberOrPercent(*v, out) ? out : fallback;
  };
  g.x1 = coordinate("x1", 0, 0);
  g.y1 = coordinate("y1", 1, 0);
  g.x2 = coordinate("x2", 0, g.userSpace ? percentWidth : 1);
  g.y2 = coordinate("y2", 1, 0);
  for (const XmlElement* e : chain) {
    double last = 0;
    Style base;
    for (std::uint32_t child : e->children) {
      const XmlElement& stop = xml.elements[child];
      if (stop.name != "stop") continue;
      double offset = 0;
      const std::string* o = stop.attribute("offset");
      if (!o || !parseNumberOrPercent(*o, offset)) offset = 0;
      offset = std::max(last, std::min(1.0, std::max(0.0, offset)));
      last = offset;
      Style s = computeStyle(stop, base, true);
      Color c = s.stopColor;
      c.alpha *= s.stopOpacity;
      g.stops.emplace_back(offset, c);
    }
    if (!g.stops.empty()) break;
  }
  gradients.push_back(std::move(g));
  int index = static_cast<int>(gradients.size() - 1);
  gradientOfElement[element] = index;
  return index;
}

// ---------------------------------------------------------------------------------------------
// Shapes

bool Document::Impl::buildShape(const XmlElement& e, Path& path) const {
  const std::string& name = e.name;
  double x = 0, y = 0;
  if (name == "path") {
    if (const std::string* d = e.attribute("d")) parsePathData(*d, path);  // drawn up to an error
    return true;
  }
  if (name == "rect") {
    double w = 0, h = 0, rx = -1, ry = -1;
    length(e, "x", 0, x);
    length(e, "y", 1, y);
    if (!length(e, "width", 0, w) || !length(e, "height", 1, h) || !(w > 0) || !(h > 0)) return true;
    bool hasRx = length(e, "rx", 0, rx) && rx >= 0;
    bool hasRy = length(e, "ry", 1, ry) && ry >= 0;
    if (!hasRx) rx = hasRy ? ry : 0;
    if (!hasRy) ry = hasRx ? rx : 0;
    rx = std::min(rx, w / 2);
    ry = std::min(ry, h / 2);
    if (rx <= 0 || ry <= 0) {
      path.moveTo({x, y});
      path.lineTo({x + w, y});
      path.lineTo({x + w, y + h});
      path.lineTo({x, y + h});
      path.close();
      return true;
    }
    path.moveTo({x + rx, y});
    path.lineTo({x + w - rx, y});
    path.arcTo(rx, ry, 0, false, true, {x + w, y + ry});
    path.lineTo({x + w, y + h - ry});
    path.arcTo(rx, ry, 0, false, true, {x + w - rx, y + h});
    path.lineTo({x + rx, y + h});
    path.arcTo(rx, ry, 0, false, true, {x, y + h - ry});
    path.lineTo({x, y + ry});
    path.arcTo(rx, ry, 0, false, true, {x + rx, y});
    path.close();
    return true;
  }
  if (name == "circle" || name == "ellipse") {
    double rx = 0, ry = 0;
    length(e, "cx", 0, x);
    length(e, "cy", 1, y);
    if (name == "circle") {
      if (!length(e, "r", 2, rx)) return true;
      ry = rx;
    } else if (!length(e, "rx", 0, rx) || !length(e, "ry", 1, ry)) {
      return true;
    }
    if (!(rx > 0) || !(ry > 0)) return true;
    path.moveTo({x + rx, y});
    path.arcTo(rx, ry, 0, false, true, {x, y + ry});
    path.arcTo(rx, ry, 0, false, true, {x - rx, y});
    path.arcTo(rx, ry, 0, false, true, {x, y - ry});
    path.arcTo(rx, ry, 0, false, true, {x + rx, y});
    path.close();
    return true;
  }
  if (name == "line") {
    double x2 = 0, y2 = 0;
    length(e, "x1", 0, x);
    length(e, "y1", 1, y);
    length(e, "x2", 0, x2);
    length(e, "y2", 1, y2);
    path.moveTo({x, y});
    path.lineTo({x2, y2});
    return true;
  }
  if (name == "polyline" || name == "polygon") {
    std::vector<double> v;
    const std::string* points = e.attribute("points");
    if (!points) return true;
    parseNumberList(*points, v);  // drawn up to an error
    if (v.size() < 4) return true;
    path.moveTo({v[0], v[1]});
    for (std::size_t i = 2; i + 1 < v.size(); i += 2) path.lineTo({v[i], v[i + 1]});
    if (name == "polygon") path.close();
    return true;
  }
  return false;
}

void Document::Impl::buildNode(std::uint32_t element, const Style& parentStyle, int depth, std::uint32_t parentNode) {
  if (depth > kMaxDepth) return;
  const XmlElement& e = xml.elements[element];
  bool group = element == 0 || e.name == "g" || e.name == "a";
  Node node;
  if (!group) {
    if (!buildShape(e, node.path)) return;  // not drawn: unknown or unsupported element
  }
  node.group = group;
  node.style = computeStyle(e, parentStyle);
  if (element != 0) {
    if (const std::string* t = e.attribute("transform")) {
      Matrix m;
      if (parseTransform(*t, m)) node.transform = m;
    }
  }
  std::uint32_t index = static_cast<std::uint32_t>(nodes.size());
  if (index != 0) nodes[parentNode].children.push_back(index);
  nodes.push_back(std::move(node));
  if (!group) return;
  Style style = nodes[index].style;
  for (std::uint32_t child : e.children) buildNode(child, style, depth + 1, index);
}

bool Document::Impl::load() {
  const XmlElement& root = xml.elements[0];
  if (root.name != "svg") return false;
  for (std::uint32_t i = 0; i < xml.elements.size(); ++i) {
    if (const std::string* id = xml.elements[i].attribute("id")) ids.emplace(*id, i);
  }
  std::vector<double> vb;
  if (const std::string* v = root.attribute("viewBox")) {
    if (parseNumberList(*v, vb) && vb.size() == 4 && vb[2] >= 0 && vb[3] >= 0) {
      hasViewBox = true;
      viewBox = {vb[0], vb[1], vb[2], vb[3]};
    }
  }
  if (const std::string* v = root.attribute("preserveAspectRatio")) parseAspectRatio(*v, aspect);
  // Width and height in percent mean the whole bitmap: they are left to the renderer.
  auto size = [&](const char* name, double& out) {
    const std::string* v = root.attribute(name);
    if (!v || trim(*v).empty() || trim(*v).back() == '%') return;
    double d;
    if (parseLength(*v, 0, d) && d > 0) out = d;
  };
  size("width", docWidth);
  size("height", docHeight);
  if (hasViewBox) {
    percentWidth = viewBox.width;
    percentHeight = viewBox.height;
  } else if (docWidth > 0 && docHeight > 0) {
    percentWidth = docWidth;
    percentHeight = docHeight;
  }
  nodes.reserve(xml.elements.size());
  buildNode(0, Style{}, 0, 0);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Rendering

bool Document::Impl::makePaint(const PaintSpec& spec, float opacity, const Style& style, const Matrix& m,
                               const Path& path, Paint& out) const {
  auto solid = [&](const Color& c, float alpha) {
    float a = c.alpha * alpha;
    out.gradient = false;
    out.color = {c.r / 255.0f * a, c.g / 255.0f * a, c.b / 255.0f * a, a};
    return a > 0;
  };
  switch (spec.kind) {
    case PaintSpec::Kind::None:
      return false;
    case PaintSpec::Kind::Color:
      return solid(spec.color, opacity);
    case PaintSpec::Kind::CurrentColor:
      return solid(style.color, opacity);
    case PaintSpec::Kind::Gradient:
      break;
  }
  const Gradient& g = gradients[static_cast<std::size_t>(spec.gradient)];
  if (g.stops.empty()) return false;
  if (g.stops.size() == 1) return solid(g.stops[0].second, opacity);
  Matrix toDevice = m;
  if (!g.userSpace) {
    Bounds b = path.bounds();
    double bw = b.maxX - b.minX, bh = b.maxY - b.minY;
    if (b.empty || !(bw > 0) || !(bh > 0)) return false;
    toDevice = toDevice * Matrix{bw, 0, 0, bh, b.minX, b.minY};
  }
  toDevice = toDevice * g.transform;
  Matrix inv;
  if (!toDevice.invert(inv)) return false;
  double vx = g.x2 - g.x1, vy = g.y2 - g.y1;
  double len2 = vx * vx + vy * vy;
  if (!(len2 > 0) || !std::isfinite(len2)) return solid(g.stops.back().second, opacity);
  // t of a device point p is (inv(p) - p1) . v / |v|^2, an affine function of p.
  out.gradient = true;
  out.tx = (inv.a * vx + inv.b * vy) / len2;
  out.ty = (inv.c * vx + inv.d * vy) / len2;
  out.t0 = ((inv.e - g.x1) * vx + (inv.f - g.y1) * vy) / len2;
  if (!std::isfinite(out.tx) || !std::isfinite(out.ty) || !std::isfinite(out.t0)) return false;
  out.spread = g.spread;
  out.table.resize(kGradientTableSize);
  // Colours are interpolated as they are written (not premultiplied), as librsvg and cairo do:
  // a transparent stop keeps its colour instead of fading to black.
  auto premultiplied = [&](float r, float g, float b, float a) {
    a *= opacity;
    return Rgba{r / 255.0f * a, g / 255.0f * a, b / 255.0f * a, a};
  };
  std::size_t k = 0;
  for (std::size_t i = 0; i < kGradientTableSize; ++i) {
    double t = static_cast<double>(i) / (kGradientTableSize - 1);
    while (k < g.stops.size() && g.stops[k].first < t) ++k;
    const Color& c0 = g.stops[k == 0 ? 0 : k - 1].second;
    const Color& c1 = g.stops[k == g.stops.size() ? k - 1 : k].second;
    float u = 0;
    if (k > 0 && k < g.stops.size()) {
      double span = g.stops[k].first - g.stops[k - 1].first;
      u = span > 0 ? static_cast<float>((t - g.stops[k - 1].first) / span) : 1.0f;
    }
    auto mix = [u](float a, float b) { return a + (b - a) * u; };
    out.table[i] = premultiplied(mix(c0.r, c1.r), mix(c0.g, c1.g), mix(c0.b, c1.b), mix(c0.alpha, c1.alpha));
  }
  return true;
}

template <typename F>
void Document::Impl::withLayer(const Canvas& canvas, float opacity, Context& ctx, F drawInto) const {
  std::size_t area = static_cast<std::size_t>(canvas.width) * static_cast<std::size_t>(canvas.height);
  if (area > ctx.pixelBudget) {
    ctx.pixelBudget = 0;
    return;
  }
  ctx.pixelBudget -= area;
  std::vector<std::uint8_t> pixels(canvas.stride * static_cast<std::size_t>(canvas.height), 0);
  Canvas layer{pixels.data(), canvas.width, canvas.height, canvas.stride};
  ++ctx.layers;
  drawInto(layer);
  --ctx.layers;
  compositeLayer(canvas, layer, opacity);
}

void Document::Impl::drawShape(const Node& node, const Matrix& m, const Canvas& canvas, float alpha,
                               Context& ctx) const {
  const Style& s = node.style;
  Paint paint;
  if (makePaint(s.fill, s.fillOpacity * alpha, s, m, node.path, paint)) {
    ctx.lines.clear();
    ctx.polygons.clear();
    flattenPath(node.path, m, kTolerance, false, ctx.budget, ctx.lines);
    for (auto& line : ctx.lines) ctx.polygons.push_back(std::move(line.points));
    ctx.raster.fill(canvas, ctx.polygons, s.fillRule, paint, ctx.pixelBudget);
  }
  if (s.pen.width > 0 && makePaint(s.stroke, s.strokeOpacity * alpha, s, m, node.path, paint)) {
    // Stroked in user space, so that a transform that is not uniform also shapes the pen.
    double scale = m.maxScale();
    if (!(scale > 0) || !std::isfinite(scale)) return;
    double tolerance = kTolerance / scale;
    ctx.lines.clear();
    ctx.polygons.clear();
    flattenPath(node.path, Matrix{}, tolerance, true, ctx.budget, ctx.lines);
    strokePolylines(ctx.lines, s.pen, tolerance, ctx.budget, ctx.polygons);
    for (auto& polygon : ctx.polygons) {
      for (auto& p : polygon) p = m.apply(p);
    }
    ctx.raster.fill(canvas, ctx.polygons, FillRule::NonZero, paint, ctx.pixelBudget);
  }
}

void Document::Impl::draw(std::uint32_t index, const Matrix& parent, const Canvas& canvas, float alpha, int depth,
                          Context& ctx) const {
  const Node& node = nodes[index];
  const Style& s = node.style;
  if (!s.display || s.opacity <= 0 || ctx.pixelBudget == 0 || ctx.budget.points == 0) return;
  Matrix m = parent * node.transform;
  if (!m.finite()) return;
  if (node.group) {
    auto children = [&](const Canvas& target, float a) {
      for (std::uint32_t child : node.children) draw(child, m, target, a, depth + 1, ctx);
    };
    if (s.opacity < 1 && !node.children.empty() && ctx.layers < kMaxLayers) {
      withLayer(canvas, s.opacity * alpha, ctx, [&](const Canvas& layer) { children(layer, 1); });
    } else {
      children(canvas, alpha * s.opacity);
    }
    return;
  }
  if (!s.visible) return;
  bool both = s.fill.kind != PaintSpec::Kind::None && s.stroke.kind != PaintSpec::Kind::None && s.pen.width > 0;
  if (s.opacity < 1 && both && ctx.layers < kMaxLayers) {
    // Opacity applies to fill and stroke together: the fill must not show through the stroke.
    withLayer(canvas, s.opacity * alpha, ctx, [&](const Canvas& layer) { drawShape(node, m, layer, 1, ctx); });
  } else {
    drawShape(node, m, canvas, alpha * s.opacity, ctx);
  }
}

// ---------------------------------------------------------------------------------------------
// Document

Document::Document(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Document::~Document() = default;

std::unique_ptr<Document> Document::loadFromData(const char* data, std::size_t size) {
  if (data == nullptr || size == 0 || size > kMaxDocumentBytes) return nullptr;
  auto impl = std::make_unique<Impl>();
  if (!parseXml(data, size, kMaxElements, impl->xml) || !impl->load()) return nullptr;
  // Rendering needs only the render tree and the gradients.
  impl->xml = XmlDocument{};
  impl->ids.clear();
  impl->gradientOfElement.clear();
  return std::unique_ptr<Document>(new Document(std::move(impl)));
}

double Document::width() const { return impl_->hasViewBox ? impl_->viewBox.width : impl_->docWidth; }

double Document::height() const { return impl_->hasViewBox ? impl_->viewBox.height : impl_->docHeight; }

Bitmap Document::renderToBitmap(std::uint32_t width, std::uint32_t height) const {
  Bitmap bitmap;
  if (width == 0 || height == 0 || width > kMaxBitmapSide || height > kMaxBitmapSide ||
      static_cast<std::uint64_t>(width) * height > kMaxBitmapPixels) {
    return bitmap;
  }
  bitmap.width = width;
  bitmap.height = height;
  bitmap.stride = 4 * width;
  bitmap.pixels.assign(static_cast<std::size_t>(bitmap.stride) * height, 0);

  const Impl& d = *impl_;
  Viewport vb;
  bool scaled = true;
  if (d.hasViewBox) {
    vb = d.viewBox;
  } else if (d.docWidth > 0 && d.docHeight > 0) {
    vb = {0, 0, d.docWidth, d.docHeight};
  } else {
    scaled = false;  // nothing to fit: user units are pixels
  }
  Matrix base;
  if (scaled) {
    if (!(vb.width > 0) || !(vb.height > 0)) return bitmap;  // a zero viewBox disables rendering
    double sx = width / vb.width, sy = height / vb.height;
    if (d.aspect.none) {
      base = Matrix::scale(sx, sy) * Matrix::translate(-vb.x, -vb.y);
    } else {
      double s = d.aspect.slice ? std::max(sx, sy) : std::min(sx, sy);
      auto offset = [](Align a, double free) { return a == Align::Min ? 0 : a == Align::Mid ? free / 2 : free; };
      double tx = offset(d.aspect.x, width - vb.width * s);
      double ty = offset(d.aspect.y, height - vb.height * s);
      base = Matrix::translate(tx, ty) * Matrix::scale(s, s) * Matrix::translate(-vb.x, -vb.y);
    }
  }
  Canvas canvas{bitmap.pixels.data(), static_cast<int>(width), static_cast<int>(height), bitmap.stride};
  Impl::Context ctx;
  ctx.budget.points = kPointBudget;
  ctx.pixelBudget = kPixelsPerBitmapPixel * static_cast<std::size_t>(width) * height;
  if (!d.nodes.empty()) d.draw(0, base, canvas, 1, 0, ctx);
  return bitmap;
}

}  // namespace Svg
}  // namespace View
}  // namespace Korvath
