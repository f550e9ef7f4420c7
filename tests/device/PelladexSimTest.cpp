// The device library against frames played by the frame simulator: the same
// code paths as with a frame on USB. Natively the simulator runs in-process;
// the Windows build runs under with-framesim.sh, which names the native
// simulator in FRAMESIM_ADDR. Each test plugs in its own frames.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device/Pelladex.h"
#include "tests/support/SimControl.h"
#include "tests/support/WaitFor.h"

using testsupport::SimControl;
using Clock = std::chrono::steady_clock;

namespace {

std::string Hex(const std::uint8_t* bytes, std::size_t n) {
  std::string out;
  char two[3];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(two, sizeof two, "%02x", bytes[i]);
    out += two;
  }
  return out;
}

std::vector<std::uint8_t> Report(std::initializer_list<std::uint8_t> head) {
  std::vector<std::uint8_t> r(64, 0);
  std::size_t i = 0;
  for (std::uint8_t b : head) r[i++] = b;
  return r;
}

_TouchDevData Command(std::uint8_t code, bool waits,
                      std::initializer_list<std::uint8_t> args = {}) {
  _TouchDevData cmd;
  std::memset(&cmd, 0, sizeof cmd);
  cmd.waitReply = waits ? 1 : 0;
  cmd.report[0] = 0x55;  // replaced by the record's report id
  cmd.report[1] = code;
  int i = 2;
  for (std::uint8_t b : args) cmd.report[i++] = b;
  return cmd;
}

// A client's reader loop: keeps ReadData running so that replies are captured.
class ReaderLoop {
 public:
  explicit ReaderLoop(CPelladex& device, short timeoutMs = 20)
      : thread_([this, &device, timeoutMs] {
          while (!stop_) {
            if (device.ReadData(timeoutMs) == TOUCHDEV_REPORT_LEN) ++reports_;
          }
        }) {}
  ~ReaderLoop() {
    stop_ = true;
    thread_.join();
  }
  int reports() const { return reports_; }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<int> reports_{0};
  std::thread thread_;
};

class PelladexSim : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    control_ = new SimControl;
    connected_ = control_->connected();
    // The library finds the simulator where the backend factory looks.
#ifdef _WIN32
    _putenv(("FRAMESIM_ADDR=" + control_->address()).c_str());
#else
    setenv("FRAMESIM_ADDR", control_->address().c_str(), 1);
#endif
  }
  static void TearDownTestSuite() {
    delete control_;
    control_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(connected_) << "no simulator";
  }
  void TearDown() override {
    for (const std::string& name : added_) Sim("unplug " + name);
  }

  std::string Sim(const std::string& line, std::vector<std::string>* before = nullptr) {
    std::vector<std::string> lines = control_->command(line);
    const std::string answer = lines.back();
    lines.pop_back();
    if (before != nullptr) *before = lines;
    return answer;
  }

  // Plugs in a frame of `model` with extra settings; returns its unique name.
  std::string Add(const std::string& model, const std::string& settings = "") {
    const std::string name = model + "-" + std::to_string(++serial_);
    const std::string answer =
        Sim("add " + model + " " + name + (settings.empty() ? "" : " ") + settings);
    EXPECT_EQ(answer, "ok " + name);
    added_.push_back(name);
    return name;
  }

  // The interface path of a frame's collection (0: its only interface).
  std::string PathOf(const std::string& name, int collection) {
    return control_->path(name, collection);
  }

  void Inject(const std::string& name, int collection, const std::vector<std::uint8_t>& report) {
    ASSERT_EQ(Sim("inject " + name + " " + std::to_string(collection) + " " +
                  Hex(report.data(), report.size())),
              "ok");
  }

  // The first record FindDevice reports for the frame named `name`.
  _TouchDevInfo Find(const std::string& name, int collection) {
    const std::string path = PathOf(name, collection);
    _TouchDevInfo list[TOUCHDEV_MAX_FOUND];
    const short n = CPelladex::FindDevice(list, TOUCHDEV_MAX_FOUND);
    for (int i = 0; i < n; ++i) {
      if (path == list[i].devicePath) return list[i];
    }
    ADD_FAILURE() << "no record for " << name;
    _TouchDevInfo none;
    std::memset(&none, 0, sizeof none);
    return none;
  }

  std::unique_ptr<CPelladex> Open(const std::string& name, int collection, char shared = 1) {
    const _TouchDevInfo rec = Find(name, collection);
    std::unique_ptr<CPelladex> device(CPelladex::Create(&rec));
    EXPECT_NE(device, nullptr);
    if (device) {
      EXPECT_EQ(device->OpenDevice(shared), 1) << name;
      // A Series01xx frame answers the mode query of the open after the
      // open stopped waiting: take that report off as input.
      if (rec.deviceKind == TOUCHDEV_KIND_SERIES01XX) {
        while (device->ReadData(100) == TOUCHDEV_REPORT_LEN) {
        }
      }
    }
    return device;
  }

  // How many reports the simulator has received (its record is not cleared:
  // a report arriving between a look and a clear would be lost).
  std::size_t Records() {
    const std::string answer = Sim("record");
    return std::stoul(answer.substr(answer.find(' ') + 1));
  }

  // The output reports the simulator received since the last call.
  std::vector<std::string> Written() {
    std::vector<std::string> lines;
    Sim("record", &lines);
    Sim("record clear");
    return lines;
  }

  static SimControl* control_;
  static bool connected_;
  static int serial_;
  std::vector<std::string> added_;
};

