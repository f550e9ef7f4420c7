#pragma once
// The driver-API calls with no component behind them: what the service does
// while the driver-API library is missing.
#include "bridge/DriverApiPort.h"

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
  std::uint8_t ExitTouch() override { return 0; }
};
