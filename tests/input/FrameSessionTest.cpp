// The frame's lifecycle event by event: each transition's steps, in order,
// and the state it leaves.
#include <gtest/gtest.h>

#include <string>

#include "input/FrameSession.h"

namespace {

using E = FrameEvent;
using K = FrameKind;
using S = FrameStep;
using St = FrameState;

std::string Names(const FrameSteps& steps) {
  static const char* const kNames[] = {"ResetXml",
                                       "Discover",
                                       "Close",
                                       "StartOutput",
                                       "StartOutputIfStopped",
                                       "StopOutput",
                                       "StopOutputIfStarted",
                                       "StartReaders",
                                       "StartXmlListener",
                                       "TouchOutputOn",
                                       "InitSeries",
                                       "SeriesMouseOn",
                                       "ApplyMouse",
                                       "ApplyMouseOn",
                                       "RequestReadBack",
                                       "ClearAwaiting",
                                       "StoreReadBack",
                                       "MouseModeAfterReadBack",
                                       "StoreMode",
                                       "ClearCalValid",
                                       "Layout",
                                       "EnableButtons",
                                       "EnableMouse",
                                       "DisableButtons",
                                       "SetInitialised",
                                       "ExitCommands"};
  static_assert(sizeof kNames / sizeof kNames[0] == static_cast<int>(S::ExitCommands) + 1,
                "one name per step");
  std::string out;
  for (S s : steps) out += std::string(out.empty() ? "" : " ") + kNames[static_cast<int>(s)];
  return out;
}

// A session through the start-up with a frame of `kind` (None: nothing found).
FrameSession Started(K kind) {
  FrameSession s;
  s.On(E::StartUp);
  s.On(E::Discovered, kind);
  s.On(E::StartUpComplete);
  return s;
}

TEST(FrameSession, StartUpPerKind) {
  struct Row {
    K kind;
    const char* discovered;
    const char* complete;
    St state;
  } rows[] = {
      {K::None, "StartOutput StartReaders TouchOutputOn StartXmlListener",
       "ApplyMouse Layout ClearAwaiting SetInitialised", St::Absent},
      {K::SingleChannel, "StartOutput StartReaders TouchOutputOn StartXmlListener",
       "ApplyMouse Layout RequestReadBack SetInitialised", St::AwaitingReadBack},
      {K::SplitChannel, "StartOutput StartReaders TouchOutputOn StartXmlListener",
       "ApplyMouse Layout ClearAwaiting SetInitialised", St::Ready},
      {K::Series01xx,
       "StartOutput StartReaders TouchOutputOn StartXmlListener InitSeries SeriesMouseOn",
       "ApplyMouse Layout ClearAwaiting SetInitialised", St::Ready},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(static_cast<int>(r.kind));
    FrameSession s;
    EXPECT_EQ(Names(s.On(E::StartUp)), "ResetXml Discover");
    EXPECT_EQ(s.State(), St::Discovering);
    EXPECT_EQ(Names(s.On(E::Discovered, r.kind)), r.discovered);
    EXPECT_EQ(s.State(), St::Starting);
    EXPECT_EQ(Names(s.On(E::StartUpComplete)), r.complete);
    EXPECT_EQ(s.State(), r.state);
    // Each happens once.
    EXPECT_EQ(Names(s.On(E::StartUp)), "");
    EXPECT_EQ(Names(s.On(E::StartUpComplete)), "");
  }
}

TEST(FrameSession, ArrivalReopensWithTheCommandsOfItsKind) {
  struct Row {
    K kind;
    const char* steps;
    St state;
  } rows[] = {
      {K::None, "ClearAwaiting DisableButtons", St::Absent},
      {K::SingleChannel,
       "Layout StartOutputIfStopped StartReaders RequestReadBack TouchOutputOn ApplyMouse",
       St::AwaitingReadBack},
      {K::SplitChannel,
       "Layout StartOutputIfStopped StartReaders ClearAwaiting EnableButtons TouchOutputOn "
       "ApplyMouse",
       St::Ready},
      {K::Series01xx,
       "Layout StartOutputIfStopped StartReaders InitSeries EnableMouse SeriesMouseOn "
       "TouchOutputOn ApplyMouse",
       St::Ready},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(static_cast<int>(r.kind));
    FrameSession s = Started(K::SplitChannel);
    EXPECT_EQ(Names(s.On(E::Arrival)), "ClearCalValid Discover");
    EXPECT_EQ(s.State(), St::Discovering);
    EXPECT_FALSE(s.FrameOpen());  // discovery closes the frame first
    EXPECT_EQ(Names(s.On(E::Discovered, r.kind)), r.steps);
    EXPECT_EQ(s.State(), r.state);
  }
}

TEST(FrameSession, RemovalClosesRediscoversAndLeavesTheOutputsStopped) {
  FrameSession s = Started(K::SplitChannel);
  EXPECT_EQ(Names(s.On(E::Removal)), "Close DisableButtons ClearCalValid Discover");
  // Another listed frame is opened without start-up commands.
  EXPECT_EQ(Names(s.On(E::Discovered, K::SingleChannel)), "StopOutputIfStarted");
  EXPECT_EQ(s.State(), St::Ready);
  EXPECT_EQ(Names(s.On(E::Removal)), "Close DisableButtons ClearCalValid Discover");
  EXPECT_EQ(Names(s.On(E::Discovered, K::None)), "StopOutputIfStarted");
  EXPECT_EQ(s.State(), St::Absent);
  // Nothing open: no close, still a discovery.
  EXPECT_EQ(Names(s.On(E::Removal)), "ClearCalValid Discover");
}

// A pass of queued device changes raises at most one event.
TEST(FrameSession, QueuedDeviceChangesRaiseOneEventAtMost) {
  const auto event = [](const FrameSession& s, FrameChanges c) {
    FrameEvent e;
    return s.EventFor(c, e) ? std::string(FrameEventName(e)) : std::string("none");
  };
  FrameChanges other, listed, gone, cycle, replug;
  other.otherArrival = true;
  listed.listedArrival = listed.otherArrival = true;
  gone.removal = gone.removalLast = true;
  gone.otherArrival = true;  // an arrival before the removal
  cycle = listed;
  cycle.removal = true;  // unplugged, then plugged again
  replug.removal = replug.otherArrival = true;

  FrameSession open = Started(K::SingleChannel);
  EXPECT_EQ(event(open, other), "none");  // the open frame is left alone
  other.openFramePresent = false;
  EXPECT_EQ(event(open, other), "arrival");
  EXPECT_EQ(event(open, listed), "arrival");
  EXPECT_EQ(event(open, gone), "removal");
  EXPECT_EQ(event(open, cycle), "arrival");
  EXPECT_EQ(event(open, replug), "arrival");
  EXPECT_EQ(event(open, FrameChanges{}), "none");
  // With nothing open any arrival looks for a frame; before the start-up
  // and after the exit nothing does.
  other.openFramePresent = true;
  EXPECT_EQ(event(Started(K::None), other), "arrival");
  EXPECT_EQ(event(FrameSession{}, listed), "none");
  open.On(E::Exit);
  EXPECT_EQ(event(open, listed), "none");
}

TEST(FrameSession, ReadBackEndsTheWaitAndRepliesEnableTheButtons) {
  FrameSession s = Started(K::SingleChannel);
  ASSERT_EQ(s.State(), St::AwaitingReadBack);
  EXPECT_EQ(Names(s.On(E::ReadBack)),
            "StoreReadBack ClearAwaiting MouseModeAfterReadBack EnableButtons");
  EXPECT_EQ(s.State(), St::Ready);
  EXPECT_EQ(Names(s.On(E::Reply)), "EnableButtons");
  EXPECT_EQ(Names(s.On(E::ModeReport)), "StoreMode EnableMouse");
  EXPECT_EQ(s.State(), St::Ready);
}

TEST(FrameSession, AWaitOutlivesARemovalUntilTheNextArrival) {
  FrameSession s = Started(K::SingleChannel);
  s.On(E::Removal);
  s.On(E::Discovered, K::SingleChannel);  // a second frame, never asked
  EXPECT_EQ(s.State(), St::AwaitingReadBack);
  s.On(E::Arrival);
  s.On(E::Discovered, K::SplitChannel);
  EXPECT_EQ(s.State(), St::Ready);
}

TEST(FrameSession, ArrivalBeforeTheWindowsStartUpCompletes) {
  FrameSession s;
  s.On(E::StartUp);
  s.On(E::Discovered, K::None);
  s.On(E::Arrival);
  s.On(E::Discovered, K::SingleChannel);
  EXPECT_EQ(s.State(), St::Starting);
  EXPECT_EQ(Names(s.On(E::StartUpComplete)), "ApplyMouse Layout RequestReadBack SetInitialised");
  EXPECT_EQ(s.State(), St::AwaitingReadBack);
}

TEST(FrameSession, ExitClosesAnOpenFrameAndEndsEverything) {
  FrameSession open = Started(K::Series01xx);
  EXPECT_EQ(Names(open.On(E::Exit)), "ExitCommands Close ApplyMouseOn StopOutput");
  EXPECT_EQ(open.State(), St::Closed);
  for (E e : {E::Arrival, E::Removal, E::ReadBack, E::Reply, E::Exit}) {
    EXPECT_EQ(Names(open.On(e)), "");
  }
  FrameSession absent = Started(K::None);
  EXPECT_EQ(Names(absent.On(E::Exit)), "ApplyMouseOn StopOutput");
  // Before the start nothing reacts to device changes.
  FrameSession fresh;
  EXPECT_EQ(Names(fresh.On(E::Arrival)), "");
  EXPECT_EQ(Names(fresh.On(E::Removal)), "");
}

}  // namespace
