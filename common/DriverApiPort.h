#pragma once
// The driver-API calls the service itself makes. The bridge implements this
// over the loaded component; NullDriverApi stands in where no bridge is
// wired (it does nothing, as the calls do when the component is missing).
#include <cstdint>

class DriverApiPort {
 public:
  virtual ~DriverApiPort() = default;
  virtual void InitTouch(void* context, void* mainWindow) = 0;
  // Number of frames; 0 means none (0xFFFF when the component is missing).
  virtual std::uint16_t GetTouchDevCount() = 0;
  virtual void DisableRightButton(void* context) = 0;
  virtual void DisableWheel(void* context) = 0;
  virtual void DisableDrag(void* context) = 0;
  virtual void EnableRightButton(void* context) = 0;
  virtual void EnableWheel(void* context) = 0;
  virtual void SetWheelSensitivity(void* context, int sensitivity) = 0;
  virtual void DisableTouch(void* context) = 0;
  virtual void EnableTouch(void* context) = 0;
  // 1: the component has shut down and may be unloaded.
  virtual std::uint8_t ExitTouch() = 0;
};

// Stands in where no bridge is wired: does nothing and answers as the calls
// do when the component is missing.
class NullDriverApi : public DriverApiPort {
 public:
  void InitTouch(void*, void*) override {}
  std::uint16_t GetTouchDevCount() override { return 0xFFFF; }
  void DisableRightButton(void*) override {}
  void DisableWheel(void*) override {}
  void DisableDrag(void*) override {}
  void EnableRightButton(void*) override {}
  void EnableWheel(void*) override {}
  void SetWheelSensitivity(void*, int) override {}
  void DisableTouch(void*) override {}
  void EnableTouch(void*) override {}
  std::uint8_t ExitTouch() override { return 0xFF; }
};
