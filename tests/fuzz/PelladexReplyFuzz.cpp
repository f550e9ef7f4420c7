// libFuzzer: what reaches the device library from outside: the interface
// paths and ids enumeration reports, and the frames' replies to its queries.
// Records stay within their fixed fields (every string NUL-terminated), at
// most `count` records are written, and a rejected reply leaves the fields it
// governs zero.
//
// Input: the record count asked for, interfaces (ids, version, a path of up
// to 511 bytes), then a byte that starts the reply section, and the replies.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/DeviceRules.h"
#include "device/Queries.h"
#include "tests/fuzz/FuzzBytes.h"

namespace {

bool Terminated(const char (&s)[TOUCHDEV_PATH_LEN]) {
  return std::memchr(s, '\0', sizeof s) != nullptr;
}

void CheckRecord(const _TouchDevInfo& r) {
  if (!Terminated(r.devicePath) || !Terminated(r.instanceId) || !Terminated(r.controlPath) ||
      !Terminated(r.replyPath)) {
    std::abort();
  }
}

void Replies(fuzz::FuzzBytes& in, _TouchDevInfo& info) {
  while (!in.empty()) {
    _TouchDevData reply;
    in.take(&reply, sizeof reply);
    const std::uint8_t which = reply.reserved0 & 7;
    const char sendResult = static_cast<char>(reply.reserved3[0] & 1);
    switch (which) {
      case 0:
        if (!pelladex::ApplyStandardDetail(info, reply) &&
            (info.detailValue | info.detailWord | info.detailWord2 | info.detailPacked |
             info.detailByte) != 0) {
          std::abort();
        }
        break;
      case 1:
        if (!pelladex::ApplySeriesDetail(info, pelladex::kSeriesDetailWord, reply) &&
            info.detailWord != 0) {
          std::abort();
        }
        break;
      case 2:
        if (!pelladex::ApplySeriesDetail(info, pelladex::kSeriesDetailValue, reply) &&
            info.detailValue != 0) {
          std::abort();
        }
        break;
      case 3:
        pelladex::ApplyMaxPoints(info, sendResult, reply);
        break;
      case 4: {
        std::uint8_t status[6] = {};
        pelladex::ApplySeriesModeRead(info, status, sendResult, reply);
        break;
      }
      default: {
        const std::uint8_t mode[5] = {reply.report[2], reply.report[3], reply.report[4],
                                      reply.report[5], reply.report[6]};
        pelladex::SeriesModeWriteAccepted(sendResult, reply, mode);
        break;
      }
    }
    pelladex::LogicalMaximum(info);
    pelladex::VariantOf(info);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzBytes in(data, size);
  const short count = static_cast<short>(in.byte() % (TOUCHDEV_MAX_FOUND + 2));
  std::vector<platform::HidInterfaceInfo> interfaces;
  while (!in.empty()) {
    platform::HidInterfaceInfo hid;
    hid.vendorId = in.u16();
    hid.productId = in.u16();
    hid.versionNumber = in.u16();
    std::size_t length = in.u16() % 512;
    if (length == 0) break;  // the replies follow
    hid.path.resize(length);
    in.take(&hid.path[0], length);
    // A path is a C string by the time it reaches the rules.
    hid.path.resize(std::strlen(hid.path.c_str()));
    interfaces.push_back(hid);
  }

  // Exactly `count` records, so ASan sees a write past them.
  std::vector<_TouchDevInfo> list(count > 0 ? std::size_t(count) : 1);
  const short found =
      pelladex::FindFrames([&interfaces] { return interfaces; }, list.data(), count);
  if (count == 0 ? found >= 0 : (found < 0 || found > count)) std::abort();
  for (short i = 0; i < found; ++i) CheckRecord(list[std::size_t(i)]);

  _TouchDevInfo info{};
  if (found > 0) info = list[0];
  Replies(in, info);
  return 0;
}
