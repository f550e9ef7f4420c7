#include "tools/framesim/Simulator.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/virtual/LinkProtocol.h"

namespace framesim {

std::vector<std::string> SplitWords(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  for (char ch : line) {
    if (ch == '#' && word.empty()) break;  // paths hold '#' inside a word
    if (ch == ' ' || ch == '\t' || ch == '\r') {
      if (!word.empty()) words.push_back(word), word.clear();
    } else {
      word.push_back(ch);
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

namespace {

bool ParseUnsigned(const std::string& text, unsigned long max, unsigned long& out) {
  if (text.empty() || text.size() > 12) return false;
  char* end = nullptr;
  out = std::strtoul(text.c_str(), &end, 0);
  return end && *end == 0 && text[0] != '-' && out <= max;
}

bool ParseFraction(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  out = std::strtod(text.c_str(), &end);
  return end && *end == 0 && std::isfinite(out) && out >= 0.0 && out <= 1.0;
}

// "x,y" in screen fractions.
bool ParsePoint(const std::string& text, double& x, double& y) {
  auto comma = text.find(',');
  return comma != std::string::npos && ParseFraction(text.substr(0, comma), x) &&
         ParseFraction(text.substr(comma + 1), y);
}

std::string Hex(const std::uint8_t* bytes, std::size_t n) {
  std::string s;
  vlink::AppendHex(s, bytes, n);
  return s;
}

// Commands of the control language and their word counts (command included).
struct CommandShape {
  const char* name;
  int minWords, maxWords;
};
const CommandShape kShapes[] = {
    {"add", 2, 40}, {"plug", 2, 2},   {"unplug", 2, 2}, {"inject", 4, 4},  {"gesture", 4, 20},
    {"tap", 3, 3},  {"touch", 3, 20}, {"set", 3, 20},   {"state", 2, 2},   {"record", 1, 2},
    {"list", 1, 1}, {"models", 1, 1}, {"wait", 2, 2},   {"pending", 1, 1}, {"quit", 1, 1},
    {"enum", 1, 1}, {"open", 4, 4},   {"watch", 1, 1},  {"fault", 3, 5},   {"hold", 3, 3},
    {"release", 2, 2},
};

const CommandShape* Shape(const std::string& name) {
  for (const CommandShape& s : kShapes)
    if (name == s.name) return &s;
  return nullptr;
}

std::string CheckShape(const std::vector<std::string>& words) {
  const CommandShape* s = Shape(words[0]);
  if (!s) return "unknown command: " + words[0];
  int n = static_cast<int>(words.size());
  if (n < s->minWords || n > s->maxWords) return "wrong number of arguments for " + words[0];
  return "";
}

}  // namespace

Simulator::Simulator() = default;

int Simulator::AddClient(Send send, Close close) {
  auto c = std::make_unique<Client>();
  c->id = nextId_++;
  c->send = std::move(send);
  c->close = std::move(close);
  clients_.push_back(std::move(c));
  return clients_.back()->id;
}

void Simulator::RemoveClient(int id) {
  clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                [id](const std::unique_ptr<Client>& c) { return c->id == id; }),
                 clients_.end());
}

Simulator::Client* Simulator::ClientById(int id) {
  for (auto& c : clients_)
    if (c->id == id) return c.get();
  return nullptr;
}

Frame* Simulator::FrameNamed(const std::string& name) {
  int i = IndexOfFrame(name);
  return i < 0 ? nullptr : frames_[i].frame.get();
}

int Simulator::IndexOfFrame(const std::string& name) const {
  for (std::size_t i = 0; i < frames_.size(); ++i)
    if (frames_[i].frame->Name() == name) return static_cast<int>(i);
  return -1;
}

int Simulator::IndexOfInterface(const std::string& path, int& collection) const {
  for (std::size_t i = 0; i < frames_.size(); ++i) {
    if (!frames_[i].plugged) continue;
    for (const Collection& c : CollectionsOf(frames_[i].frame->Model())) {
      // Windows compares interface paths without regard to case.
      const std::string p = frames_[i].frame->Path(c.number);
      if (p.size() == path.size() &&
          std::equal(p.begin(), p.end(), path.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) ==
                   std::tolower(static_cast<unsigned char>(b));
          })) {
        collection = c.number;
        return static_cast<int>(i);
      }
    }
  }
  return -1;
}

