// The Windows backend on the real Win32 API (under Wine here): enumeration
// runs and finds no frame, a missing path fails cleanly, notifications can be
// registered and unregistered, and the factory picks it without FRAMESIM_ADDR.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "platform/Hid.h"

using namespace platform;

TEST(HidWin32, EnumerationReturnsWithoutFrames) {
  auto backend = CreateOsHidBackend();
  EXPECT_EQ(backend->Describe(), "win32");
  for (const HidInterfaceInfo& i : backend->Enumerate()) {
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
      EXPECT_EQ(backend->Open(missing, a, s), nullptr);
  EXPECT_EQ(backend->Open("", kHidRead, HidShare::kShared), nullptr);
}

TEST(HidWin32, NotificationsRegisterAndUnregister) {
  auto backend = CreateOsHidBackend();
  EXPECT_TRUE(backend->SetChangeCallback([](HidChange, const std::string&) {}));
  EXPECT_TRUE(backend->SetChangeCallback([](HidChange, const std::string&) {}));  // replaced
  EXPECT_TRUE(backend->SetChangeCallback(nullptr));
}

TEST(HidWin32, FactoryPicksTheSimulatorOnlyWhenNamed) {
  _putenv("FRAMESIM_ADDR=");
  EXPECT_EQ(CreateHidBackend()->Describe(), "win32");
  _putenv("FRAMESIM_ADDR=127.0.0.1:4711");
  EXPECT_EQ(CreateHidBackend()->Describe(), "virtual 127.0.0.1:4711");
  _putenv("FRAMESIM_ADDR=");
  EXPECT_EQ(CreateVirtualHidBackend("nonsense"), nullptr);
}

// The overlapped read, write and close logic on a real Windows handle. No HID
// device exists here, so a message-mode named pipe plays the device's end:
// each 64-byte message is one report.
class HidWin32Overlapped : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = "\\\\.\\pipe\\vantrel-hid-test-" + std::to_string(GetCurrentProcessId());
    server_ = CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_DUPLEX,
                               PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096,
                               0, nullptr);
    ASSERT_NE(server_, INVALID_HANDLE_VALUE);
    backend_ = CreateOsHidBackend();
    device_ = backend_->Open(path_, kHidReadWrite, HidShare::kShared);
    ASSERT_TRUE(device_);
    ConnectNamedPipe(server_, nullptr);  // already connected: ERROR_PIPE_CONNECTED
  }
  void TearDown() override {
    device_.reset();
    CloseHandle(server_);
  }
  void DeviceSends(std::uint8_t tag) {
    std::uint8_t report[kReportSize] = {0xFC, tag};
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(server_, report, sizeof report, &n, nullptr));
  }
  std::string path_;
  HANDLE server_ = INVALID_HANDLE_VALUE;
  std::unique_ptr<HidBackend> backend_;
  std::unique_ptr<HidDevice> device_;
};

TEST_F(HidWin32Overlapped, TimedOutReadStaysOutstandingAndCompletesLater) {
  std::uint8_t buf[kReportSize] = {};
  ASSERT_TRUE(device_->StartRead(buf));
  EXPECT_FALSE(device_->StartRead(buf));
  std::size_t n = 0;
  EXPECT_EQ(device_->WaitRead(20, n), HidIoStatus::kTimedOut);
  EXPECT_TRUE(device_->ReadPending());
  DeviceSends(0x41);
  EXPECT_EQ(device_->WaitRead(5000, n), HidIoStatus::kCompleted);
  EXPECT_EQ(n, kReportSize);
  EXPECT_EQ(buf[1], 0x41);
  EXPECT_FALSE(device_->ReadPending());
  ASSERT_TRUE(device_->StartRead(buf));
  device_->CancelRead();
  EXPECT_FALSE(device_->ReadPending());
}

TEST_F(HidWin32Overlapped, CloseCompletesAPendingReadAtOnce) {
  std::uint8_t buf[kReportSize];
  ASSERT_TRUE(device_->StartRead(buf));
  std::atomic<int> status{-1};
  std::thread reader([&] {
    std::size_t n = 0;
    status = static_cast<int>(device_->WaitRead(kWaitForever, n));
  });
  Sleep(50);
  EXPECT_EQ(status.load(), -1);
  device_->Close();
  reader.join();
  EXPECT_EQ(status.load(), static_cast<int>(HidIoStatus::kFailed));
  EXPECT_FALSE(device_->IsOpen());
  std::uint8_t cmd[kReportSize] = {0xFC, 0x05};
  EXPECT_FALSE(device_->Write(cmd, sizeof cmd));
  EXPECT_FALSE(device_->StartRead(buf));
}

TEST_F(HidWin32Overlapped, WritesCompleteInTheBackgroundInOrder) {
  std::uint64_t ids[6];
  for (std::uint8_t i = 0; i < 6; ++i) {
    std::uint8_t cmd[kReportSize] = {0xFC, 0x06, i};
    ids[i] = device_->Write(cmd, sizeof cmd);
    ASSERT_TRUE(ids[i]) << int(i);
  }
  for (std::uint64_t id : ids)
    EXPECT_EQ(device_->WaitWrite(id, 5000), HidIoStatus::kCompleted) << id;
  for (std::uint8_t i = 0; i < 6; ++i) {
    std::uint8_t got[kReportSize] = {};
    DWORD n = 0;
    ASSERT_TRUE(ReadFile(server_, got, sizeof got, &n, nullptr));
    EXPECT_EQ(n, kReportSize);
    EXPECT_EQ(got[2], i);
  }
}

// A device that takes a write only when it reads it (a pipe with no
// buffer): each write is waited for by its number, the one that hangs
// holds up no other's wait, and a close fails those still in flight.
TEST_F(HidWin32Overlapped, EachWriteIsWaitedForByItsNumber) {
  const std::string path = path_ + "-unbuffered";
  HANDLE server =
      CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX,
                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 0, 0, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  auto device = backend_->Open(path, kHidReadWrite, HidShare::kShared);
  ASSERT_TRUE(device);
  const std::uint8_t cmd[kReportSize] = {0xFC, 0x06};
  const std::uint64_t first = device->Write(cmd, sizeof cmd),
                      second = device->Write(cmd, sizeof cmd);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(second, first + 1);
  EXPECT_EQ(device->WaitWrite(first, 50), HidIoStatus::kTimedOut);
  std::uint8_t got[kReportSize];
  DWORD n = 0;
  ASSERT_TRUE(ReadFile(server, got, sizeof got, &n, nullptr));
  EXPECT_EQ(device->WaitWrite(first, 5000), HidIoStatus::kCompleted);
  device->Close();
  EXPECT_EQ(device->WaitWrite(second, 5000), HidIoStatus::kFailed);
  CloseHandle(server);
}
