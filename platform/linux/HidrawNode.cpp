#include "platform/linux/HidrawNode.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>

#include "platform/HandleQueues.h"
#include "platform/Trace.h"

namespace platform {
namespace hidraw {

namespace {
constexpr char kMarker[] = "&col";
}

std::string CollectionPath(const std::string& node, std::size_t index, std::size_t count) {
  if (count <= 1) return node;
  char marker[24];
  std::snprintf(marker, sizeof marker, "%s%02zu", kMarker, index + 1);
  return node + marker;
}

bool SplitCollectionPath(const std::string& path, std::string& node, std::size_t& index) {
  const std::size_t at = path.rfind(kMarker);
  if (at == std::string::npos) {
    node = path;
    index = 0;
    return !path.empty();
  }
  const char* digits = path.c_str() + at + sizeof kMarker - 1;
  char* end = nullptr;
  const unsigned long n = std::strtoul(digits, &end, 10);
  if (end == digits || *end != 0 || n == 0 || n > 999) return false;
  node = path.substr(0, at);
  index = n - 1;
  return true;
}

std::string ErrnoText(const std::string& what, int error) {
  char buf[128];
  // The GNU strerror_r returns its text (not always in buf).
  const char* text = strerror_r(error, buf, sizeof buf);
  std::string result = what + ": " + text;
  errno = error;  // still the reason for the seam's caller
  return result;
}

// One open handle on one collection of a node.
class CollectionHandle : public QueuedHidDevice {
 public:
  CollectionHandle(std::shared_ptr<Node> node, std::size_t index, std::string path, unsigned access,
                   HidCaps caps)
      // As Windows: a read gives the collection's input report length, id
      // byte included.
      : QueuedHidDevice(
            std::move(path), access, caps,
            caps.inputReportLength < kReportSize ? caps.inputReportLength : kReportSize),
        node_(std::move(node)),
        index_(index) {
    if (access_ & kHidWrite) writer_ = std::thread([this] { WriteLoop(); });
  }
  ~CollectionHandle() override { Close(); }

  // From the node's reader, under the node's handle lock: one input report.
  void Deliver(const std::uint8_t* report, std::size_t length) {
    if (!(access_ & kHidRead)) return;
    std::lock_guard<std::mutex> lock(m_);
    if (open_) DeliverLocked(report, length);
  }

  void MarkGone() {
    std::lock_guard<std::mutex> lock(m_);
    gone_ = true;
    cv_.notify_all();
  }

  std::uint64_t Write(const std::uint8_t* report, std::size_t length) override {
    std::lock_guard<std::mutex> lock(m_);
    if (!open_ || gone_ || !(access_ & kHidWrite))
      return Deny(gone_ ? ENODEV : EBADF, "the handle cannot write");
    if (length == 0 || length > kReportSize) return Deny(EINVAL, "bad report length");
    // The kernel sends what it is given: exactly the report's own length.
    const HidTopLevelCollection& c = node_->Descriptor().collections[index_];
    std::size_t reportLength = 0;
    for (const HidReportLengths& r : c.reports)
      if (r.id == report[0]) reportLength = r.output;
    if (reportLength == 0) return Deny(EINVAL, "no output report with this id on this collection");
    if (length > c.outputLength)
      return Deny(EINVAL, "report longer than the collection's output reports");
    const std::uint64_t id =
        QueueWriteLocked(report, length, reportLength < kReportSize ? reportLength : kReportSize);
    if (!id) return Deny(EAGAIN, "32 writes still in flight");
    error_.Clear();
    return id;
  }

 private:
  // Records "<path>: <why>" and leaves errno `code`, where the system keeps
  // its reason.
  bool Deny(int code, const char* why) override {
    errno = code;
    return Refuse(why);
  }

  bool Feature(bool set, std::uint8_t* buffer, std::size_t length) override {
    if (!buffer || length == 0) return Deny(EINVAL, "bad feature report length");
    {
      std::lock_guard<std::mutex> lock(m_);
      if (!open_) return Deny(EBADF, "the handle is closed");
      if (gone_) return Deny(ENODEV, "the device was removed");
    }
    std::string error;
    if (!node_->Feature(set, buffer, length, error)) return error_.Fail(std::move(error));
    error_.Clear();
    return true;
  }

  void Ending() override { node_->Detach(this); }  // the reader delivers here no more

  void WriteLoop() {
    for (Out o;;) {
      if (!NextWrite(o)) {
        std::lock_guard<std::mutex> lock(m_);
        ClearWritesLocked();
        return;
      }
      std::string error;
      const bool ok = node_->WriteReport(o.bytes.data(), o.length, error);
      // The write was accepted earlier; its failure shows only here.
      if (!ok) {
        TRACE_WARN("%s", error.c_str());
        error_.Fail(std::move(error));
      }
      std::lock_guard<std::mutex> lock(m_);
      WriteDoneLocked(ok);
    }
  }

