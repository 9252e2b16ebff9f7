// Test tool: reaching a stand-in's probe, also behind a wrapper (StandInProbe.h).
#include <windows.h>
#include <objbase.h>

#include <cwchar>
#include <string>

#include "Korvath/CredentialProviderInterfaces.h"
#include "KvStandIn/StandInProbe.h"

namespace KvStandIn {

namespace {

// What `object` answers to the probe field, as a provider or as a credential; empty when it
// answers neither.
std::wstring probeToken(IUnknown* object) {
  std::wstring token;
  ICredentialProvider* provider = nullptr;
  ICredentialProviderCredential* credential = nullptr;
  if (SUCCEEDED(object->QueryInterface(IID_ICredentialProvider, reinterpret_cast<void**>(&provider))) &&
      provider != nullptr) {
    CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR* descriptor = nullptr;
    if (SUCCEEDED(provider->GetFieldDescriptorAt(kProbeField, &descriptor)) && descriptor != nullptr) {
      if (descriptor->pszLabel != nullptr) token = descriptor->pszLabel;
      CoTaskMemFree(descriptor->pszLabel);
      CoTaskMemFree(descriptor);
    }
    provider->Release();
  } else if (SUCCEEDED(
                 object->QueryInterface(IID_ICredentialProviderCredential, reinterpret_cast<void**>(&credential))) &&
             credential != nullptr) {
    LPWSTR text = nullptr;
    if (SUCCEEDED(credential->GetStringValue(kProbeField, &text)) && text != nullptr) token = text;
    CoTaskMemFree(text);
    credential->Release();
  }
  return token;
}

}  // namespace

IStandInProbe* reachProbe(IUnknown* object) {
  if (object == nullptr) return nullptr;
  IStandInProbe* probe = nullptr;
  if (SUCCEEDED(object->QueryInterface(IID_IStandInProbe, reinterpret_cast<void**>(&probe)))) return probe;
  // "KvStandInProbe <dll file name> <number>"
  const std::wstring token = probeToken(object);
  const std::wstring prefix = L"KvStandInProbe ";
  const std::size_t blank = token.rfind(L' ');
  if (token.compare(0, prefix.size(), prefix) != 0 || blank == std::wstring::npos || blank < prefix.size())
    return nullptr;
  HMODULE dll = GetModuleHandleW(token.substr(prefix.size(), blank - prefix.size()).c_str());
  auto resolve = reinterpret_cast<ProbeExport>(
      reinterpret_cast<void (*)()>(dll != nullptr ? GetProcAddress(dll, "KvStandInProbe") : nullptr));
  if (resolve == nullptr) return nullptr;
  const ULONG number = std::wcstoul(token.c_str() + blank + 1, nullptr, 10);
  return SUCCEEDED(resolve(number, &probe)) ? probe : nullptr;
}

}  // namespace KvStandIn
