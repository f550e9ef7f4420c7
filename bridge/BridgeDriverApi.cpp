#include "bridge/BridgeDriverApi.h"

namespace bridge {

// The service stores InitTouch's result but never reads it.
void BridgeDriverApi::InitTouch(void* context, void* mainWindow) {
  bridge_.InitTouch(context, 0, 0, 0, mainWindow);
}

// The service reads the count in 16 bits: a missing component's -1 is 0xFFFF.
std::uint16_t BridgeDriverApi::GetTouchDevCount() {
  return static_cast<std::uint16_t>(bridge_.GetTouchDevCount());
}

void BridgeDriverApi::DisableRightButton(void* context) {
  bridge_.DisableRightButton(context);
}
void BridgeDriverApi::DisableWheel(void* context) {
  bridge_.DisableWheel(context);
}
void BridgeDriverApi::DisableDrag(void* context) {
  bridge_.DisableDrag(context);
}
void BridgeDriverApi::EnableRightButton(void* context) {
  bridge_.EnableRightButton(context);
}
void BridgeDriverApi::EnableWheel(void* context) {
  bridge_.EnableWheel(context);
}
void BridgeDriverApi::SetWheelSensitivity(void* context, int sensitivity) {
  bridge_.SetWheelSensitivity(context, sensitivity);
}
void BridgeDriverApi::DisableTouch(void* context) {
  bridge_.DisableTouch(context);
}
void BridgeDriverApi::EnableTouch(void* context) {
  bridge_.EnableTouch(context);
}

std::uint8_t BridgeDriverApi::ExitTouch() {
  return static_cast<std::uint8_t>(bridge_.ExitTouch());
}

}  // namespace bridge
