#include "Korvath/Utils/LanguageUtil.h"

#include <atomic>
#include <vector>

namespace Korvath {
namespace Utils {
namespace LanguageUtil {

namespace {

constexpr LANGID kEnglishUnitedStates = 0x0409;

std::atomic<HMODULE> g_module{nullptr};
std::atomic<LANGID> g_displayLanguage{0};

HMODULE moduleOfThisCode() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&moduleOfThisCode), &module);
  return module;
}

// A string table block holds 16 texts, each a length-prefixed UTF-16 run; texts that a table
// does not define have length 0. Every length is checked against the block's size.
std::wstring readFromBlock(HMODULE module, UINT id, LANGID language) {
  HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
  if (found == nullptr) return std::wstring();
  HGLOBAL loaded = LoadResource(module, found);
  const auto* words = loaded ? static_cast<const WCHAR*>(LockResource(loaded)) : nullptr;
  const DWORD bytes = SizeofResource(module, found);
  if (words == nullptr) return std::wstring();
  const std::size_t total = bytes / sizeof(WCHAR);
  std::size_t at = 0;
  for (UINT index = 0; index < id % 16; ++index) {
    if (at >= total) return std::wstring();
    at += 1 + static_cast<std::size_t>(words[at]);
  }
  if (at >= total) return std::wstring();
  const std::size_t length = words[at];
  if (length > total - at - 1) return std::wstring();
  return std::wstring(words + at + 1, length);
}

BOOL CALLBACK collectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
  reinterpret_cast<std::vector<LANGID>*>(param)->push_back(language);
  return TRUE;
}

// Languages to try for `wanted`, best first.
std::vector<LANGID> candidates(HMODULE module, UINT id, LANGID wanted) {
  std::vector<LANGID> order{wanted};
  std::vector<LANGID> present;
  EnumResourceLanguagesW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), collectLanguage,
                         reinterpret_cast<LONG_PTR>(&present));
  // Same primary language: its default sub-language first, then the others as stored.
  for (int pass = 0; pass < 2; ++pass) {
    for (LANGID language : present) {
      if (language == wanted || PRIMARYLANGID(language) != PRIMARYLANGID(wanted)) continue;
      const bool isDefault = SUBLANGID(language) == SUBLANG_DEFAULT;
      if ((pass == 0) == isDefault) order.push_back(language);
    }
  }
  order.push_back(kEnglishUnitedStates);
  return order;
}

}  // namespace

void setResourceModule(HMODULE module) { g_module.store(module); }

HMODULE getResourceModule() {
  HMODULE module = g_module.load();
  return module != nullptr ? module : moduleOfThisCode();
}

LANGID getSystemLanguage() { return GetSystemDefaultLangID(); }

LANGID getDisplayLanguage() {
  const LANGID chosen = g_displayLanguage.load();
  return chosen != 0 ? chosen : getSystemLanguage();
}

void setDisplayLanguage(LANGID language) { g_displayLanguage.store(language); }

LANGID resolveLanguage(UINT id, LANGID wanted) {
  HMODULE module = getResourceModule();
  for (LANGID language : candidates(module, id, wanted)) {
    if (!readFromBlock(module, id, language).empty()) return language;
  }
  return 0;
}

std::wstring GetWText(UINT id, LANGID language) {
  HMODULE module = getResourceModule();
  for (LANGID candidate : candidates(module, id, language)) {
    std::wstring text = readFromBlock(module, id, candidate);
    if (!text.empty()) return text;
  }
  return std::wstring();
}

std::wstring GetWText(UINT id) { return GetWText(id, getDisplayLanguage()); }

}  // namespace LanguageUtil
}  // namespace Utils
}  // namespace Korvath
