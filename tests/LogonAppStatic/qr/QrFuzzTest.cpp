// Random texts of every kind and length, past the largest symbol: the encoder and the painter
// answer each one (a symbol or a refusal at exactly the capacity of version 40), never crash,
// and every symbol has its fixed patterns in place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "Korvath/View/QRCodePainter.h"
#include "Korvath/View/QrCode.h"

using Korvath::View::QRCodePainter;
using Korvath::View::Qr::encodeText;
using Korvath::View::Qr::QrCode;

namespace {

// Finders in three corners with their separators, timing patterns, the dark module, and two
// equal copies of the format information.
void expectFixedPatterns(const QrCode& code) {
  const int n = code.size();
  ASSERT_EQ(4 * code.version() + 17, n);
  int wrong = 0;
  const int corners[3][2] = {{0, 0}, {n - 7, 0}, {0, n - 7}};
  for (const auto& corner : corners) {
    for (int dy = -1; dy <= 7; ++dy) {
      for (int dx = -1; dx <= 7; ++dx) {
        const int x = corner[0] + dx, y = corner[1] + dy;
        if (x < 0 || y < 0 || x >= n || y >= n) continue;
        const int ring = std::max(std::abs(2 * dx - 6), std::abs(2 * dy - 6)) / 2;  // 0 centre .. 4 separator
        wrong += code.isDark(x, y) != (ring != 2 && ring != 4);
      }
    }
  }
  for (int i = 8; i < n - 8; ++i) wrong += (code.isDark(i, 6) != (i % 2 == 0)) + (code.isDark(6, i) != (i % 2 == 0));
  wrong += !code.isDark(8, n - 8);
  for (int i = 0; i < 15; ++i) {
    const bool first = i < 6    ? code.isDark(8, i)
                       : i < 8  ? code.isDark(8, i + 1)
                       : i == 8 ? code.isDark(7, 8)
                                : code.isDark(14 - i, 8);
    const bool second = i < 8 ? code.isDark(n - 1 - i, 8) : code.isDark(8, n - 15 + i);
    wrong += first != second;
  }
  EXPECT_EQ(0, wrong) << "modules off their fixed pattern";
}

}  // namespace

TEST(QrFuzz, RandomTextsEncodeOrAreRefusedAtCapacity) {
  std::mt19937 random(20240611);
  const struct {
    const char* alphabet;  // null: any byte, NUL included
    std::size_t capacity;  // of version 40 at level L
  } kinds[] = {{"0123456789", 7089}, {"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 $%*+-./:", 4296}, {nullptr, 2953}};
  QRCodePainter painter;
  for (int round = 0; round < 900; ++round) {
    const auto& kind = kinds[round % 3];
    // Mostly short texts, as commands are; every third round anywhere up to past the capacity.
    const std::size_t length = round % 3 == 0 ? random() % (kind.capacity + 200) : random() % (random() % 600 + 1);
    std::string text(length, '\0');
    for (char& c : text) {
      c = kind.alphabet ? kind.alphabet[random() % std::strlen(kind.alphabet)] : static_cast<char>(random() & 0xFF);
    }
    if (kind.alphabet && kind.capacity == 4296 && !text.empty()) text[0] = 'K';  // not all digits
    if (!kind.alphabet && !text.empty()) text[0] = 'k';                          // not alphanumeric
    SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(length) + " bytes");

    QrCode code;
    const bool encoded = encodeText(text, code);
    ASSERT_EQ(length <= kind.capacity, encoded);
    ASSERT_EQ(!encoded, code.empty());
    if (encoded) expectFixedPatterns(code);

    // The painter reads the text up to its first NUL.
    const std::string upToNul(text.c_str());
    QrCode painted;
    const bool expected = encodeText(upToNul, painted);
    ASSERT_EQ(expected, painter.paint(text.c_str()));
    const std::size_t n = static_cast<std::size_t>(painted.size());
    EXPECT_EQ(expected ? 54 + n * ((3 * n + 3) / 4 * 4) : 0, painter.imageLength());
  }
}
