// COM entry points of the credential provider DLL.
//
// No provider class is served yet, so every class request is refused the way COM
// expects for a class this server does not implement, and the DLL can always be
// unloaded because it never hands out an object.
#include <windows.h>
#include <objbase.h>

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID /*rclsid*/, REFIID /*riid*/, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT __stdcall DllCanUnloadNow() { return S_OK; }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