SimControl* PelladexSim::control_ = nullptr;
bool PelladexSim::connected_ = false;
int PelladexSim::serial_ = 0;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

TEST_F(PelladexSim, EnumeratesEveryClassOfFrame) {
  const std::string split = Add("split-mt");
  const std::string single = Add("single-a");
  const std::string series = Add("series");
  const std::string f0fc = Add("f0fc");
  Add("mouse");
  Add("single-c");  // a standard frame of version 0x7000: no record
  _TouchDevInfo list[TOUCHDEV_MAX_FOUND];
  ASSERT_EQ(CPelladex::FindDevice(list, TOUCHDEV_MAX_FOUND), 4);

  const _TouchDevInfo& s = list[0];  // split-channel frames come first
  EXPECT_EQ(s.deviceKind, TOUCHDEV_KIND_STANDARD);
  EXPECT_EQ(s.reportId, 0xFC);
  EXPECT_EQ(s.versionNumber, 0x3301);
  EXPECT_EQ(s.devicePath, PathOf(split, 3));
  EXPECT_EQ(s.replyPath, PathOf(split, 3));
  EXPECT_EQ(s.touchPath, PathOf(split, 4));
  EXPECT_EQ(s.auxPath, PathOf(split, 5));
  EXPECT_STRNE(s.instanceId, "");
  EXPECT_EQ(std::string(s.instanceId).find("&COL03\\"), 17u) << s.instanceId;

  EXPECT_EQ(list[1].devicePath, PathOf(single, 3));
  EXPECT_EQ(list[1].controlPath, PathOf(single, 1));
  EXPECT_EQ(list[1].reportId, 0x02);
  EXPECT_EQ(list[2].devicePath, PathOf(series, 1));
  EXPECT_EQ(list[2].deviceKind, TOUCHDEV_KIND_SERIES01XX);
  EXPECT_EQ(list[2].reportId, 0xFE);
  EXPECT_EQ(list[3].devicePath, PathOf(f0fc, 0));
  EXPECT_EQ(list[3].deviceKind, TOUCHDEV_KIND_F0FC);
  EXPECT_EQ(list[3].reportId, 0xFC);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(list[i].interfaceType, TOUCHDEV_IF_HID);
}

TEST_F(PelladexSim, NineFramesOfAPassGiveEightAndTheCountIsHonoured) {
  for (int i = 0; i < 9; ++i) Add("split-2pt");
  Add("single-b");
  _TouchDevInfo list[TOUCHDEV_MAX_FOUND + 1];
  std::memset(list, 0xEE, sizeof list);
  ASSERT_EQ(CPelladex::FindDevice(list, TOUCHDEV_MAX_FOUND), 9);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(list[i].productId, 0x0022);
  EXPECT_EQ(list[8].productId, 0x0012);
  EXPECT_EQ(list[9].deviceKind, 0xEEEEEEEEu);

  std::memset(list, 0xEE, sizeof list);
  ASSERT_EQ(CPelladex::FindDevice(list, 2), 2);
  EXPECT_EQ(list[2].deviceKind, 0xEEEEEEEEu);
}

