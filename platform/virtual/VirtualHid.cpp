// The HID seam on frames played by the frame simulator. Each open handle is
// one link connection: the simulator pushes the interface's input reports,
// which wait in a ring of 32 reports per handle as the HID class driver keeps
// them (the oldest is dropped when it is full), and takes writes and feature
// requests. Device-change notifications come over a watching connection.
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/HandleQueues.h"
#include "platform/Hid.h"
#include "platform/virtual/LinkProtocol.h"
#include "platform/virtual/LinkSocket.h"

namespace platform {

namespace {

using vlink::LinkSocket;

bool StartsWith(const std::string& s, const char* prefix) {
  return s.compare(0, std::strlen(prefix), prefix) == 0;
}

class VirtualHidDevice : public QueuedHidDevice {
 public:
  VirtualHidDevice(std::unique_ptr<LinkSocket> link, std::string path, unsigned access,
                   HidCaps caps)
      : QueuedHidDevice(std::move(path), access, caps, kReportSize), link_(std::move(link)) {
    receiver_ = std::thread([this] { Receive(); });
    writer_ = std::thread([this] { WriteLoop(); });
  }
  ~VirtualHidDevice() override { Close(); }

  std::uint64_t Write(const std::uint8_t* report, std::size_t length) override {
    if (length == 0 || length > kReportSize) return Refuse("bad report length");
    std::lock_guard<std::mutex> lock(m_);
    if (!open_) return Refuse("the handle is closed");
    if (gone_) return Refuse("the device was removed");
    if (!(access_ & kHidWrite)) return Refuse("the handle was not opened for writing");
    const std::uint64_t id = QueueWriteLocked(report, length, length);
    if (!id) return Refuse("32 writes still in flight");
    error_.Clear();
    return id;
  }

 private:
  void Receive() {
    std::string line;
    std::array<std::uint8_t, kReportSize> report{};
    while (link_->ReadLine(line)) {
      if (StartsWith(line, "in ") || StartsWith(line, "ins ")) {
        // "ins": a report that arrived shorter than the interface's length.
        const bool cut = line[2] == 's';
        const std::size_t at = cut ? 4 : 3;
        report.fill(0);
        const long n =
            vlink::ParseHex(line.data() + at, line.size() - at, report.data(), report.size());
        if (n <= 0) continue;
        std::lock_guard<std::mutex> lock(m_);
        DeliverLocked(report.data(), kReportSize, cut ? static_cast<std::size_t>(n) : 0);
      } else if (StartsWith(line, "rerr ")) {
        const unsigned long count = std::strtoul(line.c_str() + 5, nullptr, 10);
        std::lock_guard<std::mutex> lock(m_);
        FailReadsLocked(static_cast<unsigned>(count > 1000000 ? 1000000 : count));
      } else if (StartsWith(line, "wd ")) {
        // "wd 0": the simulator refused a write it had accepted.
        const bool ok = line != "wd 0";
        if (!ok) Refuse("the frame refused a write");
        std::lock_guard<std::mutex> lock(m_);
        WriteDoneLocked(ok);
      } else if (StartsWith(line, "gf ") || StartsWith(line, "sf ")) {
        std::lock_guard<std::mutex> lock(m_);
        featureReply_ = line;
        featureAnswered_ = true;
        cv_.notify_all();
      } else if (line == "gone") {
        break;
      }
    }
    // The device left (or the handle closed): every waiter fails now.
    std::lock_guard<std::mutex> lock(m_);
    gone_ = true;
    ClearWritesLocked();
  }

  void WriteLoop() {
    std::string line;
    for (Out o; NextWrite(o);) {
      line = "w ";
      vlink::AppendHex(line, o.bytes.data(), o.length);
      if (!link_->SendLine(line)) {
        Refuse("the link to the frame simulator failed");
        std::lock_guard<std::mutex> lock(m_);
        WriteDoneLocked(false);
      }
    }
  }

  void Ending() override { link_->Shutdown(); }  // the receiver's read ends

  bool Feature(bool set, std::uint8_t* buffer, std::size_t length) override {
    const char* verb = set ? "sf " : "gf ";
    if (!buffer || length == 0 || length > kReportSize) return Refuse("bad feature report length");
    std::lock_guard<std::mutex> one(featureMutex_);  // one request at a time
    {
      std::lock_guard<std::mutex> lock(m_);
      if (!open_) return Refuse("the handle is closed");
      if (gone_) return Refuse("the device was removed");
      featureAnswered_ = false;
    }
    std::string line = verb;
    vlink::AppendHex(line, buffer, length);
    if (!link_->SendLine(line)) return Refuse("the link to the frame simulator failed");
    std::unique_lock<std::mutex> lock(m_);
    if (!cv_.wait_for(lock, std::chrono::seconds(2),
                      [this] { return featureAnswered_ || !open_ || gone_; }))
      return Refuse("no answer to a feature request");
    if (!featureAnswered_) return Refuse(open_ ? "the device was removed" : "the handle is closed");
    const bool ok = set ? featureReply_ == "sf 1"
                        : StartsWith(featureReply_, "gf 1 ") &&
                              vlink::ParseHex(featureReply_.data() + 5, featureReply_.size() - 5,
                                              buffer, length) == static_cast<long>(length);
    if (!ok) return Refuse("the frame refused the feature request");
    error_.Clear();
    return true;
  }

