#pragma once
// The touch outputs of one running service: the TUIO glue, the XML server
// and its listener thread, behind one lock. The reader thread hands it every
// touch record (as both sinks); the window thread starts and stops it.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "common/ServiceStatus.h"
#include "common/TouchRecords.h"
#include "output/OutputDevice.h"
#include "output/StreamListener.h"
#include "output/TuioOutput.h"
#include "output/XmlListener.h"
#include "output/XmlTouchServer.h"

// Where the outputs go. The service uses the defaults; tests pick ports.
struct OutputEndpoints {
  std::string protocol = "UDP";
  std::string host = "127.0.0.1";
  int tuioPort = 3333;
  XmlListener::Options xml;  // TCP port 3000
  // TUIO over TCP and over WebSocket (with the live page); off unless the
  // service's settings (or a test) switch them on.
  StreamListener::Options tuioTcp = DefaultTuioTcp();
  StreamListener::Options webSocket = DefaultWebSocket();
  std::size_t xmlBacklogBytes = XmlClientLink::kDefaultBacklogBytes;
  // Frame times of the TUIO output; tests and benchmarks may step time.
  TUIO::SessionTime (*clock)() = &TUIO::SessionTime::Current;

  static StreamListener::Options DefaultTuioTcp() {
    StreamListener::Options o;
    o.port = 3333;
    return o;
  }
  static StreamListener::Options DefaultWebSocket() {
    StreamListener::Options o;
    o.port = 3334;
    return o;
  }
};

class TouchOutputs : public TuioTouchSink,
                     public XmlTouchSink,
                     public TouchDispatchSink,
                     private PacketSink {
 public:
  explicit TouchOutputs(OutputEndpoints endpoints = {});
  // Stops the listener, then the output (receivers get the empty bundles).
  ~TouchOutputs() override;
  TouchOutputs(const TouchOutputs&) = delete;
  TouchOutputs& operator=(const TouchOutputs&) = delete;

  // TUIO publisher built (its empty bundles go out), outputStarted set, the
  // XML counters reset and its previous entries zeroed.
  void StartTouchOutput();
  // XML previous entries released, publisher destroyed (its empty bundles go
  // out), outputStarted cleared, the XML counters reset. Waits for a record
  // that is being handled on the reader thread, never overlaps it.
  void StopTouchOutput();
  bool outputStarted() const { return outputStarted_.load(); }

  // The opened frame's version number and Series01xx flag; set by the
  // pipeline whenever it opens a frame, before its first record.
  void SetDevice(OutputDevice device);

  // The listening thread (started once per process by the pipeline). Stop
  // closes the client connection and the listening socket and joins.
  void StartXmlListener();
  void StopXmlListener();
  // The TCP port being listened on (0 while not listening).
  std::uint16_t XmlPort() const;

  // The TUIO stream listeners that are switched on (started once per
  // process with the XML listener); stopped and joined by Stop.
  void StartStreamListeners();
  void StopStreamListeners();
  // nullptr when switched off.
  StreamListener* TuioTcp() { return tuioTcp_.get(); }
  StreamListener* WebSocket() { return webSocket_.get(); }

  // Reader thread: TUIO first, then XML, as the decoder dispatches.
  void updateFromFrame(const TouchFrame& frame) override;
  void updateFromTable(const ContactTable& table, std::uint16_t count) override;
  void sendFrameDocument(const TouchFrame& frame) override;
  void sendTableDocument(ContactTable& table, std::uint16_t count) override;
  // Both in one hold of the lock: what the pipeline's decoders call.
  void dispatchFrame(const TouchFrame& frame) override;
  void dispatchTable(ContactTable& table, std::uint16_t count) override;

  // The outputs' figures for the status answer (touches, every listener's
  // clients and packets); safe from any thread, never waits for a record.
  void FillStatus(StatusSnapshot& s);
  // What the WebSocket port answers beside the page; before the listeners start.
  void SetDocuments(ws::Documents* documents) {
    if (webSocket_) webSocket_->SetDocuments(documents);
  }
  // The calibration page and its conversation on the WebSocket port; before
  // the listeners start.
  void SetConversation(std::string_view page, PageConversation* conversation) {
    if (webSocket_) webSocket_->SetConversation(page, conversation);
  }

  // For tests and the monitor: the stored document and the XML client link.
  std::string Document() const;
  std::int32_t documentCounter() const;
  XmlClientLink& XmlLink() { return xml_.link(); }

 private:
  const OutputEndpoints endpoints_;
  mutable std::mutex mutex_;  // serialises records against start and stop
  TuioOutput tuio_;
  XmlTouchServer xml_;
  std::atomic<bool> outputStarted_{false};
  std::unique_ptr<XmlListener> listener_;  // written by the window thread only
  // Built with the outputs (their rings preallocated), so the publisher's
  // fan-out never sees them come or go; only their threads start later.
  std::unique_ptr<StreamListener> tuioTcp_;
  std::unique_ptr<StreamListener> webSocket_;

  // The publisher's packets, under mutex_, to every stream listener.
  void OfferPacket(const char* data, std::size_t size) override;
};
