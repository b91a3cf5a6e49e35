// QelCheck over the real host adapters: a fresh Windows world per test, with
// the fault decorators counting registry and file calls, failing them on
// demand, and recording WinExec instead of starting anything (except where a
// test starts the stand-in installer for real).
#include "check/qelcheck.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "tests/fakes/fault_plan.h"
#include "tests/fakes/faulty_files.h"
#include "tests/fakes/faulty_registry.h"
#include "tests/fakes/faulty_system.h"
#include "tests/fakes/host/host_test_env.h"

extern char** environ;

namespace qel {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const char kPackage[] = "\\\\DC1\\NetLogon\\QelSetup.exe";
const char kShareSettings[] = "C:\\netlogon\\SetupSet.ini";
const char kTemp[] = "C:\\Users\\u\\Temp\\";
const char kLog[] = "C:\\Users\\u\\Temp\\QelCheck.log";
const char kWorkPackage[] = "C:\\Users\\u\\Temp\\QelSetup\\QelSetup.exe";
const char kWorkSettings[] = "C:\\Users\\u\\Temp\\QelSetup\\SetupSet.ini";
const DWORD kVersion4 = 0x05650004;  // 4.0
const DWORD kVersion5 = 0x0ECE0205;  // 5.2
const DWORD kVersion6 = 0x1DB10106;  // 6.1

std::string BeginWinExec(const std::string& command) { return "QelCheck: Begin WinExec(" + command + ")..."; }

// Calls of every registry operation together.
int RegistryCalls(test::FaultyRegistry& registry) {
  int total = 0;
  for (const char* operation :
       {"RegOpenKeyA", "RegOpenKeyExA", "RegCreateKeyA", "RegQueryValueExA", "RegSetValueExA", "RegCloseKey"})
    total += registry.plan().Calls(operation);
  return total;
}

// The file port with a temporary path of the test's choosing: Windows always
// ends it with "\", but the checker must not rely on that.
class TempPathFiles : public test::FaultyFileSystem {
 public:
  using test::FaultyFileSystem::FaultyFileSystem;
  void SetTempPath(const std::string& path) {
    tempPath_ = path;
    fixed_ = true;
  }
  DWORD GetTempPathA(DWORD size, char* buffer) override {
    if (!fixed_) return test::FaultyFileSystem::GetTempPathA(size, buffer);
    // The length without terminator when it fits, else the size it needs.
    if (size <= tempPath_.size()) return static_cast<DWORD>(tempPath_.size() + 1);
    tempPath_.copy(buffer, tempPath_.size());
    buffer[tempPath_.size()] = 0;
    return static_cast<DWORD>(tempPath_.size());
  }

