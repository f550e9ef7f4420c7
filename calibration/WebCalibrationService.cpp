#include "calibration/WebCalibrationService.h"

#include <chrono>
#include <cstring>

#include "calibration/CalibrationButton.h"
#include "input/DeviceProfile.h"
#include "platform/Trace.h"

namespace {

// A page that sends more than this waits for nothing: what no page needs
// is dropped before it costs a decision (the listener limits each client too).
constexpr std::size_t kMaxEvents = 1024;
constexpr int kTickMs = 100;

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

WebCalibrationService::WebCalibrationService(TouchPipeline& pipeline, PipelineState& state,
                                             WebCalibrationPages& pages,
                                             WebCalibrationWindow& window, FrameInfo frameInfo,
                                             WebCalibration::Options options)
    : pipeline_(pipeline),
      state_(state),
      window_(window),
      frameInfo_(std::move(frameInfo)),
      model_(pages, *this, options) {}

WebCalibrationService::~WebCalibrationService() {
  Stop();
}

void WebCalibrationService::Start() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (started_) return;
    started_ = true;
  }
  pipeline_.SetControlClient(this, kTickMs);
}

void WebCalibrationService::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!started_) return;
    started_ = false;
  }
  pipeline_.OnControlThread([this] {
    pipeline_.SetControlClient(nullptr, 0);
    model_.Stop(NowMs());
  });
}

void WebCalibrationService::Opened(std::uint64_t client, bool loopback) {
  Event e;
  e.kind = Event::kOpened;
  e.client = client;
  e.loopback = loopback;
  Post(std::move(e));
}

void WebCalibrationService::Message(std::uint64_t client, std::string_view text) {
  Event e;
  e.client = client;
  e.text.assign(text.substr(0, 256));  // longer is no message of ours either
  Post(std::move(e));
}

void WebCalibrationService::Closed(std::uint64_t client) {
  Event e;
  e.kind = Event::kClosed;
  e.client = client;
  Post(std::move(e));
}

bool WebCalibrationService::PostReply(const std::uint8_t* report) {
  if (!active_.load()) return false;
  Event e;
  e.kind = Event::kReply;
  std::memcpy(e.report.data(), report, e.report.size());
  Post(std::move(e));
  return true;
}

void WebCalibrationService::Post(Event e) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Opens and closes are always kept: a lost close would leave a page
    // holding the calibration.
    if (events_.size() >= kMaxEvents && (e.kind == Event::kMessage || e.kind == Event::kReply))
      return;
    events_.push_back(std::move(e));
  }
  pipeline_.WakeControlClient();
}

void WebCalibrationService::OnControl(bool tick) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    batch_.swap(events_);
  }
  for (const Event& e : batch_) {
    const std::int64_t now = NowMs();
    switch (e.kind) {
      case Event::kOpened:
        model_.Opened(e.client, e.loopback, now);
        break;
      case Event::kMessage:
        model_.Message(e.client, e.text, now);
        break;
      case Event::kClosed:
        model_.Closed(e.client, now);
        break;
      case Event::kReply:
        model_.Reply(e.report.data(), now);
        break;
    }
  }
  batch_.clear();
  if (tick) model_.Tick(frameInfo_(), state_.calibrating.load(), NowMs());
}

bool WebCalibrationService::IsSplitChannel() const {
  return ::IsSplitChannel(pipeline_.Profile().VersionNumber);
}

void WebCalibrationService::Send(const std::uint8_t* command) {
  // As the dialog sends: through the shared command buffer, then the pause.
  // Its pause on the control thread too: no other command comes between.
  pipeline_.SendDeviceCommand(
      [command](std::uint8_t* buffer) { std::memcpy(buffer + 1, command + 1, kCommandSize - 1); },
      100);
}

bool WebCalibrationService::Claim() {
  bool expected = false;
  if (!state_.calibrating.compare_exchange_strong(expected, true)) return false;
  active_ = true;
  window_.SetPageCalibrating(true);
  TRACE_INFO("calibration: a page calibrates the frame");
  return true;
}

void WebCalibrationService::Release() {
  active_ = false;
  window_.SetPageCalibrating(false);
  TRACE_INFO("calibration: the page's calibration ended");
  FinishCalibrationDialog(state_, pipeline_);
}

void WebCalibrationWindow::SetPageCalibrating(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  pageCalibrating_ = on;
  window_.EnableCalibrationButton(wanted_ && !on);
}

void WebCalibrationWindow::EnableCalibrationButton(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  wanted_ = on;
  window_.EnableCalibrationButton(on && !pageCalibrating_);
}

void WebCalibrationWindow::HandleCalibrationReply(const std::uint8_t* report) {
  WebCalibrationService* service = service_.load();
  if (service && service->PostReply(report)) return;
  window_.HandleCalibrationReply(report);
}
