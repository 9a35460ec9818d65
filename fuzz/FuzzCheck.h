#pragma once

// A broken invariant stops the fuzzer like a crash, so libFuzzer keeps the input.
#define CHECK(cond)                                                                                \
  do {                                                                                             \
    if (!(cond))                                                                                   \
      __builtin_trap();                                                                            \
  } while (0)
