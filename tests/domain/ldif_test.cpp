#include "platform/domain/ldif.h"

#include "gtest/gtest.h"
#include "platform/domain/dn.h"
#include "platform/domain/domain_text.h"

namespace qel {
namespace {

TEST(ParseLdif, ValuesBase64AndFoldedLines) {
  const std::string text =
      "# qel-domain: TEST\n"
      "# qel-dns: test.lan\n"
      "version: 1\n"
      "\n"
      "dn: CN=Bob Jones,OU=Sales,\n"
      " DC=test,DC=lan\n"
      "scriptPath:: IGxvZ29uLmJhdA==\n"  // " logon.bat": a leading blank needs base64
      "displayName: Bob\n"
      "  Jones\n"                        // folded line: one blank is dropped
      "description:    spaced\n"         // blanks after the colon are not part of the value
      "# a comment inside the record\n"
      "cn: Bob Jones\r\n"
      "\n"
      "dn: DC=test,DC=lan\n";
  LdifDocument doc;
  DomainError error;
  ASSERT_TRUE(ParseLdif(text, "x.ldif", &doc, &error)) << error.ToString();
  EXPECT_EQ(doc.Meta("domain"), "TEST");
  EXPECT_EQ(doc.Meta("DNS"), "test.lan");
  EXPECT_EQ(doc.Meta("controller"), "");
  ASSERT_EQ(doc.entries.size(), 2u);
  const LdifEntry& bob = doc.entries[0];
  EXPECT_EQ(bob.dn, "CN=Bob Jones,OU=Sales,DC=test,DC=lan");
  EXPECT_EQ(bob.line, 5);
  ASSERT_EQ(bob.attributes.size(), 4u);
  EXPECT_EQ(bob.attributes[0].value, " logon.bat");
  EXPECT_EQ(bob.attributes[1].value, "Bob Jones");
  EXPECT_EQ(bob.attributes[2].value, "spaced");
  EXPECT_EQ(bob.attributes[3].value, "Bob Jones");  // the CR of CRLF is not part of it
  EXPECT_EQ(bob.attributes[3].line, 12);
  EXPECT_EQ(bob.comments.size(), 3u);  // the two meta lines and the inner comment
}

TEST(ParseLdif, RefusesWithLineAndReason) {
  struct Case {
    const char* text;
    int line;
    const char* reason;
  } cases[] = {
      {"dn: DC=test,DC=lan\nno colon here\n", 2, "syntax error"},
      {" continued\n", 1, "continuation"},
      {"dn: DC=test,DC=lan\ncn:: ***\n", 2, "base64"},
      {"cn: first\n", 1, "must begin with \"dn:\""},
      {"dn: DC=test,DC=lan\ndn: DC=other\n", 2, "second \"dn:\""},
      {"dn: DC=test,DC=lan\nchangetype: modify\n", 2, "change records"},
      {"dn: DC=test,DC=lan\nphoto:< file:///etc/passwd\n", 2, "URL"},
      {"dn: DC=test,DC=lan\ncn:: /w==\n", 2, "not UTF-8"},
      {"dn: DC=test,DC=lan\nbad name: x\n", 2, "attribute name"},
  };
  for (const Case& c : cases) {
    LdifDocument doc;
    DomainError error;
    EXPECT_FALSE(ParseLdif(c.text, "bad.ldif", &doc, &error)) << c.text;
    EXPECT_EQ(error.file, "bad.ldif");
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_NE(error.reason.find(c.reason), std::string::npos) << error.reason;
    EXPECT_EQ(error.ToString().rfind("bad.ldif:" + std::to_string(c.line) + ": ", 0), 0u);
  }
}

TEST(FormatLdifLine, Base64WhenNotSafeAndFoldedWhenLong) {
  EXPECT_EQ(FormatLdifLine("scriptPath", "logon.bat"), "scriptPath: logon.bat\n");
  EXPECT_EQ(FormatLdifLine("scriptPath", " logon.bat"), "scriptPath:: IGxvZ29uLmJhdA==\n");
  EXPECT_EQ(FormatLdifLine("cn", "a "), "cn:: YSA=\n");
  EXPECT_EQ(FormatLdifLine("cn", ":x"), "cn:: Ong=\n");
  EXPECT_EQ(FormatLdifLine("cn", "\xC3\x89vans").substr(0, 4), "cn::");
  std::string longValue(200, 'x');
  std::string line = FormatLdifLine("description", longValue);
  // Every physical line fits in 76 columns and reads back as the value.
  size_t start = 0;
  while (start < line.size()) {
    size_t end = line.find('\n', start);
    EXPECT_LE(end - start, 76u);
    start = end + 1;
  }
  LdifDocument doc;
  DomainError error;
  ASSERT_TRUE(ParseLdif("dn: DC=a\n" + line, "f", &doc, &error));
  EXPECT_EQ(doc.entries[0].attributes[0].value, longValue);
}

TEST(Dn, NormalizeParentAndScope) {
  EXPECT_EQ(NormalizeDn(L"CN=Bob Jones, OU=Sales ,dc=TEST,DC=lan"), L"cn=bob jones,ou=sales,dc=test,dc=lan");
  EXPECT_EQ(NormalizeDn(L"CN=Smith\\, John,DC=a"), NormalizeDn(L"cn=SMITH\\2C JOHN,dc=A"));
  EXPECT_EQ(NormalizeDn(L"CN=,DC=a"), L"");   // empty value
  EXPECT_EQ(NormalizeDn(L"novalue,DC=a"), L"");
  EXPECT_EQ(NormalizeDn(L"CN=a\\"), L"");     // dangling escape
  EXPECT_EQ(ParentDn(L"CN=Smith\\, John,OU=Sales,DC=a"), L"OU=Sales,DC=a");
  EXPECT_EQ(ParentDn(L"DC=a"), L"");
  std::wstring base = NormalizeDn(L"OU=Sales,DC=a");
  EXPECT_TRUE(DnKeyAtOrBelow(NormalizeDn(L"CN=x,OU=East,OU=Sales,DC=a"), base));
  EXPECT_TRUE(DnKeyAtOrBelow(base, base));
  EXPECT_FALSE(DnKeyAtOrBelow(NormalizeDn(L"OU=PreSales,DC=a"), base));       // suffix, not a whole RDN
  EXPECT_FALSE(DnKeyAtOrBelow(NormalizeDn(L"CN=x\\,OU=Sales,DC=a"), base));  // escaped comma
}

TEST(DomainText, Utf8AndFolding) {
  std::wstring wide;
  ASSERT_TRUE(Utf8ToWide("\xE7\x8E\x8B\xE4\xBC\x9F \xC3\x89 \xF0\x9F\x98\x80", &wide));
  EXPECT_EQ(WideToUtf8(wide), "\xE7\x8E\x8B\xE4\xBC\x9F \xC3\x89 \xF0\x9F\x98\x80");
  EXPECT_FALSE(Utf8ToWide("\xC0\xAF", &wide));  // overlong
  EXPECT_FALSE(Utf8ToWide("\xE7\x8E", &wide));  // cut short
  EXPECT_TRUE(EqualNoCase(std::wstring(L"\u00c9VANS"), std::wstring(L"\u00e9vans")));
  EXPECT_FALSE(EqualNoCase(std::wstring(L"QEL"), std::wstring(L"QEX")));
  std::string bytes;
  EXPECT_TRUE(Base64Decode(Base64Encode(std::string("\0\1\2xyz", 6)), &bytes));
  EXPECT_EQ(bytes, std::string("\0\1\2xyz", 6));
  EXPECT_FALSE(Base64Decode("ab=c", &bytes));
}

}  // namespace
}  // namespace qel
