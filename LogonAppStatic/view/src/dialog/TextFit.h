#pragma once

// Labels that always show their whole text: the design heights of the dialog's labels are one
// font height per line, but a line of text needs the font's full cell (more for Thai and the
// CJK faces), so a label grows to what its wrapped text needs.

#include <windows.h>

#include <string>

namespace Korvath {
namespace View {

// Height of `text` wrapped at `width` in `font` (DrawText's own measure).
int wrappedTextHeight(HWND window, HFONT font, const std::wstring& text, int width);

// True when a paragraph of `text`, wrapped at `width` in `font` and aligned by `align` (DT_LEFT,
// DT_CENTER or DT_RIGHT), ends in a line holding a single character (with its marks and the
// punctuation after it, "た。"): Japanese and Chinese break between any two characters, so a
// last character can be left on its own.
bool endsWithLoneCharacter(HWND window, HFONT font, const std::wstring& text, int width, UINT align);
// The narrowest width, at most `width`, at which `text` takes no more lines than at `width` and
// no word is wider than the width: the same lines balanced, which gives a lone last character
// company.
int balancedWidth(HWND window, HFONT font, const std::wstring& text, int width, UINT align);

// How far the glyphs of `text` in `font` reach above the baseline (`rise`) and below it (`drop`):
// marks over a letter (accents, Thai vowels and tone marks) sit in the font's internal leading,
// descenders below the baseline.
void inkExtent(HWND window, HFONT font, const std::wstring& text, int& rise, int& drop);

// Makes `label` as high as its text needs (never lower than it is). With `keepBottom` the
// label grows upwards, its bottom edge staying where it is; else it grows downwards.
// With `exact` it also shrinks to the text's height.
void fitLabelToText(HWND label, bool keepBottom, bool exact = false);

}  // namespace View
}  // namespace Korvath
