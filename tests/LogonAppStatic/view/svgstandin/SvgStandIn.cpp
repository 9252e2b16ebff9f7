#include "Korvath/View/Svg.h"

#include <cstdlib>
#include <string>

namespace Korvath {
namespace View {
namespace Svg {

namespace {

bool attribute(const std::string& element, const std::string& name, std::string& value) {
  const std::string key = " " + name + "=\"";
  const std::size_t at = element.find(key);
  if (at == std::string::npos) return false;
  const std::size_t start = at + key.size();
  const std::size_t end = element.find('"', start);
  if (end == std::string::npos) return false;
  value = element.substr(start, end - start);
  return true;
}

double number(const std::string& element, const std::string& name) {
  std::string value;
  return attribute(element, name, value) ? std::strtod(value.c_str(), nullptr) : 0.0;
}

}  // namespace

std::unique_ptr<Document> Document::loadFromData(const char* data, std::size_t size) {
  if (data == nullptr || size == 0) return nullptr;
  const std::string text(data, size);
  const std::size_t root = text.find("<svg");
  if (root == std::string::npos || text.find("</svg>") == std::string::npos) return nullptr;
  auto document = std::unique_ptr<Document>(new Document());
  const std::string rootElement = text.substr(root, text.find('>', root) - root);
  std::string viewBox;
  if (attribute(rootElement, "viewBox", viewBox)) {
    double x = 0, y = 0;
    char* end = nullptr;
    x = std::strtod(viewBox.c_str(), &end);
    y = std::strtod(end, &end);
    document->viewWidth_ = std::strtod(end, &end);
    document->viewHeight_ = std::strtod(end, &end);
    (void)x;
    (void)y;
  } else {
    document->viewWidth_ = number(rootElement, "width");
    document->viewHeight_ = number(rootElement, "height");
  }
  if (document->viewWidth_ <= 0 || document->viewHeight_ <= 0) return nullptr;
  for (std::size_t at = text.find('<', root + 1); at != std::string::npos; at = text.find('<', at + 1)) {
    const std::string element = " " + text.substr(at + 1, text.find('>', at) - at - 1);
    Shape shape;
    if (element.compare(0, 5, " rect") == 0) {
      shape.x = number(element, "x");
      shape.y = number(element, "y");
      shape.w = number(element, "width");
      shape.h = number(element, "height");
    } else if (element.compare(0, 7, " circle") == 0) {
      shape.circle = true;
      shape.x = number(element, "cx");
      shape.y = number(element, "cy");
      shape.r = number(element, "r");
    } else {
      continue;
    }
    std::string fill;
    if (attribute(element, "fill", fill) && fill.size() == 7 && fill[0] == '#') {
      shape.rgb = static_cast<std::uint32_t>(std::strtoul(fill.c_str() + 1, nullptr, 16));
    }
    std::string opacity;
    if (attribute(element, "fill-opacity", opacity)) shape.opacity = std::strtod(opacity.c_str(), nullptr);
    document->shapes_.push_back(shape);
  }
  return document;
}

Bitmap Document::renderToBitmap(std::uint32_t width, std::uint32_t height) const {
  Bitmap bitmap;
  bitmap.width = width;
  bitmap.height = height;
  bitmap.stride = width * 4;
  bitmap.pixels.assign(static_cast<std::size_t>(bitmap.stride) * height, 0);
  const double sx = width / viewWidth_;
  const double sy = height / viewHeight_;
  for (std::uint32_t py = 0; py < height; ++py) {
    for (std::uint32_t px = 0; px < width; ++px) {
      const double x = (px + 0.5) / sx;
      const double y = (py + 0.5) / sy;
      std::uint8_t* p = &bitmap.pixels[py * bitmap.stride + px * 4];
      for (const Shape& shape : shapes_) {
        const bool inside = shape.circle
                                ? (x - shape.x) * (x - shape.x) + (y - shape.y) * (y - shape.y) <= shape.r * shape.r
                                : x >= shape.x && x < shape.x + shape.w && y >= shape.y && y < shape.y + shape.h;
        if (!inside) continue;
        const double a = shape.opacity;
        const double src[3] = {static_cast<double>(shape.rgb & 0xFF), static_cast<double>((shape.rgb >> 8) & 0xFF),
                               static_cast<double>((shape.rgb >> 16) & 0xFF)};
        for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>(src[c] * a + p[c] * (1 - a) + 0.5);
        p[3] = static_cast<std::uint8_t>(255 * a + p[3] * (1 - a) + 0.5);
      }
    }
  }
  return bitmap;
}

}  // namespace Svg
}  // namespace View
}  // namespace Korvath
