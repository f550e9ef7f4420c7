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
//   open --Lost--> Absent, looking again: each Timer looks for a listed
//          frame, and FramePresent is an Arrival
//   open --Resume--> Discovering(arrival): the start-up commands go again
//   AwaitingReadBack --Timer--> the read-back asked again (five times)
//   Discovered(Series01xx) --> AwaitingModeReport --ModeReport | Timer
//          (200 ms)--> the rest of the discovery's steps, then as above
//   AwaitingReadBack --ReadBack--> Ready
//   any started state --Exit--> Closed
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "input/DeviceProfile.h"
#include "platform/Hid.h"

// The states, events and steps, each with its trace name, as one list
// each: the enums and the names are generated from them.
// A state's third column is the FrameSession member that handles its events.
#define VANTREL_FRAME_STATES(X)                                        \
  X(kNotStarted, "not started", OnNotStarted)                          \
  /* a discovery was asked for; its result comes as Discovered */      \
  X(kDiscovering, "discovering", OnDiscovering)                        \
  /* opened (or not) at start-up; the window's start-up still runs */  \
  X(kStarting, "starting", OnStarting)                                 \
  X(kAbsent, "absent", OnStarted) /* no frame open */                  \
  /* a Series01xx frame was asked for its modes: what follows waits */ \
  X(kAwaitingModeReport, "awaiting mode report", OnAwaitingModeReport) \
  /* open; a single-channel frame's calibration was asked for */       \
  X(kAwaitingReadBack, "awaiting read-back", OnStarted)                \
  X(kReady, "ready", OnStarted)  /* open */                            \
  X(kClosed, "closed", OnClosed) /* after the exit: nothing more */

#define VANTREL_FRAME_ENUM(name, text, ...) name,
enum class FrameState : std::uint8_t { VANTREL_FRAME_STATES(VANTREL_FRAME_ENUM) };

// What an opened frame is, as far as its lifecycle goes.
enum class FrameKind : std::uint8_t { kNone, kSeries01xx, kSplitChannel, kSingleChannel };
FrameKind KindOf(const DeviceProfile& profile, bool open);

#define VANTREL_FRAME_EVENTS(X)                                             \
  X(kStartUp, "start-up") /* the main window's first show */                \
  /* the discovery asked for ended (with the kind it opened) */             \
  X(kDiscovered, "discovered")                                              \
  /* the window applied its settings and is about to decode */              \
  X(kStartUpComplete, "start-up complete")                                  \
  X(kArrival, "arrival")        /* any HID interface arrived */             \
  X(kRemoval, "removal")        /* entry 0 of the path list was removed */  \
  X(kReadBack, "read-back")     /* CMD_READ_CALIBRATION's reply (5) */      \
  X(kModeReport, "mode report") /* a Series01xx frame's mode report */      \
  /* a split-channel frame answered while nothing was awaited */            \
  X(kReply, "reply")                                                        \
  X(kExit, "exit") /* the main window's destruction */                      \
  /* the open frame stopped answering, or left and came back in one pass */ \
  X(kLost, "lost")                                                          \
  X(kResume, "resume") /* the system woke from sleep */                     \
  X(kTimer, "timer")   /* the period TimerMs asked for passed */            \
  /* a listed frame is present: the answer to LookForFrame */               \
  X(kFramePresent, "frame present")

enum class FrameEvent : std::uint8_t { VANTREL_FRAME_EVENTS(VANTREL_FRAME_ENUM) };

