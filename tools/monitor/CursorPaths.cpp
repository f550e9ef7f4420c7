#include "tools/monitor/CursorPaths.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace monitor {

namespace {

constexpr double kScale = 1000;  // drawing units per unit of the surface
// Distinct on white, in the order paths take them.
const char* const kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd",
                                "#8c564b", "#e377c2", "#17becf", "#bcbd22", "#7f7f7f"};

std::string Coord(double unit) {
  char b[32];
  std::snprintf(b, sizeof b, "%.1f", unit * kScale);
  return b;
}

}  // namespace

CursorPaths::CursorPaths(std::size_t maxPointsPerPath)
    : maxPoints_(std::max<std::size_t>(maxPointsPerPath, 2)) {}

void CursorPaths::Record(const CursorEvent& e) {
  auto it =
      std::find_if(open_.begin(), open_.end(), [&](const auto& o) { return o.first == e.id; });
  switch (e.kind) {
    case CursorEvent::kAdded:
      if (it != open_.end()) open_.erase(it);  // never removed: a new cursor anyway
      paths_.push_back({e.id, {}});
      open_.push_back({e.id, Open{paths_.size() - 1}});
      Append(open_.back().second, e.x, e.y);
      break;
    case CursorEvent::kMoved:
      if (it != open_.end()) Append(it->second, e.x, e.y);
      break;
    case CursorEvent::kRemoved:
      if (it != open_.end()) open_.erase(it);
      break;
  }
}

void CursorPaths::Append(Open& open, float x, float y) {
  if (std::isnan(x) || std::isnan(y)) return;
  std::vector<Point>& pts = paths_[open.path].points;
  // A move smaller than the drawing's precision adds nothing to it.
  if (!pts.empty() && Coord(pts.back().x) == Coord(x) && Coord(pts.back().y) == Coord(y)) return;
  // Once thinned, only every stride-th point stays; the ones between are
  // provisional, each replaced by the next, so the path always ends where
  // the cursor was last seen.
  const bool keep = ++open.since >= open.stride;
  if (keep) open.since = 0;
  if (open.provisional) {
    pts.back() = {x, y};
  } else {
    if (pts.size() >= maxPoints_) {
      std::size_t kept = 0;
      for (std::size_t i = 0; i < pts.size(); i += 2) pts[kept++] = pts[i];
      pts.resize(kept);
      open.stride *= 2;
    }
    pts.push_back({x, y});
  }
  open.provisional = !keep;
}

std::size_t CursorPaths::DrawnCount() const {
  return std::size_t(
      std::count_if(paths_.begin(), paths_.end(), [](const Path& p) { return !p.points.empty(); }));
}

std::string CursorPaths::Svg() const {
  std::string s =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"800\" height=\"800\" "
      "viewBox=\"-40 -40 1080 1080\">\n"
      "<title>TUIO cursor paths</title>\n"
      "<desc>The touch surface as a square of 1000 units (x right, y down). One line per "
      "cursor: a filled circle where it went down, an open square where it was last seen, its "
      "session id beside the start.</desc>\n"
      "<rect x=\"0\" y=\"0\" width=\"1000\" height=\"1000\" fill=\"#ffffff\" stroke=\"#999999\" "
      "stroke-width=\"2\"/>\n";
  std::size_t colour = 0;
  for (const Path& p : paths_) {
    if (p.points.empty()) continue;
    const std::string c = kColours[colour++ % (sizeof kColours / sizeof *kColours)];
    const std::string id = std::to_string(p.id);
    const Point& a = p.points.front();
    const Point& b = p.points.back();
    s += "<g class=\"cursor\" id=\"cursor-" + std::to_string(colour) + "\" data-session=\"" + id +
         "\">\n<polyline points=\"";
    for (std::size_t i = 0; i < p.points.size(); ++i) {
      if (i) s += ' ';
      s += Coord(p.points[i].x) + ',' + Coord(p.points[i].y);
    }
    s += "\" fill=\"none\" stroke=\"" + c +
         "\" stroke-width=\"4\" stroke-linejoin=\"round\" stroke-linecap=\"round\"/>\n";
    s += "<circle class=\"start\" cx=\"" + Coord(a.x) + "\" cy=\"" + Coord(a.y) +
         "\" r=\"9\" fill=\"" + c + "\"/>\n";
    s += "<rect class=\"end\" x=\"" + Coord(b.x - 0.009) + "\" y=\"" + Coord(b.y - 0.009) +
         "\" width=\"18\" height=\"18\" fill=\"none\" stroke=\"" + c + "\" stroke-width=\"3\"/>\n";
    // Beside the start, kept inside the picture.
    const double lx = std::clamp(double(a.x) + 0.014, -0.03, 0.97);
    const double ly = std::clamp(double(a.y) - 0.014, 0.0, 1.03);
    s += "<text x=\"" + Coord(lx) + "\" y=\"" + Coord(ly) + "\" font-family=\"sans-serif\" " +
         "font-size=\"28\" fill=\"" + c + "\">" + id + "</text>\n</g>\n";
  }
  if (colour == 0)
    s += "<text x=\"500\" y=\"500\" text-anchor=\"middle\" font-family=\"sans-serif\" "
         "font-size=\"32\" fill=\"#999999\">no cursors seen</text>\n";
  s += "</svg>\n";
  return s;
}

}  // namespace monitor
