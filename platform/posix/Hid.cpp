// Linux has no HID stack behind this seam: frames are reached through the
// frame simulator (FRAMESIM_ADDR). The OS backend finds nothing, opens
// nothing and offers no notifications.
#include "platform/Hid.h"

namespace platform {

namespace {

class NoHidBackend : public HidBackend {
 public:
  std::vector<HidInterfaceInfo> enumerate() override { return {}; }
  std::unique_ptr<HidDevice> open(const std::string&, HidAccess, HidShare) override {
    return nullptr;
  }
  bool setChangeCallback(HidChangeCallback) override { return false; }
  std::string describe() const override { return "none"; }
};

}  // namespace

std::unique_ptr<HidBackend> CreateOsHidBackend() {
  return std::make_unique<NoHidBackend>();
}

}  // namespace platform
