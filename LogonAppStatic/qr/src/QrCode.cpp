#include "Korvath/View/QrCode.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <utility>

namespace Korvath {
namespace View {
namespace Qr {
namespace {

constexpr int kMaxVersion = 40;
// No text longer than this fits any symbol (7,089 digits at version 40, level L); checking it
// first keeps every later bit count far from overflow.
constexpr std::size_t kMaxTextLength = 7089;

enum class Mode { None, Numeric, Alphanumeric, Byte };

// Error-correction codewords per block and number of blocks, by level (L, M, Q, H) and version.
constexpr std::uint8_t kEccPerBlock[4][kMaxVersion + 1] = {
    {0,  7,  10, 15, 20, 26, 18, 20, 24, 30, 18, 20, 24, 26, 30, 22, 24, 28, 30, 28, 28,
     28, 28, 30, 30, 26, 28, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30},
    {0,  10, 16, 26, 18, 24, 16, 18, 22, 22, 26, 30, 22, 22, 24, 24, 28, 28, 26, 26, 26,
     26, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28},
    {0,  13, 22, 18, 26, 18, 24, 18, 22, 20, 24, 28, 26, 24, 20, 30, 24, 28, 28, 26, 30,
     28, 30, 30, 30, 30, 28, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30},
    {0,  17, 28, 22, 16, 22, 28, 26, 26, 24, 28, 24, 28, 22, 24, 24, 30, 28, 28, 26, 28,
     30, 24, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30},
};
constexpr std::uint8_t kBlockCount[4][kMaxVersion + 1] = {
    {0, 1, 1, 1,  1,  1,  2,  2,  2,  2,  4,  4,  4,  4,  4,  6,  6,  6,  6,  7, 8,
     8, 9, 9, 10, 12, 12, 12, 13, 14, 15, 16, 17, 18, 19, 19, 20, 21, 22, 24, 25},
    {0,  1,  1,  1,  2,  2,  4,  4,  4,  5,  5,  5,  8,  9,  9,  10, 10, 11, 13, 14, 16,
     17, 17, 18, 20, 21, 23, 25, 26, 28, 29, 31, 33, 35, 37, 38, 40, 43, 45, 47, 49},
    {0,  1,  1,  2,  2,  4,  4,  6,  6,  8,  8,  8,  10, 12, 16, 12, 17, 16, 18, 21, 20,
     23, 23, 25, 27, 29, 34, 34, 35, 38, 40, 43, 45, 48, 51, 53, 56, 59, 62, 65, 68},
    {0,  1,  1,  2,  4,  4,  4,  5,  6,  8,  8,  11, 11, 16, 16, 18, 16, 19, 21, 25, 25,
     25, 34, 30, 32, 35, 37, 40, 42, 45, 48, 51, 54, 57, 60, 63, 66, 70, 74, 77, 81},
};

int level(Ecc ecc) { return static_cast<int>(ecc); }

// Modules left for codewords (and remainder bits) once the function patterns are placed.
int rawDataModules(int version) {
  int modules = (16 * version + 128) * version + 64;
  if (version >= 2) {
    const int alignments = version / 7 + 2;
    modules -= (25 * alignments - 10) * alignments - 55;
    if (version >= 7) modules -= 36;  // the two version-information blocks
  }
  return modules;
}

int totalCodewords(int version) { return rawDataModules(version) / 8; }

int dataCodewords(int version, Ecc ecc) {
  return totalCodewords(version) - kEccPerBlock[level(ecc)][version] * kBlockCount[level(ecc)][version];
}

int charCountBits(Mode mode, int version) {
  const int range = version <= 9 ? 0 : version <= 26 ? 1 : 2;
  static constexpr int kBits[3][3] = {{10, 12, 14}, {9, 11, 13}, {8, 16, 16}};
  return kBits[static_cast<int>(mode) - 1][range];
}

int modeIndicator(Mode mode) { return mode == Mode::Numeric ? 0x1 : mode == Mode::Alphanumeric ? 0x2 : 0x4; }

int alphanumericValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  static constexpr char kSymbols[] = " $%*+-./:";
  for (int i = 0; kSymbols[i] != '\0'; ++i) {
    if (kSymbols[i] == static_cast<char>(c)) return 36 + i;
  }
  return -1;
}

Mode modeFor(std::string_view text) {
  if (text.empty()) return Mode::None;
  bool numeric = true;
  for (const char c : text) {
    const int value = alphanumericValue(static_cast<unsigned char>(c));
    if (value < 0) return Mode::Byte;
    if (value > 9) numeric = false;
  }
  return numeric ? Mode::Numeric : Mode::Alphanumeric;
}

// Bits of the segment's data, without its mode indicator and character count.
std::size_t segmentDataBits(Mode mode, std::size_t chars) {
  switch (mode) {
    case Mode::Numeric:
      return chars / 3 * 10 + (chars % 3 == 0 ? 0 : chars % 3 == 1 ? 4 : 7);
    case Mode::Alphanumeric:
      return chars / 2 * 11 + chars % 2 * 6;
    case Mode::Byte:
      return chars * 8;
    case Mode::None:
      break;
  }
  return 0;
}

// Bits of the whole segment at a version, or 0 with `fits` false when its character count
// does not fit that version's count field.
std::size_t segmentBits(Mode mode, std::size_t chars, int version, bool& fits) {
  fits = true;
  if (mode == Mode::None) return 0;
  const int countBits = charCountBits(mode, version);
  if (chars >= (std::size_t{1} << countBits)) {
    fits = false;
    return 0;
  }
  return 4 + countBits + segmentDataBits(mode, chars);
}

class BitWriter {
 public:
  explicit BitWriter(std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  void put(std::uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i, ++bits_) {
      if ((value >> i) & 1u) bytes_[bits_ >> 3] |= static_cast<std::uint8_t>(0x80u >> (bits_ & 7));
    }
  }
  void skip(std::size_t count) { bits_ += count; }
  std::size_t bits() const { return bits_; }

