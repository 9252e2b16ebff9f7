#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Commons {

using Bytes = std::vector<std::uint8_t>;

// Base64 with the standard alphabet and '=' padding (RFC 4648, section 4).
namespace Base64 {
std::string encode(const std::uint8_t* data, std::size_t size);
std::string encode(const Bytes& data);
std::string encode(const std::string& data);
// Strict: the length must be a multiple of 4, padding only at the end, no
// whitespace, and unused bits of the last group must be zero. Returns false
// (and leaves `out` empty) for anything else.
bool decode(const std::string& text, Bytes& out);
}  // namespace Base64

// Lower-case hexadecimal; decoding accepts either case.
namespace Hex {
std::string encode(const std::uint8_t* data, std::size_t size);
std::string encode(const Bytes& data);
std::string encode(const std::string& data);
bool decode(const std::string& text, Bytes& out);
}  // namespace Hex

// Appends the 32-bit big-endian byte length of `text`, then its bytes: fields joined
// this way never read as another split of the same bytes.
void appendLengthPrefixed(Bytes& out, const std::string& text);

// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320, as in zlib and PNG).
namespace Crc32 {
std::uint32_t compute(const std::uint8_t* data, std::size_t size, std::uint32_t previous = 0);
std::uint32_t compute(const std::string& data);
}  // namespace Crc32

}  // namespace Commons
