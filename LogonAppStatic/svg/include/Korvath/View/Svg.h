#pragma once

// The dialog's SVG renderer: parses the subset of SVG that our own images use and rasterizes
// it with anti-aliasing into premultiplied 32-bit pixels that GDI+ draws as PixelFormat32bppPARGB.
// Portable C++17, no Windows headers; the same code runs in both build flavours.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace Korvath {
namespace View {
namespace Svg {

// Limits that keep a hostile or broken document from exhausting memory or time.
// A document larger than this does not load.
constexpr std::size_t kMaxDocumentBytes = 4u << 20;
// A document with more elements than this does not load.
constexpr std::size_t kMaxElements = 100000;
// renderToBitmap answers an empty bitmap for a side longer than this or for more pixels
// than kMaxBitmapPixels.
constexpr std::uint32_t kMaxBitmapSide = 16384;
constexpr std::uint64_t kMaxBitmapPixels = 1ull << 25;

// Rendered pixels: 4 bytes a pixel in the order B, G, R, A, colour channels already multiplied
// by alpha, top row first, no padding (stride = 4 * width).
struct Bitmap {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t stride = 0;
  std::vector<std::uint8_t> pixels;

  bool valid() const;
};

class Document {
 public:
  // Parses a document. Answers null when the bytes are not well-formed XML, the root element is
  // not `svg`, or a limit above is exceeded. Elements and attributes outside the supported subset
  // are ignored (not drawn); a malformed path is drawn up to its first error.
  static std::unique_ptr<Document> loadFromData(const char* data, std::size_t size);

  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  // The size of the document's viewBox; without one, its width and height attributes (0 when
  // absent).
  double width() const;
  double height() const;

  // Renders onto a transparent bitmap of exactly width x height pixels. The viewBox is scaled into
  // it as the root's preserveAspectRatio says (by default uniformly, centred). A zero or
  // oversized width or height gives an empty bitmap (valid() is false).
  Bitmap renderToBitmap(std::uint32_t width, std::uint32_t height) const;

 private:
  struct Impl;
  explicit Document(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace Svg
}  // namespace View
}  // namespace Korvath
