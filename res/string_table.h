// The program's string table, by number, in the chosen language.
#pragma once

#include "platform/win_types.h"

namespace qel {

// 1033 English (the default), 2052 Simplified Chinese, 1028 Traditional Chinese.
void SetStringLanguage(WORD languageId);
WORD GetStringLanguage();

// As LoadStringA: copies string `id` into buffer (at most size - 1 bytes,
// always terminated) and returns its length; 0 when the table has no such
// string. Texts are in the ANSI code page.
int LoadResString(UINT id, char* buffer, int size);

}  // namespace qel
