#pragma once

#include <windows.h>

namespace Korvath {
namespace View {

// Common controls version 6 (cue banners, themed buttons) for the windows created while an
// object of this class lives on the thread: it activates the activation context made from
// the manifest resource 2 of `module` (created once per module, released at unload). When
// the module has no such manifest nothing is activated and controls are version 5.
class CommonControlsScope {
 public:
  explicit CommonControlsScope(HMODULE module);
  ~CommonControlsScope();
  CommonControlsScope(const CommonControlsScope&) = delete;
  CommonControlsScope& operator=(const CommonControlsScope&) = delete;
  bool active() const { return cookie_ != 0; }

 private:
  ULONG_PTR cookie_ = 0;
};

// Releases the activation contexts made so far (at unload).
void releaseCommonControlsContexts();

// Everything the toolkit keeps for the process: fonts, activation contexts, brushes and
// GDI+. Called when the library unloads; the toolkit makes them again when used afterwards.
void releaseViewResources();

}  // namespace View
}  // namespace Korvath
