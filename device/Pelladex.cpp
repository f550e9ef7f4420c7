// CPelladex: construction, record handling and the device queries. The
// transport (open, close, reads, commands) is in PelladexIo.cpp.
#include "device/Pelladex.h"

#include <cstring>
#include <new>

#include "device/DeviceRules.h"
#include "device/Queries.h"

using pelladex::Variant;
using pelladex::VariantOf;

CPelladex::CPelladex() : CPelladex(nullptr) {}

CPelladex::CPelladex(const _TouchDevInfo* info)
    : m_waitReply(0),
      m_readIdle(0),
      m_replyIdle(0),
      m_touchIdle(0),
      m_shareMode(3),
      m_hRead(PELLADEX_INVALID_HANDLE),
      m_hReplyRead(PELLADEX_INVALID_HANDLE),
      m_hTouchRead(PELLADEX_INVALID_HANDLE),
      m_hWrite(PELLADEX_INVALID_HANDLE),
      m_hCtrlRead(PELLADEX_INVALID_HANDLE),
      m_hCtrlWrite(PELLADEX_INVALID_HANDLE),
      m_inputReportLen(0),
      m_outputReportLen(0),
      m_featureReportLen(0),
      m_isOpen(0),
      m_isInit(0),
      m_backend(nullptr),
      m_replySignalled(false) {
  if (info != nullptr) {
    std::memcpy(&m_info, info, sizeof m_info);
  } else {
    std::memset(&m_info, 0, sizeof m_info);
  }
  std::memset(&m_dataBuf, 0, sizeof m_dataBuf);
  std::memset(&m_replyRaw, 0, sizeof m_replyRaw);
  std::memset(&m_replyBuf, 0, sizeof m_replyBuf);
  std::memset(m_status, 0, sizeof m_status);
}

CPelladex::~CPelladex() {
  m_isInit = 0;
  // The subclasses have ended their reads and closed already; this covers a
  // plain CPelladex or CMorvikHIDDevice.
  EndOutstandingReads();
  if (m_isOpen) CloseDevice();
}

CMorvikHIDDevice::~CMorvikHIDDevice() = default;

CMorvikHIDDeviceAdv::~CMorvikHIDDeviceAdv() {
  EndOutstandingReads();
  if (m_isOpen) CloseDevice();
}

CMorvikHIDDeviceStd::~CMorvikHIDDeviceStd() {
  EndOutstandingReads();
  if (m_isOpen) CloseDevice();
}

CMorvikCOMDevice::~CMorvikCOMDevice() = default;

CPelladex* CPelladex::Create(const _TouchDevInfo* info) {
  if (info == nullptr) return nullptr;
  CPelladex* device = nullptr;
  if (info->interfaceType == TOUCHDEV_IF_HID) {
    if (pelladex::IsSplitChannel(*info)) {
      device = new (std::nothrow) CMorvikHIDDeviceAdv(info);
    } else {
      device = new (std::nothrow) CMorvikHIDDeviceStd(info);
    }
  } else if (info->interfaceType == TOUCHDEV_IF_COM) {
    device = new (std::nothrow) CMorvikCOMDevice(info);
  }
  if (device != nullptr) device->m_isInit = 1;
  return device;
}

char CPelladex::Attach(const _TouchDevInfo* info) {
  if (info == nullptr) return TD_ERR_PARAM;
  std::memcpy(&m_info, info, sizeof m_info);
  m_isInit = 1;
  return 1;
}

char CPelladex::Detach() {
  if (!pelladex::IsHidKnownKind(m_info) || !m_isOpen) return 0;
  CloseDevice();
  std::memset(&m_info, 0, sizeof m_info);
  m_isInit = 0;
  m_isOpen = 0;
  return 1;
}

char CPelladex::GetDeviceInfo(_TouchDevInfo* out) {
  if (out == nullptr) return TD_ERR_PARAM;
  std::memcpy(out, &m_info, sizeof *out);
  out->xMin = 0;
  out->yMin = 0;
  out->xMax = out->yMax = pelladex::LogicalMaximum(m_info);
  return 1;
}

char CPelladex::SetDeviceInfo(const _TouchDevInfo* info) {
  if (info == nullptr) return TD_ERR_PARAM;
  std::memcpy(&m_info, info, sizeof m_info);
  return 1;
}

char CPelladex::CmpDeviceInfo(const _TouchDevInfo* info) {
  if (info == nullptr) return TD_ERR_PARAM;
  return info->vendorId == m_info.vendorId && info->productId == m_info.productId &&
                 info->versionNumber == m_info.versionNumber &&
                 std::strncmp(info->devicePath, m_info.devicePath, TOUCHDEV_PATH_LEN) == 0
             ? 1
             : 0;
}

