// The HID seam on the virtual backend against the frame simulator: each class
// of frame enumerated, opened, read and commanded; the read, close, write and
// notification semantics the reader threads and the device library rely on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/Hid.h"
#include "platform/virtual/LinkSocket.h"
#include "tests/support/SimControl.h"
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/socket.h>
#include <unistd.h>

#include "platform/linux/HidrawNode.h"
#include "tools/framesim/ReportDescriptor.h"
#include "tools/framesim/Server.h"
#endif

using namespace platform;
using testsupport::SimControl;

namespace {

SimControl& Sim() {
  static SimControl sim;
  return sim;
}

std::unique_ptr<HidBackend> Backend() {
  return CreateVirtualHidBackend(Sim().address());
}

std::vector<std::uint8_t> Report(std::vector<std::uint8_t> head) {
  head.resize(kReportSize);
  return head;
}

// Reads one report, waiting at most `ms`.
bool ReadOne(HidDevice& d, std::uint8_t* buf, std::uint32_t ms = 5000) {
  std::memset(buf, 0, kReportSize);
  if (!d.ReadPending() && !d.StartRead(buf)) return false;
  std::size_t n = 0;
  return d.WaitRead(ms, n) == HidIoStatus::kCompleted && n == kReportSize;
}

class HidSeam : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Sim().connected()) << "no frame simulator at " << Sim().address();
    backend_ = Backend();
    ASSERT_TRUE(backend_);
  }
  // Adds a frame under a name no other test uses.
  std::string Add(const std::string& model, const std::string& extra = "") {
    static int counter = 0;
    std::string name = model + "-" + std::to_string(++counter);
    EXPECT_EQ(Sim().last("add " + model + " " + name + (extra.empty() ? "" : " " + extra)),
              "ok " + name);
    return name;
  }
  std::unique_ptr<HidBackend> backend_;
};

const HidInterfaceInfo* Find(const std::vector<HidInterfaceInfo>& all, const std::string& path) {
  for (const HidInterfaceInfo& i : all)
    if (i.path == path) return &i;
  return nullptr;
}

}  // namespace

TEST_F(HidSeam, EachClassIsEnumeratedOpenedReadAndCommanded) {
  struct Case {
    const char* model;
    int replyCol, touchCol;
    std::vector<std::uint8_t> command, replyHead;
    std::uint16_t vid, pid, version;
  } cases[] = {
      {"split-mt", 3, 4, {0xFC, 0x08}, {0xFC, 0x08, 0x02, 0x01, 0x00, 10}, 0x3D5E, 0x0021, 0x3301},
      {"split-4pt", 3, 4, {0xFC, 0xA3, 0x00}, {0xFC, 0xA3, 0x80}, 0x3D5E, 0x0023, 0x4105},
      {"single-a", 3, 3, {0x02, 0x05}, {0x02, 0x05, 0x01, 0x00, 0x02}, 0x3D5E, 0x0011, 0x2050},
      {"single-b", 3, 3, {0xFC, 0x03}, {0xFC, 0x03, 0xD0, 0x07}, 0x3D5E, 0x0012, 0x2105},
      {"series", 1, 1, {0xFE, 0x0C}, {0xFD, 0x0C, 1, 2, 3, 0, 4, 5}, 0x3D5E, 0x0113, 0x0201},
      {"f0fc", 0, 0, {0xFC, 0x05}, {0xFC, 0x05, 0x00}, 0x3D5E, 0xF0FC, 0x2105},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    const std::string name = Add(c.model);
    const std::string replyPath = Sim().path(name, c.replyCol);
    const std::string touchPath = Sim().path(name, c.touchCol);
    auto all = backend_->Enumerate();
    const HidInterfaceInfo* info = Find(all, replyPath);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->vendorId, c.vid);
    EXPECT_EQ(info->productId, c.pid);
    EXPECT_EQ(info->versionNumber, c.version);
    ASSERT_TRUE(Find(all, touchPath));

    auto reply = backend_->Open(replyPath, kHidRead, HidShare::kShared);
    auto writer = backend_->Open(replyPath, kHidWrite, HidShare::kShared);
    auto touch =
        c.touchCol == c.replyCol ? nullptr : backend_->Open(touchPath, kHidRead, HidShare::kShared);
    ASSERT_TRUE(reply && writer);
    EXPECT_EQ(reply->Caps().inputReportLength, 64);
    auto cmd = Report(c.command);
    const std::uint64_t written = writer->Write(cmd.data(), cmd.size());
    ASSERT_TRUE(written);
    std::uint8_t buf[kReportSize];
    ASSERT_TRUE(ReadOne(*reply, buf));
    EXPECT_EQ(std::vector<std::uint8_t>(buf, buf + c.replyHead.size()), c.replyHead);

    ASSERT_EQ(Sim().last("tap " + name + " 0.5,0.5"), "ok");
    HidDevice& t = touch ? *touch : *reply;
    ASSERT_TRUE(ReadOne(t, buf));
    const std::uint8_t touchId = c.touchCol == 4        ? 0xFB
                                 : c.command[0] == 0xFE ? 0xFD
                                                        : c.command[0];
    EXPECT_EQ(buf[0], touchId);
    ASSERT_TRUE(ReadOne(t, buf));  // the lift
    EXPECT_EQ(writer->WaitWrite(written, 5000), HidIoStatus::kCompleted);
    EXPECT_EQ(Sim().last("unplug " + name), "ok");
  }
  // An unrelated device shows up too, and is opened like any other.
  const std::string mouse = Add("mouse");
  auto all = backend_->Enumerate();
  const HidInterfaceInfo* m = Find(all, Sim().path(mouse, 0));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->vendorId, 0x1209);
  EXPECT_TRUE(backend_->Open(m->path, kHidReadWrite, HidShare::kShared));
  Sim().last("unplug " + mouse);
}

