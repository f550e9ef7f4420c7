// The exported class without a frame: the class tree, record handling, and
// every refusal that needs no I/O. No simulator is named, so the library
// sees the machine's own HID stack, where no frame is attached.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "device/Pelladex.h"

namespace {

_TouchDevInfo Record(std::uint32_t kind, std::uint16_t version,
                     std::uint32_t interfaceType = TOUCHDEV_IF_HID) {
  _TouchDevInfo r;
  std::memset(&r, 0, sizeof r);
  r.deviceKind = kind;
  r.interfaceType = interfaceType;
  r.versionNumber = version;
  r.vendorId = 0x3D5E;
  r.productId = 0x0021;
  std::strcpy(r.devicePath, "\\\\?\\hid#vid_3d5e&pid_0021&col03#nowhere");
  return r;
}

class PelladexObject : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    _putenv("FRAMESIM_ADDR=");
#else
    unsetenv("FRAMESIM_ADDR");
#endif
  }
};

}  // namespace

TEST_F(PelladexObject, CreateChoosesTheClassFromTheRecord) {
  EXPECT_EQ(CPelladex::Create(nullptr), nullptr);
  struct Case {
    _TouchDevInfo record;
    const char* type;
  } cases[] = {
      {Record(1, 0x3002), "adv"},      {Record(1, 0x6FFF), "adv"},
      {Record(1, 0x3001), "std"},      {Record(1, 0x4001), "std"},
      {Record(2, 0x3300), "std"},      {Record(0, 0x3300), "std"},
      {Record(3, 0x0100), "std"},      {Record(1, 0x3300, TOUCHDEV_IF_COM), "com"},
      {Record(1, 0x3300, 3), nullptr},
  };
  for (const Case& c : cases) {
    std::unique_ptr<CPelladex> device(CPelladex::Create(&c.record));
    if (c.type == nullptr) {
      EXPECT_EQ(device, nullptr);
      continue;
    }
    ASSERT_NE(device, nullptr);
    const std::string type = dynamic_cast<CMorvikHIDDeviceAdv*>(device.get())   ? "adv"
                             : dynamic_cast<CMorvikHIDDeviceStd*>(device.get()) ? "std"
                             : dynamic_cast<CMorvikCOMDevice*>(device.get())    ? "com"
                                                                                : "?";
    EXPECT_EQ(type, c.type) << std::hex << c.record.deviceKind << " " << c.record.versionNumber;
    EXPECT_EQ(device->IsInit(), 1);
    EXPECT_EQ(std::memcmp(&device->m_info, &c.record, sizeof c.record), 0);
  }
}

TEST_F(PelladexObject, ConstructionStartsClosedWithInvalidHandles) {
  const _TouchDevInfo rec = Record(1, 0x2050);
  CMorvikHIDDeviceStd device(&rec);
  EXPECT_EQ(device.IsInit(), 0);
  EXPECT_EQ(device.IsOpen(), 0);
  EXPECT_EQ(device.m_shareMode, 3);
  for (PelladexHandle h : {device.m_hRead, device.m_hReplyRead, device.m_hTouchRead,
                           device.m_hWrite, device.m_hCtrlRead, device.m_hCtrlWrite}) {
    EXPECT_EQ(h, PELLADEX_INVALID_HANDLE);
  }
  EXPECT_EQ(device.m_readIdle + device.m_replyIdle + device.m_touchIdle + device.m_waitReply, 0);
  CPelladex empty;
  _TouchDevInfo zero;
  std::memset(&zero, 0, sizeof zero);
  EXPECT_EQ(std::memcmp(&empty.m_info, &zero, sizeof zero), 0);
}