 private:
  bool fixed_ = false;
  std::string tempPath_;
};

// A running process holding a named mutex (tests/check/tools/mutex_holder.cpp).
class MutexHolder {
 public:
  MutexHolder(const std::string& name, const std::string& mutexDir, const std::string& folder)
      : ready_(folder + "/holder.ready"), stop_(folder + "/holder.stop") {
    std::filesystem::remove(ready_);
    std::filesystem::remove(stop_);
    std::vector<std::string> args = {QEL_CHECK_MUTEX_HOLDER, name, ready_, stop_, "--mutex-dir", mutexDir};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    for (int i = 0; i < 400 && pid_ > 0 && !std::filesystem::exists(ready_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ~MutexHolder() {
    if (pid_ <= 0) return;
    FILE* stop = fopen(stop_.c_str(), "wb");
    if (stop != nullptr) fclose(stop);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  bool holding() const { return pid_ > 0 && std::filesystem::exists(ready_); }

 private:
  std::string ready_;
  std::string stop_;
  pid_t pid_ = -1;
};

class QelCheckTest : public ::testing::Test {
 protected:
  void SetUp() override { Start(); }
  void TearDown() override { Stop(); }

  // A fresh world: the package share \\DC1\NetLogon on C:\netlogon, the
  // user's temporary folder kTemp, version 6.1, code page 1252.
  void Start(const std::function<void(HostConfig&)>& adjust = nullptr, unsigned codePage = 1252) {
    Stop();
    test::HostTestOptions options;
    options.codePage = codePage;
    options.adjust = [adjust](HostConfig& config) {
      config.shares["\\\\DC1\\NetLogon"] = "C:\\netlogon";
      config.tempPath = kTemp;
      if (adjust) adjust(config);
    };
    env_ = std::make_unique<test::HostTestEnv>(options);
    env_->MakeDirectory("C:\\netlogon");
    hostRegistry_ = Ports().registry;
    hostSystem_ = Ports().system;
    registry_ = std::make_unique<test::FaultyRegistry>(Ports().registry);
    files_ = std::make_unique<TempPathFiles>(Ports().files);
    system_ = std::make_unique<test::FaultySystem>(Ports().system);
    system_->RecordWinExec();
    Ports().registry = registry_.get();
    Ports().files = files_.get();
    Ports().system = system_.get();
  }

  // The environment puts back the ports it found.
  void Stop() { env_.reset(); }

  void SetValue(const char* key, const char* name, DWORD type, const std::string& bytes) {
    HKEY handle = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, hostRegistry_->RegCreateKeyA(HKEY_LOCAL_MACHINE, key, &handle));
    ASSERT_EQ(ERROR_SUCCESS, hostRegistry_->RegSetValueExA(handle, name, type,
                                                           reinterpret_cast<const BYTE*>(bytes.data()),
                                                           static_cast<DWORD>(bytes.size())));
    hostRegistry_->RegCloseKey(handle);
  }
  void SetString(const char* key, const char* name, const std::string& text) {
    SetValue(key, name, REG_SZ, std::string(text.c_str(), text.size() + 1));
  }

  // The value's bytes and type; false when it cannot be read.
  bool GetValue(const char* key, const char* name, std::string* bytes, DWORD* type) {
    HKEY handle = nullptr;
    if (hostRegistry_->RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
      return false;
    BYTE data[1024];
    DWORD size = sizeof(data);
    LONG result = hostRegistry_->RegQueryValueExA(handle, name, type, data, &size);
    hostRegistry_->RegCloseKey(handle);
    if (result != ERROR_SUCCESS) return false;
    bytes->assign(reinterpret_cast<const char*>(data), size);
    return true;
  }

  // The messages of the log, heads taken off.
  std::vector<std::string> Messages(const std::string& logPath = kLog) {
    static const std::regex kLine(R"(\[\d+\] \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}:\d{3} : (.*))");
    std::vector<std::string> messages;
    std::string text = env_->ReadFile(logPath);
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
      std::smatch match;
      std::string line = text.substr(start, end - start);
      messages.push_back(std::regex_match(line, match, kLine) ? match[1].str() : "unparsed: " + line);
    }
    if (start != text.size()) messages.push_back("unterminated: " + text.substr(start));
    return messages;
  }

  void ShareSettings(const std::string& centerIp) {
    ASSERT_TRUE(env_->WriteFile(kShareSettings, "[DEFAULT]\r\nCENTERIP=" + centerIp + "\r\n"));
  }

  std::unique_ptr<test::HostTestEnv> env_;
  IRegistry* hostRegistry_ = nullptr;
  ISystem* hostSystem_ = nullptr;
  std::unique_ptr<test::FaultyRegistry> registry_;
  std::unique_ptr<TempPathFiles> files_;
  std::unique_ptr<test::FaultySystem> system_;
};

TEST_F(QelCheckTest, EmptyCommandLineStopsBeforeAnyRegistryAccess) {
  SetString(kCheckProductKey, "type", "1");  // would stop the run at its third test
  EXPECT_EQ(0, QelCheckMain(""));
  EXPECT_EQ(0, QelCheckMain(nullptr));
  EXPECT_EQ(0, RegistryCalls(*registry_));
  EXPECT_THAT(Messages(), ElementsAre("QelCheck: lpCmdLine = NULL", "QelCheck: lpCmdLine = NULL"));
  EXPECT_THAT(system_->WinExecCalls(), IsEmpty());
}

TEST_F(QelCheckTest, LogLineHasProcessIdTimeAndCrLf) {
  QelCheckMain("");
  std::string text = env_->ReadFile(kLog);
  std::smatch match;
  ASSERT_TRUE(std::regex_match(
      text, match, std::regex(R"(\[(\d+)\] \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}:\d{3} : QelCheck: lpCmdLine = NULL\r\n)")))
      << text;
  EXPECT_EQ(std::to_string(getpid()), match[1].str());
}

TEST_F(QelCheckTest, PendingRunOnceStops) {
  // "QelSetup" is tested before "Qel"; either stops an uninstalled product.
  SetString(kCheckRunOnceKey, "QelSetup", "C:\\x\\QelSetup.exe /resume");
  SetString(kCheckRunOnceKey, "Qel", "C:\\x\\Qel.exe /continue");
  EXPECT_EQ(0, QelCheckMain(kPackage));
  EXPECT_THAT(Messages(), ElementsAre("QelCheck: has QelSetup in RunOnce, quit!"));

  Start();
  SetString(kCheckRunOnceKey, "Qel", "C:\\x\\Qel.exe /continue");
  EXPECT_EQ(0, QelCheckMain(kPackage));
  EXPECT_THAT(Messages(), ElementsAre("QelCheck: has Qel in RunOnce, quit!"));
  EXPECT_THAT(system_->WinExecCalls(), IsEmpty());
  // The key was opened once, for reading, and closed again.
  EXPECT_EQ(1, registry_->plan().Calls("RegOpenKeyExA"));
  EXPECT_EQ(1, registry_->plan().Calls("RegCloseKey"));
}

TEST_F(QelCheckTest, PendingRunOnceIsTestedBeforeTheInstalledProduct) {
  SetString(kCheckRunOnceKey, "Qel", "C:\\x\\Qel.exe /continue");
  SetValue(kCheckProductKey, "type", REG_SZ, std::string("3\0", 2));
  EXPECT_EQ(0, QelCheckMain(kPackage));
  EXPECT_THAT(Messages(), ElementsAre("QelCheck: has Qel in RunOnce, quit!"));
  EXPECT_THAT(system_->WinExecCalls(), IsEmpty());
}

TEST_F(QelCheckTest, RunOnceValueLargerThanTheBufferStillCounts) {
  SetString(kCheckRunOnceKey, "QelSetup", std::string(400, 'x'));
  EXPECT_EQ(0, QelCheckMain(kPackage));
  EXPECT_THAT(Messages(), ElementsAre("QelCheck: has QelSetup in RunOnce, quit!"));
  EXPECT_THAT(system_->WinExecCalls(), IsEmpty());
}

TEST_F(QelCheckTest, TypeOfAnyDataTypeStops) {
  struct Case {
    DWORD type;
    std::string bytes;
    std::string message;
  };
  const Case cases[] = {
      {REG_SZ, std::string("3\0", 2), "QelCheck: Software\\Orvane\\Qel: Type=3, quit!"},
      {REG_DWORD, std::string("\x41\0\0\0", 4), "QelCheck: Software\\Orvane\\Qel: Type=A, quit!"},
      {REG_BINARY, "BC", "QelCheck: Software\\Orvane\\Qel: Type=BC, quit!"},
      // Exactly the buffer, without terminator: printed without running past it.
      {REG_BINARY, std::string(260, 'Y'), "QelCheck: Software\\Orvane\\Qel: Type=" + std::string(260, 'Y') + ", quit!"},
      // Larger than the buffer: there all the same; its bytes are not printed.
      {REG_BINARY, std::string(300, 'Z'), "QelCheck: Software\\Orvane\\Qel: Type=, quit!"},
  };
  for (const Case& c : cases) {
    Start();
    SetString(kCheckRunOnceKey, "Other", "x");  // RunOnce exists but holds nothing of ours
    SetValue(kCheckProductKey, "type", c.type, c.bytes);
    EXPECT_EQ(0, QelCheckMain(kPackage));
    EXPECT_THAT(Messages(), ElementsAre(c.message)) << "type " << c.type << ", " << c.bytes.size() << " bytes";
    EXPECT_THAT(system_->WinExecCalls(), IsEmpty());
  }
}

TEST_F(QelCheckTest, SetupMutexOfAnotherProcess) {
  const std::string mutexDir = env_->config().mutexDir;
  {
    // Version 5 looks in the global namespace only.
    MutexHolder holder("Global\\Orvane Setup", mutexDir, env_->root());
    ASSERT_TRUE(holder.holding());
    system_->SetVersion(kVersion5);
    EXPECT_TRUE(IsSetupRunning(kCheckSetupMutex));
    system_->SetVersion(kVersion6);
    EXPECT_FALSE(IsSetupRunning(kCheckSetupMutex));
  }
  {
    MutexHolder holder("Orvane Setup", mutexDir, env_->root());
    ASSERT_TRUE(holder.holding());
    system_->SetVersion(kVersion6);
    EXPECT_TRUE(IsSetupRunning(kCheckSetupMutex));
    system_->SetVersion(kVersion4);
    EXPECT_TRUE(IsSetupRunning(kCheckSetupMutex));
    system_->SetVersion(kVersion5);
    EXPECT_FALSE(IsSetupRunning(kCheckSetupMutex));

    system_->SetVersion(kVersion6);
    EXPECT_EQ(0, QelCheckMain(kPackage));
    EXPECT_THAT(Messages(), ElementsAre("QelCheck: Setup(Orvane Setup) is running, quit!"));
    EXPECT_THAT(system_->WinExecCalls(), IsEmpty());
  }
  // Released: gone.
  EXPECT_FALSE(IsSetupRunning(kCheckSetupMutex));
  EXPECT_FALSE(IsSetupRunning(nullptr));
}

TEST_F(QelCheckTest, SetupMutexOfAnotherUserCountsAsRunning) {
  std::string denied = HostMutexLockPath(env_->config(), "Orvane Setup") + ".denied";
  FILE* f = fopen(denied.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fclose(f);
  EXPECT_TRUE(IsSetupRunning(kCheckSetupMutex));
  EXPECT_EQ(0, QelCheckMain(kPackage));
  EXPECT_THAT(Messages(), ElementsAre("QelCheck: Setup(Orvane Setup) is running, quit!"));
  EXPECT_THAT(system_->WinExecCalls(), IsEmpty());
}

TEST_F(QelCheckTest, WorkFolderWithAndWithoutTrailingBackslash) {
  // No SetupSet.ini on the share: the failed copy names the work folder.
  const std::string war =
      "[WAR]CopyFile(\\\\DC1\\NetLogon\\SetupSet.ini, C:\\Users\\u\\Temp\\QelSetup\\SetupSet.ini)=2";
  EXPECT_EQ(0, QelCheckMain(kPackage));
  EXPECT_THAT(Messages(), ElementsAre(war, BeginWinExec(kPackage)));
  EXPECT_TRUE(env_->DirectoryExists("C:\\Users\\u\\Temp\\QelSetup"));

  Start();
  ASSERT_TRUE(env_->MakeDirectory("C:\\Users\\u\\Temp"));
  files_->SetTempPath("C:\\Users\\u\\Temp");
  EXPECT_EQ(0, QelCheckMain(kPackage));
  EXPECT_THAT(Messages(), ElementsAre(war, BeginWinExec(kPackage)));
  EXPECT_TRUE(env_->DirectoryExists("C:\\Users\\u\\Temp\\QelSetup"));
  EXPECT_THAT(system_->WinExecCalls(), ElementsAre(kPackage));
}

TEST_F(QelCheckTest, WorkFolderThatCannotBeMadeDoesNotStopTheRun) {
  files_->plan().Fail("CreateDirectoryA", ERROR_ACCESS_DENIED, -1);
  ShareSettings("10.0.0.1");
  EXPECT_EQ(0, QelCheckMain(kPackage));
  EXPECT_THAT(system_->WinExecCalls(), ElementsAre(kPackage));
}

TEST_F(QelCheckTest, LeftOverPackageCopyGetsNormalAttributes) {
  for (DWORD attributes : {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM,
                           FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN}) {
    Start();
    ASSERT_TRUE(env_->WriteFile(kWorkPackage, "MZ old copy"));
    ASSERT_TRUE(Files().SetFileAttributesA(kWorkPackage, attributes));
    ShareSettings("");
    EXPECT_EQ(0, QelCheckMain(kPackage));
    EXPECT_EQ(FILE_ATTRIBUTE_NORMAL, Files().GetFileAttributesA(kWorkPackage)) << attributes;
    EXPECT_EQ("MZ old copy", env_->ReadFile(kWorkPackage));
    EXPECT_THAT(Messages(), ElementsAre("QelCheck: SetFileAttributes", BeginWinExec(kPackage)));
  }
  // Archive alone is left as it is, without a line.
  Start();
  ASSERT_TRUE(env_->WriteFile(kWorkPackage, "MZ"));
  ASSERT_TRUE(Files().SetFileAttributesA(kWorkPackage, FILE_ATTRIBUTE_ARCHIVE));
  ShareSettings("");
  EXPECT_EQ(0, QelCheckMain(kPackage));
  EXPECT_EQ(FILE_ATTRIBUTE_ARCHIVE, Files().GetFileAttributesA(kWorkPackage));
  EXPECT_THAT(Messages(), ElementsAre(BeginWinExec(kPackage)));
}

TEST_F(QelCheckTest, CenterAddressGoesToTheRegistry) {
  ShareSettings("192.168.10.20");
  EXPECT_EQ(0, QelCheckMain(kPackage));
  std::string bytes;
  DWORD type = 0;
  ASSERT_TRUE(GetValue(kCheckProductKey, "CenterIP", &bytes, &type));
  EXPECT_EQ(REG_SZ, type);
  EXPECT_EQ(std::string("192.168.10.20\0", 14), bytes);  // with its terminating zero
  EXPECT_EQ("[DEFAULT]\r\nCENTERIP=192.168.10.20\r\n", env_->ReadFile(kWorkSettings));
  EXPECT_THAT(Messages(),
              ElementsAre("[INF]QelCheck: REGWriteString(HKEY_LOCAL_MACHINE, Software\\Orvane\\Qel, "
                          "CenterIP=192.168.10.20)",
                          BeginWinExec(kPackage)));
  EXPECT_THAT(system_->WinExecCalls(), ElementsAre(kPackage));
}

TEST_F(QelCheckTest, CenterAddressIsCutTo19Characters) {
  ShareSettings("192.168.100.200:7273-and-more");
  EXPECT_EQ(0, QelCheckMain(kPackage));
  std::string bytes;
  DWORD type = 0;
  ASSERT_TRUE(GetValue(kCheckProductKey, "CenterIP", &bytes, &type));
  EXPECT_EQ(std::string("192.168.100.200:727\0", 20), bytes);
  EXPECT_THAT(Messages(), ElementsAre(HasSubstr("CenterIP=192.168.100.200:727)"), BeginWinExec(kPackage)));
}

TEST_F(QelCheckTest, EmptyCenterAddressWritesAndLogsNothing) {
  ShareSettings("");
  EXPECT_EQ(0, QelCheckMain(kPackage));
  EXPECT_EQ(0, registry_->plan().Calls("RegSetValueExA"));
  EXPECT_EQ(0, registry_->plan().Calls("RegCreateKeyA"));
  EXPECT_THAT(Messages(), ElementsAre(BeginWinExec(kPackage)));
  EXPECT_THAT(system_->WinExecCalls(), ElementsAre(kPackage));
}

TEST_F(QelCheckTest, FailuresAfterTheTestsStillStartTheInstaller) {
  // The settings cannot be copied.
  ShareSettings("10.1.1.1");
  files_->plan().Fail("CopyFileA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(0, QelCheckMain(kPackage));
  EXPECT_THAT(Messages(), ElementsAre("[WAR]CopyFile(\\\\DC1\\NetLogon\\SetupSet.ini, " + std::string(kWorkSettings) +
                                          ")=5",
                                      BeginWinExec(kPackage)));
  EXPECT_THAT(system_->WinExecCalls(), ElementsAre(kPackage));

  // The registry cannot be written: the line is the same as for success.
  Start();
  ShareSettings("10.1.1.1");
  registry_->plan().Fail("RegSetValueExA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(0, QelCheckMain(kPackage));
  EXPECT_THAT(Messages(), ElementsAre(HasSubstr("CenterIP=10.1.1.1)"), BeginWinExec(kPackage)));
  EXPECT_THAT(system_->WinExecCalls(), ElementsAre(kPackage));

  // The log cannot be opened: nothing is written, the run goes on.
  Start();
  ShareSettings("10.1.1.1");
  files_->plan().Fail("CreateFileA", ERROR_SHARING_VIOLATION, -1);
  EXPECT_EQ(0, QelCheckMain(kPackage));
  EXPECT_FALSE(env_->FileExists(kLog));
  EXPECT_THAT(system_->WinExecCalls(), ElementsAre(kPackage));
}

TEST_F(QelCheckTest, TempPathFailureStops) {
  files_->plan().Fail("GetTempPathA", ERROR_ACCESS_DENIED);  // the run's own call; the log's succeeds
  EXPECT_EQ(0, QelCheckMain(kPackage));
  EXPECT_THAT(Messages(), ElementsAre("[ERR]: GetTempPath Failed(err=5)!"));
  EXPECT_THAT(system_->WinExecCalls(), IsEmpty());
}

TEST_F(QelCheckTest, CommandLineWithoutBackslashSkipsTheSettings) {
  ShareSettings("10.2.2.2");
  EXPECT_EQ(0, QelCheckMain("QelSetup.exe /quiet"));
  EXPECT_EQ(0, files_->plan().Calls("CopyFileA"));
  EXPECT_EQ(0, registry_->plan().Calls("RegSetValueExA"));
  EXPECT_THAT(Messages(), ElementsAre(BeginWinExec("QelSetup.exe /quiet")));
  EXPECT_THAT(system_->WinExecCalls(), ElementsAre("QelSetup.exe /quiet"));
}

TEST_F(QelCheckTest, LastBackslashSearchStepsOverDoubleByteCharacters) {
  // 0x81 0x5C is one character in code page 936; its trail byte is not a separator.
  const std::string command = "C:\\netlogon\\\x81\x5C.exe";
  Start(nullptr, 936);
  ShareSettings("10.3.3.3");
  EXPECT_EQ(0, QelCheckMain(command.c_str()));
  EXPECT_EQ(1, files_->plan().Calls("CopyFileA"));
  EXPECT_THAT(Messages(), ElementsAre(HasSubstr("CenterIP=10.3.3.3)"), BeginWinExec(command)));

  // In 1252 the same byte is a separator: the folder is C:\netlogon\<0x81>.
  Start(nullptr, 1252);
  ShareSettings("10.3.3.3");
  EXPECT_EQ(0, QelCheckMain(command.c_str()));
  EXPECT_THAT(Messages(),
              ElementsAre(HasSubstr("[WAR]CopyFile(C:\\netlogon\\\x81\\SetupSet.ini"), BeginWinExec(command)));
}

TEST_F(QelCheckTest, LogOfExactly1MBIsKeptOneByteMoreIsDeleted) {
  ASSERT_TRUE(env_->WriteFile(kLog, std::string(kCheckLogLimit, 'x')));
  QelCheckMain("");
  std::string text = env_->ReadFile(kLog);
  ASSERT_GT(text.size(), kCheckLogLimit);
  EXPECT_EQ(std::string(kCheckLogLimit, 'x'), text.substr(0, kCheckLogLimit));
  EXPECT_THAT(text.substr(kCheckLogLimit), HasSubstr("QelCheck: lpCmdLine = NULL\r\n"));

  ASSERT_TRUE(env_->WriteFile(kLog, std::string(kCheckLogLimit + 1, 'x')));
  QelCheckMain("");
  EXPECT_THAT(Messages(), ElementsAre("QelCheck: lpCmdLine = NULL"));
}

TEST_F(QelCheckTest, LongMessageIsCutTo2047Characters) {
  CheckLog("%s", std::string(5000, 'm').c_str());
  std::vector<std::string> messages = Messages();
  ASSERT_EQ(1u, messages.size());
  EXPECT_EQ(std::string(kCheckMessageSize - 1, 'm'), messages[0]);
}

TEST_F(QelCheckTest, OverlongCommandLineIsRefused) {
  // 259 characters fit.
  std::string fits = "\\\\DC1\\NetLogon\\" + std::string(259 - 19, 'a') + ".exe";
  ASSERT_EQ(259u, fits.size());
  ShareSettings("10.4.4.4");
  EXPECT_EQ(0, QelCheckMain(fits.c_str()));
  EXPECT_THAT(system_->WinExecCalls(), ElementsAre(fits));

  Start();
  std::string tooLong = fits + "b";
  EXPECT_EQ(0, QelCheckMain(tooLong.c_str()));
  EXPECT_THAT(Messages(), ElementsAre("[ERR]QelCheck: command line too long(260 > 259), quit!"));
  EXPECT_EQ(0, RegistryCalls(*registry_));
  EXPECT_THAT(system_->WinExecCalls(), IsEmpty());
}

TEST_F(QelCheckTest, ShareFolderTooLongForTheSettingsPathCountsAsFailedCopy) {
  // The command line fits, but its folder plus "\SetupSet.ini" does not.
  std::string folder = "\\\\DC1\\NetLogon\\" + std::string(240, 'd');
  std::string command = folder + "\\x";
  EXPECT_EQ(0, QelCheckMain(command.c_str()));
  EXPECT_EQ(0, files_->plan().Calls("CopyFileA"));
  EXPECT_THAT(Messages(), ElementsAre("[WAR]CopyFile(" + folder + "\\SetupSet.ini, " + kWorkSettings + ")=206",
                                      BeginWinExec(command)));
  EXPECT_THAT(system_->WinExecCalls(), ElementsAre(command));
}

TEST_F(QelCheckTest, OverlongTempPathIsRefused) {
  // The work folder's package path would need 261 bytes; the log still fits.
  const std::string temp = "C:\\" + std::string(236, 't') + "\\";
  Start([temp](HostConfig& config) { config.tempPath = temp; });
  ShareSettings("10.5.5.5");
  EXPECT_EQ(0, QelCheckMain(kPackage));
  EXPECT_THAT(Messages(temp + "QelCheck.log"), ElementsAre("[ERR]: GetTempPath too long(" + temp + ")!"));
  EXPECT_FALSE(env_->DirectoryExists(temp + "QelSetup"));
  EXPECT_EQ(0, files_->plan().Calls("CopyFileA"));
  EXPECT_THAT(system_->WinExecCalls(), IsEmpty());

  // Longer than GetTempPathA's buffer: not even the log can be written.
  const std::string huge = "C:\\" + std::string(200, 'h') + "\\" + std::string(100, 'h') + "\\";
  Start([huge](HostConfig& config) { config.tempPath = huge; });
  EXPECT_EQ(0, QelCheckMain(kPackage));
  EXPECT_EQ(0, files_->plan().Calls("CreateDirectoryA"));
  EXPECT_THAT(system_->WinExecCalls(), IsEmpty());
}

TEST_F(QelCheckTest, InstallerIsReallyStarted) {
  const std::string installer = env_->HostPath("C:\\netlogon\\QelSetup.exe");
  std::filesystem::copy_file(QEL_CHECK_FAKE_INSTALLER, installer);
  // This time WinExec starts the program.
  Ports().system = hostSystem_;
  ShareSettings("10.6.6.6");
  const std::string command = std::string(kPackage) + " /S";
  EXPECT_EQ(0, QelCheckMain(command.c_str()));
  const std::string record = env_->HostPath("C:\\netlogon\\QelSetup.started");
  for (int i = 0; i < 400 && !std::filesystem::exists(record); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(installer + " /S\n", env_->ReadFile("C:\\netlogon\\QelSetup.started"));
  EXPECT_THAT(Messages(), ElementsAre(HasSubstr("CenterIP=10.6.6.6)"), BeginWinExec(command)));
}

TEST(REGWriteString, NullArgumentsWriteNothing) {
  test::HostTestEnv env;
  EXPECT_FALSE(REGWriteString(nullptr, "Software\\A", "v", "t"));
  EXPECT_FALSE(REGWriteString(HKEY_LOCAL_MACHINE, nullptr, "v", "t"));
  EXPECT_FALSE(REGWriteString(HKEY_LOCAL_MACHINE, "Software\\A", nullptr, "t"));
  EXPECT_FALSE(REGWriteString(HKEY_LOCAL_MACHINE, "Software\\A", "v", nullptr));
  HKEY key = nullptr;
  EXPECT_NE(ERROR_SUCCESS, Registry().RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\A", 0, KEY_QUERY_VALUE, &key));
}

TEST(REGWriteString, CreatesTheKeyAndReportsFailures) {
  test::HostTestEnv env;
  test::FaultyRegistry registry(Ports().registry);
  test::ScopedPorts scoped;
  Ports().registry = &registry;
  EXPECT_TRUE(REGWriteString(HKEY_LOCAL_MACHINE, "Software\\New\\Key", "Name", "text"));
  EXPECT_EQ(1, registry.plan().Calls("RegCreateKeyA"));
  BYTE data[16];
  DWORD size = sizeof(data);
  DWORD type = 0;
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, Registry().RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\New\\Key", &key));
  ASSERT_EQ(ERROR_SUCCESS, Registry().RegQueryValueExA(key, "Name", &type, data, &size));
  Registry().RegCloseKey(key);
  EXPECT_EQ(REG_SZ, type);
  EXPECT_EQ(5u, size);

  registry.plan().Fail("RegOpenKeyA", ERROR_FILE_NOT_FOUND);
  registry.plan().Fail("RegCreateKeyA", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(REGWriteString(HKEY_LOCAL_MACHINE, "Software\\Other", "Name", "text"));

  registry.plan().Fail("RegSetValueExA", ERROR_ACCESS_DENIED);
  int closes = registry.plan().Calls("RegCloseKey");
  EXPECT_FALSE(REGWriteString(HKEY_LOCAL_MACHINE, "Software\\New\\Key", "Name", "other"));
  EXPECT_EQ(closes + 1, registry.plan().Calls("RegCloseKey"));  // the key is not left open
}

}  // namespace
}  // namespace qel
