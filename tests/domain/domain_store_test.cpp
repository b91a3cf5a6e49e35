#include "platform/domain/domain_store.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <vector>

#include "gtest/gtest.h"
#include "platform/domain/domain_generator.h"
#include "platform/domain/domain_text.h"
#include "tests/domain/domain_test_util.h"

namespace qel {
namespace {

using test::LoadSample;
using test::ReadText;
using test::SampleText;
using test::ScratchDir;
using test::WriteText;

using test::Account;
using test::GetAccount;

// Reads the account, changes the script path and the flags as the deployment does, writes it back.
NET_API_STATUS SetScript(DomainStore& store, const wchar_t* name, const wchar_t* script, DWORD addFlags = 0) {
  LPBYTE buffer = nullptr;
  NET_API_STATUS status = store.NetUserGetInfo(nullptr, name, 3, &buffer);
  if (status != NERR_Success) return status;
  USER_INFO_3* info = reinterpret_cast<USER_INFO_3*>(buffer);
  LPWSTR own = info->usri3_script_path;
  info->usri3_script_path = const_cast<LPWSTR>(script);
  info->usri3_flags |= addFlags;
  DWORD parm = 12345;
  status = store.NetUserSetInfo(nullptr, name, 3, buffer, &parm);
  if (status == NERR_Success) {
    EXPECT_EQ(parm, PARM_ERROR_NONE);
  }
  info->usri3_script_path = own;
  store.NetApiBufferFree(buffer);
  return status;
}

TEST(DomainStore, LoadsTheSampleDomain) {
  DomainStore store;
  LoadSample(&store);
  EXPECT_EQ(store.NetbiosName(), L"TEST");
  EXPECT_EQ(store.DnsName(), L"test.lan");
  EXPECT_EQ(store.ControllerName(), L"DC1");
  EXPECT_EQ(store.NamingContext(), L"DC=test,DC=lan");
  // 32 people (one of them deleted) and 4 computers.
  EXPECT_EQ(store.AccountsByRid().size(), 36u);
  EXPECT_NE(store.FindObject(L"ou=east,OU=Sales, DC=test,DC=lan"), kNoObject);
  EXPECT_EQ(store.FindObject(L"OU=North,OU=Sales,DC=test,DC=lan"), kNoObject);
}

TEST(DomainStore, RefusesBadDomainsAndKeepsWhatItHad) {
  const std::string head =
      "# qel-dns: test.lan\n\ndn: DC=test,DC=lan\nobjectClass: domainDNS\n\n"
      "dn: OU=Sales,DC=test,DC=lan\nobjectClass: organizationalUnit\nou: Sales\n\n";
  struct Case {
    std::string tail;
    int line;
    const char* reason;
  } cases[] = {
      {"dn: OU=sales,dc=TEST,DC=lan\nobjectClass: organizationalUnit\n", 10, "duplicate DN"},
      {"dn: CN=Nobody,OU=Sales,DC=test,DC=lan\nobjectClass: user\ncn: Nobody\n", 10, "has no sAMAccountName"},
      {"dn: CN=Orphan,OU=Gone,DC=test,DC=lan\nobjectClass: user\nsAMAccountName: orphan\n", 10, "does not exist"},
      {"dn: CN=x,OU=Later,DC=test,DC=lan\nobjectClass: contact\n\ndn: OU=Later,DC=test,DC=lan\nobjectClass: top\n",
       10, "comes after it"},
      {"dn: CN=x,DC=other,DC=lan\nobjectClass: contact\n", 10, "outside the domain"},
      {"dn: CN=a,OU=Sales,DC=test,DC=lan\nobjectClass: user\nsAMAccountName: a\nuserAccountControl: lots\n", 13,
       "not a number"},
      {"dn: CN=a,OU=Sales,DC=test,DC=lan\nobjectClass: user\nsAMAccountName: Same\n\n"
       "dn: CN=b,OU=Sales,DC=test,DC=lan\nobjectClass: user\nsAMAccountName: same\n",
       14, "duplicate sAMAccountName"},
      {"dn: CN=a,OU=Sales,DC=test,DC=lan\nobjectClass: user\nsAMAccountName: a\nbroken line\n", 13, "syntax error"},
  };
  DomainStore store;
  LoadSample(&store);
  for (const Case& c : cases) {
    DomainError error;
    EXPECT_FALSE(store.LoadText(head + c.tail, "bad.ldif", &error)) << c.tail;
    EXPECT_EQ(error.file, "bad.ldif");
    EXPECT_EQ(error.line, c.line) << c.tail << error.ToString();
    EXPECT_NE(error.reason.find(c.reason), std::string::npos) << error.ToString();
    // The domain that was loaded before is still there.
    EXPECT_EQ(GetAccount(store, L"jdoe").script, L"Qeljdoe.bat");
  }
  DomainError error;
  EXPECT_FALSE(store.LoadText("# qel-dns: test.lan\n\ndn: OU=x,DC=test,DC=lan\n", "nodomain.ldif", &error));
  EXPECT_NE(error.reason.find("is missing"), std::string::npos);
}

TEST(DomainStore, ReadsAccountsAtLevel3) {
  DomainStore store;
  LoadSample(&store);
  Account jdoe = GetAccount(store, L"JDoe");  // names match without case
  ASSERT_EQ(jdoe.status, NERR_Success);
  EXPECT_EQ(jdoe.name, L"jdoe");
  EXPECT_EQ(jdoe.script, L"Qeljdoe.bat");
  EXPECT_EQ(jdoe.fullName, L"John Doe");
  EXPECT_EQ(jdoe.profile, L"\\\\DC1\\profiles\\jdoe");
  EXPECT_EQ(jdoe.flags, UF_SCRIPT | UF_NORMAL_ACCOUNT);
  EXPECT_EQ(jdoe.primaryGroup, DOMAIN_GROUP_RID_USERS);

  EXPECT_EQ(GetAccount(store, L"bjones").script, L" logon.bat");
  EXPECT_EQ(GetAccount(store, L"jlee").fullName, L"Jenny Lee");  // no displayName: the cn
  // Every account reports UF_SCRIPT, as Windows does, whatever the file keeps.
  EXPECT_EQ(GetAccount(store, L"hking").flags, UF_SCRIPT | UF_PASSWD_NOTREQD | UF_NORMAL_ACCOUNT);
  EXPECT_EQ(GetAccount(store, L"kmartin").flags & UF_ACCOUNTDISABLE, UF_ACCOUNTDISABLE);
  EXPECT_EQ(GetAccount(store, L"xevans").fullName, L"Xavier \u00c9vans");
  EXPECT_EQ(GetAccount(store, L"wwang").fullName, L"\u738b\u4f1f");
  Account ws = GetAccount(store, L"ws01$");
  EXPECT_EQ(ws.status, NERR_Success);
  EXPECT_EQ(ws.flags, UF_SCRIPT | UF_WORKSTATION_TRUST_ACCOUNT);
  EXPECT_NE(ws.rid, jdoe.rid);

  EXPECT_EQ(GetAccount(store, L"nosuchuser").status, NERR_UserNotFound);
  EXPECT_EQ(GetAccount(store, L"olduser").status, NERR_UserNotFound);  // deleted
  EXPECT_EQ(GetAccount(store, L"Partner Contact").status, NERR_UserNotFound);
  LPBYTE buffer = reinterpret_cast<LPBYTE>(&store);
  EXPECT_EQ(store.NetUserGetInfo(nullptr, L"jdoe", 2, &buffer), static_cast<NET_API_STATUS>(ERROR_INVALID_LEVEL));
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(store.NetUserGetInfo(L"\\\\dc1", L"jdoe", 3, &buffer), NERR_Success);
  store.NetApiBufferFree(buffer);
  EXPECT_EQ(store.NetUserGetInfo(L"\\\\WS01", L"jdoe", 3, &buffer), static_cast<NET_API_STATUS>(ERROR_BAD_NETPATH));
}

TEST(DomainStore, WritesAccountsAtLevel3And1009And1008) {
  DomainStore store;
  LoadSample(&store);
  ASSERT_EQ(SetScript(store, L"asmith", L"Qelasmith.bat", UF_SCRIPT | UF_PASSWD_NOTREQD), NERR_Success);
  Account asmith = GetAccount(store, L"asmith");
  EXPECT_EQ(asmith.script, L"Qelasmith.bat");
  EXPECT_EQ(asmith.flags, UF_SCRIPT | UF_PASSWD_NOTREQD | UF_NORMAL_ACCOUNT);
  EXPECT_EQ(asmith.fullName, L"Alice Smith");  // written back as read
  EXPECT_EQ(asmith.profile, L"\\\\DC1\\profiles\\asmith");
  EXPECT_NE(store.ToLdif().find("scriptPath: Qelasmith.bat"), std::string::npos);

  // An empty path clears the script; the full name that fell back to the cn adds no displayName.
  ASSERT_EQ(SetScript(store, L"jlee", L""), NERR_Success);
  EXPECT_EQ(GetAccount(store, L"jlee").script, L"");
  std::string ldif = store.ToLdif();
  size_t jlee = ldif.find("dn: CN=Jenny Lee");
  ASSERT_NE(jlee, std::string::npos);
  std::string record = ldif.substr(jlee, ldif.find("\n\n", jlee) - jlee);
  EXPECT_EQ(record.find("displayName"), std::string::npos);

  USER_INFO_1009 script{const_cast<LPWSTR>(L"QelInstall.bat")};
  EXPECT_EQ(store.NetUserSetInfo(nullptr, L"dgreen", 1009, reinterpret_cast<LPBYTE>(&script), nullptr),
            NERR_Success);
  EXPECT_EQ(GetAccount(store, L"dgreen").script, L"QelInstall.bat");
  USER_INFO_1008 flags{UF_NORMAL_ACCOUNT | UF_SCRIPT};
  EXPECT_EQ(store.NetUserSetInfo(nullptr, L"dgreen", 1008, reinterpret_cast<LPBYTE>(&flags), nullptr),
            NERR_Success);
  EXPECT_EQ(GetAccount(store, L"dgreen").flags, UF_NORMAL_ACCOUNT | UF_SCRIPT);
}

// A directory server does not keep the logon-script bit: writing it changes
// nothing stored, and the file keeps what it had. The store can also report
// the flags as stored, for looking at accounts whose bit is clear.
TEST(DomainStore, TheLogonScriptBitIsReportedAlwaysAndNeverStored) {
  DomainStore store;
  LoadSample(&store);
  const std::string before = store.ToLdif();
  // hking is stored as 544 (no logon-script bit), jdoe as 513.
  USER_INFO_1008 withBit{UF_SCRIPT | UF_PASSWD_NOTREQD | UF_NORMAL_ACCOUNT};
  EXPECT_EQ(store.NetUserSetInfo(nullptr, L"hking", 1008, reinterpret_cast<LPBYTE>(&withBit), nullptr),
            NERR_Success);
  USER_INFO_1008 withoutBit{UF_NORMAL_ACCOUNT};
  EXPECT_EQ(store.NetUserSetInfo(nullptr, L"jdoe", 1008, reinterpret_cast<LPBYTE>(&withoutBit), nullptr),
            NERR_Success);
  EXPECT_EQ(store.ToLdif(), before);
  EXPECT_EQ(store.JournalLines(), 0u);
  EXPECT_EQ(GetAccount(store, L"jdoe").flags, UF_SCRIPT | UF_NORMAL_ACCOUNT);
  // Other bits are written, the stored logon-script bit kept as it was.
  USER_INFO_1008 disabled{UF_ACCOUNTDISABLE | UF_NORMAL_ACCOUNT};
  EXPECT_EQ(store.NetUserSetInfo(nullptr, L"jdoe", 1008, reinterpret_cast<LPBYTE>(&disabled), nullptr),
            NERR_Success);
  EXPECT_NE(store.ToLdif().find("userAccountControl: 515"), std::string::npos);

  store.SetScriptFlagAlways(false);
  EXPECT_EQ(GetAccount(store, L"hking").flags, UF_PASSWD_NOTREQD | UF_NORMAL_ACCOUNT);
  EXPECT_EQ(store.NetUserSetInfo(nullptr, L"hking", 1008, reinterpret_cast<LPBYTE>(&withBit), nullptr),
            NERR_Success);
  EXPECT_EQ(GetAccount(store, L"hking").flags, UF_SCRIPT | UF_PASSWD_NOTREQD | UF_NORMAL_ACCOUNT);
}

TEST(DomainStore, RefusesBadWritesAndChangesNothing) {
  DomainStore store;
  LoadSample(&store);
  LPBYTE buffer = nullptr;
  ASSERT_EQ(store.NetUserGetInfo(nullptr, L"cwhite", 3, &buffer), NERR_Success);
  USER_INFO_3* info = reinterpret_cast<USER_INFO_3*>(buffer);
  const std::string before = store.ToLdif();
  DWORD parm = 0;

  LPWSTR ownName = info->usri3_name;
  info->usri3_name = const_cast<LPWSTR>(L"someoneelse");  // renaming is refused
  EXPECT_EQ(store.NetUserSetInfo(nullptr, L"cwhite", 3, buffer, &parm),
            static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(parm, USER_NAME_PARMNUM);
  info->usri3_name = ownName;

  DWORD ownFlags = info->usri3_flags;
  info->usri3_flags = UF_SCRIPT;  // no account type
  EXPECT_EQ(store.NetUserSetInfo(nullptr, L"cwhite", 3, buffer, &parm),
            static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(parm, USER_FLAGS_PARMNUM);
  info->usri3_flags = UF_NORMAL_ACCOUNT | UF_WORKSTATION_TRUST_ACCOUNT;  // two types
  EXPECT_EQ(store.NetUserSetInfo(nullptr, L"cwhite", 3, buffer, &parm),
            static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER));
  info->usri3_flags = ownFlags;

  EXPECT_EQ(store.NetUserSetInfo(nullptr, L"nosuchuser", 3, buffer, &parm), NERR_UserNotFound);
  EXPECT_EQ(store.NetUserSetInfo(nullptr, L"cwhite", 3, nullptr, &parm),
            static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(store.NetUserSetInfo(nullptr, L"cwhite", 2, buffer, &parm),
            static_cast<NET_API_STATUS>(ERROR_INVALID_LEVEL));
  USER_INFO_1009 noScript{nullptr};
  EXPECT_EQ(store.NetUserSetInfo(nullptr, L"cwhite", 1009, reinterpret_cast<LPBYTE>(&noScript), &parm),
            static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(parm, USER_SCRIPT_PATH_PARMNUM);
  store.NetApiBufferFree(buffer);
  EXPECT_EQ(store.ToLdif(), before);
}

TEST(DomainStore, RoundTripsThroughLdif) {
  DomainStore first;
  LoadSample(&first);
  ASSERT_EQ(SetScript(first, L"bjones", L"Qelbjones.bat"), NERR_Success);
  std::string written = first.ToLdif();
  DomainStore second;
  DomainError error;
  ASSERT_TRUE(second.LoadText(written, "written.ldif", &error)) << error.ToString();
  EXPECT_EQ(second.ToLdif(), written);
  EXPECT_EQ(GetAccount(second, L"bjones").script, L"Qelbjones.bat");
  EXPECT_EQ(GetAccount(second, L"xevans").fullName, L"Xavier \u00c9vans");
  EXPECT_EQ(GetAccount(second, L"jdoe").rid, GetAccount(first, L"jdoe").rid);
  EXPECT_NE(written.find("# Logon script with a leading blank."), std::string::npos);  // comments kept
  EXPECT_NE(written.find("# qel-controller: DC1"), std::string::npos);
}

TEST(DomainStore, JournalKeepsChangesUntilOneRewrite) {
  ScratchDir dir;
  const std::string path = dir.File("domain.ldif");
  WriteText(path, SampleText());
  DomainStore store;
  DomainError error;
  ASSERT_TRUE(store.Load(path, &error)) << error.ToString();
  const wchar_t* names[] = {L"asmith", L"bjones", L"cwhite", L"dgreen", L"ijames"};
  for (const wchar_t* name : names) {
    std::wstring script = std::wstring(L"Qel") + name + L".bat";
    ASSERT_EQ(SetScript(store, name, script.c_str(), UF_SCRIPT), NERR_Success);
  }
  // Writing the same values again adds nothing to the journal.
  ASSERT_EQ(SetScript(store, L"asmith", L"Qelasmith.bat", UF_SCRIPT), NERR_Success);
  EXPECT_EQ(store.JournalLines(), 5u);
  EXPECT_EQ(store.FileWrites(), 0u);
  EXPECT_EQ(ReadText(path), SampleText());  // the file itself is untouched until the flush
  EXPECT_TRUE(std::filesystem::exists(path + ".journal"));

  ASSERT_TRUE(store.Close(&error)) << error.ToString();
  EXPECT_EQ(store.FileWrites(), 1u);
  EXPECT_FALSE(std::filesystem::exists(path + ".journal"));
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  DomainStore reread;
  ASSERT_TRUE(reread.Load(path, &error)) << error.ToString();
  EXPECT_EQ(GetAccount(reread, L"cwhite").script, L"Qelcwhite.bat");
  EXPECT_EQ(reread.FileWrites(), 0u);  // nothing to fold in
}

TEST(DomainStore, MakesNoChangeItCannotKeep) {
  ScratchDir dir;
  const std::string path = dir.File("domain.ldif");
  WriteText(path, SampleText());
  DomainStore store;
  DomainError error;
  ASSERT_TRUE(store.Load(path, &error)) << error.ToString();
  // The journal cannot be written: a folder stands in its place.
  std::filesystem::create_directory(path + ".journal");
  EXPECT_EQ(SetScript(store, L"asmith", L"Qelasmith.bat"), static_cast<NET_API_STATUS>(ERROR_CANTWRITE));
  EXPECT_EQ(GetAccount(store, L"asmith").script, L"logon.bat");
  std::filesystem::remove(path + ".journal");
  EXPECT_EQ(SetScript(store, L"asmith", L"Qelasmith.bat"), NERR_Success);
  EXPECT_EQ(store.JournalLines(), 1u);
}

TEST(DomainStore, ReplaysTheJournalOfAKilledRun) {
  ScratchDir dir;
  const std::string path = dir.File("domain.ldif");
  WriteText(path, SampleText());
  std::string ldifAtCrash, journalAtCrash;
  {
    DomainStore store;
    DomainError error;
    ASSERT_TRUE(store.Load(path, &error)) << error.ToString();
    ASSERT_EQ(SetScript(store, L"asmith", L"Qelasmith.bat"), NERR_Success);
    ASSERT_EQ(SetScript(store, L"ebrown", L""), NERR_Success);
    // What a killed process leaves on disk: the file and the journal as they are now.
    ldifAtCrash = ReadText(path);
    journalAtCrash = ReadText(path + ".journal");
  }
  const std::string crashed = dir.File("crashed.ldif");
  WriteText(crashed, ldifAtCrash);
  // The last line was being written when the process died: it never counted.
  WriteText(crashed + ".journal", journalAtCrash + "M " + Base64Encode("CN=Dan Green,OU=East"));

  DomainStore recovered;
  DomainError error;
  ASSERT_TRUE(recovered.Load(crashed, &error)) << error.ToString();
  EXPECT_EQ(GetAccount(recovered, L"asmith").script, L"Qelasmith.bat");
  EXPECT_EQ(GetAccount(recovered, L"ebrown").script, L"");
  EXPECT_EQ(GetAccount(recovered, L"dgreen").script, L"");
  // Loading folded the journal into the file at once.
  EXPECT_FALSE(std::filesystem::exists(crashed + ".journal"));
  EXPECT_NE(ReadText(crashed).find("scriptPath: Qelasmith.bat"), std::string::npos);
}

TEST(DomainStore, RefusesABrokenJournalAndTouchesNothing) {
  ScratchDir dir;
  const std::string path = dir.File("domain.ldif");
  WriteText(path, SampleText());
  const std::string journal = "M " + Base64Encode("CN=Alice Smith,OU=Sales,DC=test,DC=lan") + " scriptPath=" +
                              Base64Encode("x.bat") + "\nM " + Base64Encode("CN=Nobody,DC=test,DC=lan") +
                              " scriptPath=" + Base64Encode("y.bat") + "\n";
  WriteText(path + ".journal", journal);
  DomainStore store;
  LoadSample(&store);
  DomainError error;
  EXPECT_FALSE(store.Load(path, &error));
  EXPECT_EQ(error.file, path + ".journal");
  EXPECT_EQ(error.line, 2);
  EXPECT_NE(error.reason.find("unknown account"), std::string::npos);
  EXPECT_EQ(ReadText(path), SampleText());
  EXPECT_EQ(ReadText(path + ".journal"), journal);
  EXPECT_EQ(GetAccount(store, L"asmith").script, L"logon.bat");  // the store kept its domain
}

TEST(DomainStore, DisplayListingPagesByNextIndex) {
  GeneratedDomain shape;
  shape.accounts = 2345;
  shape.organizationalUnits = 30;
  DomainStore store;
  DomainError error;
  ASSERT_TRUE(store.LoadText(GenerateDomainLdif(shape), "generated.ldif", &error)) << error.ToString();
  std::vector<std::wstring> names;
  DWORD index = 0, lastRid = 0;
  int calls = 0;
  for (;;) {
    DWORD count = 0;
    PVOID buffer = nullptr;
    NET_API_STATUS status = store.NetQueryDisplayInformation(nullptr, 1, index, 1000, MAX_PREFERRED_LENGTH, &count,
                                                             &buffer);
    ++calls;
    ASSERT_TRUE(status == NERR_Success || status == ERROR_MORE_DATA) << status;
    ASSERT_LE(count, 100u);
    const NET_DISPLAY_USER* users = static_cast<const NET_DISPLAY_USER*>(buffer);
    for (DWORD i = 0; i < count; ++i) {
      EXPECT_GT(users[i].usri1_user_id, lastRid);  // stable order by RID
      lastRid = users[i].usri1_user_id;
      names.push_back(users[i].usri1_name);
      index = users[i].usri1_next_index;
    }
    store.NetApiBufferFree(buffer);
    if (status == NERR_Success) break;
    ASSERT_EQ(count, 100u);
  }
  EXPECT_EQ(names.size(), 2346u);  // the accounts and DC1$
  EXPECT_EQ(calls, 24);
  EXPECT_EQ(std::set<std::wstring>(names.begin(), names.end()).size(), names.size());
  EXPECT_EQ(names[0], L"DC1$");
  EXPECT_EQ(names.back(), L"user002345");

  // A preferred length smaller than one entry still returns one.
  DWORD count = 0;
  PVOID buffer = nullptr;
  EXPECT_EQ(store.NetQueryDisplayInformation(nullptr, 1, 0, 1000, 1, &count, &buffer),
            static_cast<NET_API_STATUS>(ERROR_MORE_DATA));
  EXPECT_EQ(count, 1u);
  store.NetApiBufferFree(buffer);
  // Past the end: nothing, and no more data.
  EXPECT_EQ(store.NetQueryDisplayInformation(nullptr, 1, lastRid, 1000, MAX_PREFERRED_LENGTH, &count, &buffer),
            NERR_Success);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(store.NetQueryDisplayInformation(nullptr, 2, 0, 1000, MAX_PREFERRED_LENGTH, &count, &buffer),
            static_cast<NET_API_STATUS>(ERROR_INVALID_LEVEL));
}

TEST(DomainStore, GroupMembersPageWithResumeHandle) {
  DomainStore store;
  LoadSample(&store);
  std::vector<std::wstring> members;
  DWORD_PTR resume = 0;
  int calls = 0;
  for (;;) {
    LPBYTE buffer = nullptr;
    DWORD read = 0, total = 0;
    NET_API_STATUS status = store.NetGroupGetUsers(nullptr, L"domain users", 1, &buffer, 100, &read, &total, &resume);
    ++calls;
    ASSERT_TRUE(status == NERR_Success || status == ERROR_MORE_DATA) << status;
    ASSERT_NE(buffer, nullptr);
    ASSERT_GE(read, 1u);
    const GROUP_USERS_INFO_1* users = reinterpret_cast<const GROUP_USERS_INFO_1*>(buffer);
    for (DWORD i = 0; i < read; ++i) {
      members.push_back(users[i].grui1_name);
      EXPECT_EQ(users[i].grui1_attributes, SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED);
    }
    store.NetApiBufferFree(buffer);
    if (status == NERR_Success) {
      EXPECT_EQ(resume, 0u);
      break;
    }
    EXPECT_NE(resume, 0u);
  }
  // Explicit members first, then the users whose primary group it is; never
  // computers, nor Guest, whose primary group is Domain Guests.
  ASSERT_EQ(members.size(), 31u);
  EXPECT_EQ(std::count(members.begin(), members.end(), L"Guest"), 0);
  EXPECT_GT(calls, 5);
  EXPECT_EQ(members[0], L"Administrator");
  EXPECT_EQ(members[5], L"cwhite");
  EXPECT_EQ(std::set<std::wstring>(members.begin(), members.end()).size(), members.size());
  for (const std::wstring& m : members) EXPECT_NE(m.back(), L'$') << WideToUtf8(m);

  LPBYTE buffer = nullptr;
  DWORD read = 0, total = 0;
  DWORD_PTR start = 0;
  ASSERT_EQ(store.NetGroupGetUsers(nullptr, L"Sales Staff", 0, &buffer, MAX_PREFERRED_LENGTH, &read, &total, &start),
            NERR_Success);
  ASSERT_EQ(read, 3u);
  EXPECT_STREQ(reinterpret_cast<GROUP_USERS_INFO_0*>(buffer)[1].grui0_name, L"bjones");
  store.NetApiBufferFree(buffer);
  EXPECT_EQ(store.NetGroupGetUsers(nullptr, L"No Such Group", 1, &buffer, 100, &read, &total, &start),
            NERR_GroupNotFound);
}

TEST(DomainStore, LocatesTheController) {
  DomainStore store;
  LoadSample(&store);
  PDOMAIN_CONTROLLER_INFOA dc = nullptr;
  ASSERT_EQ(store.DsGetDcNameA(nullptr, nullptr, nullptr, nullptr,
                               DS_RETURN_FLAT_NAME | DS_WRITABLE_REQUIRED | DS_IP_REQUIRED, &dc),
            NERR_Success);
  EXPECT_STREQ(dc->DomainControllerName, "\\\\DC1");
  EXPECT_STREQ(dc->DomainName, "TEST");
  EXPECT_STREQ(dc->DnsForestName, "test.lan");
  EXPECT_NE(dc->Flags & DS_WRITABLE_FLAG, 0u);
  store.NetApiBufferFree(dc);
  ASSERT_EQ(store.DsGetDcNameA(nullptr, nullptr, nullptr, nullptr, 0, &dc), NERR_Success);
  EXPECT_STREQ(dc->DomainControllerName, "\\\\DC1.test.lan");
  store.NetApiBufferFree(dc);
  EXPECT_EQ(store.DsGetDcNameA(nullptr, "OTHER", nullptr, nullptr, 0, &dc),
            static_cast<DWORD>(ERROR_NO_SUCH_DOMAIN));

  LPBYTE name = nullptr;
  ASSERT_EQ(store.NetGetDCName(nullptr, nullptr, &name), NERR_Success);
  EXPECT_STREQ(reinterpret_cast<LPCWSTR>(name), L"\\\\DC1");
  store.NetApiBufferFree(name);

  store.SetLocatorFailure(ERROR_NO_SUCH_DOMAIN);
  EXPECT_EQ(store.DsGetDcNameA(nullptr, nullptr, nullptr, nullptr, 0, &dc), static_cast<DWORD>(ERROR_NO_SUCH_DOMAIN));
  EXPECT_EQ(dc, nullptr);
  EXPECT_EQ(store.NetGetDCName(nullptr, nullptr, &name), NERR_DCNotFound);
}

}  // namespace
}  // namespace qel
