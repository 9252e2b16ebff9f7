#include "Korvath/LogonMessage.h"

#include <limits>

namespace Korvath {
namespace Authentication {

namespace {

constexpr std::size_t kDomainFieldOffset = 8;
constexpr std::size_t kUserFieldOffset = 24;
constexpr std::size_t kPasswordFieldOffset = 40;
constexpr std::size_t kUnicodeStringSize = 16;
// Type 513: the byte lengths of the user name and of the domain.
constexpr std::size_t kUserLengthOffset = 16;
constexpr std::size_t kDomainLengthOffset = 24;

std::uint32_t readU16(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0] | (p[1] << 8)); }

std::uint32_t readU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t readU64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(readU32(p)) | (static_cast<std::uint64_t>(readU32(p + 4)) << 32);
}

void writeU16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void writeU64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// `bytes` UTF-16LE bytes at `start`, already known to lie inside the buffer. A terminating
// NUL counted in the length is dropped; a NUL inside a name is not a name any account has, and
// the text is refused (the LSA would read the counted text, a lookup would stop at the NUL).
bool decodeText(const std::uint8_t* data, std::uint64_t start, std::uint64_t bytes, std::u16string& out) {
  if (bytes % 2 != 0) return false;
  out.clear();
  out.reserve(static_cast<std::size_t>(bytes / 2));
  for (std::uint64_t at = start; at < start + bytes; at += 2) {
    const char16_t unit = static_cast<char16_t>(readU16(data + at));
    if (unit == 0) return at + 2 == start + bytes;
    out.push_back(unit);
  }
  return true;
}

// The UNICODE_STRING at `field`, whose Buffer is an offset from the start of the message and
// must point past the fixed part.
bool readCountedString(const std::uint8_t* data, std::size_t size, std::size_t fixedSize, std::size_t field,
                       std::u16string& out) {
  const std::uint64_t length = readU16(data + field);
  if (length == 0) {
    out.clear();
    return true;
  }
  const std::uint64_t offset = readU64(data + field + 8);
  if (offset < fixedSize || offset > size || length > size - offset) return false;
  return decodeText(data, offset, length, out);
}

std::size_t fixedSizeOf(std::uint32_t messageType) {
  switch (messageType) {
    case kKerbInteractiveLogon:
      return kInteractiveLogonSize;
    case kKerbWorkstationUnlockLogon:
      return kInteractiveUnlockLogonSize;
    case kKerbCertificateLogon:
      return kCertificateLogonSize;
    case kKerbCertificateUnlockLogon:
      return kCertificateUnlockLogonSize;
    case kKerbNamesAfterHeaderLogon:
      return kNamesAfterHeaderSize;
    default:
      return 0;
  }
}

}  // namespace

LogonMessageNames readLogonMessageNames(const std::uint8_t* data, std::size_t size) {
  LogonMessageNames names;
  if (data == nullptr || size < 4) return names;
  names.messageType = readU32(data);
  const std::size_t fixedSize = fixedSizeOf(names.messageType);
  if (fixedSize == 0 || size < fixedSize) return names;

  std::u16string domain, user;
  bool ok = false;
  if (names.messageType == kKerbNamesAfterHeaderLogon) {
    // The user name at the end of the fixed part, the domain right after it.
    const std::uint64_t userBytes = readU32(data + kUserLengthOffset);
    const std::uint64_t domainBytes = readU32(data + kDomainLengthOffset);
    ok = userBytes + domainBytes <= size - fixedSize && decodeText(data, fixedSize, userBytes, user) &&
         decodeText(data, fixedSize + userBytes, domainBytes, domain);
  } else {
    ok = readCountedString(data, size, fixedSize, kDomainFieldOffset, domain) &&
         readCountedString(data, size, fixedSize, kUserFieldOffset, user);
  }
  if (ok) {
    names.readable = true;
    names.domain = std::move(domain);
    names.userName = std::move(user);
  }
  return names;
}

LogonMessageNames readLogonMessageNames(const std::vector<std::uint8_t>& message) {
  return readLogonMessageNames(message.data(), message.size());
}

std::vector<std::uint8_t> packInteractiveLogon(const std::u16string& domain, const std::u16string& userName,
                                               const std::u16string& password, std::uint32_t messageType) {
  std::size_t fixedSize = 0;
  if (messageType == kKerbInteractiveLogon) fixedSize = kInteractiveLogonSize;
  if (messageType == kKerbWorkstationUnlockLogon) fixedSize = kInteractiveUnlockLogonSize;
  constexpr std::size_t kMaxUnits = std::numeric_limits<std::uint16_t>::max() / 2;
  if (fixedSize == 0 || domain.size() > kMaxUnits || userName.size() > kMaxUnits || password.size() > kMaxUnits) {
    return {};
  }
  // Sized once: a growing vector would leave copies of the password in freed memory.
  std::vector<std::uint8_t> message(fixedSize + 2 * (domain.size() + userName.size() + password.size()), 0);
  std::uint8_t* out = message.data();
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(messageType >> (8 * i));
  std::size_t next = fixedSize;
  const std::u16string* texts[] = {&domain, &userName, &password};
  const std::size_t fields[] = {kDomainFieldOffset, kUserFieldOffset, kPasswordFieldOffset};
  for (int i = 0; i < 3; ++i) {
    const std::u16string& text = *texts[i];
    const auto bytes = static_cast<std::uint32_t>(2 * text.size());
    writeU16(out + fields[i], bytes);      // Length
    writeU16(out + fields[i] + 2, bytes);  // MaximumLength
    writeU64(out + fields[i] + 8, next);   // Buffer, as an offset
    for (char16_t unit : text) {
      writeU16(out + next, unit);
      next += 2;
    }
  }
  static_assert(kPasswordFieldOffset + kUnicodeStringSize == kInteractiveLogonSize, "three strings fill the logon");
  return message;
}

}  // namespace Authentication
}  // namespace Korvath
