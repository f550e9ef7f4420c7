#pragma once
// Pelladex: access to the company's infrared touch frames over USB HID.
//
// This header is the library's whole interface. The C++ class CPelladex and
// its subclasses are exported with the compiler's own ABI (a client must be
// built by the same compiler family: mingw-w64 g++ for Pelladex.dll, g++ for
// libpelladex.so). The two records below are a fixed binary exchange format.
//
// How a client uses the class:
//   1. CPelladex::FindDevice(records, 16) fills an array with one record per
//      frame found (split-channel frames first) and returns how many.
//   2. CPelladex::Create(&records[i]) makes the device object for a record
//      (or construct one and Attach the record). The caller deletes it.
//   3. OpenDevice(1) opens the frame shared (OpenDevice(0): exclusively).
//   4. One reader thread loops ReadData(timeout) and, after each result of
//      64, GetBuffer(&data) for the touch report.
//   5. Other threads call SendCmd and the queries (GetDevDetail,
//      GetDeviceMaxPointNum, GetDeviceStatus, SetDeviceStatus) while the
//      reader loop runs: the reader loop captures the frame's replies, so a
//      command that waits for a reply only succeeds while some thread keeps
//      calling ReadData (it gives up after 200 ms with TD_ERR_REPLY_TIMEOUT).
//   6. CloseDevice(), then delete the object (or Detach).
// Opening, closing and deleting must not overlap another call on the same
// object; ReadData/GetBuffer on one thread and commands on others may.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#if defined(_WIN32)
#if defined(PELLADEX_BUILD)
#define PELLADEX_API __declspec(dllexport)
#else
#define PELLADEX_API __declspec(dllimport)
#endif
#else
#define PELLADEX_API __attribute__((visibility("default")))
#endif

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the Pelladex records are little-endian; this target is not"
#endif

// deviceKind
enum : std::uint32_t {
  TOUCHDEV_KIND_STANDARD = 1,    // product id with bits 8..11 = 0
  TOUCHDEV_KIND_SERIES01XX = 2,  // product id with bits 8..11 = 1
  TOUCHDEV_KIND_F0FC = 3,        // product id 0xF0FC
};

// interfaceType
enum : std::uint32_t {
  TOUCHDEV_IF_HID = 1,
  TOUCHDEV_IF_COM = 2,  // serial: recognised, no I/O
};

// Results of the methods returning char, besides 1 (success) and 0 (failure,
// or a device the method does not serve).
constexpr char TD_ERR_PARAM = static_cast<char>(0xFB);          // null pointer/handle, no event
constexpr char TD_ERR_NOT_OPEN = static_cast<char>(0xFE);       // device not open
constexpr char TD_ERR_BAD_HANDLE = static_cast<char>(0xFD);     // handle is the invalid value
constexpr char TD_ERR_REPLY_TIMEOUT = static_cast<char>(0xFA);  // no reply within 200 ms

// Results of ReadData and FindDevice below zero.
enum : short {
  TD_READ_NOT_OPEN = -2,
  TD_READ_BAD_HANDLE = -3,
  TD_READ_BAD_ARG = -4,  // negative timeout; zero count for FindDevice
  TD_READ_NULL = -5,     // null argument, null handle or no event
  TD_READ_TIMEOUT = -6,
};

constexpr int TOUCHDEV_PATH_LEN = 260;
constexpr int TOUCHDEV_REPORT_LEN = 64;
constexpr int TOUCHDEV_MAX_FOUND = 16;  // FindDevice never reports more

#pragma pack(push, 1)
// What a device is and where it lives. 2952 bytes; reserved bytes are part of
// the format.
struct _TouchDevInfo {
  std::uint32_t deviceKind;
  std::uint32_t interfaceType;
  std::uint16_t productId;
  std::uint16_t vendorId;
  std::uint16_t versionNumber;  // the frame's firmware release; selects protocol variants
  std::uint8_t reserved14[2];
  std::uint32_t detailValue;
  std::uint16_t detailWord;
  std::uint16_t detailPacked;
  std::uint16_t reserved24;
  std::uint16_t detailWord2;
  std::uint16_t detailByte;
  std::uint8_t reserved30[16];
  std::uint16_t reserved46;
  std::uint16_t reserved48;
  std::uint16_t maxPointNum;  // 2 until the frame has reported its count
  std::uint32_t xMin;         // the four logical limits are filled only in
  std::uint32_t yMin;         // copies made by GetDeviceInfo
  std::uint32_t xMax;
  std::uint32_t yMax;
  char devicePath[TOUCHDEV_PATH_LEN];  // the collection the object reads and writes
  char instanceId[TOUCHDEV_PATH_LEN];  // upper case, derived from the path
  char reserved588[TOUCHDEV_PATH_LEN];
  char controlPath[TOUCHDEV_PATH_LEN];  // "col01" of standard frames below 0x2FFF
  char replyPath[TOUCHDEV_PATH_LEN];    // split-channel: commands out, replies in ("col03")
  char touchPath[TOUCHDEV_PATH_LEN];    // split-channel: touch reports in ("col04")
  char auxPath[TOUCHDEV_PATH_LEN];      // split-channel: "col05", recorded only
  std::uint8_t reportId;                // byte 0 of every command sent: 0xFC, 0xFE or 0x02
  std::uint8_t ptStatusOIMode;          // client flags, stored and copied, never read here
  std::uint8_t ptWidthDataMode;
  std::uint8_t reserved1891[1061];
};

