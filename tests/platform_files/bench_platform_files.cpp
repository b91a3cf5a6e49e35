// What the host adapters cost: the registry reads its whole file on every
// call, and a name in another case than stored is found by scanning its
// folder. These measure both at the sizes a domain controller sees.
#include <benchmark/benchmark.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <string>

#include "platform/host/host_ports.h"

namespace qel {
namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

struct World {
  World() {
    char pattern[] = "/tmp/qel-bench-XXXXXX";
    root = ::mkdtemp(pattern);
    ::mkdir((root + "/C").c_str(), 0755);
    config.root = root;
    config.registryFile = root + "/registry.reg";
  }
  ~World() { ::nftw(root.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS); }
  std::string root;
  HostConfig config;
};

// RegOpenKeyA + RegQueryValueExA + RegCloseKey in a registry of n keys.
void BM_RegistryQuery(benchmark::State& state) {
  World world;
  {
    std::ofstream out(world.config.registryFile, std::ios::binary);
    out << "Windows Registry Editor Version 5.00\r\n\r\n";
    for (int i = 0; i < state.range(0); ++i) {
      out << "[HKEY_LOCAL_MACHINE\\Software\\Vendor" << i << "]\r\n\"Value\"=\"" << i << "\"\r\n\r\n";
    }
    out << "[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Qel]\r\n\"NLogLevel\"=dword:00000002\r\n";
  }
  auto reg = MakeHostRegistry(world.config);
  for (auto _ : state) {
    HKEY key = nullptr;
    DWORD value = 0;
    DWORD size = sizeof value;
    reg->RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Orvane\\Qel", &key);
    reg->RegQueryValueExA(key, "NLogLevel", nullptr, reinterpret_cast<BYTE*>(&value), &size);
    reg->RegCloseKey(key);
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_RegistryQuery)->Arg(10)->Arg(1000);

// RegSetValueExA: each one rewrites the file.
void BM_RegistrySet(benchmark::State& state) {
  World world;
  auto reg = MakeHostRegistry(world.config);
  HKEY key = nullptr;
  reg->RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Orvane\\Qel", &key);
  for (auto _ : state) {
    reg->RegSetValueExA(key, "CenterIP", REG_SZ, reinterpret_cast<const BYTE*>("10.0.0.1"), 9);
  }
}
BENCHMARK(BM_RegistrySet);

// GetFileAttributesA of one of n wrapper batches, stored case or other case.
void BM_FileAttributesInBigFolder(benchmark::State& state) {
  World world;
  ::mkdir((world.root + "/C/scripts").c_str(), 0755);
  for (int i = 0; i < state.range(0); ++i) {
    std::ofstream(world.root + "/C/scripts/Qeluser" + std::to_string(i) + ".bat") << "x";
  }
  auto files = MakeHostFileSystem(world.config);
  std::string path = state.range(1) ? "C:\\SCRIPTS\\QELUSER7.BAT" : "C:\\scripts\\Qeluser7.bat";
  for (auto _ : state) benchmark::DoNotOptimize(files->GetFileAttributesA(path.c_str()));
}
BENCHMARK(BM_FileAttributesInBigFolder)->Args({5000, 0})->Args({5000, 1});

// CopyFileExA of an install package of n MiB.
void BM_CopyFile(benchmark::State& state) {
  World world;
  {
    std::ofstream out(world.root + "/C/QelSetup.exe", std::ios::binary);
    std::string chunk(1 << 20, 'x');
    for (int i = 0; i < state.range(0); ++i) out << chunk;
  }
  auto files = MakeHostFileSystem(world.config);
  for (auto _ : state) {
    files->CopyFileExA("C:\\QelSetup.exe", "C:\\copy.exe", nullptr, nullptr, nullptr, 0);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0) * (1 << 20));
}
BENCHMARK(BM_CopyFile)->Arg(16);

}  // namespace
}  // namespace qel

BENCHMARK_MAIN();
