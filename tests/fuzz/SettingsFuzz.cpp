// libFuzzer: the settings file, whatever a user or another program left in
// it. Reading never overruns, values fit the caller's buffer, the list
// reader ends with a usable list, and writing one key leaves the others'
// values as they read before.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/Settings.h"
#include "input/DeviceProfile.h"

namespace {

std::string ScratchPath() {
  const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return std::string(dir) + "/vantrel-settings-fuzz-" + std::to_string(getpid()) + ".ini";
}

void Write(const std::string& path, const std::uint8_t* data, std::size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = ScratchPath();
  Write(path, data, size);

  const std::string list = ReadSettingsString(path, kVidPidListKey, "", kVidPidTextBuffer);
  if (list.size() > kVidPidTextBuffer - 1) std::abort();
  const std::string shortValue = ReadSettingsString(path, kVidPidListKey, "", 8);
  if (shortValue != list.substr(0, 7)) std::abort();
  const bool mouse = ReadMouseEnable(path);

  // Switching the mouse emulation keeps the list.
  WriteMouseEnable(path, !mouse);
  if (ReadMouseEnable(path) == mouse) std::abort();
  if (ReadSettingsString(path, kVidPidListKey, "", kVidPidTextBuffer) != list) std::abort();

  // Loading the list writes the default back only when nothing usable was
  // there; either way the list is not empty afterwards.
  auto vidPid = std::make_unique<VidPidList>();
  LoadVidPidList(path, *vidPid);
  if (vidPid->count == 0 || vidPid->count > kMaxVidPidEntries) std::abort();
  if (ReadMouseEnable(path) == mouse) std::abort();
  auto again = std::make_unique<VidPidList>();
  LoadVidPidList(path, *again);
  if (again->count != vidPid->count) std::abort();
  unlink(path.c_str());
  return 0;
}
