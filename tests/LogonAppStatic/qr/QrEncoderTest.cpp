// The QR encoder in both flavours: fixed symbols taken from the reference encoder (which the
// native oracle suite runs against thousands of texts), and random texts of every kind and
// length past the largest symbol, which the encoder and the painter answer without crashing.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "Korvath/View/QRCodePainter.h"
#include "Korvath/View/QrCode.h"

using Korvath::View::Qr::Ecc;
using Korvath::View::Qr::encodeText;
using Korvath::View::Qr::QrCode;

namespace {

std::string repeat(const std::string& unit, std::size_t length) {
  std::string text;
  while (text.size() < length) text += unit;
  return text.substr(0, length);
}

// FNV-1a over the modules, row by row, 1 for dark.
std::uint64_t gridHash(const QrCode& code) {
  std::uint64_t hash = 1469598103934665603ull;
  for (int y = 0; y < code.size(); ++y) {
    for (int x = 0; x < code.size(); ++x) hash = (hash ^ (code.isDark(x, y) ? 1u : 0u)) * 1099511628211ull;
  }
  return hash;
}

}  // namespace

// Each mode, every mask, every level that boost reaches, and the largest texts.
TEST(QrEncoder, SymbolsMatchTheReferenceEncoder) {
  const struct {
    std::string text;
    int version;
    Ecc ecc;
    int mask;
    std::uint64_t hash;
  } cases[] = {
      {"", 1, Ecc::High, 6, 0x8609e59b99700de1ull},
      {"0", 1, Ecc::High, 3, 0xb94cf4bffb3cede9ull},
      {"HELLO WORLD", 1, Ecc::Quartile, 0, 0x75ecdf3fc8c2d27bull},
      {"Hello, world!", 1, Ecc::Medium, 2, 0x117be42fd7139955ull},
      {"Gr\xC3\xBC\xC3\x9F"
       "e aus K\xC3\xB6ln \xE2\x80\x94 \xE6\x9D\xB1\xE4\xBA\xAC",
       2, Ecc::Low, 5, 0x45814db63aef1a8eull},
      {"KVQR1;tt=3;ti=7919", 2, Ecc::Quartile, 7, 0xc9b05562dae57041ull},
      {"KVQR1;tt=3;ti=63352", 2, Ecc::Quartile, 4, 0xb24296ecfd12d27dull},
      {repeat("3141592653", 100), 3, Ecc::Medium, 3, 0x6bbdebb02d43774dull},
      {repeat("KVQR1;s=OCRA-1:HOTP-SHA256-6:QH40-T1M;q=9f86d081884c7d659a2feaa0c55ad015a3bf4f1b;d=4001;", 300), 11,
       Ecc::Low, 7, 0xcc619ab9ecc775fbull},
      {repeat("0123456789", 7089), 40, Ecc::Low, 1, 0x4e5fdc28572e7b64ull},
      {repeat("AC-42 $%*+./:", 4296), 40, Ecc::Low, 2, 0x24bef4b09877470dull},
      {repeat("kvqr;", 2953), 40, Ecc::Low, 2, 0xd3dcc626099f42b5ull},
  };
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

// Every text is encoded, or refused (leaving the symbol empty) exactly when it is longer than
// version 40 holds at level L; the painter agrees with the encoder on the text up to its NUL.
TEST(QrEncoder, RandomTextsEncodeOrAreRefusedAtCapacity) {
  std::mt19937 random(20240611);
  const struct {
    const char* alphabet;  // null: any byte, NUL included
    std::size_t capacity;
  } kinds[] = {{"0123456789", 7089}, {"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 $%*+-./:", 4296}, {nullptr, 2953}};
  Korvath::View::QRCodePainter painter;
  QrCode code;
  for (std::size_t round = 0; round < 900; ++round) {
    const auto& kind = kinds[round % 3];
    // Capacity and one more first; then mostly short texts, as commands are, and every fourth
    // anywhere up to past the capacity.
    std::size_t length = round < 6 ? kind.capacity + round / 3 : random() % (random() % 600 + 1);
    if (round >= 6 && round % 4 == 0) length = random() % (kind.capacity + 200);
    std::string text(length, '\0');
    for (char& c : text) {
      c = kind.alphabet ? kind.alphabet[random() % std::strlen(kind.alphabet)] : static_cast<char>(random() & 0xFF);
    }
    if (!text.empty() && kind.capacity != 7089) text[0] = kind.alphabet ? 'K' : 'k';  // keeps the kind's mode
    SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(length) + " bytes");

    const bool encoded = encodeText(text, code);
    ASSERT_EQ(length <= kind.capacity, encoded);
    ASSERT_EQ(encoded ? 4 * code.version() + 17 : 0, code.size());
    const bool expected = encodeText(text.c_str(), code);
    ASSERT_EQ(expected, painter.paint(text.c_str()));
    const std::size_t n = static_cast<std::size_t>(code.size());
    EXPECT_EQ(expected ? 54 + n * ((3 * n + 3) / 4 * 4) : 0, painter.imageLength());
  }
}
