// libFuzzer: any bytes as a report descriptor. The parser must stay inside
// the input and either describe it consistently or refuse it.
#include <cstdlib>

#include "platform/HidDescriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::HidDescriptorInfo info;
  std::string error;
  if (!platform::ParseHidDescriptor(data, size, info, error)) {
    if (error.empty()) std::abort();
    return 0;
  }
  for (const platform::HidTopLevelCollection& c : info.collections) {
    for (const platform::HidReportLengths& r : c.reports) {
      // Every report fits its collection's lengths and belongs to it alone.
      if (r.input > c.inputLength || r.output > c.outputLength || r.feature > c.featureLength)
        std::abort();
      if (&info.collections[info.CollectionOfReport(r.id)] != &c) std::abort();
      if (info.numbered != (r.id != 0)) std::abort();
    }
  }
  return 0;
}
