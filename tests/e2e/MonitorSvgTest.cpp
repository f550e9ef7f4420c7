// The monitor's drawing of a known gesture: the service reads two fingers
// crossing on the simulated frame, the monitor (the command given: native,
// or the Windows one through Wine) ends with Ctrl+C and writes its SVG, and
// libxml2 reads it back: one polyline per finger, every point on the
// finger's line, from its start to its end.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ServiceProcess.h"
#include "tests/support/SimControl.h"
#include "tests/support/XmlClient.h"

namespace {

std::vector<std::string> gMonitor;  // the monitor's command, from the arguments

struct Point {
  double x, y;
};
struct Line {
  Point from, to;
};

// Distance of `p` from the segment a-b (all in units of the surface).
double Distance(Point p, Line l) {
  const double dx = l.to.x - l.from.x, dy = l.to.y - l.from.y;
  double t = ((p.x - l.from.x) * dx + (p.y - l.from.y) * dy) / (dx * dx + dy * dy);
  t = std::fmax(0, std::fmin(1, t));
  return std::hypot(p.x - (l.from.x + t * dx), p.y - (l.from.y + t * dy));
}

std::string Attribute(xmlNode* n, const char* name) {
  xmlChar* v = xmlGetProp(n, reinterpret_cast<const xmlChar*>(name));
  std::string s = v ? reinterpret_cast<const char*>(v) : "";
  xmlFree(v);
  return s;
}

std::string Name(xmlNode* n) {
  return reinterpret_cast<const char*>(n->name);
}

// The drawing's polylines as surface points (the picture has 1000 units a side).
std::vector<std::vector<Point>> Polylines(xmlNode* n) {
  std::vector<std::vector<Point>> out;
  for (; n; n = n->next) {
    if (n->type != XML_ELEMENT_NODE) continue;
    if (Name(n) == "polyline") {
      std::vector<Point> pts;
      std::istringstream in(Attribute(n, "points"));
      double x, y;
      char comma;
      while (in >> x >> comma >> y) pts.push_back({x / 1000, y / 1000});
      out.push_back(pts);
    }
    for (auto& p : Polylines(n->children)) out.push_back(p);
  }
  return out;
}

bool OutputHas(const testsupport::ServiceProcess& p, const std::string& text, int times = 1) {
  const std::string out = p.output();
  std::size_t at = 0;
  for (int i = 0; i < times; ++i, ++at)
    if ((at = out.find(text, at)) == std::string::npos) return false;
  return true;
}

TEST(MonitorSvg, AGestureIsDrawnOnePolylinePerFingerAlongItsLine) {
  testsupport::SimControl sim;
  ASSERT_TRUE(sim.connected());
  ASSERT_EQ(sim.last("add split-mt f"), "ok f");

  std::vector<std::string> cmd = gMonitor;
  cmd.insert(cmd.end(), {"--svg", "paths.svg"});
  testsupport::ServiceProcess monitor(cmd);
  // Ends early if the monitor could not start at all.
  testsupport::WaitFor(
      [&] { return OutputHas(monitor, "listening on UDP") || monitor.waitExit(0) != -1; }, 60000);
  ASSERT_TRUE(OutputHas(monitor, "listening on UDP")) << monitor.output();
  testsupport::ServiceProcess service(sim.address());
  ASSERT_TRUE(service.waitReady(90000)) << service.output();

  const std::vector<Line> fingers = {{{0.2, 0.2}, {0.8, 0.7}}, {{0.2, 0.8}, {0.7, 0.3}}};
  std::ostringstream gesture;
  gesture << "gesture f 600";
  for (const Line& l : fingers)
    gesture << " " << l.from.x << "," << l.from.y << ">" << l.to.x << "," << l.to.y;
  ASSERT_EQ(sim.last(gesture.str()), "ok");
  EXPECT_TRUE(testsupport::WaitFor([&] { return OutputHas(monitor, "removed session", 2); }, 20000))
      << monitor.output();
  EXPECT_EQ(monitor.signalAndWait(SIGINT, 30000), 0) << monitor.output();
  EXPECT_EQ(service.interruptAndWait(30000), 0) << service.output();
  EXPECT_TRUE(OutputHas(monitor, "drew 2 cursor paths into paths.svg")) << monitor.output();

  const std::string file = monitor.dir() + "/paths.svg";
  xmlDoc* doc = xmlReadFile(file.c_str(), nullptr, XML_PARSE_NONET);
  std::remove(file.c_str());
  ASSERT_NE(doc, nullptr) << "the SVG does not parse";
  xmlNode* root = xmlDocGetRootElement(doc);
  EXPECT_EQ(Name(root), "svg");
  ASSERT_TRUE(root->ns);
  EXPECT_STREQ(reinterpret_cast<const char*>(root->ns->href), "http://www.w3.org/2000/svg");
  const auto lines = Polylines(root->children);
  xmlFreeDoc(doc);

  // One line per finger, in the order they went down; the frame's resolution
  // and the pipeline's rounding stay well under 0.005 of the surface.
  ASSERT_EQ(lines.size(), fingers.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::vector<Point>& pts = lines[i];
    const Line& l = fingers[i];
    ASSERT_GE(pts.size(), 10u) << "finger " << i;
    for (const Point& p : pts) EXPECT_LT(Distance(p, l), 0.005) << p.x << "," << p.y;
    EXPECT_LT(std::hypot(pts.front().x - l.from.x, pts.front().y - l.from.y), 0.005);
    EXPECT_LT(std::hypot(pts.back().x - l.to.x, pts.back().y - l.to.y), 0.005);
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: monitor_svg_test <monitor command...>\n");
    return 2;
  }
  gMonitor.assign(argv + 1, argv + argc);
  return RUN_ALL_TESTS();
}