TEST_F(HidSeam, TimedOutReadStaysOutstandingAndCompletesLater) {
  const std::string name = Add("single-b");
  auto dev = backend_->Open(Sim().path(name, 3), kHidRead, HidShare::kShared);
  ASSERT_TRUE(dev);
  std::uint8_t buf[kReportSize] = {};
  ASSERT_TRUE(dev->StartRead(buf));
  EXPECT_FALSE(dev->StartRead(buf));  // one read at a time
  std::size_t n = 99;
  EXPECT_EQ(dev->WaitRead(20, n), HidIoStatus::kTimedOut);
  EXPECT_TRUE(dev->ReadPending());
  ASSERT_EQ(Sim().last("inject " + name + " 3 fc4142"), "ok");
  EXPECT_EQ(dev->WaitRead(5000, n), HidIoStatus::kCompleted);
  EXPECT_EQ(n, kReportSize);
  EXPECT_EQ(buf[1], 0x41);
  EXPECT_EQ(buf[2], 0x42);
  EXPECT_FALSE(dev->ReadPending());
  // Reports that arrive with no read outstanding wait for the next read, in order.
  Sim().last("inject " + name + " 3 fc01");
  Sim().last("inject " + name + " 3 fc02");
  ASSERT_TRUE(ReadOne(*dev, buf));
  EXPECT_EQ(buf[1], 1);
  ASSERT_TRUE(ReadOne(*dev, buf));
  EXPECT_EQ(buf[1], 2);
  // A cancelled read no longer writes the buffer.
  ASSERT_TRUE(dev->StartRead(buf));
  dev->CancelRead();
  EXPECT_FALSE(dev->ReadPending());
  EXPECT_EQ(dev->WaitRead(0, n), HidIoStatus::kFailed);
  Sim().last("unplug " + name);
}

