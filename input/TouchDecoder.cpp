#include "input/TouchDecoder.h"

#include <cstring>

namespace {

std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

TouchLayout SelectLayout(const DeviceProfile& profile) {
  return frame::LayoutFor(profile.VersionNumber, profile.Series01xx);
}

void TouchDecoder::DecodeTouchReport(PipelineState& state, const DeviceProfile& profile,
                                     const std::uint8_t* report, ReaderCalibration* calibration) {
  const TouchLayout layout = SelectLayout(profile);
  switch (layout) {
    case TouchLayout::kF:
      DecodeSeries(report);
      break;
    case TouchLayout::kMT:
      DecodeMultiTouch(report);
      break;
    default:
      DecodePoints(state, report, layout, IsSplitChannel(profile.VersionNumber), calibration);
      break;
  }
}

void TouchDecoder::ForgetTouches() {
  // A tip of 0 and a contact last seen up make the next touching report a
  // down; a Series01xx frame names its events, so its next move is taken
  // as the down.
  std::memset(lastTip_, 0, sizeof lastTip_);
  for (std::uint16_t& s : lastState_) s = TOUCH_UP;
  seriesForgot_[0] = seriesForgot_[1] = true;
}

// Layout F: two 6-byte point records from byte 2, the point count at 14.
void TouchDecoder::DecodeSeries(const std::uint8_t* r) {
  const auto apply = [this](int k, std::uint8_t event) {
    std::uint32_t& state = seriesFrame_.slot[k].state;
    const bool forgot = seriesForgot_[k];
    seriesForgot_[k] = false;
    switch (event) {
      case 0:
        state = TOUCH_DOWN;
        break;
      case 7:
        state = forgot ? TOUCH_DOWN : TOUCH_MOVE;
        break;
      case 4:
        state = TOUCH_UP;
        break;
      default:
        break;  // other codes keep the slot's state
    }
  };
  TouchSlot* s = seriesFrame_.slot;
  const std::uint8_t points = r[14];
  if (points == 2) {
    apply(0, r[2]);
    apply(1, r[8]);
  } else if (points == 1 && r[3] == 1) {
    apply(0, r[2]);
    s[1].state = TOUCH_UP;
  } else if (points == 1 && r[3] == 2) {
    apply(1, r[2]);
    s[0].state = TOUCH_UP;
  } else {
    // No point named (a mode write's echo has 0 there): its bytes are no
    // coordinates, so a held finger stays where it was; still a frame.
    DispatchFrame(seriesFrame_);
    return;
  }
  s[0].x = Le16(r + 4);
  s[0].y = Le16(r + 6);
  s[1].x = Le16(r + 10);
  s[1].y = Le16(r + 12);
  DispatchFrame(seriesFrame_);
}

// Layout MT: six 6-byte slots from byte 1 (status, id, x, y), the frame's
// contact count at byte 37. Frames of seven or more contacts take two
// reports; the first has contact id 0 in slot 0.
void TouchDecoder::DecodeMultiTouch(const std::uint8_t* r) {
  const std::uint8_t n = r[37];
  if (n <= 6) {
    std::memset(&table_, 0, sizeof table_);
    for (int k = 0; k < n; ++k) DecodeMultiTouchSlot(r + 1 + 6 * k);
    DispatchTable(n);
  } else if (r[2] == 0) {
    std::memset(&table_, 0, sizeof table_);
    for (int k = 0; k < 6; ++k) DecodeMultiTouchSlot(r + 1 + 6 * k);
  } else {
    // The second report carries five slots, not six.
    for (int k = 0; k < 5; ++k) DecodeMultiTouchSlot(r + 1 + 6 * k);
    DispatchTable(n);
  }
}

void TouchDecoder::DecodeMultiTouchSlot(const std::uint8_t* slot) {
  const std::uint8_t status = slot[0];
  const std::uint8_t c = slot[1];
  if (c >= kContactTableSize) return;  // ids index a table of 32
  TouchContact& e = table_.entry[c];
  e.id = c;
  e.x = Le16(slot + 2);
  e.y = Le16(slot + 4);
  const std::uint16_t last = lastState_[c];
  if (status == 2) {
    // Status 2 both opens and closes a contact.
    e.state = (last == 0 || last == TOUCH_UP) ? TOUCH_DOWN : TOUCH_UP;
  } else if (status == 3) {
    e.state = (last == TOUCH_UP) ? TOUCH_DOWN : TOUCH_MOVE;
  }
  lastState_[c] = e.state;
}

// Layouts A, B and C: 7-byte slots (tip, x, y, two unused bytes).
void TouchDecoder::DecodePoints(PipelineState& state, const std::uint8_t* r, TouchLayout layout,
                                bool splitChannel, ReaderCalibration* calibration) {
  const int base = layout == TouchLayout::kA ? 1 : 3;
  const int slots = layout == TouchLayout::kC ? 4 : 2;
  for (int k = 0; k < slots; ++k) {
    const std::uint8_t* p = r + base + 7 * k;
    const std::uint8_t tip = p[0];
    TouchSlot& s = standardFrame_.slot[k];
    const bool touching = layout == TouchLayout::kC ? tip == 1 : tip != 0;
    if (touching) {
      s.state = lastTip_[k] != 0 ? TOUCH_MOVE : TOUCH_DOWN;
    } else {
      s.state = TOUCH_UP;
    }
    // The raw byte, not the state: in layout C a tip of 2 reports "up" but
    // counts as touching for the next report.
    lastTip_[k] = tip;
    s.x = Le16(p + 1);
    s.y = Le16(p + 3);
  }
  if (layout != TouchLayout::kC && !splitChannel &&
      state.calibrationValid.load(std::memory_order_acquire) != 0) {
    // The reader's copy is taken after the flag: the control thread swaps
    // it in before it sets the flag.
    CalibrationData& cal = calibration ? calibration->Current() : state.calibration;
    for (int k = 0; k < 2; ++k) {
      TouchSlot& s = standardFrame_.slot[k];
      cal.inX = static_cast<std::int16_t>(static_cast<std::uint16_t>(s.x));
      cal.inY = static_cast<std::int16_t>(static_cast<std::uint16_t>(s.y));
      if (cal.MapPoint()) {
        s.x = static_cast<std::uint32_t>(static_cast<std::int32_t>(cal.outX));
        s.y = static_cast<std::uint32_t>(static_cast<std::int32_t>(cal.outY));
      }
    }
  }
  DispatchFrame(standardFrame_);
}

void TouchDecoder::DispatchFrame(const TouchFrame& frame) {
  if (both_) return both_->dispatchFrame(frame);
  if (tuio_) tuio_->updateFromFrame(frame);
  if (xml_) xml_->sendFrameDocument(frame);
}

void TouchDecoder::DispatchTable(std::uint16_t count) {
  // The count comes from the device; consumers walk the first `count`
  // entries, so it never exceeds the table.
  if (count > kContactTableSize) count = kContactTableSize;
  if (both_) return both_->dispatchTable(table_, count);
  if (tuio_) tuio_->updateFromTable(table_, count);
  if (xml_) xml_->sendTableDocument(table_, count);
}
