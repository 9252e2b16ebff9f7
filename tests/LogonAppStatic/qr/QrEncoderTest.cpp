// The QR encoder and painter in both flavours: fixed symbols taken from the reference encoder
// (which the native oracle suite runs against thousands of texts), the BMP the QR-code panel
// draws (header, bottom-up rows, padding), and what a failed paint leaves behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "Korvath/View/QRCodePainter.h"
#include "Korvath/View/QrCode.h"

using Korvath::View::QRCodePainter;
using namespace Korvath::View::Qr;

namespace {

std::string repeat(const std::string& unit, std::size_t length) {
  std::string text;
  while (text.size() < length) text += unit;
  return text.substr(0, length);
}

// FNV-1a over the modules, row by row, 1 for dark.
std::uint64_t gridHash(const QrCode& code) {
  std::uint64_t hash = 1469598103934665603ull;
  for (int y = 0; y < code.size(); ++y)
    for (int x = 0; x < code.size(); ++x) hash = (hash ^ (code.isDark(x, y) ? 1u : 0u)) * 1099511628211ull;
  return hash;
}

}  // namespace

// Each mode, every mask, every level that boost reaches, and the largest texts.
TEST(QrEncoder, SymbolsMatchTheReferenceEncoder) {
  // clang-format off
  const struct { std::string text; int version; Ecc ecc; int mask; std::uint64_t hash; } cases[] = {
      {"", 1, Ecc::High, 6, 0x8609e59b99700de1ull},
      {"0", 1, Ecc::High, 3, 0xb94cf4bffb3cede9ull},
      {"HELLO WORLD", 1, Ecc::Quartile, 0, 0x75ecdf3fc8c2d27bull},
      {"Hello, world!", 1, Ecc::Medium, 2, 0x117be42fd7139955ull},
      {"Gr\xC3\xBC\xC3\x9F\x65 aus K\xC3\xB6ln \xE2\x80\x94 \xE6\x9D\xB1\xE4\xBA\xAC", 2, Ecc::Low, 5, 0x45814db63aef1a8eull},
      {"KVQR1;tt=3;ti=7919", 2, Ecc::Quartile, 7, 0xc9b05562dae57041ull},
      {"KVQR1;tt=3;ti=63352", 2, Ecc::Quartile, 4, 0xb24296ecfd12d27dull},
      {repeat("3141592653", 100), 3, Ecc::Medium, 3, 0x6bbdebb02d43774dull},
      {repeat("KVQR1;s=OCRA-1:HOTP-SHA256-6:QH40-T1M;q=9f86d081884c7d659a2feaa0c55ad015a3bf4f1b;d=4001;", 300), 11, Ecc::Low, 7, 0xcc619ab9ecc775fbull},
      {repeat("0123456789", 7089), 40, Ecc::Low, 1, 0x4e5fdc28572e7b64ull},
      {repeat("AC-42 $%*+./:", 4296), 40, Ecc::Low, 2, 0x24bef4b09877470dull},
      {repeat("kvqr;", 2953), 40, Ecc::Low, 2, 0xd3dcc626099f42b5ull},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.text.size()) + " bytes: " + c.text.substr(0, 24));
    QrCode code;
    ASSERT_TRUE(encodeText(c.text, code));
    EXPECT_EQ(c.version, code.version());
    EXPECT_EQ(4 * c.version + 17, code.size());
    EXPECT_EQ(c.ecc, code.ecc());
    EXPECT_EQ(c.mask, code.mask());
    EXPECT_EQ(c.hash, gridHash(code));
  }
}

TEST(QRCodePainter, PaintsTheSymbolAsBottomUp24BitBmpAndAFailureLeavesNoImage) {
  // clang-format off
  const struct { std::string text; std::uint32_t n, rowBytes, fileSize; } cases[] = {
      {"HELLO WORLD", 21, 64, 1398}, {std::string(2953, 'k'), 177, 532, 94218}};
  // clang-format on
  QRCodePainter painter;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    ASSERT_TRUE(painter.paint(c.text.c_str()));
    ASSERT_EQ(c.fileSize, painter.imageLength());
    const unsigned char* bmp = painter.image();
    const std::uint32_t header[][3] = {{0, 2, 0x4D42}, {2, 4, c.fileSize}, {6, 4, 0},  {10, 4, 54}, {14, 4, 40},
                                       {18, 4, c.n},   {22, 4, c.n},       {26, 2, 1}, {28, 2, 24}, {30, 4, 0},
                                       {34, 4, 0},     {38, 4, 0},         {42, 4, 0}, {46, 4, 0},  {50, 4, 0}};
    for (const auto& f : header) {
      std::uint32_t value = 0;  // little-endian
      for (std::uint32_t i = f[1]; i-- > 0;) value = value << 8 | bmp[f[0] + i];
      EXPECT_EQ(f[2], value) << "offset " << f[0];
    }
    // Stored row s is module row n - 1 - s: the first stored row is the bottom of the symbol.
    QrCode code;
    ASSERT_TRUE(encodeText(c.text, code));
    int wrong = 0;
    for (std::uint32_t s = 0; s < c.n; ++s) {
      const unsigned char* row = bmp + 54 + s * c.rowBytes;
      for (std::uint32_t b = 0; b < c.rowBytes; ++b) {
        const bool dark = b < 3 * c.n && code.isDark(static_cast<int>(b / 3), static_cast<int>(c.n - 1 - s));
        wrong += row[b] != (dark ? 0 : 255);
      }
    }
    EXPECT_EQ(0, wrong) << "pixel or padding bytes off the symbol";
  }
  // Whatever makes a paint fail, the image from before is gone, so the panel can never show a
  // code that does not belong to the current command; the next paint works again. A text longer
  // than version 40 holds is refused, never a crash.
  const std::string tooLong(2954, 'z');
  for (const char* command : {static_cast<const char*>(nullptr), tooLong.c_str()}) {
    EXPECT_FALSE(painter.paint(command));
    EXPECT_EQ(nullptr, painter.image());
    EXPECT_EQ(0u, painter.imageLength());
    ASSERT_TRUE(painter.paint("HELLO WORLD"));
    EXPECT_EQ(1398u, painter.imageLength());
  }
}
