#pragma once
// The main window's conversation with the driver API: the context it owns,
// the calls at start-up and shut-down in their order, and the mouse-emulation
// switch of a multi-touch frame. The pauses are injected so tests need not
// sleep; the service passes SleepPause.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "common/DriverApiPort.h"

namespace bridge {

// Room for 8 device records of 2952 bytes.
constexpr std::size_t kDriverApiContextSize = 23616;

using Pause = std::function<void(std::uint32_t milliseconds)>;
void SleepPause(std::uint32_t milliseconds);

class DriverApiSession {
 public:
  DriverApiSession(DriverApiPort& api, Pause pause);

  // First show of the main window: a zeroed context, InitTouch, then
  // GetTouchDevCount; when frames are reported, right button, wheel and drag
  // off. Runs once; later calls do nothing.
  void Start(void* mainWindow);

  // Mouse emulation of a multi-touch frame. Off: DisableTouch. On:
  // DisableTouch, 200 ms, EnableTouch. Either way 100 ms afterwards.
  void SwitchMultiTouchMouse(bool on);

  // Destruction of the main window: right button and wheel back on and the
  // wheel sensitivity at 3 when frames were reported, then `deviceShutdown`
  // (the program's own device shut-down, mouse emulation back on, output
  // stop, tray icon), and last ExitTouch; then the context is freed.
  void Shutdown(const std::function<void()>& deviceShutdown);

  // Null before Start and after Shutdown.
  void* Context() const { return context_.get(); }
  // The count as the service reads it (0xFFFF without the component).
  std::uint16_t DeviceCount() const { return deviceCount_; }

 private:
  DriverApiPort& api_;
  Pause pause_;
  std::unique_ptr<unsigned char[]> context_;
  bool started_ = false;
  std::uint16_t deviceCount_ = 0;
};

}  // namespace bridge