TEST_F(HidSeam, CloseCompletesAPendingReadAtOnce) {
  const std::string name = Add("split-mt");
  auto dev = backend_->Open(Sim().path(name, 4), kHidRead, HidShare::kShared);
  ASSERT_TRUE(dev);
  std::uint8_t buf[kReportSize];
  ASSERT_TRUE(dev->StartRead(buf));
  std::atomic<int> status{-1};
  std::thread reader([&] {
    std::size_t n = 0;
    status = static_cast<int>(dev->WaitRead(kWaitForever, n));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(status.load(), -1);  // still waiting
  dev->Close();
  reader.join();  // would hang if close left the read pending
  EXPECT_EQ(status.load(), static_cast<int>(HidIoStatus::kFailed));
  EXPECT_FALSE(dev->IsOpen());
  EXPECT_FALSE(dev->StartRead(buf));
  std::uint8_t cmd[kReportSize] = {0xFC, 0x05};
  EXPECT_FALSE(dev->Write(cmd, sizeof cmd));
  dev->Close();  // twice is harmless
  Sim().last("unplug " + name);
}

TEST_F(HidSeam, WritesCompleteInTheBackgroundInOrder) {
  const std::string name = Add("single-a");
  const std::string path = Sim().path(name, 3);
  auto dev = backend_->Open(path, kHidWrite, HidShare::kShared);
  ASSERT_TRUE(dev);
  Sim().last("record clear");
  std::uint64_t ids[20];
  for (int i = 0; i < 20; ++i) {
    std::uint8_t cmd[kReportSize] = {0x02, 0x06, static_cast<std::uint8_t>(i & 1), 0};
    ids[i] = dev->Write(cmd, sizeof cmd);
    ASSERT_TRUE(ids[i]) << i;
  }
  for (std::uint64_t id : ids) EXPECT_EQ(dev->WaitWrite(id, 5000), HidIoStatus::kCompleted) << id;
  auto rec = Sim().command("record");
  ASSERT_EQ(rec.back(), "ok 20");
  EXPECT_EQ(rec[0], "rec " + rec[0].substr(4, rec[0].find(' ', 4) - 4) + " " + path + " w 020600" +
                        std::string(122, '0'));
  EXPECT_NE(rec[19].find(" w 020601"), std::string::npos);
  EXPECT_NE(Sim().last("state " + name).find(" mouse=1 "), std::string::npos);  // the last write
  // A write the frame refuses after taking it fails, with its reason,
  // and told apart from the one after it by number, whichever is waited
  // for first. (The reason is checked before another call can clear it.)
  ASSERT_EQ(Sim().last("fault " + name + " write-error 1"), "ok");
  std::uint8_t cmd[kReportSize] = {0x02, 0x06, 0};
  const std::uint64_t refused = dev->Write(cmd, sizeof cmd);
  EXPECT_EQ(dev->WaitWrite(refused, 5000), HidIoStatus::kFailed);
  EXPECT_NE(dev->LastError().find("the frame refused a write"), std::string::npos);
  ASSERT_EQ(Sim().last("fault " + name + " write-error 1"), "ok");
  const std::uint64_t again = dev->Write(cmd, sizeof cmd), taken = dev->Write(cmd, sizeof cmd);
  ASSERT_TRUE(again && taken);
  EXPECT_EQ(dev->WaitWrite(taken, 5000), HidIoStatus::kCompleted);
  EXPECT_EQ(dev->WaitWrite(again, 5000), HidIoStatus::kFailed);
  EXPECT_EQ(dev->WaitWrite(taken + 1, 0), HidIoStatus::kFailed);  // no such write
  // No read access: reads are refused; no write access: writes are.
  std::uint8_t buf[kReportSize];
  EXPECT_FALSE(dev->StartRead(buf));
  auto ro = backend_->Open(path, kHidRead, HidShare::kShared);
  EXPECT_FALSE(ro->Write(buf, sizeof buf));
  Sim().last("unplug " + name);
}

// "hold 08": the mode write's echo waits while the query's answer goes out,
// and comes after it on "release".
TEST_F(HidSeam, HeldAnswersComeInOrderOnRelease) {
  const std::string name = Add("series");
  auto dev = backend_->Open(Sim().path(name, 1), kHidReadWrite, HidShare::kShared);
  ASSERT_TRUE(dev);
  ASSERT_EQ(Sim().last("hold " + name + " 08"), "ok");
  const std::uint8_t mode[kReportSize] = {0xFE, 0x08, 0, 1, 3}, query[kReportSize] = {0xFE, 0x0C};
  ASSERT_TRUE(dev->Write(mode, sizeof mode));
  ASSERT_TRUE(dev->Write(query, sizeof query));
  std::uint8_t buf[kReportSize];
  ASSERT_TRUE(ReadOne(*dev, buf));
  EXPECT_EQ(buf[1], 0x0C);
  EXPECT_EQ(Sim().last("release " + name), "ok 1");
  ASSERT_TRUE(ReadOne(*dev, buf));
  EXPECT_EQ(buf[1], 0x08);
  Sim().last("unplug " + name);
}

TEST_F(HidSeam, UnplugFailsHandlesAndNotifiesRemovalAndArrival) {
  const std::string name = Add("split-2pt");
  const std::string path = Sim().path(name, 3);
  std::mutex m;
  std::condition_variable cv;
  std::vector<std::pair<HidChange, std::string>> events;
  // This frame's instance part ("7&xxxxxxx&0"): other tests' frames come and go too.
  const std::string instance = path.substr(path.find('#', path.find('#') + 1) + 1, 11);
  ASSERT_TRUE(backend_->SetChangeCallback([&](HidChange c, const std::string& iface) {
    std::lock_guard<std::mutex> lock(m);
    if (iface.find(instance) != std::string::npos) events.emplace_back(c, iface);
    cv.notify_all();
  }));
  auto dev = backend_->Open(path, kHidRead, HidShare::kShared);
  ASSERT_TRUE(dev);
  std::uint8_t buf[kReportSize];
  ASSERT_TRUE(dev->StartRead(buf));
  ASSERT_EQ(Sim().last("unplug " + name), "ok");
  std::size_t n = 0;
  EXPECT_EQ(dev->WaitRead(5000, n), HidIoStatus::kFailed);
  EXPECT_FALSE(backend_->Open(path, kHidRead, HidShare::kShared));
  EXPECT_EQ(Find(backend_->Enumerate(), path), nullptr);
  ASSERT_EQ(Sim().last("plug " + name), "ok");
  {
    std::unique_lock<std::mutex> lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return events.size() >= 8; }));
    EXPECT_EQ(events[0].first, HidChange::kRemoval);
    EXPECT_EQ(events[1].second, path);  // col01, col03, col04, col05 in turn
    EXPECT_EQ(events[4].first, HidChange::kArrival);
    EXPECT_EQ(events[5].second, path);
  }
  EXPECT_TRUE(backend_->SetChangeCallback(nullptr));
  EXPECT_TRUE(backend_->Open(path, kHidRead, HidShare::kShared));
  Sim().last("unplug " + name);
}