void Simulator::OnLine(int id, const std::string& line) {
  Client* c = ClientById(id);
  if (!c || c->dead) return;
  if (c->waiting) {
    c->queued.push_back(line);
    return;
  }
  Run(*c, line);
}

void Simulator::Run(Client& c, const std::string& line) {
  ++c.lineNo;
  int lineNo = c.lineNo;
  if (c.scenario && !c.scenarioLines.empty()) {
    lineNo = c.scenarioLines.front();
    c.scenarioLines.erase(c.scenarioLines.begin());
  }
  std::vector<std::string> words = SplitWords(line);
  if (words.empty()) return;
  std::string reply = HandleCommand(c, words);
  if (reply.empty()) return;  // answered already, or answered when a wait ends
  if (reply.compare(0, 3, "err") == 0) {
    reply = "err line " + std::to_string(lineNo) + ": " + reply.substr(4);
    if (c.scenario) {
      reply = "scenario " + c.scenarioFile + " line " + std::to_string(lineNo) + ": " +
              reply.substr(reply.find(": ") + 2);
      scenarioFailed_ = true;  // a broken scenario ends the simulator
      quit_ = true;
      c.queued.clear();
    }
  }
  c.send(reply);
}

std::string Simulator::HandleCommand(Client& c, const std::vector<std::string>& words) {
  const std::string& cmd = words[0];
  if (c.kind == Kind::kHandle) {
    bool handled = false;
    std::string reply = Link(c, words, handled);
    if (handled) return reply;
    return "err not a command on a device handle: " + cmd;
  }
  if (c.kind == Kind::kWatcher) return "err a watching connection takes no commands";
  std::string shape = CheckShape(words);
  if (!shape.empty()) return "err " + shape;
  if (cmd == "enum" || cmd == "open" || cmd == "watch") {
    bool handled = false;
    return Link(c, words, handled);
  }
  return Control(c, words);
}

std::string Simulator::Link(Client& c, const std::vector<std::string>& words, bool& handled) {
  handled = true;
  const std::string& cmd = words[0];
  if (c.kind == Kind::kHandle) {
    if (words.size() != 2 || (cmd != "w" && cmd != "gf" && cmd != "sf")) {
      handled = false;
      return "";
    }
    std::uint8_t bytes[64] = {};
    long n = vlink::ParseHex(words[1].data(), words[1].size(), bytes, sizeof bytes);
    Frame& f = *frames_[c.frame].frame;
    if (n <= 0) return cmd == "w" ? "wd 0" : cmd + " 0";
    if (cmd == "w") {
      if (!(c.access & 2)) return "wd 0";
      if (frames_[c.frame].writeErrors > 0) {  // the write fails on the way
        --frames_[c.frame].writeErrors;
        return "wd 0";
      }
      record_.push_back({now_, f.Path(c.collection), "w", {bytes, bytes + n}});
      std::vector<Emission> out;
      f.OnOutputReport(c.collection, bytes, static_cast<std::size_t>(n), out);
      c.send("wd 1");
      FrameSlot& slot = frames_[c.frame];
      if (n >= 2 && bytes[1] == slot.holdCode)
        slot.held.insert(slot.held.end(), out.begin(), out.end());
      else
        Schedule(c.frame, out);
      return "";
    }
    if (cmd == "sf") {
      record_.push_back({now_, f.Path(c.collection), "sf", {bytes, bytes + n}});
      return f.SetFeature(c.collection, bytes, static_cast<std::size_t>(n)) ? "sf 1" : "sf 0";
    }
    if (!f.GetFeature(c.collection, bytes, static_cast<std::size_t>(n))) return "gf 0";
    return "gf 1 " + Hex(bytes, static_cast<std::size_t>(n));
  }

  if (cmd == "enum") {
    for (const FrameSlot& s : frames_) {
      if (!s.plugged) continue;
      const FrameModel& m = s.frame->Model();
      char ids[32];
      std::snprintf(ids, sizeof ids, " %04x %04x %04x", m.vendorId, m.productId, m.versionNumber);
      for (const Collection& col : CollectionsOf(m))
        c.send("iface " + s.frame->Path(col.number) + ids);
    }
    return "ok";
  }
  if (cmd == "watch") {
    c.kind = Kind::kWatcher;
    return "ok";
  }
  // open PATH r|w|rw shared|excl
  const std::string& acc = words[2];
  unsigned access = acc == "r" ? 1 : acc == "w" ? 2 : acc == "rw" ? 3 : 0;
  if (!access) return "err access must be r, w or rw: " + acc;
  if (words[3] != "shared" && words[3] != "excl") return "err sharing must be shared or excl";
  bool exclusive = words[3] == "excl";
  int collection = -1;
  int fi = IndexOfInterface(words[1], collection);
  if (fi < 0) return "err no such interface";
  for (const auto& other : clients_) {
    if (other->kind == Kind::kHandle && !other->dead && other->frame == fi &&
        other->collection == collection && (other->exclusive || exclusive))
      return "err sharing violation";
  }
  c.kind = Kind::kHandle;
  c.frame = fi;
  c.collection = collection;
  c.access = access;
  c.exclusive = exclusive;
  for (const Collection& col : CollectionsOf(frames_[fi].frame->Model())) {
    if (col.number == collection)
      return "ok " + std::to_string(col.inputLength) + " " + std::to_string(col.outputLength) +
             " " + std::to_string(col.featureLength);
  }
  return "ok 64 64 0";
}

