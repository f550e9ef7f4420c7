#pragma once
// The service's own driver-API calls, made through the bridge (and so
// through the same three blocks as the exports).
#include "bridge/DriverApiBridge.h"
#include "common/DriverApiPort.h"

namespace bridge {

class BridgeDriverApi final : public DriverApiPort {
 public:
  explicit BridgeDriverApi(DriverApiBridge& bridge = ProcessBridge()) : bridge_(bridge) {}

  void InitTouch(void* context, void* mainWindow) override;
  std::uint16_t GetTouchDevCount() override;
  void DisableRightButton(void* context) override;
  void DisableWheel(void* context) override;
  void DisableDrag(void* context) override;
  void EnableRightButton(void* context) override;
  void EnableWheel(void* context) override;
  void SetWheelSensitivity(void* context, int sensitivity) override;
  void DisableTouch(void* context) override;
  void EnableTouch(void* context) override;
  std::uint8_t ExitTouch() override;

 private:
  DriverApiBridge& bridge_;
};

}  // namespace bridge
