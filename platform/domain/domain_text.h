// Text helpers of the domain store: UTF-8 <-> wide conversion (UTF-16 where
// wchar_t is 16 bits, UTF-32 where it is 32), the case folding the directory
// uses for names and values, and base64 for LDIF and the journal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qel {

// Converts UTF-8 to wide text; false on a malformed sequence (out untouched).
bool Utf8ToWide(const std::string& utf8, std::wstring* out);
bool IsUtf8(std::string_view text);  // what the call above accepts
std::wstring Utf8ToWide(const std::string& utf8);  // malformed bytes become U+FFFD
// Converts `size` bytes of UTF-8 into `out`, which has room for `size`
// characters (never more are needed); malformed bytes become U+FFFD.
// Returns the characters written.
size_t Utf8ToWideInto(const char* utf8, size_t size, wchar_t* out);
std::string WideToUtf8(std::wstring_view wide);
std::string WideToUtf8(const wchar_t* wide);

// Directory names and the values of the string syntaxes compare without case,
// as Active Directory compares them: ASCII, Latin-1, Latin Extended-A, Greek
// and Cyrillic letters fold to lower case.
wchar_t FoldChar(wchar_t c);
std::wstring FoldCase(std::wstring_view text);
bool EqualNoCase(std::wstring_view a, std::wstring_view b);
bool EqualNoCase(const wchar_t* a, const wchar_t* b);
// ASCII-only folding for attribute names and other protocol words.
std::string AsciiLower(std::string text);
bool AsciiEqualNoCase(std::string_view a, std::string_view b);

std::string Base64Encode(const std::string& bytes);
// False on characters outside the alphabet or a bad length.
bool Base64Decode(std::string_view text, std::string* bytes);

// Decimal text of an unsigned 32-bit number ("512"); false on anything else.
bool ParseUInt32(const std::string& text, unsigned long* value);

}  // namespace qel