std::string Simulator::Control(Client& c, const std::vector<std::string>& words) {
  const std::string& cmd = words[0];
  if (cmd == "models") {
    for (const FrameModel& m : Catalogue()) {
      char line[200];
      std::snprintf(line, sizeof line, "model %s %04x %04x %04x layout=%s %s", m.name.c_str(),
                    m.vendorId, m.productId, m.versionNumber, LayoutName(LayoutOf(m)),
                    m.summary.c_str());
      c.send(line);
    }
    return "ok";
  }
  if (cmd == "list") {
    for (const FrameSlot& s : frames_) {
      c.send("frame " + s.frame->Name() + " " + s.frame->Model().name +
             (s.plugged ? " plugged" : " unplugged"));
      for (const Collection& col : CollectionsOf(s.frame->Model()))
        c.send("iface " + s.frame->Path(col.number));
    }
    return "ok";
  }
  if (cmd == "quit") {
    quit_ = true;
    return "ok";
  }
  if (cmd == "pending") return "ok " + std::to_string(events_.size());
  if (cmd == "wait") {
    unsigned long ms = 0;
    if (!ParseUnsigned(words[1], 3600000, ms)) return "err bad time: " + words[1];
    c.waiting = true;
    c.resumeAt = now_ + ms;
    return "";
  }
  if (cmd == "record") {
    if (words.size() == 2) {
      if (words[1] != "clear") return "err record takes nothing or clear";
      record_.clear();
      return "ok";
    }
    for (const RecordEntry& e : record_)
      c.send("rec " + std::to_string(e.timeMs) + " " + e.path + " " + e.kind + " " +
             Hex(e.bytes.data(), e.bytes.size()));
    return "ok " + std::to_string(record_.size());
  }
  if (cmd == "add") {
    const FrameModel* base = FindModel(words[1]);
    if (!base) return "err unknown model: " + words[1];
    FrameModel m = *base;
    std::string name = m.name;
    for (std::size_t i = 2; i < words.size(); ++i) {
      auto eq = words[i].find('=');
      if (eq == std::string::npos) {
        if (i != 2) return "err expected key=value: " + words[i];
        name = words[i];
        continue;
      }
      std::string error;
      if (!ApplySetting(m, words[i].substr(0, eq), words[i].substr(eq + 1), error))
        return "err " + error;
    }
    if (IndexOfFrame(name) >= 0) return "err a frame named " + name + " exists";
    frames_.push_back({std::make_unique<Frame>(m, name), true});
    Notify("arrival", static_cast<int>(frames_.size()) - 1);
    return "ok " + name;
  }

  int fi = IndexOfFrame(words[1]);
  if (fi < 0) return "err no frame named " + words[1];
  Frame& f = *frames_[fi].frame;
  if (cmd == "plug") {
    if (frames_[fi].plugged) return "ok";
    frames_[fi].plugged = true;
    frames_[fi].wakeAt = 0;
    f.PowerUp();
    Notify("arrival", fi);
    return "ok";
  }
  if (cmd == "unplug") {
    if (frames_[fi].plugged) Unplug(fi);
    return "ok";
  }
  if (cmd == "state")
    return "ok " + f.DescribeState() + " reports=" + std::to_string(frames_[fi].reportsSent);
  if (cmd == "set") {
    FrameModel m = f.Model();
    for (std::size_t i = 2; i < words.size(); ++i) {
      auto eq = words[i].find('=');
      if (eq == std::string::npos) return "err expected key=value: " + words[i];
      std::string key = words[i].substr(0, eq), error;
      if (key == "vid" || key == "pid" || key == "version" || key == "layout")
        return "err " + key + " is fixed once a frame exists";
      if (!ApplySetting(m, key, words[i].substr(eq + 1), error)) return "err " + error;
    }
    // The new model takes effect; the frame's live state stays.
    f.SetModel(m);
    return "ok";
  }
  if (cmd == "hold") {
    std::uint8_t code = 0;
    if (words[2].size() != 2 || vlink::ParseHex(words[2].data(), 2, &code, 1) != 1)
      return "err bad command code (two hex digits): " + words[2];
    frames_[fi].holdCode = code;
    return "ok";
  }
  if (cmd == "release") {
    FrameSlot& slot = frames_[fi];
    std::vector<Emission> held;
    held.swap(slot.held);
    slot.holdCode = -1;
    Schedule(fi, held);
    return "ok " + std::to_string(held.size());
  }
  if (!frames_[fi].plugged) return "err frame " + words[1] + " is unplugged";
  if (cmd == "fault") return Fault(fi, words);
  if (cmd == "inject") {
    unsigned long col = 0;
    if (!ParseUnsigned(words[2], 5, col)) return "err bad collection: " + words[2];
    bool known = false;
    for (const Collection& x : CollectionsOf(f.Model())) known |= x.number == int(col);
    if (!known) return "err frame " + words[1] + " has no collection " + words[2];
    Emission e{static_cast<int>(col), {}, 0};
    long n = vlink::ParseHex(words[3].data(), words[3].size(), e.report.data(), 64);
    if (n <= 0) return "err bad report (1 to 64 bytes of hex): " + words[3];
    Schedule(fi, {e});
    return "ok";
  }
  if (cmd == "gesture" || cmd == "tap") return Gesture(fi, words);
  if (cmd == "touch") return Touch(fi, words);
  return "err unknown command: " + cmd;
}

