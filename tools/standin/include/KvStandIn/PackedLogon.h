#pragma once

// Test tool: packed Kerberos logon messages as Windows' providers hand them to LogonUI, the
// strings behind the record and every pointer replaced by its offset from the start.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace KvStandIn {

// KerbInteractiveLogon (2) or KerbWorkstationUnlockLogon (7), packed by the foundations'
// packInteractiveLogon.
std::vector<std::uint8_t> packInteractiveLogon(std::uint32_t messageType, const std::wstring& domain,
                                               const std::wstring& user, const std::wstring& password);

// KERB_CERTIFICATE_LOGON (13) or KERB_CERTIFICATE_UNLOCK_LOGON (15) whose smart-card data
// names `reader`.
std::vector<std::uint8_t> packCertificateLogon(std::uint32_t messageType, const std::wstring& domain,
                                               const std::wstring& user, const std::wstring& pin,
                                               const std::wstring& reader);

// How a typed user name splits: "DOMAIN\user" -> DOMAIN and user; "user@example" -> no
// domain and the whole name; a plain name -> this computer's name and the name.
void splitUserName(const std::wstring& typed, std::wstring& domain, std::wstring& user);

// The Negotiate package as LSA numbers it. Wine's LSA does not know Negotiate
// (LsaLookupAuthenticationPackage fails with 0xC0000001); the stand-ins then use
// kWineNegotiatePackage, a fixed value that tests see carried through unchanged.
constexpr ULONG kWineNegotiatePackage = 0x4B56;
ULONG negotiatePackage();

std::string toHex(const std::uint8_t* data, std::size_t size);
std::vector<std::uint8_t> fromHex(const std::string& hex);

}  // namespace KvStandIn
