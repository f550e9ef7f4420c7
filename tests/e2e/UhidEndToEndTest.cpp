// The service against a kernel HID device: /dev/uhid makes one from a frame
// model's report descriptor, this test plays the frame's side (the
// simulator's Frame, byte for byte), and the real vantrel finds it through
// the hidraw backend, with no simulator link. Where the kernel offers no
// /dev/uhid the test is reported skipped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/Hid.h"
#include "tests/support/OscCapture.h"
#include "tests/support/ServiceProcess.h"
#include "tests/support/XmlClient.h"
#include "tools/framesim/Frame.h"
#include "tools/framesim/ReportDescriptor.h"

namespace {

using framesim::Contact;
using framesim::Phase;

// One frame as a kernel HID device.
class UhidFrame {
 public:
  UhidFrame(int fd, const framesim::FrameModel& model) : fd_(fd), frame_(model, "uhid") {
    for (const auto& c : framesim::DescriptorCollectionsOf(model))
      for (const auto& r : c.reports) collectionOf_[r.id] = c.number;
    thread_ = std::thread([this] { loop(); });
  }
  ~UhidFrame() {
    unplug();
    stop_ = true;
    thread_.join();
    ::close(fd_);
  }

  bool plug() {
    uhid_event ev{};
    ev.type = UHID_CREATE2;
    const framesim::FrameModel& m = frame_.Model();
    std::snprintf(reinterpret_cast<char*>(ev.u.create2.name), sizeof ev.u.create2.name,
                  "vantrel test frame %s", m.name.c_str());
    const auto rd = framesim::ReportDescriptorOf(m);
    std::memcpy(ev.u.create2.rd_data, rd.data(), rd.size());
    ev.u.create2.rd_size = static_cast<std::uint16_t>(rd.size());
    ev.u.create2.bus = 0x03;  // USB
    ev.u.create2.vendor = m.vendorId;
    ev.u.create2.product = m.productId;
    ev.u.create2.version = m.versionNumber;
    std::lock_guard<std::mutex> lock(m_);
    frame_.PowerUp();
    return plugged_ = send(ev);
  }
  void unplug() {
    uhid_event ev{};
    ev.type = UHID_DESTROY;
    std::lock_guard<std::mutex> lock(m_);
    if (plugged_) send(ev);
    plugged_ = false;
  }
  void touch(std::vector<Contact> contacts) {
    std::vector<framesim::Emission> out;
    std::string error;
    std::lock_guard<std::mutex> lock(m_);
    ASSERT_TRUE(frame_.EncodeTouch(contacts, out, error)) << error;
    emit(out);
  }
  // Heads (first four bytes, hex) of the output reports received so far.
  std::vector<std::string> received() {
    std::lock_guard<std::mutex> lock(m_);
    return received_;
  }

 private:
  bool send(const uhid_event& ev) { return ::write(fd_, &ev, sizeof ev) == sizeof ev; }
  void emit(const std::vector<framesim::Emission>& out) {  // m_ held
    for (const framesim::Emission& e : out) {
      uhid_event ev{};
      ev.type = UHID_INPUT2;
      ev.u.input2.size = static_cast<std::uint16_t>(e.report.size());
      std::memcpy(ev.u.input2.data, e.report.data(), e.report.size());
      send(ev);
    }
  }
  void loop() {
    pollfd p{fd_, POLLIN, 0};
    while (!stop_) {
      if (::poll(&p, 1, 50) <= 0) continue;
      uhid_event ev{};
      if (::read(fd_, &ev, sizeof ev) <= 0) continue;
      std::lock_guard<std::mutex> lock(m_);
      if (ev.type == UHID_OUTPUT && ev.u.output.size > 0) {
        const std::uint8_t* d = ev.u.output.data;
        char head[9];
        std::snprintf(head, sizeof head, "%02x%02x%02x%02x", d[0], d[1], d[2], d[3]);
        received_.push_back(head);
        std::vector<framesim::Emission> out;
        frame_.OnOutputReport(collectionOf_[d[0]], d, ev.u.output.size, out);
        emit(out);
      } else if (ev.type == UHID_GET_REPORT) {
        uhid_event reply{};
        reply.type = UHID_GET_REPORT_REPLY;
        reply.u.get_report_reply.id = ev.u.get_report.id;
        reply.u.get_report_reply.data[0] = ev.u.get_report.rnum;
        const bool ok = frame_.GetFeature(collectionOf_[ev.u.get_report.rnum],
                                          reply.u.get_report_reply.data, 64);
        reply.u.get_report_reply.err = ok ? 0 : EIO;
        reply.u.get_report_reply.size = ok ? 64 : 0;
        send(reply);
      } else if (ev.type == UHID_SET_REPORT) {
        uhid_event reply{};
        reply.type = UHID_SET_REPORT_REPLY;
        reply.u.set_report_reply.id = ev.u.set_report.id;
        const bool ok = frame_.SetFeature(collectionOf_[ev.u.set_report.rnum], ev.u.set_report.data,
                                          ev.u.set_report.size);
        reply.u.set_report_reply.err = ok ? 0 : EIO;
        send(reply);
      }
    }
  }

