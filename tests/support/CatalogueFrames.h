#pragma once
// Test frames come from one catalogue, the frame simulator's models: a test
// names a model, alters its copy where it needs a neighbour of it (another
// version, vendor or set of collections), and gets the HID interfaces the
// system lists for it, one per top-level collection, paths in the Windows
// form.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/HidInterface.h"
#include "tools/framesim/FrameModel.h"

namespace testframes {

// The model of this name; naming one the catalogue lacks fails the test.
inline const framesim::FrameModel& Model(const std::string& name) {
  const framesim::FrameModel* m = framesim::FindModel(name);
  if (!m) throw std::invalid_argument("no frame model " + name);
  return *m;
}

// One frame as plugged in.
struct Frame {
  framesim::FrameModel model;
  std::string instance = "7&2a8f1c3&0";  // the device's instance part
  std::vector<int> collections;          // listed in this order; empty: the model's own

  Frame& Version(std::uint16_t v) { return model.versionNumber = v, *this; }
  Frame& Vendor(std::uint16_t v) { return model.vendorId = v, *this; }
  Frame& Collections(std::vector<int> numbers) { return collections = std::move(numbers), *this; }
  Frame& Instance(std::string part) { return instance = std::move(part), *this; }
  // Tells apart frames of the same model: instance "<n>&2a8f1c3&0" (7 by default).
  Frame& Unit(int n) { return instance = std::to_string(n) + "&2a8f1c3&0", *this; }

  std::string Path(int collection) const {
    return framesim::InterfacePath(model, instance, collection);
  }
  std::vector<int> CollectionNumbers() const {
    if (!collections.empty()) return collections;
    std::vector<int> numbers;
    for (const framesim::Collection& c : framesim::CollectionsOf(model))
      numbers.push_back(c.number);
    return numbers;
  }
};

inline Frame Of(const std::string& name) {
  return Frame{Model(name), "7&2a8f1c3&0", {}};
}

// Interfaces in the order given: frame by frame, collection by collection.
inline std::vector<platform::HidInterfaceInfo> Interfaces(const std::vector<Frame>& frames) {
  std::vector<platform::HidInterfaceInfo> list;
  for (const Frame& f : frames) {
    for (int c : f.CollectionNumbers())
      list.push_back({f.Path(c), f.model.vendorId, f.model.productId, f.model.versionNumber});
  }
  return list;
}

}  // namespace testframes
