#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/netapi_types.h"
#include "tests/fakes/fake_loader.h"
#include "tests/fakes/fault_plan.h"
#include "tests/fakes/host/host_test_env.h"
#include "wizard/startup.h"

namespace qel {
namespace {

// What the fake locator answers.
std::string g_controller;  // with its two backslashes
DWORD g_locatorResult = 0;
ULONG g_flagsSeen = 0;
int g_dsCalls = 0;
int g_netCalls = 0;
int g_freed = 0;

NET_API_STATUS WINAPI FakeBufferFree(LPVOID buffer) {
  ++g_freed;
  std::free(buffer);
  return 0;
}

DWORD WINAPI FakeDsGetDcName(LPCSTR, LPCSTR, GUID*, LPCSTR, ULONG flags, PDOMAIN_CONTROLLER_INFOA* info) {
  ++g_dsCalls;
  g_flagsSeen = flags;
  if (g_locatorResult != 0) return g_locatorResult;
  // One block, as the real locator allocates it: the record, then the text.
  size_t size = sizeof(DOMAIN_CONTROLLER_INFOA) + g_controller.size() + 1;
  auto* block = static_cast<char*>(std::calloc(1, size));
  auto* record = reinterpret_cast<DOMAIN_CONTROLLER_INFOA*>(block);
  record->DomainControllerName = block + sizeof(DOMAIN_CONTROLLER_INFOA);
  std::memcpy(record->DomainControllerName, g_controller.c_str(), g_controller.size() + 1);
  *info = record;
  return 0;
}

NET_API_STATUS WINAPI FakeNetGetDCName(LPCWSTR, LPCWSTR, LPBYTE* buffer) {
  ++g_netCalls;
  if (g_locatorResult != 0) return g_locatorResult;
  auto* text = static_cast<wchar_t*>(std::calloc(g_controller.size() + 1, sizeof(wchar_t)));
  for (size_t i = 0; i < g_controller.size(); ++i) text[i] = static_cast<unsigned char>(g_controller[i]);
  *buffer = reinterpret_cast<LPBYTE>(text);
  return 0;
}

// The table's entry points are never called by the gate.
NET_API_STATUS WINAPI Unused() { return 0; }

test::HostTestOptions Options(const std::string& computer, DWORD version) {
  test::HostTestOptions options;
  options.computerName = computer;
  options.version = version;
  return options;
}

struct GateWorld {
  explicit GateWorld(const std::string& computer, DWORD version = 0x1DB10106) : env(Options(computer, version)) {
    g_controller = "\\\\DC01";
    g_locatorResult = 0;
    g_flagsSeen = 0;
    g_dsCalls = g_netCalls = g_freed = 0;
    loader.AddModule("netapi32.dll");
    for (const char* name : {"NetGroupGetUsers", "NetUserGetInfo", "NetUserSetInfo", "NetQueryDisplayInformation"}) {
      loader.AddProc("netapi32.dll", name, &Unused);
    }
    loader.AddProc("netapi32.dll", "NetApiBufferFree", &FakeBufferFree);
    loader.AddProc("netapi32.dll", "DsGetDcNameA", &FakeDsGetDcName);
    loader.AddProc("netapi32.dll", "NetGetDCName", &FakeNetGetDCName);
    Ports().loader = &loader;
  }

  // Runs the start-up; returns the message shown (0 for none).
  UINT Start() {
    UINT shown = 0;
    StartupHooks hooks;
    hooks.showMessage = [&](UINT id) { shown = id; };
    hooks.runWizard = [&] { ++wizardRuns; };
    CScriptWizardApp app(state);
    EXPECT_FALSE(app.InitInstance(hooks));
    return shown;
  }