TEST_F(PelladexObject, RecordHandling) {
  CPelladex device;
  _TouchDevInfo rec = Record(1, 0x2FFF);
  EXPECT_EQ(device.Attach(&rec), 1);
  EXPECT_EQ(device.IsInit(), 1);
  // Attached but never opened: Detach refuses and changes nothing.
  EXPECT_EQ(device.Detach(), 0);
  EXPECT_EQ(device.IsInit(), 1);
  EXPECT_EQ(device.m_info.versionNumber, 0x2FFF);

  device.SetPtStatusOIMode(true);
  device.SetPtWidthDataMode(true);
  _TouchDevInfo copy;
  EXPECT_EQ(device.GetDeviceInfo(&copy), 1);
  EXPECT_EQ(copy.ptStatusOIMode, 1);
  EXPECT_EQ(copy.ptWidthDataMode, 1);
  EXPECT_EQ(copy.xMin, 0u);
  EXPECT_EQ(copy.xMax, 4095u);
  EXPECT_EQ(copy.yMax, 4095u);
  EXPECT_EQ(device.m_info.xMax, 0u);  // only the copy carries the limits

  EXPECT_EQ(device.CmpDeviceInfo(&rec), 1);
  _TouchDevInfo other = rec;
  other.devicePath[10] = 'V';  // "vid" -> "Vid": letter case counts
  EXPECT_EQ(device.CmpDeviceInfo(&other), 0);
  other = rec;
  other.versionNumber++;
  EXPECT_EQ(device.CmpDeviceInfo(&other), 0);
  other = rec;
  other.detailValue = 99;  // details are not compared
  EXPECT_EQ(device.CmpDeviceInfo(&other), 1);

  EXPECT_EQ(device.SetDeviceInfo(&other), 1);
  EXPECT_EQ(device.m_info.detailValue, 99u);
}

TEST_F(PelladexObject, NullPointersAreRefused) {
  const _TouchDevInfo rec = Record(1, 0x2050);
  std::unique_ptr<CPelladex> device(CPelladex::Create(&rec));
  _TouchDevData data;
  EXPECT_EQ(device->Attach(nullptr), TD_ERR_PARAM);
  EXPECT_EQ(device->GetDeviceInfo(nullptr), TD_ERR_PARAM);
  EXPECT_EQ(device->SetDeviceInfo(nullptr), TD_ERR_PARAM);
  EXPECT_EQ(device->CmpDeviceInfo(nullptr), TD_ERR_PARAM);
  EXPECT_EQ(device->GetBuffer(nullptr), TD_ERR_PARAM);
  EXPECT_EQ(device->SendCmd(nullptr, &data), TD_ERR_PARAM);
  EXPECT_EQ(device->SendCmd(&data, nullptr), TD_ERR_PARAM);
  EXPECT_EQ(device->GetDevDetail(nullptr), TD_ERR_PARAM);
  EXPECT_EQ(device->GetStatusBytes(nullptr), TD_ERR_PARAM);
  EXPECT_EQ(CPelladex::FindDevice(nullptr, 8), -5);
  _TouchDevInfo list[1];
  EXPECT_EQ(CPelladex::FindDevice(list, 0), -4);
}

TEST_F(PelladexObject, ClosedDeviceAnswersWithoutIo) {
  const _TouchDevInfo rec = Record(1, 0x2050);
  std::unique_ptr<CPelladex> device(CPelladex::Create(&rec));
  _TouchDevData data{};
  std::uint8_t feature[8] = {1};
  EXPECT_EQ(device->GetBuffer(&data), 0);
  EXPECT_EQ(device->ReadData(10), TD_READ_NOT_OPEN);
  EXPECT_EQ(device->SendCmd(&data, &data), TD_ERR_NOT_OPEN);
  EXPECT_EQ(device->GetFeatureReport_Control(feature, sizeof feature), TD_ERR_NOT_OPEN);
  EXPECT_EQ(device->SetFeatureReport_Control(feature, sizeof feature), TD_ERR_NOT_OPEN);
  EXPECT_EQ(device->GetInputReport_Interrupt(feature, sizeof feature), 0);
  // The frame is not there: opening fails and leaves everything closed.
  EXPECT_EQ(device->OpenDevice(1), 0);
  EXPECT_EQ(device->IsOpen(), 0);
  EXPECT_EQ(device->m_hRead, PELLADEX_INVALID_HANDLE);
  // A detail query that cannot open the device reports the failure.
  _TouchDevInfo out = Record(1, 0x2050);
  out.detailValue = 5;
  EXPECT_EQ(device->GetDevDetail(&out), 0);
  EXPECT_EQ(out.detailValue, 5u);
}