TEST_F(PelladexSim, ReadDataKeepsATimedOutReadOutstanding) {
  for (const auto& [model, touchCollection] : {std::pair{"single-a", 3}, {"split-mt", 4}}) {
    SCOPED_TRACE(model);
    const std::string name = Add(model);
    auto device = Open(name, 3);
    ASSERT_TRUE(device && device->IsOpen());
    EXPECT_EQ(device->ReadData(-1), TD_READ_BAD_ARG);
    EXPECT_EQ(device->ReadData(1), TD_READ_TIMEOUT);
    _TouchDevData data;
    EXPECT_EQ(device->GetBuffer(&data), 0);

    const auto report = Report({0xFC, 0x81, 0x12, 0x34, 0x56});
    Inject(name, touchCollection, report);
    EXPECT_EQ(device->ReadData(2000), TOUCHDEV_REPORT_LEN);
    ASSERT_EQ(device->GetBuffer(&data), 1);
    EXPECT_EQ(Hex(data.report, 64), Hex(report.data(), 64));
    EXPECT_EQ(data.waitReply + data.reserved0, 0);
    // The buffer keeps the report until the next one arrives.
    _TouchDevData again;
    ASSERT_EQ(device->GetBuffer(&again), 1);
    EXPECT_EQ(std::memcmp(&again, &data, sizeof data), 0);

    // Several reports in a row, none lost between polls.
    for (std::uint8_t i = 1; i <= 5; ++i) Inject(name, touchCollection, Report({0xFC, i}));
    for (std::uint8_t i = 1; i <= 5; ++i) {
      EXPECT_EQ(device->ReadData(2000), TOUCHDEV_REPORT_LEN);
      ASSERT_EQ(device->GetBuffer(&data), 1);
      EXPECT_EQ(data.report[1], i);
    }
    device->CloseDevice();
    EXPECT_EQ(device->ReadData(1), TD_READ_NOT_OPEN);
  }
}

TEST_F(PelladexSim, SendCmdWithAndWithoutAReply) {
  const std::string name = Add("single-b");
  auto device = Open(name, 3);
  ASSERT_TRUE(device);
  Written();
  _TouchDevData reply;
  std::memset(&reply, 0x77, sizeof reply);

  // Not waiting: done as soon as the write is issued; byte 0 is the report id.
  const _TouchDevData mouseOff = Command(0x06, false, {0x00});
  EXPECT_EQ(device->SendCmd(&mouseOff, &reply), 1);
  EXPECT_EQ(reply.report[0], 0x77);  // untouched

  // Waiting, with no reader running: nobody captures the reply.
  const _TouchDevData detail = Command(0xA3, true);
  const auto start = Clock::now();
  EXPECT_EQ(device->SendCmd(&detail, &reply), TD_ERR_REPLY_TIMEOUT);
  EXPECT_GE(MsSince(start), 190);
  EXPECT_EQ(device->m_waitReply, 0);
  // The late reply is ordinary input now.
  EXPECT_EQ(device->ReadData(2000), TOUCHDEV_REPORT_LEN);
  _TouchDevData data;
  ASSERT_EQ(device->GetBuffer(&data), 1);
  EXPECT_EQ(data.report[1], 0xA3);

  // Waiting, with a reader loop: the reply comes back whole.
  {
    ReaderLoop reader(*device);
    EXPECT_EQ(device->SendCmd(&detail, &reply), 1);
  }
  EXPECT_EQ(reply.report[0], 0xFC);
  EXPECT_EQ(reply.report[1], 0xA3);
  EXPECT_EQ(reply.report[2], 0x80);

  const std::vector<std::string> written = Written();
  ASSERT_EQ(written.size(), 3u);
  const std::string path = PathOf(name, 3);
  EXPECT_NE(written[0].find(" " + path + " w fc0600"), std::string::npos) << written[0];
  EXPECT_NE(written[2].find(" w fca300"), std::string::npos) << written[2];
}

