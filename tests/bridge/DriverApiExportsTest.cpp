// The exported functions as a client sees them: found by name in the program,
// forwarding to the test component, and answering their failure values
// without it. ctest runs this program three times: WithoutComponent.* where
// the component cannot be found, Block2Alone.* in a process where only block 2
// ever loads it, and the rest with the component found.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "bridge/BridgeDriverApi.h"
#include "bridge/DriverApi.h"
#include "bridge/DriverApiBridge.h"
#include "bridge/DriverApiSession.h"
#include "tests/support/BridgeTestSupport.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

using bridge::ProcessBridge;
using bridge_test::ComponentMapped;
using bridge_test::Log;

// A result as its width and bit pattern; width 0 for functions without one.
struct Result {
  int bits;
  std::uint32_t value;
  bool operator==(const Result& o) const { return bits == o.bits && value == o.value; }
};

void PrintTo(const Result& r, std::ostream* os) {
  *os << r.bits << "-bit 0x" << std::hex << r.value;
}

// Calls an export with zeros and null pointers for every argument.
template <class R, class... A>
Result CallWithZeros(R(DRIVER_API_CALL* f)(A...)) {
  if constexpr (std::is_void_v<R>) {
    f(A{}...);
    return {0, 0};
  } else {
    R r = f(A{}...);
    return {static_cast<int>(sizeof(R) * 8),
            static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<R>>(r))};
  }
}

struct Export {
  void* address;
  Result (*callWithZeros)();
};

// Every export of the program, from the one list in the bridge.
const std::map<std::string, Export>& Exports() {
#define EXPORT_ENTRY(result, name, failure, params, args) \
  {#name, {reinterpret_cast<void*>(&::name), [] { return CallWithZeros(&::name); }}},
  static const std::map<std::string, Export> exports = {DRIVER_API_BLOCK1(
      EXPORT_ENTRY) DRIVER_API_BLOCK2(EXPORT_ENTRY, EXPORT_ENTRY) DRIVER_API_BLOCK3(EXPORT_ENTRY)};
#undef EXPORT_ENTRY
  return exports;
}

// The failure values as the exports' contract gives them, written out here
// on their own so that a slip in the bridge's list shows.
const std::map<std::string, Result>& ExpectedFailures() {
  static const std::map<std::string, Result> expected = [] {
    std::map<std::string, Result> m;
    auto add = [&m](Result r, std::initializer_list<const char*> names) {
      for (const char* n : names) m[n] = r;
    };
    add({8, 0xFF}, {"StartTouchDev",
                    "StopTouchDev",
                    "SendCmdTouchDev",
                    "GetTouchDevDetail",
                    "GetTouchDevDetailByIndex",
                    "GetTouchDevDetailByInfo",
                    "EnableTouchTUIO",
                    "DisableTouchTUIO",
                    "SetAllEnable",
                    "GetRbStatus",
                    "EnableRightButton",
                    "DisableRightButton",
                    "SetRbTime",
                    "SetRbRange",
                    "GetWheelStatus",
                    "EnableWheel",
                    "DisableWheel",
                    "SetWheelSensitivity",
                    "GetDragStatus",
                    "EnableDrag",
                    "DisableDrag",
                    "OIGetTouchDevStatus",
                    "OISetTouchDevStatus",
                    "GetDejitterStatus",
                    "EnableDejitter",
                    "DisableDejitter",
                    "SetDejitterLevel",
                    "GetSmoothStatus",
                    "EnableSmooth",
                    "DisableSmooth",
                    "SetSmoothLevel",
                    "SetSignalInit",
                    "SetWidthDataEnable",
                    "GetWidthData",
                    "EnableTouch",
                    "DisableTouch",
                    "SendData",
                    "EnableRawData",
                    "DisableRawData",
                    "SetMouseMode",
                    "SetSingleTouchMode",
                    "SetMultiTouchMode",
                    "SetFeatureReport_Control",
                    "GetFeatureReport_Control",
                    "GetInputReport_Interrupt"});
    add({32, 0xFFFFFFFF},
        {"GetTouchModulePathName", "GetRbTime", "GetRbRange", "GetWheelSensitivity",
         "GetDejitterLevel", "GetSmoothLevel", "ExitTouch", "GetTouchDevCount", "GetTouchDevInfo",
         "GetLastStatusCode", "GetFeatureVersion"});
    add({32, 0}, {"InitTouch", "InitTouchRawData", "GetMaxPointNum", "GetProductModel",
                  "TestGetBuf", "GetXTotal", "GetYTotal"});
    add({8, 0},
        {"GetTouchMode", "TestGetTotal", "SetAGCValue", "GetEdgeADC", "GetTValue", "GetAllTValue",
         "GetTotalTValue", "SetTonEnable", "GetTonEnable", "OITestModeStart", "OITestModeStop"});
    add({16, 0xFFFF}, {"GetInputReportBufferLength"});
    add({0, 0}, {"HWReset", "SetPtStatusOIMode", "SetPtWidthDataMode"});
    return m;
  }();
  return expected;
}

// Looks a name up in this program's export table, as a client would.
void* FindExport(const char* name) {
#if defined(_WIN32)
  FARPROC proc = GetProcAddress(GetModuleHandleA(nullptr), name);
  return reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(proc));
#else
  return dlsym(RTLD_DEFAULT, name);
#endif
}

