// Numbers, colours, transforms and the affine matrix.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "SvgCore.h"

namespace Korvath {
namespace View {
namespace Svg {
namespace Detail {

namespace {
// Numbers beyond this are clamped so that later arithmetic stays finite in most cases; what
// still overflows is caught where coordinates reach the rasterizer.
constexpr double kMaxNumber = 1e30;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return s;
}

bool readNumber(const char*& p, const char* end, double& out) {
  const char* q = p;
  bool negative = false;
  if (q < end && (*q == '+' || *q == '-')) negative = *q++ == '-';
  std::uint64_t mantissa = 0;
  int digits = 0;
  int exponent = 0;
  bool any = false;
  while (q < end && isDigit(*q)) {
    any = true;
    if (digits < 18) {
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(*q - '0');
      if (mantissa != 0) ++digits;
    } else {
      ++exponent;
    }
    ++q;
  }
  if (q < end && *q == '.' && q + 1 < end && isDigit(q[1])) {
    ++q;
    while (q < end && isDigit(*q)) {
      any = true;
      if (digits < 18) {
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(*q - '0');
        if (mantissa != 0) ++digits;
        --exponent;
      }
      ++q;
    }
  } else if (q < end && *q == '.' && any) {
    ++q;  // "5." is a number
  }
  if (!any) return false;
  // An exponent only when digits follow, so that "1em" leaves "em" for the unit.
  if (q < end && (*q == 'e' || *q == 'E')) {
    const char* r = q + 1;
    bool expNegative = false;
    if (r < end && (*r == '+' || *r == '-')) expNegative = *r++ == '-';
    if (r < end && isDigit(*r)) {
      int e = 0;
      while (r < end && isDigit(*r)) {
        if (e < 10000) e = e * 10 + (*r - '0');
        ++r;
      }
      exponent += expNegative ? -e : e;
      q = r;
    }
  }
  double value = 0;
  if (mantissa != 0) {
    exponent = std::max(-400, std::min(400, exponent));
    value = static_cast<double>(mantissa) * std::pow(10.0, exponent);
    if (!std::isfinite(value) || value > kMaxNumber) value = kMaxNumber;
  }
  out = negative ? -value : value;
  p = q;
  return true;
}

void skipCommaSpace(const char*& p, const char* end) {
  while (p < end && isSpace(*p)) ++p;
  if (p < end && *p == ',') {
    ++p;
    while (p < end && isSpace(*p)) ++p;
  }
}

bool parseNumberList(std::string_view text, std::vector<double>& out) {
  out.clear();
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end && isSpace(*p)) ++p;
  while (p < end) {
    double v;
    if (!readNumber(p, end, v)) return false;
    out.push_back(v);
    skipCommaSpace(p, end);
  }
  return true;
}

bool parseNumberOrPercent(std::string_view text, double& out) {
  text = trim(text);
  const char* p = text.data();
  const char* end = p + text.size();
  if (!readNumber(p, end, out)) return false;
  if (p < end && *p == '%') {
    ++p;
    out /= 100;
  }
  return p == end;
}

// ---------------------------------------------------------------------------------------------
// Colours

namespace {
struct NamedColor {
  const char* name;
  std::uint32_t rgb;
};
// The basic colour keywords and the few more that hand-written images tend to use.
const NamedColor kNamedColors[] = {
    {"black", 0x000000},   {"silver", 0xC0C0C0},    {"gray", 0x808080},      {"grey", 0x808080},
    {"white", 0xFFFFFF},   {"maroon", 0x800000},    {"red", 0xFF0000},       {"purple", 0x800080},
    {"fuchsia", 0xFF00FF}, {"magenta", 0xFF00FF},   {"green", 0x008000},     {"lime", 0x00FF00},
    {"olive", 0x808000},   {"yellow", 0xFFFF00},    {"navy", 0x000080},      {"blue", 0x0000FF},
    {"teal", 0x008080},    {"aqua", 0x00FFFF},      {"cyan", 0x00FFFF},      {"orange", 0xFFA500},
    {"darkgray", 0xA9A9A9}, {"darkgrey", 0xA9A9A9}, {"lightgray", 0xD3D3D3}, {"lightgrey", 0xD3D3D3},
    {"dimgray", 0x696969}, {"dimgrey", 0x696969},   {"whitesmoke", 0xF5F5F5}, {"gainsboro", 0xDCDCDC},
};

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// One rgb() component: a number 0..255 or a percentage; answers the channel value.
bool readChannel(const char*& p, const char* end, double& out) {
  while (p < end && isSpace(*p)) ++p;
  if (!readNumber(p, end, out)) return false;
  if (p < end && *p == '%') {
    ++p;
    out = out * 255.0 / 100.0;
  }
  out = std::max(0.0, std::min(255.0, out));
  return true;
}
}  // namespace

bool parseColor(std::string_view text, Color& out) {
  text = trim(text);
  if (text.empty()) return false;
  if (text[0] == '#') {
    int v[6];
    std::size_t n = text.size() - 1;
    if (n != 3 && n != 6) return false;
    for (std::size_t i = 0; i < n; ++i) {
      v[i] = hexValue(text[i + 1]);
      if (v[i] < 0) return false;
    }
    if (n == 3) {
      out = {static_cast<std::uint8_t>(v[0] * 17), static_cast<std::uint8_t>(v[1] * 17),
             static_cast<std::uint8_t>(v[2] * 17), 1.0f};
    } else {
      out = {static_cast<std::uint8_t>(v[0] * 16 + v[1]), static_cast<std::uint8_t>(v[2] * 16 + v[3]),
             static_cast<std::uint8_t>(v[4] * 16 + v[5]), 1.0f};
    }
    return true;
  }
  bool rgba = text.size() > 5 && equalsIgnoreCase(text.substr(0, 5), "rgba(");
  if (rgba || (text.size() > 4 && equalsIgnoreCase(text.substr(0, 4), "rgb("))) {
    if (text.back() != ')') return false;
    const char* p = text.data() + (rgba ? 5 : 4);
    const char* end = text.data() + text.size() - 1;
    double c[3];
    for (int i = 0; i < 3; ++i) {
      if (!readChannel(p, end, c[i])) return false;
      if (i < 2) {
        while (p < end && isSpace(*p)) ++p;
        if (p >= end || *p != ',') return false;
        ++p;
      }
    }
    double alpha = 1;
    while (p < end && isSpace(*p)) ++p;
    if (rgba && p < end && *p == ',') {
      ++p;
      while (p < end && isSpace(*p)) ++p;
      if (!readNumber(p, end, alpha)) return false;
      if (p < end && *p == '%') {
        ++p;
        alpha /= 100.0;
      }
      alpha = std::max(0.0, std::min(1.0, alpha));
      while (p < end && isSpace(*p)) ++p;
    }
    if (p != end) return false;
    out = {static_cast<std::uint8_t>(std::lround(c[0])), static_cast<std::uint8_t>(std::lround(c[1])),
           static_cast<std::uint8_t>(std::lround(c[2])), static_cast<float>(alpha)};
    return true;
  }
  if (equalsIgnoreCase(text, "transparent")) {
    out = {0, 0, 0, 0.0f};
    return true;
  }
  for (const auto& named : kNamedColors) {
    if (equalsIgnoreCase(text, named.name)) {
      out = {static_cast<std::uint8_t>(named.rgb >> 16), static_cast<std::uint8_t>((named.rgb >> 8) & 0xFF),
             static_cast<std::uint8_t>(named.rgb & 0xFF), 1.0f};
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Matrix and transform lists

Matrix Matrix::operator*(const Matrix& o) const {
  return {a * o.a + c * o.b,       b * o.a + d * o.b,       a * o.c + c * o.d,
          b * o.c + d * o.d,       a * o.e + c * o.f + e,   b * o.e + d * o.f + f};
}

bool Matrix::invert(Matrix& out) const {
  double det = a * d - b * c;
  if (!std::isfinite(det) || std::fabs(det) < 1e-300) return false;
  double inv = 1.0 / det;
  out = {d * inv, -b * inv, -c * inv, a * inv, (c * f - d * e) * inv, (b * e - a * f) * inv};
  return out.finite();
}

double Matrix::maxScale() const {
  // Square root of the larger eigenvalue of M^T M.
  double p = a * a + b * b;
  double q = a * c + b * d;
  double r = c * c + d * d;
  double mean = 0.5 * (p + r);
  double diff = 0.5 * (p - r);
  return std::sqrt(mean + std::sqrt(diff * diff + q * q));
}

bool Matrix::finite() const {
  return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d) && std::isfinite(e) &&
         std::isfinite(f);
}

Matrix Matrix::rotate(double degrees) {
  double r = degrees * kPi / 180.0;
  double cs = std::cos(r), sn = std::sin(r);
  return {cs, sn, -sn, cs, 0, 0};
}

Matrix Matrix::skewX(double degrees) { return {1, 0, std::tan(degrees * kPi / 180.0), 1, 0, 0}; }

Matrix Matrix::skewY(double degrees) { return {1, std::tan(degrees * kPi / 180.0), 0, 1, 0, 0}; }

bool parseTransform(std::string_view text, Matrix& out) {
  Matrix result;
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end && isSpace(*p)) ++p;
  while (p < end) {
    const char* nameStart = p;
    while (p < end && ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z'))) ++p;
    std::string_view name(nameStart, static_cast<std::size_t>(p - nameStart));
    while (p < end && isSpace(*p)) ++p;
    if (p >= end || *p != '(') return false;
    ++p;
    double v[6];
    int n = 0;
    while (p < end && isSpace(*p)) ++p;
    while (p < end && *p != ')') {
      if (n == 6 || !readNumber(p, end, v[n])) return false;
      ++n;
      skipCommaSpace(p, end);
    }
    if (p >= end) return false;
    ++p;  // ')'
    Matrix m;
    if (name == "matrix" && n == 6) {
      m = {v[0], v[1], v[2], v[3], v[4], v[5]};
    } else if (name == "translate" && (n == 1 || n == 2)) {
      m = Matrix::translate(v[0], n == 2 ? v[1] : 0);
    } else if (name == "scale" && (n == 1 || n == 2)) {
      m = Matrix::scale(v[0], n == 2 ? v[1] : v[0]);
    } else if (name == "rotate" && n == 1) {
      m = Matrix::rotate(v[0]);
    } else if (name == "rotate" && n == 3) {
      m = Matrix::translate(v[1], v[2]) * Matrix::rotate(v[0]) * Matrix::translate(-v[1], -v[2]);
    } else if (name == "skewX" && n == 1) {
      m = Matrix::skewX(v[0]);
    } else if (name == "skewY" && n == 1) {
      m = Matrix::skewY(v[0]);
    } else {
      return false;
    }
    result = result * m;
    skipCommaSpace(p, end);
  }
  out = result;
  return true;
}

}  // namespace Detail
}  // namespace Svg
}  // namespace View
}  // namespace Korvath
