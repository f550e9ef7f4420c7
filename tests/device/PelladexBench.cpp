// Costs of the device library's decisions: a FindDevice walk over a machine's
// HID interfaces, and taking a query reply apart.
#include <benchmark/benchmark.h>

#include <cstring>

#include "FrameInterfaces.h"
#include "device/DeviceRules.h"
#include "device/Queries.h"

namespace {

// Four frames among a keyboard, mice and other HID devices: 40 interfaces.
std::vector<platform::HidInterfaceInfo> Machine() {
  std::vector<pelladex_test::FrameDesc> frames = {
      {0x3D5E, 0x0021, 0x3302, {1, 3, 4, 5}},
      {0x3D5E, 0x0002, 0x2050, {1, 3}},
      {0x3D5E, 0x0105, 0x0201, {1}},
      {0x3D5E, 0xF0FC, 0x2105, {1}},
  };
  for (int i = 0; i < 16; ++i) frames.push_back({0x046D, 0xC52B, 0x1200, {1, 2}, i});
  return pelladex_test::Interfaces(frames);
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

}  // namespace

BENCHMARK_MAIN();
