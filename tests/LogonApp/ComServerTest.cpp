// KvCredProv.dll as COM sees it: a class factory per class identifier carrying its tag into
// the provider, the factory's answers, the unload rule, and the usage scenarios it serves.
// The DLL is loaded by path and called through its exports, as COM does; its providers
// create the stand-ins for Windows' providers registered in the prefix.

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "ProviderTestSupport.h"

using namespace ProviderTest;

namespace {

using GetClassObjectFn = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT(__stdcall*)();

class ComServer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    installStandIns();
    module_ = LoadLibraryW((binDirectory() + L"\\KvCredProv.dll").c_str());
    ASSERT_NE(module_, nullptr) << GetLastError();
    getClassObject_ = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(module_, "DllGetClassObject")));
    canUnloadNow_ =
        reinterpret_cast<CanUnloadNowFn>(reinterpret_cast<void (*)()>(GetProcAddress(module_, "DllCanUnloadNow")));
    ASSERT_NE(getClassObject_, nullptr);
    ASSERT_NE(canUnloadNow_, nullptr);
  }
  void TearDown() override {
    // Every test leaves its references balanced.
    if (canUnloadNow_ != nullptr) {
      EXPECT_EQ(S_OK, canUnloadNow_());
    }
    if (module_ != nullptr) FreeLibrary(module_);
    CoUninitialize();
  }

  IClassFactory* factory(const char* clsid) {
    IClassFactory* f = nullptr;
    EXPECT_EQ(S_OK, getClassObject_(guidOf(clsid), IID_IClassFactory, reinterpret_cast<void**>(&f))) << clsid;
    return f;
  }

  HMODULE module_ = nullptr;
  GetClassObjectFn getClassObject_ = nullptr;
  CanUnloadNowFn canUnloadNow_ = nullptr;
};

}  // namespace

TEST_F(ComServer, EachClassIdentifierMakesAProviderWrappingItsKindOfSignIn) {
  for (const WrapperRow& row : kWrappers) {
    SCOPED_TRACE(row.wrapper);
    IClassFactory* f = factory(row.wrapper);
    ASSERT_NE(f, nullptr);
    ICredentialProvider* provider = nullptr;
    ASSERT_EQ(S_OK, f->CreateInstance(nullptr, IID_ICredentialProvider, reinterpret_cast<void**>(&provider)));
    ASSERT_EQ(S_OK, provider->SetUsageScenario(CPUS_LOGON, 0));
    // The probe answers through the wrapper: the inner provider is the stand-in of this tag.
    EXPECT_EQ(row.inner, ask(provider, L"clsid"));
    EXPECT_EQ(row.kind, ask(provider, L"kind"));
    provider->Release();
    // Any factory also makes the filter.
    ICredentialProviderFilter* filter = nullptr;
    EXPECT_EQ(S_OK, f->CreateInstance(nullptr, IID_ICredentialProviderFilter, reinterpret_cast<void**>(&filter)));
    if (filter != nullptr) filter->Release();
    f->Release();
  }
  // The picture-password provider came from the library in the system folder, which nothing
  // registered with COM.
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  EXPECT_NE(nullptr, GetModuleHandleW((std::wstring(system) + L"\\credprovslegacy.dll").c_str()));
  const std::wstring registered =
      hklmString(L"SOFTWARE\\Classes\\CLSID\\{2135F72A-90B5-4ED3-A7F1-8BB705AC276A}\\InprocServer32", nullptr);
  EXPECT_EQ(std::wstring::npos, registered.find(L"credprovslegacy"));
}

