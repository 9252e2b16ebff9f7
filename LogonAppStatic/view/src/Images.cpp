#include "Korvath/View/Images.h"

#include <objidl.h>
#include <gdiplus.h>

#include <cstring>
#include <mutex>

#include "Korvath/Logger.h"
#include "Korvath/View/Svg.h"

namespace Korvath {
namespace View {

namespace {

namespace Gp = Gdiplus::DllExports;

// GDI+ for the process: started on first use, shut down at unload or by shutdownGdiPlus.
struct GdiPlusState {
  std::mutex mutex;
  ULONG_PTR token = 0;
  ULONG_PTR hookToken = 0;
  Gdiplus::GdiplusStartupOutput output{};
  bool started = false;
  ~GdiPlusState() { stop(); }
  void stop() {
    std::lock_guard<std::mutex> lock(mutex);
    if (!started) return;
    if (output.NotificationUnhook != nullptr) output.NotificationUnhook(hookToken);
    Gdiplus::GdiplusShutdown(token);
    started = false;
    token = 0;
  }
};

GdiPlusState& gdiPlus() {
  static GdiPlusState state;
  return state;
}

std::uint32_t readLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t readLe16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

bool startGdiPlus() {
  GdiPlusState& state = gdiPlus();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.started) return true;
  Gdiplus::GdiplusStartupInput input;
  input.GdiplusVersion = 1;
  input.DebugEventCallback = nullptr;
  // Without the background thread GDI+ can be shut down while the library unloads (a
  // thread cannot be waited for there); the notification hook stands in for it.
  input.SuppressBackgroundThread = TRUE;
  input.SuppressExternalCodecs = FALSE;
  state.output = Gdiplus::GdiplusStartupOutput{};
  if (Gdiplus::GdiplusStartup(&state.token, &input, &state.output) != Gdiplus::Ok) {
    KV_LOG_ERROR("%s - GdiplusStartup failed", "Korvath::View::startGdiPlus");
    state.token = 0;
    return false;
  }
  if (state.output.NotificationHook != nullptr) state.output.NotificationHook(&state.hookToken);
  state.started = true;
  return true;
}

void shutdownGdiPlus() { gdiPlus().stop(); }

SvgSource loadSvgResource(HMODULE module, int id) {
  SvgSource source;
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (found == nullptr) return source;
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  const DWORD size = SizeofResource(module, found);
  if (data == nullptr || size == 0) return source;
  source.data = static_cast<const char*>(data);
  source.size = size;
  return source;
}

bool drawPargbPixels(HDC hdc, const std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
                     std::uint32_t stride, int x, int y) {
  if (hdc == nullptr || pixels == nullptr || width == 0 || height == 0 || stride < width * 4) return false;
  if (!startGdiPlus()) return false;
  Gdiplus::GpGraphics* graphics = nullptr;
  if (Gp::GdipCreateFromHDC(hdc, &graphics) != Gdiplus::Ok) return false;
  bool drawn = false;
  Gdiplus::GpBitmap* bitmap = nullptr;
  // GDI+ only reads the pixels: the bitmap wraps them without a copy.
  if (Gp::GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height), static_cast<INT>(stride),
                                    PixelFormat32bppPARGB, const_cast<BYTE*>(pixels), &bitmap) == Gdiplus::Ok) {
    // The rectangle form keeps one image pixel per device pixel whatever DPI the two report.
    Gp::GdipSetInterpolationMode(graphics, Gdiplus::InterpolationModeNearestNeighbor);
    Gp::GdipSetPixelOffsetMode(graphics, Gdiplus::PixelOffsetModeHalf);
    drawn = Gp::GdipDrawImageRectI(graphics, bitmap, x, y, static_cast<INT>(width), static_cast<INT>(height)) ==
            Gdiplus::Ok;
    Gp::GdipDisposeImage(bitmap);
  }
  Gp::GdipDeleteGraphics(graphics);
  return drawn;
}

bool drawSvgImage(HDC hdc, const SvgSource& svg, const DrawRect& rect) {
  if (hdc == nullptr || svg.empty() || rect.width == 0 || rect.height == 0) return false;
  try {
    std::unique_ptr<Svg::Document> document = Svg::Document::loadFromData(svg.data, svg.size);
    if (!document) return false;
    const Svg::Bitmap bitmap = document->renderToBitmap(rect.width, rect.height);
    if (bitmap.width == 0 || bitmap.height == 0 ||
        bitmap.pixels.size() < static_cast<std::size_t>(bitmap.stride) * bitmap.height) {
      return false;
    }
    return drawPargbPixels(hdc, bitmap.pixels.data(), bitmap.width, bitmap.height, bitmap.stride, rect.x, rect.y);
  } catch (...) {
    // Painting runs inside window procedures: nothing may leave them.
    KV_LOG_ERROR("%s - the image could not be drawn", "Korvath::View::drawSvgImage");
    return false;
  }
}

bool drawBmpImage(HDC hdc, const std::uint8_t* bmp, std::size_t size, int x, int y, int side) {
  constexpr std::size_t kHeaders = 54;
  constexpr std::uint32_t kMaxSide = 4096;
  if (hdc == nullptr || bmp == nullptr || size < kHeaders || side <= 0) return false;
  if (bmp[0] != 'B' || bmp[1] != 'M') return false;
  const std::uint32_t pixelOffset = readLe32(bmp + 10);
  const std::uint32_t headerSize = readLe32(bmp + 14);
  const auto width = static_cast<std::int32_t>(readLe32(bmp + 18));
  const auto height = static_cast<std::int32_t>(readLe32(bmp + 22));
  if (headerSize != 40 || readLe16(bmp + 26) != 1 || readLe16(bmp + 28) != 24 || readLe32(bmp + 30) != 0) {
    return false;
  }
  if (width <= 0 || height <= 0 || static_cast<std::uint32_t>(width) > kMaxSide ||
      static_cast<std::uint32_t>(height) > kMaxSide) {
    return false;
  }
  const std::size_t rowBytes = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
  if (pixelOffset < kHeaders || pixelOffset > size || size - pixelOffset < rowBytes * static_cast<std::size_t>(height)) {
    return false;
  }
  const auto* info = reinterpret_cast<const BITMAPINFO*>(bmp + 14);
  const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(bmp + 14);
  HBITMAP bitmap = CreateDIBitmap(hdc, header, CBM_INIT, bmp + pixelOffset, info, DIB_RGB_COLORS);
  if (bitmap == nullptr) return false;
  bool drawn = false;
  HDC memory = CreateCompatibleDC(hdc);
  if (memory != nullptr) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    // Whole pixels only: every module becomes a sharp block.
    const int oldMode = SetStretchBltMode(hdc, COLORONCOLOR);
    drawn = StretchBlt(hdc, x, y, side, side, memory, 0, 0, width, height, SRCCOPY) != FALSE;
    SetStretchBltMode(hdc, oldMode);
    SelectObject(memory, old);
    DeleteDC(memory);
  }
  DeleteObject(bitmap);
  return drawn;
}

}  // namespace View
}  // namespace Korvath
