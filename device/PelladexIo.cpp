// The HID transport of CPelladex over the platform seam: open and close,
// the persistent overlapped reads, command writes with reply capture, and
// the control collection of older standard frames.
#include <chrono>
#include <cstring>
#include <memory>

#include "device/DeviceRules.h"
#include "device/Pelladex.h"
#include "platform/Hid.h"

using pelladex::Variant;
using pelladex::VariantOf;

struct PelladexBackend {
  std::unique_ptr<platform::HidBackend> hid;
};

namespace {

constexpr auto kReplyWait = std::chrono::milliseconds(200);
constexpr std::uint32_t kReplyPollMs = 2;  // keeps touch input flowing
constexpr std::uint32_t kInterruptWaitMs = 20;

platform::HidDevice* Device(PelladexHandle h) {
  return static_cast<platform::HidDevice*>(h);
}
bool Valid(PelladexHandle h) {
  return h != PELLADEX_INVALID_HANDLE && h != nullptr;
}

PelladexHandle OpenHandle(PelladexBackend& backend, const char* path, platform::HidAccess access,
                          platform::HidShare share) {
  if (path[0] == '\0') return PELLADEX_INVALID_HANDLE;
  std::unique_ptr<platform::HidDevice> device = backend.hid->Open(path, access, share);
  return device ? device.release() : PELLADEX_INVALID_HANDLE;
}

// Cancels the handle's outstanding read (waiting for its end) and closes it.
void CloseHandle(PelladexHandle& h) {
  if (Valid(h)) {
    Device(h)->CancelRead();
    Device(h)->Close();
    delete Device(h);
  }
  h = PELLADEX_INVALID_HANDLE;
}

}  // namespace

// The reader side, with access to the object's private handshake.
struct PelladexIo {
  // One poll of a persistent read: issue a read when none is outstanding,
  // wait for it, and leave it outstanding when the time runs out.
  static short PolledRead(CPelladex& self, PelladexHandle handle, std::uint8_t& idle,
                          _TouchDevData& target, std::uint32_t timeoutMs, bool capturesReplies) {
    if (!self.m_isOpen) return TD_READ_NOT_OPEN;
    if (handle == PELLADEX_INVALID_HANDLE) return TD_READ_BAD_HANDLE;
    if (handle == nullptr) return TD_READ_NULL;
    platform::HidDevice& device = *Device(handle);
    if (idle) {
      std::memset(target.report, 0, sizeof target.report);
      if (!device.StartRead(target.report)) return 0;  // the device is gone
    }
    std::size_t bytes = 0;
    switch (device.WaitRead(timeoutMs, bytes)) {
      case platform::HidIoStatus::kTimedOut:
        idle = 0;
        return TD_READ_TIMEOUT;
      case platform::HidIoStatus::kFailed:
        idle = 1;
        return 0;
      case platform::HidIoStatus::kCompleted:
        break;
    }
    idle = 1;
    if (capturesReplies) CaptureReply(self, target);
    return bytes == TOUCHDEV_REPORT_LEN ? TOUCHDEV_REPORT_LEN : 0;
  }

  // While a command waits, the report just read is its reply. The test,
  // copy and signal happen under the lock the sender gives up under.
  static void CaptureReply(CPelladex& self, _TouchDevData& source) {
    std::lock_guard<std::mutex> lock(self.m_replyLock);
    if (!self.m_waitReply) return;
    std::memcpy(&self.m_replyBuf, &source, sizeof source);
    std::memset(source.report, 0, sizeof source.report);
    self.m_waitReply = 0;
    self.m_replySignalled = true;
    self.m_replyEvent.notify_all();
  }

  static bool WaitingForReply(CPelladex& self) {
    std::lock_guard<std::mutex> lock(self.m_replyLock);
    return self.m_waitReply != 0;
  }

  static bool OpenSplitChannel(CPelladex& self, bool shared) {
    PelladexBackend& b = *self.m_backend;
    const _TouchDevInfo& info = self.m_info;
    if (shared) {
      self.m_hReplyRead =
          OpenHandle(b, info.replyPath, platform::kHidRead, platform::HidShare::kShared);
      self.m_hTouchRead =
          OpenHandle(b, info.touchPath, platform::kHidRead, platform::HidShare::kShared);
      self.m_hWrite =
          OpenHandle(b, info.replyPath, platform::kHidWrite, platform::HidShare::kShared);
    } else {
      self.m_hReplyRead =
          OpenHandle(b, info.replyPath, platform::kHidReadWrite, platform::HidShare::kExclusive);
      self.m_hWrite = self.m_hReplyRead;
      self.m_hTouchRead =
          OpenHandle(b, info.touchPath, platform::kHidRead, platform::HidShare::kExclusive);
    }
    if (!Valid(self.m_hReplyRead) || !Valid(self.m_hTouchRead) || !Valid(self.m_hWrite)) {
      return false;
    }
    self.m_isOpen = 1;
    self.m_replyIdle = 1;
    self.m_touchIdle = 1;
    return true;
  }

