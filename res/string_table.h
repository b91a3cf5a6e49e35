// The program's string table, by number, in the chosen language.
//
// The three tables (strings_en.inc, strings_zh_cn.inc, strings_zh_tw.inc)
// are compiled into the program on every platform and are also the source of
// the resource script's STRINGTABLE blocks (strings.rc, written by
// gen_resources.py), so the texts a page shows and the texts a resource
// editor sees are the same.
#pragma once

#include "platform/win_types.h"

namespace qel {

// 1033 English (the default), 2052 Simplified Chinese, 1028 Traditional
// Chinese. The other Chinese locales take the table of their script (Hong
// Kong 3076 and Macao 5124 the Traditional one, Singapore 4100 the
// Simplified one); any other language takes the English table.
void SetStringLanguage(WORD languageId);
WORD GetStringLanguage();
// The table a language id resolves to: 1033, 2052 or 1028.
WORD TableLanguage(WORD languageId);

// As LoadStringA: copies string `id` into buffer (at most size - 1 bytes,
// always terminated) and returns its length; 0 when the table has no such
// string. Texts are in the ANSI code page: translated texts are converted
// through CodePage() when a code-page port is installed, and left in UTF-8
// otherwise.
int LoadResString(UINT id, char* buffer, int size);

// As LoadStringW: the text as UTF-16 (wchar_t), whatever the code page.
int LoadResStringW(UINT id, wchar_t* buffer, int size);

// The text in UTF-8 (the tables' own encoding), or null when the table of
// the current language has no such string.
const char* ResStringUtf8(UINT id);
const char* ResStringUtf8In(WORD languageId, UINT id);

// The ids of one table, in table order; returns how many there are (at most
// `capacity` are written).
int ResStringIds(WORD languageId, UINT* ids, int capacity);

}  // namespace qel