 private:
  std::vector<std::uint8_t>& bytes_;  // zero-filled, as large as the symbol's data capacity
  std::size_t bits_ = 0;
};

// The data codewords: the segment, the terminator, zero bits to the byte boundary and the
// alternating pad codewords up to the capacity of that version and level.
std::vector<std::uint8_t> dataCodewordsFor(std::string_view text, Mode mode, int version, Ecc ecc) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(dataCodewords(version, ecc)), 0);
  BitWriter out(bytes);
  if (mode != Mode::None) {
    out.put(static_cast<std::uint32_t>(modeIndicator(mode)), 4);
    out.put(static_cast<std::uint32_t>(text.size()), charCountBits(mode, version));
    const auto at = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    std::size_t i = 0;
    switch (mode) {
      case Mode::Numeric:
        for (; i + 3 <= text.size(); i += 3)
          out.put((at(i) - '0') * 100u + (at(i + 1) - '0') * 10u + (at(i + 2) - '0'), 10);
        if (text.size() - i == 2) out.put((at(i) - '0') * 10u + (at(i + 1) - '0'), 7);
        if (text.size() - i == 1) out.put(at(i) - '0', 4);
        break;
      case Mode::Alphanumeric:
        for (; i + 2 <= text.size(); i += 2) {
          out.put(static_cast<std::uint32_t>(alphanumericValue(at(i)) * 45 + alphanumericValue(at(i + 1))), 11);
        }
        if (i < text.size()) out.put(static_cast<std::uint32_t>(alphanumericValue(at(i))), 6);
        break;
      default:
        for (; i < text.size(); ++i) out.put(at(i), 8);
        break;
    }
  }
  const std::size_t capacity = bytes.size() * 8;
  out.skip(std::min<std::size_t>(4, capacity - out.bits()));
  out.skip((8 - out.bits() % 8) % 8);
  for (std::size_t k = out.bits() / 8, pad = 0; k < bytes.size(); ++k, ++pad) bytes[k] = pad % 2 == 0 ? 0xEC : 0x11;
  return bytes;
}

// GF(256) with the QR code's field polynomial x^8 + x^4 + x^3 + x^2 + 1.
struct GaloisField {
  std::uint8_t exp[512];
  std::uint8_t log[256];
  constexpr GaloisField() : exp(), log() {
    unsigned x = 1;
    for (int i = 0; i < 255; ++i) {
      exp[i] = static_cast<std::uint8_t>(x);
      log[x] = static_cast<std::uint8_t>(i);
      x <<= 1;
      if (x & 0x100u) x ^= 0x11Du;
    }
    for (int i = 255; i < 512; ++i) exp[i] = exp[i - 255];
  }
  constexpr std::uint8_t mul(std::uint8_t a, std::uint8_t b) const {
    return a == 0 || b == 0 ? 0 : exp[log[a] + log[b]];
  }
};
constexpr GaloisField kField;

// Generator polynomial (x - a^0)(x - a^1)...(x - a^(degree-1)), highest power first, degree + 1 terms.
std::array<std::uint8_t, 31> generator(int degree) {
  std::array<std::uint8_t, 31> g{};
  g[0] = 1;
  for (int i = 0; i < degree; ++i) {
    const std::uint8_t root = kField.exp[i];
    for (int j = i + 1; j >= 1; --j) g[j] = static_cast<std::uint8_t>(g[j] ^ kField.mul(g[j - 1], root));
  }
  return g;
}

// The block's error-correction codewords: the remainder of data * x^degree by the generator.
void reedSolomon(const std::uint8_t* data, int length, const std::array<std::uint8_t, 31>& g, int degree,
                 std::uint8_t* remainder) {
  for (int j = 0; j < degree; ++j) remainder[j] = 0;
  for (int i = 0; i < length; ++i) {
    const std::uint8_t factor = static_cast<std::uint8_t>(data[i] ^ remainder[0]);
    for (int j = 0; j + 1 < degree; ++j)
      remainder[j] = static_cast<std::uint8_t>(remainder[j + 1] ^ kField.mul(g[j + 1], factor));
    remainder[degree - 1] = kField.mul(g[degree], factor);
  }
}

// Splits the data codewords into the version's blocks (the later blocks one codeword longer),
// adds each block's error correction and interleaves them: data column by column, then
// error correction column by column.
std::vector<std::uint8_t> withErrorCorrection(const std::vector<std::uint8_t>& data, int version, Ecc ecc) {
  const int blocks = kBlockCount[level(ecc)][version];
  const int eccLength = kEccPerBlock[level(ecc)][version];
  const int total = totalCodewords(version);
  const int shortBlocks = blocks - total % blocks;
  const int shortDataLength = total / blocks - eccLength;
  const auto g = generator(eccLength);

  std::vector<std::uint8_t> eccBytes(static_cast<std::size_t>(blocks) * eccLength);
  std::vector<int> starts(static_cast<std::size_t>(blocks));
  for (int b = 0, start = 0; b < blocks; ++b) {
    const int length = shortDataLength + (b < shortBlocks ? 0 : 1);
    starts[static_cast<std::size_t>(b)] = start;
    reedSolomon(data.data() + start, length, g, eccLength, eccBytes.data() + static_cast<std::size_t>(b) * eccLength);
    start += length;
  }
  std::vector<std::uint8_t> out;
  out.reserve(static_cast<std::size_t>(total));
  for (int column = 0; column <= shortDataLength; ++column) {
    for (int b = 0; b < blocks; ++b) {
      if (column < shortDataLength || b >= shortBlocks)
        out.push_back(data[static_cast<std::size_t>(starts[static_cast<std::size_t>(b)] + column)]);
    }
  }
  for (int column = 0; column < eccLength; ++column) {
    for (int b = 0; b < blocks; ++b) out.push_back(eccBytes[static_cast<std::size_t>(b) * eccLength + column]);
  }
  return out;
}

constexpr int kMaxSize = 4 * kMaxVersion + 17;

// The 15-bit format information: level and mask under a BCH(15,5) code, then XOR 0x5412.
unsigned formatBits(Ecc ecc, int mask) {
  static constexpr unsigned kLevelBits[4] = {1, 0, 3, 2};  // L, M, Q, H
  const unsigned data = kLevelBits[level(ecc)] << 3 | static_cast<unsigned>(mask);
  unsigned remainder = data;
  for (int i = 0; i < 10; ++i) remainder = (remainder << 1) ^ ((remainder >> 9) * 0x537u);
  return ((data << 10) | remainder) ^ 0x5412u;
}

// Calls f(x, y, bit) for both copies of the format information (bit 0 to 14) and for the
// always-dark module beside the lower-left finder (bit -1).
template <typename F>
void forEachFormatModule(int size, F f) {
  for (int i = 0; i <= 5; ++i) f(8, i, i);
  f(8, 7, 6);
  f(8, 8, 7);
  f(7, 8, 8);
  for (int i = 9; i < 15; ++i) f(14 - i, 8, i);
  for (int i = 0; i < 8; ++i) f(size - 1 - i, 8, i);
  for (int i = 8; i < 15; ++i) f(8, size - 15 + i, i);
  f(8, size - 8, -1);
}

constexpr bool maskCovers(int mask, int x, int y) {
  switch (mask) {
    case 0:
      return (x + y) % 2 == 0;
    case 1:
      return y % 2 == 0;
    case 2:
      return x % 3 == 0;
    case 3:
      return (x + y) % 3 == 0;
    case 4:
      return (x / 3 + y / 2) % 2 == 0;
    case 5:
      return x * y % 2 + x * y % 3 == 0;
    case 6:
      return (x * y % 2 + x * y % 3) % 2 == 0;
    default:
      return ((x + y) % 2 + x * y % 3) % 2 == 0;
  }
}

// Every mask repeats every 6 columns and every 12 rows, so one tile per mask serves the symbol.
struct MaskTiles {
  std::uint8_t covers[8][12][6];
  constexpr MaskTiles() : covers() {
    for (int m = 0; m < 8; ++m) {
      for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 6; ++x) covers[m][y][x] = maskCovers(m, x, y) ? 1 : 0;
      }
    }
  }
};
constexpr MaskTiles kMaskTiles;