TEST_F(HidSeam, SharingFeatureReportsAndMissingPaths) {
  const std::string name = Add("single-a");
  const std::string control = Sim().path(name, 1);
  auto shared = backend_->Open(control, kHidReadWrite, HidShare::kShared);
  ASSERT_TRUE(shared);
  EXPECT_FALSE(backend_->Open(control, kHidReadWrite, HidShare::kExclusive));
  shared->Close();
  auto excl = backend_->Open(control, kHidReadWrite, HidShare::kExclusive);
  ASSERT_TRUE(excl);
  EXPECT_FALSE(backend_->Open(control, kHidRead, HidShare::kShared));
  EXPECT_EQ(excl->Caps().featureReportLength, 64);
  std::uint8_t set[8] = {0x07, 1, 2, 3, 4, 5, 6, 7}, get[8] = {0x07};
  EXPECT_TRUE(excl->SetFeature(set, sizeof set));
  EXPECT_TRUE(excl->GetFeature(get, sizeof get));
  EXPECT_EQ(0, std::memcmp(set, get, sizeof set));
  // The command collection has no feature reports.
  auto cmd = backend_->Open(Sim().path(name, 3), kHidReadWrite, HidShare::kShared);
  EXPECT_FALSE(cmd->GetFeature(get, sizeof get));

  EXPECT_FALSE(backend_->Open("\\\\?\\hid#vid_3d5e&pid_9999&col03#7&1&0&0002#{x}", kHidRead,
                              HidShare::kShared));
  EXPECT_FALSE(backend_->Open("two words", kHidRead, HidShare::kShared));
  EXPECT_FALSE(backend_->Open("", kHidRead, HidShare::kShared));
  Sim().last("unplug " + name);
}

TEST_F(HidSeam, AFrameKeepsItsStateAcrossReconnects) {
  const std::string name = Add("single-b");
  const std::string path = Sim().path(name, 3);
  {
    auto w = backend_->Open(path, kHidWrite, HidShare::kShared);
    std::uint8_t off[kReportSize] = {0xFC, 0x30, 1, 1, 0, 0};
    const std::uint64_t id = w->Write(off, sizeof off);
    ASSERT_EQ(w->WaitWrite(id, 5000), HidIoStatus::kCompleted);
  }
  backend_ = Backend();  // a service that went away and came back
  ASSERT_TRUE(Find(backend_->Enumerate(), path));
  EXPECT_NE(Sim().last("state " + name).find("touch-output=0"), std::string::npos);
  Sim().last("unplug " + name);
}

