#include "res/string_table.h"

#include <cstring>

namespace qel {

namespace {

struct Entry {
  UINT id;
  const char* text;
};

const Entry kEnglish[] = {
#define QEL_STRING(id, text) {id, text},
#include "res/strings_en.inc"
#undef QEL_STRING
};

WORD g_language = 1033;

}  // namespace

void SetStringLanguage(WORD languageId) { g_language = languageId; }
WORD GetStringLanguage() { return g_language; }

int LoadResString(UINT id, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  buffer[0] = '\0';
  for (const Entry& entry : kEnglish) {
    if (entry.id != id) continue;
    size_t length = std::strlen(entry.text);
    if (length > static_cast<size_t>(size - 1)) length = static_cast<size_t>(size - 1);
    std::memcpy(buffer, entry.text, length);
    buffer[length] = '\0';
    return static_cast<int>(length);
  }
  return 0;
}

}  // namespace qel
