// The log singleton: settings, life cycle, channels and the log folder.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "tests/fakes/fake_loader.h"
#include "tests/fakes/fault_plan.h"
#include "tests/log/log_test_env.h"

namespace qel::test {
namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

using LogSettingsTest = LogTest;

TEST_F(LogSettingsTest, DefaultsWithoutValues) {
  _NCOvLogUtility* log = Fresh();
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(log->GetLevel(), 2u);
  EXPECT_EQ(log->GetMaxSize(), 204800u);
  EXPECT_EQ(log->GetChannel(0)->GetLevel(), 2u);
  EXPECT_EQ(log->GetChannel(0)->GetMaxSize(), 204800u);
}

TEST_F(LogSettingsTest, LevelAboveNineBecomesNine) {
  const struct {
    DWORD stored;
    DWORD level;
  } cases[] = {{0, 0}, {1, 1}, {3, 3}, {9, 9}, {10, 9}, {4000000000u, 9}};
  for (const auto& c : cases) {
    SetDword("NLogLevel", c.stored);
    _NCOvLogUtility* log = Fresh();
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->GetLevel(), c.level) << c.stored;
    EXPECT_EQ(log->GetChannel(0)->GetLevel(), c.level) << c.stored;
  }
}

TEST_F(LogSettingsTest, MaxSizeKeptWithinBounds) {
  const struct {
    DWORD stored;
    DWORD limit;
  } cases[] = {{0, 102400},          {5, 102400},          {102400, 102400},       {102401, 102401},
               {10485759, 10485759}, {10485760, 10485760}, {4000000000u, 10485760}};
  for (const auto& c : cases) {
    SetDword("NLogMaxSize", c.stored);
    _NCOvLogUtility* log = Fresh();
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->GetMaxSize(), c.limit) << c.stored;
    EXPECT_EQ(log->GetChannel(0)->GetMaxSize(), c.limit) << c.stored;
  }
}

TEST_F(LogSettingsTest, ValuesOfOtherTypes) {
  // Longer than a DWORD: not a number the log can use.
  SetValue("NLogLevel", REG_SZ, "123456", 7);
  // Four bytes of any type are taken as they stand.
  const BYTE size[4] = {0x01, 0x90, 0x01, 0x00};  // 102401
  SetValue("NLogMaxSize", REG_BINARY, size, sizeof(size));
  _NCOvLogUtility* log = Fresh();
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(log->GetLevel(), 2u);
  EXPECT_EQ(log->GetMaxSize(), 102401u);
}

// Which severities reach the file at each level.
class LogLevelTest : public LogTest {
 protected:
  // Writes one line of each severity and reports which tags arrived.
  std::string Written(const std::string& mark) {
    _NCOvLogUtility::Error("%s", mark.c_str());
    _NCOvLogUtility::Warning("%s", mark.c_str());
    _NCOvLogUtility::Info("%s", mark.c_str());
    std::string log = Log();
    std::string tags;
    if (Contains(log, "[ERR]" + mark + "\r\n")) tags += "E";
    if (Contains(log, "[WAR]" + mark + "\r\n")) tags += "W";
    if (Contains(log, "[INF]" + mark + "\r\n")) tags += "I";
    return tags;
  }
};

TEST_F(LogLevelTest, NoValueWritesErrorsAndWarnings) {
  ASSERT_NE(Fresh(), nullptr);
  EXPECT_EQ(Written("default"), "EW");
}

TEST_F(LogLevelTest, LevelZeroWritesNothing) {
  SetDword("NLogLevel", 0);
  ASSERT_NE(Fresh(), nullptr);
  EXPECT_EQ(Written("zero"), "");
  EXPECT_FALSE(env_.FileExists(kLogPath));
}

TEST_F(LogLevelTest, LevelOneWritesOnlyErrors) {
  SetDword("NLogLevel", 1);
  ASSERT_NE(Fresh(), nullptr);
  EXPECT_EQ(Written("one"), "E");
}

TEST_F(LogLevelTest, LevelsThreeAndAboveWriteEverything) {
  for (DWORD level : {3u, 4u, 9u, 4000000000u}) {
    SetDword("NLogLevel", level);
    ASSERT_NE(Fresh(), nullptr);
    EXPECT_EQ(Written("level " + std::to_string(level)), "EWI") << level;
  }
}

using LogLifeTest = LogTest;

