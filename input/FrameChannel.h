#pragma once
// The open frame's handles, its profile and the reader threads that read
// them. The control side sets the profile and opens and closes the handles;
// each reader waits for an open channel, takes a handle together with the
// profile, reads one report at a time and hands every complete report to
// the router with that profile, on its own thread.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "input/DeviceProfile.h"
#include "input/Discovery.h"
#include "input/FrameStatus.h"
#include "platform/Hid.h"

// The reader threads, F(Name): enumerator kName, "Name" in the trace.
#define READER_ROLE_LIST(F) F(SingleReader) F(ReplyReader) F(TouchReader)
#define READER_ROLE_ENUMERATOR(name) k##name,
enum ReaderRole { READER_ROLE_LIST(READER_ROLE_ENUMERATOR) kReaderCount };
#undef READER_ROLE_ENUMERATOR
// "SingleReader", "ReplyReader", "TouchReader": the threads' names in the trace.
const char* ReaderName(ReaderRole role);

// The handles of the open frame and its open flag.
struct DeviceChannel {
  std::shared_ptr<platform::HidDevice> singleRead;  // single-channel
  std::shared_ptr<platform::HidDevice> replyRead;   // split-channel "col03"
  std::shared_ptr<platform::HidDevice> touchRead;   // split-channel "col04"
  std::shared_ptr<platform::HidDevice> write;
  bool open = false;
};

// What a reader does about reads that fail while its channel stays open: it
// reads again after a pause that grows from 5 ms to 1 s, and once every read
// has failed for half a second the frame counts as gone. Pure; times are the
// tick counter's milliseconds.
class ReadRetry {
 public:
  static constexpr std::uint32_t kFirstPauseMs = 5;
  static constexpr std::uint32_t kLongestPauseMs = 1000;
  static constexpr std::uint32_t kGoneAfterMs = 500;

  struct Failure {
    std::uint32_t pauseMs;  // before the next read
    bool first;             // failures start with this one
    bool gone;              // every read failed for kGoneAfterMs (said once)
  };
  Failure OnFailure(std::uint32_t nowMs);
  // A read completed; true (with how long reads failed, and how many) when
  // it ends a run of failures.
  bool OnSuccess(std::uint32_t nowMs, std::uint32_t& failedMs, unsigned& failures);
  void Reset() { *this = ReadRetry(); }
  bool Failing() const { return failing_; }

 private:
  bool failing_ = false, goneSaid_ = false;
  std::uint32_t since_ = 0, pause_ = 0;
  unsigned failures_ = 0;
};

// What a reader saw of its frame's health.
enum class ReadFault { kFailing, kRecovered, kGone };

class ReportRouter {
 public:
  virtual ~ReportRouter() = default;
  // One complete report, on the reader thread of `role`, from a frame of
  // `profile` opened as `generation` (both came with the handle it was read
  // from).
  virtual void Route(ReaderRole role, const DeviceProfile& profile, std::uint64_t generation,
                     const std::uint8_t* report) = 0;
  // Reads of `role` started failing (`why`: the handle's error), flow again
  // after `ms` and `failures` failed reads, or have all failed for `ms` (the
  // frame counts as gone).
  virtual void OnReadFault(ReaderRole role, ReadFault fault, std::uint32_t ms, unsigned failures,
                           const std::string& why) = 0;
};

class FrameChannel {
 public:
  // `status` (may be null) learns of reads and writes that fail.
  FrameChannel(platform::HidBackend& hid, ReportRouter& router, FrameStatus* status = nullptr)
      : hid_(hid), router_(router), status_(status) {}
  ~FrameChannel() { Stop(); }
  FrameChannel(const FrameChannel&) = delete;
  FrameChannel& operator=(const FrameChannel&) = delete;

  // The profile discovery found; set while the channel is closed. It says
  // which handles the frame's class needs and comes with every handle.
  void SetProfile(const DeviceProfile& profile);
  // A copy of the profile, safe from any thread.
  DeviceProfile Profile() const;

  // Opens the handles the frame's class needs (`paths.path[index]` for
  // writing and, for a single-channel frame, reading). False when one could
  // not be opened; the others stay in place until Close.
  bool OpenHandles(const DevicePaths& paths, std::size_t index);
  // The handles are complete: the readers issue their first reads.
  void MarkOpen();
  // Closes the handles of the frame's class (a pending read fails at once).
  void Close();
  bool IsOpen() const;
  // A reader gave the open channel up (its reads all failed); false again
  // at the next open.
  bool ReadsFailed() const;

  // The write handle and the profile of the open frame, for a sender; null
  // while no frame is open.
  std::shared_ptr<platform::HidDevice> Writer(DeviceProfile& profile) const;
  // Whether `write` is still the open frame's write handle.
  bool Writes(const std::shared_ptr<platform::HidDevice>& write) const;
  // Which open this is (counts up with every MarkOpen); what a reader hands
  // over carries the one it was read under.
  std::uint64_t OpenGeneration() const;
  // The open frame's removal was notified: its commands are refused from
  // now on, and none is sent again. Cleared by the next MarkOpen.
  void MarkRemoved();
  bool Removed() const;

  void RecordFault(FrameFault fault, const std::string& detail) const {
    if (status_) status_->RecordFault(fault, detail);
  }

  // Starts the readers the frame's class needs, once each.
  void StartReaders();
  // Closes every handle and joins the readers. Safe to call twice.
  void Stop();

 private:
  void ReaderLoop(ReaderRole role);
  std::shared_ptr<platform::HidDevice> HandleFor(ReaderRole role) const;

  platform::HidBackend& hid_;
  ReportRouter& router_;
  FrameStatus* const status_;

  // Guards the channel, the profile, the open generation and the stop flag; the readers wait on
  // `changed_` for an open channel.
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  DeviceChannel channel_;
  DeviceProfile profile_;
  std::uint64_t openGeneration_ = 0;
  // openGeneration_ * 2, plus 1 while open; written under mutex_, read by
  // the readers without it, so a report costs no lock here.
  std::atomic<std::uint64_t> openWord_{0};
  std::uint64_t failedGeneration_ = 0;  // the open given up by a reader
  bool removed_ = false;
  bool stopping_ = false;
  std::array<std::uint8_t, platform::kReportSize> singleBuffer_{};  // not cleared between reads
  std::thread readers_[kReaderCount];
};
