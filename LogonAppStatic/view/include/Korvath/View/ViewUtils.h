#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "Korvath/WindowsFacts.h"

namespace Korvath {
namespace View {
namespace Utils {

// UI scale factor: primary-screen height / 1080 when the screen is higher than 1080 pixels,
// else 1.0. Computed on first use and kept for the process, unless setScaleFactor chose
// another factor (0 returns to the screen's). The product never chooses; tests lay the dialog
// out at every scale within one process.
double getScaleFactor();
void setScaleFactor(double factor);
// The rule above for a given screen height.
double scaleFactorForScreenHeight(int screenHeight);

// Primary language of the system default locale, 0 on failure (foundations).
using Korvath::Utils::getSystemPrimaryLanguageId;
// Primary language id of Thai: edit boxes then use a font two pixels smaller.
constexpr std::uint16_t kThaiPrimaryLanguageId = 0x1E;

namespace Font {

// A font of `height` pixels (character height, already scaled by the caller) and `weight`
// for the texts of the display language: face "Noto Sans" with that language's character
// set, or, when that face lacks glyphs of the language's texts, the first face of the
// language's fall-back list that has them all (docs/toolkit.md, "Fonts").
// Fonts are created once per face, height and weight and owned by this cache: callers
// select or WM_SETFONT them and never delete them. NULL when GDI cannot make the font.
HFONT createFont(int height, int weight);
// The same for the texts of `language` (a LANGID): what createFont does for that system
// language.
HFONT createFontForLanguage(int height, int weight, LANGID language);

// The face chosen for `language` (the face GDI actually gave for the first candidate that
// draws every text, so it may be a face the system substituted) and the character set asked for.
std::wstring faceForLanguage(LANGID language);
BYTE charsetForLanguage(LANGID language);

// Characters of `text` that `font` has no glyph for (line breaks and tabs are not drawn
// as glyphs and are not counted).
std::size_t missingGlyphs(HFONT font, const std::wstring& text);

// Number of fonts the cache holds; releaseFonts deletes them all (at unload).
std::size_t cachedFontCount();
void releaseFonts();

}  // namespace Font
}  // namespace Utils
}  // namespace View
}  // namespace Korvath