  test::HostTestEnv env;
  test::ScopedPorts ports;
  test::FakeLoader loader;
  WizardState state;
  int wizardRuns = 0;
};

TEST(StartupGate, TheControllerItselfRunsTheWizard) {
  GateWorld w("DC01");
  EXPECT_EQ(w.Start(), 0u);
  EXPECT_EQ(w.wizardRuns, 1);
  EXPECT_STREQ(w.state.m_szDCName, "DC01");
  EXPECT_EQ(w.state.m_dwMajorVersion, 6u);
  EXPECT_EQ(g_flagsSeen, 0x80001200u);
  EXPECT_EQ(g_freed, 1);
  EXPECT_EQ(w.loader.OpenCount("netapi32.dll"), 1);  // the table's load stays; the locator's is freed
}

TEST(StartupGate, NamesThatDifferOnlyInCaseAreEqual) {
  GateWorld w("dc01");
  EXPECT_EQ(w.Start(), 0u);
  EXPECT_EQ(w.wizardRuns, 1);
}

TEST(StartupGate, AnotherComputerOfTheDomainGets121) {
  GateWorld w("WS07");
  EXPECT_EQ(w.Start(), 121u);
  EXPECT_EQ(w.wizardRuns, 0);
}

TEST(StartupGate, NoDomainGets122WhateverTheLocatorSays) {
  for (DWORD error : {1355u, 1722u, 120u}) {
    GateWorld w("DC01");
    g_locatorResult = error;
    EXPECT_EQ(w.Start(), 122u) << error;
    EXPECT_EQ(w.wizardRuns, 0);
    EXPECT_EQ(w.loader.OpenCount("netapi32.dll"), 1);  // freed again after the failed call
  }
}

TEST(StartupGate, AMissingTableEntryPointGets121) {
  for (const char* proc : {"NetGroupGetUsers", "NetApiBufferFree", "NetUserGetInfo", "NetUserSetInfo",
                           "NetQueryDisplayInformation"}) {
    GateWorld w("DC01");
    w.loader.RemoveProc("netapi32.dll", proc);
    EXPECT_EQ(w.Start(), 121u) << proc;
    EXPECT_EQ(g_dsCalls, 0);
  }
}

TEST(StartupGate, AMissingLocatorGets122AndFreesTheLibrary) {
  GateWorld w("DC01");
  w.loader.RemoveProc("netapi32.dll", "DsGetDcNameA");
  char name[260] = {};
  EXPECT_EQ(FindDomainControllerName(name), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(w.loader.OpenCount("netapi32.dll"), 0);
  EXPECT_EQ(w.Start(), 122u);
}

TEST(StartupGate, BeforeVersion5TheOldLocatorIsAskedAndItsNameConverted) {
  GateWorld w("DC01", 0x05650004);  // 4.0
  EXPECT_EQ(w.Start(), 0u);
  EXPECT_EQ(g_netCalls, 1);
  EXPECT_EQ(g_dsCalls, 0);
  EXPECT_EQ(g_freed, 1);
  EXPECT_STREQ(w.state.m_szDCName, "DC01");
  EXPECT_EQ(w.state.m_dwMajorVersion, 4u);
}

TEST(StartupGate, DoubleByteNamesCompareByWholeCharacters) {
  test::HostTestOptions options;
  options.codePage = 936;
  test::HostTestEnv env(options);
  // "\xB5\x61" is one character whose second byte is 'a': no case folding inside it.
  EXPECT_EQ(MbsICmp("\xB5\x61" "B", "\xB5\x61" "b"), 0);
  EXPECT_NE(MbsICmp("\xB5\x61", "\xB5\x41"), 0);
  EXPECT_NE(MbsICmp("DC01", "DC011"), 0);
}

// A directory whose rootDSE answers with a chosen naming context.
class FakeDirectory : public IDirectoryPort {
 public:
  DWORD LoadProvider() override { return loadError; }
  void FreeProvider() override { ++frees; }
  HRESULT CoInitialize() override { return S_OK; }
  void CoUninitialize() override {}
  HRESULT BindSearch(const wchar_t*, IDirectorySearchPort**) override { return E_FAIL; }
  HRESULT GetObjectString(const wchar_t* path, const wchar_t* attribute, wchar_t* value, DWORD capacity,
                          DWORD* length, BOOL* isString) override {
    if (!bound) return HRESULT_FROM_WIN32(1355);
    EXPECT_EQ(std::wstring(path), L"LDAP://rootDSE");
    EXPECT_EQ(std::wstring(attribute), L"defaultNamingContext");
    *length = static_cast<DWORD>(context.size());
    *isString = TRUE;
    if (capacity > context.size()) std::wcscpy(value, context.c_str());
    return S_OK;
  }
  std::wstring context = L"DC=test,DC=lan";
  bool bound = true;
  DWORD loadError = 0;
  int frees = 0;
};

struct NamingWorld {
  NamingWorld() { Ports().directory = &directory; }
  test::ScopedPorts ports;
  FakeDirectory directory;
};

TEST(DefaultNamingContext, CapacityEqualToTheLengthCopiesNothing) {
  NamingWorld w;
  wchar_t buffer[32] = L"untouched";
  DWORD capacity = 14;  // "DC=test,DC=lan" has 14 characters: no room for the terminator
  EXPECT_EQ(GetDefaultNamingContext(buffer, &capacity), 0u);
  EXPECT_EQ(capacity, 14u);
  EXPECT_EQ(std::wstring(buffer), L"untouched");
}

TEST(DefaultNamingContext, OneMoreCopiesTheValueAndItsTerminator) {
  NamingWorld w;
  wchar_t buffer[32];
  std::wmemset(buffer, L'#', 32);
  DWORD capacity = 15;
  EXPECT_EQ(GetDefaultNamingContext(buffer, &capacity), 1u);
  EXPECT_EQ(std::wstring(buffer), L"DC=test,DC=lan");
  EXPECT_EQ(buffer[15], L'#');
  EXPECT_EQ(w.directory.frees, 0);  // the provider stays loaded
}

TEST(DefaultNamingContext, UnboundRootGivesZeroAndLeavesTheBuffer) {
  NamingWorld w;
  w.directory.bound = false;
  wchar_t buffer[8] = L"keep";
  DWORD capacity = 8;
  EXPECT_EQ(GetDefaultNamingContext(buffer, &capacity), 0u);
  EXPECT_EQ(capacity, 0u);
  EXPECT_EQ(std::wstring(buffer), L"keep");
}

TEST(DefaultNamingContext, NullCapacityAndMissingProvider) {
  NamingWorld w;
  wchar_t buffer[32] = L"keep";
  EXPECT_EQ(GetDefaultNamingContext(buffer, nullptr), 0u);
  w.directory.loadError = ERROR_MOD_NOT_FOUND;
  DWORD capacity = 32;
  EXPECT_EQ(GetDefaultNamingContext(buffer, &capacity), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(capacity, 32u);
  EXPECT_EQ(std::wstring(buffer), L"keep");
}

TEST(DefaultNamingContext, LongValuesAreReadWhole) {
  NamingWorld w;
  w.directory.context = std::wstring(3000, L'x');
  std::vector<wchar_t> buffer(3001);
  DWORD capacity = 3001;
  EXPECT_EQ(GetDefaultNamingContext(buffer.data(), &capacity), 1u);
  EXPECT_EQ(std::wstring(buffer.data()), w.directory.context);
}

}  // namespace
}  // namespace qel
