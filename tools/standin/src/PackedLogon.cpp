#include "KvStandIn/PackedLogon.h"

#include "Korvath/LogonMessage.h"

#include <ntsecapi.h>

#include <cstring>

namespace KvStandIn {

namespace {

// The string buffers follow the fixed record; each UNICODE_STRING's Buffer holds the
// offset of its text from the start of the message.
class Packer {
 public:
  explicit Packer(std::size_t headerSize) : bytes_(headerSize, 0) {}

  void putU32(std::size_t at, std::uint32_t value) { std::memcpy(&bytes_[at], &value, 4); }
  void putU64(std::size_t at, std::uint64_t value) { std::memcpy(&bytes_[at], &value, 8); }

  // A UNICODE_STRING at `at` (Length, MaximumLength, padding, Buffer) for `text`.
  void putString(std::size_t at, const std::wstring& text) {
    const std::uint16_t length = static_cast<std::uint16_t>(text.size() * sizeof(wchar_t));
    std::memcpy(&bytes_[at], &length, 2);
    std::memcpy(&bytes_[at + 2], &length, 2);
    putU64(at + 8, text.empty() ? 0 : append(text.data(), length));
  }

  std::uint64_t append(const void* data, std::size_t size) {
    const std::size_t offset = bytes_.size();
    const auto* first = static_cast<const std::uint8_t*>(data);
    bytes_.insert(bytes_.end(), first, first + size);
    return offset;
  }

  std::vector<std::uint8_t> take() { return std::move(bytes_); }
  std::size_t size() const { return bytes_.size(); }

 private:
  std::vector<std::uint8_t> bytes_;
};

// KERB_SMARTCARD_CSP_INFO: length, message type, context (8), flags, key spec, then the
// card, reader, container and CSP name offsets in characters from the text at byte 40.
std::vector<std::uint8_t> cspInfo(const std::wstring& reader) {
  const std::wstring card = L"Stand-in card";
  const std::wstring container = L"stand-in-container";
  const std::wstring csp = L"Microsoft Base Smart Card Crypto Provider";
  std::wstring text;
  const std::uint32_t cardAt = 0;
  text += card + L'\0';
  const std::uint32_t readerAt = static_cast<std::uint32_t>(text.size());
  text += reader + L'\0';
  const std::uint32_t containerAt = static_cast<std::uint32_t>(text.size());
  text += container + L'\0';
  const std::uint32_t cspAt = static_cast<std::uint32_t>(text.size());
  text += csp + L'\0';
  Packer p(40);
  p.append(text.data(), text.size() * sizeof(wchar_t));
  const std::uint32_t total = static_cast<std::uint32_t>(p.size());
  p.putU32(0, total);
  p.putU32(4, 1);   // CertHashInfo
  p.putU32(20, 1);  // AT_KEYEXCHANGE
  p.putU32(24, cardAt);
  p.putU32(28, readerAt);
  p.putU32(32, containerAt);
  p.putU32(36, cspAt);
  return p.take();
}

}  // namespace

std::vector<std::uint8_t> packInteractiveLogon(std::uint32_t messageType, const std::wstring& domain,
                                               const std::wstring& user, const std::wstring& password) {
  auto u16 = [](const std::wstring& text) { return std::u16string(text.begin(), text.end()); };
  return Korvath::Authentication::packInteractiveLogon(u16(domain), u16(user), u16(password), messageType);
}

std::vector<std::uint8_t> packCertificateLogon(std::uint32_t messageType, const std::wstring& domain,
                                               const std::wstring& user, const std::wstring& pin,
                                               const std::wstring& reader) {
  Packer p(messageType == 15 ? sizeof(KERB_CERTIFICATE_UNLOCK_LOGON) : sizeof(KERB_CERTIFICATE_LOGON));
  p.putU32(0, messageType);
  p.putString(offsetof(KERB_CERTIFICATE_LOGON, DomainName), domain);
  p.putString(offsetof(KERB_CERTIFICATE_LOGON, UserName), user);
  p.putString(offsetof(KERB_CERTIFICATE_LOGON, Pin), pin);
  const std::vector<std::uint8_t> csp = cspInfo(reader);
  const std::uint64_t cspAt = p.append(csp.data(), csp.size());
  p.putU32(offsetof(KERB_CERTIFICATE_LOGON, CspDataLength), static_cast<std::uint32_t>(csp.size()));
  p.putU64(offsetof(KERB_CERTIFICATE_LOGON, CspData), cspAt);
  return p.take();
}

void splitUserName(const std::wstring& typed, std::wstring& domain, std::wstring& user) {
  const std::size_t slash = typed.find(L'\\');
  if (slash != std::wstring::npos) {
    domain = typed.substr(0, slash);
    user = typed.substr(slash + 1);
    return;
  }
  user = typed;
  if (typed.find(L'@') != std::wstring::npos) {
    domain.clear();
    return;
  }
  wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  domain = GetComputerNameW(computer, &size) ? computer : L".";
}

ULONG negotiatePackage() {
  HANDLE lsa = nullptr;
  ULONG package = kWineNegotiatePackage;
  if (LsaConnectUntrusted(&lsa) == 0) {
    char name[] = "Negotiate";
    LSA_STRING text;
    text.Buffer = name;
    text.Length = static_cast<USHORT>(std::strlen(name));
    text.MaximumLength = static_cast<USHORT>(text.Length + 1);
    ULONG found = 0;
    if (LsaLookupAuthenticationPackage(lsa, &text, &found) == 0) package = found;
    LsaDeregisterLogonProcess(lsa);
  }
  return package;
}

std::string toHex(const std::uint8_t* data, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    out.push_back(digits[data[i] >> 4]);
    out.push_back(digits[data[i] & 15]);
  }
  return out;
}

std::vector<std::uint8_t> fromHex(const std::string& hex) {
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::vector<std::uint8_t> out;
  if (hex.size() % 2 != 0) return out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int hi = nibble(hex[i]);
    const int lo = nibble(hex[i + 1]);
    if (hi < 0 || lo < 0) return {};
    out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  return out;
}

}  // namespace KvStandIn
