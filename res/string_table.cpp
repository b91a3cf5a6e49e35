#include "res/string_table.h"

#include <atomic>
#include <cstring>
#include <vector>

#include "platform/ports.h"

namespace qel {

namespace {

struct Entry {
  UINT id;
  const char* text;  // UTF-8
};

const Entry kEnglish[] = {
#define QEL_STRING(id, text) {id, text},
#include "res/strings_en.inc"
#undef QEL_STRING
};

const Entry kSimplified[] = {
#define QEL_STRING(id, text) {id, text},
#include "res/strings_zh_cn.inc"
#undef QEL_STRING
};

const Entry kTraditional[] = {
#define QEL_STRING(id, text) {id, text},
#include "res/strings_zh_tw.inc"
#undef QEL_STRING
};

struct Table {
  const Entry* entries;
  size_t count;
};

std::atomic<WORD> g_language{1033};

Table TableOf(WORD languageId) {
  switch (TableLanguage(languageId)) {
    case 2052:
      return {kSimplified, sizeof(kSimplified) / sizeof(kSimplified[0])};
    case 1028:
      return {kTraditional, sizeof(kTraditional) / sizeof(kTraditional[0])};
    default:
      return {kEnglish, sizeof(kEnglish) / sizeof(kEnglish[0])};
  }
}

// UTF-8 to UTF-16 code units (the tables hold no characters beyond the BMP;
// anything malformed becomes U+FFFD).
std::vector<wchar_t> Widen(const char* text) {
  std::vector<wchar_t> out;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != 0) {
    unsigned c = *p;
    unsigned code = 0xFFFD;
    int extra = 0;
    if (c < 0x80) {
      code = c;
    } else if ((c & 0xE0) == 0xC0) {
      code = c & 0x1F;
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      code = c & 0x0F;
      extra = 2;
    } else {
      ++p;
      out.push_back(0xFFFD);
      continue;
    }
    ++p;
    for (int i = 0; i < extra; ++i) {
      if ((*p & 0xC0) != 0x80) {
        code = 0xFFFD;
        break;
      }
      code = (code << 6) | (*p & 0x3F);
      ++p;
    }
    out.push_back(static_cast<wchar_t>(code));
  }
  return out;
}

bool IsAscii(const char* text) {
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    if (*p >= 0x80) return false;
  }
  return true;
}

int CopyTruncated(const char* text, size_t length, char* buffer, int size) {
  if (length > static_cast<size_t>(size - 1)) length = static_cast<size_t>(size - 1);
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
  return static_cast<int>(length);
}

}  // namespace

WORD TableLanguage(WORD languageId) {
  switch (languageId) {
    case 2052:  // zh-CN
    case 4100:  // zh-SG
      return 2052;
    case 1028:  // zh-TW
    case 3076:  // zh-HK
    case 5124:  // zh-MO
      return 1028;
    default:
      return 1033;
  }
}

void SetStringLanguage(WORD languageId) { g_language = languageId; }
WORD GetStringLanguage() { return g_language; }

const char* ResStringUtf8In(WORD languageId, UINT id) {
  Table table = TableOf(languageId);
  for (size_t i = 0; i < table.count; ++i) {
    if (table.entries[i].id == id) return table.entries[i].text;
  }
  return nullptr;
}

const char* ResStringUtf8(UINT id) { return ResStringUtf8In(g_language, id); }

int ResStringIds(WORD languageId, UINT* ids, int capacity) {
  Table table = TableOf(languageId);
  for (size_t i = 0; i < table.count && static_cast<int>(i) < capacity; ++i) ids[i] = table.entries[i].id;
  return static_cast<int>(table.count);
}

int LoadResString(UINT id, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  buffer[0] = '\0';
  const char* text = ResStringUtf8(id);
  if (text == nullptr) return 0;
  if (IsAscii(text) || Ports().codePage == nullptr) return CopyTruncated(text, std::strlen(text), buffer, size);
  std::vector<wchar_t> wide = Widen(text);
  int needed = CodePage().WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                              nullptr, nullptr);
  if (needed <= 0) return CopyTruncated(text, std::strlen(text), buffer, size);
  std::vector<char> ansi(static_cast<size_t>(needed));
  CodePage().WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), ansi.data(), needed,
                                 nullptr, nullptr);
  size_t length = static_cast<size_t>(needed);
  // Never cut a double-byte character in half.
  if (length > static_cast<size_t>(size - 1)) {
    size_t keep = 0;
    while (keep < static_cast<size_t>(size - 1)) {
      size_t step = CodePage().IsDBCSLeadByte(static_cast<BYTE>(ansi[keep])) ? 2 : 1;
      if (keep + step > static_cast<size_t>(size - 1)) break;
      keep += step;
    }
    length = keep;
  }
  return CopyTruncated(ansi.data(), length, buffer, size);
}

int LoadResStringW(UINT id, wchar_t* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  buffer[0] = L'\0';
  const char* text = ResStringUtf8(id);
  if (text == nullptr) return 0;
  std::vector<wchar_t> wide = Widen(text);
  size_t length = wide.size();
  if (length > static_cast<size_t>(size - 1)) length = static_cast<size_t>(size - 1);
  std::memcpy(buffer, wide.data(), length * sizeof(wchar_t));
  buffer[length] = L'\0';
  return static_cast<int>(length);
}

}  // namespace qel
