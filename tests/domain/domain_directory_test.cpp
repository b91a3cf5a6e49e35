#include "platform/domain/domain_directory.h"

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/domain/domain_generator.h"
#include "platform/domain/domain_text.h"
#include "tests/domain/domain_test_util.h"

namespace qel {
namespace {

// The filters the wizard sends, as it sends them.
const wchar_t kBrowseFilter[] =
    L"(&(|(objectClass=organizationalUnit)(objectClass=Container)(&(objectClass=user)(objectCategory=Person)))"
    L"(!(isDeleted=TRUE))(!(objectClass=msExchSystemObjectsContainer)))";
const wchar_t kUsersFilter[] = L"(&(objectClass=user)(objectCategory=Person)(!(isDeleted=TRUE)))";

ADS_SEARCHPREF_INFO Pref(ADS_SEARCHPREF which, DWORD value) {
  ADS_SEARCHPREF_INFO p;
  std::memset(&p, 0, sizeof(p));
  p.dwSearchPref = which;
  p.vValue.dwType = ADSTYPE_INTEGER;
  p.vValue.Integer = value;
  return p;
}

class DomainDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override { test::LoadSample(&store_); }

  // Runs one search the way the wizard does and returns the first value of
  // `column` of every row (cn when the row has no such value).
  std::vector<std::wstring> Search(const std::wstring& path, const wchar_t* filter,
                                   std::vector<ADS_SEARCHPREF_INFO> prefs, const std::wstring& column = L"cn") {
    std::vector<std::wstring> rows;
    IDirectorySearchPort* search = nullptr;
    HRESULT hr = directory_.BindSearch(path.c_str(), &search);
    EXPECT_EQ(hr, S_OK) << WideToUtf8(path);
    if (FAILED(hr)) return rows;
    EXPECT_EQ(search->SetSearchPreference(prefs.data(), static_cast<DWORD>(prefs.size())), S_OK);
    const wchar_t* attributes[] = {L"ou", L"cn", L"distinguishedName", L"objectCategory", L"sAMAccountName"};
    ADS_SEARCH_HANDLE handle = nullptr;
    EXPECT_EQ(search->ExecuteSearch(filter, attributes, 5, &handle), S_OK);
    for (hr = search->GetFirstRow(handle); hr == S_OK; hr = search->GetNextRow(handle)) {
      ADS_SEARCH_COLUMN col;
      if (search->GetColumn(handle, column.c_str(), &col) == S_OK ||
          search->GetColumn(handle, L"ou", &col) == S_OK || search->GetColumn(handle, L"cn", &col) == S_OK) {
        rows.push_back(col.pADsValues[0].CaseIgnoreString);
        search->FreeColumn(&col);
      }
    }
    EXPECT_EQ(hr, S_ADS_NOMORE_ROWS);
    EXPECT_EQ(search->CloseSearchHandle(handle), S_OK);
    search->Release();
    return rows;
  }

