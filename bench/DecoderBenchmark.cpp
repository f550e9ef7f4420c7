// Cost of DecodeTouchReport per report, per layout, with sinks that only
// count (so the figure is the decoder's own).
#include <benchmark/benchmark.h>

#include <array>

#include "input/TouchDecoder.h"

namespace {

class CountingSinks : public TuioTouchSink, public XmlTouchSink {
 public:
  std::uint64_t calls = 0;
  void updateFromFrame(const TouchFrame&) override { ++calls; }
  void updateFromTable(const ContactTable&, std::uint16_t) override { ++calls; }
  void sendFrameDocument(const TouchFrame&) override { ++calls; }
  void sendTableDocument(ContactTable&, std::uint16_t) override { ++calls; }
};

using Report = std::array<std::uint8_t, 64>;

// Two alternating reports per model, so states move between down and move.
void Run(benchmark::State& state, std::uint16_t version, std::uint16_t product, Report a, Report b,
         bool calibrated) {
  DeviceProfile profile;
  profile.VendorID = 0x3D5E;
  profile.ProductID = product;
  profile.VersionNumber = version;
  profile.Series01xx = IsSeries01xxProduct(product);
  profile.InputReportID = 0xFC;
  PipelineState shared;
  if (calibrated) {
    CalibrationData& c = shared.calibration;
    c.block.referenceX[0] = 512, c.block.referenceY[0] = 512, c.block.referenceX[1] = 3583,
    c.block.referenceY[1] = 512;
    c.block.referenceX[2] = 3583, c.block.referenceY[2] = 3583;
    c.block.measuredX[0] = 1000, c.block.measuredY[0] = 500, c.block.measuredX[1] = 3000,
    c.block.measuredY[1] = 500;
    c.block.measuredX[2] = 3000, c.block.measuredY[2] = 3500;
    c.ComputeCalibration();
    shared.calibrationValid = 1;
  }
  CountingSinks sinks;
  TouchDecoder decoder;
  decoder.SetSinks(&sinks, &sinks);
  for (auto _ : state) {
    decoder.DecodeTouchReport(shared, profile, a.data());
    decoder.DecodeTouchReport(shared, profile, b.data());
  }
  benchmark::DoNotOptimize(sinks.calls);
  state.SetItemsProcessed(state.iterations() * 2);
}

Report Points(int base, int slots, std::uint8_t tip) {
  Report r{};
  r[0] = 0xFC;
  for (int k = 0; k < slots; ++k) {
    r[base + 7 * k] = tip;
    r[base + 7 * k + 1] = static_cast<std::uint8_t>(0x10 * (k + 1));
    r[base + 7 * k + 2] = 0x07;
    r[base + 7 * k + 3] = 0x20;
    r[base + 7 * k + 4] = 0x05;
  }
  return r;
}

Report Table(int contacts, int n, int firstId, std::uint8_t status) {
  Report r{};
  r[0] = 0xFB;
  for (int k = 0; k < contacts; ++k) {
    r[1 + 6 * k] = status;
    r[2 + 6 * k] = static_cast<std::uint8_t>(firstId + k);
    r[3 + 6 * k] = 0x40;
    r[4 + 6 * k] = 0x1F;
  }
  r[37] = static_cast<std::uint8_t>(n);
  return r;
}

void BM_LayoutA(benchmark::State& s) {
  Run(s, 0x2100, 0x0021, Points(1, 2, 1), Points(1, 2, 0), false);
}
void BM_LayoutA_Calibrated(benchmark::State& s) {
  Run(s, 0x2100, 0x0021, Points(1, 2, 1), Points(1, 2, 0), true);
}
void BM_LayoutB_Calibrated(benchmark::State& s) {
  Run(s, 0x2105, 0x0021, Points(3, 2, 1), Points(3, 2, 1), true);
}
void BM_LayoutC(benchmark::State& s) {
  Run(s, 0x4013, 0x0021, Points(3, 4, 1), Points(3, 4, 0), false);
}
void BM_LayoutF(benchmark::State& s) {
  Report a{}, b{};
  a[0] = b[0] = 0xFD;
  a[1] = b[1] = 0x01;
  a[2] = 0, a[3] = 1, a[8] = 0, a[14] = 2;
  b[2] = 7, b[3] = 1, b[8] = 4, b[14] = 2;
  Run(s, 0x0201, 0x0113, a, b, false);
}
void BM_LayoutMT_SixContacts(benchmark::State& s) {
  Run(s, 0x3301, 0x0021, Table(6, 6, 0, 2), Table(6, 6, 0, 3), false);
}
// One nine-contact frame: two reports, one dispatch.
void BM_LayoutMT_NineContacts(benchmark::State& s) {
  Run(s, 0x3301, 0x0021, Table(6, 9, 0, 3), Table(5, 9, 6, 3), false);
}

BENCHMARK(BM_LayoutA);
BENCHMARK(BM_LayoutA_Calibrated);
BENCHMARK(BM_LayoutB_Calibrated);
BENCHMARK(BM_LayoutC);
BENCHMARK(BM_LayoutF);
BENCHMARK(BM_LayoutMT_SixContacts);
BENCHMARK(BM_LayoutMT_NineContacts);

}  // namespace

BENCHMARK_MAIN();