// One 64-byte report with an 8-byte header. Data read from the frame comes
// back with a zero header.
struct _TouchDevData {
  std::uint16_t reserved0;
  std::uint8_t waitReply;  // in a command: wait for the frame's reply
  std::uint8_t reserved3[5];
  std::uint8_t report[TOUCHDEV_REPORT_LEN];  // [0] report id, [1] command code
};
#pragma pack(pop)

static_assert(sizeof(_TouchDevInfo) == 2952, "_TouchDevInfo is 2952 bytes");
static_assert(offsetof(_TouchDevInfo, deviceKind) == 0, "");
static_assert(offsetof(_TouchDevInfo, interfaceType) == 4, "");
static_assert(offsetof(_TouchDevInfo, productId) == 8, "");
static_assert(offsetof(_TouchDevInfo, vendorId) == 10, "");
static_assert(offsetof(_TouchDevInfo, versionNumber) == 12, "");
static_assert(offsetof(_TouchDevInfo, reserved14) == 14, "");
static_assert(offsetof(_TouchDevInfo, detailValue) == 16, "");
static_assert(offsetof(_TouchDevInfo, detailWord) == 20, "");
static_assert(offsetof(_TouchDevInfo, detailPacked) == 22, "");
static_assert(offsetof(_TouchDevInfo, reserved24) == 24, "");
static_assert(offsetof(_TouchDevInfo, detailWord2) == 26, "");
static_assert(offsetof(_TouchDevInfo, detailByte) == 28, "");
static_assert(offsetof(_TouchDevInfo, reserved30) == 30, "");
static_assert(offsetof(_TouchDevInfo, reserved46) == 46, "");
static_assert(offsetof(_TouchDevInfo, reserved48) == 48, "");
static_assert(offsetof(_TouchDevInfo, maxPointNum) == 50, "");
static_assert(offsetof(_TouchDevInfo, xMin) == 52, "");
static_assert(offsetof(_TouchDevInfo, yMin) == 56, "");
static_assert(offsetof(_TouchDevInfo, xMax) == 60, "");
static_assert(offsetof(_TouchDevInfo, yMax) == 64, "");
static_assert(offsetof(_TouchDevInfo, devicePath) == 68, "");
static_assert(offsetof(_TouchDevInfo, instanceId) == 328, "");
static_assert(offsetof(_TouchDevInfo, reserved588) == 588, "");
static_assert(offsetof(_TouchDevInfo, controlPath) == 848, "");
static_assert(offsetof(_TouchDevInfo, replyPath) == 1108, "");
static_assert(offsetof(_TouchDevInfo, touchPath) == 1368, "");
static_assert(offsetof(_TouchDevInfo, auxPath) == 1628, "");
static_assert(offsetof(_TouchDevInfo, reportId) == 1888, "");
static_assert(offsetof(_TouchDevInfo, ptStatusOIMode) == 1889, "");
static_assert(offsetof(_TouchDevInfo, ptWidthDataMode) == 1890, "");
static_assert(offsetof(_TouchDevInfo, reserved1891) == 1891, "");

static_assert(sizeof(_TouchDevData) == 72, "_TouchDevData is 72 bytes");
static_assert(offsetof(_TouchDevData, reserved0) == 0, "");
static_assert(offsetof(_TouchDevData, waitReply) == 2, "");
static_assert(offsetof(_TouchDevData, reserved3) == 3, "");
static_assert(offsetof(_TouchDevData, report) == 8, "");

// Device handles are opaque; a closed one holds PELLADEX_INVALID_HANDLE. An
// open handle also carries the state of its one outstanding overlapped read.
typedef void* PelladexHandle;
#define PELLADEX_INVALID_HANDLE (reinterpret_cast<PelladexHandle>(static_cast<std::intptr_t>(-1)))

// The device class. Behaviour follows the record (interfaceType, deviceKind,
// versionNumber); the subclasses differ only in what their destructors end.
// Every method is safe to call in any state: it answers 0 or an error code
// for a device it does not serve and never dereferences a null pointer.
struct PelladexBackend;  // the library's view of the HID stack, internal

class PELLADEX_API CPelladex {
 public:
  // Finds the attached frames: at most `count` records are written into
  // `list` (at most 16 in all). Returns the number written, -5 for a null
  // list, -4 for a count of 0 or less.
  static short FindDevice(_TouchDevInfo* list, short count);
  // The device object for a record (split-channel, single-channel or serial),
  // or null. The caller owns it and deletes it.
  static CPelladex* Create(const _TouchDevInfo* info);

