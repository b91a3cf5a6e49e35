// How the store keeps names and values: a value read stays as it was while
// later writes replace it, long values and wide records load whole, and a
// name is one name however the file spells it.
#include <cwchar>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/domain/domain_generator.h"
#include "platform/domain/domain_store.h"
#include "platform/domain/domain_text.h"
#include "tests/domain/domain_test_util.h"

namespace qel {
namespace {

using test::GetAccount;
using test::ValuesOf;

const char kHead[] = "# qel-dns: test.lan\n\ndn: DC=test,DC=lan\nobjectClass: domainDNS\n\n";

TEST(DomainValues, ValuesTakenEarlierOutliveTheWritesThatReplaceThem) {
  GeneratedDomain shape;
  shape.accounts = 60;
  shape.organizationalUnits = 3;
  DomainStore store;
  DomainError error;
  ASSERT_TRUE(store.LoadText(GenerateDomainLdif(shape), "generated.ldif", &error)) << error.ToString();
  uint32_t index = store.FindAccount(L"user000004");  // one of the accounts with a script of its own
  ASSERT_NE(index, kNoObject);
  const DirObject& object = store.Object(index);
  DirValues script = store.Values(object, kAttrScriptPath);
  DirValues name = store.Values(object, kAttrSamAccountName);
  ASSERT_EQ(script.size(), 1u);
  ASSERT_EQ(name.size(), 1u);
  const std::wstring scriptBefore(script.front()), nameBefore(name.front()), dnBefore(object.dn);

  // Enough long paths to fill many of the store's blocks, the same account
  // among them again and again.
  std::wstring last;
  for (int round = 0; round < 40; ++round) {
    for (int i = 1; i <= shape.accounts; ++i) {
      wchar_t account[16];
      std::swprintf(account, 16, L"user%06d", i);
      std::wstring path = L"\\\\DC1\\scripts\\" + std::wstring(300, static_cast<wchar_t>(L'a' + round % 26)) +
                          std::to_wstring(round) + L".bat";
      USER_INFO_1009 info{const_cast<LPWSTR>(path.c_str())};
      ASSERT_EQ(store.NetUserSetInfo(nullptr, account, 1009, reinterpret_cast<LPBYTE>(&info), nullptr),
                NERR_Success);
      if (i == 4) last = path;
    }
  }
  EXPECT_EQ(std::wstring(script.front()), scriptBefore);
  EXPECT_EQ(std::wstring(name.front()), nameBefore);
  EXPECT_EQ(std::wstring(object.dn), dnBefore);
  EXPECT_EQ(ValuesOf(store, dnBefore, kAttrScriptPath), std::vector<std::wstring>{last});
  EXPECT_EQ(GetAccount(store, L"user000004").script, last);

  // Written out and read again, the domain is the one written.
  DomainStore again;
  ASSERT_TRUE(again.LoadText(store.ToLdif(), "again.ldif", &error)) << error.ToString();
  EXPECT_EQ(again.ToLdif(), store.ToLdif());
  EXPECT_EQ(GetAccount(again, L"user000004").script, last);
}

TEST(DomainValues, LongValuesAndWideRecordsLoadWhole) {
  std::string accented, astral;
  for (int i = 0; i < 20000; ++i) accented += "\xC3\xA9";  // é: two bytes, one character
  for (int i = 0; i < 5000; ++i) astral += "\xF0\x9D\x92\x9C";  // U+1D49C: four bytes, a surrogate pair in UTF-16
  const std::string medium(10000, 'm'), huge(200000, 'h');
  // The long values come first, while the store's blocks are still small.
  std::string text = kHead;
  text += "dn: CN=Long,DC=test,DC=lan\nobjectClass: container\ndescription: " + medium + "\ninfo: " + huge +
          "\ncomment: " + accented + "\nnotes: " + astral + "\n";
  for (int i = 0; i < 3000; ++i) text += "member: CN=m" + std::to_string(i) + ",DC=test,DC=lan\n";
  for (int i = 0; i < 500; ++i) text += "x" + std::to_string(i) + ": value " + std::to_string(i) + "\n";
  text += "\n";
  DomainStore store;
  DomainError error;
  ASSERT_TRUE(store.LoadText(text, "long.ldif", &error)) << error.ToString();

  const std::wstring dn = L"CN=Long,DC=test,DC=lan";
  auto values = [&](const wchar_t* attribute) {
    int id = store.AttributeId(attribute);
    EXPECT_GE(id, 0) << WideToUtf8(attribute);
    return id < 0 ? std::vector<std::wstring>() : ValuesOf(store, dn, static_cast<uint32_t>(id));
  };
  EXPECT_EQ(values(L"description"), std::vector<std::wstring>{Utf8ToWide(medium)});
  EXPECT_EQ(values(L"info"), std::vector<std::wstring>{Utf8ToWide(huge)});
  EXPECT_EQ(values(L"comment"), std::vector<std::wstring>{Utf8ToWide(accented)});
  EXPECT_EQ(values(L"notes"), std::vector<std::wstring>{Utf8ToWide(astral)});
  std::vector<std::wstring> members = values(L"member");
  ASSERT_EQ(members.size(), 3000u);
  EXPECT_EQ(members.front(), L"CN=m0,DC=test,DC=lan");
  EXPECT_EQ(members.back(), L"CN=m2999,DC=test,DC=lan");
  EXPECT_EQ(values(L"x0"), std::vector<std::wstring>{L"value 0"});
  EXPECT_EQ(values(L"x499"), std::vector<std::wstring>{L"value 499"});

  DomainStore again;
  ASSERT_TRUE(again.LoadText(store.ToLdif(), "again.ldif", &error)) << error.ToString();
  EXPECT_EQ(again.ToLdif(), store.ToLdif());
}

TEST(DomainValues, ANameIsOneNameHoweverItIsSpelled) {
  // Containers whose names need escapes, folding beyond ASCII or a hex
  // escape, and children that spell their parent's name another way.
  const std::string text = std::string(kHead) +
                           "dn: OU=\xC3\x9Cnion\\, East,DC=test,DC=lan\nobjectClass: organizationalUnit\n\n"
                           "dn: OU=#1,DC=test,DC=lan\nobjectClass: organizationalUnit\n\n"
                           "dn: CN=Ann,ou=\xC3\xBCNION\\2C EAST, dc=TEST,DC=lan\nobjectClass: user\n"
                           "sAMAccountName: ann\n\n"
                           "dn: CN=Bob,OU=\\#1,DC=test,DC=lan\nobjectClass: user\nsAMAccountName: bob\n\n";
  DomainStore store;
  DomainError error;
  ASSERT_TRUE(store.LoadText(text, "names.ldif", &error)) << error.ToString();
  uint32_t unionOu = store.FindObject(L"ou=\u00FCnion\\, east,dc=test,dc=lan");
  uint32_t one = store.FindObject(L"OU=\\231,DC=test,DC=lan");
  ASSERT_NE(unionOu, kNoObject);
  ASSERT_NE(one, kNoObject);
  EXPECT_EQ(store.Object(store.FindAccount(L"ann")).parent, unionOu);
  EXPECT_EQ(store.Object(store.FindAccount(L"bob")).parent, one);
  EXPECT_EQ(store.FindObject(L"CN=ANN,OU=\u00DCnion\\2c East,DC=test,DC=lan"), store.FindAccount(L"ann"));

  // The same name twice, spelled plainly and otherwise, is refused.
  const struct {
    const char* first;
    const char* second;
  } twice[] = {
      {"CN=Bob", "cn=BOB"},
      {"CN=ab", "CN=\\41B"},
      {"CN=B\\,ob", "CN=B\\2Cob"},
      {"CN=#x", "CN=\\#X"},
      {"CN=\xC3\x89mile", "cn=\xC3\xA9MILE"},
      {"CN=Bob", " CN = Bob "},
  };
  for (const auto& pair : twice) {
    std::string doubled = std::string(kHead) + "dn: " + pair.first + ",DC=test,DC=lan\nobjectClass: container\n\n" +
                          "dn: " + pair.second + ",DC=test,DC=lan\nobjectClass: container\n\n";
    DomainStore refused;
    EXPECT_FALSE(refused.LoadText(doubled, "twice.ldif", &error)) << pair.second;
    EXPECT_NE(error.reason.find("duplicate DN"), std::string::npos) << pair.second << ": " << error.ToString();
    EXPECT_EQ(error.line, 9) << pair.second;
  }
}

}  // namespace
}  // namespace qel
