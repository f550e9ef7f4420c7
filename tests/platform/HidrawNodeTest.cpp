// The hidraw adapter's report handling with the node replaced by a
// SOCK_SEQPACKET socket pair (one datagram per report, as a hidraw read
// returns one report): routing by report id to each collection's handles,
// the 32-report bound, timed-out reads, writes, unplugging.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/HidrawNode.h"
#include "tests/support/AllocationCounter.h"
#include "tools/framesim/ReportDescriptor.h"

using namespace platform;

namespace {

class HidrawNodeTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds_), 0); }
  void TearDown() override {
    if (fds_[1] >= 0) ::close(fds_[1]);
  }

  std::shared_ptr<hidraw::Node> Make(const char* model) {
    HidDescriptorInfo info;
    std::string error;
    const auto bytes = framesim::ReportDescriptorOf(*framesim::FindModel(model));
    EXPECT_TRUE(ParseHidDescriptor(bytes.data(), bytes.size(), info, error)) << error;
    return hidraw::Node::Create(fds_[0], "/dev/hidraw9", info);
  }
  // The frame sends one input report.
  void Frame(std::vector<std::uint8_t> report) {
    ASSERT_EQ(::send(fds_[1], report.data(), report.size(), 0),
              static_cast<ssize_t>(report.size()));
  }
  // The next report that arrived on `h` within a second (byte 0 and 1), or -1.
  static int Next(HidDevice& h, std::size_t* length = nullptr) {
    std::uint8_t buf[kReportSize];
    std::size_t n = 0;
    if (!h.ReadPending() && !h.StartRead(buf)) return -1;
    if (h.WaitRead(1000, n) != HidIoStatus::kCompleted) return -1;
    if (length) *length = n;
    return buf[0] << 8 | buf[1];
  }

  int fds_[2] = {-1, -1};
};

std::vector<std::uint8_t> Report(std::uint8_t id, std::uint8_t tag) {
  std::vector<std::uint8_t> r(64, 0);
  r[0] = id;
  r[1] = tag;
  return r;
}

}  // namespace

TEST_F(HidrawNodeTest, ReportsGoToTheirCollectionsHandlesByReportId) {
  auto node = Make("split-mt");  // col03 replies 0xFC, col04 touch 0xFB
  std::string error;
  auto reply = node->Open(2, kHidRead, HidShare::kShared, error);
  auto touchA = node->Open(3, kHidRead, HidShare::kShared, error);
  auto touchB = node->Open(3, kHidRead, HidShare::kShared, error);
  ASSERT_TRUE(reply && touchA && touchB) << error;
  EXPECT_EQ(reply->Path(), "/dev/hidraw9&col03");
  EXPECT_EQ(touchA->Caps().inputReportLength, 64);
  EXPECT_EQ(reply->Caps().outputReportLength, 64);

  Frame(Report(0x77, 1));  // an id no collection declares: dropped
  Frame(Report(0xFB, 2));
  Frame(Report(0xFC, 3));
  Frame(Report(0xFB, 4));
  std::size_t length = 0;
  EXPECT_EQ(Next(*reply, &length), 0xFC03);
  EXPECT_EQ(length, 64u);
  for (HidDevice* touch : {touchA.get(), touchB.get()}) {
    EXPECT_EQ(Next(*touch), 0xFB02);  // each handle gets every report, in order
    EXPECT_EQ(Next(*touch), 0xFB04);
  }
  // A read that times out stays outstanding; the next report completes it.
  std::uint8_t buf[kReportSize];
  std::size_t n = 0;
  ASSERT_TRUE(reply->StartRead(buf));
  EXPECT_EQ(reply->WaitRead(20, n), HidIoStatus::kTimedOut);
  EXPECT_TRUE(reply->ReadPending());
  Frame(Report(0xFC, 5));
  EXPECT_EQ(reply->WaitRead(1000, n), HidIoStatus::kCompleted);
  EXPECT_EQ(buf[1], 5);

  // The per-report path (the node's reader, the handles, the reads) takes
  // nothing from the heap.
  const std::vector<std::uint8_t> touch = Report(0xFB, 6);
  const std::uint64_t before = testsupport::Allocations();
  int routed = 0;
  for (int i = 0; i < 100; ++i) {
    ::send(fds_[1], touch.data(), touch.size(), 0);
    if (touchA->StartRead(buf) && touchA->WaitRead(1000, n) == HidIoStatus::kCompleted) ++routed;
    if (touchB->StartRead(buf) && touchB->WaitRead(1000, n) == HidIoStatus::kCompleted) ++routed;
  }
  EXPECT_EQ(testsupport::Allocations() - before, 0u);
  EXPECT_EQ(routed, 200);
}

TEST_F(HidrawNodeTest, AHandleKeepsTheLatest32Reports) {
  auto node = Make("split-2pt");
  std::string error;
  auto touch = node->Open(3, kHidRead, HidShare::kShared, error);
  auto probe = node->Open(2, kHidRead, HidShare::kShared, error);
  ASSERT_TRUE(touch && probe);
  for (int i = 0; i < 40; ++i) Frame(Report(0xFB, static_cast<std::uint8_t>(i)));
  Frame(Report(0xFC, 0xEE));
  ASSERT_EQ(Next(*probe), 0xFCEE);  // the reader has passed all 40 touch reports on
  for (int i = 8; i < 40; ++i) ASSERT_EQ(Next(*touch), 0xFB00 | i);
  std::uint8_t buf[kReportSize];
  std::size_t n = 0;
  ASSERT_TRUE(touch->StartRead(buf));
  EXPECT_EQ(touch->WaitRead(10, n), HidIoStatus::kTimedOut);
}

