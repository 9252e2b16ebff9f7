#pragma once

// Helpers of the SVG renderer's tests: our images (embedded at build time), pixel comparison,
// and (natively) the librsvg oracle and PNG files.

#include <cstdint>
#include <string>
#include <vector>

#include "Korvath/View/Svg.h"

namespace KvSvgTest {

using Korvath::View::Svg::Bitmap;

// One of our images: its name under resources/images, and the size in design pixels at which
// the dialog draws it.
struct Image {
  const char* name;
  std::uint32_t width, height;
  const std::string* text;
};

// The twelve dialog images in resource-id order.
const std::vector<Image>& dialogImages();
// The source of the application icon.
const std::string& appIconSvg();

// Small documents that each exercise one feature of the renderer, and the size to draw them at.
struct Feature {
  const char* name;
  std::string document;
  std::uint32_t width, height;
};
const std::vector<Feature>& features();

Bitmap render(const std::string& svg, std::uint32_t width, std::uint32_t height);

// Per-channel differences over the pixels that either bitmap covers (alpha above 0), so that
// empty space does not water the figures down.
struct Difference {
  double mean = 0;
  int p99 = 0, max = 0;
  std::size_t pixels = 0;
};
Difference compare(const Bitmap& a, const Bitmap& b);

#ifdef KV_SVG_HAVE_RSVG
// librsvg's rendering of the document onto a transparent width x height surface, fitted into it
// as the root's preserveAspectRatio says; converted to our premultiplied BGRA layout.
Bitmap renderWithRsvg(const std::string& svg, std::uint32_t width, std::uint32_t height);
// Writes a PNG (premultiplied pixels are un-premultiplied by cairo's writer).
bool savePng(const Bitmap& bitmap, const std::string& path);
// Reads a PNG into premultiplied BGRA.
Bitmap loadPng(const std::vector<std::uint8_t>& bytes);
// The folder where screenshots go, created when missing.
std::string screenshotDir();
#endif

}  // namespace KvSvgTest
