// The HID seam on Linux: hidraw nodes found and watched through libudev,
// each node's top-level collections listed as interfaces of their own
// ("/dev/hidraw3&col03"), reports carried by HidrawNode.
#include <errno.h>
#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "platform/Hid.h"
#include "platform/Trace.h"
#include "platform/linux/HidrawNode.h"

namespace platform {

namespace {

using hidraw::CollectionPath;
using hidraw::ErrnoText;
using hidraw::Node;

struct UdevDeleter {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
  void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
  void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

// The descriptor through the node's ioctl (needs read access to the node).
bool ReadDescriptorIoctl(int fd, std::vector<std::uint8_t>& out, std::string& error,
                         const std::string& node) {
  int size = 0;
  hidraw_report_descriptor desc{};
  if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0 || size < 0 || size > HID_MAX_DESCRIPTOR_SIZE) {
    error = ErrnoText("report descriptor size of " + node, errno);
    return false;
  }
  desc.size = static_cast<unsigned>(size);
  if (::ioctl(fd, HIDIOCGRDESC, &desc) < 0) {
    error = ErrnoText("report descriptor of " + node, errno);
    return false;
  }
  out.assign(desc.value, desc.value + desc.size);
  return true;
}

// A node's identity and collections, from udev and the node (or, when the
// node cannot be opened, sysfs, which everyone may read).
struct NodeDescription {
  std::string node;
  std::uint16_t vendorId = 0, productId = 0, versionNumber = 0;
  HidDescriptorInfo descriptor;
};

bool DescribeNode(udev* u, udev_device* raw, NodeDescription& out, std::string& error) {
  const char* devnode = udev_device_get_devnode(raw);
  udev_device* hid = udev_device_get_parent_with_subsystem_devtype(raw, "hid", nullptr);
  if (!devnode || !hid) return error = "a hidraw node without a HID device", false;
  out.node = devnode;
  const char* id = udev_device_get_property_value(hid, "HID_ID");
  unsigned bus = 0, vid = 0, pid = 0;
  if (!id || std::sscanf(id, "%x:%x:%x", &bus, &vid, &pid) != 3)
    return error = out.node + ": no HID_ID", false;
  out.vendorId = static_cast<std::uint16_t>(vid);
  out.productId = static_cast<std::uint16_t>(pid);
  // The version number: the USB device's bcdDevice; for other buses the
  // version the HID core gave the input devices it made from this device.
  const char* version = nullptr;
  if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(raw, "usb", "usb_device"))
    version = udev_device_get_sysattr_value(usb, "bcdDevice");
  UdevPtr<udev_device> input;
  if (!version) {
    UdevPtr<udev_enumerate> e(udev_enumerate_new(u));
    udev_enumerate_add_match_parent(e.get(), hid);
    udev_enumerate_add_match_subsystem(e.get(), "input");
    udev_enumerate_scan_devices(e.get());
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e.get())) {
      input.reset(udev_device_new_from_syspath(u, udev_list_entry_get_name(entry)));
      if (input && (version = udev_device_get_sysattr_value(input.get(), "id/version"))) break;
    }
  }
  out.versionNumber = version ? static_cast<std::uint16_t>(std::strtoul(version, nullptr, 16)) : 0;

  std::vector<std::uint8_t> bytes;
  const int fd = ::open(devnode, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  bool read = false;
  if (fd >= 0) {
    read = ReadDescriptorIoctl(fd, bytes, error, out.node);
    ::close(fd);
  }
  if (!read) {
    std::ifstream file(std::string(udev_device_get_syspath(hid)) + "/report_descriptor",
                       std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof())
      return error = out.node + ": report descriptor unreadable", false;
  }
  std::string parseError;
  if (!ParseHidDescriptor(bytes.data(), bytes.size(), out.descriptor, parseError))
    return error = out.node + ": report descriptor refused: " + parseError, false;
  return true;
}

