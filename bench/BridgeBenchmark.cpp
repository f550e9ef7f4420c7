// What a forwarded call costs: through a block that holds the component, a
// direct call of the same function for comparison, and a call that finds no
// library (each one asks the OS loader again). Run with the test component
// on LD_LIBRARY_PATH: LD_LIBRARY_PATH=tests/bridge/component bench/bridge_benchmark
#include <benchmark/benchmark.h>

#include <cstdint>

#include "bridge/DriverApiBridge.h"
#include "platform/ModuleLoader.h"
#include "tests/support/BridgeTestSupport.h"

namespace {

void ForwardedCall(benchmark::State& state) {
  bridge::DriverApiBridge b(platform::SystemModuleLoader(), bridge_test::kComponent);
  if (b.EnableSmooth(nullptr) != 1) state.SkipWithError("test component not found");
  for (auto _ : state) benchmark::DoNotOptimize(b.EnableSmooth(nullptr));
}
BENCHMARK(ForwardedCall);

void DirectCall(benchmark::State& state) {
  platform::ModuleLoader& loader = platform::SystemModuleLoader();
  void* module = loader.Load(bridge_test::kComponent);
  if (!module) {
    state.SkipWithError("test component not found");
    return;
  }
  auto f = reinterpret_cast<std::uint8_t (*)(void*)>(loader.Symbol(module, "EnableSmooth"));
  for (auto _ : state) benchmark::DoNotOptimize(f(nullptr));
  loader.Free(module);
}
BENCHMARK(DirectCall);

void CallWithoutLibrary(benchmark::State& state) {
  bridge::DriverApiBridge b(platform::SystemModuleLoader(), bridge_test::kAbsent);
  for (auto _ : state) benchmark::DoNotOptimize(b.EnableSmooth(nullptr));
}
BENCHMARK(CallWithoutLibrary);

}  // namespace

BENCHMARK_MAIN();
