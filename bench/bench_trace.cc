// Cost of a debug-log trace call below the trace threshold (the common
// case: every storage-manager function traces its enter and return at 136,
// while the default threshold is 137), beside an empty call for scale.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "storage/command/config.h"
#include "storage/command/sm_trace.h"

namespace {

void LoadConfig() {
  static bool loaded = false;
  if (loaded) return;
  std::string dir = "/tmp/bench_trace." + std::to_string(getpid());
  setenv("TARVELONDIR", dir.c_str(), 1);
  setenv("ZIVEVODAREVEZO", "bench", 1);
  setenv("TEV_ACT_LOG", "/dev/null", 1);
  setenv("TEV_DEBUG_LOG", "/dev/null", 1);
  setenv("TEV_DEBUG", "1", 1);  // threshold 137
  if (zarLoadConfig(0) != 0) std::abort();
  loaded = true;
}

__attribute__((noinline)) void EmptyCall(int level, const char* name) {
  benchmark::DoNotOptimize(level);
  benchmark::DoNotOptimize(name);
}

void BM_TraceBelowThreshold(benchmark::State& state) {
  LoadConfig();
  for (auto _ : state) {
    SM_TRACE(136, "%s: enter, handle = %d.", "zarOpenSession", 1);
  }
}
BENCHMARK(BM_TraceBelowThreshold);

void BM_EmptyCall(benchmark::State& state) {
  for (auto _ : state) EmptyCall(136, "zarOpenSession");
}
BENCHMARK(BM_EmptyCall);

}  // namespace

BENCHMARK_MAIN();
