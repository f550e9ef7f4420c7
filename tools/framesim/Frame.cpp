#include "tools/framesim/Frame.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace framesim {

namespace {

void Put16(Report& r, int at, std::uint32_t v) {
  r[at] = static_cast<std::uint8_t>(v);
  r[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

std::uint16_t Scale(double fraction, Layout layout) {
  double f = std::min(1.0, std::max(0.0, fraction));
  return static_cast<std::uint16_t>(std::lround(f * CoordinateMax(layout)));
}

}  // namespace

void TargetPosition(int n, std::uint8_t& x, std::uint8_t& y) {
  x = (n == 2 || n == 3) ? 14 : 2;
  y = (n == 3 || n == 4) ? 14 : 2;
}

Frame::Frame(FrameModel model, std::string name)
    : model_(std::move(model)), name_(std::move(name)), instance_(InstanceFor(name_)) {
  PowerUp();
}

void Frame::PowerUp() {
  touchOutput_ = true;
  mouseMode_ = true;
  std::memcpy(mode_, model_.seriesMode, sizeof mode_);
  calValid_ = model_.calibrationValid;
  std::memcpy(cal_, model_.calibration, sizeof cal_);
  rbTime_ = model_.rbTimeMs;
  rbRange_ = model_.rbRange;
  rbSwitch_ = model_.rbSwitch;
  rbSecond_ = model_.rbSecond;
  calState_ = CalState::kIdle;
  targetStep_ = 0;
}

void Frame::Sleep() {
  PowerUp();
  if (HasTouchOutputSwitch(model_.versionNumber)) touchOutput_ = false;
}

Report Frame::Reply(std::uint8_t type) const {
  Report r{};
  r[0] = ReplyReportId(model_);
  r[1] = type;
  return r;
}

void Frame::OnOutputReport(int collection, const std::uint8_t* report, std::size_t length,
                           std::vector<Emission>& out) {
  if (Class() == FrameClass::kOtherDevice) return;
  if (collection != CommandCollection(model_) || length < 2) return;
  if (report[0] != CommandReportId(model_)) return;  // not a command report of this frame
  std::uint8_t r[64] = {};
  std::memcpy(r, report, std::min<std::size_t>(length, 64));
  OnCommand(r, out);
}

void Frame::OnCommand(const std::uint8_t* r, std::vector<Emission>& out) {
  const int col = CommandCollection(model_);
  const std::uint16_t v = model_.versionNumber;
  auto send = [&](const Report& rep, std::uint32_t delay = 0) { out.push_back({col, rep, delay}); };

  if (Class() == FrameClass::kSeries01xx) {
    Report rep = Reply(r[1]);
    switch (r[1]) {
      case 0x08:  // mode write, echoed
        mode_[0] = r[2], mode_[1] = r[3], mode_[2] = r[4];
        if (v >= 0x0201) mode_[3] = r[5], mode_[4] = r[6];
        mouseMode_ = r[3] != 3;
        for (int i = 2; i <= 6; ++i) rep[i] = r[i];
        send(rep);
        break;
      case 0x0C:  // mode query
        for (int i = 0; i < 6; ++i) rep[2 + i] = mode_[i];
        send(rep);
        break;
      case 0x0D:
        Put16(rep, 5, model_.detail.word);
        send(rep);
        break;
      case 0x0E:
        Put16(rep, 5, model_.detail.value & 0xFFFF);
        Put16(rep, 7, model_.detail.value >> 16);
        send(rep);
        break;
      default:
        break;
    }
    return;
  }

  switch (r[1]) {
    case 0x01:
      OnCalibration(r, out);
      break;
    case 0x02: {  // right-button time and range
      rbTime_ = r[2] | r[3] << 8 | r[4] << 16 | static_cast<std::uint32_t>(r[5]) << 24;
      rbRange_ = r[6];
      send(Reply(2));
      break;
    }
    case 0x03: {
      Report rep = Reply(3);
      Put16(rep, 2, rbTime_ & 0xFFFF);
      Put16(rep, 4, rbTime_ >> 16);
      rep[6] = rbRange_;
      rep[8] = rbSwitch_;
      rep[9] = rbSecond_;
      send(rep);
      break;
    }
    case 0x04:
      rbSwitch_ = r[2];
      rbSecond_ = r[3];
      send(Reply(4));
      break;
    case 0x05: {  // stored calibration read-back
      Report rep = Reply(5);
      rep[2] = calValid_;
      for (int i = 0; i < 12; ++i) Put16(rep, 3 + 2 * i, cal_[i]);
      send(rep);
      break;
    }
    case 0x06:
      mouseMode_ = r[2] != 0;
      if (model_.acknowledges) send(Reply(0x06));
      break;
    case 0x08:  // maximum points, answered by frames that know their count
      if (model_.maxPoints) {
        Report rep{};
        rep[0] = 0xFC, rep[1] = 0x08, rep[2] = 0x02, rep[3] = 0x01, rep[5] = model_.maxPoints;
        send(rep);
      }
      break;
    case 0x10:
      calState_ = CalState::kIdle;
      if (model_.acknowledges) send(Reply(0x10));
      break;
    case 0x30:
      if (!HasTouchOutputSwitch(v)) break;
      touchOutput_ = r[5] != 0;
      if (model_.acknowledges) send(Reply(0x30));
      break;
    case 0xA3: {
      if (r[2] != 0) break;
      Report rep = Reply(0xA3);
      rep[2] = 0x80;
      const DetailValues& d = model_.detail;
      if (Class() == FrameClass::kSplitChannel || v < 0x2030) {
        Put16(rep, 5, d.word);
        Put16(rep, 8, d.value & 0xFFFF);
        Put16(rep, 10, d.value >> 16);
      } else {
        Put16(rep, 5, d.value & 0xFFFF);
        rep[7] = static_cast<std::uint8_t>(d.value >> 16);
        Put16(rep, 9, d.word);
      }
      Put16(rep, 12, d.word2);
      rep[14] = static_cast<std::uint8_t>((d.packed & 0xF) << 4);
      rep[15] = static_cast<std::uint8_t>(d.packed >> 4);
      rep[16] = static_cast<std::uint8_t>(d.packed >> 12);
      rep[17] = d.byte;
      send(rep);
      break;
    }
    default:
      break;
  }
}

void Frame::NameTarget(std::vector<Emission>& out) {
  Report rep = Reply(1);
  rep[2] = model_.targetOrder[targetStep_];
  out.push_back({CommandCollection(model_), rep, model_.targetDelayMs});
}

void Frame::OnCalibration(const std::uint8_t* r, std::vector<Emission>& out) {
  const int sub = r[2];
  if (sub == 0) {
    calState_ = CalState::kTarget;
    targetStep_ = 0;
    NameTarget(out);
  } else if (sub >= 1 && sub <= 4) {
    std::uint8_t x, y;
    TargetPosition(sub, x, y);
    // The frame only moves on when the host acknowledges the target it named,
    // at that target's position.
    if (calState_ != CalState::kTarget || sub != model_.targetOrder[targetStep_] || r[4] != x ||
        r[8] != y)
      return;
    if (++targetStep_ < 4) {
      NameTarget(out);
    } else {
      calState_ = CalState::kAllDone;
      Report rep = Reply(1);
      rep[2] = 5;
      out.push_back({CommandCollection(model_), rep, model_.targetDelayMs});
    }
  } else if (sub == 5) {
    if (calState_ != CalState::kAllDone) return;
    calState_ = CalState::kIdle;
    Report rep = Reply(1);
    if (model_.verdict < 0) {
      rep[2] = 16;
    } else {
      rep[2] = 255;
      rep[3] = static_cast<std::uint8_t>(model_.verdict);
      // The new stored block: the three reference targets and where the
      // frame measured them.
      const std::uint16_t ref[6] = {512, 512, 3584, 512, 3584, 3584};
      for (int i = 0; i < 6; ++i) {
        cal_[i] = ref[i];
        cal_[6 + i] = static_cast<std::uint16_t>(ref[i] + (i % 2 ? -12 : 12));
      }
      calValid_ = 1;
    }
    out.push_back({CommandCollection(model_), rep, 0});
  } else if (sub == 6) {  // reset to the factory calibration
    calState_ = CalState::kIdle;
    calValid_ = model_.calibrationValid;
    std::memcpy(cal_, model_.calibration, sizeof cal_);
  } else if (sub == 255) {  // the host leaves calibration
    calState_ = CalState::kIdle;
  }
}

bool Frame::GetFeature(int collection, std::uint8_t* buffer, std::size_t length) const {
  if (Class() == FrameClass::kOtherDevice || length == 0 || length > 64) return false;
  for (const Collection& c : CollectionsOf(model_)) {
    if (c.number == collection && c.featureLength) {
      std::uint8_t id = buffer[0];
      std::memcpy(buffer, feature_[id], length);
      buffer[0] = id;
      return true;
    }
  }
  return false;
}

bool Frame::SetFeature(int collection, const std::uint8_t* buffer, std::size_t length) {
  if (Class() == FrameClass::kOtherDevice || length == 0 || length > 64) return false;
  for (const Collection& c : CollectionsOf(model_)) {
    if (c.number == collection && c.featureLength) {
      std::memcpy(feature_[buffer[0]], buffer, length);
      return true;
    }
  }
  return false;
}

int Frame::MaxContacts() const {
  switch (ReportLayout()) {
    case Layout::kA:
    case Layout::kB:
    case Layout::kF:
      return 2;
    case Layout::kC:
      return 4;
    case Layout::kMT:
      return 11;  // six in the first report, five in the second
    default:
      return 0;
  }
}

void Frame::EncodeSlots(const std::vector<Contact>& contacts, int base, int slots, Report& r) {
  int touching = 0;
  for (int k = 0; k < slots; ++k) {
    std::uint8_t tip = 0;
    for (const Contact& c : contacts) {
      if (c.id != k) continue;
      slotX_[k] = Scale(c.x, ReportLayout());
      slotY_[k] = Scale(c.y, ReportLayout());
      tip = c.phase == Phase::kUp ? 0 : 1;
    }
    touching += tip;
    const int at = base + 7 * k;
    r[at] = tip;
    Put16(r, at + 1, slotX_[k]);
    Put16(r, at + 3, slotY_[k]);
  }
  if (base == 3) r[2] = static_cast<std::uint8_t>(touching);
}

bool Frame::EncodeTouch(const std::vector<Contact>& contacts, std::vector<Emission>& out,
                        std::string& error) {
  const Layout l = ReportLayout();
  const int col = TouchCollection(model_);
  if (l == Layout::kNone || col < 0) return error = "frame " + name_ + " has no touch", false;
  if (static_cast<int>(contacts.size()) > MaxContacts())
    return error = "layout " + std::string(LayoutName(l)) + " carries at most " +
                   std::to_string(MaxContacts()) + " contacts",
           false;
  for (const Contact& c : contacts) {
    const int limit = l == Layout::kMT ? 32 : MaxContacts();
    if (c.id < 0 || c.id >= limit)
      return error = "contact " + std::to_string(c.id) + " does not fit layout " + LayoutName(l),
             false;
  }
  if (!touchOutput_ || Calibrating()) return true;

  Report r{};
  r[0] = TouchReportId(model_);
  switch (l) {
    case Layout::kA:
      EncodeSlots(contacts, 1, 2, r);
      break;
    case Layout::kB:
      r[1] = 0xC1;
      EncodeSlots(contacts, 3, 2, r);
      break;
    case Layout::kC:
      r[1] = 0xC1;
      EncodeSlots(contacts, 3, 4, r);
      break;
    case Layout::kF: {
      r[1] = 0x01;
      auto event = [](Phase p) -> std::uint8_t {
        return p == Phase::kDown ? 0 : p == Phase::kMove ? 7 : 4;
      };
      std::vector<Contact> sorted = contacts;
      std::sort(sorted.begin(), sorted.end(),
                [](const Contact& a, const Contact& b) { return a.id < b.id; });
      if (sorted.size() == 2) {
        r[2] = event(sorted[0].phase), r[3] = 1;
        Put16(r, 4, Scale(sorted[0].x, l)), Put16(r, 6, Scale(sorted[0].y, l));
        r[8] = event(sorted[1].phase), r[9] = 2;
        Put16(r, 10, Scale(sorted[1].x, l)), Put16(r, 12, Scale(sorted[1].y, l));
        r[14] = 2;
      } else if (sorted.size() == 1) {
        const Contact& c = sorted[0];
        r[2] = event(c.phase), r[3] = static_cast<std::uint8_t>(c.id + 1);
        Put16(r, 4, Scale(c.x, l)), Put16(r, 6, Scale(c.y, l));
        // The frame repeats the point in the second record as well.
        Put16(r, 10, Scale(c.x, l)), Put16(r, 12, Scale(c.y, l));
        r[14] = 1;
      }
      break;
    }
    case Layout::kMT: {
      std::vector<Contact> sorted = contacts;
      std::sort(sorted.begin(), sorted.end(),
                [](const Contact& a, const Contact& b) { return a.id < b.id; });
      const int n = static_cast<int>(sorted.size());
      if (n >= 7 && sorted[0].id != 0)
        return error = "a contact table of seven or more contacts needs contact 0", false;
      auto slot = [&](Report& rep, int k, const Contact& c) {
        rep[1 + 6 * k] = c.phase == Phase::kMove ? 3 : 2;  // 2 opens and closes a contact
        rep[2 + 6 * k] = static_cast<std::uint8_t>(c.id);
        Put16(rep, 3 + 6 * k, Scale(c.x, l));
        Put16(rep, 5 + 6 * k, Scale(c.y, l));
      };
      r[37] = static_cast<std::uint8_t>(n);
      for (int k = 0; k < std::min(n, 6); ++k) slot(r, k, sorted[k]);
      if (n >= 7) {
        out.push_back({col, r, 0});
        Report second{};
        second[0] = r[0];
        second[37] = static_cast<std::uint8_t>(n);
        for (int k = 6; k < n; ++k) slot(second, k - 6, sorted[k]);
        out.push_back({col, second, 0});
        return true;
      }
      break;
    }
    default:
      break;
  }
  out.push_back({col, r, 0});
  return true;
}

std::string Frame::DescribeState() const {
  std::string s = "touch-output=" + std::to_string(touchOutput_) +
                  " mouse=" + std::to_string(mouseMode_) +
                  " calibrating=" + std::to_string(Calibrating()) +
                  " cal-valid=" + std::to_string(calValid_) + " cal=";
  for (int i = 0; i < 12; ++i) s += (i ? "," : "") + std::to_string(cal_[i]);
  s += " modes=";
  for (int i = 0; i < 6; ++i) s += (i ? "," : "") + std::to_string(mode_[i]);
  s += " rb-time=" + std::to_string(rbTime_) + " rb-range=" + std::to_string(rbRange_) +
       " rb-switch=" + std::to_string(rbSwitch_) + " rb-second=" + std::to_string(rbSecond_);
  return s;
}

}  // namespace framesim