std::vector<std::string> PathsOf(const NodeDescription& d) {
  std::vector<std::string> paths;
  const std::size_t n = d.descriptor.collections.size();
  for (std::size_t i = 0; i < n; ++i) paths.push_back(CollectionPath(d.node, i, n));
  return paths;
}

// The collection paths last seen for each node, so that a removal (after
// which sysfs no longer describes the node) names the same interfaces.
class KnownPaths {
 public:
  void Remember(const std::string& node, std::vector<std::string> paths) {
    std::lock_guard<std::mutex> lock(m_);
    paths_[node] = std::move(paths);
  }
  std::vector<std::string> Forget(const std::string& node) {
    std::lock_guard<std::mutex> lock(m_);
    auto it = paths_.find(node);
    if (it == paths_.end()) return {node};
    std::vector<std::string> paths = std::move(it->second);
    paths_.erase(it);
    return paths;
  }

 private:
  std::mutex m_;  // guards the paths by node
  std::map<std::string, std::vector<std::string>> paths_;
};

// The monitor thread's state; shared, so a thread detached when the callback
// unregisters itself keeps what it uses.
struct Watch {
  UdevPtr<udev> context;
  UdevPtr<udev_monitor> monitor;
  int wake[2] = {-1, -1};
  std::shared_ptr<KnownPaths> known;
  ~Watch() {
    if (wake[0] >= 0) ::close(wake[0]), ::close(wake[1]);
  }
};