// gesture NAME MS FINGER... [step=MS] [at=MS], FINGER = x0,y0>x1,y1 or x,y;
// tap NAME x,y. Fingers go down together, move in a straight line for MS and
// lift one step later.
std::string Simulator::Gesture(int fi, const std::vector<std::string>& words) {
  Frame& f = *frames_[fi].frame;
  unsigned long duration = 0, step = 10, at = 0;
  std::vector<std::string> fingers;
  if (words[0] == "tap") {
    fingers.push_back(words[2]);
  } else {
    if (!ParseUnsigned(words[2], 600000, duration)) return "err bad duration: " + words[2];
    for (std::size_t i = 3; i < words.size(); ++i) {
      const std::string& w = words[i];
      if (w.compare(0, 5, "step=") == 0) {
        if (!ParseUnsigned(w.substr(5), 10000, step) || step == 0) return "err bad step: " + w;
      } else if (w.compare(0, 3, "at=") == 0) {
        if (!ParseUnsigned(w.substr(3), 600000, at)) return "err bad start: " + w;
      } else {
        fingers.push_back(w);
      }
    }
  }
  struct Path {
    double x0, y0, x1, y1;
  };
  std::vector<Path> paths;
  for (const std::string& w : fingers) {
    Path p{};
    auto arrow = w.find('>');
    bool ok = arrow == std::string::npos ? ParsePoint(w, p.x0, p.y0)
                                         : ParsePoint(w.substr(0, arrow), p.x0, p.y0) &&
                                               ParsePoint(w.substr(arrow + 1), p.x1, p.y1);
    if (!ok) return "err bad finger (x,y or x0,y0>x1,y1 in 0..1): " + w;
    if (arrow == std::string::npos) p.x1 = p.x0, p.y1 = p.y0;
    paths.push_back(p);
  }
  if (paths.empty()) return "err a gesture needs a finger";
  if (static_cast<int>(paths.size()) > f.MaxContacts())
    return "err frame " + f.Name() + " carries at most " + std::to_string(f.MaxContacts()) +
           " contacts";
  auto sample = [&](std::uint64_t t, Phase phase, double frac) {
    Event e{now_ + at + t, seq_++, fi, true, {}, {}};
    for (std::size_t i = 0; i < paths.size(); ++i) {
      const Path& p = paths[i];
      e.contacts.push_back(
          {static_cast<int>(i), p.x0 + (p.x1 - p.x0) * frac, p.y0 + (p.y1 - p.y0) * frac, phase});
    }
    events_.push(std::move(e));
  };
  sample(0, Phase::kDown, 0.0);
  for (unsigned long t = step; t <= duration; t += step)
    sample(t, Phase::kMove, duration ? double(t) / double(duration) : 1.0);
  sample(duration + step, Phase::kUp, 1.0);
  return "ok";
}