// N1 and N3 of one row or column. The line is cut into runs, alternately light and dark,
// starting with a light run (empty when the line starts dark) and ending with a light run
// (added empty when it ends dark). Runs of five or more cost their length - 2. Every light
// run closes a candidate 1:1:3:1:1 pattern (dark, light, dark x3, light, dark) that costs 40
// for each side with four or more light modules while the other side has at least one; the
// symbol's border counts as light on both ends.
long linePenalty(const std::uint8_t* module, std::ptrdiff_t stride, int size, int* runs) {
  int count = 0;
  bool dark = false;
  int length = 0;
  for (int i = 0; i < size; ++i, module += stride) {
    if ((*module != 0) == dark) {
      ++length;
    } else {
      runs[count++] = length;
      dark = !dark;
      length = 1;
    }
  }
  runs[count++] = length;
  if (dark) runs[count++] = 0;

  long score = 0;
  for (int k = 0; k < count; ++k) {
    if (runs[k] >= 5) score += runs[k] - 2;
  }
  runs[0] += size;
  runs[count - 1] += size;
  for (int k = 6; k < count; k += 2) {
    const int n = runs[k - 1];
    if (runs[k - 2] != n || runs[k - 3] != 3 * n || runs[k - 4] != n || runs[k - 5] != n) continue;
    if (runs[k] >= 4 * n && runs[k - 6] >= n) score += 40;
    if (runs[k - 6] >= 4 * n && runs[k] >= n) score += 40;
  }
  return score;
}