TEST_F(LogLifeTest, OneInstanceUntilDestroyed) {
  _NCOvLogUtility* first = _NCOvLogUtility::GetInstance();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(_NCOvLogUtility::GetInstance(), first);
  EXPECT_EQ(first->GetChannel(0), first->GetChannel(0));
}

TEST_F(LogLifeTest, FirstLineMakesTheLog) {
  _NCOvLogUtility::Error("first");
  EXPECT_NE(_NCOvLogUtility::GetInstance(), nullptr);
  EXPECT_EQ(Log(), std::string(kStamp) + "[ERR]first\r\n");
}

TEST_F(LogLifeTest, LinesAfterShutdownAreDropped) {
  ASSERT_NE(_NCOvLogUtility::GetInstance(), nullptr);
  _NCOvLogUtility::Error("during");
  _NCOvLogUtility::Shutdown();
  _NCOvLogUtility::Error("after");
  _NCOvLogUtility* none = nullptr;
  none->Warning("through a null pointer");
  EXPECT_EQ(Log(), std::string(kStamp) + "[ERR]during\r\n");

  // Made again on request.
  ASSERT_NE(_NCOvLogUtility::GetInstance(), nullptr);
  _NCOvLogUtility::Error("again");
  EXPECT_EQ(Log(), std::string(kStamp) + "[ERR]during\r\n" + kStamp + "[ERR]again\r\n");
}

TEST_F(LogLifeTest, HolderMakesAndShutsDownTheLog) {
  {
    _NCOvLogHolder holder;
    _NCOvLogUtility::Warning("held");
  }
  _NCOvLogUtility::Warning("released");
  EXPECT_EQ(Log(), std::string(kStamp) + "[WAR]held\r\n");
  _NCOvLogUtility::GetInstance();  // later tests write without asking first
}

TEST_F(LogLifeTest, NoInstanceBeforeThePortsAreInstalled) {
  ScopedPorts saved;
  Ports() = PlatformPorts();
  EXPECT_EQ(_NCOvLogUtility::GetInstance(), nullptr);
  _NCOvLogUtility::Error("nowhere to go");  // must not touch the missing ports
}

TEST_F(LogLifeTest, FurtherChannelsTakeTheCurrentSettings) {
  SetDword("NLogLevel", 5);
  SetDword("NLogMaxSize", 300000);
  _NCOvLogUtility* log = Fresh();
  ASSERT_NE(log, nullptr);
  _NCOvLogFile* seven = log->GetChannel(7);
  ASSERT_NE(seven, nullptr);
  EXPECT_NE(seven, log->GetChannel(0));
  EXPECT_EQ(log->GetChannel(7), seven);
  EXPECT_EQ(seven->GetId(), 7u);
  EXPECT_EQ(seven->GetLevel(), 5u);
  EXPECT_EQ(seven->GetMaxSize(), 300000u);
  // The log code lives in the program: every channel is named after it.
  EXPECT_STREQ(seven->GetPath(), kLogPath);
}

// The file is named after the running program, without its extension.
class LogNameTest : public LogTest {
 protected:
  std::string PathFor(const std::string& modulePath) {
    // A new platform: the pinned system wraps the old one and is left out.
    env_.Reconfigure([&](HostConfig& config) { config.modulePath = modulePath; });
    _NCOvLogFile channel(0, 2, 204800);
    return channel.GetPath();
  }
};

TEST_F(LogNameTest, ProgramNameWithoutExtension) {
  EXPECT_EQ(PathFor("C:\\Program Files\\Orvane\\QelScript.exe"), kLogPath);
  EXPECT_EQ(PathFor("C:\\Tools\\Qel.Script.exe"), std::string(kLogDir) + "\\Qel.Script.log");
  // A dot in a folder name is not the extension.
  EXPECT_EQ(PathFor("C:\\Tools\\v1.2\\QelScript"), kLogPath);
}

// The log folder: the common application data folder on the NT family.
class LogDirectoryTest : public LogTest {
 protected:
  static HRESULT WINAPI Answer(HWND, int folder, HANDLE, DWORD flags, LPSTR path) {
    lastFolder_ = folder;
    lastFlags_ = flags;
    if (answer_ == nullptr) {
      path[0] = '\0';
      return E_FAIL;
    }
    strcpy(path, answer_);
    return S_OK;
  }
  void SetUp() override {
    answer_ = "C:\\AppData";
    lastFolder_ = -1;
    lastFlags_ = 0;
  }
  std::string Directory() {
    char directory[MAX_PATH] = "junk";
    GetLogDirectory(directory);
    return directory;
  }