TEST_F(HidrawNodeTest, WritesCarryTheReportsOwnLengthAndRefuseForeignIds) {
  auto node = Make("series");  // col01: input 0xFD, output 0xFE
  std::string error;
  auto h = node->Open(0, kHidReadWrite, HidShare::kShared, error);
  ASSERT_TRUE(h) << error;
  std::vector<std::uint8_t> command = Report(0xFE, 0x0C);
  command.resize(40);  // a shorter buffer is padded to the report's length
  const std::uint64_t id = h->Write(command.data(), command.size());
  ASSERT_TRUE(id);
  EXPECT_EQ(h->WaitWrite(id, 1000), HidIoStatus::kCompleted);
  std::uint8_t got[128];
  ASSERT_EQ(::recv(fds_[1], got, sizeof got, 0), 64);
  EXPECT_EQ(got[0], 0xFE);
  EXPECT_EQ(got[1], 0x0C);
  EXPECT_EQ(got[63], 0);

  std::vector<std::uint8_t> input = Report(0xFD, 1);
  EXPECT_FALSE(h->Write(input.data(), input.size()));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_NE(h->LastError().find("no output report with this id"), std::string::npos);
  // Feature requests go through the node's ioctl, which a socket refuses.
  std::uint8_t feature[64] = {0x01};
  EXPECT_FALSE(h->GetFeature(feature, sizeof feature));
  EXPECT_NE(h->LastError().find("get feature /dev/hidraw9: "), std::string::npos);
}

TEST_F(HidrawNodeTest, SharingModesPerCollection) {
  auto node = Make("single-b");
  std::string error;
  auto shared = node->Open(2, kHidRead, HidShare::kShared, error);
  ASSERT_TRUE(shared);
  EXPECT_FALSE(node->Open(2, kHidWrite, HidShare::kExclusive, error));
  EXPECT_EQ(error, "/dev/hidraw9&col03: already open and not shared");
  EXPECT_EQ(errno, EBUSY);
  auto other = node->Open(0, kHidRead, HidShare::kExclusive, error);  // another collection
  ASSERT_TRUE(other);
  EXPECT_FALSE(node->Open(0, kHidRead, HidShare::kShared, error));
  other->Close();
  EXPECT_TRUE(node->Open(0, kHidRead, HidShare::kShared, error));
  EXPECT_FALSE(node->Open(7, kHidRead, HidShare::kShared, error));
  EXPECT_EQ(error, "/dev/hidraw9&col08: no such collection");
}

TEST_F(HidrawNodeTest, UnplugFailsWaitsWritesAndOpens) {
  auto node = Make("split-mt");
  std::string error;
  auto touch = node->Open(3, kHidRead, HidShare::kShared, error);
  auto write = node->Open(2, kHidWrite, HidShare::kShared, error);
  ASSERT_TRUE(touch && write);
  std::uint8_t buf[kReportSize];
  std::size_t n = 0;
  ASSERT_TRUE(touch->StartRead(buf));
  ::close(fds_[1]);  // the device left
  fds_[1] = -1;
  EXPECT_EQ(touch->WaitRead(kWaitForever, n), HidIoStatus::kFailed);
  EXPECT_EQ(touch->LastError(), "/dev/hidraw9&col04: the device was removed");
  EXPECT_TRUE(node->Gone());  // true once every handle knows
  const auto command = Report(0xFC, 0x01);
  EXPECT_FALSE(write->Write(command.data(), command.size()));
  EXPECT_FALSE(node->Open(3, kHidRead, HidShare::kShared, error));
  EXPECT_EQ(error, "/dev/hidraw9&col04: the device was removed");
}

TEST_F(HidrawNodeTest, UnnumberedReportsGainAZeroIdByte) {
  auto node = Make("mouse");  // one collection, no report ids, 4 data bytes
  std::string error;
  auto h = node->Open(0, kHidRead, HidShare::kShared, error);
  ASSERT_TRUE(h) << error;
  EXPECT_EQ(h->Path(), "/dev/hidraw9");
  Frame({0x01, 0x05, 0xFB, 0x00});
  std::size_t length = 0;
  EXPECT_EQ(Next(*h, &length), 0x0001);
  EXPECT_EQ(length, 5u);
}

TEST(HidrawBackend, OpenFailuresSayWhatAndWhy) {
  auto backend = CreateOsHidBackend();
  EXPECT_EQ(backend->Describe(), "hidraw");
  EXPECT_FALSE(backend->Open("/dev/no-such-hidraw&col03", kHidRead, HidShare::kShared));
  EXPECT_EQ(errno, ENOENT);  // the seam's callers read the reason there
  EXPECT_EQ(backend->LastError(), "open /dev/no-such-hidraw: No such file or directory");
  // A node that opens but is no hidraw node: its descriptor cannot be read.
  char file[] = "/tmp/vantrel-hidraw-XXXXXX";
  const int fd = ::mkstemp(file);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_FALSE(backend->Open(std::string(file) + "&col03", kHidReadWrite, HidShare::kShared));
  EXPECT_EQ(errno, ENOTTY);
  EXPECT_EQ(backend->LastError(),
            "report descriptor size of " + std::string(file) + ": Inappropriate ioctl for device");
  ::unlink(file);
  EXPECT_FALSE(backend->Open("/dev/hidraw1&col00", kHidRead, HidShare::kShared));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(backend->LastError(), "/dev/hidraw1&col00: not a hidraw interface path");
}
