#pragma once
// The frame simulator's state and command language, without sockets: the
// server feeds it lines from its clients and the passing time, and it answers
// through each client's send function. See README.md in this folder for the
// commands.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <queue>
#include <string>
#include <vector>

#include "tools/framesim/Frame.h"

namespace framesim {

struct RecordEntry {
  std::uint64_t timeMs;
  std::string path;
  std::string kind;  // "w" (output report) or "sf" (set feature)
  std::vector<std::uint8_t> bytes;
};

class Simulator {
 public:
  using Send = std::function<void(const std::string& line)>;
  using Close = std::function<void()>;

  Simulator();

  // A new client connection; `close` is called when the simulator ends it
  // (its device was unplugged).
  int AddClient(Send send, Close close);
  void RemoveClient(int id);
  // One line from a client (without its line end).
  void OnLine(int id, const std::string& line);
  // Time has moved on to `nowMs`: due reports go out, waits end.
  void Advance(std::uint64_t nowMs);
  // Milliseconds until the next due event, or -1 if none is scheduled.
  long long MsUntilNext() const;

  // Reads a scenario file and runs it as a client of its own. False with
  // "FILE line N: ..." if a line is malformed; nothing runs then.
  bool LoadScenario(const std::string& file, std::string& error);
  bool ScenarioFailed() const { return scenarioFailed_; }
  bool QuitRequested() const { return quit_; }

  // For tests and the server's log.
  Frame* FrameNamed(const std::string& name);
  const std::vector<RecordEntry>& Record() const { return record_; }
  std::uint64_t Now() const { return now_; }

 private:
  struct FrameSlot {
    std::unique_ptr<Frame> frame;
    bool plugged = true;
    std::uint64_t reportsSent = 0;  // input reports handed to the host's reading handles
    // Faults in progress (the "fault" command).
    unsigned writeErrors = 0;      // writes still to refuse
    unsigned shortReads = 0;       // reports still to cut short
    std::uint64_t stallUntil = 0;  // no report goes out before then
    std::uint64_t wakeAt = 0;      // asleep until then (0: awake)
    bool wakeNotify = false;       // an arrival goes out on waking
    // "hold": the answers to this command code wait in `held` until "release".
    int holdCode = -1;
    std::vector<Emission> held;
  };
  enum class Kind { kFresh, kHandle, kWatcher };
  struct Client {
    int id = 0;
    Send send;
    Close close;
    Kind kind = Kind::kFresh;
    int frame = -1, collection = -1;
    unsigned access = 0;
    bool exclusive = false;
    int lineNo = 0;
    bool scenario = false;
    std::string scenarioFile;
    std::vector<int> scenarioLines;  // file line number of each queued line
    std::uint64_t resumeAt = 0;      // a wait in progress ends then
    bool waiting = false;
    bool dead = false;               // ended by the simulator, awaiting removal
    std::deque<std::string> queued;  // lines that arrived during a wait
  };
  struct Event {
    std::uint64_t due;
    std::uint64_t seq;
    int frame;
    bool sample;  // a gesture sample (encoded when due) or a ready report
    Emission emission;
    std::vector<Contact> contacts;
    bool operator>(const Event& o) const { return due != o.due ? due > o.due : seq > o.seq; }
  };

  Client* ClientById(int id);
  void Run(Client& c, const std::string& line);
  std::string Control(Client& c, const std::vector<std::string>& words);
  std::string Link(Client& c, const std::vector<std::string>& words, bool& handled);
  std::string HandleCommand(Client& c, const std::vector<std::string>& words);
  void Deliver(int frame, const Emission& e);
  void Schedule(int frame, const std::vector<Emission>& out);
  void Notify(const std::string& what, int frame);
  void Unplug(int frame);
  int IndexOfFrame(const std::string& name) const;
  int IndexOfInterface(const std::string& path, int& collection) const;
  std::string Gesture(int frame, const std::vector<std::string>& words);
  std::string Touch(int frame, const std::vector<std::string>& words);
  std::string Fault(int frame, const std::vector<std::string>& words);
  // Ends every open handle of the frame ("gone"), as an unplug or a sleep.
  void EndHandles(int frame);

  std::vector<FrameSlot> frames_;
  std::vector<std::unique_ptr<Client>> clients_;
  int nextId_ = 1;
  std::priority_queue<Event, std::vector<Event>, std::greater<Event>> events_;
  std::uint64_t seq_ = 0;
  std::uint64_t now_ = 0;
  std::vector<RecordEntry> record_;
  bool quit_ = false;
  bool scenarioFailed_ = false;
};

// Splits a command line into words at spaces and tabs; a word that starts
// with '#' starts a comment.
std::vector<std::string> SplitWords(const std::string& line);

}  // namespace framesim