  std::unique_ptr<LinkSocket> link_;
  // One feature request at a time; guards its answer.
  std::mutex featureMutex_;
  bool featureAnswered_ = false;
  std::string featureReply_;
};

class VirtualHidBackend : public HidBackend {
 public:
  VirtualHidBackend(std::string host, unsigned short port) : host_(std::move(host)), port_(port) {}
  ~VirtualHidBackend() override { SetChangeCallback(nullptr); }

  std::vector<HidInterfaceInfo> Enumerate() override {
    std::vector<HidInterfaceInfo> found;
    auto link = LinkSocket::Connect(host_, port_);
    if (!link || !link->SendLine("enum")) return error_.Fail("enumerate: " + Unreachable()), found;
    error_.Clear();
    std::string line;
    while (link->ReadLine(line) && StartsWith(line, "iface ")) {
      char path[1024];
      unsigned vid, pid, ver;
      if (line.size() < sizeof path &&
          std::sscanf(line.c_str(), "iface %1023s %x %x %x", path, &vid, &pid, &ver) == 4)
        found.push_back({path, static_cast<std::uint16_t>(vid), static_cast<std::uint16_t>(pid),
                         static_cast<std::uint16_t>(ver)});
    }
    return found;
  }

  std::unique_ptr<HidDevice> Open(const std::string& path, HidAccess access,
                                  HidShare share) override {
    if (path.empty() || path.find_first_of(" \t\r\n") != std::string::npos)
      return error_.Fail("open " + path + ": not an interface path"), nullptr;
    auto link = LinkSocket::Connect(host_, port_);
    const char* acc = access == kHidRead ? "r" : access == kHidWrite ? "w" : "rw";
    if (!link || !link->SendLine("open " + path + " " + acc +
                                 (share == HidShare::kExclusive ? " excl" : " shared")))
      return error_.Fail("open " + path + ": " + Unreachable()), nullptr;
    std::string line;
    unsigned in = 0, out = 0, feat = 0;
    if (!link->ReadLine(line) || std::sscanf(line.c_str(), "ok %u %u %u", &in, &out, &feat) != 3) {
      // The simulator says why: "err no such interface", "err sharing violation".
      const std::string why = StartsWith(line, "err ") ? line.substr(4) : "no answer";
      return error_.Fail("open " + path + ": " + why), nullptr;
    }
    error_.Clear();
    HidCaps caps{static_cast<std::uint16_t>(in), static_cast<std::uint16_t>(out),
                 static_cast<std::uint16_t>(feat)};
    return std::make_unique<VirtualHidDevice>(std::move(link), path, access, caps);
  }

  bool SetChangeCallback(HidChangeCallback callback) override {
    std::lock_guard<std::mutex> lock(watchMutex_);
    if (watchLink_) {
      watchLink_->Shutdown();
      if (watcher_.get_id() == std::this_thread::get_id())
        watcher_.detach();  // unregistering from inside the callback
      else if (watcher_.joinable())
        watcher_.join();
      watchLink_.reset();
    }
    error_.Clear();
    if (!callback) return true;
    auto link = LinkSocket::Connect(host_, port_);
    std::string line;
    if (!link || !link->SendLine("watch") || !link->ReadLine(line) || line != "ok")
      return error_.Fail("device notifications: " + Unreachable());
    watchLink_ = std::shared_ptr<LinkSocket>(std::move(link));
    watcher_ = std::thread([link = watchLink_, callback = std::move(callback)] {
      std::string event;
      while (link->ReadLine(event)) {
        if (StartsWith(event, "arrival "))
          callback(HidChange::kArrival, event.substr(8));
        else if (StartsWith(event, "removal "))
          callback(HidChange::kRemoval, event.substr(8));
      }
    });
    return true;
  }

  std::string Describe() const override { return "virtual " + host_ + ":" + std::to_string(port_); }

 private:
  std::string Unreachable() const {
    return "no frame simulator answers at " + host_ + ":" + std::to_string(port_);
  }

  const std::string host_;
  const unsigned short port_;
  std::mutex watchMutex_;  // guards the notification link and its thread
  std::shared_ptr<LinkSocket> watchLink_;
  std::thread watcher_;
};

}  // namespace

std::unique_ptr<HidBackend> CreateVirtualHidBackend(const std::string& address) {
  std::string host;
  unsigned short port = 0;
  if (!vlink::ParseAddress(address, host, port)) return nullptr;
  return std::make_unique<VirtualHidBackend>(host, port);
}

}  // namespace platform
