#pragma once

// Turns a QR-code command into the image the QR-code panel stretches onto the screen: a whole
// 24-bit BMP file in memory, one pixel per module, no quiet zone (the panel's background is
// the margin). Layout, all integers little-endian, n = modules per side,
// rowBytes = 3 * n rounded up to a multiple of 4:
//   0 "BM" | 2 file size 54 + n * rowBytes | 6 reserved 0 | 10 pixel offset 54 | 14 header size 40
//   | 18 width n | 22 height n (positive: bottom-up) | 26 planes 1 | 28 bits per pixel 24
//   | 30..53 zero (no compression, no size, no resolution, no palette)
//   | 54 pixels: dark 0,0,0, light 255,255,255, padding 255; module row y is image row n - 1 - y.

#include <cstddef>
#include <memory>

namespace Korvath {
namespace View {

class QRCodePainter {
 public:
  QRCodePainter() = default;
  virtual ~QRCodePainter();
  QRCodePainter(const QRCodePainter&) = delete;
  QRCodePainter& operator=(const QRCodePainter&) = delete;

  // Encodes the NUL-terminated command (Korvath::View::Qr::encodeText) and keeps its BMP as the
  // image. The previous image is dropped first, so false (null command, a text too long for
  // any QR code, no memory) leaves no image at all. Nothing is thrown.
  bool paint(const char* qrCommand) noexcept;

  // The whole BMP file, or null with length 0 when there is no image.
  const unsigned char* image() const noexcept { return image_.get(); }
  std::size_t imageLength() const noexcept { return imageLength_; }

  void clear() noexcept;

 private:
  std::unique_ptr<unsigned char[]> image_;
  std::size_t imageLength_ = 0;
};

}  // namespace View
}  // namespace Korvath
