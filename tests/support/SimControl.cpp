#include "tests/support/SimControl.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/virtual/LinkSocket.h"
#ifdef VANTREL_INPROCESS_SIM
#include "tools/framesim/Server.h"
#endif

namespace testsupport {

struct SimControl::Impl {
#ifdef VANTREL_INPROCESS_SIM
  framesim::Simulator sim;
  std::unique_ptr<framesim::Server> server;
  std::thread thread;
#endif
  std::unique_ptr<vlink::LinkSocket> control;
};

SimControl::SimControl() : impl_(new Impl) {
  const char* env = std::getenv("FRAMESIM_ADDR");
  if (env && *env) {
    address_ = env;
  } else {
#ifdef VANTREL_INPROCESS_SIM
    impl_->server = std::make_unique<framesim::Server>(impl_->sim);
    std::string error;
    if (!impl_->server->Listen(0, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return;
    }
    address_ = "127.0.0.1:" + std::to_string(impl_->server->Port());
    impl_->thread = std::thread([this] { impl_->server->Run(); });
#endif
  }
  connect();
}

SimControl::SimControl(const std::string& address) : impl_(new Impl), address_(address) {
  connect();
}

void SimControl::connect() {
  auto colon = address_.rfind(':');
  if (colon != std::string::npos)
    impl_->control = vlink::LinkSocket::Connect(
        address_.substr(0, colon),
        static_cast<unsigned short>(std::atoi(address_.c_str() + colon + 1)));
}

SimControl::~SimControl() {
  impl_->control.reset();
#ifdef VANTREL_INPROCESS_SIM
  if (impl_->server) {
    impl_->server->Stop();
    if (impl_->thread.joinable()) impl_->thread.join();
  }
#endif
}

bool SimControl::connected() const {
  return impl_->control != nullptr;
}

std::vector<std::string> SimControl::command(const std::string& line) {
  std::vector<std::string> lines;
  if (!impl_->control || !impl_->control->SendLine(line)) return {"err no simulator"};
  std::string reply;
  while (impl_->control->ReadLine(reply)) {
    lines.push_back(reply);
    if (reply.compare(0, 2, "ok") == 0 || reply.compare(0, 3, "err") == 0) return lines;
  }
  lines.push_back("err connection lost");
  return lines;
}

std::string SimControl::last(const std::string& line) {
  return command(line).back();
}

std::string SimControl::path(const std::string& name, int col) {
  bool inFrame = false;
  char marker[16];
  std::snprintf(marker, sizeof marker, "&col%02d#", col);
  for (const std::string& l : command("list")) {
    if (l.compare(0, 6, "frame ") == 0) inFrame = l.compare(6, name.size() + 1, name + " ") == 0;
    if (inFrame && l.compare(0, 6, "iface ") == 0 &&
        (col == 0 || l.find(marker) != std::string::npos))
      return l.substr(6);
  }
  return "";
}

}  // namespace testsupport
