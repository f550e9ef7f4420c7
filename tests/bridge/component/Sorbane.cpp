// A stand-in for the driver-API component, built only for the bridge's tests.
// It exports a subset of the functions, declared here on its own (not from
// the bridge's headers), each leaving a trace the tests can read:
//
// - the calls that take a context append "Name" or "Name(values)" and ';' to
//   a text log at the start of the context; InitTouch's context also gets
//   the traces of the calls without one (GetTouchDevCount, ExitTouch);
// - GetLastStatusCode answers the number of calls served since this copy was
//   loaded, so a test sees whether it talks to a fresh copy;
// - ExitTouch answers 1 after InitTouch (it shuts down), 0 otherwise.
//
// It lacks GetSmoothLevel, GetFeatureVersion and GetMaxPointNum among others.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>

#if defined(_WIN32)
#define SORBANE_API extern "C" __declspec(dllexport)
#define SORBANE_CALL __cdecl
#else
#define SORBANE_API extern "C" __attribute__((visibility("default")))
#define SORBANE_CALL
#endif

namespace {

constexpr std::size_t kLogSize = 1024;

std::mutex mutex;
void* session = nullptr;  // the context InitTouch was given
std::int32_t calls = 0;
std::int32_t wheelSensitivity = 5;

// Appends one trace to a context's log; the caller holds the mutex.
void Trace(void* context, const char* text) {
  ++calls;
  if (!context) return;
  char* log = static_cast<char*>(context);
  std::size_t used = strnlen(log, kLogSize);
  std::snprintf(log + used, kLogSize - used, "%s;", text);
}

std::uint8_t Simple(void* context, const char* name) {
  std::lock_guard<std::mutex> lock(mutex);
  Trace(context, name);
  return 1;
}

}  // namespace

SORBANE_API std::int32_t SORBANE_CALL InitTouch(void* context, std::int32_t reserved1,
                                                std::int32_t reserved2, std::int32_t reserved3,
                                                void* owner) {
  std::lock_guard<std::mutex> lock(mutex);
  session = context;
  char text[96];
  std::snprintf(text, sizeof text, "InitTouch(%d,%d,%d,%llu)", reserved1, reserved2, reserved3,
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(owner)));
  Trace(context, text);
  return 1;
}

SORBANE_API std::int8_t SORBANE_CALL ExitTouch() {
  std::lock_guard<std::mutex> lock(mutex);
  Trace(session, "ExitTouch");
  if (!session) return 0;
  session = nullptr;
  return 1;
}

SORBANE_API std::int32_t SORBANE_CALL GetTouchDevCount() {
  std::lock_guard<std::mutex> lock(mutex);
  Trace(session, "GetTouchDevCount");
  return 2;
}

SORBANE_API std::int32_t SORBANE_CALL GetLastStatusCode() {
  std::lock_guard<std::mutex> lock(mutex);
  ++calls;
  return calls;
}

// Switches that only leave their trace and succeed.
#define SORBANE_SWITCH(name)                                  \
  SORBANE_API std::uint8_t SORBANE_CALL name(void* context) { \
    return Simple(context, #name);                            \
  }
SORBANE_SWITCH(EnableTouch)
SORBANE_SWITCH(DisableTouch)
SORBANE_SWITCH(EnableRightButton)
SORBANE_SWITCH(DisableRightButton)
SORBANE_SWITCH(EnableWheel)
SORBANE_SWITCH(DisableWheel)
SORBANE_SWITCH(DisableDrag)
SORBANE_SWITCH(EnableSmooth)

SORBANE_API std::uint8_t SORBANE_CALL SetWheelSensitivity(void* context, std::int32_t sensitivity) {
  std::lock_guard<std::mutex> lock(mutex);
  char text[48];
  std::snprintf(text, sizeof text, "SetWheelSensitivity(%d)", sensitivity);
  Trace(context, text);
  wheelSensitivity = sensitivity;
  return 1;
}

SORBANE_API std::int32_t SORBANE_CALL GetWheelSensitivity(void* context) {
  std::lock_guard<std::mutex> lock(mutex);
  Trace(context, "GetWheelSensitivity");
  return wheelSensitivity;
}

SORBANE_API void SORBANE_CALL HWReset(void* context) {
  Simple(context, "HWReset");
}

SORBANE_API void SORBANE_CALL SetPtStatusOIMode(void* context, std::uint8_t enable) {
  std::lock_guard<std::mutex> lock(mutex);
  char text[32];
  std::snprintf(text, sizeof text, "SetPtStatusOIMode(%u)", enable);
  Trace(context, text);
}

SORBANE_API std::uint8_t SORBANE_CALL TestGetTotal(void* context) {
  std::lock_guard<std::mutex> lock(mutex);
  Trace(context, "TestGetTotal");
  return 0xA5;
}

// A 16-bit length with both bytes set, so a narrowed result shows.
SORBANE_API std::uint16_t SORBANE_CALL GetInputReportBufferLength(void* context) {
  std::lock_guard<std::mutex> lock(mutex);
  Trace(context, "GetInputReportBufferLength");
  return 0x8040;
}

// Answers a feature report whose bytes count up from the selector in byte 0.
SORBANE_API std::uint8_t SORBANE_CALL GetFeatureReport_Control(void* context, std::uint8_t* buffer,
                                                               std::int32_t length) {
  std::lock_guard<std::mutex> lock(mutex);
  char text[48];
  std::snprintf(text, sizeof text, "GetFeatureReport_Control(%d)", length);
  Trace(context, text);
  if (!buffer || length < 1) return 0;
  for (std::int32_t i = 1; i < length; ++i) buffer[i] = static_cast<std::uint8_t>(buffer[0] + i);
  return 1;
}
