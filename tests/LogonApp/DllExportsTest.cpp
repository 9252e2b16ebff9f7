// Loads the built KvCredProv.dll the way COM does and checks its export table
// and the answers of its two entry points.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using GetClassObjectFn = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT(__stdcall*)();

template <typename Fn>
Fn resolve(HMODULE module, const char* name) {
  // Through a generic function pointer, which -Wcast-function-type accepts.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

class DllExports : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryW(L"KvCredProv.dll");
    ASSERT_NE(module_, nullptr) << "LoadLibraryW failed: " << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  HMODULE module_ = nullptr;
};

// Reads the export names from the loaded image's export directory.
std::set<std::string> exportedNames(HMODULE module) {
  std::set<std::string> names;
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return names;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (dir.VirtualAddress == 0) return names;
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  const auto* nameRvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    names.insert(reinterpret_cast<const char*>(base + nameRvas[i]));
  }
  return names;
}

}  // namespace

TEST_F(DllExports, ExportsExactlyTheTwoComEntryPoints) {
  const std::set<std::string> expected{"DllCanUnloadNow", "DllGetClassObject"};
  EXPECT_EQ(exportedNames(module_), expected);
}

TEST_F(DllExports, UnknownClassIsNotAvailable) {
  auto getClassObject = resolve<GetClassObjectFn>(module_, "DllGetClassObject");
  ASSERT_NE(getClassObject, nullptr);
  // A class identifier that no provider of ours uses.
  const CLSID unknown = {0x0badf00d, 0x1234, 0x5678, {0x9a, 0xbc, 0xde, 0xf0, 0x12, 0x34, 0x56, 0x78}};
  void* object = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(getClassObject(unknown, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(getClassObject(unknown, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(DllExports, CanUnloadWhenNothingIsOutstanding) {
  auto canUnloadNow = resolve<CanUnloadNowFn>(module_, "DllCanUnloadNow");
  ASSERT_NE(canUnloadNow, nullptr);
  EXPECT_EQ(canUnloadNow(), S_OK);
}
