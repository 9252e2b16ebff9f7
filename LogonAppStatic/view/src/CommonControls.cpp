#include "Korvath/View/CommonControls.h"

#include <commctrl.h>

#include <map>
#include <mutex>

#include "Korvath/View/Images.h"
#include "Korvath/View/ViewUtils.h"

namespace Korvath {
namespace View {

namespace {

// Activation contexts by module, made once from the module's manifest resource 2.
struct ContextCache {
  std::mutex mutex;
  std::map<HMODULE, HANDLE> contexts;
  ~ContextCache() { clear(); }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex);
    for (auto& entry : contexts) {
      if (entry.second != INVALID_HANDLE_VALUE) ReleaseActCtx(entry.second);
    }
    contexts.clear();
  }
};

ContextCache& contexts() {
  static ContextCache cache;
  return cache;
}

HANDLE contextFor(HMODULE module) {
  ContextCache& cache = contexts();
  std::lock_guard<std::mutex> lock(cache.mutex);
  auto found = cache.contexts.find(module);
  if (found != cache.contexts.end()) return found->second;
  ACTCTXW request{};
  request.cbSize = sizeof request;
  request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
  request.hModule = module;
  request.lpResourceName = MAKEINTRESOURCEW(2);
  HANDLE context = CreateActCtxW(&request);
  // A module without the manifest is remembered too, so it is not asked again.
  cache.contexts.emplace(module, context);
  return context;
}

}  // namespace

CommonControlsScope::CommonControlsScope(HMODULE module) {
  if (module == nullptr) return;
  HANDLE context = contextFor(module);
  if (context == INVALID_HANDLE_VALUE) return;
  if (!ActivateActCtx(context, &cookie_)) {
    cookie_ = 0;
    return;
  }
  // Registers the version 6 classes of this context (once per process is enough, but the
  // call is cheap and idempotent).
  static std::once_flag registered;
  std::call_once(registered, [] {
    INITCOMMONCONTROLSEX init{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&init);
  });
}

CommonControlsScope::~CommonControlsScope() {
  if (cookie_ != 0) DeactivateActCtx(0, cookie_);
}

void releaseCommonControlsContexts() { contexts().clear(); }

void releaseViewResources() {
  Utils::Font::releaseFonts();
  releaseCommonControlsContexts();
  shutdownGdiPlus();
}

}  // namespace View
}  // namespace Korvath