// One context for the whole process: the component keeps InitTouch's
// context and writes to it later, so it must outlive every test.
unsigned char* Context() {
  static std::vector<unsigned char> context(bridge::kDriverApiContextSize);
  return context.data();
}

void ClearLog() {
  std::fill(Context(), Context() + 1024, 0);
}

TEST(WithoutComponent, EveryExportIsFoundByNameAndAnswersItsFailureValue) {
  ASSERT_EQ(Exports().size(), 78u);
  ASSERT_EQ(ExpectedFailures().size(), 78u);
  for (const auto& [name, e] : Exports()) {
    SCOPED_TRACE(name);
    EXPECT_EQ(FindExport(name.c_str()), e.address);
    auto expected = ExpectedFailures().find(name);
    ASSERT_NE(expected, ExpectedFailures().end());
    EXPECT_EQ(e.callWithZeros(), expected->second);
  }
  EXPECT_FALSE(ComponentMapped());
  for (int block = 1; block <= 3; ++block) EXPECT_FALSE(ProcessBridge().Loaded(block));
}

// The service reads the missing count in 16 bits: 0xFFFF, not 0, so it goes
// on as with frames, and its calls fail harmlessly.
TEST(WithoutComponent, TheServiceRunsOnWithoutTheComponent) {
  bridge::BridgeDriverApi api;
  bridge::DriverApiSession session(api, [](std::uint32_t) {});
  session.Start(nullptr);
  EXPECT_EQ(session.DeviceCount(), 0xFFFF);
  session.Shutdown(nullptr);
  EXPECT_EQ(api.ExitTouch(), 0xFF);
}

// In this process blocks 1 and 3 never load, so block 2's release really
// unloads the component and the next call maps a fresh copy.
TEST(Block2Alone, ExitTouchOneUnloadsAndTheNextCallLoadsAFreshCopy) {
  ASSERT_FALSE(ComponentMapped());
  ASSERT_EQ(InitTouch(Context(), 0, 0, 0, nullptr), 1);
  EXPECT_TRUE(ComponentMapped());
  EXPECT_EQ(GetLastStatusCode(), 2);  // InitTouch, then this call

  EXPECT_EQ(ExitTouch(), 1);
  EXPECT_FALSE(ProcessBridge().Loaded(2));
  EXPECT_FALSE(ComponentMapped());

  EXPECT_EQ(GetLastStatusCode(), 1);  // a fresh copy's first call
  EXPECT_TRUE(ComponentMapped());

  // Not initialised: the component answers 0 and stays.
  EXPECT_EQ(ExitTouch(), 0);
  EXPECT_TRUE(ProcessBridge().Loaded(2));
  EXPECT_TRUE(ComponentMapped());
  EXPECT_EQ(GetLastStatusCode(), 3);
  EXPECT_FALSE(ProcessBridge().Loaded(1));
  EXPECT_FALSE(ProcessBridge().Loaded(3));
}

