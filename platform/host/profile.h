// Initialisation files ("[section]" / "key=value" lines) as the Windows
// profile functions read and change them. The text is edited line by line:
// a changed key keeps its place, every other line stays as it was.
#pragma once

#include <string>

namespace qel::host {

// The value of `key` in `section` (both matched without regard to case):
// what follows the first "=", without surrounding blanks, and without one
// pair of matching quotes around it. False when there is no such key.
bool ProfileRead(const std::string& text, const std::string& section, const std::string& key, std::string* value);

// The names of all sections, or of all keys of one section, each ended by NUL.
std::string ProfileSectionNames(const std::string& text);
std::string ProfileKeyNames(const std::string& text, const std::string& section);

// The text after WritePrivateProfileStringA(section, key, value): a null key
// removes the section, a null value removes the key; otherwise the key's
// line is replaced in place, or added at the end of its section, or a new
// section is added at the end. Lines end with CR LF.
std::string ProfileWrite(const std::string& text, const std::string& section, const char* key, const char* value);

}  // namespace qel::host
