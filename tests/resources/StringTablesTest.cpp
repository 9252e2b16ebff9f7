// The sign-in dialog's texts as the DLL gets them: windres compiled the real strings.rc at build
// time, and every language's table in that resource (ids 400 to 464, each of the sixteen
// languages) is held against its UTF-8 source and against the English table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kFirstId = 400;
constexpr int kLastId = 464;
constexpr std::uint16_t kEnglish = 0x0409;

struct Language {
  const char* tag;
  std::uint16_t langId;
};

const Language kLanguages[] = {
    {"en-US", 0x0409}, {"de-DE", 0x0407}, {"fr-FR", 0x040C}, {"es-ES", 0x0C0A}, {"it-IT", 0x0410}, {"pt-BR", 0x0416},
    {"pt-PT", 0x0816}, {"nl-NL", 0x0413}, {"pl-PL", 0x0415}, {"ru-RU", 0x0419}, {"tr-TR", 0x041F}, {"ja-JP", 0x0411},
    {"ko-KR", 0x0412}, {"zh-CN", 0x0804}, {"zh-TW", 0x0404}, {"th-TH", 0x041E},
};

void PrintTo(const Language& language, std::ostream* out) { *out << language.tag; }

using Table = std::map<int, std::string>;  // string id -> UTF-8 text

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A lone surrogate becomes U+FFFD, which the shape test refuses.
std::string utf16ToUtf8(const std::vector<std::uint16_t>& units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::uint32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    // n continuation bytes after a lead byte that holds the top bits and n + 1 ones.
    const int n = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    out += char(n == 0 ? c : ((0xF00 >> (n + 1)) & 0xFF) | (c >> (6 * n)));
    for (int k = n - 1; k >= 0; --k) out += char(0x80 | ((c >> (6 * k)) & 0x3F));
  }
  return out;
}

// A .res file is a run of entries: data size, header size, type and name (each 0xFFFF and an
// ordinal, or a zero-terminated UTF-16 name), padding to 4 bytes, data version, memory flags,
// language, version, characteristics, then the data, padded to 4 bytes. The data of an RT_STRING
// entry with ordinal n holds ids (n - 1) * 16 to (n - 1) * 16 + 15 as 16 counted UTF-16 strings.
std::map<std::uint16_t, Table> readStringTables(const std::string& res) {
  auto u16 = [&res](std::size_t at) {
    if (at + 2 > res.size()) throw std::runtime_error("truncated .res file");
    return std::uint16_t(std::uint8_t(res[at]) | std::uint8_t(res[at + 1]) << 8);
  };
  auto u32 = [&u16](std::size_t at) { return std::uint32_t(u16(at)) | std::uint32_t(u16(at + 2)) << 16; };
  auto skipId = [&u16](std::size_t at, std::uint16_t& ordinal) {
    ordinal = u16(at) == 0xFFFF ? u16(at + 2) : 0;
    if (ordinal != 0) return at + 4;
    while (u16(at) != 0) at += 2;
    return at + 2;
  };
  std::map<std::uint16_t, Table> tables;
  for (std::size_t entry = 0; entry < res.size();) {
    std::uint16_t type = 0, name = 0;
    const std::size_t at = (skipId(skipId(entry + 8, type), name) + 3) & ~std::size_t(3);
    const std::size_t data = entry + u32(entry + 4), end = data + u32(entry);
    if (end > res.size()) throw std::runtime_error("truncated .res file");
    for (std::size_t p = data, slot = 0; type == 6 && name != 0 && slot < 16; ++slot) {
      std::vector<std::uint16_t> units(u16(p));
      for (std::size_t k = 0; k < units.size(); ++k) units[k] = u16(p + 2 + 2 * k);
      p += 2 + 2 * units.size();
      if (p > end) throw std::runtime_error("string block overruns its entry");
      // An empty text is no entry: looking its id up fails the test.
      if (!units.empty()) tables[u16(at + 6)][int((name - 1) * 16 + slot)] = utf16ToUtf8(units);
    }
    entry = (end + 3) & ~std::size_t(3);
  }
  return tables;
}

const Table& compiled(std::uint16_t langId) {
  static const std::map<std::uint16_t, Table> tables = readStringTables(readFile(KV_STRINGS_RES));
  return tables.at(langId);  // throws when the language is missing from the resource
}