// Penalty of a masked symbol: N1 and N3 over rows and columns, 3 for every 2x2 block of one
// colour (N2), and 10 for every 5 % step of the dark share away from one half (N4).
long penalty(const std::vector<std::uint8_t>& modules, int size) {
  int runs[kMaxSize + 2];
  long score = 0;
  for (int line = 0; line < size; ++line) {
    score += linePenalty(modules.data() + static_cast<std::size_t>(line) * size, 1, size, runs);
    score += linePenalty(modules.data() + line, size, size, runs);
  }
  for (int y = 0; y + 1 < size; ++y) {
    const std::uint8_t* const top = modules.data() + static_cast<std::size_t>(y) * size;
    const std::uint8_t* const bottom = top + size;
    for (int x = 0; x + 1 < size; ++x) {
      const std::uint8_t m = top[x];
      if (m == top[x + 1] && m == bottom[x] && m == bottom[x + 1]) score += 3;
    }
  }
  long dark = 0;
  for (const std::uint8_t m : modules) dark += m;
  const long total = static_cast<long>(size) * size;
  // Smallest k with 45 - 5k <= dark % <= 55 + 5k (size is odd, so the share is never exactly half).
  const long k = (std::labs(dark * 20 - total * 10) + total - 1) / total - 1;
  return score + k * 10;
}

