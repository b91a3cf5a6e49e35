// Modules and entry points by name, and the errors of a missing one.
#include <cstring>
#include <string>

#include "platform/netapi_types.h"
#include "tests/platform_system/ports_under_test.h"

#ifndef _WIN32
#include "platform/account_store.h"
#endif

namespace qel::test {
namespace {

using LoaderTest = PortsTest;

TEST_F(LoaderTest, KernelOffersCopyFileExAWhateverTheCaseOfItsName) {
  HMODULE kernel = Loader().LoadLibraryA("Kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  HMODULE upper = Loader().LoadLibraryA("KERNEL32.DLL");
  EXPECT_EQ(upper, kernel);
  EXPECT_NE(Loader().GetProcAddress(kernel, "CopyFileExA"), nullptr);
  QelSetLastError(0);
  EXPECT_EQ(Loader().GetProcAddress(kernel, "QelNoSuchEntryPoint"), nullptr);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_TRUE(Loader().FreeLibrary(upper));
  EXPECT_TRUE(Loader().FreeLibrary(kernel));
}

TEST_F(LoaderTest, NetworkManagementEntryPoints) {
  HMODULE netapi = Loader().LoadLibraryA("netapi32.dll");
  ASSERT_NE(netapi, nullptr);
  for (const char* name : {"NetGroupGetUsers", "NetApiBufferFree", "NetUserGetInfo", "NetUserSetInfo",
                           "NetQueryDisplayInformation", "DsGetDcNameA", "NetGetDCName"}) {
    EXPECT_NE(Loader().GetProcAddress(netapi, name), nullptr) << name;
  }
  // Entry points are found by their exact name.
  EXPECT_EQ(Loader().GetProcAddress(netapi, "netusergetinfo"), nullptr);
  Loader().FreeLibrary(netapi);
}

TEST_F(LoaderTest, ShellFolderOfCommonApplicationData) {
  for (const char* module : {"Shell32.dll", "SHFolder.dll"}) {
    HMODULE shell = Loader().LoadLibraryA(module);
    ASSERT_NE(shell, nullptr) << module;
    auto getFolder = reinterpret_cast<PFN_SHGetFolderPathA>(Loader().GetProcAddress(shell, "SHGetFolderPathA"));
    ASSERT_NE(getFolder, nullptr) << module;
    char path[MAX_PATH] = {};
    EXPECT_EQ(getFolder(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path), S_OK) << module;
    EXPECT_EQ(path[1], ':') << path;
    Loader().FreeLibrary(shell);
  }
}

TEST_F(LoaderTest, MissingModule) {
  QelSetLastError(0);
  EXPECT_EQ(Loader().LoadLibraryA("qel-no-such-module.dll"), nullptr);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

#ifndef _WIN32
TEST_F(LoaderTest, HostShellFolderComesFromTheConfiguration) {
  HMODULE shell = Loader().LoadLibraryA("SHFolder.dll");
  auto getFolder = reinterpret_cast<PFN_SHGetFolderPathA>(Loader().GetProcAddress(shell, "SHGetFolderPathA"));
  ASSERT_NE(getFolder, nullptr);
  char path[MAX_PATH] = {};
  EXPECT_EQ(getFolder(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, path), S_OK);
  EXPECT_EQ(std::string(path), env_->config().commonAppData);
  EXPECT_EQ(getFolder(nullptr, 0x001A /* CSIDL_APPDATA */, nullptr, 0, path), E_FAIL);
}

// An account store that answers the locator and records what reached it.
class LocatorStore : public IAccountStore {
 public:
  int calls = 0;
  ULONG lastFlags = 0;
  NET_API_STATUS NetGroupGetUsers(LPCWSTR, LPCWSTR, DWORD, LPBYTE*, DWORD, LPDWORD, LPDWORD, DWORD_PTR*) override {
    ++calls;
    return ERROR_MORE_DATA;
  }
  NET_API_STATUS NetApiBufferFree(LPVOID) override { return ++calls, NERR_Success; }
  NET_API_STATUS NetUserGetInfo(LPCWSTR, LPCWSTR, DWORD, LPBYTE*) override { return ++calls, NERR_Success; }
  NET_API_STATUS NetUserSetInfo(LPCWSTR, LPCWSTR, DWORD, LPBYTE, LPDWORD) override { return ++calls, NERR_Success; }
  NET_API_STATUS NetQueryDisplayInformation(LPCWSTR, DWORD, DWORD, DWORD, DWORD, LPDWORD, PVOID*) override {
    return ++calls, NERR_Success;
  }
  DWORD DsGetDcNameA(LPCSTR, LPCSTR, GUID*, LPCSTR, ULONG flags, PDOMAIN_CONTROLLER_INFOA*) override {
    ++calls;
    lastFlags = flags;
    return 1212;
  }
  NET_API_STATUS NetGetDCName(LPCWSTR, LPCWSTR, LPBYTE*) override { return ++calls, 2351; }
};

TEST_F(LoaderTest, HostNetworkManagementForwardsToTheAccountStore) {
  HMODULE netapi = Loader().LoadLibraryA("NETAPI32");
  ASSERT_NE(netapi, nullptr);
  auto getDc = reinterpret_cast<PFN_DsGetDcNameA>(Loader().GetProcAddress(netapi, "DsGetDcNameA"));
  auto getDcName = reinterpret_cast<PFN_NetGetDCName>(Loader().GetProcAddress(netapi, "NetGetDCName"));
  auto groupUsers = reinterpret_cast<PFN_NetGroupGetUsers>(Loader().GetProcAddress(netapi, "NetGroupGetUsers"));
  PDOMAIN_CONTROLLER_INFOA info = nullptr;
  LPBYTE buffer = nullptr;

  // No domain at all.
  ASSERT_EQ(Ports().accounts, nullptr);
  EXPECT_EQ(getDc(nullptr, nullptr, nullptr, nullptr, 0x80001200u, &info), static_cast<DWORD>(ERROR_NO_SUCH_DOMAIN));
  EXPECT_EQ(getDcName(nullptr, nullptr, &buffer), NERR_DCNotFound);

  LocatorStore store;
  Ports().accounts = &store;
  EXPECT_EQ(getDc(nullptr, nullptr, nullptr, nullptr, 0x80001200u, &info), 1212u);
  EXPECT_EQ(store.lastFlags, 0x80001200u);
  EXPECT_EQ(getDcName(nullptr, nullptr, &buffer), 2351u);
  DWORD read = 0, total = 0;
  DWORD_PTR resume = 0;
  EXPECT_EQ(groupUsers(nullptr, L"Domain Users", 1, &buffer, 100, &read, &total, &resume),
            static_cast<NET_API_STATUS>(ERROR_MORE_DATA));
  EXPECT_EQ(store.calls, 3);
  Ports().accounts = nullptr;
}
#endif

}  // namespace
}  // namespace qel::test
