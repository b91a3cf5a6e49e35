#include "deploy/text_util.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/ports.h"
#include "res/string_table.h"

namespace qel {

BOOL CopyBounded(char* buffer, size_t size, const char* text) {
  size_t length = std::strlen(text);
  if (length >= size) return FALSE;
  std::memcpy(buffer, text, length + 1);
  return TRUE;
}

BOOL JoinBounded(char* buffer, size_t size, const char* const* pieces) {
  size_t total = 0;
  for (const char* const* p = pieces; *p != nullptr; ++p) total += std::strlen(*p);
  if (total >= size) return FALSE;
  char* out = buffer;
  for (const char* const* p = pieces; *p != nullptr; ++p) {
    size_t length = std::strlen(*p);
    std::memmove(out, *p, length);
    out += length;
  }
  *out = '\0';
  return TRUE;
}

BOOL WideToAnsi(const wchar_t* wide, char* buffer, int size) {
  if (size <= 0) return FALSE;
  buffer[0] = '\0';
  if (wide == nullptr || *wide == L'\0') return TRUE;
  int written = CodePage().WideCharToMultiByte(CP_ACP, 0, wide, -1, buffer, size, nullptr, nullptr);
  if (written == 0) {
    buffer[0] = '\0';
    return FALSE;
  }
  buffer[size - 1] = '\0';
  return TRUE;
}

BOOL AnsiToWide(const char* text, wchar_t* buffer, int size) {
  if (size <= 0) return FALSE;
  buffer[0] = L'\0';
  if (text == nullptr || *text == '\0') return TRUE;
  int written = CodePage().MultiByteToWideChar(CP_ACP, 0, text, -1, buffer, size);
  if (written == 0) {
    buffer[0] = L'\0';
    return FALSE;
  }
  buffer[size - 1] = L'\0';
  return TRUE;
}

std::string AnsiString(const wchar_t* wide) {
  if (wide == nullptr || *wide == L'\0') return std::string();
  int size = CodePage().WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string result(static_cast<size_t>(size), '\0');
  size = CodePage().WideCharToMultiByte(CP_ACP, 0, wide, -1, &result[0], size, nullptr, nullptr);
  result.resize(size > 0 ? static_cast<size_t>(size - 1) : 0);
  return result;
}

std::wstring WideString(const char* text) {
  if (text == nullptr || *text == '\0') return std::wstring();
  int size = CodePage().MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring result(static_cast<size_t>(size), L'\0');
  size = CodePage().MultiByteToWideChar(CP_ACP, 0, text, -1, &result[0], size);
  result.resize(size > 0 ? static_cast<size_t>(size - 1) : 0);
  return result;
}

std::wstring CharactersOutsideCodePage(const wchar_t* wide) {
  std::wstring outside;
  if (wide == nullptr) return outside;
  for (const wchar_t* c = wide; *c != L'\0'; ++c) {
    char bytes[8];
    BOOL usedDefault = FALSE;
    int written = CodePage().WideCharToMultiByte(CP_ACP, 0, c, 1, bytes, sizeof bytes, nullptr, &usedDefault);
    if ((written == 0 || usedDefault) && outside.find(*c) == std::wstring::npos) outside += *c;
  }
  return outside;
}

namespace {

std::string Utf8Of(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int size = CodePage().WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0,
                                            nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string result(static_cast<size_t>(size), '\0');
  CodePage().WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), &result[0], size, nullptr,
                                 nullptr);
  return result;
}

}  // namespace

std::string OutsideCodePageText(UINT id, const wchar_t* text, const std::wstring& outside) {
  const char* format = ResStringUtf8(id);
  if (format == nullptr) return std::string();
  std::string name = Utf8Of(text != nullptr ? text : L"");
  std::string characters = Utf8Of(outside);
  std::vector<char> out(std::strlen(format) + name.size() + characters.size() + 16);
  std::snprintf(out.data(), out.size(), format, name.c_str(), static_cast<unsigned>(CodePage().GetACP()),
                characters.c_str());
  return out.data();
}

}  // namespace qel