TEST_F(ComServer, FactoryAnswers) {
  IClassFactory* f = factory(kWrappers[0].wrapper);
  ASSERT_NE(f, nullptr);
  struct Row {
    IUnknown* outer;
    const IID* iid;
    HRESULT expected;
  };
  IUnknown* someOuter = f;
  const Row rows[] = {
      {nullptr, &IID_IUnknown, S_OK},
      {nullptr, &IID_ICredentialProvider, S_OK},
      {nullptr, &IID_ICredentialProviderFilter, S_OK},
      {nullptr, &IID_ICredentialProviderCredential, CLASS_E_NOAGGREGATION},
      {nullptr, &IID_ICredentialProviderSetUserArray, CLASS_E_NOAGGREGATION},
      {nullptr, &IID_IClassFactory, CLASS_E_NOAGGREGATION},
      {someOuter, &IID_IUnknown, CLASS_E_NOAGGREGATION},
      {someOuter, &IID_ICredentialProvider, CLASS_E_NOAGGREGATION},
  };
  for (const Row& row : rows) {
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(row.expected, f->CreateInstance(row.outer, *row.iid, &object)) << text(*row.iid);
    if (row.expected == S_OK) {
      ASSERT_NE(object, nullptr);
      static_cast<IUnknown*>(object)->Release();
    } else {
      EXPECT_EQ(object, nullptr);
    }
  }
  EXPECT_EQ(0x80040110, static_cast<unsigned long>(CLASS_E_NOAGGREGATION));
  f->Release();
  void* object = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(E_NOINTERFACE, getClassObject_(guidOf(kWrappers[0].wrapper), IID_ICredentialProvider, &object));
  EXPECT_EQ(object, nullptr);
}

TEST_F(ComServer, UnloadsOnlyWhenEveryObjectAndLockIsGone) {
  EXPECT_EQ(S_OK, canUnloadNow_());
  IClassFactory* f = factory(kWrappers[0].wrapper);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(S_FALSE, canUnloadNow_());
  ICredentialProvider* provider = nullptr;
  ICredentialProviderFilter* filter = nullptr;
  ASSERT_EQ(S_OK, f->CreateInstance(nullptr, IID_ICredentialProvider, reinterpret_cast<void**>(&provider)));
  ASSERT_EQ(S_OK, f->CreateInstance(nullptr, IID_ICredentialProviderFilter, reinterpret_cast<void**>(&filter)));
  ASSERT_EQ(S_OK, provider->SetUsageScenario(CPUS_LOGON, 0));
  DWORD count = 0;
  DWORD defaultIndex = 0;
  BOOL autoLogon = FALSE;
  ASSERT_EQ(S_OK, provider->GetCredentialCount(&count, &defaultIndex, &autoLogon));
  ASSERT_EQ(1u, count);
  ICredentialProviderCredential* credential = nullptr;
  ASSERT_EQ(S_OK, provider->GetCredentialAt(0, &credential));
  EXPECT_EQ(S_OK, f->LockServer(TRUE));
  f->Release();
  EXPECT_EQ(S_FALSE, canUnloadNow_());
  provider->Release();
  EXPECT_EQ(S_FALSE, canUnloadNow_()) << "LogonUI still holds a credential of the released provider";
  credential->Release();
  EXPECT_EQ(S_FALSE, canUnloadNow_());
  filter->Release();
  EXPECT_EQ(S_FALSE, canUnloadNow_()) << "a server lock is outstanding";
  f = factory(kWrappers[3].wrapper);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(S_OK, f->LockServer(FALSE));
  f->Release();
  EXPECT_EQ(S_OK, canUnloadNow_());
}

TEST_F(ComServer, ServesLogonUnlockAndChangePasswordOnly) {
  const struct {
    CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario;
    HRESULT expected;
    const char* inner;
  } rows[] = {
      {CPUS_LOGON, S_OK, kWrappers[1].inner},
      {CPUS_UNLOCK_WORKSTATION, S_OK, kWrappers[1].inner},
      {CPUS_CHANGE_PASSWORD, S_OK, kWrappers[1].inner},
      {CPUS_CREDUI, E_NOTIMPL, "<no probe>"},
      {CPUS_PLAP, E_NOTIMPL, "<no probe>"},
      {CPUS_INVALID, E_NOTIMPL, "<no probe>"},
  };
  for (const auto& row : rows) {
    IClassFactory* f = factory(kWrappers[1].wrapper);
    ASSERT_NE(f, nullptr);
    ICredentialProvider* provider = nullptr;
    ASSERT_EQ(S_OK, f->CreateInstance(nullptr, IID_ICredentialProvider, reinterpret_cast<void**>(&provider)));
    f->Release();
    EXPECT_EQ(row.expected, provider->SetUsageScenario(row.scenario, 0)) << row.scenario;
    // Without a served scenario no inner provider exists to answer the probe.
    EXPECT_EQ(row.inner, ask(provider, L"clsid")) << row.scenario;
    if (row.expected == S_OK) {
      EXPECT_EQ(std::to_string(row.scenario), ask(provider, L"scenario"));
    }
    provider->Release();
  }
}
