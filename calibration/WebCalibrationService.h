#pragma once
// The web calibration on the pipeline's control thread: its decisions
// (WebCalibration) are made and its commands sent there, between the
// session's passes, as the dialog's commands are. The listener thread and
// the readers only queue what they have (a page's message, a frame's reply),
// wake the control thread and go back to their work.
#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "calibration/WebCalibration.h"
#include "input/PipelineState.h"
#include "input/TouchPipeline.h"

class WebCalibrationWindow;

class WebCalibrationService final : private WebCalibrationFrame,
                                    private TouchPipeline::ControlClient {
 public:
  using FrameInfo = std::function<WebFrameInfo()>;
  WebCalibrationService(TouchPipeline& pipeline, PipelineState& state, WebCalibrationPages& pages,
                        WebCalibrationWindow& window, FrameInfo frameInfo,
                        WebCalibration::Options options = {});
  // Stop().
  ~WebCalibrationService() override;
  // After the pipeline's start-up.
  void Start();
  // A running calibration ends as Escape ends it; nothing of a page reaches
  // the frame afterwards.
  void Stop();

  // The listener thread: a page's connection and its text messages.
  void Opened(std::uint64_t client, bool loopback);
  void Message(std::uint64_t client, std::string_view text);
  void Closed(std::uint64_t client);
  // A reader: false when no page calibrates (the reply is the dialog's).
  bool PostReply(const std::uint8_t* report);

 private:
  struct Event {
    enum Kind { kOpened, kMessage, kClosed, kReply } kind = kMessage;
    std::uint64_t client = 0;
    bool loopback = false;
    std::string text;
    std::array<std::uint8_t, 64> report{};
  };
  void Post(Event e);
  // The control thread: what queued up, then every 100 ms the tick.
  void OnControl(bool tick) override;

  // WebCalibrationFrame, on this object's thread.
  bool IsOpen() const override { return pipeline_.IsOpen(); }
  bool IsSplitChannel() const override;
  std::uint8_t InputReportId() const override { return pipeline_.Profile().InputReportID; }
  void Send(const std::uint8_t* command) override;
  void SetCalibrationValid() override { state_.calibrationValid = 1; }
  bool Claim() override;
  void Release() override;

  TouchPipeline& pipeline_;
  PipelineState& state_;
  WebCalibrationWindow& window_;
  const FrameInfo frameInfo_;
  WebCalibration model_;
  std::atomic<bool> active_{false};  // a page holds the calibrating flag

  std::mutex mutex_;  // guards events_, started_
  std::deque<Event> events_;
  bool started_ = false;
  std::deque<Event> batch_;  // the control thread's
};

// The main window as the pipeline sees it once pages may calibrate: while a
// page calibrates, the frame's replies go to the page and the Calibration
// button stays disabled; everything else is the main window's.
class WebCalibrationWindow final : public PipelineWindow {
 public:
  explicit WebCalibrationWindow(PipelineWindow& window) : window_(window) {}
  void SetService(WebCalibrationService* service) { service_ = service; }
  // A page calibrates (or no longer does).
  void SetPageCalibrating(bool on);

  void EnableCalibrationButton(bool on) override;
  void EnableMouseButton(bool on) override { window_.EnableMouseButton(on); }
  void HandleCalibrationReply(const std::uint8_t* report) override;
  void LayoutForDevice() override { window_.LayoutForDevice(); }

 private:
  PipelineWindow& window_;
  std::atomic<WebCalibrationService*> service_{nullptr};
  std::mutex mutex_;     // guards the two below and orders the button's calls
  bool wanted_ = false;  // what the pipeline last asked for the button
  bool pageCalibrating_ = false;
};
