#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Korvath {
namespace Utils {

// The computer's NetBIOS name as UTF-8 (natively the host name); empty on failure.
std::string getComputerName();
// The computer's DNS domain as UTF-8; empty when there is none (always natively).
std::string getDnsDomainName();
// The Windows product name, "11" in place of "10" on build 22000 and later
// (natively the system's name and release).
std::string getWindowsVersionName();
// The rule of getWindowsVersionName on given registry facts.
std::string windowsVersionName(const std::string& productName, std::uint32_t build);
// Primary language of the system default locale; 0 on failure (natively English, 9).
std::uint16_t getSystemPrimaryLanguageId();
// True when the product name contains "Windows 8" or "2012".
bool isWindows8OrServer2012();
bool isWindows8OrServer2012Name(const std::string& productName);
// True for "." or the computer's name, ignoring case.
bool isLocalDomain(const std::string& domain);

// True when the packed logon serialization is a Kerberos certificate logon (message
// type 13 or 15) whose smart-card data names a reader containing "Windows Hello".
// The buffer may come from a remote client: every length and offset is checked, and
// anything malformed is "not a Hello logon".
bool isWindowsHelloCertificateLogon(const std::uint8_t* data, std::size_t size);
bool isWindowsHelloCertificateLogon(const std::vector<std::uint8_t>& serialization);

}  // namespace Utils
}  // namespace Korvath
