#include "tests/support/TuioExpect.h"

#include <cmath>
#include <sstream>

namespace testsupport {
namespace {

bool Near(float a, float b) {
  return std::fabs(a - b) <= 1e-4f * std::fmax(1.0f, std::fabs(b));
}

std::string CheckMessage(const OscMessage& m, const std::string& address, const std::string& types,
                         const std::vector<OscArg>& args) {
  std::ostringstream why;
  if (m.address != address) why << "address " << m.address << " != " << address << "; ";
  if (m.types != types) why << "types ," << m.types << " != ," << types << "; ";
  if (why.tellp() > 0) return why.str();
  for (std::size_t i = 0; i < args.size(); ++i) {
    const OscArg& a = m.args[i];
    const OscArg& b = args[i];
    bool same = a.index() == b.index();
    if (same && std::holds_alternative<float>(a))
      same = Near(std::get<float>(a), std::get<float>(b));
    else if (same)
      same = a == b;
    if (!same) why << "argument " << i << " differs; ";
  }
  return why.str();
}

}  // namespace

ExpectedBundle Cur(std::vector<int> alive, std::vector<ExpectedSet> sets, int fseq) {
  return ExpectedBundle{"/tuio/2Dcur", std::move(alive), std::move(sets), fseq};
}

ExpectedBundle Obj(int fseq) {
  return ExpectedBundle{"/tuio/2Dobj", {}, {}, fseq};
}

std::string Mismatch(const OscBundle& got, const ExpectedBundle& want) {
  std::ostringstream why;
  if (got.timetagSeconds != 0 || got.timetagFraction != 1) why << "time tag not immediate; ";
  const std::size_t n = 2 + want.sets.size();
  if (got.messages.size() != n) {
    why << got.messages.size() << " messages, want " << n << "; ";
    return why.str();
  }
  std::vector<OscArg> alive{std::string("alive")};
  std::string aliveTypes = "s";
  for (int id : want.alive) {
    alive.emplace_back(std::int32_t(id));
    aliveTypes += 'i';
  }
  why << CheckMessage(got.messages[0], want.profile, aliveTypes, alive);
  for (std::size_t i = 0; i < want.sets.size(); ++i) {
    const ExpectedSet& s = want.sets[i];
    why << CheckMessage(
        got.messages[1 + i], want.profile, "sifffff",
        {std::string("set"), std::int32_t(s.id), s.x, s.y, s.xSpeed, s.ySpeed, s.accel});
  }
  why << CheckMessage(got.messages[n - 1], want.profile, "si",
                      {std::string("fseq"), std::int32_t(want.fseq)});
  return why.str();
}

std::string Mismatch(const std::vector<OscBundle>& got, const std::vector<ExpectedBundle>& want) {
  std::ostringstream why;
  if (got.size() != want.size()) why << got.size() << " bundles, want " << want.size() << "\n";
  for (std::size_t i = 0; i < got.size() && i < want.size(); ++i) {
    const std::string m = Mismatch(got[i], want[i]);
    if (!m.empty()) why << "bundle " << i << ": " << m << " got " << Describe(got[i]) << "\n";
  }
  if (!why.str().empty())
    for (std::size_t i = 0; i < got.size(); ++i)
      why << "  " << i << ": " << Describe(got[i]) << "\n";
  return why.str();
}

CursorFrame ReadCursorFrame(const OscBundle& b) {
  CursorFrame f;
  for (const auto& m : b.messages) {
    if (m.address == "/tuio/2Dobj") f.cursors = false;
    if (m.args.empty()) continue;
    const auto* word = std::get_if<std::string>(&m.args[0]);
    if (!word) continue;
    if (*word == "alive") {
      for (std::size_t i = 1; i < m.args.size(); ++i)
        f.alive.push_back(std::get<std::int32_t>(m.args[i]));
    } else if (*word == "fseq" && m.args.size() == 2) {
      f.fseq = std::get<std::int32_t>(m.args[1]);
    } else if (*word == "set" && m.args.size() >= 4) {
      f.sets[std::get<std::int32_t>(m.args[1])] = {std::get<float>(m.args[2]),
                                                   std::get<float>(m.args[3])};
    }
  }
  return f;
}

}  // namespace testsupport
