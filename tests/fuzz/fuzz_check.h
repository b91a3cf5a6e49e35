// What every fuzz target shares: a failed property ends the run with a
// message, which libFuzzer reports as a crash and keeps the input for.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition, what)                                                            \
  do {                                                                                          \
    if (!(condition)) {                                                                         \
      std::fprintf(stderr, "property failed at %s:%d: %s\n", __FILE__, __LINE__, std::string(what).c_str()); \
      std::abort();                                                                             \
    }                                                                                           \
  } while (0)

namespace qel::fuzz {

// A folder of its own for the process, made once (the fuzzer runs inputs
// one after another in one process).
std::string ScratchFolder();

}  // namespace qel::fuzz
