// Events, waits, threads and mutexes: the Windows semantics the directory
// back-ends, the progress page, the deployment run and the checker rely on.
#include <atomic>
#include <string>

#include "tests/platform_system/ports_under_test.h"

#ifndef _WIN32
#include <filesystem>
#include <fstream>

#include "platform/host/host_ports.h"
#endif

namespace qel::test {
namespace {

class SyncTest : public PortsTest {
 protected:
  // A name no other test run uses, for the named mutexes of one test.
  std::string UniqueName(const char* tag) {
    return std::string("QelPortTest ") + tag + " " + std::to_string(System().GetCurrentProcessId()) + " " +
           std::to_string(System().GetTickCount());
  }
};

TEST_F(SyncTest, AutoResetEventIsConsumedByTheWaitThatReportsIt) {
  HANDLE event = Sync().CreateEventA(FALSE, TRUE, nullptr);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(Sync().WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(Sync().WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(Sync().SetEvent(event));
  EXPECT_EQ(Sync().WaitForSingleObject(event, 10), WAIT_OBJECT_0);
  EXPECT_EQ(Sync().WaitForSingleObject(event, 10), WAIT_TIMEOUT);
  EXPECT_TRUE(Sync().CloseHandle(event));
}

TEST_F(SyncTest, ManualResetEventStaysSignalledUntilReset) {
  HANDLE event = Sync().CreateEventA(TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(Sync().WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(Sync().SetEvent(event));
  EXPECT_EQ(Sync().WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(Sync().WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(Sync().ResetEvent(event));
  EXPECT_EQ(Sync().WaitForSingleObject(event, 20), WAIT_TIMEOUT);
  EXPECT_TRUE(Sync().CloseHandle(event));
}

TEST_F(SyncTest, WaitAnyReportsTheLowestSignalledIndexAndConsumesOnlyIt) {
  HANDLE events[3];
  for (HANDLE& e : events) {
    e = Sync().CreateEventA(FALSE, FALSE, nullptr);
    ASSERT_NE(e, nullptr);
  }
  EXPECT_EQ(Sync().WaitForMultipleObjects(3, events, FALSE, 0), WAIT_TIMEOUT);
  Sync().SetEvent(events[2]);
  Sync().SetEvent(events[1]);
  EXPECT_EQ(Sync().WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
  // Event 2 was not reported, so it is still signalled.
  EXPECT_EQ(Sync().WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(Sync().WaitForMultipleObjects(3, events, FALSE, 0), WAIT_TIMEOUT);
  for (HANDLE e : events) Sync().CloseHandle(e);
}

TEST_F(SyncTest, WaitAllWaitsForEveryObjectAndConsumesThemTogether) {
  HANDLE events[2] = {Sync().CreateEventA(FALSE, TRUE, nullptr), Sync().CreateEventA(TRUE, FALSE, nullptr)};
  EXPECT_EQ(Sync().WaitForMultipleObjects(2, events, TRUE, 10), WAIT_TIMEOUT);
  // A wait-all that times out takes nothing: the auto-reset event is still set.
  EXPECT_EQ(Sync().WaitForSingleObject(events[0], 0), WAIT_OBJECT_0);
  Sync().SetEvent(events[0]);
  Sync().SetEvent(events[1]);
  EXPECT_EQ(Sync().WaitForMultipleObjects(2, events, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(Sync().WaitForSingleObject(events[0], 0), WAIT_TIMEOUT);  // auto: consumed
  EXPECT_EQ(Sync().WaitForSingleObject(events[1], 0), WAIT_OBJECT_0);  // manual: stays
  for (HANDLE e : events) Sync().CloseHandle(e);
}

// The stop check of the deployment run: pause (manual) first, stop (auto) second.
TEST_F(SyncTest, PauseBeforeStopOrderOfTheStopCheck) {
  HANDLE pause = Sync().CreateEventA(TRUE, TRUE, nullptr);
  HANDLE stop = Sync().CreateEventA(FALSE, FALSE, nullptr);
  HANDLE both[2] = {pause, stop};
  Sync().SetEvent(stop);
  EXPECT_EQ(Sync().WaitForMultipleObjects(2, both, FALSE, INFINITE), WAIT_OBJECT_0);
  Sync().ResetEvent(pause);
  EXPECT_EQ(Sync().WaitForMultipleObjects(2, both, FALSE, INFINITE), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(Sync().WaitForMultipleObjects(2, both, FALSE, 30), WAIT_TIMEOUT);
  Sync().CloseHandle(pause);
  Sync().CloseHandle(stop);
}

TEST_F(SyncTest, WaitOnANullOrClosedHandleFails) {
  QelSetLastError(0);
  EXPECT_EQ(Sync().WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  HANDLE event = Sync().CreateEventA(TRUE, TRUE, nullptr);
  HANDLE mixed[2] = {event, nullptr};
  QelSetLastError(0);
  EXPECT_EQ(Sync().WaitForMultipleObjects(2, mixed, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  Sync().CloseHandle(event);
  EXPECT_FALSE(Sync().SetEvent(nullptr));
}

struct ThreadData {
  HANDLE go = nullptr;
  HANDLE done = nullptr;
  std::atomic<int> steps{0};
};

DWORD WINAPI WaitThenSignal(LPVOID parameter) {
  auto* data = static_cast<ThreadData*>(parameter);
  if (Sync().WaitForSingleObject(data->go, 10000) == WAIT_OBJECT_0) data->steps++;
  Sync().SetEvent(data->done);
  return 0;
}

TEST_F(SyncTest, ThreadHandleIsSignalledWhenTheThreadEnds) {
  ThreadData data;
  data.go = Sync().CreateEventA(FALSE, FALSE, nullptr);
  data.done = Sync().CreateEventA(TRUE, FALSE, nullptr);
  DWORD id = 0;
  HANDLE thread = Sync().CreateThread(&WaitThenSignal, &data, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(Sync().WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
  Sync().SetEvent(data.go);
  EXPECT_EQ(Sync().WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(Sync().WaitForSingleObject(thread, 0), WAIT_OBJECT_0);  // stays signalled
  EXPECT_EQ(data.steps.load(), 1);
  EXPECT_EQ(Sync().WaitForSingleObject(data.done, 0), WAIT_OBJECT_0);
  Sync().CloseHandle(thread);
  Sync().CloseHandle(data.go);
  Sync().CloseHandle(data.done);
}

TEST_F(SyncTest, ClosingAThreadHandleDoesNotStopTheThread) {
  ThreadData data;
  data.go = Sync().CreateEventA(FALSE, FALSE, nullptr);
  data.done = Sync().CreateEventA(TRUE, FALSE, nullptr);
  HANDLE thread = Sync().CreateThread(&WaitThenSignal, &data, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(Sync().CloseHandle(thread));
  Sync().SetEvent(data.go);
  EXPECT_EQ(Sync().WaitForSingleObject(data.done, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(data.steps.load(), 1);
  Sync().CloseHandle(data.go);
  Sync().CloseHandle(data.done);
}

struct MutexProbe {
  HANDLE mutex = nullptr;
  DWORD result = 0;
  BOOL released = TRUE;
};

DWORD WINAPI ProbeMutex(LPVOID parameter) {
  auto* probe = static_cast<MutexProbe*>(parameter);
  probe->result = Sync().WaitForSingleObject(probe->mutex, 0);
  probe->released = Sync().ReleaseMutex(probe->mutex);
  return 0;
}

TEST_F(SyncTest, MutexIsOwnedByOneThreadRecursively) {
  HANDLE mutex = Sync().CreateMutexA(TRUE, nullptr);
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(Sync().WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // owner again: count 2

  MutexProbe probe;
  probe.mutex = mutex;
  HANDLE thread = Sync().CreateThread(&ProbeMutex, &probe, nullptr);
  ASSERT_EQ(Sync().WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  Sync().CloseHandle(thread);
  EXPECT_EQ(probe.result, WAIT_TIMEOUT);
  EXPECT_FALSE(probe.released);  // not the owner

  EXPECT_TRUE(Sync().ReleaseMutex(mutex));
  EXPECT_TRUE(Sync().ReleaseMutex(mutex));
  QelSetLastError(0);
  EXPECT_FALSE(Sync().ReleaseMutex(mutex));
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));

  thread = Sync().CreateThread(&ProbeMutex, &probe, nullptr);
  ASSERT_EQ(Sync().WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  Sync().CloseHandle(thread);
  EXPECT_EQ(probe.result, WAIT_OBJECT_0);
  EXPECT_TRUE(probe.released);
  Sync().CloseHandle(mutex);
}

TEST_F(SyncTest, NamedMutexExistsWhileAHandleIsOpen) {
  std::string name = UniqueName("exists");
  QelSetLastError(0);
  EXPECT_EQ(Sync().OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  HANDLE created = Sync().CreateMutexA(FALSE, name.c_str());
  ASSERT_NE(created, nullptr);
  HANDLE opened = Sync().OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str());
  ASSERT_NE(opened, nullptr);
  HANDLE again = Sync().CreateMutexA(FALSE, name.c_str());
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

  // "Global\X" is another name than "X" in the session.
  std::string global = "Global\\" + name;
  QelSetLastError(0);
  EXPECT_EQ(Sync().OpenMutexA(MUTEX_ALL_ACCESS, FALSE, global.c_str()), nullptr);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  Sync().CloseHandle(created);
  Sync().CloseHandle(again);
  HANDLE still = Sync().OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str());
  EXPECT_NE(still, nullptr);
  if (still != nullptr) Sync().CloseHandle(still);
  Sync().CloseHandle(opened);
  EXPECT_EQ(Sync().OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(SyncTest, NamedMutexOfAnotherProcessIsSeenAndGoesWithIt) {
  std::string name = UniqueName("process");
  std::string global = "Global\\" + name;
  std::string command = ProgramPath("qel_mutex_holder") + " " + MutexFolderArgument() + " \"" + name + "\" 1500";
  UINT started = System().WinExec(command.c_str(), SW_HIDE);
  ASSERT_GT(started, 31u) << command;

  HANDLE seen = nullptr;
  EXPECT_TRUE(Eventually([&] { return (seen = Sync().OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str())) != nullptr; },
                         15000));
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(Sync().OpenMutexA(MUTEX_ALL_ACCESS, FALSE, global.c_str()), nullptr);
  // Owned by the other process: not ours to take now.
  EXPECT_EQ(Sync().WaitForSingleObject(seen, 0), WAIT_TIMEOUT);
  // The holder ends without releasing it: the wait gets it, abandoned.
  EXPECT_EQ(Sync().WaitForSingleObject(seen, 20000), WAIT_ABANDONED);
  EXPECT_TRUE(Sync().ReleaseMutex(seen));
  Sync().CloseHandle(seen);
  EXPECT_TRUE(Eventually([&] {
    HANDLE h = Sync().OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str());
    if (h != nullptr) Sync().CloseHandle(h);
    return h == nullptr && QelGetLastError() == ERROR_FILE_NOT_FOUND;
  }, 20000));
}

TEST_F(SyncTest, GlobalNamedMutexOfAnotherProcessIsSeenUnderItsOwnName) {
  std::string name = UniqueName("global");
  std::string global = "Global\\" + name;
  std::string command = ProgramPath("qel_mutex_holder") + " " + MutexFolderArgument() + " \"" + global + "\" 1000";
  ASSERT_GT(System().WinExec(command.c_str(), SW_HIDE), 31u) << command;
  HANDLE seen = nullptr;
  EXPECT_TRUE(Eventually([&] { return (seen = Sync().OpenMutexA(MUTEX_ALL_ACCESS, FALSE, global.c_str())) != nullptr; },
                         15000));
  if (seen != nullptr) Sync().CloseHandle(seen);
  EXPECT_EQ(Sync().OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str()), nullptr);
  EXPECT_TRUE(Eventually([&] {
    HANDLE h = Sync().OpenMutexA(MUTEX_ALL_ACCESS, FALSE, global.c_str());
    if (h != nullptr) Sync().CloseHandle(h);
    return h == nullptr;
  }, 20000));
}

#ifndef _WIN32
TEST_F(SyncTest, HostMutexOfAnotherUserIsAccessDenied) {
  std::string name = UniqueName("denied");
  std::string lock = HostMutexLockPath(env_->config(), name);
  std::ofstream(lock + ".denied").put('\n');
  QelSetLastError(0);
  EXPECT_EQ(Sync().OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Sync().CreateMutexA(FALSE, name.c_str()), nullptr);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  std::filesystem::remove(lock + ".denied");
  EXPECT_EQ(Sync().OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(QelGetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(SyncTest, HostMutexNamesMapToDistinctLockFiles) {
  const HostConfig& config = env_->config();
  EXPECT_NE(HostMutexLockPath(config, "Global\\Orvane Setup"), HostMutexLockPath(config, "Orvane Setup"));
  EXPECT_NE(HostMutexLockPath(config, "a/b"), HostMutexLockPath(config, "a%2Fb"));
  EXPECT_EQ(HostMutexLockPath(config, "a/b").rfind(config.mutexDir + "/", 0), 0u);
}
#endif

}  // namespace
}  // namespace qel::test
