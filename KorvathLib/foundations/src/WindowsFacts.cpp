// The portable parts of the machine facts; the flavour supplies the queries.
#include <cctype>
#include <cstring>

#include "Korvath/WindowsFacts.h"

namespace Korvath {
namespace Utils {

namespace {

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::uint32_t readU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t readU64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(readU32(p)) | (static_cast<std::uint64_t>(readU32(p + 4)) << 32);
}

// Packed 64-bit KERB_CERTIFICATE_LOGON: MessageType (4, padded to 8), DomainName,
// UserName and Pin (UNICODE_STRING, 16 each: Length 2, MaximumLength 2, padding 4,
// Buffer 8 holding an offset from the start), Flags (4), CspDataLength (4), CspData
// (8, an offset). KERB_CERTIFICATE_UNLOCK_LOGON begins with the same structure.
constexpr std::size_t kCertLogonSize = 72;
constexpr std::size_t kCspDataLengthOffset = 60;
constexpr std::size_t kCspDataOffset = 64;
constexpr std::uint32_t kKerbCertificateLogon = 13;
constexpr std::uint32_t kKerbCertificateUnlockLogon = 15;

// KERB_SMARTCARD_CSP_INFO: dwCspInfoLen, MessageType, ContextInformation (8), flags,
// KeySpec, then the card, reader, container and CSP name offsets, counted in UTF-16
// units from bBuffer at byte 40.
constexpr std::size_t kCspHeaderSize = 40;
constexpr std::size_t kReaderNameOffsetField = 28;

}  // namespace

std::string windowsVersionName(const std::string& productName, std::uint32_t build) {
  if (build < 22000) return productName;
  // Replace the first "10" that stands alone as a number.
  for (std::size_t pos = productName.find("10"); pos != std::string::npos;
       pos = productName.find("10", pos + 1)) {
    const bool digitBefore = pos > 0 && std::isdigit(static_cast<unsigned char>(productName[pos - 1]));
    const bool digitAfter =
        pos + 2 < productName.size() && std::isdigit(static_cast<unsigned char>(productName[pos + 2]));
    if (!digitBefore && !digitAfter) {
      std::string out = productName;
      out.replace(pos, 2, "11");
      return out;
    }
  }
  return productName;
}

bool isWindows8OrServer2012Name(const std::string& productName) {
  return productName.find("Windows 8") != std::string::npos || productName.find("2012") != std::string::npos;
}

bool isWindows8OrServer2012() { return isWindows8OrServer2012Name(getWindowsVersionName()); }

bool isLocalDomain(const std::string& domain) {
  if (domain == ".") return true;
  const std::string computer = getComputerName();
  return !computer.empty() && equalsIgnoringCase(domain, computer);
}

bool isWindowsHelloCertificateLogon(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size < kCertLogonSize) return false;
  const std::uint32_t messageType = readU32(data);
  if (messageType != kKerbCertificateLogon && messageType != kKerbCertificateUnlockLogon) return false;
  const std::uint32_t cspLength = readU32(data + kCspDataLengthOffset);
  const std::uint64_t cspOffset = readU64(data + kCspDataOffset);
  if (cspLength < kCspHeaderSize || cspOffset > size || cspLength > size - cspOffset) return false;
  const std::uint8_t* csp = data + cspOffset;
  // The CSP record's own length must fit inside the space the logon gives it.
  const std::uint32_t cspInfoLength = readU32(csp);
  if (cspInfoLength < kCspHeaderSize || cspInfoLength > cspLength) return false;
  const std::uint64_t readerUnits = readU32(csp + kReaderNameOffsetField);
  const std::uint64_t readerStart = kCspHeaderSize + readerUnits * 2;
  if (readerStart >= cspInfoLength) return false;
  // The reader name is NUL-terminated UTF-16 inside the record; no terminator, no name.
  std::string reader;
  bool terminated = false;
  for (std::uint64_t at = readerStart; at + 1 < cspInfoLength; at += 2) {
    const std::uint16_t unit = static_cast<std::uint16_t>(csp[at] | (csp[at + 1] << 8));
    if (unit == 0) {
      terminated = true;
      break;
    }
    reader.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  }
  return terminated && reader.find("Windows Hello") != std::string::npos;
}

bool isWindowsHelloCertificateLogon(const std::vector<std::uint8_t>& serialization) {
  return isWindowsHelloCertificateLogon(serialization.data(), serialization.size());
}

}  // namespace Utils
}  // namespace Korvath
