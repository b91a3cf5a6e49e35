#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "res/string_table.h"

namespace qel {
namespace {

std::vector<UINT> Ids(WORD language) {
  std::vector<UINT> ids(256);
  int count = ResStringIds(language, ids.data(), static_cast<int>(ids.size()));
  ids.resize(static_cast<size_t>(count));
  return ids;
}

// The printf conversions of a text, in order ("s", "d" ...).
std::string Conversions(const std::string& text) {
  std::string out;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '%') continue;
    out += text[i + 1];
    ++i;
  }
  return out;
}

TEST(StringTables, TranslationsCarryTheEnglishIdsAndTheTooltipOnlyInSimplified) {
  std::vector<UINT> english = Ids(1033);
  std::vector<UINT> withTip = english;
  withTip.push_back(138);
  // The ids, not their order in the tables: new texts are appended to each.
  auto sorted = [](std::vector<UINT> ids) {
    std::sort(ids.begin(), ids.end());
    return ids;
  };
  EXPECT_EQ(sorted(Ids(1028)), sorted(english));
  EXPECT_EQ(sorted(Ids(2052)), sorted(withTip));
  for (UINT id : {103u, 106u, 107u, 110u, 111u, 121u, 122u, 127u, 131u, 135u, 137u}) {
    EXPECT_NE(ResStringUtf8In(1033, id), nullptr) << id;
  }
  EXPECT_EQ(ResStringUtf8In(1033, 138), nullptr);
}

TEST(StringTables, TranslationsKeepTheFormatConversions) {
  for (UINT id : Ids(1033)) {
    std::string english = ResStringUtf8In(1033, id);
    EXPECT_EQ(Conversions(english), Conversions(ResStringUtf8In(2052, id))) << id;
    EXPECT_EQ(Conversions(english), Conversions(ResStringUtf8In(1028, id))) << id;
  }
}

TEST(StringTables, OtherChineseLocalesTakeTheTableOfTheirScript) {
  EXPECT_EQ(TableLanguage(3076), 1028);  // Hong Kong
  EXPECT_EQ(TableLanguage(4100), 2052);  // Singapore
  EXPECT_EQ(TableLanguage(1031), 1033);  // German: English texts
}

TEST(StringTables, LoadTruncatesAndTerminatesLikeLoadString) {
  SetStringLanguage(1033);
  char small[8];
  EXPECT_EQ(LoadResString(103, small, sizeof(small)), 7);
  EXPECT_STREQ(small, "Orvane ");
  char none[8] = "x";
  EXPECT_EQ(LoadResString(138, none, sizeof(none)), 0);
  EXPECT_STREQ(none, "");
  wchar_t wide[64];
  SetStringLanguage(2052);
  EXPECT_EQ(LoadResStringW(110, wide, 64), 2);
  EXPECT_EQ(wide[0], static_cast<wchar_t>(0x5B8C));
  EXPECT_EQ(wide[1], static_cast<wchar_t>(0x6210));
  SetStringLanguage(1033);
}

// strings.rc is generated from the tables; a table edited without running
// gen_resources.py would give the Win32 program other texts than the rest.
TEST(StringTables, ResourceScriptMatchesTheTables) {
  std::ifstream file(QEL_SOURCE_DIR "/res/strings.rc");
  ASSERT_TRUE(file.good());
  std::map<WORD, std::map<UINT, std::string>> script;
  WORD language = 0;
  std::string line;
  std::regex entry(R"re(^\s+(\d+) "(.*)"$)re");
  while (std::getline(file, line)) {
    if (line.rfind("LANGUAGE LANG_ENGLISH", 0) == 0) language = 1033;
    if (line.rfind("LANGUAGE LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED", 0) == 0) language = 2052;
    if (line.rfind("LANGUAGE LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL", 0) == 0) language = 1028;
    std::smatch m;
    if (std::regex_match(line, m, entry)) {
      std::string text = m[2];
      std::string unquoted;
      for (size_t i = 0; i < text.size(); ++i) {
        unquoted += text[i];
        if (text[i] == '"' && i + 1 < text.size() && text[i + 1] == '"') ++i;
      }
      script[language][static_cast<UINT>(std::stoul(m[1]))] = unquoted;
    }
  }
  for (WORD lang : {static_cast<WORD>(1033), static_cast<WORD>(2052), static_cast<WORD>(1028)}) {
    std::vector<UINT> ids = Ids(lang);
    EXPECT_EQ(script[lang].size(), ids.size()) << lang;
    for (UINT id : ids) {
      // The tables hold C literals: \" is a quote.
      std::string expected = ResStringUtf8In(lang, id);
      EXPECT_EQ(script[lang][id], expected) << lang << " " << id;
    }
  }
}

}  // namespace
}  // namespace qel
