#pragma once
// Whether a window's labels show all of their text: each text label (a "Static" with text) and
// each push button's caption is measured in its own font, wrapped as the control draws it, against
// the control's rectangle and what covers it.

#include <windows.h>

#include <string>
#include <vector>

namespace DialogUi {

// One finding, "<control> "<text>": <what is wrong>".
using LabelFault = std::string;

// The faults of `window` and of every window under it:
// - a line of text wider than the label, or lines below its bottom (DrawTextW with DT_CALCRECT,
//   the label's width and its alignment and wrapping);
// - marks above the line (Thai vowels and tone marks) or strokes below it outside the label: the
//   glyphs' own extent (GetGlyphOutlineW) against the font's ascent, whose internal leading is
//   where those marks sit;
// - any of that ink outside the client area of a window it lies in, or under a visible sibling of
//   the label or of a window it lies in (another control, a panel);
// - a line that holds a single character (with its marks and the punctuation after it) where the
//   text wraps: the character and the lines around it drawn with breaks of their own give the
//   same pixels as the text itself.
// Hidden labels count for their size, not for what covers them.
std::vector<LabelFault> labelFaults(HWND window);

}  // namespace DialogUi
