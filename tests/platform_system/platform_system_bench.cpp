// Costs of the host port calls that sit on hot or start-up paths:
// the stop check run at every copy-progress callback, the checker's test
// for the installer's mutex, and name conversion through code page 936.
#include <benchmark/benchmark.h>

#include "platform/host/host_ports.h"
#include "tests/fakes/host/host_test_env.h"

namespace qel::test {
namespace {

// The stop check while the run is not paused: pause (manual, set) and stop
// (auto) events, wait-any without time-out.
void BM_StopCheckNotPaused(benchmark::State& state) {
  HostTestEnv env;
  HANDLE events[2] = {Sync().CreateEventA(TRUE, TRUE, nullptr), Sync().CreateEventA(FALSE, FALSE, nullptr)};
  for (auto _ : state) benchmark::DoNotOptimize(Sync().WaitForMultipleObjects(2, events, FALSE, INFINITE));
  Sync().CloseHandle(events[0]);
  Sync().CloseHandle(events[1]);
}
BENCHMARK(BM_StopCheckNotPaused);

// OpenMutexA of a mutex nobody holds (the checker's usual case).
void BM_OpenMissingMutex(benchmark::State& state) {
  HostTestEnv env;
  for (auto _ : state) benchmark::DoNotOptimize(Sync().OpenMutexA(MUTEX_ALL_ACCESS, FALSE, "Orvane Setup"));
}
BENCHMARK(BM_OpenMissingMutex);

// OpenMutexA + CloseHandle of a mutex this process holds.
void BM_OpenHeldMutex(benchmark::State& state) {
  HostTestEnv env;
  HANDLE held = Sync().CreateMutexA(TRUE, "Orvane Setup");
  for (auto _ : state) Sync().CloseHandle(Sync().OpenMutexA(MUTEX_ALL_ACCESS, FALSE, "Orvane Setup"));
  Sync().CloseHandle(held);
}
BENCHMARK(BM_OpenHeldMutex);

// An account display name of 12 Chinese characters, to ANSI and back.
void BM_Convert936(benchmark::State& state) {
  HostTestOptions options;
  options.codePage = 936;
  HostTestEnv env(options);
  wchar_t name[13];
  for (int i = 0; i < 12; ++i) name[i] = static_cast<wchar_t>(0x4E00 + i * 37);
  name[12] = 0;
  char ansi[64];
  wchar_t back[32];
  for (auto _ : state) {
    int n = CodePage().WideCharToMultiByte(CP_ACP, 0, name, -1, ansi, sizeof(ansi), nullptr, nullptr);
    benchmark::DoNotOptimize(CodePage().MultiByteToWideChar(CP_ACP, 0, ansi, n, back, 32));
  }
}
BENCHMARK(BM_Convert936);

}  // namespace
}  // namespace qel::test

BENCHMARK_MAIN();
