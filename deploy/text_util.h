// Small text helpers of the engine: bounded copies and the ANSI code page.
#pragma once

#include <cstddef>
#include <string>

#include "platform/win_types.h"

namespace qel {

// Copies text into buffer when it fits (terminator included); FALSE and the
// buffer untouched otherwise.
BOOL CopyBounded(char* buffer, size_t size, const char* text);
// Joins the pieces (a null-terminated list) into buffer when the whole fits.
BOOL JoinBounded(char* buffer, size_t size, const char* const* pieces);

// Wide to ANSI (CP_ACP) into size bytes; null or empty gives "". FALSE when
// the text does not fit or cannot be converted (buffer then empty).
BOOL WideToAnsi(const wchar_t* wide, char* buffer, int size);
// ANSI to wide into size characters; FALSE when it does not fit.
BOOL AnsiToWide(const char* text, wchar_t* buffer, int size);

// The same without a size limit; null, empty or unconvertible text gives "".
// Characters without a mapping become the code page's default character.
std::string AnsiString(const wchar_t* wide);
std::wstring WideString(const char* text);

// The characters of `wide` that have no byte in the ANSI code page, each
// once, in order of appearance; empty when the whole text converts.
std::wstring CharactersOutsideCodePage(const wchar_t* wide);
// String `id` of the table (220 or 221: text, code page, characters) in
// UTF-8, filled with `text` and its characters outside the code page.
std::string OutsideCodePageText(UINT id, const wchar_t* text, const std::wstring& outside);

}  // namespace qel
