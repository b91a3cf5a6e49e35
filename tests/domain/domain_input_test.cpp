// Malformed domain files and journals: each is refused with its file, line
// and reason, or read as it stands, and never turns into a different domain.
#include <filesystem>
#include <string>

#include "gtest/gtest.h"
#include "platform/domain/domain_store.h"
#include "platform/domain/domain_text.h"
#include "tests/domain/domain_test_util.h"

namespace qel {
namespace {

using test::GetAccount;
using test::ReadText;
using test::SampleText;
using test::ScratchDir;
using test::ValuesOf;
using test::WriteText;

const char kHead[] = "# qel-dns: test.lan\n\ndn: DC=test,DC=lan\nobjectClass: domainDNS\n\n";
const char kAliceDn[] = "CN=Alice Smith,OU=Sales,DC=test,DC=lan";

std::string JournalLine(const std::string& dn, const std::string& item) {
  return "M " + Base64Encode(dn) + " " + item + "\n";
}

TEST(DomainInput, ManyAttributeNamesNeverTakeTheIdsOfKnownOnes) {
  // One record with more distinct names than 16 bits count, then a container
  // whose stray attributes come right after them. Ids that wrapped would
  // read "straya" as objectClass and "strayb" as sAMAccountName: the
  // container would load as an account.
  std::string text = kHead;
  text += "dn: CN=Wide,DC=test,DC=lan\nobjectClass: container\n";
  for (int i = 0; i < 65519; ++i) text += "x" + std::to_string(i) + ": v\n";
  text += "\ndn: CN=Stray,DC=test,DC=lan\nobjectClass: container\nstraya: user\nstrayb: stray\nstrayc: s.bat\n";
  DomainStore store;
  DomainError error;
  ASSERT_TRUE(store.LoadText(text, "wide.ldif", &error)) << error.ToString();
  EXPECT_EQ(store.FindAccount(L"stray"), kNoObject);
  EXPECT_EQ(ValuesOf(store, L"CN=Stray,DC=test,DC=lan", kAttrObjectClass), std::vector<std::wstring>{L"container"});
  int id = store.AttributeId(L"straya");
  ASSERT_GE(id, static_cast<int>(kAttrFirstFree));
  EXPECT_EQ(ValuesOf(store, L"CN=Stray,DC=test,DC=lan", static_cast<uint32_t>(id)), std::vector<std::wstring>{L"user"});
  // And what is written back is what was read.
  EXPECT_NE(store.ToLdif().find("straya: user\nstrayb: stray\nstrayc: s.bat\n"), std::string::npos);
}

TEST(DomainInput, AFileSavedWithAByteOrderMarkLoads) {
  DomainStore store;
  DomainError error;
  ASSERT_TRUE(store.LoadText("\xEF\xBB\xBF" + SampleText(), "bom.ldif", &error)) << error.ToString();
  EXPECT_EQ(GetAccount(store, L"asmith").script, L"logon.bat");
  // Line numbers still count from the file's first line.
  EXPECT_FALSE(store.LoadText(std::string("\xEF\xBB\xBF") + kHead + "oops\n", "bom.ldif", &error));
  EXPECT_EQ(error.line, 6);
}

TEST(DomainInput, MetadataInsideTheFirstRecordReadsAsItsRewriteDoes) {
  // A rewrite puts a record's comments before its "dn:" line, where they are
  // metadata: the file must mean the same before.
  const std::string text = "dn: DC=test,DC=lan\n# qel-controller: DC9\nobjectClass: domainDNS\n";
  DomainStore store;
  DomainError error;
  ASSERT_TRUE(store.LoadText(text, "meta.ldif", &error)) << error.ToString();
  EXPECT_EQ(store.ControllerName(), L"DC9");
  DomainStore again;
  ASSERT_TRUE(again.LoadText(store.ToLdif(), "again.ldif", &error)) << error.ToString();
  EXPECT_EQ(again.ControllerName(), L"DC9");
  EXPECT_EQ(again.ToLdif(), store.ToLdif());
}

TEST(DomainInput, AJournalLinePassesTheChecksOfAFileLine) {
  struct Case {
    std::string item;
    const char* reason;
  } cases[] = {
      {"dn=" + Base64Encode("CN=x,DC=test,DC=lan"), "second \"dn:\""},
      {"changetype=" + Base64Encode("delete"), "change records"},
      {"control=" + Base64Encode("1.2.3"), "change records"},
      {"#scriptPath=" + Base64Encode("x.bat"), "bad attribute name"},
      {"script_path=" + Base64Encode("x.bat"), "bad attribute name"},
      {"scriptPath=" + Base64Encode(std::string("x\0.bat", 6)), "NUL"},
      {"scriptPath=" + Base64Encode("\xFF.bat"), "not UTF-8"},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    const std::string path = dir.File("domain.ldif");
    WriteText(path, SampleText());
    // A good line first: nothing of it may be kept when a later line is bad.
    const std::string journal = JournalLine(kAliceDn, "scriptPath=" + Base64Encode("good.bat")) +
                                JournalLine(kAliceDn, c.item);
    WriteText(path + ".journal", journal);
    DomainStore store;
    DomainError error;
    EXPECT_FALSE(store.Load(path, &error)) << c.item;
    EXPECT_EQ(error.file, path + ".journal");
    EXPECT_EQ(error.line, 2) << c.item;
    EXPECT_NE(error.reason.find(c.reason), std::string::npos) << c.item << ": " << error.ToString();
    EXPECT_EQ(ReadText(path), SampleText());
    EXPECT_EQ(ReadText(path + ".journal"), journal);
  }
}

TEST(DomainInput, AReadOnlyLoadFoldsTheJournalInMemoryOnly) {
  ScratchDir dir;
  const std::string path = dir.File("domain.ldif");
  WriteText(path, SampleText());
  const std::string journal = JournalLine(kAliceDn, "scriptPath=" + Base64Encode("Qelasmith.bat"));
  WriteText(path + ".journal", journal);
  DomainStore::Options options;
  options.readOnly = true;
  {
    DomainStore store(options);
    DomainError error;
    ASSERT_TRUE(store.Load(path, &error)) << error.ToString();
    EXPECT_EQ(GetAccount(store, L"asmith").script, L"Qelasmith.bat");
    LPBYTE buffer = nullptr;
    ASSERT_EQ(store.NetUserGetInfo(nullptr, L"asmith", 3, &buffer), NERR_Success);
    EXPECT_EQ(store.NetUserSetInfo(nullptr, L"asmith", 3, buffer, nullptr), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    store.NetApiBufferFree(buffer);
    EXPECT_TRUE(store.Close(&error));
    EXPECT_EQ(store.FileWrites(), 0u);
  }
  EXPECT_EQ(ReadText(path), SampleText());
  EXPECT_EQ(ReadText(path + ".journal"), journal);
}

TEST(DomainInput, AJournalOfOnlyATornLineIsDroppedByALoad) {
  ScratchDir dir;
  const std::string path = dir.File("domain.ldif");
  WriteText(path, SampleText());
  WriteText(path + ".journal", "M " + Base64Encode(kAliceDn) + " scriptPath=" + Base64Encode("torn.bat"));
  DomainStore store;
  DomainError error;
  ASSERT_TRUE(store.Load(path, &error)) << error.ToString();
  EXPECT_EQ(GetAccount(store, L"asmith").script, L"logon.bat");
  EXPECT_FALSE(std::filesystem::exists(path + ".journal"));
  DomainStore again;
  ASSERT_TRUE(again.Load(path, &error)) << error.ToString();
  EXPECT_EQ(GetAccount(again, L"asmith").script, L"logon.bat");
}

}  // namespace
}  // namespace qel
