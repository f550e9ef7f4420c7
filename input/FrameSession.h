#pragma once
// The lifecycle of the opened frame as one state machine: it is told what
// happened (start-up, a discovery's result, an arrival, a removal, a
// read-back, a mode report, the exit) and answers with the steps to take, in
// order. It does no I/O and holds no lock; TouchPipeline executes the steps
// and feeds back the result of each discovery it was asked for.
//
//   NotStarted --StartUp--> Discovering(start-up) --Discovered--> Starting
//   Starting --StartUpComplete--> AwaitingReadBack | Ready | Absent
//   Absent/AwaitingReadBack/Ready --Arrival--> Discovering(arrival)
//   Discovering(arrival) --Discovered--> AwaitingReadBack | Ready | Absent
//   open --Removal of entry 0--> Discovering(removal) --Discovered--> ...
//   open --Lost--> Absent, looking again (an Arrival when the frame answers)
//   AwaitingReadBack --ReadBack--> Ready
//   any started state --Exit--> Closed
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "input/DeviceProfile.h"
#include "platform/Hid.h"

enum class FrameState : std::uint8_t {
  kNotStarted,
  kDiscovering,       // a discovery was asked for; its result comes as Discovered
  kStarting,          // opened (or not) at start-up; the window's start-up still runs
  kAbsent,            // no frame open
  kAwaitingReadBack,  // open; a single-channel frame's calibration was asked for
  kReady,             // open
  kClosed,            // after the exit: nothing more happens
};

// What an opened frame is, as far as its lifecycle goes.
enum class FrameKind : std::uint8_t { kNone, kSeries01xx, kSplitChannel, kSingleChannel };
FrameKind KindOf(const DeviceProfile& profile, bool open);

enum class FrameEvent : std::uint8_t {
  kStartUp,          // the main window's first show
  kDiscovered,       // the discovery asked for ended (with the kind it opened)
  kStartUpComplete,  // the window applied its settings and is about to decode
  kArrival,          // any HID interface arrived
  kRemoval,          // entry 0 of the path list was removed
  kReadBack,         // the reply to CMD_READ_CALIBRATION (byte 1 = 5)
  kModeReport,       // a Series01xx frame's mode report
  kReply,            // a split-channel frame answered while nothing was awaited
  kExit,             // the main window's destruction
  kLost,             // the open frame stopped answering, or left and came back in one pass
};

enum class FrameStep : std::uint8_t {
  kResetXmlEntries,
  kDiscover,  // closes the open frame first; answer with Discovered. Always the last step
  kCloseFrame,
  kStartOutput,
  kStartOutputIfStopped,
  kStopOutput,
  kStopOutputIfStarted,
  kStartReaders,
  kStartXmlListener,
  kTouchOutputOn,
  kInitSeriesDevice,
  kSeriesModeMouseOn,  // SendSeriesMode with the mouse-on bytes
  kApplyMouseEnable,   // the window's current setting
  kApplyMouseOn,       // mouse emulation back on at exit
  kRequestReadBack,    // awaiting flag set, CMD_READ_CALIBRATION, 100 ms
  kClearAwaitingReadBack,
  kStoreReadBack,  // the block and the calibration-valid flag from the reply
  kMouseModeAfterReadBack,
  kStoreSeriesMode,
  kClearCalibrationValid,
  kLayoutWindow,
  kEnableButtons,      // calibration and mouse, only while the frame is open
  kEnableMouseButton,  // only while the frame is open
  kDisableButtons,
  kSetInitialised,
  kExitCommands,
};

// The steps of one transition, in order.
struct FrameSteps {
  static constexpr std::size_t kCapacity = 16;
  FrameStep step[kCapacity];
  std::size_t count = 0;

  void Add(FrameStep s) { step[count++] = s; }
  const FrameStep* begin() const { return step; }
  const FrameStep* end() const { return step + count; }
};

const char* FrameStateName(FrameState state);
const char* FrameEventName(FrameEvent event);
const char* FrameStepName(FrameStep step);

// What the device-change notifications that queued up while the last one
// was handled come to. They are handled as one pass: discovery reads the
// present devices, so one pass reaches the end state of one per
// notification without closing and re-opening the frame each time.
struct FrameChanges {
  bool removal = false;          // entry 0 of the path list was removed
  bool removalLast = false;      // ... and no arrival came after it
  bool listedArrival = false;    // an interface of a listed frame arrived
  bool otherArrival = false;     // any other interface arrived
  bool openFramePresent = true;  // entry 0 is still among the present interfaces
};

// One notification of the HID backend, as it queued up.
struct DeviceChange {
  platform::HidChange change;
  std::string name;
};
using DeviceChangeBatch = std::deque<DeviceChange>;

inline bool HasArrival(const DeviceChangeBatch& batch) {
  for (const DeviceChange& c : batch) {
    if (c.change == platform::HidChange::kArrival) return true;
  }
  return false;
}

// Sorts one pass of notifications. `opened` is entry 0 of the path list;
// `knownPaths` (the interfaces the last discovery saw) loses those that were
// removed. With arrivals in the batch, `present` is what the system lists now
// and `list` the acceptable frames: an interface the last discovery already
// saw (and that has not gone since) is a late notification of what was
// handled, not a listed arrival.
FrameChanges SortDeviceChanges(const DeviceChangeBatch& batch, const std::string& opened,
                               std::vector<std::string>& knownPaths,
                               const std::vector<platform::HidInterfaceInfo>& present,
                               const VidPidList& list);

class FrameSession {
 public:
  FrameState State() const { return state_; }
  FrameKind Kind() const { return kind_; }
  bool FrameOpen() const { return kind_ != FrameKind::kNone; }

  // `kind` is read only with Discovered: what the discovery opened. The
  // caller raises Removal only for entry 0 of the path list.
  FrameSteps On(FrameEvent event, FrameKind kind = FrameKind::kNone);

  // The events a pass of device changes raises, in order (none, one, or
  // Lost then Arrival when the open frame left and came back): an arrival of
  // another device while the open frame is still present would only re-open
  // the same frame and lose touches meanwhile.
  std::size_t EventsFor(const FrameChanges& changes, FrameEvent (&events)[2]) const;
  // The open frame was lost (its reads failed) and nothing has been found
  // since: the pipeline looks for it again about once a second.
  bool LookingAgain() const { return lost_ && state_ == FrameState::kAbsent; }

 private:
  enum class Purpose : std::uint8_t { kStartUp, kArrival, kRemoval };

  FrameSteps Discovered(FrameKind kind);
  void SettleOpenState();

  FrameState state_ = FrameState::kNotStarted;
  Purpose purpose_ = Purpose::kStartUp;
  FrameKind kind_ = FrameKind::kNone;
  // The window's awaiting-read-back flag: it outlives a removal, as the
  // frame's reply may still be in flight.
  bool awaitingReadBack_ = false;
  bool initialised_ = false;
  bool lost_ = false;
};
