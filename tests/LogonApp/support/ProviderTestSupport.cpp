#include "ProviderTestSupport.h"

#include <objbase.h>

#include "KvStandIn/Install.h"
#include "Registration.h"

namespace ProviderTest {

const WrapperRow kWrappers[8] = {
    {"{BCB72349-6C97-4E3F-94B5-6EA045F85CA5}", "{60B78E88-EAD8-445C-9CFD-0B87F74EA6CD}"},  // password
    {"{5D76DE6C-7F65-4431-89AC-2D43EBE72298}", "{D6886603-9D2F-4EB2-B667-1971041FA96B}"},  // PIN
    {"{B88420D8-BAB2-4451-A2D3-A2F99AF9854A}", "{BEC09223-B018-416D-A0AC-523971B639F5}"},  // fingerprint
    {"{22AD5268-00F7-427E-A4F7-87C7CF161BA7}", "{8AF662BF-65A0-4D0A-A540-A338A999D36F}"},  // face
    {"{2135F72A-90B5-4ED3-A7F1-8BB705AC276A}", "{2135F72A-90B5-4ED3-A7F1-8BB705AC276A}"},  // picture password
    {"{3AAAD06D-817D-4028-B640-06E07C903BD0}", "{F8A0B131-5F68-486C-8040-7E8FC3C85BB6}"},  // Microsoft account
    {"{061299FA-2FD9-46D6-B300-B2E15A388636}", "{F8A1793B-7873-4046-B2A7-1F318747F427}"},  // FIDO security key
    {"{2BFD34AC-10D7-4C70-94F5-3F7EA9025B0E}", "{8FD7E19C-3BF7-489B-A72C-846AB3678C96}"},  // smart card
};

GUID guidOf(const char* value) {
  GUID out = GUID_NULL;
  EXPECT_TRUE(KvLogonUi::parseGuid(value, out)) << value;
  return out;
}

// The folder of the test executables, the DLLs and the tools.
std::wstring binDirectory() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir = path;
  return dir.substr(0, dir.find_last_of(L"\\/"));
}

void installTestMachine() {
  ASSERT_EQ("", KvStandIn::installStandIns(binDirectory()));
  ASSERT_EQ("", Korvath::Install::registerCredentialProvider(binDirectory() + L"\\KvCredProv.dll"));
}

std::string ask(IUnknown* object, const wchar_t* question) {
  IStandInProbe* probe = KvStandIn::reachProbe(object);
  if (probe == nullptr) return "<no probe>";
  LPWSTR answer = nullptr;
  std::string out = "<no answer>";
  if (SUCCEEDED(probe->Ask(question, &answer)) && answer != nullptr) out.assign(answer, answer + wcslen(answer));
  CoTaskMemFree(answer);
  probe->Release();
  return out;
}

HRESULT tell(IUnknown* object, const wchar_t* key, const wchar_t* value) {
  IStandInProbe* probe = KvStandIn::reachProbe(object);
  if (probe == nullptr) return E_NOINTERFACE;
  const HRESULT hr = probe->Tell(key, value);
  probe->Release();
  return hr;
}

void setAgentValue(const wchar_t* name, const wchar_t* value) {
  const wchar_t* const key = L"SOFTWARE\\Halvane\\Pellora Agent";
  if (value == nullptr) {
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, key, name);
    return;
  }
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, REG_SZ, value,
                                           static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t))));
}

CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION remote(const char* provider, std::vector<std::uint8_t>& bytes) {
  return {9, guidOf(provider), static_cast<ULONG>(bytes.size()), bytes.data()};
}

std::vector<std::uint8_t> utf16Bytes(const std::wstring& value) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(value.data());
  return std::vector<std::uint8_t>(bytes, bytes + value.size() * sizeof(wchar_t));
}

KvLogonUi::ObjectFactory classesOf(const KvLogonUi::ObjectFactory& getClassObject) {
  return [getClassObject](REFCLSID clsid, REFIID iid, void** out) {
    IClassFactory* factory = nullptr;
    HRESULT hr = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (hr == CLASS_E_CLASSNOTAVAILABLE) return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out);
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(nullptr, iid, out);
    factory->Release();
    return hr;
  };
}

