// The fakes other tests build on: a loader with chosen gaps, and the
// fault-injecting system and sync ports.
#include "tests/fakes/fake_loader.h"
#include "tests/fakes/faulty_sync.h"
#include "tests/fakes/faulty_system.h"
#include "tests/platform_system/ports_under_test.h"

namespace qel::test {
namespace {

using FakesTest = PortsTest;

int WINAPI Answer() { return 42; }

TEST_F(FakesTest, LoaderHidesSingleEntryPointsOfARealModule) {
  FakeLoader loader(&Loader());
  loader.RemoveProc("netapi32.dll", "NetQueryDisplayInformation");
  HMODULE netapi = loader.LoadLibraryA("NetApi32.dll");
  ASSERT_NE(netapi, nullptr);
  EXPECT_NE(loader.GetProcAddress(netapi, "NetUserSetInfo"), nullptr);
  QelSetLastError(0);
  EXPECT_EQ(loader.GetProcAddress(netapi, "NetQueryDisplayInformation"), nullptr);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(loader.OpenCount("netapi32"), 1);
  EXPECT_TRUE(loader.FreeLibrary(netapi));
  EXPECT_EQ(loader.OpenCount("netapi32"), 0);
}

TEST_F(FakesTest, LoaderMissingAndRegisteredModules) {
  FakeLoader loader(&Loader());
  loader.RemoveModule("Kernel32.dll");
  QelSetLastError(0);
  EXPECT_EQ(loader.LoadLibraryA("kernel32"), nullptr);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

  loader.AddProc("Stand-in.dll", "Answer", &Answer);
  HMODULE module = loader.LoadLibraryA("C:\\Somewhere\\STAND-IN.DLL");
  ASSERT_NE(module, nullptr);
  auto answer = reinterpret_cast<int(WINAPI*)()>(loader.GetProcAddress(module, "Answer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_EQ(loader.GetProcAddress(module, "Question"), nullptr);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));

  FakeLoader bare;
  EXPECT_EQ(bare.LoadLibraryA("Kernel32.dll"), nullptr);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST_F(FakesTest, FaultySyncFailsThePlannedCallsOnly) {
  FaultySync sync(&Sync());
  sync.plan().Fail("CreateEventA", ERROR_NOT_ENOUGH_MEMORY, 1, 1);
  HANDLE first = sync.CreateEventA(TRUE, TRUE, nullptr);
  EXPECT_NE(first, nullptr);
  QelSetLastError(0);
  EXPECT_EQ(sync.CreateEventA(TRUE, TRUE, nullptr), nullptr);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  sync.plan().Fail("WaitForMultipleObjects", ERROR_INVALID_HANDLE);
  EXPECT_EQ(sync.WaitForMultipleObjects(1, &first, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(sync.WaitForMultipleObjects(1, &first, FALSE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(sync.plan().Calls("CreateEventA"), 2);
  EXPECT_TRUE(sync.CloseHandle(first));
}

TEST_F(FakesTest, FaultySystemPinsVersionAndTimeAndRecordsWinExec) {
  FaultySystem system(&System());
  system.SetVersion(0x0ECE0205);
  EXPECT_EQ(system.GetVersion() & 0xFF, 5u);
  SYSTEMTIME fixed = {2026, 3, 6, 7, 8, 9, 10, 5};
  system.SetLocalTime(fixed);
  SYSTEMTIME seen = {};
  system.GetLocalTime(&seen);
  EXPECT_EQ(seen.wMonth, 3);
  EXPECT_EQ(seen.wMilliseconds, 5);
  system.RecordWinExec();
  EXPECT_EQ(system.WinExec("\\\\DC01\\NetLogon\\QelSetup.exe", SW_SHOW), 33u);
  ASSERT_EQ(system.WinExecCalls().size(), 1u);
  EXPECT_EQ(system.WinExecCalls()[0], "\\\\DC01\\NetLogon\\QelSetup.exe");

  system.plan().Fail("GetComputerNameA", ERROR_ACCESS_DENIED);
  char name[16];
  DWORD size = sizeof(name);
  EXPECT_FALSE(system.GetComputerNameA(name, &size));
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(system.GetComputerNameA(name, &size));
}

}  // namespace
}  // namespace qel::test
