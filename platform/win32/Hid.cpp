// The HID seam on Windows: SetupAPI enumeration, HID attributes and
// capabilities, overlapped file I/O, and device-interface notifications
// through a message-only window on a thread of its own.
#include <windows.h>
// clang-format off
#include <setupapi.h>
#include <dbt.h>
extern "C" {  // the HID headers declare no C linkage of their own
#include <hidsdi.h>
#include <hidpi.h>
}
// clang-format on

#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform/Hid.h"
#include "platform/Trace.h"
#include "platform/WriteLedger.h"

namespace platform {

namespace {

// "<what>: <the system's text>" for the thread's last error.
std::string SystemError(const std::string& what) {
  char text[256];
  return what + ": " + ErrorText(text, sizeof text, GetLastError());
}

static_assert(sizeof(void*) != 4 || sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5,
              "the interface detail's size field is 5 on 32-bit Windows");
static_assert(sizeof(void*) != 4 || sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32,
              "the notification filter is 32 bytes on 32-bit Windows");

// A handle with no access rights, for attribute and capability queries.
HANDLE OpenQueryHandle(const char* path) {
  return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

class Win32HidDevice : public HidDevice {
 public:
  Win32HidDevice(HANDLE h, std::string path, HidCaps caps)
      : h_(h), path_(std::move(path)), caps_(caps) {
    readEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    closeEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (Slot& s : writes_) s.ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }
  ~Win32HidDevice() override {
    Close();
    CloseHandle(readEvent_);
    CloseHandle(closeEvent_);
    for (Slot& s : writes_) CloseHandle(s.ov.hEvent);
  }
  bool Valid() const {
    if (!readEvent_ || !closeEvent_) return false;
    for (const Slot& s : writes_)
      if (!s.ov.hEvent) return false;
    return true;
  }

  bool StartRead(std::uint8_t* buffer) override {
    std::lock_guard<std::mutex> lock(m_);
    if (closed_) return Refuse("the handle is closed");
    if (readPending_) return Refuse("a read is already outstanding");
    std::memset(&readOv_, 0, sizeof readOv_);
    readOv_.hEvent = readEvent_;
    ResetEvent(readEvent_);
    if (!ReadFile(h_, buffer, static_cast<DWORD>(kReportSize), nullptr, &readOv_) &&
        GetLastError() != ERROR_IO_PENDING)
      return error_.Fail(SystemError("read " + path_));
    error_.Clear();
    readPending_ = true;
    return true;
  }

  HidIoStatus WaitRead(std::uint32_t timeoutMs, std::size_t& bytesRead) override {
    bytesRead = 0;
    {
      std::lock_guard<std::mutex> lock(m_);
      if (!readPending_)
        return Refuse(closed_ ? "the handle is closed" : "no read outstanding"),
               HidIoStatus::kFailed;
    }
    HANDLE events[2] = {readEvent_, closeEvent_};
    DWORD r =
        WaitForMultipleObjects(2, events, FALSE, timeoutMs == kWaitForever ? INFINITE : timeoutMs);
    if (r == WAIT_TIMEOUT) return error_.Clear(), HidIoStatus::kTimedOut;
    std::lock_guard<std::mutex> lock(m_);
    if (!readPending_)  // closed or cancelled meanwhile
      return Refuse(closed_ ? "the handle is closed" : "the read was cancelled"),
             HidIoStatus::kFailed;
    DWORD n = 0;
    BOOL ok = GetOverlappedResult(h_, &readOv_, &n, FALSE);
    if (!ok && GetLastError() == ERROR_IO_INCOMPLETE) return error_.Clear(), HidIoStatus::kTimedOut;
    readPending_ = false;
    if (!ok) return error_.Fail(SystemError("read " + path_)), HidIoStatus::kFailed;
    error_.Clear();
    bytesRead = n;
    return HidIoStatus::kCompleted;
  }

  bool ReadPending() const override {
    std::lock_guard<std::mutex> lock(m_);
    return readPending_;
  }

  void CancelRead() override {
    std::lock_guard<std::mutex> lock(m_);
    EndRead();
  }

  std::uint64_t Write(const std::uint8_t* report, std::size_t length) override {
    if (length == 0 || length > kReportSize) return Refuse("bad report length");
    std::lock_guard<std::mutex> lock(m_);
    if (closed_) return Refuse("the handle is closed");
    Reap();
    for (Slot& s : writes_) {
      if (s.busy) continue;
      std::memcpy(s.bytes, report, length);
      HANDLE ev = s.ov.hEvent;
      std::memset(&s.ov, 0, sizeof s.ov);
      s.ov.hEvent = ev;
      ResetEvent(ev);
      if (!WriteFile(h_, s.bytes, static_cast<DWORD>(length), nullptr, &s.ov)) {
        const DWORD error = GetLastError();
        // A failure without an error code counts as sent; nothing is in
        // flight, so the record stays free.
        if (error == 0) {
          const std::uint64_t id = ledger_.Issue();
          ledger_.End(id, true);
          return error_.Clear(), id;
        }
        if (error != ERROR_IO_PENDING) return error_.Fail(SystemError("write " + path_));
      }
      s.busy = true;  // the buffer and record stay valid until the write ends
      s.id = ledger_.Issue();
      error_.Clear();
      return s.id;
    }
    return Refuse("eight writes still in flight");
  }

  HidIoStatus WaitWrite(std::uint64_t id, std::uint32_t timeoutMs) override {
    const DWORD start = GetTickCount();
    for (;;) {
      HANDLE ev = nullptr;
      {
        std::lock_guard<std::mutex> lock(m_);
        Reap();
        const HidIoStatus status = ledger_.Status(id);
        if (status == HidIoStatus::kCompleted) return error_.Clear(), status;
        if (status == HidIoStatus::kFailed) {
          // The write's own reason was recorded when it was reaped.
          if (error_.Text().empty()) Refuse("the write failed after it was accepted");
          return status;
        }
        for (Slot& s : writes_)
          if (s.busy && s.id == id) ev = s.ov.hEvent;
      }
      const DWORD waited = GetTickCount() - start;
      if (!ev || (timeoutMs != kWaitForever && waited >= timeoutMs))
        return error_.Clear(), HidIoStatus::kTimedOut;
      // Its own slot's end, or the handle's close.
      HANDLE events[2] = {ev, closeEvent_};
      WaitForMultipleObjects(2, events, FALSE,
                             timeoutMs == kWaitForever ? INFINITE : timeoutMs - waited);
    }
  }

  bool GetFeature(std::uint8_t* buffer, std::size_t length) override {
    std::lock_guard<std::mutex> lock(m_);
    if (closed_) return Refuse("the handle is closed");
    if (!buffer) return Refuse("no buffer for the feature report");
    if (!HidD_GetFeature(h_, buffer, static_cast<ULONG>(length)))
      return error_.Fail(SystemError("get feature " + path_));
    error_.Clear();
    return true;
  }
  bool SetFeature(const std::uint8_t* buffer, std::size_t length) override {
    std::lock_guard<std::mutex> lock(m_);
    if (closed_) return Refuse("the handle is closed");
    if (!buffer || length == 0) return Refuse("bad feature report length");
    // The call takes a non-const buffer; the caller's length goes through
    // (the driver refuses one that does not fit the collection).
    std::vector<std::uint8_t> copy(buffer, buffer + length);
    if (!HidD_SetFeature(h_, copy.data(), static_cast<ULONG>(length)))
      return error_.Fail(SystemError("set feature " + path_));
    error_.Clear();
    return true;
  }

  HidCaps Caps() const override { return caps_; }
  const std::string& Path() const override { return path_; }

  void Close() override {
    std::lock_guard<std::mutex> lock(m_);
    if (closed_) return;
    closed_ = true;
    SetEvent(closeEvent_);  // a waiting reader returns now
    EndRead();
    for (Slot& s : writes_) {
      if (!s.busy) continue;
      DWORD n;
      CancelIoEx(h_, &s.ov);
      ledger_.End(s.id, GetOverlappedResult(h_, &s.ov, &n, TRUE) != FALSE);
      s.busy = false;
    }
    CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
  }

  bool IsOpen() const override {
    std::lock_guard<std::mutex> lock(m_);
    return !closed_;
  }

 private:
  struct Slot {
    OVERLAPPED ov{};
    std::uint8_t bytes[kReportSize];
    bool busy = false;
    std::uint64_t id = 0;  // the write's number while busy
  };

  // Cancels the outstanding read and waits for its end, so that the caller's
  // buffer is never written afterwards. Holds m_.
  void EndRead() {
    if (!readPending_) return;
    DWORD n;
    CancelIoEx(h_, &readOv_);
    GetOverlappedResult(h_, &readOv_, &n, TRUE);
    readPending_ = false;
  }

  void Reap() {
    for (Slot& s : writes_) {
      if (!s.busy || !HasOverlappedIoCompleted(&s.ov)) continue;
      s.busy = false;
      // An accepted write that failed: learnt of here.
      DWORD n = 0;
      const bool ok = GetOverlappedResult(h_, &s.ov, &n, FALSE) != FALSE;
      if (!ok) error_.Fail(SystemError("write " + path_));
      ledger_.End(s.id, ok);
    }
  }

  // Records "<path>: <why>"; false.
  bool Refuse(const char* why) { return error_.Fail(path_ + ": " + why); }

  // Guards the handle, the read in flight and the write records.
  mutable std::mutex m_;
  HANDLE h_;
  const std::string path_;
  const HidCaps caps_;
  HANDLE readEvent_ = nullptr, closeEvent_ = nullptr;
  OVERLAPPED readOv_{};
  bool readPending_ = false;
  bool closed_ = false;
  Slot writes_[8];
  WriteLedger ledger_;  // every write's fate, by number
};

// Arrival and removal of HID interfaces, reported to a message-only window.
class Notifier {
 public:
  explicit Notifier(HidChangeCallback callback) : callback_(std::move(callback)) {}
  ~Notifier() { Stop(); }

  bool Start() {
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!ready) return false;
    thread_ = std::thread([this, ready] { Loop(ready); });
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
    return registered_;
  }

  void Stop() {
    if (HWND h = hwnd_.load()) PostMessageA(h, WM_CLOSE, 0, 0);
    if (thread_.joinable()) {
      if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach();  // stopped from inside the callback
      else
        thread_.join();
    }
  }

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<Notifier*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg == WM_DEVICECHANGE && self && lp &&
        (wp == DBT_DEVICEARRIVAL || wp == DBT_DEVICEREMOVECOMPLETE)) {
      auto* hdr = reinterpret_cast<DEV_BROADCAST_HDR*>(lp);
      if (hdr->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
        auto* di = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(lp);
        self->callback_(wp == DBT_DEVICEARRIVAL ? HidChange::kArrival : HidChange::kRemoval,
                        di->dbcc_name);
      }
      return TRUE;
    }
    if (msg == WM_CLOSE) {
      DestroyWindow(hwnd);
      return 0;
    }
    if (msg == WM_DESTROY) {
      PostQuitMessage(0);
      return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
  }

