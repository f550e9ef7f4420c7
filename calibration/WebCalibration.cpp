#include "calibration/WebCalibration.h"

#include <charconv>
#include <cstdio>

#include "calibration/CalibrationIds.h"
#include "calibration/TargetGeometry.h"

const char kWebCancelled[] = "The calibration was cancelled.";
const char kWebFrameLost[] = "The frame was unplugged or lost: the calibration ended.";
const char kWebNoResult[] =
    "The frame ended the calibration without a result. Press Escape to leave.";
const char kWebNoAnswer[] = "The frame did not answer: the calibration ended.";

namespace {

// A number of 1 to 5 digits, the whole of `s`.
bool ParseSize(std::string_view s, int& out) {
  if (s.empty() || s.size() > 5) return false;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && out >= 1 && out <= 65535;
}

std::string Quoted(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string Typed(const char* type, const std::string& fields = {}) {
  return std::string("{\"type\":\"") + type + "\"" + fields + "}";
}

}  // namespace

void WebCalibration::View::EnableControl(int id, bool enabled) {
  if (id == IDC_CALIBRATION) calibrationEnabled = enabled;
}

bool WebCalibration::GuardedFrame::IsOpen() const {
  return !lost && frame.IsOpen();
}

void WebCalibration::GuardedFrame::Send(const std::uint8_t* command) {
  if (!lost) frame.Send(command);
}

void WebCalibration::GuardedFrame::SetCalibrationValid() {
  if (!lost) frame.SetCalibrationValid();
}

WebCalibration::WebCalibration(WebCalibrationPages& pages, WebCalibrationFrame& frame,
                               Options options)
    : pages_(pages), frame_(frame), options_(options) {}

void WebCalibration::Opened(std::uint64_t client, bool loopback, std::int64_t now) {
  Client& c = clients_[client];
  c.loopback = loopback;
  c.windowMs = now;
  SendState();
}

void WebCalibration::Message(std::uint64_t client, std::string_view text, std::int64_t now) {
  const auto it = clients_.find(client);
  if (it == clients_.end()) return;
  Client& c = it->second;
  if (now - c.windowMs >= 1000) {
    c.windowMs = now;
    c.windowMessages = 0;
  }
  if (++c.windowMessages > options_.messagesPerSecond) return Refuse(client, "too many messages");
  if (client == owner_) lastHeardMs_ = now;

  const std::size_t blank = text.find(' ');
  const std::string_view word = text.substr(0, blank);
  const std::string_view rest = blank == std::string_view::npos ? "" : text.substr(blank + 1);
  if (text == "alive") return;  // a late one after the end is no fault
  if (word == "calibrate" && blank != std::string_view::npos) return Start(client, rest, now);
  if (text == "reset") return StartReset(client);
  if (text == "cancel") {
    if (client != owner_) return Error(client, "No calibration of this page runs.");
    return phase_ == Phase::kSettings ? EndSession(kWebCancelled) : Escape(kWebCancelled);
  }
  if (word == "shown" && blank != std::string_view::npos) {
    int n = 0;
    // The page's word comes after its drawing, so the frame may have named
    // the next target meanwhile: any target named in this calibration counts.
    // A late one after the end is no fault either.
    const bool named =
        client == lastOwner_ && ParseSize(rest, n) && n <= 4 && (named_ & (1u << n)) != 0;
    if (!named) return Refuse(client, "a target the frame did not name");
    return;
  }
  Refuse(client, "unknown message");
}

void WebCalibration::Closed(std::uint64_t client, std::int64_t) {
  if (clients_.erase(client) == 0) return;
  if (client == owner_) {
    if (phase_ == Phase::kSettings)
      EndSession(nullptr);
    else
      Escape(nullptr);
  }
  SendState();
}

// Why a page may not start: empty when it may.
std::string WebCalibration::Refusal(std::uint64_t client) const {
  if (!clients_.at(client).loopback)
    return "Calibration can only be started on this machine (a loopback address).";
  if (owner_ == client) return "A calibration of this page runs already.";
  if (owner_ != 0) return "The frame is busy: another page calibrates it.";
  if (flagHeld_) return "The frame is busy: the calibration dialog is open.";
  if (!info_.present || !frame_.IsOpen()) return "No frame is connected.";
  if (!info_.calibratable) return "This frame has no calibration.";
  return {};
}

void WebCalibration::Start(std::uint64_t client, std::string_view size, std::int64_t now) {
  const std::size_t blank = size.find(' ');
  int w = 0, h = 0;
  if (blank == std::string_view::npos || !ParseSize(size.substr(0, blank), w) ||
      !ParseSize(size.substr(blank + 1), h))
    return Refuse(client, "a calibrate message without a size");
  const std::string refusal = Refusal(client);
  if (!refusal.empty()) return Error(client, refusal);
  if (!frame_.Claim()) return Error(client, "The frame is busy: the calibration dialog is open.");
  owner_ = lastOwner_ = client;
  width_ = w;
  height_ = h;
  lastHeardMs_ = now;
  sessionSince_ = info_.since;
  shownTarget_ = 0;
  named_ = 0;
  guarded_.lost = false;
  view_ = View{};
  target_.targetIndex = 0;
  target_.calibrationRunning = 0;
  // The dialog's first show: a single-channel frame is asked for its
  // right-button settings, and Calibration waits for the answer.
  dialog_.SetUp();
  phase_ = Phase::kSettings;
  settingsAskedMs_ = now;
  if (view_.calibrationEnabled) Begin();
  SendState();
}

void WebCalibration::Begin() {
  dialog_.StartCalibration();
  phase_ = Phase::kRunning;
  pages_.Send(owner_, Typed("calibrating"));
}

void WebCalibration::StartReset(std::uint64_t client) {
  const std::string refusal = Refusal(client);
  if (!refusal.empty()) return Error(client, refusal);
  if (!info_.splitChannel) return Error(client, "Reset is for split-channel frames.");
  if (!frame_.Claim()) return Error(client, "The frame is busy: the calibration dialog is open.");
  guarded_.lost = false;
  // The dialog opened, Reset clicked, the dialog closed.
  dialog_.SetUp();
  dialog_.Reset();
  dialog_.Cancel();
  frame_.Release();
  pages_.Send(client,
              Typed("reset", ",\"text\":\"The frame was reset to its factory calibration.\""));
  SendState();
}

void WebCalibration::Reply(const std::uint8_t* report, std::int64_t) {
  if (owner_ == 0) return;
  const int before = target_.targetIndex;
  const bool wasRunning = target_.calibrationRunning == 1;
  view_.message.clear();
  dialog_.HandleCalibrationReply(report);
  if (phase_ == Phase::kSettings) {
    if (view_.calibrationEnabled) Begin();
    return;
  }
  if (!view_.message.empty()) {
    const bool success = view_.message == kCalibrationSuccessful;
    pages_.Send(owner_, Typed("result", ",\"text\":" + Quoted(view_.message) +
                                            ",\"success\":" + (success ? "true" : "false")));
    EndSession(nullptr);
    return;
  }
  if (wasRunning && target_.calibrationRunning == 0) {
    // The target window stays up; Escape takes it down.
    phase_ = Phase::kNoResult;
    pages_.Send(owner_, Typed("noResult", ",\"text\":" + Quoted(kWebNoResult)));
    return;
  }
  if (target_.targetIndex != before) SendTarget();
}

void WebCalibration::SendTarget() {
  shownTarget_ = target_.targetIndex;
  if (shownTarget_ >= 1 && shownTarget_ <= 4) named_ |= 1u << shownTarget_;
  TargetPoint at;
  if (!TargetPosition(shownTarget_, width_, height_, at)) {
    pages_.Send(owner_, Typed("target", ",\"index\":0"));
    return;
  }
  // The ring's radii in the order the target window draws them, one every
  // 150 ms, from the largest until it starts again.
  std::string rings;
  int r = NextRingRadius(0, width_);
  const int largest = r;
  for (int i = 0; i < 64; ++i) {
    rings += (rings.empty() ? "" : ",") + std::to_string(r);
    r = NextRingRadius(r, width_);
    if (r == largest) break;
  }
  pages_.Send(owner_, Typed("target", ",\"index\":" + std::to_string(shownTarget_) + ",\"x\":" +
                                          std::to_string(at.x) + ",\"y\":" + std::to_string(at.y) +
                                          ",\"cross\":" + std::to_string(CrossSize(width_)) +
                                          ",\"rings\":[" + rings + "]"));
}

void WebCalibration::Escape(const char* text) {
  dialog_.TargetEscape();
  dialog_.TargetCancelled();
  EndSession(text);
}

void WebCalibration::EndSession(const char* text) {
  const std::uint64_t owner = owner_;
  dialog_.Cancel();  // "Exit": a single-channel frame leaves calibration
  owner_ = 0;
  phase_ = Phase::kIdle;
  shownTarget_ = 0;
  frame_.Release();
  flagHeld_ = false;  // released just now; the next tick tells whether the dialog took it
  if (text && clients_.count(owner))
    pages_.Send(owner, Typed("ended", ",\"text\":" + Quoted(text)));
  SendState();
}

void WebCalibration::Tick(const WebFrameInfo& frame, bool flagHeld, std::int64_t now) {
  if (owner_ != 0 && (!frame.present || frame.since != sessionSince_)) {
    // Nothing more reaches the frame (a frame plugged in again meanwhile is
    // another one); the dialog is left as its Escape and Exit leave it.
    guarded_.lost = true;
    dialog_.TargetCancelled();
    EndSession(kWebFrameLost);
  }
  info_ = frame;
  flagHeld_ = flagHeld;
  if (owner_ != 0 && phase_ == Phase::kSettings && now - settingsAskedMs_ > options_.answerMs)
    EndSession(kWebNoAnswer);
  if (owner_ != 0 && now - lastHeardMs_ > options_.aliveMs) {
    const std::uint64_t owner = owner_;
    if (phase_ == Phase::kSettings)
      EndSession(nullptr);
    else
      Escape(nullptr);
    pages_.Close(owner, kPolicyViolation, "the page stopped answering");
  }
  SendState();
}

void WebCalibration::Stop(std::int64_t) {
  if (owner_ == 0) return;
  if (phase_ == Phase::kSettings)
    EndSession(nullptr);
  else
    Escape(nullptr);
}

std::string WebCalibration::StateFor(std::uint64_t client) const {
  const Client& c = clients_.at(client);
  const char* busy = owner_ == client ? "you" : owner_ ? "page" : flagHeld_ ? "dialog" : "none";
  char version[8];
  std::snprintf(version, sizeof version, "%04x", unsigned(info_.version));
  return Typed("state", ",\"present\":" + std::string(info_.present ? "true" : "false") +
                            ",\"class\":" + Quoted(info_.className) + ",\"version\":\"" + version +
                            "\",\"splitChannel\":" + (info_.splitChannel ? "true" : "false") +
                            ",\"calibratable\":" + (info_.calibratable ? "true" : "false") +
                            ",\"busy\":\"" + busy +
                            "\",\"local\":" + (c.loopback ? "true" : "false"));
}

void WebCalibration::SendState() {
  for (auto& [id, c] : clients_) {
    std::string s = StateFor(id);
    if (s == c.lastState) continue;
    c.lastState = s;
    pages_.Send(id, s);
  }
}

void WebCalibration::Error(std::uint64_t client, const std::string& text) {
  pages_.Send(client, Typed("error", ",\"text\":" + Quoted(text)));
}

void WebCalibration::Refuse(std::uint64_t client, const std::string& why) {
  Error(client, "Refused: " + why + ".");
  pages_.Close(client, kPolicyViolation, why);
  // Nothing more of it counts; its close, when it comes, finds it gone.
  Closed(client, 0);
}