#define VANTREL_FRAME_STEPS(X)                                                     \
  X(kResetXmlEntries, "reset xml entries")                                         \
  /* closes the open frame first; answer with Discovered. Always the last step */  \
  X(kDiscover, "discover")                                                         \
  X(kCloseFrame, "close frame")                                                    \
  X(kStartOutput, "start output")                                                  \
  X(kStartOutputIfStopped, "start output if stopped")                              \
  X(kStopOutput, "stop output")                                                    \
  X(kStopOutputIfStarted, "stop output if started")                                \
  X(kStartReaders, "start readers")                                                \
  X(kStartXmlListener, "start xml listener")                                       \
  X(kTouchOutputOn, "touch output on")                                             \
  /* its init mode, 200 ms, the mode query: the mode report is awaited */          \
  X(kInitSeriesDevice, "init series device")                                       \
  X(kNoModeReport, "no mode report") /* the wait ended without one */              \
  /* SendSeriesMode with the mouse-on bytes */                                     \
  X(kSeriesModeMouseOn, "series mode mouse on")                                    \
  X(kApplyMouseEnable, "apply mouse enable") /* the window's current setting */    \
  X(kApplyMouseOn, "apply mouse on")         /* mouse emulation back on at exit */ \
  /* awaiting flag set, CMD_READ_CALIBRATION, 100 ms */                            \
  X(kRequestReadBack, "request read back")                                         \
  /* the reply was lost (a glitch or a stall took it): asked for again */          \
  X(kAskReadBackAgain, "ask read back again")                                      \
  X(kAskReadBackLastTime, "ask read back a last time")                             \
  /* a listed frame present? answer with FramePresent, or nothing */               \
  X(kLookForFrame, "look for frame")                                               \
  X(kClearAwaitingReadBack, "clear awaiting read back")                            \
  /* the block and the calibration-valid flag from the reply */                    \
  X(kStoreReadBack, "store read back")                                             \
  X(kMouseModeAfterReadBack, "mouse mode after read back")                         \
  X(kStoreSeriesMode, "store series mode")                                         \
  X(kClearCalibrationValid, "clear calibration valid")                             \
  X(kLayoutWindow, "layout window")                                                \
  /* calibration and mouse, only while the frame is open */                        \
  X(kEnableButtons, "enable buttons")                                              \
  X(kEnableMouseButton, "enable mouse button") /* only while the frame is open */  \
  X(kDisableButtons, "disable buttons")                                            \
  X(kSetInitialised, "set initialised")                                            \
  X(kExitCommands, "exit commands")

enum class FrameStep : std::uint8_t { VANTREL_FRAME_STEPS(VANTREL_FRAME_ENUM) };
#undef VANTREL_FRAME_ENUM

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
  // since: it is looked for again at each Timer.
  bool LookingAgain() const { return lost_ && state_ == FrameState::kAbsent; }
  // What the windows ask for waits while this is true: the commands that
  // follow a Series01xx frame's mode report are built from it.
  bool Waiting() const { return state_ == FrameState::kAwaitingModeReport; }
  // The period of the Timer event the state wants (0: none). A lost frame is
  // looked for, an unanswered read-back asked for again (a few times: a
  // frame that never answers is not written to once a second for good).
  static constexpr std::uint32_t kTimerMs = 1000;
  static constexpr std::uint32_t kModeReportMs = 200;
  static constexpr unsigned kReadBackAsks = 5;
  std::uint32_t TimerMs() const;

 private:
  enum class Purpose : std::uint8_t { kStartUp, kArrival, kRemoval };

  // One handler per state (the third column of VANTREL_FRAME_STATES).
  FrameSteps OnNotStarted(FrameEvent event, FrameKind kind);
  FrameSteps OnDiscovering(FrameEvent event, FrameKind kind);
  FrameSteps OnStarting(FrameEvent event, FrameKind kind);
  FrameSteps OnAwaitingModeReport(FrameEvent event, FrameKind kind);
  // Absent, awaiting read-back, ready: after the window's start-up.
  FrameSteps OnStarted(FrameEvent event, FrameKind kind);
  FrameSteps OnClosed(FrameEvent event, FrameKind kind);

  // The transitions more than one state takes.
  FrameSteps CompleteStartUp();
  FrameSteps Arrival();
  FrameSteps Removal();
  FrameSteps Lost();
  FrameSteps Discovered(FrameKind kind);
  FrameSteps Timer();
  // The steps after the mode report's wait, which `s` ends with.
  FrameSteps AfterModeReport(FrameSteps s);
  void RequestReadBack(FrameSteps& s);
  // What any state but closed does with the frame's answers and the exit.
  FrameSteps InAnyState(FrameEvent event);
  void SettleOpenState();

  FrameState state_ = FrameState::kNotStarted;
  Purpose purpose_ = Purpose::kStartUp;
  FrameKind kind_ = FrameKind::kNone;
  // The window's awaiting-read-back flag: it outlives a removal, as the
  // frame's reply may still be in flight.
  bool awaitingReadBack_ = false;
  bool initialised_ = false;
  bool lost_ = false;
  unsigned readBackAsks_ = 0;   // since the session last requested the read-back
  FrameSteps afterModeReport_;  // the discovery's steps that wait for it
};