char CPelladex::IsInit() {
  return static_cast<char>(m_isInit);
}

char CPelladex::IsOpen() {
  return pelladex::IsHidKnownKind(m_info) ? static_cast<char>(m_isOpen) : 0;
}

void CPelladex::SetPtStatusOIMode(bool on) {
  m_info.ptStatusOIMode = on ? 1 : 0;
}
void CPelladex::SetPtWidthDataMode(bool on) {
  m_info.ptWidthDataMode = on ? 1 : 0;
}

char CPelladex::GetStatusBytes(std::uint8_t out[6]) {
  if (out == nullptr) return TD_ERR_PARAM;
  std::memcpy(out, m_status, sizeof m_status);
  return 1;
}

// --- queries --------------------------------------------------------------

namespace {

_TouchDevData ZeroedReply() {
  _TouchDevData reply;
  std::memset(&reply, 0, sizeof reply);
  return reply;
}

}  // namespace

char CPelladex::GetDevDetail(_TouchDevInfo* out) {
  if (out == nullptr) return TD_ERR_PARAM;
  if (out->interfaceType != TOUCHDEV_IF_HID) {
    std::memcpy(out, &m_info, sizeof *out);
    return 0;
  }
  // A closed HID device is opened (shared) before anything else is decided.
  if (!m_isOpen && m_info.interfaceType == TOUCHDEV_IF_HID) OpenDevice(1);
  // Nothing could be asked: a failure (not reported as success), and the
  // caller's record stays as it was.
  if (!m_isOpen) return 0;
  char result = 0;
  const bool standard = pelladex::StandardDetailApplies(m_info);
  const bool series = m_info.deviceKind == TOUCHDEV_KIND_SERIES01XX;
  if (standard) {
    const _TouchDevData cmd = pelladex::StandardDetailCommand();
    _TouchDevData reply = ZeroedReply();
    SendCmd(&cmd, &reply);  // a failed send leaves the zeroed reply, which is rejected
    result = pelladex::ApplyStandardDetail(m_info, reply) ? 1 : 0;
  } else if (series) {
    if (!pelladex::SeriesQueriesApply(m_info)) {
      m_info.detailWord = 0;
      m_info.detailValue = 0;
    } else {
      for (std::uint8_t code : {pelladex::kSeriesDetailWord, pelladex::kSeriesDetailValue}) {
        const _TouchDevData cmd = pelladex::SeriesDetailCommand(code);
        _TouchDevData reply = ZeroedReply();
        SendCmd(&cmd, &reply);
        result = pelladex::ApplySeriesDetail(m_info, code, reply) ? 1 : 0;
      }
    }
  }
  std::memcpy(out, &m_info, sizeof *out);
  return result;
}

char CPelladex::GetDeviceMaxPointNum() {
  m_info.maxPointNum = 2;
  if (!pelladex::MaxPointsApplies(m_info) || m_info.interfaceType != TOUCHDEV_IF_HID) return 0;
  const _TouchDevData cmd = pelladex::MaxPointsCommand();
  _TouchDevData reply = ZeroedReply();
  const char sent = SendCmd(&cmd, &reply);
  return pelladex::ApplyMaxPoints(m_info, sent, reply) ? 1 : 0;
}

char CPelladex::GetDeviceStatus() {
  if (m_info.interfaceType != TOUCHDEV_IF_HID) return 0;
  // Opened on demand whatever the frame; opening a Series01xx frame runs
  // this query itself (the device is open by then, so it does not recurse).
  if (!m_isOpen) OpenDevice(1);
  if (!m_isOpen || !pelladex::SeriesQueriesApply(m_info)) return 0;
  const _TouchDevData cmd = pelladex::SeriesModeReadCommand();
  _TouchDevData reply = ZeroedReply();
  const char sent = SendCmd(&cmd, &reply);
  return pelladex::ApplySeriesModeRead(m_info, m_status, sent, reply) ? 1 : 0;
}

char CPelladex::SetDeviceStatus(std::uint8_t m0, std::uint8_t m1, std::uint8_t m2, std::uint8_t m3,
                                std::uint8_t m4) {
  if (m_info.interfaceType != TOUCHDEV_IF_HID) return 0;
  if (!m_isOpen) OpenDevice(1);
  if (!m_isOpen || !pelladex::SeriesQueriesApply(m_info)) return 0;
  const std::uint8_t mode[5] = {m0, m1, m2, m3, m4};
  const _TouchDevData cmd = pelladex::SeriesModeWriteCommand(m_info, mode);
  _TouchDevData reply = ZeroedReply();
  const char sent = SendCmd(&cmd, &reply);
  return pelladex::SeriesModeWriteAccepted(sent, reply, mode) ? 1 : 0;
}
