#pragma once

#include <windows.h>

#include <string>

namespace Korvath {
namespace Utils {
namespace LanguageUtil {

// The module whose string tables the texts come from. Until one is set it is the module that
// holds this code (KvCredProv.dll in production, the executable in a test).
void setResourceModule(HMODULE module);
HMODULE getResourceModule();

// Language of the system default locale (under Wine: LC_ALL, else LANG, of the process).
LANGID getSystemLanguage();
// Language the dialog's texts and fonts are for: the system's, unless setDisplayLanguage chose
// another one for the process (0 returns to the system's). The product never chooses; tests
// lay the dialog out in every language within one process.
LANGID getDisplayLanguage();
void setDisplayLanguage(LANGID language);

// Language whose string table answers `id` for a reader of `wanted`: `wanted` itself, else
// a table of the same primary language (its default sub-language first), else English
// (United States, 1033). 0 when no table has the text.
LANGID resolveLanguage(UINT id, LANGID wanted);

// Text `id` in the display language, with the fall-back above; empty
// when no table has it.
std::wstring GetWText(UINT id);
// The same for a reader of `language`.
std::wstring GetWText(UINT id, LANGID language);

}  // namespace LanguageUtil
}  // namespace Utils
}  // namespace Korvath
