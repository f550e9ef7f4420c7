// What the simulator link costs per report: a command written through the
// virtual backend and its reply read back (the whole loopback round trip),
// and the frame's encoding of one contact-table sample.
#include <benchmark/benchmark.h>

#include "platform/Hid.h"
#include "tests/platform/SimControl.h"
#include "tools/framesim/Frame.h"

using namespace platform;

static void BM_CommandReplyRoundTrip(benchmark::State& state) {
  testsupport::SimControl sim;
  sim.last("add split-mt bench");
  auto backend = CreateVirtualHidBackend(sim.address());
  const std::string path = sim.path("bench", 3);
  auto reader = backend->open(path, kHidRead, HidShare::kShared);
  auto writer = backend->open(path, kHidWrite, HidShare::kShared);
  std::uint8_t cmd[kReportSize] = {0xFC, 0x08}, reply[kReportSize];
  for (auto _ : state) {
    writer->write(cmd, sizeof cmd);
    reader->startRead(reply);
    std::size_t n = 0;
    if (reader->waitRead(kWaitForever, n) != HidIoStatus::kCompleted) state.SkipWithError("read");
  }
}
BENCHMARK(BM_CommandReplyRoundTrip)->UseRealTime();

static void BM_EncodeContactTableOfNine(benchmark::State& state) {
  framesim::Frame frame(*framesim::FindModel("split-mt"), "bench");
  std::vector<framesim::Contact> nine;
  for (int i = 0; i < 9; ++i) nine.push_back({i, i / 10.0, 0.5, framesim::Phase::kMove});
  std::vector<framesim::Emission> out;
  std::string error;
  for (auto _ : state) {
    out.clear();
    frame.encodeTouch(nine, out, error);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_EncodeContactTableOfNine);

BENCHMARK_MAIN();