TEST_F(PelladexSim, SingleChannelTouchReportTakenAsReply) {
  const std::string name = Add("single-a");
  auto device = Open(name, 3);
  ASSERT_TRUE(device);
  _TouchDevData reply;
  std::memset(&reply, 0, sizeof reply);
  char result = 0;
  const std::size_t before = Records();
  // 0x10 is a command the frame does not answer: the next report is a touch.
  std::thread sender([&] {
    const _TouchDevData cmd = Command(0x10, true);
    result = device->SendCmd(&cmd, &reply);
  });
  // The touch comes once the frame has the command (the library waits for a
  // reply from before its write on).
  EXPECT_TRUE(testsupport::WaitFor([&] { return Records() > before; }, 20000));
  const auto touch = Report({0x02, 0x81, 0x10, 0x20});
  Inject(name, 3, touch);
  const short n = device->ReadData(1000);
  sender.join();
  EXPECT_EQ(n, TOUCHDEV_REPORT_LEN);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Hex(reply.report, 64), Hex(touch.data(), 64));
  _TouchDevData data;
  EXPECT_EQ(device->GetBuffer(&data), 0);  // taken as the reply
}

TEST_F(PelladexSim, RepliesAreDeliveredWholeWhileTouchesFlow) {
  const std::string name = Add("split-mt");
  auto device = Open(name, 3);
  ASSERT_TRUE(device);
  ReaderLoop reader(*device, 5);
  const _TouchDevData detail = Command(0xA3, true);
  for (int i = 0; i < 30; ++i) {
    Inject(name, 4, Report({0xFC, static_cast<std::uint8_t>(i)}));
    _TouchDevData reply;
    std::memset(&reply, 0, sizeof reply);
    const char r = device->SendCmd(&detail, &reply);
    ASSERT_EQ(r, 1) << i;
    EXPECT_EQ(reply.report[1], 0xA3);
    EXPECT_EQ(reply.report[2], 0x80);
  }
}

TEST_F(PelladexSim, DetailQueryFillsTheRecord) {
  struct Case {
    const char* model;
    const char* settings;
    int collection;
    std::uint32_t value;
    std::uint16_t word, word2, packed, byte;
  } cases[] = {
      {"split-mt", "", 3, 0x00012345, 0x0203, 0x0405, 0x0ABC, 0x11},
      {"single-a", "", 3, 0x00ABCDEF, 0x1111, 0x2222, 0x3333, 0x44},
      {"single-a", "version=0x2020", 3, 0x00ABCDEF, 0x1111, 0x2222, 0x3333, 0x44},
      {"single-b", "", 3, 0x00654321, 0x0A0B, 0x0C0D, 0x0E0F, 0x10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.model) + " " + c.settings);
    auto device = Open(Add(c.model, c.settings), c.collection);
    ASSERT_TRUE(device);
    _TouchDevInfo out;
    device->GetDeviceInfo(&out);
    {
      ReaderLoop reader(*device);
      EXPECT_EQ(device->GetDevDetail(&out), 1);
    }
    EXPECT_EQ(out.detailValue, c.value);
    EXPECT_EQ(out.detailWord, c.word);
    EXPECT_EQ(out.detailWord2, c.word2);
    EXPECT_EQ(out.detailPacked, c.packed);
    EXPECT_EQ(out.detailByte, c.byte);

    // No reader loop: the reply is never captured, the fields are zeroed.
    EXPECT_EQ(device->GetDevDetail(&out), 0);
    EXPECT_EQ(
        out.detailValue + out.detailWord + out.detailWord2 + out.detailPacked + out.detailByte, 0u);
  }
}

