// The BMP that the QR-code panel draws: header bytes, row order, padding, and what a failed
// paint leaves behind. The images are also saved in the working directory (the build tree)
// for people to look at.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <new>
#include <string>

#include "Korvath/View/QRCodePainter.h"
#include "Korvath/View/QrCode.h"
#include "QrTestSupport.h"

using Korvath::View::QRCodePainter;
using Korvath::View::Qr::QrCode;

namespace {
std::atomic<bool> refuseArrays{false};
}  // namespace

// The painter allocates its image with nothrow array new; while armed, that allocation fails.
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (refuseArrays.load()) return nullptr;
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

void save(const QRCodePainter& painter, const std::string& name) {
  if (std::FILE* f = std::fopen(name.c_str(), "wb")) {
    std::fwrite(painter.image(), 1, painter.imageLength(), f);
    std::fclose(f);
  }
}

// Every pixel is the module of row n - 1 - (stored row), black or white; padding is 255.
void expectPixelsFollowModules(const QRCodePainter& painter, const QrCode& code) {
  const int n = code.size();
  const std::size_t rowBytes = (3 * static_cast<std::size_t>(n) + 3) / 4 * 4;
  ASSERT_EQ(54 + n * rowBytes, painter.imageLength());
  int wrong = 0;
  for (int stored = 0; stored < n; ++stored) {
    const unsigned char* row = painter.image() + 54 + stored * rowBytes;
    for (int x = 0; x < n; ++x) {
      const unsigned char expected = code.isDark(x, n - 1 - stored) ? 0 : 255;
      for (int c = 0; c < 3; ++c) wrong += row[3 * x + c] != expected;
    }
    for (std::size_t pad = 3 * static_cast<std::size_t>(n); pad < rowBytes; ++pad) wrong += row[pad] != 255;
  }
  EXPECT_EQ(0, wrong) << "bytes that do not match the modules";
}

}  // namespace

TEST(QRCodePainter, Version1ImageHeaderAndBottomUpRows) {
  QRCodePainter painter;
  ASSERT_TRUE(painter.paint("HELLO WORLD"));
  save(painter, "qr_painter_version1.bmp");
  ASSERT_EQ(1398u, painter.imageLength());  // 54 + 21 rows of 64 bytes (63 + 1 padding)
  const unsigned char* bmp = painter.image();
  const struct {
    int offset;
    int size;
    std::uint32_t value;
  } fields[] = {
      {0, 2, 0x4D42},  // "BM"
      {2, 4, 1398},   {6, 4, 0},  {10, 4, 54}, {14, 4, 40}, {18, 4, 21}, {22, 4, 21}, {26, 2, 1},
      {28, 2, 24},    {30, 4, 0}, {34, 4, 0},  {38, 4, 0},  {42, 4, 0},  {46, 4, 0},  {50, 4, 0},
  };
  for (const auto& f : fields) EXPECT_EQ(f.value, le(bmp + f.offset, f.size)) << "header offset " << f.offset;

  // The first stored row is the bottom module row: the lower-left finder's bottom edge (seven
  // dark modules), its light separator; the last stored row holds the two upper finders' tops.
  const unsigned char* bottom = bmp + 54;
  const unsigned char* top = bmp + 54 + 20 * 64;
  for (int x = 0; x < 7; ++x) {
    EXPECT_EQ(0, bottom[3 * x] | bottom[3 * x + 1] | bottom[3 * x + 2]) << "bottom row, x " << x;
    EXPECT_EQ(0, top[3 * x] | top[3 * (20 - x)]) << "top row, x " << x;
  }
  EXPECT_EQ(255, bottom[3 * 7]);
  EXPECT_EQ(255, top[3 * 7]);
  EXPECT_EQ(255, top[3 * 13]);

  QrCode code;
  ASSERT_TRUE(Korvath::View::Qr::encodeText("HELLO WORLD", code));
  expectPixelsFollowModules(painter, code);
}

TEST(QRCodePainter, LargerSymbolsPixelForPixel) {
  const std::string texts[] = {
      QrTest::repeat("KVQR1;s=OCRA-1:HOTP-SHA256-6:QH40-T1M;q=3f1e;d=4001,4002;tt=3;ti=a1-b2;td=eyJ0eXBlIjozfQ==", 300),
      QrTest::repeat("0123456789", 2000), QrTest::repeat("kvqr", 2953)};
  QRCodePainter painter;
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.size());
    ASSERT_TRUE(painter.paint(text.c_str()));
    QrCode code;
    ASSERT_TRUE(Korvath::View::Qr::encodeText(text, code));
    const std::uint32_t n = static_cast<std::uint32_t>(code.size());
    EXPECT_EQ(n, le(painter.image() + 18, 4));
    EXPECT_EQ(n, le(painter.image() + 22, 4));
    EXPECT_EQ(painter.imageLength(), le(painter.image() + 2, 4));
    expectPixelsFollowModules(painter, code);
    save(painter, "qr_painter_version" + std::to_string(code.version()) + ".bmp");
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
