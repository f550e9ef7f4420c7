#include "input/DeviceProfile.h"

#include <cstdio>

#include "common/AcceptedFrames.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Calls `f` with each run of eight hex digits (other characters skipped)
// among the first maxChars characters of `text`, up to a NUL; f returns
// false to stop.
template <typename F>
void ForEachVidPidGroup(const char* text, std::size_t maxChars, F f) {
  std::uint32_t group = 0;
  int digits = 0;
  for (std::size_t i = 0; i < maxChars && text[i] != '\0'; ++i) {
    const int v = HexValue(text[i]);
    if (v < 0) continue;
    group = (group << 4) | static_cast<std::uint32_t>(v);
    if (++digits == 8) {
      if (!f(group)) return;
      group = 0;
      digits = 0;
    }
  }
}

}  // namespace

void ParseVidPidList(const char* text, std::size_t maxChars, VidPidList& list) {
  list.count = 0;
  ForEachVidPidGroup(text, maxChars, [&](std::uint32_t group) {
    if (list.count < kMaxVidPidEntries) list.entry[list.count++] = group;
    return true;
  });
}

VidPidCut FindVidPidCut(const char* text, std::size_t kept) {
  VidPidCut cut;
  ForEachVidPidGroup(text, std::size_t(-1), [&](std::uint32_t group) {
    if (cut.total++ == kept) cut.firstCut = group;
    return true;
  });
  return cut;
}

void DefaultVidPidList(VidPidList& list) {
  list.count = 0;
  for (const frame::AcceptedRange& r : frame::kAcceptedFrames) {
    if (!(r.where & frame::kInServiceList)) continue;
    for (std::uint32_t p = r.firstProduct; p <= r.lastProduct; ++p) {
      list.entry[list.count++] = (std::uint32_t{r.vendorId} << 16) | p;
    }
  }
}

std::string FormatVidPidList(const VidPidList& list) {
  std::string text;
  text.reserve(list.count * 9);
  char group[9];
  for (std::size_t i = 0; i < list.count; ++i) {
    std::snprintf(group, sizeof group, "%08X", static_cast<unsigned>(list.entry[i]));
    if (i != 0) text += ' ';
    text += group;
  }
  return text;
}

bool MatchVidPid(const VidPidList& list, std::uint16_t vendorId, std::uint16_t productId,
                 DeviceProfile& profile) {
  const std::uint32_t wanted = (std::uint32_t{vendorId} << 16) | productId;
  for (std::size_t i = 0; i < list.count; ++i) {
    if (list.entry[i] == wanted) {
      profile.Series01xx = IsSeries01xxProduct(productId);
      return true;
    }
  }
  return false;
}
