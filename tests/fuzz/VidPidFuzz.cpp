// libFuzzer: the "Vid&PidList" text of the settings file. Whatever the text,
// parsing stays inside the caller's buffer and the list's 1024 entries, and
// a parsed list written back out parses to the same list.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "input/DeviceProfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The text as the settings reader hands it over: at most the buffer, no
  // terminating zero guaranteed within maxChars (an exact-size heap copy, so
  // ASan sees any read past it).
  const std::size_t n = size < kVidPidTextBuffer ? size : kVidPidTextBuffer;
  std::unique_ptr<char[]> text(new char[n ? n : 1]);
  if (n) std::memcpy(text.get(), data, n);
  auto list = std::make_unique<VidPidList>();
  ParseVidPidList(text.get(), n, *list);
  if (list->count > kMaxVidPidEntries) std::abort();

  const std::string formatted = FormatVidPidList(*list);
  auto again = std::make_unique<VidPidList>();
  ParseVidPidList(formatted.c_str(), formatted.size() + 1, *again);
  if (again->count != list->count ||
      std::memcmp(again->entry, list->entry, list->count * sizeof list->entry[0]) != 0) {
    std::abort();
  }
  DeviceProfile profile;
  MatchVidPid(*list, 0x1234, 0x0101, profile);
  return 0;
}