  void Loop(HANDLE ready) {
    static const char kClass[] = "VantrelHidNotifier";
    WNDCLASSA wc{};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClass;
    RegisterClassA(&wc);  // fails harmlessly when already registered
    HWND hwnd =
        CreateWindowExA(0, kClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    HDEVNOTIFY note = nullptr;
    if (hwnd) {
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
      DEV_BROADCAST_DEVICEINTERFACE_A filter{};
      filter.dbcc_size = sizeof filter;
      filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
      HidD_GetHidGuid(&filter.dbcc_classguid);
      note = RegisterDeviceNotificationA(hwnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    }
    registered_ = note != nullptr;
    if (!registered_ && hwnd) DestroyWindow(hwnd), hwnd = nullptr;
    hwnd_ = hwnd;
    SetEvent(ready);
    if (!hwnd) return;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    UnregisterDeviceNotification(note);
    hwnd_ = nullptr;
  }

  HidChangeCallback callback_;
  std::thread thread_;
  std::atomic<HWND> hwnd_{nullptr};  // read by Stop() on another thread
  bool registered_ = false;
};

class Win32HidBackend : public HidBackend {
 public:
  ~Win32HidBackend() override { SetChangeCallback(nullptr); }

  std::vector<HidInterfaceInfo> Enumerate() override {
    std::vector<HidInterfaceInfo> found;
    GUID hid;
    HidD_GetHidGuid(&hid);
    HDEVINFO set = SetupDiGetClassDevsA(&hid, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);  // 0x12
    if (set == INVALID_HANDLE_VALUE)
      return error_.Fail(SystemError("enumerate: the HID interface list")), found;
    error_.Clear();
    SP_DEVICE_INTERFACE_DATA iface;
    iface.cbSize = sizeof iface;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hid, i, &iface); ++i) {
      DWORD size = 0;
      SetupDiGetDeviceInterfaceDetailA(set, &iface, nullptr, 0, &size, nullptr);
      if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        Skip(SystemError("enumeration: interface " + std::to_string(i) + " has no detail"));
        continue;
      }
      std::vector<char> storage;
      try {
        storage.resize(size);
      } catch (const std::bad_alloc&) {
        // Out of memory mid-walk: report nothing rather than half a device.
        SetupDiDestroyDeviceInfoList(set);
        return error_.Fail("enumerate: out of memory"), std::vector<HidInterfaceInfo>{};
      }
      auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
      detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
      if (!SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, size, nullptr, nullptr)) {
        Skip(SystemError("enumeration: interface " + std::to_string(i) + " has no detail"));
        continue;
      }
      HANDLE h = OpenQueryHandle(detail->DevicePath);
      if (h == INVALID_HANDLE_VALUE) {
        Skip(SystemError(std::string("enumeration: ") + detail->DevicePath));
        continue;
      }
      HIDD_ATTRIBUTES attr;
      attr.Size = sizeof attr;
      BOOLEAN ok = HidD_GetAttributes(h, &attr);
      const std::string why =
          ok ? "" : SystemError(std::string("enumeration: attributes of ") + detail->DevicePath);
      CloseHandle(h);
      if (!ok) {
        Skip(why);
        continue;
      }
      found.push_back({detail->DevicePath, attr.VendorID, attr.ProductID, attr.VersionNumber});
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
  }

