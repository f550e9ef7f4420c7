// What the simulator link costs per report: a command written through the
// virtual backend and its reply read back (the whole loopback round trip),
// and the frame's encoding of one contact-table sample. And what the hidraw
// adapter adds: a report from the node's file to a waiting read (the node a
// socket pair), and parsing a frame's report descriptor.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/Hid.h"
#include "platform/linux/HidrawNode.h"
#include "tests/support/SimControl.h"
#include "tools/framesim/Frame.h"
#include "tools/framesim/ReportDescriptor.h"

using namespace platform;

static void BM_CommandReplyRoundTrip(benchmark::State& state) {
  testsupport::SimControl sim;
  sim.last("add split-mt bench");
  auto backend = CreateVirtualHidBackend(sim.address());
  const std::string path = sim.path("bench", 3);
  auto reader = backend->Open(path, kHidRead, HidShare::kShared);
  auto writer = backend->Open(path, kHidWrite, HidShare::kShared);
  std::uint8_t cmd[kReportSize] = {0xFC, 0x08}, reply[kReportSize];
  for (auto _ : state) {
    writer->Write(cmd, sizeof cmd);
    reader->StartRead(reply);
    std::size_t n = 0;
    if (reader->WaitRead(kWaitForever, n) != HidIoStatus::kCompleted) state.SkipWithError("read");
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
    frame.EncodeTouch(nine, out, error);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_EncodeContactTableOfNine);

static void BM_HidrawNodeReportToRead(benchmark::State& state) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds) != 0) return state.SkipWithError("socketpair");
  const auto bytes = framesim::ReportDescriptorOf(*framesim::FindModel("split-mt"));
  HidDescriptorInfo info;
  std::string error;
  ParseHidDescriptor(bytes.data(), bytes.size(), info, error);
  auto node = hidraw::Node::Create(fds[0], "/dev/hidraw-bench", info);
  auto touch = node->Open(3, kHidRead, HidShare::kShared, error);
  std::uint8_t report[kReportSize] = {0xFB}, into[kReportSize];
  for (auto _ : state) {
    touch->StartRead(into);
    if (::send(fds[1], report, sizeof report, 0) != sizeof report) state.SkipWithError("send");
    std::size_t n = 0;
    if (touch->WaitRead(kWaitForever, n) != HidIoStatus::kCompleted) state.SkipWithError("read");
  }
  touch.reset();
  node.reset();
  ::close(fds[1]);
}
BENCHMARK(BM_HidrawNodeReportToRead)->UseRealTime();

static void BM_ParseFrameDescriptor(benchmark::State& state) {
  const auto bytes = framesim::ReportDescriptorOf(*framesim::FindModel("split-mt"));
  HidDescriptorInfo info;
  std::string error;
  for (auto _ : state) {
    ParseHidDescriptor(bytes.data(), bytes.size(), info, error);
    benchmark::DoNotOptimize(info.collections.data());
  }
}
BENCHMARK(BM_ParseFrameDescriptor);

BENCHMARK_MAIN();
