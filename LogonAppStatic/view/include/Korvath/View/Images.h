#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace Korvath {
namespace View {

// An SVG document held by the module: the locked RT_RCDATA resource, never copied or freed.
struct SvgSource {
  const char* data = nullptr;
  std::size_t size = 0;
  bool empty() const { return data == nullptr || size == 0; }
};

// The RT_RCDATA resource `id` of `module`; empty when there is none.
SvgSource loadSvgResource(HMODULE module, int id);

// Where an image goes, in device pixels of the target device context.
struct DrawRect {
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
};

// Renders the SVG at exactly rect.width x rect.height pixels (so it is sharp at any scale)
// and draws it, alpha-blended, at (rect.x, rect.y). A document that does not parse, an empty
// rectangle or a failure of GDI+ draws nothing and returns false.
bool drawSvgImage(HDC hdc, const SvgSource& svg, const DrawRect& rect);

// Draws premultiplied BGRA pixels (top-down rows of `stride` bytes) unscaled at (x, y) through
// GDI+. False when nothing was drawn.
bool drawPargbPixels(HDC hdc, const std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
                     std::uint32_t stride, int x, int y);

// Draws an in-memory BMP file (24-bit, uncompressed, rows bottom-up, as the QR-code painter
// writes it) stretched to a side x side square at (x, y) with CreateDIBitmap and StretchBlt
// (nearest pixel: modules stay sharp). The header and lengths are checked first: a buffer
// that is short, not such a BMP, or larger than 4096 pixels a side draws nothing (false).
bool drawBmpImage(HDC hdc, const std::uint8_t* bmp, std::size_t size, int x, int y, int side);

// GDI+ is started once per process on first use (its background thread suppressed, so that
// it can also be shut down while the library unloads) and shut down by shutdownGdiPlus or at
// unload. True while it runs.
bool startGdiPlus();
void shutdownGdiPlus();

}  // namespace View
}  // namespace Korvath
