#pragma once
// Turns one 64-byte input report into touch records and dispatches them,
// first to the TUIO glue, then to the XML sender. The layout follows from the
// opened frame's profile, never from the report.
#include <cstdint>

#include "common/TouchRecords.h"
#include "input/DeviceProfile.h"
#include "input/PipelineState.h"
#include "platform/HidInterface.h"

using frame::TouchLayout;

TouchLayout SelectLayout(const DeviceProfile& profile);

using platform::kReportSize;

class TouchDecoder {
 public:
  explicit TouchDecoder(const DeviceProfile& profile) : profile_(profile) {}

  // Either sink may be null (that output is not wired).
  void SetSinks(TuioTouchSink* tuio, XmlTouchSink* xml) {
    tuio_ = tuio;
    xml_ = xml;
  }

  // report: 64 bytes. Reads the calibration-valid flag and the calibration
  // record of the shared state; nothing else.
  void DecodeTouchReport(PipelineState& state, const std::uint8_t* report);

 private:
  void DecodeSeries(const std::uint8_t* r);
  void DecodeMultiTouch(const std::uint8_t* r);
  void DecodeMultiTouchSlot(const std::uint8_t* slot);
  void DecodePoints(PipelineState& state, const std::uint8_t* r, TouchLayout layout);
  void DispatchFrame(const TouchFrame& frame);
  void DispatchTable(std::uint16_t count);

  const DeviceProfile& profile_;
  TuioTouchSink* tuio_ = nullptr;
  XmlTouchSink* xml_ = nullptr;

  // Kept for the whole run; nothing is reset when a frame is replaced.
  TouchFrame seriesFrame_{};
  TouchFrame standardFrame_{};
  ContactTable table_{};
  std::uint8_t lastTip_[4] = {};
  std::uint16_t lastState_[kContactTableSize] = {};
};
