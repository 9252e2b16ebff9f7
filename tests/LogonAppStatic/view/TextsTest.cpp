// Texts and fonts in the language of the system locale. CTest runs this executable once per
// language, each time with LC_ALL set to that language's locale (Wine takes its system locale
// from it) and KV_EXPECT_LANGID naming the language Windows must report.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Korvath/Test/UiFixture.h"
#include "Korvath/Utils/LanguageUtil.h"
#include "Korvath/View/Editbox.h"
#include "Korvath/View/ViewUtils.h"
#include "ViewTestSupport.h"

using namespace Korvath::Test;
namespace Lang = Korvath::Utils::LanguageUtil;
namespace Font = Korvath::View::Utils::Font;

namespace {

// The texts the dialog shows (438 and 462 are not used).
std::vector<UINT> usedTextIds() {
  std::vector<UINT> ids;
  for (UINT id = 400; id <= 464; ++id) {
    if (id != 438 && id != 462) ids.push_back(id);
  }
  return ids;
}

LANGID expectedLanguage() {
  const char* value = std::getenv("KV_EXPECT_LANGID");
  return static_cast<LANGID>(value != nullptr ? std::strtoul(value, nullptr, 0) : 0x0409);
}

// True when the product's string tables are in KvCredProv.dll.
bool productHasTexts() {
  return productModule() != nullptr &&
         FindResourceExW(productModule(), RT_STRING, MAKEINTRESOURCEW(400 / 16 + 1), 0x0409) != nullptr;
}

class Texts : public ::testing::Test {
 protected:
  void SetUp() override { Lang::setResourceModule(productHasTexts() ? productModule() : testModule()); }
  void TearDown() override {
    Lang::setResourceModule(nullptr);
    Font::releaseFonts();
  }
};

TEST_F(Texts, SystemLanguageFollowsTheLocale) {
  EXPECT_EQ(Lang::getSystemLanguage(), expectedLanguage());
  EXPECT_EQ(Korvath::View::Utils::getSystemPrimaryLanguageId(), PRIMARYLANGID(expectedLanguage()));
}

TEST_F(Texts, EveryTextLoadsInTheSystemLanguage) {
  if (!productHasTexts()) GTEST_SKIP() << "KvCredProv.dll has no string tables in this build";
  const LANGID system = Lang::getSystemLanguage();
  for (UINT id : usedTextIds()) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(Lang::GetWText(id).empty());
    const LANGID from = Lang::resolveLanguage(id, system);
    // Portuguese and Chinese come in two variants each, which must not be mixed up; the
    // others may be stored under their language's default variant.
    if (PRIMARYLANGID(system) == LANG_PORTUGUESE || PRIMARYLANGID(system) == LANG_CHINESE) {
      EXPECT_EQ(from, system);
    } else {
      EXPECT_EQ(PRIMARYLANGID(from), PRIMARYLANGID(system));
    }
  }
}

TEST_F(Texts, EveryTextHasAllItsGlyphsInTheFontOfItsLanguage) {
  const std::vector<UINT> ids = productHasTexts() ? usedTextIds() : std::vector<UINT>{400, 401, 421, 442, 461};
  for (int weight : {300, 400, 600, 900}) {
    HFONT font = Font::createFont(16, weight);
    ASSERT_NE(font, nullptr);
    for (UINT id : ids) {
      const std::wstring text = Lang::GetWText(id);
      EXPECT_EQ(Font::missingGlyphs(font, text), 0u) << "text " << id << " weight " << weight;
    }
  }
}

// Edit boxes take a font two pixels smaller when the system language is Thai.
TEST_F(Texts, EditboxFontFollowsTheSystemLanguage) {
  UiThread ui;
  const int expected = static_cast<int>(Korvath::View::Utils::getScaleFactor() * 16) -
                       (PRIMARYLANGID(expectedLanguage()) == LANG_THAI ? 2 : 0);
  const LONG height = ui.call([&] {
    HWND host = createHostWindow(L"edit", 300, 100);
    Korvath::View::Editbox box(WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 10, 196, 20, host, 242, testModule(), L" Code");
    LOGFONTW lf{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(box.window(), WM_GETFONT, 0, 0)), sizeof lf, &lf);
    DestroyWindow(host);
    return lf.lfHeight;
  });
  EXPECT_EQ(height, -expected);
}