void Library::SetUp() {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  installTestMachine();
  load();
}

void Library::TearDown() {
  if (module != nullptr) unload();
  CoUninitialize();
}

void Library::load() {
  module = LoadLibraryW((binDirectory() + L"\\KvCredProv.dll").c_str());
  ASSERT_NE(module, nullptr) << GetLastError();
  // Through a generic function pointer, which -Wcast-function-type accepts.
  getClassObject = reinterpret_cast<decltype(getClassObject)>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
  canUnloadNow =
      reinterpret_cast<decltype(canUnloadNow)>(reinterpret_cast<void (*)()>(GetProcAddress(module, "DllCanUnloadNow")));
  ASSERT_TRUE(getClassObject != nullptr && canUnloadNow != nullptr);
  create = classesOf(getClassObject);
}

void Library::unload() {
  EXPECT_EQ(S_OK, canUnloadNow());
  FreeLibrary(module);
  module = nullptr;
  EXPECT_EQ(nullptr, GetModuleHandleW((binDirectory() + L"\\KvCredProv.dll").c_str()));
}

Tile::Tile(const KvLogonUi::ObjectFactory& create, REFCLSID clsid, CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario,
           const std::function<void(ICredentialProvider*)>& beforeCount) {
  hr = create(clsid, IID_ICredentialProvider, reinterpret_cast<void**>(&provider));
  if (SUCCEEDED(hr)) hr = provider->SetUsageScenario(scenario, 0);
  if (FAILED(hr)) return;
  if (beforeCount) beforeCount(provider);
  DWORD defaultIndex = 0;
  BOOL autoLogon = FALSE;
  hr = provider->GetCredentialCount(&count, &defaultIndex, &autoLogon);
  if (SUCCEEDED(hr)) hr = provider->GetCredentialAt(0, &credential);
  if (SUCCEEDED(hr)) hr = credential->SetSelected(&autoLogon);
}

Tile::~Tile() {
  if (credential != nullptr) credential->Release();
  if (provider != nullptr) {
    provider->UnAdvise();
    provider->Release();
  }
}

void Tile::type(const std::wstring& user, const std::wstring& password) {
  ASSERT_NE(credential, nullptr);
  ASSERT_EQ(S_OK, credential->SetStringValue(KvStandIn::kFieldUser, user.c_str()));
  ASSERT_EQ(S_OK, credential->SetStringValue(KvStandIn::kFieldPassword, password.c_str()));
}

KvLogonUi::Submission Tile::submit() {
  // What LogonUI passes in is not initialized.
  auto* const unset = reinterpret_cast<BYTE*>(0xCCCCCCCCCCCCCCCCull);
  CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response = CPGSR_NO_CREDENTIAL_NOT_FINISHED;
  CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION cs;
  FillMemory(&cs, sizeof cs, 0xCC);
  LPWSTR statusText = reinterpret_cast<LPWSTR>(unset);
  auto icon = static_cast<CREDENTIAL_PROVIDER_STATUS_ICON>(0xCC);
  KvLogonUi::Submission s;
  s.hr = credential->GetSerialization(&response, &cs, &statusText, &icon);
  const bool set = cs.rgbSerialization != unset && statusText != reinterpret_cast<LPWSTR>(unset) && icon != 0xCC;
  EXPECT_TRUE(set) << "an out-parameter was left as LogonUI passed it";
  if (!set) return s;
  s.response = static_cast<int>(response);
  s.package = cs.ulAuthenticationPackage;
  s.provider = cs.clsidCredentialProvider;
  if (cs.rgbSerialization != nullptr) {
    s.bytes.assign(cs.rgbSerialization, cs.rgbSerialization + cs.cbSerialization);
    SecureZeroMemory(cs.rgbSerialization, cs.cbSerialization);
    CoTaskMemFree(cs.rgbSerialization);
  }
  CoTaskMemFree(statusText);
  s.innerProduced = ask(credential, L"produced");
  return s;
}

}  // namespace ProviderTest
