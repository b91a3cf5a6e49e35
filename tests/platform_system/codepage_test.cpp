// Conversions between UTF-16 names and ANSI text, with the buffer rules of
// WideCharToMultiByte/MultiByteToWideChar, for code pages 1252 and 936.
#include <cstring>
#include <string>

#include "tests/platform_system/ports_under_test.h"

namespace qel::test {
namespace {

using CodePageTest = PortsTest;

std::string ToAnsi(UINT codePage, const wchar_t* text, int length = -1) {
  char buffer[64] = {};
  int n = CodePage().WideCharToMultiByte(codePage, 0, text, length, buffer, sizeof(buffer), nullptr, nullptr);
  return std::string(buffer, n > 0 ? n : 0);
}

TEST_F(CodePageTest, ChineseTextToAndFrom936) {
  const wchar_t kChinese[] = {0x4E2D, 0x6587, 0};  // 中文
  EXPECT_EQ(ToAnsi(936, kChinese), std::string("\xD6\xD0\xCE\xC4", 5));  // terminator included
  EXPECT_EQ(ToAnsi(936, kChinese, 2), "\xD6\xD0\xCE\xC4");

  wchar_t wide[8] = {};
  EXPECT_EQ(CodePage().MultiByteToWideChar(936, 0, "\xD6\xD0\xCE\xC4", -1, wide, 8), 3);
  EXPECT_EQ(wide[0], static_cast<wchar_t>(0x4E2D));
  EXPECT_EQ(wide[1], static_cast<wchar_t>(0x6587));
  EXPECT_EQ(wide[2], 0);
}

TEST_F(CodePageTest, TrailByteThatLooksLikeABackslashBelongsToItsCharacter) {
  // 0x81 0x5C is one character of 936 whose second byte is '\'.
  wchar_t wide[8] = {};
  EXPECT_EQ(CodePage().MultiByteToWideChar(936, 0, "a\x81\x5C", 3, wide, 8), 2);
  EXPECT_EQ(wide[0], L'a');
  EXPECT_NE(wide[1], L'\\');
  // And back to the same two bytes.
  EXPECT_EQ(ToAnsi(936, wide, 2), "a\x81\x5C");
}

TEST_F(CodePageTest, WesternCharactersOf1252) {
  const wchar_t kText[] = {L'A', 0x00E9, 0x20AC, 0};  // A é €
  EXPECT_EQ(ToAnsi(1252, kText), std::string("A\xE9\x80", 4));
  wchar_t wide[8] = {};
  EXPECT_EQ(CodePage().MultiByteToWideChar(1252, 0, "\x80\xE9", 2, wide, 8), 2);
  EXPECT_EQ(wide[0], static_cast<wchar_t>(0x20AC));
  EXPECT_EQ(wide[1], static_cast<wchar_t>(0x00E9));
}

TEST_F(CodePageTest, UnmappableCharacterBecomesTheDefaultCharacter) {
  const wchar_t kText[] = {L'x', 0x4E2D, 0};
  char buffer[16] = {};
  BOOL usedDefault = FALSE;
  EXPECT_EQ(CodePage().WideCharToMultiByte(1252, 0, kText, -1, buffer, 16, nullptr, &usedDefault), 3);
  EXPECT_STREQ(buffer, "x?");
  EXPECT_TRUE(usedDefault);

  EXPECT_EQ(CodePage().WideCharToMultiByte(1252, 0, kText, -1, buffer, 16, "*", &usedDefault), 3);
  EXPECT_STREQ(buffer, "x*");
  EXPECT_TRUE(usedDefault);

  const wchar_t kPlain[] = L"plain";
  usedDefault = TRUE;
  EXPECT_EQ(CodePage().WideCharToMultiByte(1252, 0, kPlain, -1, buffer, 16, nullptr, &usedDefault), 6);
  EXPECT_FALSE(usedDefault);
}

TEST_F(CodePageTest, BufferSizeRules) {
  const wchar_t kChinese[] = {0x4E2D, 0x6587, 0};
  // Size 0 asks for the size needed.
  EXPECT_EQ(CodePage().WideCharToMultiByte(936, 0, kChinese, -1, nullptr, 0, nullptr, nullptr), 5);
  EXPECT_EQ(CodePage().MultiByteToWideChar(936, 0, "\xD6\xD0\xCE\xC4", -1, nullptr, 0), 3);
  // A buffer too small fails with ERROR_INSUFFICIENT_BUFFER.
  char small[4];
  QelSetLastError(0);
  EXPECT_EQ(CodePage().WideCharToMultiByte(936, 0, kChinese, -1, small, 4, nullptr, nullptr), 0);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  wchar_t wide[2];
  QelSetLastError(0);
  EXPECT_EQ(CodePage().MultiByteToWideChar(936, 0, "\xD6\xD0\xCE\xC4", -1, wide, 2), 0);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  // An explicit length leaves the terminator out.
  EXPECT_EQ(CodePage().MultiByteToWideChar(1252, 0, "abc", 3, nullptr, 0), 3);
}

TEST_F(CodePageTest, BadArgumentsAreRefused) {
  QelSetLastError(0);
  EXPECT_EQ(CodePage().WideCharToMultiByte(1252, 0, nullptr, -1, nullptr, 0, nullptr, nullptr), 0);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  QelSetLastError(0);
  EXPECT_EQ(CodePage().MultiByteToWideChar(1252, 0, "abc", 0, nullptr, 0), 0);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(CodePageTest, AnsiCodePageAndLeadBytes) {
  UINT acp = CodePage().GetACP();
  if (acp == 1252) {
    for (int b = 0; b < 256; ++b) EXPECT_FALSE(CodePage().IsDBCSLeadByte(static_cast<BYTE>(b))) << b;
    const wchar_t kText[] = {0x00E9, 0};
    EXPECT_EQ(ToAnsi(CP_ACP, kText), std::string("\xE9", 2));
  } else {
    EXPECT_EQ(acp, 936u);
  }
}

#ifndef _WIN32
TEST_F(CodePageTest, HostAnsiCodePage936) {
  env_.reset();
  HostTestOptions options;
  options.codePage = 936;
  env_ = std::make_unique<HostTestEnv>(options);
  EXPECT_EQ(CodePage().GetACP(), 936u);
  EXPECT_TRUE(CodePage().IsDBCSLeadByte(0x81));
  EXPECT_TRUE(CodePage().IsDBCSLeadByte(0xD6));
  EXPECT_TRUE(CodePage().IsDBCSLeadByte(0xFE));
  EXPECT_FALSE(CodePage().IsDBCSLeadByte(0x80));
  EXPECT_FALSE(CodePage().IsDBCSLeadByte(0xFF));
  EXPECT_FALSE(CodePage().IsDBCSLeadByte('\\'));
  const wchar_t kChinese[] = {0x4E2D, 0x6587, 0};
  EXPECT_EQ(ToAnsi(CP_ACP, kChinese), std::string("\xD6\xD0\xCE\xC4", 5));
  // A lead byte cut off by the end of the text is not a character.
  wchar_t wide[4] = {};
  EXPECT_EQ(CodePage().MultiByteToWideChar(CP_ACP, 0, "a\xD6", 2, wide, 4), 2);
  EXPECT_EQ(wide[0], L'a');
  EXPECT_EQ(CodePage().MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "a\xD6", 2, wide, 4), 0);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}
#endif

}  // namespace
}  // namespace qel::test