// One text a line, `<id> "<text>"`. Inside the quotes "" is a double quote and \n a line break,
// as windres reads them; whatever else windres makes of a line shows as a difference from the
// compiled text.
std::map<int, std::vector<std::string>> readSource(const std::string& text) {
  static const std::regex entry(R"re(^\s*(\d+)\s*,?\s*"(.*)"\s*$)re");
  std::map<int, std::vector<std::string>> texts;
  std::smatch m;
  std::istringstream lines(text);
  // A line's CR is the pattern's trailing blank.
  for (std::string line; std::getline(lines, line);) {
    if (!std::regex_match(line, m, entry)) continue;
    const std::string quoted = std::regex_replace(m[2].str(), std::regex("\"\""), "\"");
    texts[std::stoi(m[1])].push_back(std::regex_replace(quoted, std::regex(R"(\\n)"), "\n"));
  }
  return texts;
}

std::ptrdiff_t countOf(const std::string& text, const std::regex& what) {
  return std::distance(std::sregex_iterator(text.begin(), text.end(), what), std::sregex_iterator());
}

class StringTable : public ::testing::TestWithParam<Language> {};

}  // namespace

// windres keeps the last of two texts with the same id without a word, and a wrong LANGUAGE line
// puts a table under another language: only the source shows the first, and comparing source and
// compiled text shows the second, along with any text windres read in the wrong encoding. Each
// file states its own encoding: it may be compiled, or included, on its own.
TEST_P(StringTable, SourceDefinesEveryIdOnceAndCompilesToTheSameText) {
  const std::string text = readFile(std::string(KV_STRINGS_DIR) + "/" + GetParam().tag + ".rc");
  EXPECT_EQ(0u, text.rfind("#pragma code_page(65001)\n", 0));
  auto source = readSource(text);
  EXPECT_EQ(std::size_t(kLastId - kFirstId + 1), source.size());
  for (int id = kFirstId; id <= kLastId; ++id) {
    // Missing, defined twice or compiled otherwise, the id's texts differ from the compiled one.
    EXPECT_EQ(std::vector<std::string>{compiled(GetParam().langId).at(id)}, source[id]) << "id " << id;
  }
}

TEST_P(StringTable, TextsKeepTheShapeOfTheEnglishOnesAndQuoteTheLabelsOfTheirControls) {
  const Table& table = compiled(GetParam().langId);
  static const std::regex brand("Pellora");
  for (int id = kFirstId; id <= kLastId; ++id) {
    const std::string& text = table.at(id);
    const std::string& en = compiled(kEnglish).at(id);
    SCOPED_TRACE("id " + std::to_string(id) + ": " + text);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), std::count(en.begin(), en.end(), '\n'));
    EXPECT_EQ(countOf(text, brand), countOf(en, brand));
    // Neither escapes nor printf directives nor control characters reach a window, and U+FFFD
    // means a byte sequence or surrogate that did not decode.
    EXPECT_EQ(text.find_first_of("\\%\t\r"), std::string::npos);
    EXPECT_EQ(text.find("\"\""), std::string::npos);
    EXPECT_EQ(text.find("\xEF\xBF\xBD"), std::string::npos);
    EXPECT_TRUE(std::none_of(text.begin(), text.end(), [](char c) { return c != '\n' && std::uint8_t(c) < 0x20; }));
  }
  // The About window replaces the year of the notice by the current one.
  const std::string& notice = table.at(418);
  static const std::regex digits("[0-9]+");
  std::vector<std::string> runs(std::sregex_token_iterator(notice.begin(), notice.end(), digits), {});
  EXPECT_EQ(runs, std::vector<std::string>{"2021"}) << notice;
  // Messages that name a button, a field or the forgot-token option quote that control's own label,
  // so the user finds it on screen. The English help text names 'Period (hour)' and 'Validate' for
  // the time-duration field and the Enter button; the translations quote those controls' labels.
  std::vector<std::pair<int, int>> quotes = {{429, 458}, {430, 458}, {433, 458}, {433, 402},
                                             {433, 400}, {435, 458}, {444, 458}, {454, 443}};
  if (GetParam().langId != kEnglish) quotes.insert(quotes.end(), {{433, 401}, {433, 443}});
  for (const auto& q : quotes) {
    EXPECT_NE(table.at(q.first).find(table.at(q.second)), std::string::npos)
        << "text " << q.first << " does not quote label " << q.second << " \"" << table.at(q.second) << "\"";
  }
}

INSTANTIATE_TEST_SUITE_P(Languages, StringTable, ::testing::ValuesIn(kLanguages),
                         [](const ::testing::TestParamInfo<Language>& info) {
                           return std::regex_replace(info.param.tag, std::regex("-"), "_");
                         });
