#include "platform/domain/ldap_filter.h"

#include <cwchar>

#include "gtest/gtest.h"
#include "tests/domain/domain_test_util.h"

namespace qel {
namespace {

class LdapFilterTest : public ::testing::Test {
 protected:
  void SetUp() override { test::LoadSample(&store_); }

  // Whether `filter` matches the object named `dn`.
  bool Match(const std::wstring& filter, const std::wstring& dn) {
    LdapFilter f;
    std::string reason;
    EXPECT_TRUE(f.Parse(filter, &reason)) << reason;
    uint32_t index = store_.FindObject(dn);
    EXPECT_NE(index, kNoObject) << "no object " << std::string(dn.begin(), dn.end());
    return index != kNoObject && f.Matches(store_, store_.Object(index));
  }

  DomainStore store_;
};

const wchar_t kAlice[] = L"CN=Alice Smith,OU=Sales,DC=test,DC=lan";
const wchar_t kContact[] = L"CN=Partner Contact,OU=Sales,DC=test,DC=lan";
const wchar_t kWs01[] = L"CN=WS01,CN=Computers,DC=test,DC=lan";
const wchar_t kSales[] = L"OU=Sales,DC=test,DC=lan";
const wchar_t kGone[] = L"CN=Old User\\0ADEL:5b1c0b7e-3d1e-4b47-9a52-0c8e1f7d2a11,CN=Deleted Objects,DC=test,DC=lan";

TEST_F(LdapFilterTest, EveryOperator) {
  EXPECT_TRUE(Match(L"(sAMAccountName=ASMITH)", kAlice));          // equality without case
  EXPECT_FALSE(Match(L"(sAMAccountName=asmit)", kAlice));
  EXPECT_TRUE(Match(L"(&(objectClass=user)(cn=Alice*))", kAlice));
  EXPECT_FALSE(Match(L"(&(objectClass=user)(cn=Bob*))", kAlice));
  EXPECT_TRUE(Match(L"(|(cn=Bob*)(cn=alice*))", kAlice));
  EXPECT_FALSE(Match(L"(|(cn=Bob*)(cn=Carol*))", kAlice));
  EXPECT_TRUE(Match(L"(!(cn=Bob*))", kAlice));
  EXPECT_TRUE(Match(L"(scriptPath=*)", kAlice));                   // presence
  EXPECT_FALSE(Match(L"(scriptPath=*)", kSales));
  EXPECT_FALSE(Match(L"(noSuchAttribute=*)", kAlice));
  EXPECT_TRUE(Match(L"(distinguishedName=cn=alice smith, ou=sales,dc=test,dc=lan)", kAlice));
  EXPECT_TRUE(Match(L"(userAccountControl>=513)", kAlice));
  EXPECT_FALSE(Match(L"(userAccountControl<=512)", kAlice));
  EXPECT_TRUE(Match(L"(userAccountControl:1.2.840.113556.1.4.803:=513)", kAlice));  // bitwise AND
  EXPECT_FALSE(Match(L"(userAccountControl:1.2.840.113556.1.4.803:=2)", kAlice));
  EXPECT_FALSE(Match(L"(userAccountControl:1.2.840.113556.1.4.803:=3)", kAlice));  // 513 has 1, not 2
  EXPECT_TRUE(Match(L"(userAccountControl:1.2.840.113556.1.4.804:=3)", kAlice));    // bitwise OR
  EXPECT_TRUE(Match(L"(cn=Alice\\20Smith)", kAlice));               // escaped blank
  EXPECT_TRUE(Match(L"objectClass=organizationalUnit", kSales));    // bare item
  EXPECT_TRUE(Match(L"", kSales));                                  // empty: everything
}

TEST_F(LdapFilterTest, WildcardsAnywhere) {
  EXPECT_TRUE(Match(L"(cn=A*e*h)", kAlice));
  EXPECT_TRUE(Match(L"(cn=*smith)", kAlice));
  EXPECT_TRUE(Match(L"(cn=*ICE*)", kAlice));
  EXPECT_TRUE(Match(L"(cn=Al*ice Smith)", kAlice));
  EXPECT_FALSE(Match(L"(cn=Alice*Smith*Jones)", kAlice));
  EXPECT_FALSE(Match(L"(cn=Ali*ce*ce Smith)", kAlice));  // pieces may not overlap
  EXPECT_FALSE(Match(L"(cn=Alice*ice Smith)", kAlice));  // nor may the start and the end
  EXPECT_TRUE(Match(L"(cn=**)", kAlice));
}

TEST_F(LdapFilterTest, CategoryByShortNameAndClassByAnyValue) {
  EXPECT_TRUE(Match(L"(objectCategory=Person)", kAlice));
  EXPECT_TRUE(Match(L"(objectCategory=person)", kContact));  // a contact is a person, not a user
  EXPECT_FALSE(Match(L"(objectClass=user)", kContact));
  EXPECT_FALSE(Match(L"(objectCategory=Person)", kWs01));
  EXPECT_TRUE(Match(L"(objectCategory=computer)", kWs01));
  EXPECT_TRUE(Match(L"(objectClass=user)", kWs01));          // computers are users by class
  EXPECT_TRUE(Match(L"(objectCategory=user)", kAlice));      // the default category of class user
  EXPECT_TRUE(Match(L"(objectCategory=organizationalUnit)", kSales));
  EXPECT_TRUE(Match(L"(objectCategory=CN=Person,CN=Schema,CN=Configuration,DC=test,DC=lan)", kAlice));
  EXPECT_FALSE(Match(L"(objectCategory=CN=Person,CN=Schema,DC=test,DC=lan)", kAlice));
  EXPECT_TRUE(Match(L"(objectClass=TOP)", kSales));
  EXPECT_TRUE(Match(L"(isDeleted=TRUE)", kGone));
  EXPECT_FALSE(Match(L"(!(isDeleted=TRUE))", kGone));
  EXPECT_TRUE(Match(L"(!(isDeleted=TRUE))", kAlice));
}

TEST(LdapFilterParse, MalformedFiltersAreRefused) {
  const wchar_t* bad[] = {
      L"(&(objectClass=user)(cn=Jo(hn*))",  // a typed "(" in a value
      L"(&(objectClass=user)(cn=Jo)hn*))",  // a typed ")"
      L"(&(objectClass=user)",              // unbalanced
      L"(cn=a))",                           // text after the filter
      L"(=a)",                              // no attribute
      L"(cn)",                              // no operator
      L"(cn=)",                             // no value
      L"(cn=a\\zz)",                        // bad escape
      L"(!(cn=a)(cn=b))",                   // "!" takes one filter
      L"(cn>=a*)",                          // "*" only with "="
      L"(cn:1.2.3:=4)",                     // unknown matching rule
      L"((cn=a))",
  };
  for (const wchar_t* text : bad) {
    LdapFilter f;
    std::string reason;
    EXPECT_FALSE(f.Parse(text, &reason)) << std::string(text, text + std::wcslen(text));
    EXPECT_FALSE(reason.empty());
  }
  std::wstring deep;
  for (int i = 0; i < 100; ++i) deep += L"(!";
  deep += L"(cn=a)";
  for (int i = 0; i < 100; ++i) deep += L")";
  LdapFilter f;
  std::string reason;
  EXPECT_FALSE(f.Parse(deep, &reason));
}

}  // namespace
}  // namespace qel