  static const char* answer_;
  static int lastFolder_;
  static DWORD lastFlags_;
};
const char* LogDirectoryTest::answer_ = nullptr;
int LogDirectoryTest::lastFolder_ = -1;
DWORD LogDirectoryTest::lastFlags_ = 0;

TEST_F(LogDirectoryTest, CommonAppDataOfTheShell) {
  EXPECT_EQ(Directory(), kLogDir);
  EXPECT_TRUE(env_.DirectoryExists(kLogDir));

  ScopedPorts saved;
  FakeLoader loader;
  loader.AddProc("Shell32.dll", "SHGetFolderPathA", &Answer);
  Ports().loader = &loader;
  EXPECT_EQ(Directory(), "C:\\AppData\\Orvane\\Qel\\Log");
  EXPECT_EQ(lastFolder_, 0x23);  // CSIDL_COMMON_APPDATA
  EXPECT_EQ(lastFlags_, 1u);     // SHGFP_TYPE_DEFAULT
  EXPECT_TRUE(env_.DirectoryExists("C:\\AppData\\Orvane\\Qel\\Log"));
  EXPECT_EQ(loader.OpenCount("Shell32.dll"), 0);
}

TEST_F(LogDirectoryTest, SHFolderWhenTheShellLacksTheFunction) {
  ScopedPorts saved;
  FakeLoader loader;
  loader.AddModule("Shell32.dll");
  loader.AddProc("SHFolder.dll", "SHGetFolderPathA", &Answer);
  Ports().loader = &loader;
  EXPECT_EQ(Directory(), "C:\\AppData\\Orvane\\Qel\\Log");
  EXPECT_EQ(loader.plan().Calls("FreeLibrary"), 2);
  EXPECT_EQ(loader.OpenCount("Shell32.dll"), 0);
  EXPECT_EQ(loader.OpenCount("SHFolder.dll"), 0);

  // Also when the shell library cannot be loaded at all.
  loader.RemoveModule("Shell32.dll");
  EXPECT_EQ(Directory(), "C:\\AppData\\Orvane\\Qel\\Log");
  EXPECT_EQ(loader.OpenCount("SHFolder.dll"), 0);
}

TEST_F(LogDirectoryTest, FixedFolderWithoutTheFunction) {
  const std::string fallback = "C:\\Documents and Settings\\All Users\\Application Data\\Orvane\\Qel\\Log";
  ScopedPorts saved;
  FakeLoader loader;
  loader.AddModule("Shell32.dll");
  Ports().loader = &loader;
  EXPECT_EQ(Directory(), fallback);
  EXPECT_TRUE(env_.DirectoryExists(fallback));

  // The function is there but fails.
  loader.AddProc("Shell32.dll", "SHGetFolderPathA", &Answer);
  answer_ = nullptr;
  EXPECT_EQ(Directory(), fallback);
  EXPECT_EQ(loader.OpenCount("Shell32.dll"), 0);
}

TEST_F(LogDirectoryTest, InstallFolderOutsideTheNtFamily) {
  system_.SetVersion(0xC0000A04);  // 4.10, high bit set
  EXPECT_EQ(Directory(), "C:\\Program Files\\Orvane\\Qel\\Log");

  SetValue("installpath", REG_SZ, "  C:\\Qel\\\\ ", 12);
  EXPECT_EQ(Directory(), "C:\\Qel\\Log");
  EXPECT_TRUE(env_.DirectoryExists("C:\\Qel\\Log"));

  // An empty install path is no folder.
  SetValue("installpath", REG_SZ, "", 1);
  EXPECT_EQ(Directory(), "C:\\Program Files\\Orvane\\Qel\\Log");
}

TEST_F(LogDirectoryTest, FolderThatCannotBeMadeDropsLines) {
  // Drive Q does not exist: no folder, no file, and no harm to the caller.
  env_.Reconfigure([](HostConfig& config) { config.commonAppData = "Q:\\Data"; });
  ASSERT_NE(Fresh(), nullptr);
  _NCOvLogUtility::Error("lost");
  EXPECT_FALSE(env_.FileExists("Q:\\Data\\Orvane\\Qel\\Log\\QelScript.log"));
}

}  // namespace
}  // namespace qel::test
