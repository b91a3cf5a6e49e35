#include "res/dialog_texts.h"

#include <cstring>

#include "res/resource.h"
#include "res/string_table.h"

namespace qel {

namespace {

struct DialogText {
  WORD language;
  UINT dialog;
  const char* text;
};

const DialogText kTexts[] = {
#define QEL_DIALOG_TEXT(language, dialog, text) {language, dialog, text},
#include "res/dialog_texts.inc"
#undef QEL_DIALOG_TEXT
};

}  // namespace

std::string PageTextUtf8(WORD language, UINT dialogId, const char* english) {
  WORD table = TableLanguage(language);
  int place = -1;
  int index = 0;
  for (const DialogText& entry : kTexts) {
    if (entry.language != 1033 || entry.dialog != dialogId) continue;
    if (std::strcmp(entry.text, english) == 0) {
      place = index;
      break;
    }
    ++index;
  }
  if (place < 0) return english;
  index = 0;
  for (const DialogText& entry : kTexts) {
    if (entry.language != table || entry.dialog != dialogId) continue;
    if (index++ == place) return entry.text;
  }
  return english;
}

std::string PlainPageText(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      out += text[i];
      continue;
    }
    // "(&A)" after a translated text goes whole; a lone "&" marks the next letter.
    if (!out.empty() && out.back() == '(' && i + 2 < text.size() && text[i + 2] == ')') {
      out.pop_back();
      i += 2;
    } else if (i + 1 < text.size() && text[i + 1] == '&') {
      out += '&';
      ++i;
    }
  }
  size_t begin = out.find_first_not_of(' ');
  return begin == std::string::npos ? std::string() : out.substr(begin);
}

}  // namespace qel