  static bool OpenSingleChannel(CPelladex& self, bool shared) {
    PelladexBackend& b = *self.m_backend;
    const _TouchDevInfo& info = self.m_info;
    if (shared) {
      self.m_hRead =
          OpenHandle(b, info.devicePath, platform::kHidRead, platform::HidShare::kShared);
      self.m_hWrite =
          OpenHandle(b, info.devicePath, platform::kHidWrite, platform::HidShare::kShared);
    } else {
      self.m_hRead =
          OpenHandle(b, info.devicePath, platform::kHidReadWrite, platform::HidShare::kExclusive);
      self.m_hWrite = self.m_hRead;
    }
    if (pelladex::HasControlCollection(info)) {
      // A control collection that cannot be opened only leaves its handles
      // invalid; the feature operations then answer TD_ERR_BAD_HANDLE.
      self.m_hCtrlRead =
          OpenHandle(b, info.controlPath, platform::kHidRead, platform::HidShare::kShared);
      self.m_hCtrlWrite =
          OpenHandle(b, info.controlPath, platform::kHidWrite, platform::HidShare::kShared);
      const PelladexHandle query = Valid(self.m_hCtrlRead) ? self.m_hCtrlRead : self.m_hCtrlWrite;
      if (Valid(query)) {
        const platform::HidCaps caps = Device(query)->Caps();
        self.m_inputReportLen = static_cast<std::int16_t>(caps.inputReportLength);
        self.m_outputReportLen = static_cast<std::int16_t>(caps.outputReportLength);
        self.m_featureReportLen = static_cast<std::int16_t>(caps.featureReportLength);
      }
    }
    if (!Valid(self.m_hRead) || !Valid(self.m_hWrite)) return false;
    self.m_isOpen = 1;
    self.m_readIdle = 1;
    return true;
  }
};

short CPelladex::FindDevice(_TouchDevInfo* list, short count) {
  if (list == nullptr) return TD_READ_NULL;
  if (count <= 0) return TD_READ_BAD_ARG;
  std::unique_ptr<platform::HidBackend> backend = platform::CreateHidBackend();
  // Each pass walks the interfaces present at that moment.
  return pelladex::FindFrames(
      [&backend] {
        return backend ? backend->Enumerate() : std::vector<platform::HidInterfaceInfo>{};
      },
      list, count);
}

char CPelladex::OpenDevice(char shared) {
  if (m_info.interfaceType != TOUCHDEV_IF_HID) return 0;
  const Variant variant = VariantOf(m_info);
  if (variant != Variant::kSplitChannel && variant != Variant::kSingleChannel) return 0;
  if (m_isOpen) return 1;  // opening twice would orphan the first handles
  CloseDevice();           // whatever a failed open left behind
  m_shareMode = shared ? 3 : 0;
  m_backend = new (std::nothrow) PelladexBackend;
  if (m_backend == nullptr) return 0;
  m_backend->hid = platform::CreateHidBackend();
  if (!m_backend->hid) {
    CloseDevice();
    return 0;
  }
  const bool ok = variant == Variant::kSplitChannel
                      ? PelladexIo::OpenSplitChannel(*this, shared != 0)
                      : PelladexIo::OpenSingleChannel(*this, shared != 0);
  if (!ok) {
    CloseDevice();
    return 0;
  }
  // Series01xx frames report their modes at open; the query acts on nothing else.
  if (variant == Variant::kSingleChannel) GetDeviceStatus();
  return static_cast<char>(m_isOpen);
}

void CPelladex::CloseDevice() {
  // m_hWrite may be the same handle as a read handle (exclusive mode).
  if (m_hWrite == m_hRead || m_hWrite == m_hReplyRead) m_hWrite = PELLADEX_INVALID_HANDLE;
  CloseHandle(m_hRead);
  CloseHandle(m_hReplyRead);
  CloseHandle(m_hTouchRead);
  CloseHandle(m_hWrite);
  CloseHandle(m_hCtrlRead);
  CloseHandle(m_hCtrlWrite);
  m_readIdle = 0;
  m_replyIdle = 0;
  m_touchIdle = 0;
  m_isOpen = 0;
  delete m_backend;  // after its handles
  m_backend = nullptr;
}

void CPelladex::EndOutstandingReads() {
  for (PelladexHandle h : {m_hRead, m_hReplyRead, m_hTouchRead, m_hCtrlRead}) {
    if (Valid(h)) Device(h)->CancelRead();
  }
  if (m_isOpen) {
    // A cancelled read is no longer outstanding: the next poll issues a new one.
    m_readIdle = 1;
    m_replyIdle = 1;
    m_touchIdle = 1;
  }
}