TEST_F(PelladexSim, SeriesQueries) {
  const std::string name = Add("series");
  auto device = Open(name, 1);
  ASSERT_TRUE(device);
  _TouchDevInfo out;
  device->GetDeviceInfo(&out);
  std::uint8_t status[6];
  Written();
  {
    ReaderLoop reader(*device);
    EXPECT_EQ(device->GetDevDetail(&out), 1);
    EXPECT_EQ(out.detailWord, 0x0102);
    EXPECT_EQ(out.detailValue, 0x03040506u);

    EXPECT_EQ(device->GetDeviceStatus(), 1);
    device->GetStatusBytes(status);
    EXPECT_EQ(Hex(status, 6), "010203000405");
    EXPECT_EQ(device->SetDeviceStatus(0x11, 0x03, 0x13, 0x14, 0x15), 1);
    EXPECT_EQ(device->GetDeviceStatus(), 1);
    device->GetStatusBytes(status);
    EXPECT_EQ(Hex(status, 6), "110313141505");     // the frame keeps its sixth byte
    EXPECT_EQ(device->GetDeviceMaxPointNum(), 0);  // a standard frame's query only
  }
  const std::vector<std::string> written = Written();
  ASSERT_EQ(written.size(), 5u);
  // Every command carries the Series01xx report id.
  const char* expected[] = {" w fe0d", " w fe0e", " w fe0c", " w fe081103131415", " w fe0c"};
  for (int i = 0; i < 5; ++i) EXPECT_NE(written[i].find(expected[i]), std::string::npos) << i;

  // No reader loop: nothing is captured, and each query fails.
  EXPECT_EQ(device->GetDevDetail(&out), 0);
  EXPECT_EQ(out.detailWord + out.detailValue, 0u);
  EXPECT_EQ(device->GetDeviceStatus(), 0);
  EXPECT_EQ(device->SetDeviceStatus(1, 2, 3, 4, 5), 0);
  device->GetStatusBytes(status);
  EXPECT_EQ(Hex(status, 6), "110313141505");
}

// The queries open a closed frame before they decide whether they apply:
// a query that does not apply leaves the frame open and answers 0.
TEST_F(PelladexSim, QueriesOpenAClosedFrameFirst) {
  const _TouchDevInfo old = Find(Add("single-a", "version=0x2017"), 3);
  std::unique_ptr<CPelladex> device(CPelladex::Create(&old));
  _TouchDevInfo out = old;
  out.detailWord = 0x5555;  // the object's record is copied over the caller's
  EXPECT_EQ(device->GetDevDetail(&out), 0);
  EXPECT_EQ(device->IsOpen(), 1);
  EXPECT_EQ(std::memcmp(&out, &device->m_info, sizeof out), 0);

  for (int query = 0; query < 2; ++query) {
    std::unique_ptr<CPelladex> standard(CPelladex::Create(&old));
    EXPECT_EQ(query == 0 ? standard->GetDeviceStatus() : standard->SetDeviceStatus(1, 2, 3, 4, 5),
              0);
    EXPECT_EQ(standard->IsOpen(), 1) << query;
  }
}

TEST_F(PelladexSim, SeriesVersion0200TakesThreeModeBytes) {
  auto device = Open(Add("series-0200"), 1);
  ASSERT_TRUE(device);
  ReaderLoop reader(*device);
  std::uint8_t status[6];
  EXPECT_EQ(device->GetDeviceStatus(), 1);
  device->GetStatusBytes(status);
  EXPECT_EQ(Hex(status, 3), "010203");
  // The last two values are not sent, yet compared with the echo.
  EXPECT_EQ(device->SetDeviceStatus(7, 8, 9, 0, 0), 1);
  EXPECT_EQ(device->SetDeviceStatus(7, 8, 9, 4, 5), 0);
}

TEST_F(PelladexSim, MaximumPoints) {
  struct Case {
    const char* model;
    const char* settings;
    char result;
    std::uint16_t points;
  } cases[] = {
      {"split-mt", "", 1, 10},
      {"split-mt4", "", 1, 20},
      {"split-mt", "maxpoints=0", 0, 2},  // the frame does not answer
      {"split-2pt", "", 0, 2},            // version 0x3105: not asked
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.model) + " " + c.settings);
    auto device = Open(Add(c.model, c.settings), 3);
    ASSERT_TRUE(device);
    ReaderLoop reader(*device);
    EXPECT_EQ(device->GetDeviceMaxPointNum(), c.result);
    EXPECT_EQ(device->m_info.maxPointNum, c.points);
  }
}

