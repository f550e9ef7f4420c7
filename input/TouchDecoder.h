#pragma once
// Turns one 64-byte input report into touch records and dispatches them,
// first to the TUIO glue, then to the XML sender. The layout follows from the
// profile of the frame the report came from, never from the report. One
// decoder serves one reader thread.
#include <cstdint>

#include "common/TouchRecords.h"
#include "input/DeviceProfile.h"
#include "input/PipelineState.h"
#include "input/ReaderCalibration.h"
#include "platform/HidInterface.h"

using frame::TouchLayout;

TouchLayout SelectLayout(const DeviceProfile& profile);

using platform::kReportSize;

class TouchDecoder {
 public:
  // Either sink may be null (that output is not wired).
  void SetSinks(TuioTouchSink* tuio, XmlTouchSink* xml) {
    tuio_ = tuio;
    xml_ = xml;
    both_ = nullptr;
  }
  // One sink for both sides, in place of the two above.
  void SetSink(TouchDispatchSink* both) {
    SetSinks(nullptr, nullptr);
    both_ = both;
  }

  // report: 64 bytes from a frame of `profile`. Reads the calibration-valid
  // flag; points are mapped through `calibration`, the reader's own copy
  // (the pipeline's readers), or else through the shared record, whose in
  // and out points it then writes (the calibration dialog's tests).
  void DecodeTouchReport(PipelineState& state, const DeviceProfile& profile,
                         const std::uint8_t* report, ReaderCalibration* calibration = nullptr);
  // The outputs started with no touch: the touches the decoder remembers
  // are forgotten, so a finger still on the frame opens a touch with its
  // next report instead of moving one that no output has.
  void ForgetTouches();

 private:
  void DecodeSeries(const std::uint8_t* r);
  void DecodeMultiTouch(const std::uint8_t* r);
  void DecodeMultiTouchSlot(const std::uint8_t* slot);
  void DecodePoints(PipelineState& state, const std::uint8_t* r, TouchLayout layout,
                    bool splitChannel, ReaderCalibration* calibration);
  void DispatchFrame(const TouchFrame& frame);
  void DispatchTable(std::uint16_t count);

  TuioTouchSink* tuio_ = nullptr;
  XmlTouchSink* xml_ = nullptr;
  TouchDispatchSink* both_ = nullptr;

  // Kept while the outputs run, whichever frame is open.
  TouchFrame seriesFrame_{};
  bool seriesForgot_[2] = {};  // the slot's next move opens a touch
  TouchFrame standardFrame_{};
  ContactTable table_{};
  std::uint8_t lastTip_[4] = {};
  std::uint16_t lastState_[kContactTableSize] = {};
};
