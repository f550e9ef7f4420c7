// libFuzzer: reports from a frame, through the routing and the decoder into
// both outputs, as the reader threads hand them on. The outputs are the real
// TUIO and XML code; what they send is read back at once and checked: every
// datagram is one well-formed TUIO bundle (decoded by liblo), every document
// well-formed XML (read by libxml2), never more than 32 cursors in either.
//
// Input: version number (2 bytes), product id (2 bytes), input report id
// selector, flags (bit 0 calibration valid, bit 1 initialised, bit 2
// calibrating, bit 3 awaiting a read-back), the 24-byte calibration block,
// then reports: one byte that picks the collection, 64 report bytes.
#include <libxml/parser.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "input/ReportRouting.h"
#include "input/TouchDecoder.h"
#include "output/TouchOutputs.h"
#include "tests/fuzz/FuzzBytes.h"
#include "tests/support/OscCapture.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "report fuzz: %s: %s\n", what, detail.c_str());
  std::abort();
}

TUIO::SessionTime SteppedClock() {
  static std::int32_t ms = 0;
  ms = ms == INT32_MAX ? 0 : ms + 1;
  return TUIO::SessionTime::FromMilliseconds(ms);
}

// One TUIO datagram: one bundle, at most 32 cursors alive, a set for an
// alive cursor only, finite positions, fseq last.
void CheckBundle(const std::vector<char>& datagram) {
  testsupport::OscBundle b;
  try {
    b = testsupport::DecodeBundle(datagram);
  } catch (const std::exception& e) {
    Fail("datagram", e.what());
  }
  std::vector<std::int32_t> alive;
  for (const testsupport::OscMessage& m : b.messages) {
    if (m.args.empty()) Fail("message without arguments", m.address);
    const auto* word = std::get_if<std::string>(&m.args[0]);
    if (!word) Fail("message without a command word", m.address);
    if (m.address != "/tuio/2Dcur") continue;
    if (*word == "alive") {
      if (m.args.size() - 1 > kContactTableSize) Fail("alive", std::to_string(m.args.size() - 1));
      for (std::size_t i = 1; i < m.args.size(); ++i)
        alive.push_back(std::get<std::int32_t>(m.args[i]));
    } else if (*word == "set") {
      const std::int32_t id = std::get<std::int32_t>(m.args.at(1));
      bool found = false;
      for (std::int32_t a : alive) found = found || a == id;
      if (!found) Fail("set of a cursor that is not alive", testsupport::Describe(b));
      for (std::size_t i = 2; i < m.args.size(); ++i) {
        if (!std::isfinite(std::get<float>(m.args[i]))) Fail("set", testsupport::Describe(b));
      }
    }
  }
}

// One XML document: well-formed, a packet of at most 32 set messages plus
// the alive and fseq messages.
void CheckDocument(const std::string& text) {
  if (text.empty()) return;  // the empty document
  xmlDocPtr doc = xmlReadMemory(text.data(), int(text.size()), "touch.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (!doc) Fail("document is not well-formed", text);
  xmlNodePtr root = xmlDocGetRootElement(doc);
  if (!root || xmlStrcmp(root->name, BAD_CAST "OSCPACKET") != 0) Fail("document root", text);
  int messages = 0;
  for (xmlNodePtr n = root->children; n; n = n->next) {
    if (n->type == XML_ELEMENT_NODE) ++messages;
  }
  if (messages < 2 || messages > kContactTableSize + 2) Fail("document messages", text);
  xmlFreeDoc(doc);
}

struct Receivers {
  testsupport::UdpCapture tuio;
  std::string xmlPending;
  std::vector<char> datagram;
};

void DrainXml(int fd, Receivers& r) {
  static char buf[65536];
  for (;;) {
    const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n <= 0) break;
    r.xmlPending.append(buf, std::size_t(n));
  }
  std::size_t start = 0;
  for (std::size_t zero; (zero = r.xmlPending.find('\0', start)) != std::string::npos;
       start = zero + 1) {
    CheckDocument(r.xmlPending.substr(start, zero - start));
  }
  r.xmlPending.erase(0, start);
}

void Drain(int xmlFd, Receivers& r) {
  static char buf[65536];
  for (;;) {
    const ssize_t n = recv(r.tuio.fd(), buf, sizeof buf, MSG_DONTWAIT);
    if (n <= 0) break;
    r.datagram.assign(buf, buf + n);
    CheckBundle(r.datagram);
  }
  DrainXml(xmlFd, r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Receivers receivers;
  fuzz::FuzzBytes in(data, size);

  DeviceProfile profile;
  profile.VersionNumber = in.u16();
  profile.ProductID = in.u16();
  profile.Series01xx = IsSeries01xxProduct(profile.ProductID);
  static const std::uint8_t kReportIds[] = {0x02, 0xFC, 0x00};
  profile.InputReportID = kReportIds[in.byte() % 3];
  const std::uint8_t flags = in.byte();

  PipelineState state;
  state.initialised = (flags & 2) != 0;
  state.calibrating = (flags & 4) != 0;
  state.awaitingReadBack = (flags & 8) != 0;
  std::uint8_t readBack[kReportSize] = {0xFC, 5, std::uint8_t(flags & 1)};
  in.take(readBack + 3, 24);
  state.calibrationValid = ApplyReadBack(readBack, state.calibration);

  // One set of outputs for the whole run (their buffers are large, and
  // making them anew per input would dominate); each input is one output
  // cycle of its own, as a frame opened afresh is. Only the XML identifiers
  // that by design outlive the cycles carry over from input to input.
  static TouchOutputs outputs([] {
    OutputEndpoints e;
    e.tuioPort = receivers.tuio.port();
    e.clock = &SteppedClock;
    e.xmlBacklogBytes = 64 * 1024;  // drained after every report: far more than a document
    return e;
  }());
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) Fail("socketpair", "");
  receivers.xmlPending.clear();
  {
    outputs.SetDevice({profile.VersionNumber, profile.Series01xx});
    outputs.StartTouchOutput();
    outputs.XmlLink().Attach(pair[0]);
    TouchDecoder decoder;
    decoder.SetSink(&outputs);
    SeriesMode mode;

    const bool split = IsSplitChannel(profile.VersionNumber);
    while (!in.empty()) {
      const std::uint8_t pick = in.byte();
      std::uint8_t report[kReportSize];
      in.take(report, sizeof report);
      const ReaderFlags f{state.initialised, state.calibrating, state.awaitingReadBack};
      const ReportAction action = !split       ? RouteSingleReport(report, profile, f)
                                  : (pick & 1) ? RouteTouchReport(report, profile, f)
                                               : RouteReplyReport(report, f);
      switch (action) {
        case ReportAction::kDecode:
          decoder.DecodeTouchReport(state, profile, report);
          break;
        case ReportAction::kReadBack:
          state.calibrationValid = ApplyReadBack(report, state.calibration);
          state.awaitingReadBack = false;
          break;
        case ReportAction::kSeriesMode:
          ParseSeriesMode(report, profile.VersionNumber, mode);
          break;
        default:
          break;
      }
      Drain(pair[1], receivers);
      if (outputs.XmlLink().DroppedClients() != 0) Fail("XML client dropped", "");
    }
    outputs.StopTouchOutput();
    Drain(pair[1], receivers);
    outputs.XmlLink().Detach(pair[0]);
  }
  close(pair[1]);
  return 0;
}