TEST_F(PelladexSim, ControlCollectionOfOlderStandardFrames) {
  const std::string name = Add("single-a");
  auto device = Open(name, 3);
  ASSERT_TRUE(device);
  EXPECT_NE(device->m_hCtrlRead, PELLADEX_INVALID_HANDLE);
  EXPECT_GT(device->GetInputReportBufferLength(), 0);
  std::uint8_t feature[8] = {0x07, 1, 2, 3, 4, 5, 6, 7};
  EXPECT_EQ(device->SetFeatureReport_Control(feature, sizeof feature), 1);
  std::uint8_t back[8] = {0x07};
  EXPECT_EQ(device->GetFeatureReport_Control(back, sizeof back), 1);
  EXPECT_EQ(Hex(back, 8), Hex(feature, 8));

  std::uint8_t input[4] = {};
  const auto start = Clock::now();
  EXPECT_EQ(device->GetInputReport_Interrupt(input, sizeof input), 0);
  EXPECT_LT(MsSince(start), 1000);
  Inject(name, 1, Report({0x01, 0xAB, 0xCD, 0xEF, 0x99}));
  char got = 0;
  for (int i = 0; i < 50 && got != 1; ++i)
    got = device->GetInputReport_Interrupt(input, sizeof input);
  EXPECT_EQ(got, 1);
  EXPECT_EQ(Hex(input, 4), "01abcdef");  // no more than the caller's four bytes
}

TEST_F(PelladexSim, SharedAndExclusiveOpens) {
  const std::string name = Add("single-b");
  auto first = Open(name, 3, 0);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->m_shareMode, 0);
  EXPECT_EQ(first->m_hRead, first->m_hWrite);
  const _TouchDevInfo rec = first->m_info;
  std::unique_ptr<CPelladex> second(CPelladex::Create(&rec));
  EXPECT_EQ(second->OpenDevice(1), 0);
  EXPECT_EQ(second->m_hRead, PELLADEX_INVALID_HANDLE);
  {
    ReaderLoop reader(*first);
    const _TouchDevData detail = Command(0xA3, true);
    _TouchDevData reply;
    EXPECT_EQ(first->SendCmd(&detail, &reply), 1);  // one handle reads and writes
  }
  first->CloseDevice();
  EXPECT_EQ(second->OpenDevice(1), 1);
  std::unique_ptr<CPelladex> third(CPelladex::Create(&rec));
  EXPECT_EQ(third->OpenDevice(1), 1);
  EXPECT_EQ(third->OpenDevice(0), 1);  // already open: keeps its handles
}

TEST_F(PelladexSim, DestructionEndsAnOutstandingRead) {
  const std::string name = Add("split-mt");
  for (int i = 0; i < 3; ++i) {
    auto device = Open(name, 3);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->ReadData(1), TD_READ_TIMEOUT);
    device.reset();  // the read into its buffers is cancelled first
  }
  // The frame's reports still reach a new object.
  auto device = Open(name, 3);
  ASSERT_TRUE(device);
  EXPECT_EQ(device->ReadData(1), TD_READ_TIMEOUT);
  Inject(name, 4, Report({0xFC, 0x42}));
  EXPECT_EQ(device->ReadData(2000), TOUCHDEV_REPORT_LEN);
}

TEST_F(PelladexSim, UnpluggedFrameEndsReadsWithoutHanging) {
  const std::string name = Add("single-b");
  auto device = Open(name, 3);
  ASSERT_TRUE(device);
  EXPECT_EQ(device->ReadData(1), TD_READ_TIMEOUT);
  Sim("unplug " + name);
  const auto start = Clock::now();
  EXPECT_EQ(device->ReadData(0), 0);
  EXPECT_LT(MsSince(start), 2000);
  // A command to the gone frame fails, at once or when no reply comes.
  const _TouchDevData cmd = Command(0xA3, true);
  _TouchDevData reply;
  const char sent = device->SendCmd(&cmd, &reply);
  EXPECT_TRUE(sent == 0 || sent == TD_ERR_REPLY_TIMEOUT) << int(sent);
  EXPECT_EQ(device->ReadData(0), 0);
}
