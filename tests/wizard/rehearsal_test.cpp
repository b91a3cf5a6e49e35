#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/netapi_types.h"
#include "platform/ports.h"
#include "tests/fakes/host/host_test_env.h"
#include "wizard/startup.h"
#include "wizard/ui/rehearsal.h"
#include "directory/user_node.h"

namespace qel {
namespace {

const char kNetlogon[] = "SYSTEM\\CurrentControlSet\\Services\\Netlogon\\Parameters";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

struct RehearsalWorld {
  RehearsalWorld() {
    sample = std::string(QEL_SOURCE_DIR) + "/samples/sample-domain.ldif";
    before = ReadAll(sample);
    folder = env.root() + "/C/Rehearsal";
    env.MakeDirectory("C:\\Rehearsal");
  }
  test::HostTestEnv env;
  std::string sample, before, folder;
};

TEST(Rehearsal, TheGatePassesOnAnyComputerAndTheNetApiTableLoads) {
  RehearsalWorld w;
  Rehearsal rehearsal;
  std::string error;
  ASSERT_TRUE(rehearsal.Start(w.sample, w.folder, "C:\\Rehearsal", &error)) << error;
  WizardState state;
  CScriptWizardApp app(state);
  EXPECT_EQ(app.CheckDomainController(), 0u);
  EXPECT_STREQ(state.m_szDCName, "DC01");  // this computer, as the locator names it
  wchar_t context[64];
  DWORD capacity = 64;
  EXPECT_EQ(GetDefaultNamingContext(context, &capacity), 1u);
  EXPECT_EQ(std::wstring(context), L"DC=test,DC=lan");
  EXPECT_TRUE(rehearsal.Finish(&error)) << error;
}

TEST(Rehearsal, TheScriptsFolderIsTheRehearsalsAndTheRegistryIsReadOnly) {
  RehearsalWorld w;
  Rehearsal rehearsal;
  std::string error;
  ASSERT_TRUE(rehearsal.Start(w.sample, w.folder, "C:\\Rehearsal", &error)) << error;
  EXPECT_TRUE(w.env.DirectoryExists("C:\\Rehearsal\\NETLOGON"));
  HKEY key = nullptr;
  ASSERT_EQ(Registry().RegOpenKeyA(HKEY_LOCAL_MACHINE, kNetlogon, &key), ERROR_SUCCESS);
  char value[MAX_PATH] = {};
  DWORD size = 4;
  DWORD type = 0;
  EXPECT_EQ(Registry().RegQueryValueExA(key, "Scripts", &type, reinterpret_cast<BYTE*>(value), &size),
            ERROR_MORE_DATA);
  size = sizeof(value);
  EXPECT_EQ(Registry().RegQueryValueExA(key, "Scripts", &type, reinterpret_cast<BYTE*>(value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_STREQ(value, "C:\\Rehearsal\\NETLOGON");
  EXPECT_NE(Registry().RegQueryValueExA(key, "SysVol", &type, reinterpret_cast<BYTE*>(value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(Registry().RegSetValueExA(key, "Scripts", REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
            ERROR_ACCESS_DENIED);
  Registry().RegCloseKey(key);
  HKEY created = nullptr;
  EXPECT_EQ(Registry().RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Orvane\\Qel", &created), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(rehearsal.Finish(&error)) << error;
}

TEST(Rehearsal, ChangesGoToTheCopyAndTheSampleStays) {
  RehearsalWorld w;
  std::string error;
  {
    Rehearsal rehearsal;
    ASSERT_TRUE(rehearsal.Start(w.sample, w.folder, "C:\\Rehearsal", &error)) << error;
    WizardState state;
    CScriptWizardApp app(state);
    ASSERT_EQ(app.CheckDomainController(), 0u);
    // One account's script changed through the rehearsal's "netapi32.dll".
    HMODULE netapi = Loader().LoadLibraryA("netapi32.dll");
    auto setInfo = reinterpret_cast<PFN_NetUserSetInfo>(Loader().GetProcAddress(netapi, "NetUserSetInfo"));
    ASSERT_NE(setInfo, nullptr);
    USER_INFO_1009 info = {const_cast<wchar_t*>(L"QelInstall.bat")};
    EXPECT_EQ(setInfo(nullptr, L"rscott", 1009, reinterpret_cast<LPBYTE>(&info), nullptr), 0u);
    EXPECT_TRUE(rehearsal.Finish(&error)) << error;
    EXPECT_NE(ReadAll(rehearsal.DomainCopy()).find("QelInstall.bat"), std::string::npos);
  }
  EXPECT_EQ(ReadAll(w.sample), w.before);
  // A second rehearsal starts from the copy, with what the first one did.
  Rehearsal again;
  ASSERT_TRUE(again.Start(w.sample, w.folder, "C:\\Rehearsal", &error)) << error;
  HMODULE netapi = Loader().LoadLibraryA("netapi32.dll");
  auto getInfo = reinterpret_cast<PFN_NetUserGetInfo>(Loader().GetProcAddress(netapi, "NetUserGetInfo"));
  auto bufferFree = reinterpret_cast<PFN_NetApiBufferFree>(Loader().GetProcAddress(netapi, "NetApiBufferFree"));
  LPBYTE buffer = nullptr;
  ASSERT_EQ(getInfo(nullptr, L"rscott", 3, &buffer), 0u);
  EXPECT_EQ(std::wstring(reinterpret_cast<USER_INFO_3*>(buffer)->usri3_script_path), L"QelInstall.bat");
  bufferFree(buffer);
}

TEST(Rehearsal, AMissingDomainFileIsAClearError) {
  RehearsalWorld w;
  Rehearsal rehearsal;
  std::string error;
  EXPECT_FALSE(rehearsal.Start(w.env.root() + "/no-such.ldif", w.folder, "C:\\Rehearsal", &error));
  EXPECT_NE(error.find("no-such.ldif"), std::string::npos);
  EXPECT_EQ(Ports().accounts, nullptr);  // nothing installed
}

}  // namespace
}  // namespace qel