// touch NAME ID:PHASE:x,y ...: one sample with the given contacts, PHASE
// down, move or up.
std::string Simulator::Touch(int fi, const std::vector<std::string>& words) {
  std::vector<Contact> contacts;
  for (std::size_t i = 2; i < words.size(); ++i) {
    const std::string& w = words[i];
    auto a = w.find(':'), b = w.find(':', a == std::string::npos ? a : a + 1);
    unsigned long id = 0;
    Contact c{};
    if (a == std::string::npos || b == std::string::npos ||
        !ParseUnsigned(w.substr(0, a), 255, id) || !ParsePoint(w.substr(b + 1), c.x, c.y))
      return "err bad contact (ID:down|move|up:x,y): " + w;
    std::string phase = w.substr(a + 1, b - a - 1);
    if (phase == "down")
      c.phase = Phase::kDown;
    else if (phase == "move")
      c.phase = Phase::kMove;
    else if (phase == "up")
      c.phase = Phase::kUp;
    else
      return "err bad phase: " + phase;
    c.id = static_cast<int>(id);
    contacts.push_back(c);
  }
  std::vector<Emission> out;
  std::string error;
  if (!frames_[fi].frame->EncodeTouch(contacts, out, error)) return "err " + error;
  Schedule(fi, out);
  return "ok";
}

// fault NAME KIND [ARG] [notify=0|1]: read-error COUNT, write-error COUNT,
// short-read COUNT, stall MS, sleep MS.
std::string Simulator::Fault(int fi, const std::vector<std::string>& words) {
  FrameSlot& slot = frames_[fi];
  const std::string& kind = words[2];
  unsigned long arg = 0;
  const bool isTime = kind == "stall" || kind == "sleep";
  if (kind != "read-error" && kind != "write-error" && kind != "short-read" && !isTime)
    return "err unknown fault: " + kind + " (read-error, write-error, short-read, stall, sleep)";
  if (words.size() < 4 || !ParseUnsigned(words[3], isTime ? 3600000 : 1000000, arg))
    return "err " + kind + (isTime ? " takes a time in ms" : " takes a count");
  bool notifyWake = true;
  if (words.size() == 5) {
    if (kind != "sleep" || (words[4] != "notify=0" && words[4] != "notify=1"))
      return "err unexpected: " + words[4];
    notifyWake = words[4] == "notify=1";
  }
  if (kind == "read-error") {
    // Each open reading handle fails its next COUNT reads.
    const std::string line = "rerr " + std::to_string(arg);
    for (auto& c : clients_)
      if (c->kind == Kind::kHandle && !c->dead && c->frame == fi && (c->access & 1)) c->send(line);
  } else if (kind == "write-error") {
    slot.writeErrors = static_cast<unsigned>(arg);
  } else if (kind == "short-read") {
    slot.shortReads = static_cast<unsigned>(arg);
  } else if (kind == "stall") {
    slot.stallUntil = now_ + arg;
  } else {
    // As the PC's sleep: the handles fail, the frame forgets its volatile
    // state, and it is back at the same path after MS.
    EndHandles(fi);
    slot.plugged = false;
    slot.frame->Sleep();
    slot.wakeAt = now_ + std::max<unsigned long>(arg, 1);
    slot.wakeNotify = notifyWake;
    if (notifyWake) Notify("removal", fi);
  }
  return "ok";
}

void Simulator::Schedule(int fi, const std::vector<Emission>& out) {
  for (const Emission& e : out) events_.push({now_ + e.delayMs, seq_++, fi, false, e, {}});
}

void Simulator::Deliver(int fi, const Emission& e) {
  FrameSlot& slot = frames_[fi];
  if (!slot.plugged || now_ < slot.stallUntil) return;  // a stalled frame's reports are lost
  std::string line = "in ";
  std::size_t length = e.report.size();
  if (slot.shortReads > 0) {
    // Half the interface's input report length arrives.
    --slot.shortReads;
    line = "ins ";
    for (const Collection& col : CollectionsOf(slot.frame->Model()))
      if (col.number == e.collection) length = static_cast<std::size_t>(col.inputLength) / 2;
    length = std::max<std::size_t>(std::min(length, e.report.size() / 2), 1);
  }
  vlink::AppendHex(line, e.report.data(), length);
  for (auto& c : clients_) {
    if (c->kind == Kind::kHandle && !c->dead && c->frame == fi && c->collection == e.collection &&
        (c->access & 1)) {
      c->send(line);
      ++frames_[fi].reportsSent;
    }
  }
}

