// pelladex-probe: is a touch frame there? Lists the frames the device library
// finds, with their records, details and number of touch points, and streams
// a frame's touch reports as hex.
//
//   pelladex-probe                      list the frames
//   pelladex-probe --stream N [--count K] [--timeout MS]
//                                       print frame N's reports, one per line
//
// With FRAMESIM_ADDR=127.0.0.1:PORT set, the frames are the simulator's.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "common/FrameClasses.h"
#include "device/Pelladex.h"

namespace {

std::atomic<bool> g_interrupted{false};  // set by Ctrl-C only
extern "C" void OnInterrupt(int) {
  g_interrupted = true;
}

const char* KindName(std::uint32_t kind) {
  switch (kind) {
    case TOUCHDEV_KIND_STANDARD:
      return "standard";
    case TOUCHDEV_KIND_SERIES01XX:
      return "Series01xx";
    case TOUCHDEV_KIND_F0FC:
      return "F0FC";
    default:
      return "unknown";
  }
}

bool IsSplitChannel(const _TouchDevInfo& r) {
  return r.interfaceType == TOUCHDEV_IF_HID && r.deviceKind == TOUCHDEV_KIND_STANDARD &&
         frame::IsSplitChannel(r.versionNumber);
}

void PrintPath(const char* label, const char* path) {
  if (path[0] != '\0') std::printf("  %-13s %s\n", label, path);
}

// Queries need a reader loop: this one runs while the frame is asked.
class ReaderLoop {
 public:
  explicit ReaderLoop(CPelladex& device)
      : thread_([this, &device] {
          while (!stop_) device.ReadData(20);
        }) {}
  ~ReaderLoop() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

constexpr int kQueryTries = 5;  // at most 1 s for a frame that never answers

void ListFrame(int index, const _TouchDevInfo& found) {
  std::printf("frame %d: %s, kind %u (%s), %s\n", index,
              IsSplitChannel(found) ? "split-channel" : "single-channel", found.deviceKind,
              KindName(found.deviceKind),
              found.interfaceType == TOUCHDEV_IF_HID ? "HID" : "serial");
  std::printf("  vendor %04x  product %04x  version %04x  report id %02x\n", found.vendorId,
              found.productId, found.versionNumber, found.reportId);
  PrintPath("device path", found.devicePath);
  PrintPath("instance id", found.instanceId);
  PrintPath("control path", found.controlPath);
  PrintPath("reply path", found.replyPath);
  PrintPath("touch path", found.touchPath);
  PrintPath("aux path", found.auxPath);

  std::unique_ptr<CPelladex> device(CPelladex::Create(&found));
  if (!device || device->OpenDevice(1) != 1) {
    std::printf("  (cannot be opened)\n");
    return;
  }
  // Reports already on their way (a Series01xx frame answers the mode query
  // of the open late) would be taken for the replies: read them off first.
  while (device->ReadData(100) == TOUCHDEV_REPORT_LEN) {
  }
  _TouchDevInfo info = found;
  char detail = 0, points = 0;
  {
    ReaderLoop reader(*device);
    // The library waits 200 ms for each reply; on a busy machine a reply can
    // come later, so a query that failed is asked again a few times (a query
    // that does not apply to the frame fails at once, without waiting).
    for (int i = 0; i < kQueryTries && detail != 1; ++i) detail = device->GetDevDetail(&info);
    for (int i = 0; i < kQueryTries && points != 1; ++i) points = device->GetDeviceMaxPointNum();
  }
  _TouchDevInfo limits;
  device->GetDeviceInfo(&limits);
  if (detail == 1) {
    std::printf("  details       value %08x  word %04x  word2 %04x  packed %04x  byte %02x\n",
                info.detailValue, info.detailWord, info.detailWord2, info.detailPacked,
                info.detailByte);
  } else {
    std::printf("  details       (not reported)\n");
  }
  std::printf("  max points    %u%s\n", device->m_info.maxPointNum,
              points == 1 ? "" : " (default: the frame did not report)");
  std::printf("  logical range %u..%u x %u..%u\n", limits.xMin, limits.xMax, limits.yMin,
              limits.yMax);
  device->CloseDevice();
}

int Stream(const _TouchDevInfo& found, long count, short timeoutMs) {
  std::unique_ptr<CPelladex> device(CPelladex::Create(&found));
  if (!device || device->OpenDevice(1) != 1) {
    std::fprintf(stderr, "pelladex-probe: the frame cannot be opened\n");
    return 1;
  }
  std::signal(SIGINT, OnInterrupt);
  long printed = 0;
  while (!g_interrupted && (count <= 0 || printed < count)) {
    const short n = device->ReadData(timeoutMs);
    if (n == TD_READ_TIMEOUT) continue;
    if (n < 0) {
      std::fprintf(stderr, "pelladex-probe: read failed (%d)\n", n);
      return 1;
    }
    _TouchDevData data;
    if (n != TOUCHDEV_REPORT_LEN || device->GetBuffer(&data) != 1) continue;
    char line[TOUCHDEV_REPORT_LEN * 3];
    for (int i = 0; i < TOUCHDEV_REPORT_LEN; ++i) {
      std::snprintf(line + 3 * i, 4, "%02x ", data.report[i]);
    }
    line[sizeof line - 1] = '\0';  // no trailing space
    std::printf("%s\n", line);
    std::fflush(stdout);
    ++printed;
  }
  device->CloseDevice();
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: pelladex-probe                 list the touch frames found\n"
               "       pelladex-probe --stream N [--count K] [--timeout MS]\n"
               "                                      print frame N's reports as hex\n");
  return 2;
}

bool ParseNumber(const char* text, long low, long high, long& out) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < low || value > high) return false;
  out = value;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  long stream = -1, count = 0, timeout = 100;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--stream" && hasValue && ParseNumber(argv[i + 1], 0, 15, stream)) {
      ++i;
    } else if (arg == "--count" && hasValue && ParseNumber(argv[i + 1], 0, 1L << 30, count)) {
      ++i;
    } else if (arg == "--timeout" && hasValue && ParseNumber(argv[i + 1], 1, 32767, timeout)) {
      ++i;
    } else {
      return Usage();
    }
  }

  _TouchDevInfo found[TOUCHDEV_MAX_FOUND];
  const short n = CPelladex::FindDevice(found, TOUCHDEV_MAX_FOUND);
  if (n <= 0) {
    std::printf("no touch frame found\n");
    return 1;
  }
  if (stream >= 0) {
    if (stream >= n) {
      std::fprintf(stderr, "pelladex-probe: there is no frame %ld (%d found)\n", stream, n);
      return 1;
    }
    return Stream(found[stream], count, static_cast<short>(timeout));
  }
  for (int i = 0; i < n; ++i) ListFrame(i, found[i]);
  return 0;
}
