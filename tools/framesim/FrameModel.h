#pragma once
// Touch frame models for the frame simulator, described as data: identity,
// stored calibration, modes, right-button parameters, maximum points and the
// detail values a frame reports. Collections, interface paths, report ids
// and the touch layout follow from the identity the way a frame's firmware
// line fixes them (see FrameClassOf, LayoutOf), unless a model says otherwise.
#include <cstdint>
#include <string>
#include <vector>

namespace framesim {

enum class FrameClass {
  kSplitChannel,   // replies and commands on col03, touch on col04 (also col01, col05)
  kSingleChannel,  // col01 (control) and col03 (touch, replies, commands)
  kSeries01xx,     // col01 only
  kOneInterface,   // product 0xF0FC: one interface, no collection marker
  kOtherDevice,    // not a touch frame (a mouse): answers nothing
};

// The five touch report layouts, and none for devices without touch;
// F(enumerator, name in settings and listings). "auto": the version's.
// clang-format off
#define FRAMESIM_LAYOUT_LIST(F) \
  F(kAuto, "auto") F(kA, "A") F(kB, "B") F(kC, "C") F(kF, "F") F(kMT, "MT") F(kNone, "none")
// clang-format on
#define FRAMESIM_LAYOUT_ENUMERATOR(e, name) e,
enum class Layout { FRAMESIM_LAYOUT_LIST(FRAMESIM_LAYOUT_ENUMERATOR) };
#undef FRAMESIM_LAYOUT_ENUMERATOR

struct DetailValues {
  std::uint32_t value = 0;
  std::uint16_t word = 0;
  std::uint16_t word2 = 0;
  std::uint16_t packed = 0;
  std::uint8_t byte = 0;
};

struct FrameModel {
  std::string name;
  std::string summary;
  std::uint16_t vendorId = 0x3D5E;
  std::uint16_t productId = 0;
  std::uint16_t versionNumber = 0;
  bool otherDevice = false;  // an unrelated HID device
  Layout layout = Layout::kAuto;
  // Stored calibration block: valid byte, then three reference points and
  // three measured points, x then y each.
  std::uint8_t calibrationValid = 0;
  std::uint16_t calibration[12] = {};
  std::uint8_t seriesMode[6] = {};
  std::uint32_t rbTimeMs = 2000;
  std::uint8_t rbRange = 2, rbSwitch = 0, rbSecond = 0;
  std::uint8_t maxPoints = 0;
  DetailValues detail;
  // The order in which the frame asks for the four calibration targets, and
  // its verdict (byte 3 of the finishing reply; -1: ends without a result).
  std::uint8_t targetOrder[4] = {1, 2, 3, 4};
  int verdict = 0;
  // Pause before the frame names the next target (a person touching it).
  std::uint32_t targetDelayMs = 0;
  // Firmware that acknowledges the commands the host expects no reply to
  // (mouse mode, touch output, cancel) with a report [id, code] on the
  // command collection. Off by default: the host relies on no such reply.
  bool acknowledges = false;
};

FrameClass FrameClassOf(const FrameModel& m);
Layout LayoutOf(const FrameModel& m);
bool IsMultiTouch(std::uint16_t version);
bool IsSplitChannel(std::uint16_t version);
bool HasTouchOutputSwitch(std::uint16_t version);
const char* LayoutName(Layout layout);

// Report id of touch reports, of replies, and expected on commands.
std::uint8_t TouchReportId(const FrameModel& m);
std::uint8_t ReplyReportId(const FrameModel& m);
std::uint8_t CommandReportId(const FrameModel& m);
// Largest coordinate of the layout (0..4095 or 0..32760).
std::uint32_t CoordinateMax(Layout layout);

struct Collection {
  int number;  // 1..5 (col01..col05); 0 for a device with one interface
  std::uint16_t inputLength, outputLength, featureLength;
};
std::vector<Collection> CollectionsOf(const FrameModel& m);
int TouchCollection(const FrameModel& m);
int CommandCollection(const FrameModel& m);

// The interface path in the Windows form, e.g.
// \\?\hid#vid_3d5e&pid_0021&col03#7&2a8f1c3&0&0002#{4d1e55b2-f16f-11cf-88cb-001111000030}
// `instance` is the device's instance part ("7&2a8f1c3&0").
std::string InterfacePath(const FrameModel& m, const std::string& instance, int collection);
// A stable instance part for a frame of this name, free of runs of zeros so
// that a collection instance number can never be mistaken for it.
std::string InstanceFor(const std::string& frameName);

// The built-in models, by name.
const std::vector<FrameModel>& Catalogue();
const FrameModel* FindModel(const std::string& name);

// Applies "key=value" to a model; false with a message if either is unknown.
bool ApplySetting(FrameModel& m, const std::string& key, const std::string& value,
                  std::string& error);

}  // namespace framesim
