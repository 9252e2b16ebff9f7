#pragma once

// The kinds of Windows sign-in the library wraps: each of its eight class identifiers
// carries a credential-type tag (200-207), and each tag stands for one of Windows' own
// providers, created as the inner provider.

#include <windows.h>

#include <cstdint>

namespace Korvath {
namespace Provider {

struct CredentialType {
  std::uint32_t tag;
  const char* kind;  // for the log and the registration's names
  CLSID wrapper;     // the library's own class identifier
  CLSID inner;       // Windows' provider that the wrapper creates
};

constexpr std::uint32_t kTagPassword = 200;
constexpr std::uint32_t kTagPin = 201;
constexpr std::uint32_t kTagFingerprint = 202;
constexpr std::uint32_t kTagFace = 203;
constexpr std::uint32_t kTagPicturePassword = 204;
constexpr std::uint32_t kTagMicrosoftAccount = 205;
constexpr std::uint32_t kTagFidoKey = 206;
constexpr std::uint32_t kTagSmartCard = 207;

// The eight wrapped kinds, in tag order.
const CredentialType* credentialTypes();
constexpr int kCredentialTypeCount = 8;

// The entry whose wrapper identifier is `clsid`; null for any other class.
const CredentialType* findByWrapper(REFCLSID clsid);
// The entry of a tag; an unknown tag is treated as the password kind.
const CredentialType& typeOfTag(std::uint32_t tag);

// The PIN provider of Windows 8 and Server 2012, created there in place of the later one.
extern const CLSID kWindows8PinProvider;

// Windows' provider that a wrapper of this tag creates on this system.
CLSID innerProviderToCreate(std::uint32_t tag, bool windows8OrServer2012);
// The identifier an incoming serialization is re-addressed to before the inner provider
// gets it: the later PIN provider on every system.
CLSID innerSerializationTarget(std::uint32_t tag);

// The wrapper that a remote serialization made for Windows' provider `windowsProvider` is
// handed to; any identifier not in the table comes back unchanged.
CLSID wrapperForRemoteProvider(REFCLSID windowsProvider);

}  // namespace Provider
}  // namespace Korvath
