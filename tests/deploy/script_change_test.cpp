// ChangeScript's decision tables in both modes, over a domain store.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "deploy/script_deployer.h"
#include "platform/domain/domain_text.h"
#include "tests/deploy/deploy_world.h"
#include "tests/fakes/faulty_accounts.h"
#include "tests/fakes/faulty_files.h"

namespace qel::test {
namespace {

constexpr unsigned kNormal = 0x200;      // UF_NORMAL_ACCOUNT
constexpr unsigned kScripted = 0x201;    // ... with UF_SCRIPT
constexpr unsigned kNoPassword = 0x221;  // ... and UF_PASSWD_NOTREQD

std::vector<TestAccount> TableAccounts() {
  return {
      {"", "plain", "", kScripted},                  // no script of its own
      {"", "noflag", "logon.bat", kNormal},          // UF_SCRIPT clear, foreign script
      {"", "noflagqel", "QelInstall.bat", kNormal},  // UF_SCRIPT clear, product's script
      {"", "jdoe", " logon.bat", kScripted, "\\\\srv\\profiles\\jdoe"},
      {"", "mixed1", "qelinstall.bat", kScripted},
      {"", "mixed2", "QELmixed2.bat", kScripted},
      {"", "shared", "QelInstall.bat", kScripted},
      {"", "wrapped", "Qelwrapped.bat", kScripted},
      {"", "nopass", "", kNoPassword},
      {"", "long", std::string(300, 'x') + ".bat", kScripted},
  };
}

class ChangeScriptTest : public ::testing::Test {
 protected:
  ChangeScriptTest() : world_(TableAccounts()) {
    // The table holds accounts whose logon-script bit is clear, which a
    // Windows controller never reports: the store reports the flags as kept.
    world_.store().SetScriptFlagAlways(false);
    EXPECT_TRUE(engine_.Init(nullptr, nullptr, nullptr));
    // ChangeAllScript makes the wide batch name at the start of a run.
    std::wcscpy(engine_.m_wszBatchName, L"QelInstall.bat");
  }
  BOOL Change(const std::string& account, BOOL install) {
    return engine_.ChangeScript(Utf8ToWide(account).c_str(), install);
  }
  bool WrapperExists(const std::string& account) {
    return world_.env().FileExists(world_.ScriptsFile("Qel" + account + ".bat"));
  }

