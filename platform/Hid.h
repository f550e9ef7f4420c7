#pragma once
// The OS seam for HID interfaces: what the service and the device library
// need of the HID stack, and nothing more.
//
// Three implementations sit behind it: win32/ (SetupAPI, HID and overlapped
// file I/O), virtual/ (touch frames played by the frame simulator over a
// loopback link) and linux/ (hidraw nodes, one interface per top-level
// collection). CreateHidBackend() picks the virtual one when
// FRAMESIM_ADDR=127.0.0.1:PORT is set.
//
// Reports are exchanged as the frame sends them: byte 0 is the report id,
// kReportSize bytes in all.
//
// Errors: every handle and every backend keeps the text of its last failure,
// read through LastError() the same way on every backend ("" if none):
// "open /dev/hidraw3: Permission denied", "\\?\hid#...: the handle is
// closed". A call that can fail (StartRead, WaitRead, Write, WaitWrite,
// GetFeature, SetFeature; Enumerate, Open, SetChangeCallback) records its
// reason when it fails and clears the text when it succeeds; a timed-out
// wait is no failure.
// Two successes keep a reason: an enumeration that skipped an interface it
// could not read, and an open whose report lengths could not be read (Caps()
// is zero then). A write that fails after it was accepted records its reason
// when the backend learns of it. Each failure is traced at debug level (the
// skipped interfaces and unreadable lengths at warn). On one handle used by
// several threads the text is that of the last call, whichever thread made
// it. The system's code stays where the system keeps it (errno natively,
// GetLastError on Windows).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/HidError.h"
#include "platform/HidInterface.h"

namespace platform {

constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;

enum HidAccess : unsigned { kHidRead = 1, kHidWrite = 2, kHidReadWrite = 3 };
enum class HidShare { kShared, kExclusive };

enum class HidIoStatus {
  kCompleted,  // the read (write) finished; a read's byte count says how much arrived
  kTimedOut,   // the time limit passed; the read (write) stays outstanding
  kFailed,     // nothing outstanding, the handle was closed, or the device left
};

// Report byte lengths of one top-level collection (HidP_GetCaps).
struct HidCaps {
  std::uint16_t inputReportLength = 0;
  std::uint16_t outputReportLength = 0;
  std::uint16_t featureReportLength = 0;
};

// One open handle on one HID interface.
//
// Reads are overlapped: StartRead() issues a read into a caller-owned buffer,
// WaitRead() waits for it. A wait that times out leaves the read outstanding;
// a later WaitRead() completes it, and no input report is lost in between.
// At most one read is outstanding per handle. The buffer must stay valid until
// the read has completed, failed or been cancelled.
//
// Close() may be called from any thread while another thread waits in
// WaitRead(): that wait returns kFailed at once. The object itself must only
// be destroyed once no other thread uses it (the destructor closes).
class HidDevice {
 public:
  virtual ~HidDevice() = default;

  // Issues a read of one input report (kReportSize bytes) into `buffer`.
  // False if the handle is closed, lacks read access, or a read is already
  // outstanding.
  virtual bool StartRead(std::uint8_t* buffer) = 0;
  // Waits up to `timeoutMs` (kWaitForever: no limit) for the outstanding read.
  // On kCompleted, `bytesRead` holds the byte count (kReportSize normally).
  virtual HidIoStatus WaitRead(std::uint32_t timeoutMs, std::size_t& bytesRead) = 0;
  virtual bool ReadPending() const = 0;
  // Cancels the outstanding read, if any, and waits for its end; afterwards
  // the buffer is no longer written.
  virtual void CancelRead() = 0;

  // Issues an overlapped write of `length` bytes (an output report, byte 0 the
  // report id). The bytes are copied; the write completes in the background
  // and the call never waits for it. Returns the write's number on this
  // handle (1, 2, ...), or 0 if the handle is closed, lacks write access, or
  // the write failed at once.
  virtual std::uint64_t Write(const std::uint8_t* report, std::size_t length) = 0;
  // Waits up to `timeoutMs` for write `id` alone: kCompleted when it reached
  // the device, kFailed when it was refused after it was accepted (or its
  // handle closed or the device went with it in flight, or the number is
  // not this handle's), kTimedOut while it is still in flight. Other writes
  // in flight, before or after it, are not waited for.
  virtual HidIoStatus WaitWrite(std::uint64_t id, std::uint32_t timeoutMs) = 0;

  // HidD_GetFeature / HidD_SetFeature: byte 0 of `buffer` selects the report.
  virtual bool GetFeature(std::uint8_t* buffer, std::size_t length) = 0;
  virtual bool SetFeature(const std::uint8_t* buffer, std::size_t length) = 0;

  virtual HidCaps Caps() const = 0;
  virtual const std::string& Path() const = 0;

  // Closes the handle: a pending read completes with kFailed at once, later
  // calls fail. Safe to call twice.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;

  // The last failure on this handle ("" if none); see the top of this file.
  std::string LastError() const { return error_.Text(); }

 protected:
  HidErrorRecord error_;
};

enum class HidChange { kArrival, kRemoval };
// Called on a thread of the backend with the interface name (its path).
using HidChangeCallback = std::function<void(HidChange, const std::string& interfaceName)>;

class HidBackend {
 public:
  virtual ~HidBackend() = default;

  // The HID interfaces present now, one per top-level collection, in the
  // order the system lists them. Interfaces whose attributes cannot be read
  // are skipped (and the last one's reason recorded).
  virtual std::vector<HidInterfaceInfo> Enumerate() = 0;

  // Opens `path` for overlapped I/O. Null if the interface is missing or the
  // sharing mode conflicts with another open handle.
  virtual std::unique_ptr<HidDevice> Open(const std::string& path, HidAccess access,
                                          HidShare share) = 0;

  // Registers for arrival and removal of HID interfaces (replacing any earlier
  // callback; an empty callback unregisters). False if notifications are not
  // available. The callback is not called after unregistering returns or after
  // the backend is destroyed.
  virtual bool SetChangeCallback(HidChangeCallback callback) = 0;

  // "win32", "virtual 127.0.0.1:PORT" or "hidraw": for logs and tests.
  virtual std::string Describe() const = 0;

  // The last failure of Enumerate, Open or SetChangeCallback ("" if none).
  std::string LastError() const { return error_.Text(); }

 protected:
  HidErrorRecord error_;
};

// The virtual backend if FRAMESIM_ADDR=127.0.0.1:PORT is set, else the OS one.
std::unique_ptr<HidBackend> CreateHidBackend();
// The OS backend: win32 on Windows, hidraw on Linux.
std::unique_ptr<HidBackend> CreateOsHidBackend();
// Touch frames played by the frame simulator at `address` ("127.0.0.1:PORT").
// Null if the address does not parse.
std::unique_ptr<HidBackend> CreateVirtualHidBackend(const std::string& address);

}  // namespace platform
