#include "SvgTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#ifdef KV_SVG_HAVE_RSVG
#include <cairo.h>
#include <librsvg/rsvg.h>
#endif

#include "SvgImagesData.h"

namespace KvSvgTest {

const std::vector<Image>& dialogImages() {
  using namespace KvSvgImages;
  // clang-format off
  static const std::vector<Image> images = {
      {"push", 81, 58, &push}, {"qrcode", 81, 58, &qrcode}, {"otp", 81, 58, &otp},
      {"forgot-token", 81, 58, &forgot_token}, {"back", 30, 30, &back}, {"back-about", 30, 30, &back_about},
      {"back-howto", 30, 30, &back_howto}, {"about", 20, 20, &about}, {"dialog-artwork", 420, 500, &dialog_artwork},
      {"background", 840, 500, &background}, {"authentication", 112, 112, &authentication}, {"logo", 251, 72, &logo}};
  // clang-format on
  return images;
}

const std::string& appIconSvg() { return KvSvgImages::app_icon; }

namespace {
std::string svg(const std::string& viewBox, const std::string& body, const std::string& attributes = "") {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" viewBox=\"" + viewBox +
         "\"" + attributes + ">" + body + "</svg>";
}

std::string aspectBody(int cx) {
  return "<rect width='40' height='20' fill='#2f6fd1'/><circle cx='" + std::to_string(cx) +
         "' cy='10' r='8' fill='#fff'/>";
}

const std::vector<Feature> kFeatures = {
    {"arcs",
     svg("0 0 100 100",
         "<g fill='none' stroke='#2f6fd1' stroke-width='2'>"
         "<path d='M10 30 A15 10 0 0 0 40 30'/><path d='M10 30 A15 10 0 0 1 40 30' stroke='#c33'/>"
         "<path d='M55 30 A15 10 0 1 0 85 30'/><path d='M55 30 A15 10 0 1 1 85 30' stroke='#3a3'/>"
         "<path d='M10 70 a20 8 30 0 1 30 10 a5 5 0 1 0 10 0 5 5 0 01 10 0'/>"
         "<path d='M70 60 A1 1 0 0 1 90 80' stroke='#963'/></g>"
         "<path d='M60 90 a10 10 0 1 1 20 0 z' fill='#444'/>"),
     100, 100},
    {"fill-rules",
     svg("0 0 100 50",
         "<polygon points='25,2 39,46 2,18 48,18 11,46' fill='#2f6fd1' fill-rule='evenodd'/>"
         "<polygon points='75,2 89,46 52,18 98,18 61,46' fill='#2f6fd1'/>"
         "<path d='M5 5h20v20h-20z M10 10h10v10h-10z' fill='#c33' fill-opacity='.6' fill-rule='nonzero'/>"
         "<path d='M30 5h15v15h-15z M33 8v9h9v-9z' fill='#3a3'/>"
         "<path d='M55 28h40v20h-40z M60 32h30v12h-30z' fill='#963' fill-rule='evenodd'/>"),
     200, 100},
    {"transforms",
     svg("0 0 100 100",
         "<g transform='translate(50 50)'><rect x='-10' y='-10' width='20' height='20' fill='#2f6fd1' "
         "transform='rotate(30)'/><g transform='scale(1.5 .5) translate(10,-60)'><circle r='8' fill='#c33'/></g>"
         "</g><rect x='5' y='70' width='20' height='20' fill='#3a3' transform='skewX(20)'/>"
         "<rect x='40' y='5' width='20' height='15' fill='#963' transform='skewY(15)'/>"
         "<rect width='10' height='10' fill='#444' transform='matrix(1.2 .3 -.4 1.1 70 70)'/>"
         "<rect x='70' y='10' width='20' height='10' fill='#0aa' transform='rotate(45 80 15)'/>"),
     100, 100},
    {"strokes",
     svg("0 0 120 100",
         "<g stroke='#2f6fd1' stroke-width='8' fill='none'>"
         "<line x1='10' y1='10' x2='40' y2='10'/><line x1='10' y1='30' x2='40' y2='30' stroke-linecap='round'/>"
         "<line x1='10' y1='50' x2='40' y2='50' stroke-linecap='square'/>"
         "<polyline points='55,40 70,10 85,40' stroke-linejoin='miter'/>"
         "<polyline points='55,65 70,35 85,65' stroke-linejoin='round' stroke='#c33'/>"
         "<polyline points='55,90 70,60 85,90' stroke-linejoin='bevel' stroke='#3a3'/>"
         "<polyline points='95,10 115,13 95,16' stroke-width='3' stroke-miterlimit='2'/>"
         "<polyline points='95,30 115,33 95,36' stroke-width='3' stroke-miterlimit='20'/>"
         "<path d='M95 50 q10 -10 20 0 t0 20' stroke-width='4' stroke-linecap='round'/>"
         "<path d='M20 70 h10 M20 80 z' stroke-linecap='round' stroke='#963'/>"
         "</g><g transform='translate(5 85) scale(3 1)'><path d='M0 5 h10 v-5' stroke='#444' stroke-width='2' "
         "fill='none'/></g>"),
     120, 100},
    {"opacity",
     svg("0 0 100 100",
         "<g opacity='.5'><circle cx='35' cy='35' r='25' fill='#2f6fd1'/><circle cx='60' cy='40' r='25' "
         "fill='#c33'/></g>"
         "<rect x='10' y='60' width='40' height='30' fill='#3a3' stroke='#000' stroke-width='6' opacity='.6'/>"
         "<rect x='60' y='60' width='30' height='30' fill='#963' fill-opacity='.4' stroke='#2f6fd1' "
         "stroke-opacity='.7' stroke-width='6'/>"
         "<circle cx='80' cy='15' r='10' fill='rgba(0,128,255,0.5)'/>"),
     100, 100},
    {"shapes",
     svg("0 0 120 80",
         "<rect x='5' y='5' width='30' height='20' rx='6' fill='#2f6fd1'/>"
         "<rect x='45' y='5' width='30' height='20' ry='8' fill='#c33'/>"
         "<rect x='85' y='5' width='30' height='20' rx='40' ry='4' fill='#3a3'/>"
         "<circle cx='20' cy='50' r='15' fill='#963'/><ellipse cx='60' cy='50' rx='20' ry='10' fill='#444'/>"
         "<line x1='85' y1='35' x2='115' y2='75' stroke='#0aa' stroke-width='3'/>"
         "<polyline points='85,75 95,40 105,75' fill='#2f6fd1' fill-opacity='.5' stroke='#000'/>"
         "<polygon points='5,75 15,68 25,75' fill='#c33'/>"
         "<rect x='40' y='65' width='0' height='10' fill='#000'/><circle cx='5' cy='5' r='0'/>"),
     120, 80},
    {"path-commands",
     svg("0 0 100 100",
         "<path d='M10 10 C20 0 30 20 40 10 S60 0 70 10 s10 10 20 0 L90 30 H60 V40 h-20 v-10 l-5 5 -5 -5 "
         "Q20 50 10 40 T10 60 t10 10 q5 5 10 0 Z m50 20 l10 10 10-10z' fill='#2f6fd1' stroke='#000'/>"
         "<path d='M60 90 l5-5 5 5-5 5z M80 80 1.5.5' fill='#c33' stroke='#c33'/>"
         // A path that breaks off draws what came before the error.
         "<path d='M0 80h20v20h-20z M30 80 h10 x v10 h-10z' fill='#3a3'/>"),
     100, 100},
    {"colors",
     svg("0 0 100 60",
         "<rect width='20' height='20' fill='#f80'/><rect x='20' width='20' height='20' fill='#336699'/>"
         "<rect x='40' width='20' height='20' fill='teal'/><rect x='60' width='20' height='20' fill='rgb(200, 30, "
         "90)'/>"
         "<rect x='80' width='20' height='20' fill='rgb(10%,50%,90%)'/>"
         "<g color='#963' fill='#000'><rect y='20' width='20' height='20' fill='currentColor'/>"
         "<rect x='20' y='20' width='20' height='20' fill='red' style='fill:navy; stroke : none'/>"
         "<g fill='#3a3'><rect x='40' y='20' width='20' height='20' fill='inherit'/></g></g>"
         "<rect x='60' y='20' width='20' height='20' style='fill:silver;fill-opacity:50%'/>"
         "<rect x='80' y='20' width='20' height='20' fill='url(#missing) orange'/>"
         "<rect y='40' width='100' height='20' fill='url(#missing)'/>"),
     100, 60},
    {"gradients",
     svg("0 0 100 100",
         "<defs><linearGradient id='a'><stop offset='0' stop-color='#2f6fd1'/><stop offset='1' "
         "stop-color='#fff'/></linearGradient>"
         "<linearGradient id='b' x1='0' y1='0' x2='0' y2='1'><stop offset='20%' stop-color='#c33' "
         "stop-opacity='.1'/>"
         "<stop offset='.5' style='stop-color:#3a3'/><stop offset='80%' stop-color='#2f6fd1'/></linearGradient>"
         "<linearGradient id='c' gradientUnits='userSpaceOnUse' x1='10' y1='60' x2='30' y2='60' "
         "spreadMethod='reflect'><stop offset='0' stop-color='#000'/><stop offset='1' stop-color='#fa0'/>"
         "</linearGradient>"
         "<linearGradient id='d' xlink:href='#c' spreadMethod='repeat'/>"
         "<linearGradient id='e' href='#a' gradientTransform='rotate(45 .5 .5)'/></defs>"
         "<rect x='5' y='5' width='40' height='40' fill='url(#a)'/>"
         "<rect x='55' y='5' width='40' height='40' fill='url(#b)' stroke='url(#a)' stroke-width='3'/>"
         "<rect x='5' y='55' width='40' height='40' fill='url(#c)'/>"
         "<rect x='55' y='55' width='40' height='20' fill='url(#d)'/>"
         "<circle cx='75' cy='87' r='10' fill='url(#e)'/>"),
     100, 100},
    {"display-visibility",
     svg("0 0 60 20",
         "<g display='none'><rect width='60' height='20' fill='#c33'/></g>"
         "<g visibility='hidden'><rect width='20' height='20' fill='#c33'/>"
         "<rect x='20' width='20' height='20' fill='#3a3' visibility='visible'/></g>"
         "<rect x='40' width='20' height='20' fill='#2f6fd1' style='display:inline'/>"
         "<unknown><rect width='60' height='20' fill='#c33'/></unknown>"),
     60, 20},
    // The root's preserveAspectRatio (none given: centred, meet), and a viewBox away from the origin.
    {"aspect-meet", svg("0 0 40 20", aspectBody(20)), 60, 60},
    {"aspect-slice", svg("0 0 40 20", aspectBody(10), " preserveAspectRatio='xMinYMax slice'"), 60, 50},
    {"aspect-max-meet", svg("0 0 40 20", aspectBody(10), " preserveAspectRatio='xMaxYMax'"), 50, 70},
    {"aspect-max-slice", svg("0 0 40 20", aspectBody(30), " preserveAspectRatio='xMaxYMid slice'"), 40, 40},
    {"aspect-none",
     svg("10 10 40 20",
         "<rect x='10' y='10' width='40' height='20' fill='#2f6fd1'/><circle cx='30' cy='20' r='8' fill='#fff'/>",
         " preserveAspectRatio='none'"),
     30, 70},
};
}  // namespace

const std::vector<Feature>& features() { return kFeatures; }

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
  while ((seen += histogram[d.p99]) < target) ++d.p99;
  return d;
}

