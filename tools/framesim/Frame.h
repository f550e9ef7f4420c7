#pragma once
// One simulated touch frame: the frame's side of every exchange, with no I/O.
// The host's output reports go in, the frame's input reports come out as a
// list of emissions (collection, 64 bytes, delay), so that each exchange can
// be tested byte for byte and the server only moves bytes.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/framesim/FrameModel.h"

namespace framesim {

using Report = std::array<std::uint8_t, 64>;

struct Emission {
  int collection;
  Report report;
  std::uint32_t delayMs;  // after the exchange that caused it
};

// One finger of one touch sample, in screen fractions 0..1.
enum class Phase { kDown, kMove, kUp };
struct Contact {
  int id;  // finger number: slot (from 0) or contact id
  double x, y;
  Phase phase;
};

class Frame {
 public:
  Frame(FrameModel model, std::string name);

  const std::string& Name() const { return name_; }
  const FrameModel& Model() const { return model_; }
  // New settings (verdict, delays, ...) for a frame that keeps its live state.
  void SetModel(FrameModel m) { model_ = std::move(m); }
  FrameClass Class() const { return FrameClassOf(model_); }
  Layout ReportLayout() const { return LayoutOf(model_); }
  const std::string& Instance() const { return instance_; }
  std::string Path(int collection) const { return InterfacePath(model_, instance_, collection); }

  // A report the host wrote on `collection`; the frame's answers go to `out`.
  void OnOutputReport(int collection, const std::uint8_t* report, std::size_t length,
                      std::vector<Emission>& out);
  bool GetFeature(int collection, std::uint8_t* buffer, std::size_t length) const;
  bool SetFeature(int collection, const std::uint8_t* buffer, std::size_t length);

  // The touch reports of one sample of a gesture (one, or two for a contact
  // table of seven or more). False with a message if the layout cannot carry
  // the contacts. Nothing is emitted while touch output is off or while the
  // frame calibrates.
  bool EncodeTouch(const std::vector<Contact>& contacts, std::vector<Emission>& out,
                   std::string& error);
  // Most contacts one sample of this frame's layout carries.
  int MaxContacts() const;

  // Power-up state again (the frame was unplugged and plugged back).
  void PowerUp();
  // The PC slept: the volatile state is lost, and a frame that switches its
  // touch output wakes with it off.
  void Sleep();

  // State as the simulator's "state" command shows it: key=value words.
  std::string DescribeState() const;

  bool TouchOutput() const { return touchOutput_; }
  bool MouseMode() const { return mouseMode_; }
  bool Calibrating() const { return calState_ != CalState::kIdle; }
  const std::uint8_t* SeriesMode() const { return mode_; }
  std::uint8_t CalibrationValid() const { return calValid_; }
  const std::uint16_t* Calibration() const { return cal_; }

 private:
  enum class CalState { kIdle, kTarget, kAllDone };

  Report Reply(std::uint8_t type) const;
  void OnCommand(const std::uint8_t* r, std::vector<Emission>& out);
  void OnCalibration(const std::uint8_t* r, std::vector<Emission>& out);
  void NameTarget(std::vector<Emission>& out);
  void EncodeSlots(const std::vector<Contact>& contacts, int base, int slots, Report& r);

  FrameModel model_;
  std::string name_;
  std::string instance_;
  bool touchOutput_ = true;
  bool mouseMode_ = true;
  std::uint8_t mode_[6] = {};
  std::uint8_t calValid_ = 0;
  std::uint16_t cal_[12] = {};
  std::uint32_t rbTime_ = 0;
  std::uint8_t rbRange_ = 0, rbSwitch_ = 0, rbSecond_ = 0;
  CalState calState_ = CalState::kIdle;
  int targetStep_ = 0;  // index into the model's target order
  std::uint8_t feature_[256][64] = {};
  // Coordinates a slot last carried, so a lifted slot reports where it was.
  std::uint16_t slotX_[4] = {}, slotY_[4] = {};
};

// Expected acknowledgement position of target n (1..4), in sixteenths.
void TargetPosition(int n, std::uint8_t& x, std::uint8_t& y);

}  // namespace framesim
