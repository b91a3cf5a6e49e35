#include "platform/domain/netapi_module.h"

#include "gtest/gtest.h"
#include "platform/domain/domain_directory.h"
#include "platform/ports.h"
#include "tests/domain/domain_test_util.h"
#include "tests/fakes/faulty_accounts.h"
#include "tests/fakes/faulty_directory.h"

namespace qel {
namespace {

TEST(DomainNetApiProc, ForwardsToTheInstalledStore) {
  test::ScopedPorts saved;
  DomainStore store;
  test::LoadSample(&store);
  Ports().accounts = &store;
  auto getInfo = reinterpret_cast<PFN_NetUserGetInfo>(DomainNetApiProc("NetUserGetInfo"));
  auto freeBuffer = reinterpret_cast<PFN_NetApiBufferFree>(DomainNetApiProc("NetApiBufferFree"));
  auto dcName = reinterpret_cast<PFN_DsGetDcNameA>(DomainNetApiProc("DsGetDcNameA"));
  auto netDcName = reinterpret_cast<PFN_NetGetDCName>(DomainNetApiProc("NetGetDCName"));
  ASSERT_NE(getInfo, nullptr);
  ASSERT_NE(freeBuffer, nullptr);
  for (const char* name : {"NetGroupGetUsers", "NetUserSetInfo", "NetQueryDisplayInformation"})
    EXPECT_NE(DomainNetApiProc(name), nullptr) << name;
  EXPECT_EQ(DomainNetApiProc("netusergetinfo"), nullptr);  // names match exactly, as GetProcAddress does
  EXPECT_EQ(DomainNetApiProc("NetUserAdd"), nullptr);

  LPBYTE buffer = nullptr;
  ASSERT_EQ(getInfo(nullptr, L"jdoe", 3, &buffer), NERR_Success);
  EXPECT_STREQ(reinterpret_cast<USER_INFO_3*>(buffer)->usri3_script_path, L"Qeljdoe.bat");
  EXPECT_EQ(freeBuffer(buffer), NERR_Success);
  EXPECT_EQ(getInfo(nullptr, L"nobody", 3, &buffer), NERR_UserNotFound);

  // No account store: no domain.
  Ports().accounts = nullptr;
  PDOMAIN_CONTROLLER_INFOA info = nullptr;
  EXPECT_EQ(dcName(nullptr, nullptr, nullptr, nullptr, 0, &info), static_cast<DWORD>(ERROR_NO_SUCH_DOMAIN));
  EXPECT_EQ(netDcName(nullptr, nullptr, &buffer), NERR_DCNotFound);
  EXPECT_NE(getInfo(nullptr, L"jdoe", 3, &buffer), NERR_Success);
}

TEST(FaultyAccounts, FailsOneAccountAndCatchesBadFrees) {
  DomainStore store;
  test::LoadSample(&store);
  test::FaultyAccounts faulty(&store);
  faulty.plan().Fail("NetUserSetInfo:jdoe", ERROR_ACCESS_DENIED, -1);
  LPBYTE buffer = nullptr;
  ASSERT_EQ(faulty.NetUserGetInfo(nullptr, L"JDOE", 3, &buffer), NERR_Success);
  EXPECT_EQ(faulty.LiveBuffers(), 1);
  EXPECT_EQ(faulty.NetUserSetInfo(nullptr, L"JDoe", 3, buffer, nullptr), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(faulty.NetUserSetInfo(nullptr, L"jdoe", 3, buffer, nullptr), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(faulty.plan().Calls("NetUserSetInfo:jdoe"), 2);
  EXPECT_EQ(faulty.NetApiBufferFree(buffer), NERR_Success);
  EXPECT_EQ(faulty.NetApiBufferFree(buffer), static_cast<DWORD>(ERROR_INVALID_PARAMETER));  // twice
  EXPECT_EQ(faulty.LiveBuffers(), 0);
  EXPECT_EQ(faulty.BadFrees(), 1);
  // Other accounts are written.
  ASSERT_EQ(faulty.NetUserGetInfo(nullptr, L"asmith", 3, &buffer), NERR_Success);
  EXPECT_EQ(faulty.NetUserSetInfo(nullptr, L"asmith", 3, buffer, nullptr), NERR_Success);
  faulty.NetApiBufferFree(buffer);
  faulty.plan().Fail("DsGetDcNameA", ERROR_NO_SUCH_DOMAIN);
  PDOMAIN_CONTROLLER_INFOA info = nullptr;
  EXPECT_EQ(faulty.DsGetDcNameA(nullptr, nullptr, nullptr, nullptr, 0, &info), static_cast<DWORD>(ERROR_NO_SUCH_DOMAIN));
}

TEST(FaultyDirectory, RefusesTheGlobalCatalogAndCountsWhatIsOpen) {
  DomainStore store;
  test::LoadSample(&store);
  DomainDirectory directory(store);
  test::FaultyDirectory faulty(&directory);
  faulty.plan().Fail("BindSearch:GC", static_cast<DWORD>(kDirServerDown), -1);
  IDirectorySearchPort* search = nullptr;
  EXPECT_EQ(faulty.BindSearch(L"GC://OU=Sales,DC=test,DC=lan", &search), kDirServerDown);
  ASSERT_EQ(faulty.BindSearch(L"LDAP://OU=Sales,DC=test,DC=lan", &search), S_OK);
  EXPECT_EQ(faulty.OpenSearches(), 1);
  const wchar_t* attributes[] = {L"cn"};
  ADS_SEARCH_HANDLE handle;
  ASSERT_EQ(search->ExecuteSearch(L"(objectClass=user)", attributes, 1, &handle), S_OK);
  ASSERT_EQ(search->GetFirstRow(handle), S_OK);
  ADS_SEARCH_COLUMN column;
  ASSERT_EQ(search->GetColumn(handle, L"cn", &column), S_OK);
  EXPECT_EQ(faulty.OpenColumns(), 1);
  search->FreeColumn(&column);
  faulty.plan().Fail("GetNextRow", static_cast<DWORD>(E_FAIL));
  EXPECT_EQ(search->GetNextRow(handle), E_FAIL);
  EXPECT_EQ(faulty.OpenHandles(), 1);
  search->CloseSearchHandle(handle);
  search->Release();
  EXPECT_EQ(faulty.OpenSearches(), 0);
  EXPECT_EQ(faulty.OpenHandles(), 0);
  EXPECT_EQ(faulty.OpenColumns(), 0);
  EXPECT_EQ(faulty.Filters(), std::vector<std::wstring>{L"(objectClass=user)"});
  EXPECT_EQ(faulty.BoundPaths().size(), 2u);
  EXPECT_EQ(directory.OpenSearches(), 0);
}

}  // namespace
}  // namespace qel