TEST_F(HidSeam, BadControlInputGetsAnErrorNamingTheLine) {
  SimControl other(Sim().address());  // a connection of its own: lines count from 1
  EXPECT_EQ(other.last("frobnicate"), "err line 1: unknown command: frobnicate");
  EXPECT_EQ(other.last("add no-such-model"), "err line 2: unknown model: no-such-model");
  EXPECT_EQ(other.last("inject nobody 3 fc"), "err line 3: no frame named nobody");
  const std::string name = Add("split-mt");
  EXPECT_EQ(other.last("inject " + name + " 3 xyz"),
            "err line 4: bad report (1 to 64 bytes of hex): xyz");
  EXPECT_EQ(other.last("inject " + name + " 2 fc"),
            "err line 5: frame " + name + " has no collection 2");
  EXPECT_EQ(other.last("gesture " + name + " 100 0.5,2"),
            "err line 6: bad finger (x,y or x0,y0>x1,y1 in 0..1): 0.5,2");
  EXPECT_EQ(other.last("set " + name + " verdict=x"), "err line 7: bad value for verdict: x");
  EXPECT_EQ(other.last("open nowhere r shared"), "err line 8: no such interface");
  EXPECT_EQ(other.last("state " + name).compare(0, 3, "ok "), 0);
  Sim().last("unplug " + name);
}

TEST_F(HidSeam, TheSimulatorSurvivesWhateverAClientSends) {
  const std::string name = Add("split-mt");
  const std::string path = Sim().path(name, 3);
  const std::string& addr = Sim().address();
  auto host = addr.substr(0, addr.rfind(':'));
  auto port = static_cast<unsigned short>(std::atoi(addr.c_str() + addr.rfind(':') + 1));
  {
    // A device handle fed malformed requests answers each with a failure.
    auto raw = vlink::LinkSocket::Connect(host, port);
    ASSERT_TRUE(raw);
    ASSERT_TRUE(raw->SendLine("open " + path + " rw shared"));
    std::string line;
    ASSERT_TRUE(raw->ReadLine(line));
    EXPECT_EQ(line, "ok 64 64 0");
    for (const char* bad : {"w zz", "w 123", "gf", "sf 00", "w " /* empty */, "enum", "quit"}) {
      ASSERT_TRUE(raw->SendLine(bad));
      ASSERT_TRUE(raw->ReadLine(line)) << bad;
      EXPECT_TRUE(line == "wd 0" || line == "sf 0" || line.compare(0, 4, "err ") == 0)
          << bad << " -> " << line;
    }
    std::string huge(100000, 'x');  // one line far beyond any command
    ASSERT_TRUE(raw->SendLine(huge));
    ASSERT_TRUE(raw->ReadLine(line));
    EXPECT_EQ(line, "err line too long");
    std::string binary;
    for (int i = 0; i < 256; ++i) binary.push_back(static_cast<char>(i == '\n' ? 0 : i));
    ASSERT_TRUE(raw->SendLine(binary));
    ASSERT_TRUE(raw->ReadLine(line));
    EXPECT_EQ(line.compare(0, 4, "err "), 0);
  }
  {
    // A control connection that drops mid-line and one that never reads.
    auto raw = vlink::LinkSocket::Connect(host, port);
    ASSERT_TRUE(raw);
    raw->SendLine("gesture " + name + " 100 0.1,0.1>0.9,0.9 step=1");
  }
  EXPECT_EQ(Sim().last("state " + name).compare(0, 3, "ok "), 0);
  Sim().last("unplug " + name);
}