  const int fd_;
  std::mutex m_;
  framesim::Frame frame_;
  int collectionOf_[256] = {};
  bool plugged_ = false;
  std::vector<std::string> received_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The interfaces the OS backend lists for the test frame.
std::vector<platform::HidInterfaceInfo> Listed(const framesim::FrameModel& m) {
  std::vector<platform::HidInterfaceInfo> found;
  for (const auto& i : platform::CreateOsHidBackend()->Enumerate())
    if (i.vendorId == m.vendorId && i.productId == m.productId) found.push_back(i);
  return found;
}

std::size_t AliveCount(const testsupport::OscBundle& b) {
  for (const auto& msg : b.messages)
    if (!msg.args.empty() && std::get_if<std::string>(&msg.args[0]) &&
        std::get<std::string>(msg.args[0]) == "alive")
      return msg.args.size() - 1;
  return 0;
}

// A finger down, moved, up; true once the cursor came and went over TUIO.
bool TouchArrives(UhidFrame& frame, testsupport::UdpCapture& tuio) {
  tuio.bundles(100);
  frame.touch({{0, 0.25, 0.25, Phase::kDown}});
  for (int i = 1; i <= 5; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    frame.touch({{0, 0.25 + 0.05 * i, 0.25, Phase::kMove}});
  }
  frame.touch({{0, 0.5, 0.25, Phase::kUp}});
  bool seen = false, ended = false;
  testsupport::WaitFor(
      [&] {
        for (const auto& b : tuio.bundles(50)) {
          if (AliveCount(b) == 1) seen = true;
          ended = seen && AliveCount(b) == 0;
        }
        return ended;
      },
      10000);
  return ended;
}

TEST(UhidEndToEnd, ServiceFindsAKernelFrameTakesItsTouchesAndFollowsUnplugAndReplug) {
  const int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
  if (fd < 0)
    GTEST_SKIP() << "/dev/uhid: " << std::strerror(errno)
                 << " (this kernel offers no virtual HID devices)";
  const framesim::FrameModel& model = *framesim::FindModel("split-mt");
  UhidFrame frame(fd, model);
  ASSERT_TRUE(frame.plug());

  // Enumeration: one interface per collection, with the version number the
  // HID core handed its input device.
  std::vector<platform::HidInterfaceInfo> listed;
  ASSERT_TRUE(testsupport::WaitFor([&] { return (listed = Listed(model)).size() == 5; }, 5000));
  EXPECT_NE(listed[2].path.find("&col03"), std::string::npos) << listed[2].path;
  EXPECT_EQ(listed[2].versionNumber, model.versionNumber);

  testsupport::UdpCapture tuio(3333);
  testsupport::ServiceProcess service("");  // no simulator: the OS backend
  ASSERT_TRUE(service.waitReady(20000)) << service.output();
  // The start-up command a split-channel multi-touch frame receives.
  ASSERT_TRUE(testsupport::WaitFor([&] { return !frame.received().empty(); }, 5000));
  EXPECT_EQ(frame.received()[0], "fc300101");
  EXPECT_TRUE(TouchArrives(frame, tuio));

  frame.unplug();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::size_t before = frame.received().size();
  ASSERT_TRUE(frame.plug());
  // Plugged back: found again, its start-up commands again, touches again.
  ASSERT_TRUE(testsupport::WaitFor([&] { return frame.received().size() > before; }, 10000))
      << service.output();
  EXPECT_TRUE(TouchArrives(frame, tuio));
  EXPECT_EQ(service.interruptAndWait(10000), 0) << service.output();
}

}  // namespace
