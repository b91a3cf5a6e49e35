// The install batch, the wrapper batch and its reader, byte for byte.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "deploy/script_deployer.h"
#include "tests/deploy/deploy_world.h"

namespace qel::test {
namespace {

class BatchTest : public ::testing::Test {
 protected:
  BatchTest() {
    std::strcpy(engine_.m_szComputerName, "DC01");
    std::strcpy(engine_.m_szShareName, "NetLogon");
    std::strcpy(engine_.m_szScriptsDir, kScriptsDir);
    std::strcpy(engine_.m_szBatchName, "QelInstall.bat");
  }
  std::string Read(const std::string& name) { return world_.env().ReadFile(world_.ScriptsFile(name)); }

  DeployWorld world_;
  CScriptDeployer engine_;
};

TEST_F(BatchTest, InstallBatchForDC01) {
  ASSERT_TRUE(engine_.WriteInstallBatch());
  EXPECT_EQ(Read("QelInstall.bat"),
            "@ECHO OFF\r\n"
            "\r\n"
            "REM Run QelInstall\r\n"
            "ECHO.\r\n"
            "ECHO Prepare to install Orvane QEL network edition, please wait...\r\n"
            "ECHO Don't close this window,it will be closed automatically.\r\n"
            "START /W \\\\DC01\\NetLogon\\QelCheck.exe \\\\DC01\\NetLogon\\QelSetup.exe\r\n");
}

TEST_F(BatchTest, InstallBatchOverwritesAndFailsWithoutFolder) {
  world_.env().WriteFile(world_.ScriptsFile("QelInstall.bat"), std::string(3000, 'x'));
  ASSERT_TRUE(engine_.WriteInstallBatch());
  EXPECT_EQ(Read("QelInstall.bat").substr(0, 11), "@ECHO OFF\r\n");
  EXPECT_LT(Read("QelInstall.bat").size(), 400u);
  std::strcpy(engine_.m_szScriptsDir, "C:\\NO\\SUCH");
  EXPECT_FALSE(engine_.WriteInstallBatch());
}

TEST_F(BatchTest, WrapperBatchRecordsProfileAndScript) {
  ASSERT_TRUE(engine_.WriteUserBatch("jdoe", "\\\\srv\\profiles\\jdoe", "logon.bat"));
  EXPECT_EQ(Read("Qeljdoe.bat"),
            "@ECHO OFF\r\n"
            "\r\n"
            "REM Please don't Change this batch file.\r\n"
            "REM otherwise, maybe can't restore script file !\r\n"
            "\r\n"
            "REM szProfile = \\\\srv\\profiles\\jdoe\r\n"
            "REM szScriptPath = logon.bat\r\n"
            "\r\n"
            "CALL \\\\DC01\\NetLogon\\logon.bat\r\n"
            "CALL \\\\DC01\\NetLogon\\QelInstall.bat\r\n");
  char profile[MAX_PATH] = "current profile";
  char script[MAX_PATH] = "Qeljdoe.bat";
  BOOL found = FALSE;
  ASSERT_TRUE(engine_.ReadUserBatch("jdoe", profile, script, &found));
  EXPECT_TRUE(found);
  EXPECT_STREQ(profile, "\\\\srv\\profiles\\jdoe");
  EXPECT_STREQ(script, "logon.bat");  // CR LF came back as LF and is not part of the value
  // The reader leaves the file; the engine deletes it once the account is written.
  EXPECT_TRUE(world_.env().FileExists(world_.ScriptsFile("Qeljdoe.bat")));
  EXPECT_TRUE(engine_.DeleteUserBatch("jdoe"));
  EXPECT_FALSE(world_.env().FileExists(world_.ScriptsFile("Qeljdoe.bat")));
}

TEST_F(BatchTest, EmptyProfileKeepsItsBlankAndReadsBackEmpty) {
  ASSERT_TRUE(engine_.WriteUserBatch("ann", "", "sub\\run me.cmd"));
  EXPECT_NE(Read("Qelann.bat").find("REM szProfile = \r\nREM szScriptPath = sub\\run me.cmd\r\n"), std::string::npos);
  char profile[MAX_PATH] = "old";
  char script[MAX_PATH] = "Qelann.bat";
  ASSERT_TRUE(engine_.ReadUserBatch("ann", profile, script));
  EXPECT_STREQ(profile, "");
  EXPECT_STREQ(script, "sub\\run me.cmd");  // spaces belong to the value
}

TEST_F(BatchTest, ReadOnlyWrapperIsRewrittenAndRead) {
  ASSERT_TRUE(engine_.WriteUserBatch("bob", "", "first.bat"));
  std::string path = world_.ScriptsFile("Qelbob.bat");
  ASSERT_TRUE(Files().SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(engine_.WriteUserBatch("bob", "", "second.bat"));
  ASSERT_TRUE(Files().SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  char profile[MAX_PATH] = "";
  char script[MAX_PATH] = "";
  ASSERT_TRUE(engine_.ReadUserBatch("bob", profile, script));
  EXPECT_STREQ(script, "second.bat");
  // Reading changes nothing, not even the attributes; the delete takes a
  // read-only file all the same.
  EXPECT_EQ(Files().GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY,
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(engine_.DeleteUserBatch("bob"));
  EXPECT_FALSE(world_.env().FileExists(path));
}

TEST_F(BatchTest, MissingRecordsLeaveTheBuffers) {
  world_.env().WriteFile(world_.ScriptsFile("Qelcarl.bat"), "@ECHO OFF\r\nREM szProfile = \\\\p\\carl\r\n");
  char profile[MAX_PATH] = "current";
  char script[MAX_PATH] = "Qelcarl.bat";
  BOOL found = TRUE;
  ASSERT_TRUE(engine_.ReadUserBatch("carl", profile, script, &found));
  EXPECT_FALSE(found);
  EXPECT_STREQ(script, "Qelcarl.bat");
  EXPECT_STREQ(profile, "\\\\p\\carl");
  // A record without its line break counts as missing too.
  world_.env().WriteFile(world_.ScriptsFile("Qelcarl.bat"), "REM szScriptPath = half");
  ASSERT_TRUE(engine_.ReadUserBatch("carl", profile, script, &found));
  EXPECT_FALSE(found);
  EXPECT_STREQ(script, "Qelcarl.bat");
}

TEST_F(BatchTest, ReaderFailures) {
  char profile[MAX_PATH] = "p";
  char script[MAX_PATH] = "s";
  QelSetLastError(0);
  EXPECT_FALSE(engine_.ReadUserBatch("nobody", profile, script));
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // A recorded script too long for the account's 260-byte field is not usable.
  world_.env().WriteFile(world_.ScriptsFile("Qeldave.bat"), "REM szScriptPath = " + std::string(260, 'a') + "\r\n");
  EXPECT_FALSE(engine_.ReadUserBatch("dave", profile, script));
  EXPECT_NE(QelGetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_STREQ(script, "s");
  EXPECT_TRUE(world_.env().FileExists(world_.ScriptsFile("Qeldave.bat")));
}

TEST_F(BatchTest, CallTargetIsQuotedOnlyWhenCmdWouldSplitOrRunIt) {
  ASSERT_TRUE(engine_.WriteUserBatch("ann", "", "sub\\run me.cmd"));
  ASSERT_TRUE(engine_.WriteUserBatch("bob", "", "a&b.bat"));
  EXPECT_NE(Read("Qelann.bat").find("\r\nCALL \"\\\\DC01\\NetLogon\\sub\\run me.cmd\"\r\n"), std::string::npos);
  EXPECT_NE(Read("Qelbob.bat").find("\r\nCALL \"\\\\DC01\\NetLogon\\a&b.bat\"\r\n"), std::string::npos);
  // The record stays as it always was, and reads back without quotes.
  EXPECT_NE(Read("Qelbob.bat").find("REM szScriptPath = a&b.bat\r\n"), std::string::npos);
  char profile[MAX_PATH] = "";
  char script[MAX_PATH] = "";
  ASSERT_TRUE(engine_.ReadUserBatch("ann", profile, script));
  EXPECT_STREQ(script, "sub\\run me.cmd");
  // The shared batch's call is never quoted.
  EXPECT_NE(Read("Qelann.bat").find("\r\nCALL \\\\DC01\\NetLogon\\QelInstall.bat\r\n"), std::string::npos);
}

TEST_F(BatchTest, ARecordHoldingAControlCharacterIsNotRestored) {
  // A doubled CR before the line end leaves one CR in the value after the
  // text-mode read; a TAB or any other control character is as bad.
  const std::string records[] = {"REM szProfile = p\r\nREM szScriptPath = logon.bat\r\r\n",
                                 "REM szProfile = p\r\nREM szScriptPath = log\ton.bat\r\n",
                                 "REM szProfile = p\x1b\r\nREM szScriptPath = logon.bat\r\n"};
  for (const std::string& text : records) {
    world_.env().WriteFile(world_.ScriptsFile("Qelhank.bat"), text);
    char profile[MAX_PATH] = "current";
    char script[MAX_PATH] = "Qelhank.bat";
    QelSetLastError(0);
    EXPECT_FALSE(engine_.ReadUserBatch("hank", profile, script)) << text;
    EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_STREQ(script, "Qelhank.bat");
    EXPECT_STREQ(profile, "current");
    EXPECT_TRUE(world_.env().FileExists(world_.ScriptsFile("Qelhank.bat")));
  }
  EXPECT_NE(world_.LogText().find("control character"), std::string::npos);
}

TEST_F(BatchTest, LongHandEditedWrapperIsParsedWithinItsFirst1024Bytes) {
  std::string head = "REM szScriptPath = kept.bat\r\n";
  world_.env().WriteFile(world_.ScriptsFile("Qeleve.bat"),
                         head + std::string(4000, '#') + "\r\nREM szProfile = beyond\r\n");
  char profile[MAX_PATH] = "unchanged";
  char script[MAX_PATH] = "";
  ASSERT_TRUE(engine_.ReadUserBatch("eve", profile, script));
  EXPECT_STREQ(script, "kept.bat");
  EXPECT_STREQ(profile, "unchanged");
}

TEST_F(BatchTest, TooLongOrMultiLineValuesAreRefusedWhole) {
  // 190 fixed characters + 2 x 4 for DC01: a profile and a script of 259
  // characters each, the longest an account hands over, fit.
  std::string profile(259, 'p'), script(259, 's');
  EXPECT_TRUE(engine_.WriteUserBatch("frank", profile.c_str(), script.c_str()));
  EXPECT_EQ(Read("Qelfrank.bat").size(), 198u + 259u + 2 * 259u + 10u);
  // One character more than an account's field could not be read back whole.
  EXPECT_FALSE(engine_.WriteUserBatch("frank", (profile + "p").c_str(), script.c_str()));
  EXPECT_FALSE(engine_.WriteUserBatch("frank", profile.c_str(), (script + "s").c_str()));
  EXPECT_EQ(Read("Qelfrank.bat").size(), 198u + 259u + 2 * 259u + 10u);
  // A line break inside a value would become a command of its own.
  EXPECT_FALSE(engine_.WriteUserBatch("gina", "", "logon.bat\r\ndel /q *.*"));
  EXPECT_FALSE(world_.env().FileExists(world_.ScriptsFile("Qelgina.bat")));
  // A profile holding the script's key word would be read back as the script.
  EXPECT_FALSE(engine_.WriteUserBatch("gina", "\\\\p\\REM szScriptPath = evil.bat", "logon.bat"));
  // Nor is any control character written: the reader could not restore it.
  EXPECT_FALSE(engine_.WriteUserBatch("gina", "", "log\ton.bat"));
  EXPECT_FALSE(world_.env().FileExists(world_.ScriptsFile("Qelgina.bat")));
  // The wrapper's full path must fit 199 characters.
  EXPECT_FALSE(engine_.WriteUserBatch(std::string(160, 'n').c_str(), "", "logon.bat"));
}

}  // namespace
}  // namespace qel::test
