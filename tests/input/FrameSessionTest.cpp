// The frame's lifecycle event by event: each transition's steps, in order,
// and the state it leaves.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "input/FrameChannel.h"
#include "input/FrameSession.h"

namespace {

using E = FrameEvent;
using K = FrameKind;
using S = FrameStep;
using St = FrameState;

// The steps by the names the trace prints them with.
std::string Names(const FrameSteps& steps) {
  std::string out;
  for (S s : steps) out += std::string(out.empty() ? "" : ", ") + FrameStepName(s);
  return out;
}

TEST(FrameSession, EveryStepHasANameOfItsOwn) {
  std::set<std::string> names;
  for (int i = 0; i <= static_cast<int>(S::kExitCommands); ++i) {
    const std::string name = FrameStepName(static_cast<S>(i));
    EXPECT_NE(name, "?");
    EXPECT_TRUE(names.insert(name).second) << name;
  }
}

// A session through the start-up with a frame of `kind` (None: nothing found).
FrameSession Started(K kind) {
  FrameSession s;
  s.On(E::kStartUp);
  s.On(E::kDiscovered, kind);
  s.On(E::kStartUpComplete);
  return s;
}

TEST(FrameSession, StartUpPerKind) {
  struct Row {
    K kind;
    const char* discovered;
    const char* complete;
    St state;
    const char* afterModeReport = nullptr;  // a Series01xx frame's modes are awaited
  } rows[] = {
      {K::kNone, "start output, start readers, touch output on, start xml listener",
       "apply mouse enable, layout window, clear awaiting read back, set initialised", St::kAbsent},
      {K::kSingleChannel, "start output, start readers, touch output on, start xml listener",
       "apply mouse enable, layout window, request read back, set initialised",
       St::kAwaitingReadBack},
      {K::kSplitChannel, "start output, start readers, touch output on, start xml listener",
       "apply mouse enable, layout window, clear awaiting read back, set initialised, enable "
       "buttons",
       St::kReady},
      {K::kSeries01xx,
       "start output, start readers, touch output on, start xml listener, init series device",
       "apply mouse enable, layout window, clear awaiting read back, set initialised", St::kReady,
       "store series mode, enable mouse button, series mode mouse on"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(static_cast<int>(r.kind));
    FrameSession s;
    EXPECT_EQ(Names(s.On(E::kStartUp)), "reset xml entries, discover");
    EXPECT_EQ(s.State(), St::kDiscovering);
    EXPECT_EQ(Names(s.On(E::kDiscovered, r.kind)), r.discovered);
    if (r.afterModeReport) {
      EXPECT_TRUE(s.Waiting());
      EXPECT_EQ(s.TimerMs(), FrameSession::kModeReportMs);
      EXPECT_EQ(Names(s.On(E::kModeReport)), r.afterModeReport);
    }
    EXPECT_FALSE(s.Waiting());
    EXPECT_EQ(s.State(), St::kStarting);
    EXPECT_EQ(Names(s.On(E::kStartUpComplete)), r.complete);
    EXPECT_EQ(s.State(), r.state);
    // Each happens once.
    EXPECT_EQ(Names(s.On(E::kStartUp)), "");
    EXPECT_EQ(Names(s.On(E::kStartUpComplete)), "");
  }
}

TEST(FrameSession, ArrivalReopensWithTheCommandsOfItsKind) {
  struct Row {
    K kind;
    const char* steps;
    St state;
    const char* afterTimer = nullptr;  // the mode report's wait ended unanswered
  } rows[] = {
      // The open frame was closed by the discovery and is not found again:
      // it counts as lost, its outputs stop.
      {K::kNone, "clear awaiting read back, disable buttons, stop output if started", St::kAbsent},
      {K::kSingleChannel,
       "layout window, start output if stopped, start readers, request read back, touch output on, "
       "apply mouse enable",
       St::kAwaitingReadBack},
      {K::kSplitChannel,
       "layout window, start output if stopped, start readers, clear awaiting read back, enable "
       "buttons, touch output on, apply mouse enable",
       St::kReady},
      {K::kSeries01xx, "layout window, start output if stopped, start readers, init series device",
       St::kReady,
       "no mode report, enable mouse button, series mode mouse on, touch output on, apply mouse "
       "enable"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(static_cast<int>(r.kind));
    FrameSession s = Started(K::kSplitChannel);
    EXPECT_EQ(Names(s.On(E::kArrival)), "clear calibration valid, discover");
    EXPECT_EQ(s.State(), St::kDiscovering);
    EXPECT_FALSE(s.FrameOpen());  // discovery closes the frame first
    EXPECT_EQ(Names(s.On(E::kDiscovered, r.kind)), r.steps);
    if (r.afterTimer) EXPECT_EQ(Names(s.On(E::kTimer)), r.afterTimer);
    EXPECT_EQ(s.State(), r.state);
  }
  // Unplugged while its modes are awaited: what waited is dropped.
  FrameSession s = Started(K::kNone);
  s.On(E::kArrival);
  s.On(E::kDiscovered, K::kSeries01xx);
  ASSERT_TRUE(s.Waiting());
  s.On(E::kRemoval);
  EXPECT_EQ(Names(s.On(E::kDiscovered, K::kNone)), "");
  EXPECT_EQ(Names(s.On(E::kTimer)), "");
  EXPECT_EQ(s.State(), St::kAbsent);
}

// A removal stops the outputs and discovers; what it opens (another frame,
// or this one replugged already) starts as on arrival.
TEST(FrameSession, RemovalStopsRediscoversAndStartsWhatItOpens) {
  FrameSession s = Started(K::kSplitChannel);
  EXPECT_EQ(Names(s.On(E::kRemoval)),
            "close frame, disable buttons, clear calibration valid, stop output if started, "
            "discover");
  EXPECT_EQ(Names(s.On(E::kDiscovered, K::kSingleChannel)),
            "layout window, start output if stopped, start readers, request read back, touch "
            "output on, apply mouse enable");
  EXPECT_EQ(s.State(), St::kAwaitingReadBack);
  s.On(E::kRemoval);
  EXPECT_EQ(Names(s.On(E::kDiscovered, K::kNone)), "");
  EXPECT_EQ(s.State(), St::kAbsent);
  EXPECT_FALSE(s.LookingAgain());
  // Nothing open: no close, still a discovery.
  EXPECT_EQ(Names(s.On(E::kRemoval)), "clear calibration valid, stop output if started, discover");
}

// A frame whose reads all failed stops its outputs without a discovery and
// is looked for until a discovery opens one again.
TEST(FrameSession, LostFrameStopsAndIsLookedForUntilFound) {
  FrameSession s = Started(K::kSplitChannel);
  EXPECT_EQ(Names(s.On(E::kLost)),
            "close frame, disable buttons, clear calibration valid, stop output if started");
  EXPECT_EQ(s.State(), St::kAbsent);
  EXPECT_TRUE(s.LookingAgain());
  EXPECT_EQ(Names(s.On(E::kLost)), "");  // nothing open
  s.On(E::kArrival);
  s.On(E::kDiscovered, K::kNone);  // not answering yet
  EXPECT_TRUE(s.LookingAgain());
  s.On(E::kArrival);
  EXPECT_EQ(Names(s.On(E::kDiscovered, K::kSplitChannel)),
            "layout window, start output if stopped, start readers, clear awaiting read back, "
            "enable buttons, touch output on, apply mouse enable");
  EXPECT_FALSE(s.LookingAgain());
  // An arrival while the open frame is not there closes it: lost as well.
  s.On(E::kArrival);
  EXPECT_EQ(Names(s.On(E::kDiscovered, K::kNone)),
            "clear awaiting read back, disable buttons, stop output if started");
  EXPECT_TRUE(s.LookingAgain());
  s.On(E::kRemoval);  // unplugged for good: notifications take over
  s.On(E::kDiscovered, K::kNone);
  EXPECT_FALSE(s.LookingAgain());
}

// The session's timer and what wakes it: a lost frame looked for until a
// listed one is present, an unanswered read-back asked for five times more,
// a resume that re-runs an open frame's arrival.
TEST(FrameSession, TimerAndResume) {
  FrameSession s = Started(K::kSingleChannel);
  const char* asks[] = {"ask read back again", "ask read back again",       "ask read back again",
                        "ask read back again", "ask read back a last time", ""};
  for (const char* ask : asks) {
    EXPECT_EQ(s.TimerMs(), *ask ? FrameSession::kTimerMs : 0u) << ask;
    EXPECT_EQ(Names(s.On(E::kTimer)), ask);
  }
  EXPECT_EQ(s.State(), St::kAwaitingReadBack);
  EXPECT_EQ(Names(s.On(E::kFramePresent)), "");  // nothing is looked for
  s.On(E::kReadBack);
  EXPECT_EQ(s.TimerMs(), 0u);
  EXPECT_EQ(Names(s.On(E::kTimer)), "");
  EXPECT_EQ(Names(s.On(E::kResume)), "clear calibration valid, discover");
  s.On(E::kDiscovered, K::kSingleChannel);
  EXPECT_EQ(s.TimerMs(), FrameSession::kTimerMs);  // asked anew: five more
  EXPECT_EQ(Names(s.On(E::kTimer)), "ask read back again");

  s.On(E::kLost);
  EXPECT_EQ(s.TimerMs(), FrameSession::kTimerMs);
  EXPECT_EQ(Names(s.On(E::kResume)), "");  // nothing open to start again
  EXPECT_EQ(Names(s.On(E::kTimer)), "look for frame");
  EXPECT_EQ(Names(s.On(E::kFramePresent)), "clear calibration valid, discover");
  EXPECT_EQ(Names(s.On(E::kResume)), "");  // the discovery decides
  s.On(E::kDiscovered, K::kNone);          // present, but not answering yet
  EXPECT_EQ(Names(s.On(E::kTimer)), "look for frame");
  s.On(E::kFramePresent);
  s.On(E::kDiscovered, K::kSplitChannel);
  EXPECT_EQ(s.TimerMs(), 0u);
  EXPECT_EQ(Names(s.On(E::kTimer)), "");
  // Unplugged for good: notifications take over, no timer.
  s.On(E::kRemoval);
  s.On(E::kDiscovered, K::kNone);
  EXPECT_EQ(s.TimerMs(), 0u);
  EXPECT_EQ(Names(s.On(E::kFramePresent)), "");
}

// A pass of queued device changes raises one event at most.
TEST(FrameSession, QueuedDeviceChangesRaiseOneEventAtMost) {
  const auto event = [](const FrameSession& s, FrameChanges c) {
    FrameEvent e[2];
    const std::size_t n = s.EventsFor(c, e);
    std::string out = n ? FrameEventName(e[0]) : "none";
    if (n > 1) out += std::string(", ") + FrameEventName(e[1]);
    return out;
  };
  FrameChanges other, listed, gone, cycle, replug;
  other.otherArrival = true;
  listed.listedArrival = listed.otherArrival = true;
  gone.removal = gone.removalLast = true;
  gone.otherArrival = true;  // an arrival before the removal
  cycle = listed;
  cycle.removal = true;  // unplugged, then plugged again
  replug.removal = replug.otherArrival = true;

  FrameSession open = Started(K::kSingleChannel);
  EXPECT_EQ(event(open, other), "none");  // the open frame is left alone
  other.openFramePresent = false;
  EXPECT_EQ(event(open, other), "arrival");
  EXPECT_EQ(event(open, listed), "arrival");
  EXPECT_EQ(event(open, gone), "removal");
  EXPECT_EQ(event(open, cycle), "removal");
  EXPECT_EQ(event(open, replug), "removal");
  EXPECT_EQ(event(Started(K::kNone), cycle), "removal");
  EXPECT_EQ(event(open, FrameChanges{}), "none");
  // With nothing open any arrival looks for a frame; before the start-up
  // and after the exit nothing does.
  other.openFramePresent = true;
  EXPECT_EQ(event(Started(K::kNone), other), "arrival");
  EXPECT_EQ(event(FrameSession{}, listed), "none");
  open.On(E::kExit);
  EXPECT_EQ(event(open, listed), "none");
}

// One pass of notifications sorted. "Aa"/"Ra": an arrival or removal of a
// (the open frame's entry 0), m (a mouse) or n (a listed frame's interface
// the last discovery saw); `present` is what the system lists afterwards.
TEST(FrameSession, DeviceChangesSortedByWhatTheyAre) {
  const platform::HidInterfaceInfo a{"frame-col03", 0x3D5E, 0x0013, 0x2102},
      m{"mouse", 0x046D, 0xC077, 0x0100}, n{"n", 0x3D5E, 0x0010, 0x2102};
  VidPidList list;
  DefaultVidPidList(list);
  struct Row {
    const char* changes;
    const char* present;
    bool removal, removalLast, listedArrival, otherArrival, openFramePresent;
  } rows[] = {
      {"Ra", "mn", true, true, false, false, true},     // no arrival: nothing enumerated
      {"RaAa", "amn", true, false, true, false, true},  // unplugged and back
      {"AaRa", "mn", true, true, false, true, false},
      {"Am", "amn", false, false, false, true, true},  // not a listed frame
      {"An", "amn", false, false, false, true, true},  // late news of a known interface
      {"Rn", "amn", false, false, false, false, true},
      {"RnAn", "amn", false, false, true, false, true},  // gone and back: new again
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.changes);
    const auto info = [&](char c) { return c == 'a' ? a : c == 'm' ? m : n; };
    DeviceChangeBatch batch;
    for (const char* c = r.changes; *c; c += 2) {
      batch.push_back({c[0] == 'A' ? platform::HidChange::kArrival : platform::HidChange::kRemoval,
                       info(c[1]).path});
    }
    std::vector<platform::HidInterfaceInfo> present;
    for (const char* c = r.present; *c; ++c) present.push_back(info(*c));
    std::vector<std::string> known{"FRAME-COL03", "N"};  // names compare without case
    const FrameChanges c = SortDeviceChanges(batch, "Frame-Col03", known, present, list);
    EXPECT_EQ(c.removal, r.removal);
    EXPECT_EQ(c.removalLast, r.removalLast);
    EXPECT_EQ(c.listedArrival, r.listedArrival);
    EXPECT_EQ(c.otherArrival, r.otherArrival);
    EXPECT_EQ(c.openFramePresent, r.openFramePresent);
  }
}

TEST(FrameSession, ReadBackEndsTheWaitAndRepliesEnableTheButtons) {
  FrameSession s = Started(K::kSingleChannel);
  ASSERT_EQ(s.State(), St::kAwaitingReadBack);
  EXPECT_EQ(
      Names(s.On(E::kReadBack)),
      "store read back, clear awaiting read back, mouse mode after read back, enable buttons");
  EXPECT_EQ(s.State(), St::kReady);
  EXPECT_EQ(Names(s.On(E::kReply)), "enable buttons");
  EXPECT_EQ(Names(s.On(E::kModeReport)), "store series mode, enable mouse button");
  EXPECT_EQ(s.State(), St::kReady);
}

// The removal of the open frame with an unrelated arrival in the same pass
// (either order), nothing left: one discovery, then nothing is looked for
// until the next notification.
TEST(FrameSession, RemovalWithAnArrivalInOnePassDiscoversOnce) {
  for (bool arrivalFirst : {true, false}) {
    SCOPED_TRACE(arrivalFirst);
    FrameSession s = Started(K::kSingleChannel);
    FrameChanges c;
    c.removal = c.otherArrival = true;
    c.removalLast = arrivalFirst;
    c.openFramePresent = false;
    FrameEvent e[2];
    ASSERT_EQ(s.EventsFor(c, e), 1u);
    EXPECT_EQ(Names(s.On(e[0])),
              "close frame, disable buttons, clear calibration valid, stop output if started, "
              "discover");
    EXPECT_EQ(Names(s.On(E::kDiscovered, K::kNone)), "");
    EXPECT_EQ(s.State(), St::kAbsent);
    EXPECT_FALSE(s.LookingAgain());
    EXPECT_EQ(s.EventsFor(FrameChanges{}, e), 0u);
  }
}

TEST(FrameSession, ArrivalBeforeTheWindowsStartUpCompletes) {
  FrameSession s;
  s.On(E::kStartUp);
  s.On(E::kDiscovered, K::kNone);
  s.On(E::kArrival);
  s.On(E::kDiscovered, K::kSingleChannel);
  EXPECT_EQ(s.State(), St::kStarting);
  EXPECT_EQ(Names(s.On(E::kStartUpComplete)),
            "apply mouse enable, layout window, request read back, set initialised");
  EXPECT_EQ(s.State(), St::kAwaitingReadBack);
}

TEST(FrameSession, ExitClosesAnOpenFrameAndEndsEverything) {
  FrameSession open = Started(K::kSeries01xx);
  EXPECT_EQ(Names(open.On(E::kExit)), "exit commands, close frame, apply mouse on, stop output");
  EXPECT_EQ(open.State(), St::kClosed);
  for (E e : {E::kArrival, E::kRemoval, E::kReadBack, E::kReply, E::kExit}) {
    EXPECT_EQ(Names(open.On(e)), "");
  }
  FrameSession absent = Started(K::kNone);
  EXPECT_EQ(Names(absent.On(E::kExit)), "apply mouse on, stop output");
  // Before the start nothing reacts to device changes.
  FrameSession fresh;
  EXPECT_EQ(Names(fresh.On(E::kArrival)), "");
  EXPECT_EQ(Names(fresh.On(E::kRemoval)), "");
}

}  // namespace

namespace {

// A reader's failed reads: pauses double from 5 ms to 1 s, the one that
// would pass half a second is cut short so the frame counts as gone on
// time, and gone is said once; the next report ends the run.
TEST(ReadRetry, PausesGrowAndTheFrameCountsAsGoneAfterHalfASecond) {
  struct Row {
    std::uint32_t now, pause;
    bool first, gone;
  } rows[] = {{1000, 5, true, false},    {1005, 10, false, false}, {1015, 20, false, false},
              {1035, 40, false, false},  {1075, 80, false, false}, {1155, 160, false, false},
              {1315, 185, false, false}, {1500, 640, false, true}, {2140, 1000, false, false},
              {3140, 1000, false, false}};
  ReadRetry retry;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.now);
    const ReadRetry::Failure f = retry.OnFailure(r.now);
    EXPECT_EQ(f.pauseMs, r.pause);
    EXPECT_EQ(f.first, r.first);
    EXPECT_EQ(f.gone, r.gone);
  }
  std::uint32_t ms = 0;
  unsigned failures = 0;
  EXPECT_TRUE(retry.OnSuccess(3200, ms, failures));
  EXPECT_EQ(ms, 2200u);
  EXPECT_EQ(failures, 10u);
  EXPECT_FALSE(retry.OnSuccess(3300, ms, failures));
  EXPECT_TRUE(retry.OnFailure(4000).first);  // a new run
}

}  // namespace
