// The engine's lowest layer: the NETLOGON folder, the setters, the copy and
// delete primitives, the stop check and the network-management table.
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "deploy/script_deployer.h"
#include "tests/deploy/deploy_world.h"
#include "tests/fakes/fake_loader.h"
#include "wizard/netapi_entry.h"

namespace qel::test {
namespace {

// Forwards to the registry installed now and notes which values were read.
class RecordingRegistry : public IRegistry {
 public:
  explicit RecordingRegistry(IRegistry* inner) : inner_(inner) {}
  LONG RegOpenKeyA(HKEY root, const char* subKey, HKEY* result) override {
    return inner_->RegOpenKeyA(root, subKey, result);
  }
  LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, REGSAM desired, HKEY* result) override {
    return inner_->RegOpenKeyExA(root, subKey, options, desired, result);
  }
  LONG RegCreateKeyA(HKEY root, const char* subKey, HKEY* result) override {
    return inner_->RegCreateKeyA(root, subKey, result);
  }
  LONG RegQueryValueExA(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) override {
    read.push_back(name != nullptr ? name : "");
    return inner_->RegQueryValueExA(key, name, type, data, size);
  }
  LONG RegSetValueExA(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) override {
    return inner_->RegSetValueExA(key, name, type, data, size);
  }
  LONG RegCloseKey(HKEY key) override { return inner_->RegCloseKey(key); }
  std::vector<std::string> read;