#ifdef KV_SVG_HAVE_RSVG
namespace {
// Cairo's ARGB32 is a native-endian premultiplied 32-bit value: B, G, R, A in memory here.
Bitmap fromSurface(cairo_surface_t* surface) {
  Bitmap out;
  out.width = std::uint32_t(cairo_image_surface_get_width(surface));
  out.height = std::uint32_t(cairo_image_surface_get_height(surface));
  out.stride = 4 * out.width;
  out.pixels.resize(std::size_t(out.stride) * out.height);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  for (std::uint32_t y = 0; y < out.height; ++y)
    std::memcpy(&out.pixels[y * out.stride], data + std::size_t(y) * cairo_image_surface_get_stride(surface),
                out.stride);
  return out;
}
}  // namespace

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
  if (ok) out = fromSurface(surface);
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

Bitmap loadPng(const std::vector<std::uint8_t>& bytes) {
  Bitmap out;
  std::vector<std::uint8_t> rest(bytes.rbegin(), bytes.rend());  // read from the back
  const auto read = [](void* closure, unsigned char* data, unsigned int length) {
    auto* left = static_cast<std::vector<std::uint8_t>*>(closure);
    if (left->size() < length) return CAIRO_STATUS_READ_ERROR;
    for (unsigned int i = 0; i < length; ++i, left->pop_back()) data[i] = left->back();
    return CAIRO_STATUS_SUCCESS;
  };
  cairo_surface_t* surface = cairo_image_surface_create_from_png_stream(read, &rest);
  if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS &&
      cairo_image_surface_get_format(surface) == CAIRO_FORMAT_ARGB32) {
    out = fromSurface(surface);
  }
  cairo_surface_destroy(surface);
  return out;
}

std::string screenshotDir() {
  std::filesystem::create_directories(KV_SVG_SCREENSHOT_DIR);
  return KV_SVG_SCREENSHOT_DIR;
}
#endif

}  // namespace KvSvgTest
