#include "Commons/Encoding.h"

#include <array>

namespace Commons {
namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::array<std::uint32_t, 256> makeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1U) ? (0xEDB88320U ^ (c >> 1)) : (c >> 1);
    table[i] = c;
  }
  return table;
}

}  // namespace

namespace Base64 {

std::string encode(const std::uint8_t* data, std::size_t size) {
  // Written in place: sealed configurations and log records are tens of kilobytes.
  std::string out(((size + 2) / 3) * 4, '\0');
  char* o = &out[0];
  std::size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    const std::uint32_t v = (std::uint32_t(data[i]) << 16) | (std::uint32_t(data[i + 1]) << 8) | data[i + 2];
    o[0] = kAlphabet[(v >> 18) & 63];
    o[1] = kAlphabet[(v >> 12) & 63];
    o[2] = kAlphabet[(v >> 6) & 63];
    o[3] = kAlphabet[v & 63];
    o += 4;
  }
  const std::size_t rest = size - i;
  if (rest == 1) {
    const std::uint32_t v = std::uint32_t(data[i]) << 16;
    o[0] = kAlphabet[(v >> 18) & 63];
    o[1] = kAlphabet[(v >> 12) & 63];
    o[2] = '=';
    o[3] = '=';
  } else if (rest == 2) {
    const std::uint32_t v = (std::uint32_t(data[i]) << 16) | (std::uint32_t(data[i + 1]) << 8);
    o[0] = kAlphabet[(v >> 18) & 63];
    o[1] = kAlphabet[(v >> 12) & 63];
    o[2] = kAlphabet[(v >> 6) & 63];
    o[3] = '=';
  }
  return out;
}

std::string encode(const Bytes& data) { return encode(data.data(), data.size()); }

std::string encode(const std::string& data) {
  return encode(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
}

bool decode(const std::string& text, Bytes& out) {
  out.clear();
  if (text.size() % 4 != 0) return false;
  static const std::array<std::int8_t, 256> values = [] {
    std::array<std::int8_t, 256> table{};
    for (int c = 0; c < 256; ++c) table[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(base64Value(static_cast<char>(c)));
    return table;
  }();
  Bytes result(text.size() / 4 * 3);
  std::uint8_t* o = result.data();
  const unsigned char* t = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      const unsigned char c = t[i + static_cast<std::size_t>(k)];
      if (c == '=') {
        // Padding only in the last group, only in its last two places, and nothing after it.
        if (!last || k < 2) return false;
        ++pad;
        v[k] = 0;
      } else {
        if (pad != 0) return false;
        v[k] = values[c];
        if (v[k] < 0) return false;
      }
    }
    const std::uint32_t n = (std::uint32_t(v[0]) << 18) | (std::uint32_t(v[1]) << 12) |
                            (std::uint32_t(v[2]) << 6) | std::uint32_t(v[3]);
    *o++ = std::uint8_t(n >> 16);
    if (pad < 2) *o++ = std::uint8_t(n >> 8);
    if (pad < 1) *o++ = std::uint8_t(n);
    // Non-canonical encodings (stray bits under the padding) are refused.
    if ((pad == 1 && (n & 0xFFU) != 0) || (pad == 2 && (n & 0xFFFFU) != 0)) return false;
  }
  result.resize(static_cast<std::size_t>(o - result.data()));
  out.swap(result);
  return true;
}

}  // namespace Base64

namespace Hex {

std::string encode(const std::uint8_t* data, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 15];
  }
  return out;
}

std::string encode(const Bytes& data) { return encode(data.data(), data.size()); }

std::string encode(const std::string& data) {
  return encode(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
}

bool decode(const std::string& text, Bytes& out) {
  out.clear();
  if (text.size() % 2 != 0) return false;
  Bytes result;
  result.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int hi = hexValue(text[i]);
    const int lo = hexValue(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    result.push_back(std::uint8_t((hi << 4) | lo));
  }
  out.swap(result);
  return true;
}

}  // namespace Hex

void appendLengthPrefixed(Bytes& out, const std::string& text) {
  const std::uint32_t n = static_cast<std::uint32_t>(text.size());
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(n >> shift));
  out.insert(out.end(), text.begin(), text.end());
}

namespace Crc32 {

std::uint32_t compute(const std::uint8_t* data, std::size_t size, std::uint32_t previous) {
  static const std::array<std::uint32_t, 256> table = makeCrcTable();
  std::uint32_t c = previous ^ 0xFFFFFFFFU;
  for (std::size_t i = 0; i < size; ++i) c = table[(c ^ data[i]) & 0xFFU] ^ (c >> 8);
  return c ^ 0xFFFFFFFFU;
}

std::uint32_t compute(const std::string& data) {
  return compute(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
}

}  // namespace Crc32
}  // namespace Commons
