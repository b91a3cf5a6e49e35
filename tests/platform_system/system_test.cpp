// Identity, time and program start: the buffer rules of the Win32 calls and
// WinExec's result codes.
#include <cstring>
#include <ctime>
#include <string>

#include "tests/platform_system/ports_under_test.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace qel::test {
namespace {

using SystemTest = PortsTest;

TEST_F(SystemTest, ComputerNameBufferRules) {
  char name[64] = {};
  DWORD size = sizeof(name);
  ASSERT_TRUE(System().GetComputerNameA(name, &size));
  ASSERT_GT(size, 0u);
  EXPECT_EQ(size, strlen(name));
  const DWORD length = size;

  // No room for the terminator: FALSE, ERROR_BUFFER_OVERFLOW, size needed.
  char small[64];
  size = length;
  QelSetLastError(0);
  EXPECT_FALSE(System().GetComputerNameA(small, &size));
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
  EXPECT_EQ(size, length + 1);

  size = length + 1;
  EXPECT_TRUE(System().GetComputerNameA(small, &size));
  EXPECT_EQ(size, length);
  EXPECT_STREQ(small, name);
}

TEST_F(SystemTest, WindowsDirectoryBufferRules) {
  char folder[MAX_PATH] = {};
  UINT length = System().GetWindowsDirectoryA(folder, MAX_PATH);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(length, strlen(folder));
  EXPECT_EQ(folder[1], ':');
  char small[MAX_PATH];
  EXPECT_EQ(System().GetWindowsDirectoryA(small, length), length + 1);  // the size needed
}

TEST_F(SystemTest, ModuleFileNameIsCutToTheBuffer) {
  char path[MAX_PATH] = {};
  DWORD length = System().GetModuleFileNameA(nullptr, path, MAX_PATH);
  ASSERT_GT(length, 3u);
  EXPECT_EQ(length, strlen(path));
  EXPECT_NE(strrchr(path, '\\'), nullptr);

  // Cut: the result is the buffer size, the error ERROR_INSUFFICIENT_BUFFER.
  // Windows since Vista (and the host) terminate the cut text; XP and Wine
  // fill the buffer without a terminator.
  char small[MAX_PATH];
  memset(small, 'x', sizeof(small));
  QelSetLastError(0);
  EXPECT_EQ(System().GetModuleFileNameA(nullptr, small, 3), 3u);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string(small, 2), std::string(path, 2));
  EXPECT_TRUE(small[2] == 0 || small[2] == path[2]);
  EXPECT_EQ(small[3], 'x');
#ifndef _WIN32
  EXPECT_EQ(small[2], 0);
#endif
}

TEST_F(SystemTest, ProcessIdAndTimes) {
  EXPECT_NE(System().GetCurrentProcessId(), 0u);
  EXPECT_EQ(System().GetCurrentProcessId(), System().GetCurrentProcessId());

  SYSTEMTIME local = {};
  System().GetLocalTime(&local);
  time_t now = time(nullptr);
  struct tm expected;
#ifdef _WIN32
  localtime_s(&expected, &now);
#else
  localtime_r(&now, &expected);
#endif
  EXPECT_EQ(local.wYear, expected.tm_year + 1900);
  EXPECT_GE(local.wMonth, 1);
  EXPECT_LE(local.wMonth, 12);
  EXPECT_LE(local.wMilliseconds, 999);
  int secondsOfDay = local.wHour * 3600 + local.wMinute * 60 + local.wSecond;
  int expectedSeconds = expected.tm_hour * 3600 + expected.tm_min * 60 + expected.tm_sec;
  int difference = (secondsOfDay - expectedSeconds + 86400) % 86400;
  EXPECT_TRUE(difference <= 2 || difference >= 86398) << difference;

  DWORD before = System().GetTickCount();
  System().Sleep(30);
  DWORD elapsed = System().GetTickCount() - before;
  EXPECT_GE(elapsed, 15u);  // tick granularity on Windows is about 16 ms
}

TEST_F(SystemTest, WinExecOfAMissingProgram) {
  char folder[MAX_PATH] = {};
  System().GetWindowsDirectoryA(folder, MAX_PATH);
  std::string missingFile = std::string(folder) + "\\qel-no-such-program.exe";
  EXPECT_EQ(System().WinExec(missingFile.c_str(), SW_SHOW), static_cast<UINT>(ERROR_FILE_NOT_FOUND));
  // A missing folder is "path not found" on the host; Wine says "file not found".
  std::string missingFolder = std::string(folder) + "\\qel-no-such-folder\\x.exe";
  UINT result = System().WinExec(missingFolder.c_str(), SW_SHOW);
  EXPECT_TRUE(result == ERROR_PATH_NOT_FOUND || result == ERROR_FILE_NOT_FOUND) << result;
#ifndef _WIN32
  EXPECT_EQ(result, static_cast<UINT>(ERROR_PATH_NOT_FOUND));
#endif
}

