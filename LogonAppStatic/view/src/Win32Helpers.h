#pragma once

// Win32 pieces that the toolkit's controls and the dialog's windows share: the last error as an
// HRESULT (logged where the failure happened) and painting through BeginPaint/EndPaint.

#include <windows.h>

#include "Korvath/Logger.h"

namespace Korvath {
namespace View {

// The calling thread's last error as an HRESULT; E_FAIL when there is none, so that a failure is
// never reported (or logged) as success.
inline HRESULT lastErrorResult() {
  const DWORD error = GetLastError();
  return error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// Logs `format` ("... %s ... 0x%08x ...") with `where` and lastErrorResult() at error level, as
// from `file` and `line`; returns that HRESULT. Called through KV_LOG_LAST_ERROR.
inline HRESULT logLastError(int line, const char* file, const char* format, const char* where) {
  const HRESULT error = lastErrorResult();
  ::Korvath::Logger::error(line, file, format, where, static_cast<unsigned>(error));
  return error;
}

// WM_PAINT: runs `draw(dc)` between BeginPaint and EndPaint (nothing when there is no context).
template <typename Draw>
void paintWindow(HWND window, Draw draw) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  if (dc == nullptr) return;
  draw(dc);
  EndPaint(window, &paint);
}

}  // namespace View
}  // namespace Korvath

#define KV_LOG_LAST_ERROR(format, where) ::Korvath::View::logLastError(__LINE__, __FILE__, format, where)
