#include "bridge/DriverApiSession.h"

#include <chrono>
#include <thread>
#include <utility>

namespace bridge {

void SleepPause(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

DriverApiSession::DriverApiSession(DriverApiPort& api, Pause pause)
    : api_(api), pause_(std::move(pause)) {}

void DriverApiSession::Start(void* mainWindow) {
  if (started_) return;
  started_ = true;
  context_.reset(new unsigned char[kDriverApiContextSize]());
  api_.InitTouch(Context(), mainWindow);
  deviceCount_ = api_.GetTouchDevCount();
  if (deviceCount_ != 0) {
    api_.DisableRightButton(Context());
    api_.DisableWheel(Context());
    api_.DisableDrag(Context());
  }
}

void DriverApiSession::SwitchMultiTouchMouse(bool on) {
  api_.DisableTouch(Context());
  if (on) {
    pause_(200);
    api_.EnableTouch(Context());
  }
  pause_(100);
}

void DriverApiSession::Shutdown(const std::function<void()>& deviceShutdown) {
  if (deviceCount_ != 0) {
    api_.EnableRightButton(Context());
    api_.EnableWheel(Context());
    api_.SetWheelSensitivity(Context(), 3);
  }
  if (deviceShutdown) deviceShutdown();
  api_.ExitTouch();
  context_.reset();
}

}  // namespace bridge
