// Costs of the device library: a FindDevice walk over a machine's HID
// interfaces, taking a query reply apart, and, against the in-process frame
// simulator, reading queued reports and a command's reply round trip.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "device/DeviceRules.h"
#include "device/Pelladex.h"
#include "device/Queries.h"
#include "tests/support/CatalogueFrames.h"
#include "tests/support/SimControl.h"

namespace {

// Four frames among 16 mice of two collections each: 40 interfaces.
std::vector<platform::HidInterfaceInfo> Machine() {
  std::vector<testframes::Frame> frames = {testframes::Of("split-mt"), testframes::Of("single-a"),
                                           testframes::Of("series"), testframes::Of("f0fc")};
  for (int i = 0; i < 16; ++i)
    frames.push_back(testframes::Of("mouse").Collections({1, 2}).Unit(i));
  return testframes::Interfaces(frames);
}

void BM_FindFrames(benchmark::State& state) {
  const auto interfaces = Machine();
  _TouchDevInfo list[TOUCHDEV_MAX_FOUND];
  for (auto _ : state) {
    benchmark::DoNotOptimize(pelladex::FindFrames([&] { return interfaces; }, list, 16));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(interfaces.size()) * 2);
}
BENCHMARK(BM_FindFrames);

void BM_ApplyStandardDetail(benchmark::State& state) {
  _TouchDevInfo info{};
  info.deviceKind = TOUCHDEV_KIND_STANDARD;
  info.interfaceType = TOUCHDEV_IF_HID;
  info.versionNumber = 0x2050;
  _TouchDevData reply{};
  for (int i = 0; i < 64; ++i) reply.report[i] = static_cast<std::uint8_t>(i * 7);
  reply.report[1] = 0xA3;
  reply.report[2] = 0x80;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pelladex::ApplyStandardDetail(info, reply));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ApplyStandardDetail);

// One split-channel frame of the simulator, opened through the library.
struct SimFrame {
  testsupport::SimControl sim;
  std::unique_ptr<CPelladex> device;
  SimFrame() {
    setenv("FRAMESIM_ADDR", sim.address().c_str(), 1);
    sim.last("add split-mt one");
    _TouchDevInfo list[TOUCHDEV_MAX_FOUND];
    if (CPelladex::FindDevice(list, TOUCHDEV_MAX_FOUND) < 1) return;
    device.reset(CPelladex::Create(&list[0]));
    if (device->OpenDevice(1) != 1) device.reset();
  }
  // The next run serves a simulator of its own.
  ~SimFrame() {
    device.reset();
    unsetenv("FRAMESIM_ADDR");
  }
};

// ReadData + GetBuffer for reports already waiting in the handle's queue: the
// library's own per-report cost over the virtual backend.
void BM_ReadDataQueued(benchmark::State& state) {
  SimFrame frame;
  if (!frame.device) return state.SkipWithError("no simulated frame");
  constexpr int kBatch = 16;
  const std::string inject = "inject one 4 fc01" + std::string(124, '0');
  _TouchDevData data;
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < kBatch; ++i) frame.sim.last(inject);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    state.ResumeTiming();
    for (int i = 0; i < kBatch; ++i) {
      if (frame.device->ReadData(1000) != TOUCHDEV_REPORT_LEN) state.SkipWithError("lost");
      benchmark::DoNotOptimize(frame.device->GetBuffer(&data));
    }
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_ReadDataQueued)->UseRealTime()->Iterations(100);

// A command that waits for its reply, captured by a reader loop polling with
// a 5 ms limit: the latency a query sees.
void BM_SendCmdReply(benchmark::State& state) {
  SimFrame frame;
  if (!frame.device) return state.SkipWithError("no simulated frame");
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop) frame.device->ReadData(5);
  });
  _TouchDevData cmd{}, reply{};
  cmd.waitReply = 1;
  cmd.report[1] = 0xA3;
  for (auto _ : state) {
    if (frame.device->SendCmd(&cmd, &reply) != 1) state.SkipWithError("no reply");
  }
  stop = true;
  reader.join();
}
BENCHMARK(BM_SendCmdReply)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