// The symbol before masking: function patterns and the placed codewords.
class Matrix {
 public:
  explicit Matrix(int version)
      : version_(version),
        size_(4 * version + 17),
        dark_(static_cast<std::size_t>(size_) * size_, 0),
        function_(dark_.size(), 0) {
    drawFunctionPatterns();
  }

  int size() const { return size_; }

  // Fills the non-function modules in the two-column zig-zag from the bottom right, skipping
  // the vertical timing column; remainder modules stay light.
  void placeCodewords(const std::vector<std::uint8_t>& codewords) {
    const std::size_t bitCount = codewords.size() * 8;
    std::size_t bit = 0;
    for (int right = size_ - 1; right >= 1; right -= 2) {
      if (right == 6) right = 5;
      const bool upward = ((right + 1) & 2) == 0;
      for (int step = 0; step < size_; ++step) {
        const int y = upward ? size_ - 1 - step : step;
        for (int x = right; x >= right - 1; --x) {
          if (function_[index(x, y)] || bit >= bitCount) continue;
          dark_[index(x, y)] = (codewords[bit >> 3] >> (7 - (bit & 7))) & 1u;
          ++bit;
        }
      }
    }
  }

  // The finished symbol under one mask, with that mask's format information.
  void masked(int mask, Ecc ecc, std::vector<std::uint8_t>& out) const {
    out = dark_;
    for (int y = 0; y < size_; ++y) {
      const std::uint8_t* const tile = kMaskTiles.covers[mask][y % 12];
      const std::size_t row = static_cast<std::size_t>(y) * size_;
      for (int x = 0, column = 0; x < size_; ++x, column = column == 5 ? 0 : column + 1) {
        out[row + x] ^= static_cast<std::uint8_t>(tile[column] & (function_[row + x] ^ 1u));
      }
    }
    const unsigned bits = formatBits(ecc, mask);
    forEachFormatModule(size_, [&](int x, int y, int bit) {
      out[index(x, y)] = bit < 0 ? 1 : static_cast<std::uint8_t>((bits >> bit) & 1u);
    });
  }

 private:
  std::size_t index(int x, int y) const { return static_cast<std::size_t>(y) * size_ + x; }

  void set(int x, int y, bool dark) {
    dark_[index(x, y)] = dark ? 1 : 0;
    function_[index(x, y)] = 1;
  }

  void drawFunctionPatterns() {
    for (int i = 0; i < size_; ++i) {
      set(6, i, i % 2 == 0);
      set(i, 6, i % 2 == 0);
    }
    drawFinder(3, 3);
    drawFinder(size_ - 4, 3);
    drawFinder(3, size_ - 4);

    const std::vector<int> centres = alignmentCentres();
    const std::size_t count = centres.size();
    for (std::size_t i = 0; i < count; ++i) {
      for (std::size_t j = 0; j < count; ++j) {
        const bool besideFinder = (i == 0 && j == 0) || (i == 0 && j == count - 1) || (i == count - 1 && j == 0);
        if (!besideFinder) drawAlignment(centres[i], centres[j]);
      }
    }
    // Reserved here; the bits are written with each mask.
    forEachFormatModule(size_, [this](int x, int y, int) { set(x, y, false); });
    drawVersion();
  }

