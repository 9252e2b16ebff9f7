#pragma once

// Packed Kerberos logon messages: the serialization a credential hands to LogonUI, with every
// string buffer given as a byte offset from the start of the message (the 64-bit layout:
// MessageType is 4 bytes padded to 8, each UNICODE_STRING is 16 bytes: Length 2,
// MaximumLength 2, padding 4, Buffer 8). The bytes may come from a remote client, so reading
// checks every length and offset against the buffer; anything malformed gives no names.
// Portable: no Windows header, the same code natively and in the DLL.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Korvath {
namespace Authentication {

// Message types whose user names can be read.
constexpr std::uint32_t kKerbInteractiveLogon = 2;
constexpr std::uint32_t kKerbWorkstationUnlockLogon = 7;
constexpr std::uint32_t kKerbCertificateLogon = 13;
constexpr std::uint32_t kKerbCertificateUnlockLogon = 15;
constexpr std::uint32_t kKerbNamesAfterHeaderLogon = 513;

// Sizes of the fixed part of each message (strings follow it).
constexpr std::size_t kInteractiveLogonSize = 56;        // KERB_INTERACTIVE_LOGON
constexpr std::size_t kInteractiveUnlockLogonSize = 64;  // ... followed by the LogonId LUID
constexpr std::size_t kCertificateLogonSize = 72;        // KERB_CERTIFICATE_LOGON
constexpr std::size_t kCertificateUnlockLogonSize = 80;  // ... followed by the LogonId LUID
constexpr std::size_t kNamesAfterHeaderSize = 48;        // type 513: names start at byte 48

struct LogonMessageNames {
  std::uint32_t messageType = 0;  // 0 when the buffer cannot even hold one
  bool readable = false;          // a type listed above whose names were all inside the buffer
  std::u16string domain;
  std::u16string userName;
};

// The domain and user name of a packed logon message of type 2, 7, 13, 15 or 513. Any other
// type, and any malformed message (a length that is odd or runs past the end, an offset into
// the fixed part or past the end, a message shorter than its fixed part, a NUL inside a
// name), gives empty names and readable == false. A NUL that ends a name is dropped.
LogonMessageNames readLogonMessageNames(const std::uint8_t* data, std::size_t size);
LogonMessageNames readLogonMessageNames(const std::vector<std::uint8_t>& message);

// A packed KERB_INTERACTIVE_LOGON (messageType 2, 56-byte fixed part) or, for messageType 7,
// KERB_INTERACTIVE_UNLOCK_LOGON (the same followed by a zero LogonId, 64 bytes), with domain,
// user name and password packed in that order right after the fixed part, each Buffer the
// offset where its text starts (also for an empty text) and MaximumLength equal to Length.
// Empty when the type is neither 2 nor 7 or a text is longer than a UNICODE_STRING can count
// (32767 units). The result holds the password: the caller wipes it when done.
std::vector<std::uint8_t> packInteractiveLogon(const std::u16string& domain, const std::u16string& userName,
                                               const std::u16string& password,
                                               std::uint32_t messageType = kKerbInteractiveLogon);

}  // namespace Authentication
}  // namespace Korvath
