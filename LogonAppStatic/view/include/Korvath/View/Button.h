#pragma once

#include <windows.h>

#include <cstddef>

#include "Korvath/View/Images.h"

namespace Korvath {
namespace View {

// A push button, optionally drawn from an SVG image and with a text label below it.
// A plain record: owners copy it by value. The fonts belong to the font cache.
struct Button {
  UINT controlId = 0;        // id of the button and of its label
  HMODULE module = nullptr;
  HWND parent = nullptr;
  HRESULT error = S_OK;      // 0 = created
  HWND button = nullptr;
  HWND label = nullptr;      // null without a label
  HFONT labelFont = nullptr;      // weight 300
  HFONT labelBoldFont = nullptr;  // weight 900 (marks the selected option)

  // Creates the "Button" window (WS_EX_WINDOWEDGE) with common controls 6. With an SVG
  // (`svg` not empty) it becomes an image button: the image is rendered at the button's size
  // and drawn whenever the button is painted or redraws itself; without one the button gets
  // createFont(s*16 - 1, 400). With `withLabel` a centred "STATIC" label (labelText, or the
  // button text when null) goes below it, labelHeight high (or as high as its wrapped text
  // needs in the bold font, when that is more), in createFont(labelFontSize, 300).
  // Returns `error`: the HRESULT of the last error when the button could not be created
  // (then there is no image, no label).
  HRESULT createButtonWindow(const wchar_t* text, DWORD style, int x, int y, int width, int height,
                             HWND parent, UINT controlId, HMODULE module, const SvgSource& svg,
                             bool withLabel = false, const wchar_t* labelText = nullptr,
                             int labelHeight = 0, int labelFontSize = 0);
};

// The process-wide image-button table: one entry per live image button, removed when the
// button is destroyed.
bool isImageButton(HWND button);
std::size_t imageButtonCount();

}  // namespace View
}  // namespace Korvath
