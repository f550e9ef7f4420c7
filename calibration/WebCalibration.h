#pragma once
// The calibration dialog held with a browser page (GET /calibrate) over the
// page's WebSocket connection: a second view of the dialog's model. The
// conversation with the frame is CalibrationDialog's; this class only turns
// the page's messages into the dialog's actions (Calibration, Reset, Escape)
// and what the dialog shows into text messages for the page. The page draws
// and reports; everything is decided here.
//
// Pure: no thread, no socket, no clock. Its owner feeds it events in order
// on one thread and carries out what it asks through WebCalibrationPages (the
// pages' connections) and WebCalibrationFrame (the frame and the service).
//
// Messages from the page (text): "calibrate W H" (the page's pixel size, once
// it is full screen), "reset", "cancel" (Escape or leaving full screen),
// "shown N" (target N is drawn), "alive" (while calibrating, twice a second).
// To the page: JSON objects with a "type": state, calibrating, target,
// result, noResult, ended, error.
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "calibration/CalibrationDialog.h"

// The frame as the page shows it.
struct WebFrameInfo {
  bool present = false;
  bool splitChannel = false;
  bool calibratable = false;  // the main window would offer its Calibration button
  std::uint16_t version = 0;
  std::string className;  // "multi-touch", "split-channel", ...
  double since = 0;       // changes at every open and loss of the frame
};

class WebCalibrationPages {
 public:
  virtual ~WebCalibrationPages() = default;
  virtual void Send(std::uint64_t client, const std::string& text) = 0;
  // A close frame with `code` and `reason`; Closed follows.
  virtual void Close(std::uint64_t client, std::uint16_t code, const std::string& reason) = 0;
};

// The frame through the running pipeline, and the one calibration at a time.
class WebCalibrationFrame : public CalibrationFrame {
 public:
  // The calibrating flag taken for a page; false while the dialog holds it.
  virtual bool Claim() = 0;
  // As when the dialog closes: the flag cleared, then a single-channel frame
  // asked for its new calibration block.
  virtual void Release() = 0;
};

extern const char kWebCancelled[];
extern const char kWebFrameLost[];
extern const char kWebNoResult[];
extern const char kWebNoAnswer[];

class WebCalibration {
 public:
  struct Options {
    // A calibrating page that says nothing for this long is gone (it says
    // "alive" twice a second); with the 100 ms ticks, within 2 s.
    std::int64_t aliveMs = 1500;
    // A single-channel frame that does not answer the settings request.
    std::int64_t answerMs = 3000;
    // More messages than this in a second close the page.
    int messagesPerSecond = 20;
  };
  static constexpr std::uint16_t kPolicyViolation = 1008;

  WebCalibration(WebCalibrationPages& pages, WebCalibrationFrame& frame, Options options);
  WebCalibration(WebCalibrationPages& pages, WebCalibrationFrame& frame)
      : WebCalibration(pages, frame, Options{}) {}

  // A page's connection upgraded; `loopback`: its peer is on this machine.
  void Opened(std::uint64_t client, bool loopback, std::int64_t now);
  void Message(std::uint64_t client, std::string_view text, std::int64_t now);
  void Closed(std::uint64_t client, std::int64_t now);
  // A reply report of the frame while a page calibrates.
  void Reply(const std::uint8_t* report, std::int64_t now);
  // Called often (every 100 ms): the frame now, whether the calibrating flag
  // is held by anyone, the deadlines.
  void Tick(const WebFrameInfo& frame, bool flagHeld, std::int64_t now);
  // The service ends: a running calibration ends as Escape ends it.
  void Stop(std::int64_t now);

  // A page holds the calibration (the frame's replies are its).
  bool Active() const { return owner_ != 0; }
  std::uint64_t Owner() const { return owner_; }

 private:
  enum class Phase { kIdle, kSettings, kRunning, kNoResult };
  struct Client {
    bool loopback = false;
    std::int64_t windowMs = 0;
    int windowMessages = 0;
    std::string lastState;
  };
  // What the dialog showed during one of its calls.
  class View final : public CalibrationDialogView {
   public:
    void EnableControl(int id, bool enabled) override;
    std::string ControlText(int) override { return {}; }
    void SetControlText(int, const std::string&) override {}
    bool IsChecked(int) override { return false; }
    void SetChecked(int, bool) override {}
    void ShowMessage(const std::string& text, MessageIcon) override { message = text; }
    void FocusAndSelectAll(int) override {}
    void ShowTargetWindow() override { targetShown = true; }
    void HideTargetWindow() override { targetShown = false; }
    void EndDialog() override {}

    bool calibrationEnabled = false;
    bool targetShown = false;
    std::string message;
  };

  // The frame as the dialog reaches it; once the frame is lost, nothing more
  // is sent (a frame plugged in again is another one).
  struct GuardedFrame final : CalibrationFrame {
    explicit GuardedFrame(WebCalibrationFrame& f) : frame(f) {}
    bool IsOpen() const override;
    bool IsSplitChannel() const override { return frame.IsSplitChannel(); }
    std::uint8_t InputReportId() const override { return frame.InputReportId(); }
    void Send(const std::uint8_t* command) override;
    void SetCalibrationValid() override;
    WebCalibrationFrame& frame;
    bool lost = false;
  };

  std::string Refusal(std::uint64_t client) const;
  void Start(std::uint64_t client, std::string_view size, std::int64_t now);
  void Begin();
  void StartReset(std::uint64_t client);
  // Leaves the dialog as its Exit does, then the flag goes.
  void EndSession(const char* text);
  // Escape in the target window, then the session ends.
  void Escape(const char* text);
  void SendState();
  std::string StateFor(std::uint64_t client) const;
  void Refuse(std::uint64_t client, const std::string& why);
  void Error(std::uint64_t client, const std::string& text);
  void SendTarget();

  WebCalibrationPages& pages_;
  WebCalibrationFrame& frame_;
  const Options options_;
  std::map<std::uint64_t, Client> clients_;
  WebFrameInfo info_;
  bool flagHeld_ = false;  // by anyone: the dialog, unless a page owns it

  // The session: one dialog, open from a page's start to its end.
  std::uint64_t owner_ = 0;
  Phase phase_ = Phase::kIdle;
  std::int64_t lastHeardMs_ = 0;
  std::int64_t settingsAskedMs_ = 0;
  double sessionSince_ = 0;
  int width_ = 0, height_ = 0;
  int shownTarget_ = 0;          // the target the page was told to draw
  std::uint64_t lastOwner_ = 0;  // the page of the latest calibration
  unsigned named_ = 0;           // bit n: the frame named target n in it
  View view_;
  TargetState target_;
  GuardedFrame guarded_{frame_};
  CalibrationDialog dialog_{view_, guarded_, target_};
};
