#pragma once

// Test tool: what the stand-ins for Windows' own credential providers let a test ask and
// tell, through a private interface that both their providers and their credentials answer.
// Behind a wrapper, which hands out no interface of its inner object, reachProbe() finds it
// through a field: the stand-in answers field kProbeField (a credential's GetStringValue, a
// provider's GetFieldDescriptorAt) with a token that the stand-in DLL's export
// "KvStandInProbe" turns back into the object. A wrapper passes that field on as it passes
// every field, so the probe shows what the wrapper handed to Windows' provider.
//
// Provider questions: "kind" (e.g. "password"), "clsid" (the class it was made as),
// "scenario", "serialization" (the last SetSerialization: "<clsid> <package> <size> <hex>"),
// "users" (users in the array it was given).
// Provider settings: "credentials" = ';'-separated SIDs, one credential each ("" for one
// without a SID); "reader" = the smart-card reader its certificate logons name;
// "credential2" = "0" for credentials without ICredentialProviderCredential2.
// Credential questions: "produced" (hex of its last serialization), "reported"
// ("<status> <substatus>" of the last ReportResult, hexadecimal), "sid", "user".

#include <windows.h>
#include <objbase.h>

interface IStandInProbe : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Ask(LPCWSTR question, LPWSTR* answer) = 0;
  virtual HRESULT STDMETHODCALLTYPE Tell(LPCWSTR key, LPCWSTR value) = 0;
};

// {6A1C6E0B-5B0E-4F47-9D3E-2C9F4B7E51A1}
inline constexpr IID IID_IStandInProbe = {0x6a1c6e0b, 0x5b0e, 0x4f47, {0x9d, 0x3e, 0x2c, 0x9f, 0x4b, 0x7e, 0x51, 0xa1}};

namespace KvStandIn {

// Windows' own provider class identifiers that the stand-ins answer to.
inline constexpr CLSID kPasswordProvider = {0x60b78e88, 0xead8, 0x445c, {0x9c, 0xfd, 0x0b, 0x87, 0xf7, 0x4e, 0xa6, 0xcd}};
inline constexpr CLSID kPinProvider = {0xd6886603, 0x9d2f, 0x4eb2, {0xb6, 0x67, 0x19, 0x71, 0x04, 0x1f, 0xa9, 0x6b}};
inline constexpr CLSID kWindows8PinProvider = {0xcb82ea12, 0x9f71, 0x446d, {0x89, 0xe1, 0x8d, 0x09, 0x24, 0xe1, 0x25, 0x6e}};
inline constexpr CLSID kFingerprintProvider = {0xbec09223, 0xb018, 0x416d, {0xa0, 0xac, 0x52, 0x39, 0x71, 0xb6, 0x39, 0xf5}};
inline constexpr CLSID kFaceProvider = {0x8af662bf, 0x65a0, 0x4d0a, {0xa5, 0x40, 0xa3, 0x38, 0xa9, 0x99, 0xd3, 0x6f}};
inline constexpr CLSID kPicturePasswordProvider = {0x2135f72a, 0x90b5, 0x4ed3, {0xa7, 0xf1, 0x8b, 0xb7, 0x05, 0xac, 0x27, 0x6a}};
inline constexpr CLSID kMicrosoftAccountProvider = {0xf8a0b131, 0x5f68, 0x486c, {0x80, 0x40, 0x7e, 0x8f, 0xc3, 0xc8, 0x5b, 0xb6}};
inline constexpr CLSID kFidoProvider = {0xf8a1793b, 0x7873, 0x4046, {0xb2, 0xa7, 0x1f, 0x31, 0x87, 0x47, 0xf4, 0x27}};
inline constexpr CLSID kSmartCardProvider = {0x8fd7e19c, 0x3bf7, 0x489b, {0xa7, 0x2c, 0x84, 0x6a, 0xb3, 0x67, 0x8c, 0x96}};

// The stand-in behind `object` (a stand-in provider or credential, or a wrapper of one): its
// probe with one reference, or null when there is none.
IStandInProbe* reachProbe(IUnknown* object);

// The field whose answer is the probe's token: "KvStandInProbe <dll file name> <number>".
constexpr DWORD kProbeField = 0x4B56;
// The stand-in DLL's export that turns a token's number into the probe (one reference).
using ProbeExport = HRESULT(__stdcall*)(ULONG number, IStandInProbe** probe);

// The fields of every stand-in credential.
constexpr DWORD kFieldTile = 0;
constexpr DWORD kFieldUser = 1;
constexpr DWORD kFieldPassword = 2;
constexpr DWORD kFieldSubmit = 3;
constexpr DWORD kFieldUserShown = 4;
constexpr DWORD kFieldLabel = 5;
constexpr DWORD kFieldCount = 6;

}  // namespace KvStandIn
