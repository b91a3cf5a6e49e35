// The directory back-ends over the sample domain and generated domains.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "directory/directory_backend.h"
#include "platform/domain/domain_generator.h"
#include "tests/directory/directory_world.h"
#include "tests/fakes/faulty_directory.h"
#include "tests/fakes/faulty_sync.h"

namespace qel::test {
namespace {

using Names = std::vector<std::string>;

bool Has(const Names& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

std::string UserLdif(const std::string& dn, const std::string& cn, const std::string& account,
                     const std::string& script = "") {
  std::string text = "dn: " + dn +
                     "\nobjectClass: top\nobjectClass: person\nobjectClass: organizationalPerson\nobjectClass: user\n"
                     "objectCategory: CN=Person,CN=Schema,CN=Configuration,DC=test,DC=lan\ncn: " + cn + "\n";
  if (!account.empty()) text += "sAMAccountName: " + account + "\n";
  text += "userAccountControl: 512\n";
  if (!script.empty()) text += "scriptPath: " + script + "\n";
  return text + "\n";
}

std::string DomainHead() {
  return "# qel-domain: TEST\n# qel-controller: DC1\n# qel-dns: test.lan\n\n"
         "dn: DC=test,DC=lan\nobjectClass: top\nobjectClass: domain\ndc: test\n\n"
         "dn: CN=Users,DC=test,DC=lan\nobjectClass: top\nobjectClass: container\ncn: Users\n"
         "objectCategory: CN=Container,CN=Schema,CN=Configuration,DC=test,DC=lan\n\n";
}

TEST(BrowseDirectory, TopLevelShowsOnlyContainersWithUsersBelow) {
  DirectoryWorld world;
  RecordingSink sink;
  CDirectoryBackend backend(world.state(), &sink);
  EXPECT_EQ(backend.BrowseDirectory(L"DC=test,DC=lan", TVI_ROOT), S_OK);
  Names names = sink.Names();
  // Users directly inside, and a unit whose users are only in its sub-units.
  EXPECT_TRUE(Has(names, "Users"));
  EXPECT_TRUE(Has(names, "Sales"));
  EXPECT_TRUE(Has(names, "Branches"));
  // No user person anywhere below; computers only; Exchange system objects; deleted objects.
  EXPECT_FALSE(Has(names, "Empty"));
  EXPECT_FALSE(Has(names, "Workstations"));
  EXPECT_FALSE(Has(names, "Computers"));
  EXPECT_FALSE(Has(names, "Domain Controllers"));
  EXPECT_FALSE(Has(names, "Microsoft Exchange System Objects"));
  EXPECT_FALSE(Has(names, "Deleted Objects"));
  for (const SinkEntry& entry : sink.entries) {
    EXPECT_EQ(entry.type, OUType) << entry.name;
    EXPECT_EQ(entry.account, "<null>");
    EXPECT_EQ(entry.parent, TVI_ROOT);
    EXPECT_EQ(entry.path.find("DC=test,DC=lan"), entry.path.size() - 14) << entry.path;
  }
  EXPECT_EQ(world.directory().OpenSearches(), 0);
}

TEST(BrowseDirectory, AddingHidesAccountsAlreadyOnTheDeploymentScript) {
  DirectoryWorld world;
  RecordingSink sink;
  CDirectoryBackend backend(world.state(), &sink);
  HTREEITEM parent = reinterpret_cast<HTREEITEM>(0x77);
  backend.BrowseDirectory(L"OU=Engineering,DC=test,DC=lan", parent);
  Names accounts = sink.Accounts();
  EXPECT_TRUE(Has(accounts, "ijames"));
  EXPECT_FALSE(Has(accounts, "mclark")) << "QELmclark.bat: the prefix is compared without case";
  EXPECT_TRUE(Has(sink.Names(), "QA"));
  for (const SinkEntry& entry : sink.entries) EXPECT_EQ(entry.parent, parent);
  // Groups and contacts are never listed.
  sink.entries.clear();
  backend.BrowseDirectory(L"OU=Sales,DC=test,DC=lan", TVI_ROOT);
  EXPECT_FALSE(Has(sink.Names(), "Sales Staff"));
  EXPECT_FALSE(Has(sink.Names(), "Partner Contact"));
  EXPECT_TRUE(Has(sink.Names(), "Alice Smith"));
  EXPECT_TRUE(Has(sink.Names(), "Xavier \xC3\x89vans") || Has(sink.Names(), "Xavier \xC9vans"));
}

TEST(BrowseDirectory, RemovingShowsOnlyAccountsOnTheDeploymentScript) {
  DirectoryWorld world;
  world.state().m_nOperation = OP_UNINSTALL;
  RecordingSink sink;
  CDirectoryBackend backend(world.state(), &sink);
  backend.BrowseDirectory(L"OU=East,OU=Sales,DC=test,DC=lan", TVI_ROOT);
  EXPECT_EQ(sink.Accounts(), Names({"ebrown"}));
  sink.entries.clear();
  backend.BrowseDirectory(L"OU=West,OU=Sales,DC=test,DC=lan", TVI_ROOT);
  EXPECT_EQ(sink.Accounts(), Names({"fblack"}));
  EXPECT_EQ(sink.entries[0].type, UserType);
  EXPECT_EQ(sink.entries[0].path, "CN=Frank Black,OU=West,OU=Sales,DC=test,DC=lan");
}

TEST(BrowseDirectory, UserWithoutAccountNameListedOnlyWhenAdding) {
  DirectoryWorld world;
  FaultyDirectory faulty;
  faulty.plan().Fail("GetColumn:sAMAccountName", static_cast<DWORD>(E_ADS_COLUMN_NOT_SET), -1);
  Ports().directory = &faulty;
  RecordingSink sink;
  CDirectoryBackend backend(world.state(), &sink);
  backend.BrowseDirectory(L"OU=QA,OU=Engineering,DC=test,DC=lan", TVI_ROOT);
  EXPECT_EQ(sink.Names(), Names({"Olivia Harris", "Uma Hall"}));
  EXPECT_EQ(sink.Accounts(), Names({"<null>", "<null>"}));
  world.state().m_nOperation = OP_UNINSTALL;
  sink.entries.clear();
  backend.BrowseDirectory(L"OU=QA,OU=Engineering,DC=test,DC=lan", TVI_ROOT);
  EXPECT_TRUE(sink.entries.empty());
  EXPECT_EQ(faulty.OpenColumns(), 0);
}

TEST(BrowseDirectory, AsksWithTheGivenFilterPreferencesAndAttributes) {
  DirectoryWorld world;
  FaultyDirectory faulty;
  Ports().directory = &faulty;
  RecordingSink sink;
  CDirectoryBackend backend(world.state(), &sink);
  backend.BrowseDirectory(L"OU=Branches,DC=test,DC=lan", TVI_ROOT);
  std::vector<std::wstring> filters = faulty.Filters();
  ASSERT_EQ(filters.size(), 2u);  // the browse, then one emptiness test for OU=Remote
  EXPECT_EQ(filters[0],
            L"(&(|(objectClass=organizationalUnit)(objectClass=Container)(&(objectClass=user)(objectCategory=Person)))"
            L"(!(isDeleted=TRUE))(!(objectClass=msExchSystemObjectsContainer)))");
  EXPECT_EQ(filters[1], L"(&(objectClass=user)(objectCategory=Person)(!(isDeleted=TRUE)))");
  // The emptiness test was the last to set preferences and attributes.
  EXPECT_EQ(faulty.LastPreferences(), (std::vector<std::pair<int, DWORD>>{{5, 2}, {2, 1}}));
  EXPECT_EQ(faulty.LastAttributes(), std::vector<std::wstring>{L"cn"});
  EXPECT_EQ(faulty.BoundPaths()[0], L"GC://OU=Branches,DC=test,DC=lan");
  EXPECT_EQ(faulty.BoundPaths()[1], L"GC://OU=Remote,OU=Branches,DC=test,DC=lan");
  EXPECT_EQ(faulty.LoadedProviders(), 0);
  EXPECT_EQ(faulty.ComInitialized(), 0);
  EXPECT_EQ(faulty.OpenSearches(), 0);
  EXPECT_EQ(faulty.OpenHandles(), 0);
  EXPECT_EQ(faulty.OpenColumns(), 0);

  sink.entries.clear();
  backend.BrowseDirectory(L"OU=Empty,DC=test,DC=lan", TVI_ROOT);
  EXPECT_EQ(faulty.LastPreferences(), (std::vector<std::pair<int, DWORD>>{{5, 1}, {7, 100}, {8, 15}}));
  EXPECT_EQ(faulty.LastAttributes(),
            (std::vector<std::wstring>{L"ou", L"cn", L"distinguishedName", L"objectCategory", L"sAMAccountName"}));
}

TEST(BrowseDirectory, GlobalCatalogRefusedFallsBackToLdap) {
  DirectoryWorld world;
  FaultyDirectory faulty;
  faulty.plan().Fail("BindSearch:GC", static_cast<DWORD>(0x8007203A), -1);
  Ports().directory = &faulty;
  RecordingSink sink;
  CDirectoryBackend backend(world.state(), &sink);
  EXPECT_EQ(backend.BrowseDirectory(L"DC=test,DC=lan", TVI_ROOT), S_OK);
  EXPECT_TRUE(Has(sink.Names(), "Sales"));
  std::vector<std::wstring> paths = faulty.BoundPaths();
  ASSERT_GE(paths.size(), 2u);
  EXPECT_EQ(paths[0], L"GC://DC=test,DC=lan");
  EXPECT_EQ(paths[1], L"LDAP://DC=test,DC=lan");
  EXPECT_EQ(faulty.OpenSearches(), 0);
}

TEST(BrowseDirectory, FailuresListNothingAndGiveEverythingBack) {
  DirectoryWorld world;
  RecordingSink sink;
  CDirectoryBackend backend(world.state(), &sink);
  EXPECT_EQ(backend.BrowseDirectory(nullptr, TVI_ROOT), E_FAIL);
  EXPECT_EQ(backend.BrowseDirectory(L"", TVI_ROOT), E_FAIL);
  {
    FaultyDirectory faulty;
    faulty.plan().Fail("LoadProvider", 126);
    Ports().directory = &faulty;
    EXPECT_EQ(backend.BrowseDirectory(L"DC=test,DC=lan", TVI_ROOT), 126);
    EXPECT_EQ(faulty.plan().Calls("BindSearch"), 0);
  }
  for (const char* step : {"BindSearch", "SetSearchPreference", "ExecuteSearch"}) {
    FaultyDirectory faulty(&world.directory());
    faulty.plan().Fail(step, static_cast<DWORD>(E_FAIL), -1);
    Ports().directory = &faulty;
    EXPECT_EQ(backend.BrowseDirectory(L"DC=test,DC=lan", TVI_ROOT), E_FAIL) << step;
    EXPECT_EQ(faulty.LoadedProviders(), 0) << step;
    EXPECT_EQ(faulty.ComInitialized(), 0) << step;
    EXPECT_EQ(faulty.OpenSearches(), 0) << step;
    EXPECT_EQ(faulty.OpenHandles(), 0) << step;
  }
  EXPECT_TRUE(sink.entries.empty());
}

TEST(BrowseDirectory, RowWithoutDistinguishedNameIsSkipped) {
  DirectoryWorld world;
  FaultyDirectory faulty;
  // The second row (Grace Wood) comes without its distinguished name.
  faulty.plan().Fail("GetColumn:distinguishedName", static_cast<DWORD>(E_ADS_COLUMN_NOT_SET), 1, 1);
  Ports().directory = &faulty;
  RecordingSink sink;
  CDirectoryBackend backend(world.state(), &sink);
  backend.BrowseDirectory(L"OU=West,OU=Sales,DC=test,DC=lan", TVI_ROOT);
  Names accounts = sink.Accounts();
  EXPECT_EQ(accounts, Names({"hking", "wwang"}));  // fblack runs the deployment script
  EXPECT_EQ(faulty.OpenColumns(), 0);
}

TEST(BrowseDirectory, LogsEachItem) {
  DirectoryWorld world;
  RecordingSink sink;
  CDirectoryBackend backend(world.state(), &sink);
  backend.BrowseDirectory(L"OU=QA,OU=Engineering,DC=test,DC=lan", TVI_ROOT);
  std::string log = world.LogText();
  size_t items = 0;
  for (size_t at = log.find("[WAR]    Item:\r\n"); at != std::string::npos; at = log.find("[WAR]    Item:\r\n", at + 1))
    ++items;
  EXPECT_EQ(items, 2u);
}

TEST(BrowseDirectory, StopEventEndsTheListingEarly) {
  DirectoryWorld world;
  RecordingSink sink;
  CDirectoryBackend backend(world.state(), &sink);
  HANDLE stop = Sync().CreateEventA(FALSE, FALSE, nullptr);
  backend.SetStopEvent(stop);
  sink.afterEach = [stop](size_t count) {
    if (count == 2) Sync().SetEvent(stop);
  };
  backend.BrowseDirectory(L"OU=Engineering,DC=test,DC=lan", TVI_ROOT);
  EXPECT_EQ(sink.entries.size(), 2u);
  // Without an event (or with a failing wait) the listing runs to its end.
  sink.entries.clear();
  sink.afterEach = nullptr;
  backend.SetStopEvent(nullptr);
  backend.BrowseDirectory(L"OU=Engineering,DC=test,DC=lan", TVI_ROOT);
  EXPECT_EQ(sink.entries.size(), 7u);  // QA and six accounts (mclark is on the script)
  Sync().CloseHandle(stop);
}

TEST(SearchDirectoryUsers, BothCriteriaMustMatchAndTheFilterIgnoresTheOperation) {
  DirectoryWorld world;
  RecordingSink sink;
  CDirectoryBackend backend(world.state(), &sink);
  FaultyDirectory faulty;
  Ports().directory = &faulty;
  backend.SearchDirectoryUsers(L"DC=test,DC=lan", "john", "jd", FALSE);
  EXPECT_EQ(faulty.Filters().back(),
            L"(&(objectClass=user)(objectCategory=Person)(!(isDeleted=TRUE))(cn=john*)(sAMAccountName=jd*))");
  EXPECT_EQ(faulty.LastPreferences(), (std::vector<std::pair<int, DWORD>>{{5, 2}, {7, 100}, {8, 15}}));
  EXPECT_EQ(faulty.LastAttributes(), (std::vector<std::wstring>{L"cn", L"distinguishedName", L"sAMAccountName"}));
  // jdoe runs the deployment script, yet a search offers it when adding.
  ASSERT_EQ(sink.entries.size(), 1u);
  EXPECT_EQ(sink.entries[0].name, "John Doe");
  EXPECT_EQ(sink.entries[0].account, "jdoe");
  EXPECT_EQ(sink.entries[0].path, "CN=John Doe,CN=Users,DC=test,DC=lan");
  EXPECT_EQ(sink.entries[0].parent, TVI_ROOT);
  sink.entries.clear();
  backend.SearchDirectoryUsers(L"DC=test,DC=lan", "john", "xx", FALSE);
  EXPECT_TRUE(sink.entries.empty());
  backend.SearchDirectoryUsers(L"DC=test,DC=lan", nullptr, "JDOE", TRUE);
  EXPECT_EQ(faulty.Filters().back(), L"(&(objectClass=user)(objectCategory=Person)(!(isDeleted=TRUE))(sAMAccountName=JDOE))");
  EXPECT_EQ(sink.Accounts(), Names({"jdoe"}));
}

TEST(SearchDirectoryUsers, WildcardsUnbalancedParenthesesAndDeletedUsers) {
  DirectoryWorld world;
  world.state().m_nOperation = OP_UNINSTALL;
  RecordingSink sink;
  CDirectoryBackend backend(world.state(), &sink);
  backend.SearchDirectoryUsers(L"DC=test,DC=lan", "*a*", nullptr, FALSE);
  Names names = sink.Names();
  EXPECT_TRUE(Has(names, "Alice Smith"));
  EXPECT_TRUE(Has(names, "Sam Walker"));
  EXPECT_FALSE(Has(names, "John Doe"));
  EXPECT_FALSE(Has(names, "Partner Contact"));
  sink.entries.clear();
  backend.SearchDirectoryUsers(L"DC=test,DC=lan", nullptr, "old", FALSE);
  EXPECT_TRUE(sink.entries.empty()) << "deleted users are never found";
  HRESULT status = backend.SearchDirectoryUsers(L"DC=test,DC=lan", "Jo(hn", nullptr, FALSE);
  EXPECT_TRUE(FAILED(status));
  EXPECT_TRUE(sink.entries.empty());
  EXPECT_EQ(world.directory().OpenSearches(), 0);
}

TEST(SearchDirectoryUsers, ManyMatchesAreReadInPagesAndStopEndsThem) {
  GeneratedDomain shape;
  shape.accounts = 2500;
  shape.organizationalUnits = 10;
  DirectoryWorld world(GenerateDomainLdif(shape));
  RecordingSink sink;
  CDirectoryBackend backend(world.state(), &sink);
  uint64_t pagesBefore = world.directory().PagesServed();
  EXPECT_EQ(backend.SearchDirectoryUsers(L"DC=test,DC=lan", nullptr, "user", FALSE), S_OK);
  EXPECT_EQ(sink.entries.size(), 2500u);
  EXPECT_GE(world.directory().PagesServed() - pagesBefore, 25u);

  HANDLE stop = Sync().CreateEventA(FALSE, FALSE, nullptr);
  backend.SetStopEvent(stop);
  sink.entries.clear();
  sink.afterEach = [stop](size_t count) {
    if (count == 150) Sync().SetEvent(stop);
  };
  backend.SearchDirectoryUsers(L"DC=test,DC=lan", nullptr, "user", FALSE);
  EXPECT_EQ(sink.entries.size(), 150u);
  EXPECT_EQ(world.directory().OpenSearches(), 0);
  Sync().CloseHandle(stop);
}

TEST(ListDomainUsers, OperationFilterDollarNamesAndEitherCriterion) {
  DirectoryWorld world(std::string(), 4);
  RecordingSink sink;
  CDirectoryBackend backend(world.state(), &sink);
  EXPECT_EQ(backend.ListDomainUsers(nullptr, nullptr), 1);
  Names accounts = sink.Accounts();
  EXPECT_TRUE(Has(accounts, "backupop"));
  EXPECT_FALSE(Has(accounts, "jdoe"));
  EXPECT_FALSE(Has(accounts, "ebrown"));
  for (const std::string& account : accounts) EXPECT_NE(account.back(), '$') << account;
  for (const SinkEntry& entry : sink.entries) {
    EXPECT_EQ(entry.path, "<null>");
    EXPECT_EQ(entry.type, UserType);
    EXPECT_EQ(entry.parent, TVI_ROOT);
  }
  // Either criterion may match, case-insensitively at the beginning.
  sink.entries.clear();
  backend.ListDomainUsers("alice", "BJ");
  EXPECT_EQ(sink.Accounts(), Names({"asmith", "bjones"}));
  sink.entries.clear();
  backend.ListDomainUsers("", "zzz");
  EXPECT_TRUE(sink.entries.empty());
  world.state().m_nOperation = OP_UNINSTALL;
  sink.entries.clear();
  backend.ListDomainUsers(nullptr, nullptr);
  accounts = sink.Accounts();
  EXPECT_TRUE(Has(accounts, "jdoe"));
  EXPECT_TRUE(Has(accounts, "fblack"));
  EXPECT_FALSE(Has(accounts, "backupop"));
}

TEST(ListDomainUsers, ListsPastTheFirstThousandAndSkipsLongNames) {
  std::string ldif = DomainHead();
  for (int i = 0; i < 1500; ++i) {
    std::string name = "u" + std::to_string(10000 + i);
    ldif += UserLdif("CN=" + name + ",CN=Users,DC=test,DC=lan", name, name);
  }
  std::string long99(99, 'a'), long100(100, 'b');
  ldif += UserLdif("CN=fits,CN=Users,DC=test,DC=lan", "fits", long99);
  ldif += UserLdif("CN=toolong,CN=Users,DC=test,DC=lan", "toolong", long100);
  DirectoryWorld world(ldif, 4);
  RecordingSink sink;
  CDirectoryBackend backend(world.state(), &sink);
  backend.ListDomainUsers(nullptr, nullptr);
  Names accounts = sink.Accounts();
  EXPECT_EQ(accounts.size(), 1501u);
  EXPECT_TRUE(Has(accounts, "u11499"));
  EXPECT_TRUE(Has(accounts, long99));
  EXPECT_FALSE(Has(accounts, long100));
  std::sort(accounts.begin(), accounts.end());
  EXPECT_EQ(std::adjacent_find(accounts.begin(), accounts.end()), accounts.end()) << "no account twice";
}

TEST(HasDeploymentScript, PrefixWithoutCaseAndFailures) {
  DirectoryWorld world;
  EXPECT_EQ(HasDeploymentScript(L"jdoe"), 1);
  EXPECT_EQ(HasDeploymentScript(L"fblack"), 1);
  EXPECT_EQ(HasDeploymentScript(L"mclark"), 1);
  EXPECT_EQ(HasDeploymentScript(L"backupop"), 0);
  EXPECT_EQ(HasDeploymentScript(L"rscott"), 0);  // no script at all
  EXPECT_EQ(HasDeploymentScript(L"nobody"), 0);
  EXPECT_EQ(HasDeploymentScript(nullptr), 0);
}

TEST(ContainerHasUsers, AnyDepthAndFailures) {
  DirectoryWorld world;
  EXPECT_NE(ContainerHasUsers(L"OU=Branches,DC=test,DC=lan"), 0u);
  EXPECT_EQ(ContainerHasUsers(L"OU=Empty,DC=test,DC=lan"), 0u);
  EXPECT_EQ(ContainerHasUsers(L"OU=Workstations,DC=test,DC=lan"), 0u);
  EXPECT_EQ(ContainerHasUsers(L"CN=Deleted Objects,DC=test,DC=lan"), 0u);
  EXPECT_EQ(ContainerHasUsers(L""), 0u);
  FaultyDirectory faulty;
  faulty.plan().Fail("LoadProvider", 126);
  Ports().directory = &faulty;
  EXPECT_EQ(ContainerHasUsers(L"OU=Branches,DC=test,DC=lan"), 126u);
}

}  // namespace
}  // namespace qel::test