TEST(WithComponent, ExportsForwardArgumentsAndResults) {
  ClearLog();
  int owner = 0;
  const auto ownerValue = std::to_string(reinterpret_cast<std::uintptr_t>(&owner));
  EXPECT_EQ(InitTouch(Context(), 7, -8, 9, &owner), 1);
  EXPECT_EQ(GetTouchDevCount(), 2);
  EXPECT_EQ(SetWheelSensitivity(Context(), 7), 1);
  EXPECT_EQ(GetWheelSensitivity(Context()), 7);
  SetPtStatusOIMode(Context(), 1);
  HWReset(Context());
  EXPECT_EQ(TestGetTotal(Context()), 0xA5);
  EXPECT_EQ(GetInputReportBufferLength(Context()), 0x8040);
  std::uint8_t report[4] = {0x10, 0, 0, 0};
  EXPECT_EQ(GetFeatureReport_Control(Context(), report, 4), 1);
  EXPECT_EQ(std::vector<std::uint8_t>(report, report + 4),
            (std::vector<std::uint8_t>{0x10, 0x11, 0x12, 0x13}));
  EXPECT_EQ(ExitTouch(), 1);
  EXPECT_EQ(Log(Context()),
            "InitTouch(7,-8,9," + ownerValue +
                ");GetTouchDevCount;SetWheelSensitivity(7);GetWheelSensitivity;"
                "SetPtStatusOIMode(1);HWReset;TestGetTotal;"
                "GetInputReportBufferLength;GetFeatureReport_Control(4);ExitTouch;");
}

TEST(WithComponent, AFunctionTheComponentLacksFailsAloneInItsBlock) {
  ClearLog();
  EXPECT_EQ(GetSmoothLevel(Context()), -1);
  EXPECT_EQ(EnableSmooth(Context()), 1);
  EXPECT_EQ(GetMaxPointNum(Context()), 0);
  EXPECT_EQ(EnableTouch(Context()), 1);
  EXPECT_EQ(GetFeatureVersion(Context()), -1);
  EXPECT_EQ(TestGetTotal(Context()), 0xA5);
  EXPECT_EQ(Log(Context()), "EnableSmooth;EnableTouch;TestGetTotal;");
}

TEST(WithComponent, ExitTouchOneReleasesBlock2Only) {
  ClearLog();
  ASSERT_EQ(EnableSmooth(Context()), 1);
  ASSERT_EQ(InitTouch(Context(), 0, 0, 0, nullptr), 1);
  ASSERT_EQ(TestGetTotal(Context()), 0xA5);

  EXPECT_EQ(ExitTouch(), 1);
  EXPECT_FALSE(ProcessBridge().Loaded(2));
  EXPECT_TRUE(ProcessBridge().Loaded(1));
  EXPECT_TRUE(ProcessBridge().Loaded(3));
  EXPECT_TRUE(ComponentMapped());  // blocks 1 and 3 still hold it
  EXPECT_EQ(EnableSmooth(Context()), 1);

  EXPECT_EQ(GetTouchDevCount(), 2);
  EXPECT_TRUE(ProcessBridge().Loaded(2));
}

TEST(WithComponent, ExitTouchZeroKeepsBlock2Loaded) {
  ASSERT_EQ(GetTouchDevCount(), 2);
  EXPECT_EQ(ExitTouch(), 0);  // never initialised
  EXPECT_TRUE(ProcessBridge().Loaded(2));
}

// The service's own calls, through the bridge, as the component sees them.
TEST(WithComponent, TheServiceSessionReachesTheComponentInOrder) {
  bridge::BridgeDriverApi api;
  std::vector<std::uint32_t> pauses;
  bridge::DriverApiSession session(api, [&](std::uint32_t ms) { pauses.push_back(ms); });
  int mainWindow = 0;
  const auto owner = std::to_string(reinterpret_cast<std::uintptr_t>(&mainWindow));

  session.Start(&mainWindow);
  EXPECT_EQ(session.DeviceCount(), 2);
  EXPECT_EQ(Log(session.Context()), "InitTouch(0,0,0," + owner +
                                        ");GetTouchDevCount;DisableRightButton;DisableWheel;"
                                        "DisableDrag;");

  std::string atDeviceShutdown;
  session.Shutdown([&] {
    session.SwitchMultiTouchMouse(true);
    atDeviceShutdown = Log(session.Context());
  });
  EXPECT_EQ(atDeviceShutdown.substr(atDeviceShutdown.find("DisableDrag;") + 12),
            "EnableRightButton;EnableWheel;SetWheelSensitivity(3);DisableTouch;EnableTouch;");
  EXPECT_EQ(pauses, (std::vector<std::uint32_t>{200, 100}));
  // ExitTouch came last and the component answered 1: block 2 let go.
  EXPECT_FALSE(ProcessBridge().Loaded(2));
  EXPECT_EQ(session.Context(), nullptr);
}

}  // namespace
