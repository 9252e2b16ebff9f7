#pragma once
// Test stand-in for the SVG renderer (LogonAppStatic/svg), used only while that library is
// not part of the build. Same interface; draws <rect> and <circle> with a solid fill.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace Korvath {
namespace View {
namespace Svg {

struct Bitmap {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t stride = 0;
  std::vector<std::uint8_t> pixels;  // premultiplied BGRA (PARGB), top-down
};

class Document {
 public:
  static std::unique_ptr<Document> loadFromData(const char* data, std::size_t size);
  Bitmap renderToBitmap(std::uint32_t width, std::uint32_t height) const;

  struct Shape {
    bool circle = false;
    double x = 0, y = 0, w = 0, h = 0, r = 0;
    std::uint32_t rgb = 0;
    double opacity = 1;
  };

 private:
  double viewWidth_ = 0;
  double viewHeight_ = 0;
  std::vector<Shape> shapes_;
};

}  // namespace Svg
}  // namespace View
}  // namespace Korvath