  DomainStore store_;
  DomainDirectory directory_{store_};
};

TEST_F(DomainDirectoryTest, BrowseListsUnitsContainersAndUsersOneLevel) {
  auto rows = Search(L"GC://DC=test,DC=lan", kBrowseFilter,
                     {Pref(ADS_SEARCHPREF_SEARCH_SCOPE, ADS_SCOPE_ONELEVEL), Pref(ADS_SEARCHPREF_PAGESIZE, 100),
                      Pref(ADS_SEARCHPREF_PAGED_TIME_LIMIT, 15)});
  // No Exchange system container, no deleted objects; file order.
  std::vector<std::wstring> expected = {L"Users", L"Computers", L"Domain Controllers", L"Sales",
                                        L"Engineering", L"Branches", L"Empty", L"Workstations", L"\u534e\u4e1c\u533a"};
  EXPECT_EQ(rows, expected);

  rows = Search(L"LDAP://OU=Sales,DC=test,DC=lan", kBrowseFilter,
                {Pref(ADS_SEARCHPREF_SEARCH_SCOPE, ADS_SCOPE_ONELEVEL)}, L"sAMAccountName");
  // Users by logon name, units by name; no contact, no group, nothing from below.
  expected = {L"asmith", L"bjones", L"vbaker", L"xevans", L"East", L"West"};
  EXPECT_EQ(rows, expected);
}

// A hand-written domain without any objectCategory browses as the same file
// does on a controller, which fills the category from the class on import.
TEST(DomainCategory, RecordsWithoutOneGetTheirClasssCategory) {
  const char kText[] =
      "# qel-domain: TEST\n# qel-controller: DC1\n# qel-dns: test.lan\n\n"
      "dn: DC=test,DC=lan\nobjectClass: top\nobjectClass: domain\nobjectClass: domainDNS\n\n"
      "dn: OU=Sales,DC=test,DC=lan\nobjectClass: top\nobjectClass: organizationalUnit\nou: Sales\n\n"
      "dn: CN=Stock,DC=test,DC=lan\nobjectClass: container\nobjectClass: top\ncn: Stock\n\n"
      "dn: CN=Ann,OU=Sales,DC=test,DC=lan\nobjectClass: top\nobjectClass: person\n"
      "objectClass: organizationalPerson\nobjectClass: user\nsAMAccountName: ann\n\n"
      "dn: CN=Ina,OU=Sales,DC=test,DC=lan\nobjectClass: inetOrgPerson\nobjectClass: user\nsAMAccountName: ina\n\n"
      "dn: CN=PC1,OU=Sales,DC=test,DC=lan\nobjectClass: top\nobjectClass: person\nobjectClass: organizationalPerson\n"
      "objectClass: user\nobjectClass: computer\nsAMAccountName: PC1$\n\n"
      "dn: CN=Team,OU=Sales,DC=test,DC=lan\nobjectClass: top\nobjectClass: group\nsAMAccountName: Team\n\n"
      "dn: CN=Vendor,OU=Sales,DC=test,DC=lan\nobjectClass: top\nobjectClass: person\n"
      "objectClass: organizationalPerson\nobjectClass: contact\n\n"
      "dn: CN=Policy,DC=test,DC=lan\nobjectClass: top\nobjectClass: container\n"
      "objectClass: groupPolicyContainer\n\n"
      "dn: CN=Kept,DC=test,DC=lan\nobjectClass: container\nobjectCategory: CN=Other,CN=Schema,CN=Configuration,"
      "DC=test,DC=lan\n\n"
      "dn: CN=Bare,DC=test,DC=lan\nobjectClass: top\n\n";
  DomainStore store;
  DomainError error;
  ASSERT_TRUE(store.LoadText(kText, "hand.ldif", &error)) << error.ToString();
  auto category = [&](const wchar_t* dn) {
    uint32_t index = store.FindObject(dn);
    EXPECT_NE(index, kNoObject) << WideToUtf8(dn);
    if (index == kNoObject) return std::wstring(L"<no object>");
    DirValues values = store.Values(store.Object(index), kAttrObjectCategory);
    return values.size() == 1 ? std::wstring(values.front()) : std::wstring(L"<none>");
  };
  const std::wstring schema = L",CN=Schema,CN=Configuration,DC=test,DC=lan";
  EXPECT_EQ(category(L"DC=test,DC=lan"), L"CN=Domain-DNS" + schema);
  EXPECT_EQ(category(L"OU=Sales,DC=test,DC=lan"), L"CN=Organizational-Unit" + schema);
  EXPECT_EQ(category(L"CN=Stock,DC=test,DC=lan"), L"CN=Container" + schema);  // "top" listed last
  EXPECT_EQ(category(L"CN=Ann,OU=Sales,DC=test,DC=lan"), L"CN=Person" + schema);
  EXPECT_EQ(category(L"CN=Ina,OU=Sales,DC=test,DC=lan"), L"CN=Person" + schema);
  EXPECT_EQ(category(L"CN=PC1,OU=Sales,DC=test,DC=lan"), L"CN=Computer" + schema);
  EXPECT_EQ(category(L"CN=Team,OU=Sales,DC=test,DC=lan"), L"CN=Group" + schema);
  EXPECT_EQ(category(L"CN=Vendor,OU=Sales,DC=test,DC=lan"), L"CN=Person" + schema);
  EXPECT_EQ(category(L"CN=Policy,DC=test,DC=lan"), L"CN=Group-Policy-Container" + schema);
  EXPECT_EQ(category(L"CN=Kept,DC=test,DC=lan"), L"CN=Other" + schema);  // a given category stays
  EXPECT_EQ(category(L"CN=Bare,DC=test,DC=lan"), L"<none>");

  // The wizard's browse now finds the unit, the container and the user, not
  // the computer, group or contact.
  DomainDirectory directory(store);
  IDirectorySearchPort* search = nullptr;
  ASSERT_EQ(directory.BindSearch(L"GC://DC=test,DC=lan", &search), S_OK);
  ADS_SEARCHPREF_INFO scope = Pref(ADS_SEARCHPREF_SEARCH_SCOPE, ADS_SCOPE_SUBTREE);
  ASSERT_EQ(search->SetSearchPreference(&scope, 1), S_OK);
  const wchar_t* attributes[] = {L"distinguishedName", L"objectCategory"};
  ADS_SEARCH_HANDLE handle = nullptr;
  ASSERT_EQ(search->ExecuteSearch(kBrowseFilter, attributes, 2, &handle),
            S_OK);
  std::vector<std::wstring> rows;
  for (HRESULT hr = search->GetFirstRow(handle); hr == S_OK; hr = search->GetNextRow(handle)) {
    ADS_SEARCH_COLUMN col;
    ASSERT_EQ(search->GetColumn(handle, L"objectCategory", &col), S_OK);
    search->FreeColumn(&col);
    ASSERT_EQ(search->GetColumn(handle, L"distinguishedName", &col), S_OK);
    rows.push_back(col.pADsValues[0].DNString);
    search->FreeColumn(&col);
  }
  search->CloseSearchHandle(handle);
  search->Release();
  EXPECT_EQ(rows, (std::vector<std::wstring>{L"OU=Sales,DC=test,DC=lan", L"CN=Ann,OU=Sales,DC=test,DC=lan",
                                             L"CN=Ina,OU=Sales,DC=test,DC=lan", L"CN=Stock,DC=test,DC=lan",
                                             L"CN=Policy,DC=test,DC=lan", L"CN=Kept,DC=test,DC=lan"}));
}

TEST_F(DomainDirectoryTest, ContainerHasUsersSearchesTheWholeSubtreeForOneRow) {
  std::vector<ADS_SEARCHPREF_INFO> prefs = {Pref(ADS_SEARCHPREF_SEARCH_SCOPE, ADS_SCOPE_SUBTREE),
                                            Pref(ADS_SEARCHPREF_SIZE_LIMIT, 1)};
  EXPECT_EQ(Search(L"GC://OU=Branches,DC=test,DC=lan", kUsersFilter, prefs).size(), 1u);  // only in a sub-unit
  EXPECT_EQ(Search(L"GC://DC=test,DC=lan", kUsersFilter, prefs).size(), 1u);            // size limit 1
  EXPECT_EQ(Search(L"GC://OU=Empty,DC=test,DC=lan", kUsersFilter, prefs).size(), 0u);
  EXPECT_EQ(Search(L"GC://OU=Workstations,DC=test,DC=lan", kUsersFilter, prefs).size(), 0u);  // computers only
  EXPECT_EQ(Search(L"GC://OU=Domain Controllers,DC=test,DC=lan", kUsersFilter, prefs).size(), 0u);
  EXPECT_EQ(Search(L"GC://CN=Deleted Objects,DC=test,DC=lan", kUsersFilter, prefs).size(), 0u);
  // The Exchange container holds a user: only the browse filter keeps it out.
  EXPECT_EQ(Search(L"GC://CN=Microsoft Exchange System Objects,DC=test,DC=lan", kUsersFilter, prefs).size(), 1u);
}

TEST_F(DomainDirectoryTest, ContainerSearchFindsEveryPersonBelow) {
  std::vector<ADS_SEARCHPREF_INFO> prefs = {Pref(ADS_SEARCHPREF_SEARCH_SCOPE, ADS_SCOPE_SUBTREE),
                                            Pref(ADS_SEARCHPREF_PAGESIZE, 100),
                                            Pref(ADS_SEARCHPREF_PAGED_TIME_LIMIT, 15)};
  auto rows = Search(L"GC://OU=Sales,DC=test,DC=lan", kUsersFilter, prefs, L"sAMAccountName");
  std::vector<std::wstring> expected = {L"asmith", L"bjones", L"vbaker", L"xevans", L"cwhite", L"dgreen",
                                        L"ebrown", L"fblack", L"gwood",  L"hking",  L"wwang"};
  EXPECT_EQ(rows, expected);
  rows = Search(L"GC://DC=test,DC=lan", kUsersFilter, prefs, L"sAMAccountName");
  EXPECT_EQ(rows.size(), 32u);  // every live person account; no computer, contact or deleted user
  for (const std::wstring& r : rows) {
    EXPECT_NE(r, L"olduser");
    EXPECT_NE(r.back(), L'$');
  }
  // Without the isDeleted term the deleted user comes back.
  rows = Search(L"GC://DC=test,DC=lan", L"(&(objectClass=user)(objectCategory=Person))", prefs, L"sAMAccountName");
  EXPECT_EQ(rows.size(), 33u);
}

TEST_F(DomainDirectoryTest, UserSearchByNameAndLogonName) {
  std::vector<ADS_SEARCHPREF_INFO> prefs = {Pref(ADS_SEARCHPREF_SEARCH_SCOPE, ADS_SCOPE_SUBTREE),
                                            Pref(ADS_SEARCHPREF_PAGESIZE, 100)};
  std::wstring base = L"(&(objectClass=user)(objectCategory=Person)(!(isDeleted=TRUE))";
  auto rows = Search(L"LDAP://DC=test,DC=lan", (base + L"(cn=J*)(sAMAccountName=j*))").c_str(), prefs,
                     L"sAMAccountName");
  EXPECT_EQ(rows, (std::vector<std::wstring>{L"jdoe", L"jlee"}));
  rows = Search(L"LDAP://DC=test,DC=lan", (base + L"(cn=*a*n*))").c_str(), prefs, L"sAMAccountName");
  // An "a" somewhere before an "n", in directory order.
  EXPECT_EQ(rows, (std::vector<std::wstring>{L"Administrator", L"xevans", L"dgreen", L"fblack", L"ijames",
                                             L"kmartin", L"lnguyen", L"pyoung", L"qallen"}));
}

TEST_F(DomainDirectoryTest, LargeSearchIsReadInPages) {
  GeneratedDomain shape;
  shape.accounts = 2500;
  shape.organizationalUnits = 40;
  DomainError error;
  ASSERT_TRUE(store_.LoadText(GenerateDomainLdif(shape), "generated.ldif", &error)) << error.ToString();
  uint64_t pagesBefore = directory_.PagesServed();
  auto rows = Search(L"GC://DC=test,DC=lan", kUsersFilter,
                     {Pref(ADS_SEARCHPREF_SEARCH_SCOPE, ADS_SCOPE_SUBTREE), Pref(ADS_SEARCHPREF_PAGESIZE, 100)},
                     L"sAMAccountName");
  EXPECT_EQ(rows.size(), 2500u);
  EXPECT_EQ(directory_.PagesServed() - pagesBefore, 25u);
  EXPECT_EQ(std::set<std::wstring>(rows.begin(), rows.end()).size(), rows.size());
  // Directory order: Unit0001's sub-unit Unit0021 comes before Unit0001's own
  // accounts, as it does in the file.
  EXPECT_EQ(rows.front(), L"user000021");
}

TEST_F(DomainDirectoryTest, ColumnsCarryTheirTypes) {
  IDirectorySearchPort* search = nullptr;
  ASSERT_EQ(directory_.BindSearch(L"LDAP://CN=John Doe,CN=Users,DC=test,DC=lan", &search), S_OK);
  ADS_SEARCHPREF_INFO base = Pref(ADS_SEARCHPREF_SEARCH_SCOPE, ADS_SCOPE_BASE);
  ASSERT_EQ(search->SetSearchPreference(&base, 1), S_OK);
  const wchar_t* attributes[] = {L"distinguishedName", L"objectCategory", L"cn", L"objectClass",
                                 L"userAccountControl", L"ou", L"scriptPath"};
  ADS_SEARCH_HANDLE handle;
  ASSERT_EQ(search->ExecuteSearch(L"(objectClass=*)", attributes, 7, &handle), S_OK);
  ASSERT_EQ(search->GetFirstRow(handle), S_OK);
  ADS_SEARCH_COLUMN col;
  ASSERT_EQ(search->GetColumn(handle, L"distinguishedName", &col), S_OK);
  EXPECT_EQ(col.dwADsType, ADSTYPE_DN_STRING);
  EXPECT_STREQ(col.pADsValues[0].DNString, L"CN=John Doe,CN=Users,DC=test,DC=lan");
  EXPECT_EQ(search->FreeColumn(&col), S_OK);
  ASSERT_EQ(search->GetColumn(handle, L"objectCategory", &col), S_OK);
  EXPECT_EQ(col.pADsValues[0].dwType, ADSTYPE_DN_STRING);
  EXPECT_EQ(std::wstring(col.pADsValues[0].DNString).rfind(L"CN=Person,", 0), 0u);
  search->FreeColumn(&col);
  ASSERT_EQ(search->GetColumn(handle, L"CN", &col), S_OK);  // attribute names without case
  EXPECT_EQ(col.dwADsType, ADSTYPE_CASE_IGNORE_STRING);
  EXPECT_STREQ(col.pADsValues[0].CaseIgnoreString, L"John Doe");
  search->FreeColumn(&col);
  ASSERT_EQ(search->GetColumn(handle, L"objectClass", &col), S_OK);
  EXPECT_EQ(col.dwNumValues, 4u);
  search->FreeColumn(&col);
  ASSERT_EQ(search->GetColumn(handle, L"userAccountControl", &col), S_OK);
  EXPECT_EQ(col.dwADsType, ADSTYPE_INTEGER);
  EXPECT_EQ(col.pADsValues[0].Integer, 513u);
  search->FreeColumn(&col);
  ASSERT_EQ(search->GetColumn(handle, L"scriptPath", &col), S_OK);  // LDAP serves it, the GC does not
  search->FreeColumn(&col);
  EXPECT_EQ(search->GetColumn(handle, L"ou", &col), E_ADS_COLUMN_NOT_SET);              // no value
  EXPECT_EQ(search->GetColumn(handle, L"sAMAccountName", &col), E_ADS_COLUMN_NOT_SET);  // not asked for
  EXPECT_EQ(search->FreeColumn(&col), E_ADS_BAD_PARAMETER);  // nothing to free
  EXPECT_EQ(search->GetNextRow(handle), S_ADS_NOMORE_ROWS);
  EXPECT_EQ(search->GetColumn(handle, L"cn", &col), E_ADS_COLUMN_NOT_SET);  // no current row
  EXPECT_EQ(search->CloseSearchHandle(handle), S_OK);
  EXPECT_EQ(search->CloseSearchHandle(handle), E_ADS_BAD_PARAMETER);
  search->Release();

  ASSERT_EQ(directory_.BindSearch(L"GC://CN=John Doe,CN=Users,DC=test,DC=lan", &search), S_OK);
  ASSERT_EQ(search->ExecuteSearch(L"(cn=*)", attributes, 7, &handle), S_OK);
  ASSERT_EQ(search->GetFirstRow(handle), S_OK);
  EXPECT_EQ(search->GetColumn(handle, L"scriptPath", &col), E_ADS_COLUMN_NOT_SET);
  search->CloseSearchHandle(handle);
  search->Release();
  EXPECT_EQ(directory_.OpenSearches(), 0);
}

TEST_F(DomainDirectoryTest, RefusesBadPathsPreferencesAndFilters) {
  IDirectorySearchPort* search = reinterpret_cast<IDirectorySearchPort*>(&store_);
  EXPECT_EQ(directory_.BindSearch(L"GC://OU=North,DC=test,DC=lan", &search), kDirNoSuchObject);
  EXPECT_EQ(search, nullptr);
  EXPECT_EQ(directory_.BindSearch(L"ldap://DC=test,DC=lan", &search), E_ADS_BAD_PATHNAME);
  EXPECT_EQ(directory_.BindSearch(L"LDAP://not a name", &search), E_ADS_BAD_PATHNAME);
  EXPECT_EQ(directory_.BindSearch(L"LDAP://OTHERDC/DC=test,DC=lan", &search), kDirServerDown);
  ASSERT_EQ(directory_.BindSearch(L"LDAP://dc1.test.lan/DC=test,DC=lan", &search), S_OK);
  search->Release();

  directory_.SetRefuseGlobalCatalog(true);
  EXPECT_EQ(directory_.BindSearch(L"GC://DC=test,DC=lan", &search), kDirServerDown);
  ASSERT_EQ(directory_.BindSearch(L"LDAP://DC=test,DC=lan", &search), S_OK);

  ADS_SEARCHPREF_INFO prefs[] = {Pref(ADS_SEARCHPREF_SEARCH_SCOPE, ADS_SCOPE_ONELEVEL),
                                 Pref(ADS_SEARCHPREF_SORT_ON, 0)};
  EXPECT_TRUE(FAILED(search->SetSearchPreference(prefs, 2)));
  EXPECT_EQ(prefs[1].dwStatus, ADS_STATUS_INVALID_SEARCHPREF);
  prefs[1] = Pref(ADS_SEARCHPREF_SEARCH_SCOPE, 7);
  EXPECT_TRUE(FAILED(search->SetSearchPreference(prefs, 2)));
  EXPECT_EQ(prefs[1].dwStatus, ADS_STATUS_INVALID_SEARCHPREFVALUE);

  const wchar_t* attributes[] = {L"cn"};
  ADS_SEARCH_HANDLE handle = nullptr;
  // A typed parenthesis makes the search fail.
  EXPECT_EQ(search->ExecuteSearch(L"(&(objectClass=user)(cn=Jo(hn*))", attributes, 1, &handle),
            E_ADS_INVALID_FILTER);
  EXPECT_EQ(handle, nullptr);
  // The refused preferences left the scope at subtree: every user of the domain.
  ASSERT_EQ(search->ExecuteSearch(kUsersFilter, attributes, 1, &handle), S_OK);
  int rows = 0;
  for (HRESULT hr = search->GetFirstRow(handle); hr == S_OK; hr = search->GetNextRow(handle)) ++rows;
  EXPECT_EQ(rows, 32);
  // Abandoning ends the rows.
  ASSERT_EQ(search->GetFirstRow(handle), S_OK);
  EXPECT_EQ(search->AbandonSearch(handle), S_OK);
  EXPECT_EQ(search->GetNextRow(handle), S_ADS_NOMORE_ROWS);
  search->CloseSearchHandle(handle);
  search->Release();
  EXPECT_EQ(directory_.OpenSearches(), 0);
}

TEST_F(DomainDirectoryTest, ReadsTheRootDse) {
  wchar_t value[64] = L"untouched";
  DWORD length = 0;
  BOOL isString = FALSE;
  ASSERT_EQ(directory_.GetObjectString(L"LDAP://rootDSE", L"defaultNamingContext", value, 64, &length, &isString),
            S_OK);
  EXPECT_STREQ(value, L"DC=test,DC=lan");
  EXPECT_EQ(length, 14u);
  EXPECT_TRUE(isString);
  // A buffer that only just lacks room for the terminator is left alone.
  wchar_t small[14];
  std::wmemcpy(small, L"untouched", 10);
  ASSERT_EQ(directory_.GetObjectString(L"LDAP://rootDSE", L"defaultNamingContext", small, 14, &length, &isString),
            S_OK);
  EXPECT_STREQ(small, L"untouched");
  EXPECT_EQ(length, 14u);
  EXPECT_EQ(directory_.GetObjectString(L"LDAP://rootDSE", L"noSuchAttribute", value, 64, &length, &isString),
            E_ADS_PROPERTY_NOT_FOUND);
  ASSERT_EQ(directory_.GetObjectString(L"LDAP://CN=John Doe,CN=Users,DC=test,DC=lan", L"scriptPath", value, 64,
                                       &length, &isString),
            S_OK);
  EXPECT_STREQ(value, L"Qeljdoe.bat");
}

}  // namespace
}  // namespace qel