  std::unique_ptr<HidDevice> Open(const std::string& path, HidAccess access,
                                  HidShare share) override {
    DWORD rights =
        ((access & kHidRead) ? GENERIC_READ : 0) | ((access & kHidWrite) ? GENERIC_WRITE : 0);
    DWORD sharing = share == HidShare::kShared ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
    HANDLE h = CreateFileA(path.c_str(), rights, sharing, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return error_.Fail(SystemError("open " + path)), nullptr;
    error_.Clear();
    // Without its report lengths the handle still reads and writes; Caps()
    // stays zero and the reason is kept.
    HidCaps caps;
    std::string capsError;
    HANDLE q = OpenQueryHandle(path.c_str());
    if (q != INVALID_HANDLE_VALUE) {
      PHIDP_PREPARSED_DATA pp = nullptr;
      if (HidD_GetPreparsedData(q, &pp)) {
        HIDP_CAPS c;
        const NTSTATUS status = HidP_GetCaps(pp, &c);
        if (status == HIDP_STATUS_SUCCESS)
          caps = {c.InputReportByteLength, c.OutputReportByteLength, c.FeatureReportByteLength};
        else
          capsError = "report lengths of " + path + ": HidP_GetCaps status " +
                      std::to_string(static_cast<unsigned long>(status));
        HidD_FreePreparsedData(pp);
      } else {
        capsError = SystemError("report lengths of " + path);
      }
      CloseHandle(q);
    } else {
      capsError = SystemError("report lengths of " + path);
    }
    if (!capsError.empty()) {
      TRACE_WARN("%s", capsError.c_str());
      error_.Fail(capsError);
    }
    auto dev = std::make_unique<Win32HidDevice>(h, path, caps);
    if (!dev->Valid()) return error_.Fail(SystemError("open " + path + ": events")), nullptr;
    return dev;
  }

  bool SetChangeCallback(HidChangeCallback callback) override {
    std::lock_guard<std::mutex> lock(m_);
    notifier_.reset();
    error_.Clear();
    if (!callback) return true;
    notifier_ = std::make_unique<Notifier>(std::move(callback));
    if (!notifier_->Start()) {
      notifier_.reset();
      return error_.Fail("device notifications: the notification window could not register");
    }
    return true;
  }

  std::string Describe() const override { return "win32"; }

 private:
  // An interface enumeration leaves out: said, and kept as the reason.
  void Skip(const std::string& why) {
    TRACE_WARN("%s", why.c_str());
    error_.Fail(why);
  }

  std::mutex m_;  // guards the notifier
  std::unique_ptr<Notifier> notifier_;
};

}  // namespace

std::unique_ptr<HidBackend> CreateOsHidBackend() {
  return std::make_unique<Win32HidBackend>();
}

}  // namespace platform
