// The BMP that the QR-code panel draws: header bytes, bottom-up rows, padding, and what a failed
// paint leaves behind. The images are saved in the test's build folder for people to look at.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <new>
#include <string>

#include "Korvath/View/QRCodePainter.h"
#include "Korvath/View/QrCode.h"

using Korvath::View::QRCodePainter;

namespace {
std::atomic<bool> refuseArrays{false};
}  // namespace

// The painter allocates its image with nothrow array new; while armed, that allocation fails.
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (refuseArrays) return nullptr;
  try {
    return ::operator new[](size);
  } catch (...) {
    return nullptr;
  }
}

namespace {

std::uint32_t le(const unsigned char* at, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | at[i];
  return value;
}

}  // namespace

TEST(QRCodePainter, PaintsTheSymbolAsBottomUp24BitBmp) {
  const struct {
    std::string text;
    std::uint32_t n, rowBytes, fileSize;
  } cases[] = {
      {"HELLO WORLD", 21, 64, 1398},
      {std::string(300, 'k'), 61, 184, 11278},
      {std::string(2953, 'k'), 177, 532, 94218},
  };
  QRCodePainter painter;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    ASSERT_TRUE(painter.paint(c.text.c_str()));
    ASSERT_EQ(c.fileSize, painter.imageLength());
    const unsigned char* bmp = painter.image();
    const std::uint32_t header[][3] = {{0, 2, 0x4D42}, {2, 4, c.fileSize}, {6, 4, 0},  {10, 4, 54}, {14, 4, 40},
                                       {18, 4, c.n},   {22, 4, c.n},       {26, 2, 1}, {28, 2, 24}, {30, 4, 0},
                                       {34, 4, 0},     {38, 4, 0},         {42, 4, 0}, {46, 4, 0},  {50, 4, 0}};
    for (const auto& f : header) EXPECT_EQ(f[2], le(bmp + f[0], static_cast<int>(f[1]))) << "offset " << f[0];

    // Stored row s is module row n - 1 - s: the first stored row is the bottom of the symbol.
    Korvath::View::Qr::QrCode code;
    ASSERT_TRUE(Korvath::View::Qr::encodeText(c.text, code));
    int wrong = 0;
    for (std::uint32_t s = 0; s < c.n; ++s) {
      const unsigned char* row = bmp + 54 + s * c.rowBytes;
      for (std::uint32_t b = 0; b < c.rowBytes; ++b) {
        const bool dark = b < 3 * c.n && code.isDark(static_cast<int>(b / 3), static_cast<int>(c.n - 1 - s));
        wrong += row[b] != (dark ? 0 : 255);
      }
    }
    EXPECT_EQ(0, wrong) << "pixel or padding bytes off the symbol";
    if (std::FILE* f = std::fopen(("qr_painter_version" + std::to_string(code.version()) + ".bmp").c_str(), "wb")) {
      std::fwrite(bmp, 1, painter.imageLength(), f);
      std::fclose(f);
    }
  }
}

// Whatever makes a paint fail, the image from before is gone, so the panel can never show a
// code that does not belong to the current command; the next paint works again.
TEST(QRCodePainter, FailureLeavesNoImage) {
  const std::string tooLong(2954, 'z');
  const struct {
    const char* what;
    std::function<bool(QRCodePainter&)> action;
  } cases[] = {
      {"null command", [](QRCodePainter& p) { return p.paint(nullptr); }},
      {"text too long for version 40", [&tooLong](QRCodePainter& p) { return p.paint(tooLong.c_str()); }},
      {"no memory for the image",
       [](QRCodePainter& p) {
         refuseArrays = true;
         const bool painted = p.paint("HELLO WORLD");
         refuseArrays = false;
         return painted;
       }},
      {"cleared",
       [](QRCodePainter& p) {
         p.clear();
         return false;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    QRCodePainter painter;
    ASSERT_TRUE(painter.paint("KVQR1;tt=3"));
    EXPECT_FALSE(c.action(painter));
    EXPECT_EQ(nullptr, painter.image());
    EXPECT_EQ(0u, painter.imageLength());
    ASSERT_TRUE(painter.paint("0123456789"));
    EXPECT_EQ(1398u, painter.imageLength());
  }
}