  // Finder with its light separator, clipped at the symbol's edge.
  void drawFinder(int cx, int cy) {
    for (int dy = -4; dy <= 4; ++dy) {
      for (int dx = -4; dx <= 4; ++dx) {
        const int x = cx + dx, y = cy + dy;
        if (x < 0 || y < 0 || x >= size_ || y >= size_) continue;
        const int ring = std::max(std::abs(dx), std::abs(dy));
        set(x, y, ring != 2 && ring != 4);
      }
    }
  }

  void drawAlignment(int cx, int cy) {
    for (int dy = -2; dy <= 2; ++dy) {
      for (int dx = -2; dx <= 2; ++dx) set(cx + dx, cy + dy, std::max(std::abs(dx), std::abs(dy)) != 1);
    }
  }

  // Row and column of the alignment centres: 6, then evenly spaced (even steps) up to size - 7.
  std::vector<int> alignmentCentres() const {
    if (version_ == 1) return {};
    const int count = version_ / 7 + 2;
    const int step = version_ == 32 ? 26 : (version_ * 4 + count * 2 + 1) / (count * 2 - 2) * 2;
    std::vector<int> centres(static_cast<std::size_t>(count));
    centres[0] = 6;
    for (int i = count - 1, position = size_ - 7; i >= 1; --i, position -= step)
      centres[static_cast<std::size_t>(i)] = position;
    return centres;
  }

  // Versions 7 and up: 6 version bits under a BCH(18,6) code, above the lower-left finder and
  // left of the upper-right one.
  void drawVersion() {
    if (version_ < 7) return;
    unsigned remainder = static_cast<unsigned>(version_);
    for (int i = 0; i < 12; ++i) remainder = (remainder << 1) ^ ((remainder >> 11) * 0x1F25u);
    const unsigned bits = static_cast<unsigned>(version_) << 12 | remainder;
    for (int i = 0; i < 18; ++i) {
      const bool bit = ((bits >> i) & 1u) != 0;
      const int a = size_ - 11 + i % 3, b = i / 3;
      set(a, b, bit);
      set(b, a, bit);
    }
  }

  int version_;
  int size_;
  std::vector<std::uint8_t> dark_;
  std::vector<std::uint8_t> function_;
};

}  // namespace

bool encodeText(std::string_view text, QrCode& out) noexcept {
  out = QrCode();
  if (text.size() > kMaxTextLength) return false;
  try {
    const Mode mode = modeFor(text);
    int version = 1;
    std::size_t usedBits = 0;
    for (;; ++version) {
      if (version > kMaxVersion) return false;
      bool fits = false;
      usedBits = segmentBits(mode, text.size(), version, fits);
      if (fits && usedBits <= static_cast<std::size_t>(dataCodewords(version, Ecc::Low)) * 8) break;
    }
    Ecc ecc = Ecc::Low;
    for (const Ecc higher : {Ecc::Medium, Ecc::Quartile, Ecc::High}) {
      if (usedBits <= static_cast<std::size_t>(dataCodewords(version, higher)) * 8) ecc = higher;
    }

    Matrix matrix(version);
    matrix.placeCodewords(withErrorCorrection(dataCodewordsFor(text, mode, version, ecc), version, ecc));
    // The first mask of least penalty wins.
    QrCode code;
    std::vector<std::uint8_t> candidate;
    long bestPenalty = 0;
    for (int mask = 0; mask < 8; ++mask) {
      matrix.masked(mask, ecc, candidate);
      const long score = penalty(candidate, matrix.size());
      if (mask == 0 || score < bestPenalty) {
        bestPenalty = score;
        code.mask_ = mask;
        code.modules_.swap(candidate);
      }
    }
    code.version_ = version;
    code.size_ = matrix.size();
    code.ecc_ = ecc;
    out = std::move(code);
    return true;
  } catch (...) {
    out = QrCode();
    return false;
  }
}

}  // namespace Qr
}  // namespace View
}  // namespace Korvath