// All texts of the language on one window, for people to look at.
TEST_F(Texts, ScreenshotOfAllTexts) {
  UiThread ui;
  const LANGID system = Lang::getSystemLanguage();
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  LCIDToLocaleName(MAKELCID(system, SORT_DEFAULT), name, LOCALE_NAME_MAX_LENGTH, 0);
  const HWND host = ui.call([&] {
    HWND window = createHostWindow(L"texts", 1900, 760);
    HFONT font = Font::createFont(15, 400);
    int y = 4, x = 6;
    for (UINT id : usedTextIds()) {
      if (id == 433) {  // second column
        x = 956;
        y = 4;
      }
      std::wstring text = std::to_wstring(id) + L"  " + Lang::GetWText(id);
      for (auto& c : text) {
        if (c == L'\n') c = L' ';
      }
      HWND label = CreateWindowExW(0, L"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP, x, y, 940, 22,
                                   window, nullptr, GetModuleHandleW(nullptr), nullptr);
      SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
      y += 23;
    }
    UpdateWindow(window);
    return window;
  });
  WindowDriver driver(host);
  ASSERT_TRUE(driver.sync());
  EXPECT_TRUE(saveScreenshot(host, std::wstring(L"texts-") + name));
  ui.run([&] { DestroyWindow(host); });
}

// Which table answers: the exact language, its primary language, English; nothing when no
// table has the text. Shown on the test executable's own small tables.
TEST(TextLookup, FallsBackToThePrimaryLanguageThenToEnglish) {
  Lang::setResourceModule(testModule());
  const struct {
    UINT id;
    LANGID reader;
    LANGID answers;
    const wchar_t* text;
  } cases[] = {
      {400, 0x0407, 0x0407, L"Bestätigungscode"},        // German: exact
      {400, 0x0807, 0x0807, L"Bestätigungscode (CH)"},   // Swiss German: exact
      {400, 0x0C07, 0x0407, L"Bestätigungscode"},        // Austrian German: German's default variant
      {401, 0x0407, 0x0409, L"Time Duration (in Hours)"},  // German lacks it: English
      {400, 0x040C, 0x0409, L"Verification Code"},       // French: no table at all
      {421, 0x0411, 0x0411, L"プッシュ通知を送信"},
      {999, 0x0409, 0, L""},                             // no table has it
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Lang::resolveLanguage(c.id, c.reader), c.answers) << c.id << " for " << c.reader;
    EXPECT_EQ(Lang::GetWText(c.id, c.reader), c.text) << c.id << " for " << c.reader;
  }
  Lang::setResourceModule(nullptr);
}

// "Noto Sans" has no Japanese and no Thai letters: the font of those languages falls back to
// a face that draws their texts and Latin as well.
TEST(FontFallback, ScriptsWithoutGlyphsInNotoSansGetAFaceThatHasThem) {
  Lang::setResourceModule(testModule());
  const struct {
    LANGID language;
    std::wstring text;
  } cases[] = {{0x0411, Lang::GetWText(421, 0x0411)}, {0x041E, Lang::GetWText(421, 0x041E)}, {0x0407, L"Bestätigungscode"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language);
    HFONT chosen = Font::createFontForLanguage(16, 400, c.language);
    EXPECT_EQ(Font::missingGlyphs(chosen, c.text + L"Push 0123456789 ABC xyz"), 0u);
    if (PRIMARYLANGID(c.language) != LANG_GERMAN) {
      EXPECT_NE(Font::faceForLanguage(c.language), L"Noto Sans");
      HFONT plain = CreateFontW(-16, 0, 0, 0, 400, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, L"Noto Sans");
      EXPECT_GT(Font::missingGlyphs(plain, c.text), 0u);
      DeleteObject(plain);
    } else {
      EXPECT_EQ(Font::faceForLanguage(c.language), L"Noto Sans");
    }
  }
  Font::releaseFonts();
  Lang::setResourceModule(nullptr);
}

}  // namespace