void Simulator::Notify(const std::string& what, int fi) {
  for (const Collection& col : CollectionsOf(frames_[fi].frame->Model())) {
    const std::string line = what + " " + frames_[fi].frame->Path(col.number);
    for (auto& c : clients_)
      if (c->kind == Kind::kWatcher && !c->dead) c->send(line);
  }
}

void Simulator::EndHandles(int fi) {
  for (auto& c : clients_) {
    if (c->kind == Kind::kHandle && !c->dead && c->frame == fi) {
      c->send("gone");
      c->dead = true;
      if (c->close) c->close();
    }
  }
}

void Simulator::Unplug(int fi) {
  frames_[fi].plugged = false;
  frames_[fi].wakeAt = 0;  // an unplugged frame does not wake
  frames_[fi].held.clear();
  EndHandles(fi);
  Notify("removal", fi);
}

void Simulator::Advance(std::uint64_t nowMs) {
  if (nowMs > now_) now_ = nowMs;
  for (std::size_t i = 0; i < frames_.size(); ++i) {
    FrameSlot& slot = frames_[i];
    if (slot.wakeAt == 0 || slot.wakeAt > now_) continue;
    slot.wakeAt = 0;
    slot.plugged = true;
    if (slot.wakeNotify) Notify("arrival", static_cast<int>(i));
  }
  while (!events_.empty() && events_.top().due <= now_) {
    Event e = events_.top();
    events_.pop();
    if (!e.sample) {
      Deliver(e.frame, e.emission);
      continue;
    }
    std::vector<Emission> out;
    std::string error;
    frames_[e.frame].frame->EncodeTouch(e.contacts, out, error);  // checked when scheduled
    for (const Emission& x : out) Deliver(e.frame, x);
  }
  // Waits that have ended: the waiting client goes on with its queued lines.
  for (std::size_t i = 0; i < clients_.size(); ++i) {
    Client* c = clients_[i].get();
    while (c->waiting && !c->dead && c->resumeAt <= now_) {
      c->waiting = false;
      c->send("ok");
      while (!c->waiting && !c->queued.empty()) {
        std::string line = c->queued.front();
        c->queued.pop_front();
        Run(*c, line);
      }
    }
  }
}

long long Simulator::MsUntilNext() const {
  long long next = -1;
  if (!events_.empty())
    next = static_cast<long long>(events_.top().due - std::min(events_.top().due, now_));
  for (const FrameSlot& slot : frames_) {
    if (slot.wakeAt == 0) continue;
    long long left = static_cast<long long>(slot.wakeAt - std::min(slot.wakeAt, now_));
    if (next < 0 || left < next) next = left;
  }
  for (const auto& c : clients_) {
    if (!c->waiting || c->dead) continue;
    long long left = static_cast<long long>(c->resumeAt - std::min(c->resumeAt, now_));
    if (next < 0 || left < next) next = left;
  }
  return next;
}

bool Simulator::LoadScenario(const std::string& file, std::string& error) {
  std::ifstream in(file);
  if (!in) return error = "cannot read scenario " + file, false;
  std::vector<std::string> lines;
  std::vector<int> numbers;
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    std::vector<std::string> words = SplitWords(line);
    if (words.empty()) continue;
    std::string shape = CheckShape(words);
    if (shape.empty() && (words[0] == "enum" || words[0] == "open" || words[0] == "watch"))
      shape = words[0] + " is a link command, not for scenarios";
    if (!shape.empty()) return error = file + " line " + std::to_string(n) + ": " + shape, false;
    lines.push_back(line);
    numbers.push_back(n);
  }
  int id = AddClient(
      [](const std::string& reply) {
        if (reply.compare(0, 9, "scenario ") == 0)
          std::fprintf(stderr, "framesim: %s\n", reply.c_str());
      },
      nullptr);
  Client* c = ClientById(id);
  c->scenario = true;
  c->scenarioFile = file;
  c->scenarioLines = numbers;
  c->waiting = true;  // starts at the next advance
  c->resumeAt = now_;
  c->queued.assign(lines.begin(), lines.end());
  return true;
}

}  // namespace framesim
