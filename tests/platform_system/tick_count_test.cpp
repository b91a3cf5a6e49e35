// The 64-bit tick count the programs make for Windows versions without one.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/tick_count.h"

namespace qel {
namespace {

DWORD g_ticks = 0;
DWORD ReadTicks() { return g_ticks; }

TEST(ExtendTickCount, FollowsTheCountAndCarriesEachWrapIntoTheUpperHalf) {
  uint64_t state = 0;
  g_ticks = 1000;
  EXPECT_EQ(ExtendTickCount(&state, &ReadTicks), 1000u);
  g_ticks = 0xFFFFFFF0u;
  EXPECT_EQ(ExtendTickCount(&state, &ReadTicks), 0xFFFFFFF0u);
  g_ticks = 5;  // wrapped
  EXPECT_EQ(ExtendTickCount(&state, &ReadTicks), 0x100000005ull);
  EXPECT_EQ(ExtendTickCount(&state, &ReadTicks), 0x100000005ull);  // same count, no wrap
  g_ticks = 0xFFFFFFFFu;
  EXPECT_EQ(ExtendTickCount(&state, &ReadTicks), 0x1FFFFFFFFull);
  g_ticks = 0;  // the second wrap
  EXPECT_EQ(ExtendTickCount(&state, &ReadTicks), 0x200000000ull);
}

// Many threads reading a count that only goes up: none of them counts a wrap
// that never happened, and the values they get never go down.
std::atomic<DWORD> g_rising{100};
DWORD ReadRising() { return g_rising.fetch_add(1); }

TEST(ExtendTickCount, ThreadsNeverCountAWrapThatDidNotHappen) {
  uint64_t state = 0;
  std::vector<std::thread> threads;
  std::atomic<bool> wentDown{false};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      uint64_t last = 0;
      for (int i = 0; i < 20000; ++i) {
        uint64_t now = ExtendTickCount(&state, &ReadRising);
        if (now < last) wentDown = true;
        last = now;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_FALSE(wentDown);
  EXPECT_EQ(state >> 32, 0u);
}

}  // namespace
}  // namespace qel