TEST_F(PelladexObject, DevicesAMethodDoesNotServeGetZero) {
  _TouchDevData data{};
  std::uint8_t buf[8] = {};
  // Kind 0: a single-channel object that does no I/O.
  const _TouchDevInfo kind0 = Record(0, 0x2050);
  std::unique_ptr<CPelladex> device(CPelladex::Create(&kind0));
  EXPECT_EQ(device->OpenDevice(1), 0);
  EXPECT_EQ(device->ReadData(10), 0);
  EXPECT_EQ(device->SendCmd(&data, &data), 0);
  EXPECT_EQ(device->IsOpen(), 0);

  // Serial: recognised, no transport.
  const _TouchDevInfo com = Record(1, 0x2050, TOUCHDEV_IF_COM);
  device.reset(CPelladex::Create(&com));
  EXPECT_EQ(device->OpenDevice(1), 0);
  EXPECT_EQ(device->ReadData(10), 1);
  EXPECT_EQ(device->SendCmd(&data, &data), 0);
  EXPECT_EQ(device->GetFeatureReport_Control(buf, 8), 0);
  EXPECT_EQ(device->GetDeviceStatus(), 0);
  EXPECT_EQ(device->SetDeviceStatus(1, 2, 3, 4, 5), 0);

  // The control collection serves kind 1 from 0x2000 to 0x2FFE only.
  for (std::uint16_t v : {0x1FFF, 0x2FFF, 0x3300}) {
    const _TouchDevInfo rec = Record(1, v);
    device.reset(CPelladex::Create(&rec));
    EXPECT_EQ(device->GetFeatureReport_Control(buf, 8), 0) << std::hex << v;
    EXPECT_EQ(device->SetFeatureReport_Control(buf, 8), 0);
    EXPECT_EQ(device->GetInputReportBufferLength(), 0);
  }
}

TEST_F(PelladexObject, QueriesThatDoNotApplyDoNoIo) {
  // Detail with a serial caller record: a copy of the object's record, result 0.
  const _TouchDevInfo rec = Record(1, 0x2050);
  std::unique_ptr<CPelladex> device(CPelladex::Create(&rec));
  _TouchDevInfo out = Record(0, 0, TOUCHDEV_IF_COM);
  EXPECT_EQ(device->GetDevDetail(&out), 0);
  EXPECT_EQ(std::memcmp(&out, &device->m_info, sizeof out), 0);
  EXPECT_EQ(device->IsOpen(), 0);

  // Below 0x2018 the standard frame has no detail query.
  _TouchDevInfo old = Record(1, 0x2017);
  old.detailWord = 0x1234;
  device.reset(CPelladex::Create(&old));
  out = old;
  EXPECT_EQ(device->GetDevDetail(&out), 0);
  EXPECT_EQ(out.detailWord, 0x1234);

  // No maximum-points query outside its version windows: maxPointNum is 2.
  const _TouchDevInfo v3200 = Record(1, 0x3200);
  device.reset(CPelladex::Create(&v3200));
  EXPECT_EQ(device->GetDeviceMaxPointNum(), 0);
  EXPECT_EQ(device->m_info.maxPointNum, 2);

  // Modes belong to Series01xx frames.
  EXPECT_EQ(device->SetDeviceStatus(1, 2, 3, 4, 5), 0);
  EXPECT_EQ(device->GetDeviceStatus(), 0);
  EXPECT_EQ(device->IsOpen(), 0);
}
