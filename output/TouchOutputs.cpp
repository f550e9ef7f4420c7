#include "output/TouchOutputs.h"

#include "output/LivePage.h"

TouchOutputs::TouchOutputs(OutputEndpoints endpoints)
    : endpoints_(std::move(endpoints)), xml_(endpoints_.xmlBacklogBytes) {
  tuio_.setClock(endpoints_.clock);
  if (endpoints_.tuioTcp.enabled)
    tuioTcp_ = std::make_unique<StreamListener>(StreamListener::Kind::kTuioTcp, endpoints_.tuioTcp);
  if (endpoints_.webSocket.enabled)
    webSocket_ = std::make_unique<StreamListener>(StreamListener::Kind::kWebSocket,
                                                  endpoints_.webSocket, LivePageHtml());
  if (tuioTcp_ || webSocket_) tuio_.setStreams(this);
}

TouchOutputs::~TouchOutputs() {
  StopXmlListener();
  StopStreamListeners();
  if (outputStarted()) StopTouchOutput();
}

void TouchOutputs::StartTouchOutput() {
  std::lock_guard<std::mutex> lock(mutex_);
  tuio_.startTuioOutput(endpoints_.protocol.c_str(), endpoints_.host.c_str(), endpoints_.tuioPort);
  outputStarted_ = true;
  xml_.startCycle();
}

void TouchOutputs::StopTouchOutput() {
  std::lock_guard<std::mutex> lock(mutex_);
  xml_.stopCycle();
  tuio_.stopTuioOutput();
  outputStarted_ = false;
}

void TouchOutputs::SetDevice(OutputDevice device) {
  std::lock_guard<std::mutex> lock(mutex_);
  tuio_.setSeries01xx(device.series01xx);
  xml_.setDevice(device);
}

void TouchOutputs::StartXmlListener() {
  if (listener_) return;
  listener_ = std::make_unique<XmlListener>(xml_.link(), endpoints_.xml);
  listener_->Start();
}

void TouchOutputs::StopXmlListener() {
  if (listener_) listener_->Stop();
}

void TouchOutputs::StartStreamListeners() {
  if (tuioTcp_) tuioTcp_->Start();
  if (webSocket_) webSocket_->Start();
}

void TouchOutputs::StopStreamListeners() {
  if (tuioTcp_) tuioTcp_->Stop();
  if (webSocket_) webSocket_->Stop();
}

void TouchOutputs::OfferPacket(const char* data, std::size_t size) {
  if (tuioTcp_) tuioTcp_->OfferPacket(data, size);
  if (webSocket_) webSocket_->OfferPacket(data, size);
}

std::uint16_t TouchOutputs::XmlPort() const {
  return listener_ ? listener_->Port() : 0;
}

void TouchOutputs::updateFromFrame(const TouchFrame& frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  tuio_.updateFromFrame(frame);
}

void TouchOutputs::updateFromTable(const ContactTable& table, std::uint16_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  tuio_.updateFromTable(table, count);
}

void TouchOutputs::sendFrameDocument(const TouchFrame& frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  xml_.sendFrameDocument(frame);
}

void TouchOutputs::sendTableDocument(ContactTable& table, std::uint16_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  xml_.sendTableDocument(table, count);
}

void TouchOutputs::dispatchFrame(const TouchFrame& frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  tuio_.updateFromFrame(frame);
  xml_.sendFrameDocument(frame);
}

void TouchOutputs::dispatchTable(ContactTable& table, std::uint16_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  tuio_.updateFromTable(table, count);
  xml_.sendTableDocument(table, count);
}

std::string TouchOutputs::Document() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::string(xml_.document());
}

std::int32_t TouchOutputs::documentCounter() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return xml_.documentCounter();
}

void TouchOutputs::FillStatus(StatusSnapshot& s) {
  s.touches = tuio_.touches();
  s.touchesDown = tuio_.touchesDown();
  ListenerStatusView& udp = s.listener[kUdpListener];
  udp.enabled = endpoints_.protocol == "UDP";
  udp.packets = tuio_.datagrams();
  ListenerStatusView& xml = s.listener[kXmlListener];
  xml.enabled = true;
  xml.port = XmlPort();
  xml.clients = xml_.link().Connected() ? 1 : 0;
  xml.dropped = xml_.link().DroppedClients();
  xml.packets = xml_.documentsSent();
  const auto stream = [](const StreamListener* l, ListenerStatusView& v) {
    v.enabled = l != nullptr;
    if (!l) return;
    v.port = l->Port();
    v.clients = std::uint32_t(l->StreamingClients());
    v.dropped = l->DroppedClients();
    v.packets = l->PacketsQueued();
  };
  stream(tuioTcp_.get(), s.listener[kTcpListener]);
  stream(webSocket_.get(), s.listener[kWebSocketListener]);
}