short CPelladex::ReadData(short timeoutMs) {
  switch (VariantOf(m_info)) {
    case Variant::kSerial:
      return 1;
    case Variant::kNone:
      return 0;
    case Variant::kSingleChannel:
    case Variant::kSplitChannel:
      break;
  }
  if (!m_isOpen) return TD_READ_NOT_OPEN;
  const PelladexHandle input =
      VariantOf(m_info) == Variant::kSingleChannel ? m_hRead : m_hTouchRead;
  if (input == PELLADEX_INVALID_HANDLE) return TD_READ_BAD_HANDLE;
  if (input == nullptr) return TD_READ_NULL;
  if (timeoutMs < 0) return TD_READ_BAD_ARG;
  const std::uint32_t wait =
      timeoutMs == 0 ? platform::kWaitForever : static_cast<std::uint32_t>(timeoutMs);
  if (VariantOf(m_info) == Variant::kSingleChannel) {
    return PelladexIo::PolledRead(*this, m_hRead, m_readIdle, m_dataBuf, wait, true);
  }
  if (PelladexIo::WaitingForReply(*this)) {
    PelladexIo::PolledRead(*this, m_hReplyRead, m_replyIdle, m_replyRaw, kReplyPollMs, true);
  }
  return PelladexIo::PolledRead(*this, m_hTouchRead, m_touchIdle, m_dataBuf, wait, false);
}

char CPelladex::GetBuffer(_TouchDevData* out) {
  if (out == nullptr) return TD_ERR_PARAM;
  // Byte 0 is 0 before the first report and after a report taken as a reply.
  if (m_dataBuf.report[0] == 0) return 0;
  std::memcpy(out, &m_dataBuf, sizeof *out);
  return 1;
}

char CPelladex::SendCmd(const _TouchDevData* cmd, _TouchDevData* reply) {
  if (cmd == nullptr || reply == nullptr) return TD_ERR_PARAM;
  const Variant variant = VariantOf(m_info);
  if (variant != Variant::kSplitChannel && variant != Variant::kSingleChannel) return 0;
  if (!m_isOpen) return TD_ERR_NOT_OPEN;
  if (m_hWrite == PELLADEX_INVALID_HANDLE) return TD_ERR_BAD_HANDLE;
  if (m_hWrite == nullptr) return TD_ERR_PARAM;

  std::uint8_t report[TOUCHDEV_REPORT_LEN];
  std::memcpy(report, cmd->report, sizeof report);
  report[0] = m_info.reportId;
  const bool waits = cmd->waitReply != 0;

  std::unique_lock<std::mutex> turn(m_sendLock, std::defer_lock);
  if (waits) turn.lock();
  std::unique_lock<std::mutex> lock(m_replyLock, std::defer_lock);
  if (waits) {
    lock.lock();
    m_replySignalled = false;
    m_waitReply = 1;
    lock.unlock();
  }
  if (!Device(m_hWrite)->Write(report, sizeof report)) {
    if (waits) {
      lock.lock();
      m_waitReply = 0;
    }
    return 0;
  }
  if (!waits) return 1;

  lock.lock();
  if (!m_replyEvent.wait_for(lock, kReplyWait, [this] { return m_replySignalled; })) {
    // Given up under the lock: a reply read from now on is ordinary input.
    m_waitReply = 0;
    return TD_ERR_REPLY_TIMEOUT;
  }
  m_replySignalled = false;
  std::memcpy(reply, &m_replyBuf, sizeof *reply);
  return 1;
}

char CPelladex::GetFeatureReport_Control(std::uint8_t* buffer, std::uint32_t length) {
  if (!pelladex::ServesControlOperations(m_info)) return 0;
  if (!m_isOpen) return TD_ERR_NOT_OPEN;
  if (m_hCtrlRead == PELLADEX_INVALID_HANDLE) return TD_ERR_BAD_HANDLE;
  if (m_hCtrlRead == nullptr || buffer == nullptr) return TD_ERR_PARAM;
  return Device(m_hCtrlRead)->GetFeature(buffer, length) ? 1 : 0;
}

char CPelladex::SetFeatureReport_Control(std::uint8_t* buffer, std::uint32_t length) {
  if (!pelladex::ServesControlOperations(m_info)) return 0;
  if (!m_isOpen) return TD_ERR_NOT_OPEN;
  if (m_hCtrlWrite == PELLADEX_INVALID_HANDLE) return TD_ERR_BAD_HANDLE;
  if (m_hCtrlWrite == nullptr || buffer == nullptr) return TD_ERR_PARAM;
  return Device(m_hCtrlWrite)->SetFeature(buffer, length) ? 1 : 0;
}

short CPelladex::GetInputReportBufferLength() {
  return pelladex::ServesControlOperations(m_info) ? m_inputReportLen : 0;
}

char CPelladex::GetInputReport_Interrupt(std::uint8_t* buffer, std::uint32_t length) {
  if (!pelladex::ServesControlOperations(m_info)) return 0;
  if (!Valid(m_hCtrlRead) || buffer == nullptr || length < 1) return 0;
  platform::HidDevice& device = *Device(m_hCtrlRead);
  // The seam reads whole reports: read into our own buffer and hand the
  // caller no more than it has room for.
  std::uint8_t report[platform::kReportSize] = {};
  if (!device.StartRead(report)) return 0;
  std::size_t bytes = 0;
  const platform::HidIoStatus status = device.WaitRead(kInterruptWaitMs, bytes);
  if (status != platform::HidIoStatus::kCompleted) {
    device.CancelRead();  // ends before `report` goes away
    return 0;
  }
  std::memcpy(buffer, report, bytes < length ? bytes : length);
  return bytes > 0 ? 1 : 0;
}
