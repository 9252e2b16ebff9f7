#include "Korvath/View/ViewUtils.h"

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <tuple>
#include <vector>

#include "Korvath/Utils/LanguageUtil.h"

namespace Korvath {
namespace View {
namespace Utils {

double scaleFactorForScreenHeight(int screenHeight) {
  return screenHeight > 1080 ? static_cast<double>(screenHeight) / 1080.0 : 1.0;
}

namespace {
std::atomic<double> g_chosenScale{0.0};
}  // namespace

double getScaleFactor() {
  const double chosen = g_chosenScale.load();
  if (chosen > 0.0) return chosen;
  static const double factor = scaleFactorForScreenHeight(GetSystemMetrics(SM_CYSCREEN));
  return factor;
}

void setScaleFactor(double factor) { g_chosenScale.store(factor > 0.0 ? factor : 0.0); }

namespace Font {

namespace {

constexpr const wchar_t* kDefaultFace = L"Noto Sans";
// Ids of the texts that the dialog shows; the face of a language must draw all of them.
constexpr UINT kFirstTextId = 400;
constexpr UINT kLastTextId = 464;

// Faces to try for a language, in order: the one asked for everywhere, the face Windows has
// for the script, then faces of Debian's Noto packages (and, for Thai, a face that also
// draws Latin: Noto Sans Thai has no Latin letters).
std::vector<std::wstring> candidateFaces(LANGID language) {
  switch (PRIMARYLANGID(language)) {
    case LANG_JAPANESE:
      return {kDefaultFace, L"Yu Gothic UI", L"Meiryo UI", L"MS UI Gothic", L"Noto Sans CJK JP"};
    case LANG_KOREAN:
      return {kDefaultFace, L"Malgun Gothic", L"Noto Sans CJK KR"};
    case LANG_CHINESE: {
      const WORD sub = SUBLANGID(language);
      if (sub == SUBLANG_CHINESE_SIMPLIFIED || sub == SUBLANG_CHINESE_SINGAPORE) {
        return {kDefaultFace, L"Microsoft YaHei UI", L"Noto Sans CJK SC"};
      }
      return {kDefaultFace, L"Microsoft JhengHei UI", L"Noto Sans CJK TC"};
    }
    case LANG_THAI:
      return {kDefaultFace, L"Leelawadee UI", L"Tahoma", L"Loma", L"Noto Looped Thai", L"Noto Sans Thai"};
    default:
      return {kDefaultFace, L"Segoe UI", L"Tahoma"};
  }
}

// Every character that a font of `language` must draw: its texts, and printable ASCII
// (codes, request identifiers, the version and what the user types).
std::wstring coverageSample(LANGID language) {
  std::set<wchar_t> characters;
  for (wchar_t c = 0x20; c < 0x7F; ++c) characters.insert(c);
  for (UINT id = kFirstTextId; id <= kLastTextId; ++id) {
    for (wchar_t c : Korvath::Utils::LanguageUtil::GetWText(id, language)) characters.insert(c);
  }
  return std::wstring(characters.begin(), characters.end());
}

HFONT makeFont(int height, int weight, BYTE charset, const std::wstring& face) {
  LOGFONTW lf{};
  lf.lfHeight = -height;  // character height in pixels
  lf.lfWeight = weight;
  lf.lfCharSet = charset;
  lf.lfOutPrecision = OUT_TT_PRECIS;
  lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  lf.lfQuality = CLEARTYPE_QUALITY;
  lf.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
  lstrcpynW(lf.lfFaceName, face.c_str(), LF_FACESIZE);
  return CreateFontIndirectW(&lf);
}

std::wstring actualFace(HFONT font) {
  HDC dc = CreateCompatibleDC(nullptr);
  if (dc == nullptr) return std::wstring();
  HGDIOBJ old = SelectObject(dc, font);
  wchar_t face[LF_FACESIZE] = {};
  const int length = GetTextFaceW(dc, LF_FACESIZE, face);
  SelectObject(dc, old);
  DeleteDC(dc);
  return length > 0 ? std::wstring(face) : std::wstring();
}

using FontKey = std::tuple<std::wstring, int, int, BYTE>;

// Process-wide: fonts by face, height, weight and character set, and the face of each
// language. Deleted when the library unloads.
struct FontCache {
  std::mutex mutex;
  std::map<FontKey, HFONT> fonts;
  std::map<LANGID, std::wstring> faces;
  ~FontCache() { clear(); }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex);
    for (auto& entry : fonts) DeleteObject(entry.second);
    fonts.clear();
    faces.clear();
  }
};

FontCache& cache() {
  static FontCache instance;
  return instance;
}

std::wstring chooseFace(LANGID language) {
  const std::wstring sample = coverageSample(language);
  const BYTE charset = charsetForLanguage(language);
  std::wstring best;
  std::size_t bestMissing = static_cast<std::size_t>(-1);
  for (const std::wstring& face : candidateFaces(language)) {
    HFONT probe = makeFont(16, FW_NORMAL, charset, face);
    if (probe == nullptr) continue;
    const std::size_t missing = missingGlyphs(probe, sample);
    // A face the system does not have, or not for this character set, silently becomes
    // another one, possibly of the wrong variant of the script (a Hong Kong face for
    // Japanese): a candidate counts only when it is the face that came back; a substitute
    // is kept as the last resort.
    const std::wstring actual = actualFace(probe);
    DeleteObject(probe);
    if (actual.empty()) continue;
    const bool genuine = lstrcmpiW(actual.c_str(), face.c_str()) == 0;
    if (genuine && missing == 0) return actual;
    if (missing < bestMissing) {
      best = actual;
      bestMissing = missing;
    }
  }
  return best.empty() ? std::wstring(kDefaultFace) : best;
}

}  // namespace

BYTE charsetForLanguage(LANGID language) {
  switch (PRIMARYLANGID(language)) {
    case LANG_JAPANESE: return SHIFTJIS_CHARSET;
    case LANG_KOREAN: return HANGUL_CHARSET;
    case LANG_CHINESE: {
      const WORD sub = SUBLANGID(language);
      return (sub == SUBLANG_CHINESE_SIMPLIFIED || sub == SUBLANG_CHINESE_SINGAPORE) ? GB2312_CHARSET
                                                                                       : CHINESEBIG5_CHARSET;
    }
    case LANG_THAI: return THAI_CHARSET;
    case LANG_RUSSIAN: return RUSSIAN_CHARSET;
    case LANG_TURKISH: return TURKISH_CHARSET;
    case LANG_POLISH: return EASTEUROPE_CHARSET;
    default: return ANSI_CHARSET;
  }
}

std::wstring faceForLanguage(LANGID language) {
  FontCache& c = cache();
  {
    std::lock_guard<std::mutex> lock(c.mutex);
    auto found = c.faces.find(language);
    if (found != c.faces.end()) return found->second;
  }
  // Chosen outside the lock (it loads texts and probes fonts); two threads asking at once
  // choose the same face.
  std::wstring face = chooseFace(language);
  std::lock_guard<std::mutex> lock(c.mutex);
  return c.faces.emplace(language, face).first->second;
}

std::size_t missingGlyphs(HFONT font, const std::wstring& text) {
  std::wstring drawn;
  for (wchar_t c : text) {
    if (c >= 0x20) drawn.push_back(c);
  }
  if (font == nullptr) return drawn.size();
  if (drawn.empty()) return 0;
  HDC dc = CreateCompatibleDC(nullptr);
  if (dc == nullptr) return drawn.size();
  HGDIOBJ old = SelectObject(dc, font);
  std::vector<WORD> glyphs(drawn.size(), 0xFFFF);
  std::size_t missing = drawn.size();
  if (GetGlyphIndicesW(dc, drawn.c_str(), static_cast<int>(drawn.size()), glyphs.data(),
                       GGI_MARK_NONEXISTING_GLYPHS) != GDI_ERROR) {
    missing = 0;
    for (WORD glyph : glyphs) {
      if (glyph == 0xFFFF) ++missing;
    }
  }
  SelectObject(dc, old);
  DeleteDC(dc);
  return missing;
}

HFONT createFontForLanguage(int height, int weight, LANGID language) {
  const std::wstring face = faceForLanguage(language);
  const BYTE charset = charsetForLanguage(language);
  FontCache& c = cache();
  std::lock_guard<std::mutex> lock(c.mutex);
  const FontKey key{face, height, weight, charset};
  auto found = c.fonts.find(key);
  if (found != c.fonts.end()) return found->second;
  HFONT font = makeFont(height, weight, charset, face);
  if (font != nullptr) c.fonts.emplace(key, font);
  return font;
}

HFONT createFont(int height, int weight) {
  return createFontForLanguage(height, weight, Korvath::Utils::LanguageUtil::getDisplayLanguage());
}

std::size_t cachedFontCount() {
  FontCache& c = cache();
  std::lock_guard<std::mutex> lock(c.mutex);
  return c.fonts.size();
}

void releaseFonts() { cache().clear(); }

}  // namespace Font
}  // namespace Utils
}  // namespace View
}  // namespace Korvath