  DeployWorld world_;
  CScriptDeployer engine_;
};

TEST_F(ChangeScriptTest, AddingWithoutScriptOfItsOwn) {
  EXPECT_TRUE(Change("plain", TRUE));
  EXPECT_EQ(world_.ScriptOf("plain"), "QelInstall.bat");
  EXPECT_FALSE(WrapperExists("plain"));
  // UF_SCRIPT clear: whatever the path was, the shared batch, no wrapper.
  EXPECT_TRUE(Change("noflag", TRUE));
  EXPECT_EQ(world_.ScriptOf("noflag"), "QelInstall.bat");
  EXPECT_FALSE(WrapperExists("noflag"));
  EXPECT_TRUE(Change("noflagqel", TRUE));
  EXPECT_EQ(world_.ScriptOf("noflagqel"), "QelInstall.bat");
  EXPECT_EQ(world_.FlagsOf("noflag") & UF_SCRIPT, UF_SCRIPT);
}

TEST_F(ChangeScriptTest, AddingChainsAnOwnScriptThroughItsWrapper) {
  EXPECT_TRUE(Change("jdoe", TRUE));
  EXPECT_EQ(world_.ScriptOf("jdoe"), "Qeljdoe.bat");
  std::string wrapper = world_.env().ReadFile(world_.ScriptsFile("Qeljdoe.bat"));
  EXPECT_NE(wrapper.find("REM szProfile = \\\\srv\\profiles\\jdoe\r\n"), std::string::npos);
  EXPECT_NE(wrapper.find("REM szScriptPath = logon.bat\r\n"), std::string::npos);  // the blank is gone
  EXPECT_NE(wrapper.find("CALL \\\\DC01\\NetLogon\\logon.bat\r\n"), std::string::npos);
}

TEST_F(ChangeScriptTest, AddingLeavesTheProductsScriptsInAnyCase) {
  std::string log = world_.LogText();
  EXPECT_TRUE(Change("mixed1", TRUE));
  EXPECT_TRUE(Change("mixed2", TRUE));
  EXPECT_EQ(world_.ScriptOf("mixed1"), "qelinstall.bat");
  EXPECT_EQ(world_.ScriptOf("mixed2"), "QELmixed2.bat");
  EXPECT_EQ(world_.LogText(), log);  // nothing logged
}

TEST_F(ChangeScriptTest, PasswordRequirementIsKeptAsRead) {
  EXPECT_TRUE(Change("plain", TRUE));
  EXPECT_EQ(world_.FlagsOf("plain") & UF_PASSWD_NOTREQD, 0u);
  EXPECT_TRUE(Change("nopass", TRUE));
  EXPECT_EQ(world_.FlagsOf("nopass") & UF_PASSWD_NOTREQD, UF_PASSWD_NOTREQD);
  EXPECT_TRUE(Change("plain", FALSE));
  EXPECT_EQ(world_.FlagsOf("plain"), kScripted);
  EXPECT_NE(world_.LogText().find(
                "[ChangeScript]  NetUserSetInfo Flags ReadFrom 201  {Meaning Script-PassNo-HOMEDIR 1-20-8}"),
            std::string::npos);
  EXPECT_NE(world_.LogText().find("[ChangeScript]  UserName plain  bHasScript=0"), std::string::npos);
}

TEST_F(ChangeScriptTest, AddingRefusesValuesTooLongForItsWorkingCopies) {
  EXPECT_FALSE(Change("long", TRUE));
  EXPECT_EQ(world_.ScriptOf("long"), std::string(300, 'x') + ".bat");
  EXPECT_NE(world_.LogText().find("[ChangeScript]  UserName long  profile or script path too long"),
            std::string::npos);
}

TEST_F(ChangeScriptTest, AddingWithAFailedWrapperLeavesTheAccount) {
  // A full disk: the wrapper is not written completely.
  IFileSystem* host = Ports().files;
  FaultyFileSystem files(host);
  Ports().files = &files;
  files.plan().Fail("StreamWrite", ERROR_DISK_FULL);
  EXPECT_FALSE(Change("jdoe", TRUE));
  Ports().files = host;
  EXPECT_EQ(world_.ScriptOf("jdoe"), " logon.bat");
  Files().DeleteFileA(world_.ScriptsFile("Qeljdoe.bat").c_str());
  // A folder in the wrapper's place: the batch cannot be written.
  world_.env().MakeDirectory(world_.ScriptsFile("Qeljdoe.bat"));
  EXPECT_FALSE(Change("jdoe", TRUE));
  EXPECT_EQ(world_.ScriptOf("jdoe"), " logon.bat");
}

TEST_F(ChangeScriptTest, UnknownAccountFails) {
  EXPECT_FALSE(Change("nobody", TRUE));
  EXPECT_FALSE(Change("nobody", FALSE));
  EXPECT_FALSE(engine_.IsScriptedUser(L"nobody"));
}

TEST_F(ChangeScriptTest, RemovingRestoresTheRecordedScriptAndDeletesTheWrapper) {
  ASSERT_TRUE(Change("jdoe", TRUE));
  EXPECT_TRUE(engine_.IsScriptedUser(L"jdoe"));
  EXPECT_TRUE(Change("jdoe", FALSE));
  EXPECT_EQ(world_.ScriptOf("jdoe"), "logon.bat");
  EXPECT_FALSE(WrapperExists("jdoe"));
  EXPECT_FALSE(engine_.IsScriptedUser(L"jdoe"));
}

TEST_F(ChangeScriptTest, RemovingTheSharedBatchClearsThePath) {
  EXPECT_TRUE(Change("shared", FALSE));
  EXPECT_EQ(world_.ScriptOf("shared"), "");
  EXPECT_NE(world_.LogText().find("[ChangeScript]  UserName shared  Clear path name!"), std::string::npos);
  // UF_SCRIPT clear: cleared without looking for a wrapper.
  ASSERT_TRUE(Change("noflagqel", FALSE));
  EXPECT_EQ(world_.ScriptOf("noflagqel"), "");
}

TEST_F(ChangeScriptTest, RemovingLeavesForeignScriptsSilently) {
  std::string log = world_.LogText();
  EXPECT_TRUE(Change("noflag", FALSE));
  EXPECT_EQ(world_.ScriptOf("noflag"), "logon.bat");
  EXPECT_EQ(world_.FlagsOf("noflag"), kNormal);
  EXPECT_EQ(world_.LogText(), log);
}

// The comment lines by which a wrapper batch of this program is known.
const char kWrapperHead[] =
    "@ECHO OFF\r\n\r\nREM Please don't Change this batch file.\r\n"
    "REM otherwise, maybe can't restore script file !\r\n\r\n";

TEST_F(ChangeScriptTest, RemovingWithAWrapperWithoutScriptRecordClearsAndKeepsTheFile) {
  world_.env().WriteFile(world_.ScriptsFile("Qelwrapped.bat"), std::string(kWrapperHead) + "REM szProfile = x\r\n");
  EXPECT_TRUE(Change("wrapped", FALSE));
  EXPECT_EQ(world_.ScriptOf("wrapped"), "");  // not the "Qel" path again
  EXPECT_TRUE(WrapperExists("wrapped"));
}

TEST_F(ChangeScriptTest, RemovingWithAnUnreadableWrapperChangesNothing) {
  world_.env().MakeDirectory(world_.ScriptsFile("Qelwrapped.bat"));
  EXPECT_FALSE(Change("wrapped", FALSE));
  EXPECT_EQ(world_.ScriptOf("wrapped"), "Qelwrapped.bat");
}

TEST_F(ChangeScriptTest, RemovingWithAControlCharacterInTheRecordKeepsTheWrapper) {
  world_.env().WriteFile(world_.ScriptsFile("Qelwrapped.bat"), "REM szScriptPath = logon.bat\r\r\n");
  EXPECT_FALSE(Change("wrapped", FALSE));
  EXPECT_EQ(world_.ScriptOf("wrapped"), "Qelwrapped.bat");
  EXPECT_TRUE(WrapperExists("wrapped"));
  EXPECT_NE(world_.LogText().find("control character"), std::string::npos);
}

TEST_F(ChangeScriptTest, RemovingAnEmptyRecordClearsAndDeletesTheWrapper) {
  world_.env().WriteFile(world_.ScriptsFile("Qelwrapped.bat"), std::string(kWrapperHead) + "REM szScriptPath = \r\n");
  EXPECT_TRUE(Change("wrapped", FALSE));
  EXPECT_EQ(world_.ScriptOf("wrapped"), "");
  EXPECT_FALSE(WrapperExists("wrapped"));
}

TEST_F(ChangeScriptTest, AFailedAccountWriteKeepsTheWrapper) {
  ASSERT_TRUE(Change("jdoe", TRUE));
  FaultyAccounts accounts(&world_.store());
  Ports().accounts = &accounts;
  accounts.plan().Fail("NetUserSetInfo:jdoe", 5 /* ERROR_ACCESS_DENIED */);
  EXPECT_FALSE(Change("jdoe", FALSE));
  // The account still names its wrapper, and the wrapper still names its script.
  EXPECT_EQ(world_.ScriptOf("jdoe"), "Qeljdoe.bat");
  EXPECT_TRUE(WrapperExists("jdoe"));
  // A later run restores it.
  EXPECT_TRUE(Change("jdoe", FALSE));
  EXPECT_EQ(world_.ScriptOf("jdoe"), "logon.bat");
  EXPECT_FALSE(WrapperExists("jdoe"));
  EXPECT_EQ(accounts.LiveBuffers(), 0);
  EXPECT_EQ(accounts.BadFrees(), 0);
  Ports().accounts = &world_.store();
}

TEST_F(ChangeScriptTest, EveryRecordReadIsFreedOnce) {
  FaultyAccounts accounts(&world_.store());
  Ports().accounts = &accounts;
  for (const TestAccount& account : TableAccounts()) Change(account.name, TRUE);
  for (const TestAccount& account : TableAccounts()) engine_.IsScriptedUser(Utf8ToWide(account.name).c_str());
  for (const TestAccount& account : TableAccounts()) Change(account.name, FALSE);
  EXPECT_GT(accounts.plan().Calls("NetUserGetInfo"), 0);
  EXPECT_EQ(accounts.LiveBuffers(), 0);
  EXPECT_EQ(accounts.BadFrees(), 0);
  Ports().accounts = &world_.store();
}

TEST_F(ChangeScriptTest, AddThenRemoveOverTheWholeTable) {
  for (const TestAccount& account : TableAccounts()) Change(account.name, TRUE);
  for (const TestAccount& account : TableAccounts()) Change(account.name, FALSE);
  // Only a script chained through a wrapper comes back; an account whose
  // UF_SCRIPT bit was clear had its path replaced without a record.
  EXPECT_EQ(AccountListing(world_.store()),
            "plain=\nnoflag=\nnoflagqel=\njdoe=logon.bat\nmixed1=\nmixed2=\nshared=\nwrapped=\nnopass=\n"
            "long=" + std::string(300, 'x') + ".bat\n");
  for (const TestAccount& account : TableAccounts()) EXPECT_FALSE(WrapperExists(account.name)) << account.name;
}

// Removal and "Qel..." scripts that this program did not write.
class RemovalOwnershipTest : public ::testing::Test {
 protected:
  RemovalOwnershipTest()
      : world_({
            {"", "ann", "qelogon.bat", kScripted},       // the administrator's, no such file
            {"", "bert", "QELreports.cmd", kScripted},   // the administrator's, a file of its own
            {"", "lee", "Qellee.bat", kScripted},        // named like a wrapper, but not one of ours
            {"", "jsmith", "Qeljdoe.bat", kScripted},    // renamed from jdoe after adding
            {"", "kim", "QELKIM.BAT", kScripted},        // own wrapper name, file gone
            {"", "pat", "QELINSTALL.BAT", kScripted},    // the shared batch in any case
            {"", "sub", "Qeltools\\run.bat", kScripted},  // not a file of the scripts folder
        }) {
    EXPECT_TRUE(engine_.Init(nullptr, nullptr, nullptr));
    std::wcscpy(engine_.m_wszBatchName, L"QelInstall.bat");
    world_.env().WriteFile(world_.ScriptsFile("QELreports.cmd"), "@ECHO OFF\r\nREM szScriptPath = x.bat\r\n");
    world_.env().WriteFile(world_.ScriptsFile("Qellee.bat"), "@ECHO OFF\r\nCALL lee.bat\r\n");
    EXPECT_TRUE(engine_.WriteUserBatch("jdoe", "", "sub\\run me.cmd"));
  }
  BOOL Remove(const std::string& account) { return engine_.ChangeScript(Utf8ToWide(account).c_str(), FALSE); }

