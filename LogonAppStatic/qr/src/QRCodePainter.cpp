#include "Korvath/View/QRCodePainter.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "Korvath/View/QrCode.h"

namespace Korvath {
namespace View {
namespace {

constexpr std::size_t kHeaderSize = 54;

void put16(unsigned char* at, std::uint16_t value) {
  at[0] = static_cast<unsigned char>(value & 0xFF);
  at[1] = static_cast<unsigned char>(value >> 8);
}

void put32(unsigned char* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

QRCodePainter::~QRCodePainter() = default;

void QRCodePainter::clear() noexcept {
  image_.reset();
  imageLength_ = 0;
}

bool QRCodePainter::paint(const char* qrCommand) noexcept {
  clear();
  if (qrCommand == nullptr) return false;
  Qr::QrCode code;
  if (!Qr::encodeText(qrCommand, code)) return false;

  const std::size_t n = static_cast<std::size_t>(code.size());
  const std::size_t rowBytes = (3 * n + 3) / 4 * 4;
  const std::size_t length = kHeaderSize + n * rowBytes;
  std::unique_ptr<unsigned char[]> bmp(new (std::nothrow) unsigned char[length]);
  if (!bmp) return false;

  unsigned char* const p = bmp.get();
  std::memset(p, 0, kHeaderSize);
  p[0] = 'B';
  p[1] = 'M';
  put32(p + 2, static_cast<std::uint32_t>(length));
  put32(p + 10, static_cast<std::uint32_t>(kHeaderSize));
  put32(p + 14, 40);
  put32(p + 18, static_cast<std::uint32_t>(n));
  put32(p + 22, static_cast<std::uint32_t>(n));
  put16(p + 26, 1);
  put16(p + 28, 24);

  unsigned char* const pixels = p + kHeaderSize;
  std::memset(pixels, 255, n * rowBytes);
  for (int y = 0; y < code.size(); ++y) {
    unsigned char* const row = pixels + (n - 1 - static_cast<std::size_t>(y)) * rowBytes;
    for (int x = 0; x < code.size(); ++x) {
      if (code.isDark(x, y)) std::memset(row + 3 * static_cast<std::size_t>(x), 0, 3);
    }
  }
  image_ = std::move(bmp);
  imageLength_ = length;
  return true;
}

}  // namespace View
}  // namespace Korvath
