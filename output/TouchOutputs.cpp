#include "output/TouchOutputs.h"

TouchOutputs::TouchOutputs(OutputEndpoints endpoints)
    : endpoints_(std::move(endpoints)), xml_(endpoints_.xmlBacklogBytes) {
  tuio_.setClock(endpoints_.clock);
}

TouchOutputs::~TouchOutputs() {
  stopXmlListener();
  if (outputStarted()) stopTouchOutput();
}

void TouchOutputs::startTouchOutput() {
  std::lock_guard<std::mutex> lock(mutex_);
  tuio_.startTuioOutput(endpoints_.protocol.c_str(), endpoints_.host.c_str(), endpoints_.tuioPort);
  outputStarted_ = true;
  xml_.startCycle();
}

void TouchOutputs::stopTouchOutput() {
  std::lock_guard<std::mutex> lock(mutex_);
  xml_.stopCycle();
  tuio_.stopTuioOutput();
  outputStarted_ = false;
}

void TouchOutputs::setDevice(OutputDevice device) {
  std::lock_guard<std::mutex> lock(mutex_);
  tuio_.setSeries01xx(device.series01xx);
  xml_.setDevice(device);
}

void TouchOutputs::startXmlListener() {
  if (listener_) return;
  listener_ = std::make_unique<XmlListener>(xml_.link(), endpoints_.xml);
  listener_->start();
}

void TouchOutputs::stopXmlListener() {
  if (listener_) listener_->stop();
}

std::uint16_t TouchOutputs::xmlPort() const {
  return listener_ ? listener_->port() : 0;
}

void TouchOutputs::updateFromFrame(const _TouchFrame& frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  tuio_.updateFromFrame(frame);
}

void TouchOutputs::updateFromTable(const ContactTable& table, std::uint16_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  tuio_.updateFromTable(table, count);
}

void TouchOutputs::sendFrameDocument(const _TouchFrame& frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  xml_.sendFrameDocument(frame);
}

void TouchOutputs::sendTableDocument(ContactTable& table, std::uint16_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  xml_.sendTableDocument(table, count);
}

std::string TouchOutputs::document() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::string(xml_.document());
}

std::int32_t TouchOutputs::documentCounter() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return xml_.documentCounter();
}
