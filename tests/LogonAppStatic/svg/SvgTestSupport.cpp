#include "SvgTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#ifdef KV_SVG_HAVE_RSVG
#include <cairo.h>
#include <librsvg/rsvg.h>
#include <sys/stat.h>
#endif

#include "SvgImagesData.h"

namespace KvSvgTest {

const std::vector<Image>& dialogImages() {
  static const std::vector<Image> images = {
      {"push.svg", 110, 81, 58, &KvSvgImages::push},
      {"qrcode.svg", 111, 81, 58, &KvSvgImages::qrcode},
      {"otp.svg", 112, 81, 58, &KvSvgImages::otp},
      {"forgot-token.svg", 113, 81, 58, &KvSvgImages::forgot_token},
      {"back.svg", 114, 30, 30, &KvSvgImages::back},
      {"back-about.svg", 115, 30, 30, &KvSvgImages::back_about},
      {"back-howto.svg", 116, 30, 30, &KvSvgImages::back_howto},
      {"about.svg", 117, 20, 20, &KvSvgImages::about},
      {"dialog-artwork.svg", 118, 420, 500, &KvSvgImages::dialog_artwork},
      {"background.svg", 119, 840, 500, &KvSvgImages::background},
      {"authentication.svg", 120, 112, 112, &KvSvgImages::authentication},
      {"logo.svg", 121, 251, 72, &KvSvgImages::logo},
  };
  return images;
}

const std::string& appIconSvg() { return KvSvgImages::app_icon; }

Bitmap render(const std::string& svg, std::uint32_t width, std::uint32_t height) {
  auto doc = Korvath::View::Svg::Document::loadFromData(svg.data(), svg.size());
  return doc ? doc->renderToBitmap(width, height) : Bitmap{};
}

Difference compare(const Bitmap& a, const Bitmap& b) {
  Difference d;
  if (a.width != b.width || a.height != b.height || !a.valid() || !b.valid()) {
    d.mean = d.p99 = d.max = 255;
    return d;
  }
  std::vector<std::size_t> histogram(256, 0);
  std::size_t sum = 0, channels = 0;
  for (std::size_t i = 0; i < a.pixels.size(); i += 4) {
    if (a.pixels[i + 3] == 0 && b.pixels[i + 3] == 0) continue;
    ++d.pixels;
    for (int c = 0; c < 4; ++c) {
      int diff = std::abs(int(a.pixels[i + c]) - int(b.pixels[i + c]));
      ++histogram[diff];
      sum += diff;
      ++channels;
      d.max = std::max(d.max, diff);
    }
  }
  if (channels == 0) return d;
  d.mean = double(sum) / double(channels);
  std::size_t seen = 0, target = (channels * 99 + 99) / 100;
  for (int v = 0; v < 256; ++v) {
    seen += histogram[v];
    if (seen >= target) {
      d.p99 = v;
      break;
    }
  }
  return d;
}

#ifdef KV_SVG_HAVE_RSVG
Bitmap renderWithRsvg(const std::string& svg, std::uint32_t width, std::uint32_t height) {
  Bitmap out;
  GError* error = nullptr;
  RsvgHandle* handle = rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(svg.data()), svg.size(), &error);
  if (!handle) {
    if (error) g_error_free(error);
    return out;
  }
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(width), int(height));
  cairo_t* cr = cairo_create(surface);
  cairo_set_tolerance(cr, 0.01);
  RsvgRectangle viewport{0, 0, double(width), double(height)};
  gboolean ok = rsvg_handle_render_document(handle, cr, &viewport, &error);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  if (ok) {
    // Cairo's ARGB32 is a native-endian premultiplied 32-bit value: B, G, R, A in memory here.
    out.width = width;
    out.height = height;
    out.stride = 4 * width;
    out.pixels.resize(std::size_t(out.stride) * height);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    for (std::uint32_t y = 0; y < height; ++y) {
      std::memcpy(&out.pixels[y * out.stride], data + std::size_t(y) * stride, out.stride);
    }
  }
  if (error) g_error_free(error);
  cairo_surface_destroy(surface);
  g_object_unref(handle);
  return out;
}

bool savePng(const Bitmap& bitmap, const std::string& path) {
  if (!bitmap.valid()) return false;
  cairo_surface_t* surface =
      cairo_image_surface_create_for_data(const_cast<unsigned char*>(bitmap.pixels.data()), CAIRO_FORMAT_ARGB32,
                                          int(bitmap.width), int(bitmap.height), int(bitmap.stride));
  bool ok = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  return ok;
}

namespace {
struct ReadCursor {
  const std::vector<std::uint8_t>* bytes;
  std::size_t offset;
};
cairo_status_t readPng(void* closure, unsigned char* data, unsigned int length) {
  auto* c = static_cast<ReadCursor*>(closure);
  if (c->bytes->size() - c->offset < length) return CAIRO_STATUS_READ_ERROR;
  std::memcpy(data, c->bytes->data() + c->offset, length);
  c->offset += length;
  return CAIRO_STATUS_SUCCESS;
}
}  // namespace

Bitmap loadPng(const std::vector<std::uint8_t>& bytes) {
  Bitmap out;
  ReadCursor cursor{&bytes, 0};
  cairo_surface_t* surface = cairo_image_surface_create_from_png_stream(readPng, &cursor);
  if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS &&
      cairo_image_surface_get_format(surface) == CAIRO_FORMAT_ARGB32) {
    out.width = std::uint32_t(cairo_image_surface_get_width(surface));
    out.height = std::uint32_t(cairo_image_surface_get_height(surface));
    out.stride = 4 * out.width;
    out.pixels.resize(std::size_t(out.stride) * out.height);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    for (std::uint32_t y = 0; y < out.height; ++y) {
      std::memcpy(&out.pixels[y * out.stride], data + std::size_t(y) * stride, out.stride);
    }
  }
  cairo_surface_destroy(surface);
  return out;
}

std::string screenshotDir() {
  std::string dir = KV_SVG_SCREENSHOT_DIR;
  std::string partial;
  for (std::size_t i = 0; i <= dir.size(); ++i) {
    if (i == dir.size() || dir[i] == '/') {
      if (!partial.empty()) mkdir(partial.c_str(), 0755);
    }
    if (i < dir.size()) partial += dir[i];
  }
  return dir;
}
#endif

}  // namespace KvSvgTest