TEST_F(HidSeam, CalibrationConversationOverTheLink) {
  const std::string name = Add("single-b", "order=2143 verdict=1 target-delay=5");
  const std::string path = Sim().path(name, 3);
  auto reader = backend_->Open(path, kHidRead, HidShare::kShared);
  auto writer = backend_->Open(path, kHidWrite, HidShare::kShared);
  ASSERT_TRUE(reader && writer);
  std::uint8_t buf[kReportSize];
  auto send = [&](std::vector<std::uint8_t> head) {
    auto r = Report(head);
    ASSERT_TRUE(writer->Write(r.data(), r.size()));
  };
  send({0xFC, 0x01, 0});
  std::vector<int> named;
  for (;;) {
    ASSERT_TRUE(ReadOne(*reader, buf));
    ASSERT_EQ(buf[0], 0xFC);
    ASSERT_EQ(buf[1], 0x01);
    const int sub = buf[2];
    if (sub == 255) {
      EXPECT_EQ(buf[3], 1);  // the configured verdict
      break;
    }
    named.push_back(sub);
    if (sub == 5) {
      send({0xFC, 0x01, 5});
      continue;
    }
    ASSERT_TRUE(sub >= 1 && sub <= 4) << sub;
    const std::uint8_t x = (sub == 2 || sub == 3) ? 14 : 2, y = sub >= 3 ? 14 : 2;
    send({0xFC, 0x01, static_cast<std::uint8_t>(sub), 0, x, 0, 0, 0, y});
  }
  EXPECT_EQ(named, (std::vector<int>{2, 1, 4, 3, 5}));
  send({0xFC, 0x05});
  ASSERT_TRUE(ReadOne(*reader, buf));
  EXPECT_EQ(buf[1], 5);
  EXPECT_EQ(buf[2], 1);
  EXPECT_EQ(buf[3] | buf[4] << 8, 512);    // the new block's first reference x
  EXPECT_EQ(buf[15] | buf[16] << 8, 524);  // and its first measured x
  Sim().last("unplug " + name);
}

