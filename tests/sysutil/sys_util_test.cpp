// Registry and path helpers over the host adapters.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "log/log_utility.h"
#include "platform/ports.h"
#include "tests/fakes/faulty_files.h"
#include "tests/fakes/faulty_registry.h"
#include "tests/fakes/host/host_test_env.h"
#include "wizard/sys_util.h"

namespace qel::test {
namespace {

std::string Stripped(const std::string& text, char ch = '\\') {
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  EXPECT_EQ(StripTrailingChar(buffer.data(), ch), 1);
  return buffer.data();
}

TEST(StripTrailingBackslash, RunsAndRoots) {
  HostTestEnv env;
  EXPECT_EQ(Stripped("C:\\"), "C:");  // a drive root loses its one backslash
  EXPECT_EQ(Stripped("C:\\Qel\\\\\\"), "C:\\Qel");
  EXPECT_EQ(Stripped("\\\\\\"), "");
  EXPECT_EQ(Stripped(""), "");
  EXPECT_EQ(Stripped("C:\\a\\\\b"), "C:\\a\\\\b");  // only the trailing run
  EXPECT_EQ(Stripped("name..", '.'), "name");

  char buffer[] = "C:\\Qel\\";
  EXPECT_EQ(StripTrailingBackslash(buffer), 1);
  EXPECT_STREQ(buffer, "C:\\Qel");
}

TEST(StripTrailingBackslash, DoubleByteCharacters) {
  // 0x95 0x5C is one character of code page 936 whose second byte is '\'.
  const std::string ending = "C:\\\x95\x5C";
  {
    HostTestOptions options;
    options.codePage = 936;
    HostTestEnv env(options);
    EXPECT_EQ(Stripped(ending), ending);
    EXPECT_EQ(Stripped(ending + "\\\\"), ending);
    EXPECT_EQ(Stripped("C:\\\x95\x5C\x95\x5C"), "C:\\\x95\x5C\x95\x5C");
    std::string text = ending + "\\";
    EXPECT_TRUE(TrimRightBackslash(text));
    EXPECT_EQ(text, ending);
    EXPECT_EQ(MbsRChr(ending.c_str(), '\\'), ending.c_str() + 2);
    // A lead byte at the very end does not step past the terminator.
    const char lone[] = "a\x95";
    EXPECT_EQ(MbsInc(lone + 1), lone + 2);
  }
  {
    HostTestEnv env;  // 1252: the same bytes are two characters
    EXPECT_EQ(Stripped(ending), "C:\\\x95");
  }
}

TEST(TrimRightChar, EmptyTextFails) {
  HostTestEnv env;
  std::string text;
  EXPECT_FALSE(TrimRightBackslash(text));
  text = "\\";
  EXPECT_TRUE(TrimRightBackslash(text));
  EXPECT_EQ(text, "");
  text = "C:\\Program Files\\Qel";
  EXPECT_TRUE(TrimRightChar(text, 'l'));
  EXPECT_EQ(text, "C:\\Program Files\\Qe");
}

class PathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(env_.MakeDirectory("C:\\dir"));
    ASSERT_TRUE(env_.WriteFile("C:\\dir\\file.txt", "data"));
  }
  void TearDown() override { _NCOvLogUtility::DestroyInstance(); }
  HostTestEnv env_;
};

TEST_F(PathTest, CheckPathKind) {
  EXPECT_EQ(CheckPathKind("C:\\dir", 0), 0);
  EXPECT_EQ(CheckPathKind("C:\\dir", 1), -2);
  EXPECT_EQ(CheckPathKind("C:\\dir\\file.txt", 1), 0);
  EXPECT_EQ(CheckPathKind("C:\\dir\\file.txt", 0), -2);
  EXPECT_EQ(CheckPathKind("C:\\dir\\missing", 0), -1);
  EXPECT_EQ(CheckPathKind("C:\\dir\\missing", 1), -1);
  EXPECT_EQ(CheckPathKind("", 0), -1);
  EXPECT_EQ(CheckPathKind(nullptr, 1), -1);
}

