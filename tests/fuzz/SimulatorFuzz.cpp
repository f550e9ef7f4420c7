// libFuzzer: whatever clients send, the simulator answers and never crashes.
// Each input is split into lines; a line's first byte picks the client (a
// control connection, a device handle, a watcher) and how far time moves on.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/framesim/Simulator.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  framesim::Simulator sim;
  std::size_t sent = 0;
  auto sink = [&sent](const std::string& line) { sent += line.size(); };
  int control = sim.AddClient(sink, nullptr);
  int handle = sim.AddClient(sink, nullptr);
  int watcher = sim.AddClient(sink, nullptr);
  sim.OnLine(control, "add split-mt a target-delay=3");
  sim.OnLine(control, "add series s");
  sim.OnLine(control, "add single-a b");
  sim.OnLine(handle, "open " + sim.FrameNamed("a")->Path(3) + " rw shared");
  sim.OnLine(watcher, "watch");
  std::uint64_t now = 0;
  std::size_t start = 0;
  while (start < size) {
    std::size_t end = start;
    while (end < size && data[end] != '\n') ++end;
    if (end > start) {
      const std::uint8_t pick = data[start];
      const int client = pick % 3 == 0 ? control : pick % 3 == 1 ? handle : watcher;
      sim.OnLine(client,
                 std::string(reinterpret_cast<const char*>(data) + start + 1, end - start - 1));
      now += pick % 16;
      sim.Advance(now);
      if (sim.QuitRequested()) break;
    }
    start = end + 1;
  }
  sim.Advance(now + 600000);
  return 0;
}
