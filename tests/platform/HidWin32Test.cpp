// The Windows backend on the real Win32 API (under Wine here): enumeration
// runs and finds no frame, a missing path fails cleanly, notifications can be
// registered and unregistered, and the factory picks it without FRAMESIM_ADDR.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/Hid.h"

using namespace platform;

TEST(HidWin32, EnumerationReturnsWithoutFrames) {
  auto backend = CreateOsHidBackend();
  EXPECT_EQ(backend->describe(), "win32");
  for (const HidInterfaceInfo& i : backend->enumerate()) {
    EXPECT_FALSE(i.path.empty());
    EXPECT_NE(i.vendorId, 0x3D5E) << i.path;  // no touch frame on this machine
  }
}

TEST(HidWin32, OpeningAMissingPathFailsCleanly) {
  auto backend = CreateOsHidBackend();
  const std::string missing =
      "\\\\?\\hid#vid_3d5e&pid_0021&col03#7&2a8f1c3&0&0002#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  for (HidAccess a : {kHidRead, kHidWrite, kHidReadWrite})
    for (HidShare s : {HidShare::kShared, HidShare::kExclusive})
      EXPECT_EQ(backend->open(missing, a, s), nullptr);
  EXPECT_EQ(backend->open("", kHidRead, HidShare::kShared), nullptr);
}

TEST(HidWin32, NotificationsRegisterAndUnregister) {
  auto backend = CreateOsHidBackend();
  EXPECT_TRUE(backend->setChangeCallback([](HidChange, const std::string&) {}));
  EXPECT_TRUE(backend->setChangeCallback([](HidChange, const std::string&) {}));  // replaced
  EXPECT_TRUE(backend->setChangeCallback(nullptr));
}

TEST(HidWin32, FactoryPicksTheSimulatorOnlyWhenNamed) {
  _putenv("FRAMESIM_ADDR=");
  EXPECT_EQ(CreateHidBackend()->describe(), "win32");
  _putenv("FRAMESIM_ADDR=127.0.0.1:4711");
  EXPECT_EQ(CreateHidBackend()->describe(), "virtual 127.0.0.1:4711");
  _putenv("FRAMESIM_ADDR=");
  EXPECT_EQ(CreateVirtualHidBackend("nonsense"), nullptr);
}
