#pragma once
// One hidraw node (/dev/hidrawN) seen as the seam's interfaces: Linux gives
// every top-level collection's reports on one node, told apart by report id;
// the seam (like Windows) has one interface per collection. A Node owns the
// open file, one reader thread that hands each input report to the handles
// of its collection (each with its own ring of 32 reports), and the handles'
// writes and feature requests. Reads and writes are plain file I/O, so a
// test can put a SOCK_SEQPACKET socket in place of the node.
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Hid.h"
#include "platform/HidDescriptor.h"

namespace platform {
namespace hidraw {

// "/dev/hidraw3&col03" for collection index 2 of several; the node path alone
// for a device with one collection (as Windows adds no collection marker).
std::string CollectionPath(const std::string& node, std::size_t index, std::size_t count);
// The node and collection index of a path made by CollectionPath.
bool SplitCollectionPath(const std::string& path, std::string& node, std::size_t& index);

// errno as text: "open /dev/hidraw3: Permission denied".
std::string ErrnoText(const std::string& what, int error);

class CollectionHandle;

class Node : public std::enable_shared_from_this<Node> {
 public:
  // Takes `fd` (the open node); starts its reader.
  static std::shared_ptr<Node> Create(int fd, std::string nodePath, HidDescriptorInfo descriptor);
  ~Node();
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  // A handle on collection `index`. Null with `error` if the index is out of
  // range, the node is gone, or the sharing mode conflicts with a handle
  // already open on that collection (exclusive excludes every other).
  std::unique_ptr<HidDevice> Open(std::size_t index, HidAccess access, HidShare share,
                                  std::string& error);

  const std::string& NodePath() const { return nodePath_; }
  const HidDescriptorInfo& Descriptor() const { return descriptor_; }
  bool Gone() const;

  // Used by the handles.
  bool WriteReport(const std::uint8_t* report, std::size_t length, std::string& error);
  bool Feature(bool set, std::uint8_t* buffer, std::size_t length, std::string& error);
  void Detach(CollectionHandle* handle);

 private:
  Node(int fd, std::string nodePath, HidDescriptorInfo descriptor);
  void ReadLoop();
  void Dispatch(const std::uint8_t* report, std::size_t length);

  const int fd_;
  int wake_[2] = {-1, -1};
  const std::string nodePath_;
  const HidDescriptorInfo descriptor_;
  // Handles by collection; changed at open and close only, never per report.
  mutable std::mutex handlesMutex_;
  struct Entry {
    std::size_t collection;
    CollectionHandle* handle;
    bool exclusive;
  };
  std::vector<Entry> handles_;
  bool gone_ = false;
  std::thread reader_;
};

}  // namespace hidraw
}  // namespace platform