  CPelladex();
  explicit CPelladex(const _TouchDevInfo* info);
  virtual ~CPelladex();
  CPelladex(const CPelladex&) = delete;
  CPelladex& operator=(const CPelladex&) = delete;

  // Record handling (no I/O).
  char Attach(const _TouchDevInfo* info);
  char Detach();
  char GetDeviceInfo(_TouchDevInfo* out);
  char SetDeviceInfo(const _TouchDevInfo* info);
  char CmpDeviceInfo(const _TouchDevInfo* info);
  char IsInit();
  char IsOpen();
  void SetPtStatusOIMode(bool on);
  void SetPtWidthDataMode(bool on);
  // The six SeriesMode bytes of the last accepted mode reply (0xFB for null).
  char GetStatusBytes(std::uint8_t out[6]);

  // Transport.
  char OpenDevice(char shared);
  void CloseDevice();
  // Polls the persistent read: 64 when a report arrived, 0 for a read of
  // another length, -6 when none came within timeoutMs (0 waits without
  // limit); a read that timed out stays outstanding for the next call.
  short ReadData(short timeoutMs);
  char GetBuffer(_TouchDevData* out);
  char SendCmd(const _TouchDevData* cmd, _TouchDevData* reply);
  char GetFeatureReport_Control(std::uint8_t* buffer, std::uint32_t length);
  char SetFeatureReport_Control(std::uint8_t* buffer, std::uint32_t length);
  short GetInputReportBufferLength();
  char GetInputReport_Interrupt(std::uint8_t* buffer, std::uint32_t length);

  // Queries: each waits for the frame's reply, so a reader loop must run.
  char GetDevDetail(_TouchDevInfo* out);
  char GetDeviceMaxPointNum();
  char GetDeviceStatus();
  char SetDeviceStatus(std::uint8_t m0, std::uint8_t m1, std::uint8_t m2, std::uint8_t m3,
                       std::uint8_t m4);

  // Object state. Public as the format is, but the library's own: clients
  // read it, never write it.
  _TouchDevInfo m_info;
  _TouchDevData m_dataBuf;   // last input report (single-channel or touch read)
  _TouchDevData m_replyRaw;  // last report of the split-channel reply collection
  _TouchDevData m_replyBuf;  // captured reply to the last awaited command
  std::uint8_t m_waitReply;  // 1 while a command waits for its reply
  std::uint8_t m_status[6];
  std::uint8_t m_readIdle;
  std::uint8_t m_replyIdle;
  std::uint8_t m_touchIdle;
  std::uint8_t m_shareMode;  // 3 shared, 0 exclusive
  PelladexHandle m_hRead;
  PelladexHandle m_hReplyRead;
  PelladexHandle m_hTouchRead;
  PelladexHandle m_hWrite;
  PelladexHandle m_hCtrlRead;
  PelladexHandle m_hCtrlWrite;
  std::int16_t m_inputReportLen;
  std::int16_t m_outputReportLen;
  std::int16_t m_featureReportLen;
  std::uint8_t m_isOpen;
  std::uint8_t m_isInit;
  PelladexBackend* m_backend;  // while open: the HID stack the handles came from

 protected:
  // Ends every outstanding read (cancel, then await its end) so that no read
  // lands in the buffers after this returns.
  void EndOutstandingReads();

 private:
  // The reply event and its handshake: the reader's test, copy and signal
  // and the sender's give-up are serialised by m_replyLock, so a reply is
  // delivered whole or treated as input, and never signalled to a sender
  // that has left.
  std::mutex m_replyLock;
  std::condition_variable m_replyEvent;
  bool m_replySignalled;
  // One command waits for a reply at a time: a second waits its turn.
  std::mutex m_sendLock;

  friend struct PelladexIo;
};

class PELLADEX_API CMorvikHIDDevice : public CPelladex {
 public:
  CMorvikHIDDevice() = default;
  explicit CMorvikHIDDevice(const _TouchDevInfo* info) : CPelladex(info) {}
  ~CMorvikHIDDevice() override;
};

// Split-channel frames: replies on one collection, touch on another.
class PELLADEX_API CMorvikHIDDeviceAdv : public CMorvikHIDDevice {
 public:
  CMorvikHIDDeviceAdv() = default;
  explicit CMorvikHIDDeviceAdv(const _TouchDevInfo* info) : CMorvikHIDDevice(info) {}
  ~CMorvikHIDDeviceAdv() override;
};

// Every other HID record.
class PELLADEX_API CMorvikHIDDeviceStd : public CMorvikHIDDevice {
 public:
  CMorvikHIDDeviceStd() = default;
  explicit CMorvikHIDDeviceStd(const _TouchDevInfo* info) : CMorvikHIDDevice(info) {}
  ~CMorvikHIDDeviceStd() override;
};

// Serial records: recognised, no transport.
class PELLADEX_API CMorvikCOMDevice : public CPelladex {
 public:
  CMorvikCOMDevice() = default;
  explicit CMorvikCOMDevice(const _TouchDevInfo* info) : CPelladex(info) {}
  ~CMorvikCOMDevice() override;
};