  DeployWorld world_;
  CScriptDeployer engine_;
};

TEST_F(RemovalOwnershipTest, OnlyTheProductsBatchesAreClearedOrRestored) {
  for (const char* account : {"ann", "bert", "lee", "jsmith", "kim", "pat", "sub"})
    EXPECT_TRUE(Remove(account)) << account;
  EXPECT_EQ(AccountListing(world_.store()),
            "ann=qelogon.bat\nbert=QELreports.cmd\nlee=Qellee.bat\njsmith=sub\\run me.cmd\nkim=\npat=\n"
            "sub=Qeltools\\run.bat\n");
  // The renamed account's wrapper goes once its script is back; the
  // administrator's files stay.
  EXPECT_FALSE(world_.env().FileExists(world_.ScriptsFile("Qeljdoe.bat")));
  EXPECT_TRUE(world_.env().FileExists(world_.ScriptsFile("QELreports.cmd")));
  EXPECT_TRUE(world_.env().FileExists(world_.ScriptsFile("Qellee.bat")));
  EXPECT_NE(world_.LogText().find("[ChangeScript]  UserName ann  script qelogon.bat is not the product's"),
            std::string::npos);
}

TEST_F(RemovalOwnershipTest, AScriptsFolderThatCannotBeLookedIntoChangesNoWrapperAccount) {
  IFileSystem* host = Ports().files;
  FaultyFileSystem files(host);
  Ports().files = &files;
  // Refused, and "not found" for the file and its folder alike (a SysVol
  // that went away during the run).
  for (DWORD error : {static_cast<DWORD>(ERROR_ACCESS_DENIED), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)}) {
    files.plan().Fail("GetFileAttributesA", error, -1);
    for (const char* account : {"jsmith", "kim"}) EXPECT_FALSE(Remove(account)) << account << " " << error;
  }
  Ports().files = host;
  EXPECT_EQ(world_.ScriptOf("jsmith"), "Qeljdoe.bat");
  EXPECT_EQ(world_.ScriptOf("kim"), "QELKIM.BAT");
  EXPECT_TRUE(world_.env().FileExists(world_.ScriptsFile("Qeljdoe.bat")));
  EXPECT_NE(world_.LogText().find("[ChangeScript]  UserName kim  wrapper batch QELKIM.BAT not readable(5)"),
            std::string::npos);
}

}  // namespace
}  // namespace qel::test