#ifndef _WIN32
TEST_F(SystemTest, HostIdentityComesFromTheConfiguration) {
  env_.reset();
  HostTestOptions options;
  options.computerName = "MEMBER7";
  options.version = 0x0ECE0205;
  options.adjust = [](HostConfig& config) { config.modulePath = "C:\\Tools\\QelCheck.exe"; };
  env_ = std::make_unique<HostTestEnv>(options);
  EXPECT_EQ(System().GetVersion() & 0xFF, 5u);
  char name[16] = {};
  DWORD size = 16;
  EXPECT_TRUE(System().GetComputerNameA(name, &size));
  EXPECT_STREQ(name, "MEMBER7");
  char path[MAX_PATH] = {};
  EXPECT_EQ(System().GetModuleFileNameA(nullptr, path, MAX_PATH), strlen("C:\\Tools\\QelCheck.exe"));
  EXPECT_STREQ(path, "C:\\Tools\\QelCheck.exe");
  char folder[MAX_PATH] = {};
  EXPECT_EQ(System().GetWindowsDirectoryA(folder, MAX_PATH), 10u);
  EXPECT_STREQ(folder, "C:\\WINDOWS");
}

TEST_F(SystemTest, HostReconfigureKeepsTheFilesAndChangesTheIdentity) {
  ASSERT_TRUE(env_->WriteFile("C:\\WINDOWS\\kept.txt", std::string("a\0b", 3)));
  env_->Reconfigure([](HostConfig& config) { config.computerName = "OTHER"; });
  char name[16] = {};
  DWORD size = sizeof(name);
  EXPECT_TRUE(System().GetComputerNameA(name, &size));
  EXPECT_STREQ(name, "OTHER");
  EXPECT_EQ(env_->ReadFile("C:\\WINDOWS\\kept.txt"), std::string("a\0b", 3));
  EXPECT_TRUE(env_->DirectoryExists("C:\\TEMP"));
  EXPECT_FALSE(env_->FileExists("C:\\TEMP"));
}

TEST(HostTestEnv, RemovesItsWorldAndPutsThePortsBack) {
  const PlatformPorts before = Ports();
  std::string root;
  {
    HostTestEnv env;
    root = env.root();
    EXPECT_NE(Ports().system, before.system);
    EXPECT_NE(Ports().files, nullptr);
    ASSERT_TRUE(env.WriteFile("C:\\Locked\\inside.txt", "x"));
    chmod(env.HostPath("C:\\Locked").c_str(), 0555);  // a test may leave folders read-only
  }
  struct stat info;
  EXPECT_NE(stat(root.c_str(), &info), 0);
  EXPECT_EQ(Ports().system, before.system);
  EXPECT_EQ(Ports().files, before.files);
  EXPECT_EQ(Ports().registry, before.registry);
}

// A stand-in program that records its arguments, one per line.
const char kRecorder[] =
    "#!/bin/sh\n"
    "out=\"$(dirname \"$0\")/args.txt\"\n"
    ": > \"$out.tmp\"\n"
    "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$out.tmp\"; done\n"
    "mv \"$out.tmp\" \"$out\"\n";

TEST_F(SystemTest, HostWinExecStartsTheProgramWithItsArguments) {
  ASSERT_TRUE(env_->WriteFile("C:\\Setup Files\\Stand In.exe", kRecorder));
  chmod(env_->HostPath("C:\\Setup Files\\Stand In.exe").c_str(), 0755);
  UINT result = System().WinExec("\"C:\\Setup Files\\Stand In.exe\" /S \"two words\" \\\\DC01\\NetLogon", SW_SHOW);
  EXPECT_EQ(result, 33u);
  EXPECT_TRUE(Eventually([&] { return env_->FileExists("C:\\Setup Files\\args.txt"); }, 10000));
  EXPECT_EQ(env_->ReadFile("C:\\Setup Files\\args.txt"), "/S\ntwo words\n\\\\DC01\\NetLogon\n");
  // WinExec does not wait, and leaves no child of ours behind to reap.
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST_F(SystemTest, HostWinExecFindsAnUnquotedPathWithBlanks) {
  ASSERT_TRUE(env_->WriteFile("C:\\Setup Files\\Stand In.exe", kRecorder));
  chmod(env_->HostPath("C:\\Setup Files\\Stand In.exe").c_str(), 0755);
  EXPECT_EQ(System().WinExec("C:\\Setup Files\\Stand In.exe last", SW_SHOW), 33u);
  EXPECT_TRUE(Eventually([&] { return env_->FileExists("C:\\Setup Files\\args.txt"); }, 10000));
  EXPECT_EQ(env_->ReadFile("C:\\Setup Files\\args.txt"), "last\n");
}

TEST_F(SystemTest, HostWinExecOfAFileThatIsNoProgram) {
  ASSERT_TRUE(env_->WriteFile("C:\\data.exe", "just data"));
  chmod(env_->HostPath("C:\\data.exe").c_str(), 0644);
  EXPECT_EQ(System().WinExec("C:\\data.exe", SW_SHOW), static_cast<UINT>(ERROR_BAD_FORMAT));
}
#endif

}  // namespace
}  // namespace qel::test