 private:
  IRegistry* inner_;
};

std::string Find(const char* windowsDir = "C:\\WINDOWS") {
  char folder[MAX_PATH] = {};
  if (!FindScriptsFolder(windowsDir, folder)) return "<failed>";
  return folder;
}

TEST(FindScriptsFolder, ScriptsValueWinsAndSysVolIsNotRead) {
  DeployWorld world;
  RecordingRegistry registry(Ports().registry);
  Ports().registry = &registry;
  EXPECT_EQ(Find(), "C:\\WINDOWS\\SYSVOL\\sysvol\\test.lan\\scripts");
  EXPECT_EQ(registry.read, std::vector<std::string>{"Scripts"});
}

TEST(FindScriptsFolder, SysVolWithOneDomainFolder) {
  DeployWorld world({}, /*scriptsValue=*/false);
  world.env().WriteFile("C:\\WINDOWS\\SYSVOL\\sysvol\\readme.txt", "x");  // files are passed over
  EXPECT_EQ(Find(), "C:\\WINDOWS\\SYSVOL\\sysvol\\test.lan\\Scripts");
}

TEST(FindScriptsFolder, SysVolWithoutSubFolderIsTheFolderItself) {
  DeployWorld world({}, false);
  world.SetNetlogon("SysVol", "C:\\EMPTYVOL");
  world.env().MakeDirectory("C:\\EMPTYVOL");
  world.env().WriteFile("C:\\EMPTYVOL\\only-a-file.txt", "x");
  EXPECT_EQ(Find(), "C:\\EMPTYVOL");
}

TEST(FindScriptsFolder, NeitherValueOrNoSysVolFolder) {
  DeployWorld world({}, false);
  world.SetNetlogon("SysVol", "C:\\MISSING");
  EXPECT_EQ(Find(), "<failed>");
  world.SetNetlogon("SysVol", nullptr);
  EXPECT_EQ(Find(), "<failed>");
}

TEST(FindScriptsFolder, SystemRootExpansion) {
  DeployWorld world;
  // Any case of the variable is expanded ...
  world.SetNetlogon("Scripts", "%systemroot%\\SYSVOL\\sysvol\\x\\scripts");
  EXPECT_EQ(Find("D:\\WINNT"), "D:\\WINNT\\SYSVOL\\sysvol\\x\\scripts");
  // ... a value that does not begin with it is used as it stands.
  world.SetNetlogon("Scripts", "E:\\Logon\\%SystemRoot%");
  EXPECT_EQ(Find(), "E:\\Logon\\%SystemRoot%");
}

TEST(FindScriptsFolder, FolderLongerThanTheBufferIsRefused) {
  DeployWorld world;
  std::string longFolder = "C:\\" + std::string(196, 'x');  // 199 characters fit 200
  world.SetNetlogon("Scripts", longFolder.c_str());
  char folder[200];
  EXPECT_TRUE(FindScriptsFolder("C:\\WINDOWS", folder, sizeof folder));
  world.SetNetlogon("Scripts", (longFolder + "y").c_str());
  EXPECT_FALSE(FindScriptsFolder("C:\\WINDOWS", folder, sizeof folder));
}

TEST(Init, LearnsTheController) {
  DeployWorld world(std::vector<TestAccount>{{"", "jdoe"}});
  world.env().WriteFile(world.ScriptsFile("QelInstall.bat"), "x");
  RecordingReceiver page;
  CScriptDeployer engine;
  EXPECT_EQ(engine.ScriptExist, TRUE);
  ASSERT_TRUE(engine.Init(&page, nullptr, nullptr));
  EXPECT_EQ(engine.m_pPage, &page);
  EXPECT_STREQ(engine.m_szComputerName, "DC01");
  EXPECT_STREQ(engine.m_szWindowsDir, "C:\\WINDOWS");
  EXPECT_STREQ(engine.m_szModuleDir, "C:\\Program Files\\Orvane");
  EXPECT_STREQ(engine.m_szShareName, "NetLogon");
  EXPECT_STREQ(engine.m_szScriptsDir, kScriptsDir);
  EXPECT_STREQ(engine.m_szBatchName, "QelInstall.bat");
  EXPECT_TRUE(engine.ScriptExist);
  EXPECT_NE(engine.m_pfnCopyFileEx, nullptr);
}

TEST(Init, WithoutStagedBatchAndWithTooLongFolders) {
  DeployWorld world(std::vector<TestAccount>{{"", "jdoe"}});
  {
    CScriptDeployer engine;
    ASSERT_TRUE(engine.Init(nullptr, nullptr, nullptr));
    EXPECT_FALSE(engine.ScriptExist);
  }
  {
    // A scripts folder of 200 characters does not fit m_szScriptsDir: refused, not cut.
    world.SetNetlogon("Scripts", ("C:\\" + std::string(197, 's')).c_str());
    CScriptDeployer engine;
    EXPECT_FALSE(engine.Init(nullptr, nullptr, nullptr));
    EXPECT_STREQ(engine.m_szScriptsDir, "");
    EXPECT_EQ(engine.m_pfnCopyFileEx, nullptr);
  }
  {
    world.env().Reconfigure([](HostConfig& config) { config.windowsDir = "C:\\" + std::string(97, 'w'); });
    CScriptDeployer engine;
    EXPECT_FALSE(engine.Init(nullptr, nullptr, nullptr));
    EXPECT_STREQ(engine.m_szComputerName, "DC01");
    EXPECT_STREQ(engine.m_szWindowsDir, "");
  }
}

TEST(Setters, CenterAddressTakesOneTo99Characters) {
  CScriptDeployer engine;
  EXPECT_TRUE(engine.SetCenterIP("10.0.0.1"));
  EXPECT_FALSE(engine.SetCenterIP(""));
  EXPECT_FALSE(engine.SetCenterIP(nullptr));
  EXPECT_FALSE(engine.SetCenterIP(std::string(100, '1').c_str()));
  EXPECT_STREQ(engine.m_szCenterIP, "10.0.0.1");
  EXPECT_TRUE(engine.SetCenterIP(std::string(99, '2').c_str()));
  EXPECT_EQ(std::string(engine.m_szCenterIP), std::string(99, '2'));
}

TEST(Setters, PackagePathOfAtMost259Characters) {
  CScriptDeployer engine;
  std::string path259 = "C:\\" + std::string(256, 'p');
  EXPECT_TRUE(engine.SetPackagePath(path259.c_str()));
  EXPECT_FALSE(engine.SetPackagePath((path259 + "q").c_str()));
  EXPECT_FALSE(engine.SetPackagePath(nullptr));
  EXPECT_EQ(std::string(engine.m_szPackagePath), path259);
  EXPECT_TRUE(engine.SetPackagePath(""));
}

class CopyTest : public ::testing::Test {
 protected:
  CopyTest() : world_(std::vector<TestAccount>{{"", "jdoe"}}) { EXPECT_TRUE(engine_.Init(&page_, nullptr, nullptr)); }
  DeployWorld world_;
  RecordingReceiver page_;
  CScriptDeployer engine_;
};

TEST_F(CopyTest, OverwritesAReadOnlyDestinationOnTheSecondAttempt) {
  std::string source = "C:\\pkg\\QelSetup.exe", destination = world_.ScriptsFile("QelSetup.exe");
  world_.env().WriteFile(source, "new package");
  world_.env().WriteFile(destination, "old");
  ASSERT_TRUE(Files().SetFileAttributesA(destination.c_str(), FILE_ATTRIBUTE_READONLY));
  // The platform itself refuses the first attempt.
  ASSERT_FALSE(Files().CopyFileExA(source.c_str(), destination.c_str(), nullptr, nullptr, nullptr, 0));
  EXPECT_TRUE(engine_.CopyWithProgress(source.c_str(), destination.c_str()));
  EXPECT_EQ(world_.env().ReadFile(destination), "new package");
}

TEST_F(CopyTest, MissingSourceOrNoCopyRoutineFails) {
  EXPECT_FALSE(engine_.CopyWithProgress("C:\\pkg\\missing.exe", world_.ScriptsFile("QelSetup.exe").c_str()));
  EXPECT_FALSE(world_.env().FileExists(world_.ScriptsFile("QelSetup.exe")));
  world_.env().WriteFile("C:\\pkg\\a.exe", "a");
  engine_.m_pfnCopyFileEx = nullptr;
  EXPECT_FALSE(engine_.CopyWithProgress("C:\\pkg\\a.exe", world_.ScriptsFile("a.exe").c_str()));
}

TEST_F(CopyTest, EmptySourceReportsTenPercent) {
  world_.env().WriteFile("C:\\pkg\\empty.exe", "");
  EXPECT_TRUE(engine_.CopyWithProgress("C:\\pkg\\empty.exe", world_.ScriptsFile("empty.exe").c_str()));
  std::vector<std::string> positions = page_.Of(PROGRESS_SET_POS);
  ASSERT_FALSE(positions.empty());
  for (const std::string& position : positions) EXPECT_EQ(position, "10");
}

TEST_F(CopyTest, ProgressIsAPercentInSixtyFourBits) {
  LARGE_INTEGER total, done, zero;
  zero.QuadPart = 0;
  total.QuadPart = 8000000000LL;  // beyond 32 bits
  done.QuadPart = 2000000000LL;
  EXPECT_EQ(CopyProgress(total, done, zero, zero, 1, 0, nullptr, nullptr, &engine_), PROGRESS_CONTINUE);
  EXPECT_EQ(page_.Of(PROGRESS_SET_POS), (std::vector<std::string>{"25"}));
}

TEST(DeleteFileForce, MissingReadOnlyAndMissingFolder) {
  DeployWorld world;
  EXPECT_TRUE(DeleteFileForce(world.ScriptsFile("nothing.bat").c_str()));
  std::string readOnly = world.ScriptsFile("ro.bat");
  world.env().WriteFile(readOnly, "x");
  ASSERT_TRUE(Files().SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(DeleteFileForce(readOnly.c_str()));
  EXPECT_FALSE(world.env().FileExists(readOnly));
  // A missing folder is not a missing file.
  EXPECT_FALSE(DeleteFileForce("C:\\NO\\SUCH\\FOLDER\\x.bat"));
}

// The stop check over real events, as the progress page makes them.
class CancelTest : public ::testing::Test {
 protected:
  CancelTest() {
    pause_ = Sync().CreateEventA(TRUE, TRUE, nullptr);
    stop_ = Sync().CreateEventA(FALSE, FALSE, nullptr);
    engine_.m_hPauseEvent = pause_;
    engine_.m_hStopEvent = stop_;
  }
  ~CancelTest() override {
    Sync().CloseHandle(pause_);
    Sync().CloseHandle(stop_);
  }
  // Runs IsCancelled on another thread; `whileWaiting` acts on the events
  // once the check is seen to hold. -1 when the check did not come back.
  int CheckOnWorker(const std::function<void()>& whileWaiting) {
    auto result = std::async(std::launch::async, [this] { return engine_.IsCancelled(); });
    if (whileWaiting) {
      EXPECT_EQ(result.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
      whileWaiting();
    }
    if (result.wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
      Sync().SetEvent(pause_);  // let the blocked check end
      result.wait();
      return -1;
    }
    return result.get();
  }
  HostTestEnv env_;
  HANDLE pause_ = nullptr;
  HANDLE stop_ = nullptr;
  CScriptDeployer engine_;
};

TEST_F(CancelTest, RunningGoesOnEvenWithStopSignalled) {
  EXPECT_EQ(CheckOnWorker(nullptr), FALSE);
  Sync().SetEvent(stop_);
  EXPECT_EQ(CheckOnWorker(nullptr), FALSE);  // the pause event comes first
}

TEST_F(CancelTest, PausedCheckHoldsUntilResumed) {
  Sync().ResetEvent(pause_);
  EXPECT_EQ(CheckOnWorker([this] { Sync().SetEvent(pause_); }), FALSE);
}

TEST_F(CancelTest, StopIsLatchedAfterTheFirstCheckThatSeesIt) {
  Sync().ResetEvent(pause_);
  EXPECT_EQ(CheckOnWorker([this] { Sync().SetEvent(stop_); }), TRUE);
  // The stop event is consumed and the pause event stays reset: a second
  // wait would never end, yet the check must answer at once.
  EXPECT_EQ(CheckOnWorker(nullptr), TRUE);
  // A stopped copy does not start again either.
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  EXPECT_EQ(CopyProgress(zero, zero, zero, zero, 1, 0, nullptr, nullptr, &engine_), PROGRESS_CANCEL);
}

TEST(CancelCheck, WithoutEventsNothingStops) {
  CScriptDeployer engine;
  EXPECT_FALSE(engine.IsCancelled());
}

NET_API_STATUS WINAPI StubGroupGetUsers(LPCWSTR, LPCWSTR, DWORD, LPBYTE*, DWORD, LPDWORD, LPDWORD, DWORD_PTR*) {
  return 1;
}
NET_API_STATUS WINAPI StubBufferFree(LPVOID) { return 0; }
NET_API_STATUS WINAPI StubUserGetInfo(LPCWSTR, LPCWSTR, DWORD, LPBYTE*) { return 1; }
NET_API_STATUS WINAPI StubUserSetInfo(LPCWSTR, LPCWSTR, DWORD, LPBYTE, LPDWORD) { return 1; }

TEST(LoadNetApiEntryPoints, StopsAtTheFirstMissingEntryKeepingTheEarlierOnes) {
  ScopedPorts saved;
  NetApiEntryPoints before = g_NetApi;
  g_NetApi = NetApiEntryPoints();
  FakeLoader loader;
  Ports().loader = &loader;
  EXPECT_FALSE(LoadNetApiEntryPoints());  // no library at all
  EXPECT_EQ(g_NetApi.NetGroupGetUsers, nullptr);

  loader.AddModule("netapi32.dll");
  loader.AddProc("netapi32.dll", "NetGroupGetUsers", &StubGroupGetUsers);
  loader.AddProc("netapi32.dll", "NetApiBufferFree", &StubBufferFree);
  loader.AddProc("netapi32.dll", "NetUserGetInfo", &StubUserGetInfo);
  loader.AddProc("netapi32.dll", "NetUserSetInfo", &StubUserSetInfo);
  EXPECT_FALSE(LoadNetApiEntryPoints());
  EXPECT_EQ(g_NetApi.NetGroupGetUsers, &StubGroupGetUsers);
  EXPECT_EQ(g_NetApi.NetApiBufferFree, &StubBufferFree);
  EXPECT_EQ(g_NetApi.NetUserGetInfo, &StubUserGetInfo);
  EXPECT_EQ(g_NetApi.NetUserSetInfo, &StubUserSetInfo);
  EXPECT_EQ(g_NetApi.NetQueryDisplayInformation, nullptr);
  // The library stays loaded for the life of the process.
  EXPECT_EQ(loader.OpenCount("netapi32.dll"), 1);
  g_NetApi = before;
}

}  // namespace
}  // namespace qel::test