#ifndef _WIN32
TEST(HidSeamNoSimulator, NothingListeningMeansNothingFound) {
  unsigned short port = 0;
  {
    framesim::Simulator sim;
    framesim::Server server(sim);
    std::string error;
    ASSERT_TRUE(server.Listen(0, error)) << error;
    port = server.Port();
  }  // the port is closed again
  auto backend = CreateVirtualHidBackend("127.0.0.1:" + std::to_string(port));
  ASSERT_TRUE(backend);
  EXPECT_TRUE(backend->Enumerate().empty());
  EXPECT_FALSE(backend->Open("\\\\?\\hid#x", kHidRead, HidShare::kShared));
  EXPECT_FALSE(backend->SetChangeCallback([](HidChange, const std::string&) {}));
  for (const char* bad :
       {"", "127.0.0.1", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:70000", "127.0.0.1:12a"})
    EXPECT_EQ(CreateVirtualHidBackend(bad), nullptr) << bad;
}
#endif

// One error contract on every backend this build has: each failing call
// leaves its reason, naming the interface, in LastError() of the handle or
// backend it was made on, and the next call that succeeds clears it.
namespace {

struct ErrorSubject {
  std::string name;
  std::unique_ptr<HidBackend> backend;
  std::string missing;                               // a path the backend cannot open
  std::function<std::unique_ptr<HidDevice>()> open;  // a handle for reading and writing
  std::vector<std::uint8_t> accepted;                // a write such a handle takes
  std::function<void()> cleanup;
};

std::vector<ErrorSubject> ErrorSubjects() {
  std::vector<ErrorSubject> all;
  const std::string frame = "single-a-errors";
  Sim().last("add single-a " + frame);
  const std::string path = Sim().path(frame, 3);
  auto virt = Backend();
  HidBackend* v = virt.get();
  all.push_back({"virtual", std::move(virt), "\\\\?\\hid#vid_3d5e&pid_9999&col03#7&1&0&0002#{x}",
                 [v, path] { return v->Open(path, kHidReadWrite, HidShare::kShared); },
                 Report({0x02, 0x05}), [frame] { Sim().last("unplug " + frame); }});
#ifdef _WIN32
  // No HID device here: a message-mode pipe plays one (as in HidWin32Test),
  // a server end made for each handle.
  const std::string pipe =
      "\\\\.\\pipe\\vantrel-hid-errors-" + std::to_string(GetCurrentProcessId());
  auto servers = std::make_shared<std::vector<HANDLE>>();
  auto os = CreateOsHidBackend();
  HidBackend* w = os.get();
  all.push_back({"win32", std::move(os),
                 "\\\\?\\hid#vid_3d5e&pid_0021&col03#7&2a8f1c3&0&0002#{4d1e}",
                 [w, pipe, servers] {
                   servers->push_back(CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_DUPLEX,
                                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE,
                                                       255, 4096, 4096, 0, nullptr));
                   return w->Open(pipe, kHidReadWrite, HidShare::kShared);
                 },
                 Report({0xFC, 0x05}),
                 [servers] {
                   for (HANDLE h : *servers) CloseHandle(h);
                 }});
#else
  // hidraw: opens of missing nodes through the backend; handles on a node
  // whose file is one end of a socket pair.
  int fds[2];
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
  HidDescriptorInfo info;
  std::string error;
  const auto bytes = framesim::ReportDescriptorOf(*framesim::FindModel("series"));
  EXPECT_TRUE(ParseHidDescriptor(bytes.data(), bytes.size(), info, error));
  auto node = hidraw::Node::Create(fds[0], "/dev/hidraw9", info);
  all.push_back(
      {"hidraw", CreateOsHidBackend(), "/dev/no-such-hidraw&col03",
       [node, error]() mutable { return node->Open(0, kHidReadWrite, HidShare::kShared, error); },
       Report({0xFE, 0x0C}), [peer = fds[1]] { ::close(peer); }});
#endif
  return all;
}

}  // namespace

TEST_F(HidSeam, EveryFailingCallLeavesItsReasonOnEveryBackend) {
  std::uint8_t buf[kReportSize + 8] = {};
  std::size_t n = 0;
  struct Row {
    const char* call;
    bool onClosed;
    std::function<bool(HidDevice&)> fails;
  } rows[] = {
      {"a second startRead", false,
       [&](HidDevice& d) {
         const bool first = d.StartRead(buf), second = d.StartRead(buf);
         d.CancelRead();  // neither fails nor succeeds: the reason stays
         return first && !second;
       }},
      {"waitRead with no read outstanding", false,
       [&](HidDevice& d) { return d.WaitRead(0, n) == HidIoStatus::kFailed; }},
      {"an empty write", false, [&](HidDevice& d) { return !d.Write(buf, 0); }},
      {"a write longer than a report", false,
       [&](HidDevice& d) { return !d.Write(buf, kReportSize + 1); }},
      {"startRead on a closed handle", true, [&](HidDevice& d) { return !d.StartRead(buf); }},
      {"waitRead on a closed handle", true,
       [&](HidDevice& d) { return d.WaitRead(0, n) == HidIoStatus::kFailed; }},
      {"write on a closed handle", true, [&](HidDevice& d) { return !d.Write(buf, kReportSize); }},
      {"getFeature on a closed handle", true,
       [&](HidDevice& d) { return !d.GetFeature(buf, kReportSize); }},
      {"setFeature on a closed handle", true,
       [&](HidDevice& d) { return !d.SetFeature(buf, kReportSize); }},
  };
  for (ErrorSubject& s : ErrorSubjects()) {
    SCOPED_TRACE(s.name);
    EXPECT_FALSE(s.backend->Open(s.missing, kHidRead, HidShare::kShared));
    const std::string openError = s.backend->LastError();
    EXPECT_NE(openError.find(s.missing.substr(0, s.missing.find('&'))), std::string::npos)
        << openError;
    auto live = s.open(), closed = s.open();
    ASSERT_TRUE(live && closed);
    closed->Close();
    // hidraw's handles here come from the node, not the backend. A pipe has
    // no report lengths: its open succeeds and keeps the reason.
    if (s.name != "hidraw") {
      EXPECT_EQ(s.backend->LastError().find("report lengths of " + live->Path()),
                s.name == "win32" ? 0 : std::string::npos)
          << s.backend->LastError();
    }
    for (const Row& row : rows) {
      SCOPED_TRACE(row.call);
      HidDevice& d = row.onClosed ? *closed : *live;
      ASSERT_TRUE(row.fails(d));
      EXPECT_NE(d.LastError().find(d.Path()), std::string::npos) << d.LastError();
      if (row.onClosed) continue;
      ASSERT_TRUE(d.Write(s.accepted.data(), s.accepted.size()));
      EXPECT_EQ(d.LastError(), "") << "stale after a write that went out";
    }
    // Nor does a wait that times out (or completes) leave one.
    ASSERT_TRUE(live->StartRead(buf));
    ASSERT_FALSE(live->Write(buf, 0));
    EXPECT_NE(live->WaitRead(0, n), HidIoStatus::kFailed);
    EXPECT_EQ(live->LastError(), "");
    live.reset();
    closed.reset();
    s.cleanup();
  }
}
