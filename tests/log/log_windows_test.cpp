// The log and the path helpers over the Win32 adapters (run under Wine):
// the same rules as on the host, checked against the real platform.
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "log/log_utility.h"
#include "platform/ports.h"
#include "platform/win32/win32_ports.h"
#include "tests/fakes/fault_plan.h"
#include "wizard/sys_util.h"

namespace qel::test {
namespace {

// The whole file through the file port; empty when it cannot be read.
std::string ReadAll(const std::string& path) {
  HANDLE file = Files().CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (Files().ReadFile(file, buffer, sizeof(buffer), &read) && read > 0) text.append(buffer, read);
  Files().CloseFile(file);
  return text;
}

bool WriteAll(const std::string& path, const std::string& bytes) {
  HANDLE file = Files().CreateFileA(path.c_str(), GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = Files().WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written);
  Files().CloseFile(file);
  return ok && written == bytes.size();
}

class WindowsLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallWin32Ports();
    _NCOvLogUtility::DestroyInstance();
    char directory[MAX_PATH];
    GetLogDirectory(directory);
    directory_ = directory;
    char module[MAX_PATH] = {};
    System().GetModuleFileNameA(nullptr, module, MAX_PATH);
    std::string name = MbsRChr(module, '\\') + 1;
    name.resize(name.rfind('.'));
    path_ = directory_ + "\\" + name + ".log";
    backup_ = directory_ + "\\" + name + ".wtx";
    Files().DeleteFileA(path_.c_str());
    Files().DeleteFileA(backup_.c_str());
  }
  void TearDown() override {
    _NCOvLogUtility::DestroyInstance();
    // Values equal to the defaults behave as missing ones.
    SetDword("NLogLevel", 2);
    SetDword("NLogMaxSize", 204800);
  }
  static void SetDword(const char* name, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(Registry().RegCreateKeyA(HKEY_LOCAL_MACHINE, kQelRegistryKey, &key), ERROR_SUCCESS);
    ASSERT_EQ(Registry().RegSetValueExA(key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)),
              ERROR_SUCCESS);
    Registry().RegCloseKey(key);
  }

  ScopedPorts saved_;
  std::string directory_;
  std::string path_;
  std::string backup_;
};

TEST_F(WindowsLogTest, FolderOfTheCommonApplicationData) {
  EXPECT_NE(directory_.find("\\Orvane\\Qel\\Log"), std::string::npos) << directory_;
  EXPECT_EQ(CheckPathKind(directory_.c_str(), 0), 0) << directory_;
}

TEST_F(WindowsLogTest, LineOfTheRealClock) {
  SetDword("NLogLevel", 1);
  ASSERT_NE(_NCOvLogUtility::GetInstance(), nullptr);
  _NCOvLogUtility::Warning("dropped");
  _NCOvLogUtility::Error("[ChangeScript]%s %d", "jdoe", 7);
  const std::string log = ReadAll(path_);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      log, m, std::regex("\\[(\\d+)\\]\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3}: \\[ERR\\]\\[ChangeScript\\]jdoe 7\r\n")))
      << log;
  EXPECT_EQ(std::stoul(m[1]), System().GetCurrentProcessId());
}

TEST_F(WindowsLogTest, RollBeforeTheLineThatFindsTheFileTooLarge) {
  SetDword("NLogMaxSize", 0);  // 102400
  ASSERT_TRUE(WriteAll(path_, std::string(102401, 'x')));
  ASSERT_TRUE(WriteAll(backup_, "older"));
  ASSERT_NE(_NCOvLogUtility::GetInstance(), nullptr);
  _NCOvLogUtility::Warning("fresh");
  EXPECT_EQ(ReadAll(backup_), std::string(102401, 'x'));
  const std::string log = ReadAll(path_);
  // Only the new line is in the fresh file.
  EXPECT_EQ(log.substr(0, 1), "[");
  EXPECT_NE(log.find("[WAR]fresh\r\n"), std::string::npos) << log;
  EXPECT_LT(log.size(), 100u);
}

