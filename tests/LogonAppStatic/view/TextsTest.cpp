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
  for (UINT id = 400; id <= 464; ++id)
    if (id != 438 && id != 462) ids.push_back(id);
  return ids;
}

LANGID expectedLanguage() {
  const char* value = std::getenv("KV_EXPECT_LANGID");
  return static_cast<LANGID>(value != nullptr ? std::strtoul(value, nullptr, 0) : 0x0409);
}

class Texts : public ::testing::Test {
 protected:
  void SetUp() override { Lang::setResourceModule(productModule()); }
  void TearDown() override {
    Lang::setResourceModule(nullptr);
    Font::releaseFonts();
  }
};

TEST_F(Texts, EveryTextLoadsInTheLanguageOfTheSystemLocale) {
  const LANGID system = Lang::getSystemLanguage();
  EXPECT_EQ(system, expectedLanguage());
  EXPECT_EQ(Korvath::View::Utils::getSystemPrimaryLanguageId(), PRIMARYLANGID(expectedLanguage()));
  for (UINT id : usedTextIds()) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(Lang::GetWText(id).empty());
    const LANGID from = Lang::resolveLanguage(id, system);
    // Portuguese and Chinese come in two variants each, which must not be mixed up; the
    // others may be stored under their language's default variant.
    const bool variants = PRIMARYLANGID(system) == LANG_PORTUGUESE || PRIMARYLANGID(system) == LANG_CHINESE;
    EXPECT_EQ(variants ? from : PRIMARYLANGID(from), variants ? system : PRIMARYLANGID(system));
  }
}

// "Noto Sans" has no Japanese, Korean, Chinese or Thai letters: the font of those languages
// falls back to a face that draws all of their texts. Wine, like Windows, may substitute a face
// of the language's character set; the face chosen draws them when asked for by its name alone.
TEST_F(Texts, EveryTextHasAllItsGlyphsInTheFontOfItsLanguage) {
  const std::wstring face = Font::faceForLanguage(Lang::getSystemLanguage());
  HFONT named = CreateFontW(-16, 0, 0, 0, 400, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, face.c_str());
  for (HFONT font : {Font::createFont(16, 300), Font::createFont(16, 400), Font::createFont(16, 600),
                     Font::createFont(16, 900), named}) {
    ASSERT_NE(font, nullptr);
    for (UINT id : usedTextIds())
      EXPECT_EQ(Font::missingGlyphs(font, Lang::GetWText(id)), 0u) << "text " << id << " in " << (font == named);
  }
  DeleteObject(named);
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

// Which table answers: the exact language, its primary language, English; nothing when no
// table has the text. Shown on the test executable's own small tables.
TEST(TextLookup, FallsBackToThePrimaryLanguageThenToEnglish) {
  Lang::setResourceModule(testModule());
  const struct {
    UINT id;
    LANGID reader, answers;
    const wchar_t* text;
  } cases[] = {
      {400, 0x0407, 0x0407, L"Bestätigungscode"},          // German: exact
      {400, 0x0807, 0x0807, L"Bestätigungscode (CH)"},     // Swiss German: exact
      {400, 0x0C07, 0x0407, L"Bestätigungscode"},          // Austrian German: German's default variant
      {401, 0x0407, 0x0409, L"Time Duration (in Hours)"},  // German lacks it: English
      {400, 0x040C, 0x0409, L"Verification Code"},         // French: no table at all
      {999, 0x0409, 0, L""},                               // no table has it
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Lang::resolveLanguage(c.id, c.reader), c.answers) << c.id << " for " << c.reader;
    EXPECT_EQ(Lang::GetWText(c.id, c.reader), c.text) << c.id << " for " << c.reader;
  }
  Lang::setResourceModule(nullptr);
}

}  // namespace