void WatchLoop(std::shared_ptr<Watch> w, HidChangeCallback callback) {
  pollfd fds[2] = {{udev_monitor_get_fd(w->monitor.get()), POLLIN, 0}, {w->wake[0], POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    UdevPtr<udev_device> dev(udev_monitor_receive_device(w->monitor.get()));
    if (!dev) continue;
    const char* action = udev_device_get_action(dev.get());
    const char* devnode = udev_device_get_devnode(dev.get());
    if (!action || !devnode) continue;
    if (std::string(action) == "add") {
      NodeDescription d;
      std::string error;
      std::vector<std::string> paths{devnode};
      if (DescribeNode(w->context.get(), dev.get(), d, error)) paths = PathsOf(d);
      w->known->Remember(devnode, paths);
      for (const std::string& p : paths) callback(HidChange::kArrival, p);
    } else if (std::string(action) == "remove") {
      for (const std::string& p : w->known->Forget(devnode)) callback(HidChange::kRemoval, p);
    }
  }
}

class HidrawBackend : public HidBackend {
 public:
  ~HidrawBackend() override { SetChangeCallback(nullptr); }

  std::vector<HidInterfaceInfo> Enumerate() override {
    std::vector<HidInterfaceInfo> found;
    UdevPtr<udev> u(udev_new());
    if (!u) return error_.Fail("enumerate: udev unavailable"), found;
    error_.Clear();
    UdevPtr<udev_enumerate> e(udev_enumerate_new(u.get()));
    udev_enumerate_add_match_subsystem(e.get(), "hidraw");
    udev_enumerate_scan_devices(e.get());
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e.get())) {
      UdevPtr<udev_device> dev(
          udev_device_new_from_syspath(u.get(), udev_list_entry_get_name(entry)));
      NodeDescription d;
      std::string error;
      if (!dev || !DescribeNode(u.get(), dev.get(), d, error)) {
        // Its interfaces are skipped, as Windows skips unreadable ones.
        TRACE_WARN("enumeration: %s", error.c_str());
        error_.Fail(error);
        continue;
      }
      std::vector<std::string> paths = PathsOf(d);
      for (const std::string& p : paths)
        found.push_back({p, d.vendorId, d.productId, d.versionNumber});
      known_->Remember(d.node, std::move(paths));
    }
    return found;
  }

  std::unique_ptr<HidDevice> Open(const std::string& path, HidAccess access,
                                  HidShare share) override {
    std::string nodePath, error;
    std::size_t index = 0;
    if (!hidraw::SplitCollectionPath(path, nodePath, index))
      return errno = EINVAL, error_.Fail(path + ": not a hidraw interface path"), nullptr;
    std::lock_guard<std::mutex> lock(nodesMutex_);
    std::shared_ptr<Node> node = nodes_[nodePath].lock();
    if (!node || node->Gone()) {
      bool denied = false;
      node = OpenNode(nodePath, error, denied);
      if (!node) {
        // Said once per node: the frame is there, and only the system's
        // permissions stand between it and the service.
        const int code = errno;
        if (denied && deniedReported_.insert(nodePath).second)
          std::fprintf(stderr, "%s\n", error.c_str());
        errno = code;
        return error_.Fail(error), nullptr;
      }
      nodes_[nodePath] = node;
    }
    auto handle = node->Open(index, access, share, error);
    if (handle)
      error_.Clear();
    else
      error_.Fail(error);
    return handle;
  }

  bool SetChangeCallback(HidChangeCallback callback) override {
    std::lock_guard<std::mutex> lock(watchMutex_);
    if (watch_) {
      const char c = 0;
      (void)!::write(watch_->wake[1], &c, 1);
      if (watcher_.get_id() == std::this_thread::get_id())
        watcher_.detach();  // unregistering from inside the callback
      else if (watcher_.joinable())
        watcher_.join();
      watch_.reset();
    }
    error_.Clear();
    if (!callback) return true;
    auto w = std::make_shared<Watch>();
    w->known = known_;
    w->context.reset(udev_new());
    // Events after udev applied its rules (the node's permissions) where
    // udev runs; the kernel's own where it does not (containers).
    const char* source = ::access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
    if (w->context) w->monitor.reset(udev_monitor_new_from_netlink(w->context.get(), source));
    if (!w->monitor ||
        udev_monitor_filter_add_match_subsystem_devtype(w->monitor.get(), "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(w->monitor.get()) < 0 ||
        ::pipe2(w->wake, O_CLOEXEC | O_NONBLOCK) != 0) {
      return error_.Fail(ErrnoText("device notifications: udev monitor", errno));
    }
    watch_ = w;
    watcher_ = std::thread(WatchLoop, std::move(w), std::move(callback));
    return true;
  }

  std::string Describe() const override { return "hidraw"; }

 private:
  static std::shared_ptr<Node> OpenNode(const std::string& nodePath, std::string& error,
                                        bool& denied) {
    const int fd = ::open(nodePath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
      const int e = errno;
      error = ErrnoText("open " + nodePath, e);
      denied = e == EACCES || e == EPERM;
      if (denied) error += " (the frame's udev rule gives access: see the README)";
      return nullptr;
    }
    std::vector<std::uint8_t> bytes;
    HidDescriptorInfo info;
    std::string parseError;
    if (!ReadDescriptorIoctl(fd, bytes, error, nodePath)) {
      const int code = errno;
      ::close(fd);
      errno = code;
      return nullptr;
    }
    if (!ParseHidDescriptor(bytes.data(), bytes.size(), info, parseError)) {
      ::close(fd);
      error = nodePath + ": report descriptor refused: " + parseError;
      TRACE_ERROR("%s", error.c_str());
      errno = EPROTO;
      return nullptr;
    }
    return Node::Create(fd, nodePath, std::move(info));
  }

  std::shared_ptr<KnownPaths> known_ = std::make_shared<KnownPaths>();
  // Guards the open nodes and the nodes whose lack of access was said.
  std::mutex nodesMutex_;
  std::map<std::string, std::weak_ptr<Node>> nodes_;
  std::set<std::string> deniedReported_;
  std::mutex watchMutex_;  // guards the monitor and its thread
  std::shared_ptr<Watch> watch_;
  std::thread watcher_;
};

}  // namespace

std::unique_ptr<HidBackend> CreateOsHidBackend() {
  return std::make_unique<HidrawBackend>();
}

}  // namespace platform