TEST_F(WindowsLogTest, ThreadsNeverInterleave) {
  ASSERT_NE(_NCOvLogUtility::GetInstance(), nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) _NCOvLogUtility::Error("thread %d line %d %s", t, i, std::string(80, 'p').c_str());
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::string log = ReadAll(path_);
  const std::regex line("\\[\\d+\\][-0-9 :]{23}: \\[ERR\\]thread \\d line \\d+ p{80}");
  size_t count = 0;
  for (size_t start = 0, end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2, ++count) {
    EXPECT_TRUE(std::regex_match(log.substr(start, end - start), line)) << log.substr(start, 100);
  }
  EXPECT_EQ(count, 800u);
}

class WindowsPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallWin32Ports();
    char temp[MAX_PATH] = {};
    ASSERT_NE(Files().GetTempPathA(MAX_PATH, temp), 0u);
    StripTrailingBackslash(temp);
    // A folder of this run only: the port has no way to remove folders.
    base_ = std::string(temp) + "\\qel-sysutil-" + std::to_string(System().GetCurrentProcessId()) + "-" +
            std::to_string(System().GetTickCount());
  }
  ScopedPorts saved_;
  std::string base_;
};

TEST_F(WindowsPathTest, CreateDirectoryPathAndBlockingFiles) {
  ASSERT_TRUE(CreateDirectoryPath((base_ + "\\a\\b\\").c_str()));
  EXPECT_EQ(CheckPathKind((base_ + "\\a\\b").c_str(), 0), 0);
  EXPECT_EQ(CheckPathKind((base_ + "\\a\\b").c_str(), 1), -2);

  ASSERT_TRUE(WriteAll(base_ + "\\a\\mid", "blocking"));
  ASSERT_TRUE(Files().SetFileAttributesA((base_ + "\\a\\mid").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(CheckPathKind((base_ + "\\a\\mid").c_str(), 0), -2);
  EXPECT_TRUE(CreateDirectoryPath((base_ + "\\a\\mid\\c").c_str()));
  EXPECT_EQ(CheckPathKind((base_ + "\\a\\mid\\c").c_str(), 0), 0);

  ASSERT_TRUE(WriteAll(base_ + "\\a\\end", "blocking"));
  EXPECT_TRUE(CreateDirectoryPath((base_ + "\\a\\end").c_str()));
  EXPECT_EQ(CheckPathKind((base_ + "\\a\\end").c_str(), 0), 0);

  ASSERT_TRUE(WriteAll(base_ + "\\a\\file", "x"));
  EXPECT_EQ(RemovePath((base_ + "\\a\\file").c_str()), 0);
  EXPECT_EQ(RemovePath((base_ + "\\a\\file").c_str()), 2);
  EXPECT_EQ(RemovePath((base_ + "\\a").c_str()), 2);
  EXPECT_FALSE(CreateDirectoryPath("relative\\path"));
}

TEST_F(WindowsPathTest, RegistryStringWithoutTerminator) {
  HKEY key = nullptr;
  ASSERT_EQ(Registry().RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Orvane\\QelTest", &key), ERROR_SUCCESS);
  ASSERT_EQ(Registry().RegSetValueExA(key, "NoNul", REG_SZ, reinterpret_cast<const BYTE*>(" 10.1.2.3XYZ"), 9),
            ERROR_SUCCESS);
  Registry().RegCloseKey(key);
  std::string text;
  EXPECT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, "Software\\Orvane\\QelTest", "NoNul", text));
  EXPECT_EQ(text, "10.1.2.3");
  DWORD value = 7;
  EXPECT_FALSE(RegReadDword(HKEY_LOCAL_MACHINE, "Software\\Orvane\\QelTest", "NoNul", &value));
  EXPECT_EQ(value, 0u);
}

}  // namespace
}  // namespace qel::test
