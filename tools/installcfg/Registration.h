#pragma once

// What an installer writes so that LogonUI finds the credential provider (Windows only):
//   HKLM\Software\Classes\CLSID\{clsid}                    default: the class's name
//   HKLM\Software\Classes\CLSID\{clsid}\InprocServer32     default: the DLL's path,
//                                                          ThreadingModel: "Apartment"
//   HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Authentication\Credential Providers\{clsid}
// for each of the eight class identifiers, and
//   ...\Authentication\Credential Provider Filters\{filter clsid}
// where the filter is registered under the password wrapper's identifier (every factory of
// the DLL makes the filter; LogonUI needs one).
//
// One of the eight identifiers is Windows' own picture-password provider's: a class
// registration that exists and names another server is kept under
//   HKLM\SOFTWARE\Halvane\Pellora Agent\Replaced Classes\{clsid}
// and put back when the provider is unregistered, so uninstalling never takes Windows'
// own provider away.

#include <windows.h>

#include <string>

namespace Korvath {
namespace Install {

// Empty on success, else what failed.
std::string registerCredentialProvider(const std::wstring& dllPath);
std::string unregisterCredentialProvider();

// The class identifier the filter is registered under.
const CLSID& filterRegistrationClsid();

}  // namespace Install
}  // namespace Korvath
