// The library entry of KvCredProv.dll and its two exports.

#include <windows.h>
#include <objbase.h>

#include "ClassFactory.h"
#include "Korvath/View/CommonControls.h"
#include "ModuleState.h"

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  return Korvath::Provider::getClassObject(clsid, riid, ppv);
}

// COM unloads the library after this says yes, so the dialog's process-wide resources (fonts,
// activation contexts, GDI+) go here, outside the loader lock; they are made again if the
// library is used once more.
extern "C" HRESULT __stdcall DllCanUnloadNow() {
  const HRESULT answer = Korvath::Provider::canUnloadNow();
  if (answer == S_OK) Korvath::View::releaseViewResources();
  return answer;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      DisableThreadLibraryCalls(instance);
      // Only the handle here: the log is opened by the first DllGetClassObject, outside the
      // loader lock.
      Korvath::Provider::setModuleHandle(instance);
      break;
    case DLL_PROCESS_DETACH:
      // At process exit (reserved not null) the other threads are already gone, possibly
      // inside the log's lock; every record is flushed when written, so nothing is lost by
      // leaving the file to the system then.
      if (reserved == nullptr) Korvath::Provider::closeLogAtUnload();
      break;
    default:
      break;
  }
  return TRUE;
}