  const std::shared_ptr<Node> node_;
  const std::size_t index_;
};

std::shared_ptr<Node> Node::Create(int fd, std::string nodePath, HidDescriptorInfo descriptor) {
  std::shared_ptr<Node> node(new Node(fd, std::move(nodePath), std::move(descriptor)));
  node->reader_ = std::thread([raw = node.get()] { raw->ReadLoop(); });
  return node;
}

Node::Node(int fd, std::string nodePath, HidDescriptorInfo descriptor)
    : fd_(fd), nodePath_(std::move(nodePath)), descriptor_(std::move(descriptor)) {
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
}

Node::~Node() {
  if (wake_[1] >= 0) {
    const char c = 0;
    (void)!::write(wake_[1], &c, 1);
  }
  if (reader_.joinable()) reader_.join();
  ::close(fd_);
  if (wake_[0] >= 0) ::close(wake_[0]), ::close(wake_[1]);
}

bool Node::Gone() const {
  std::lock_guard<std::mutex> lock(handlesMutex_);
  return gone_;
}

std::unique_ptr<HidDevice> Node::Open(std::size_t index, HidAccess access, HidShare share,
                                      std::string& error) {
  const std::size_t count = descriptor_.collections.size();
  const std::string path = CollectionPath(nodePath_, index, count);
  if (index >= count) return errno = ENOENT, error = path + ": no such collection", nullptr;
  std::lock_guard<std::mutex> lock(handlesMutex_);
  if (gone_) return errno = ENODEV, error = path + ": the device was removed", nullptr;
  for (const Entry& e : handles_) {
    if (e.collection == index && (e.exclusive || share == HidShare::kExclusive))
      return errno = EBUSY, error = path + ": already open and not shared", nullptr;
  }
  const HidTopLevelCollection& c = descriptor_.collections[index];
  const HidCaps caps{c.inputLength, c.outputLength, c.featureLength};
  auto handle = std::make_unique<CollectionHandle>(shared_from_this(), index, path, access, caps);
  handles_.push_back({index, handle.get(), share == HidShare::kExclusive});
  return handle;
}

void Node::Detach(CollectionHandle* handle) {
  std::lock_guard<std::mutex> lock(handlesMutex_);
  for (auto it = handles_.begin(); it != handles_.end(); ++it) {
    if (it->handle == handle) {
      handles_.erase(it);
      return;
    }
  }
}

bool Node::WriteReport(const std::uint8_t* report, std::size_t length, std::string& error) {
  for (;;) {
    const ssize_t n = ::write(fd_, report, length);
    if (n == static_cast<ssize_t>(length)) return true;
    if (n < 0 && errno == EINTR) continue;
    error = n < 0 ? ErrnoText("write " + nodePath_, errno) : "write " + nodePath_ + ": short write";
    return false;
  }
}

bool Node::Feature(bool set, std::uint8_t* buffer, std::size_t length, std::string& error) {
  if (length > 0x3FFF)  // the ioctl's size field
    return errno = EINVAL, error = "feature report too long", false;
  const unsigned long request = set ? HIDIOCSFEATURE(length) : HIDIOCGFEATURE(length);
  const int n = ::ioctl(fd_, request, buffer);
  if (n < 0) {
    error = ErrnoText((set ? "set feature " : "get feature ") + nodePath_, errno);
    return false;
  }
  // A shorter feature report leaves the rest of the caller's buffer zero.
  if (!set && static_cast<std::size_t>(n) < length) std::memset(buffer + n, 0, length - n);
  return true;
}

void Node::Dispatch(const std::uint8_t* report, std::size_t length) {
  std::uint8_t unnumbered[kReportSize];
  int target = -1;
  if (descriptor_.numbered) {
    if (length == 0) return;
    target = descriptor_.CollectionOfReport(report[0]);
  } else {
    // No id byte on the node; the seam's reports start with id 0.
    for (std::size_t c = 0; c < descriptor_.collections.size() && target < 0; ++c)
      if (descriptor_.collections[c].inputLength) target = static_cast<int>(c);
    const std::size_t n = length < kReportSize - 1 ? length : kReportSize - 1;
    unnumbered[0] = 0;
    std::memcpy(unnumbered + 1, report, n);
    report = unnumbered;
    length = n + 1;
  }
  if (target < 0) return;  // a report no collection declares
  std::lock_guard<std::mutex> lock(handlesMutex_);
  for (const Entry& e : handles_)
    if (e.collection == static_cast<std::size_t>(target)) e.handle->Deliver(report, length);
}

void Node::ReadLoop() {
  std::size_t longest = kReportSize;
  for (const HidTopLevelCollection& c : descriptor_.collections)
    if (c.inputLength > longest) longest = c.inputLength;
  std::vector<std::uint8_t> buffer(longest);  // once, before the first report
  pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(fds, wake_[0] >= 0 ? 2 : 1, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (fds[1].revents & POLLIN)) return;  // the node is being destroyed
    if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;  // unplugged (ENODEV) or the peer closed
    Dispatch(buffer.data(), static_cast<std::size_t>(n));
  }
  std::lock_guard<std::mutex> lock(handlesMutex_);
  gone_ = true;
  for (const Entry& e : handles_) e.handle->MarkGone();
}

}  // namespace hidraw
}  // namespace platform
