// Makes the application icon (resources/images/app.ico) from its SVG source with our own
// renderer: 16, 32 and 48 px as 32-bit bitmaps, 256 px as PNG, as Windows' icon format takes
// them. Run by the `app-icon` target; the result is committed, as the Windows build (a cross
// build) cannot run a native tool.
//
//   svgicon <source.svg> <output.ico>

#include <cairo.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Korvath/View/Svg.h"

namespace {

using Korvath::View::Svg::Bitmap;

void put16(std::vector<std::uint8_t>& out, unsigned v) {
  out.push_back(std::uint8_t(v));
  out.push_back(std::uint8_t(v >> 8));
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

// Icons keep colours that are not multiplied by alpha.
std::uint8_t unpremultiply(std::uint8_t c, std::uint8_t a) { return a == 0 ? 0 : std::uint8_t((c * 255 + a / 2) / a); }

// BITMAPINFOHEADER, the colour rows bottom-up, then the 1-bit mask (set where fully transparent).
std::vector<std::uint8_t> bmpEntry(const Bitmap& b) {
  std::vector<std::uint8_t> out;
  std::uint32_t maskStride = ((b.width + 31) / 32) * 4;
  put32(out, 40);
  put32(out, b.width);
  put32(out, b.height * 2);
  put16(out, 1);
  put16(out, 32);
  put32(out, 0);
  put32(out, b.width * b.height * 4 + maskStride * b.height);
  for (int i = 0; i < 4; ++i) put32(out, 0);
  for (std::uint32_t row = b.height; row-- > 0;) {
    for (std::uint32_t x = 0; x < b.width; ++x) {
      const std::uint8_t* p = &b.pixels[row * b.stride + x * 4];
      for (int c = 0; c < 3; ++c) out.push_back(unpremultiply(p[c], p[3]));
      out.push_back(p[3]);
    }
  }
  for (std::uint32_t row = b.height; row-- > 0;) {
    std::vector<std::uint8_t> mask(maskStride, 0);
    for (std::uint32_t x = 0; x < b.width; ++x) {
      if (b.pixels[row * b.stride + x * 4 + 3] == 0) mask[x / 8] |= std::uint8_t(0x80 >> (x % 8));
    }
    out.insert(out.end(), mask.begin(), mask.end());
  }
  return out;
}

cairo_status_t appendPng(void* closure, const unsigned char* data, unsigned int length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(closure);
  out->insert(out->end(), data, data + length);
  return CAIRO_STATUS_SUCCESS;
}

std::vector<std::uint8_t> pngEntry(const Bitmap& b) {
  // Cairo's ARGB32 is our premultiplied BGRA; its PNG writer un-premultiplies.
  std::vector<std::uint8_t> out;
  cairo_surface_t* surface = cairo_image_surface_create_for_data(const_cast<std::uint8_t*>(b.pixels.data()),
                                                                 CAIRO_FORMAT_ARGB32, int(b.width), int(b.height),
                                                                 int(b.stride));
  if (cairo_surface_write_to_png_stream(surface, appendPng, &out) != CAIRO_STATUS_SUCCESS) out.clear();
  cairo_surface_destroy(surface);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: svgicon <source.svg> <output.ico>\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto doc = Korvath::View::Svg::Document::loadFromData(text.data(), text.size());
  if (!doc) {
    std::fprintf(stderr, "svgicon: %s is not an SVG document we can draw\n", argv[1]);
    return 1;
  }
  const std::uint32_t sizes[] = {16, 32, 48, 256};
  std::vector<std::vector<std::uint8_t>> images;
  for (std::uint32_t size : sizes) {
    Bitmap b = doc->renderToBitmap(size, size);
    images.push_back(size == 256 ? pngEntry(b) : bmpEntry(b));
    if (images.back().empty()) return 1;
  }
  std::vector<std::uint8_t> ico;
  put16(ico, 0);
  put16(ico, 1);
  put16(ico, unsigned(images.size()));
  std::uint32_t offset = 6 + 16 * std::uint32_t(images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    ico.push_back(std::uint8_t(sizes[i] == 256 ? 0 : sizes[i]));
    ico.push_back(std::uint8_t(sizes[i] == 256 ? 0 : sizes[i]));
    ico.push_back(0);
    ico.push_back(0);
    put16(ico, 1);
    put16(ico, 32);
    put32(ico, std::uint32_t(images[i].size()));
    put32(ico, offset);
    offset += std::uint32_t(images[i].size());
  }
  for (const auto& image : images) ico.insert(ico.end(), image.begin(), image.end());
  std::ofstream out(argv[2], std::ios::binary);
  out.write(reinterpret_cast<const char*>(ico.data()), std::streamsize(ico.size()));
  return out ? 0 : 1;
}