TEST_F(PathTest, RemovePath) {
  ASSERT_TRUE(Files().SetFileAttributesA("C:\\dir\\file.txt", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(RemovePath("C:\\dir\\file.txt"), 0);  // read-only is no obstacle
  EXPECT_FALSE(env_.FileExists("C:\\dir\\file.txt"));
  EXPECT_EQ(RemovePath("C:\\dir\\file.txt"), 2);
  EXPECT_EQ(RemovePath("C:\\dir"), 2);  // a folder is not removed
  EXPECT_TRUE(env_.DirectoryExists("C:\\dir"));
}

TEST_F(PathTest, CreateDirectoryPathRefusesRelativeAndMissingRoots) {
  EXPECT_FALSE(CreateDirectoryPath(nullptr));
  EXPECT_FALSE(CreateDirectoryPath("Qel"));
  EXPECT_FALSE(CreateDirectoryPath("Q:\\Qel\\Log"));  // no drive Q
  EXPECT_FALSE(CreateDirectoryPath("\\Qel\\Log"));
  EXPECT_FALSE(env_.DirectoryExists("C:\\Qel"));
}

TEST_F(PathTest, CreateDirectoryPathMakesEveryLevel) {
  EXPECT_TRUE(CreateDirectoryPath("C:\\a\\b\\"));
  EXPECT_TRUE(env_.DirectoryExists("C:\\a\\b"));
  EXPECT_TRUE(CreateDirectoryPath("C:\\a\\b\\c\\d"));
  EXPECT_TRUE(env_.DirectoryExists("C:\\a\\b\\c\\d"));
  EXPECT_TRUE(CreateDirectoryPath("C:\\a\\b\\c\\d"));  // already there
  EXPECT_TRUE(CreateDirectoryPath("C:\\"));
}

TEST_F(PathTest, CreateDirectoryPathReplacesBlockingFiles) {
  // A file in the middle of the path.
  ASSERT_TRUE(env_.WriteFile("C:\\dir\\x", "blocking"));
  EXPECT_TRUE(CreateDirectoryPath("C:\\dir\\x\\y\\z"));
  EXPECT_TRUE(env_.DirectoryExists("C:\\dir\\x\\y\\z"));

  // A read-only file at the end: the folder stands there afterwards.
  ASSERT_TRUE(env_.WriteFile("C:\\dir\\last", "blocking"));
  ASSERT_TRUE(Files().SetFileAttributesA("C:\\dir\\last", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_TRUE(CreateDirectoryPath("C:\\dir\\last"));
  EXPECT_TRUE(env_.DirectoryExists("C:\\dir\\last"));
}

TEST_F(PathTest, FILCreateNeedDirectoryBelowAShare) {
  // The leading components of a UNC path ("", "\\SERVER") cannot be made;
  // only the last directory decides.
  ASSERT_TRUE(env_.MakeDirectory("C:\\share"));
  env_.Reconfigure([](HostConfig& config) { config.shares["\\\\SERVER\\SHARE"] = "C:\\share"; });
  EXPECT_TRUE(FILCreateNeedDirectory("\\\\SERVER\\SHARE\\Qel"));
  EXPECT_TRUE(env_.DirectoryExists("C:\\share\\Qel"));
}

TEST_F(PathTest, FILCreateNeedDirectoryFailureIsLogged) {
  ASSERT_NE(_NCOvLogUtility::GetInstance(), nullptr);
  // Drive Q does not exist: its folders cannot be made.
  EXPECT_FALSE(FILCreateNeedDirectory("Q:\\Qel"));
  const std::string log = env_.ReadFile("C:\\ProgramData\\Orvane\\Qel\\Log\\QelScript.log");
  EXPECT_NE(log.find("[ERR]CreateDirectory(Q:\\Qel) FAIL! LastErr = "), std::string::npos) << log;
}

class RegistryTest : public ::testing::Test {
 protected:
  void Set(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(Registry().RegCreateKeyA(HKEY_LOCAL_MACHINE, kQelRegistryKey, &key), ERROR_SUCCESS);
    ASSERT_EQ(Registry().RegSetValueExA(key, name, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    Registry().RegCloseKey(key);
  }
  std::string Read(const char* name, BOOL expected = TRUE) {
    std::string text = "previous";
    EXPECT_EQ(RegReadString(HKEY_LOCAL_MACHINE, kQelRegistryKey, name, text), expected) << name;
    return text;
  }
  HostTestEnv env_;
};

TEST_F(RegistryTest, ReadStringTrimsAndStopsAtNul) {
  Set("CenterIP", REG_SZ, " \t10.0.0.1  \r\n", 15);
  EXPECT_EQ(Read("CenterIP"), "10.0.0.1");
  // Stored without its terminator: read to the end of the data, not beyond.
  Set("NoNul", REG_SZ, "10.1.2.3XYZ", 8);
  EXPECT_EQ(Read("NoNul"), "10.1.2.3");
  Set("Empty", REG_SZ, "", 0);
  EXPECT_EQ(Read("Empty"), "");
}

TEST_F(RegistryTest, ReadStringOfOtherTypes) {
  Set("Binary", REG_BINARY, "abc\0def", 7);
  EXPECT_EQ(Read("Binary"), "abc");
  const DWORD number = 0x00434241;  // "ABC" in memory order
  Set("Number", REG_DWORD, &number, sizeof(number));
  EXPECT_EQ(Read("Number"), "ABC");
  Set("Multi", REG_MULTI_SZ, "one\0two\0\0", 9);
  EXPECT_EQ(Read("Multi"), "one");
}

TEST_F(RegistryTest, ReadStringFailures) {
  EXPECT_EQ(Read("Missing", FALSE), "");
  std::string text = "previous";
  EXPECT_FALSE(RegReadString(HKEY_LOCAL_MACHINE, "Software\\Nobody", "CenterIP", text));
  EXPECT_EQ(text, "");
  text = "previous";
  EXPECT_FALSE(RegReadString(nullptr, kQelRegistryKey, "CenterIP", text));
  EXPECT_FALSE(RegReadString(HKEY_LOCAL_MACHINE, nullptr, "CenterIP", text));
  EXPECT_FALSE(RegReadString(HKEY_LOCAL_MACHINE, kQelRegistryKey, nullptr, text));
  EXPECT_EQ(text, "");
}

TEST_F(RegistryTest, ReadDwordOfAnyTypeUpToFourBytes) {
  DWORD value = 99;
  const DWORD number = 3;
  Set("NLogLevel", REG_DWORD, &number, sizeof(number));
  EXPECT_TRUE(RegReadDword(HKEY_LOCAL_MACHINE, kQelRegistryKey, "NLogLevel", &value));
  EXPECT_EQ(value, 3u);

  const BYTE two[2] = {0x34, 0x12};
  Set("Short", REG_BINARY, two, sizeof(two));
  EXPECT_TRUE(RegReadDword(HKEY_LOCAL_MACHINE, kQelRegistryKey, "Short", &value));
  EXPECT_EQ(value, 0x1234u);

  value = 99;
  Set("Long", REG_SZ, "123456", 7);  // more than 4 bytes
  EXPECT_FALSE(RegReadDword(HKEY_LOCAL_MACHINE, kQelRegistryKey, "Long", &value));
  EXPECT_EQ(value, 0u);

  value = 99;
  EXPECT_FALSE(RegReadDword(HKEY_LOCAL_MACHINE, kQelRegistryKey, "Missing", &value));
  EXPECT_EQ(value, 0u);
  value = 99;
  EXPECT_FALSE(RegReadDword(HKEY_LOCAL_MACHINE, "Software\\Nobody", "NLogLevel", &value));
  EXPECT_EQ(value, 0u);
}

TEST_F(RegistryTest, InstallPath) {
  std::string path = "previous";
  EXPECT_FALSE(GetInstallPath(path));
  EXPECT_EQ(path, "");
  Set("installpath", REG_SZ, "  C:\\Program Files\\Orvane\\Qel\\\\ ", 32);
  EXPECT_TRUE(GetInstallPath(path));
  EXPECT_EQ(path, "C:\\Program Files\\Orvane\\Qel");
}

// The file port failing under the path helpers.
class PathFaultTest : public PathTest {
 protected:
  void SetUp() override {
    PathTest::SetUp();
    // The log's folder exists before the faults begin.
    ASSERT_NE(_NCOvLogUtility::GetInstance(), nullptr);
    files_ = std::make_unique<FaultyFileSystem>(Ports().files);
    Ports().files = files_.get();
  }
  std::string Log() const { return env_.ReadFile("C:\\ProgramData\\Orvane\\Qel\\Log\\QelScript.log"); }
  FaultPlan& plan() { return files_->plan(); }
  std::unique_ptr<FaultyFileSystem> files_;
};

TEST_F(PathFaultTest, RemovePathFailures) {
  plan().Fail("SetFileAttributesA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(RemovePath("C:\\dir\\file.txt"), -1);
  EXPECT_EQ(plan().Calls("DeleteFileA"), 0);
  plan().Fail("DeleteFileA", ERROR_SHARING_VIOLATION);
  EXPECT_EQ(RemovePath("C:\\dir\\file.txt"), -1);
  EXPECT_TRUE(env_.FileExists("C:\\dir\\file.txt"));
}

TEST_F(PathFaultTest, UndeletableBlockingFileIsLogged) {
  plan().Fail("DeleteFileA", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(CreateDirectoryPath("C:\\dir\\file.txt\\sub"));
  EXPECT_EQ(plan().Calls("CreateDirectoryA"), 0);
  EXPECT_TRUE(env_.FileExists("C:\\dir\\file.txt"));
  EXPECT_NE(Log().find("[ERR]FILCreateNeedDirectory: Del Same File FAIL!C:\\dir\\file.txt\r\n"), std::string::npos)
      << Log();
}

TEST_F(PathFaultTest, FailedCreateIsLoggedWithTheLastError) {
  plan().Fail("CreateDirectoryA", ERROR_ACCESS_DENIED, -1);
  EXPECT_FALSE(FILCreateNeedDirectory("C:\\dir\\new"));
  EXPECT_NE(Log().find("[ERR]CreateDirectory(C:\\dir\\new) FAIL! LastErr = 5\r\n"), std::string::npos) << Log();
}

TEST_F(PathFaultTest, TrailingBackslashMakesNoCallForTheWholePath) {
  EXPECT_TRUE(CreateDirectoryPath("C:\\a\\b\\"));
  EXPECT_EQ(plan().Calls("CreateDirectoryA"), 2);
}

// The registry port failing under the readers: the key is always closed.
class RegistryFaultTest : public RegistryTest {
 protected:
  void SetUp() override {
    const DWORD number = 3;
    Set("NLogLevel", REG_DWORD, &number, sizeof(number));
    Set("CenterIP", REG_SZ, "10.0.0.1", 9);
    registry_ = std::make_unique<FaultyRegistry>(Ports().registry);
    Ports().registry = registry_.get();
  }
  FaultPlan& plan() { return registry_->plan(); }
  std::unique_ptr<FaultyRegistry> registry_;
};

TEST_F(RegistryFaultTest, SecondQueryFails) {
  plan().Fail("RegQueryValueExA", ERROR_MORE_DATA, 1, 1);
  EXPECT_EQ(Read("CenterIP", FALSE), "");
  EXPECT_EQ(plan().Calls("RegCloseKey"), 1);
}

TEST_F(RegistryFaultTest, FirstQueryOrOpenFails) {
  plan().Fail("RegQueryValueExA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(Read("CenterIP", FALSE), "");
  plan().Fail("RegOpenKeyA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(Read("CenterIP", FALSE), "");
  EXPECT_EQ(plan().Calls("RegCloseKey"), 1);  // only the key that was opened
}

TEST_F(RegistryFaultTest, DwordQueryFails) {
  DWORD value = 99;
  plan().Fail("RegQueryValueExA", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(RegReadDword(HKEY_LOCAL_MACHINE, kQelRegistryKey, "NLogLevel", &value));
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(plan().Calls("RegCloseKey"), 1);
  EXPECT_TRUE(RegReadDword(HKEY_LOCAL_MACHINE, kQelRegistryKey, "NLogLevel", &value));
  EXPECT_EQ(value, 3u);
}

}  // namespace
}  // namespace qel::test
