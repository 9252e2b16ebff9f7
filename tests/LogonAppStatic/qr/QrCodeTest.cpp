// The QR encoder in both flavours: fixed symbols (taken from the reference encoder, which the
// native oracle suite runs against thousands of texts) and the version-40 limits.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "Korvath/View/QrCode.h"
#include "QrTestSupport.h"

using Korvath::View::Qr::Ecc;
using Korvath::View::Qr::encodeText;
using Korvath::View::Qr::QrCode;
using QrTest::repeat;

namespace {

// FNV-1a over the modules, row by row, 1 for dark.
std::uint64_t gridHash(const QrCode& code) {
  std::uint64_t hash = 1469598103934665603ull;
  for (int y = 0; y < code.size(); ++y) {
    for (int x = 0; x < code.size(); ++x) {
      hash ^= code.isDark(x, y) ? 1u : 0u;
      hash *= 1099511628211ull;
    }
  }
  return hash;
}

struct Known {
  std::string text;
  int version;
  Ecc ecc;
  int mask;
  std::uint64_t hash;
};

}  // namespace

// One symbol per mode, every mask, level boost to every level, and the three largest texts.
TEST(QrEncoder, SymbolsMatchTheReferenceEncoder) {
  const Known cases[] = {
      {"", 1, Ecc::High, 6, 0x8609e59b99700de1ull},
      {"0", 1, Ecc::High, 3, 0xb94cf4bffb3cede9ull},
      {"01234567", 1, Ecc::High, 6, 0xaace3b8a69256821ull},
      {"HELLO WORLD", 1, Ecc::Quartile, 0, 0x75ecdf3fc8c2d27bull},
      {"Hello, world!", 1, Ecc::Medium, 2, 0x117be42fd7139955ull},
      {"Gr\xC3\xBC\xC3\x9F"
       "e aus K\xC3\xB6ln \xE2\x80\x94 \xE6\x9D\xB1\xE4\xBA\xAC",
       2, Ecc::Low, 5, 0x45814db63aef1a8eull},
      {"KVQR1;tt=3;ti=7919", 2, Ecc::Quartile, 7, 0xc9b05562dae57041ull},
      {"KVQR1;tt=3;ti=63352", 2, Ecc::Quartile, 4, 0xb24296ecfd12d27dull},
      {repeat("3141592653", 100), 3, Ecc::Medium, 3, 0x6bbdebb02d43774dull},
      {repeat("KVQR1/", 77), 3, Ecc::Low, 2, 0x5aa320fb3a36e644ull},
      {repeat("KVQR1;s=OCRA-1:HOTP-SHA256-6:QH40-T1M;q=9f86d081884c7d659a2feaa0c55ad015a3bf4f1b;d=4001;", 300), 11,
       Ecc::Low, 7, 0xcc619ab9ecc775fbull},
      {repeat("0123456789", 7089), 40, Ecc::Low, 1, 0x4e5fdc28572e7b64ull},
      {repeat("AC-42 $%*+./:", 4296), 40, Ecc::Low, 2, 0x24bef4b09877470dull},
      {repeat("kvqr;", 2953), 40, Ecc::Low, 2, 0xd3dcc626099f42b5ull},
  };
  for (const Known& c : cases) {
    SCOPED_TRACE("text of " + std::to_string(c.text.size()) + " bytes: " + c.text.substr(0, 24));
    QrCode code;
    ASSERT_TRUE(encodeText(c.text, code));
    EXPECT_EQ(c.version, code.version());
    EXPECT_EQ(4 * c.version + 17, code.size());
    EXPECT_EQ(c.ecc, code.ecc());
    EXPECT_EQ(c.mask, code.mask());
    EXPECT_EQ(c.hash, gridHash(code));
  }
}

// Version 40 at level L holds 7,089 digits, 4,296 alphanumeric characters or 2,953 bytes; one
// more is refused and leaves the symbol empty, also when it held a symbol before.
TEST(QrEncoder, TextBeyondVersion40IsRefused) {
  const struct {
    std::string unit;
    std::size_t most;
  } modes[] = {{"9", 7089}, {"Z", 4296}, {"z", 2953}};
  for (const auto& m : modes) {
    SCOPED_TRACE(m.unit);
    QrCode code;
    ASSERT_TRUE(encodeText(repeat(m.unit, m.most), code));
    EXPECT_EQ(40, code.version());
    EXPECT_FALSE(encodeText(repeat(m.unit, m.most + 1), code));
    EXPECT_TRUE(code.empty());
    EXPECT_EQ(0, code.size());
    EXPECT_FALSE(code.isDark(0, 0));
  }
  QrCode code;
  EXPECT_FALSE(encodeText(std::string(1000000, '7'), code));
  EXPECT_TRUE(code.empty());
}
